// Automation of the running program, as another program would use it: the switches of a second
// "zentu" ask the running, paired one over the session bus and print its answer.
#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "zentu/conexion/Cuenta.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

namespace {

QString programa() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../src/zentu/app/zentu"); }

struct Fin {
    int estado = -1;
    QString salida, errores;
};

Fin correr(const QStringList& argumentos, int ms = 20000) {
    QProcess p;
    p.start(programa(), argumentos);
    EXPECT_TRUE(p.waitForStarted(5000));
    const bool termino = pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, ms);
    EXPECT_TRUE(termino) << "zentu " << argumentos.join(' ').toStdString() << " no terminó";
    if (!termino) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

bool enElBus() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("ai.zentu.voz")).value();
}

TEST(Automatizacion, SinProgramaAbiertoDiceQueFaltaEnlazar) {
    ASSERT_FALSE(enElBus());
    const Fin f = correr({"--pendientes"});
    EXPECT_EQ(f.estado, 1);
    EXPECT_EQ(f.salida, "");
    EXPECT_EQ(f.errores.trimmed(), "Abre Zentu AI en este equipo y enlázalo con tu cuenta primero.");
}

TEST(Automatizacion, ElProgramaEnlazadoContesta) {
    ServicioSimulado servicio;
    ASSERT_TRUE(servicio.arrancar());
    servicio.control("POST", "chat", QJsonObject{{"mensajes", QJsonArray{}}});
    servicio.responder("GET", "/api/dudas", 200,
                       QJsonObject{{"dudas", QJsonArray{QJsonObject{{"id", 1}, {"question", "¿Le doy descuento?"}},
                                                        QJsonObject{{"id", 2}, {"question", "¿Abrimos el domingo?"}}}}});
    servicio.responder("GET", "/api/pendientes/permisos", 200, QJsonArray{});
    Llavero::guardar(Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                            QStringLiteral("Negocio")});

    QProcess app;
    app.setProcessChannelMode(QProcess::SeparateChannels);
    app.start(programa(), {});
    ASSERT_TRUE(app.waitForStarted(5000));
    QString registro;
    auto leer = [&] {
        registro += QString::fromUtf8(app.readAllStandardError());
        return registro;
    };
    ASSERT_TRUE(pruebas::esperarHasta([&] { return leer().contains("[app] lista · cuenta=" + servicio.url()); }, 20000))
        << registro.toStdString();
    ASSERT_TRUE(pruebas::esperarHasta(enElBus, 10000));
    // The pending store has loaded once the channel is up.
    ASSERT_TRUE(pruebas::esperarHasta([&] { return servicio.conectados() > 0; }, 15000)) << leer().toStdString();

    Fin f;
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] {
            f = correr({"--pendientes"});
            return f.salida.startsWith("Tienes 2");
        },
        15000))
        << f.salida.toStdString() << f.errores.toStdString();
    EXPECT_EQ(f.estado, 0);
    EXPECT_EQ(f.salida, "Tienes 2 pendientes.\n1. ¿Le doy descuento?\n2. ¿Abrimos el domingo?\n");

    QTemporaryDir dir;
    const QString archivo = dir.filePath("lista de precios.txt");
    {
        QFile a(archivo);
        ASSERT_TRUE(a.open(QIODevice::WriteOnly));
        a.write("tacos 25\n");
    }
    f = correr({"--enviar-archivo", archivo, "--mensaje", "la nueva"}, 60000);
    EXPECT_EQ(f.estado, 0) << f.errores.toStdString();
    EXPECT_EQ(f.salida, "Listo, se lo mandé a Zentu.\n");
    bool llego = false;
    for (const QJsonValue& e : servicio.eventos()) {
        const QJsonObject o = e.toObject();
        if (o.value("evento").toString() != "chat:send") continue;
        const QJsonObject datos = o.value("args").toArray().first().toObject();
        llego = llego || datos.value("text").toString() == "la nueva";
    }
    EXPECT_TRUE(llego);
    // The private copy is gone once sent, the owner's file stays.
    EXPECT_TRUE(QFile::exists(archivo));

    f = correr({"--abrir-chat"});
    EXPECT_EQ(f.estado, 0) << f.errores.toStdString();

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return app.state() == QProcess::NotRunning; }, 10000));
    Llavero::borrar();
}

}  // namespace
