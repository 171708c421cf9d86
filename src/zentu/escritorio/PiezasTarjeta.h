#pragma once

#include <QColor>
#include <QFont>
#include <QTimer>
#include <QWidget>

// Small pieces the floating cards share.
namespace PiezasTarjeta {

// `color` with its opacity multiplied by `opacidad`.
QColor con(QColor color, double opacidad);

// The program's text face at a size in points (one point is one unit of the card): Inter, the
// rounded Comfortaa, or a monospaced face, falling back to DejaVu.
QFont fuente(const QWidget* w, double puntos, QFont::Weight peso, bool redondeada = false, bool mono = false);

// A small progress spinner: an arc that turns while the spinner is on screen.
class Girador : public QWidget {
public:
    Girador(QWidget* padre, double lado, QColor color);

protected:
    void showEvent(QShowEvent* evento) override;
    void hideEvent(QHideEvent* evento) override;
    void paintEvent(QPaintEvent* evento) override;

private:
    QColor color_;
    QTimer temporizador_;
    int angulo_ = 90;
};

}  // namespace PiezasTarjeta
