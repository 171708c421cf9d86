#pragma once

#include <QString>

// Parts of the program that need a large library (PDF pages, QR codes, echo cancellation) are
// built as modules of our own and opened on first use, so that the tray program does not carry
// those libraries and all they pull in while it idles. A module exports one function,
// `zentu_modulo`, that hands out its table of functions (see modulos/Tablas.h).
namespace Modulo {

// The table of lib<nombre>.so, found through the program's run path (the build's module folder,
// or lib/zentu beside the installed program). Opened once and kept for the life of the process;
// a failure is remembered too, and written to the log the first time. Null, with the reason in
// `error`, when the module is missing or is not one of ours. Safe on any thread.
const void* abrir(const char* nombre, QString* error);

template <typename Tabla>
const Tabla* abrir(const char* nombre, QString* error) {
    return static_cast<const Tabla*>(abrir(nombre, error));
}

}  // namespace Modulo
