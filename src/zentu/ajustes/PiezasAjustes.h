#pragma once

#include "plataforma/EsquemaColor.h"
#include "zentu/isla/Atajo.h"
#include "zentu/isla/Vidrio.h"

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

class QPainter;
class QVBoxLayout;

// The building blocks of every pane of the settings window: type, the text colours of a
// scheme, the glass card, the switch row, the key caps and the link button. Sizes are in points,
// which are the window's units.
namespace Piezas {

// The text face (Inter; rounded: Comfortaa), falling back to the system's sans face.
QFont fuente(qreal puntos, QFont::Weight peso = QFont::Normal, bool redondeada = false);

QColor primario(Esquema esquema);
QColor secundario(Esquema esquema);
QColor terciario(Esquema esquema);
// Fixed orange of the warnings (missing permissions, the permission note).
QColor naranja(Esquema esquema);
// `color` at `alfa` of its opacity.
QColor conAlfa(QColor color, qreal alfa);

// A text label with the given type and colour; `envolver` lets it take more lines.
QLabel* etiqueta(const QString& texto, const QFont& fuente, const QColor& color, bool envolver = false,
                 QWidget* padre = nullptr);

// One line of text that, when short of room, ends in "…" instead of being clipped.
class Recortada : public QLabel {
public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
};
// The same as `etiqueta`, one line, cut at the end.
QLabel* recortada(const QString& texto, const QFont& fuente, const QColor& color, QWidget* padre = nullptr);

// The key-cap texts of a combination: each modifier's name, then the key's name.
QStringList teclas(const Combinacion& comb);

// A glass card: a column of rows, 16 in from the sides and 6 from top and bottom.
class Tarjeta : public QWidget {
public:
    explicit Tarjeta(Esquema esquema, QWidget* padre = nullptr);
    QVBoxLayout* columna() const { return columna_; }

private:
    QVBoxLayout* columna_;
};

// The hairline between the rows of a card.
class Separador : public QWidget {
public:
    explicit Separador(Esquema esquema, QWidget* padre = nullptr);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Esquema esquema_;
};

// A small on/off switch in the accent colour.
class Interruptor : public QAbstractButton {
public:
    Interruptor(Esquema esquema, QWidget* padre = nullptr);
    QSize sizeHint() const override { return {32, 18}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    Esquema esquema_;
};

// A row of a title, a description under it and a switch at the right. The switch only asks:
// `alCambiar` gets the new value and the row shows what `setValor` says afterwards.
class FilaInterruptor : public QWidget {
public:
    FilaInterruptor(const QString& titulo, const QString& descripcion, Esquema esquema, QWidget* padre = nullptr);

    void setValor(bool valor);
    bool valor() const;
    void setDescripcion(const QString& texto, bool aviso);
    QString descripcion() const;
    bool aviso() const { return aviso_; }
    Interruptor* interruptor() const { return interruptor_; }

    std::function<void(bool)> alCambiar;

private:
    Esquema esquema_;
    QLabel* descripcion_;
    Interruptor* interruptor_;
    bool aviso_ = false;
};

// One key cap. The large one (12 pt, at least 26 × 26, raised) is the shortcut rows'; the small
// one (9.5 pt, at least 17 × 17, flat) is the quick-action cards'.
class Tecla : public QWidget {
public:
    Tecla(const QString& texto, bool mini, Esquema esquema, QWidget* padre = nullptr);
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    const QString& texto() const { return texto_; }

    // Size and drawing of a cap, for views that paint their caps themselves.
    static QSizeF medida(const QString& texto, bool mini);
    static void pintar(QPainter& p, const QRectF& marco, const QString& texto, bool mini, Esquema esquema);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString texto_;
    bool mini_;
    Esquema esquema_;
};

// A borderless text button drawn like a link.
class BotonEnlace : public QPushButton {
public:
    BotonEnlace(const QString& texto, const QColor& color, qreal puntos, QWidget* padre = nullptr);
};

// A bordered button tinted with one colour (the text in that colour).
class BotonBordeado : public QPushButton {
public:
    BotonBordeado(const QString& texto, const QColor& tinte, qreal puntos, Esquema esquema, QWidget* padre = nullptr);
};

}  // namespace Piezas
