#include "plataforma/Escritorio.h"

#include <QAtomicPointer>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>

namespace {
QAtomicPointer<Escritorio> instalado;
}

bool Escritorio::abrirArchivo(const QString& ruta) {
    // The desktop's opener says nothing when no application takes the file: asked first.
    if (!aplicacionPara(ruta)) return false;
    // The desktop's opener itself, whatever Qt's window-system plugin offers (some open nothing).
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (xdgOpen.isEmpty()) return QDesktopServices::openUrl(QUrl::fromLocalFile(ruta));
    return QProcess::startDetached(xdgOpen, {ruta});
}

std::optional<QString> Escritorio::aplicacionPara(const QString& ruta) {
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty()) return std::nullopt;  // nor is there the opener that comes with it
    const QMimeType tipo = QMimeDatabase().mimeTypeForFile(ruta);
    if (!tipo.isValid() || tipo.name().isEmpty()) return std::nullopt;  // no type database: nothing to ask
    QStringList tipos{tipo.name()};
    tipos << tipo.allAncestors();
    // Quick as a rule, but the caller may be the main loop: the questions share one short
    // budget. An answer that did not come in time is "some application, unknown", so the
    // desktop's opener is still tried rather than the file reported as one nothing opens.
    const QDeadlineTimer plazo(3000);
    for (const QString& t : std::as_const(tipos)) {
        // Every file is also plain bytes; what takes bytes does not open a picture or a text.
        if (t == QLatin1String("application/octet-stream") && t != tipo.name()) continue;
        QProcess consulta;
        consulta.start(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), t});
        if (!consulta.waitForFinished(int(std::max<qint64>(1, plazo.remainingTime())))) {
            consulta.kill();
            consulta.waitForFinished(1000);
            return QString();
        }
        const QString entrada = QString::fromUtf8(consulta.readAllStandardOutput()).trimmed();
        if (consulta.exitStatus() == QProcess::NormalExit && consulta.exitCode() == 0 && !entrada.isEmpty())
            return entrada;
    }
    return std::nullopt;
}

bool Escritorio::abrirUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

bool Escritorio::mostrarEnCarpeta(const QString& ruta) {
    const QUrl carpeta = QUrl::fromLocalFile(QFileInfo(ruta).absolutePath());
    QDBusConnection sesion = QDBusConnection::sessionBus();
    if (!sesion.isConnected()) return QDesktopServices::openUrl(carpeta);
    QDBusMessage llamada = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    llamada << QStringList{QUrl::fromLocalFile(ruta).toString(QUrl::FullyEncoded)} << QString();
    // Asynchronous: a file manager that is slow to start must not stall the main thread.
    auto* espera = new QDBusPendingCallWatcher(sesion.asyncCall(llamada, 10000));
    QObject::connect(espera, &QDBusPendingCallWatcher::finished, espera, [carpeta](QDBusPendingCallWatcher* w) {
        if (w->isError()) QDesktopServices::openUrl(carpeta);
        w->deleteLater();
    });
    return true;
}

Escritorio& Escritorio::actual() {
    static Escritorio delSistema;
    Escritorio* otro = instalado.loadAcquire();
    return otro ? *otro : delSistema;
}

void Escritorio::usar(Escritorio* otro) { instalado.storeRelease(otro); }
