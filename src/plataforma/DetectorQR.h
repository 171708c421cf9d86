#pragma once

#include <QImage>
#include <QString>
#include <optional>

class QVideoFrame;

// Reads QR codes in pictures (zxing-cpp underneath, opened on first use). It keeps no state between calls, so one
// detector may analyse camera frames on a worker thread while another reads a pasted image on
// the main thread.
class DetectorQR {
public:
    // The text of the first QR code found in the picture, or none. A null image yields none.
    std::optional<QString> leer(const QImage& imagen) const;

    // The same for a camera frame. Frames whose first plane is the luma (the usual camera
    // formats: NV12, YUV 4:2:0, YUYV...) are read straight from that plane, without converting
    // colour; any other format goes through a QImage.
    std::optional<QString> leer(const QVideoFrame& cuadro) const;

private:
    std::optional<QString> leerLuma(const uchar* datos, int ancho, int alto, int paso, int pasoPixel) const;
};
