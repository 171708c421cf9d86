#pragma once

#include "comun/Ayudas.h"

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <csignal>
#include <memory>

// Whether the run's sound server answers (PulseAudio, or PipeWire's pulse server).
inline bool hayServidorSonido() {
    QProcess p;
    p.start("pactl", {"info"});
    pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, 20000);
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A PulseAudio daemon of one test's own (null sink "nulo", sine source "microfono"), for what
// must not touch the run's shared server: stopping it, killing it, listening to its speakers.
// While it lives, the streams this process opens go to it (PULSE_SERVER).
class ServidorSonidoPrivado {
public:
    bool arrancar() {
        if (!dir_.isValid()) return false;
        socket_ = dir_.path() + "/nativo";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PULSE_RUNTIME_PATH", dir_.path() + "/run");
        env.insert("PULSE_STATE_PATH", dir_.path() + "/estado");
        // The session's bus name belongs to the run's own server.
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        proceso_ = std::make_unique<QProcess>();
        proceso_->setProcessEnvironment(env);
        proceso_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proceso_->start("pulseaudio", {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                                       "--use-pid-file=no", "--log-target=stderr", "--log-level=error",
                                       "-L", "module-native-protocol-unix socket=" + socket_,
                                       "-L", "module-null-sink sink_name=nulo",
                                       "-L", "module-sine-source source_name=microfono frequency=440"});
        if (!proceso_->waitForStarted(10000)) return false;
        if (!pruebas::esperarHasta([&] { return QFile::exists(socket_); }, 15000)) return false;
        qputenv("PULSE_SERVER", ("unix:" + socket_).toUtf8());
        return true;
    }
    ~ServidorSonidoPrivado() {
        qunsetenv("PULSE_SERVER");
        if (proceso_ && proceso_->state() != QProcess::NotRunning) {
            ::kill(pid_t(proceso_->processId()), SIGCONT);
            proceso_->kill();
            proceso_->waitForFinished(10000);
        }
    }
    void detener() { ::kill(pid_t(proceso_->processId()), SIGSTOP); }  // hangs without going away
    void seguir() { ::kill(pid_t(proceso_->processId()), SIGCONT); }
    void matar() {
        proceso_->kill();
        proceso_->waitForFinished(10000);
    }

private:
    QTemporaryDir dir_;
    QString socket_;
    std::unique_ptr<QProcess> proceso_;
};
