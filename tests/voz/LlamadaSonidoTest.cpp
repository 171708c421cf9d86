// A call on the real sound path: the test run's PulseAudio (sine microphone, null sink) with
// echo cancellation, against the realtime stand-in.
#include "comun/Ayudas.h"
#include "comun/ServidorSonidoPrivado.h"
#include "comun/RealtimeSimulado.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Registro.h"
#include "zentu/voz/Llamada.h"

#include <gtest/gtest.h>

TEST(LlamadaConSonido, ElMicrofonoVaAlCableYLaVozDelAgenteSuena) {
    if (!hayServidorSonido()) {
        GTEST_SKIP() << "sin servidor de sonido";
    }
    ServicioSimulado servicio;
    RealtimeSimulado realtime;
    ASSERT_TRUE(servicio.arrancar());
    ASSERT_TRUE(realtime.arrancar());
    qputenv("ZENTU_REALTIME", realtime.base().toUtf8());
    QStringList lineas;
    Registro::observar([&](const QString& l) { lineas << l; });

    Llamada llamada(Cuenta{servicio.url(), "token-bueno", "", ""}, std::nullopt, std::nullopt);
    std::vector<Fase> fases;
    bool terminada = false;
    llamada.alCambiarFase = [&](Fase f) { fases.push_back(f); };
    llamada.alTerminar = [&](std::shared_ptr<const FalloZentu>) { terminada = true; };
    [[maybe_unused]] auto t = llamada.abrir();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return lineas.contains("[llamada] conectada"); }, 10000));
    EXPECT_TRUE(lineas.contains("[llamada] audio listo · micrófono 48000 Hz × 1 · procesado de voz encendido"));

    // 2048 frames at 48 kHz become at most 1,088 frames of 24 kHz PCM per append.
    ASSERT_TRUE(pruebas::esperarHasta([&] { return realtime.recibidos("input_audio_buffer.append").size() >= 5; }, 15000));
    for (const auto& e : realtime.recibidos("input_audio_buffer.append")) {
        const auto pcm = QByteArray::fromBase64(e.toObject().value("audio").toString().toLatin1());
        EXPECT_LE(pcm.size(), 1088 * 2);
        EXPECT_GT(pcm.size(), 0);
    }

    // Half a second of the agent's voice plays through and the call listens again.
    QByteArray voz(24000, '\0');
    for (int i = 0; i < voz.size() / 2; ++i) voz[2 * i + 1] = static_cast<char>((i / 20) % 2 ? 0x10 : -0x10);
    realtime.enviar(QJsonObject{{"type", "response.created"}});
    realtime.enviar(QJsonObject{{"type", "response.output_audio.delta"}, {"item_id", "i1"}, {"delta", QString::fromLatin1(voz.toBase64())}});
    realtime.enviar(QJsonObject{{"type", "response.done"}});
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !fases.empty() && fases.back() == Fase::hablando; }, 5000));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return fases.back() == Fase::escuchando; }, 10000));

    llamada.colgar();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return terminada; }, 10000));
    Registro::observar({});
}
