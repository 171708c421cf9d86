#include "zentu/app/EntornoEscritorio.h"

#include "compartido/Instantanea.h"
#include "plataforma/Despertar.h"
#include "plataforma/InicioSesion.h"
#include "plataforma/EsquemaColor.h"
#include "zentu/ajustes/VistaAjustes.h"
#include "zentu/chat/ChatZentu.h"
#include "zentu/chat/PanelChat.h"
#include "zentu/chat/VistaChat.h"
#include "zentu/voz/Conversacion.h"
#include "zentu/escritorio/AlimentaWidgets.h"
#include "zentu/escritorio/Pendientes.h"
#include "zentu/voz/Llamada.h"
#include "zentu/voz/Pantalla.h"
#include "plataforma/Registro.h"
#include "zentu/conexion/EnMiMac.h"
#include "zentu/conexion/ModeloEnlace.h"
#include "zentu/isla/Permisos.h"
#include "zentu/isla/Pildora.h"
#include "zentu/isla/Sonidos.h"
#include "zentu/isla/Ventana.h"
#include "zentu/isla/VistaEnlace.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

namespace {

class SonidosReales : public PuertoSonidos {
public:
    void tocar(Sonidos::Cual cual) override { s_.tocar(cual); }
    void esperar(std::function<bool()> mientras) override { s_.esperar(std::move(mientras)); }
    void escribirSonidoDeAviso() override { s_.escribirSonidoDeAviso(); }
    bool activos() const override { return s_.activos(); }
    void setActivos(bool a) override { s_.setActivos(a); }

private:
    Sonidos s_;
};

// The island window around the pill, and its moves reported to the shell.
class IslaReal : public PuertoIsla {
public:
    IslaReal(EstadoVoz& voz, AccionesIsla a) {
        auto* pildora = new Pildora(voz);
        pildora->alSilenciar = a.silenciar;
        pildora->alTerminar = a.terminar;
        pildora->alVerEnChat = a.verEnChat;
        pildora->alContestar = a.contestar;
        pildora->alRechazar = a.rechazar;
        pildora->alNotaDeVoz = a.notaDeVoz;
        pildora->alConversar = a.conversar;
        pildora->alSoltarArchivo = a.soltarArchivo;
        ventana_ = std::make_unique<PanelIsla>(new RaizIsla(voz, pildora));
        ventana_->alTeclear = [this](QKeyEvent* e) { return alTeclear ? alTeclear(*e) : false; };
        ventana_->installEventFilter(this);
        // A right click anywhere on the island that its parts leave unused reaches the window.
        ventana_->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(ventana_.get(), &QWidget::customContextMenuRequested, this, [this](const QPoint& donde) {
            if (alMenu) alMenu(ventana_->mapToGlobal(donde));
        });
    }
    void cambiarEscala(double e) override { ventana_->cambiarEscala(e); }
    double escala() const override { return ventana_->escala(); }
    void colocar() override { ventana_->colocar(); }
    void mostrar() override {
        ventana_->show();
        ventana_->raise();
    }
    void retirar() override { ventana_->hide(); }
    void hacerClave() override { ventana_->activateWindow(); }
    bool enPantalla() const override { return ventana_->isVisible(); }
    QRectF marco() const override { return QRectF(ventana_->marco()); }

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override {
        if (objeto == ventana_.get() && evento->type() == QEvent::Move && alMover) alMover();
        return false;
    }

private:
    std::unique_ptr<PanelIsla> ventana_;
};

// A top-level window that tells its owner when it is closed, and when it comes into view or
// leaves it.
class Marco : public QWidget {
public:
    std::function<void()> alCerrar;
    std::function<void(bool)> alVisible;

protected:
    void closeEvent(QCloseEvent* e) override {
        QWidget::closeEvent(e);
        if (alCerrar) alCerrar();
    }
    void changeEvent(QEvent* e) override {
        QWidget::changeEvent(e);
        if (e->type() == QEvent::WindowStateChange && alVisible) alVisible(!isMinimized() && isVisible());
    }
    void showEvent(QShowEvent* e) override {
        QWidget::showEvent(e);
        if (alVisible) alVisible(true);
    }
    void hideEvent(QHideEvent* e) override {
        QWidget::hideEvent(e);
        if (alVisible) alVisible(false);
    }
};

// Centred on the pointer's screen, in front, with the keyboard.
void presentar(QWidget& w) {
    QScreen* s = QGuiApplication::screenAt(QCursor::pos());
    if (!s) s = QGuiApplication::primaryScreen();
    if (s) {
        QRect r = w.frameGeometry();
        r.moveCenter(s->availableGeometry().center());
        w.move(r.topLeft());
    }
    w.show();
    w.raise();
    w.activateWindow();
}

class VentanaAjustes : public PuertoVentana {
public:
    explicit VentanaAjustes(QWidget* contenido) {
        ventana_ = std::make_unique<Marco>();
        auto* capa = new QVBoxLayout(ventana_.get());
        capa->setContentsMargins(0, 0, 0, 0);
        capa->addWidget(contenido);
        ventana_->setWindowTitle(QStringLiteral("Zentu AI"));
        ventana_->setMinimumSize(760, 520);
        ventana_->resize(760, 520);
        ventana_->alCerrar = [this] {
            if (alCerrar) alCerrar();
        };
        ventana_->alVisible = [this](bool v) {
            if (alVisible) alVisible(v);
        };
    }
    // Hidden while it is still whole: the view stops its model and redraws on hiding, which a
    // window already on its way out cannot take.
    ~VentanaAjustes() override { ventana_->hide(); }
    void mostrar() override {
        presentar(*ventana_);
    }
    void cerrar() override { ventana_->close(); }
    void retirar() override { ventana_->hide(); }
    bool enPantalla() const override { return ventana_->isVisible(); }

private:
    std::unique_ptr<Marco> ventana_;
};

class VentanaEnlace : public PuertoVentana {
public:
    explicit VentanaEnlace(ModeloEnlace& modelo) {
        ventana_ = std::make_unique<QWidget>();
        ventana_->setWindowTitle(QStringLiteral("Zentu AI"));
        auto* capa = new QVBoxLayout(ventana_.get());
        capa->setContentsMargins(0, 0, 0, 0);
        capa->addWidget(new VistaEnlace(modelo));
        capa->setSizeConstraint(QLayout::SetFixedSize);
    }
    // Hidden while it is still whole, so that the camera goes off through the model as usual.
    ~VentanaEnlace() override { ventana_->hide(); }
    void mostrar() override {
        ventana_->adjustSize();
        presentar(*ventana_);
    }
    void cerrar() override { ventana_->close(); }
    void retirar() override { ventana_->hide(); }
    bool enPantalla() const override { return ventana_->isVisible(); }

private:
    std::unique_ptr<QWidget> ventana_;
};

class LlamadaReal : public PuertoLlamada {
public:
    LlamadaReal(const Cuenta& cuenta, std::optional<QString> agente, std::optional<qint64> consulta)
        : l_(std::make_unique<Llamada>(cuenta, std::move(agente), consulta)) {
        l_->alCambiarFase = [this](Fase f) {
            if (alCambiarFase) alCambiarFase(f);
        };
        l_->alNivel = [this](double n) {
            if (alNivel) alNivel(n);
        };
        l_->alTerminar = [this](std::shared_ptr<const FalloZentu> fallo) {
            std::optional<ErrorLlamada> error;
            if (fallo) {
                const auto* z = dynamic_cast<const ErrorZentu*>(fallo.get());
                error = ErrorLlamada{fallo->descripcion(), z && z->caso() == ErrorZentu::Caso::sesionVencida};
            }
            if (alTerminar) alTerminar(error);
        };
        l_->capturarPantalla = [] { return Pantalla::capturar(); };
    }
    void abrir() override { l_->abrir(); }
    void colgar() override { l_->colgar(); }
    void setSilenciada(bool s) override { l_->setSilenciada(s); }

private:
    std::unique_ptr<Llamada> l_;
};

class ChatReal : public PuertoChat {
public:
    explicit ChatReal(CanalEnVivo& canal) : c_(std::make_unique<ChatZentu>(canal)) {
        c_->alSonar = [this](Sonidos::Cual cual) {
            if (alSonar) alSonar(cual);
        };
        QObject::connect(c_.get(), &ChatZentu::conAgenteCambio, this, [this] {
            if (alCambiarAgente) alCambiarAgente();
        });
        QObject::connect(c_.get(), &ChatZentu::pendientesCambio, this, [this] {
            // A file leaves the list only once its send has read it, or when the owner drops it.
            QStringList dejados;
            for (const QUrl& u : pendientesAntes_)
                if (!c_->pendientes().contains(u) && u.isLocalFile()) dejados << u.toLocalFile();
            pendientesAntes_ = c_->pendientes();
            if (!dejados.isEmpty() && alDejarPendientes) alDejarPendientes(dejados);
        });
    }
    ChatZentu& modelo() const { return *c_; }
    CanalEnVivo& canal() const override { return c_->canal(); }
    std::optional<QString> conAgente() const override { return c_->conAgente(); }
    QString borrador() const override { return c_->borrador(); }
    void setBorrador(const QString& t) override { c_->setBorrador(t); }
    void setPendiente(const std::optional<QString>& ruta) override {
        c_->setPendiente(ruta ? std::optional<QUrl>(QUrl::fromLocalFile(*ruta)) : std::nullopt);
    }
    std::optional<QString> ofrecerArchivo(const QString& ruta) override {
        const QUrl url = QUrl::fromLocalFile(ruta);
        if (auto no = ChatZentu::rechazo(url)) return no;
        c_->setPendiente(url);
        return std::nullopt;
    }
    void setGrabandoNota(bool g) override { c_->setGrabandoNota(g); }
    bool cargado() const override { return c_->cargado(); }
    void cargar() override { c_->cargar(); }
    int vecesAbierto() const override { return c_->vecesAbierto(); }
    void setVecesAbierto(int v) override { c_->setVecesAbierto(v); }
    QCoro::Task<std::optional<QString>> enviarArchivo(QString ruta, QString texto) override {
        QPointer<ChatZentu> c(c_.get());
        co_return co_await c->enviarArchivo(QUrl::fromLocalFile(ruta), texto);
    }
    QCoro::Task<std::optional<QString>> preguntarYEsperar(QString pregunta, double tope) override {
        QPointer<ChatZentu> c(c_.get());
        co_return co_await c->preguntarYEsperar(std::move(pregunta), tope);
    }

private:
    std::unique_ptr<ChatZentu> c_;
    QList<QUrl> pendientesAntes_;
};

class ConversacionReal : public PuertoConversacion {
public:
    explicit ConversacionReal(ChatZentu& chat) : c_(std::make_unique<Conversacion>(chat)) {
        c_->alCambiarFase = [this](Fase f) {
            if (alCambiarFase) alCambiarFase(f);
        };
        c_->alNivel = [this](double n) {
            if (alNivel) alNivel(n);
        };
        c_->alTerminar = [this](std::optional<QString> m) {
            if (alTerminar) alTerminar(m);
        };
    }
    void setActiva(bool a) override { c_->activa = a; }
    bool soloNota() const override { return c_->soloNota; }
    void setSoloNota(bool s) override { c_->soloNota = s; }
    void setVacias(int v) override { c_->vacias = v; }
    bool grabando() const override { return c_->grabando(); }
    void grabar(bool manosLibres) override { c_->grabar(manosLibres); }
    void soltar() override { c_->soltar(); }
    void cancelar(bool silencioso) override { c_->cancelar(silencioso); }
    void preguntar(const QString& texto) override { c_->preguntar(texto); }

private:
    std::unique_ptr<Conversacion> c_;
};

// A card's surface inside the window's margin, for a chat model that is not the real one.
class CartaVacia : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(palette().color(QPalette::Mid), 1));
        p.setBrush(palette().color(QPalette::Window));
        const double m = GeometriaChat::margen;
        p.drawRoundedRect(QRectF(rect()).adjusted(m, m, -m, -m), 18, 18);
    }
};

