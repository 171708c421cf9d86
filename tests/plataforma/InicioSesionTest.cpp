// The login item is an XDG autostart entry; every case runs in a private XDG_CONFIG_HOME.
#include "plataforma/InicioSesion.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class InicioSesionPrueba : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(carpeta_.isValid());
        anterior_ = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", carpeta_.path().toUtf8());
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", anterior_); }

    QString leer() {
        QFile f(InicioSesion::rutaEntrada());
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
    void escribir(const QByteArray& contenido) {
        QDir().mkpath(carpeta_.path() + "/autostart");
        QFile f(InicioSesion::rutaEntrada());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(contenido);
    }

    QTemporaryDir carpeta_;
    QByteArray anterior_;
};

TEST_F(InicioSesionPrueba, RegistrarYQuitarLaEntrada) {
    EXPECT_EQ(InicioSesion::rutaEntrada(), carpeta_.path() + "/autostart/ai.zentu.voz.desktop");
    EXPECT_EQ(InicioSesion::estado(), InicioSesion::Estado::noRegistrado);
    // Removing what is not there is not a failure.
    EXPECT_EQ(InicioSesion::quitar(), std::nullopt);

    EXPECT_EQ(InicioSesion::registrar("/opt/zentu/bin/zentu"), std::nullopt);
    EXPECT_TRUE(InicioSesion::activado());
    const QString texto = leer();
    EXPECT_TRUE(texto.startsWith("[Desktop Entry]\n")) << texto.toStdString();
    EXPECT_TRUE(texto.contains("\nType=Application\n"));
    EXPECT_TRUE(texto.contains("\nExec=\"/opt/zentu/bin/zentu\"\n")) << texto.toStdString();

    // Registering again rewrites the same entry instead of failing.
    EXPECT_EQ(InicioSesion::registrar("/opt/zentu/bin/zentu"), std::nullopt);
    EXPECT_TRUE(InicioSesion::activado());

    EXPECT_EQ(InicioSesion::quitar(), std::nullopt);
    EXPECT_FALSE(QFile::exists(InicioSesion::rutaEntrada()));
    EXPECT_EQ(InicioSesion::estado(), InicioSesion::Estado::noRegistrado);
}

TEST_F(InicioSesionPrueba, ElProgramaSeCitaEnLaLineaExec) {
    struct Caso { const char* programa; const char* exec; };
    const Caso casos[] = {
        {"/home/ana/mis programas/zentu", R"(Exec="/home/ana/mis programas/zentu")"},
        {"/opt/100%/zentu", R"(Exec="/opt/100%%/zentu")"},
        {"/opt/$HOME/ze\"n`tu", R"(Exec="/opt/\\$HOME/ze\\"n\\`tu")"},
        {"/opt/a\\b/zentu", R"(Exec="/opt/a\\\\b/zentu")"},
    };
    for (const Caso& c : casos) {
        ASSERT_EQ(InicioSesion::registrar(QString::fromUtf8(c.programa)), std::nullopt);
        EXPECT_TRUE(leer().contains(QString::fromUtf8(c.exec) + "\n")) << c.programa << "\n" << leer().toStdString();
    }
}

TEST_F(InicioSesionPrueba, EstadoDeEntradasEscritasPorOtros) {
    struct Caso { const char* contenido; InicioSesion::Estado estado; };
    const Caso casos[] = {
        {"[Desktop Entry]\nType=Application\nExec=zentu\n", InicioSesion::Estado::activado},
        {"[Desktop Entry]\nExec=zentu\nHidden=true\n", InicioSesion::Estado::noRegistrado},
        {"[Desktop Entry]\nExec=zentu\nHidden=false\n", InicioSesion::Estado::activado},
        {"[Desktop Entry]\nExec=zentu\nX-GNOME-Autostart-enabled=false\n", InicioSesion::Estado::noRegistrado},
        // Keys of another group do not count.
        {"[Desktop Entry]\nExec=zentu\n[Desktop Action x]\nHidden=true\n", InicioSesion::Estado::activado},
        {"no es una entrada\n", InicioSesion::Estado::noRegistrado},
        {"", InicioSesion::Estado::noRegistrado},
    };
    for (const Caso& c : casos) {
        escribir(c.contenido);
        EXPECT_EQ(InicioSesion::estado(), c.estado) << c.contenido;
    }
}

TEST_F(InicioSesionPrueba, UnaCarpetaImposibleDaUnErrorClaro) {
    // A plain file where the autostart folder should be.
    QFile estorbo(carpeta_.path() + "/autostart");
    ASSERT_TRUE(estorbo.open(QIODevice::WriteOnly));
    estorbo.write("x");
    estorbo.close();
    const auto error = InicioSesion::registrar("/opt/zentu/bin/zentu");
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains("autostart")) << error->toStdString();
    EXPECT_EQ(InicioSesion::estado(), InicioSesion::Estado::noRegistrado);
    EXPECT_TRUE(QFile::exists(carpeta_.path() + "/autostart"));
}

TEST_F(InicioSesionPrueba, SinVariableUsaLaCarpetaDeConfiguracionDelUsuario) {
    qputenv("XDG_CONFIG_HOME", "relativa/no/vale");
    EXPECT_EQ(InicioSesion::rutaEntrada(), QDir::homePath() + "/.config/autostart/ai.zentu.voz.desktop");
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(InicioSesion::rutaEntrada(), QDir::homePath() + "/.config/autostart/ai.zentu.voz.desktop");
}

}  // namespace
