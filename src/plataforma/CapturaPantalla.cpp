#include "plataforma/CapturaPantalla.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFile>
#include <cstring>
#include <QEventLoop>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QCoroDBus>
#include <QCoroSignal>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace {

template <typename T>
struct Libre {
    void operator()(T* p) const { std::free(p); }
};
template <typename T>
using Respuesta = std::unique_ptr<T, Libre<T>>;

class CapturaX11 final : public CapturaPantalla {
public:
    CapturaX11() {
        int pantalla = 0;
        c_ = xcb_connect(nullptr, &pantalla);
        if (!c_ || xcb_connection_has_error(c_)) {
            fallo_ = QStringLiteral("no se pudo conectar con la pantalla X11");
            return;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c_));
        for (int i = 0; i < pantalla && it.rem; ++i) xcb_screen_next(&it);
        if (!it.rem) {
            fallo_ = QStringLiteral("la pantalla X11 no tiene raíz");
            return;
        }
        raiz_ = it.data->root;
    }
    ~CapturaX11() override {
        if (c_) xcb_disconnect(c_);
    }

    std::optional<QString> fallo() const override { return fallo_; }

    std::optional<int64_t> pidDelFrente() override {
        if (fallo_) return std::nullopt;
        const auto pidDesde = [&](uint32_t activa) -> std::optional<int64_t> {
            if (!activa || activa == raiz_) return std::nullopt;
            for (uint32_t v = activa; v && v != raiz_; v = padre(v)) {
                if (const int64_t p = pidDe(v)) return p;
            }
            return std::nullopt;
        };
        if (auto v = propiedad32(raiz_, atomo("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW); !v.empty()) {
            if (const auto p = pidDesde(v[0])) return p;
        }
        // No window manager says which is active, or what it said is gone with it (a manager that
        // quit leaves its hint behind): the one with the keyboard focus.
        Respuesta<xcb_get_input_focus_reply_t> foco(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
        if (foco && foco->focus != XCB_NONE && foco->focus != XCB_INPUT_FOCUS_POINTER_ROOT) return pidDesde(foco->focus);
        return std::nullopt;
    }

    std::optional<std::vector<Ventana>> ventanas() override {
        if (fallo_) return std::nullopt;
        std::vector<uint32_t> apiladas = propiedad32(raiz_, atomo("_NET_CLIENT_LIST_STACKING"), XCB_ATOM_WINDOW);
        if (apiladas.empty()) {
            Respuesta<xcb_query_tree_reply_t> arbol(xcb_query_tree_reply(c_, xcb_query_tree(c_, raiz_), nullptr));
            if (!arbol) return std::nullopt;
            apiladas.resize(size_t(xcb_query_tree_children_length(arbol.get())));
            if (!apiladas.empty())
                std::memcpy(apiladas.data(), xcb_query_tree_children(arbol.get()), apiladas.size() * 4);
        }
        std::vector<Ventana> lista;
        for (auto i = apiladas.rbegin(); i != apiladas.rend(); ++i) {
            const uint32_t v = *i;
            Respuesta<xcb_get_window_attributes_reply_t> atr(
                xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, v), nullptr));
            if (!atr || atr->map_state != XCB_MAP_STATE_VIEWABLE || atr->override_redirect) continue;
            if (atr->_class == XCB_WINDOW_CLASS_INPUT_ONLY || !capaNormal(v)) continue;
            const auto marco = marcoDe(v);
            if (!marco) continue;
            lista.push_back({v, *marco, pidDe(v)});
        }
        return lista;
    }

    QPoint puntero() override {
        if (fallo_) return {};
        Respuesta<xcb_query_pointer_reply_t> p(xcb_query_pointer_reply(c_, xcb_query_pointer(c_, raiz_), nullptr));
        return p ? QPoint(p->root_x, p->root_y) : QPoint();
    }

    QImage ventana(uint32_t id) override {
        if (fallo_) return {};
        const auto marco = marcoDe(id);
        if (!marco) return {};
        return imagen(id, QRect(QPoint(0, 0), marco->size()));
    }

    QImage zona(const QRect& zona, int64_t sinPid) override {
        if (fallo_) return {};
        // Our own windows are made shapeless for the moment of the picture: still mapped (the
        // window manager sees no change), but the server shows what lies below them.
        std::vector<uint32_t> propias;
        if (auto lista = ventanas()) {
            for (const auto& v : *lista)
                if (v.pid == sinPid && v.marco.intersects(zona)) propias.push_back(v.id);
        }
        // Windows of the program that the layer filter leaves out (pop-ups) count too.
        Respuesta<xcb_query_tree_reply_t> arbol(xcb_query_tree_reply(c_, xcb_query_tree(c_, raiz_), nullptr));
        if (arbol) {
            const xcb_window_t* hijos = xcb_query_tree_children(arbol.get());
            for (int i = 0; i < xcb_query_tree_children_length(arbol.get()); ++i) {
                const uint32_t v = hijos[i];
                if (std::find(propias.begin(), propias.end(), v) != propias.end()) continue;
                Respuesta<xcb_get_window_attributes_reply_t> atr(
                    xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, v), nullptr));
                if (!atr || atr->map_state != XCB_MAP_STATE_VIEWABLE) continue;
                const auto marco = marcoDe(v);
                if (marco && marco->intersects(zona) && pidDe(v) == sinPid) propias.push_back(v);
            }
        }
        const bool conForma = !propias.empty() && hayShape();
        if (conForma) {
            for (uint32_t v : propias)
                xcb_shape_rectangles(c_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED, v, 0, 0, 0,
                                     nullptr);
            sincronizar();
            // The windows below repaint what they uncovered.
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
        QImage foto = imagen(raiz_, zona);
        if (conForma) {
            for (uint32_t v : propias) xcb_shape_mask(c_, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, v, 0, 0, XCB_NONE);
            sincronizar();
        }
        return foto;
    }

