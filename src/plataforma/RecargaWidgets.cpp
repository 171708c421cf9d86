#include "plataforma/RecargaWidgets.h"

#include "plataforma/Contenedor.h"

#include <QDBusConnection>
#include <QDBusMessage>

namespace RecargaWidgets {

void pedir() {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    const auto carpeta = Contenedor::carpeta();
    if (!carpeta) return;
    auto senal = QDBusMessage::createSignal(QString::fromLatin1(kRuta), QString::fromLatin1(kInterfaz),
                                            QString::fromLatin1(kSenal));
    senal << *carpeta;
    bus.send(senal);
}

bool escuchar(QObject* dueno, std::function<void()> accion) {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    auto* oyente = new Oyente(dueno, std::move(accion));
    return bus.connect(QString(), QString::fromLatin1(kRuta), QString::fromLatin1(kInterfaz),
                       QString::fromLatin1(kSenal), oyente, SLOT(recibir(QString)));
}

void Oyente::recibir(const QString& carpeta) {
    if (accion_ && carpeta == Contenedor::carpeta()) accion_();
}

}  // namespace RecargaWidgets
