#include "plataforma/RecargaWidgets.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace RecargaWidgets {

void pedir() {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    bus.send(QDBusMessage::createSignal(QString::fromLatin1(kRuta), QString::fromLatin1(kInterfaz),
                                        QString::fromLatin1(kSenal)));
}

bool escuchar(QObject* dueno, std::function<void()> accion) {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    auto* oyente = new Oyente(dueno, std::move(accion));
    return bus.connect(QString(), QString::fromLatin1(kRuta), QString::fromLatin1(kInterfaz),
                       QString::fromLatin1(kSenal), oyente, SLOT(recibir()));
}

}  // namespace RecargaWidgets
