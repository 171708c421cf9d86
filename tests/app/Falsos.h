#pragma once
// Stand-ins for everything around the application object, each writing what it is asked to do
// into one shared trace, so that tests read the order of effects; time is virtual.

#include "zentu/app/App.h"

#include "plataforma/Registro.h"
#include "plataforma/TeclasGlobales.h"
#include "plataforma/Reloj.h"

#include <QStringList>
#include <memory>
#include <ostream>

// Readable texts in the tests' failure messages.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace falsos {

inline QString nombre(Sonidos::Cual c) {
    static const char* const n[] = {"aparece", "seVa",  "escucha", "piensa", "termino", "silencio",
                                    "activaMic", "error", "timbre", "enviado", "llego",  "hecho",
                                    "descartado", "captura", "recibido", "espera"};
    return QString::fromLatin1(n[static_cast<int>(c)]);
}

struct Traza {
    QStringList pasos;
    void anotar(const QString& p) { pasos << p; }
    QStringList cues() const {
        QStringList r;
        for (const QString& p : pasos)
            if (p.startsWith(QLatin1String("cue "))) r << p.mid(4);
        return r;
    }
    void olvidar() { pasos.clear(); }
};

class Sonidos : public PuertoSonidos {
public:
    explicit Sonidos(Traza& t) : t_(t) {}
    void tocar(::Sonidos::Cual c) override { t_.anotar(QStringLiteral("cue ") + nombre(c)); }
    void esperar(std::function<bool()> m) override {
        mientras = std::move(m);
        t_.anotar(QStringLiteral("cue espera"));
    }
    void escribirSonidoDeAviso() override { t_.anotar(QStringLiteral("sonido de aviso")); }
    bool activos() const override { return activos_; }
    void setActivos(bool a) override { activos_ = a; }
    std::function<bool()> mientras;

private:
    Traza& t_;
    bool activos_ = true;
};

class Isla : public PuertoIsla {
public:
    explicit Isla(Traza& t) : t_(t) {}
    void cambiarEscala(double e) override {
        escala_ = e;
        t_.anotar(QStringLiteral("isla escala %1").arg(e));
    }
    double escala() const override { return escala_; }
    void colocar() override { t_.anotar(QStringLiteral("isla colocar")); }
    void mostrar() override {
        en_ = true;
        t_.anotar(QStringLiteral("isla mostrar"));
    }
    void retirar() override {
        en_ = false;
        t_.anotar(QStringLiteral("isla retirar"));
    }
    void hacerClave() override {}
    bool enPantalla() const override { return en_; }
    QRectF marco() const override { return marco_; }
    QRectF marco_{100, 20, 448, 246.4};
    AccionesIsla acciones;

private:
    Traza& t_;
    double escala_ = 1;
    bool en_ = false;
};

class Llamada : public PuertoLlamada {
public:
    Llamada(Traza& t, std::optional<QString> agente, std::optional<qint64> consulta)
        : agente(std::move(agente)), consulta(consulta), t_(t) {}
    void abrir() override { t_.anotar(QStringLiteral("llamada abrir")); }
    void colgar() override {
        t_.anotar(QStringLiteral("llamada colgar"));
        if (colgada) return;
        colgada = true;
        if (terminaAlColgar && alTerminar) alTerminar(std::nullopt);
    }
    void setSilenciada(bool s) override { silenciada = s; }
    std::optional<QString> agente;
    std::optional<qint64> consulta;
    bool terminaAlColgar = true;
    bool colgada = false;
    bool silenciada = false;

private:
    Traza& t_;
};

class Conversacion : public PuertoConversacion {
public:
    explicit Conversacion(Traza& t) : t_(t) {}
    void setActiva(bool a) override { activa = a; }
    bool soloNota() const override { return soloNota_; }
    void setSoloNota(bool s) override { soloNota_ = s; }
    void setVacias(int v) override { vacias = v; }
    bool grabando() const override { return grabando_; }
    void grabar(bool manosLibres) override {
        grabando_ = true;
        t_.anotar(QStringLiteral("conversacion grabar ") + (manosLibres ? "manos libres" : "pulsar"));
    }
    void soltar() override {
        t_.anotar(QStringLiteral("conversacion soltar"));
        grabando_ = false;
    }
    void cancelar(bool silencioso) override {
        t_.anotar(QStringLiteral("conversacion cancelar") + (silencioso ? " silencioso" : ""));
        grabando_ = false;
        activa = false;
    }
    void preguntar(const QString& texto) override { t_.anotar(QStringLiteral("conversacion preguntar ") + texto); }
    bool activa = false;
    int vacias = -1;

private:
    Traza& t_;
    bool soloNota_ = false;
    bool grabando_ = false;
};

