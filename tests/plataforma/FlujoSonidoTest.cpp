// Streams on a sound server of the test's own: what the speech output and the cue output hand
// over is heard whole (listened to on the null sink's monitor), and a server that hangs or goes
// away is reported, never waited on.
#include "plataforma/FlujoSonido.h"
#include "plataforma/GrabadoraAudio.h"
#include "plataforma/SalidaAudio.h"
#include "plataforma/SalidaVoz.h"

#include "comun/Ayudas.h"
#include "comun/ServidorSonidoPrivado.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <cmath>
#include <gtest/gtest.h>
#include <mutex>

using pruebas::esperarHasta;

namespace {

// What the null sink plays, at 48 kHz mono, recorded from its monitor.
class Oido {
public:
    bool abrir() {
        qputenv("PULSE_SOURCE", "nulo.monitor");
        QString error;
        flujo_ = FlujoSonido::grabar({"oído", 48000, 1, 20},
                                     [this](const float* d, size_t n) {
                                         std::lock_guard<std::mutex> l(m_);
                                         for (size_t i = 0; i < n; ++i) {
                                             ++total_;
                                             if (std::abs(d[i]) > 0.05f) ++fuertes_;
                                         }
                                     },
                                     {}, &error);
        qunsetenv("PULSE_SOURCE");
        return flujo_ != nullptr;
    }
    // Seconds of sound heard (samples above the floor; a tone at half scale is above it most of the time).
    double sonido() {
        std::lock_guard<std::mutex> l(m_);
        return double(fuertes_) / 48000.0;
    }
    qint64 total() {
        std::lock_guard<std::mutex> l(m_);
        return total_;
    }

private:
    std::mutex m_;
    qint64 total_ = 0, fuertes_ = 0;
    std::unique_ptr<FlujoSonido> flujo_;
};

std::vector<float> tono(int frecuencia, double segundos) {
    std::vector<float> m(size_t(frecuencia * segundos));
    for (size_t i = 0; i < m.size(); ++i) m[i] = 0.5f * float(std::sin(2 * M_PI * 440 * double(i) / frecuencia));
    return m;
}

// Playback streams on the server (this test's own server: all of them are ours).
int reproduciendo() {
    QProcess p;
    p.start("pactl", {"list", "short", "sink-inputs"});
    esperarHasta([&] { return p.state() == QProcess::NotRunning; }, 10000);
    return int(QString::fromUtf8(p.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts).size());
}

// The fraction of a 440 Hz half-scale sine's samples above 0.05 in absolute value.
double fraccionFuerte() { return 1.0 - 2.0 * std::asin(0.1) / M_PI; }

TEST(FlujoSonido, LoQueSeEntregaSeOyeEntero) {
    ServidorSonidoPrivado servidor;
    ASSERT_TRUE(servidor.arrancar());
    Oido oido;
    ASSERT_TRUE(oido.abrir());
    ASSERT_TRUE(esperarHasta([&] { return oido.total() > 4800; }, 10000));

    // Speech: 1.2 s at 24 kHz in pieces of odd lengths, each one reported once handed over.
    auto voz = SalidaVoz::delSistema(24000);
    ASSERT_EQ(voz->empezar(), std::nullopt);
    const auto muestras = tono(24000, 1.2);
    std::atomic<int> entregados{0};
    int piezas = 0;
    for (size_t i = 0; i < muestras.size(); i += 2401, ++piezas) {
        const size_t n = std::min<size_t>(2401, muestras.size() - i);
        voz->programar(std::vector<float>(muestras.begin() + std::ptrdiff_t(i), muestras.begin() + std::ptrdiff_t(i + n)),
                       [&] { ++entregados; });
    }
    ASSERT_TRUE(esperarHasta([&] { return entregados.load() == piezas; }, 10000));
    pruebas::girar(600);  // what the server still holds
    EXPECT_EQ(reproduciendo(), 1);
    voz->detener();
    EXPECT_EQ(reproduciendo(), 0);
    EXPECT_NEAR(oido.sonido(), 1.2 * fraccionFuerte(), 0.15);

    // Cues: two queued back to back, 0.3 s and 0.5 s at 44.1 kHz.
    const double antes = oido.sonido();
    auto cues = SalidaAudio::delSistema();
    ASSERT_EQ(cues->encolar(tono(SalidaAudio::frecuencia, 0.3)), std::nullopt);
    ASSERT_EQ(cues->encolar(tono(SalidaAudio::frecuencia, 0.5)), std::nullopt);
    ASSERT_TRUE(esperarHasta([&] { return cues->pendientes() == 0; }, 10000));
    pruebas::girar(600);
    EXPECT_NEAR(oido.sonido() - antes, 0.8 * fraccionFuerte(), 0.12);
    // Once heard, the cues' output lets its stream go by itself.
    EXPECT_TRUE(esperarHasta([&] { return reproduciendo() == 0; }, 5000));
    EXPECT_EQ(cues->encolar(tono(SalidaAudio::frecuencia, 0.1)), std::nullopt);
    EXPECT_EQ(reproduciendo(), 1);
    EXPECT_TRUE(esperarHasta([&] { return reproduciendo() == 0; }, 5000));
}

TEST(FlujoSonido, UnServidorQueSeCuelgaNoDejaEsperando) {
    ServidorSonidoPrivado servidor;
    ASSERT_TRUE(servidor.arrancar());
    servidor.detener();
    QElapsedTimer t;
    t.start();
    QString error;
    auto flujo = FlujoSonido::reproducir({"prueba", 24000, 1, 50}, [](float*, size_t) { return size_t(0); }, {}, &error);
    EXPECT_EQ(flujo, nullptr);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_LT(t.elapsed(), FlujoSonido::kEsperaApertura + 2000);
    servidor.seguir();
}

// A server that stops taking sound in the middle of playing is reported, not waited on.
TEST(FlujoSonido, UnServidorQueSeCuelgaAMitadSeAvisa) {
    ServidorSonidoPrivado servidor;
    ASSERT_TRUE(servidor.arrancar());
    std::atomic<int> avisos{0};
    std::atomic<qint64> tomadas{0};
    QString error;
    auto flujo = FlujoSonido::reproducir({"prueba", 24000, 1, 100},
                                         [&](float* d, size_t n) {
                                             std::fill(d, d + n, 0.1f);
                                             tomadas += qint64(n);
                                             return n;
                                         },
                                         [&](const QString&) { ++avisos; }, &error);
    ASSERT_NE(flujo, nullptr) << error.toStdString();
    ASSERT_TRUE(esperarHasta([&] { return tomadas.load() > 12000; }, 10000));
    pruebas::girar(6000);
    EXPECT_EQ(avisos.load(), 0);  // playing steadily is no reason
    servidor.detener();
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(esperarHasta([&] { return avisos.load() == 1; }, 15000));
    EXPECT_LT(t.elapsed(), 9000);
    flujo.reset();
    servidor.seguir();
}

TEST(FlujoSonido, SinServidorLoDiceEnseguida) {
    QTemporaryDir d;
    qputenv("PULSE_SERVER", ("unix:" + d.path() + "/nadie").toUtf8());
    QElapsedTimer t;
    t.start();
    auto grabadora = GrabadoraAudio::delSistema();
    const auto fallo = grabadora->grabar(d.path() + "/nota.m4a");
    qunsetenv("PULSE_SERVER");
    ASSERT_TRUE(fallo.has_value());
    EXPECT_LT(t.elapsed(), 3000);
    auto voz = SalidaVoz::delSistema(24000);
    qputenv("PULSE_SERVER", ("unix:" + d.path() + "/nadie").toUtf8());
    EXPECT_TRUE(voz->empezar().has_value());
    qunsetenv("PULSE_SERVER");
}

// The server dies while each kind of stream runs: the owner is told, once, and stopping after
// that is harmless.
TEST(FlujoSonido, ElServidorQueSeVaSeAvisa) {
    struct Caso {
        const char* nombre;
        bool reproduce;
    };
    for (const Caso& caso : {Caso{"reproducción", true}, Caso{"grabación", false}}) {
        SCOPED_TRACE(caso.nombre);
        ServidorSonidoPrivado servidor;
        ASSERT_TRUE(servidor.arrancar());
        std::atomic<int> avisos{0};
        std::atomic<qint64> recibidos{0};
        QString error;
        std::unique_ptr<FlujoSonido> flujo;
        auto fallar = [&](const QString& motivo) {
            EXPECT_FALSE(motivo.isEmpty());
            ++avisos;
        };
        if (caso.reproduce) {
            flujo = FlujoSonido::reproducir({"prueba", 24000, 1, 50},
                                            [&](float* d, size_t n) {
                                                std::fill(d, d + n, 0.1f);
                                                recibidos += qint64(n);
                                                return n;
                                            },
                                            fallar, &error);
        } else {
            flujo = FlujoSonido::grabar({"prueba", 16000, 1, 20}, [&](const float*, size_t n) { recibidos += qint64(n); },
                                        fallar, &error);
        }
        ASSERT_NE(flujo, nullptr) << error.toStdString();
        ASSERT_TRUE(esperarHasta([&] { return recibidos.load() > 4000; }, 10000));
        servidor.matar();
        EXPECT_TRUE(esperarHasta([&] { return avisos.load() == 1; }, 10000));
        pruebas::girar(200);
        EXPECT_EQ(avisos.load(), 1);
        flujo->despertar();
        flujo.reset();
    }
}

}  // namespace
