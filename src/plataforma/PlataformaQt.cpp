#include "plataforma/PlataformaQt.h"

namespace PlataformaQt {

QByteArray delProceso(const char* variable) { return qgetenv(variable); }

std::optional<QByteArray> elegir(const Entorno& entorno) {
    if (!entorno("QT_QPA_PLATFORM").isEmpty()) return std::nullopt;
    const bool wayland = !entorno("WAYLAND_DISPLAY").isEmpty() || entorno("XDG_SESSION_TYPE") == "wayland";
    // Without DISPLAY the session offers no XWayland: Qt's own choice is the only one left.
    if (!wayland || entorno("DISPLAY").isEmpty()) return std::nullopt;
    return QByteArrayLiteral("xcb;wayland");
}

bool hayEscritorio(const Entorno& entorno) {
    return !entorno("DISPLAY").isEmpty() || !entorno("WAYLAND_DISPLAY").isEmpty() ||
           !entorno("QT_QPA_PLATFORM").isEmpty();
}

Argumentos::Argumentos(int argc, char** argv, const Entorno& entorno) {
    for (int i = 0; i < argc; ++i) {
        textos_.emplace_back(argv[i]);
        if (i == 0) {
            if (const auto plataforma = elegir(entorno)) {
                textos_.emplace_back("-platform");
                textos_.push_back(*plataforma);
            }
        }
    }
    for (QByteArray& t : textos_) punteros_.push_back(t.data());
    argc_ = static_cast<int>(punteros_.size());
    punteros_.push_back(nullptr);
}

}  // namespace PlataformaQt
