#include "zentu/app/PuenteAtajos.h"

#include "zentu/chat/ChatZentu.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <coroutine>
#include <memory>
#include <thread>
#include <cerrno>
#include <csignal>
#include <limits>
#include <unistd.h>

QString textoFallo(FalloAtajo caso, const QString& detalle) {
    switch (caso) {
    case FalloAtajo::envio:
        return QStringLiteral("No se pudo enviar: ") + detalle;
    case FalloAtajo::sinCuenta:
        return QStringLiteral("Abre Zentu AI en este equipo y enlázalo con tu cuenta primero.");
    case FalloAtajo::sinRespuesta:
        return QStringLiteral("Zentu no contestó a tiempo. Mira el chat en un momento.");
    case FalloAtajo::ocupado:
        return QStringLiteral("Zentu aún contesta otra pregunta. Vuelve a preguntar en un momento.");
    case FalloAtajo::cerrado:
        return QStringLiteral("Zentu AI se cerró antes de terminar. Ábrelo de nuevo y mira el chat.");
    case FalloAtajo::sinSaberAun:
        return QStringLiteral("Zentu AI aún no sabe qué tienes pendiente. Vuelve a preguntar en un momento.");
    }
    return {};
}

ResultadoAtajo ResultadoAtajo::fallo(FalloAtajo caso, const QString& detalle) {
    return {false, textoFallo(caso, detalle), 0};
}

PuenteAtajos& PuenteAtajos::compartido() {
    static PuenteAtajos puente;
    return puente;
}

void PuenteAtajos::vaciar() {
    preguntar = nullptr;
    enviarArchivo = nullptr;
    pendientes = nullptr;
    abrir = nullptr;
    llamar = nullptr;
    enlazada = nullptr;
}

bool PuenteAtajos::sinCuenta() const {
    return enlazada && !enlazada();
}

QCoro::Task<ResultadoAtajo> PuenteAtajos::preguntarAZentu(QString pregunta) {
    if (!preguntar || sinCuenta()) co_return ResultadoAtajo::fallo(FalloAtajo::sinCuenta);
    if (preguntando_) co_return ResultadoAtajo::fallo(FalloAtajo::ocupado);
    preguntando_ = true;
    // The bridge lives as long as the process; the flag drops however the wait ends.
    const auto libre = qScopeGuard([this] { preguntando_ = false; });
    // Copy the closure: a new binding may replace it while the question waits.
    auto funcion = preguntar;
    const std::optional<QString> respuesta = co_await funcion(std::move(pregunta));
    if (!respuesta || respuesta->isEmpty()) co_return ResultadoAtajo::fallo(FalloAtajo::sinRespuesta);
    co_return ResultadoAtajo::exito(*respuesta);
}

QCoro::Task<ResultadoAtajo> PuenteAtajos::llamarAZentu() {
    if (!abrir || !preguntar || sinCuenta()) co_return ResultadoAtajo::fallo(FalloAtajo::sinCuenta);
    if (!llamar) {
        abrir(QStringLiteral("llamada"));
        co_return ResultadoAtajo::exito({});
    }
    auto funcion = llamar;
    const std::optional<QString> error = co_await funcion();
    if (error) co_return ResultadoAtajo{false, *error, 0};
    co_return ResultadoAtajo::exito({});
}

ResultadoAtajo PuenteAtajos::abrirChatDeZentu() {
    if (!abrir || !preguntar || sinCuenta()) return ResultadoAtajo::fallo(FalloAtajo::sinCuenta);
    abrir(QStringLiteral("chat"));
    return ResultadoAtajo::exito({});
}

ResultadoAtajo PuenteAtajos::verPendientesDeZentu() {
    if (!pendientes || sinCuenta()) return ResultadoAtajo::fallo(FalloAtajo::sinCuenta);
    const Resumen r = pendientes();
    if (!r.conocido) return ResultadoAtajo::fallo(FalloAtajo::sinSaberAun);
    return ResultadoAtajo::exito(resumen(r.total, r.dudas), r.total);
}

QString PuenteAtajos::resumen(int total, const QStringList& dudas) {
    if (total == 0) return QStringLiteral("No tienes nada pendiente. Todo al día.");
    if (total == 1)
        return QStringLiteral("Tienes 1 pendiente") + (dudas.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + dudas.first());
    QString texto = QStringLiteral("Tienes ") + QString::number(total) + QStringLiteral(" pendientes.");
    for (int i = 0; i < dudas.size() && i < 3; ++i)
        texto += QStringLiteral("\n") + QString::number(i + 1) + QStringLiteral(". ") + dudas.at(i);
    return texto;
}

QString PuenteAtajos::nombreSeguro(const QString& ruta) {
    const QString nombre = QFileInfo(ruta).fileName();
    if (nombre.isEmpty() || nombre == QLatin1String(".") || nombre == QLatin1String("..")) return QStringLiteral("archivo");
    return nombre;
}

