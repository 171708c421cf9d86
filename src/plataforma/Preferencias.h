#pragma once

#include <QSettings>

// The owner's preferences: flat "zentu.*" keys in ~/.config/zentu/zentu.ini. Every component
// reads and writes through this one store, on the main thread.
namespace Preferencias {

QSettings& almacen();

}  // namespace Preferencias
