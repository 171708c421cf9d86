#pragma once

#include "compartido/Iconos.h"
#include "plataforma/EsquemaColor.h"
#include "plataforma/Reloj.h"
#include "zentu/isla/EstadoVoz.h"

#include <QColor>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class QGraphicsOpacityEffect;
class LienzoOrbe;
class BotonPildora;

// The island's pill: a glass capsule holding the animated orb, a status dot and two or three
// round buttons, with a bubble above it while a call rings and one below it for a short notice.
// It lays itself out in the island's 320 × 176-point root frame and draws at its own size
// divided by that, so the window scales it by resizing it. It does nothing itself: every
// action goes to one of the seven callbacks its creator installs.
class Pildora : public QWidget {
    Q_OBJECT
public:
    // The three process-wide accent colours of the dark scheme.
    static constexpr QColor lima{183, 255, 39};
    static constexpr QColor turquesa{45, 226, 200};
    static constexpr QColor rojo{255, 107, 107};

    // Which row of buttons shows, and what each button is.
    enum class Fila { timbre, chat, estandar };
    struct Boton {
        Icono icono = Icono::cerrar;
        bool activo = false;     // its function is switched on (red)
        bool rojo = false;       // destructive (red)
        bool verde = false;      // the inviting button, filled with the accent
        bool encendido = false;  // a toggle that is on (accent-tinted)
        QString ayuda{};         // tooltip
        bool operator==(const Boton&) const = default;
    };
    static Fila fila(const EstadoVoz& voz);
    static std::vector<Boton> botones(const EstadoVoz& voz);
    static QColor colorTrazo(const Boton& boton, Esquema esquema);
    static QColor colorFondo(const Boton& boton, Esquema esquema, bool encima);
    static QColor colorPunto(const EstadoVoz& voz, Esquema esquema);
    static bool latiendo(const EstadoVoz& voz, bool puntoQuieto);
    static QString ayudaOrbe(const EstadoVoz& voz);  // empty: no tooltip
    // The text of the bubble shown, if any, and whether it is the ringing one.
    struct Burbuja {
        QString texto;
        bool timbre;
    };
    static std::optional<Burbuja> burbuja(const EstadoVoz& voz);

    // Layout in the 320 × 176 root frame (points).
    static constexpr double anchoRaiz = 320, altoRaiz = 176;
    // The blur radius of the capsule's shadow.
    static constexpr double radioSombra = 20;
    static QRectF marcoCapsula(const EstadoVoz& voz);
    // The bubble's frame in the root frame, if one shows.
    static std::optional<QRectF> marcoBurbuja(const EstadoVoz& voz);
    // The root frame's height that holds everything shown: 176, or more while a notice too long
    // for it shows (the window grows downwards to hold it).
    static double altoNecesario(const EstadoVoz& voz);

    explicit Pildora(EstadoVoz& voz, QWidget* padre = nullptr, Reloj& reloj = Reloj::sistema());
    ~Pildora() override;

    std::function<void()> alSilenciar;  // standard row, first button
    std::function<void()> alTerminar;   // standard and chat rows, second button
    std::function<void()> alVerEnChat;  // standard and chat rows, third button
    std::function<void()> alContestar;  // ringing row, first button
    std::function<void()> alRechazar;   // ringing row, second button
    std::function<void()> alNotaDeVoz;  // chat row, first button
    std::function<void()> alConversar;  // a tap on the orb in chat mode
    // Files dropped on the pill: the first local file's path (the others are ignored). While
    // files are dragged over it the pill dims to half its opacity.
    std::function<void(QString)> alSoltarArchivo;
    bool arrastrandoArchivos() const { return arrastrandoArchivos_; }

    // The pill follows the desktop's scheme as it changes, until a caller sets one (a picture, the
    // settings preview), which it keeps from then on.
    Esquema esquema() const { return esquema_; }
    void setEsquema(Esquema esquema);
    // Stops the status dot's pulse (the settings preview).
    void setPuntoQuieto(bool quieto);

    // The owner's pinch: `magnificacion` is the gesture's total so far (1 at its start). The
    // scale at the start of the gesture times it, kept within 0.9 to 2.2, goes to the state.
    void pellizcar(double magnificacion);
    void terminarPellizco();

    // For pictures and tests: the buttons shown, in order (their widgets), and the orb's canvas
    // (which reaches 22 points past the orb's frame on every side).
    QList<QWidget*> botonesVisibles() const;
    QWidget* orbe() const;

    // In root-frame points: the island's root view scales it.
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;
    void showEvent(QShowEvent* evento) override;
    void hideEvent(QHideEvent* evento) override;
    void mousePressEvent(QMouseEvent* evento) override;
    void mouseMoveEvent(QMouseEvent* evento) override;
    void mouseReleaseEvent(QMouseEvent* evento) override;
    void wheelEvent(QWheelEvent* evento) override;
    void dragEnterEvent(QDragEnterEvent* evento) override;
    void dragLeaveEvent(QDragLeaveEvent* evento) override;
    void dropEvent(QDropEvent* evento) override;
    bool event(QEvent* evento) override;
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    friend class LienzoOrbe;
    void actualizar();
    // Everything changed: the still picture is drawn again and the whole pill repainted.
    void repintarTodo();
    void colocarHijos();
    void visibilidad(bool animar);
    // Logical (root-frame) coordinates to this widget's pixels, with the show/hide scale.
    QTransform transformacion() const;
    QRectF aWidget(const QRectF& logico) const;
    QRectF marcoOrbe() const;  // the orb's 44-point frame, in root-frame points
    void arrastrar(QMouseEvent* evento, bool empieza);
    void pulso();
    void ponerEsquema(Esquema esquema);
    // What does not move between frames (shadow, glass, hairline, bubble), drawn once into
    // `fondo_` at the widget's device pixels; frames copy from it only what they repaint.
    void prepararFondo();
    void pintarFondo(QPainter& pintor, bool translucido) const;
    // The status dot with its halo, and the widget's rectangle that holds the halo at its
    // largest (what a step of the pulse or of the colour repaints).
    void pintarPunto(QPainter& pintor) const;
    QRect rectPunto() const;
    double faseLatido() const;  // 0 to 1, eased

    EstadoVoz& voz_;
    Reloj& reloj_;
    Esquema esquema_;
    bool esquemaFijo_ = false;
    bool puntoQuieto_ = false;
    std::optional<double> escalaAlEmpezar_;
    // Ctrl + wheel stands in for a pinch where the desktop gives no pinch gestures.
    double ruedaMagnificacion_ = 1;
    Temporizador finRueda_;
    double gestoMagnificacion_ = 1;

    LienzoOrbe* orbe_ = nullptr;
    std::vector<BotonPildora*> botones_;

    // Show/hide: 0 hidden (60 % size, transparent) to 1 shown, along a spring.
    double mostrado_ = 0;
    QVariantAnimation resorte_;
    QPointer<QGraphicsOpacityEffect> opacidad_;

    QImage fondo_;
    bool fondoSucio_ = true;
    double fondoMostrado_ = -1;

    // The status dot: its colour eases over 0.25 s; its halo pulses every 1.6 s, from the
    // clock, repainted at the orb's frames (or on a timer of its own while the orb stands still).
    QColor colorPunto_;
    QVariantAnimation colorAnim_;
    std::optional<double> inicioLatido_;
    QTimer latidoSolo_;

    // Dragging the window by the pill.
    std::optional<QPoint> arrastreDesde_;
    QPoint ventanaDesde_;
    bool arrastrando_ = false;
    bool enOrbe_ = false;
    bool arrastrandoArchivos_ = false;
};
