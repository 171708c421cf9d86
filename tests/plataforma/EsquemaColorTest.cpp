#include "plataforma/EsquemaColor.h"

#include "comun/Ayudas.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QPalette>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <memory>

// A stand-in for the desktop portal's settings interface, on its own bus connection so that the
// probe talks to it through the bus like to the real one.
class PortalFalso : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    QVariant valor = QVariant::fromValue(uint(1));
    int lecturas = 0;

public Q_SLOTS:
    QDBusVariant Read(const QString& espacio, const QString& clave) {
        ++lecturas;
        if (espacio != QLatin1String("org.freedesktop.appearance") || clave != QLatin1String("color-scheme"))
            return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant())));
        // The portal wraps the value in a second variant.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(valor)));
    }

Q_SIGNALS:
    void SettingChanged(const QString& espacio, const QString& clave, const QDBusVariant& valor);
};

namespace {

class EsquemaColorPrueba : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QDBusConnection::sessionBus().isConnected()) GTEST_SKIP() << "sin bus de sesión";
        paletaOriginal_ = QApplication::palette();
        QApplication::setPalette(paletaClara());
    }
    void TearDown() override {
        if (conexion_) {
            conexion_->unregisterService(servicio_);
            QDBusConnection::disconnectFromBus(conexion_->name());
        }
        QApplication::setPalette(paletaOriginal_);
    }

    // Puts the stand-in portal on the bus under a private name.
    void publicarPortal() {
        conexion_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal-falso")));
        ASSERT_TRUE(conexion_->isConnected());
        ASSERT_TRUE(conexion_->registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal_,
                                              QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(conexion_->registerService(servicio_));
    }

    static QPalette paletaClara() { return QPalette(QColor(240, 240, 240)); }
    static QPalette paletaOscura() { return QPalette(QColor(35, 35, 38)); }

    const QString servicio_ = QStringLiteral("org.zentu.prueba.Portal%1").arg(QCoreApplication::applicationPid());
    PortalFalso portal_;
    std::unique_ptr<QDBusConnection> conexion_;
    QPalette paletaOriginal_;
};

TEST_F(EsquemaColorPrueba, ElPortalMandaSobreLaPaleta) {
    publicarPortal();
    EsquemaColor sonda(nullptr, servicio_);
    EXPECT_EQ(sonda.actual(), Esquema::claro);  // the palette's guess until the portal answers
    QSignalSpy cambios(&sonda, &EsquemaColor::cambio);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return sonda.actual() == Esquema::oscuro; }));
    EXPECT_EQ(portal_.lecturas, 1);
    ASSERT_EQ(cambios.size(), 1);
    EXPECT_EQ(cambios[0][0].value<Esquema>(), Esquema::oscuro);

    // A stated preference wins over a palette that says otherwise.
    QApplication::setPalette(paletaClara());
    pruebas::girar(50);
    EXPECT_EQ(sonda.actual(), Esquema::oscuro);

    // The desktop switches to light, then to "no preference": the palette decides again.
    Q_EMIT portal_.SettingChanged(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
                                  QDBusVariant(QVariant::fromValue(uint(2))));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return sonda.actual() == Esquema::claro; }));
    Q_EMIT portal_.SettingChanged(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
                                  QDBusVariant(QVariant::fromValue(uint(0))));
    QApplication::setPalette(paletaOscura());
    ASSERT_TRUE(pruebas::esperarHasta([&] { return sonda.actual() == Esquema::oscuro; }));

    // Other settings and unknown values are no preference at all.
    Q_EMIT portal_.SettingChanged(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("accent-color"),
                                  QDBusVariant(QVariant::fromValue(uint(2))));
    Q_EMIT portal_.SettingChanged(QStringLiteral("org.freedesktop.appearance"), QStringLiteral("color-scheme"),
                                  QDBusVariant(QVariant::fromValue(uint(7))));
    pruebas::girar(100);
    EXPECT_EQ(sonda.actual(), Esquema::oscuro);
}

TEST_F(EsquemaColorPrueba, ValoresQueNoSonPreferencia) {
    struct Caso {
        QVariant valor;
        Esquema conPaletaClara;
    };
    const Caso casos[] = {
        {QVariant::fromValue(uint(1)), Esquema::oscuro},
        {QVariant::fromValue(uint(2)), Esquema::claro},
        {QVariant::fromValue(uint(0)), Esquema::claro},
        {QVariant::fromValue(uint(3)), Esquema::claro},
        {QVariant(QStringLiteral("dark")), Esquema::claro},
    };
    publicarPortal();
    for (const Caso& c : casos) {
        portal_.valor = c.valor;
        const int antes = portal_.lecturas;
        EsquemaColor sonda(nullptr, servicio_);
        ASSERT_TRUE(pruebas::esperarHasta([&] { return portal_.lecturas > antes; }));
        pruebas::girar(50);
        EXPECT_EQ(sonda.actual(), c.conPaletaClara) << c.valor.toString().toStdString();
    }
}

TEST_F(EsquemaColorPrueba, SinPortalSigueLaPaleta) {
    EsquemaColor sonda(nullptr, servicio_);
    EXPECT_EQ(sonda.actual(), Esquema::claro);
    QSignalSpy cambios(&sonda, &EsquemaColor::cambio);
    QApplication::setPalette(paletaOscura());
    ASSERT_TRUE(pruebas::esperarHasta([&] { return sonda.actual() == Esquema::oscuro; }));
    QApplication::setPalette(paletaClara());
    ASSERT_TRUE(pruebas::esperarHasta([&] { return sonda.actual() == Esquema::claro; }));
    EXPECT_EQ(cambios.size(), 2);
}

}  // namespace

#include "EsquemaColorTest.moc"
