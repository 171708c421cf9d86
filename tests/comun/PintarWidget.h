#pragma once

#include "compartido/VistasWidgets.h"

#include <QImage>
#include <QPainter>
#include <functional>

namespace pruebas {

// One widget view drawn inside the common widget frame, as the host shows it, into a transparent
// picture of the widget's size.
inline QImage pintarWidget(QSize tam, const std::function<void(QPainter&, const QRectF&, const PaletaW&)>& vista,
                           bool oscuro, QPointF brillo = {0.5, 0.5}) {
    QImage img(tam, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    MarcoW marco;
    marco.oscuro = oscuro;
    marco.brillo = brillo;
    marco.contenido = [&](QPainter& q, const QRectF& r, const PaletaW& pal, ZonasEnlace*) { vista(q, r, pal); };
    marco.pintar(p, QRectF(QPointF(0, 0), tam));
    return img;
}

}  // namespace pruebas
