// The wake-ups: logind's end of sleep and the screen saver's end, from another bus client.
#include "plataforma/Despertar.h"

#include "comun/Ayudas.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <gtest/gtest.h>

namespace {

void emitir(QDBusConnection& bus, const QString& ruta, const QString& interfaz, const QString& senal, bool valor) {
    QDBusMessage m = QDBusMessage::createSignal(ruta, interfaz, senal);
    m << valor;
    ASSERT_TRUE(bus.send(m));
}

TEST(Despertar, ElSalvapantallasQueTerminaDespierta) {
    auto emisor = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("emisor"));
    ASSERT_TRUE(emisor.isConnected());
    // The session bus stands in for the system bus too: logind's signal comes from logind only.
    Despertar d(QDBusConnection::sessionBus(), QDBusConnection::sessionBus());
    int veces = 0;
    d.alDespertar = [&] { ++veces; };

    const struct {
        const char* ruta;
        const char* interfaz;
        bool valor;
        int despues;
    } casos[] = {
        {"/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", true, 0},
        {"/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", false, 1},
        {"/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", false, 2},
        {"/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", true, 2},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.interfaz);
        emitir(emisor, c.ruta, c.interfaz, QStringLiteral("ActiveChanged"), c.valor);
        if (c.despues > veces) EXPECT_TRUE(pruebas::esperarHasta([&] { return veces == c.despues; }));
        else pruebas::girar(200);
        EXPECT_EQ(veces, c.despues);
    }
    // PrepareForSleep from anyone but logind is not a wake-up.
    emitir(emisor, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", false);
    pruebas::girar(200);
    EXPECT_EQ(veces, 2);
    QDBusConnection::disconnectFromBus(QStringLiteral("emisor"));
}

TEST(Despertar, SinBusesNoPasaNada) {
    Despertar d(QDBusConnection(QStringLiteral("ninguna")), QDBusConnection(QStringLiteral("ninguna")));
    d.alDespertar = [] { FAIL(); };
    pruebas::girar(50);
}

}  // namespace
