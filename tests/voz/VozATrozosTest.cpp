#include "zentu/voz/VozATrozos.h"

#include "comun/Ayudas.h"

#include <QCoreApplication>
#include <cmath>
#include <gtest/gtest.h>

using pruebas::esperarHasta;

namespace {

// An output that keeps what it is given and finishes buffers when the test says so.
struct SalidaFalsa : SalidaVoz {
    struct Estado {
        std::vector<std::vector<float>> buffers;
        std::vector<std::function<void()>> completar;
        std::function<void(const float*, int)> escucha;
        bool detenida = false;
        std::optional<QString> fallo;
    };
    explicit SalidaFalsa(std::shared_ptr<Estado> e) : e_(std::move(e)) {}
    std::optional<QString> empezar() override { return e_->fallo; }
    void programar(std::vector<float> m, std::function<void()> f) override {
        e_->buffers.push_back(std::move(m));
        e_->completar.push_back(std::move(f));
    }
    void ponerEscucha(std::function<void(const float*, int)> e) override { e_->escucha = std::move(e); }
    void quitarEscucha() override { e_->escucha = nullptr; }
    void detener() override { e_->detenida = true; }
    std::shared_ptr<Estado> e_;
};

struct Fijo {
    std::shared_ptr<SalidaFalsa::Estado> e = std::make_shared<SalidaFalsa::Estado>();
    VozATrozos voz{std::make_unique<SalidaFalsa>(e)};
    int fines = 0;
    Fijo() { voz.alTerminar = [this] { ++fines; }; }
    void terminar(size_t i) {
        e->completar.at(i)();
        QCoreApplication::processEvents();
    }
};

QByteArray bytes(std::initializer_list<int> b) {
    QByteArray r;
    for (int x : b) r.append(char(x));
    return r;
}

TEST(VozATrozos, TrozosDeCualquierLargoLlevanElByteSueltoAlSiguiente) {
    struct Caso {
        const char* nombre;
        std::vector<int> largos;
        std::vector<size_t> cuadros;  // frames of each scheduled buffer, in order
    };
    const std::vector<Caso> casos = {
        {"3 y 1", {3, 1}, {1, 1}},
        {"1 y 1", {1, 1}, {1}},
        {"par", {4}, {2}},
        {"5 y 5", {5, 5}, {2, 3}},
        {"vacío y 1", {0, 1}, {}},
        {"1, 2 y 1", {1, 2, 1}, {1, 1}},
    };
    for (const auto& c : casos) {
        Fijo f;
        for (int n : c.largos) f.voz.agregar(QByteArray(n, '\0'));
        std::vector<size_t> vistos;
        for (const auto& b : f.e->buffers) vistos.push_back(b.size());
        EXPECT_EQ(vistos, c.cuadros) << c.nombre;
        EXPECT_EQ(f.voz.pendientes(), int(c.cuadros.size())) << c.nombre;
    }
}

TEST(VozATrozos, CadaMuestraEsElEnteroConSignoEntre32768) {
    struct Caso {
        QByteArray datos;
        float esperado;
    };
    const std::vector<Caso> casos = {
        {bytes({0x00, 0x80}), -1.0f},
        {bytes({0xff, 0x7f}), 32767.0f / 32768.0f},
        {bytes({0x01, 0x00}), 1.0f / 32768.0f},
        {bytes({0xff, 0xff}), -1.0f / 32768.0f},
        {bytes({0x00, 0x00}), 0.0f},
    };
    for (const auto& c : casos) {
        const auto m = VozATrozos::aMuestras(c.datos);
        ASSERT_EQ(m.size(), 1u);
        EXPECT_EQ(m[0], c.esperado) << c.datos.toHex().constData();
    }
    // A sample split across two chunks is joined in order: low byte first.
    Fijo f;
    f.voz.agregar(bytes({0x00, 0x00, 0x00}));
    f.voz.agregar(bytes({0x80}));
    ASSERT_EQ(f.e->buffers.size(), 2u);
    EXPECT_EQ(f.e->buffers[1], std::vector<float>{-1.0f});
}

TEST(VozATrozos, ElFinLlegaUnaSolaVezCuandoTodoSeOyo) {
    {
        Fijo f;  // nothing pending: at once, once
        f.voz.cerrar();
        EXPECT_EQ(f.fines, 1);
        f.voz.cerrar();
        EXPECT_EQ(f.fines, 1);
    }
    {
        Fijo f;  // three pending: with the third
        for (int i = 0; i < 3; ++i) f.voz.agregar(QByteArray(480, '\1'));
        f.voz.cerrar();
        f.terminar(0);
        f.terminar(1);
        EXPECT_EQ(f.fines, 0);
        f.terminar(2);
        EXPECT_EQ(f.fines, 1);
        EXPECT_EQ(f.voz.nivel(), 0.0);
    }
    {
        Fijo f;  // a chunk after closing delays the end
        f.voz.agregar(QByteArray(4, '\1'));
        f.voz.cerrar();
        f.voz.agregar(QByteArray(4, '\1'));
        f.terminar(0);
        EXPECT_EQ(f.fines, 0);
        f.terminar(1);
        EXPECT_EQ(f.fines, 1);
    }
    {
        Fijo f;  // stopped before the last buffer finished: no end
        f.voz.agregar(QByteArray(4, '\1'));
        f.voz.agregar(QByteArray(4, '\1'));
        f.voz.cerrar();
        f.terminar(0);
        f.voz.detener();
        EXPECT_TRUE(f.e->detenida);
        EXPECT_FALSE(f.e->escucha);
        f.terminar(1);
        EXPECT_EQ(f.fines, 0);
    }
}

TEST(VozATrozos, ElNivelSigueLaSalida) {
    struct Caso {
        float valor;
        int n;
        std::optional<double> nivel;
    };
    const std::vector<Caso> casos = {
        {0.0f, 1024, 0.0},
        {1.0f, 1024, 1.0},
        {-1.0f, 512, 1.0},
        {0.25f, 1024, std::min(std::sqrt(0.25) * 1.4, 1.0)},
        {0.5f, 0, std::nullopt},
    };
    for (const auto& c : casos) {
        std::vector<float> m(size_t(c.n), c.valor);
        const auto v = VozATrozos::nivelDe(m.data(), c.n);
        ASSERT_EQ(v.has_value(), c.nivel.has_value()) << c.valor;
        if (v) {
            EXPECT_NEAR(*v, *c.nivel, 1e-6) << c.valor;
        }
    }
    Fijo f;
    ASSERT_TRUE(f.e->escucha);
    std::vector<float> alto(1024, 1.0f), nada;
    f.e->escucha(alto.data(), 1024);
    EXPECT_EQ(f.voz.nivel(), 1.0);
    f.e->escucha(nada.data(), 0);  // an empty block leaves it
    EXPECT_EQ(f.voz.nivel(), 1.0);
}

TEST(VozATrozos, QuienNoPuedeAbrirLaSalidaLoDice) {
    Fijo f;
    f.e->fallo = QStringLiteral("no hay ninguna salida de audio");
    EXPECT_EQ(f.voz.empezar(), f.e->fallo);
}

// The real output: the test environment's PulseAudio null sink.
TEST(VozATrozos, SuenaDeVerdadYTermina) {
    VozATrozos voz;
    if (const auto fallo = voz.empezar()) GTEST_SKIP() << fallo->toStdString();
    int fines = 0;
    double maximo = 0;
    // 0.4 s of a half-scale 440 Hz tone, in chunks of odd lengths.
    QByteArray pcm;
    for (int i = 0; i < VozATrozos::kFrecuencia * 4 / 10; ++i) {
        const auto s = int16_t(16384 * std::sin(2 * M_PI * 440 * i / VozATrozos::kFrecuencia));
        pcm.append(char(s & 0xff));
        pcm.append(char((s >> 8) & 0xff));
    }
    // A first piece, played out before the rest arrives: the output idles, then goes on.
    voz.agregar(pcm.left(4800));
    ASSERT_TRUE(esperarHasta([&] { return voz.pendientes() == 0; }, 10000));
    pruebas::girar(300);
    for (qsizetype i = 4800; i < pcm.size(); i += 2401) voz.agregar(pcm.mid(i, 2401));
    voz.alTerminar = [&] { ++fines; };
    voz.cerrar();
    EXPECT_TRUE(esperarHasta([&] {
        maximo = std::max(maximo, voz.nivel());
        return fines == 1;
    }, 10000));
    EXPECT_GT(maximo, 0.5);
    EXPECT_EQ(voz.nivel(), 0.0);
    EXPECT_EQ(voz.pendientes(), 0);
}

}  // namespace
