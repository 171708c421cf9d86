#pragma once

// dunst, a real notification server, on the test's X server and session bus: started for one
// test and stopped with it; dunstctl shows and works its bubbles as the owner would.

#include "comun/Ayudas.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace pruebas {

class Dunst {
public:
    static bool instalado() { return !QStandardPaths::findExecutable(QStringLiteral("dunst")).isEmpty(); }

    // Starts it, with the configuration file `configuracion` when one is given, and waits until
    // it serves notifications on the session bus.
    bool arrancar(const QString& configuracion = {}) {
        p_.start(QStringLiteral("dunst"),
                 configuracion.isEmpty() ? QStringList{} : QStringList{QStringLiteral("-config"), configuracion});
        if (!p_.waitForStarted(5000)) return false;
        auto* bus = QDBusConnection::sessionBus().interface();
        return bus && esperarHasta(
                          [&] { return bus->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")).value(); },
                          10000);
    }

    ~Dunst() {
        p_.terminate();
        p_.waitForFinished(5000);
    }

    // dunstctl's answer to `argumentos`, trimmed.
    static QString ctl(const QStringList& argumentos) {
        QProcess p;
        p.start(QStringLiteral("dunstctl"), argumentos);
        p.waitForFinished(5000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

private:
    QProcess p_;
};

}  // namespace pruebas
