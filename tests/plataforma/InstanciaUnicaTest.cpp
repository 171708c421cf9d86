// One program per session: the name on the bus, and the hand-over of a second start's arguments.
#include "plataforma/InstanciaUnica.h"

#include "comun/Ayudas.h"

#include <QDBusConnection>
#include <gtest/gtest.h>

namespace {

const QString kNombre = QStringLiteral("ai.zentu.prueba.instancia");

TEST(InstanciaUnica, LaSegundaEntregaSusArgumentosALaPrimera) {
    auto otraConexion = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("segunda"));
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    ASSERT_TRUE(otraConexion.isConnected());
    {
        InstanciaUnica primera(kNombre);
        ASSERT_TRUE(primera.reclamar());
        QStringList recibidos;
        int veces = 0;
        primera.alRecibir = [&](const QStringList& a) {
            recibidos = a;
            ++veces;
        };

        InstanciaUnica segunda(kNombre, otraConexion);
        EXPECT_FALSE(segunda.reclamar());
        // The caller gets its answer before the owner acts on what it received.
        EXPECT_TRUE(segunda.entregar({"zuzadari://chat", "--abrir"}));
        ASSERT_TRUE(pruebas::esperarHasta([&] { return veces == 1; }));
        EXPECT_EQ(recibidos, (QStringList{"zuzadari://chat", "--abrir"}));
    }
    // The first one gone, the name is free again.
    InstanciaUnica tercera(kNombre, otraConexion);
    EXPECT_TRUE(tercera.reclamar());
    QDBusConnection::disconnectFromBus(QStringLiteral("segunda"));
}

TEST(InstanciaUnica, SinDuenoNoHayAQuienEntregar) {
    InstanciaUnica sola(QStringLiteral("ai.zentu.prueba.nadie"));
    EXPECT_FALSE(sola.entregar({"zuzadari://chat"}));
}

}  // namespace
