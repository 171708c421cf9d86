#pragma once

#include "plataforma/EsquemaColor.h"
#include "plataforma/Reloj.h"

#include <QColor>
#include <QMarginsF>
#include <QObject>
#include <QPainterPath>
#include <QPointer>
#include <QRectF>
#include <QStringList>

class QAbstractButton;
class QPainter;
class QWidget;

// The four accent colours of a colour scheme. The dark column is the pill's own constants.
struct Paleta {
    explicit Paleta(Esquema esquema);

    QColor lima;      // main accent
    QColor turquesa;  // second accent
    QColor rojo;      // red accent
    QColor tinta;     // text, and faint fills and strokes over the glass
};

// The outline of a glass surface, resolved against whatever rectangle the element gets: a
// capsule (the pill) or a rectangle with rounded corners (cards, panels, bubbles). Both can be
// inset, so the hairline is drawn along the inside of the outline.
class FormaVidrio {
public:
    static FormaVidrio capsula() { return FormaVidrio(true, 0); }
    static FormaVidrio redondeada(qreal radio) { return FormaVidrio(false, radio); }

    QPainterPath camino(const QRectF& marco) const;
    // The outline moved inwards by `margen` on every side.
    QPainterPath caminoInterior(const QRectF& marco, qreal margen) const;

    bool esCapsula() const { return capsula_; }
    qreal radio() const { return radio_; }

private:
    FormaVidrio(bool capsula, qreal radio) : capsula_(capsula), radio_(radio) {}
    bool capsula_;
    qreal radio_;
};

// The glass surface behind an element. There is no system glass effect on Linux, so the classic
// rendering is always used: a translucent tinted fill of the shape behind the content and a
// 1-point hairline inside its outline over the content. Without a compositor that blurs what lies
// behind the window, the tint is dense enough that nothing beneath can be read; where no
// compositor runs at all, the fill is opaque.
class Vidrio {
public:
    Vidrio(FormaVidrio forma, Esquema esquema) : forma_(forma), esquema_(esquema) {}

    const FormaVidrio& forma() const { return forma_; }
    Esquema esquema() const { return esquema_; }

    // Behind the content.
    void pintarFondo(QPainter& pintor, const QRectF& marco) const;
    void pintarFondo(QPainter& pintor, const QRectF& marco, bool translucido) const;
    // Over the content: primary foreground (black in light, white in dark) at 0.08, 1 wide.
    void pintarBorde(QPainter& pintor, const QRectF& marco) const;

    // Gives `vista` its glass: the fill is painted under the widget's own painting and the
    // hairline by an overlay child that lets clicks through. Replaces an earlier glass of
    // the same widget.
    void aplicar(QWidget* vista) const;

    // The fill colour, translucent or opaque.
    static QColor colorMaterial(Esquema esquema, bool translucido);
    // With `desenfocado` the compositor blurs what lies behind the window.
    static QColor colorMaterial(Esquema esquema, bool translucido, bool desenfocado);
    static QColor colorBorde(Esquema esquema);
    // Whether windows may be translucent right now (a compositor runs).
    static bool translucido();

    // True when the command line holds a whole argument "--captura", "--vidrio-clasico" or
    // "--captura-widgets". The classic look is the only one here, so this changes nothing in
    // the drawing; it is kept so the switches are recognised.
    static bool sinLiquidGlass();
    static bool sinLiquidGlass(const QStringList& argumentos);

private:
    FormaVidrio forma_;
    Esquema esquema_;
};

// The glass's drop shadow: black at 0.4 in the dark scheme and 0.15 otherwise, blurred by
// `radio`, 10 points below the shape. Painted only where translucency exists: on an opaque
// window there is nothing for it to fall on. Where the surface it is painted on ends before the
// shadow does, the shadow fades out over the room there is instead of being cut.
class SombraVidrio {
public:
    SombraVidrio(Esquema esquema, qreal radio) : esquema_(esquema), radio_(radio) {}

    Esquema esquema() const { return esquema_; }
    qreal radio() const { return radio_; }
    void setRadio(qreal radio) { radio_ = radio; }

    static constexpr qreal desplazamiento = 10;
    static qreal opacidad(Esquema esquema) { return esquema == Esquema::oscuro ? 0.4 : 0.15; }
    // How far the shadow reaches beyond the shape on each side (the bottom adds the offset).
    qreal alcance() const;
    // How far the shadow can be seen beyond the shape on each side, in points: where its
    // strongest rendering (the dark scheme's) rounds to nothing. A window is no larger than its
    // shape with these margins.
    QMarginsF margenes() const;

    void pintar(QPainter& pintor, const FormaVidrio& forma, const QRectF& marco) const;
    void pintar(QPainter& pintor, const FormaVidrio& forma, const QRectF& marco, bool translucido) const;

    // Paints the shadow of `vista` (shaped as `forma`) on its parent, under the parent's own
    // painting; the parent must leave room around `vista` for it (see `alcance`).
    void aplicar(QWidget* vista, const FormaVidrio& forma) const;

private:
    Esquema esquema_;
    qreal radio_;
};

// The pressed feedback of a button: its label shrinks to 92 % around its centre while pressed
// and returns to full size on release, easing out over 0.12 s. Adds nothing else. The button
// paints its label through `transformar`; the style repaints it while the scale moves.
class Presionable : public QObject {
    Q_OBJECT
public:
    static constexpr qreal escalaPresionado = 0.92;
    static constexpr double duracion = 0.12;

    explicit Presionable(QAbstractButton* boton, Reloj& reloj = Reloj::sistema());

    qreal escala() const;
    // Scales the painter around the centre of `etiqueta` by the current scale.
    void transformar(QPainter& pintor, const QRectF& etiqueta) const;

signals:
    void escalaCambio();

private:
    void hacia(qreal destino);
    void paso();

    QPointer<QAbstractButton> boton_;
    Reloj& reloj_;
    qreal desde_ = 1;
    qreal hasta_ = 1;
    double inicio_ = -1e9;
    Temporizador cuadro_;
};
