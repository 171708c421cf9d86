// Cost of one frame of the island's orb (44-point canvas) at several island scales, against the
// 33 ms budget of a 30 fps animation: printed as the share of one core it takes at 30 fps.
// Each row measures, in the same run, the drawing as it was when Qt's raster engine stroked the
// rings ("before", kept below as the reference) and as it is now, and how far the two pictures
// differ (largest and mean difference of a colour channel, over the glass). This is the orb
// alone, offscreen: what the owner pays with the island on screen is measured by medir_isla.
// The two drawings alternate over `rondas` rounds (the one that starts turning every round);
// each figure is the median of the rounds with the lowest and highest beside it, the ratio
// now / before taken round by round.
// Run by hand: build/bench/medir_orbe [cuadros=600] [rondas=5]
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/Orbe.h"
#include "Medidas.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

// ---- the reference: the orb as Qt's raster engine drew it before this change, unchanged:
// strokes as filled outlines, the glow at half resolution scaled up by the painter.
// The outline of an open polyline stroked `ancho` wide with flat caps and mitred joins (the
// miter clamped at twice the width, as Qt's default pen), as one polygon to fill. Filling it
// looks the same as stroking the polyline and costs far less than the general stroker, which
// works out each join with trigonometry.
void contornoAntes(const QPolygonF& linea, double ancho, QPolygonF& salida) {
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

void pintarAntes(QPainter& pintor, const QRectF& marco, const Orbe::Formas& f, bool oscuro) {
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
                contornoAntes(ralo, 3, borde);
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
            contornoAntes(anillo, 0.7, borde);
            pintor.drawPolygon(borde, Qt::WindingFill);
        }
    }
    pintor.restore();
}

using Pintura = std::function<void(QPainter&, const QRectF&, const Orbe::Formas&, bool)>;

struct Tiempos {
    double formas = 0, pintar = 0;
};

QColor fondo(bool oscuro) { return oscuro ? QColor(22, 24, 28) : QColor(236, 238, 241); }

Tiempos medir(double escala, double dpr, bool oscuro, int cuadros, const Pintura& pintura) {
    EstadoVoz voz;
    voz.setFase(Fase::hablando);
    voz.nivelBruto = 0.6;
    const int lado = int(std::ceil(44 * escala * dpr));
    QImage imagen(lado, lado, QImage::Format_ARGB32_Premultiplied);
    imagen.setDevicePixelRatio(dpr);
    Orbe::Formas formas;
    Tiempos t;
    QElapsedTimer reloj;
    for (int i = 0; i < cuadros; ++i) {
        imagen.fill(Qt::transparent);
        reloj.start();
        voz.avanzar(i / 30.0);
        Orbe::formas(voz, 44 * escala, 44 * escala, oscuro, formas);
        t.formas += reloj.nsecsElapsed() / 1e6;
        reloj.start();
        QPainter p(&imagen);
        pintura(p, QRectF(0, 0, 44 * escala, 44 * escala), formas, oscuro);
        p.end();
        t.pintar += reloj.nsecsElapsed() / 1e6;
    }
    t.formas /= cuadros;
    t.pintar /= cuadros;
    return t;
}

