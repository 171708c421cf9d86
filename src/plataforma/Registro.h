#pragma once

#include <QString>
#include <functional>

// One line per event, with its bracketed area tag ("[canal] ..."), to standard error and to
// syslog (journald keeps it). Callers never pass secrets. Whatever the text holds, it is written
// as one line: control characters and line separators become visible escapes ("\n", "\x1B").
// A line longer than `kLargoMaximo` characters (a huge value from the service or the owner) keeps
// its beginning and its end, where the fixed texts stand, and says how much of the middle went:
// "… [31457000 caracteres omitidos] …".
namespace Registro {

inline constexpr int kLargoMaximo = 2000;
inline constexpr int kCabeza = 1500;  // characters kept before the cut
inline constexpr int kCola = 300;     // and after it

// The line as written: cut, then on one line.
QString preparar(const QString& linea);

void escribir(const QString& linea);

// Tests observe the exact lines through this hook; it sees every line as written.
// Pass an empty function to stop observing.
void observar(std::function<void(const QString&)> observador);

}  // namespace Registro
