// The widget host's tray icon on a real X server, with a panel that lists tray items (a
// stand-in StatusNotifierWatcher on the session bus). A process of its own: Qt settles once per
// process whether the desktop's tray is that kind.
#include "widgets/Anfitrion.h"

#include "comun/Ayudas.h"
#include "comun/PanelBandeja.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace {

// The host's tray icon comes after the program's own, so that the panel keeps them in one order;
// with no program running it comes at once. The program here is a bus connection of this
// process holding the program's name, and its icon an item it registers with the panel.
TEST(X11IconoAnfitrion, VaDetrasDelDelPrograma) {
    pruebas::PanelBandeja panel;
    ASSERT_TRUE(panel.listo());
    QDBusConnection programa = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("programa-falso"));
    ASSERT_TRUE(programa.registerService(QStringLiteral("ai.zentu.voz")));
    const QString suItem = QStringLiteral("org.kde.StatusNotifierItem-%1-90").arg(QCoreApplication::applicationPid());
    ASSERT_TRUE(programa.registerService(suItem));
    QFile::remove(Anfitrion::archivoDisposicion());
    {
        Anfitrion anfitrion;
        anfitrion.iniciar();
        // The program is running and its icon is not on the panel yet: the host's waits.
        EXPECT_EQ(anfitrion.bandeja(), nullptr);
        EXPECT_TRUE(panel.items().isEmpty());
        QDBusMessage registrar = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
            QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("RegisterStatusNotifierItem"));
        registrar << suItem;
        ASSERT_EQ(programa.call(registrar, QDBus::BlockWithGui, 5000).type(), QDBusMessage::ReplyMessage);
        ASSERT_TRUE(pruebas::esperarHasta([&] { return panel.items().size() == 2; }, 20000)) << panel.items().join(' ').toStdString();
        EXPECT_EQ(panel.items().first(), suItem);
        ASSERT_NE(anfitrion.bandeja(), nullptr);
        EXPECT_TRUE(anfitrion.bandeja()->isVisible());
    }
    // The program is not running: the host's icon comes at once.
    programa.unregisterService(QStringLiteral("ai.zentu.voz"));
    panel.olvidarItems();
    {
        Anfitrion anfitrion;
        anfitrion.iniciar();
        EXPECT_NE(anfitrion.bandeja(), nullptr);
        EXPECT_TRUE(pruebas::esperarHasta([&] { return panel.items().size() == 1; }, 20000));
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("programa-falso"));
}

}  // namespace
