// The stand-in servers of the tests end with the test process, also when it dies without running
// a destructor: a server left running would keep ctest waiting for the test's output to close.
#include "comun/Ayudas.h"
#include "comun/RealtimeSimulado.h"
#include "comun/ServicioSimulado.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>

namespace {

constexpr char kPapel[] = "ZENTU_PRUEBA_PAPEL";

// Whether the process is gone, or only waits to be reaped by whoever adopted it.
bool terminado(qint64 pid) {
    if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) return true;
    QFile estado(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!estado.open(QIODevice::ReadOnly)) return true;
    const QByteArray linea = estado.readAll();
    const qsizetype fin = linea.lastIndexOf(')');
    return fin >= 0 && linea.mid(fin + 2, 1) == "Z";
}

}  // namespace

TEST(Simulados, MuerenConLaPruebaQueLosArranco) {
    if (qEnvironmentVariable(kPapel) == QLatin1String("morir")) {
        // The test that dies: starts both servers, says who they are, and is killed outright.
        ServicioSimulado servicio;
        RealtimeSimulado realtime;
        if (!servicio.arrancar() || !realtime.arrancar()) std::_Exit(2);
        std::printf("nodos %lld %lld\n", static_cast<long long>(servicio.pid()), static_cast<long long>(realtime.pid()));
        std::fflush(stdout);
        std::raise(SIGKILL);
        std::_Exit(3);
    }

    QProcess prueba;
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.insert(QString::fromLatin1(kPapel), QStringLiteral("morir"));
    prueba.setProcessEnvironment(entorno);
    prueba.setProcessChannelMode(QProcess::SeparateChannels);
    prueba.start(QCoreApplication::applicationFilePath(),
                 {QStringLiteral("--gtest_filter=Simulados.MuerenConLaPruebaQueLosArranco")});
    QByteArray salida;
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] {
            salida += prueba.readAllStandardOutput();
            return prueba.state() == QProcess::NotRunning;
        },
        60000));
    salida += prueba.readAllStandardOutput();
    EXPECT_EQ(prueba.exitStatus(), QProcess::CrashExit);
    const qsizetype donde = salida.indexOf("nodos ");
    ASSERT_GE(donde, 0) << salida.constData();
    const QList<QByteArray> pids = salida.mid(donde + 6).split('\n').value(0).split(' ');
    ASSERT_EQ(pids.size(), 2) << salida.constData();
    for (const QByteArray& texto : pids) {
        const qint64 pid = texto.toLongLong();
        ASSERT_GT(pid, 0);
        const bool fuera = pruebas::esperarHasta([&] { return terminado(pid); }, 10000);
        EXPECT_TRUE(fuera) << "el servidor " << pid << " sigue en marcha";
        if (!fuera) ::kill(static_cast<pid_t>(pid), SIGKILL);  // not left behind by this test either
    }
}
