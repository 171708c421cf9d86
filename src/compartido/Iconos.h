#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>
#include <array>

class QPainter;

// The program's own line icons, drawn on a 24 × 24 grid and meant to be stroked with round caps
// and joins (the keyboard's keys are tiny segments that only a round cap turns into dots).
enum class Icono {
    microfono,
    microfonoTachado,
    cerrar,
    chat,
    enviar,
    clip,
    documento,
    telefono,
    colgarTelefono,
    teclado,
    isla,
    persona,
    pulso,
    monitor,
    zona,
};

namespace Iconos {

inline constexpr std::array<Icono, 15> todos = {
    Icono::microfono, Icono::microfonoTachado, Icono::cerrar,  Icono::chat,     Icono::enviar,
    Icono::clip,      Icono::documento,        Icono::telefono, Icono::colgarTelefono, Icono::teclado,
    Icono::isla,      Icono::persona,          Icono::pulso,   Icono::monitor,  Icono::zona,
};

// The icon's outline fitted to `rect`: scaled uniformly by min(width, height) / 24 and placed
// at the rectangle's top-left corner (not centred). Built afresh on every call; an empty path
// for a rectangle without area.
QPainterPath forma(Icono icono, const QRectF& rect);

// Strokes `forma(icono, rect)` with round caps and joins, `grosor` wide, without fill.
void trazar(QPainter& pintor, Icono icono, const QRectF& rect, const QColor& color, qreal grosor);

}  // namespace Iconos
