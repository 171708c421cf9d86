#include "comun/ServidorAvisos.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <atomic>

namespace {
const QString kRuta = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterfaz = QStringLiteral("org.freedesktop.Notifications");
}  // namespace

QStringList ServidorAvisos::Notificacion::claves() const {
    QStringList c;
    for (int i = 0; i + 1 < acciones.size(); i += 2) c << acciones.at(i);
    return c;
}

QString ServidorAvisos::Notificacion::etiqueta(const QString& clave) const {
    for (int i = 0; i + 1 < acciones.size(); i += 2)
        if (acciones.at(i) == clave) return acciones.at(i + 1);
    return {};
}

ServidorAvisos::ServidorAvisos(bool conRespuesta, bool conMarcado)
    : conRespuesta_(conRespuesta), conMarcado_(conMarcado) {
    static std::atomic<int> contador{0};
    const int n = ++contador;
    const QString pid = QString::number(QCoreApplication::applicationPid());
    conexion_ = QStringLiteral("servidor-avisos-%1").arg(n);
    servicio_ = QStringLiteral("ai.zentu.prueba.avisos.p%1.n%2").arg(pid).arg(n);
    auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, conexion_);
    enMarcha_ = bus.isConnected() && bus.registerObject(kRuta, this, QDBusConnection::ExportAllSlots) &&
                bus.registerService(servicio_);
}

ServidorAvisos::~ServidorAvisos() {
    {
        auto bus = QDBusConnection(conexion_);
        bus.unregisterService(servicio_);
        bus.unregisterObject(kRuta);
    }
    QDBusConnection::disconnectFromBus(conexion_);
}

const ServidorAvisos::Notificacion* ServidorAvisos::visible(const QString& titulo) const {
    for (const auto& [id, n] : visibles_)
        if (n.titulo == titulo) return &n;
    return nullptr;
}

uint ServidorAvisos::Notify(const QString& app, uint reemplaza, const QString& icono, const QString& titulo,
                            const QString& cuerpo, const QStringList& acciones, const QVariantMap& pistas,
                            int expira) {
    uint id = 0;
    if (reemplaza != 0 && visibles_.count(reemplaza)) {
        id = reemplaza;
    } else {
        id = proximo_++;
    }
    Notificacion n{id, reemplaza, app, titulo, cuerpo, acciones, pistas, expira, icono};
    recibidas_.push_back(n);
    visibles_[id] = n;
    return id;
}

QStringList ServidorAvisos::GetCapabilities() {
    QStringList c{QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("sound")};
    if (conRespuesta_) c << QStringLiteral("inline-reply");
    if (conMarcado_) c << QStringLiteral("body-markup");
    return c;
}

void ServidorAvisos::CloseNotification(uint id) { cerrar(id, 3); }

QString ServidorAvisos::GetServerInformation(QString& vendedor, QString& version, QString& especificacion) {
    vendedor = QStringLiteral("zentu-pruebas");
    version = QStringLiteral("1");
    especificacion = QStringLiteral("1.2");
    return QStringLiteral("servidor-avisos");
}

void ServidorAvisos::senal(const QString& nombre, const QVariantList& argumentos) {
    auto m = QDBusMessage::createSignal(kRuta, kInterfaz, nombre);
    m.setArguments(argumentos);
    QDBusConnection(conexion_).send(m);
}

void ServidorAvisos::cerrar(uint id, uint motivo) {
    if (!visibles_.erase(id)) return;
    cerradas_.push_back(id);
    senal(QStringLiteral("NotificationClosed"), {id, motivo});
}

void ServidorAvisos::invocar(uint id, const QString& clave) {
    senal(QStringLiteral("ActionInvoked"), {id, clave});
    cerrar(id, 2);
}

void ServidorAvisos::responder(uint id, const QString& texto) {
    senal(QStringLiteral("NotificationReplied"), {id, texto});
    cerrar(id, 2);
}
