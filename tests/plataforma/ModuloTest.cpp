// The large libraries behind PDF pages, QR codes and echo cancellation are opened with their
// first use, not with the program; a module that is missing or not ours is a reason, not a crash.
#include "comun/Ayudas.h"
#include "plataforma/CanceladorEco.h"
#include "plataforma/DetectorQR.h"
#include "plataforma/Miniaturas.h"
#include "plataforma/Modulo.h"
#include "plataforma/Registro.h"

#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(Modulo, LasBibliotecasGrandesLleganConSuPrimerUso) {
    // Linked into the program, these would be here from the start, with all they pull in.
    for (const char* b : {"libpoppler", "libZXing", "libwebrtc_audio_processing", "libzentu_"})
        EXPECT_FALSE(pruebas::bibliotecaCargada(b)) << b;

    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("dos.pdf"));
    {
        QPdfWriter escritor(pdf);
        QPainter p(&escritor);
        p.fillRect(QRect(0, 0, 500, 500), Qt::blue);
        escritor.newPage();
    }
    EXPECT_EQ(Miniaturas::paginasPdf(pdf), 2);
    const QImage primera = Miniaturas::generar(pdf, QSize(60, 80));
    ASSERT_FALSE(primera.isNull());
    EXPECT_GE(primera.height(), 80);
    EXPECT_TRUE(pruebas::bibliotecaCargada("libpoppler"));
    EXPECT_FALSE(pruebas::bibliotecaCargada("libZXing"));

    QImage blanco(64, 64, QImage::Format_RGB32);
    blanco.fill(Qt::white);
    EXPECT_EQ(DetectorQR().leer(blanco), std::nullopt);
    EXPECT_TRUE(pruebas::bibliotecaCargada("libZXing"));

    QString error;
    auto eco = CanceladorEco::crear(48000, &error);
    ASSERT_NE(eco, nullptr) << error.toStdString();
    EXPECT_TRUE(pruebas::bibliotecaCargada("libwebrtc_audio_processing"));
}

TEST(Modulo, UnModuloQueFaltaONoEsNuestroEsUnMotivo) {
    struct Caso {
        const char* nombre;
        const char* motivo;
    };
    const Caso casos[] = {
        {"zentu_no_existe", "no se pudo cargar libzentu_no_existe.so"},
        // A real library of the system, without our entry point.
        {"Qt6Core", "libQt6Core.so no es un módulo de Zentu"},
    };
    QStringList registro;
    Registro::observar([&](const QString& l) { registro << l; });
    for (const Caso& c : casos) {
        // Asked twice: the failure is remembered and told to each caller, and logged once.
        for (int vez = 0; vez < 2; ++vez) {
            QString error;
            EXPECT_EQ(Modulo::abrir(c.nombre, &error), nullptr) << c.nombre;
            EXPECT_TRUE(error.contains(QString::fromUtf8(c.motivo))) << error.toStdString();
        }
        const QStringList suyas = registro.filter(QString::fromUtf8(c.motivo));
        ASSERT_EQ(suyas.size(), 1) << registro.join('\n').toStdString();
        EXPECT_TRUE(suyas[0].startsWith(QLatin1String("[modulo] "))) << suyas[0].toStdString();
    }
    Registro::observar({});
    EXPECT_NE(Modulo::abrir("zentu_pdf", nullptr), nullptr);
}
