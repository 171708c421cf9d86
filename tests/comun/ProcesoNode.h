#pragma once
// Starting and stopping the tests' stand-in servers, Node programs that print "puerto N" once
// they listen.

#include "comun/Ayudas.h"

#include <QProcess>
#include <QStringList>
#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <unistd.h>

namespace pruebas {

// The child ends with the test process however that ends (a crash, a sanitizer's report, ctest's
// kill at its time-out). A server left behind would hold the test's output open, and ctest would
// wait for it until its own time-out. The kernel ties the signal to the thread that starts the
// child: start servers from the main thread.
inline void morirConLaPrueba(QProcess& proceso) {
    const pid_t prueba = ::getpid();
    proceso.setChildProcessModifier([prueba] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != prueba) ::_exit(127);  // the test was already gone
    });
}

// Starts `node` with `argumentos` in `proceso`; the port it listens on, or 0 when it did not come up.
inline int arrancarNodo(QProcess& proceso, const QStringList& argumentos) {
    proceso.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    morirConLaPrueba(proceso);
    proceso.start(QStringLiteral("node"), argumentos);
    if (!proceso.waitForStarted(5000)) return 0;
    QByteArray salida;
    const bool listo = esperarHasta(
        [&] {
            salida += proceso.readAllStandardOutput();
            return salida.contains('\n') || proceso.state() != QProcess::Running;
        },
        15000);
    if (!listo || !salida.startsWith("puerto ")) return 0;
    return salida.mid(7).trimmed().toInt();
}

// Asks the process to end, then ends it, and lets it go.
inline void pararProceso(std::unique_ptr<QProcess>& proceso) {
    if (!proceso) return;
    if (proceso->state() == QProcess::Running) {
        proceso->terminate();
        if (!proceso->waitForFinished(5000)) {
            proceso->kill();
            proceso->waitForFinished(2000);
        }
    }
    proceso.reset();
}

}  // namespace pruebas
