#include "zentu/isla/Orbe.h"

#include "compartido/Ruido.h"

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <array>
#include <cmath>

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
    if (lienzo_) lienzo_->update();
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
                const double q = Ruido::valor(0.6 * t + 2.5 * X, 2.5 * Z, 0.4 * t + di);
                const double bump = std::max(q, 0.0) * std::max(Y - 0.55, 0.0) * 2.2;
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

// The outline of an open polyline stroked `ancho` wide with flat caps and mitred joins (the
// miter clamped at twice the width, as Qt's default pen), as one polygon to fill. Filling it
// looks the same as stroking the polyline and costs far less than the general stroker, which
// works out each join with trigonometry.
void contorno(const QPolygonF& linea, double ancho, QPolygonF& salida) {
    const int n = int(linea.size());
    salida.resize(2 * n);
    const double h = ancho / 2;
    for (int i = 0; i < n; ++i) {
        const QPointF a = linea[std::max(i - 1, 0)], b = linea[i], c = linea[std::min(i + 1, n - 1)];
        double d1x = b.x() - a.x(), d1y = b.y() - a.y(), d2x = c.x() - b.x(), d2y = c.y() - b.y();
        // Plain square roots: these lengths are a few pixels, nowhere near overflow, and hypot
        // costs several times as much.
        const double l1 = std::sqrt(d1x * d1x + d1y * d1y), l2 = std::sqrt(d2x * d2x + d2y * d2y);
        if (l2 > 0) {
            d2x /= l2;
            d2y /= l2;
        }
        if (l1 > 0) {
            d1x /= l1;
            d1y /= l1;
        } else {
            d1x = d2x;
            d1y = d2y;
        }
        if (!(l2 > 0)) {
            d2x = d1x;
            d2y = d1y;
        }
        // The join's direction: the bisector of the two segments' normals.
        double nx = -(d1y + d2y), ny = d1x + d2x;
        double ln = std::sqrt(nx * nx + ny * ny);
        if (ln < 1e-9) {
            nx = -d1y;
            ny = d1x;
            ln = 1;
        }
        nx /= ln;
        ny /= ln;
        const double coseno = nx * -d1y + ny * d1x;
        const double m = h / std::max(coseno, 0.25);
        salida[i] = QPointF(b.x() + nx * m, b.y() + ny * m);
        salida[2 * n - 1 - i] = QPointF(b.x() - nx * m, b.y() - ny * m);
    }
}

}  // namespace

void Orbe::pintar(QPainter& pintor, const QRectF& marco, const Formas& f, bool oscuro) {
    pintor.save();
    pintor.translate(marco.topLeft());
    pintor.setRenderHint(QPainter::Antialiasing, true);
    pintor.setBrush(Qt::NoBrush);
    // Additive light over the dark glass; plain drawing over the light one. Both blend the same
    // whether the rings go straight onto the canvas or through a buffer first.
    const QPainter::CompositionMode modo = oscuro ? QPainter::CompositionMode_Plus : QPainter::CompositionMode_SourceOver;
    pintor.setCompositionMode(modo);
    const QBrush sombreado(f.sombreado);  // one gradient for the frame, both passes
    // Reused from frame to frame (and thread to thread, each its own): nothing allocated per frame.
    thread_local QPolygonF borde, ralo;
    thread_local QImage brillo;

    const QTransform t = pintor.deviceTransform();
    const double pixeles = std::sqrt(std::abs(t.determinant()));  // device pixels per point

    // Glow: each ring 3 wide at 0.22, drawn as its filled outline (one fill per ring, so
    // crossings of different rings still add up). It is soft, so it is drawn at half the device
    // resolution into a buffer and scaled up smoothly over the canvas: a quarter of the pixels.
    const double k = pixeles / 2;
    const QSize tam(int(std::ceil(marco.width() * k)) + 1, int(std::ceil(marco.height() * k)) + 1);
    if (tam.width() > 0 && tam.height() > 0 && k > 0) {
        if (brillo.width() < tam.width() || brillo.height() < tam.height())
            brillo = QImage(tam.expandedTo(brillo.size()), QImage::Format_ARGB32_Premultiplied);
        brillo.fill(Qt::transparent);
        {
            QPainter q(&brillo);
            q.setRenderHint(QPainter::Antialiasing, true);
            q.setCompositionMode(modo);
            q.setOpacity(0.22);
            q.setPen(Qt::NoPen);
            q.setBrush(sombreado);
            q.scale(k, k);
            for (const QPolygonF& anillo : f.anillos) {
                // Half the points: at half resolution the chords stay within a tenth of a pixel.
                ralo.resize((anillo.size() + 1) / 2);
                for (qsizetype i = 0; i < ralo.size(); ++i) ralo[i] = anillo[std::min(2 * i, anillo.size() - 1)];
                contorno(ralo, 3, borde);
                q.drawPolygon(borde, Qt::WindingFill);
            }
        }
        pintor.save();
        pintor.setRenderHint(QPainter::SmoothPixmapTransform, true);
        pintor.drawImage(QRectF(0, 0, tam.width() / k, tam.height() / k), brillo, QRectF(QPointF(0, 0), QSizeF(tam)));
        pintor.restore();
    }

    // Sharp lines 0.7 wide: up to one device pixel Qt's thin-line path draws them fastest;
    // wider ones are filled outlines like the glow.
    if (0.7 * pixeles <= 1) {
        pintor.setBrush(Qt::NoBrush);
        pintor.setPen(QPen(sombreado, 0.7, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin));
        for (const QPolygonF& anillo : f.anillos) pintor.drawPolyline(anillo);
    } else {
        pintor.setPen(Qt::NoPen);
        pintor.setBrush(sombreado);
        for (const QPolygonF& anillo : f.anillos) {
            contorno(anillo, 0.7, borde);
            pintor.drawPolygon(borde, Qt::WindingFill);
        }
    }
    pintor.restore();
}

void Orbe::dibujar(QPainter& pintor, const QRectF& marco, bool oscuro) {
    voz_.avanzar(fecha_);
    formas(voz_, marco.width(), marco.height(), oscuro, formas_);
    pintar(pintor, marco, formas_, oscuro);
}
