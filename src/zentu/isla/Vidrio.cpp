#include "zentu/isla/Vidrio.h"

#include "plataforma/Compositor.h"
#include "zentu/isla/Pildora.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEasingCurve>
#include <QEvent>
#include <QHash>
#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <vector>

// ---------------------------------------------------------------------------------- Paleta

Paleta::Paleta(Esquema esquema) {
    if (esquema == Esquema::oscuro) {
        lima = Pildora::lima;
        turquesa = Pildora::turquesa;
        rojo = Pildora::rojo;
        tinta = QColor::fromRgbF(0.95f, 0.95f, 0.95f);
    } else {
        lima = QColor(74, 140, 0);
        turquesa = QColor(0, 138, 122);
        rojo = QColor(214, 48, 49);
        tinta = QColor::fromRgbF(0.1f, 0.1f, 0.1f);
    }
}

// ----------------------------------------------------------------------------- FormaVidrio

QPainterPath FormaVidrio::caminoInterior(const QRectF& marco, qreal margen) const {
    QPainterPath camino;
    const QRectF r = marco.adjusted(margen, margen, -margen, -margen);
    if (!(r.width() > 0) || !(r.height() > 0)) return camino;
    const qreal radio = capsula_ ? std::min(r.width(), r.height()) / 2
                                 : std::clamp<qreal>(radio_ - margen, 0, std::min(r.width(), r.height()) / 2);
    if (radio <= 0)
        camino.addRect(r);
    else
        camino.addRoundedRect(r, radio, radio);
    return camino;
}

QPainterPath FormaVidrio::camino(const QRectF& marco) const { return caminoInterior(marco, 0); }

// ---------------------------------------------------------------------------------- Vidrio

QColor Vidrio::colorMaterial(Esquema esquema, bool translucido) {
    return colorMaterial(esquema, translucido, translucido && Compositor::desenfoca());
}

QColor Vidrio::colorMaterial(Esquema esquema, bool translucido, bool desenfocado) {
    // Where the compositor blurs what lies behind the glass, the tint may let it through; without
    // blur the text of the windows beneath would read crisply through a thin tint, so the fill
    // is dense enough to hide it (black text on white beneath differs by under 8 of 255); it is
    // fully opaque where translucency is not available.
    QColor c = esquema == Esquema::oscuro ? QColor(30, 30, 34) : QColor(246, 246, 248);
    c.setAlphaF(!translucido ? 1.0f : desenfocado ? 0.8f : 0.97f);
    return c;
}

QColor Vidrio::colorBorde(Esquema esquema) {
    QColor c = esquema == Esquema::oscuro ? QColor(255, 255, 255) : QColor(0, 0, 0);
    c.setAlphaF(0.08f);
    return c;
}

bool Vidrio::translucido() { return Compositor::visto(); }

void Vidrio::pintarFondo(QPainter& pintor, const QRectF& marco) const {
    pintarFondo(pintor, marco, translucido());
}

void Vidrio::pintarFondo(QPainter& pintor, const QRectF& marco, bool translucido) const {
    pintor.save();
    pintor.setRenderHint(QPainter::Antialiasing, true);
    const QColor color = colorMaterial(esquema_, translucido);
    // Where the window is cut to its shape, the pixels the cut keeps along a curved edge are only
    // partly covered by the fill; blended with nothing they would show a dark fringe. A band of the
    // fill's own colour, a point wide outside the outline, covers them whole.
    pintor.setPen(translucido ? QPen(Qt::NoPen) : QPen(color, 2.0));
    pintor.setBrush(color);
    QPainterPath camino = forma_.camino(marco);
    camino.setFillRule(Qt::WindingFill);
    pintor.drawPath(camino);
    pintor.restore();
}

