// The running program on the X display keeps answering on D-Bus while its chat shows messages of
// 1 MB and 10 MB: pushed with the chat open, and in the history when the chat opens. Every call
// must be answered within a second; the test goes on until the chat shows the last of them.
#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "zentu/conexion/Cuenta.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDateTime>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace {

QString programa() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../src/zentu/app/zentu"); }

QDBusMessage llamada(const QString& metodo) {
    return QDBusMessage::createMethodCall(QStringLiteral("ai.zentu.voz"), QStringLiteral("/ai/zentu/voz/Atajos"),
                                          QStringLiteral("ai.zentu.voz.Atajos"), metodo);
}

bool enElBus() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("ai.zentu.voz")).value();
}

// A message of `bytes` characters of ordinary text (lines of a report).
QString texto(qsizetype bytes, const QString& marca) {
    QString t;
    t.reserve(bytes + 200);
    for (int i = 0; t.size() < bytes; ++i) t += QStringLiteral("%1 · línea %2 del informe de ventas del mes.\n").arg(marca).arg(i);
    return t.left(bytes);
}

QJsonObject mensaje(const QString& id, const QString& cuerpo, bool mio, int segundos) {
    // The service marks the agents' side as "fromMe" (the business's number): the owner's is false.
    return QJsonObject{{"messageId", id},
                       {"text", cuerpo},
                       {"fromMe", !mio},
                       {"timestamp", QDateTime::currentDateTimeUtc().addSecs(segundos - 3600).toString(Qt::ISODateWithMs)}};
}

// The program's windows as the X server lists them (visible ones), tallest first.
QList<QRect> ventanasDe(qint64 pid) {
    QProcess x;
    x.start(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--pid", QString::number(pid)});
    x.waitForFinished(10000);
    QList<QRect> r;
    for (const QByteArray& id : x.readAllStandardOutput().split('\n')) {
        if (id.trimmed().isEmpty()) continue;
        QProcess g;
        g.start(QStringLiteral("xdotool"), {"getwindowgeometry", "--shell", QString::fromLatin1(id.trimmed())});
        g.waitForFinished(10000);
        QMap<QByteArray, int> v;
        for (const QByteArray& l : g.readAllStandardOutput().split('\n'))
            if (l.contains('=')) v.insert(l.left(l.indexOf('=')), l.mid(l.indexOf('=') + 1).toInt());
        r << QRect(v.value("X"), v.value("Y"), v.value("WIDTH"), v.value("HEIGHT"));
    }
    std::sort(r.begin(), r.end(), [](const QRect& a, const QRect& b) { return a.height() > b.height(); });
    return r;
}

// How many pixels of the owner's bubble (the accent's green wash and border) the screen shows
// inside `zona`.
int verdesEn(const QRect& zona) {
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s || zona.isEmpty()) return 0;
    const QImage img = s->grabWindow(0, zona.x(), zona.y(), zona.width(), zona.height()).toImage();
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QColor c = img.pixelColor(x, y);
            if (c.green() - c.blue() > 20 && c.green() - c.red() > 8) ++n;
        }
    return n;
}

