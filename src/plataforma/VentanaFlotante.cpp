#include "plataforma/VentanaFlotante.h"

#include "plataforma/Compositor.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QPolygonF>
#include <QWidget>
#include <QEvent>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <cmath>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

xcb_connection_t* conexion() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atomo(xcb_connection_t* c, const char* nombre) {
    const auto cookie = xcb_intern_atom(c, 0, uint16_t(std::strlen(nombre)), nombre);
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

std::vector<xcb_atom_t> leerEstado(xcb_connection_t* c, xcb_window_t w, xcb_atom_t estado) {
    std::vector<xcb_atom_t> atomos;
    const auto cookie = xcb_get_property(c, 0, w, estado, XCB_ATOM_ATOM, 0, 1024);
    xcb_get_property_reply_t* r = xcb_get_property_reply(c, cookie, nullptr);
    if (r && r->format == 32 && r->type == XCB_ATOM_ATOM) {
        const auto* datos = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
        atomos.assign(datos, datos + xcb_get_property_value_length(r) / 4);
    }
    std::free(r);
    return atomos;
}

bool mapeada(xcb_connection_t* c, xcb_window_t w) {
    xcb_get_window_attributes_reply_t* r = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr);
    const bool si = r && r->map_state != XCB_MAP_STATE_UNMAPPED;
    std::free(r);
    return si;
}

constexpr const char* nombres[] = {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR",
                                   "_NET_WM_STATE_SKIP_PAGER"};

void mensaje(xcb_connection_t* c, xcb_window_t w, xcb_atom_t tipo, uint32_t d0, uint32_t d1, uint32_t d2,
             uint32_t d3 = 1 /* from an application */) {
    const xcb_window_t raiz = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_client_message_event_t m{};
    m.response_type = XCB_CLIENT_MESSAGE;
    m.format = 32;
    m.window = w;
    m.type = tipo;
    m.data.data32[0] = d0;
    m.data.data32[1] = d1;
    m.data.data32[2] = d2;
    m.data.data32[3] = d3;
    xcb_send_event(c, 0, raiz, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&m));
}

constexpr uint32_t todosLosEscritorios = 0xFFFFFFFFu;

void pedirAlGestor(xcb_connection_t* c, xcb_window_t w) {
    const xcb_atom_t estado = atomo(c, "_NET_WM_STATE");
    std::vector<xcb_atom_t> pedidos;
    for (const char* n : nombres) pedidos.push_back(atomo(c, n));
    // Two states per message.
    for (size_t i = 0; i < pedidos.size(); i += 2)
        mensaje(c, w, estado, 1 /* _NET_WM_STATE_ADD */, pedidos[i], i + 1 < pedidos.size() ? pedidos[i + 1] : 0);
    mensaje(c, w, atomo(c, "_NET_WM_DESKTOP"), todosLosEscritorios, 1, 0, 0);
}

// Qt writes the window's states itself as it maps it, from its own flags only, and a window
// manager reads the workspace as it takes the window in: the wishes are asked again once the
// window is on screen, so the window is on every workspace whatever got there first.
class AlMapear : public QObject {
public:
    explicit AlMapear(QWindow* ventana) : QObject(ventana) { ventana->installEventFilter(this); }

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override {
        auto* ventana = static_cast<QWindow*>(objeto);
        if (evento->type() == QEvent::Expose && ventana->isExposed()) {
            if (xcb_connection_t* c = conexion()) {
                pedirAlGestor(c, xcb_window_t(ventana->winId()));
                xcb_flush(c);
            }
            deleteLater();
            ventana->removeEventFilter(this);
        }
        return false;
    }
};

}  // namespace

namespace VentanaFlotante {

void fijar(QWindow* ventana) {
    xcb_connection_t* c = conexion();
    if (!c || !ventana) return;
    const auto w = xcb_window_t(ventana->winId());
    const xcb_atom_t estado = atomo(c, "_NET_WM_STATE");

    if (!mapeada(c, w)) {
        // Before mapping the window carries its wishes itself; Qt adds its own to the list.
        std::vector<xcb_atom_t> atomos = leerEstado(c, w, estado);
        for (const char* n : nombres)
            if (const xcb_atom_t a = atomo(c, n); std::find(atomos.begin(), atomos.end(), a) == atomos.end())
                atomos.push_back(a);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, estado, XCB_ATOM_ATOM, 32, uint32_t(atomos.size()),
                            atomos.data());
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, atomo(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1,
                            &todosLosEscritorios);
        if (!ventana->findChild<AlMapear*>(QString(), Qt::FindDirectChildrenOnly)) new AlMapear(ventana);
    } else {
        pedirAlGestor(c, w);
    }
    xcb_flush(c);
}

