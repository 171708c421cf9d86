#pragma once

#include <QSettings>

// The owner's preferences: flat "zentu.*" keys in ~/.config/zentu/zentu.ini. Every component
// reads and writes through this one store, on the main thread.
namespace Preferencias {

QSettings& almacen();

// A stored switch: a Boolean, or the word "true" or "false" the settings file keeps it as.
// Anything else (absent, "0", a number, another word) is `ausente`.
bool booleano(const QString& clave, bool ausente);

}  // namespace Preferencias
