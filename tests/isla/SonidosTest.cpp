#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"
#include "zentu/isla/Sonidos.h"

#include <QFile>
#include <QFileInfo>
#include <QtEndian>
#include <gtest/gtest.h>
#include <bit>
#include <cmath>

namespace {

// Records what would have been played.
class SalidaFalsa : public SalidaAudio {
public:
    std::vector<std::vector<float>> buffers;
    std::optional<QString> fallo;
    std::optional<QString> encolar(std::vector<float> muestras) override {
        if (fallo) return fallo;
        buffers.push_back(std::move(muestras));
        return std::nullopt;
    }
    qint64 pendientes() const override { return 0; }
};

struct ConSalidaFalsa : ::testing::Test {
    RelojVirtual reloj;
    SalidaFalsa* salida = nullptr;
    std::unique_ptr<Sonidos> sonidos;
    QStringList lineas;

    void SetUp() override {
        Preferencias::almacen().remove(QStringLiteral("zentu.sinSonidos"));
        auto s = std::make_unique<SalidaFalsa>();
        salida = s.get();
        sonidos = std::make_unique<Sonidos>(reloj, std::move(s));
        Registro::observar([this](const QString& l) { lineas << l; });
    }
    void TearDown() override { Registro::observar({}); }
};

quint32 leer32(const QByteArray& b, int i) { return qFromLittleEndian<quint32>(b.constData() + i); }
quint16 leer16(const QByteArray& b, int i) { return qFromLittleEndian<quint16>(b.constData() + i); }

}  // namespace

TEST(Sintesis, LargosDeCadaSenal) {
    using C = Sonidos::Cual;
    // Int(44100 × (dur + sep × (notes − 1) + 0.03)), truncated.
    const std::vector<std::pair<C, size_t>> casos = {
        {C::aparece, 20727},   {C::seVa, 18081},     {C::escucha, 6615},   {C::piensa, 9702},
        {C::termino, 12789},   {C::silencio, 7497},  {C::activaMic, 7497}, {C::error, 12348},
        {C::timbre, 26901},    {C::enviado, 6174},   {C::llego, 12348},    {C::hecho, 12789},
        {C::descartado, 9702}, {C::captura, 5953},   {C::recibido, 5292},  {C::espera, 67914},
    };
    ASSERT_EQ(casos.size(), size_t(Sonidos::cuantos));
    for (auto [cual, frames] : casos)
        EXPECT_EQ(Sonidos::sintetizar(cual).size(), frames) << "señal " << int(cual);
}

TEST(Sintesis, EnvolventeDeCadaNota) {
    for (int c = 0; c < Sonidos::cuantos; ++c) {
        const auto cual = Sonidos::Cual(c);
        const auto& r = Sonidos::receta(cual);
        const auto m = Sonidos::sintetizar(cual);
        SCOPED_TRACE(c);
        // Every note starts from silence.
        EXPECT_EQ(m[0], 0.0f);
        // The last note ends last; its final frame has decayed to an absolute 0.0001.
        const qint64 inicio = qint64(44100.0 * (r.sep * double(r.notas.size() - 1)));
        const qint64 fin = inicio + qint64(r.dur * 44100.0);
        EXPECT_LE(std::abs(m[size_t(fin - 1)]), 0.000101f);
        // After it, nothing but the 30 ms of silence.
        for (size_t k = size_t(fin); k < m.size(); ++k) ASSERT_EQ(m[k], 0.0f) << k;
        // The peak never exceeds the sum of the notes sounding together, and it reaches
        // close to the volume.
        float pico = 0;
        for (float v : m) pico = std::max(pico, std::abs(v));
        EXPECT_LE(pico, float(r.vol * double(r.notas.size())) + 1e-6f);
        EXPECT_GT(pico, float(r.vol * 0.8));
    }
}