void Vidrio::pintarBorde(QPainter& pintor, const QRectF& marco) const {
    pintor.save();
    pintor.setRenderHint(QPainter::Antialiasing, true);
    pintor.setPen(QPen(colorBorde(esquema_), 1.0));
    pintor.setBrush(Qt::NoBrush);
    // A 1-wide line centred half a point inside the outline covers exactly the inner point.
    pintor.drawPath(forma_.caminoInterior(marco, 0.5));
    pintor.restore();
}

bool Vidrio::sinLiquidGlass(const QStringList& argumentos) {
    for (const char* interruptor : {"--captura", "--vidrio-clasico", "--captura-widgets"}) {
        if (argumentos.contains(QLatin1String(interruptor), Qt::CaseSensitive)) return true;
    }
    return false;
}

bool Vidrio::sinLiquidGlass() {
    return QCoreApplication::instance() && sinLiquidGlass(QCoreApplication::arguments());
}

namespace {

// Paints the hairline over the glass element's children; clicks pass through it.
class CapaBorde : public QWidget {
public:
    CapaBorde(QWidget* vista, const Vidrio& vidrio) : QWidget(vista), vidrio_(vidrio) {
        setObjectName(QStringLiteral("zentu-vidrio-borde"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_TranslucentBackground);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(vista->rect());
        raise();
        show();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter pintor(this);
        vidrio_.pintarBorde(pintor, rect());
    }

private:
    Vidrio vidrio_;
};

// Paints the glass fill before the element paints itself and keeps the hairline on top.
class FiltroVidrio : public QObject {
public:
    FiltroVidrio(QWidget* vista, const Vidrio& vidrio) : QObject(vista), vista_(vista), vidrio_(vidrio) {
        setObjectName(QStringLiteral("zentu-vidrio"));
        borde_ = new CapaBorde(vista, vidrio);
        vista->installEventFilter(this);
    }
    ~FiltroVidrio() override { delete borde_.data(); }

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override {
        if (objeto != vista_) return false;
        switch (evento->type()) {
        case QEvent::Paint: {
            QPainter pintor(vista_);
            vidrio_.pintarFondo(pintor, vista_->rect());
            break;
        }
        case QEvent::Resize:
            if (borde_) borde_->setGeometry(vista_->rect());
            break;
        case QEvent::ChildAdded:
        case QEvent::ChildPolished:
            if (borde_) QMetaObject::invokeMethod(borde_, &QWidget::raise, Qt::QueuedConnection);
            break;
        default:
            break;
        }
        return false;
    }

private:
    QWidget* vista_;
    Vidrio vidrio_;
    QPointer<CapaBorde> borde_;
};

}  // namespace

void Vidrio::aplicar(QWidget* vista) const {
    if (!vista) return;
    delete vista->findChild<QObject*>(QStringLiteral("zentu-vidrio"), Qt::FindDirectChildrenOnly);
    new FiltroVidrio(vista, *this);
    vista->update();
}

// ---------------------------------------------------------------------------- SombraVidrio

namespace {

// One pass of a box blur of width 2r+1 along rows (paso 1) or columns (paso = ancho).
void cajaBorrosa(std::vector<float>& datos, std::vector<float>& tmp, int ancho, int alto, int r, bool filas) {
    const int n = filas ? ancho : alto;
    const int lineas = filas ? alto : ancho;
    const float escala = 1.0f / float(2 * r + 1);
    for (int l = 0; l < lineas; ++l) {
        auto en = [&](int i) -> float& { return filas ? datos[size_t(l) * ancho + i] : datos[size_t(i) * ancho + l]; };
        auto fuera = [&](int i) -> float& { return filas ? tmp[size_t(l) * ancho + i] : tmp[size_t(i) * ancho + l]; };
        float suma = 0;
        for (int i = -r; i <= r; ++i) suma += (i >= 0 && i < n) ? en(i) : 0.0f;
        for (int i = 0; i < n; ++i) {
            fuera(i) = suma * escala;
            const int entra = i + r + 1, sale = i - r;
            if (entra < n) suma += en(entra);
            if (sale >= 0) suma -= en(sale);
        }
    }
    datos.swap(tmp);
}

// The shadow picture of a shape: black with the given alpha, blurred (three box passes, close
// to a Gaussian of sigma = radio / 2). The picture starts `margen` device pixels above and left
// of the shape's frame.
QImage imagenSombra(const FormaVidrio& forma, QSizeF tamano, qreal radio, qreal opacidad, qreal dpr, int& margen) {
    const qreal sigma = radio / 2 * dpr;
    margen = int(std::ceil(3 * sigma)) + 2;
    const int ancho = int(std::ceil(tamano.width() * dpr)) + 2 * margen;
    const int alto = int(std::ceil(tamano.height() * dpr)) + 2 * margen;

    const QString clave = QStringLiteral("%1|%2|%3|%4|%5|%6|%7")
                              .arg(forma.esCapsula())
                              .arg(forma.radio())
                              .arg(tamano.width())
                              .arg(tamano.height())
                              .arg(radio)
                              .arg(opacidad)
                              .arg(dpr);
    static QHash<QString, QImage> cache;
    if (auto it = cache.constFind(clave); it != cache.constEnd()) return *it;

    QImage imagen(ancho, alto, QImage::Format_ARGB32_Premultiplied);
    imagen.fill(Qt::transparent);
    {
        QPainter pintor(&imagen);
        pintor.setRenderHint(QPainter::Antialiasing, true);
        pintor.setPen(Qt::NoPen);
        pintor.setBrush(QColor(0, 0, 0, 255));
        pintor.translate(margen, margen);
        pintor.scale(dpr, dpr);
        pintor.drawPath(forma.camino(QRectF(QPointF(0, 0), tamano)));
    }
    std::vector<float> alfa(size_t(ancho) * alto), tmp(alfa.size());
    for (int y = 0; y < alto; ++y) {
        const QRgb* linea = reinterpret_cast<const QRgb*>(imagen.constScanLine(y));
        for (int x = 0; x < ancho; ++x) alfa[size_t(y) * ancho + x] = float(qAlpha(linea[x])) * float(opacidad);
    }
    if (sigma > 0) {
        // Three passes of width w with 3·(w² − 1)/12 = sigma².
        const int r = std::max(0, int(std::floor(std::sqrt(4 * sigma * sigma + 1) / 2)));
        for (int pasada = 0; pasada < 3 && r > 0; ++pasada) {
            cajaBorrosa(alfa, tmp, ancho, alto, r, true);
            cajaBorrosa(alfa, tmp, ancho, alto, r, false);
        }
    }
    for (int y = 0; y < alto; ++y) {
        QRgb* linea = reinterpret_cast<QRgb*>(imagen.scanLine(y));
        for (int x = 0; x < ancho; ++x) {
            const int a = std::clamp(int(std::lround(alfa[size_t(y) * ancho + x])), 0, 255);
            linea[x] = qRgba(0, 0, 0, a);
        }
    }
    if (cache.size() >= 32) cache.clear();
    cache.insert(clave, imagen);
    return imagen;
}

// Paints the shadow of a glass element on its parent, under the parent's own painting.
class FiltroSombra : public QObject {
public:
    FiltroSombra(QWidget* vista, const SombraVidrio& sombra, const FormaVidrio& forma)
        : QObject(vista), vista_(vista), padre_(vista->parentWidget()), sombra_(sombra), forma_(forma) {
        setObjectName(QStringLiteral("zentu-sombra"));
        vista->installEventFilter(this);
        if (padre_) padre_->installEventFilter(this);
    }
    ~FiltroSombra() override {
        if (padre_) padre_->removeEventFilter(this);
    }

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override {
        // Not hidden rather than visible: a picture of a view never shown has its shadow too.
        if (objeto == padre_ && evento->type() == QEvent::Paint && !vista_->isHidden()) {
            QPainter pintor(padre_);
            sombra_.pintar(pintor, forma_, QRectF(vista_->geometry()));
        } else if (objeto == vista_) {
            switch (evento->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::Hide:
                if (padre_) padre_->update();
                break;
            default:
                break;
            }
        }
        return false;
    }

private:
    QWidget* vista_;
    QPointer<QWidget> padre_;
    SombraVidrio sombra_;
    FormaVidrio forma_;
};

}  // namespace

qreal SombraVidrio::alcance() const { return std::ceil(1.5 * std::max<qreal>(radio_, 0)) + 1; }

QMarginsF SombraVidrio::margenes() const {
    // The profile across a straight edge, blurred as the picture is: the first distance at which
    // it rounds to nothing. Corners fade sooner than edges.
    const qreal radio = std::max<qreal>(radio_, 0);
    static QHash<qreal, qreal> cache;
    qreal visto = 0;
    if (auto it = cache.constFind(radio); it != cache.constEnd()) {
        visto = *it;
    } else {
        const qreal sigma = radio / 2;
        const int margen = int(std::ceil(3 * sigma)) + 2;
        const int ancho = 2 * margen + 8;
        std::vector<float> perfil(static_cast<size_t>(ancho));
        std::vector<float> tmp(perfil.size());
        for (int x = 0; x < ancho; ++x) perfil[size_t(x)] = x < margen + 4 ? float(255 * opacidad(Esquema::oscuro)) : 0.0f;
        if (sigma > 0) {
            const int r = std::max(0, int(std::floor(std::sqrt(4 * sigma * sigma + 1) / 2)));
            for (int pasada = 0; pasada < 3 && r > 0; ++pasada) cajaBorrosa(perfil, tmp, ancho, 1, r, true);
        }
        int x = margen + 4;
        while (x < ancho && std::lround(perfil[size_t(x)]) > 0) ++x;
        visto = x - (margen + 4);
        cache.insert(radio, visto);
    }
    return QMarginsF(visto, std::max<qreal>(0, visto - desplazamiento), visto, visto + desplazamiento);
}

void SombraVidrio::pintar(QPainter& pintor, const FormaVidrio& forma, const QRectF& marco) const {
    // Where the window is cut to its shape the shadow would have nowhere to fall.
    pintar(pintor, forma, marco, Vidrio::translucido() && Compositor::sombraPropia());
}

namespace {

// The shadow picture faded out before the edges of what it is painted on (`limite`, in the
// picture's pixels) wherever it would reach past them: a shadow cut by the window's edge shows as
// a hard band; faded over the room there is between the shape (`forma`, in the picture's pixels)
// and that edge, it dies away smoothly.
QImage desvanecerEnBordes(const QImage& imagen, const QRectF& forma, const QRectF& limite) {
    const double izq = limite.left(), der = limite.right(), arr = limite.top(), aba = limite.bottom();
    const bool corta = izq > 0 || arr > 0 || der < imagen.width() || aba < imagen.height();
    if (!corta) return imagen;
    QImage r = imagen.copy();
    // smoothstep of the distance to the edge over the outer three quarters of the room left by
    // the shape: right beside the shape the shadow keeps its strength.
    const auto rampa = [](double distancia, double sitio) {
        if (sitio <= 0) return distancia > 0 ? 1.0 : 0.0;
        const double t = std::clamp(distancia / (0.75 * sitio), 0.0, 1.0);
        return t * t * (3 - 2 * t);
    };
    const double sitioIzq = forma.left() - izq, sitioDer = der - forma.right();
    const double sitioArr = forma.top() - arr, sitioAba = aba - forma.bottom();
    for (int y = 0; y < r.height(); ++y) {
        QRgb* linea = reinterpret_cast<QRgb*>(r.scanLine(y));
        const double cy = y + 0.5;
        double fy = 1;
        if (arr > 0 && cy < forma.top()) fy = rampa(cy - arr, sitioArr);
        if (aba < r.height() && cy > forma.bottom()) fy = std::min(fy, rampa(aba - cy, sitioAba));
        for (int x = 0; x < r.width(); ++x) {
            const double cx = x + 0.5;
            double f = fy;
            if (izq > 0 && cx < forma.left()) f = std::min(f, rampa(cx - izq, sitioIzq));
            if (der < r.width() && cx > forma.right()) f = std::min(f, rampa(der - cx, sitioDer));
            if (f >= 1) continue;
            linea[x] = qRgba(0, 0, 0, int(std::lround(qAlpha(linea[x]) * f)));
        }
    }
    return r;
}

}  // namespace

void SombraVidrio::pintar(QPainter& pintor, const FormaVidrio& forma, const QRectF& marco, bool translucido) const {
    if (!translucido || !(marco.width() > 0) || !(marco.height() > 0)) return;
    const qreal dpr = pintor.device() ? pintor.device()->devicePixelRatioF() : 1.0;
    int margen = 0;
    QImage imagen = imagenSombra(forma, marco.size(), std::max<qreal>(radio_, 0), opacidad(esquema_), dpr, margen);
    const QPointF origen = marco.topLeft() + QPointF(0, desplazamiento) - QPointF(margen, margen) / dpr;
    // What the painter can reach, in the picture's pixels (only for plain translations and scales).
    if (QPaintDevice* d = pintor.device(); d && !pintor.transform().isRotating()) {
        bool invertible = false;
        const QTransform inversa = pintor.transform().inverted(&invertible);
        if (invertible) {
            const QRectF alcanzable = inversa.mapRect(QRectF(0, 0, d->width(), d->height()));
            const QRectF limite((alcanzable.topLeft() - origen) * dpr, alcanzable.size() * dpr);
            const QRectF formaEnImagen((marco.topLeft() - origen) * dpr, marco.size() * dpr);
            imagen = desvanecerEnBordes(imagen, formaEnImagen, limite);
        }
    }
    imagen.setDevicePixelRatio(dpr);
    pintor.drawImage(origen, imagen);
}

void SombraVidrio::aplicar(QWidget* vista, const FormaVidrio& forma) const {
    if (!vista || !vista->parentWidget()) return;
    delete vista->findChild<QObject*>(QStringLiteral("zentu-sombra"), Qt::FindDirectChildrenOnly);
    new FiltroSombra(vista, *this, forma);
    vista->parentWidget()->update();
}

// ----------------------------------------------------------------------------- Presionable

Presionable::Presionable(QAbstractButton* boton, Reloj& reloj) : QObject(boton), boton_(boton), reloj_(reloj) {
    connect(boton, &QAbstractButton::pressed, this, [this] { hacia(escalaPresionado); });
    connect(boton, &QAbstractButton::released, this, [this] { hacia(1.0); });
}

qreal Presionable::escala() const {
    const double t = (reloj_.segundos() - inicio_) / duracion;
    if (t >= 1) return hasta_;
    if (t <= 0) return desde_;
    // Ease-out: the cubic Bézier (0, 0), (0.58, 1), (1, 1).
    static const QEasingCurve curva = [] {
        QEasingCurve c(QEasingCurve::BezierSpline);
        c.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
        return c;
    }();
    return desde_ + (hasta_ - desde_) * curva.valueForProgress(t);
}

void Presionable::transformar(QPainter& pintor, const QRectF& etiqueta) const {
    const qreal e = escala();
    const QPointF centro = etiqueta.center();
    pintor.translate(centro);
    pintor.scale(e, e);
    pintor.translate(-centro);
}

void Presionable::hacia(qreal destino) {
    // Starts from wherever the scale is now, so a quick release turns the motion around.
    desde_ = escala();
    hasta_ = destino;
    inicio_ = reloj_.segundos();
    paso();
}

void Presionable::paso() {
    if (boton_) boton_->update();
    Q_EMIT escalaCambio();
    if (reloj_.segundos() - inicio_ < duracion) cuadro_ = reloj_.programar(1.0 / 60, this, [this] { paso(); });
}
