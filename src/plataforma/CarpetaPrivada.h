#pragma once

#include <QString>
#include <optional>

// The program's private folder for temporary files (recordings, screenshots): mode 0700, owned
// by this user, never a symbolic link. Under $XDG_RUNTIME_DIR when the session has one, else a
// per-user folder in the system temporary folder.
namespace CarpetaPrivada {

// Created when missing; none (with the reason in `motivo`) when no safe folder can be had.
std::optional<QString> ruta(QString* motivo = nullptr);

}  // namespace CarpetaPrivada