namespace {

// Another process runs under that id now (maybe still sending; an id taken over by some other
// program only delays the removal until it ends).
bool otroVivo(qint64 pid) {
    if (pid <= 0 || pid > std::numeric_limits<pid_t>::max() || pid == QCoreApplication::applicationPid()) return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

int PuenteAtajos::limpiarRestos(const QString& carpeta) {
    int quitadas = 0;
    const QFileInfoList restos = QDir(carpeta).entryInfoList({prefijoCarpeta() + QLatin1Char('*')},
                                                             QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo& r : restos) {
        if (r.ownerId() != ::getuid()) continue;
        // "zentu-atajos-<pid>-XXXXXX"; older ones carry no id, and no program still sends them.
        const QString resto = r.fileName().mid(prefijoCarpeta().size());
        bool numero = false;
        const qint64 pid = resto.section(QLatin1Char('-'), 0, 0).toLongLong(&numero);
        if (resto.contains(QLatin1Char('-')) && numero && otroVivo(pid)) continue;
        if (QDir(r.absoluteFilePath()).removeRecursively()) ++quitadas;
    }
    return quitadas;
}

namespace {

enum class Copia { hecha, grande, fallida };

// Copies at most `tope` bytes of `origen` to `destino`; a file that turns out longer (it grew
// since it was measured) is not copied further and comes back as `grande`.
Copia copiar(const QString& origen, const QString& destino, qint64 tope, QString& error) {
    QFile de(origen), a(destino);
    if (!de.open(QIODevice::ReadOnly)) {
        error = de.errorString();
        return Copia::fallida;
    }
    if (!a.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error = a.errorString();
        return Copia::fallida;
    }
    QByteArray bloque(1 << 20, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 n = de.read(bloque.data(), bloque.size());
        if (n < 0) {
            error = de.errorString();
            return Copia::fallida;
        }
        if (n == 0) break;
        total += n;
        if (total > tope) return Copia::grande;
        if (a.write(bloque.constData(), n) != n) {
            error = a.errorString();
            return Copia::fallida;
        }
    }
    if (!a.flush()) {
        error = a.errorString();
        return Copia::fallida;
    }
    return Copia::hecha;
}

// Runs `copiar` on a thread of its own (a file of tens of megabytes would stall the program) and
// resumes the waiting coroutine on the main thread.
struct CopiaAparte {
    QString origen, destino;
    qint64 tope;
    struct Fin {
        Copia copia = Copia::fallida;
        QString error;
    };
    std::shared_ptr<Fin> fin = std::make_shared<Fin>();

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) {
        std::thread([origen = origen, destino = destino, tope = tope, fin = fin, h] {
            fin->copia = copiar(origen, destino, tope, fin->error);
            QMetaObject::invokeMethod(QCoreApplication::instance(), [h] { h.resume(); }, Qt::QueuedConnection);
        }).detach();
    }
    Fin await_resume() { return std::move(*fin); }
};

}  // namespace

QCoro::Task<ResultadoAtajo> PuenteAtajos::enviarArchivoAZentu(QString ruta, QString mensaje) {
    if (!enviarArchivo || sinCuenta()) co_return ResultadoAtajo::fallo(FalloAtajo::sinCuenta);

    // What the chat would refuse is refused here, before a byte is copied.
    const QFileInfo info(ruta);
    if (!info.isFile() || !info.isReadable()) co_return ResultadoAtajo{false, QStringLiteral("No se pudo leer ") + ruta, 0};
    if (info.size() > ChatZentu::kLimiteBytes) co_return ResultadoAtajo::fallo(FalloAtajo::envio, ChatZentu::kArchivoGrande);

    // A folder of its own (mode 0700), so no other user can swap the file while it is sent and
    // two sends of one name never meet.
    // Named with the process id, so that the next start knows which ones nobody is sending.
    QTemporaryDir carpeta(QDir::tempPath() + QLatin1Char('/') + prefijoCarpeta() +
                          QString::number(QCoreApplication::applicationPid()) + QStringLiteral("-XXXXXX"));
    if (!carpeta.isValid()) co_return ResultadoAtajo{false, carpeta.errorString(), 0};
    // Joined by hand: filePath() refuses a name that begins with ":" (a resource's).
    const QString destino = carpeta.path() + QLatin1Char('/') + nombreSeguro(ruta);

    CopiaAparte copia{ruta, destino, ChatZentu::kLimiteBytes};
    const CopiaAparte::Fin hecha = co_await copia;
    if (hecha.copia == Copia::grande) co_return ResultadoAtajo::fallo(FalloAtajo::envio, ChatZentu::kArchivoGrande);
    if (hecha.copia == Copia::fallida) co_return ResultadoAtajo{false, hecha.error, 0};

    auto funcion = enviarArchivo;
    const std::optional<QString> error = co_await funcion(destino, std::move(mensaje));
    // The folder and its copy go with `carpeta`, sent or not.
    if (error) co_return ResultadoAtajo::fallo(FalloAtajo::envio, *error);
    co_return ResultadoAtajo::exito(QStringLiteral("Listo, se lo mandé a Zentu."));
}
