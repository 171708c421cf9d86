// Large and bad input reaching the installed program from outside: a huge value from the service
// is logged cut, a send killed midway leaves nothing behind after the next start and its sender
// is told the program closed, and files that cannot be sent are refused as they are handed over.
#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Registro.h"
#include "compartido/Instantanea.h"
#include "zentu/conexion/Cuenta.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

QString programa() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../src/zentu/app/zentu"); }

bool enElBus() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("ai.zentu.voz")).value();
}

// The paired program, its log read as it comes; its temporary folder is the test's own.
class Programa {
public:
    Programa(const QString& url, const QString& temporal) {
        Llavero::guardar(Cuenta{url, QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                                QStringLiteral("Negocio")});
        entorno_ = QProcessEnvironment::systemEnvironment();
        entorno_.insert(QStringLiteral("TMPDIR"), temporal);
    }
    ~Programa() {
        matar(SIGTERM);
        Llavero::borrar();
    }
    bool arrancar() {
        log_.clear();
        p_ = std::make_unique<QProcess>();
        p_->setProcessEnvironment(entorno_);
        p_->start(programa(), {});
        if (!p_->waitForStarted(5000)) return false;
        return esperarLinea(QStringLiteral("[canal] conectado")) && pruebas::esperarHasta(enElBus, 10000);
    }
    void matar(int senal) {
        if (!p_ || p_->state() == QProcess::NotRunning) return;
        ::kill(static_cast<pid_t>(p_->processId()), senal);
        pruebas::esperarHasta([&] { return p_->state() == QProcess::NotRunning; }, 15000);
        pruebas::esperarHasta([] { return !enElBus(); }, 10000);
    }
    const QString& log() {
        if (p_) log_ += QString::fromUtf8(p_->readAllStandardError());
        return log_;
    }
    bool esperarLinea(const QString& parte, int ms = 30000) {
        return pruebas::esperarHasta([&] { return log().contains(parte); }, ms);
    }
    QProcessEnvironment entorno() const { return entorno_; }

private:
    QProcessEnvironment entorno_;
    std::unique_ptr<QProcess> p_;
    QString log_;
};

struct Fin {
    int estado = -1;
    QString salida, errores;
};

Fin correr(const QStringList& argumentos, const QProcessEnvironment& entorno, int ms = 60000) {
    QProcess p;
    p.setProcessEnvironment(entorno);
    p.start(programa(), argumentos);
    EXPECT_TRUE(p.waitForStarted(5000));
    EXPECT_TRUE(pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, ms));
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

class Entradas : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(enElBus());
        ASSERT_TRUE(servicio.arrancar());
        servicio.registrar(50);  // large attachments are not kept
        servicio.control("POST", "chat", QJsonObject{{"mensajes", QJsonArray{}}});
        servicio.responder("GET", "/api/dudas", 200, QJsonObject{{"dudas", QJsonArray{}}});
        servicio.responder("GET", "/api/pendientes/permisos", 200, QJsonArray{});
    }
    QStringList restos() const {
        return QDir(temporal.path()).entryList({QStringLiteral("zentu-atajos-*")}, QDir::Dirs | QDir::NoDotAndDotDot);
    }
    ServicioSimulado servicio;
    QTemporaryDir temporal;
};

}  // namespace

// A 3 MB agent name pushed by the service is logged as one line of bounded length that keeps the
// fixed text and says how much was left out; the program goes on answering.
TEST_F(Entradas, UnValorEnormeSeRegistraCortado) {
    Programa zentu(servicio.url(), temporal.path());
    ASSERT_TRUE(zentu.arrancar()) << zentu.log().toStdString();
    const QString enorme(3'000'000, QLatin1Char('v'));
    servicio.emitir("chat:agente", QJsonArray{QJsonObject{{"agente", enorme}}});
    // The whole line, up to its end.
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] {
            const QString& l = zentu.log();
            const qsizetype i = l.indexOf(QStringLiteral("[chat] ahora hablas con "));
            return i >= 0 && l.indexOf(QLatin1Char('\n'), i) > i;
        },
        60000));
    QString linea;
    for (const QString& l : zentu.log().split(QLatin1Char('\n'))) {
        EXPECT_LE(l.size(), Registro::kLargoMaximo + 60);
        if (l.startsWith(QStringLiteral("[chat] ahora hablas con "))) linea = l;
    }
    EXPECT_TRUE(linea.contains(QStringLiteral("… [%1 caracteres omitidos] …")
                                   .arg(24 + enorme.size() - Registro::kCabeza - Registro::kCola)))
        << linea.left(80).toStdString();
    const Fin f = correr({"--pendientes"}, zentu.entorno());
    EXPECT_EQ(f.estado, 0) << f.errores.toStdString();
    // Back to the coordinator, so the stored preference does not stay huge.
    servicio.emitir("chat:agente", QJsonArray{QJsonObject{}});
    EXPECT_TRUE(zentu.esperarLinea(QStringLiteral("[chat] ahora hablas con Zentu"), 60000));
}

