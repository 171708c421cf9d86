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

void foto(const QString& nombre) {
    pruebas::girar(700);
    if (QScreen* s = QGuiApplication::primaryScreen())
        s->grabWindow(0).save(pruebas::carpetaArtefactos("app") + "/" + nombre + ".png");
}

}  // namespace

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
    EXPECT_FALSE(Llavero::leer());
    EXPECT_TRUE(ventanaDeEnlace());
    EXPECT_FALSE(Instantanea::leer().enlazada);
    foto(QStringLiteral("sesion-vencida"));

    const QJsonObject codigo{{"v", 1}, {"url", servicio.url()}, {"codigo", "codigo-bueno"}};
    QGuiApplication::clipboard()->setText(QString::fromUtf8(QJsonDocument(codigo).toJson(QJsonDocument::Compact)));
    EXPECT_EQ(segunda({"--enlazar-portapapeles"}), 0);
    ASSERT_TRUE(zentu.esperarLinea("[canal] conectado")) << zentu.log().toStdString();
    EXPECT_TRUE(pruebas::esperarHasta([&] { return servicio.conectados() == 1; }));
    EXPECT_TRUE(zentu.terminar());
    Llavero::borrar();
}