// The chat's floating window with the chat view in it. The view resizes the window from its
// corners; the window is made after the view, so the view reaches it through a shared handle.
class PanelChatReal : public PuertoPanelChat {
public:
    PanelChatReal() : p_(std::make_unique<PanelChat>(new CartaVacia)) {}
    PanelChatReal(ChatZentu& chat, std::function<void()> cerrar) {
        auto panel = std::make_shared<QPointer<PanelChat>>();
        QPointer<ChatZentu> modelo(&chat);
        auto hacerVista = [panel, modelo, cerrar]() -> QWidget* {
            if (!modelo) return nullptr;
            return new VistaChat(*modelo, cerrar, [panel](PanelChat::Esquina c, QSizeF d, bool terminado) {
                if (*panel) (*panel)->redimensionar(c, d, terminado);
            });
        };
        p_ = std::make_unique<PanelChat>(hacerVista());
        *panel = p_.get();
        // The view is made again in the desktop's new scheme; the draft lives in the model.
        QObject::connect(&EsquemaColor::sistema(), &EsquemaColor::cambio, p_.get(),
                         [panel, hacerVista] {
                             if (*panel) (*panel)->cambiarContenido(hacerVista());
                         });
    }
    bool enPantalla() const override { return p_->isVisible(); }
    void mostrar() override { p_->mostrar(); }
    void retirar() override { p_->hide(); }
    void hacerClave() override {
        p_->raise();
        p_->activateWindow();
    }
    void colocar(const QRectF& junto) override { p_->colocar(junto); }

private:
    std::unique_ptr<PanelChat> p_;
};

