#include "plataforma/CanceladorEco.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/common.h>

#include <algorithm>

struct CanceladorEco::Motor {
    std::unique_ptr<webrtc::AudioProcessing> apm;
};

CanceladorEco::CanceladorEco(int frecuencia, std::unique_ptr<Motor> motor)
    : frecuencia_(frecuencia), trama_(frecuencia / 100), motor_(std::move(motor)) {
    // One frame of silence ahead keeps the output as long as the input on every call.
    salida_.assign(static_cast<size_t>(trama_), 0.0f);
}

CanceladorEco::~CanceladorEco() = default;

std::unique_ptr<CanceladorEco> CanceladorEco::crear(int frecuencia, QString* error) {
    if (frecuencia != 16000 && frecuencia != 32000 && frecuencia != 48000) {
        if (error) *error = QStringLiteral("El procesado de voz no admite %1 Hz.").arg(frecuencia);
        return nullptr;
    }
    webrtc::Config config;
    // The speakers' delay is unknown on a desktop sound server: let the processor find it.
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
    auto motor = std::make_unique<Motor>();
    motor->apm.reset(webrtc::AudioProcessing::Create(config));
    bool bien = motor->apm != nullptr;
    if (bien) {
        auto* apm = motor->apm.get();
        bien = apm->echo_cancellation()->enable_drift_compensation(false) == webrtc::AudioProcessing::kNoError &&
               apm->echo_cancellation()->set_suppression_level(webrtc::EchoCancellation::kHighSuppression) ==
                   webrtc::AudioProcessing::kNoError &&
               apm->echo_cancellation()->Enable(true) == webrtc::AudioProcessing::kNoError &&
               apm->high_pass_filter()->Enable(true) == webrtc::AudioProcessing::kNoError;
    }
    if (!bien) {
        if (error) *error = QStringLiteral("No se pudo encender el procesado de voz.");
        return nullptr;
    }
    return std::unique_ptr<CanceladorEco>(new CanceladorEco(frecuencia, std::move(motor)));
}

void CanceladorEco::reproducido(const float* muestras, int n, int frecuenciaDe) {
    if (n <= 0 || frecuenciaDe <= 0) return;
    if (frecuenciaDe == frecuencia_) {
        lejano_.insert(lejano_.end(), muestras, muestras + n);
    } else {
        // Linear interpolation is plenty for an echo reference.
        const double paso = static_cast<double>(frecuenciaDe) / frecuencia_;
        while (posLejano_ < n) {
            const int i = static_cast<int>(posLejano_);
            const double f = posLejano_ - i;
            const float a = i == 0 ? ultimoLejano_ : muestras[i - 1];
            const float b = muestras[i];
            lejano_.push_back(static_cast<float>(a + (b - a) * f));
            posLejano_ += paso;
        }
        posLejano_ -= n;
        ultimoLejano_ = muestras[n - 1];
    }
    analizarLejano();
}

void CanceladorEco::analizarLejano() {
    const webrtc::StreamConfig config(frecuencia_, 1);
    size_t hecho = 0;
    while (lejano_.size() - hecho >= static_cast<size_t>(trama_)) {
        float* canal = lejano_.data() + hecho;
        const float* const fuente[1] = {canal};
        float* const destino[1] = {canal};
        motor_->apm->ProcessReverseStream(fuente, config, config, destino);
        hecho += static_cast<size_t>(trama_);
    }
    lejano_.erase(lejano_.begin(), lejano_.begin() + static_cast<long>(hecho));
}

void CanceladorEco::procesar(float* muestras, int n) {
    if (n <= 0) return;
    entrada_.insert(entrada_.end(), muestras, muestras + n);
    const webrtc::StreamConfig config(frecuencia_, 1);
    size_t hecho = 0;
    while (entrada_.size() - hecho >= static_cast<size_t>(trama_)) {
        float* canal = entrada_.data() + hecho;
        const float* const fuente[1] = {canal};
        float* const destino[1] = {canal};
        motor_->apm->set_stream_delay_ms(0);
        motor_->apm->ProcessStream(fuente, config, config, destino);
        salida_.insert(salida_.end(), canal, canal + trama_);
        hecho += static_cast<size_t>(trama_);
    }
    entrada_.erase(entrada_.begin(), entrada_.begin() + static_cast<long>(hecho));
    for (int i = 0; i < n; ++i) {
        muestras[i] = salida_.front();
        salida_.pop_front();
    }
}
