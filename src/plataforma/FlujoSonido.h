#pragma once

#include <QString>
#include <cstddef>
#include <functional>
#include <memory>

// One stream of 32-bit float interleaved audio to or from the desktop's sound server (PulseAudio,
// or PipeWire through pipewire-pulse), spoken through libpulse's asynchronous API.
//
// Each stream has a connection and a thread of its own, so an idle program holds neither, and a
// server that fails takes only its own streams with it. The caller's thread never waits on the
// server's lock: it takes the stream's lock only for a few calls that do not wait, and waits
// for the stream to open with a time limit.
//
// The callbacks run on the stream's thread, one at a time (playback's also inside `despertar()`,
// on the caller's thread). They must not block and must not call back into the stream. After
// the destructor returns none runs any more. A playback stream whose server stops asking for
// sound while some waits is reported as failed after 5 s.
class FlujoSonido {
public:
    struct Forma {
        QString nombre;     // what the server's stream list shows
        int frecuencia = 48000;
        int canales = 1;
        int bloqueMs = 20;  // how much a callback hands over at a time (and the playback target)
    };
    // Playback: fill at most `marcos` frames at `destino`, answer how many were filled (0 when
    // there is nothing to play now; `despertar()` says when there is again).
    using Producir = std::function<size_t(float* destino, size_t marcos)>;
    // Recording: `marcos` whole frames.
    using Consumir = std::function<void(const float* datos, size_t marcos)>;
    // The server refused the stream or went away; the stream is dead. Runs at most once.
    using Fallar = std::function<void(const QString& motivo)>;

    // How long opening may take before it counts as failed.
    static constexpr int kEsperaApertura = 4000;  // ms

    static std::unique_ptr<FlujoSonido> reproducir(const Forma& forma, Producir producir, Fallar fallar,
                                                   QString* error);
    static std::unique_ptr<FlujoSonido> grabar(const Forma& forma, Consumir consumir, Fallar fallar,
                                               QString* error);
    ~FlujoSonido();
    FlujoSonido(const FlujoSonido&) = delete;
    FlujoSonido& operator=(const FlujoSonido&) = delete;

    // Playback: there is something to play again. Any thread except the stream's own.
    void despertar();
    // The format the server opened (the requested one: the server converts).
    int frecuencia() const;
    int canales() const;

    struct Estado;

private:
    explicit FlujoSonido(std::unique_ptr<Estado> estado);
    // Opens the stream `e` describes; none, with the reason in `error`, if the server refused it.
    static std::unique_ptr<FlujoSonido> abrir(std::unique_ptr<Estado> e, QString* error);
    std::unique_ptr<Estado> e_;
};
