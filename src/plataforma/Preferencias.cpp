#include "plataforma/Preferencias.h"

namespace Preferencias {

QSettings& almacen() {
    // IniFormat in the user scope resolves to $XDG_CONFIG_HOME/zentu/zentu.ini.
    static QSettings ajustes(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zentu"),
                             QStringLiteral("zentu"));
    return ajustes;
}

}  // namespace Preferencias
