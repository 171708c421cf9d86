#include "comun/Ayudas.h"
#include "zentu/app/PuenteAtajos.h"
#include "zentu/app/ServicioAtajos.h"
#include "zentu/chat/ChatZentu.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QCoroTimer>
#include <gtest/gtest.h>

namespace {

QCoro::Task<std::optional<QString>> tarde(std::optional<QString> valor, int ms = 30) {
    QTimer t;
    t.setSingleShot(true);
    t.start(ms);
    co_await t;
    co_return valor;
}

// A bridge as a binding fills it: a chat that answers `respuesta` and records what was sent.
struct Enlazado {
    PuenteAtajos puente;
    std::optional<QString> respuesta = QStringLiteral("Hoy vendiste 12 tacos.");
    std::optional<QString> errorEnvio;
    QStringList abiertos;
    QStringList enviados;       // "name|contents|message" as the chat saw the copy
    QStringList rutasEnviadas;
    bool enlazada = true;
    PuenteAtajos::Resumen resumen{5, {"¿Precio?", "¿Horario?"}};

    Enlazado() {
        puente.preguntar = [this](QString) { return tarde(respuesta); };
        puente.enviarArchivo = [this](QString ruta, QString texto) -> QCoro::Task<std::optional<QString>> {
            QFile f(ruta);
            EXPECT_TRUE(f.open(QIODevice::ReadOnly));
            enviados << QFileInfo(ruta).fileName() + "|" + QString::fromUtf8(f.readAll()) + "|" + texto;
            rutasEnviadas << ruta;
            EXPECT_EQ(QFileInfo(QFileInfo(ruta).path()).permissions() & (QFile::ReadGroup | QFile::ReadOther), 0);
            return tarde(errorEnvio, 1);
        };
        puente.pendientes = [this] { return resumen; };
        puente.abrir = [this](QString r) { abiertos << r; };
        puente.enlazada = [this] { return enlazada; };
    }
};

const QString sinCuenta = QStringLiteral("Abre Zentu AI en este equipo y enlázalo con tu cuenta primero.");
const QString sinRespuesta = QStringLiteral("Zentu no contestó a tiempo. Mira el chat en un momento.");

TEST(PuenteAtajos, Resumen) {
    struct Caso {
        int total;
        QStringList dudas;
        QString texto;
    };
    for (const Caso& c : std::vector<Caso>{
             {0, {}, "No tienes nada pendiente. Todo al día."},
             {0, {"¿x?"}, "No tienes nada pendiente. Todo al día."},
             {1, {}, "Tienes 1 pendiente."},
             {1, {"¿Le doy descuento?", "otra"}, "Tienes 1 pendiente: ¿Le doy descuento?"},
             {5, {"a", "b"}, "Tienes 5 pendientes.\n1. a\n2. b"},
             {7, {"a", "b", "c", "d"}, "Tienes 7 pendientes.\n1. a\n2. b\n3. c"},
             {3, {}, "Tienes 3 pendientes."},
         })
        EXPECT_EQ(PuenteAtajos::resumen(c.total, c.dudas), c.texto) << c.total;
}

TEST(PuenteAtajos, SinEnlazarTodoFalla) {
    PuenteAtajos vacio;
    EXPECT_EQ(pruebas::esperar(vacio.preguntarAZentu("hola")).texto, sinCuenta);
    EXPECT_EQ(pruebas::esperar(vacio.llamarAZentu()).texto, sinCuenta);
    EXPECT_EQ(vacio.abrirChatDeZentu().texto, sinCuenta);
    EXPECT_EQ(vacio.verPendientesDeZentu().texto, sinCuenta);
    EXPECT_EQ(pruebas::esperar(vacio.enviarArchivoAZentu("/etc/hostname", "")).texto, sinCuenta);

    // After unpairing the closures stay filled: no reassurance, no pretended call.
    Enlazado e;
    e.enlazada = false;
    for (const ResultadoAtajo& r :
         {pruebas::esperar(e.puente.preguntarAZentu("hola")), pruebas::esperar(e.puente.llamarAZentu()), e.puente.abrirChatDeZentu(),
          e.puente.verPendientesDeZentu(), pruebas::esperar(e.puente.enviarArchivoAZentu("/etc/hostname", ""))}) {
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.texto, sinCuenta);
    }
    EXPECT_TRUE(e.abiertos.isEmpty());
    EXPECT_TRUE(e.enviados.isEmpty());
}

