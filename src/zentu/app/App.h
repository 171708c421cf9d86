#pragma once

#include "zentu/app/Puertas.h"
#include "zentu/app/Puertos.h"
#include "zentu/conexion/Cuenta.h"
#include "zentu/conexion/EnMiMac.h"
#include "zentu/conexion/ModeloEnlace.h"
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/TarjetasFlotantes.h"

#include <QKeyEvent>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRectF>
#include <QStringList>
#include <QCoroTask>
#include <list>
#include <memory>
#include <optional>
#include <vector>

// The application object: the single owner of every long-lived component of the tray program,
// its start-up and quitting, the interaction modes and the island, the windows beside it, the
// live channel's set of components and the calls agents place to the owner. One per process.
// Its code is split by subject: AppArranque.cpp (entry, start-up, quitting), AppModos.cpp
// (modes and island), AppVentanas.cpp (chat panel, cards, windows, captures), AppBandeja.cpp
// (tray and updater), AppEnlace.cpp (live channel, pairing, incoming calls) and AppPuertas.cpp
// (links, automation, files sent to the program).
//
// Components reach it only through callbacks that hold it weakly (QPointer) and do nothing once
// it is gone. The fields are public for reading by tests; only App writes them.
class App : public QObject {
    Q_OBJECT
public:
    enum class Modo { ninguno, llamada, conversacion };

    struct Sonando {
        QString agente;
        qint64 consulta = 0;
        Cuenta cuenta;  // the account the ring came from: the only one ever told about it
    };

    explicit App(Entorno& entorno, const QStringList& argumentos = {}, QObject* padre = nullptr);
    ~App() override;

    // Process entry: the pre-launch switches, then the normal start. Returns the exit status.
    static int main(int argc, char** argv);

    // --- Start-up, quitting (AppArranque.cpp) ---
    void arrancar();                       // the start-up sequence, once the event loop runs
    void salir();                          // the tray's "Salir", SIGTERM and SIGINT
    void abrirAlIniciarSesion(bool si);
    void abrirAlIniciarSesionPrimeraVez();
    static bool resumenDeLaManana();       // "zentu.resumenManana", true unless a stored false
    void quizasResumenDeLaManana(double espera);
    void comprobarResumen();               // the check itself, with its guards
    // Arguments that a second start handed over: switches and "zuzadari:" links.
    void recibirArgumentos(const QStringList& argumentos);

    // --- Modes and island (AppModos.cpp) ---
    void alternarLlamada();
    void empezarConversacion();
    void notaDeVoz();
    void conversarDesdeElChat();
    void terminar();
    void alternarSilencio();
    // Shows the island; `tomarTeclado` false leaves the keyboard with the window that has it.
    void mostrarIsla(bool tomarTeclado = true);
    void ocultar();
    void mostrarAviso(const QString& texto);
    void cambio(Fase fase);
    void llamadaTerminada(PuertoLlamada* cual, const std::optional<ErrorLlamada>& error);
    void conversacionTerminada(const std::optional<QString>& mensaje);
    PuertoConversacion* asegurarConversacion();
    void actualizarModoChat();
    bool tecla(const QKeyEvent& evento);
    void escalaCambiada(double escala);    // the scale handler
    void islaMovida();                     // the window-move handler
    void atajoPulsado(Atajos::Cual cual);
    void atajoSoltado(Atajos::Cual cual);
    void acordePulsado();
    void acordeSoltado();
    void acordeCancelado();
    // The chat panel's anchor for an island window frame (Qt coordinates) at scale e.
    static QRectF anclaChat(const QRectF& marcoIsla, double e);

    // --- Windows, cards and captures (AppVentanas.cpp) ---
    void alternarChat();
    void recolocarChat();
    void cerrarChat();
    // Whether the island shows with nothing going on: the delayed hides act only then.
    bool islaOciosa() const;
    // An action's hot key when it works: none when the desktop kept its combination or the
    // session hands no global keys to programs.
    std::optional<Combinacion> atajoQueFunciona(Atajos::Cual cual) const;
    // Tells the owner, in the island, which combinations the desktop kept and where to pick others.
    void avisarAtajosOcupados();
    // Whether the tray's menu is open on its own (no tray host shows the icon).
    bool menuSinBandejaAbierto() const;
    void abrirChatCon(const std::optional<QString>& texto, const std::optional<QString>& archivo);
    // `junto`: beside that rectangle (global coordinates) rather than centred or at the pointer.
    void mostrarTarjeta(QSizeF tam, bool centrada, const std::function<QWidget*(std::function<void()>)>& contenido,
                        std::optional<QRectF> junto = std::nullopt);
    // The card on screen made again by the same recipe, in the desktop's new colour scheme.
    void rehacerTarjeta();
    void mostrarDudas(std::optional<qint64> abierta, std::optional<qint64> permiso);
    // A reply to a notification typed in a small card, where the notification server has no
    // reply field of its own.
    void pedirRespuesta(Pendientes::PedidoRespuesta pedido);
    void mostrarAgentes();
    void abrirEnlace();
    ModeloEnlace& modeloEnlace();  // made on first use, bound to enlazada()
    void abrirAjustes();
    void accionRapida(const QString& nombre);  // the settings window's quick actions
    void verPantallaEnChat();
    void zonaEnChat();
    void avisarSinPantalla();
    void capturarZona();
    // Width of the decision card for the visible width of the pointer's screen (none: no screen).
    static double anchoDudas(std::optional<double> anchoVisible);

