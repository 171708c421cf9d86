#include "zentu/isla/Pildora.h"

#include "plataforma/Compositor.h"

#include "compartido/VistasWidgets.h"
#include "zentu/isla/Orbe.h"
#include "zentu/isla/Vidrio.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QImage>
#include <QMimeData>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>
#include <QToolTip>
#include <QUrl>
#include <QWindow>
#include <cmath>

namespace {

constexpr double anchoTres = 214, anchoDos = 170, altoCapsula = 56, arribaCapsula = 50;
constexpr double ladoOrbe = 44, ladoBoton = 34, separacion = 10;
constexpr double altoTexto = 12.5;  // bubble font, points

QColor conOpacidad(QColor c, double opacidad) {
    c.setAlphaF(float(std::clamp(c.alphaF() * opacidad, 0.0, 1.0)));
    return c;
}

QColor primario(Esquema esquema) { return esquema == Esquema::oscuro ? QColor(Qt::white) : QColor(Qt::black); }

// The spring of the show/hide motion: response 0.45 s, damping fraction 0.78, run over 0.7 s.
constexpr double duracionResorte = 0.7;
qreal curvaResorte(qreal progreso) {
    const double w0 = 2 * M_PI / 0.45, z = 0.78, wd = w0 * std::sqrt(1 - z * z);
    const double t = progreso * duracionResorte;
    return 1 - std::exp(-z * w0 * t) * (std::cos(wd * t) + (z * w0 / wd) * std::sin(wd * t));
}

QEasingCurve salida() {
    QEasingCurve c(QEasingCurve::BezierSpline);
    c.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return c;
}

// A bubble's text laid out in the bubble font; `ancho` limits the line length (0: one line).
struct TextoBurbuja {
    QFont fuente;
    QRectF caja;  // the text's own extent
    std::vector<std::pair<QString, QRectF>> lineas;
};
TextoBurbuja componer(const QPainter& pintor, const QString& texto, double ancho) {
    TextoBurbuja r;
    r.fuente = TextoW::fuente(pintor, altoTexto, QFont::Medium);
    const QFontMetricsF m = pintor.device() ? QFontMetricsF(r.fuente, pintor.device()) : QFontMetricsF(r.fuente);
    QStringList partes;
    if (ancho <= 0) {
        partes << texto;
    } else {
        // Word wrap, breaking a word that alone is too long.
        for (const QString& parrafo : texto.split(QLatin1Char('\n'))) {
            QString linea;
            for (const QString& palabra : parrafo.split(QLatin1Char(' '))) {
                const QString prueba = linea.isEmpty() ? palabra : linea + QLatin1Char(' ') + palabra;
                if (m.horizontalAdvance(prueba) <= ancho || linea.isEmpty()) {
                    linea = prueba;
                } else {
                    partes << linea;
                    linea = palabra;
                }
                while (m.horizontalAdvance(linea) > ancho && linea.size() > 1) {
                    int n = linea.size() - 1;
                    while (n > 1 && m.horizontalAdvance(linea.left(n)) > ancho) --n;
                    partes << linea.left(n);
                    linea = linea.mid(n);
                }
            }
            partes << linea;
        }
    }
    double anchoMax = 0;
    for (const QString& l : partes) anchoMax = std::max(anchoMax, m.horizontalAdvance(l));
    const double alto = m.height();
    double y = 0;
    for (const QString& l : partes) {
        const double w = m.horizontalAdvance(l);
        r.lineas.emplace_back(l, QRectF((anchoMax - w) / 2, y, w, alto));
        y += alto;
    }
    r.caja = QRectF(0, 0, anchoMax, y);
    return r;
}

// The bubble's text and its frame in the root frame, below or above the capsule `capsula`.
struct BurbujaCompuesta {
    TextoBurbuja texto;
    QRectF marco;
};
BurbujaCompuesta componerBurbuja(const QPainter& pintor, const Pildora::Burbuja& b, const QRectF& capsula) {
    BurbujaCompuesta r{componer(pintor, b.texto, b.timbre ? 0.0 : 252.0), {}};
    const QSizeF tam(r.texto.caja.width() + 28, r.texto.caja.height() + 16);
    const double y = b.timbre ? capsula.top() - 42 : capsula.top() + 66;
    r.marco = QRectF(capsula.center().x() - tam.width() / 2, y, tam.width(), tam.height());
    return r;
}

constexpr double margenBajoBurbuja = 10;  // room under a notice, as between it and the capsule

}  // namespace

