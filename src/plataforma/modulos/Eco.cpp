// Echo cancellation through webrtc-audio-processing, opened by the program only when a call
// first starts.
#include "plataforma/modulos/Tablas.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/common.h>

#include <memory>

namespace {

struct Procesador {
    std::unique_ptr<webrtc::AudioProcessing> apm;
    webrtc::StreamConfig config;
};

void* crear(int frecuencia) {
    if (frecuencia != 16000 && frecuencia != 32000 && frecuencia != 48000) return nullptr;
    webrtc::Config config;
    // The speakers' delay is unknown on a desktop sound server: let the processor find it.
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
    auto p = std::make_unique<Procesador>();
    p->apm.reset(webrtc::AudioProcessing::Create(config));
    p->config = webrtc::StreamConfig(frecuencia, 1);
    if (!p->apm) return nullptr;
    auto* apm = p->apm.get();
    const bool bien =
        apm->echo_cancellation()->enable_drift_compensation(false) == webrtc::AudioProcessing::kNoError &&
        apm->echo_cancellation()->set_suppression_level(webrtc::EchoCancellation::kHighSuppression) ==
            webrtc::AudioProcessing::kNoError &&
        apm->echo_cancellation()->Enable(true) == webrtc::AudioProcessing::kNoError &&
        apm->high_pass_filter()->Enable(true) == webrtc::AudioProcessing::kNoError;
    return bien ? p.release() : nullptr;
}

void destruir(void* procesador) {
    delete static_cast<Procesador*>(procesador);
}

void lejano(void* procesador, float* trama) {
    auto* p = static_cast<Procesador*>(procesador);
    const float* const fuente[1] = {trama};
    float* const destino[1] = {trama};
    p->apm->ProcessReverseStream(fuente, p->config, p->config, destino);
}

void cercano(void* procesador, float* trama) {
    auto* p = static_cast<Procesador*>(procesador);
    const float* const fuente[1] = {trama};
    float* const destino[1] = {trama};
    p->apm->set_stream_delay_ms(0);
    p->apm->ProcessStream(fuente, p->config, p->config, destino);
}

const TablaEco tabla{crear, destruir, lejano, cercano};

}  // namespace

extern "C" __attribute__((visibility("default"))) const void* zentu_modulo() {
    return &tabla;
}
