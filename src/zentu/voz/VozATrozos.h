#pragma once

#include "plataforma/SalidaVoz.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Plays speech that arrives in pieces: signed 16-bit little-endian PCM, mono, 24 kHz, in chunks
// of any byte length, back to back; measures the output level; and says once, after `cerrar()`,
// when everything handed over has been played. Lives on the main thread.
class VozATrozos : public QObject {
    Q_OBJECT
public:
    static constexpr int kFrecuencia = 24000;

    // Without an output, the session's default one.
    explicit VozATrozos(std::unique_ptr<SalidaVoz> motor = {}, QObject* padre = nullptr);
    ~VozATrozos() override;

    // Opens the output; the reason when it cannot (then nothing plays).
    std::optional<QString> empezar();
    void agregar(const QByteArray& datos);
    void cerrar();
    // Clears the end callback, removes the level listener and stops the output; whatever was
    // still scheduled is dropped and no end callback runs.
    void detener();

    int pendientes() const { return pendientes_; }
    bool cerrada() const { return cerrada_; }
    // Safe to read from any thread.
    double nivel() const { return nivel_.load(std::memory_order_relaxed); }

    std::function<void()> alTerminar;
    // The output was lost while playing (the sound server failed or went away); main thread.
    std::function<void(const QString& motivo)> alFallar;

    // One pass over the bytes: each little-endian pair s becomes s / 32768. An odd last byte is
    // ignored here (the player keeps it for the next chunk).
    static std::vector<float> aMuestras(const QByteArray& datos);
    // min(sqrt(rms) * 1.4, 1) over the samples; none for an empty block.
    static std::optional<double> nivelDe(const float* muestras, int n);

private:
    void terminoUno();

    std::unique_ptr<SalidaVoz> motor_;
    int pendientes_ = 0;
    bool cerrada_ = false;
    std::optional<char> sobra_;
    std::atomic<double> nivel_{0.0};
};