class PendientesReales : public PuertoPendientes {
public:
    PendientesReales(const Cuenta& cuenta, CanalEnVivo& canal) : p_(std::make_unique<Pendientes>(cuenta, canal)) {
        p_->alCambiar = [this](int t, const QList<QJsonObject>& d, int n) {
            if (alCambiar) alCambiar(t, d, n);
        };
        p_->alCambiarTotal = [this](int t) {
            if (alCambiarTotal) alCambiarTotal(t);
        };
        p_->alCambiarLista = [this] {
            if (alCambiarLista) alCambiarLista();
        };
        p_->alAbrirChat = [this] {
            if (alAbrirChat) alAbrirChat();
        };
        p_->alAbrirPermiso = [this](qint64 id) {
            if (alAbrirPermiso) alAbrirPermiso(id);
        };
        p_->alSonar = [this](Sonidos::Cual c) {
            if (alSonar) alSonar(c);
        };
        p_->alPedirRespuesta = [this](Pendientes::PedidoRespuesta pedido) {
            if (alPedirRespuesta) alPedirRespuesta(std::move(pedido));
        };
    }
    QList<QJsonObject> listaDudas() const override { return p_->listaDudas; }
    QList<QJsonObject> permisos() const override { return p_->permisos; }
    ModeloDudas::Almacen almacen() override { return ModeloDudas::Almacen::de(*p_); }
    bool cargado() const override { return !p_->primeraCarga(); }
    bool conocido() const override { return p_->listaConocida(); }

private:
    std::unique_ptr<Pendientes> p_;
};