TEST(Sintesis, UnaNotaSenoExacta) {
    // escucha: one sine note of 880 Hz at frame 0; frame 100 is still in the attack.
    const auto m = Sonidos::sintetizar(Sonidos::Cual::escucha);
    const double t = 100.0 / 44100.0;
    const double ft = 880.0 * t;
    const float esperado = float(0.05 * (t / 0.012) * std::sin(2 * M_PI * (ft - std::floor(ft))));
    EXPECT_EQ(m[100], esperado);
    // A triangle cue starts its wave at +1: the first frame after the start is positive.
    EXPECT_GT(Sonidos::sintetizar(Sonidos::Cual::piensa)[1], 0.0f);
}

TEST_F(ConSalidaFalsa, SenalesEnColaEnOrden) {
    sonidos->tocar(Sonidos::Cual::enviado);
    sonidos->tocar(Sonidos::Cual::llego);
    ASSERT_EQ(salida->buffers.size(), 2u);
    EXPECT_EQ(salida->buffers[0], Sonidos::sintetizar(Sonidos::Cual::enviado));
    EXPECT_EQ(salida->buffers[1], Sonidos::sintetizar(Sonidos::Cual::llego));

    sonidos->setActivos(false);
    sonidos->tocar(Sonidos::Cual::error);
    sonidos->esperar([] { return true; });
    EXPECT_EQ(salida->buffers.size(), 2u);
    EXPECT_FALSE(sonidos->esperando());
    EXPECT_EQ(reloj.pendientes(), 0);
}

TEST_F(ConSalidaFalsa, PreferenciaSinSonidos) {
    Preferencias::almacen().setValue(QStringLiteral("zentu.sinSonidos"), true);
    Sonidos callado(reloj, std::make_unique<SalidaFalsa>());
    EXPECT_FALSE(callado.activos());
    Preferencias::almacen().remove(QStringLiteral("zentu.sinSonidos"));
    EXPECT_TRUE(sonidos->activos());
}

TEST_F(ConSalidaFalsa, EsperaSeRepiteCadaDosSegundosYMedio) {
    int preguntas = 0;
    bool sigue = true;
    sonidos->esperar([&] {
        ++preguntas;
        return sigue;
    });
    EXPECT_EQ(salida->buffers.size(), 1u);  // at once, without asking
    EXPECT_EQ(preguntas, 0);
    reloj.avanzar(2.15);
    EXPECT_EQ(salida->buffers.size(), 1u);
    reloj.avanzar(0.1);
    EXPECT_EQ(preguntas, 1);
    EXPECT_EQ(salida->buffers.size(), 2u);
    reloj.avanzar(2.2);
    EXPECT_EQ(salida->buffers.size(), 3u);

    // Switched off while waiting: the ticks go on but play nothing.
    sonidos->setActivos(false);
    reloj.avanzar(2.2);
    EXPECT_EQ(preguntas, 3);
    EXPECT_EQ(salida->buffers.size(), 3u);
    sonidos->setActivos(true);

    sigue = false;
    reloj.avanzar(2.2);
    EXPECT_EQ(preguntas, 4);
    EXPECT_EQ(salida->buffers.size(), 3u);
    EXPECT_FALSE(sonidos->esperando());
    reloj.avanzar(10);
    EXPECT_EQ(preguntas, 4);
}

TEST_F(ConSalidaFalsa, EsperaFalsaDesdeElPrincipioYReemplazo) {
    int primera = 0, segunda = 0;
    sonidos->esperar([&] { return ++primera, false; });
    EXPECT_EQ(salida->buffers.size(), 1u);
    reloj.avanzar(1);
    // A second call replaces the first: only one waiting cue repeats.
    sonidos->esperar([&] { return ++segunda, true; });
    EXPECT_EQ(salida->buffers.size(), 2u);
    reloj.avanzar(2.2);
    EXPECT_EQ(primera, 0);
    EXPECT_EQ(segunda, 1);
    EXPECT_EQ(salida->buffers.size(), 3u);
    EXPECT_EQ(reloj.pendientes(), 1);
}

TEST_F(ConSalidaFalsa, SinSalidaSeAnotaYSigue) {
    salida->fallo = QStringLiteral("no hay ninguna salida de audio");
    sonidos->tocar(Sonidos::Cual::aparece);
    ASSERT_EQ(lineas.size(), 1);
    EXPECT_EQ(lineas[0], "[sonidos] no se pudo tocar: no hay ninguna salida de audio");
    // The next cue tries again.
    salida->fallo.reset();
    sonidos->tocar(Sonidos::Cual::seVa);
    EXPECT_EQ(salida->buffers.size(), 1u);
}