private:
    xcb_atom_t atomo(const char* nombre) {
        Respuesta<xcb_intern_atom_reply_t> r(
            xcb_intern_atom_reply(c_, xcb_intern_atom(c_, 0, uint16_t(std::strlen(nombre)), nombre), nullptr));
        return r ? r->atom : XCB_NONE;
    }

    std::vector<uint32_t> propiedad32(uint32_t ventana, xcb_atom_t nombre, xcb_atom_t tipo) {
        Respuesta<xcb_get_property_reply_t> r(
            xcb_get_property_reply(c_, xcb_get_property(c_, 0, ventana, nombre, tipo, 0, 4096), nullptr));
        if (!r || r->format != 32) return {};
        std::vector<uint32_t> valores(size_t(xcb_get_property_value_length(r.get()) / 4));
        if (!valores.empty()) std::memcpy(valores.data(), xcb_get_property_value(r.get()), valores.size() * 4);
        return valores;
    }

    uint32_t padre(uint32_t v) {
        Respuesta<xcb_query_tree_reply_t> arbol(xcb_query_tree_reply(c_, xcb_query_tree(c_, v), nullptr));
        return arbol ? arbol->parent : 0;
    }

    // _NET_WM_PID of the window, or of a child of it (a reparenting window manager's frame
    // holds the client one level down).
    int64_t pidDe(uint32_t v) {
        if (auto p = propiedad32(v, atomo("_NET_WM_PID"), XCB_ATOM_CARDINAL); !p.empty()) return p[0];
        Respuesta<xcb_query_tree_reply_t> arbol(xcb_query_tree_reply(c_, xcb_query_tree(c_, v), nullptr));
        if (!arbol) return 0;
        const xcb_window_t* hijos = xcb_query_tree_children(arbol.get());
        for (int i = 0; i < xcb_query_tree_children_length(arbol.get()); ++i) {
            if (auto p = propiedad32(hijos[i], atomo("_NET_WM_PID"), XCB_ATOM_CARDINAL); !p.empty()) return p[0];
        }
        return 0;
    }

    bool capaNormal(uint32_t v) {
        static const char* const fuera[] = {"_NET_WM_WINDOW_TYPE_DESKTOP", "_NET_WM_WINDOW_TYPE_DOCK",
                                            "_NET_WM_WINDOW_TYPE_MENU",    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
                                            "_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_TOOLTIP",
                                            "_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_SPLASH"};
        const auto tipos = propiedad32(v, atomo("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM);
        for (const char* f : fuera)
            if (std::find(tipos.begin(), tipos.end(), atomo(f)) != tipos.end()) return false;
        const auto estado = propiedad32(v, atomo("_NET_WM_STATE"), XCB_ATOM_ATOM);
        return std::find(estado.begin(), estado.end(), atomo("_NET_WM_STATE_ABOVE")) == estado.end() &&
               std::find(estado.begin(), estado.end(), atomo("_NET_WM_STATE_BELOW")) == estado.end();
    }

    std::optional<QRect> marcoDe(uint32_t v) {
        Respuesta<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c_, xcb_get_geometry(c_, v), nullptr));
        if (!g) return std::nullopt;
        Respuesta<xcb_translate_coordinates_reply_t> t(
            xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, v, raiz_, 0, 0), nullptr));
        if (!t) return std::nullopt;
        return QRect(t->dst_x, t->dst_y, g->width, g->height);
    }

    bool hayShape() {
        const xcb_query_extension_reply_t* e = xcb_get_extension_data(c_, &xcb_shape_id);
        return e && e->present;
    }

    void sincronizar() {
        std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    }

    // Reads a rectangle of a drawable as 32-bit pixels (24-bit depth: BGRX in memory).
    QImage imagen(uint32_t dibujable, const QRect& r) {
        if (r.isEmpty()) return {};
        xcb_generic_error_t* error = nullptr;
        Respuesta<xcb_get_image_reply_t> img(xcb_get_image_reply(
            c_, xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, dibujable, int16_t(r.x()), int16_t(r.y()),
                              uint16_t(r.width()), uint16_t(r.height()), ~0u),
            &error));
        std::free(error);
        if (!img || (img->depth != 24 && img->depth != 32)) return {};
        const int largo = xcb_get_image_data_length(img.get());
        const qsizetype fila = qsizetype(r.width()) * 4;
        if (largo < fila * r.height()) return {};
        QImage salida(r.size(), QImage::Format_RGB32);
        const uint8_t* datos = xcb_get_image_data(img.get());
        for (int y = 0; y < r.height(); ++y) std::memcpy(salida.scanLine(y), datos + y * fila, size_t(fila));
        return salida;
    }

    xcb_connection_t* c_ = nullptr;
    xcb_window_t raiz_ = XCB_NONE;
    std::optional<QString> fallo_;
};

