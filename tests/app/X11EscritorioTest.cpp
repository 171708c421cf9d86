// The zentu program on a plain desktop as an owner meets it: no panel shows tray icons, the
// service stops taking the token, and a second start pairs the computer again.
#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "compartido/Instantanea.h"
#include "zentu/conexion/Cuenta.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QScreen>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

#include <csignal>
#include <optional>

namespace {

QString programa() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../src/zentu/app/zentu"); }

// One running zentu, its log gathered as it comes.
class Programa {
public:
    explicit Programa(const QStringList& argumentos = {}) {
        p_.setProcessChannelMode(QProcess::SeparateChannels);
        p_.start(programa(), argumentos);
        EXPECT_TRUE(p_.waitForStarted(5000));
    }
    ~Programa() {
        if (p_.state() == QProcess::NotRunning) return;
        p_.kill();
        p_.waitForFinished(5000);
    }
    bool esperarLinea(const QString& inicio, int ms = 20000) {
        return pruebas::esperarHasta(
            [&] {
                log_ += QString::fromUtf8(p_.readAllStandardError());
                return log_.contains(inicio);
            },
            ms);
    }
    bool terminar(int ms = 10000) {
        ::kill(static_cast<pid_t>(p_.processId()), SIGTERM);
        return termino(ms);
    }
    bool termino(int ms = 10000) {
        return pruebas::esperarHasta([&] { return p_.state() == QProcess::NotRunning; }, ms) &&
               p_.exitStatus() == QProcess::NormalExit && p_.exitCode() == 0;
    }
    const QString& log() const { return log_; }
    qint64 pid() const { return p_.processId(); }

private:
    QProcess p_;
    QString log_;
};

// Runs a second start to its end while this process's loop keeps going (it serves the clipboard).
int segunda(const QStringList& argumentos) {
    QProcess p;
    p.start(programa(), argumentos);
    EXPECT_TRUE(p.waitForStarted(5000));
    EXPECT_TRUE(pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, 30000));
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool ventanaDeEnlace() {
    QProcess buscar;
    return pruebas::esperarHasta(
        [&] {
            buscar.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", "^Zentu AI$"});
            buscar.waitForFinished(5000);
            return buscar.exitCode() == 0 && !buscar.readAllStandardOutput().trimmed().isEmpty();
        },
        10000);
}

QString xdotool(const QStringList& argumentos) {
    QProcess p;
    p.start(QStringLiteral("xdotool"), argumentos);
    p.waitForFinished(5000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The middle of the island's pill: the program's window at the top of the screen, 246.4 tall at
// its scale, with the pill's centre 78 down from its top at the same scale.
std::optional<QPoint> pildora(qint64 pid) {
    for (const QString& id : xdotool({"search", "--onlyvisible", "--pid", QString::number(pid)}).split('\n')) {
        QRect r;
        for (const QString& linea : xdotool({"getwindowgeometry", "--shell", id}).split('\n')) {
            const QString valor = linea.section('=', 1);
            if (linea.startsWith("X=")) r.moveLeft(valor.toInt());
            if (linea.startsWith("Y=")) r.moveTop(valor.toInt());
            if (linea.startsWith("WIDTH=")) r.setWidth(valor.toInt());
            if (linea.startsWith("HEIGHT=")) r.setHeight(valor.toInt());
        }
        if (r.top() < 100 && r.width() > r.height() && r.height() > 0)
            return QPoint(r.center().x(), r.top() + int(78.0 * r.height() / 246.4));
    }
    return std::nullopt;
}

void foto(const QString& nombre) {
    pruebas::girar(700);
    if (QScreen* s = QGuiApplication::primaryScreen())
        s->grabWindow(0).save(pruebas::carpetaArtefactos("app") + "/" + nombre + ".png");
}

}  // namespace

// No tray host: a right click on the island, and opening the program again, show the tray's menu
// (the first time the island says why); its "Salir de Zentu AI" ends the program.
TEST(X11Escritorio, SinBandejaElMenuEstaEnLaIslaYAlAbrirOtraVez) {
    if (QSystemTrayIcon::isSystemTrayAvailable()) GTEST_SKIP() << "hay una bandeja";
    Llavero::borrar();
    Programa zentu({"--solo-isla"});
    ASSERT_TRUE(zentu.esperarLinea("[app] lista"));
    EXPECT_TRUE(zentu.log().contains("[app] el escritorio no muestra iconos en la barra"));
    std::optional<QPoint> centro;
    ASSERT_TRUE(pruebas::esperarHasta([&] { return (centro = pildora(zentu.pid())).has_value(); }, 10000));
    auto menuAbierto = [&] { return xdotool({"search", "--onlyvisible", "--pid", QString::number(zentu.pid())}).split('\n').size(); };
    const auto antes = menuAbierto();
    xdotool({"mousemove", QString::number(centro->x()), QString::number(centro->y())});
    xdotool({"click", "3"});
    ASSERT_TRUE(pruebas::esperarHasta([&] { return menuAbierto() > antes; }, 10000));
    foto(QStringLiteral("sin-bandeja-isla"));
    xdotool({"key", "Escape"});
    // The notice goes with the island a few seconds later: then only the pairing window is left.
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !pildora(zentu.pid()); }, 15000));
    const auto sinIsla = menuAbierto();

    xdotool({"mousemove", "960", "600"});
    EXPECT_EQ(segunda({}), 0);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return menuAbierto() > sinIsla; }, 10000));
    foto(QStringLiteral("sin-bandeja-menu"));
    // The menu has the keyboard: the last item is "Salir de Zentu AI".
    xdotool({"key", "Up"});
    xdotool({"key", "Return"});
    EXPECT_TRUE(zentu.termino()) << zentu.log().toStdString();
}

