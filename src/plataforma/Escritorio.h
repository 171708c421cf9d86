#pragma once

#include <QString>
#include <optional>
#include <QUrl>

// The desktop's "open this" and "show this in its folder". Calls go to the desktop session (the
// default application of a file type, the browser, the file manager); they must be made on the
// main thread. Tests replace the implementation with `usar` so that no application is launched.
class Escritorio {
public:
    virtual ~Escritorio() = default;

    // Opens a local file with the application the desktop associates with its type. False when
    // no application opens files of that type: then nothing is started.
    virtual bool abrirArchivo(const QString& ruta);
    // The desktop entry that opens this file as the desktop's opener chooses it (the default
    // application of its type, or of a type it derives from), by its file name; none when no
    // application opens it; an empty name when xdg-mime did not answer within its few seconds
    // (some application may). It asks xdg-mime, so it takes a moment; any thread may call it.
    virtual std::optional<QString> aplicacionPara(const QString& ruta);
    // Opens an address with the desktop's handler of its scheme (the browser for http/https).
    virtual bool abrirUrl(const QUrl& url);
    // Shows the file selected in a file-manager window (org.freedesktop.FileManager1.ShowItems);
    // when no file manager offers that, opens the folder that holds it.
    virtual bool mostrarEnCarpeta(const QString& ruta);

    static Escritorio& actual();
    // Installs another implementation (not owned); nullptr goes back to the desktop's.
    static void usar(Escritorio* otro);
};
