#include "plataforma/DetectorQR.h"

#include "comun/ImagenesQR.h"

#include <QVideoFrame>
#include <gtest/gtest.h>
#include <functional>

using namespace pruebas;

namespace {

const QString kTexto = QStringLiteral(R"({"v":1,"url":"https://zentu.test","codigo":"ÁRBOL-ñ-42"})");

}  // namespace

// Real codes as qrencode draws them, as a screenshot or a camera would show them.
TEST(DetectorQR, LeeCodigosRealesAunGiradosYSucios) {
    const QImage base = imagenQR(kTexto);
    ASSERT_FALSE(base.isNull()) << "qrencode no está instalado";
    struct Caso {
        const char* nombre;
        QImage imagen;
    };
    const std::vector<Caso> casos = {
        {"plano", base},
        {"girado 90", girada(base, 90)},
        {"girado 180", girada(base, 180)},
        {"girado 23", girada(base, 23)},
        {"ruido y escena", ruidosa(base, 60)},
        {"girado 17 con ruido", ruidosa(girada(base, -17), 45)},
        {"pequeño, 2 px por módulo", imagenQR(kTexto, 2)},
        {"con transparencia", [&] {
             // A screenshot with an alpha channel whose light parts are transparent.
             QImage i = base.convertToFormat(QImage::Format_ARGB32);
             for (int y = 0; y < i.height(); ++y)
                 for (int x = 0; x < i.width(); ++x)
                     if (qGray(i.pixel(x, y)) > 128) i.setPixel(x, y, qRgba(0, 0, 0, 0));
             return i;
         }()},
    };
    const DetectorQR detector;
    for (const auto& c : casos) {
        EXPECT_EQ(detector.leer(c.imagen).value_or("(nada)"), kTexto) << c.nombre;
    }
}

TEST(DetectorQR, SinCodigoNoDaTexto) {
    const DetectorQR detector;
    QImage blanca(300, 200, QImage::Format_RGB32);
    blanca.fill(Qt::white);
    EXPECT_FALSE(detector.leer(blanca));
    EXPECT_FALSE(detector.leer(ruidosa(blanca, 80)));
    EXPECT_FALSE(detector.leer(QImage()));
    EXPECT_FALSE(detector.leer(QVideoFrame()));
    // Half a code is no code.
    const QImage base = imagenQR(kTexto);
    EXPECT_FALSE(detector.leer(base.copy(0, 0, base.width() / 2, base.height())));
}

// The formats cameras deliver: luma planes are read in place, the rest through a QImage.
TEST(DetectorQR, LeeCuadrosDeCamaraEnSusFormatos) {
    const QImage escena = ruidosa(girada(imagenQR(kTexto), 8), 30);
    const DetectorQR detector;
    for (auto formato : {QVideoFrameFormat::Format_NV12, QVideoFrameFormat::Format_YUV420P,
                         QVideoFrameFormat::Format_YUYV, QVideoFrameFormat::Format_ARGB8888}) {
        const QVideoFrame cuadro = cuadroDe(escena, formato);
        ASSERT_TRUE(cuadro.isValid()) << QVideoFrameFormat::pixelFormatToString(formato).toStdString();
        EXPECT_EQ(detector.leer(cuadro).value_or("(nada)"), kTexto)
            << QVideoFrameFormat::pixelFormatToString(formato).toStdString();
    }
}
