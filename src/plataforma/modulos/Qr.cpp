// QR codes through zxing-cpp, opened by the program only when it first looks for a code.
#include "plataforma/modulos/Tablas.h"

// zxing-cpp 1.4 returns std::wstring from Result::text() unless told to use UTF-8.
#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

namespace {

ZXing::DecodeHints pistas() {
    ZXing::DecodeHints h;
    h.setFormats(ZXing::BarcodeFormat::QRCode);
    // Accuracy first: a code held at an angle or photographed off a screen must still read.
    h.setTryHarder(true);
    h.setTryRotate(true);
    h.setTryDownscale(true);
    return h;
}

std::optional<QString> leerLuma(const uchar* datos, int ancho, int alto, int paso, int pasoPixel) {
    if (!datos || ancho <= 0 || alto <= 0) return std::nullopt;
    static const ZXing::DecodeHints opciones = pistas();
    const ZXing::ImageView vista(datos, ancho, alto, ZXing::ImageFormat::Lum, paso, pasoPixel);
    const ZXing::Results resultados = ZXing::ReadBarcodes(vista, opciones);
    for (const auto& r : resultados) {
        if (r.isValid() && r.format() == ZXing::BarcodeFormat::QRCode) return QString::fromStdString(r.text());
    }
    return std::nullopt;
}

const TablaQr tabla{leerLuma};

}  // namespace

extern "C" __attribute__((visibility("default"))) const void* zentu_modulo() {
    return &tabla;
}
