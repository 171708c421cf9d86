#pragma once

#include <QObject>

// Whether windows can be translucent: a compositing manager runs. On X11 that is the owner of the
// "_NET_WM_CM_S<screen>" selection; Wayland always composites; offscreen rendering keeps its
// alpha channel. Without one, translucent surfaces must be painted opaque.
namespace Compositor {

bool activo();

// The same, as the observer below last saw it: no question to the display server, for code that
// runs at every frame. Where nothing follows the server's notices it asks, as `activo` does.
bool visto();

// Whether the running compositor blurs what lies behind a window that asks for it: on X11 it
// lists "_KDE_NET_WM_BLUR_BEHIND_REGION" among the supported hints of the root window (KWin).
bool desenfoca();

// Whether a window may paint its own shadow in a see-through margin: a compositor runs and the
// desktop reads the hint that says the margin is the window's own shadow ("_GTK_FRAME_EXTENTS"
// among the supported hints of the root window: GNOME's, KDE's and Xfce's window managers), so it
// adds no shadow of its own there. A compositor that does not read it may draw its own shadow of
// the whole window rectangle under the margin (xcompmgr -c shows it as a dark box): there the
// window is cut to what it draws and paints no shadow. Wayland compositors take the shadow
// from the window's own pixels.
bool sombraPropia();

// Tells when a compositing manager starts or stops while the program runs (on X11 the server
// reports every change of that selection's owner). Windows that paint differently with and
// without one follow `cambio` at once: they are cut to shape or given their whole rectangle
// back, and repainted.
class Observador : public QObject {
    Q_OBJECT
public:
    bool activo() const { return activo_; }
    // Whether it follows the server's notices (on X11 with the XFixes extension).
    bool sigue() const { return filtro_ != nullptr; }

signals:
    void cambio(bool activo);

private:
    friend Observador& observador();
    explicit Observador(QObject* padre);
    void revisar();
    bool activo_ = false;
    class Filtro;
    Filtro* filtro_ = nullptr;
};

// The one observer of the process, created on first use (after the application object).
Observador& observador();

}  // namespace Compositor
