// The session's real answers on an X server (Xvfb): screen capture and global keys need no
// grant, the probe really reads the screen, and without any display nothing is claimed.
#include "plataforma/Privacidad.h"

#include "comun/Ayudas.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using Ajuste = Privacidad::Ajuste;
using Sesion = Privacidad::Sesion;
using Orden = Privacidad::Orden;

TEST(Privacidad, TipoDeSesion) {
    EXPECT_EQ(Privacidad::sesionSegun("x11", false, true), Sesion::x11);
    EXPECT_EQ(Privacidad::sesionSegun("", false, true), Sesion::x11);
    EXPECT_EQ(Privacidad::sesionSegun("wayland", true, true), Sesion::wayland);  // XWayland sets DISPLAY too
    EXPECT_EQ(Privacidad::sesionSegun("tty", true, false), Sesion::wayland);
    EXPECT_EQ(Privacidad::sesionSegun("x11", false, false), Sesion::ninguna);
    EXPECT_EQ(Privacidad::sesionSegun("tty", false, false), Sesion::ninguna);
}

TEST(Privacidad, AjustesDeCadaEscritorio) {
    const std::optional<Orden> nada;
    const struct {
        Ajuste ajuste;
        const char* escritorio;
        std::optional<Orden> orden;
    } casos[] = {
        {Ajuste::microfono, "GNOME", Orden{"gnome-control-center", {"microphone"}}},
        {Ajuste::microfono, "ubuntu:GNOME", Orden{"gnome-control-center", {"microphone"}}},
        {Ajuste::accesibilidad, "GNOME", Orden{"gnome-control-center", {"keyboard"}}},
        {Ajuste::pantalla, "GNOME", nada},
        {Ajuste::microfono, "KDE", Orden{"systemsettings", {"kcm_pulseaudio"}}},
        {Ajuste::accesibilidad, "KDE", Orden{"systemsettings", {"kcm_keys"}}},
        {Ajuste::pantalla, "KDE", nada},
        {Ajuste::microfono, "XFCE", nada},
        {Ajuste::microfono, "", nada},
    };
    for (const auto& c : casos) EXPECT_EQ(Privacidad::ordenAjustes(c.ajuste, c.escritorio), c.orden) << c.escritorio;
}

TEST(Privacidad, EnX11NadaPideConcesionYLaSondaLeeLaPantalla) {
    ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY"));
    const QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
    const QByteArray tipo = qgetenv("XDG_SESSION_TYPE");
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("XDG_SESSION_TYPE", "x11");
    Privacidad& sistema = Privacidad::actual();
    EXPECT_EQ(sistema.sesion(), Sesion::x11);
    EXPECT_TRUE(sistema.pantallaPermitida());
    EXPECT_TRUE(sistema.accesibilidadPermitida());
    EXPECT_EQ(pruebas::esperar(sistema.probarPantalla()), Privacidad::Captura::funciona);

    // A display that does not answer: nothing works, nothing is claimed, nothing can capture.
    const QByteArray pantalla = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":987");
    EXPECT_FALSE(sistema.pantallaPermitida());
    EXPECT_FALSE(sistema.accesibilidadPermitida());
    EXPECT_EQ(pruebas::esperar(sistema.probarPantalla()), Privacidad::Captura::noOfrecida);
    qunsetenv("DISPLAY");
    EXPECT_EQ(sistema.sesion(), Sesion::ninguna);
    EXPECT_EQ(pruebas::esperar(sistema.probarPantalla()), Privacidad::Captura::noOfrecida);
    qputenv("DISPLAY", pantalla);
    if (!wayland.isEmpty()) qputenv("WAYLAND_DISPLAY", wayland);
    if (tipo.isEmpty()) qunsetenv("XDG_SESSION_TYPE"); else qputenv("XDG_SESSION_TYPE", tipo);
}

TEST(Privacidad, ElMicrofonoEsLaEntradaDelServidorDeSonido) {
    if (qEnvironmentVariableIsEmpty("PULSE_RUNTIME_PATH")) GTEST_SKIP() << "sin servidor de sonido de pruebas";
    EXPECT_EQ(Privacidad::actual().microfono(), Privacidad::Estado::concedido);
}

TEST(Privacidad, LanzarPasaLosArgumentosTalCual) {
    QTemporaryDir dir;
    // A name a shell would split and run: it must arrive as one argument, untouched.
    const QString marca = dir.filePath("hecho; touch otro $(touch tercero) \"comillas\"");
    EXPECT_TRUE(Privacidad::actual().lanzar("/usr/bin/touch", {marca}));
    EXPECT_TRUE(pruebas::esperarHasta([&] { return QFile::exists(marca); }));
    pruebas::girar(200);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{QFileInfo(marca).fileName()});
}

}  // namespace
