#include "zentu/isla/Orbe.h"

#include "compartido/Ruido.h"

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

Orbe::Orbe(EstadoVoz& voz, double cuadros, QWidget* lienzo, Reloj& reloj)
    : QObject(lienzo), voz_(voz), lienzo_(lienzo), reloj_(reloj), fecha_(reloj.segundos()) {
    temporizador_.setTimerType(Qt::PreciseTimer);
    temporizador_.setInterval(int(std::lround(1000.0 / (cuadros > 0 ? cuadros : 30.0))));
    connect(&temporizador_, &QTimer::timeout, this, &Orbe::cuadro);
    connect(&voz_, &EstadoVoz::visibleCambio, this, &Orbe::actualizar);
    connect(&voz_, &EstadoVoz::quietoCambio, this, &Orbe::actualizar);
    actualizar();
}

void Orbe::actualizar() {
    const bool corre = voz_.visible() && !voz_.quieto();
    if (corre && !temporizador_.isActive()) {
        temporizador_.start();
        cuadro();
    } else if (!corre) {
        temporizador_.stop();
    }
}

void Orbe::cuadro() {
    fecha_ = reloj_.segundos();
    if (lienzo_ && dibujo_ && lienzo_->isVisible()) {
        // The state steps once per frame, here or at the first drawing of the frame.
        voz_.avanzar(fecha_);
        calcular(dibujo_->first, dibujo_->second);
        lienzo_->update((zona() | zona_) & lienzo_->rect());
    } else if (lienzo_) {
        lienzo_->update();
    }
    emit cuadroNuevo();
}

void Orbe::calcular(const QSizeF& tamano, bool oscuro) {
    const Clave clave{voz_.animado, voz_.nivel, voz_.tiempo, tamano, oscuro};
    if (claveFormas_ == clave) return;
    formas(voz_, tamano.width(), tamano.height(), oscuro, formas_);
    claveFormas_ = clave;
}

QRect Orbe::zona() const {
    double x0 = std::numeric_limits<double>::max(), y0 = x0, x1 = -x0, y1 = -x0;
    for (const QPolygonF& anillo : formas_.anillos)
        for (const QPointF& p : anillo) {
            if (!(std::abs(p.x()) < 1e6 && std::abs(p.y()) < 1e6)) continue;
            x0 = std::min(x0, p.x()), x1 = std::max(x1, p.x());
            y0 = std::min(y0, p.y()), y1 = std::max(y1, p.y());
        }
    if (x0 > x1) return {};
    // The glow's half width and its smoothing, and a pixel to spare.
    const double escala = std::sqrt(std::abs(aLienzo_.determinant()));
    const double margen = 1.5 * escala + 4;
    return aLienzo_.mapRect(QRectF(QPointF(x0, y0), QPointF(x1, y1))).adjusted(-margen, -margen, margen, margen).toAlignedRect();
}

Orbe::Formas Orbe::formas(const EstadoVoz& voz, double ancho, double alto, bool oscuro) {
    Formas f;
    formas(voz, ancho, alto, oscuro, f);
    return f;
}

