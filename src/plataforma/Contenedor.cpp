#include "plataforma/Contenedor.h"

#include <QDir>

namespace Contenedor {

std::optional<QString> carpeta() {
    // The XDG rules: a relative XDG_DATA_HOME is ignored, as if it were unset.
    const QString datos = qEnvironmentVariable("XDG_DATA_HOME");
    if (!datos.isEmpty() && QDir::isAbsolutePath(datos))
        return QDir::cleanPath(datos + QLatin1Char('/') + QLatin1String(nombre));
    const QString casa = qEnvironmentVariable("HOME");
    if (!casa.isEmpty() && QDir::isAbsolutePath(casa))
        return QDir::cleanPath(casa + QStringLiteral("/.local/share/") + QLatin1String(nombre));
    return std::nullopt;
}

}  // namespace Contenedor
