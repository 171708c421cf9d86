#pragma once

#include "compartido/VistasWidgets.h"

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QString>
#include <algorithm>

// One-line texts of the day and agents views placed by their top edge, as the views' stacks place
// them; metrics are those of the device the painter draws on.
namespace Renglon {

inline QFontMetricsF metricas(const QPainter& p, const QFont& f) {
    return p.device() ? QFontMetricsF(f, p.device()) : QFontMetricsF(f);
}
inline double alto(const QPainter& p, const QFont& f) { return metricas(p, f).height(); }
inline double ancho(const QPainter& p, const QFont& f, const QString& t) { return metricas(p, f).horizontalAdvance(t); }

// Draws `t` on one line with its top at `y`, from `x`; cut with an ellipsis at `maximo` when given.
// Returns the width drawn.
inline double linea(QPainter& p, const QFont& f, const QColor& c, double x, double y, const QString& t,
                    double maximo = -1) {
    const QFontMetricsF m = metricas(p, f);
    const QString visible = maximo >= 0 ? m.elidedText(t, Qt::ElideRight, maximo) : t;
    p.setFont(f);
    p.setPen(c);
    p.drawText(QPointF(x, y + m.ascent()), visible);
    return m.horizontalAdvance(visible);
}

// One line centred on `cx`, shrunk (down to `factor` of its size) to fit `maximo`, then cut.
inline void centrada(QPainter& p, QFont f, const QColor& c, double cx, double y, const QString& t, double maximo,
                     double factor = 1) {
    if (factor < 1) f = TextoW::encoger(p, f, t, maximo, factor);
    const QFontMetricsF m = metricas(p, f);
    const QString visible = m.elidedText(t, Qt::ElideRight, maximo);
    p.setFont(f);
    p.setPen(c);
    p.drawText(QPointF(cx - m.horizontalAdvance(visible) / 2, y + m.ascent()), visible);
}

inline QColor conOpacidad(QColor c, double opacidad) {
    c.setAlphaF(float(c.alphaF() * opacidad));
    return c;
}

}  // namespace Renglon
