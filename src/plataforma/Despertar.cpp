#include "plataforma/Despertar.h"

Despertar::Despertar(QDBusConnection sistema, QDBusConnection sesion, QObject* padre) : QObject(padre) {
    escuchar(std::move(sistema), std::move(sesion));
}

Despertar::Despertar(QObject* padre) : QObject(padre) {
    escuchar(QDBusConnection::systemBus(), QDBusConnection::sessionBus());
}

void Despertar::escuchar(QDBusConnection sistema, QDBusConnection sesion) {
    if (sistema.isConnected()) {
        sistema.connect(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                        SLOT(suspension(bool)));
    }
    if (sesion.isConnected()) {
        // Any sender: the screen saver's service name differs between desktops.
        sesion.connect(QString(), QStringLiteral("/org/freedesktop/ScreenSaver"), QStringLiteral("org.freedesktop.ScreenSaver"),
                       QStringLiteral("ActiveChanged"), this, SLOT(salvapantallas(bool)));
        sesion.connect(QString(), QStringLiteral("/org/gnome/ScreenSaver"), QStringLiteral("org.gnome.ScreenSaver"),
                       QStringLiteral("ActiveChanged"), this, SLOT(salvapantallas(bool)));
    }
}

void Despertar::suspension(bool entrando) {
    if (!entrando && alDespertar) alDespertar();
}

void Despertar::salvapantallas(bool activo) {
    if (!activo && alDespertar) alDespertar();
}
