#pragma once

#include <QRegion>
#include <QStringList>
#include <optional>

class QWidget;
class QWindow;

// A small window that floats above the others on every workspace and stays out of the taskbar
// and the pager. On X11 these are the EWMH states ABOVE, STICKY, SKIP_TASKBAR and SKIP_PAGER and
// the workspace "all" (_NET_WM_DESKTOP 0xFFFFFFFF); elsewhere nothing beyond what the window
// flags already ask for.
namespace VentanaFlotante {

// Call before the window is mapped (from its show event) and again whenever it is shown: the
// window manager forgets the states of a withdrawn window. On a window already mapped the
// states are asked of the window manager instead.
void fijar(QWindow* ventana);

// Puts a shown floating window on top of the other floating windows (the window manager keeps
// them all in one layer, above ordinary windows, in the order they were last raised).
void alFrente(QWindow* ventana);

// The EWMH states the window carries now (atom names), for checks; empty off X11.
QStringList estados(QWindow* ventana);

// The shape of a translucent window that draws less than its rectangle (a pill, a card inside
// the margin of its shadow), in the window's own coordinates. Where no compositor runs, the
// transparent pixels would show black: the window is cut to `forma`. Where one runs, the window
// keeps every pixel (soft edges, the shadow) and only its clicks are limited to `forma`, so the
// transparent rest lets them through to the windows beneath. Whether a compositor runs is looked
// up at each call: call it when the window is shown and whenever the shape changes. None gives
// the window its whole rectangle back; an empty region shows nothing and takes no clicks (on X11).
void darForma(QWidget* ventana, const std::optional<QRegion>& forma);

}  // namespace VentanaFlotante
