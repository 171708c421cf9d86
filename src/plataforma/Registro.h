#pragma once

#include <QString>
#include <functional>

// One line per event, with its bracketed area tag ("[canal] ..."), to standard error and to
// syslog (journald keeps it). Callers never pass secrets. Whatever the text holds, it is written
// as one line: control characters and line separators become visible escapes ("\n", "\x1B").
namespace Registro {

void escribir(const QString& linea);

// Tests observe the exact lines through this hook; it sees every line as written.
// Pass an empty function to stop observing.
void observar(std::function<void(const QString&)> observador);

}  // namespace Registro
