#pragma once

#include <QtGlobal>
#include <functional>

// Key combinations taken for the whole desktop: they reach the program whichever window is in
// front. Keys and modifiers are in the stored vocabulary of Teclado.h.
class TeclasGlobales {
public:
    // The desktop's answer when another program already holds the combination (X's BadAccess).
    static constexpr int ocupada = 10;

    virtual ~TeclasGlobales() = default;

    // Takes the combination under `id` (dropping whatever `id` held before). 0 when it is ours;
    // otherwise the desktop's refusal code, and `id` then holds nothing.
    virtual int registrar(quint32 id, quint32 tecla, quint32 modificadores) = 0;
    // Gives back what `id` holds, if anything.
    virtual void quitar(quint32 id) = 0;

    // Each press and each release of a held combination, on the main thread: one press and one
    // release however long the key stays down.
    std::function<void(quint32 id, bool soltada)> alEvento;

    // The desktop's own (X11, on the root window, with a connection of its own).
    static TeclasGlobales& sistema();

    // Whether this is a Wayland session, where the compositor delivers no global keys to ordinary
    // programs (only what happens over X11 windows reaches them). Logged once.
    static bool sesionWayland();
};