// ---------------------------------------------------------------------------------------------
// The orb inside the pill, drawn at 30 frames a second. Its rings may reach well past its
// 44-point frame when agitated, so its canvas has room around the frame and is not clipped
// there; clicks go to the pill, which knows the orb's own frame.
constexpr double margenOrbe = 22;

class LienzoOrbe : public QWidget {
public:
    LienzoOrbe(EstadoVoz& voz, Pildora* pildora, Reloj& reloj)
        : QWidget(pildora), pildora_(pildora), orbe_(voz, 30, this, reloj) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    Orbe& orbe() { return orbe_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const double f = width() / (ladoOrbe + 2 * margenOrbe);
        p.scale(f, f);
        orbe_.dibujar(p, QRectF(margenOrbe, margenOrbe, ladoOrbe, ladoOrbe), pildora_->esquema() == Esquema::oscuro);
    }

private:
    Pildora* pildora_;
    Orbe orbe_;
};

// ---------------------------------------------------------------------------------------------
// A round button of the pill: the icon over a filled circle; only the circle takes clicks.
class BotonPildora : public QAbstractButton {
public:
    BotonPildora(Pildora* pildora, Reloj& reloj) : QAbstractButton(pildora), pildora_(pildora), presion_(this, reloj) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_Hover);
        setFocusPolicy(Qt::NoFocus);
        connect(this, &QAbstractButton::clicked, this, [this] {
            if (accion && *accion) (*accion)();
        });
    }
    Pildora::Boton info;
    std::function<void()>* accion = nullptr;
    bool encima = false;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing, true);
        const double f = width() / ladoBoton;
        p.scale(f, f);
        const QRectF etiqueta(0, 0, ladoBoton, ladoBoton);
        presion_.transformar(p, etiqueta);
        p.setPen(Qt::NoPen);
        p.setBrush(Pildora::colorFondo(info, pildora_->esquema(), encima));
        p.drawEllipse(etiqueta);
        // The icon's 24-unit grid drawn 15 points wide, centred.
        Iconos::trazar(p, info.icono, QRectF(9.5, 9.5, 15, 15), Pildora::colorTrazo(info, pildora_->esquema()), 1.6);
    }
    bool hitButton(const QPoint& pos) const override {
        const QPointF c = QRectF(rect()).center();
        const double r = width() / 2.0;
        const QPointF d = QPointF(pos) - c;
        return d.x() * d.x() + d.y() * d.y() <= r * r;
    }
    void enterEvent(QEnterEvent* e) override {
        encima = true;
        update();
        QAbstractButton::enterEvent(e);
    }
    void leaveEvent(QEvent* e) override {
        encima = false;
        update();
        QAbstractButton::leaveEvent(e);
    }

private:
    Pildora* pildora_;
    Presionable presion_;
};

// ---------------------------------------------------------------------------------------------
// What the pill shows, as pure functions of the state.

Pildora::Fila Pildora::fila(const EstadoVoz& voz) {
    if (voz.timbre()) return Fila::timbre;
    if (voz.modoChat()) return Fila::chat;
    return Fila::estandar;
}

std::vector<Pildora::Boton> Pildora::botones(const EstadoVoz& voz) {
    switch (fila(voz)) {
    case Fila::timbre:
        return {
            {Icono::telefono, false, false, true, false, QStringLiteral("Contestar (↵)")},
            {Icono::colgarTelefono, false, true, false, false, QStringLiteral("Rechazar (Esc)")},
        };
    case Fila::chat: {
        const bool voz_ = voz.vozEnChat();
        return {
            {voz_ ? Icono::microfonoTachado : Icono::microfono, voz_, false, false, false,
             voz_ ? QStringLiteral("Apagar el micrófono") : QStringLiteral("Nota de voz para ") + voz.agenteDelChat()},
            {Icono::cerrar, false, true, false, false, voz_ ? QStringLiteral("Cortar (Esc)") : QStringLiteral("Cerrar")},
            {Icono::chat, false, false, false, true, QStringLiteral("Ocultar el chat")},
        };
    }
    case Fila::estandar:
        break;
    }
    return {
        {voz.silencio() ? Icono::microfonoTachado : Icono::microfono, voz.silencio(), false, false, false,
         QStringLiteral("Silenciar (M)")},
        {Icono::cerrar, false, true, false, false, QStringLiteral("Terminar (Esc)")},
        {Icono::chat, false, false, false, false, QStringLiteral("Ver en el chat (↵)")},
    };
}