class Chat : public PuertoChat {
public:
    Chat(Traza& t, CanalEnVivo& c) : t_(t), canal_(&c) {}
    CanalEnVivo& canal() const override { return *canal_; }
    std::optional<QString> conAgente() const override { return agente; }
    QString borrador() const override { return borrador_; }
    void setBorrador(const QString& b) override { borrador_ = b; }
    void setPendiente(const std::optional<QString>& r) override {
        if (r) pendientes << *r;
        else pendientes.clear();
    }
    void setGrabandoNota(bool g) override { grabandoNota = g; }
    bool cargado() const override { return cargado_; }
    void cargar() override {
        t_.anotar(QStringLiteral("chat cargar"));
        cargado_ = true;
    }
    int vecesAbierto() const override { return veces; }
    void setVecesAbierto(int v) override { veces = v; }
    QCoro::Task<std::optional<QString>> enviarArchivo(QString ruta, QString texto) override {
        t_.anotar(QStringLiteral("chat enviar ") + ruta + QStringLiteral(" · ") + texto);
        co_return std::nullopt;
    }
    QCoro::Task<std::optional<QString>> preguntarYEsperar(QString pregunta, double tope) override {
        t_.anotar(QStringLiteral("chat preguntar ") + pregunta + QStringLiteral(" · %1").arg(tope));
        co_return respuesta;
    }
    std::optional<QString> respuesta;
    std::optional<QString> agente;
    QString borrador_;
    QStringList pendientes;
    bool grabandoNota = false;
    int veces = 0;

private:
    Traza& t_;
    QPointer<CanalEnVivo> canal_;
    bool cargado_ = false;
};

class PanelChat : public PuertoPanelChat {
public:
    explicit PanelChat(Traza& t) : t_(t) {}
    bool enPantalla() const override { return en_; }
    void mostrar() override {
        en_ = true;
        t_.anotar(QStringLiteral("chat mostrar"));
    }
    void retirar() override {
        en_ = false;
        t_.anotar(QStringLiteral("chat retirar"));
    }
    void hacerClave() override { t_.anotar(QStringLiteral("chat clave")); }
    void colocar(const QRectF& junto) override {
        ultimo = junto;
        t_.anotar(QStringLiteral("chat colocar"));
    }
    QRectF ultimo;

private:
    Traza& t_;
    bool en_ = false;
};

class Ventana : public PuertoVentana {
public:
    Ventana(Traza& t, QString n) : t_(t), n_(std::move(n)) {}
    void mostrar() override {
        en_ = true;
        t_.anotar(n_ + QStringLiteral(" mostrar"));
    }
    void cerrar() override {
        en_ = false;
        t_.anotar(n_ + QStringLiteral(" cerrar"));
        if (alCerrar) alCerrar();
    }
    void retirar() override {
        en_ = false;
        t_.anotar(n_ + QStringLiteral(" retirar"));
    }
    bool enPantalla() const override { return en_; }

private:
    Traza& t_;
    QString n_;
    bool en_ = false;
};

class Pendientes : public PuertoPendientes {
public:
    QList<QJsonObject> listaDudas() const override { return dudas; }
    QList<QJsonObject> permisos() const override { return permisos_; }
    ModeloDudas::Almacen almacen() override {
        ModeloDudas::Almacen a;
        QPointer<Pendientes> yo(this);
        a.listaDudas = [yo] { return yo ? yo->dudas : QList<QJsonObject>{}; };
        a.permisos = [yo] { return yo ? yo->permisos_ : QList<QJsonObject>{}; };
        return a;
    }
    bool cargado() const override { return cargado_; }
    QList<QJsonObject> dudas, permisos_;
    bool cargado_ = true;
};

class Widgets : public PuertoWidgets {
public:
    Instantanea foto() const override { return foto_; }
    void pendientes(int total, const QList<QJsonObject>&, int) override { ultimoTotal = total; }
    QCoro::Task<std::optional<QString>> cambiarAgente(qint64 id, bool activo) override {
        cambios << std::make_pair(id, activo);
        co_return errorCambio;
    }
    void pedirAgentes() override {}
    Instantanea foto_;
    std::optional<QString> errorCambio;
    QList<std::pair<qint64, bool>> cambios;
    int ultimoTotal = -1;
};

