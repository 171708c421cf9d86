#pragma once

#include "plataforma/Reloj.h"
#include "compartido/Instantanea.h"
#include "zentu/conexion/CanalEnVivo.h"
#include "zentu/conexion/Cuenta.h"
#include "zentu/escritorio/ModeloDudas.h"
#include "zentu/escritorio/Pendientes.h"
#include "zentu/isla/Atajo.h"
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/Sonidos.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QCoroTask>
#include <functional>
#include <memory>
#include <optional>

class EnMiMac;
class ModeloAjustes;
class ModeloEnlace;
class QKeyEvent;

// What the application object needs of each component it drives, kept this small so that the
// shell's logic runs over fakes in tests; the desktop's adapters (EntornoEscritorio) put the
// real components behind them. Every port is a QObject so that the shell can hold it weakly
// and release it later (a call that is hung up lives on until it reports its end).

// The sound cues.
class PuertoSonidos {
public:
    virtual ~PuertoSonidos() = default;
    virtual void tocar(Sonidos::Cual cual) = 0;
    // The waiting cue now and every 2.2 s while `mientras` holds.
    virtual void esperar(std::function<bool()> mientras) = 0;
    virtual void escribirSonidoDeAviso() = 0;
    virtual bool activos() const = 0;
    virtual void setActivos(bool activos) = 0;
};

// The island window with its pill.
class PuertoIsla : public QObject {
    Q_OBJECT
public:
    virtual void cambiarEscala(double escala) = 0;
    virtual double escala() const = 0;
    virtual void colocar() = 0;
    virtual void mostrar() = 0;      // to the front, whatever program is active
    virtual void retirar() = 0;      // off the screen
    virtual void hacerClave() = 0;   // takes the keyboard
    virtual bool enPantalla() const = 0;
    // The window's frame in Qt's global coordinates (y grows downwards).
    virtual QRectF marco() const = 0;

    std::function<bool(const QKeyEvent&)> alTeclear;
    std::function<void()> alMover;
    // The owner asked for a context menu on the island, at that point (Qt's global coordinates).
    std::function<void(QPoint)> alMenu;
};

// The pill's seven buttons, in the order the pill offers them.
struct AccionesIsla {
    std::function<void()> silenciar, terminar, verEnChat, contestar, rechazar, notaDeVoz, conversar;
    // The first file dropped on the pill (the panel's tray item takes no drops).
    std::function<void(QString)> soltarArchivo;
};

// Why a call ended, when it was not a normal hang-up.
struct ErrorLlamada {
    QString descripcion;
    bool sesionVencida = false;
};

// One realtime call.
class PuertoLlamada : public QObject {
    Q_OBJECT
public:
    std::function<void(Fase)> alCambiarFase;
    std::function<void(double)> alNivel;
    std::function<void(std::optional<ErrorLlamada>)> alTerminar;

    virtual void abrir() = 0;   // starts opening; the outcome comes through the callbacks
    virtual void colgar() = 0;  // once; later calls do nothing
    virtual void setSilenciada(bool silenciada) = 0;
};

// The chat model of the live channel.
class PuertoChat : public QObject {
    Q_OBJECT
public:
    virtual CanalEnVivo& canal() const = 0;
    virtual std::optional<QString> conAgente() const = 0;
    virtual QString borrador() const = 0;
    virtual void setBorrador(const QString& texto) = 0;
    virtual void setPendiente(const std::optional<QString>& ruta) = 0;
    // A file handed to the chat from outside: staged as `setPendiente` does, unless it cannot be
    // sent; then nothing is staged and the reason comes back.
    virtual std::optional<QString> ofrecerArchivo(const QString& ruta) {
        setPendiente(ruta);
        return std::nullopt;
    }
    virtual void setGrabandoNota(bool grabando) = 0;
    virtual bool cargado() const = 0;
    virtual void cargar() = 0;           // starts the history load
    virtual int vecesAbierto() const = 0;
    virtual void setVecesAbierto(int veces) = 0;
    // None when the file went out with the text, else the Spanish reason.
    virtual QCoro::Task<std::optional<QString>> enviarArchivo(QString ruta, QString texto) = 0;
    // One question to the conversation's agent, its whole answer back; none when it could not
    // be sent or no answer came within `tope` seconds.
    virtual QCoro::Task<std::optional<QString>> preguntarYEsperar(QString pregunta, double tope) {
        Q_UNUSED(pregunta);
        Q_UNUSED(tope);
        co_return std::nullopt;
    }

