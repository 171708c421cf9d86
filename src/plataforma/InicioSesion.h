#pragma once

#include <QString>
#include <optional>

// The login item: whether the desktop session starts the program when the owner logs in. On
// Linux this is an XDG autostart entry, $XDG_CONFIG_HOME/autostart/ai.zentu.voz.desktop (with
// ~/.config when the variable is unset or not absolute). Main thread only.
namespace InicioSesion {

// Status as integers so that log lines keep one stable number per state.
enum class Estado { noRegistrado = 0, activado = 1 };

// Active when our entry exists, is a desktop entry, and is neither hidden nor disabled.
Estado estado();
inline bool activado() { return estado() == Estado::activado; }

// Writes (atomically) an entry that starts `ejecutable` (empty: this program's own file).
// None means success; otherwise a Spanish message saying what failed.
std::optional<QString> registrar(const QString& ejecutable = {});
// Removes our entry; an entry that is not there is success.
std::optional<QString> quitar();

// Where the entry lives.
QString rutaEntrada();

}  // namespace InicioSesion