// A desktop that grants every hot key.
class Teclas : public TeclasGlobales {
public:
    // Combinations the desktop keeps for itself: asking for one gets the X server's refusal.
    std::vector<Combinacion> ocupadas;
    int registrar(quint32, quint32 tecla, quint32 mods) override {
        for (const Combinacion& c : ocupadas)
            if (c.tecla == tecla && c.modificadores == mods) return TeclasGlobales::ocupada;
        return 0;
    }
    void quitar(quint32) override {}
};

// The whole outside world of App. Components are built on demand and remembered (weakly) so
// that a test can reach the last of each kind.
class Entorno : public ::Entorno {
public:
    // Starts at the given local time (9:00 on a March morning unless told).
    explicit Entorno(QDateTime inicio = QDateTime(QDate(2026, 3, 10), QTime(9, 0), Qt::LocalTime))
        : relojV(inicio.toUTC()) {}

    Traza traza;
    RelojVirtual relojV;
    falsos::Sonidos sonidosF{traza};
    std::optional<Cuenta> guardada;
    bool inicio = false;
    std::optional<QString> falloInicio;
    bool conChat = true;
    bool canalReal = false;  // channels that really connect (to the stand-in service)
    std::function<void()> despertar;
    std::function<void(Atajos::Cual)> pulsar, soltar;
    std::function<void()> acordePulsar, acordeSoltar, acordeCancelar;
    QList<QJsonObject> avisos;  // reports sent: {cuenta, ruta, metodo, cuerpo}
    int terminado = 0;

    QPointer<Isla> isla;
    QPointer<Llamada> llamada;
    QPointer<Conversacion> conversacion;
    QPointer<Chat> chat;
    QPointer<CanalEnVivo> canal;
    QPointer<PanelChat> panelChat;
    QPointer<Pendientes> pendientes;
    QPointer<Widgets> widgets;
    QList<QPointer<Llamada>> llamadas;
    bool llamadaTerminaAlColgar = true;

