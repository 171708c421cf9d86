#pragma once

#include "plataforma/Reloj.h"
#include "zentu/isla/EstadoVoz.h"

#include <QLinearGradient>
#include <QObject>
#include <QPointer>
#include <QPolygonF>
#include <QTimer>
#include <QTransform>
#include <optional>
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

    // Lays `parte` of a picture made in the painter's device pixels at `origen` (device pixels),
    // pixel for pixel, in the painter's composition mode. Other modes than drawing over go in
    // bands of 64 rows: Qt's raster engine blends a band in one go, where it hands taller ones
    // out to its thread pool and waits for it.
    static void ponerPixeles(QPainter& pintor, const QPoint& origen, const QImage& imagen, const QRect& parte);

    bool animando() const { return temporizador_.isActive(); }
    // A frame of the animation: takes the clock's time and asks the canvas to redraw. Once the
    // orb has been drawn on a visible canvas, the frame's rings are worked out here and only
    // what they and the last frame's cover is repainted.
    void cuadro();

signals:
    // A frame was asked for: whatever else moves at the orb's pace repaints with it, in the
    // same pass, instead of waking the program on a timer of its own.
    void cuadroNuevo();

private:
    void actualizar();
    // Works the rings out unless `formas_` already holds them for this state, size and scheme.
    void calcular(const QSizeF& tamano, bool oscuro);
    // What the rings in `formas_` cover on the canvas, in its coordinates.
    QRect zona() const;

    EstadoVoz& voz_;
    QPointer<QWidget> lienzo_;
    Reloj& reloj_;
    QTimer temporizador_;
    double fecha_;
    Formas formas_;  // reused from frame to frame
    struct Clave {
        EstadoVoz::Medidas animado;
        double nivel = 0, tiempo = 0;
        QSizeF tamano;
        bool oscuro = false;
        bool operator==(const Clave&) const = default;
    };
    std::optional<Clave> claveFormas_;
    // As last drawn: the size and scheme, the map from the orb's points to the canvas, and the
    // canvas rectangle its rings covered.
    std::optional<std::pair<QSizeF, bool>> dibujo_;
    QTransform aLienzo_;
    QRect zona_;
};
