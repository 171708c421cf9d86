#include "plataforma/Registro.h"

#include <QMutex>
#include <QMutexLocker>
#include <cstdio>
#include <syslog.h>

namespace Registro {
namespace {
QMutex& cerrojo() {
    static QMutex m;
    return m;
}
std::function<void(const QString&)>& observadorActual() {
    static std::function<void(const QString&)> f;
    return f;
}
}  // namespace

void escribir(const QString& linea) {
    const QByteArray utf8 = linea.toUtf8();
    QMutexLocker bloqueo(&cerrojo());
    static const bool abierto = [] {
        openlog("zentu", LOG_PID, LOG_USER);
        return true;
    }();
    (void)abierto;
    std::fprintf(stderr, "%s\n", utf8.constData());
    std::fflush(stderr);
    syslog(LOG_INFO, "%s", utf8.constData());
    if (auto& f = observadorActual()) f(linea);
}

void observar(std::function<void(const QString&)> observador) {
    QMutexLocker bloqueo(&cerrojo());
    observadorActual() = std::move(observador);
}

}  // namespace Registro