QColor Pildora::colorTrazo(const Boton& b, Esquema esquema) {
    const Paleta paleta(esquema);
    const bool oscuro = esquema == Esquema::oscuro;
    if (b.activo || b.rojo) return paleta.rojo;
    if (b.verde) return oscuro ? QColor(Qt::black) : QColor(Qt::white);
    if (b.encendido) return oscuro ? paleta.lima : QColor::fromRgbF(0.25f, 0.42f, 0.0f);
    return paleta.tinta;
}

QColor Pildora::colorFondo(const Boton& b, Esquema esquema, bool encima) {
    const Paleta paleta(esquema);
    if (b.activo) return conOpacidad(paleta.rojo, encima ? 0.3 : 0.2);
    if (b.rojo) return conOpacidad(paleta.rojo, encima ? 0.24 : 0.13);
    if (b.verde) return conOpacidad(paleta.lima, encima ? 1.0 : 0.88);
    if (b.encendido) return conOpacidad(paleta.lima, encima ? 0.28 : 0.18);
    return conOpacidad(paleta.tinta, encima ? 0.14 : 0.07);
}

QColor Pildora::colorPunto(const EstadoVoz& voz, Esquema esquema) {
    const Paleta paleta(esquema);
    if (voz.silencio()) return paleta.rojo;
    switch (voz.fase()) {
    case Fase::escuchando:
    case Fase::hablando:
    case Fase::timbrando: return paleta.lima;
    case Fase::conectando:
    case Fase::pensando: return paleta.turquesa;
    case Fase::reposo: break;
    }
    return conOpacidad(paleta.tinta, 0.35);
}

bool Pildora::latiendo(const EstadoVoz& voz, bool puntoQuieto) {
    return !puntoQuieto && (voz.fase() == Fase::escuchando || voz.fase() == Fase::timbrando) && !voz.silencio();
}

QString Pildora::ayudaOrbe(const EstadoVoz& voz) {
    return voz.modoChat() ? QStringLiteral("Hablar con ") + voz.agenteDelChat() + QStringLiteral(" por voz") : QString();
}

std::optional<Pildora::Burbuja> Pildora::burbuja(const EstadoVoz& voz) {
    if (voz.timbre()) return Burbuja{*voz.timbre() + QStringLiteral(" te está llamando"), true};
    if (voz.aviso()) return Burbuja{*voz.aviso(), false};
    return std::nullopt;
}

std::optional<QRectF> Pildora::marcoBurbuja(const EstadoVoz& voz) {
    const auto b = burbuja(voz);
    if (!b) return std::nullopt;
    // Fonts are sized in points whatever the device, so a small image measures as the window draws.
    static QImage medida(1, 1, QImage::Format_ARGB32_Premultiplied);
    const QPainter p(&medida);
    return componerBurbuja(p, *b, marcoCapsula(voz)).marco;
}

double Pildora::altoNecesario(const EstadoVoz& voz) {
    const auto marco = marcoBurbuja(voz);
    if (!marco) return altoRaiz;
    return std::max(altoRaiz, std::ceil(marco->bottom() + margenBajoBurbuja));
}

QSize Pildora::sizeHint() const { return QSize(int(anchoRaiz), int(altoNecesario(voz_))); }

QRectF Pildora::marcoCapsula(const EstadoVoz& voz) {
    const double ancho = fila(voz) == Fila::timbre ? anchoDos : anchoTres;
    return QRectF((anchoRaiz - ancho) / 2, arribaCapsula, ancho, altoCapsula);
}

// ---------------------------------------------------------------------------------------------

