// Screen captures in a Wayland session, where only the desktop's Screenshot portal can take them:
// on a session bus of the test's own, first with no portal at all (every road says one text),
// then with a stand-in portal (the screenshot for the agent and the zone both go through it).
#include "zentu/voz/Pantalla.h"

#include "comun/Ayudas.h"
#include "comun/PortalSimulado.h"
#include "comun/SesionWayland.h"
#include "plataforma/CapturaZona.h"
#include "plataforma/Privacidad.h"
#include "zentu/isla/Permisos.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

using Captura = Privacidad::Captura;

class Wayland : public pruebas::SesionWayland {
protected:
    void SetUp() override {
        SesionWayland::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(Privacidad::actual().sesion(), Privacidad::Sesion::wayland);
    }

    // The screenshot's outcome: its file, or the text the owner reads.
    static std::pair<QString, std::optional<Pantalla::Fallo>> capturar() {
        try {
            return {pruebas::esperar(Pantalla::capturar()), std::nullopt};
        } catch (const Pantalla::Error& e) {
            return {e.texto(), e.fallo()};
        }
    }

    QObject dueno_;
};

TEST_F(Wayland, SinPortalNingunCaminoCapturaYTodosLoDicenIgual) {
    EXPECT_EQ(pruebas::esperar(Privacidad::actual().probarPantalla()), Captura::noOfrecida);
    EXPECT_FALSE(pruebas::esperar(Permiso::probarPantalla()));
    EXPECT_FALSE(Permiso::pantallaOfrecida()) << "nothing the owner grants would help";

    // The screenshot the agent asks for (the call's screen look and the spoken question's take
    // the same road).
    const auto [texto, fallo] = capturar();
    EXPECT_EQ(fallo, Pantalla::Fallo::sinCaptura);
    EXPECT_EQ(texto, QStringLiteral("No se pudo capturar la pantalla: este escritorio no ofrece capturas."));
    EXPECT_EQ(Pantalla::descripcion(Pantalla::Fallo::sinCaptura), texto);

    // The zone: nothing starts (an X11 tool would see XWayland's windows alone), so the caller
    // says "No se pudo capturar la pantalla." at once instead of waiting for nothing.
    QTemporaryDir d;
    bool llamado = false;
    EXPECT_FALSE(CapturaZona::capturar(d.filePath("zona.png"), &dueno_, [&](bool) { llamado = true; }));
    pruebas::girar(100);
    EXPECT_FALSE(llamado);
}

TEST_F(Wayland, ConPortalLasCapturasPasanPorEl) {
    pruebas::PortalSimulado portal(bus_->direccion());
    ASSERT_TRUE(portal.listo());
    ASSERT_TRUE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.portal.Desktop")))
        << "the program's session bus is the test's";

    EXPECT_EQ(pruebas::esperar(Privacidad::actual().probarPantalla()), Captura::funciona);
    EXPECT_TRUE(pruebas::esperar(Permiso::probarPantalla()));
    EXPECT_TRUE(Permiso::pantallaOfrecida());

    // The screenshot: the whole screen from the portal, without asking the owner to choose,
    // scaled as any other (1280 × 800 → 1600 × 1000) and written as JPEG.
    const auto [ruta, fallo] = capturar();
    ASSERT_FALSE(fallo) << ruta.toStdString();
    EXPECT_EQ(QImage(ruta).size(), QSize(1600, 1000));
    EXPECT_TRUE(ruta.endsWith(QStringLiteral(".jpg")));
    EXPECT_EQ(portal.pedidos(), 1);
    EXPECT_FALSE(portal.interactivo());
    QFile::remove(ruta);

    // The zone: the portal lets the owner choose; its picture becomes our file.
    QTemporaryDir d;
    const QString archivo = d.filePath("zentu-zona-1.png");
    std::optional<bool> escrita;
    ASSERT_TRUE(CapturaZona::capturar(archivo, &dueno_, [&](bool e) { escrita = e; }));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return escrita.has_value(); }, 30000));
    EXPECT_TRUE(*escrita);
    EXPECT_TRUE(portal.interactivo());
    EXPECT_EQ(QImage(archivo).size(), QSize(1280, 800));

    // The owner says no in the portal's dialog: that is a refusal, not a missing desktop.
    portal.respuesta = 1;
    const auto [textoNegado, falloNegado] = capturar();
    EXPECT_EQ(falloNegado, Pantalla::Fallo::sinPermiso);
    EXPECT_EQ(textoNegado, QStringLiteral("Falta el permiso de grabación de pantalla."));
    EXPECT_TRUE(Permiso::pantallaOfrecida());
    escrita.reset();
    QFile::remove(archivo);
    ASSERT_TRUE(CapturaZona::capturar(archivo, &dueno_, [&](bool e) { escrita = e; }));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return escrita.has_value(); }, 30000));
    EXPECT_FALSE(*escrita);
    EXPECT_FALSE(QFile::exists(archivo));
}

}  // namespace
