#pragma once

#include <QString>
#include <QStringList>
#include <QCoroTask>
#include <optional>

// What the desktop session lets this program do with the microphone, the screen and global
// keys, the settings that govern them, and starting a program detached.
//
// A Linux desktop has no per-application grants for these outside sandboxes: on X11 any client
// may read the screen and grab keys; on Wayland screen capture goes through the desktop portal,
// which asks the owner on each capture, and global key grabs of an X11 client do not reach other
// applications. The microphone is usable when the sound server offers an input. The answers
// below say exactly that. Tests replace the implementation with `usar`.
class Privacidad {
public:
    enum class Estado { sinDecidir, negado, restringido, concedido };
    enum class Ajuste { microfono, pantalla, accesibilidad };
    enum class Sesion { x11, wayland, ninguna };

    struct Orden {
        QString programa;
        QStringList argumentos;
        bool operator==(const Orden&) const = default;
    };

    virtual ~Privacidad() = default;

    virtual Sesion sesion();
    // Concedido when the sound server offers at least one input, restringido when it offers none.
    // Never sinDecidir: nothing here asks the owner.
    virtual Estado microfono();
    // Nothing to ask for outside a sandbox; kept so the callers' flow stays one.
    virtual void solicitarMicrofono() {}
    // Whether screen capture is allowed in this session at all (X11: the display answers;
    // Wayland: the portal decides per capture, so yes).
    virtual bool pantallaPermitida();
    virtual void solicitarPantalla() {}
    // What really trying screen capture found.
    enum class Captura {
        funciona,
        noFunciona,  // the display is there but would not give a picture
        noOfrecida,  // nothing here can capture: no display, or a Wayland desktop with no Screenshot portal
    };
    // Really tries: a 1x1 read of the X11 root window, or asks whether the desktop portal's
    // Screenshot interface answers.
    virtual QCoro::Task<Captura> probarPantalla();
    // Whether global keys can be grabbed: X11 yes, Wayland no.
    virtual bool accesibilidadPermitida();

    // Opens the desktop's settings page closest to `ajuste`; false when none is known.
    virtual bool abrirAjustes(Ajuste ajuste);
    // Starts a program detached with an argument vector (no shell parses it).
    virtual bool lanzar(const QString& programa, const QStringList& argumentos);
    // Ends this program's event loop.
    virtual void terminar();

    // The session kind from XDG_SESSION_TYPE, WAYLAND_DISPLAY and DISPLAY (XWayland sets DISPLAY
    // too, so Wayland wins).
    static Sesion sesionSegun(const QString& tipo, bool hayWayland, bool hayX);
    // The settings command for `ajuste` on the desktop named by XDG_CURRENT_DESKTOP (a
    // colon-separated list), if that desktop has a page for it.
    static std::optional<Orden> ordenAjustes(Ajuste ajuste, const QString& escritorio);

    static Privacidad& actual();
    static void usar(Privacidad* otra);  // not owned; nullptr goes back to the session's
};
