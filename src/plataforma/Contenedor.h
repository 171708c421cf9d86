#pragma once

#include <QString>
#include <optional>

// The folder that both executables share (the tray app writes, the widget host reads):
// $XDG_DATA_HOME/ai.zentu.voz, or ~/.local/share/ai.zentu.voz when XDG_DATA_HOME is unset or
// relative. Looked up anew on every call, so a changed environment takes effect at once.
namespace Contenedor {

inline constexpr const char* nombre = "ai.zentu.voz";

// None when neither an absolute XDG_DATA_HOME nor an absolute HOME is available.
std::optional<QString> carpeta();

}  // namespace Contenedor