// The same frames drawn both ways over the glass colour: the largest and the mean difference of
// one colour channel (0-255) over every pixel of `cuadros` frames.
std::pair<int, double> diferencia(double escala, double dpr, bool oscuro, int cuadros) {
    EstadoVoz voz;
    voz.setFase(Fase::hablando);
    voz.nivelBruto = 0.6;
    const int lado = int(std::ceil(44 * escala * dpr));
    QImage a(lado, lado, QImage::Format_ARGB32_Premultiplied), b = a;
    a.setDevicePixelRatio(dpr);
    b.setDevicePixelRatio(dpr);
    Orbe::Formas formas;
    int maximo = 0;
    double suma = 0;
    long n = 0;
    for (int i = 0; i < cuadros; ++i) {
        voz.avanzar(i / 30.0);
        Orbe::formas(voz, 44 * escala, 44 * escala, oscuro, formas);
        for (auto [imagen, antes] : {std::pair<QImage*, bool>{&a, true}, {&b, false}}) {
            imagen->fill(fondo(oscuro));
            QPainter p(imagen);
            if (antes) pintarAntes(p, QRectF(0, 0, 44 * escala, 44 * escala), formas, oscuro);
            else Orbe::pintar(p, QRectF(0, 0, 44 * escala, 44 * escala), formas, oscuro);
        }
        for (int y = 0; y < lado; ++y) {
            const QRgb* fa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
            const QRgb* fb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
            for (int x = 0; x < lado; ++x) {
                for (int d : {std::abs(qRed(fa[x]) - qRed(fb[x])), std::abs(qGreen(fa[x]) - qGreen(fb[x])),
                              std::abs(qBlue(fa[x]) - qBlue(fb[x]))}) {
                    maximo = std::max(maximo, d);
                    suma += d;
                    ++n;
                }
            }
        }
        if (i == cuadros - 1 && escala == 1.4 && dpr == 1) {
            // Before and now side by side, four times the size, to look at.
            QImage lado2(2 * lado * 4 + 8, lado * 4, QImage::Format_ARGB32_Premultiplied);
            lado2.fill(Qt::gray);
            QPainter p(&lado2);
            p.drawImage(QRect(0, 0, lado * 4, lado * 4), a);
            p.drawImage(QRect(lado * 4 + 8, 0, lado * 4, lado * 4), b);
            p.end();
            lado2.save(QStringLiteral("orbe-antes-ahora-%1.png").arg(oscuro ? "oscuro" : "claro"));
        }
    }
    return {maximo, n ? suma / double(n) : 0};
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int cuadros = argc > 1 ? std::max(1, std::atoi(argv[1])) : 600;
    const Pintura antes = pintarAntes;
    const Pintura ahora = [](QPainter& p, const QRectF& r, const Orbe::Formas& f, bool o) { Orbe::pintar(p, r, f, o); };
    medir(1.4, 1, true, 60, antes);  // warm-up: noise table, caches
    medir(1.4, 1, true, 60, ahora);
    const int rondas = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    std::printf("orb frame (speaking, level 0.6), %d frames a round, %d rounds alternating; budget 33.3 ms at 30 fps;\n"
                "median [lowest–highest]; \"before\" is the anchor: the same orb as Qt's raster engine stroked it\n",
                cuadros, rondas);
    std::printf("%-6s %-4s %-6s %-22s %-22s %-22s %-10s %7s %9s\n", "scale", "dpr", "scheme", "before ms", "now ms",
                "now / before", "now core", "max Δ", "mean Δ");
    for (double dpr : {1.0, 2.0})
        for (double escala : {1.0, 1.4, 2.2})
            for (bool oscuro : {true, false}) {
                std::vector<double> a, b;
                for (int ronda = 0; ronda < rondas; ++ronda)
                    for (int k = 0; k < 2; ++k) {
                        const bool esAntes = turno(ronda, k, 2) == 0;
                        const Tiempos t = medir(escala, dpr, oscuro, std::max(1, cuadros / rondas), esAntes ? antes : ahora);
                        (esAntes ? a : b).push_back(t.formas + t.pintar);
                    }
                const auto [maximo, media] = diferencia(escala, dpr, oscuro, 30);
                std::printf("%-6.1f %-4.0f %-6s %s %s %s %9.2f%% %7d %9.3f\n", escala, dpr, oscuro ? "dark" : "light",
                            columna(cifra(a, 3), 22).constData(), columna(cifra(b, 3), 22).constData(),
                            columna(cifra(razones(b, a), 2), 22).constData(), mediana(b) * 30 / 1000 * 100, maximo, media);
            }
    return 0;
}
