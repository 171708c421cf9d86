#include "plataforma/AccesoCamara.h"

#include <QDir>
#include <QRegularExpression>
#include <unistd.h>

namespace AccesoCamara {

Estado estado(const QString& carpeta) {
    static const QRegularExpression nombre(QStringLiteral("^video[0-9]+$"));
    const QStringList entradas = QDir(carpeta).entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    bool hay = false;
    for (const QString& e : entradas) {
        if (!nombre.match(e).hasMatch()) continue;
        hay = true;
        if (::access(QFile::encodeName(carpeta + QLatin1Char('/') + e).constData(), R_OK | W_OK) == 0) {
            return Estado::permitido;
        }
    }
    return hay ? Estado::denegado : Estado::sinCamara;
}

}  // namespace AccesoCamara
