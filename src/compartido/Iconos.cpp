#include "compartido/Iconos.h"

#include <QPainter>
#include <QPen>
#include <QTransform>
#include <cmath>
#include <functional>

namespace {

// A drawing in grid units, appended to the path it is given.
struct Trazo {
    std::function<void(QPainterPath&)> dibujo;

    QPainterPath camino(const QRectF& r) const {
        if (!(r.width() > 0) || !(r.height() > 0)) return {};
        QPainterPath enRejilla;
        dibujo(enRejilla);
        const qreal s = std::min(r.width(), r.height()) / 24.0;
        // (x, y) -> (minX + s·x, minY + s·y): scale, then move to the top-left corner.
        return QTransform(s, 0, 0, s, r.left(), r.top()).map(enRejilla);
    }
};

enum class Sentido { arriba, abajo };

// An arc around (cx, cy) from `desde` to `hasta` degrees, angles growing from +x towards +y.
// "arriba" sweeps with growing angles, "abajo" with shrinking ones. Following a current point,
// a straight line joins it to the arc's start; an arc that opens a drawing starts there.
void arco(QPainterPath& p, qreal cx, qreal cy, qreal radio, qreal desde, qreal hasta, Sentido sentido) {
    qreal barrido = sentido == Sentido::arriba ? std::fmod(hasta - desde, 360.0) : std::fmod(desde - hasta, 360.0);
    if (barrido < 0) barrido += 360.0;
    if (sentido == Sentido::abajo) barrido = -barrido;
    const qreal rad = desde * M_PI / 180.0;
    const QPointF inicio(cx + radio * std::cos(rad), cy + radio * std::sin(rad));
    if (p.elementCount() == 0) p.moveTo(inicio);
    // Qt measures angles the other way round (towards -y), hence the signs.
    p.arcTo(QRectF(cx - radio, cy - radio, 2 * radio, 2 * radio), -desde, -barrido);
}

void rectRedondeado(QPainterPath& p, qreal x, qreal y, qreal an, qreal al, qreal radio) {
    p.addRoundedRect(QRectF(x, y, an, al), radio, radio);
}

void elipse(QPainterPath& p, qreal x, qreal y, qreal an, qreal al) { p.addEllipse(QRectF(x, y, an, al)); }

void q(QPainterPath& p, qreal x, qreal y, qreal cx, qreal cy) { p.quadTo(cx, cy, x, y); }

void auricular(QPainterPath& p) {
    p.moveTo(22, 16.9);
    p.lineTo(22, 19.9);
    q(p, 19.8, 21.9, 22, 22);
    q(p, 2.1, 4.2, 3.5, 20.5);
    q(p, 4.1, 2, 2, 2);
    p.lineTo(7.1, 2);
    q(p, 9.1, 3.7, 8.9, 2);
    q(p, 8.6, 7.9, 9.5, 6.6);
    p.lineTo(7.3, 9.2);
    q(p, 14.8, 16.7, 9.5, 14);
    p.lineTo(16.1, 15.4);
    q(p, 20.3, 14.9, 17.4, 14.5);
    q(p, 22, 16.9, 22, 15.1);
}

Trazo trazo(Icono icono) {
    using S = Sentido;
    switch (icono) {
    case Icono::microfono:
        return {[](QPainterPath& p) {
            rectRedondeado(p, 9, 2, 6, 13, 3);
            p.moveTo(19, 10);
            p.lineTo(19, 12);
            arco(p, 12, 12, 7, 0, 180, S::arriba);
            p.lineTo(5, 10);
            p.moveTo(12, 19);
            p.lineTo(12, 22);
        }};
    case Icono::microfonoTachado:
        return {[](QPainterPath& p) {
            p.moveTo(2, 2);
            p.lineTo(22, 22);
            p.moveTo(15, 9.3);
            p.lineTo(15, 5);
            arco(p, 12, 5, 3, 0, 205, S::abajo);
            p.moveTo(9, 9);
            p.lineTo(9, 12);
            arco(p, 12, 12, 3, 180, 45, S::abajo);
            p.moveTo(5, 10);
            p.lineTo(5, 12);
            arco(p, 12, 12, 7, 180, 60, S::abajo);
            p.moveTo(19, 10);
            p.lineTo(19, 12);
            p.lineTo(18.4, 14.8);
            p.moveTo(12, 19);
            p.lineTo(12, 22);
        }};
    case Icono::cerrar:
        return {[](QPainterPath& p) {
            p.moveTo(6, 6);
            p.lineTo(18, 18);
            p.moveTo(18, 6);
            p.lineTo(6, 18);
        }};
    case Icono::chat:
        return {[](QPainterPath& p) {
            // 330° over the top; the wedge from 120° to 150° stays open for the tail.
            arco(p, 12.5, 11.5, 8.5, 150, 120, S::arriba);
            p.lineTo(4, 20.5);
            p.lineTo(5.2, 15.8);
        }};
    case Icono::enviar:
        return {[](QPainterPath& p) {
            p.moveTo(12, 19);
            p.lineTo(12, 5);
            p.moveTo(6, 11);
            p.lineTo(12, 5);
            p.lineTo(18, 11);
        }};
    case Icono::clip:
        return {[](QPainterPath& p) {
            p.moveTo(21.4, 11.1);
            p.lineTo(12.2, 20.3);
            arco(p, 8.2, 16.3, 5.66, 45, 225, S::arriba);
            p.lineTo(13.4, 3.9);
            arco(p, 16.2, 6.7, 3.96, 225, 45, S::arriba);
            p.lineTo(10.2, 17.6);
            arco(p, 8.8, 16.2, 1.98, 45, 225, S::arriba);
            p.lineTo(15.3, 8.4);
        }};
    case Icono::documento:
        return {[](QPainterPath& p) {
            p.moveTo(14, 2);
            p.lineTo(6, 2);
            q(p, 4, 4, 4, 2);
            p.lineTo(4, 20);
            q(p, 6, 22, 4, 22);
            p.lineTo(18, 22);
            q(p, 20, 20, 20, 22);
            p.lineTo(20, 8);
            p.lineTo(14, 2);
            p.moveTo(14, 2);
            p.lineTo(14, 8);
            p.lineTo(20, 8);
            p.moveTo(8, 13);
            p.lineTo(16, 13);
            p.moveTo(8, 17);
            p.lineTo(13, 17);
        }};
    case Icono::telefono:
        return {[](QPainterPath& p) {
            QPainterPath mano;
            auricular(mano);
            p.addPath(mano);
        }};
    case Icono::colgarTelefono:
        return {[](QPainterPath& p) {
            QPainterPath mano;
            auricular(mano);
            QTransform giro;
            giro.translate(12, 12);
            giro.rotate(135);  // towards +y: the handset lies down, ready to hang up
            giro.translate(-12, -12);
            p.addPath(giro.map(mano));
        }};
    case Icono::teclado:
        return {[](QPainterPath& p) {
            rectRedondeado(p, 2, 5, 20, 14, 2.5);
            const QPointF teclas[] = {{6, 9}, {10, 9}, {14, 9}, {18, 9}, {8, 12.5}, {12, 12.5}, {16, 12.5}};
            for (const QPointF& t : teclas) {
                p.moveTo(t);
                p.lineTo(t.x() + 0.01, t.y());
            }
            p.moveTo(8, 16);
            p.lineTo(16, 16);
        }};
    case Icono::isla:
        return {[](QPainterPath& p) {
            rectRedondeado(p, 2, 7, 20, 10, 5);
            elipse(p, 5, 9.5, 5, 5);
            p.moveTo(14, 12);
            p.lineTo(18, 12);
        }};
    case Icono::persona:
        return {[](QPainterPath& p) {
            elipse(p, 8, 3, 8, 8);
            p.moveTo(4, 21);
            p.lineTo(4, 19.5);
            p.cubicTo(4, 12.5, 20, 12.5, 20, 19.5);
            p.lineTo(20, 21);
        }};
    case Icono::pulso:
        return {[](QPainterPath& p) {
            p.moveTo(22, 12);
            p.lineTo(18, 12);
            p.lineTo(15, 21);
            p.lineTo(9, 3);
            p.lineTo(6, 12);
            p.lineTo(2, 12);
        }};
    case Icono::monitor:
        return {[](QPainterPath& p) {
            rectRedondeado(p, 2, 3, 20, 14, 2);
            p.moveTo(8, 21);
            p.lineTo(16, 21);
            p.moveTo(12, 17);
            p.lineTo(12, 21);
        }};
    case Icono::zona:
        return {[](QPainterPath& p) {
            p.moveTo(3, 7);
            p.lineTo(3, 5);
            q(p, 5, 3, 3, 3);
            p.lineTo(7, 3);
            p.moveTo(17, 3);
            p.lineTo(19, 3);
            q(p, 21, 5, 21, 3);
            p.lineTo(21, 7);
            p.moveTo(21, 17);
            p.lineTo(21, 19);
            q(p, 19, 21, 21, 21);
            p.lineTo(17, 21);
            p.moveTo(7, 21);
            p.lineTo(5, 21);
            q(p, 3, 19, 3, 21);
            p.lineTo(3, 17);
        }};
    }
    return {[](QPainterPath&) {}};
}

}  // namespace

namespace Iconos {

QPainterPath forma(Icono icono, const QRectF& rect) { return trazo(icono).camino(rect); }

void trazar(QPainter& pintor, Icono icono, const QRectF& rect, const QColor& color, qreal grosor) {
    pintor.save();
    pintor.setRenderHint(QPainter::Antialiasing, true);
    QPen pluma(color, grosor, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    pintor.setPen(pluma);
    pintor.setBrush(Qt::NoBrush);
    pintor.drawPath(forma(icono, rect));
    pintor.restore();
}

}  // namespace Iconos
