#pragma once

// A session bus of a test's own, and on it, when a test wants one, a stand-in of the desktop
// portal's Screenshot interface: for what a Wayland session offers (or does not) for screen
// captures. The stand-in answers from a thread of its own, so that a caller blocked on the bus
// is answered too. And a stand-in of the portal's colour-scheme setting.

#include "comun/ProcesoNode.h"

#include <QColor>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMutex>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QVariantMap>
#include <atomic>

namespace pruebas {

// A dbus-daemon of its own, with nothing on it that D-Bus could start on demand. Set it as the
// process's session bus (`usarComoSesion`) before anything in the process touches the session bus.
class BusPrivado {
public:
    BusPrivado() {
        QFile conf(carpeta_.filePath(QStringLiteral("bus.conf")));
        if (!conf.open(QIODevice::WriteOnly)) return;
        conf.write(QStringLiteral(
                       "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                       " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                       "<busconfig><type>session</type><listen>unix:dir=%1</listen><auth>EXTERNAL</auth>"
                       "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                       "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n")
                       .arg(carpeta_.path())
                       .toUtf8());
        conf.close();
        morirConLaPrueba(demonio_);
        demonio_.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + conf.fileName(), QStringLiteral("--nofork"),
                        QStringLiteral("--print-address")});
        if (!demonio_.waitForStarted()) return;
        while (!demonio_.canReadLine() && demonio_.waitForReadyRead(10000)) {
        }
        direccion_ = QString::fromUtf8(demonio_.readLine()).trimmed();
    }
    ~BusPrivado() {
        demonio_.terminate();
        demonio_.waitForFinished(5000);
    }
    const QString& direccion() const { return direccion_; }
    void usarComoSesion() const { qputenv("DBUS_SESSION_BUS_ADDRESS", direccion_.toUtf8()); }

private:
    QTemporaryDir carpeta_;
    QProcess demonio_;
    QString direccion_;
};

// org.freedesktop.portal.Desktop with the Screenshot interface (version 2): every request is
// answered with `respuesta` (0 taken, 1 refused by the owner) and, when taken, a picture of
// `tamano` in one colour, written where a portal writes it: a file of its own, named by URI.
class PortalSimulado : public QThread {
public:
    explicit PortalSimulado(QString direccion, QSize tamano = {1280, 800})
        : direccion_(std::move(direccion)), tamano_(tamano) {
        start();
        while (!listo_.load() && !isFinished()) QThread::msleep(5);
    }
    ~PortalSimulado() override {
        quit();
        wait();
    }

    bool listo() const { return listo_.load() == 1; }
    int pedidos() const { return pedidos_.load(); }
    // Whether the last request asked the owner to choose a region.
    bool interactivo() const { return interactivo_.load(); }
    std::atomic<unsigned> respuesta{0};

protected:
    void run() override {
        const QString nombre = QStringLiteral("portal-simulado");
        {
            QDBusConnection c = QDBusConnection::connectToBus(direccion_, nombre);
            Objeto objeto(*this, c);
            const bool bien = c.isConnected() && c.registerService(QStringLiteral("org.freedesktop.portal.Desktop")) &&
                              c.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), &objeto);
            listo_.store(bien ? 1 : -1);
            if (bien) exec();
            c.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
            c.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        }
        QDBusConnection::disconnectFromBus(nombre);
    }

