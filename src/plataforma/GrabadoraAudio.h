#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

// A metered recorder: the session's default microphone, 16 kHz mono, encoded as AAC into an
// .m4a file while it records. It holds the microphone only between `grabar()` and `detener()`.
// Main thread only.
class GrabadoraAudio {
public:
    static constexpr float kSilencio = -160.0f;

    virtual ~GrabadoraAudio() = default;

    // The sound server dropped the microphone while recording (told on the main thread, once;
    // `detener()` still finishes what was recorded).
    std::function<void(const QString& motivo)> alFallar;

    // Starts writing `ruta`; the reason when the microphone or the file cannot be used.
    virtual std::optional<QString> grabar(const QString& ruta) = 0;
    // Takes in what the microphone delivered since the last call and measures it.
    virtual void actualizarMedidores() = 0;
    // The average power of what the last update took in, in decibels of full scale
    // (kSilencio for digital silence); unchanged when nothing new came.
    virtual float potenciaMedia() const = 0;
    // Stops and finishes the file; the reason when the file could not be finished.
    virtual std::optional<QString> detener() = 0;

    // 20·log10 of the root mean square, kSilencio at or below it.
    static float potencia(const float* muestras, qsizetype n);

    static std::unique_ptr<GrabadoraAudio> delSistema();
};
