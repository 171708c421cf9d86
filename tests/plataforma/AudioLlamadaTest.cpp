// The call audio on the desktop's sound server (the test run's PulseAudio: a null sink and a
// sine source as the microphone).
#include "plataforma/AudioLlamada.h"

#include "comun/Ayudas.h"
#include "comun/ServidorSonidoPrivado.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

TEST(AudioLlamada, MicrofonoEnBloquesYAltavozConAviso) {
    if (!hayServidorSonido()) {
        GTEST_SKIP() << "sin servidor de sonido";
    }
    auto audio = AudioLlamada::delSistema();
    std::atomic<int> bloques{0};
    std::mutex m;
    std::vector<std::tuple<int, int, int>> formas;
    std::thread::id hiloBloques;
    const auto error = audio->arrancar(2048, [&](const float*, int marcos, int canales, int frecuencia) {
        std::lock_guard<std::mutex> l(m);
        formas.emplace_back(marcos, canales, frecuencia);
        hiloBloques = std::this_thread::get_id();
        ++bloques;
    });
    ASSERT_FALSE(error.has_value()) << error->toStdString();
    EXPECT_EQ(audio->entrada().frecuencia, 48000);
    EXPECT_EQ(audio->entrada().canales, 1);
    // The fake microphone starts after about 2 s.
    ASSERT_TRUE(pruebas::esperarHasta([&] { return bloques.load() >= 3; }, 15000));
    {
        std::lock_guard<std::mutex> l(m);
        for (const auto& f : formas) EXPECT_EQ(f, std::make_tuple(2048, 1, 48000));
        EXPECT_NE(hiloBloques, std::this_thread::get_id());  // never the main thread
    }

    // A chunk queued for the speakers reports once played; a dropped one never does.
    std::atomic<int> sonados{0};
    audio->programar(std::vector<float>(2400, 0.1f), [&] { ++sonados; });
    ASSERT_TRUE(pruebas::esperarHasta([&] { return sonados.load() == 1; }, 10000));
    audio->programar(std::vector<float>(24000 * 20, 0.1f), [&] { ++sonados; });
    audio->vaciar();
    pruebas::girar(500);
    EXPECT_EQ(sonados.load(), 1);

    audio->detener();
    const int hasta = bloques.load();
    pruebas::girar(300);
    EXPECT_EQ(bloques.load(), hasta);
    audio->detener();  // twice is harmless
}
