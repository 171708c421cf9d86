#pragma once

#include "plataforma/Reloj.h"
#include "zentu/isla/EstadoVoz.h"

#include <QLinearGradient>
#include <QObject>
#include <QPointer>
#include <QPolygonF>
#include <QTimer>
#include <vector>

class QPainter;
class QWidget;

// The animated orb: 27 thin glowing rings bent by the noise, drawn anew each frame from the
// voice state. It steps the state once per frame and runs no timer while the island is hidden
// or the state is frozen, so it then costs nothing and the state stands still.
class Orbe : public QObject {
    Q_OBJECT
public:
    static constexpr int grupos = 3;
    static constexpr int anillosPorGrupo = 9;
    static constexpr int puntosPorAnillo = 49;

    // Draws into `lienzo`, which must call `dibujar` from its paint event; `cuadros` frames a
    // second while the state is visible and not frozen.
    Orbe(EstadoVoz& voz, double cuadros, QWidget* lienzo, Reloj& reloj = Reloj::sistema());

    // One frame's rings and the one gradient they are all stroked with, for a canvas of the
    // given size (the radius follows the width: the canvas is meant to be square).
    struct Formas {
        std::vector<QPolygonF> anillos;  // 27 open polylines of 49 points
        QLinearGradient sombreado;
        double radio = 0;
    };
    static Formas formas(const EstadoVoz& voz, double ancho, double alto, bool oscuro);
    static void formas(const EstadoVoz& voz, double ancho, double alto, bool oscuro, Formas& salida);

    // Steps the state to the current frame's time and draws the orb into `marco`.
    void dibujar(QPainter& pintor, const QRectF& marco, bool oscuro);
    // Draws the state as it stands, without stepping it.
    static void pintar(QPainter& pintor, const QRectF& marco, const Formas& formas, bool oscuro);

    bool animando() const { return temporizador_.isActive(); }
    // A frame of the animation: takes the clock's time and asks the canvas to redraw.
    void cuadro();

private:
    void actualizar();

    EstadoVoz& voz_;
    QPointer<QWidget> lienzo_;
    Reloj& reloj_;
    QTimer temporizador_;
    double fecha_;
    Formas formas_;  // reused from frame to frame
};