TEST(PuenteAtajos, Acciones) {
    Enlazado e;
    auto r = pruebas::esperar(e.puente.preguntarAZentu("¿Cuánto vendí?"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.texto, "Hoy vendiste 12 tacos.");
    for (std::optional<QString> vacia : {std::optional<QString>(), std::optional<QString>(QString())}) {
        e.respuesta = vacia;
        r = pruebas::esperar(e.puente.preguntarAZentu("¿?"));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.texto, sinRespuesta);
    }
    EXPECT_TRUE(pruebas::esperar(e.puente.llamarAZentu()).ok);
    EXPECT_TRUE(e.puente.abrirChatDeZentu().ok);
    EXPECT_EQ(e.abiertos, (QStringList{"llamada", "chat"}));
    r = e.puente.verPendientesDeZentu();
    EXPECT_EQ(r.valor, 5);
    EXPECT_EQ(r.texto, "Tienes 5 pendientes.\n1. ¿Precio?\n2. ¿Horario?");
    // Before the list has come from the service a total of 0 is no all-clear.
    e.resumen = {0, {}, false};
    r = e.puente.verPendientesDeZentu();
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.texto, "Zentu AI aún no sabe qué tienes pendiente. Vuelve a preguntar en un momento.");
}

TEST(PuenteAtajos, EnviarArchivo) {
    QTemporaryDir dir;
    const QString origen = dir.filePath("factura marzo.pdf");
    {
        QFile f(origen);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4 datos");
    }
    Enlazado e;
    auto r = pruebas::esperar(e.puente.enviarArchivoAZentu(origen, "la de marzo"));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.texto, "Listo, se lo mandé a Zentu.");
    EXPECT_EQ(e.enviados, QStringList{"factura marzo.pdf|%PDF-1.4 datos|la de marzo"});
    e.errorEnvio = QStringLiteral("El archivo pesa más de 45 MB.");
    r = pruebas::esperar(e.puente.enviarArchivoAZentu(origen, ""));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.texto, "No se pudo enviar: El archivo pesa más de 45 MB.");
    // The copies and their private folders are gone, sent or not; the original stays.
    for (const QString& ruta : e.rutasEnviadas) {
        EXPECT_FALSE(QFileInfo::exists(ruta));
        EXPECT_FALSE(QFileInfo::exists(QFileInfo(ruta).path()));
    }
    EXPECT_TRUE(QFileInfo::exists(origen));
    // A missing file is a clear failure and nothing is sent.
    e.enviados.clear();
    r = pruebas::esperar(e.puente.enviarArchivoAZentu(dir.filePath("no-existe"), ""));
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.texto.isEmpty());
    EXPECT_TRUE(e.enviados.isEmpty());
}

// A file the chat would refuse is refused before a byte of it is copied; an accepted one is
// copied away from the caller's thread, so the program keeps turning meanwhile.
TEST(PuenteAtajos, ArchivoGrandeNoSeCopia) {
    QTemporaryDir dir;
    const QString grande = dir.filePath("video.mp4");
    {
        QFile f(grande);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(ChatZentu::kLimiteBytes + 1));  // sparse: nothing is written
    }
    Enlazado e;
    auto r = pruebas::esperar(e.puente.enviarArchivoAZentu(grande, "mira"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.texto, "No se pudo enviar: El archivo pasa de 45 MB.");
    EXPECT_TRUE(e.enviados.isEmpty());

    const QString chico = dir.filePath("nota.txt");
    {
        QFile f(chico);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("hola");
    }
    auto tarea = e.puente.enviarArchivoAZentu(chico, "");
    EXPECT_TRUE(e.enviados.isEmpty());  // not copied and handed over within the call itself
    r = pruebas::esperar(std::move(tarea));
    EXPECT_TRUE(r.ok) << r.texto.toStdString();
    EXPECT_EQ(e.enviados, QStringList{"nota.txt|hola|"});
}

// An answer cannot tell which question it answers: while one question waits, another is refused
// at once and never reaches the chat.
TEST(PuenteAtajos, UnaPreguntaALaVez) {
    Enlazado e;
    QStringList preguntadas;
    e.puente.preguntar = [&](QString p) {
        preguntadas << p;
        return tarde(QStringLiteral("Respuesta a ") + p, 50);
    };
    auto primera = e.puente.preguntarAZentu("¿uno?");
    const ResultadoAtajo segunda = pruebas::esperar(e.puente.preguntarAZentu("¿dos?"));
    EXPECT_FALSE(segunda.ok);
    EXPECT_EQ(segunda.texto, "Zentu aún contesta otra pregunta. Vuelve a preguntar en un momento.");
    EXPECT_EQ(pruebas::esperar(std::move(primera)).texto, "Respuesta a ¿uno?");
    EXPECT_EQ(preguntadas, QStringList{"¿uno?"});
    // Once answered, the next question is taken.
    EXPECT_EQ(pruebas::esperar(e.puente.preguntarAZentu("¿tres?")).texto, "Respuesta a ¿tres?");
}

