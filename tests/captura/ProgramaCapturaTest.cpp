// The two picture switches of the installed program, run as a separate process the way a
// developer or the build runs them. The pictures of a full run are left under
// artefactos/captura for people to look at.
#include "comun/Ayudas.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "NombresCaptura.h"

namespace {

QStringList ordenados(QStringList nombres, const QString& extension = ".png") {
    for (QString& n : nombres) n += extension;
    nombres.sort();
    return nombres;
}

QStringList archivos(const QString& carpeta) { return QDir(carpeta).entryList(QDir::Files | QDir::Hidden, QDir::Name); }

// Runs the program with `argumentos`; its exit status, or -1 when it did not end normally.
int correr(const QStringList& argumentos) {
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(QStringLiteral(ZENTU_PROGRAMA), argumentos);
    if (!p.waitForFinished(240000)) {
        p.kill();
        p.waitForFinished();
        return -1;
    }
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Both switches into one temporary folder each: the 34 names, each a PNG of a sensible size.
TEST(ProgramaCaptura, LasDosRondasDejanSusTreintaYCuatroPng) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString vistas = dir.filePath("vistas"), widgets = dir.filePath("widgets");
    QDir().mkpath(vistas);
    QDir().mkpath(widgets);
    ASSERT_EQ(correr({"--captura", vistas}), 0);
    ASSERT_EQ(correr({"--captura-widgets", widgets}), 0);
    EXPECT_EQ(archivos(vistas), ordenados(kHacer));
    EXPECT_EQ(archivos(widgets), ordenados(kWidgets));

    const QString artefactos = pruebas::carpetaArtefactos("captura");
    for (const auto& [carpeta, nombres] : {std::pair{vistas, kHacer}, std::pair{widgets, kWidgets}}) {
        for (const QString& n : nombres) {
            SCOPED_TRACE(n.toStdString());
            const QString ruta = carpeta + "/" + n + ".png";
            QImageReader lector(ruta);
            EXPECT_EQ(lector.format(), "png");
            const QSize tam = lector.size();
            EXPECT_TRUE(tam.width() >= 300 && tam.width() <= 4000) << tam.width();
            EXPECT_TRUE(tam.height() >= 100 && tam.height() <= 4000) << tam.height();
            EXPECT_GT(QFileInfo(ruta).size(), 2000);
            QFile::remove(artefactos + "/" + n + ".png");
            EXPECT_TRUE(QFile::copy(ruta, artefactos + "/" + n + ".png"));
        }
    }
}

// The switches' edge cases: with both on one command line only the 28 pictures are made (in the
// first switch's folder); a folder that does not exist is not created and the run still ends well.
TEST(ProgramaCaptura, AmbosInterruptoresYCarpetaQueFalta) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = dir.filePath("a"), b = dir.filePath("b");
    QDir().mkpath(a);
    QDir().mkpath(b);
    struct Caso {
        const char* nombre;
        QStringList argumentos;
    };
    const Caso casos[] = {
        {"captura primero", {"--captura", a, "--captura-widgets", b}},
        {"widgets primero", {"--captura-widgets", b, "--captura", a}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        EXPECT_EQ(correr(c.argumentos), 0);
        EXPECT_EQ(archivos(a), ordenados(kHacer));
        EXPECT_TRUE(archivos(b).isEmpty());
        for (const QString& n : archivos(a)) QFile::remove(a + "/" + n);
    }

    const QString falta = dir.filePath("falta/aqui");
    EXPECT_EQ(correr({"--captura-widgets", falta}), 0);
    EXPECT_EQ(correr({"--captura", falta}), 0);
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("falta")));
}

}  // namespace
