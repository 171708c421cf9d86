#pragma once

#include <QDBusConnection>
#include <QObject>
#include <functional>

// The moments the owner comes back to the computer: the system resumes from sleep (logind's
// PrepareForSleep(false) on the system bus) and the screen saver ends, which is also when a
// locked session becomes active again (ActiveChanged(false) of the freedesktop or GNOME screen
// saver on the session bus). A bus or a service that is absent only means fewer wake-ups.
class Despertar : public QObject {
    Q_OBJECT
public:
    Despertar(QDBusConnection sistema, QDBusConnection sesion, QObject* padre = nullptr);
    // On the desktop's own buses.
    explicit Despertar(QObject* padre = nullptr);

    std::function<void()> alDespertar;

private Q_SLOTS:
    void suspension(bool entrando);
    void salvapantallas(bool activo);

private:
    void escuchar(QDBusConnection sistema, QDBusConnection sesion);
};
