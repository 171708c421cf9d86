#pragma once

// The test's X screen as the owner sees and clicks it: a plain window put under the window being
// tested, the colour of one pixel on the screen, and a click of the real pointer.

#include "comun/Ayudas.h"

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <string>

namespace pruebas {

// A plain window of one colour, counting the clicks it gets.
class Fondo : public QWidget {
public:
    explicit Fondo(QColor color) : QWidget(nullptr, Qt::FramelessWindowHint), color_(color) {}
    int clics = 0;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), color_); }
    void mousePressEvent(QMouseEvent*) override { ++clics; }

private:
    QColor color_;
};

// Shows a plain window at `donde`; a window manager may first place it by its own rules, then
// it is moved where it belongs. False if it was not shown there in time.
inline bool ponerEn(QWidget& w, const QRect& donde) {
    w.setGeometry(donde);
    w.show();
    if (!esperarHasta([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }, 20000)) return false;
    if (!esperarHasta(
            [&] {
                if (w.geometry() != donde) w.setGeometry(donde);
                return w.geometry() == donde;
            },
            20000))
        return false;
    girar(200);
    return true;
}

// The colour the screen shows at `p`, whatever window it belongs to.
inline QColor enPantalla(QPoint p) {
    QScreen* s = QGuiApplication::primaryScreen();
    return s ? s->grabWindow(0, p.x(), p.y(), 1, 1).toImage().pixelColor(0, 0) : QColor();
}

// The corners of `g`, `dentro` pixels inside it, that the screen shows (nearly) black: where a
// window draws nothing of its own, what lies beneath must show. Empty when none is; else each
// corner as "x,y #colour; ".
inline std::string esquinasNegras(const QRect& g, int dentro = 1, int umbral = 16) {
    std::string negras;
    for (const QPoint& p : {g.topLeft() + QPoint(dentro, dentro), g.topRight() + QPoint(-dentro, dentro),
                            g.bottomLeft() + QPoint(dentro, -dentro), g.bottomRight() + QPoint(-dentro, -dentro)}) {
        const QColor c = enPantalla(p);
        if (std::max({c.red(), c.green(), c.blue()}) < umbral)
            negras += std::to_string(p.x()) + "," + std::to_string(p.y()) + " " + c.name().toStdString() + "; ";
    }
    return negras;
}

inline bool parecido(const QColor& a, const QColor& b, int tolerancia = 12) {
    return std::abs(a.red() - b.red()) <= tolerancia && std::abs(a.green() - b.green()) <= tolerancia &&
           std::abs(a.blue() - b.blue()) <= tolerancia;
}

inline bool xdotool(const QStringList& argumentos) {
    return QProcess::execute(QStringLiteral("xdotool"), argumentos) == 0;
}

// The real pointer moves to `p` and clicks there.
inline bool clic(QPoint p) {
    return xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y()), QStringLiteral("click"),
                    QStringLiteral("1")});
}

}  // namespace pruebas
