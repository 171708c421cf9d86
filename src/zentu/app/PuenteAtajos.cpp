#include "zentu/app/PuenteAtajos.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

QString textoFallo(FalloAtajo caso, const QString& detalle) {
    switch (caso) {
    case FalloAtajo::envio:
        return QStringLiteral("No se pudo enviar: ") + detalle;
    case FalloAtajo::sinCuenta:
        return QStringLiteral("Abre Zentu AI en este equipo y enlázalo con tu cuenta primero.");
    case FalloAtajo::sinRespuesta:
        return QStringLiteral("Zentu no contestó a tiempo. Mira el chat en un momento.");
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
    enlazada = nullptr;
}

bool PuenteAtajos::sinCuenta() const {
    return enlazada && !enlazada();
}

QCoro::Task<ResultadoAtajo> PuenteAtajos::preguntarAZentu(QString pregunta) {
    if (!preguntar || sinCuenta()) co_return ResultadoAtajo::fallo(FalloAtajo::sinCuenta);
    // Copy the closure: a new binding may replace it while the question waits.
    auto funcion = preguntar;
    const std::optional<QString> respuesta = co_await funcion(std::move(pregunta));
    if (!respuesta || respuesta->isEmpty()) co_return ResultadoAtajo::fallo(FalloAtajo::sinRespuesta);
    co_return ResultadoAtajo::exito(*respuesta);
}

ResultadoAtajo PuenteAtajos::llamarAZentu() {
    if (!abrir || !preguntar || sinCuenta()) return ResultadoAtajo::fallo(FalloAtajo::sinCuenta);
    abrir(QStringLiteral("llamada"));
    return ResultadoAtajo::exito({});
}

ResultadoAtajo PuenteAtajos::abrirChatDeZentu() {
    if (!abrir || !preguntar || sinCuenta()) return ResultadoAtajo::fallo(FalloAtajo::sinCuenta);
    abrir(QStringLiteral("chat"));
    return ResultadoAtajo::exito({});
}

ResultadoAtajo PuenteAtajos::verPendientesDeZentu() {
    if (!pendientes || sinCuenta()) return ResultadoAtajo::fallo(FalloAtajo::sinCuenta);
    const Resumen r = pendientes();
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

QCoro::Task<ResultadoAtajo> PuenteAtajos::enviarArchivoAZentu(QString ruta, QString mensaje) {
    if (!enviarArchivo || sinCuenta()) co_return ResultadoAtajo::fallo(FalloAtajo::sinCuenta);

    // A folder of its own (mode 0700), so no other user can swap the file while it is sent and
    // two sends of one name never meet.
    QTemporaryDir carpeta(QDir::tempPath() + QStringLiteral("/zentu-atajos-XXXXXX"));
    if (!carpeta.isValid()) co_return ResultadoAtajo{false, carpeta.errorString(), 0};
    // Joined by hand: filePath() refuses a name that begins with ":" (a resource's).
    const QString destino = carpeta.path() + QLatin1Char('/') + nombreSeguro(ruta);

    QFile origen(ruta);
    if (!QFileInfo(ruta).isFile()) co_return ResultadoAtajo{false, QStringLiteral("No se pudo leer ") + ruta, 0};
    if (!origen.copy(destino)) co_return ResultadoAtajo{false, origen.errorString(), 0};

    auto funcion = enviarArchivo;
    const std::optional<QString> error = co_await funcion(destino, std::move(mensaje));
    // The folder and its copy go with `carpeta`, sent or not.
    if (error) co_return ResultadoAtajo::fallo(FalloAtajo::envio, *error);
    co_return ResultadoAtajo::exito(QStringLiteral("Listo, se lo mandé a Zentu."));
}
