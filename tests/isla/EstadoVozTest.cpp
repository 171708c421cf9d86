#include "zentu/isla/EstadoVoz.h"

#include "plataforma/Preferencias.h"

#include <QSignalSpy>
#include <gtest/gtest.h>
#include <cmath>
#include <limits>

namespace {

const QString clave = QStringLiteral("zentu.isla.escala");

class PruebaEstadoVoz : public ::testing::Test {
protected:
    void SetUp() override { Preferencias::almacen().remove(clave); }
    void TearDown() override { Preferencias::almacen().remove(clave); }
};

}  // namespace

TEST_F(PruebaEstadoVoz, ValoresIniciales) {
    EstadoVoz e;
    EXPECT_EQ(e.fase(), Fase::reposo);
    EXPECT_FALSE(e.silencio());
    EXPECT_FALSE(e.visible());
    EXPECT_FALSE(e.modoChat());
    EXPECT_EQ(e.agenteDelChat(), "Zentu");
    EXPECT_FALSE(e.vozEnChat());
    EXPECT_FALSE(e.quieto());
    EXPECT_FALSE(e.aviso());
    EXPECT_FALSE(e.timbre());
    EXPECT_DOUBLE_EQ(e.escala(), 1.4);
    EXPECT_EQ(e.nivelBruto, 0);
    EXPECT_EQ(e.animado, (EstadoVoz::Medidas{0.12, 0.08, 0.82, 0.45}));
    EXPECT_EQ(e.nivel, 0);
    EXPECT_EQ(e.tiempo, 0);
    EXPECT_FALSE(e.ultimo());
    EXPECT_FALSE(Preferencias::almacen().contains(clave));
}

// The stored scale as read at creation; the key itself is never rewritten by reading.
TEST_F(PruebaEstadoVoz, EscalaGuardadaAlCrear) {
    struct Caso {
        QVariant guardado;
        double esperada;
    };
    const Caso casos[] = {
        {QVariant(), 1.4},          {0.0, 1.4},      {0.5, 0.9},          {5.0, 2.2},
        {1.7, 1.7},                 {0.9, 0.9},      {2.2, 2.2},          {-3.0, 0.9},
        {QStringLiteral("1.7"), 1.7}, {QStringLiteral("nada"), 1.4},
        {std::numeric_limits<double>::quiet_NaN(), 0.9},
        {std::numeric_limits<double>::infinity(), 2.2},
    };
    for (const auto& c : casos) {
        if (c.guardado.isValid()) Preferencias::almacen().setValue(clave, c.guardado);
        else Preferencias::almacen().remove(clave);
        Preferencias::almacen().sync();
        EstadoVoz e;
        EXPECT_DOUBLE_EQ(e.escala(), c.esperada) << c.guardado.toString().toStdString();
        if (c.guardado.isValid()) {
            const QVariant queda = Preferencias::almacen().value(clave);
            EXPECT_EQ(queda.toString(), c.guardado.toString()) << "no se reescribe";
        } else {
            EXPECT_FALSE(Preferencias::almacen().contains(clave));
        }
    }
}

// An out-of-range assignment is seen twice (as given, then clamped); only the clamp is stored.
TEST_F(PruebaEstadoVoz, AsignarEscala) {
    struct Caso {
        double asignada;
        std::vector<double> vistas;
        double guardada;
    };
    const Caso casos[] = {
        {3.0, {3.0, 2.2}, 2.2},
        {1.2, {1.2}, 1.2},
        {0.0, {0.0, 0.9}, 0.9},
        {-1.0, {-1.0, 0.9}, 0.9},
        {std::numeric_limits<double>::quiet_NaN(), {0.9}, 0.9},
        {std::numeric_limits<double>::infinity(), {std::numeric_limits<double>::infinity(), 2.2}, 2.2},
    };
    for (const auto& c : casos) {
        Preferencias::almacen().remove(clave);
        EstadoVoz e;  // starts at 1.4
        std::vector<double> vistas;
        QObject::connect(&e, &EstadoVoz::escalaCambio, [&] { vistas.push_back(e.escala()); });
        e.setEscala(c.asignada);
        EXPECT_EQ(vistas, c.vistas) << c.asignada;
        EXPECT_DOUBLE_EQ(e.escala(), c.guardada);
        EXPECT_DOUBLE_EQ(Preferencias::almacen().value(clave).toDouble(), c.guardada);
        EstadoVoz otro;
        EXPECT_DOUBLE_EQ(otro.escala(), c.guardada) << "sobrevive al proceso";
    }
}