Pildora::Pildora(EstadoVoz& voz, QWidget* padre, Reloj& reloj)
    : QWidget(padre), voz_(voz), reloj_(reloj), esquema_(EsquemaColor::sistema().actual()) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_AcceptTouchEvents);
    setAcceptDrops(true);
    orbe_ = new LienzoOrbe(voz_, this, reloj_);
    orbe_->installEventFilter(this);
    for (int i = 0; i < 3; ++i) {
        auto* b = new BotonPildora(this, reloj_);
        b->installEventFilter(this);
        botones_.push_back(b);
    }

    resorte_.setEasingCurve([] {
        QEasingCurve c;
        c.setCustomType(curvaResorte);
        return c;
    }());
    resorte_.setDuration(int(duracionResorte * 1000));
    connect(&resorte_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        mostrado_ = v.toDouble();
        colocarHijos();
        update();
    });
    connect(&resorte_, &QVariantAnimation::finished, this, [this] {
        // The spring's curve ends a hair's breadth short of its goal (about 0.9996 for 1): the
        // motion settles exactly there, or the pill would keep its fading layer for good.
        mostrado_ = resorte_.endValue().toDouble();
        colocarHijos();
        update();
    });

    colorPunto_ = colorPunto(voz_, esquema_);
    colorAnim_.setDuration(250);
    colorAnim_.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&colorAnim_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        colorPunto_ = v.value<QColor>();
        update(rectPunto());
    });

    connect(&orbe_->orbe(), &Orbe::cuadroNuevo, this, [this] {
        if (inicioLatido_) update(rectPunto());
    });
    latidoSolo_.setTimerType(Qt::PreciseTimer);
    latidoSolo_.setInterval(33);
    connect(&latidoSolo_, &QTimer::timeout, this, [this] { update(rectPunto()); });

    // The still picture holds the glass as it was painted, opaque or see-through: a compositor
    // that comes or goes asks for another.
    connect(&Compositor::observador(), &Compositor::Observador::cambio, this, [this] { repintarTodo(); });
    connect(&voz_, &EstadoVoz::cambio, this, &Pildora::actualizar);
    connect(&EsquemaColor::sistema(), &EsquemaColor::cambio, this, [this](Esquema e) {
        if (!esquemaFijo_) ponerEsquema(e);
    });
    connect(&voz_, &EstadoVoz::visibleCambio, this, [this] { visibilidad(true); });
    visibilidad(false);
    actualizar();
}

Pildora::~Pildora() = default;

void Pildora::setEsquema(Esquema esquema) {
    esquemaFijo_ = true;
    ponerEsquema(esquema);
}

void Pildora::ponerEsquema(Esquema esquema) {
    if (esquema_ == esquema) return;
    esquema_ = esquema;
    colorAnim_.stop();
    colorPunto_ = colorPunto(voz_, esquema_);
    actualizar();
    for (auto* b : botones_) b->update();
    orbe_->update();
    repintarTodo();
}

void Pildora::setPuntoQuieto(bool quieto) {
    puntoQuieto_ = quieto;
    pulso();
    update(rectPunto());
}

void Pildora::repintarTodo() {
    fondoSucio_ = true;
    update();
}

QList<QWidget*> Pildora::botonesVisibles() const {
    QList<QWidget*> lista;
    for (auto* b : botones_)
        if (!b->isHidden()) lista << b;
    return lista;
}

QWidget* Pildora::orbe() const { return orbe_; }

void Pildora::actualizar() {
    updateGeometry();  // a notice may need a taller window
    const std::vector<Boton> filas = botones(voz_);
    std::function<void()>* acciones[3] = {};
    switch (fila(voz_)) {
    case Fila::timbre: acciones[0] = &alContestar, acciones[1] = &alRechazar; break;
    case Fila::chat: acciones[0] = &alNotaDeVoz, acciones[1] = &alTerminar, acciones[2] = &alVerEnChat; break;
    case Fila::estandar: acciones[0] = &alSilenciar, acciones[1] = &alTerminar, acciones[2] = &alVerEnChat; break;
    }
    for (size_t i = 0; i < botones_.size(); ++i) {
        BotonPildora* b = botones_[i];
        if (i < filas.size()) {
            b->info = filas[i];
            b->accion = acciones[i];
            b->setToolTip(filas[i].ayuda);
            b->setHidden(mostrado_ <= 0);
            b->update();
        } else {
            b->setHidden(true);
        }
    }

    const QColor destino = colorPunto(voz_, esquema_);
    if (destino != colorAnim_.endValue().value<QColor>() || colorAnim_.state() != QAbstractAnimation::Running) {
        if (destino != colorPunto_) {
            if (isVisible()) {
                colorAnim_.stop();
                colorAnim_.setStartValue(colorPunto_);
                colorAnim_.setEndValue(destino);
                colorAnim_.start();
            } else {
                colorPunto_ = destino;
            }
        }
    }
    pulso();
    colocarHijos();
    repintarTodo();
}