    std::function<void(Sonidos::Cual)> alSonar;
    std::function<void()> alCambiarAgente;
    // Local files that left the staged list: sent, or taken off by the owner.
    std::function<void(const QStringList& rutas)> alDejarPendientes;
};

// The voice conversation through the chat.
class PuertoConversacion : public QObject {
    Q_OBJECT
public:
    std::function<void(Fase)> alCambiarFase;
    std::function<void(double)> alNivel;
    std::function<void(std::optional<QString>)> alTerminar;

    virtual void setActiva(bool activa) = 0;
    virtual bool soloNota() const = 0;
    virtual void setSoloNota(bool soloNota) = 0;
    virtual void setVacias(int vacias) = 0;
    virtual bool grabando() const = 0;   // a recorder runs
    virtual void grabar(bool manosLibres) = 0;
    virtual void soltar() = 0;
    virtual void cancelar(bool silencioso) = 0;
    virtual void preguntar(const QString& texto) = 0;  // starts; ends through alTerminar
};

// The store of open questions and permission requests.
class PuertoPendientes : public QObject {
    Q_OBJECT
public:
    virtual QList<QJsonObject> listaDudas() const = 0;
    virtual QList<QJsonObject> permisos() const = 0;
    // What the decision card's model works through (held weakly by it).
    virtual ModeloDudas::Almacen almacen() = 0;
    // Its first load from the service has ended (the lists say what is pending).
    virtual bool cargado() const { return true; }
    // The list of questions has come from the service: until then nobody knows what is pending.
    virtual bool conocido() const { return cargado(); }

    std::function<void(int total, const QList<QJsonObject>& dudas, int permisos)> alCambiar;
    std::function<void(int total)> alCambiarTotal;
    std::function<void()> alCambiarLista;
    std::function<void()> alAbrirChat;
    std::function<void(qint64 permiso)> alAbrirPermiso;
    std::function<void(Sonidos::Cual)> alSonar;
    std::function<void(Pendientes::PedidoRespuesta)> alPedirRespuesta;
};

// The feeder of the widget snapshot.
class PuertoWidgets : public QObject {
    Q_OBJECT
public:
    virtual Instantanea foto() const = 0;
    virtual void pendientes(int total, const QList<QJsonObject>& dudas, int permisos) = 0;
    // None when the service confirmed the new state, else the Spanish reason.
    virtual QCoro::Task<std::optional<QString>> cambiarAgente(qint64 id, bool activo) = 0;
    virtual void pedirAgentes() = 0;  // starts; ends in alCambiarAgentes

    std::function<void(const std::vector<Instantanea::Agente>&)> alCambiarAgentes;
};

// The chat panel beside the island.
class PuertoPanelChat : public QObject {
    Q_OBJECT
public:
    virtual bool enPantalla() const = 0;
    virtual void mostrar() = 0;     // to the front and takes the keyboard
    virtual void retirar() = 0;
    virtual void hacerClave() = 0;
    // Beside `junto` (Qt's global coordinates).
    virtual void colocar(const QRectF& junto) = 0;
};

// A window the shell keeps for the whole run (pairing, settings).
class PuertoVentana : public QObject {
    Q_OBJECT
public:
    virtual void mostrar() = 0;   // centred, in front, with the keyboard
    virtual void cerrar() = 0;    // closed as by the owner (alCerrar runs), kept for later
    virtual void retirar() = 0;   // off the screen for a moment, not closed
    virtual bool enPantalla() const = 0;

    std::function<void()> alCerrar;         // the owner closed it
    std::function<void(bool)> alVisible;    // it came into view or left it (covered, minimised)
};

