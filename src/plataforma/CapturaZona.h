#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The owner picks a rectangle of the screen and it is saved as a PNG file. On X11 an installed
// screenshot tool does it, the first found on PATH in a fixed order, started with an argument
// list (never through a shell); in a Wayland session the desktop portal's interactive screenshot
// alone.
namespace CapturaZona {

struct Herramienta {
    QString programa;  // the executable's full path
    QStringList argumentos;
    bool operator==(const Herramienta&) const = default;
};

// gnome-screenshot, spectacle, maim, scrot: the first on PATH, with its arguments for `archivo`.
std::optional<Herramienta> herramienta(const QString& archivo);

// Starts the selection; `alTerminar(escrita)` runs on the main thread once it is over (escrita:
// the file is there). False, and nothing runs later, when nothing could be started.
bool capturar(const QString& archivo, QObject* dueno, std::function<void(bool)> alTerminar);

}  // namespace CapturaZona