void Pildora::pulso() {
    const bool corre = latiendo(voz_, puntoQuieto_) && mostrado_ > 0 && isVisible();
    if (corre && !inicioLatido_) inicioLatido_ = reloj_.segundos();
    if (!corre) inicioLatido_.reset();
    // The orb's frames carry the pulse; while the orb stands still it needs a timer of its own.
    const bool solo = corre && !orbe_->orbe().animando();
    if (solo && !latidoSolo_.isActive()) latidoSolo_.start();
    if (!solo) latidoSolo_.stop();
}

double Pildora::faseLatido() const {
    if (!inicioLatido_) return 0;
    static const QEasingCurve curva = salida();
    const double periodo = 1.6;
    const double t = std::fmod(std::max(reloj_.segundos() - *inicioLatido_, 0.0), periodo) / periodo;
    return curva.valueForProgress(t);
}

void Pildora::visibilidad(bool animar) {
    const double destino = voz_.visible() ? 1.0 : 0.0;
    resorte_.stop();
    // A fade needs a compositor: without one the fading pill would pass through black.
    if (!animar || !isVisible() || !Vidrio::translucido()) {
        mostrado_ = destino;
    } else {
        resorte_.setStartValue(mostrado_);
        resorte_.setEndValue(destino);
        resorte_.start();
    }
    actualizar();
}

void Pildora::showEvent(QShowEvent* evento) {
    QWidget::showEvent(evento);
    // The desktop may have gained or lost its compositor meanwhile: the glass is drawn anew.
    fondoSucio_ = true;
    pulso();
}

void Pildora::hideEvent(QHideEvent* evento) {
    QWidget::hideEvent(evento);
    fondo_ = QImage();
    fondoSucio_ = true;
    pulso();
}

QTransform Pildora::transformacion() const {
    const double f = width() / anchoRaiz;
    const double s = 0.6 + 0.4 * mostrado_;
    const QRectF capsula = marcoCapsula(voz_);
    const QPointF ancla(capsula.center().x(), capsula.top());
    QTransform t;
    t.scale(f, f);
    t.translate(ancla.x(), ancla.y());
    t.scale(s, s);
    t.translate(-ancla.x(), -ancla.y());
    return t;
}

QRectF Pildora::aWidget(const QRectF& logico) const { return transformacion().mapRect(logico); }

QRectF Pildora::marcoOrbe() const {
    const QRectF capsula = marcoCapsula(voz_);
    return QRectF(capsula.left() + 6, capsula.top() + 6, ladoOrbe, ladoOrbe);
}

void Pildora::colocarHijos() {
    const QRectF capsula = marcoCapsula(voz_);
    const auto redondo = [](const QRectF& r) {
        return QRect(QPoint(int(std::lround(r.left())), int(std::lround(r.top()))),
                     QSize(int(std::lround(r.width())), int(std::lround(r.height()))));
    };
    const double opacidad = std::clamp(mostrado_, 0.0, 1.0);
    const bool oculto = opacidad <= 0;
    if (oculto) fondo_ = QImage();  // nothing shows: the still picture is not kept
    orbe_->setGeometry(redondo(aWidget(marcoOrbe().adjusted(-margenOrbe, -margenOrbe, margenOrbe, margenOrbe))));
    orbe_->setHidden(oculto);
    const size_t n = botones(voz_).size();
    for (size_t i = 0; i < botones_.size(); ++i) {
        const double x = capsula.left() + 6 + ladoOrbe + separacion + 14 + separacion + double(i) * (ladoBoton + separacion);
        botones_[i]->setGeometry(redondo(aWidget(QRectF(x, capsula.top() + 11, ladoBoton, ladoBoton))));
        botones_[i]->setHidden(oculto || i >= n);
    }
    // Fading needs an effect; it costs a layer, so it is there only while fading.
    if (opacidad > 0 && opacidad < 1) {
        if (!opacidad_) {
            opacidad_ = new QGraphicsOpacityEffect(this);
            setGraphicsEffect(opacidad_);
        }
        opacidad_->setOpacity(opacidad);
    } else if (opacidad_) {
        setGraphicsEffect(nullptr);
    }
    pulso();
}

void Pildora::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    colocarHijos();
}

