// "Show in folder" asks the desktop's file manager over D-Bus; a stand-in file manager on the
// test session bus records what it was asked to show.
#include "plataforma/Escritorio.h"

#include "comun/Ayudas.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QObject>
#include <QStringList>
#include <QUrl>
#include <gtest/gtest.h>

class GestorDeArchivosFalso : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    QStringList vistos;
public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString& arranque) {
        vistos << uris;
        (void)arranque;
    }
};

TEST(Escritorio, MostrarEnCarpetaPideAlGestorDeArchivos) {
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "sin bus de sesión";
    // The stand-in lives on a connection of its own, so the call really crosses the bus.
    QDBusConnection otra = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("gestor"));
    ASSERT_TRUE(otra.isConnected());
    GestorDeArchivosFalso gestor;
    ASSERT_TRUE(otra.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &gestor,
                                    QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(otra.registerService(QStringLiteral("org.freedesktop.FileManager1")));

    const QString ruta = QStringLiteral("/tmp/carpeta con espacios/factura ñ.pdf");
    EXPECT_TRUE(Escritorio::actual().mostrarEnCarpeta(ruta));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !gestor.vistos.isEmpty(); }));
    EXPECT_EQ(gestor.vistos, QStringList{QUrl::fromLocalFile(ruta).toString(QUrl::FullyEncoded)});
    EXPECT_EQ(QUrl(gestor.vistos.value(0)).toLocalFile(), ruta);

    otra.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
    QDBusConnection::disconnectFromBus(QStringLiteral("gestor"));
}

#include "EscritorioTest.moc"
