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

Fin correr(const QStringList& argumentos, int ms = 20000,
          const QProcessEnvironment& entorno = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(entorno);
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

// Over a remote shell: no display of any kind.
QProcessEnvironment sinPantalla() {
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) e.remove(QString::fromLatin1(v));
    return e;
}

// From cron: no display and no address of the session bus either; the user's runtime folder
// holds the bus (as the session manager keeps it there) when `bus` is given.
QProcessEnvironment comoCron(const QString& carpeta, bool bus) {
    QProcessEnvironment e = sinPantalla();
    const QString direccion = e.value(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    e.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    e.insert(QStringLiteral("XDG_RUNTIME_DIR"), carpeta);
    const QString prefijo = QStringLiteral("unix:path=");
    EXPECT_TRUE(direccion.startsWith(prefijo)) << direccion.toStdString();
    if (bus) {
        EXPECT_TRUE(QFile::link(direccion.mid(prefijo.size()).section(',', 0, 0), carpeta + "/bus"));
    }
    return e;
}

const QString sinCuenta = QStringLiteral("Abre Zentu AI en este equipo y enlázalo con tu cuenta primero.");

TEST(Automatizacion, SinPantallaNiProgramaDiceElMotivo) {
    ASSERT_FALSE(enElBus());
    QTemporaryDir sinBus;
    struct Caso {
        QStringList args;
        QProcessEnvironment entorno;
        QString error;
    };
    const std::vector<Caso> casos = {
        {{"--pendientes"}, sinPantalla(), sinCuenta},
        {{"--preguntar", "¿Cuánto vendí?"}, sinPantalla(), sinCuenta},
        {{"zuzadari://chat"}, sinPantalla(),
         "Zentu AI no está abierto en esta sesión, y sin pantalla (DISPLAY o WAYLAND_DISPLAY) no puede abrirse aquí."},
        {{"--pendientes"}, comoCron(sinBus.path(), false),
         "No se encontró el bus de sesión de D-Bus donde corre Zentu AI (DBUS_SESSION_BUS_ADDRESS)."},
    };
    for (const Caso& c : casos) {
        const Fin f = correr(c.args, 20000, c.entorno);
        EXPECT_EQ(f.estado, 1) << c.args.join(' ').toStdString() << "\n" << f.errores.toStdString();
        EXPECT_EQ(f.salida, "");
        EXPECT_EQ(f.errores.trimmed().toStdString(), c.error.toStdString()) << c.args.join(' ').toStdString();
    }
}

TEST(Automatizacion, SinProgramaAbiertoDiceQueFaltaEnlazar) {
    ASSERT_FALSE(enElBus());
    const Fin f = correr({"--pendientes"});
    EXPECT_EQ(f.estado, 1);
    EXPECT_EQ(f.salida, "");
    EXPECT_EQ(f.errores.trimmed().toStdString(), sinCuenta.toStdString());
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

    // The same over a remote shell and from cron, where there is no display.
    QTemporaryDir deCron;
    for (const QProcessEnvironment& entorno : {sinPantalla(), comoCron(deCron.path(), true)}) {
        f = correr({"--pendientes"}, 20000, entorno);
        EXPECT_EQ(f.estado, 0) << f.errores.toStdString();
        EXPECT_EQ(f.salida, "Tienes 2 pendientes.\n1. ¿Le doy descuento?\n2. ¿Abrimos el domingo?\n");
    }
    // A link handed over without a display reaches the running program.
    f = correr({"zuzadari://chat"}, 20000, sinPantalla());
    EXPECT_EQ(f.estado, 0) << f.errores.toStdString();
    EXPECT_TRUE(pruebas::esperarHasta([&] { return leer().contains("[enlace] abierto: chat"); }, 10000));

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
    EXPECT_TRUE(pruebas::esperarHasta([&] { return leer().contains("[enlace] abierto desde la automatización: chat"); }, 10000));
    EXPECT_FALSE(leer().contains("abierto desde un widget")) << leer().toStdString();

    // A call the service refuses for want of credits: the switch fails with the reason.
    servicio.responder("GET", "/api/v1/llamada/realtime/token", 402, QJsonObject{{"error", "Sin créditos"}});
    f = correr({"--llamar"}, 60000);
    EXPECT_EQ(f.estado, 1) << f.salida.toStdString() << f.errores.toStdString();
    EXPECT_EQ(f.salida, "");
    EXPECT_EQ(f.errores.trimmed(), "No te quedan créditos para hablar con Zentu.");

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return app.state() == QProcess::NotRunning; }, 10000));
    Llavero::borrar();
}

// Right after start the pending list has not come from the service yet: the answer says so
// instead of an all-clear, and once the list is read it tells what waits.
TEST(Automatizacion, AntesDeCargarLosPendientesNoDiceTodoAlDia) {
    ServicioSimulado servicio;
    ASSERT_TRUE(servicio.arrancar());
    servicio.control("POST", "chat", QJsonObject{{"mensajes", QJsonArray{}}});
    const QJsonObject lista{{"dudas", QJsonArray{QJsonObject{{"id", 1}, {"question", "¿Le doy descuento?"}}}}};
    // The first load hangs past its time-out, as a slow service at start would.
    servicio.responder("GET", "/api/dudas",
                       QJsonObject{{"estado", 200}, {"cuerpo", lista}, {"retraso", 60000}});
    servicio.responder("GET", "/api/pendientes/permisos", 200, QJsonArray{});
    Llavero::guardar(Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                            QStringLiteral("Negocio")});

    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(programa(), {});
    ASSERT_TRUE(app.waitForStarted(5000));
    ASSERT_TRUE(pruebas::esperarHasta(enElBus, 20000));
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] {
            for (const QJsonValue& p : servicio.peticiones())
                if (p.toObject().value("ruta").toString() == "/api/dudas") return true;
            return false;
        },
        20000));
    const QString sinSaber = QStringLiteral("Zentu AI aún no sabe qué tienes pendiente. Vuelve a preguntar en un momento.");
    Fin f = correr({"--pendientes"});
    EXPECT_EQ(f.estado, 1);
    EXPECT_EQ(f.salida, "");
    EXPECT_EQ(f.errores.trimmed().toStdString(), sinSaber.toStdString());

    // A new connection loads the list again, and this time the service answers.
    servicio.control("DELETE", "respuestas");
    servicio.responder("GET", "/api/dudas", 200, lista);
    servicio.responder("GET", "/api/pendientes/permisos", 200, QJsonArray{});
    servicio.desconectarTodos();
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] {
            f = correr({"--pendientes"});
            return f.estado == 0;
        },
        30000))
        << f.errores.toStdString();
    EXPECT_EQ(f.salida, "Tienes 1 pendiente: ¿Le doy descuento?\n");

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return app.state() == QProcess::NotRunning; }, 10000));
    Llavero::borrar();
}

}  // namespace
