#pragma once

#include <QString>
#include <QCoroTask>
#include <array>
#include <optional>

// The three privacy permissions the program needs: the microphone (voice notes, conversation,
// calls), screen capture (the screenshot for the agent, zone captures) and global keys (the
// hold-to-talk chord). Asks for one or opens the desktop's settings for it, probes whether screen
// capture really works, and relaunches the program. Whether a permission is missing is the
// callers' business.
class Permiso {
public:
    enum Caso { microfono, pantalla, accesibilidad };

    constexpr Permiso(Caso caso) : caso_(caso) {}  // NOLINT: a Permiso is its case
    constexpr operator Caso() const { return caso_; }

    // Every case, in this order: microfono, pantalla, accesibilidad.
    static const std::array<Permiso, 3>& todos();
    // "microfono", "pantalla", "accesibilidad"; also the identifier.
    QString valor() const;
    QString id() const { return valor(); }
    static std::optional<Permiso> desdeValor(const QString& valor);

    // Asks for this permission or shows its settings (main thread). The outcome is seen later by
    // probing.
    void pedir() const;

    // Probes screen capture and remembers the answer in pantallaFunciona.
    static QCoro::Task<bool> probarPantalla();
    // The last known answer to whether screen capture works in this run; at first the session's
    // preflight answer.
    static bool pantallaFunciona();
    static void ponerPantallaFunciona(bool funciona);
    // Whether this desktop offers screen capture at all, as the last probe found it: false in a
    // Wayland session whose desktop answers no Screenshot portal, or with no display. Nothing
    // the owner grants changes that. At first, whether there is a display session.
    static bool pantallaOfrecida();
    static void ponerPantallaOfrecida(bool ofrecida);

    // Starts the program again (after this one has quit) and ends this process (main thread).
    static void reabrirApp();

private:
    Caso caso_;
};
