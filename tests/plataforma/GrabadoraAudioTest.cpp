// A real take from the test environment's microphone (PulseAudio's sine source), metered while it
// records and read back with ffprobe.
#include "plataforma/GrabadoraAudio.h"

#include "comun/Ayudas.h"
#include "comun/ServidorSonidoPrivado.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

TEST(GrabadoraAudio, GrabaDelMicrofonoYMide) {
    if (!hayServidorSonido()) {
        GTEST_SKIP() << "sin servidor de sonido";
    }
    QTemporaryDir d;
    const QString ruta = d.path() + "/zentu-nota.m4a";
    auto g = GrabadoraAudio::delSistema();
    ASSERT_EQ(g->grabar(ruta), std::nullopt);
    // The generated source starts delivering a moment after it is opened.
    float maximo = GrabadoraAudio::kSilencio;
    int medidasConSonido = 0;
    pruebas::esperarHasta([&] {
        g->actualizarMedidores();
        if (g->potenciaMedia() > -60) ++medidasConSonido;
        maximo = std::max(maximo, g->potenciaMedia());
        pruebas::girar(50);
        return medidasConSonido >= 20;
    }, 15000);
    EXPECT_GT(maximo, -40.0f);
    ASSERT_EQ(g->detener(), std::nullopt);
    ASSERT_TRUE(QFileInfo(ruta).size() > 0);

    QProcess p;
    p.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name,sample_rate,channels:format=duration", "-of",
                        "json", ruta});
    p.waitForFinished(20000);
    const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
    const QJsonObject s = o.value("streams").toArray().at(0).toObject();
    EXPECT_EQ(s.value("codec_name").toString(), "aac");
    EXPECT_EQ(s.value("sample_rate").toString(), "16000");
    EXPECT_EQ(s.value("channels").toInt(), 1);
    EXPECT_GT(o.value("format").toObject().value("duration").toString().toDouble(), 0.5);
    // Stopping twice is harmless.
    EXPECT_EQ(g->detener(), std::nullopt);
}

}  // namespace