// Waits for the portal's Response signal of one request.
class EsperaPortal : public QObject {
    Q_OBJECT
public:
    uint codigo = 2;
    QVariantMap resultados;
    bool llego = false;
Q_SIGNALS:
    void llegoSenal();
public Q_SLOTS:
    void respuesta(uint c, const QVariantMap& r) {
        codigo = c;
        resultados = r;
        llego = true;
        Q_EMIT llegoSenal();
    }
};

}  // namespace

std::unique_ptr<CapturaPantalla> CapturaPantalla::x11() { return std::make_unique<CapturaX11>(); }

QCoro::Task<CapturaPantalla::DelPortal> CapturaPantalla::portal() {
    DelPortal r;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        r.sinPortal = true;
        r.error = QStringLiteral("no hay bus de sesión");
        co_return r;
    }
    const QString ficha = QStringLiteral("zentu%1").arg(QRandomGenerator::global()->generate());
    QString remitente = bus.baseService().mid(1);
    remitente.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString ruta = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(remitente, ficha);

    // The answer is a signal on the request object: listen before asking.
    auto espera = std::make_unique<EsperaPortal>();
    bus.connect(QStringLiteral("org.freedesktop.portal.Desktop"), ruta, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), espera.get(), SLOT(respuesta(uint, QVariantMap)));
    QDBusMessage llamada = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
    QVariantMap opciones;
    opciones.insert(QStringLiteral("handle_token"), ficha);
    opciones.insert(QStringLiteral("interactive"), false);
    opciones.insert(QStringLiteral("modal"), false);
    llamada << QString() << opciones;
    const QDBusMessage pedido = co_await bus.asyncCall(llamada, 10000);
    if (pedido.type() != QDBusMessage::ReplyMessage) {
        r.sinPortal = true;
        r.error = QStringLiteral("el portal de capturas no respondió");
        co_return r;
    }
    // The desktop may ask the owner first; give them time.
    if (!espera->llego) {
        const auto llego = co_await qCoro(espera.get(), &EsperaPortal::llegoSenal, std::chrono::seconds(120));
        if (!llego) {
            r.error = QStringLiteral("el portal de capturas no contestó a tiempo");
            co_return r;
        }
    }
    if (espera->codigo != 0) {
        r.negado = true;
        co_return r;
    }
    const QUrl uri(espera->resultados.value(QStringLiteral("uri")).toString());
    if (!uri.isLocalFile() || !r.imagen.load(uri.toLocalFile())) {
        r.error = QStringLiteral("el portal no entregó una imagen legible");
        co_return r;
    }
    // The portal wrote a copy of its own for us; ours is the only one that stays.
    QFile::remove(uri.toLocalFile());
    co_return r;
}

#include "CapturaPantalla.moc"
