#pragma once

#include <QMargins>
#include <QRegion>
#include <QStringList>
#include <functional>
#include <optional>

class QPainterPath;
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
// transparent pixels would show black: the window is cut to `forma`; so it is where the
// compositor does not read the shadow hint (see Compositor::sombraPropia). Where one runs that
// does, the window keeps every pixel (soft edges, the shadow) and only its clicks are limited to
// `forma`, so the transparent rest lets them through to the windows beneath. Whether a compositor runs is looked
// up at each call: call it when the window is shown and whenever the shape changes. None gives
// the window its whole rectangle back; an empty region shows nothing and takes no clicks (on X11).
void darForma(QWidget* ventana, const std::optional<QRegion>& forma);

// The pixels a path covers (their centres inside it), as the window's shape takes them.
QRegion region(const QPainterPath& camino);

// Tells compositors and window managers that the window's edges, by `sombra` (in the window's
// own coordinates), are a shadow it paints itself: they add none of their own, and place the
// window, keep it on screen and snap it by the part inside (the freedesktop
// "_GTK_FRAME_EXTENTS" hint). Empty margins take the hint away.
void marcarSombra(QWidget* ventana, const QMargins& sombra);

// Calls `alCambiar` (with `ventana` as its context) whenever a compositor starts or stops while
// the program runs; the window has then to be shaped and painted again.
void seguirCompositor(QWidget* ventana, std::function<void()> alCambiar);

// For checks: the window's "_GTK_FRAME_EXTENTS" (left, right, top, bottom) and the region the
// window asks a compositor to blur behind it; both empty off X11 or when not set.
QMargins sombraMarcada(QWidget* ventana);
std::optional<QRegion> desenfoquePedido(QWidget* ventana);

}  // namespace VentanaFlotante