class WidgetsReales : public PuertoWidgets {
public:
    WidgetsReales(const Cuenta& cuenta, CanalEnVivo& canal) : w_(std::make_unique<AlimentaWidgets>(cuenta, canal)) {
        w_->alCambiarAgentes = [this](const std::vector<Instantanea::Agente>& a) {
            if (alCambiarAgentes) alCambiarAgentes(a);
        };
    }
    Instantanea foto() const override { return w_->foto(); }
    void pendientes(int total, const QList<QJsonObject>& dudas, int permisos) override {
        w_->pendientes(total, dudas, permisos);
    }
    QCoro::Task<std::optional<QString>> cambiarAgente(qint64 id, bool activo) override {
        QPointer<AlimentaWidgets> w(w_.get());
        co_return co_await w->cambiarAgente(id, activo);
    }
    void pedirAgentes() override { w_->pedirAgentes(); }

private:
    std::unique_ptr<AlimentaWidgets> w_;
};

QCoro::Task<void> avisar(Cuenta cuenta, QString ruta, QString metodo, std::optional<QJsonObject> cuerpo) {
    try {
        co_await API::pedir(std::move(cuenta), std::move(ruta), std::move(metodo), std::move(cuerpo), 20);
    } catch (...) {
        // Nobody waits for this report: its outcome is dropped.
    }
}

}  // namespace

