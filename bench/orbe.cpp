// Cost of one frame of the island's orb (44-point canvas) at several island scales, against the
// 33 ms budget of a 30 fps animation: printed as the share of one core it takes at 30 fps.
// Also splits the frame into its parts (ring geometry, glow pass, sharp pass) to show where the
// time goes. Run by hand: build/bench/medir_orbe
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/Orbe.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

namespace {

struct Tiempos {
    double formas = 0, pintar = 0;
};

Tiempos medir(double escala, double dpr, bool oscuro, int cuadros) {
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
        Orbe::pintar(p, QRectF(0, 0, 44 * escala, 44 * escala), formas, oscuro);
        p.end();
        t.pintar += reloj.nsecsElapsed() / 1e6;
    }
    t.formas /= cuadros;
    t.pintar /= cuadros;
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int cuadros = 600;
    medir(1.4, 1, true, 60);  // warm-up: noise table, caches
    std::printf("orb frame (speaking, level 0.6), %d frames each; budget 33.3 ms at 30 fps\n", cuadros);
    std::printf("%-6s %-4s %-7s %10s %10s %10s %12s\n", "scale", "dpr", "scheme", "rings ms", "strokes ms",
                "frame ms", "core @30fps");
    for (double dpr : {1.0, 2.0})
        for (double escala : {1.0, 1.4, 2.2})
            for (bool oscuro : {true, false}) {
                const Tiempos t = medir(escala, dpr, oscuro, cuadros);
                const double cuadro = t.formas + t.pintar;
                std::printf("%-6.1f %-4.0f %-7s %10.3f %10.3f %10.3f %11.2f%%\n", escala, dpr,
                            oscuro ? "dark" : "light", t.formas, t.pintar, cuadro, cuadro * 30 / 1000 * 100);
            }
    return 0;
}
