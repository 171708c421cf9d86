#include "plataforma/AudioLlamada.h"

#include "plataforma/CanceladorEco.h"
#include "plataforma/FlujoSonido.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

namespace {

constexpr int frecuenciaMicrofono = 48000;

// The canceller, the speaker queue and the microphone's partial block, shared by the two
// streams' threads and the caller's; one lock keeps them, since the canceller takes one side at
// a time.
struct Comun {
    std::mutex cerrojo;
    std::unique_ptr<CanceladorEco> eco;
    struct Trozo {
        std::vector<float> muestras;
        std::function<void()> alSonar;
    };
    std::deque<Trozo> trozos;
    size_t enTrozo = 0;
    std::vector<float> bloque;
    int marcos = 2048;
    AudioLlamada::Bloque alBloque;

    // The speakers' pull: what they take is also what the canceller learns the room hears.
    size_t tomar(float* destino, size_t caben) {
        std::vector<std::function<void()>> sonados;
        size_t escritas = 0;
        {
            std::lock_guard<std::mutex> l(cerrojo);
            while (escritas < caben && !trozos.empty()) {
                auto& t = trozos.front();
                const size_t n = std::min(t.muestras.size() - enTrozo, caben - escritas);
                std::memcpy(destino + escritas, t.muestras.data() + enTrozo, n * sizeof(float));
                escritas += n;
                enTrozo += n;
                if (enTrozo == t.muestras.size()) {
                    if (t.alSonar) sonados.push_back(std::move(t.alSonar));
                    trozos.pop_front();
                    enTrozo = 0;
                }
            }
            if (eco && escritas > 0) eco->reproducido(destino, int(escritas), AudioLlamada::frecuenciaAltavoz);
        }
        for (auto& f : sonados) f();
        return escritas;
    }

    // The microphone's frames, cleaned, handed over in blocks of `marcos`.
    void oir(const float* datos, size_t n) {
        std::vector<float> listos;
        {
            std::lock_guard<std::mutex> l(cerrojo);
            const size_t antes = bloque.size();
            bloque.insert(bloque.end(), datos, datos + n);
            if (eco) eco->procesar(bloque.data() + antes, int(n));
            const size_t porBloque = size_t(marcos);
            const size_t enteros = bloque.size() / porBloque * porBloque;
            if (enteros == 0) return;
            listos.assign(bloque.begin(), bloque.begin() + std::ptrdiff_t(enteros));
            bloque.erase(bloque.begin(), bloque.begin() + std::ptrdiff_t(enteros));
        }
        // Outside the lock: the owner converts and sends, and may queue speaker chunks meanwhile.
        for (size_t i = 0; i + size_t(marcos) <= listos.size(); i += size_t(marcos))
            if (alBloque) alBloque(listos.data() + i, marcos, 1, frecuenciaMicrofono);
    }
};

class AudioDelSistema : public AudioLlamada {
public:
    ~AudioDelSistema() override { detener(); }

    std::optional<QString> arrancar(int marcos, Bloque alBloque) override {
        if (microfono_ || altavoz_) return QStringLiteral("El audio de la llamada ya está en marcha.");
        comun_ = std::make_shared<Comun>();
        QString error;
        comun_->eco = CanceladorEco::crear(frecuenciaMicrofono, &error);
        if (!comun_->eco) return error;
        comun_->marcos = std::max(1, marcos);
        comun_->alBloque = std::move(alBloque);
        Comun* c = comun_.get();
        // A server that goes away mid-call stops the microphone's blocks; the call's guardian
        // sees that and hangs up, so nothing more is done here.
        altavoz_ = FlujoSonido::reproducir({QStringLiteral("Llamada de Zentu"), frecuenciaAltavoz, 1, 60},
                                           [c](float* d, size_t n) { return c->tomar(d, n); }, {}, &error);
        if (!altavoz_) {
            detener();
            return QStringLiteral("No se pudo abrir la salida de audio: ") + error;
        }
        microfono_ = FlujoSonido::grabar({QStringLiteral("Micrófono de la llamada"), frecuenciaMicrofono, 1, 20},
                                         [c](const float* d, size_t n) { c->oir(d, n); }, {}, &error);
        if (!microfono_) {
            detener();
            return QStringLiteral("No se pudo abrir el micrófono: ") + error;
        }
        entrada_ = {frecuenciaMicrofono, 1};
        return std::nullopt;
    }

    Entrada entrada() const override { return entrada_; }

    void programar(std::vector<float> muestras, std::function<void()> alSonar) override {
        if (!altavoz_) return;
        if (muestras.empty()) {
            if (alSonar) alSonar();
            return;
        }
        {
            std::lock_guard<std::mutex> l(comun_->cerrojo);
            comun_->trozos.push_back({std::move(muestras), std::move(alSonar)});
        }
        altavoz_->despertar();
    }

    void vaciar() override {
        if (!comun_) return;
        std::lock_guard<std::mutex> l(comun_->cerrojo);
        comun_->trozos.clear();
        comun_->enTrozo = 0;
    }

    void detener() override {
        // Each stream's thread ends with it: no block and no chunk report runs after this.
        microfono_.reset();
        altavoz_.reset();
        comun_.reset();
    }

private:
    std::shared_ptr<Comun> comun_;
    std::unique_ptr<FlujoSonido> altavoz_;
    std::unique_ptr<FlujoSonido> microfono_;
    Entrada entrada_;
};

}  // namespace

std::unique_ptr<AudioLlamada> AudioLlamada::delSistema() { return std::make_unique<AudioDelSistema>(); }