void alFrente(QWindow* ventana) {
    xcb_connection_t* c = conexion();
    if (!c || !ventana || !ventana->isVisible()) return;
    const auto w = xcb_window_t(ventana->winId());
    // Asked as a pager asks (source 2): window managers that hold back an application's restack
    // (to keep it from stealing the front) still follow it.
    mensaje(c, w, atomo(c, "_NET_RESTACK_WINDOW"), 2, XCB_NONE, XCB_STACK_MODE_ABOVE, 0);
    const uint32_t arriba = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, w, XCB_CONFIG_WINDOW_STACK_MODE, &arriba);
    xcb_flush(c);
}

QStringList estados(QWindow* ventana) {
    QStringList lista;
    xcb_connection_t* c = conexion();
    if (!c || !ventana) return lista;
    for (xcb_atom_t a : leerEstado(c, xcb_window_t(ventana->winId()), atomo(c, "_NET_WM_STATE"))) {
        xcb_get_atom_name_reply_t* r = xcb_get_atom_name_reply(c, xcb_get_atom_name(c, a), nullptr);
        if (r) lista << QString::fromLatin1(xcb_get_atom_name_name(r), xcb_get_atom_name_name_length(r));
        std::free(r);
    }
    return lista;
}

void darForma(QWidget* ventana, const std::optional<QRegion>& zona) {
    if (!ventana || !ventana->isWindow()) return;
    // The see-through rest of the window is kept only where the compositor knows it for the
    // window's own shadow; elsewhere it is cut away, also where translucency exists.
    const bool compuesto = Compositor::sombraPropia();
    const QRegion forma = zona.value_or(QRegion());
    // Qt's own mask cannot be empty (that clears it): an empty shape is the server's alone.
    const QRegion recorte = compuesto || (forma.isEmpty() && Compositor::activo()) ? QRegion() : forma;
    if (ventana->mask() != recorte) {
        if (recorte.isEmpty()) ventana->clearMask();
        else ventana->setMask(recorte);
    }

    // On X11 the shapes are also given straight to the server, every time: a window manager that
    // frames the window copies them to its frame only when told they changed. The window's own
    // mask limits the clicks where it is cut; with a compositor the input shape does.
    xcb_connection_t* c = conexion();
    if (!c) return;
    const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_shape_id);
    if (!ext || !ext->present) return;
    const auto w = xcb_window_t(ventana->winId());
    const double dpr = ventana->devicePixelRatioF();
    std::vector<xcb_rectangle_t> rectangulos;
    for (const QRect& r : forma) {
        const int x0 = int(std::floor(r.left() * dpr)), y0 = int(std::floor(r.top() * dpr));
        const int x1 = int(std::ceil((r.left() + r.width()) * dpr)), y1 = int(std::ceil((r.top() + r.height()) * dpr));
        rectangulos.push_back({int16_t(x0), int16_t(y0), uint16_t(x1 - x0), uint16_t(y1 - y0)});
    }
    const auto dar = [&](xcb_shape_kind_t clase) {
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, clase, XCB_CLIP_ORDERING_UNSORTED, w, 0, 0,
                             uint32_t(rectangulos.size()), rectangulos.data());
    };
    const auto quitar = [&](xcb_shape_kind_t clase) { xcb_shape_mask(c, XCB_SHAPE_SO_SET, clase, w, 0, 0, XCB_NONE); };
    if (!zona) {
        quitar(XCB_SHAPE_SK_BOUNDING);
        quitar(XCB_SHAPE_SK_INPUT);
    } else if (forma.isEmpty()) {
        // Nothing to show: no clicks, and without a compositor no pixel either. With one the
        // window keeps its rectangle, all of it see-through: a compositor may lose track of a
        // window whose shape is empty and leave its last picture on the screen.
        if (!Compositor::activo()) dar(XCB_SHAPE_SK_BOUNDING);
        else quitar(XCB_SHAPE_SK_BOUNDING);
        dar(XCB_SHAPE_SK_INPUT);
    } else if (compuesto) {
        quitar(XCB_SHAPE_SK_BOUNDING);
        dar(XCB_SHAPE_SK_INPUT);
    } else {
        dar(XCB_SHAPE_SK_BOUNDING);
        quitar(XCB_SHAPE_SK_INPUT);
    }
    // Where the compositor can blur what lies behind a window (KWin reads this hint), the glass
    // asks for it over its shape; the fill stays dense enough to read well without it.
    const xcb_atom_t desenfoque = atomo(c, "_KDE_NET_WM_BLUR_BEHIND_REGION");
    if (Compositor::activo() && zona && !forma.isEmpty()) {
        std::vector<uint32_t> datos;
        for (const xcb_rectangle_t& r : rectangulos) datos.insert(datos.end(), {uint32_t(r.x), uint32_t(r.y), r.width, r.height});
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, desenfoque, XCB_ATOM_CARDINAL, 32, uint32_t(datos.size()),
                            datos.data());
    } else {
        xcb_delete_property(c, w, desenfoque);
    }
    xcb_flush(c);
}

