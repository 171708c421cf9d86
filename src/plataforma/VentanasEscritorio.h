#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

class QWidget;

// Window-manager hints (EWMH) for the program's own desktop surfaces on X11. Every call is a
// no-op on any other platform, so the callers need no platform test of their own.
namespace VentanasEscritorio {

// A widget on the desktop: below other windows, on every workspace, out of the taskbar and the
// pager. Call after the window has been shown (the window manager owns the state of a mapped
// window, so the change is asked for with client messages and also written on the window).
void comoWidgetDeEscritorio(QWidget* ventana);

// A floating card: above other windows, on every workspace, out of the taskbar.
void comoTarjetaFlotante(QWidget* ventana);

// What the window carries now, for tests: the names of the atoms in _NET_WM_STATE and the value
// of _NET_WM_DESKTOP (none: -1).
QStringList estado(QWidget* ventana);
int64_t escritorio(QWidget* ventana);

// Whether the program runs on an X11 display at all.
bool hayX11();

// Where the pointer is, in Qt's global coordinates, when the desktop tells it; none where it may
// not: an X11 client of a Wayland session (XWayland) only learns the pointer's place while the
// pointer is over an X11 window, and answers its last one otherwise.
std::optional<QPoint> puntero();

}  // namespace VentanasEscritorio
