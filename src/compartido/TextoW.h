#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QRectF>
#include <QString>

// Small text helpers of the day and agents views: one-line texts placed by their top edge, as
// the views' stacks place them, elided or shrunk to fit when a line limit applies.
namespace TextoW {

inline double alto(const QFont& f) { return QFontMetricsF(f).height(); }
inline double ascenso(const QFont& f) { return QFontMetricsF(f).ascent(); }
inline double ancho(const QFont& f, const QString& t) { return QFontMetricsF(f).horizontalAdvance(t); }

// Draws `t` on one line with its top at `y`, starting at `x`; elided at `maximo` when given.
inline double linea(QPainter& p, const QFont& f, const QColor& c, double x, double y, const QString& t,
                    double maximo = -1) {
    const QFontMetricsF m(f);
    const QString visible = maximo >= 0 ? m.elidedText(t, Qt::ElideRight, maximo) : t;
    p.setFont(f);
    p.setPen(c);
    p.drawText(QPointF(x, y + m.ascent()), visible);
    return m.horizontalAdvance(visible);
}

// The font shrunk (down to `factor` of its size) so that `t` fits in `maximo`.
inline QFont encoger(QFont f, const QString& t, double maximo, double factor) {
    const double original = f.pointSizeF();
    double escala = 1;
    while (escala > factor && QFontMetricsF(f).horizontalAdvance(t) > maximo) {
        escala = std::max(factor, escala - 0.05);
        f.setPointSizeF(original * escala);
    }
    return f;
}

// One line centred horizontally on `cx`, shrunk to fit and then elided.
inline void centrada(QPainter& p, QFont f, const QColor& c, double cx, double y, const QString& t, double maximo,
                     double factor = 1) {
    if (factor < 1) f = encoger(f, t, maximo, factor);
    const QFontMetricsF m(f);
    const QString visible = m.elidedText(t, Qt::ElideRight, maximo);
    p.setFont(f);
    p.setPen(c);
    p.drawText(QPointF(cx - m.horizontalAdvance(visible) / 2, y + m.ascent()), visible);
}

inline QColor conOpacidad(QColor c, double opacidad) {
    c.setAlphaF(float(c.alphaF() * opacidad));
    return c;
}

}  // namespace TextoW
