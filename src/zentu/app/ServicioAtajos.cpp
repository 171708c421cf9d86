#include "zentu/app/ServicioAtajos.h"
#include "zentu/app/Puertas.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QPointer>

namespace {

// Runs an action that waits and sends its answer when it has one.
QCoro::Task<void> contestarLuego(QCoro::Task<ResultadoAtajo> tarea, QDBusConnection conexion, QDBusMessage pedido) {
    const ResultadoAtajo r = co_await std::move(tarea);
    conexion.send(r.ok ? pedido.createReply(r.texto)
                       : pedido.createErrorReply(ServicioAtajos::nombreError(), r.texto));
}

}  // namespace

ServicioAtajos::ServicioAtajos(PuenteAtajos& puente, QObject* padre) : QObject(padre), puente_(puente) {}

bool ServicioAtajos::registrar(QDBusConnection conexion) {
    return conexion.registerObject(camino(), this, QDBusConnection::ExportAllSlots);
}

QString ServicioAtajos::responder(const ResultadoAtajo& r) {
    if (!r.ok && calledFromDBus()) sendErrorReply(nombreError(), r.texto);
    return r.texto;
}

QString ServicioAtajos::Preguntar(const QString& pregunta) {
    setDelayedReply(true);
    contestarLuego(puente_.preguntarAZentu(pregunta), connection(), message());
    return {};
}

QString ServicioAtajos::Llamar() {
    setDelayedReply(true);
    contestarLuego(puente_.llamarAZentu(), connection(), message());
    return {};
}

QString ServicioAtajos::AbrirChat() {
    return responder(puente_.abrirChatDeZentu());
}

QString ServicioAtajos::VerPendientes(int& total) {
    const ResultadoAtajo r = puente_.verPendientesDeZentu();
    total = r.valor;
    return responder(r);
}

QString ServicioAtajos::EnviarArchivo(const QString& ruta, const QString& mensaje) {
    // Only the caller knows its working folder; and Qt would read a name that begins with ":"
    // from the program's own resources.
    if (!ruta.startsWith(QLatin1Char('/')))
        return responder(ResultadoAtajo{false, QStringLiteral("No se pudo leer ") + ruta, 0});
    setDelayedReply(true);
    contestarLuego(puente_.enviarArchivoAZentu(ruta, mensaje), connection(), message());
    return {};
}

namespace ClienteAtajos {

namespace {

const QStringList interruptores = {QStringLiteral("--preguntar"), QStringLiteral("--llamar"),
                                   QStringLiteral("--abrir-chat"), QStringLiteral("--pendientes"),
                                   QStringLiteral("--enviar-archivo")};

// An answer to a question may take 90 s; a file up to 180 s to go out.
constexpr int esperaPregunta = 95 * 1000;
constexpr int esperaArchivo = 200 * 1000;
// A call answers once it is connected or has failed; its own wait ends after 30 s.
constexpr int esperaLlamada = 40 * 1000;
constexpr int esperaCorta = 10 * 1000;

QString valorTras(const QStringList& a, const QString& nombre) {
    const qsizetype i = a.indexOf(nombre);
    return i >= 0 && i + 1 < a.size() ? a.at(i + 1) : QString();
}

}  // namespace

bool pide(const QStringList& argumentos) {
    for (const QString& s : interruptores)
        if (argumentos.contains(s)) return true;
    return false;
}

std::optional<int> ejecutar(const QStringList& a, QTextStream& salida, QTextStream& error, QDBusConnection conexion,
                            const QString& servicio) {
    QString metodo;
    QVariantList args;
    int espera = esperaCorta;
    if (a.contains(QStringLiteral("--preguntar"))) {
        metodo = QStringLiteral("Preguntar");
        const QString pregunta = valorTras(a, QStringLiteral("--preguntar"));
        if (pregunta.trimmed().isEmpty()) {
            error << "Falta la pregunta: --preguntar \"…\"\n";
            error.flush();
            return 2;
        }
        args << pregunta;
        espera = esperaPregunta;
    } else if (a.contains(QStringLiteral("--llamar"))) {
        metodo = QStringLiteral("Llamar");
        espera = esperaLlamada;
    } else if (a.contains(QStringLiteral("--abrir-chat"))) {
        metodo = QStringLiteral("AbrirChat");
    } else if (a.contains(QStringLiteral("--pendientes"))) {
        metodo = QStringLiteral("VerPendientes");
    } else if (a.contains(QStringLiteral("--enviar-archivo"))) {
        metodo = QStringLiteral("EnviarArchivo");
        const QString ruta = valorTras(a, QStringLiteral("--enviar-archivo"));
        if (ruta.isEmpty()) {
            error << "Falta el archivo: --enviar-archivo RUTA\n";
            error.flush();
            return 2;
        }
        // The running program has another working folder.
        args << Puertas::absoluta(ruta, QDir::currentPath()) << valorTras(a, QStringLiteral("--mensaje"));
        espera = esperaArchivo;
    } else {
        return std::nullopt;
    }

    if (!conexion.isConnected()) {
        // Nothing to ask: the running program is only reachable over the session bus.
        error << "No se encontró el bus de sesión de D-Bus donde corre Zentu AI "
                 "(DBUS_SESSION_BUS_ADDRESS).\n";
        error.flush();
        return 1;
    }
    // Who answers now: a program that goes away (killed) before answering is not a slow one.
    const QString dueno = conexion.interface() ? conexion.interface()->serviceOwner(servicio).value() : QString();
    QDBusMessage pedido = QDBusMessage::createMethodCall(servicio, ServicioAtajos::camino(), ServicioAtajos::interfaz(), metodo);
    pedido.setArguments(args);
    const QDBusMessage respuesta = conexion.call(pedido, QDBus::BlockWithGui, espera);
    if (respuesta.type() == QDBusMessage::ReplyMessage) {
        const QString texto = respuesta.arguments().value(0).toString();
        if (!texto.isEmpty()) salida << texto << "\n";
        salida.flush();
        return 0;
    }
    if (respuesta.errorName() == ServicioAtajos::nombreError()) {
        error << respuesta.errorMessage() << "\n";
    } else if (respuesta.errorName() == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
               respuesta.errorName() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
        // The program is not running: nothing is paired that could answer.
        error << textoFallo(FalloAtajo::sinCuenta) << "\n";
    } else if (respuesta.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply") ||
               respuesta.errorName() == QLatin1String("org.freedesktop.DBus.Error.Timeout")) {
        const bool sigue = !dueno.isEmpty() && conexion.interface() &&
                           conexion.interface()->serviceOwner(servicio).value() == dueno;
        error << (sigue ? textoFallo(FalloAtajo::sinRespuesta) : textoFallo(FalloAtajo::cerrado)) << "\n";
    } else {
        error << respuesta.errorMessage() << "\n";
    }
    error.flush();
    return 1;
}

}  // namespace ClienteAtajos