class MensajeEnorme : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
        ASSERT_FALSE(enElBus());
        ASSERT_TRUE(servicio.arrancar(0, {"--ping-intervalo", "300000", "--ping-espera", "300000"}));
        servicio.registrar(0);
        qputenv("XDG_CONFIG_HOME", (casa.path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (casa.path() + "/datos").toUtf8());
        qputenv("XDG_CACHE_HOME", (casa.path() + "/cache").toUtf8());
        {
            // Named by its path: QSettings keeps the first user folder it saw for the whole process.
            QSettings ajustes(casa.path() + QStringLiteral("/config/zentu/zentu.ini"), QSettings::IniFormat);
            ajustes.setValue(QStringLiteral("zentu.resumenManana"), false);
            ajustes.setValue(QStringLiteral("zentu.inicioRegistrado"), true);
        }
        Llavero::guardar(Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                                QStringLiteral("Negocio")});
    }
    void TearDown() override {
        parar();
        Llavero::borrar();
        for (const char* v : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) qunsetenv(v);
    }

    // Starts the program and waits until its chat holds the history and it answers on the bus.
    void arrancar() {
        registro.clear();
        app = std::make_unique<QProcess>();
        QObject::connect(app.get(), &QProcess::readyReadStandardError, app.get(),
                         [this] { registro = (registro + app->readAllStandardError()).right(1 << 16); });
        app->start(programa(), {});
        ASSERT_TRUE(app->waitForStarted(5000));
        ASSERT_TRUE(pruebas::esperarHasta([&] { return registro.contains("[chat] historial:") && enElBus(); }, 120000))
            << registro.constData();
    }
    void parar() {
        if (!app) return;
        if (app->state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(app->processId()), SIGTERM);
            if (!pruebas::esperarHasta([&] { return app->state() == QProcess::NotRunning; }, 20000)) app->kill();
        }
        app.reset();
        pruebas::esperarHasta([] { return !enElBus(); }, 10000);
    }

    // One call to the running program, which must be answered within a second.
    void contesta(const QString& metodo, const char* cuando) {
        QElapsedTimer espera;
        espera.start();
        const QDBusMessage r = QDBusConnection::sessionBus().call(llamada(metodo), QDBus::Block, 1000);
        ++llamadas;
        masLenta = std::max(masLenta, espera.elapsed());
        // The program's own refusal (before its pending list has loaded it says it does not know
        // yet) is an answer too; the bus's errors (no reply, time-out) are not.
        const bool contestada = r.type() == QDBusMessage::ReplyMessage ||
                                (r.type() == QDBusMessage::ErrorMessage &&
                                 !r.errorName().startsWith(QLatin1String("org.freedesktop.DBus.Error.")));
        ASSERT_TRUE(contestada) << cuando << ": " << metodo.toStdString() << " sin respuesta en 1 s: "
                                << r.errorName().toStdString() << " " << r.errorMessage().toStdString();
    }

    // Calls the program over and over until the chat window shows the owner's green bubble.
    void hastaVerLaBurbuja(const char* cuando) {
        llamadas = 0;
        masLenta = 0;
        bool vista = false;
        const bool llego = pruebas::esperarHasta(
            [&] {
                contesta(QStringLiteral("VerPendientes"), cuando);
                if (::testing::Test::HasFatalFailure()) return true;
                const QList<QRect> ventanas = ventanasDe(app->processId());
                vista = !ventanas.isEmpty() && verdesEn(ventanas.first()) > 200;
                return vista;
            },
            180000);
        ASSERT_FALSE(::testing::Test::HasFatalFailure());
        EXPECT_TRUE(llego && vista) << cuando;
        EXPECT_GE(llamadas, 1);
        std::printf("%s: %d llamadas, la más lenta %lld ms\n", cuando, llamadas, static_cast<long long>(masLenta));
        const QList<QRect> ventanas = ventanasDe(app->processId());
        if (!ventanas.isEmpty())
            QGuiApplication::primaryScreen()
                ->grabWindow(0, ventanas.first().x(), ventanas.first().y(), ventanas.first().width(), ventanas.first().height())
                .save(pruebas::carpetaArtefactos("chat") + "/mensaje-enorme-" + cuando + ".png");
    }

    ServicioSimulado servicio;
    QTemporaryDir casa;
    std::unique_ptr<QProcess> app;
    QByteArray registro;
    int llamadas = 0;
    qint64 masLenta = 0;
};

const QString& diezMb() {
    static const QString t = texto(10'000'000, "Agente");
    return t;
}
const QString& unMb() {
    static const QString t = texto(1'000'000, "Dueño");
    return t;
}

// Pushed while the chat is open: the agent's 10 MB, then the owner's 1 MB (the green bubble). The
// live channel reads each packet on the main loop too, so this holds only as long as reading a
// 10 MB packet takes it less than a second.
TEST_F(MensajeEnorme, EmpujadosConElChatAbierto) {
    servicio.control("POST", "chat", QJsonObject{{"mensajes", QJsonArray{}}});
    arrancar();
    ASSERT_FALSE(HasFatalFailure());
    contesta(QStringLiteral("AbrirChat"), "al abrir");
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !ventanasDe(app->processId()).isEmpty(); }, 30000));
    EXPECT_LE(verdesEn(ventanasDe(app->processId()).first()), 200);  // nothing of the owner's yet
    servicio.emitir("messages:new",
                    QJsonArray{QJsonObject{{"phone", "dashboard"}, {"message", mensaje("grande-1", diezMb(), false, 0)}}});
    servicio.emitir("messages:new",
                    QJsonArray{QJsonObject{{"phone", "dashboard"}, {"message", mensaje("grande-2", unMb(), true, 1)}}});
    hastaVerLaBurbuja("empujados");
}

// The same two in the history: once the program has them, opening the chat and showing them
// never holds it.
TEST_F(MensajeEnorme, EnElHistorialAlAbrirElChat) {
    servicio.control("POST", "chat",
                     QJsonObject{{"mensajes", QJsonArray{mensaje("grande-1", diezMb(), false, 0), mensaje("grande-2", unMb(), true, 1)}}});
    arrancar();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(registro.contains("[chat] historial: 2 mensajes")) << registro.constData();
    contesta(QStringLiteral("AbrirChat"), "al abrir con historial");
    ASSERT_FALSE(HasFatalFailure());
    hastaVerLaBurbuja("en-el-historial");
}

}  // namespace
