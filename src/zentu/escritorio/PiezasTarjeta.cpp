#include "zentu/escritorio/PiezasTarjeta.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

namespace PiezasTarjeta {

QColor con(QColor color, double opacidad) {
    color.setAlphaF(float(color.alphaF() * opacidad));
    return color;
}

QFont fuente(const QWidget* w, double puntos, QFont::Weight peso, bool redondeada, bool mono) {
    QFont f;
    if (mono)
        f.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Monospace")});
    else if (redondeada)
        f.setFamilies({QStringLiteral("Comfortaa"), QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")});
    else
        f.setFamilies({QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(mono ? QFont::Monospace : QFont::SansSerif);
    f.setWeight(peso);
    const int dpi = w ? w->logicalDpiY() : 72;
    f.setPointSizeF(puntos * 72.0 / (dpi > 0 ? dpi : 72));
    return f;
}

Girador::Girador(QWidget* padre, double lado, QColor color) : QWidget(padre), color_(color) {
    setFixedSize(int(std::ceil(lado)), int(std::ceil(lado)));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    temporizador_.setInterval(50);
    QObject::connect(&temporizador_, &QTimer::timeout, this, [this] {
        angulo_ = (angulo_ + 30) % 360;
        update();
    });
}

void Girador::showEvent(QShowEvent*) { temporizador_.start(); }
void Girador::hideEvent(QHideEvent*) { temporizador_.stop(); }

void Girador::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double grosor = std::max(1.5, width() / 9.0);
    const QRectF r = QRectF(rect()).adjusted(grosor, grosor, -grosor, -grosor);
    p.setPen(QPen(con(color_, 0.25), grosor));
    p.drawEllipse(r);
    p.setPen(QPen(color_, grosor, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(r, -angulo_ * 16, 100 * 16);
}

}  // namespace PiezasTarjeta
