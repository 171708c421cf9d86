#include "plataforma/Privacidad.h"

#include <QAtomicPointer>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QProcess>
#include <QStandardPaths>
#include <QCoroDBusPendingCall>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {
QAtomicPointer<Privacidad> instalada;

bool hayVariable(const char* nombre) { return !qEnvironmentVariableIsEmpty(nombre); }

// Reads one pixel of the root window: the plainest proof that this X session lets us capture.
bool leerPixelRaiz() {
    int numero = 0;
    xcb_connection_t* conexion = xcb_connect(nullptr, &numero);
    if (!conexion || xcb_connection_has_error(conexion)) {
        if (conexion) xcb_disconnect(conexion);
        return false;
    }
    const xcb_setup_t* montaje = xcb_get_setup(conexion);
    xcb_screen_iterator_t pantallas = xcb_setup_roots_iterator(montaje);
    for (int i = 0; i < numero && pantallas.rem; ++i) xcb_screen_next(&pantallas);
    bool bien = false;
    if (pantallas.rem) {
        const xcb_window_t raiz = pantallas.data->root;
        xcb_get_image_cookie_t galleta =
            xcb_get_image(conexion, XCB_IMAGE_FORMAT_Z_PIXMAP, raiz, 0, 0, 1, 1, ~0u);
        xcb_generic_error_t* error = nullptr;
        xcb_get_image_reply_t* imagen = xcb_get_image_reply(conexion, galleta, &error);
        bien = imagen && !error && xcb_get_image_data_length(imagen) > 0;
        std::free(imagen);
        std::free(error);
    }
    xcb_disconnect(conexion);
    return bien;
}

bool pantallaX11Disponible() {
    xcb_connection_t* conexion = xcb_connect(nullptr, nullptr);
    const bool bien = conexion && !xcb_connection_has_error(conexion);
    if (conexion) xcb_disconnect(conexion);
    return bien;
}
}  // namespace

Privacidad::Sesion Privacidad::sesionSegun(const QString& tipo, bool hayWayland, bool hayX) {
    const QString t = tipo.trimmed().toLower();
    if (t == QLatin1String("wayland") || hayWayland) return Sesion::wayland;
    if (t == QLatin1String("x11") || hayX) return hayX ? Sesion::x11 : Sesion::ninguna;
    return Sesion::ninguna;
}

Privacidad::Sesion Privacidad::sesion() {
    return sesionSegun(qEnvironmentVariable("XDG_SESSION_TYPE"), hayVariable("WAYLAND_DISPLAY"),
                       hayVariable("DISPLAY"));
}

Privacidad::Estado Privacidad::microfono() {
    return QMediaDevices::audioInputs().isEmpty() ? Estado::restringido : Estado::concedido;
}

bool Privacidad::pantallaPermitida() {
    switch (sesion()) {
        case Sesion::x11:
            return pantallaX11Disponible();
        case Sesion::wayland:
            return true;
        case Sesion::ninguna:
            return false;
    }
    return false;
}

QCoro::Task<Privacidad::Captura> Privacidad::probarPantalla() {
    switch (sesion()) {
        case Sesion::x11:
            if (!pantallaX11Disponible()) co_return Captura::noOfrecida;
            co_return leerPixelRaiz() ? Captura::funciona : Captura::noFunciona;
        case Sesion::wayland: {
            // Only the portal captures a Wayland desktop (XWayland's root shows X11 windows alone).
            QDBusConnection bus = QDBusConnection::sessionBus();
            if (!bus.isConnected()) co_return Captura::noOfrecida;
            QDBusMessage llamada = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
            llamada << QStringLiteral("org.freedesktop.portal.Screenshot") << QStringLiteral("version");
            const QDBusMessage respuesta = co_await bus.asyncCall(llamada, 5000);
            co_return respuesta.type() == QDBusMessage::ReplyMessage ? Captura::funciona : Captura::noOfrecida;
        }
        case Sesion::ninguna:
            co_return Captura::noOfrecida;
    }
    co_return Captura::noOfrecida;
}

bool Privacidad::accesibilidadPermitida() { return sesion() == Sesion::x11 && pantallaX11Disponible(); }

std::optional<Privacidad::Orden> Privacidad::ordenAjustes(Ajuste ajuste, const QString& escritorio) {
    const QStringList nombres = escritorio.toUpper().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    const auto es = [&](const char* nombre) { return nombres.contains(QLatin1String(nombre)); };
    if (es("GNOME") || es("UNITY") || es("BUDGIE")) {
        switch (ajuste) {
            case Ajuste::microfono:
                return Orden{QStringLiteral("gnome-control-center"), {QStringLiteral("microphone")}};
            case Ajuste::pantalla:
                return std::nullopt;  // the portal asks on each capture; no page grants it
            case Ajuste::accesibilidad:
                return Orden{QStringLiteral("gnome-control-center"), {QStringLiteral("keyboard")}};
        }
    }
    if (es("KDE")) {
        switch (ajuste) {
            case Ajuste::microfono:
                return Orden{QStringLiteral("systemsettings"), {QStringLiteral("kcm_pulseaudio")}};
            case Ajuste::pantalla:
                return std::nullopt;
            case Ajuste::accesibilidad:
                return Orden{QStringLiteral("systemsettings"), {QStringLiteral("kcm_keys")}};
        }
    }
    return std::nullopt;
}

bool Privacidad::abrirAjustes(Ajuste ajuste) {
    const auto orden = ordenAjustes(ajuste, qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
    if (!orden) return false;
    const QString programa = QStandardPaths::findExecutable(orden->programa);
    if (programa.isEmpty()) return false;
    return lanzar(programa, orden->argumentos);
}

bool Privacidad::lanzar(const QString& programa, const QStringList& argumentos) {
    return QProcess::startDetached(programa, argumentos);
}

void Privacidad::terminar() {
    if (QCoreApplication::instance()) QCoreApplication::exit(0);
}

Privacidad& Privacidad::actual() {
    static Privacidad deLaSesion;
    Privacidad* otra = instalada.loadAcquire();
    return otra ? *otra : deLaSesion;
}

void Privacidad::usar(Privacidad* otra) { instalada.storeRelease(otra); }
