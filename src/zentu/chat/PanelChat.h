#pragma once

#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

// The chat panel's geometry as pure functions, in screen points with the origin at the
// bottom-left of the primary screen and y growing upwards (a rectangle's y() is its bottom
// edge). Drag translations are in the pointer's coordinates, y growing downwards.
namespace GeometriaChat {

inline constexpr double margen = 24;  // transparent, on every side of the card
inline constexpr double radio = 22;   // of the card's corners
inline constexpr double anchoContenido = 380, altoContenido = 480;
inline constexpr double minimoGuardadoAncho = 320, minimoGuardadoAlto = 360;
inline constexpr double anchoMin = 368, anchoMax = 808, altoMin = 408, altoMax = 1028;
// The X server cannot make a window beyond this; a stored size is cut to it.
inline constexpr double tamanoMaximoX = 32767 - 2 * margen;

enum class Esquina { arribaIzquierda, arribaDerecha, abajoIzquierda, abajoDerecha };

struct Pantalla {
    QRectF marco;    // the whole screen
    QRectF visible;  // without the panels the desktop reserves
};

// The content size from the stored "{w, h}" text: 380 × 480 when absent, unreadable, or under
// 320 wide or 360 tall.
QSizeF tamanoGuardado(const std::optional<QString>& texto);
QString textoDeTamano(QSizeF tam);
std::optional<QSizeF> tamanoDeTexto(const QString& texto);

// The panel of size `panel` next to anchor `a` (above it when there is room, else below), its
// window's edge on the anchor's so that its see-through margin never lies over the anchor,
// inside the visible frame of the first screen that meets the anchor, or of the main one.
// None when there is no screen.
std::optional<QRectF> colocar(QSizeF panel, const QRectF& a, const std::vector<Pantalla>& pantallas, int principal);

// The frame after dragging corner `c` by `d` from frame `base`, within the clamps and with the
// opposite corner kept.
QRectF redimensionar(const QRectF& base, Esquina c, QSizeF d);

}  // namespace GeometriaChat

// The chat's floating window: frameless and see-through around the card, above the other
// windows on every workspace, out of the taskbar, and able to take the keyboard. It opens next
// to the island, is resized from its four corners, and remembers its content size
// ("zentu.chat.tam").
class PanelChat : public QWidget {
    Q_OBJECT
public:
    using Esquina = GeometriaChat::Esquina;

    // Takes `contenido` (the chat view) as its only child, filling the window.
    explicit PanelChat(QWidget* contenido);

    static Qt::CursorShape cursor(Esquina c);

    // Places the panel next to `ancla` (Qt global coordinates, such as the island's pill),
    // keeping its size. With no screen it stays where it is.
    void colocar(const QRectF& ancla);
    // One step of a corner drag: `d` is the whole translation since the drag began.
    void redimensionar(Esquina c, QSizeF d, bool terminado);
    // Shows the panel in front and gives it the keyboard.
    void mostrar();
    // Puts `nuevo` in place of the chat view (the view made again in another colour scheme); the
    // keyboard goes with it.
    void cambiarContenido(QWidget* nuevo);

    // The frame in the coordinates of GeometriaChat when the current drag began.
    const std::optional<QRectF>& alEmpezar() const { return alEmpezar_; }
    // The frame in those coordinates.
    QRectF marco() const;

protected:
    void showEvent(QShowEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    void aplicar(const QRectF& marco);
    void darForma();
    static QRectF principal();

    QPointer<QWidget> contenido_;
    std::optional<QRectF> alEmpezar_;
};

// The invisible grips at the four corners of the chat card: 18 × 18 squares that show the
// corner's resize cursor and report drags (translation in global coordinates) to `redimensionar`
// with `terminado` false on every move and true at the release. They are children of `tarjeta`
// and follow its size.
class Esquinas : public QObject {
    Q_OBJECT
public:
    using Accion = std::function<void(PanelChat::Esquina, QSizeF, bool)>;
    Esquinas(QWidget* tarjeta, Accion redimensionar);

    QWidget* agarre(PanelChat::Esquina c) const;

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    void ajustar();
    QPointer<QWidget> tarjeta_;
    std::vector<QWidget*> agarres_;
};