EntornoEscritorio::EntornoEscritorio() : sonidos_(std::make_unique<SonidosReales>()) {}
EntornoEscritorio::~EntornoEscritorio() = default;

Reloj& EntornoEscritorio::reloj() { return Reloj::sistema(); }
std::optional<Cuenta> EntornoEscritorio::leerCuenta() { return Llavero::leer(); }
void EntornoEscritorio::guardarCuenta(const Cuenta& cuenta) { Llavero::guardar(cuenta); }
void EntornoEscritorio::borrarCuenta() { Llavero::borrar(); }
PuertoSonidos& EntornoEscritorio::sonidos() { return *sonidos_; }

std::optional<QString> EntornoEscritorio::abrirAlIniciarSesion(bool si) {
    return si ? InicioSesion::registrar() : InicioSesion::quitar();
}

bool EntornoEscritorio::alIniciarSesion() { return InicioSesion::activado(); }

std::unique_ptr<PuertoIsla> EntornoEscritorio::crearIsla(EstadoVoz& voz, AccionesIsla acciones) {
    return std::make_unique<IslaReal>(voz, std::move(acciones));
}

std::unique_ptr<QObject> EntornoEscritorio::crearAtajos(std::function<void(Atajos::Cual)> pulsar,
                                                        std::function<void(Atajos::Cual)> soltar) {
    auto atajos = std::make_unique<Atajos>();
    atajos->alPulsar = std::move(pulsar);
    atajos->alSoltar = std::move(soltar);
    return atajos;
}

void EntornoEscritorio::instalarAcorde(std::function<void()> pulsar, std::function<void()> soltar,
                                       std::function<void()> cancelar) {
    TeclasModificadoras& acorde = TeclasModificadoras::shared();
    acorde.alPulsar = std::move(pulsar);
    acorde.alSoltar = std::move(soltar);
    acorde.alCancelar = std::move(cancelar);
    if (TeclasModificadoras::encendido()) acorde.encender(true);
}

void EntornoEscritorio::observarDespertar(std::function<void()> alDespertar) {
    despertar_ = std::make_unique<Despertar>();
    despertar_->alDespertar = std::move(alDespertar);
}

std::unique_ptr<CanalEnVivo> EntornoEscritorio::crearCanal(const Cuenta& cuenta) {
    return std::make_unique<CanalEnVivo>(cuenta);
}

std::unique_ptr<PuertoChat> EntornoEscritorio::crearChat(CanalEnVivo& canal) {
    return std::make_unique<ChatReal>(canal);
}
std::unique_ptr<PuertoConversacion> EntornoEscritorio::crearConversacion(PuertoChat& chat) {
    auto* real = dynamic_cast<ChatReal*>(&chat);
    if (!real) return nullptr;
    return std::make_unique<ConversacionReal>(real->modelo());
}
std::unique_ptr<PuertoLlamada> EntornoEscritorio::crearLlamada(const Cuenta& cuenta, std::optional<QString> agente,
                                                               std::optional<qint64> consulta) {
    return std::make_unique<LlamadaReal>(cuenta, std::move(agente), consulta);
}
std::unique_ptr<PuertoPendientes> EntornoEscritorio::crearPendientes(const Cuenta& cuenta, CanalEnVivo& canal) {
    return std::make_unique<PendientesReales>(cuenta, canal);
}
std::unique_ptr<PuertoWidgets> EntornoEscritorio::crearWidgets(const Cuenta& cuenta, CanalEnVivo& canal) {
    return std::make_unique<WidgetsReales>(cuenta, canal);
}

