#pragma once

#include <QObject>

// Whether windows can be translucent: a compositing manager runs. On X11 that is the owner of the
// "_NET_WM_CM_S<screen>" selection; Wayland always composites; offscreen rendering keeps its
// alpha channel. Without one, translucent surfaces must be painted opaque.
namespace Compositor {

bool activo();

// Whether the running compositor blurs what lies behind a window that asks for it: on X11 it
// lists "_KDE_NET_WM_BLUR_BEHIND_REGION" among the supported hints of the root window (KWin).
bool desenfoca();

// Tells when a compositing manager starts or stops while the program runs (on X11 the server
// reports every change of that selection's owner). Windows that paint differently with and
// without one follow `cambio` at once: they are cut to shape or given their whole rectangle
// back, and repainted.
class Observador : public QObject {
    Q_OBJECT
public:
    bool activo() const { return activo_; }

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