// The service stops taking the stored token: the program unpairs (the keyring item and the
// widgets' numbers go, the pairing window opens). A pairing made by a second start from the
// clipboard then reaches it, and it connects with the new account.
TEST(X11Escritorio, SesionVencidaYEnlaceDesdeUnaSegundaApertura) {
    ServicioSimulado servicio;
    ASSERT_TRUE(servicio.arrancar(0, {"--ping-intervalo", "600000", "--ping-espera", "600000"}));
    servicio.aceptarToken(QStringLiteral("token-nuevo"));
    Llavero::guardar(Cuenta{servicio.url(), QStringLiteral("token-viejo"), QStringLiteral("dueno@negocio.mx"),
                            QStringLiteral("Negocio")});
    Programa zentu;
    ASSERT_TRUE(zentu.esperarLinea("[app] sesión vencida: se desenlaza")) << zentu.log().toStdString();
    EXPECT_TRUE(zentu.log().contains("[canal] sesión vencida"));
    EXPECT_TRUE(pruebas::esperarHasta([] { return !Llavero::leer(); }, 10000));
    EXPECT_TRUE(ventanaDeEnlace());
    EXPECT_TRUE(pruebas::esperarHasta([] { return !Instantanea::leer().enlazada; }, 10000));
    foto(QStringLiteral("sesion-vencida"));

    const QJsonObject codigo{{"v", 1}, {"url", servicio.url()}, {"codigo", "codigo-bueno"}};
    QGuiApplication::clipboard()->setText(QString::fromUtf8(QJsonDocument(codigo).toJson(QJsonDocument::Compact)));
    EXPECT_EQ(segunda({"--enlazar-portapapeles"}), 0);
    ASSERT_TRUE(zentu.esperarLinea("[canal] conectado")) << zentu.log().toStdString();
    EXPECT_TRUE(pruebas::esperarHasta([&] { return servicio.conectados() == 1; }));
    EXPECT_TRUE(zentu.terminar());
    Llavero::borrar();
}
