// The permission operations against a recorded stand-in of the desktop session: what is asked,
// which settings open, how the screen probe is remembered, and the relaunch's argument vector.
#include "zentu/isla/Permisos.h"

#include "comun/Ayudas.h"
#include "plataforma/Privacidad.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

class PrivacidadFalsa : public Privacidad {
public:
    Estado estadoMicrofono = Estado::negado;
    bool permitida = true;
    Captura sonda = Captura::funciona;
    bool lanzaBien = true;
    QStringList llamadas;
    Orden lanzado;

    Estado microfono() override { return estadoMicrofono; }
    void solicitarMicrofono() override { llamadas << "solicitarMicrofono"; }
    bool pantallaPermitida() override { return permitida; }
    void solicitarPantalla() override { llamadas << "solicitarPantalla"; }
    QCoro::Task<Captura> probarPantalla() override {
        llamadas << "sonda";
        co_return sonda;
    }
    bool abrirAjustes(Ajuste a) override {
        llamadas << QStringLiteral("ajustes %1").arg(static_cast<int>(a));
        return true;
    }
    bool lanzar(const QString& programa, const QStringList& argumentos) override {
        llamadas << "lanzar";
        lanzado = Orden{programa, argumentos};
        return lanzaBien;
    }
    void terminar() override { llamadas << "terminar"; }
};

class PermisosTest : public ::testing::Test {
protected:
    void SetUp() override { Privacidad::usar(&falsa_); }
    void TearDown() override { Privacidad::usar(nullptr); }
    PrivacidadFalsa falsa_;
};

QString ajustes(Privacidad::Ajuste a) { return QStringLiteral("ajustes %1").arg(static_cast<int>(a)); }

TEST_F(PermisosTest, CasosEnOrdenConSuValorComoIdentificador) {
    const auto& todos = Permiso::todos();
    ASSERT_EQ(todos.size(), 3u);
    EXPECT_EQ(todos[0], Permiso::microfono);
    EXPECT_EQ(todos[1], Permiso::pantalla);
    EXPECT_EQ(todos[2], Permiso::accesibilidad);
    const QStringList valores{"microfono", "pantalla", "accesibilidad"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(todos[i].valor(), valores[i]);
        EXPECT_EQ(todos[i].id(), valores[i]);
        EXPECT_EQ(Permiso::desdeValor(valores[i]), todos[i]);
    }
    EXPECT_EQ(Permiso::desdeValor("camara"), std::nullopt);
}

TEST_F(PermisosTest, PedirPreguntaOAbreLosAjustes) {
    falsa_.estadoMicrofono = Privacidad::Estado::sinDecidir;
    Permiso(Permiso::microfono).pedir();
    EXPECT_EQ(falsa_.llamadas, QStringList{"solicitarMicrofono"});  // only the question, no settings

    for (const auto estado :
         {Privacidad::Estado::negado, Privacidad::Estado::restringido, Privacidad::Estado::concedido}) {
        falsa_.llamadas.clear();
        falsa_.estadoMicrofono = estado;
        Permiso(Permiso::microfono).pedir();
        EXPECT_EQ(falsa_.llamadas, QStringList{ajustes(Privacidad::Ajuste::microfono)});
    }

    falsa_.llamadas.clear();
    Permiso(Permiso::pantalla).pedir();
    EXPECT_EQ(falsa_.llamadas, (QStringList{"solicitarPantalla", ajustes(Privacidad::Ajuste::pantalla)}));

    falsa_.llamadas.clear();
    Permiso(Permiso::accesibilidad).pedir();
    EXPECT_EQ(falsa_.llamadas, QStringList{ajustes(Privacidad::Ajuste::accesibilidad)});
}

TEST_F(PermisosTest, LaSondaDePantallaSeRecuerda) {
    // First use takes the session's preflight answer.
    falsa_.permitida = true;
    EXPECT_TRUE(Permiso::pantallaFunciona());

    // Not allowed: false at once, without probing.
    falsa_.permitida = false;
    EXPECT_FALSE(pruebas::esperar(Permiso::probarPantalla()));
    EXPECT_FALSE(falsa_.llamadas.contains("sonda"));
    EXPECT_FALSE(Permiso::pantallaFunciona());

    falsa_.permitida = true;
    EXPECT_TRUE(pruebas::esperar(Permiso::probarPantalla()));
    EXPECT_TRUE(falsa_.llamadas.contains("sonda"));
    EXPECT_TRUE(Permiso::pantallaFunciona());

    // Allowed but failing: granted during this run, works only after a relaunch.
    falsa_.sonda = Privacidad::Captura::noFunciona;
    EXPECT_FALSE(pruebas::esperar(Permiso::probarPantalla()));
    EXPECT_FALSE(Permiso::pantallaFunciona());
    EXPECT_TRUE(Permiso::pantallaOfrecida());
    Permiso::ponerPantallaFunciona(true);
    EXPECT_TRUE(Permiso::pantallaFunciona());

    // A desktop that offers no capture at all is remembered as such, until a probe finds one.
    falsa_.sonda = Privacidad::Captura::noOfrecida;
    EXPECT_FALSE(pruebas::esperar(Permiso::probarPantalla()));
    EXPECT_FALSE(Permiso::pantallaFunciona());
    EXPECT_FALSE(Permiso::pantallaOfrecida());
    falsa_.sonda = Privacidad::Captura::funciona;
    EXPECT_TRUE(pruebas::esperar(Permiso::probarPantalla()));
    EXPECT_TRUE(Permiso::pantallaOfrecida());
}

TEST_F(PermisosTest, ReabrirLanzaConVectorDeArgumentosYTermina) {
    falsa_.lanzaBien = false;  // ends this process even when the new one cannot start
    Permiso::reabrirApp();
    EXPECT_EQ(falsa_.llamadas, (QStringList{"lanzar", "terminar"}));
    EXPECT_EQ(falsa_.lanzado.programa, "/bin/sh");
    ASSERT_GE(falsa_.lanzado.argumentos.size(), 3);
    EXPECT_EQ(falsa_.lanzado.argumentos[0], "-c");
    // The script is fixed; the path is a separate argument, never part of the script.
    EXPECT_FALSE(falsa_.lanzado.argumentos[1].contains(QCoreApplication::applicationFilePath()));
    EXPECT_EQ(falsa_.lanzado.argumentos[2], QCoreApplication::applicationFilePath());
    EXPECT_EQ(falsa_.lanzado.argumentos.mid(3), QCoreApplication::arguments().mid(1));
}

}  // namespace
