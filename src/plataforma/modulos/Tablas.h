#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

// The functions each module of ours hands out through its `zentu_modulo` entry point. The
// program and its modules are built together, with the same compiler and the same Qt, so the
// tables may pass Qt and standard types.

// libzentu_pdf: PDF documents (poppler).
struct TablaPdf {
    // The page count when the file opens as an unlocked PDF, else none.
    std::optional<int> (*paginas)(const QString& ruta);
    // The first page drawn to cover `caja` (aspect kept); a null image when it cannot be read.
    QImage (*primeraPagina)(const QString& ruta, QSize caja);
};

// libzentu_qr: QR codes (zxing-cpp).
struct TablaQr {
    // The text of the first QR code in a luminance plane, else none.
    std::optional<QString> (*leerLuma)(const uchar* datos, int ancho, int alto, int paso, int pasoPixel);
};

// libzentu_eco: echo cancellation (webrtc-audio-processing), one processor per call.
struct TablaEco {
    // A processor for 16, 32 or 48 kHz mono, or null when it cannot be set up.
    void* (*crear)(int frecuencia);
    void (*destruir)(void* procesador);
    // One 10 ms frame of what the speakers play, to learn the echo from.
    void (*lejano)(void* procesador, float* trama);
    // One 10 ms frame of the microphone, cleaned in place.
    void (*cercano)(void* procesador, float* trama);
};