QRegion region(const QPainterPath& camino) {
    QRegion r;
    for (const QPolygonF& trozo : camino.toFillPolygons()) r += QRegion(trozo.toPolygon(), Qt::WindingFill);
    return r;
}

void marcarSombra(QWidget* ventana, const QMargins& sombra) {
    xcb_connection_t* c = conexion();
    if (!c || !ventana || !ventana->isWindow()) return;
    const auto w = xcb_window_t(ventana->winId());
    const xcb_atom_t extensiones = atomo(c, "_GTK_FRAME_EXTENTS");
    if (sombra.isNull()) {
        xcb_delete_property(c, w, extensiones);
    } else {
        const double dpr = ventana->devicePixelRatioF();
        const auto px = [dpr](int v) { return uint32_t(std::max(0L, std::lround(v * dpr))); };
        const uint32_t datos[4] = {px(sombra.left()), px(sombra.right()), px(sombra.top()), px(sombra.bottom())};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, extensiones, XCB_ATOM_CARDINAL, 32, 4, datos);
    }
    xcb_flush(c);
}

void seguirCompositor(QWidget* ventana, std::function<void()> alCambiar) {
    if (!ventana || !alCambiar) return;
    QObject::connect(&Compositor::observador(), &Compositor::Observador::cambio, ventana,
                     [f = std::move(alCambiar)](bool) { f(); });
}

namespace {
std::vector<uint32_t> leerCardinales(QWidget* ventana, const char* nombre) {
    std::vector<uint32_t> valores;
    xcb_connection_t* c = conexion();
    if (!c || !ventana) return valores;
    const auto cookie = xcb_get_property(c, 0, xcb_window_t(ventana->winId()), atomo(c, nombre), XCB_ATOM_CARDINAL, 0, 4096);
    if (xcb_get_property_reply_t* r = xcb_get_property_reply(c, cookie, nullptr)) {
        if (r->format == 32 && r->type == XCB_ATOM_CARDINAL) {
            const auto* d = static_cast<const uint32_t*>(xcb_get_property_value(r));
            valores.assign(d, d + xcb_get_property_value_length(r) / 4);
        } else if (r->type != XCB_ATOM_NONE) {
            valores.push_back(0xFFFFFFFFu);  // something else than expected: not empty
        }
        std::free(r);
    }
    return valores;
}
}  // namespace

QMargins sombraMarcada(QWidget* ventana) {
    const auto v = leerCardinales(ventana, "_GTK_FRAME_EXTENTS");
    if (v.size() != 4) return {};
    return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
}

std::optional<QRegion> desenfoquePedido(QWidget* ventana) {
    xcb_connection_t* c = conexion();
    if (!c || !ventana) return std::nullopt;
    const auto v = leerCardinales(ventana, "_KDE_NET_WM_BLUR_BEHIND_REGION");
    QRegion r;
    for (size_t i = 0; i + 3 < v.size(); i += 4) r += QRect(int(v[i]), int(v[i + 1]), int(v[i + 2]), int(v[i + 3]));
    // Present and empty means the whole window.
    const auto cookie = xcb_get_property(c, 0, xcb_window_t(ventana->winId()),
                                         atomo(c, "_KDE_NET_WM_BLUR_BEHIND_REGION"), XCB_ATOM_CARDINAL, 0, 0);
    xcb_get_property_reply_t* rep = xcb_get_property_reply(c, cookie, nullptr);
    const bool hay = rep && rep->type != XCB_ATOM_NONE;
    std::free(rep);
    if (!hay) return std::nullopt;
    return r.isEmpty() ? QRegion(ventana->rect()) : r;
}

}  // namespace VentanaFlotante