void Pildora::paintEvent(QPaintEvent* evento) {
    if (mostrado_ <= 0) return;
    prepararFondo();
    QPainter p(this);
    // Only what is repainted is copied from the still picture, rectangle by rectangle and pixel
    // for pixel (an orb frame asks for the orb's rectangle and the dot's, nothing else).
    const qreal dpr = fondo_.devicePixelRatio();
    for (const QRect& r : evento->region()) {
        const QRect fuente(QPoint(int(std::lround(r.left() * dpr)), int(std::lround(r.top() * dpr))),
                           QSize(int(std::lround(r.width() * dpr)), int(std::lround(r.height() * dpr))));
        p.drawImage(r, fondo_, fuente);
    }
    if (evento->region().intersects(rectPunto())) pintarPunto(p);
}

void Pildora::prepararFondo() {
    const qreal dpr = devicePixelRatioF();
    const QSize pixeles(int(std::ceil(width() * dpr)), int(std::ceil(height() * dpr)));
    if (!fondoSucio_ && fondoMostrado_ == mostrado_ && fondo_.size() == pixeles && fondo_.devicePixelRatio() == dpr)
        return;
    if (fondo_.size() != pixeles) fondo_ = QImage(pixeles, QImage::Format_ARGB32_Premultiplied);
    fondo_.setDevicePixelRatio(dpr);
    fondo_.fill(Qt::transparent);
    QPainter p(&fondo_);
    // Asking the window system whether a compositor runs costs a round trip: once per picture.
    pintarFondo(p, Vidrio::translucido());
    fondoSucio_ = false;
    fondoMostrado_ = mostrado_;
}

namespace {
QPointF centroDelPunto(const QRectF& capsula) {
    return QPointF(capsula.left() + 6 + ladoOrbe + separacion - 2 + 6, capsula.center().y());
}
}  // namespace

void Pildora::pintarFondo(QPainter& p, bool translucido) const {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setTransform(transformacion());
    const QRectF capsula = marcoCapsula(voz_);
    const FormaVidrio forma = FormaVidrio::capsula();
    const Vidrio vidrio(forma, esquema_);

    SombraVidrio(esquema_, radioSombra).pintar(p, forma, capsula, translucido && Compositor::sombraPropia());
    vidrio.pintarFondo(p, capsula, translucido);
    // The status dot comes over this picture; the hairline runs along the capsule's edge, well
    // clear of the dot's halo at its largest.
    vidrio.pintarBorde(p, capsula);

    if (const auto b = burbuja(voz_)) {
        const auto [texto, marco] = componerBurbuja(p, *b, capsula);
        const FormaVidrio redondeada = FormaVidrio::redondeada(14);
        const Vidrio vidrioBurbuja(redondeada, esquema_);
        vidrioBurbuja.pintarFondo(p, marco, translucido);
        p.setFont(texto.fuente);
        p.setPen(primario(esquema_));
        for (const auto& [linea, caja] : texto.lineas)
            p.drawText(caja.translated(marco.left() + 14, marco.top() + 8), Qt::AlignCenter | Qt::TextSingleLine, linea);
        vidrioBurbuja.pintarBorde(p, marco);
        if (!b->timbre) {
            p.setPen(QPen(conOpacidad(Paleta(esquema_).rojo, 0.45), 1));
            p.setBrush(Qt::NoBrush);
            p.drawPath(redondeada.caminoInterior(marco, 0.5));
        }
    }
}

