#include "plataforma/Compositor.h"

#include <QByteArray>
#include <QGuiApplication>
#include <xcb/xcb.h>

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

bool duenoDeSeleccionCM(xcb_connection_t* conexion) {
    const QByteArray nombre = "_NET_WM_CM_S" + QByteArray::number(pantallaX11());
    xcb_intern_atom_reply_t* atomo =
        xcb_intern_atom_reply(conexion, xcb_intern_atom(conexion, 0, nombre.size(), nombre.constData()), nullptr);
    if (!atomo) return false;
    xcb_get_selection_owner_reply_t* dueno =
        xcb_get_selection_owner_reply(conexion, xcb_get_selection_owner(conexion, atomo->atom), nullptr);
    const bool hay = dueno && dueno->owner != XCB_NONE;
    free(dueno);
    free(atomo);
    return hay;
}

}  // namespace

namespace Compositor {

bool activo() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return false;
    const QString plataforma = QGuiApplication::platformName();
    if (plataforma == QLatin1String("xcb")) {
        auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
        return x11 && x11->connection() && duenoDeSeleccionCM(x11->connection());
    }
    if (plataforma.startsWith(QLatin1String("wayland")) || plataforma == QLatin1String("offscreen")) return true;
    return false;
}

}  // namespace Compositor
