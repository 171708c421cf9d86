#pragma once

// The paired program as the benchmarks that drive it over D-Bus run it: this build installed as
// the owner has it (Instalado.h), the stand-in service with its pings far apart and an empty
// chat, the program's preferences and data in a folder of the run's own (no morning summary, no
// login item to register), and an account of that service in the keyring, taken out again when
// this goes.

#include "Instalado.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "zentu/conexion/Cuenta.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>
#include <optional>

class ProgramaEnlazado {
public:
    ~ProgramaEnlazado() {
        if (guardada_) Llavero::borrar();
    }

    // Everything in place; else what failed, for the person running the benchmark.
    std::optional<QString> preparar() {
        if (!QDBusConnection::sessionBus().isConnected())
            return QStringLiteral("sin bus de sesión: ejecútalo dentro de dbus-run-session");
        if (!servicio.arrancar(0, {"--ping-intervalo", "300000", "--ping-espera", "300000"}))
            return QStringLiteral("no arrancó el servicio");
        servicio.registrar(0);  // what the program sends (pushes by the thousand, files) is not kept
        servicio.control(QStringLiteral("POST"), QStringLiteral("chat"), QJsonObject{{"mensajes", QJsonArray{}}});
        // Nothing waits for the owner: the probe's calls get the program's real answer, not
        // "not known yet".
        servicio.responder(QStringLiteral("GET"), QStringLiteral("/api/dudas"),
                           QJsonObject{{"estado", 200}, {"cuerpo", QJsonObject{{"dudas", QJsonArray{}}}}, {"veces", 1000000}});
        qputenv("XDG_CONFIG_HOME", (casa.path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (casa.path() + "/datos").toUtf8());
        {
            QSettings ajustes(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zentu"), QStringLiteral("zentu"));
            ajustes.setValue(QStringLiteral("zentu.resumenManana"), false);
            ajustes.setValue(QStringLiteral("zentu.inicioRegistrado"), true);
        }
        Llavero::guardar(Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                                QStringLiteral("Negocio")});
        guardada_ = true;
        // ZENTU_PROGRAMA measures another build of the program (an older one, to compare).
        if (auto error = instalacion.instalar()) return error;
        programa = instalacion.zentu();
        return std::nullopt;
    }

    // Starts the program in `p` and waits for its chat to load. Its log keeps being read into
    // `errores` (the last 64 KiB of it), so a full pipe never holds the program up. False, with
    // the log on standard error, when the chat did not load.
    bool arrancar(QProcess& p, QByteArray& errores) const {
        p.setProgram(programa);
        QObject::connect(&p, &QProcess::readyReadStandardError, &p,
                         [&] { errores = (errores + p.readAllStandardError()).right(65536); });
        p.start();
        if (p.waitForStarted(5000) &&
            pruebas::esperarHasta([&] { return errores.contains("[chat] historial:"); }, 60000))
            return true;
        std::fprintf(stderr, "zentu no cargó el chat:\n%s\n", errores.constData());
        return false;
    }

    ServicioSimulado servicio;
    QTemporaryDir casa;
    Instalacion instalacion;
    QString programa;

private:
    bool guardada_ = false;
};

// A call to the running program's automation interface.
inline QDBusMessage llamadaAtajos(const QString& metodo) {
    return QDBusMessage::createMethodCall(QStringLiteral("ai.zentu.voz"), QStringLiteral("/ai/zentu/voz/Atajos"),
                                          QStringLiteral("ai.zentu.voz.Atajos"), metodo);
}