void Pildora::pintarPunto(QPainter& p) const {
    // Drawn by hand into a small picture laid over the pill: the halo is tall enough that Qt's
    // raster engine would hand its fill out to its thread pool, thirty times a second.
    const QTransform t = transformacion() * p.deviceTransform();
    const double pixeles = std::sqrt(std::abs(t.determinant()));
    if (!(pixeles > 0)) return;
    const QPointF centro = t.map(centroDelPunto(marcoCapsula(voz_)));
    struct Disco {
        float radio;
        float r, g, b, a;  // premultiplied
    };
    const auto disco = [](double radio, const QColor& c) {
        const float a = c.alphaF();
        return Disco{float(radio), c.redF() * a, c.greenF() * a, c.blueF() * a, a};
    };
    Disco discos[2];
    int n = 0;
    if (latiendo(voz_, puntoQuieto_)) {
        // Grows from the dot's size to three times it while fading from 0.8 to nothing.
        const double fase = faseLatido();
        discos[n++] = disco(4.5 * (1 + 2 * fase) * pixeles, conOpacidad(colorPunto_, 0.55 * 0.8 * (1 - fase)));
    }
    discos[n++] = disco(4.5 * pixeles, colorPunto_);
    float alcance = 0;
    for (int i = 0; i < n; ++i) alcance = std::max(alcance, discos[i].radio);
    const QRect caja = QRectF(centro - QPointF(alcance + 1, alcance + 1), QSizeF(2 * alcance + 2, 2 * alcance + 2)).toAlignedRect();
    thread_local QImage imagen;
    if (imagen.width() < caja.width() || imagen.height() < caja.height())
        imagen = QImage(caja.size().expandedTo(imagen.size()), QImage::Format_ARGB32_Premultiplied);
    const auto canal = [](float v) { return int(std::clamp(v, 0.0f, 1.0f) * 255 + 0.5f); };
    for (int y = 0; y < caja.height(); ++y) {
        QRgb* fila = reinterpret_cast<QRgb*>(imagen.scanLine(y));
        const float dy = float(caja.top() + y + 0.5 - centro.y());
        for (int x = 0; x < caja.width(); ++x) {
            const float dx = float(caja.left() + x + 0.5 - centro.x());
            const float d = std::sqrt(dx * dx + dy * dy);
            // Each disc laid over what is there, covering a pixel by how far inside its edge
            // the pixel's centre lies.
            float r = 0, g = 0, b = 0, a = 0;
            for (int i = 0; i < n; ++i) {
                const Disco& o = discos[i];
                const float cobertura = std::clamp(o.radio + 0.5f - d, 0.0f, 1.0f);
                const float resto = 1 - o.a * cobertura;
                r = o.r * cobertura + r * resto;
                g = o.g * cobertura + g * resto;
                b = o.b * cobertura + b * resto;
                a = o.a * cobertura + a * resto;
            }
            fila[x] = qRgba(canal(r), canal(g), canal(b), canal(a));
        }
    }
    p.save();
    p.setCompositionMode(QPainter::CompositionMode_SourceOver);
    Orbe::ponerPixeles(p, caja.topLeft(), imagen, QRect(QPoint(0, 0), caja.size()));
    p.restore();
}

QRect Pildora::rectPunto() const {
    // The halo at its largest is 27 points across; a pixel more on each side for antialiasing.
    const QPointF c = centroDelPunto(marcoCapsula(voz_));
    return aWidget(QRectF(c - QPointF(13.5, 13.5), QSizeF(27, 27))).toAlignedRect().adjusted(-1, -1, 1, 1);
}

// ---------------------------------------------------------------------------------------------
// Moving and resizing the island.

void Pildora::arrastrar(QMouseEvent* e, bool empieza) {
    if (empieza) {
        arrastrando_ = false;
        if (e->button() != Qt::LeftButton) return;
        arrastreDesde_ = e->globalPosition().toPoint();
        ventanaDesde_ = window()->pos();
        return;
    }
    if (!arrastreDesde_ || !(e->buttons() & Qt::LeftButton)) return;
    const QPoint delta = e->globalPosition().toPoint() - *arrastreDesde_;
    if (!arrastrando_) {
        if (delta.manhattanLength() < QApplication::startDragDistance()) return;
        arrastrando_ = true;
        // The window manager moves the window where it can; otherwise we move it ourselves.
        if (QWindow* w = window()->windowHandle(); w && w->startSystemMove()) {
            arrastreDesde_.reset();
            return;
        }
    }
    window()->move(ventanaDesde_ + delta);
}

void Pildora::mousePressEvent(QMouseEvent* e) {
    // The whole capsule carries the drag (the orb included); the transparent room around it
    // does not.
    const QPointF logico = transformacion().inverted().map(e->position());
    const QPainterPath capsula = FormaVidrio::capsula().camino(marcoCapsula(voz_));
    enOrbe_ = marcoOrbe().contains(logico);
    if (!capsula.contains(logico) && !enOrbe_) {
        e->ignore();
        return;
    }
    arrastrar(e, true);
}

void Pildora::mouseMoveEvent(QMouseEvent* e) { arrastrar(e, false); }

void Pildora::mouseReleaseEvent(QMouseEvent* e) {
    const bool tocoOrbe = enOrbe_ && !arrastrando_ && e->button() == Qt::LeftButton &&
                          marcoOrbe().contains(transformacion().inverted().map(e->position()));
    arrastreDesde_.reset();
    arrastrando_ = false;
    enOrbe_ = false;
    // A single tap on the orb in chat mode starts talking to the chat's agent.
    if (tocoOrbe && voz_.modoChat() && alConversar) alConversar();
}

