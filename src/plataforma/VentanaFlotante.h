#pragma once

#include <QStringList>

class QWindow;

// A small window that floats above the others on every workspace and stays out of the taskbar
// and the pager. On X11 these are the EWMH states ABOVE, STICKY, SKIP_TASKBAR and SKIP_PAGER;
// elsewhere nothing beyond what the window flags already ask for.
namespace VentanaFlotante {

// Call before the window is mapped (from its show event) and again whenever it is shown: the
// window manager forgets the states of a withdrawn window. On a window already mapped the
// states are asked of the window manager instead.
void fijar(QWindow* ventana);

// The EWMH states the window carries now (atom names), for checks; empty off X11.
QStringList estados(QWindow* ventana);

}  // namespace VentanaFlotante
