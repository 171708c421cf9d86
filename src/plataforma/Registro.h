#pragma once

#include <QString>
#include <functional>

// One line per event, with its bracketed area tag ("[canal] ..."), to standard error and to
// syslog (journald keeps it). Callers never pass secrets: the line is written as given.
namespace Registro {

void escribir(const QString& linea);

// Tests observe the exact lines through this hook; it sees every line after it is written.
// Pass an empty function to stop observing.
void observar(std::function<void(const QString&)> observador);

}  // namespace Registro