TEST_F(PruebaEstadoVoz, CamposPublicadosAvisan) {
    EstadoVoz e;
    QSignalSpy todos(&e, &EstadoVoz::cambio);
    QSignalSpy fase(&e, &EstadoVoz::faseCambio);
    QSignalSpy aviso(&e, &EstadoVoz::avisoCambio);
    e.setFase(Fase::hablando);
    e.setFase(Fase::hablando);  // same value: nothing to announce
    e.setAviso(QStringLiteral("Sin conexión"));
    e.setAviso(std::nullopt);
    e.setTimbre(QStringLiteral("Ana"));
    e.setSilencio(true);
    e.setVisible(true);
    e.setModoChat(true);
    e.setVozEnChat(true);
    e.setQuieto(true);
    e.setAgenteDelChat(QStringLiteral("Ventas"));
    EXPECT_EQ(fase.count(), 1);
    EXPECT_EQ(aviso.count(), 2);
    EXPECT_EQ(todos.count(), 10);
    // The animation's plain fields announce nothing.
    e.nivelBruto = 0.7;
    e.avanzar(1.0);
    e.avanzar(1.05);
    EXPECT_EQ(todos.count(), 10);
}

TEST_F(PruebaEstadoVoz, PrimerPasoYPausaLarga) {
    EstadoVoz e;
    e.setFase(Fase::hablando);
    e.nivelBruto = 1;
    e.avanzar(100.0);
    EXPECT_EQ(e.ultimo(), 100.0);
    EXPECT_EQ(e.tiempo, 0);
    EXPECT_EQ(e.animado, EstadoVoz::objetivo(Fase::reposo));
    EXPECT_EQ(e.nivel, 0);
    e.avanzar(101.0);  // a whole second later: at most 0.05 s of motion
    EXPECT_DOUBLE_EQ(e.tiempo, 0.05);
    EXPECT_DOUBLE_EQ(e.animado.energia, 0.12 + (0.55 - 0.12) * 0.15);
}

TEST_F(PruebaEstadoVoz, RelojHaciaAtrasNoMueveNada) {
    EstadoVoz e;
    e.setFase(Fase::timbrando);
    e.avanzar(100.0);
    e.avanzar(40.0);
    EXPECT_EQ(e.tiempo, 0);
    EXPECT_EQ(e.animado, EstadoVoz::objetivo(Fase::reposo));
    e.avanzar(40.05);
    EXPECT_NEAR(e.animado.energia, 0.207, 1e-12);
    e.avanzar(std::numeric_limits<double>::quiet_NaN());
    EXPECT_NEAR(e.animado.energia, 0.207, 1e-12);
    EXPECT_DOUBLE_EQ(*e.ultimo(), 40.05);
}

TEST_F(PruebaEstadoVoz, TimbrandoUnPaso) {
    EstadoVoz e;
    e.avanzar(0.0);
    e.setFase(Fase::timbrando);
    e.avanzar(0.05);
    EXPECT_NEAR(e.animado.energia, 0.207, 1e-12);
    EXPECT_NEAR(e.animado.giro, 0.08 + (0.70 - 0.08) * 0.15, 1e-12);
    EXPECT_NEAR(e.animado.escala, 0.82 + (1.06 - 0.82) * 0.15, 1e-12);
    EXPECT_NEAR(e.animado.brillo, 0.45 + (1.00 - 0.45) * 0.15, 1e-12);
}

