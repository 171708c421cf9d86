#include "plataforma/GrabadoraAudio.h"

#include "plataforma/CodificadorAac.h"

#include "plataforma/FlujoSonido.h"

#include <QMetaObject>
#include <QObject>
#include <atomic>
#include <cmath>
#include <mutex>
#include <vector>

float GrabadoraAudio::potencia(const float* muestras, qsizetype n) {
    if (n <= 0) return kSilencio;
    double suma = 0;
    for (qsizetype i = 0; i < n; ++i) suma += double(muestras[i]) * muestras[i];
    const double rms = std::sqrt(suma / double(n));
    if (rms <= 0) return kSilencio;
    return std::max(kSilencio, float(20.0 * std::log10(rms)));
}

namespace {

class GrabadoraDelServidor final : public GrabadoraAudio {
public:
    ~GrabadoraDelServidor() override { detener(); }

    std::optional<QString> grabar(const QString& ruta) override {
        detener();
        if (auto fallo = codificador_.abrir(ruta)) return fallo;
        potencia_ = kSilencio;
        suma_ = 0;
        cuantas_ = 0;
        {
            std::lock_guard<std::mutex> l(cerrojo_);
            llegadas_.clear();
        }
        receptor_ = std::make_unique<QObject>();
        QObject* receptor = receptor_.get();
        auto* yo = this;
        std::atomic<bool>* avisado = &avisado_;
        avisado_ = false;
        QString error;
        // What the microphone delivers is encoded on the main thread as it comes; the meter only
        // sums. The receiver dies before this object, and the stream before the receiver, so
        // nothing posted here outlives them.
        microfono_ = FlujoSonido::grabar(
            {QStringLiteral("Micrófono de Zentu"), CodificadorAac::kFrecuencia, 1, 20},
            [yo, receptor, avisado](const float* d, size_t n) {
                {
                    std::lock_guard<std::mutex> l(yo->cerrojo_);
                    yo->llegadas_.insert(yo->llegadas_.end(), d, d + n);
                }
                if (!avisado->exchange(true))
                    QMetaObject::invokeMethod(receptor, [yo] { yo->tomar(); }, Qt::QueuedConnection);
            },
            [yo, receptor](const QString& motivo) {
                QMetaObject::invokeMethod(receptor, [yo, motivo] { yo->perdido(motivo); }, Qt::QueuedConnection);
            },
            &error);
        if (!microfono_) {
            receptor_.reset();
            codificador_.cerrar();
            return error;
        }
        return std::nullopt;
    }

    void actualizarMedidores() override {
        tomar();
        if (cuantas_ <= 0) return;
        const double rms = std::sqrt(suma_ / double(cuantas_));
        potencia_ = rms > 0 ? std::max(kSilencio, float(20.0 * std::log10(rms))) : kSilencio;
        suma_ = 0;
        cuantas_ = 0;
    }

    float potenciaMedia() const override { return potencia_; }

    std::optional<QString> detener() override {
        if (!receptor_) return std::nullopt;
        microfono_.reset();  // its thread ends here: nothing arrives any more
        tomar();
        receptor_.reset();   // and whatever it had posted goes with it
        auto fallo = codificador_.cerrar();
        if (falloAlEscribir_) fallo = falloAlEscribir_;
        falloAlEscribir_.reset();
        return fallo;
    }

private:
    void tomar() {
        avisado_ = false;
        std::vector<float> m;
        {
            std::lock_guard<std::mutex> l(cerrojo_);
            m.swap(llegadas_);
        }
        if (m.empty()) return;
        for (float x : m) suma_ += double(x) * x;
        cuantas_ += qsizetype(m.size());
        if (!falloAlEscribir_) falloAlEscribir_ = codificador_.agregar(m.data(), qsizetype(m.size()));
    }

    void perdido(const QString& motivo) {
        if (!microfono_) return;
        if (alFallar) alFallar(motivo);
    }

    std::mutex cerrojo_;
    std::vector<float> llegadas_;
    std::atomic<bool> avisado_{false};
    std::unique_ptr<FlujoSonido> microfono_;
    std::unique_ptr<QObject> receptor_;
    double suma_ = 0;
    qsizetype cuantas_ = 0;
    CodificadorAac codificador_;
    float potencia_ = kSilencio;
    std::optional<QString> falloAlEscribir_;
};

}  // namespace

std::unique_ptr<GrabadoraAudio> GrabadoraAudio::delSistema() { return std::make_unique<GrabadoraDelServidor>(); }
