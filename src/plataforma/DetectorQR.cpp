#include "plataforma/DetectorQR.h"

#include "plataforma/Modulo.h"
#include "plataforma/modulos/Tablas.h"

#include <QPainter>
#include <QVideoFrame>
#include <QVideoFrameFormat>

std::optional<QString> DetectorQR::leerLuma(const uchar* datos, int ancho, int alto, int paso,
                                            int pasoPixel) const {
    if (!datos || ancho <= 0 || alto <= 0) return std::nullopt;
    // zxing-cpp is opened with the first picture looked at (see Modulo.h); without it no code is read.
    // Looked up once, not on every camera frame.
    static const TablaQr* const qr = Modulo::abrir<TablaQr>("zentu_qr", nullptr);
    if (!qr) return std::nullopt;
    return qr->leerLuma(datos, ancho, alto, paso, pasoPixel);
}

std::optional<QString> DetectorQR::leer(const QImage& imagen) const {
    if (imagen.isNull()) return std::nullopt;
    QImage gris = imagen;
    if (gris.hasAlphaChannel()) {
        // Transparent pixels count as white, as a screenshot of a code over a clear
        // background looks to the eye; converting straight to grey would make them black.
        QImage fondo(gris.size(), QImage::Format_RGB32);
        fondo.fill(Qt::white);
        QPainter pintor(&fondo);
        pintor.drawImage(0, 0, gris);
        pintor.end();
        gris = fondo;
    }
    gris = gris.convertToFormat(QImage::Format_Grayscale8);
    return leerLuma(gris.constBits(), gris.width(), gris.height(), static_cast<int>(gris.bytesPerLine()), 1);
}

std::optional<QString> DetectorQR::leer(const QVideoFrame& cuadro) const {
    if (!cuadro.isValid()) return std::nullopt;
    QVideoFrame copia(cuadro);  // mapping needs a non-const frame; the buffer is shared
    int pasoPixel = 0;
    int desplazamiento = 0;
    switch (copia.pixelFormat()) {
        case QVideoFrameFormat::Format_YUV420P:
        case QVideoFrameFormat::Format_YUV422P:
        case QVideoFrameFormat::Format_YV12:
        case QVideoFrameFormat::Format_NV12:
        case QVideoFrameFormat::Format_NV21:
        case QVideoFrameFormat::Format_IMC1:
        case QVideoFrameFormat::Format_IMC2:
        case QVideoFrameFormat::Format_IMC3:
        case QVideoFrameFormat::Format_IMC4:
        case QVideoFrameFormat::Format_Y8:
            pasoPixel = 1;
            break;
        case QVideoFrameFormat::Format_YUYV:
            pasoPixel = 2;
            break;
        case QVideoFrameFormat::Format_UYVY:
            pasoPixel = 2;
            desplazamiento = 1;
            break;
        default:
            break;
    }
    if (pasoPixel > 0 && copia.map(QVideoFrame::ReadOnly)) {
        const auto texto = leerLuma(copia.bits(0) + desplazamiento, copia.width(), copia.height(),
                                    copia.bytesPerLine(0), pasoPixel);
        copia.unmap();
        return texto;
    }
    return leer(copia.toImage());
}
