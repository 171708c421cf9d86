#include "plataforma/VentanasEscritorio.h"

#include <QCursor>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <xcb/xcb.h>
#include <algorithm>
#include <cstring>
#include <vector>

namespace VentanasEscritorio {
namespace {

xcb_connection_t* conexion() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atomo(xcb_connection_t* c, const char* nombre) {
    auto peticion = xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(nombre)), nombre);
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(c, peticion, nullptr);
    if (!r) return XCB_ATOM_NONE;
    const xcb_atom_t a = r->atom;
    free(r);
    return a;
}

xcb_window_t raiz(xcb_connection_t* c) {
    const xcb_setup_t* s = xcb_get_setup(c);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(s);
    return it.data ? it.data->root : xcb_window_t(XCB_WINDOW_NONE);
}

std::vector<xcb_atom_t> leerAtomos(xcb_connection_t* c, xcb_window_t w, xcb_atom_t propiedad) {
    std::vector<xcb_atom_t> atomos;
    auto peticion = xcb_get_property(c, 0, w, propiedad, XCB_ATOM_ATOM, 0, 64);
    if (xcb_get_property_reply_t* r = xcb_get_property_reply(c, peticion, nullptr)) {
        if (r->format == 32) {
            auto* datos = static_cast<xcb_atom_t*>(xcb_get_property_value(r));
            atomos.assign(datos, datos + xcb_get_property_value_length(r) / 4);
        }
        free(r);
    }
    return atomos;
}

// Sends the EWMH client message that asks the window manager to change a mapped window.
void pedir(xcb_connection_t* c, xcb_window_t w, xcb_atom_t tipo, uint32_t d0, uint32_t d1, uint32_t d2) {
    xcb_client_message_event_t ev;
    std::memset(&ev, 0, sizeof ev);
    ev.response_type = XCB_CLIENT_MESSAGE;
    ev.format = 32;
    ev.window = w;
    ev.type = tipo;
    ev.data.data32[0] = d0;
    ev.data.data32[1] = d1;
    ev.data.data32[2] = d2;
    ev.data.data32[3] = 1;  // source: a normal application
    xcb_send_event(c, 0, raiz(c),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&ev));
}

void aplicar(QWidget* ventana, const std::vector<const char*>& estados) {
    xcb_connection_t* c = conexion();
    if (!c || !ventana) return;
    const auto w = static_cast<xcb_window_t>(ventana->winId());
    const xcb_atom_t netEstado = atomo(c, "_NET_WM_STATE");
    const xcb_atom_t netEscritorio = atomo(c, "_NET_WM_DESKTOP");

    // Merge with what the window already has, so that Qt's own states stay.
    std::vector<xcb_atom_t> atomos = leerAtomos(c, w, netEstado);
    for (const char* nombre : estados) {
        const xcb_atom_t a = atomo(c, nombre);
        if (std::find(atomos.begin(), atomos.end(), a) == atomos.end()) atomos.push_back(a);
        pedir(c, w, netEstado, 1 /* add */, a, 0);
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netEstado, XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(atomos.size()), atomos.data());

    const uint32_t todos = 0xFFFFFFFFu;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, netEscritorio, XCB_ATOM_CARDINAL, 32, 1, &todos);
    pedir(c, w, netEscritorio, todos, 0, 0);
    xcb_flush(c);
}

}  // namespace

bool hayX11() { return conexion() != nullptr; }

std::optional<QPoint> puntero() {
    const bool sesionWayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                               qEnvironmentVariable("XDG_SESSION_TYPE").compare(QStringLiteral("wayland"),
                                                                                 Qt::CaseInsensitive) == 0;
    if (hayX11() && sesionWayland) return std::nullopt;
    return QCursor::pos();
}

void comoWidgetDeEscritorio(QWidget* ventana) {
    aplicar(ventana, {"_NET_WM_STATE_BELOW", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR",
                      "_NET_WM_STATE_SKIP_PAGER"});
}

void comoTarjetaFlotante(QWidget* ventana) {
    aplicar(ventana, {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR",
                      "_NET_WM_STATE_SKIP_PAGER"});
}

QStringList estado(QWidget* ventana) {
    QStringList nombres;
    xcb_connection_t* c = conexion();
    if (!c || !ventana) return nombres;
    const auto w = static_cast<xcb_window_t>(ventana->winId());
    for (xcb_atom_t a : leerAtomos(c, w, atomo(c, "_NET_WM_STATE"))) {
        auto peticion = xcb_get_atom_name(c, a);
        if (xcb_get_atom_name_reply_t* r = xcb_get_atom_name_reply(c, peticion, nullptr)) {
            nombres << QString::fromLatin1(xcb_get_atom_name_name(r), xcb_get_atom_name_name_length(r));
            free(r);
        }
    }
    return nombres;
}

int64_t escritorio(QWidget* ventana) {
    xcb_connection_t* c = conexion();
    if (!c || !ventana) return -1;
    const auto w = static_cast<xcb_window_t>(ventana->winId());
    int64_t valor = -1;
    auto peticion = xcb_get_property(c, 0, w, atomo(c, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 0, 1);
    if (xcb_get_property_reply_t* r = xcb_get_property_reply(c, peticion, nullptr)) {
        if (r->format == 32 && xcb_get_property_value_length(r) == 4)
            valor = *static_cast<uint32_t*>(xcb_get_property_value(r));
        free(r);
    }
    return valor;
}

}  // namespace VentanasEscritorio