TEST(PuenteAtajos, NombreSeguro) {
    for (auto [ruta, nombre] : {std::pair{"/a/b/c.txt", "c.txt"}, std::pair{"", "archivo"}, std::pair{"/a/b/", "archivo"},
                                std::pair{"/a/..", "archivo"}, std::pair{".", "archivo"}, std::pair{"x", "x"}})
        EXPECT_EQ(PuenteAtajos::nombreSeguro(ruta), nombre) << ruta;
}

// The D-Bus interface and the switches that call it, on the tests' private session bus.
// At start, the copies that sends killed midway left behind go; a send still under way in another
// running process keeps its folder.
TEST(PuenteAtajos, LosRestosDeEnviosInterrumpidosSeBorranAlEmpezar) {
    QTemporaryDir tmp;
    QProcess terminado;
    terminado.start("true", {});
    ASSERT_TRUE(terminado.waitForFinished(10000));
    QProcess vivo;
    vivo.start("cat", {});  // runs until its input closes
    ASSERT_TRUE(vivo.waitForStarted(10000));
    const QString yo = QString::number(QCoreApplication::applicationPid());
    struct Caso {
        QString nombre;
        bool queda;
    };
    const std::vector<Caso> casos = {
        {"zentu-atajos-" + QString::number(terminado.processId()) + "-Ab12Cd", false},  // its program was killed
        {"zentu-atajos-" + yo + "-Zz99Yy", false},  // an earlier run under this same id
        {"zentu-atajos-Q1w2E3", false},             // named before the id was part of it
        {"zentu-atajos-" + QString::number(vivo.processId()) + "-Ef34Gh", true},  // still sending
        {"zentu-zona-otra", true},
    };
    for (const Caso& c : casos) {
        ASSERT_TRUE(QDir(tmp.path()).mkdir(c.nombre));
        QFile copia(tmp.filePath(c.nombre + "/factura.pdf"));
        ASSERT_TRUE(copia.open(QIODevice::WriteOnly));
        copia.write(QByteArray(4096, 'x'));
    }
    QFile suelto(tmp.filePath("zentu-atajos-suelto"));  // a file, not a send's folder
    ASSERT_TRUE(suelto.open(QIODevice::WriteOnly));
    suelto.close();

    EXPECT_EQ(PuenteAtajos::limpiarRestos(tmp.path()), 3);
    for (const Caso& c : casos) EXPECT_EQ(QFileInfo::exists(tmp.filePath(c.nombre)), c.queda) << c.nombre.toStdString();
    EXPECT_TRUE(QFileInfo::exists(suelto.fileName()));
    vivo.closeWriteChannel();
    ASSERT_TRUE(vivo.waitForFinished(10000));
}

