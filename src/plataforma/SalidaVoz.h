#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// A streaming output for speech: mono 32-bit float buffers at a fixed rate, played back to back
// in the order they were scheduled. Each buffer reports once when the sound server has taken its
// last frame; a listener sees the output in blocks of at most 1024 frames (silence included
// once the queue runs dry), for level meters. The output holds a stream on the sound server
// only between `empezar()` and `detener()`.
//
// Completions, the listener and `alFallar` run on the output's own thread (or inside a call
// that schedules); callers that keep state re-post to their own thread. After `detener()` none
// of them runs again.
class SalidaVoz {
public:
    static constexpr int kBloque = 1024;

    virtual ~SalidaVoz() = default;

    // The sound server refused the output or went away after it opened (set before `empezar()`).
    std::function<void(const QString& motivo)> alFallar;

    // Opens the output; the reason when it cannot.
    virtual std::optional<QString> empezar() = 0;
    virtual void programar(std::vector<float> muestras, std::function<void()> alTerminar) = 0;
    virtual void ponerEscucha(std::function<void(const float* muestras, int n)> escucha) = 0;
    virtual void quitarEscucha() = 0;
    // Drops whatever is still scheduled and closes the output.
    virtual void detener() = 0;

    // The session's default output of the desktop's sound server.
    static std::unique_ptr<SalidaVoz> delSistema(int frecuencia);
};
