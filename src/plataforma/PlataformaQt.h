#pragma once

#include <QByteArray>
#include <functional>
#include <optional>
#include <vector>

// Which of Qt's window-system platforms the two programs run on. Their windows keep themselves
// above or below the others and beside one another, and the pairing test reads the clipboard
// without a window of its own, through X11 window-manager hints and selections; a Wayland
// compositor grants none of that to its native clients. So in a Wayland session that offers
// XWayland both programs are X11 clients, unless the owner chose a platform in QT_QPA_PLATFORM.
namespace PlataformaQt {

// Reads one environment variable; an unset one reads as empty.
using Entorno = std::function<QByteArray(const char*)>;
QByteArray delProceso(const char* variable);

// The platform to ask Qt for: X11 first, native Wayland when the X server cannot be reached.
// None leaves Qt's own choice (the owner's QT_QPA_PLATFORM, or a session that is not Wayland).
std::optional<QByteArray> elegir(const Entorno& entorno = delProceso);

// Whether a window system can be reached at all (or the owner named a platform to use).
bool hayEscritorio(const Entorno& entorno = delProceso);

// The program's arguments with "-platform" and the chosen platform after the program's name,
// for the application object, which takes them out of its argument list again. The object must
// outlive the application object.
class Argumentos {
public:
    Argumentos(int argc, char** argv, const Entorno& entorno = delProceso);
    Argumentos(const Argumentos&) = delete;
    Argumentos& operator=(const Argumentos&) = delete;

    int& argc() { return argc_; }
    char** argv() { return punteros_.data(); }

private:
    std::vector<QByteArray> textos_;
    std::vector<char*> punteros_;
    int argc_ = 0;
};

}  // namespace PlataformaQt