// The outcome of a screenshot for the chat.
struct CapturaDePantalla {
    std::optional<QString> ruta;  // the picture's file
    bool sinPermiso = false;      // screen capture is not allowed
    QString error;                // any other failure, as the owner reads it
};

// Everything outside the shell: the desktop, the stores and the components' constructors.
class Entorno {
public:
    virtual ~Entorno() = default;

    virtual Reloj& reloj() = 0;

    // The stored account.
    virtual std::optional<Cuenta> leerCuenta() = 0;
    virtual void guardarCuenta(const Cuenta& cuenta) = 0;
    virtual void borrarCuenta() = 0;

    virtual PuertoSonidos& sonidos() = 0;

    // The login item: none means done, else the reason; and whether it is on now.
    virtual std::optional<QString> abrirAlIniciarSesion(bool si) = 0;
    virtual bool alIniciarSesion() = 0;

    virtual std::unique_ptr<PuertoIsla> crearIsla(EstadoVoz& voz, AccionesIsla acciones) = 0;
    // The five hot keys, registered; none where the desktop has none.
    virtual std::unique_ptr<QObject> crearAtajos(std::function<void(Atajos::Cual)> pulsar,
                                                 std::function<void(Atajos::Cual)> soltar) = 0;
    // The hold-to-talk chord's handlers; it starts listening when the owner wants it.
    virtual void instalarAcorde(std::function<void()> pulsar, std::function<void()> soltar,
                                std::function<void()> cancelar) = 0;
    // System wake, screen wake and session activation.
    virtual void observarDespertar(std::function<void()> alDespertar) = 0;

    virtual std::unique_ptr<CanalEnVivo> crearCanal(const Cuenta& cuenta) = 0;
    virtual std::unique_ptr<PuertoChat> crearChat(CanalEnVivo& canal) = 0;
    virtual std::unique_ptr<PuertoConversacion> crearConversacion(PuertoChat& chat) = 0;
    virtual std::unique_ptr<PuertoLlamada> crearLlamada(const Cuenta& cuenta, std::optional<QString> agente,
                                                        std::optional<qint64> consulta) = 0;
    virtual std::unique_ptr<PuertoPendientes> crearPendientes(const Cuenta& cuenta, CanalEnVivo& canal) = 0;
    virtual std::unique_ptr<PuertoWidgets> crearWidgets(const Cuenta& cuenta, CanalEnVivo& canal) = 0;
    virtual std::unique_ptr<EnMiMac> crearEnMiMac(const Cuenta& cuenta, CanalEnVivo& canal) = 0;
    // Writes the empty, unlinked snapshot and has the widgets reload at once.
    virtual void borrarInstantanea() = 0;
    virtual std::unique_ptr<PuertoPanelChat> crearPanelChat(PuertoChat& chat, std::function<void()> cerrar) = 0;
    virtual std::unique_ptr<PuertoVentana> crearVentanaEnlace(ModeloEnlace& modelo) = 0;
    // The settings window over its model (760 × 520 at least).
    virtual std::unique_ptr<PuertoVentana> crearVentanaAjustes(ModeloAjustes& modelo) = 0;
    // Starts or stops listening for the hold-to-talk chord.
    virtual void encenderAcorde(bool si) = 0;

    // The screenshot for the chat; whether screen capture works; asking for it.
    virtual QCoro::Task<CapturaDePantalla> capturarPantalla() = 0;
    virtual QCoro::Task<bool> probarPantalla() = 0;
    virtual void pedirPermisoPantalla() = 0;

    // A report to the service that nobody waits for: 20 s, reply and errors dropped.
    virtual void avisarAlServicio(const Cuenta& cuenta, const QString& ruta, const QString& metodo,
                                  std::optional<QJsonObject> cuerpo) = 0;

    // The widget host's sizes file as a JSON text ("{}" when missing or malformed).
    virtual QString tamanosDeWidgets() = 0;

    // Ends the event loop: the process exits with status 0.
    virtual void terminarProceso() = 0;
};