void Orbe::formas(const EstadoVoz& voz, double w, double h, bool oscuro, Formas& salida) {
    const double E0 = voz.animado.energia, G = voz.animado.giro, S = voz.animado.escala, B = voz.animado.brillo;
    const double n = voz.nivel, t = voz.tiempo;

    const double cx = w * 0.5, cy = h * 0.5;
    const double E = E0 + 0.55 * n;
    const double R = w * 0.33 * 0.9 * S * (1 + 0.08 * n);
    const double a = G * t;
    const double ca = std::cos(a / 2), sa = std::sin(a / 2);
    const double tilt = 0.15 + 0.25 * std::sin(0.21 * t);
    const double ct = std::cos(tilt), st = std::sin(tilt);
    const double D = 1.9 * B;

    salida.radio = R;
    salida.sombreado = QLinearGradient(QPointF(cx, cy + 1.3 * R), QPointF(cx, cy - 1.4 * R));
    const auto color = [](int r, int g, int b, double opacidad) {
        QColor c(r, g, b);
        c.setAlphaF(float(std::clamp(opacidad, 0.0, 1.0)));
        return c;
    };
    if (oscuro) {
        salida.sombreado.setColorAt(0, color(183, 255, 39, 0.34 * D));
        salida.sombreado.setColorAt(0.55, color(96, 240, 140, 0.26 * D));
        salida.sombreado.setColorAt(1, color(45, 226, 200, 0.30 * D));
    } else {
        salida.sombreado.setColorAt(0, color(74, 140, 0, 0.30 * D));
        salida.sombreado.setColorAt(0.55, color(20, 150, 90, 0.24 * D));
        salida.sombreado.setColorAt(1, color(0, 128, 118, 0.28 * D));
    }

    // The points' angles are the same every frame: their cosines and sines are worked out once.
    static const std::array<std::pair<double, double>, puntosPorAnillo> angulos = [] {
        std::array<std::pair<double, double>, puntosPorAnillo> tabla{};
        for (int k = 0; k < puntosPorAnillo; ++k) {
            const double th = (double(k) / 48) * M_PI * 2;
            tabla[size_t(k)] = {std::cos(th), std::sin(th)};
        }
        return tabla;
    }();
    salida.anillos.resize(grupos * anillosPorGrupo);
    size_t indice = 0;
    for (int i = 0; i < grupos; ++i) {
        const double di = i;
        const double phi = 2.1 * di + a * (0.6 + 0.35 * di);
        const double base = 0.9 + 0.75 * di + 0.35 * std::sin(0.17 * t + di);
        const double cphi = std::cos(phi), sphi = std::sin(phi);
        for (int j = 0; j < anillosPorGrupo; ++j) {
            const double dj = j;
            const double lat = base + (0.34 + 0.25 * E) * (dj / 8 - 0.5);
            const double clat = std::cos(lat), slat = std::sin(lat);
            QPolygonF& anillo = salida.anillos[indice++];
            anillo.resize(puntosPorAnillo);
            for (int k = 0; k < puntosPorAnillo; ++k) {
                const double cth = angulos[size_t(k)].first, sth = angulos[size_t(k)].second;
                const double X = cphi * cth - sphi * slat * sth;
                const double Y = clat * sth;
                const double Z = sphi * cth + cphi * slat * sth;
                const double u = Ruido::valor(0.25 * t + 1.2 * X, 1.2 * Y - 0.18 * t, 0.015 * dj + (3.1 * di + 1.2 * Z));
                // Spikes grow only on the upper cap: below it the fine field would be multiplied
                // by zero, so it is not sampled there (the sum comes out the same to the bit).
                const double casquete = std::max(Y - 0.55, 0.0);
                double bump = 0;
                if (casquete > 0) {
                    const double q = Ruido::valor(0.6 * t + 2.5 * X, 2.5 * Z, 0.4 * t + di);
                    bump = std::max(q, 0.0) * casquete * 2.2;
                }
                const double rho = (1 + (0.08 + 0.22 * E) * u) + (0.25 + 1.2 * E) * bump;
                const double Px = X * rho, Py = Y * rho, Pz = Z * rho;
                const double X2 = ca * Px - sa * Pz;
                const double Z2 = sa * Px + ca * Pz;
                const double Y3 = ct * Py - st * Z2;
                const double Z3 = st * Py + ct * Z2;
                const double p = 2.8 / (Z3 + 2.8);
                anillo[k] = QPointF(cx + R * X2 * p, cy - R * Y3 * p);
            }
        }
    }
}