TEST_F(ConSalidaFalsa, SonidoDeAvisoSeEscribeUnaVez) {
    const QString ruta = Sonidos::archivoDeAviso();
    EXPECT_TRUE(ruta.endsWith("/sounds/Zentu Aviso.wav"));
    EXPECT_TRUE(ruta.startsWith(qEnvironmentVariable("XDG_DATA_HOME")));
    QFile::remove(ruta);
    sonidos->escribirSonidoDeAviso();
    ASSERT_EQ(lineas.size(), 1);
    EXPECT_EQ(lineas[0], "[sonidos] sonido de aviso escrito en " + ruta);

    QFile f(ruta);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray b = f.readAll();
    f.close();
    ASSERT_EQ(b.size(), 44 + 27783 * 2);
    EXPECT_EQ(b.left(4), "RIFF");
    EXPECT_EQ(leer32(b, 4), quint32(b.size() - 8));
    EXPECT_EQ(b.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(leer32(b, 16), 16u);
    EXPECT_EQ(leer16(b, 20), 1);  // integer PCM, which desktop sound players read
    EXPECT_EQ(leer16(b, 22), 1);  // mono
    EXPECT_EQ(leer32(b, 24), 44100u);
    EXPECT_EQ(leer32(b, 28), 44100u * 2);
    EXPECT_EQ(leer16(b, 32), 2);
    EXPECT_EQ(leer16(b, 34), 16);
    EXPECT_EQ(b.mid(36, 4), "data");
    EXPECT_EQ(leer32(b, 40), 27783u * 2);
    const auto muestras = Sonidos::sonidoDeAviso();
    ASSERT_EQ(muestras.size(), 27783u);
    for (size_t k : {size_t(0), size_t(500), size_t(3969 + 700), size_t(27782)})
        EXPECT_EQ(qint16(leer16(b, 44 + int(k) * 2)), qint16(std::lround(muestras[k] * 32767.0))) << k;
    // The third note (1318.5 Hz from frame 7938, 18522 frames) ends at 0.0001.
    EXPECT_LE(std::abs(muestras[7938 + 18522 - 1]), 0.000101f);

    // A second call leaves the existing file alone, even one that is not ours.
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write("otro");
    f.close();
    sonidos->escribirSonidoDeAviso();
    EXPECT_EQ(lineas.size(), 1);
    EXPECT_EQ(QFileInfo(ruta).size(), 4);
}

// A real output: PulseAudio's null sink "nulo" in the test environment.
TEST(Reproduccion, DosSenalesPorLaSalidaNula) {
    if (qEnvironmentVariableIsEmpty("PULSE_RUNTIME_PATH")) GTEST_SKIP() << "sin PulseAudio de pruebas";
    QStringList lineas;
    Registro::observar([&](const QString& l) { lineas << l; });
    auto s = SalidaAudio::delSistema();
    SalidaAudio* salida = s.get();
    Preferencias::almacen().remove(QStringLiteral("zentu.sinSonidos"));
    Sonidos sonidos(Reloj::sistema(), std::move(s));
    sonidos.tocar(Sonidos::Cual::escucha);
    sonidos.tocar(Sonidos::Cual::recibido);
    EXPECT_TRUE(lineas.isEmpty()) << lineas.join('\n').toStdString();
    EXPECT_GT(salida->pendientes(), 0);
    // Both buffers are handed over to the sound server in turn.
    EXPECT_TRUE(pruebas::esperarHasta([&] { return salida->pendientes() == 0; }, 10000));
    // Idle, then played again.
    pruebas::girar(300);
    sonidos.tocar(Sonidos::Cual::captura);
    EXPECT_TRUE(pruebas::esperarHasta([&] { return salida->pendientes() == 0; }, 10000));
    EXPECT_TRUE(lineas.isEmpty()) << lineas.join('\n').toStdString();
    Registro::observar({});
}
