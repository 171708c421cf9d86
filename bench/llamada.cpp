// The call's microphone path: how long one block takes from the capture callback to
// "input_audio_buffer.append" leaving on the socket (stand-in realtime service over loopback),
// and what echo cancellation plus the conversion to the wire format cost per second of audio.
// It runs the call component (zentu_voz's Llamada, with the platform's echo canceller and
// converter) inside this benchmark with an audio device of its own rather than the installed
// program: the moment a block leaves the capture callback is inside the process, and the blocks
// must come on a clock the benchmark controls. The anchor of the processor figure is a plain
// sine (Referencia.h); the two alternate over `rondas` rounds, the order turning every round,
// each figure the median of the rounds with the lowest and highest beside it.
// Usage: medir_llamada [rondas=5]
#include "Medidas.h"
#include "Referencia.h"
#include "comun/Ayudas.h"
#include "comun/RealtimeSimulado.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/CanceladorEco.h"
#include "plataforma/ConvertidorMuestras.h"
#include "plataforma/Registro.h"
#include "zentu/voz/Llamada.h"

#include <QCoreApplication>
#include <QWebSocket>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Reloj_ = std::chrono::steady_clock;

// Blocks come from the bench's own "audio thread"; nothing is played.
class AudioDeBanco : public AudioLlamada {
public:
    std::optional<QString> arrancar(int, Bloque b) override {
        bloque = std::move(b);
        return std::nullopt;
    }
    Entrada entrada() const override { return {48000, 1}; }
    void programar(std::vector<float>, std::function<void()>) override {}
    void vaciar() override {}
    void detener() override { bloque = nullptr; }
    Bloque bloque;
};

double cpuDelHilo() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

double percentil(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    Registro::observar([](const QString&) {});

    // ---- CPU: echo cancellation at 48 kHz (fed with 24 kHz speaker audio) plus the conversion.
    const int rondas = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    {
        constexpr int segundos = 12;
        auto eco = CanceladorEco::crear(48000, nullptr);
        auto conv = ConvertidorMuestras::crear(48000, 24000, nullptr);
        std::vector<float> mic(2048), altavoz(1024);
        double fase = 0;
        std::vector<double> porCiento, porMuestra, senos;
        for (int r = 0; r < rondas; ++r) {
            for (int k = 0; k < 2; ++k) {
                if (turno(r, k, 2) == 1) {
                    senos.push_back(nsPorSeno(2'000'000));
                    continue;
                }
                const double inicio = cpuDelHilo();
                const int bloques = segundos * 48000 / 2048;
                for (int b = 0; b < bloques; ++b) {
                    for (size_t i = 0; i < altavoz.size(); ++i) altavoz[i] = float(0.2 * std::sin(fase += 0.05));
                    for (size_t i = 0; i < mic.size(); ++i) mic[i] = 0.5f * altavoz[i / 2] + float(0.01 * std::sin(i * 0.3));
                    eco->reproducido(altavoz.data(), int(altavoz.size()), 24000);
                    eco->procesar(mic.data(), int(mic.size()));
                    auto salida = conv->convertir(mic.data(), int(mic.size()), 1088);
                    if (!salida) return 1;
                }
                const double cpu = cpuDelHilo() - inicio;
                const double audio = double(bloques) * 2048 / 48000;
                porCiento.push_back(100 * cpu / audio);
                porMuestra.push_back(cpu * 1e9 / (audio * 48000));
            }
        }
        std::printf("llamada (Llamada con un audio propio, en este proceso): %d rondas alternadas con un seno; "
                    "mediana [mínima–máxima]\n", rondas);
        std::printf("llamada: eco + conversión: %s %% de un núcleo\n", qPrintable(cifra(porCiento, 2)));
        std::printf("llamada: por muestra del micrófono %s ns · seno %s ns · muestra / seno %s\n",
                    qPrintable(cifra(porMuestra, 1)), qPrintable(cifra(senos, 1)),
                    qPrintable(cifra(razones(porMuestra, senos), 1)));
    }

    // ---- Latency: capture callback to the socket, one block every 42.7 ms as the microphone gives.
    ServicioSimulado servicio;
    RealtimeSimulado realtime;
    if (!servicio.arrancar() || !realtime.arrancar()) {
        std::printf("llamada: no arrancaron los servicios simulados\n");
        return 1;
    }
    qputenv("ZENTU_REALTIME", realtime.base().toUtf8());
    auto propio = std::make_unique<AudioDeBanco>();
    AudioDeBanco* audio = propio.get();
    Llamada llamada(Cuenta{servicio.url(), "token-bueno", "", ""}, std::nullopt, std::nullopt, Reloj::sistema(), std::move(propio));
    bool conectada = false;
    llamada.alCambiarFase = [&](Fase f) { conectada = conectada || f == Fase::escuchando; };
    [[maybe_unused]] auto t = llamada.abrir();
    if (!pruebas::esperarHasta([&] { return conectada; }, 10000)) {
        std::printf("llamada: la sesión no empezó\n");
        return 1;
    }
    auto* ws = llamada.findChild<QWebSocket*>();
    std::mutex m;
    std::vector<Reloj_::time_point> salidas, entradas;
    // The moment the frame has been handed to the kernel.
    QObject::connect(ws, &QWebSocket::bytesWritten, [&](qint64) {
        std::lock_guard<std::mutex> l(m);
        salidas.push_back(Reloj_::now());
    });
    constexpr int n = 300;
    std::vector<float> bloque(2048);
    for (size_t i = 0; i < bloque.size(); ++i) bloque[i] = float(0.3 * std::sin(i * 0.0576));
    std::atomic<bool> listo{false};
    std::thread hilo([&] {
        auto siguiente = Reloj_::now();
        for (int i = 0; i < n; ++i) {
            std::this_thread::sleep_until(siguiente);
            siguiente += std::chrono::microseconds(42667);
            {
                std::lock_guard<std::mutex> l(m);
                entradas.push_back(Reloj_::now());
            }
            audio->bloque(bloque.data(), 2048, 1, 48000);
        }
        listo = true;
    });
    pruebas::esperarHasta([&] {
        std::lock_guard<std::mutex> l(m);
        return listo && salidas.size() >= size_t(n);
    }, 60000);
    hilo.join();
    std::vector<double> ms;
    {
        std::lock_guard<std::mutex> l(m);
        for (size_t i = 0; i < std::min(entradas.size(), salidas.size()); ++i)
            ms.push_back(std::chrono::duration<double, std::milli>(salidas[i] - entradas[i]).count());
    }
    if (ms.empty()) {
        std::printf("llamada: no salió ningún bloque\n");
        return 1;
    }
    std::printf("llamada: micrófono → cable, %zu bloques de 2048 a 48 kHz: mediana %.3f ms, p99 %.3f ms, [mín %.3f – máx %.3f] ms\n",
                ms.size(), percentil(ms, 0.5), percentil(ms, 0.99), percentil(ms, 0.0), percentil(ms, 1.0));
    llamada.colgar();
    pruebas::girar(300);
    return 0;
}
