#pragma once

#include <functional>

// SIGTERM and SIGINT as an ordinary event of the main loop: the handler runs there, never
// inside the signal.
namespace Senales {

// Installs `alTerminar` for both signals (replacing an earlier one). Main thread only.
void alTerminar(std::function<void()> accion);

}  // namespace Senales
