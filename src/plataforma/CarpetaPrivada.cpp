#include "plataforma/CarpetaPrivada.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace CarpetaPrivada {

std::optional<QString> ruta(QString* motivo) {
    const auto fallar = [&](const QString& m) -> std::optional<QString> {
        if (motivo) *motivo = m;
        return std::nullopt;
    };
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString carpeta = (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
                                ? runtime + QStringLiteral("/zentu")
                                : QDir::tempPath() + QStringLiteral("/zentu-%1").arg(::getuid());
    const QByteArray c = QFile::encodeName(carpeta);
    if (::mkdir(c.constData(), 0700) != 0 && errno != EEXIST)
        return fallar(QStringLiteral("no se pudo crear %1: %2").arg(carpeta, QString::fromLocal8Bit(std::strerror(errno))));
    struct stat st {};
    if (::lstat(c.constData(), &st) != 0)
        return fallar(QStringLiteral("no se pudo leer %1").arg(carpeta));
    // Someone else's folder, or a link planted under our name, is never used.
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return fallar(QStringLiteral("%1 no es una carpeta propia").arg(carpeta));
    if ((st.st_mode & 0777) != 0700 && ::chmod(c.constData(), 0700) != 0)
        return fallar(QStringLiteral("no se pudo proteger %1").arg(carpeta));
    return carpeta;
}

}  // namespace CarpetaPrivada
