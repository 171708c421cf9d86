#include "plataforma/SalidaVoz.h"

#include "plataforma/FlujoSonido.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

namespace {

// What the stream pulls from: the scheduled buffers, oldest first. Shared by the caller's
// thread (scheduling) and the stream's (pulling), under one lock.
class ColaVoz {
public:
    struct Bloque {
        std::vector<float> muestras;
        std::function<void()> alTerminar;
    };

    void anadir(Bloque bloque) {
        std::lock_guard<std::mutex> l(cerrojo_);
        bloques_.push_back(std::move(bloque));
        vacio_ = false;
    }
    void vaciar() {
        std::lock_guard<std::mutex> l(cerrojo_);
        bloques_.clear();
        enBloque_ = 0;
    }
    // Once this returns the previous listener is no longer running and never runs again.
    void ponerEscucha(std::function<void(const float*, int)> e) {
        std::lock_guard<std::mutex> l(cerrojo_);
        escucha_ = std::move(e);
    }

    // Fills at most `caben` frames; answers how many. Nothing queued means nothing handed over,
    // so the server stops the stream instead of playing silence.
    size_t tomar(float* destino, size_t caben) {
        std::vector<std::function<void()>> terminados;
        size_t escritas = 0;
        {
            std::lock_guard<std::mutex> l(cerrojo_);
            while (escritas < caben && !bloques_.empty()) {
                auto& bloque = bloques_.front();
                const size_t n = std::min(bloque.muestras.size() - enBloque_, caben - escritas);
                std::memcpy(destino + escritas, bloque.muestras.data() + enBloque_, n * sizeof(float));
                escritas += n;
                enBloque_ += n;
                if (enBloque_ >= bloque.muestras.size()) {
                    if (bloque.alTerminar) terminados.push_back(std::move(bloque.alTerminar));
                    bloques_.pop_front();
                    enBloque_ = 0;
                }
            }
            if (escucha_) {
                for (size_t i = 0; i < escritas; i += SalidaVoz::kBloque)
                    escucha_(destino + i, int(std::min<size_t>(SalidaVoz::kBloque, escritas - i)));
                if (escritas == 0 && !vacio_) {
                    // The output goes quiet: listeners see one block of silence, as a mixer would give.
                    static const std::vector<float> silencio(SalidaVoz::kBloque, 0.0f);
                    escucha_(silencio.data(), SalidaVoz::kBloque);
                }
            }
            vacio_ = escritas == 0;
        }
        // The frames are out of our hands now; the owners may schedule more from here.
        for (auto& f : terminados) f();
        return escritas;
    }

private:
    std::mutex cerrojo_;
    std::deque<Bloque> bloques_;
    size_t enBloque_ = 0;
    bool vacio_ = true;
    std::function<void(const float*, int)> escucha_;
};

class SalidaVozDelServidor final : public SalidaVoz {
public:
    explicit SalidaVozDelServidor(int frecuencia) : frecuencia_(frecuencia) {}
    ~SalidaVozDelServidor() override { detener(); }

    std::optional<QString> empezar() override {
        detener();
        ColaVoz* cola = &cola_;
        auto fallar = alFallar;
        QString error;
        // About 0.1 s in the server's hands: short enough for the level to follow the voice.
        flujo_ = FlujoSonido::reproducir({QStringLiteral("Voz de Zentu"), frecuencia_, 1, 100},
                                         [cola](float* d, size_t n) { return cola->tomar(d, n); },
                                         [fallar](const QString& motivo) { if (fallar) fallar(motivo); }, &error);
        if (!flujo_) return error;
        return std::nullopt;
    }

    void programar(std::vector<float> muestras, std::function<void()> alTerminar) override {
        if (!flujo_) return;
        cola_.anadir({std::move(muestras), std::move(alTerminar)});
        flujo_->despertar();
    }

    void ponerEscucha(std::function<void(const float*, int)> escucha) override {
        cola_.ponerEscucha(std::move(escucha));
    }
    void quitarEscucha() override { ponerEscucha({}); }

    void detener() override {
        flujo_.reset();  // the stream's thread ends here: nothing pulls from the queue any more
        cola_.vaciar();
    }

private:
    const int frecuencia_;
    ColaVoz cola_;
    std::unique_ptr<FlujoSonido> flujo_;
};

}  // namespace

std::unique_ptr<SalidaVoz> SalidaVoz::delSistema(int frecuencia) {
    return std::make_unique<SalidaVozDelServidor>(frecuencia);
}