namespace {

// The orb is drawn by hand rather than with Qt's strokers: its 54 thin strokes give the raster
// engine thousands of one-pixel spans a frame, each blended on its own (and handed out to the
// engine's thread pool when they pile up), which cost several times more than the coverage
// worked out here. What reaches the painter is one finished picture of the rings.

// What the rings leave on a grid of pixels. Dark: the rings' light adds up, so `total` sums the
// coverage of every ring. Light: each ring is laid over the ones before, so `total` keeps how
// much of what lies beneath still shows through (the product of 1 − alpha × coverage). Within a
// ring a pixel counts once, at the largest coverage any of the ring's segments gives it (as a
// filled outline does under the non-zero rule, so the ring's own joints and crossings are not
// counted twice): `anillo` holds that coverage for the ring `sello` names.
struct Rejilla {
    int ancho = 0, alto = 0;
    std::vector<float> total, anillo;
    std::vector<int> sello;
    void preparar(int w, int h, float vacio) {
        ancho = w;
        alto = h;
        total.assign(size_t(w) * size_t(h), vacio);
        anillo.assign(total.size(), 0);
        sello.assign(total.size(), -1);
    }
};

// floor and ceil for the grid's coordinates (small, finite), without a call into the maths library.
inline int abajo(float v) {
    const int i = int(v);
    return i - (float(i) > v);
}
inline int arriba(float v) {
    const int i = int(v);
    return i + (float(i) < v);
}

// Ring number `numero`, an open polyline `ancho` pixels wide (points in the grid's pixels),
// onto the grid; `alfa` is the opacity at each pixel in the light scheme (none in the dark one).
// Each segment is walked along its longer axis, one pixel column (or row) at a time, taking the
// columns whose centre lies between its ends; in a column the band covers, of each pixel, the
// overlap of the pixel with the band's cross-section there (the band is ancho·√(1 + slope²)
// tall across a column).
void trazar(const QPointF* puntos, qsizetype n, float ancho, int numero, Rejilla& g, const float* alfa) {
    const int w = g.ancho, h = g.alto;
    float* total = g.total.data();
    float* anillo = g.anillo.data();
    int* sello = g.sello.data();
    for (qsizetype k = 0; k + 1 < n; ++k) {
        float ax = float(puntos[k].x()), ay = float(puntos[k].y());
        float bx = float(puntos[k + 1].x()), by = float(puntos[k + 1].y());
        // (Points far off the grid, or not numbers, are left out: the grid holds every point of
        // a sound frame.)
        if (!(std::abs(ax) < 1e6f && std::abs(ay) < 1e6f && std::abs(bx) < 1e6f && std::abs(by) < 1e6f)) continue;
        // Along x when the segment is wider than tall, else along y (the roles swapped).
        const bool porColumnas = std::abs(bx - ax) >= std::abs(by - ay);
        if (!porColumnas) {
            std::swap(ax, ay);
            std::swap(bx, by);
        }
        if (ax > bx) {
            std::swap(ax, bx);
            std::swap(ay, by);
        }
        const float largo = bx - ax;
        if (!(largo > 0)) continue;
        const float pendiente = (by - ay) / largo;
        const float media = 0.5f * ancho * std::sqrt(1 + pendiente * pendiente);
        const int mayor = porColumnas ? w : h, menor = porColumnas ? h : w;
        const int i0 = std::max(0, arriba(ax - 0.5f));
        const int i1 = std::min(mayor - 1, arriba(bx - 0.5f) - 1);
        // Pixel (i, j) of the walk is p = base(i) + j × paso in the grid.
        const int paso = porColumnas ? w : 1;
        for (int i = i0; i <= i1; ++i) {
            const float centro = ay + (float(i) + 0.5f - ax) * pendiente;
            const float bajo = centro - media, alto = centro + media;
            const int j0 = std::max(0, abajo(bajo));
            const int j1 = std::min(menor - 1, abajo(alto));
            int p = (porColumnas ? i : i * w) + j0 * paso;
            for (int j = j0; j <= j1; ++j, p += paso) {
                const float c = std::min(std::min(alto, float(j + 1)) - std::max(bajo, float(j)), 1.0f);
                const float antes = sello[p] == numero ? anillo[p] : 0.0f;
                const float ahora = std::max(c, antes);
                if (alfa)
                    total[p] *= (1.0f - alfa[p] * ahora) / (1.0f - alfa[p] * antes);
                else
                    total[p] += ahora - antes;
                anillo[p] = ahora;
                sello[p] = numero;
            }
        }
    }
}

// The gradient as a table over its parameter (0 at its start, 1 at its end, padded beyond) of
// premultiplied colours (0 to 1) and of the same colours unpremultiplied; the stops are
// interpolated in premultiplied form, as Qt does.
struct Tabla {
    static constexpr int n = 256;
    struct Color {
        float r, g, b, a;  // premultiplied
        float cr, cg, cb;  // unpremultiplied
    };
    std::array<Color, n + 1> c{};
    void llenar(const QGradientStops& paradas) {
        const auto premultiplicado = [](const QColor& color) {
            const float a = color.alphaF();
            return std::array<float, 4>{color.redF() * a, color.greenF() * a, color.blueF() * a, a};
        };
        std::vector<std::array<float, 4>> colores;
        for (const auto& parada : paradas) colores.push_back(premultiplicado(parada.second));
        qsizetype k = 0;
        for (int i = 0; i <= n; ++i) {
            const double t = double(i) / n;
            while (k + 1 < paradas.size() && paradas[k + 1].first < t) ++k;
            std::array<float, 4> p{0, 0, 0, 0};
            if (paradas.isEmpty()) {
            } else if (t <= paradas.first().first) {
                p = colores.front();
            } else if (k + 1 >= paradas.size()) {
                p = colores.back();
            } else {
                const auto& a = colores[size_t(k)];
                const auto& b = colores[size_t(k + 1)];
                const double tramo = paradas[k + 1].first - paradas[k].first;
                const float f = tramo > 0 ? float((t - paradas[k].first) / tramo) : 1.0f;
                for (size_t j = 0; j < 4; ++j) p[j] = a[j] + (b[j] - a[j]) * f;
            }
            const float inversa = p[3] > 0 ? 1.0f / p[3] : 0.0f;
            c[size_t(i)] = {p[0], p[1], p[2], p[3], p[0] * inversa, p[1] * inversa, p[2] * inversa};
        }
    }
    const Color& en(float t) const { return c[size_t(std::clamp(int(t * n + 0.5f), 0, n))]; }
};

// The gradient's parameter as an affine function of a pixel's centre.
struct Parametro {
    float a = 0, b = 0, c = 0;
    float en(float x, float y) const { return a * x + b * y + c; }
};

// Everything a frame needs, kept from frame to frame (and thread to thread, each its own), so a
// frame allocates nothing once the orb has been drawn at its size.
struct Lienzo {
    Rejilla nitido, brillo;
    std::vector<float> alfaNitido, alfaBrillo;  // the opacity at each pixel (light scheme)
    std::vector<int> columna;     // per column of the picture: the glow column left of it
    std::vector<float> peso;      // and the weight of the one right of it
    QPolygonF dispositivo, puntos;
    QImage imagen;
    Tabla tabla;
};

}  // namespace