TEST(ServicioAtajos, PorDBus) {
    auto bus = QDBusConnection::sessionBus();
    ASSERT_TRUE(bus.isConnected());
    const QString nombre = QStringLiteral("ai.zentu.voz.prueba%1").arg(QCoreApplication::applicationPid());
    ASSERT_TRUE(bus.registerService(nombre));
    Enlazado e;
    ServicioAtajos servicio(e.puente);
    ASSERT_TRUE(servicio.registrar(bus));
    // The client talks over a connection of its own, as another process would.
    auto cliente = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "cliente-atajos");

    struct Caso {
        QStringList args;
        int codigo;
        QString salida, error;
    };
    QTemporaryDir dir;
    const QString archivo = dir.filePath("nota.txt");
    QFile f(archivo);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("hola");
    f.close();
    const std::vector<Caso> casos = {
        {{"zentu", "--preguntar", "¿Cuánto vendí?"}, 0, "Hoy vendiste 12 tacos.\n", ""},
        {{"zentu", "--llamar"}, 0, "", ""},
        {{"zentu", "--abrir-chat"}, 0, "", ""},
        {{"zentu", "--pendientes"}, 0, "Tienes 5 pendientes.\n1. ¿Precio?\n2. ¿Horario?\n", ""},
        {{"zentu", "--enviar-archivo", archivo, "--mensaje", "ve esto"}, 0, "Listo, se lo mandé a Zentu.\n", ""},
        {{"zentu", "--preguntar"}, 2, "", "Falta la pregunta: --preguntar \"…\"\n"},
    };
    for (const Caso& c : casos) {
        QString salida, error;
        QTextStream s(&salida), er(&error);
        EXPECT_EQ(ClienteAtajos::ejecutar(c.args, s, er, cliente, nombre), c.codigo) << c.args.join(' ').toStdString();
        EXPECT_EQ(salida, c.salida) << c.args.join(' ').toStdString();
        EXPECT_EQ(error, c.error) << c.args.join(' ').toStdString();
    }
    EXPECT_EQ(e.abiertos, (QStringList{"llamada", "chat"}));
    EXPECT_EQ(e.enviados, QStringList{"nota.txt|hola|ve esto"});

    // A file whose name begins with ":", named from the folder it is in.
    {
        QFile dosPuntos(dir.path() + "/:precios.txt");
        ASSERT_TRUE(dosPuntos.open(QIODevice::WriteOnly));
        dosPuntos.write("tacos 25");
    }
    const QString antes = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    {
        QString salida, error;
        QTextStream s(&salida), er(&error);
        EXPECT_EQ(ClienteAtajos::ejecutar({"zentu", "--enviar-archivo", ":precios.txt"}, s, er, cliente, nombre), 0)
            << error.toStdString();
    }
    QDir::setCurrent(antes);
    EXPECT_EQ(e.enviados.value(1).toStdString(), ":precios.txt|tacos 25|");
    // Another caller of the interface must name the file by its absolute path: a relative name
    // (and a resource of the program's own) is refused, and nothing is sent.
    QString recurso;
    for (QDirIterator i(":", QDir::Files, QDirIterator::Subdirectories); i.hasNext() && recurso.isEmpty();)
        recurso = i.next();
    ASSERT_TRUE(recurso.startsWith(":/")) << recurso.toStdString();
    for (const QString& ruta : {recurso, QStringLiteral("nota.txt")}) {
        QDBusMessage pedido = QDBusMessage::createMethodCall(nombre, ServicioAtajos::camino(), ServicioAtajos::interfaz(),
                                                             QStringLiteral("EnviarArchivo"));
        pedido << ruta << QString();
        const QDBusMessage respuesta = cliente.call(pedido, QDBus::BlockWithGui);
        EXPECT_EQ(respuesta.errorName().toStdString(), ServicioAtajos::nombreError().toStdString()) << ruta.toStdString();
        EXPECT_EQ(respuesta.errorMessage().toStdString(), ("No se pudo leer " + ruta).toStdString());
    }
    EXPECT_EQ(e.enviados.size(), 2);

    // Failures come back as their texts, exit status 1.
    e.respuesta.reset();
    e.enlazada = true;
    {
        QString salida, error;
        QTextStream s(&salida), er(&error);
        EXPECT_EQ(ClienteAtajos::ejecutar({"zentu", "--preguntar", "¿?"}, s, er, cliente, nombre), 1);
        EXPECT_EQ(error, sinRespuesta + "\n");
    }
    // A call that could not start answers once it has failed, with its reason; one that connects
    // answers nothing.
    for (const std::optional<QString>& motivo :
         {std::optional<QString>("No te quedan créditos para hablar con Zentu."), std::optional<QString>()}) {
        e.puente.llamar = [motivo] { return tarde(motivo, 200); };
        QString salida, error;
        QTextStream s(&salida), er(&error);
        EXPECT_EQ(ClienteAtajos::ejecutar({"zentu", "--llamar"}, s, er, cliente, nombre), motivo ? 1 : 0);
        EXPECT_EQ(error, motivo ? *motivo + "\n" : QString());
        EXPECT_TRUE(salida.isEmpty());
    }
    e.enlazada = false;
    {
        QString salida, error;
        QTextStream s(&salida), er(&error);
        EXPECT_EQ(ClienteAtajos::ejecutar({"zentu", "--pendientes"}, s, er, cliente, nombre), 1);
        EXPECT_EQ(error, sinCuenta + "\n");
        EXPECT_TRUE(salida.isEmpty());
    }
    // Nobody running: the not-paired text.
    {
        QString salida, error;
        QTextStream s(&salida), er(&error);
        EXPECT_EQ(ClienteAtajos::ejecutar({"zentu", "--llamar"}, s, er, cliente, nombre + "nadie"), 1);
        EXPECT_EQ(error, sinCuenta + "\n");
    }
    // No automation switch: not ours.
    QString salida, error;
    QTextStream s(&salida), er(&error);
    EXPECT_EQ(ClienteAtajos::ejecutar({"zentu", "--sonar"}, s, er, cliente, nombre), std::nullopt);
    EXPECT_FALSE(ClienteAtajos::pide({"zentu", "zuzadari://chat"}));
    EXPECT_TRUE(ClienteAtajos::pide({"zentu", "--pendientes"}));
    bus.unregisterObject(ServicioAtajos::camino());
    bus.unregisterService(nombre);
}

}  // namespace
