// The desktop's file chooser through a stand-in of the portal's FileChooser interface on the
// tests' session bus, under a name of this process.
#include "plataforma/SelectorArchivos.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Answers OpenFile as a portal does: the request's path at once, then the owner's answer as the
// request's Response signal. `conInterfaz` false: a portal without a file chooser.
class PortalArchivos : public QDBusVirtualObject {
public:
    enum class Modo { elige, cancela, falla };
    PortalArchivos(QString servicio, Modo modo, bool conInterfaz)
        : servicio_(std::move(servicio)), modo_(modo), conInterfaz_(conInterfaz),
          c_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal-archivos"))) {
        listo = c_.isConnected() && c_.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), this) &&
                c_.registerService(servicio_);
    }
    ~PortalArchivos() override {
        c_.unregisterService(servicio_);
        c_.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        QDBusConnection::disconnectFromBus(c_.name());
    }
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection&) override {
        if (m.member() == QLatin1String("Get")) {
            const bool suya = conInterfaz_ && m.arguments().value(0).toString() == QLatin1String("org.freedesktop.portal.FileChooser");
            c_.send(suya ? m.createReply(QVariant::fromValue(QDBusVariant(QVariant(3u))))
                         : m.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("no such interface")));
            return true;
        }
        if (m.interface() != QLatin1String("org.freedesktop.portal.FileChooser") || m.member() != QLatin1String("OpenFile"))
            return false;
        ventana = m.arguments().value(0).toString();
        titulo = m.arguments().value(1).toString();
        opciones = qdbus_cast<QVariantMap>(m.arguments().value(2));
        if (modo_ == Modo::falla) {
            c_.send(m.createErrorReply(QDBusError::AccessDenied, QStringLiteral("no")));
            return true;
        }
        QString remitente = m.service().mid(1);
        remitente.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString ruta = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                 .arg(remitente, opciones.value(QStringLiteral("handle_token")).toString());
        c_.send(m.createReply(QVariant::fromValue(QDBusObjectPath(ruta))));
        QVariantMap resultados;
        if (modo_ == Modo::elige)
            resultados.insert(QStringLiteral("uris"), QStringList{QStringLiteral("file:///tmp/a%20b.pdf"),
                                                                  QStringLiteral("file:///tmp/c.txt")});
        QDBusMessage senal = QDBusMessage::createSignal(ruta, QStringLiteral("org.freedesktop.portal.Request"),
                                                        QStringLiteral("Response"));
        senal << uint(modo_ == Modo::elige ? 0 : 1) << resultados;
        c_.send(senal);
        return true;
    }

    bool listo = false;
    QString ventana, titulo;
    QVariantMap opciones;

private:
    QString servicio_;
    Modo modo_;
    bool conInterfaz_;
    QDBusConnection c_;
};

TEST(SelectorArchivos, ElDelEscritorioDondeLoHay) {
    if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "sin bus de sesión";
    using Modo = PortalArchivos::Modo;
    struct Caso {
        const char* que;
        bool hayPortal;
        bool conInterfaz;
        Modo modo;
        std::optional<QList<QUrl>> esperado;
    };
    const QList<QUrl> dos{QUrl::fromLocalFile(QStringLiteral("/tmp/a b.pdf")), QUrl::fromLocalFile(QStringLiteral("/tmp/c.txt"))};
    const Caso casos[] = {
        {"elige dos", true, true, Modo::elige, dos},
        {"cancela", true, true, Modo::cancela, QList<QUrl>()},
        {"el portal rehúsa", true, true, Modo::falla, std::nullopt},
        {"portal sin selector", true, false, Modo::elige, std::nullopt},
        {"sin portal", false, true, Modo::elige, std::nullopt},
    };
    const QString servicio = QStringLiteral("org.zentu.prueba.Archivos%1").arg(QCoreApplication::applicationPid());
    for (const Caso& c : casos) {
        std::unique_ptr<PortalArchivos> portal;
        if (c.hayPortal) {
            portal = std::make_unique<PortalArchivos>(servicio, c.modo, c.conInterfaz);
            ASSERT_TRUE(portal->listo) << c.que;
        }
        const SelectorArchivos::Pedido pedido{QStringLiteral("Elige los archivos"), QStringLiteral("Adjuntar"), true,
                                              QDir::homePath()};
        const auto elegidos = SelectorArchivos::elegir(pedido, nullptr, servicio);
        EXPECT_EQ(elegidos, c.esperado) << c.que;
        if (c.hayPortal && c.conInterfaz) {
            EXPECT_EQ(portal->titulo, "Elige los archivos") << c.que;
            EXPECT_EQ(portal->opciones.value("accept_label").toString(), "Adjuntar") << c.que;
            EXPECT_EQ(portal->opciones.value("multiple").toBool(), true) << c.que;
            // The home folder, as bytes ending in a NUL.
            EXPECT_EQ(portal->opciones.value("current_folder").toByteArray(), QDir::homePath().toLocal8Bit() + '\0') << c.que;
        }
    }
}

}  // namespace
