#pragma once

#include "plataforma/EsquemaColor.h"

#include <QLayout>
#include <QPointF>
#include <QPointer>
#include <QRegion>
#include <QRectF>
#include <QSizeF>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

// What every floating card shares: the window that carries one card, the card chrome (title row
// with its close button on glass), a vertical scroll container that gives way to plain content
// while the screenshot renderer draws, and a layout that wraps its items onto rows.

// Space around a card in which its shadow is drawn, on every side.
inline constexpr double kMargenTarjeta = 24;
// The corner radius of a card's glass.
inline constexpr double kRadioTarjeta = 22;
// The object name of a card's glass surface: the card window takes its shape from these.
inline constexpr const char* kNombreSuperficie = "superficie";

// The borderless window of one card: above other windows, on every workspace, out of the
// taskbar, without a frame. Its size is fixed at creation; Escape hides it.
class PanelFlotante : public QWidget {
    Q_OBJECT
public:
    // `tam` is the card's size; a height of exactly 0 asks the window to measure the content's
    // height for its width. The window takes ownership of `contenido`.
    PanelFlotante(QSizeF tam, QWidget* contenido);

    // Called after Escape has hidden the window; without it Escape only hides.
    std::function<void()> alCerrar;

    // Position the window (centred on the pointer's screen, or next to the pointer and kept on
    // the screen), show it, raise it and give it the keyboard. With no screen nothing happens.
    void mostrarCentrado();
    void mostrarJuntoAlRaton();
    // Beside `ancla` (a rectangle in global coordinates, such as the island's pill): to its right,
    // else to its left, else below it, and kept on the screen that holds it.
    void mostrarJunto(const QRectF& ancla);

    // What Escape does: hide, then `alCerrar`.
    void cancelar();

    // Puts `nuevo` in place of the content, in the same window at the same size (the same card
    // built again, in another colour scheme). What the owner typed in its text fields goes over to
    // the same fields of the new content, and so does the keyboard.
    void cambiarContenido(QWidget* nuevo);
    QWidget* contenido() const { return contenido_; }

    // The arithmetic, apart from the window system, in screen coordinates whose y grows downwards.
    struct Pantalla {
        QRectF marco;    // the whole screen
        QRectF visible;  // without panels and docks
    };
    // Window size for a card size; `altoAjustado(ancho)` measures the content's height for a width.
    static QSizeF tamanoVentana(QSizeF tam, const std::function<double(double)>& altoAjustado);
    // The screen whose frame holds the pointer, else the main one (index), else none.
    static std::optional<Pantalla> pantallaDe(QPointF raton, const std::vector<Pantalla>& pantallas,
                                              int principal);
    // Top-left corner of the window: centred in the visible frame and raised by 5 % of its height.
    static QPointF origenCentrado(QRectF visible, QSizeF ventana);
    // Top-left corner of the window centred on the pointer, kept inside the visible frame; a window
    // larger than the frame keeps its top edge (with the title row) and its right edge on screen.
    static QPointF origenJuntoAlRaton(QPointF raton, QRectF visible, QSizeF ventana);
    // Top-left corner of the window beside `ancla`, as `mostrarJunto` places it.
    static QPointF origenJunto(QRectF ancla, QRectF visible, QSizeF ventana);

    // The cards' glass surfaces in this window, in its coordinates: what the window is cut to
    // where nothing can be see-through.
    QRegion forma() const;

protected:
    void keyPressEvent(QKeyEvent* evento) override;
    bool eventFilter(QObject* objeto, QEvent* evento) override;
    void moveEvent(QMoveEvent* evento) override;
    void showEvent(QShowEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;
    void paintEvent(QPaintEvent* evento) override;

private:
    static std::vector<Pantalla> pantallasDelSistema(int* principal);
    void presentar(QPointF origen);
    void darForma();
    std::optional<QRegion> formaDada_;
    QPointer<QWidget> contenido_;
    // Where the window was asked to appear, until the owner presses it; a window manager that
    // puts it elsewhere by its own rules is answered once by moving it back.
    std::optional<QPoint> pedido_;
    bool devuelto_ = false;
};

// The card chrome: title, close button (tooltip "Cerrar (Esc)") and the content below, on a glass
// surface of exactly `tam` with rounded corners and a shadow, inside a 24-point margin. The title
// row is the handle by which the owner drags the card's window.
class Tarjeta : public QWidget {
    Q_OBJECT
public:
    // `esquema` chooses the palette and the glass tint; by default the desktop's.
    Tarjeta(QString titulo, QSizeF tam, std::function<void()> cerrar, QWidget* contenido,
            Esquema esquema = EsquemaColor::sistema().actual(), QWidget* padre = nullptr);

    QSize sizeHint() const override;
    Esquema esquema() const { return esquema_; }
    QWidget* botonCerrar() const { return boton_; }
    QWidget* filaTitulo() const { return fila_; }
    QWidget* superficie() const { return superficie_; }

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    QString titulo_;
    QSizeF tam_;
    std::function<void()> cerrar_;
    Esquema esquema_;
    QWidget* superficie_ = nullptr;
    QWidget* fila_ = nullptr;
    QWidget* boton_ = nullptr;
    QPoint agarre_;
    bool arrastrando_ = false;
};

// Vertical scroll container of a card's content; while CapturaW::activa is set it shows the
// content plainly, so that a rendered picture holds the whole content with no scroll bar.
class Desplazable : public QWidget {
    Q_OBJECT
public:
    explicit Desplazable(QWidget* contenido, QWidget* padre = nullptr);
    bool desplaza() const { return desplaza_; }

private:
    bool desplaza_ = false;
};

// Places its items left to right in rows, starting a new row when the next item would pass the
// width; `espacio` is the gap between neighbours and between rows.
class FlowLayout : public QLayout {
public:
    explicit FlowLayout(double espacio, QWidget* padre = nullptr);
    ~FlowLayout() override;

    double espacio = 8;

    // The walk, as pure functions of the items' ideal sizes. Without a width the layout uses 300.
    static QSizeF medir(const std::vector<QSizeF>& ideales, std::optional<double> ancho, double espacio);
    static std::vector<QPointF> colocar(const std::vector<QSizeF>& ideales, QRectF limites, double espacio);

    void addItem(QLayoutItem* item) override;
    int count() const override;
    QLayoutItem* itemAt(int indice) const override;
    QLayoutItem* takeAt(int indice) override;
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int ancho) const override;
    void setGeometry(const QRect& r) override;
    Qt::Orientations expandingDirections() const override { return {}; }

private:
    std::vector<QSizeF> ideales() const;
    std::vector<QLayoutItem*> items_;
};
