// Cost of reading a QR code in a camera frame, against the analysis budget of the pairing
// camera (one frame every 0.25 s, off the main thread), and of reading a pasted screenshot
// (on the main thread). The reference, measured in the same run, is the same frame converted
// to a QImage first: the luma plane read in place should cost no more than that.
// Usage: medir_detector_qr [repeticiones]   (default 20)
#include "comun/ImagenesQR.h"
#include "plataforma/DetectorQR.h"

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
    const int veces = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
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

    const double luma = msPorVez(veces, [&] { (void)detector.leer(nv12); });
    const double conversion = msPorVez(veces, [&] { (void)detector.leer(nv12.toImage()); });
    const double rgb = msPorVez(veces, [&] { (void)detector.leer(argb); });
    const double nada = msPorVez(veces, [&] { (void)detector.leer(sinCodigo); });
    std::printf("detector_qr: cuadro 1280x720 NV12 leído en su plano de luma: %.1f ms\n", luma);
    std::printf("detector_qr: el mismo convertido antes a QImage (referencia): %.1f ms (%.2f veces)\n", conversion,
                conversion / luma);
    std::printf("detector_qr: cuadro ARGB: %.1f ms; cuadro sin código: %.1f ms\n", rgb, nada);
    std::printf("detector_qr: del presupuesto de 250 ms por análisis se usa un %.0f %% (peor caso)\n",
                100.0 * std::max({luma, rgb, nada}) / 250.0);

    const QImage captura = escena(QSize(3840, 2160), 6);
    const double pantalla = msPorVez(std::max(1, veces / 4), [&] { (void)detector.leer(captura); });
    std::printf("detector_qr: captura pegada de 3840x2160 (hilo principal): %.1f ms\n", pantalla);
    return 0;
}
