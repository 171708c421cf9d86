// Takes encoded from generated PCM and read back with FFmpeg's own tools: container, codec,
// rate, channels, duration and the sound itself.
#include "plataforma/CodificadorAac.h"
#include "plataforma/GrabadoraAudio.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

std::vector<float> seno(double segundos, double amplitud = 0.5, double hz = 440) {
    std::vector<float> m(size_t(segundos * CodificadorAac::kFrecuencia));
    for (size_t i = 0; i < m.size(); ++i)
        m[i] = float(amplitud * std::sin(2 * M_PI * hz * double(i) / CodificadorAac::kFrecuencia));
    return m;
}

// ffprobe's view of the file's first stream and container.
QJsonObject sondear(const QString& ruta) {
    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_entries",
                        "stream=codec_name,sample_rate,channels:format=format_name,duration", "-of", "json", ruta});
    p.waitForFinished(20000);
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    QJsonObject r = o.value("streams").toArray().at(0).toObject();
    const QJsonObject f = o.value("format").toObject();
    r.insert("format_name", f.value("format_name"));
    r.insert("duration", f.value("duration"));
    return r;
}

// The decoded samples, as ffmpeg gives them (float, 16 kHz mono).
std::vector<float> decodificar(const QString& ruta) {
    QProcess p;
    p.start("ffmpeg", {"-v", "error", "-i", ruta, "-f", "f32le", "-ac", "1", "-ar", "16000", "-"});
    p.waitForFinished(20000);
    const QByteArray b = p.readAllStandardOutput();
    std::vector<float> m(size_t(b.size()) / sizeof(float));
    std::memcpy(m.data(), b.constData(), m.size() * sizeof(float));
    return m;
}

TEST(CodificadorAac, CincoSegundosDeVueltaConFFmpeg) {
    QTemporaryDir d;
    const QString ruta = d.path() + "/zentu-nota.m4a";
    const auto pcm = seno(5.0);
    CodificadorAac c;
    ASSERT_EQ(c.abrir(ruta), std::nullopt);
    // Pieces of awkward lengths, as a microphone delivers them.
    const size_t pasos[] = {333, 1, 2047, 1024, 5000, 0};
    for (size_t i = 0, k = 0; i < pcm.size(); ++k) {
        const size_t n = std::min(pasos[k % 6], pcm.size() - i);
        ASSERT_EQ(c.agregar(pcm.data() + i, qsizetype(n)), std::nullopt);
        i += n;
    }
    ASSERT_EQ(c.cerrar(), std::nullopt);
    EXPECT_FALSE(c.abierto());

    const QJsonObject s = sondear(ruta);
    EXPECT_EQ(s.value("codec_name").toString(), "aac");
    EXPECT_EQ(s.value("sample_rate").toString(), "16000");
    EXPECT_EQ(s.value("channels").toInt(), 1);
    EXPECT_TRUE(s.value("format_name").toString().contains("m4a")) << s.value("format_name").toString().toStdString();
    EXPECT_NEAR(s.value("duration").toString().toDouble(), 5.0, 0.1);

    // The tone survives: a 0.5 sine has an RMS near 0.354.
    const auto m = decodificar(ruta);
    ASSERT_GT(m.size(), size_t(4 * 16000));
    const float p = GrabadoraAudio::potencia(m.data() + 8000, 3 * 16000);
    EXPECT_NEAR(p, 20 * std::log10(0.5 / std::sqrt(2.0)), 1.5);
}

TEST(CodificadorAac, UnaTomaMuyCortaTambienEsUnArchivo) {
    QTemporaryDir d;
    const QString ruta = d.path() + "/corta.m4a";
    const auto pcm = seno(0.01);  // 160 samples: less than one frame
    CodificadorAac c;
    ASSERT_EQ(c.abrir(ruta), std::nullopt);
    ASSERT_EQ(c.agregar(pcm.data(), qsizetype(pcm.size())), std::nullopt);
    ASSERT_EQ(c.cerrar(), std::nullopt);
    EXPECT_EQ(sondear(ruta).value("codec_name").toString(), "aac");
}

TEST(CodificadorAac, SinArchivoDiceElMotivo) {
    CodificadorAac c;
    const auto fallo = c.abrir("/no/existe/nota.m4a");
    ASSERT_TRUE(fallo);
    EXPECT_FALSE(fallo->isEmpty());
    EXPECT_FALSE(c.abierto());
    float x = 0;
    EXPECT_TRUE(c.agregar(&x, 1));
    EXPECT_TRUE(c.cerrar());
}

TEST(GrabadoraAudio, PotenciaEnDecibelios) {
    const struct {
        std::vector<float> m;
        float db;
    } casos[] = {
        {{}, GrabadoraAudio::kSilencio},
        {{0, 0, 0, 0}, GrabadoraAudio::kSilencio},
        {{1, -1, 1, -1}, 0.0f},
        {{0.5f, 0.5f}, -6.0206f},
        {{0.1f, -0.1f}, -20.0f},
        {{1e-9f}, -160.0f},
    };
    for (const auto& c : casos)
        EXPECT_NEAR(GrabadoraAudio::potencia(c.m.data(), qsizetype(c.m.size())), c.db, 1e-3) << c.m.size();
    const auto s = seno(1.0, 1.0);
    EXPECT_NEAR(GrabadoraAudio::potencia(s.data(), qsizetype(s.size())), -3.0103f, 1e-2);
}

}  // namespace
