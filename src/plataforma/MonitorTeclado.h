#pragma once

#include <QtGlobal>
#include <functional>

// Watches the whole keyboard, whichever program is in front, for what the hold-to-talk chord
// needs: which modifiers are held, and when any other key goes down.
class MonitorTeclado {
public:
    virtual ~MonitorTeclado() = default;

    // Starts listening; false when the keyboard cannot be watched at all (no X server, no
    // XInput 2), in which case nothing is reported.
    virtual bool encender() = 0;
    virtual void apagar() = 0;

    // After a modifier key (including caps lock and the like) goes down or up: the control,
    // option, shift and command bits (Teclado.h) held now.
    std::function<void(quint32 modificadores)> alCambiarModificadores;
    // A key that is not a modifier went down.
    std::function<void()> alPulsarTecla;

    // The desktop's own: raw key events of XInput 2 on an X connection of its own.
    static MonitorTeclado& sistema();
};
