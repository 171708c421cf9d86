// Cost of reading a QR code in a camera frame, against the analysis budget of the pairing
// camera (one frame every 0.25 s, off the main thread), and of reading a pasted screenshot
// (on the main thread). It runs the detector alone (zentu_plataforma's DetectorQR), not the
// program: the installed program reads frames only from a camera, which the benchmark cannot
// feed at will. The anchor, measured in the same run, is the same frame converted to a QImage
// first: the luma plane read in place should cost no more than that.
// The readings alternate over `rondas` rounds of `repeticiones` reads each, the order turning
// every round; each figure is the median of the rounds with the lowest and highest beside it,
// the ratio taken round by round.
// Usage: medir_detector_qr [repeticiones=10] [rondas=5]
#include "comun/ImagenesQR.h"
#include "plataforma/DetectorQR.h"
#include "Medidas.h"

#include <QApplication>
#include <QElapsedTimer>
#include <cstdio>
#include <functional>

namespace {

double msPorVez(int veces, const std::function<void()>& f) {
    f();  // warm-up
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < veces; ++i) f();
    return t.nsecsElapsed() / 1e6 / veces;
}

// A code the size a phone screen shows at arm's length, in a 1280 x 720 camera picture.
QImage escena(const QSize& tamano, int modulo) {
    const QImage qr = pruebas::girada(pruebas::imagenQR(
        QStringLiteral(R"({"v":1,"url":"https://zentu.example","codigo":"0123456789abcdef"})"), modulo), 12);
    QImage img(tamano, QImage::Format_RGB32);
    img.fill(QColor(120, 110, 100));
    QPainter p(&img);
    p.drawImage((tamano.width() - qr.width()) / 2, (tamano.height() - qr.height()) / 2, qr);
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int veces = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const DetectorQR detector;

    const QImage camara = escena(QSize(1280, 720), 5);
    const QVideoFrame nv12 = pruebas::cuadroDe(camara, QVideoFrameFormat::Format_NV12);
    const QVideoFrame argb = pruebas::cuadroDe(camara, QVideoFrameFormat::Format_ARGB8888);
    const QImage vacia = escena(QSize(1280, 720), 0);  // no code: the worst case, nothing to stop at
    const QVideoFrame sinCodigo = pruebas::cuadroDe(vacia, QVideoFrameFormat::Format_NV12);
    if (!detector.leer(nv12) || !detector.leer(argb)) {
        std::printf("detector_qr: el cuadro de prueba no se leyó\n");
        return 1;
    }

    const int rondas = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const QImage captura = escena(QSize(3840, 2160), 6);
    constexpr int n = 5;
    const std::function<void()> lecturas[n] = {
        [&] { (void)detector.leer(nv12); },           [&] { (void)detector.leer(nv12.toImage()); },
        [&] { (void)detector.leer(argb); },           [&] { (void)detector.leer(sinCodigo); },
        [&] { (void)detector.leer(captura); }};
    std::vector<double> ms[n], peor;
    for (int r = 0; r < rondas; ++r) {
        for (int k = 0; k < n; ++k) {
            const int cual = turno(r, k, n);
            ms[cual].push_back(msPorVez(cual == 4 ? std::max(1, veces / 4) : veces, lecturas[cual]));
        }
        peor.push_back(100.0 * std::max({ms[0].back(), ms[2].back(), ms[3].back()}) / 250.0);
    }
    std::printf("detector_qr (DetectorQR solo, en este proceso): %d rondas alternadas; mediana [mínima–máxima]\n", rondas);
    std::printf("detector_qr: cuadro 1280x720 NV12 leído en su plano de luma: %s ms\n", qPrintable(cifra(ms[0], 1)));
    std::printf("detector_qr: el mismo convertido antes a QImage (ancla): %s ms; luma / ancla %s\n",
                qPrintable(cifra(ms[1], 1)), qPrintable(cifra(razones(ms[0], ms[1]), 2)));
    std::printf("detector_qr: cuadro ARGB: %s ms; cuadro sin código: %s ms\n", qPrintable(cifra(ms[2], 1)),
                qPrintable(cifra(ms[3], 1)));
    std::printf("detector_qr: del presupuesto de 250 ms por análisis se usa un %s %% (peor caso)\n", qPrintable(cifra(peor, 0)));
    std::printf("detector_qr: captura pegada de 3840x2160 (hilo principal): %s ms\n", qPrintable(cifra(ms[4], 1)));
    return 0;
}
