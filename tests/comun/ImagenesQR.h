#pragma once

// Pictures of QR codes for tests: real codes drawn by `qrencode`, turned, dirtied, and packed
// into the video-frame formats cameras deliver. Header only; include it from tests that link
// Qt Multimedia.

#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTransform>
#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <cstring>

namespace pruebas {

// A QR code of `texto` as qrencode draws it (PNG, `modulo` pixels per module, 4-module margin).
inline QImage imagenQR(const QString& texto, int modulo = 6) {
    QTemporaryDir dir;
    const QString ruta = dir.path() + QStringLiteral("/qr.png");
    QProcess p;
    p.start(QStringLiteral("qrencode"),
            {QStringLiteral("-o"), ruta, QStringLiteral("-s"), QString::number(modulo), QStringLiteral("-m"),
             QStringLiteral("4"), QStringLiteral("--"), texto});
    if (!p.waitForFinished(10000) || p.exitCode() != 0) return {};
    return QImage(ruta).convertToFormat(QImage::Format_RGB32);
}

// `imagen` turned by `grados` about its centre, on a white background the size of the result.
inline QImage girada(const QImage& imagen, double grados) {
    const QTransform giro = QTransform().rotate(grados);
    const QRect caja = giro.mapRect(imagen.rect());
    QImage salida(caja.size() + QSize(40, 40), QImage::Format_RGB32);
    salida.fill(Qt::white);
    QPainter p(&salida);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.translate(salida.width() / 2.0, salida.height() / 2.0);
    p.rotate(grados);
    p.drawImage(-imagen.width() / 2, -imagen.height() / 2, imagen);
    return salida;
}

// `imagen` placed off-centre in a larger grey scene, with every pixel disturbed by up to
// ±`amplitud` grey levels (a fixed seed, so the picture is always the same).
inline QImage ruidosa(const QImage& imagen, int amplitud, quint32 semilla = 7) {
    QImage salida(imagen.width() * 2, imagen.height() * 3 / 2, QImage::Format_RGB32);
    salida.fill(QColor(150, 140, 130));
    {
        QPainter p(&salida);
        p.drawImage(imagen.width() / 3, imagen.height() / 5, imagen);
    }
    QRandomGenerator azar(semilla);
    for (int y = 0; y < salida.height(); ++y) {
        auto* fila = reinterpret_cast<QRgb*>(salida.scanLine(y));
        for (int x = 0; x < salida.width(); ++x) {
            const int d = static_cast<int>(azar.bounded(2 * amplitud + 1)) - amplitud;
            const QRgb c = fila[x];
            fila[x] = qRgb(qBound(0, qRed(c) + d, 255), qBound(0, qGreen(c) + d, 255), qBound(0, qBlue(c) + d, 255));
        }
    }
    return salida;
}

// `imagen` as a camera would deliver it, in `formato` (ARGB8888, NV12, YUV420P or YUYV);
// chroma is neutral, luma is the picture's grey.
inline QVideoFrame cuadroDe(const QImage& imagen, QVideoFrameFormat::PixelFormat formato) {
    const QImage rgb = imagen.convertToFormat(QImage::Format_ARGB32);
    const QSize t(rgb.width() & ~1, rgb.height() & ~1);
    QVideoFrame cuadro(QVideoFrameFormat(t, formato));
    if (!cuadro.map(QVideoFrame::WriteOnly)) return {};
    auto luma = [&](int x, int y) { return static_cast<uchar>(qGray(rgb.pixel(x, y))); };
    switch (formato) {
        case QVideoFrameFormat::Format_ARGB8888:
        case QVideoFrameFormat::Format_XRGB8888:
            for (int y = 0; y < t.height(); ++y) {
                uchar* fila = cuadro.bits(0) + y * cuadro.bytesPerLine(0);
                for (int x = 0; x < t.width(); ++x) {
                    const QRgb c = rgb.pixel(x, y);
                    fila[4 * x + 0] = 255;
                    fila[4 * x + 1] = static_cast<uchar>(qRed(c));
                    fila[4 * x + 2] = static_cast<uchar>(qGreen(c));
                    fila[4 * x + 3] = static_cast<uchar>(qBlue(c));
                }
            }
            break;
        case QVideoFrameFormat::Format_YUYV:
            for (int y = 0; y < t.height(); ++y) {
                uchar* fila = cuadro.bits(0) + y * cuadro.bytesPerLine(0);
                for (int x = 0; x < t.width(); ++x) {
                    fila[2 * x] = luma(x, y);
                    fila[2 * x + 1] = 128;
                }
            }
            break;
        default:  // planar or semi-planar 4:2:0: luma plane first, then neutral chroma
            for (int y = 0; y < t.height(); ++y) {
                uchar* fila = cuadro.bits(0) + y * cuadro.bytesPerLine(0);
                for (int x = 0; x < t.width(); ++x) fila[x] = luma(x, y);
            }
            for (int plano = 1; plano < cuadro.planeCount(); ++plano) {
                const int filas = t.height() / 2;
                std::memset(cuadro.bits(plano), 128, static_cast<size_t>(cuadro.bytesPerLine(plano)) * filas);
            }
            break;
    }
    cuadro.unmap();
    return cuadro;
}

}  // namespace pruebas