private:
    class Objeto : public QDBusVirtualObject {
    public:
        Objeto(PortalSimulado& portal, QDBusConnection conexion) : portal_(portal), conexion_(std::move(conexion)) {}
        QString introspect(const QString&) const override { return {}; }
        bool handleMessage(const QDBusMessage& m, const QDBusConnection&) override {
            if (m.interface() == QLatin1String("org.freedesktop.DBus.Properties") && m.member() == QLatin1String("Get")) {
                if (m.arguments().value(0).toString() == QLatin1String("org.freedesktop.portal.Screenshot") &&
                    m.arguments().value(1).toString() == QLatin1String("version"))
                    conexion_.send(m.createReply(QVariant::fromValue(QDBusVariant(QVariant(2u)))));
                else
                    conexion_.send(m.createErrorReply(QDBusError::UnknownProperty, QStringLiteral("no such property")));
                return true;
            }
            if (m.interface() != QLatin1String("org.freedesktop.portal.Screenshot") ||
                m.member() != QLatin1String("Screenshot"))
                return false;
            const QVariantMap opciones = qdbus_cast<QVariantMap>(m.arguments().value(1));
            QString remitente = m.service().mid(1);
            remitente.replace(QLatin1Char('.'), QLatin1Char('_'));
            const QString ruta = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                                     .arg(remitente, opciones.value(QStringLiteral("handle_token")).toString());
            portal_.interactivo_.store(opciones.value(QStringLiteral("interactive")).toBool());
            ++portal_.pedidos_;
            conexion_.send(m.createReply(QVariant::fromValue(QDBusObjectPath(ruta))));
            QVariantMap resultados;
            const unsigned codigo = portal_.respuesta.load();
            if (codigo == 0) {
                const QString archivo = portal_.carpeta_.filePath(QStringLiteral("Captura %1.png").arg(portal_.pedidos_.load()));
                QImage imagen(portal_.tamano_, QImage::Format_RGB32);
                imagen.fill(QColor(40, 120, 200));
                imagen.save(archivo);
                resultados.insert(QStringLiteral("uri"), QUrl::fromLocalFile(archivo).toString());
            }
            QDBusMessage senal =
                QDBusMessage::createSignal(ruta, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            senal << codigo << resultados;
            conexion_.send(senal);
            return true;
        }

    private:
        PortalSimulado& portal_;
        QDBusConnection conexion_;
    };

    QString direccion_;
    QSize tamano_;
    QTemporaryDir carpeta_;
    std::atomic<int> listo_{0};
    std::atomic<int> pedidos_{0};
    std::atomic<bool> interactivo_{false};
};

// The desktop portal's Settings interface with the one setting the programs read, the desktop's
// colour scheme ("org.freedesktop.appearance" "color-scheme": 1 dark, 2 light), on a connection
// of its own to the session bus under the portal's name. `poner` switches it as a desktop does:
// the value changes and SettingChanged goes out. Main thread; the event loop must run.
class PortalApariencia : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")
public:
    explicit PortalApariencia(uint esquema, QString servicio = QStringLiteral("org.freedesktop.portal.Desktop"))
        : valor_(esquema), servicio_(std::move(servicio)),
          conexion_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("portal-apariencia"))) {
        listo_ = conexion_.isConnected() &&
                 conexion_.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
                                          QDBusConnection::ExportAllSlots) &&
                 conexion_.registerService(servicio_);
    }
    ~PortalApariencia() override {
        conexion_.unregisterService(servicio_);
        conexion_.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        QDBusConnection::disconnectFromBus(conexion_.name());
    }
    bool listo() const { return listo_; }

    void poner(uint esquema) {
        valor_ = esquema;
        QDBusMessage senal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/portal/desktop"),
                                                        QStringLiteral("org.freedesktop.portal.Settings"),
                                                        QStringLiteral("SettingChanged"));
        senal << QStringLiteral("org.freedesktop.appearance") << QStringLiteral("color-scheme")
              << QVariant::fromValue(QDBusVariant(QVariant(valor_)));
        conexion_.send(senal);
    }

public Q_SLOTS:
    // As the portal answers: the value in a variant inside the reply's variant.
    QDBusVariant Read(const QString& espacio, const QString& clave) {
        if (espacio != QLatin1String("org.freedesktop.appearance") || clave != QLatin1String("color-scheme"))
            return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant())));
        return QDBusVariant(QVariant::fromValue(QDBusVariant(QVariant(valor_))));
    }

private:
    uint valor_;
    QString servicio_;
    QDBusConnection conexion_;
    bool listo_ = false;
};

}  // namespace pruebas
