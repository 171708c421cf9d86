#include "plataforma/Preferencias.h"

namespace Preferencias {

QSettings& almacen() {
    // IniFormat in the user scope resolves to $XDG_CONFIG_HOME/zentu/zentu.ini.
    static QSettings ajustes(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zentu"),
                             QStringLiteral("zentu"));
    return ajustes;
}

bool booleano(const QString& clave, bool ausente) {
    const QVariant v = almacen().value(clave);
    if (v.typeId() == QMetaType::Bool) return v.toBool();
    if (v.typeId() == QMetaType::QString) {
        if (v.toString() == QLatin1String("true")) return true;
        if (v.toString() == QLatin1String("false")) return false;
    }
    return ausente;
}

}  // namespace Preferencias
