#include "comun/PanelBandeja.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QMutexLocker>
#include <atomic>

namespace pruebas {

namespace {

const QString kServicio = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kRuta = QStringLiteral("/StatusNotifierWatcher");
const QString kMenu = QStringLiteral("com.canonical.dbusmenu");

NodoMenu leerNodo(const QDBusArgument& arg) {
    NodoMenu n;
    arg.beginStructure();
    arg >> n.id;
    QVariantMap props;
    arg >> props;
    n.etiqueta = props.value(QStringLiteral("label")).toString();
    n.habilitado = props.value(QStringLiteral("enabled"), true).toBool();
    n.tipo = props.value(QStringLiteral("type")).toString();
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant v;
        arg >> v;
        n.hijos.push_back(leerNodo(v.variant().value<QDBusArgument>()));
    }
    arg.endArray();
    arg.endStructure();
    return n;
}

}  // namespace

QStringList VigiaBandeja::items() const {
    QMutexLocker cerrojo(&mutex_);
    return items_;
}

void VigiaBandeja::olvidar() {
    QMutexLocker cerrojo(&mutex_);
    items_.clear();
}

void VigiaBandeja::RegisterStatusNotifierItem(const QString& servicio) {
    // Qt registers with its unique connection name or a well-known one.
    const QString nombre = servicio.startsWith('/') ? message().service() : servicio;
    QMutexLocker cerrojo(&mutex_);
    items_ << nombre;
}

PanelBandeja::PanelBandeja(int msLlamada)
    : nombre_([] {
          static std::atomic<int> contador{0};
          return QStringLiteral("panel-bandeja-%1").arg(++contador);
      }()),
      conexion_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, nombre_)),
      vigia_(new VigiaBandeja),
      msLlamada_(msLlamada) {
    vigia_->moveToThread(&hilo_);
    QObject::connect(&hilo_, &QThread::finished, vigia_, &QObject::deleteLater);
    hilo_.start();
    bool exportado = false;
    QMetaObject::invokeMethod(
        vigia_, [&] { exportado = conexion_.registerObject(kRuta, vigia_, QDBusConnection::ExportAllContents); },
        Qt::BlockingQueuedConnection);
    listo_ = exportado && conexion_.registerService(kServicio);
}

PanelBandeja::~PanelBandeja() {
    conexion_.unregisterService(kServicio);
    conexion_.unregisterObject(kRuta);
    hilo_.quit();
    hilo_.wait();
}

QDBusMessage PanelBandeja::llamar(const QDBusMessage& m) { return conexion_.call(m, QDBus::BlockWithGui, msLlamada_); }

QString PanelBandeja::menu(const QString& item, QString* error) {
    QDBusMessage m = QDBusMessage::createMethodCall(item, QStringLiteral("/StatusNotifierItem"),
                                                    QStringLiteral("org.freedesktop.DBus.Properties"),
                                                    QStringLiteral("Get"));
    m << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("Menu");
    const QDBusMessage r = llamar(m);
    if (r.type() != QDBusMessage::ReplyMessage) {
        if (error) *error = r.errorMessage();
        return {};
    }
    return r.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path();
}

std::optional<NodoMenu> PanelBandeja::disposicion(const QString& item, const QString& menu, QString* error) {
    QDBusMessage m = QDBusMessage::createMethodCall(item, menu, kMenu, QStringLiteral("GetLayout"));
    m << 0 << -1 << QStringList();
    const QDBusMessage r = llamar(m);
    if (r.type() != QDBusMessage::ReplyMessage) {
        if (error) *error = r.errorMessage();
        return std::nullopt;
    }
    return leerNodo(r.arguments().value(1).value<QDBusArgument>());
}

void PanelBandeja::abrir(const QString& item, const QString& menu, int id) {
    QDBusMessage m = QDBusMessage::createMethodCall(item, menu, kMenu, QStringLiteral("AboutToShow"));
    m << id;
    llamar(m);
}

void PanelBandeja::clic(const QString& item, const QString& menu, int id) {
    QDBusMessage m = QDBusMessage::createMethodCall(item, menu, kMenu, QStringLiteral("Event"));
    m << id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(QVariant(0))) << uint(0);
    llamar(m);
}

}  // namespace pruebas
