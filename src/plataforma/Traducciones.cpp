#include "plataforma/Traducciones.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

namespace {

// Qt names the modifiers of the keys it shows (a text field's menu, a menu item's key) in words of
// its own catalogue ("Control+Mayúsculas+Z"); the program writes them as a PC keyboard prints them
// ("Ctrl+Mayús+Z"), and so must Qt. Asked before the catalogue, it answers only these.
class NombresDeTeclas : public QTranslator {
public:
    using QTranslator::QTranslator;
    QString translate(const char* contexto, const char* texto, const char*, int) const override {
        if (qstrcmp(contexto, "QShortcut") != 0) return {};
        if (qstrcmp(texto, "Ctrl") == 0) return QStringLiteral("Ctrl");
        if (qstrcmp(texto, "Alt") == 0) return QStringLiteral("Alt");
        if (qstrcmp(texto, "Shift") == 0) return QStringLiteral("Mayús");
        if (qstrcmp(texto, "Meta") == 0) return QStringLiteral("Super");
        return {};
    }
    bool isEmpty() const override { return false; }
};

}  // namespace

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
    // The last installed is asked first.
    QCoreApplication::installTranslator(new NombresDeTeclas(app));
    return true;
}

}  // namespace Traducciones
