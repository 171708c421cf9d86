#include "plataforma/Compositor.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QGuiApplication>
#include <QHash>
#include <QPointer>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <cstdlib>
#include <memory>

namespace {

// The screen number of $DISPLAY (":0.1" -> 1); 0 when it names none.
int pantallaX11() {
    const QByteArray pantalla = qgetenv("DISPLAY");
    const int dosPuntos = pantalla.lastIndexOf(':');
    const int punto = pantalla.indexOf('.', dosPuntos < 0 ? 0 : dosPuntos);
    if (punto < 0) return 0;
    bool ok = false;
    const int n = pantalla.mid(punto + 1).toInt(&ok);
    return ok && n >= 0 ? n : 0;
}

xcb_connection_t* conexionX11() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QGuiApplication::platformName() != QLatin1String("xcb")) return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// An atom of the program's own connection; the server keeps them for as long as it runs, so each
// is asked for once (paints look at the compositor often).
xcb_atom_t atomoDe(xcb_connection_t* conexion, const QByteArray& nombre) {
    static xcb_connection_t* deConexion = nullptr;
    static QHash<QByteArray, xcb_atom_t> atomos;
    if (deConexion != conexion) {
        atomos.clear();
        deConexion = conexion;
    }
    if (auto it = atomos.constFind(nombre); it != atomos.constEnd()) return *it;
    xcb_intern_atom_reply_t* atomo =
        xcb_intern_atom_reply(conexion, xcb_intern_atom(conexion, 0, nombre.size(), nombre.constData()), nullptr);
    const xcb_atom_t a = atomo ? atomo->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(atomo);
    if (a != XCB_ATOM_NONE) atomos.insert(nombre, a);
    return a;
}

xcb_atom_t atomoCM(xcb_connection_t* conexion) {
    return atomoDe(conexion, "_NET_WM_CM_S" + QByteArray::number(pantallaX11()));
}

bool duenoDeSeleccionCM(xcb_connection_t* conexion) {
    const xcb_atom_t atomo = atomoCM(conexion);
    if (atomo == XCB_ATOM_NONE) return false;
    xcb_get_selection_owner_reply_t* dueno =
        xcb_get_selection_owner_reply(conexion, xcb_get_selection_owner(conexion, atomo), nullptr);
    const bool hay = dueno && dueno->owner != XCB_NONE;
    std::free(dueno);
    return hay;
}

}  // namespace

namespace Compositor {

bool activo() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return false;
    const QString plataforma = QGuiApplication::platformName();
    if (plataforma == QLatin1String("xcb")) {
        xcb_connection_t* c = conexionX11();
        return c && duenoDeSeleccionCM(c);
    }
    if (plataforma.startsWith(QLatin1String("wayland")) || plataforma == QLatin1String("offscreen")) return true;
    return false;
}

namespace {

// Whether the root window lists `nombre` among the hints the desktop supports.
bool soportado(xcb_connection_t* c, const char* nombre) {
    const auto atomo = [c](const char* n) { return atomoDe(c, QByteArray(n)); };
    const xcb_atom_t buscado = atomo(nombre);
    const xcb_window_t raiz = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    bool hay = false;
    const auto cookie = xcb_get_property(c, 0, raiz, atomo("_NET_SUPPORTED"), XCB_ATOM_ATOM, 0, 4096);
    if (xcb_get_property_reply_t* r = xcb_get_property_reply(c, cookie, nullptr)) {
        if (r->format == 32) {
            const auto* a = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
            const int n = xcb_get_property_value_length(r) / 4;
            for (int i = 0; i < n && !hay; ++i) hay = a[i] == buscado;
        }
        std::free(r);
    }
    return hay;
}

}  // namespace

bool visto() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return activo();
    const Observador& o = observador();
    return o.sigue() ? o.activo() : activo();
}

// Painting asks both of these at every frame: the compositor's presence as last seen, the
// desktop's hints from the server (they change only with the window manager).
bool desenfoca() {
    xcb_connection_t* c = conexionX11();
    return c && visto() && soportado(c, "_KDE_NET_WM_BLUR_BEHIND_REGION");
}

bool sombraPropia() {
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return activo();
    xcb_connection_t* c = conexionX11();
    return c && visto() && soportado(c, "_GTK_FRAME_EXTENTS");
}

// Sees the server's notices of a new owner of the compositor's selection among the events of the
// program's own connection.
class Observador::Filtro : public QAbstractNativeEventFilter {
public:
    Filtro(Observador* dueno, xcb_connection_t* c) : dueno_(dueno) {
        const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_xfixes_id);
        if (!ext || !ext->present) return;
        primerEvento_ = ext->first_event;
        // The extension answers only clients that said which version they speak.
        std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 5, 0), nullptr));
        atomo_ = atomoCM(c);
        const xcb_window_t raiz = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_xfixes_select_selection_input(c, raiz, atomo_,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        xcb_flush(c);
        valido_ = true;
    }
    bool valido() const { return valido_; }

    bool nativeEventFilter(const QByteArray& tipo, void* mensaje, qintptr*) override {
        if (tipo != "xcb_generic_event_t") return false;
        const auto* e = static_cast<const xcb_generic_event_t*>(mensaje);
        if ((e->response_type & 0x7f) != primerEvento_ + XCB_XFIXES_SELECTION_NOTIFY) return false;
        const auto* aviso = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(e);
        if (aviso->selection != atomo_) return false;
        // Looked at once the event has been handled: the owner is asked afresh.
        QPointer<Observador> d(dueno_);
        QMetaObject::invokeMethod(
            dueno_, [d] { if (d) d->revisar(); }, Qt::QueuedConnection);
        return false;
    }

private:
    Observador* dueno_;
    uint8_t primerEvento_ = 0;
    xcb_atom_t atomo_ = XCB_ATOM_NONE;
    bool valido_ = false;
};

Observador::Observador(QObject* padre) : QObject(padre), activo_(Compositor::activo()) {
    if (xcb_connection_t* c = conexionX11()) {
        auto filtro = std::make_unique<Filtro>(this, c);
        if (filtro->valido()) {
            filtro_ = filtro.release();
            QCoreApplication::instance()->installNativeEventFilter(filtro_);
            connect(this, &QObject::destroyed, [f = filtro_] {
                if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(f);
                delete f;
            });
        }
    }
}

void Observador::revisar() {
    const bool ahora = Compositor::activo();
    if (ahora == activo_) return;
    activo_ = ahora;
    emit cambio(ahora);
}

Observador& observador() {
    static QPointer<Observador> unico;
    if (!unico) unico = new Observador(QCoreApplication::instance());
    return *unico;
}

}  // namespace Compositor