void Pildora::pellizcar(double magnificacion) {
    if (!escalaAlEmpezar_) escalaAlEmpezar_ = voz_.escala();
    double e = *escalaAlEmpezar_ * magnificacion;
    if (std::isnan(e)) e = *escalaAlEmpezar_;
    voz_.setEscala(std::min(std::max(e, 0.9), 2.2));
}

void Pildora::terminarPellizco() { escalaAlEmpezar_.reset(); }

void Pildora::wheelEvent(QWheelEvent* e) {
    if (!(e->modifiers() & Qt::ControlModifier)) {
        e->ignore();
        return;
    }
    // Each notch up or down magnifies by 10 %; a pause of 0.4 s ends the "pinch".
    const double muescas = e->angleDelta().y() / 120.0;
    ruedaMagnificacion_ *= std::pow(1.1, muescas);
    pellizcar(ruedaMagnificacion_);
    finRueda_ = reloj_.programar(0.4, this, [this] {
        ruedaMagnificacion_ = 1;
        terminarPellizco();
    });
    e->accept();
}

bool Pildora::event(QEvent* evento) {
    if (evento->type() == QEvent::ToolTip) {
        auto* ayuda = static_cast<QHelpEvent*>(evento);
        const QString texto = ayudaOrbe(voz_);
        if (!texto.isEmpty() && marcoOrbe().contains(transformacion().inverted().map(QPointF(ayuda->pos()))))
            QToolTip::showText(ayuda->globalPos(), texto, this);
        else
            QToolTip::hideText();
        return true;
    }
    if (evento->type() == QEvent::NativeGesture) {
        auto* g = static_cast<QNativeGestureEvent*>(evento);
        switch (g->gestureType()) {
        case Qt::BeginNativeGesture: gestoMagnificacion_ = 1; break;
        case Qt::ZoomNativeGesture:
            gestoMagnificacion_ += g->value();
            pellizcar(gestoMagnificacion_);
            break;
        case Qt::EndNativeGesture:
            gestoMagnificacion_ = 1;
            terminarPellizco();
            break;
        default: break;
        }
        // Accepted, or the application would offer it to the parents as well.
        evento->accept();
        return true;
    }
    return QWidget::event(evento);
}

// Pinches and Ctrl + wheel over the orb or a button resize the island too.
bool Pildora::eventFilter(QObject* objeto, QEvent* evento) {
    if (evento->type() == QEvent::NativeGesture) return event(evento);
    if (evento->type() == QEvent::Wheel) {
        auto* w = static_cast<QWheelEvent*>(evento);
        if (w->modifiers() & Qt::ControlModifier) {
            wheelEvent(w);
            return true;
        }
    }
    return QWidget::eventFilter(objeto, evento);
}

// ------------------------------------------------------------------ files dropped on the pill

namespace {
// The local files a drag carries, in order.
QStringList archivosLocales(const QMimeData* datos) {
    QStringList rutas;
    if (!datos || !datos->hasUrls()) return rutas;
    for (const QUrl& u : datos->urls())
        if (u.isLocalFile() && !u.toLocalFile().isEmpty()) rutas << u.toLocalFile();
    return rutas;
}
}  // namespace

void Pildora::dragEnterEvent(QDragEnterEvent* evento) {
    if (archivosLocales(evento->mimeData()).isEmpty()) {
        evento->ignore();
        return;
    }
    evento->setDropAction(Qt::CopyAction);
    evento->accept();
    arrastrandoArchivos_ = true;
    auto* atenuado = new QGraphicsOpacityEffect(this);
    atenuado->setOpacity(0.5);
    setGraphicsEffect(atenuado);
}

void Pildora::dragLeaveEvent(QDragLeaveEvent*) {
    arrastrandoArchivos_ = false;
    setGraphicsEffect(nullptr);
}

void Pildora::dropEvent(QDropEvent* evento) {
    arrastrandoArchivos_ = false;
    setGraphicsEffect(nullptr);
    const QStringList rutas = archivosLocales(evento->mimeData());
    if (rutas.isEmpty()) {
        evento->ignore();
        return;
    }
    evento->setDropAction(Qt::CopyAction);
    evento->accept();
    if (alSoltarArchivo) alSoltarArchivo(rutas.first());
}
