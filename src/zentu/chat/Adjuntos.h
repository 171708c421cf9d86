#pragma once

#include "zentu/chat/ChatZentu.h"

#include <QString>
#include <QUrl>
#include <functional>

class QObject;

// Opening an attachment the owner clicks: the file is fetched from the service (its address
// carries the token), written under its own name into the user's private attachments folder and
// handed to the desktop's default application. Launchers and scripts are shown in the file
// manager instead of being run. Main thread only; the download itself does not block.
namespace Adjuntos {

// "zentu-adjuntos" in the user's cache folder, mode 0700, made on demand; empty when it cannot
// be made or is not a plain folder of ours.
QString carpeta();

// The attachment's name as a file name that stays inside the folder: "/" becomes "-", control
// characters go, an empty name, "." or ".." becomes "Archivo", and a long one is shortened
// keeping its extension.
QString nombreSeguro(const QString& nombre);

// The file name for a download: the safe name, plus the extension of the reply's MIME type when
// the name has none and the type has a known one.
QString nombreArchivo(const QString& nombre, const QString& tipoMime);

// Whether the desktop would run the file rather than show it: desktop entries, shell and other
// scripts, executables.
bool esEjecutable(const QString& ruta);

// Fetches `url` into the folder. `listo` gets the file's path, or an empty text when the reply
// was not a complete 200 or the file could not be written; then an older file of that name is untouched
// and nothing partial is left. `listo` does not run once `contexto` is gone.
void bajar(const QUrl& url, const QString& nombre, QObject* contexto,
           std::function<void(QString)> listo);

// Downloads the attachment and opens it (or shows it in its folder when it is a launcher or a
// script). A failed download logs "[chat] no se pudo bajar el adjunto" and opens nothing.
void abrir(const ChatZentu::Adjunto& adjunto);

}  // namespace Adjuntos
