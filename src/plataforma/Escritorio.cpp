#include "plataforma/Escritorio.h"

#include <QAtomicPointer>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>

namespace {
QAtomicPointer<Escritorio> instalado;
}

bool Escritorio::abrirArchivo(const QString& ruta) { return QDesktopServices::openUrl(QUrl::fromLocalFile(ruta)); }

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
