// Echo cancellation and the wire-format conversion of the call microphone.
#include "comun/Ayudas.h"
#include "plataforma/CanceladorEco.h"
#include "plataforma/ConvertidorMuestras.h"

#include <gtest/gtest.h>
#include <cmath>
#include <random>
#include <vector>

namespace {

// A voice-like far end: tones whose pitch and loudness keep changing, at 24 kHz.
std::vector<float> vozLejana(int segundos) {
    std::vector<float> v(static_cast<size_t>(segundos * 24000));
    std::mt19937 azar(7);
    double fase = 0, f = 200, a = 0.3;
    for (size_t i = 0; i < v.size(); ++i) {
        if (i % 2400 == 0) {
            f = 150 + azar() % 400;
            a = 0.05 + (azar() % 100) / 250.0;
        }
        fase += 2 * M_PI * f / 24000;
        v[i] = static_cast<float>(a * (std::sin(fase) + 0.4 * std::sin(3 * fase)));
    }
    return v;
}

double energia(const std::vector<float>& v, size_t desde, size_t hasta) {
    double s = 0;
    for (size_t i = desde; i < hasta; ++i) s += double(v[i]) * v[i];
    return s / double(hasta - desde);
}

// Plays `lejano` through the canceller as the speakers would and hears it back in the microphone
// 30 ms later at half loudness; returns what the microphone sends.
std::vector<float> pasarEco(CanceladorEco& eco, const std::vector<float>& lejano, bool conReferencia, std::vector<float>* microfono) {
    const size_t n48 = lejano.size() * 2;
    microfono->assign(n48, 0.0f);
    const size_t retraso = 48 * 30;
    for (size_t i = retraso; i < n48; ++i) (*microfono)[i] = 0.5f * lejano[(i - retraso) / 2];
    std::vector<float> salida = *microfono;
    const std::vector<float> silencio(240, 0.0f);
    // Blocks of 20 ms: the speaker chunk first, then the microphone of the same moment.
    for (size_t b = 0; b * 480 < lejano.size(); ++b) {
        eco.reproducido(conReferencia ? lejano.data() + b * 480 : silencio.data(), 240, 24000);
        eco.reproducido(conReferencia ? lejano.data() + b * 480 + 240 : silencio.data(), 240, 24000);
        eco.procesar(salida.data() + b * 960, 960);
    }
    return salida;
}

}  // namespace

TEST(CanceladorEco, SoloFrecuenciasDelProcesador) {
    QString error;
    EXPECT_EQ(CanceladorEco::crear(44100, &error), nullptr);
    EXPECT_EQ(error, "El procesado de voz no admite 44100 Hz.");
    for (int f : {16000, 32000, 48000}) EXPECT_NE(CanceladorEco::crear(f, nullptr), nullptr) << f;
}

TEST(CanceladorEco, QuitaLoQueSuenaEnLosAltavoces) {
    const auto lejano = vozLejana(12);
    std::vector<float> microfono;
    auto eco = CanceladorEco::crear(48000, nullptr);
    ASSERT_NE(eco, nullptr);
    const auto limpia = pasarEco(*eco, lejano, true, &microfono);
    ASSERT_EQ(limpia.size(), microfono.size());  // one frame behind, never shorter
    // Once it has learnt the room (last 4 s): at least 15 dB less echo.
    const size_t desde = microfono.size() - 4 * 48000;
    const double reduccion = 10 * std::log10(energia(microfono, desde, microfono.size()) / energia(limpia, desde, limpia.size()));
    EXPECT_GT(reduccion, 15) << reduccion;

    // Without the speakers' reference the same sound is someone in the room: it stays.
    auto sinReferencia = CanceladorEco::crear(48000, nullptr);
    const auto igual = pasarEco(*sinReferencia, lejano, false, &microfono);
    const double perdida = 10 * std::log10(energia(microfono, desde, microfono.size()) / energia(igual, desde, igual.size()));
    EXPECT_LT(perdida, 6) << perdida;
}

TEST(ConvertidorMuestras, De48kA24kEnFormatoDeRed) {
    QString error;
    EXPECT_EQ(ConvertidorMuestras::crear(0, 24000, &error), nullptr);
    EXPECT_FALSE(error.isEmpty());
    auto c = ConvertidorMuestras::crear(48000, 24000, nullptr);
    ASSERT_NE(c, nullptr);
    // A call resamples but never encodes: the codec libraries and their dependencies stay out.
    EXPECT_FALSE(pruebas::bibliotecaCargada("libavcodec.so"));
    // A 1 kHz tone in 2048-frame blocks: each fits the 1,088-frame output at once, and the tone
    // comes out at 1 kHz of the new rate.
    std::vector<float> bloque(2048);
    QByteArray todo;
    for (int b = 0; b < 10; ++b) {
        for (int i = 0; i < 2048; ++i) bloque[size_t(i)] = 0.5f * float(std::sin(2 * M_PI * 1000 * (b * 2048 + i) / 48000.0));
        const auto salida = c->convertir(bloque.data(), 2048, 2048 * 24000 / 48000 + 64);
        ASSERT_TRUE(salida.has_value());
        EXPECT_LE(salida->size(), 1088 * 2);
        EXPECT_GE(salida->size(), 1000 * 2);
        todo += *salida;
    }
    const auto* m = reinterpret_cast<const qint16*>(todo.constData());
    const qint64 n = todo.size() / 2;
    int cruces = 0;
    qint16 pico = 0;
    for (qint64 i = 2400; i < n; ++i) {
        if ((m[i - 1] < 0) != (m[i] < 0)) ++cruces;
        pico = std::max<qint16>(pico, m[i]);
    }
    const double segundos = double(n - 2400) / 24000;
    EXPECT_NEAR(cruces / 2.0 / segundos, 1000, 10);
    EXPECT_NEAR(pico, 16384, 800);
}
