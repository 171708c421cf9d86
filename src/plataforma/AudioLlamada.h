#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The audio of a voice call: the microphone with echo cancellation (fed with what the speakers
// play), delivered in fixed blocks on an audio thread of its own, and a speaker queue of mono
// float chunks at 24 kHz that says when each chunk has been played.
class AudioLlamada {
public:
    static constexpr int frecuenciaAltavoz = 24000;

    struct Entrada {
        int frecuencia = 0;
        int canales = 0;
    };
    // One microphone block: `marcos` interleaved frames of `canales` float samples.
    using Bloque = std::function<void(const float* datos, int marcos, int canales, int frecuencia)>;

    virtual ~AudioLlamada() = default;

    // Turns voice processing on, opens the microphone and the speakers and starts delivering
    // blocks of `marcos` frames to `alBloque` on the audio thread. Gives the reason when any of
    // it fails (then nothing runs).
    virtual std::optional<QString> arrancar(int marcos, Bloque alBloque) = 0;

    // The microphone's format once started.
    virtual Entrada entrada() const = 0;

    // Queues one chunk for the speakers; `alSonar` runs on the audio thread once it has been played.
    virtual void programar(std::vector<float> muestras, std::function<void()> alSonar) = 0;

    // Drops every queued chunk at once; their `alSonar` never runs.
    virtual void vaciar() = 0;

    // Stops microphone and speakers; once it returns no callback runs any more. Idempotent.
    virtual void detener() = 0;

    // The default microphone and output of the desktop's sound server.
    static std::unique_ptr<AudioLlamada> delSistema();
};