// SIGKILL while a 40 MB file is being sent: the sender hears that the program closed (not that it
// was slow), and the next start removes the private copy.
TEST_F(Entradas, UnEnvioInterrumpidoNoDejaCopia) {
    servicio.callarAck("chat:send");  // the send stays under way until the kill
    QTemporaryDir casa;
    const QString archivo = casa.filePath("catalogo.pdf");
    {
        QFile f(archivo);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(40LL << 20));
    }
    Programa zentu(servicio.url(), temporal.path());
    ASSERT_TRUE(zentu.arrancar()) << zentu.log().toStdString();

    QProcess envio;
    envio.setProcessEnvironment(zentu.entorno());
    envio.start(programa(), {"--enviar-archivo", archivo});
    ASSERT_TRUE(envio.waitForStarted(5000));
    // Copied whole into its private folder: the program is sending it.
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] {
            const QStringList r = restos();
            return r.size() == 1 && QFileInfo(temporal.filePath(r.first() + "/catalogo.pdf")).size() == (40LL << 20);
        },
        60000));
    zentu.matar(SIGKILL);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return envio.state() == QProcess::NotRunning; }, 30000));
    EXPECT_EQ(envio.exitCode(), 1);
    EXPECT_EQ(QString::fromUtf8(envio.readAllStandardError()).trimmed().toStdString(),
              "Zentu AI se cerró antes de terminar. Ábrelo de nuevo y mira el chat.");
    EXPECT_EQ(restos().size(), 1);  // what the kill left

    ASSERT_TRUE(zentu.arrancar()) << zentu.log().toStdString();
    EXPECT_TRUE(restos().isEmpty());
    EXPECT_TRUE(zentu.log().contains("[atajos] copias de envíos interrumpidos borradas: 1"));
    EXPECT_TRUE(QFile::exists(archivo));  // the owner's file stays
}

// "Enviar a Zentu AI" with what cannot be sent: each is refused as it arrives, with the text a send
// would give, and nothing is staged; a good file still reaches the composer.
TEST_F(Entradas, LoQueNoSePuedeEnviarSeRechazaAlRecibirlo) {
    QTemporaryDir casa;
    const QString tubo = casa.filePath("tubo");
    ASSERT_EQ(::mkfifo(tubo.toLocal8Bit().constData(), 0600), 0);
    const QString enorme = casa.filePath("video.mp4");
    {
        QFile f(enorme);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(3LL << 30));
    }
    Programa zentu(servicio.url(), temporal.path());
    ASSERT_TRUE(zentu.arrancar()) << zentu.log().toStdString();
    const QString noSeLeyo = QStringLiteral("No se pudo leer el archivo.");
    struct Caso {
        QString argumento, texto;
    };
    const std::vector<Caso> casos = {
        {"", noSeLeyo},
        {"file://", noSeLeyo},
        {tubo, noSeLeyo},
        {casa.path(), noSeLeyo},
        {enorme, QStringLiteral("El archivo pasa de 45 MB.")},
    };
    int vistos = 0;
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.argumento.toStdString());
        const Fin f = correr({"--enviar-a-zentu", c.argumento}, zentu.entorno());
        EXPECT_EQ(f.estado, 0) << f.errores.toStdString();
        ++vistos;
        ASSERT_TRUE(pruebas::esperarHasta(
            [&] {
                const QString& l = zentu.log();
                return l.count(QStringLiteral("[servicios] archivo rechazado: ")) == vistos &&
                       l.indexOf(QLatin1Char('\n'), l.lastIndexOf(QStringLiteral("archivo rechazado"))) > 0;
            },
            20000))
            << zentu.log().toStdString();
        const QString& log = zentu.log();
        const qsizetype i = log.lastIndexOf(QStringLiteral("[servicios] archivo rechazado: "));
        EXPECT_EQ(log.mid(i, log.indexOf(QLatin1Char('\n'), i) - i).toStdString(),
                  ("[servicios] archivo rechazado: " + c.texto).toStdString());
    }
}

// The widgets' snapshot file spoiled while the paired program and the widget host run: the
// program writes it again at once, so the host reads a linked snapshot again.
TEST_F(Entradas, UnaFotoEstropeadaSeReescribeConLosWidgetsAbiertos) {
    Programa zentu(servicio.url(), temporal.path());
    ASSERT_TRUE(zentu.arrancar()) << zentu.log().toStdString();
    QProcess widgets;
    widgets.setProcessEnvironment(zentu.entorno());
    widgets.setProcessChannelMode(QProcess::ForwardedChannels);
    widgets.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/widgets/zentu-widgets"), {});
    ASSERT_TRUE(widgets.waitForStarted(5000));
    ASSERT_TRUE(pruebas::esperarHasta([] { return Instantanea::leer().enlazada; }, 20000));
    const QString ruta = *Instantanea::archivo();
    for (const QByteArray& roto : {QByteArray("{\"enlazada\":tr"), QByteArray()}) {
        {
            QFile f(ruta);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(roto);
        }
        EXPECT_TRUE(pruebas::esperarHasta(
            [&] {
                QFile f(ruta);
                const auto leida = f.open(QIODevice::ReadOnly) ? Instantanea::decodificar(f.readAll()) : std::nullopt;
                return leida && leida->enlazada;
            },
            20000));
    }
    // The line may reach us a moment after the file it tells of.
    EXPECT_TRUE(pruebas::esperarHasta(
        [&] {
            return zentu.log().count(QStringLiteral("[widgets] la foto del archivo no se podía leer: se escribe de nuevo")) >= 1;
        },
        10000))
        << zentu.log().toStdString();
    EXPECT_EQ(widgets.state(), QProcess::Running);
    widgets.terminate();
    widgets.waitForFinished(10000);
}