    // --- Tray and updater (AppBandeja.cpp) ---
    void crearActualizaciones();
    void montarMenu();
    void pintarContador();
    // The tray's menu where the panel shows no tray icon: at `donde` (Qt's global coordinates),
    // else at the pointer; the first time in a run the island says why.
    void menuSinBandeja(std::optional<QPoint> donde = std::nullopt);
    bool hayBandeja() const;

    // --- Live channel, pairing, incoming calls (AppEnlace.cpp) ---
    PuertoChat* asegurarChat();
    void atarAlCanal(PuertoChat& chat);
    void enlazada(const Cuenta& nueva);
    void desenlazar();
    // The service no longer takes the account's token: unpaired as the owner would, told once in
    // the island with `texto`, and the pairing window is there to scan the code again.
    void sesionVencida(const QString& texto);
    void soltarEnVivo();
    void entrante(const QJsonObject& datos);
    void dejarDeSonar();
    void contestar();
    void rechazar(const QString& motivo);

    // --- Links, automation, files (AppPuertas.cpp) ---
    void abrirEnlaces(const QStringList& enlaces, Puertas::Origen origen = Puertas::Origen::argumentos);
    void conectarAtajos(PuertoChat& chat);
    void instalarServicios();
    // Files or text sent to the program ("Enviar a Zentu AI"): into the chat's composer.
    void recibirEnvio(const QStringList& archivos, const QString& texto);
    // A file dropped on the island's pill: into the chat.
    void soltarArchivo(const QString& ruta);

    // The shortcut bridge's two doors used by "--probar-atajo" (filled by conectarAtajos).
    std::function<QCoro::Task<std::optional<QString>>(QString)> puentePreguntar;
    std::function<std::pair<int, QStringList>()> puentePendientes;

    // --- Fields, in the order of their meaning ---
    Entorno& entorno;
    Reloj& reloj;
    EstadoVoz voz;
    PuertoSonidos& sonidos;
    std::unique_ptr<PuertoIsla> panel;
    std::unique_ptr<PuertoPanelChat> panelChat;
    std::unique_ptr<QObject> atajos;
    std::unique_ptr<QObject> item;
    Modo modo = Modo::ninguno;
    std::unique_ptr<PuertoLlamada> llamada;
    std::unique_ptr<CanalEnVivo> canal;
    std::unique_ptr<PuertoChat> chat;
    std::unique_ptr<PuertoConversacion> conversacion;
    std::unique_ptr<PuertoPendientes> pendientes;
    std::unique_ptr<PuertoWidgets> widgets;
    std::unique_ptr<EnMiMac> enMiMac;
    std::unique_ptr<PanelFlotante> tarjeta;
    std::function<QWidget*(std::function<void()>)> recetaTarjeta;
    qint64 totalPendientes = 0;
    std::optional<Sonando> sonando;
    Temporizador timbreTimer;
    Temporizador timbreTope;
    // Each model comes before the window that shows it: members go in reverse order, and a window
    // still reaches its model while it is hidden on the way out.
    std::unique_ptr<QObject> modeloAjustes;
    std::unique_ptr<ModeloEnlace> enlace;  // see modeloEnlace()
    std::unique_ptr<PuertoVentana> ventanaEnlace;
    std::unique_ptr<PuertoVentana> ventanaAjustes;
    std::optional<Cuenta> cuenta;
    QMetaObject::Connection observadorEscala;
    bool observadorAgente = false;
    std::unique_ptr<QObject> actualizaciones;

    const QStringList argumentos;
    // Files this run wrote for the chat (zone captures); gone at unpairing and when the
    // program ends, and those of a run that is gone at the next start.
    QString carpetaTemporal() const;
    void limpiarCapturasViejas();

signals:
    // A call started here is connected (true), or it ended before that, with the reason when it failed.
    void llamadaDecidida(bool conectada, QString motivo);

private:
    // Runs `accion` on the main loop `segundos` later, holding App weakly.
    void despues(double segundos, std::function<void()> accion);
    std::optional<QString> valor(const QString& interruptor) const;
    bool tiene(const QString& interruptor) const;
    void sinLlamada(PuertoLlamada* cual);   // keeps a hung-up call alive until it reports its end
    void liberarLlamada(PuertoLlamada* cual);
    void sonarTimbre();
    void informarSinContestar(const Cuenta& cuenta, qint64 consulta, const QString& motivo);
    void preguntarEnVoz(const QString& texto);  // the morning summary's opening and question
    void probarAtajo(QString texto);
    QCoro::Task<void> probarAtajoTarea(QString texto);
    QCoro::Task<void> probarEnvio(QString ruta);
    template <typename T> void soltar(std::unique_ptr<T>& p);

    std::list<Temporizador> diferidos_;
    std::vector<std::unique_ptr<PuertoLlamada>> colgando_;
    Temporizador devolverMemoria_;  // once a call's object and its audio threads are gone
    bool saliendo_ = false;
    bool respondido_ = false;
    bool vencidaDicha_ = false;      // the expired session was told; cleared by a new pairing
    bool sinBandejaDicho_ = false;   // the missing tray icon was explained this run
    bool menuSinBandejaAtado_ = false;
    quint64 avisosDados_ = 0;        // notices shown so far; a notice's timer clears only its own
    // A question a link asked for before the pending store's first load: shown once it lands.
    std::optional<qint64> dudaPorAbrir_;
};
