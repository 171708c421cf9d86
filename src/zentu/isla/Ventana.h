#pragma once

#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class EstadoVoz;
class QKeyEvent;

// The island window's geometry as pure functions. Rectangles here are in screen points with
// the origin at the bottom-left of the primary screen and y growing upwards: a rectangle's
// y() is its bottom edge and y() + height() its top edge. `aQt`/`deQt` convert at the edge.
namespace GeometriaIsla {

inline constexpr double ancho = 320;      // the window at scale 1
inline constexpr double alto = 176;
inline constexpr double anchoPildora = 230;
inline constexpr double altoPildora = 56;
inline constexpr double margenPildora = 50;  // from the window's top edge to the pill's

struct Pantalla {
    QRectF marco;    // the whole screen
    QRectF visible;  // without the panels the desktop reserves
};

// Raised to 0.9, then lowered to 2.2; not a number gives 0.9.
double limitarEscala(double x);

// The frame for scale `e` that keeps the top-centre point of `actual`.
QRectF marcoConEscala(const QRectF& actual, double e);

// The frame `r` kept within reach of screen frame `f`: at most 40·e past the sides, 80·e below
// the bottom and 22·e above the top.
QRectF dentro(const QRectF& r, const QRectF& f, double e);

// The frame for a new scale `x` of a window at scale `escala` with frame `actual`, on
// `pantalla` if it is on one; none when the scale barely changes (0.001 or less).
struct CambioDeEscala {
    double escala;
    QRectF marco;
};
std::optional<CambioDeEscala> cambiarEscala(const QRectF& actual, double escala, double x,
                                            const std::optional<QRectF>& pantalla);

// Where the island goes when shown: at the stored top-centre point if a screen still meets it,
// else at the top centre of the screen under the pointer (or `principal`), its top edge 22·e
// above the visible frame's top. None when there are no screens.
std::optional<QRectF> colocar(const std::optional<QPointF>& sitio, const std::vector<Pantalla>& pantallas,
                              const QPointF& puntero, int principal, double e);

// The frame `r` moved, whole, into `visible` (the part of its screen the desktop leaves to
// windows); a frame larger than that keeps its top and left edges inside.
QRectF enVisible(const QRectF& r, const QRectF& visible);

// The visible frame of the screen that `r` overlaps most; none when it meets no screen.
std::optional<QRectF> visibleDe(const QRectF& r, const std::vector<Pantalla>& pantallas);

// The pill's rectangle for a window frame at scale e.
QRectF marcoPildora(const QRectF& marco, double e);

// The stored place: a point written "{x, y}".
QString textoDePunto(const QPointF& p);
std::optional<QPointF> puntoDeTexto(const QString& texto);

// Between these coordinates and Qt's global ones (origin at the top-left of the virtual
// desktop, y downwards); `principal` is the primary screen's rectangle in Qt coordinates.
QRectF deQt(const QRectF& r, const QRectF& principal);
QRectF aQt(const QRectF& r, const QRectF& principal);
QPointF deQt(const QPointF& p, const QRectF& principal);

}  // namespace GeometriaIsla

// The island's window: frameless and see-through (all that shows is the pill), above the other
// windows on every workspace, out of the taskbar, shown without taking the focus. It grows and
// shrinks with the island's scale keeping its top centre, stays whole inside the visible part of
// its screen, remembers where the owner drags it ("zentu.isla.sitio", the top-centre point in the
// coordinates above), and offers its keys to the shell first. A move the owner did not make (a
// window manager placing or nudging the window by its own rules) is not remembered: the window
// goes back to its place.
class PanelIsla : public QWidget {
    Q_OBJECT
public:
    // Takes `contenido` (the root view) as its only child, filling the window.
    explicit PanelIsla(QWidget* contenido);

    // The shell's key handler; true means the key was handled.
    std::function<bool(QKeyEvent*)> alTeclear;

    double escala() const { return escala_; }
    // Resizes the window for a new scale, keeping its top centre (within reach of its screen).
    void cambiarEscala(double escala);
    // Puts the window at the stored place, or at the top centre of the pointer's screen.
    void colocar();
    // The pill's rectangle on the screen, in Qt's global coordinates.
    QRectF marcoPildora() const;
    // The island's frame (320·e × 176·e, or taller while a long notice shows) in Qt's global
    // coordinates. The window itself is only the part of it the island draws in (the pill, its
    // shadow, its bubble): everywhere else the windows beneath show and take the clicks, also
    // where the desktop keeps no input shape.
    QRect marco() const;
    // Puts the shown island on top of the program's other floating windows.
    void alFrente();

protected:
    bool event(QEvent* evento) override;
    bool eventFilter(QObject* objeto, QEvent* evento) override;
    void keyPressEvent(QKeyEvent* evento) override;
    void moveEvent(QMoveEvent* evento) override;
    void showEvent(QShowEvent* evento) override;
    void hideEvent(QHideEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;

private:
    void aplicar(const QRectF& marcoQt);
    // The frame's size now, and the part of it the window covers (in the frame's own pixels).
    QSize tamanoMarco() const;
    QRect recorte(QSize marco) const;
    // The window fitted again to what the island draws, the frame's top-left corner kept.
    void ajustarRecorte();
    // The window's height: its scaled height, or what its content asks for when that is more
    // (a long notice). The top edge stays where it is.
    int altoConContenido(double altoEscalado) const;
    void ajustarAlto();
    void seMovio();
    void darForma();
    static QRectF principal();
    static std::vector<GeometriaIsla::Pantalla> pantallas(const QRectF& base, int* indicePrincipal = nullptr);

    QPointer<QWidget> contenido_;
    QRect recorte_;  // the window's part of the frame, in the frame's pixels
    double escala_ = 1;
    bool moviendoYo_ = false;
    std::optional<QPoint> esperado_;  // where our own last move put the window
    bool devuelto_ = false;           // put back once since the last placing
    bool pulsada_ = false;            // pressed by the owner since the last placing
};

// The window's root view: the content laid out in 320 × 176 points and scaled by the island's
// scale from its top-left corner. The content draws itself at its width divided by 320; when its
// size hint asks for more than 176 points of height (a long notice), it gets them, and so does
// this view's own size hint, which the window follows.
class RaizIsla : public QWidget {
    Q_OBJECT
public:
    RaizIsla(EstadoVoz& voz, QWidget* contenido, QWidget* padre = nullptr);

    QSize sizeHint() const override;

    // What the island draws, in this view's pixels: the pill's capsule and the bubble shown with
    // it; nothing while the island is hidden. The window is cut to it where nothing can be
    // see-through.
    QRegion forma() const;
    // Everything the island may paint, in this view's pixels: the capsule with its shadow, the
    // orb's glow and the bubble, whether shown or fading.
    QRect dibujo() const;

signals:
    void formaCambio();
    // A notice came up.
    void avisoCambio();

protected:
    bool event(QEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;

private:
    void ajustar();
    QSize tamanoContenido() const;
    EstadoVoz& voz_;
    QPointer<QWidget> contenido_;
};
