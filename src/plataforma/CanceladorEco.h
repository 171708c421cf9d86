#pragma once

#include <QString>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

// Echo cancellation of the call microphone, in the process: it learns what the speakers play
// and removes it from what the microphone hears. Mono float samples in [-1, 1]. Not thread-safe:
// one thread feeds both directions.
class CanceladorEco {
public:
    ~CanceladorEco();
    CanceladorEco(const CanceladorEco&) = delete;
    CanceladorEco& operator=(const CanceladorEco&) = delete;

    // `frecuencia` must be 16000, 32000 or 48000 Hz; otherwise, or when the processor cannot be
    // set up, `error` receives the reason and no canceller is made.
    static std::unique_ptr<CanceladorEco> crear(int frecuencia, QString* error);

    int frecuencia() const { return frecuencia_; }

    // What the speakers play, at its own rate (converted here to ours).
    void reproducido(const float* muestras, int n, int frecuenciaDe);

    // The microphone's samples, cleaned in place. Output runs one 10 ms frame behind the input.
    void procesar(float* muestras, int n);

private:
    struct Motor;
    CanceladorEco(int frecuencia, std::unique_ptr<Motor> motor);
    void analizarLejano();

    int frecuencia_;
    int trama_;  // samples per 10 ms
    std::unique_ptr<Motor> motor_;
    std::vector<float> entrada_;
    std::deque<float> salida_;
    std::vector<float> lejano_;
    double posLejano_ = 0;    // fractional read position of the far-end resampling
    float ultimoLejano_ = 0;  // last far-end sample of the previous call
};
