#include "plataforma/Traducciones.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

namespace Traducciones {

bool instalarQt() {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return false;
    // Dies with the application object that owns it.
    static QPointer<QTranslator> instalado;
    if (instalado) return true;
    auto* traductor = new QTranslator(app);
    if (!traductor->load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(traductor)) {
        delete traductor;
        return false;
    }
    instalado = traductor;
    return true;
}

}  // namespace Traducciones