TEST_F(PruebaEstadoVoz, ObjetivosDeCadaFase) {
    struct Caso {
        Fase fase;
        EstadoVoz::Medidas medidas;
    };
    const Caso casos[] = {
        {Fase::reposo, {0.12, 0.08, 0.82, 0.45}},     {Fase::conectando, {0.18, 0.40, 0.86, 0.55}},
        {Fase::escuchando, {0.35, 0.18, 1.00, 0.85}}, {Fase::pensando, {0.22, 0.55, 0.92, 0.70}},
        {Fase::hablando, {0.55, 0.24, 1.04, 1.00}},   {Fase::timbrando, {0.70, 0.70, 1.06, 1.00}},
    };
    for (const auto& c : casos) {
        EXPECT_EQ(EstadoVoz::objetivo(c.fase), c.medidas);
        // Stepped long enough, the orb settles on the phase's target.
        EstadoVoz e;
        e.setFase(c.fase);
        for (int i = 0; i <= 2000; ++i) e.avanzar(i * 0.05);
        EXPECT_NEAR(e.animado.energia, c.medidas.energia, 1e-9);
        EXPECT_NEAR(e.animado.giro, c.medidas.giro, 1e-9);
        EXPECT_NEAR(e.animado.escala, c.medidas.escala, 1e-9);
        EXPECT_NEAR(e.animado.brillo, c.medidas.brillo, 1e-9);
    }
}

TEST_F(PruebaEstadoVoz, NivelSubeRapidoYBajaDespacio) {
    EstadoVoz e;
    e.setFase(Fase::hablando);
    e.nivelBruto = 1.7;
    e.avanzar(0.0);
    e.avanzar(0.05);
    EXPECT_NEAR(e.nivel, 0.9, 1e-12);  // toward 1 (the raw level is capped), factor 0.9
    e.avanzar(0.10);
    EXPECT_NEAR(e.nivel, 0.99, 1e-12);
    for (int i = 3; i < 60; ++i) e.avanzar(i * 0.05);
    EXPECT_NEAR(e.nivel, 1.0, 1e-12);
    e.setFase(Fase::pensando);
    const double antes = e.nivel;
    e.avanzar(60 * 0.05);
    EXPECT_NEAR(e.nivel, antes * 0.75, 1e-12);
    e.avanzar(61 * 0.05);
    EXPECT_NEAR(e.nivel, antes * 0.75 * 0.75, 1e-12);
}

// Which phases listen to the raw level at all.
TEST_F(PruebaEstadoVoz, ObjetivoDelNivel) {
    struct Caso {
        Fase fase;
        bool silencio;
        double bruto;
        double tras;  // level after one 0.05 s frame from 0
    };
    const Caso casos[] = {
        {Fase::escuchando, false, 0.5, 0.45}, {Fase::escuchando, true, 0.5, 0.0},
        {Fase::hablando, true, 0.5, 0.45},    {Fase::timbrando, false, 0.8, 0.0},
        {Fase::pensando, false, 0.8, 0.0},    {Fase::reposo, false, 0.8, 0.0},
        {Fase::conectando, false, 0.8, 0.0},  {Fase::hablando, false, -0.5, -0.125},
    };
    for (const auto& c : casos) {
        EstadoVoz e;
        e.setFase(c.fase);
        e.setSilencio(c.silencio);
        e.nivelBruto = c.bruto;
        e.avanzar(10.0);
        e.avanzar(10.05);
        EXPECT_NEAR(e.nivel, c.tras, 1e-12) << static_cast<int>(c.fase) << " " << c.silencio;
    }
}

// The settings previews step a fresh state 45 times at i/30 s: the orb starts in mid-motion.
TEST_F(PruebaEstadoVoz, PasosDeLaVistaPrevia) {
    EstadoVoz e;
    e.setVisible(true);
    e.setFase(Fase::escuchando);
    e.nivelBruto = 0.45;
    for (int i = 0; i < 45; ++i) e.avanzar(i / 30.0);
    EXPECT_NEAR(e.tiempo, 44 / 30.0, 1e-9);
    EXPECT_GT(e.animado.energia, 0.12);
    EXPECT_LT(e.animado.energia, 0.35);
    EXPECT_NEAR(e.nivel, 0.45, 1e-6);
}

TEST_F(PruebaEstadoVoz, AvanzarConFechas) {
    EstadoVoz e;
    e.setFase(Fase::timbrando);
    const QDateTime t0 = QDateTime::currentDateTimeUtc();
    e.avanzar(t0);
    e.avanzar(t0.addMSecs(50));
    EXPECT_NEAR(e.animado.energia, 0.207, 1e-9);
    EXPECT_NEAR(e.tiempo, 0.05, 1e-9);
}
