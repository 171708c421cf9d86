// The zentu executable as a process on the desktop: the sound demo, the clipboard pairing test,
// one instance per session, the pairing window at a start without an account, and SIGTERM.
#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/InstanciaUnica.h"
#include "plataforma/Preferencias.h"
#include "zentu/conexion/Cuenta.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>

namespace {

QString programa() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../src/zentu/app/zentu"); }

struct Fin {
    int estado = -1;
    QStringList salida;
    QString errores;
};

// Runs zentu to its end while this process's event loop keeps going (it serves the clipboard).
Fin correr(const QStringList& argumentos, int ms) {
    QProcess p;
    p.start(programa(), argumentos);
    EXPECT_TRUE(p.waitForStarted(5000));
    const bool termino = pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, ms);
    EXPECT_TRUE(termino) << "zentu " << argumentos.join(' ').toStdString() << " no terminó";
    if (!termino) {
        p.kill();
        p.waitForFinished();
    }
    Fin f;
    f.estado = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    f.salida = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    f.errores = QString::fromUtf8(p.readAllStandardError());
    return f;
}

TEST(Proceso, LaDemostracionDeSonidosImprimeSieteLineas) {
    const QStringList esperadas = {"▶︎ enviado",  "▶︎ llego",    "▶︎ hecho", "▶︎ descartado",
                                   "▶︎ captura", "▶︎ recibido", "▶︎ error"};
    // With sounds on, and switched off in the preferences: the same lines either way.
    for (bool sinSonidos : {false, true}) {
        SCOPED_TRACE(sinSonidos);
        Preferencias::almacen().setValue(QStringLiteral("zentu.sinSonidos"), sinSonidos);
        Preferencias::almacen().sync();
        const Fin f = correr({"--sonar"}, 30000);
        EXPECT_EQ(f.estado, 0) << f.errores.toStdString();
        EXPECT_EQ(f.salida, esperadas);
    }
    Preferencias::almacen().remove(QStringLiteral("zentu.sinSonidos"));
    Preferencias::almacen().sync();
}

TEST(Proceso, EnlazarDesdeElPortapapeles) {
    ServicioSimulado servicio;
    ASSERT_TRUE(servicio.arrancar());
    Llavero::borrar();
    const QJsonObject codigo{{"v", 1}, {"url", servicio.url()}, {"codigo", "codigo-bueno"}};
    QGuiApplication::clipboard()->setText(QString::fromUtf8(QJsonDocument(codigo).toJson(QJsonDocument::Compact)));
    const Fin f = correr({"--enlazar-portapapeles"}, 20000);
    EXPECT_EQ(f.estado, 0) << f.errores.toStdString();
    EXPECT_EQ(f.salida, QStringList{"ENLAZADA " + servicio.url() + " · dueno@negocio.mx"});
    const auto guardada = Llavero::leer();
    ASSERT_TRUE(guardada);
    EXPECT_EQ(guardada->url, servicio.url());
    EXPECT_EQ(guardada->token, QStringLiteral("token-nuevo"));
    Llavero::borrar();
}

TEST(Proceso, EnlazarConElPortapapelesVacioFallaALosQuinceSegundos) {
    QGuiApplication::clipboard()->clear();
    const Fin f = correr({"--enlazar-portapapeles"}, 30000);
    EXPECT_EQ(f.estado, 1);
    EXPECT_EQ(f.salida, QStringList{"FALLO sin respuesta"});
}

TEST(Proceso, UnaSegundaCopiaEntregaElEnlaceYTermina) {
    InstanciaUnica primera(QStringLiteral("ai.zentu.voz"));
    ASSERT_TRUE(primera.reclamar());
    QStringList recibidos;
    primera.alRecibir = [&](const QStringList& a) { recibidos = a; };
    const Fin f = correr({"zuzadari://duda/17"}, 15000);
    EXPECT_EQ(f.estado, 0) << f.errores.toStdString();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !recibidos.isEmpty(); }));
    EXPECT_EQ(recibidos, QStringList{"zuzadari://duda/17"});
}

TEST(Proceso, SinCuentaMuestraElEnlaceYTerminaConSigterm) {
    Llavero::borrar();
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(programa(), {});
    ASSERT_TRUE(p.waitForStarted(5000));
    QString errores;
    const bool lista = pruebas::esperarHasta(
        [&] {
            errores += QString::fromUtf8(p.readAllStandardError());
            return errores.contains(QStringLiteral("[app] lista · cuenta=ninguna"));
        },
        20000);
    EXPECT_TRUE(lista) << errores.toStdString();
    // The pairing window is on the desktop under its title.
    QProcess buscar;
    bool ventana = pruebas::esperarHasta(
        [&] {
            buscar.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^Zentu AI$"});
            buscar.waitForFinished(5000);
            return buscar.exitCode() == 0 && !buscar.readAllStandardOutput().trimmed().isEmpty();
        },
        10000);
    EXPECT_TRUE(ventana);
    // What the owner sees, for people to look at.
    pruebas::girar(1000);
    if (QScreen* s = QGuiApplication::primaryScreen())
        s->grabWindow(0).save(pruebas::carpetaArtefactos("app") + "/arranque-sin-cuenta.png");
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
}

