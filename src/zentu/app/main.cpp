// The zentu executable. Before the application object exists it settles what needs no window:
// the switches that only ask the running program, and a start where no display can be reached
// (a remote shell, cron), which can only hand its arguments to the program already running.
// Every other start goes to the application on the window-system platform chosen for it.
#include "zentu/app/App.h"
#include "zentu/app/Interruptores.h"
#include "zentu/app/Puertas.h"
#include "zentu/app/ServicioAtajos.h"

#include "plataforma/Contenedor.h"
#include "plataforma/InstanciaUnica.h"
#include "plataforma/PlataformaQt.h"
#include "plataforma/Traducciones.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QTextStream>

#include <unistd.h>
#include <vector>

namespace {

// Installed as the application object is made: only a program with windows shows Qt's texts.
void traducirQt() {
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) Traducciones::instalarQt();
}

QStringList argumentos(int argc, char** argv) {
    QStringList r;
    for (int i = 0; i < argc; ++i) r << QString::fromLocal8Bit(argv[i]);
    return r;
}

// The session bus of the desktop where the program runs, on a connection of its own that is
// closed once the question is answered. Without DBUS_SESSION_BUS_ADDRESS (cron sets none) the bus
// is found where the user's session manager keeps it.
const QString kConexion = QStringLiteral("zentu-cliente");

QDBusConnection busDeSesion() {
    // Qt's registry of types is made on first use and goes at exit in the reverse order: made
    // here, before the bus, it outlives the bus's thread, which still reads messages at exit.
    qRegisterMetaType<QDBusMessage>();
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConexion);
    if (bus.isConnected() || !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return bus;
    QDBusConnection::disconnectFromBus(kConexion);
    QStringList sitios;
    if (const QString propia = qEnvironmentVariable("XDG_RUNTIME_DIR"); !propia.isEmpty()) sitios << propia + "/bus";
    sitios << QStringLiteral("/run/user/%1/bus").arg(::getuid());
    for (const QString& sitio : sitios) {
        if (!QFileInfo::exists(sitio)) continue;
        QDBusConnection otro = QDBusConnection::connectToBus("unix:path=" + sitio, kConexion);
        if (otro.isConnected()) return otro;
        QDBusConnection::disconnectFromBus(kConexion);
    }
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, kConexion);
}

int preguntarAlPrograma(int argc, char** argv) {
    QCoreApplication aplicacion(argc, argv);
    QTextStream salida(stdout), error(stderr);
    const int estado =
        ClienteAtajos::ejecutar(QCoreApplication::arguments(), salida, error, busDeSesion()).value_or(2);
    QDBusConnection::disconnectFromBus(kConexion);
    return estado;
}

int entregarSinEscritorio(int argc, char** argv) {
    QCoreApplication aplicacion(argc, argv);
    const QStringList preparados = Puertas::preparar(QCoreApplication::arguments(), [] {
        QFile entrada;
        if (!entrada.open(stdin, QIODevice::ReadOnly)) return QString();
        return QString::fromUtf8(entrada.readAll());
    });
    bool entregado = false;
    {
        InstanciaUnica instancia(QString::fromLatin1(Contenedor::nombre), busDeSesion());
        entregado = instancia.entregar(preparados.mid(1));
    }
    QDBusConnection::disconnectFromBus(kConexion);
    if (entregado) return 0;
    QTextStream error(stderr);
    error << "Zentu AI no está abierto en esta sesión, y sin pantalla (DISPLAY o WAYLAND_DISPLAY) no puede "
             "abrirse aquí.\n";
    return 1;
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(traducirQt)

int main(int argc, char** argv) {
    // Started by the widget host (its link went through the desktop's opener): the program is told
    // with an argument of its own, which also travels to a program already running. The variable
    // goes no further than this process.
    std::vector<char*> conMarca;
    const bool desdeWidget = qEnvironmentVariableIsSet("ZENTU_DESDE_WIDGET");
    qunsetenv("ZENTU_DESDE_WIDGET");
    bool conEnlace = false;
    for (int i = 1; i < argc; ++i) conEnlace = conEnlace || QByteArray(argv[i]).toLower().startsWith("zuzadari:");
    if (desdeWidget && conEnlace) {
        conMarca.assign(argv, argv + argc);
        conMarca.push_back(const_cast<char*>(Puertas::kDesdeWidget));
        conMarca.push_back(nullptr);
        argc += 1;
        argv = conMarca.data();
    }
    const QStringList lista = argumentos(argc, argv);
    // The modes that run instead of the program decide first, as they always have.
    if (Interruptores::elegir(lista).previo == Interruptores::Previo::ninguno) {
        if (ClienteAtajos::pide(lista)) return preguntarAlPrograma(argc, argv);
        if (!PlataformaQt::hayEscritorio()) return entregarSinEscritorio(argc, argv);
    }
    PlataformaQt::Argumentos conPlataforma(argc, argv);
    return App::main(conPlataforma.argc(), conPlataforma.argv());
}