    Reloj& reloj() override { return relojV; }
    std::optional<Cuenta> leerCuenta() override { return guardada; }
    void guardarCuenta(const Cuenta& c) override {
        traza.anotar(QStringLiteral("llavero guardar ") + c.url);
        guardada = c;
    }
    void borrarCuenta() override {
        traza.anotar(QStringLiteral("llavero borrar"));
        guardada.reset();
    }
    PuertoSonidos& sonidos() override { return sonidosF; }
    std::optional<QString> abrirAlIniciarSesion(bool si) override {
        traza.anotar(QStringLiteral("inicio de sesión ") + (si ? "sí" : "no"));
        if (!falloInicio) inicio = si;
        return falloInicio;
    }
    bool alIniciarSesion() override { return inicio; }
    std::unique_ptr<PuertoIsla> crearIsla(EstadoVoz&, AccionesIsla a) override {
        traza.anotar(QStringLiteral("isla"));
        auto i = std::make_unique<Isla>(traza);
        i->acciones = std::move(a);
        isla = i.get();
        return i;
    }
    std::unique_ptr<QObject> crearAtajos(std::function<void(Atajos::Cual)> p, std::function<void(Atajos::Cual)> s) override {
        traza.anotar(QStringLiteral("atajos"));
        pulsar = std::move(p);
        soltar = std::move(s);
        return std::make_unique<Atajos>(teclasDelEscritorio ? *teclasDelEscritorio : teclas);
    }
    void instalarAcorde(std::function<void()> p, std::function<void()> s, std::function<void()> c) override {
        traza.anotar(QStringLiteral("acorde"));
        acordePulsar = std::move(p);
        acordeSoltar = std::move(s);
        acordeCancelar = std::move(c);
    }
    void observarDespertar(std::function<void()> d) override {
        traza.anotar(QStringLiteral("despertar"));
        despertar = std::move(d);
    }
    std::unique_ptr<CanalEnVivo> crearCanal(const Cuenta& c) override {
        traza.anotar(QStringLiteral("canal ") + c.url);
        Cuenta usada = c;
        // Unless a test wants the real service, the channel points at a port nobody serves.
        if (!canalReal) usada.url = QStringLiteral("http://127.0.0.1:9");
        auto k = std::make_unique<CanalEnVivo>(usada, relojV);
        canal = k.get();
        return k;
    }
    std::unique_ptr<PuertoChat> crearChat(CanalEnVivo& k) override {
        if (!conChat) return nullptr;
        traza.anotar(QStringLiteral("chat"));
        auto c = std::make_unique<Chat>(traza, k);
        chat = c.get();
        return c;
    }
    std::unique_ptr<PuertoConversacion> crearConversacion(PuertoChat&) override {
        traza.anotar(QStringLiteral("conversacion"));
        auto c = std::make_unique<Conversacion>(traza);
        conversacion = c.get();
        return c;
    }
    std::unique_ptr<PuertoLlamada> crearLlamada(const Cuenta&, std::optional<QString> agente,
                                                std::optional<qint64> consulta) override {
        traza.anotar(QStringLiteral("llamada nueva"));
        auto l = std::make_unique<Llamada>(traza, agente, consulta);
        l->terminaAlColgar = llamadaTerminaAlColgar;
        llamada = l.get();
        llamadas << l.get();
        return l;
    }
    std::unique_ptr<PuertoPendientes> crearPendientes(const Cuenta&, CanalEnVivo&) override {
        traza.anotar(QStringLiteral("pendientes"));
        auto p = std::make_unique<Pendientes>();
        pendientes = p.get();
        return p;
    }
    std::unique_ptr<PuertoWidgets> crearWidgets(const Cuenta&, CanalEnVivo&) override {
        traza.anotar(QStringLiteral("widgets"));
        auto w = std::make_unique<Widgets>();
        widgets = w.get();
        return w;
    }
    std::unique_ptr<EnMiMac> crearEnMiMac(const Cuenta&, CanalEnVivo&) override {
        traza.anotar(QStringLiteral("enMiMac"));
        return nullptr;
    }
    void borrarInstantanea() override { traza.anotar(QStringLiteral("instantánea vacía")); }
    std::unique_ptr<PuertoPanelChat> crearPanelChat(PuertoChat&, std::function<void()>) override {
        traza.anotar(QStringLiteral("panel del chat"));
        auto p = std::make_unique<PanelChat>(traza);
        panelChat = p.get();
        return p;
    }
    std::unique_ptr<PuertoVentana> crearVentanaEnlace(ModeloEnlace&) override {
        return std::make_unique<Ventana>(traza, QStringLiteral("enlace"));
    }
    std::unique_ptr<PuertoVentana> crearVentanaAjustes(ModeloAjustes&) override {
        auto v = std::make_unique<Ventana>(traza, QStringLiteral("ajustes"));
        ajustes = v.get();
        return v;
    }
    void encenderAcorde(bool si) override { traza.anotar(QStringLiteral("acorde ") + (si ? "sí" : "no")); }
    QPointer<Ventana> ajustes;
    Teclas teclas;
    TeclasGlobales* teclasDelEscritorio = nullptr;  // the real desktop's, where a test runs one
    CapturaDePantalla captura;
    bool pantallaFunciona = true;
    QCoro::Task<CapturaDePantalla> capturarPantalla() override {
        traza.anotar(QStringLiteral("capturar pantalla"));
        co_return captura;
    }
    QCoro::Task<bool> probarPantalla() override { co_return pantallaFunciona; }
    void pedirPermisoPantalla() override { traza.anotar(QStringLiteral("pedir permiso de pantalla")); }
    void avisarAlServicio(const Cuenta& c, const QString& ruta, const QString& metodo,
                          std::optional<QJsonObject> cuerpo) override {
        traza.anotar(metodo + QLatin1Char(' ') + ruta);
        // With the stand-in service the report really goes out, and nobody waits for it.
        if (canalReal) [](Cuenta k, QString r, QString m, std::optional<QJsonObject> b) -> QCoro::Task<void> {
                try {
                    co_await API::pedir(std::move(k), std::move(r), std::move(m), std::move(b), 20);
                } catch (...) {
                }
            }(c, ruta, metodo, cuerpo);
        avisos << QJsonObject{{QStringLiteral("cuenta"), c.url},
                              {QStringLiteral("ruta"), ruta},
                              {QStringLiteral("metodo"), metodo},
                              {QStringLiteral("cuerpo"), cuerpo ? QJsonValue(*cuerpo) : QJsonValue()}};
    }
    QString tamanosDeWidgets() override { return QStringLiteral("{}"); }
    void terminarProceso() override {
        traza.anotar(QStringLiteral("terminar"));
        ++terminado;
    }
};

// The log lines written during one test.
class Lineas {
public:
    Lineas() {
        Registro::observar([this](const QString& l) { lineas << l; });
    }
    ~Lineas() { Registro::observar({}); }
    bool hay(const QString& l) const { return lineas.contains(l); }
    QStringList lineas;
};

inline Cuenta cuentaDePrueba(const QString& url = QStringLiteral("http://zentu.prueba")) {
    return Cuenta{url, QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"), QStringLiteral("Negocio")};
}

}  // namespace falsos
