#include "plataforma/SelectorArchivos.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QGuiApplication>
#include <QPointer>
#include <QRandomGenerator>
#include <QVariantMap>
#include <QWidget>

namespace {

const QString kRuta = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterfaz = QStringLiteral("org.freedesktop.portal.FileChooser");

// Receives the Response signal of one request.
class Respuesta : public QObject {
    Q_OBJECT
public:
    std::optional<uint> codigo;
    QVariantMap resultados;
Q_SIGNALS:
    void llego();
public Q_SLOTS:
    void respuesta(uint c, const QVariantMap& r) {
        codigo = c;
        resultados = r;
        Q_EMIT llego();
    }
};

// Whether the running portal has the interface at all: a desktop may run a portal without one.
bool ofrece(QDBusConnection& bus, const QString& servicio) {
    QDBusMessage m = QDBusMessage::createMethodCall(servicio, kRuta, QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
    m << kInterfaz << QStringLiteral("version");
    m.setAutoStartService(false);
    return bus.call(m, QDBus::BlockWithGui, 3000).type() == QDBusMessage::ReplyMessage;
}

QStringList textos(const QVariant& v) {
    if (v.userType() == qMetaTypeId<QDBusArgument>()) return qdbus_cast<QStringList>(v.value<QDBusArgument>());
    return v.toStringList();
}

}  // namespace

std::optional<QList<QUrl>> SelectorArchivos::elegir(const Pedido& pedido, QWidget* padre, const QString& servicio) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    // Only a portal already running: one started on demand here could bring a chooser of a
    // desktop other than the owner's.
    if (!bus.isConnected() || !bus.interface() || !bus.interface()->isServiceRegistered(servicio)) return std::nullopt;
    if (!ofrece(bus, servicio)) return std::nullopt;

    const QString ficha = QStringLiteral("zentu%1").arg(QRandomGenerator::global()->generate());
    QString remitente = bus.baseService().mid(1);
    remitente.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString ruta = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(remitente, ficha);
    // The answer is a signal on the request object: listen before asking.
    Respuesta respuesta;
    bus.connect(servicio, ruta, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), &respuesta,
                SLOT(respuesta(uint, QVariantMap)));

    QString ventana;
    if (padre && QGuiApplication::platformName() == QLatin1String("xcb"))
        ventana = QStringLiteral("x11:%1").arg(padre->window()->winId(), 0, 16);
    QVariantMap opciones;
    opciones.insert(QStringLiteral("handle_token"), ficha);
    opciones.insert(QStringLiteral("modal"), true);
    opciones.insert(QStringLiteral("multiple"), pedido.varios);
    if (!pedido.boton.isEmpty()) opciones.insert(QStringLiteral("accept_label"), pedido.boton);
    if (!pedido.carpeta.isEmpty()) {
        // A path as the portal takes it: bytes ending in a NUL.
        QByteArray carpeta = pedido.carpeta.toLocal8Bit();
        carpeta.append('\0');
        opciones.insert(QStringLiteral("current_folder"), carpeta);
    }
    QDBusMessage llamada = QDBusMessage::createMethodCall(servicio, kRuta, kInterfaz, QStringLiteral("OpenFile"));
    llamada << ventana << pedido.titulo << opciones;

    QEventLoop espera;
    bool fallo = false;
    QObject::connect(&respuesta, &Respuesta::llego, &espera, &QEventLoop::quit);
    // A portal that goes away never answers.
    QDBusServiceWatcher vigia(servicio, bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&vigia, &QDBusServiceWatcher::serviceUnregistered, &espera, [&] {
        fallo = true;
        espera.quit();
    });
    auto* pendiente = new QDBusPendingCallWatcher(bus.asyncCall(llamada, 10000), &espera);
    QObject::connect(pendiente, &QDBusPendingCallWatcher::finished, &espera, [&](QDBusPendingCallWatcher* w) {
        if (w->isError()) {
            fallo = true;
            espera.quit();
        }
    });
    if (!respuesta.codigo) espera.exec();
    bus.disconnect(servicio, ruta, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"),
                   &respuesta, SLOT(respuesta(uint, QVariantMap)));
    if (!respuesta.codigo) return fallo ? std::nullopt : std::optional<QList<QUrl>>(QList<QUrl>());
    QList<QUrl> elegidos;
    // 0 chosen, 1 cancelled by the owner, 2 ended otherwise.
    if (*respuesta.codigo == 0)
        for (const QString& u : textos(respuesta.resultados.value(QStringLiteral("uris")))) elegidos << QUrl(u);
    return elegidos;
}

#include "SelectorArchivos.moc"