void Orbe::pintar(QPainter& pintor, const QRectF& marco, const Formas& f, bool oscuro) {
    thread_local Lienzo l;
    // From the orb's points to device pixels, and how many of those a point spans.
    const QTransform t = QTransform::fromTranslate(marco.left(), marco.top()) * pintor.deviceTransform();
    const double pixeles = std::sqrt(std::abs(t.determinant()));
    if (!(pixeles > 0) || !std::isfinite(pixeles) || f.anillos.empty()) return;
    const float anchoNitido = float(0.7 * pixeles);
    const float anchoBrillo = float(3 * pixeles / 2);  // in the glow's half-resolution pixels

    // Every point in device pixels, once (the transform is affine), and the pixels the rings can
    // reach: their points, the glow's half width and its smoothing.
    l.dispositivo.resize(0);
    double x0 = std::numeric_limits<double>::max(), y0 = x0, x1 = -x0, y1 = -x0;
    const double m11 = t.m11(), m12 = t.m12(), m21 = t.m21(), m22 = t.m22(), mdx = t.dx(), mdy = t.dy();
    for (const QPolygonF& anillo : f.anillos)
        for (const QPointF& p : anillo) {
            const double x = m11 * p.x() + m21 * p.y() + mdx, y = m12 * p.x() + m22 * p.y() + mdy;
            l.dispositivo.push_back(QPointF(x, y));
            if (!(std::abs(x) < 1e6 && std::abs(y) < 1e6)) continue;
            x0 = std::min(x0, x), x1 = std::max(x1, x);
            y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    if (x0 > x1) return;
    const double margen = 1.5 * pixeles + 4;
    const QPoint origen(int(std::floor(x0 - margen)), int(std::floor(y0 - margen)));
    const int w = int(std::ceil(x1 + margen)) - origen.x(), h = int(std::ceil(y1 + margen)) - origen.y();
    if (w <= 0 || h <= 0 || w > 4096 || h > 4096) return;
    // The glow's grid: pixel (u, v) stands for the device pixels 2u − 2 to 2u (one spare pixel
    // around the picture's, so that scaling it up never reads outside it).
    const int wb = w / 2 + 3, hb = h / 2 + 3;

    // The gradient's parameter at a device pixel's centre, relative to the origin.
    const QTransform inversa = t.inverted();
    const QPointF inicio = f.sombreado.start(), fin = f.sombreado.finalStop();
    const QPointF eje = fin - inicio;
    const double largo2 = QPointF::dotProduct(eje, eje);
    const auto parametro = [&](double x, double y) {
        if (!(largo2 > 0)) return 0.0;
        return QPointF::dotProduct(inversa.map(QPointF(origen.x() + x, origen.y() + y)) - inicio, eje) / largo2;
    };
    const double t00 = parametro(0, 0);
    const Parametro enNitido{float(parametro(1, 0) - t00), float(parametro(0, 1) - t00), float(t00)};
    // The centre of glow pixel (u, v) is the device point (2u − 1, 2v − 1).
    const Parametro enBrillo{2 * enNitido.a, 2 * enNitido.b, enNitido.c - 2 * enNitido.a - 2 * enNitido.b};
    l.tabla.llenar(f.sombreado.stops());

    const float vacio = oscuro ? 0.0f : 1.0f;
    l.nitido.preparar(w, h, vacio);
    l.brillo.preparar(wb, hb, vacio);
    const auto alfas = [&](std::vector<float>& alfa, int ancho, int alto, const Parametro& par, float opacidad) {
        alfa.resize(size_t(ancho) * size_t(alto));
        for (int y = 0; y < alto; ++y)
            for (int x = 0; x < ancho; ++x)
                alfa[size_t(y) * size_t(ancho) + size_t(x)] = opacidad * l.tabla.en(par.en(float(x) + 0.5f, float(y) + 0.5f)).a;
    };
    if (!oscuro) {
        alfas(l.alfaNitido, w, h, enNitido, 1.0f);
        alfas(l.alfaBrillo, wb, hb, enBrillo, 0.22f);
    }
    const QPointF* punto = l.dispositivo.constData();
    int numero = 0;
    for (const QPolygonF& anillo : f.anillos) {
        const qsizetype n = anillo.size();
        // Glow: 3 points wide at 0.22, at half the device resolution (it is soft) and through
        // every other point (at that size the chords stay within a tenth of a pixel).
        l.puntos.resize((n + 1) / 2);
        for (qsizetype i = 0; i < l.puntos.size(); ++i) {
            const QPointF& p = punto[std::min(2 * i, n - 1)];
            l.puntos[i] = QPointF((p.x() - origen.x()) * 0.5 + 1, (p.y() - origen.y()) * 0.5 + 1);
        }
        trazar(l.puntos.constData(), l.puntos.size(), anchoBrillo, numero, l.brillo, oscuro ? nullptr : l.alfaBrillo.data());
        // Sharp: 0.7 points wide at full opacity.
        l.puntos.resize(n);
        for (qsizetype i = 0; i < n; ++i) l.puntos[i] = QPointF(punto[i].x() - origen.x(), punto[i].y() - origen.y());
        trazar(l.puntos.constData(), n, anchoNitido, numero, l.nitido, oscuro ? nullptr : l.alfaNitido.data());
        punto += n;
        ++numero;
    }

    // The picture: the glow scaled up smoothly (bilinear) under the sharp lines, each pixel in
    // the gradient's colour at its place. Device pixel x's centre falls at glow x/2 + 0.75: the
    // glow pixels x/2 and x/2 + 1 weighted 1/4 and 3/4 for even x, (x+1)/2 and the next weighted
    // 3/4 and 1/4 for odd x (and likewise down the rows).
    if (l.imagen.width() < w || l.imagen.height() < h)
        l.imagen = QImage(QSize(w, h).expandedTo(l.imagen.size()), QImage::Format_ARGB32_Premultiplied);
    l.columna.resize(size_t(w));
    l.peso.resize(size_t(w));
    for (int x = 0; x < w; ++x) {
        l.columna[size_t(x)] = x % 2 ? (x + 1) / 2 : x / 2;
        l.peso[size_t(x)] = x % 2 ? 0.25f : 0.75f;
    }
    const auto canal = [](float valor) { return uint(std::min(valor, 1.0f) * 255.0f + 0.5f); };
    for (int y = 0; y < h; ++y) {
        QRgb* fila = reinterpret_cast<QRgb*>(l.imagen.scanLine(y));
        const int v0 = y % 2 ? (y + 1) / 2 : y / 2;
        const float fv = y % 2 ? 0.25f : 0.75f;
        const float* arribaB = l.brillo.total.data() + size_t(v0) * size_t(wb);
        const float* abajoB = arribaB + wb;
        const float* nitido = l.nitido.total.data() + size_t(y) * size_t(w);
        const float tFila = enNitido.b * (float(y) + 0.5f) + enNitido.c + enNitido.a * 0.5f;
        for (int x = 0; x < w; ++x) {
            const int u0 = l.columna[size_t(x)];
            const float fu = l.peso[size_t(x)];
            const float brillo = (arribaB[u0] * (1 - fu) + arribaB[u0 + 1] * fu) * (1 - fv) +
                                 (abajoB[u0] * (1 - fu) + abajoB[u0 + 1] * fu) * fv;
            const Tabla::Color& c = l.tabla.en(tFila + enNitido.a * float(x));
            if (oscuro) {
                // Light added ring after ring: the gradient's colour times the coverage summed.
                const float k = 0.22f * brillo + nitido[x];
                fila[x] = k > 0 ? qRgba(int(canal(c.r * k)), int(canal(c.g * k)), int(canal(c.b * k)), int(canal(c.a * k))) : 0;
            } else {
                // Rings of one colour laid over one another make that colour at the alpha
                // 1 − (what still shows through).
                const float alfa = 1.0f - brillo * nitido[x];
                fila[x] = alfa > 0 ? qRgba(int(canal(c.cr * alfa)), int(canal(c.cg * alfa)), int(canal(c.cb * alfa)),
                                           int(canal(alfa)))
                                   : 0;
            }
        }
    }

    // Onto the canvas: additive light over the dark glass, plain drawing over the light one.
    pintor.save();
    pintor.setCompositionMode(oscuro ? QPainter::CompositionMode_Plus : QPainter::CompositionMode_SourceOver);
    ponerPixeles(pintor, origen, l.imagen, QRect(0, 0, w, h));
    pintor.restore();
}

void Orbe::ponerPixeles(QPainter& pintor, const QPoint& origen, const QImage& imagen, const QRect& parte) {
    pintor.save();
    pintor.resetTransform();
    const QTransform base = pintor.deviceTransform();
    pintor.setWorldTransform(QTransform::fromTranslate(origen.x(), origen.y()) * base.inverted());
    const bool encima = pintor.compositionMode() == QPainter::CompositionMode_SourceOver;
    const int banda = encima ? parte.height() : 64;
    for (int y = 0; y < parte.height(); y += banda)
        pintor.drawImage(QPointF(0, y), imagen, QRectF(parte.x(), parte.y() + y, parte.width(), std::min(banda, parte.height() - y)));
    pintor.restore();
}

void Orbe::dibujar(QPainter& pintor, const QRectF& marco, bool oscuro) {
    voz_.avanzar(fecha_);
    calcular(marco.size(), oscuro);
    pintar(pintor, marco, formas_, oscuro);
    dibujo_ = std::make_pair(marco.size(), oscuro);
    aLienzo_ = QTransform::fromTranslate(marco.left(), marco.top()) * pintor.transform();
    zona_ = zona();
}