std::unique_ptr<EnMiMac> EntornoEscritorio::crearEnMiMac(const Cuenta& cuenta, CanalEnVivo& canal) {
    return std::make_unique<EnMiMac>(cuenta, canal);
}

void EntornoEscritorio::borrarInstantanea() { AlimentaWidgets::borrar(); }

std::unique_ptr<PuertoPanelChat> EntornoEscritorio::crearPanelChat(PuertoChat& chat, std::function<void()> cerrar) {
    auto* real = dynamic_cast<ChatReal*>(&chat);
    if (!real) return std::make_unique<PanelChatReal>();
    return std::make_unique<PanelChatReal>(real->modelo(), std::move(cerrar));
}

std::unique_ptr<PuertoVentana> EntornoEscritorio::crearVentanaEnlace(ModeloEnlace& modelo) {
    return std::make_unique<VentanaEnlace>(modelo);
}

QCoro::Task<CapturaDePantalla> EntornoEscritorio::capturarPantalla() {
    CapturaDePantalla r;
    try {
        r.ruta = co_await Pantalla::capturar();
    } catch (const Pantalla::Error& e) {
        r.sinPermiso = e.fallo() == Pantalla::Fallo::sinPermiso;
        r.error = e.texto();
    } catch (const std::exception&) {
        r.error = Pantalla::descripcion(Pantalla::Fallo::nada);
    }
    co_return r;
}

QCoro::Task<bool> EntornoEscritorio::probarPantalla() { co_return co_await Permiso::probarPantalla(); }

void EntornoEscritorio::pedirPermisoPantalla() { Permiso(Permiso::pantalla).pedir(); }

std::unique_ptr<PuertoVentana> EntornoEscritorio::crearVentanaAjustes(ModeloAjustes& modelo) {
    auto* vista = new VistaAjustes(modelo, SeccionAjustes::estado);
    QObject::connect(&EsquemaColor::sistema(), &EsquemaColor::cambio, vista, [vista](Esquema esquema) {
        // The view is made anew: the keyboard it had stays in it.
        const bool teclado = vista->isAncestorOf(QApplication::focusWidget());
        vista->setEsquema(esquema);
        if (teclado) vista->setFocus(Qt::OtherFocusReason);
    });
    return std::make_unique<VentanaAjustes>(vista);
}

void EntornoEscritorio::encenderAcorde(bool si) { TeclasModificadoras::shared().encender(si); }

void EntornoEscritorio::avisarAlServicio(const Cuenta& cuenta, const QString& ruta, const QString& metodo,
                                         std::optional<QJsonObject> cuerpo) {
    avisar(cuenta, ruta, metodo, std::move(cuerpo));
}

QString EntornoEscritorio::tamanosDeTexto(const QByteArray& datos) {
    const QJsonDocument doc = QJsonDocument::fromJson(datos);
    if (!doc.isObject()) return QStringLiteral("{}");
    const QJsonObject o = doc.object();
    for (auto it = o.begin(); it != o.end(); ++it) {
        if (!it->isArray()) return QStringLiteral("{}");
        for (const QJsonValue& x : it->toArray())
            if (!x.isDouble()) return QStringLiteral("{}");
    }
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QString EntornoEscritorio::tamanosDeWidgets() {
    const auto ruta = Tamanos::archivo();
    if (!ruta) return QStringLiteral("{}");
    QFile f(*ruta);
    if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("{}");
    return tamanosDeTexto(f.readAll());
}

void EntornoEscritorio::terminarProceso() { QCoreApplication::exit(0); }