TEST(Proceso, AbrirVentanaMuestraLosAjustesAlSegundo) {
    Llavero::borrar();
    QProcess p;
    p.start(programa(), {"--abrir-ventana"});
    ASSERT_TRUE(p.waitForStarted(5000));
    QProcess buscar;
    // The pairing window and then the settings window share the title: two windows.
    const bool dos = pruebas::esperarHasta(
        [&] {
            buscar.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^Zentu AI$"});
            buscar.waitForFinished(5000);
            return buscar.readAllStandardOutput().trimmed().split('\n').size() >= 2;
        },
        15000);
    EXPECT_TRUE(dos);
    pruebas::girar(1000);
    if (QScreen* s = QGuiApplication::primaryScreen())
        s->grabWindow(0).save(pruebas::carpetaArtefactos("app") + "/ajustes-al-arrancar.png");
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
}

// Qt's own texts (file chooser, text fields' menu) come from its Spanish catalogue in both
// programs: each has it open once started.
TEST(Proceso, AmbosProgramasTraenLosTextosDeQtEnEspanol) {
    Llavero::borrar();
    QTemporaryDir propia;
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.insert(QStringLiteral("XDG_RUNTIME_DIR"), propia.path());
    const QString widgets = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/widgets/zentu-widgets");
    for (const QString& ruta : {programa(), widgets}) {
        QProcess p;
        p.setProcessEnvironment(entorno);
        p.start(ruta, {});
        ASSERT_TRUE(p.waitForStarted(5000));
        QString errores;
        EXPECT_TRUE(pruebas::esperarHasta(
            [&] {
                errores += QString::fromUtf8(p.readAllStandardError());
                QFile mapas(QStringLiteral("/proc/%1/maps").arg(p.processId()));
                return mapas.open(QIODevice::ReadOnly) && mapas.readAll().contains("qtbase_es.qm");
            },
            20000))
            << ruta.toStdString() << "\n" << errores.toStdString();
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        if (!pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, 10000)) p.kill();
        p.waitForFinished();
    }
}

// The desktop knows both programs by their windows: WM_CLASS is the one their installed desktop
// entry names (StartupWMClass), and every window carries an icon (_NET_WM_ICON) the size of the
// entry's own, whose file the install ships.
TEST(Proceso, CadaVentanaDiceDeQuienEsYLlevaSuIcono) {
    Llavero::borrar();
    QTemporaryDir propia;
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.insert(QStringLiteral("XDG_RUNTIME_DIR"), propia.path());
    const QString fuentes = QStringLiteral(ZENTU_DIR_SERVICIO "/../../src/");
    struct Caso {
        QString ruta, entrada;
    };
    const Caso casos[] = {
        {programa(), fuentes + "zentu/app/ai.zentu.voz.desktop.in"},
        {QCoreApplication::applicationDirPath() + QStringLiteral("/../src/widgets/zentu-widgets"),
         fuentes + "widgets/zentu-widgets.desktop.in"},
    };
    auto salida = [](const QString& orden, const QStringList& argumentos) {
        QProcess p;
        p.start(orden, argumentos);
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    for (const Caso& c : casos) {
        QFile archivo(c.entrada);
        ASSERT_TRUE(archivo.open(QIODevice::ReadOnly)) << c.entrada.toStdString();
        QString clase, icono;
        for (const QByteArray& linea : archivo.readAll().split('\n')) {
            if (linea.startsWith("StartupWMClass=")) clase = QString::fromUtf8(linea.mid(15)).trimmed();
            if (linea.startsWith("Icon=")) icono = QString::fromUtf8(linea.mid(5)).trimmed();
        }
        ASSERT_FALSE(clase.isEmpty()) << c.entrada.toStdString();
        ASSERT_FALSE(icono.isEmpty()) << c.entrada.toStdString();
        EXPECT_TRUE(QFileInfo::exists(QFileInfo(c.entrada).path() + "/" + icono + ".svg")) << icono.toStdString();

        QProcess p;
        p.setProcessEnvironment(entorno);
        p.start(c.ruta, {});
        ASSERT_TRUE(p.waitForStarted(5000));
        QStringList ventanas;
        EXPECT_TRUE(pruebas::esperarHasta(
            [&] {
                ventanas = salida(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--pid", QString::number(p.processId()), "--class", "."})
                               .split('\n', Qt::SkipEmptyParts);
                return !ventanas.isEmpty();
            },
            20000))
            << c.ruta.toStdString();
        for (const QString& v : ventanas) {
            const QString wmClass = salida(QStringLiteral("xprop"), {"-id", v, "WM_CLASS"}).trimmed();
            EXPECT_EQ(wmClass, QStringLiteral("WM_CLASS(STRING) = \"%1\", \"%1\"").arg(clase)) << c.ruta.toStdString();
            const QString iconos = salida(QStringLiteral("xprop"), {"-id", v, "-notype", "_NET_WM_ICON"});
            EXPECT_TRUE(iconos.contains(QStringLiteral("Icon (16 x 16)")) && iconos.contains(QStringLiteral("Icon (64 x 64)")))
                << c.ruta.toStdString() << " " << iconos.left(200).toStdString();
        }
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        if (!pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, 10000)) p.kill();
        p.waitForFinished();
    }
}

// The realtime probe is a command-line tool: it runs where no desktop can be reached.
TEST(Proceso, LaPruebaDeVozCorreSinEscritorio) {
    Llavero::borrar();
    QProcess p;
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.remove(QStringLiteral("DISPLAY"));
    entorno.remove(QStringLiteral("WAYLAND_DISPLAY"));
    entorno.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(entorno);
    p.start(programa(), {"--probar-ws"});
    ASSERT_TRUE(p.waitForStarted(5000));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_EQ(QString::fromUtf8(p.readAllStandardOutput()), "SIN CUENTA\n");
}

}  // namespace
