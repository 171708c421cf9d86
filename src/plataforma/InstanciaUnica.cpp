#include "plataforma/InstanciaUnica.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

InstanciaUnica::InstanciaUnica(QString nombre, QDBusConnection bus, QObject* padre)
    : QObject(padre), nombre_(std::move(nombre)), bus_(std::move(bus)) {}

InstanciaUnica::~InstanciaUnica() {
    if (!duena_) return;
    bus_.unregisterObject(kRuta);
    bus_.unregisterService(nombre_);
}

bool InstanciaUnica::reclamar() {
    if (!bus_.isConnected()) return true;
    if (!bus_.registerObject(kRuta, this, QDBusConnection::ExportScriptableSlots)) return false;
    // Not queued: a second start that does not get the name at once hands over instead.
    if (!bus_.registerService(nombre_)) {
        bus_.unregisterObject(kRuta);
        return false;
    }
    duena_ = true;
    return true;
}

bool InstanciaUnica::entregar(const QStringList& argumentos) {
    if (!bus_.isConnected()) return false;
    QDBusMessage pedido = QDBusMessage::createMethodCall(nombre_, kRuta, kInterfaz, QStringLiteral("Argumentos"));
    pedido << argumentos;
    const QDBusMessage respuesta = bus_.call(pedido, QDBus::BlockWithGui, 10000);
    return respuesta.type() == QDBusMessage::ReplyMessage;
}

void InstanciaUnica::Argumentos(const QStringList& argumentos) {
    // Answered first, acted on in a later turn: the caller is not kept waiting on our work.
    QMetaObject::invokeMethod(
        this, [this, argumentos] {
            if (alRecibir) alRecibir(argumentos);
        },
        Qt::QueuedConnection);
}
