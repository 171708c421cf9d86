// Hot keys and the hold-to-talk chord against a real X server, with keys typed through XTest.
#include "zentu/isla/Atajo.h"

#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"
#include "plataforma/Teclado.h"

#include <QElapsedTimer>
#include <QProcess>
#include <gtest/gtest.h>
#include <cstdlib>
#include <string>
#include <vector>

#include <xcb/xcb.h>

using Cual = Atajos::Cual;

namespace {

// Types through XTest while the event loop keeps running, so that what the program sees
// arrives with its real timing.
void teclear(const QStringList& argumentos) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), argumentos);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return xdotool.state() == QProcess::NotRunning; }, 10000));
    ASSERT_EQ(xdotool.exitCode(), 0) << argumentos.join(' ').toStdString();
}

// Another program on the same desktop that holds a key combination for itself.
class OtroPrograma {
public:
    OtroPrograma() {
        conexion_ = xcb_connect(nullptr, nullptr);
        raiz_ = xcb_setup_roots_iterator(xcb_get_setup(conexion_)).data->root;
    }
    ~OtroPrograma() { xcb_disconnect(conexion_); }

    // True when the desktop granted it.
    bool tomar(xcb_keycode_t codigo, uint16_t mascara) {
        auto cookie = xcb_grab_key_checked(conexion_, 0, raiz_, mascara, codigo, XCB_GRAB_MODE_ASYNC,
                                           XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t* error = xcb_request_check(conexion_, cookie);
        std::free(error);
        return !error;
    }
    void soltar(xcb_keycode_t codigo, uint16_t mascara) {
        xcb_ungrab_key(conexion_, codigo, raiz_, mascara);
        xcb_aux_sync();
    }

private:
    void xcb_aux_sync() { std::free(xcb_get_input_focus_reply(conexion_, xcb_get_input_focus(conexion_), nullptr)); }
    xcb_connection_t* conexion_;
    xcb_window_t raiz_;
};

constexpr xcb_keycode_t espacioX = 65, kX = 45;
constexpr uint16_t altX = XCB_MOD_MASK_1, ctlX = XCB_MOD_MASK_CONTROL;

class PruebaX11 : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 1; i <= 5; ++i) Preferencias::almacen().remove(QStringLiteral("zentu.atajo.%1").arg(i));
        Registro::observar([this](const QString& l) { lineas.push_back(l); });
    }
    void TearDown() override { Registro::observar({}); }

    void escuchar(Atajos& atajos) {
        atajos.alPulsar = [this](Cual c) { vistos.push_back("P" + std::to_string(static_cast<int>(c))); };
        atajos.alSoltar = [this](Cual c) { vistos.push_back("S" + std::to_string(static_cast<int>(c))); };
    }
    bool ver(const std::vector<std::string>& esperados) {
        const bool llego = pruebas::esperarHasta([&] { return vistos.size() >= esperados.size(); }, 5000);
        pruebas::girar(150);  // nothing more may follow
        return llego && vistos == esperados;
    }

    std::vector<std::string> vistos;
    std::vector<QString> lineas;
};

}  // namespace

TEST_F(PruebaX11, AtajoRealPulsaYSuelta) {
    Atajos atajos;
    escuchar(atajos);
    for (Cual cual : Atajos::todas) EXPECT_TRUE(atajos.registrada(cual));

    teclear({"key", "alt+space"});
    EXPECT_TRUE(ver({"P1", "S1"}));
    vistos.clear();
    teclear({"key", "alt+shift+p"});
    EXPECT_TRUE(ver({"P3", "S3"}));

    // The lock keys do not get in the way.
    vistos.clear();
    teclear({"key", "Caps_Lock"});
    teclear({"key", "alt+shift+z"});
    teclear({"key", "Caps_Lock"});
    teclear({"key", "Num_Lock"});
    teclear({"key", "alt+shift+c"});
    teclear({"key", "Num_Lock"});
    EXPECT_TRUE(ver({"P4", "S4", "P5", "S5"}));

    // A changed combination answers on its new keys only.
    vistos.clear();
    ASSERT_EQ(atajos.cambiar(Cual::chat, {40, Teclado::control | Teclado::option}), std::nullopt);
    teclear({"key", "alt+shift+c"});
    teclear({"key", "ctrl+alt+k"});
    EXPECT_TRUE(ver({"P5", "S5"}));
    atajos.pausar(true);
}

TEST_F(PruebaX11, TeclaSostenidaDaUnaPulsacionYUnaSuelta) {
    Atajos atajos;
    escuchar(atajos);
    // Held for a second: the server repeats the key many times meanwhile.
    teclear({"keydown", "alt+shift+p", "sleep", "1.2", "keyup", "alt+shift+p"});
    EXPECT_TRUE(ver({"P3", "S3"})) << ::testing::PrintToString(vistos);
    atajos.pausar(true);
}

TEST_F(PruebaX11, OtroProgramaYaLaTiene) {
    OtroPrograma otro;
    ASSERT_TRUE(otro.tomar(espacioX, altX));  // as a window manager does with Alt+Space
    {
        Atajos atajos;
        escuchar(atajos);
        EXPECT_FALSE(atajos.registrada(Cual::llamada));
        EXPECT_TRUE(atajos.registrada(Cual::conversacion));
        EXPECT_EQ(lineas, std::vector<QString>{"[atajo] no se pudo registrar Alt+Espacio (10)"});

        // The program keeps working: the other hot keys answer.
        teclear({"key", "alt+shift+space"});
        EXPECT_TRUE(ver({"P2", "S2"}));

        ASSERT_TRUE(otro.tomar(kX, ctlX | altX));
        EXPECT_EQ(atajos.cambiar(Cual::pantalla, {40, Teclado::control | Teclado::option}),
                  "El escritorio u otra app ya usa Ctrl+Alt+K. Elige otra combinación.");
        EXPECT_EQ(Atajos::combinacion(Cual::pantalla), Atajos::porDefecto(Cual::pantalla));
        vistos.clear();
        teclear({"key", "alt+shift+p"});
        EXPECT_TRUE(ver({"P3", "S3"})) << "still on its old keys";

        // Once the other program lets go, the combination can be taken.
        otro.soltar(espacioX, altX);
        EXPECT_EQ(atajos.cambiar(Cual::llamada, {49, Teclado::option}), std::nullopt);
        vistos.clear();
        teclear({"key", "alt+space"});
        EXPECT_TRUE(ver({"P1", "S1"}));
        atajos.pausar(true);
    }
    otro.soltar(kX, ctlX | altX);
}

TEST_F(PruebaX11, PausarDevuelveLasTeclas) {
    Atajos atajos;
    OtroPrograma otro;
    EXPECT_FALSE(otro.tomar(espacioX, altX));
    EXPECT_FALSE(otro.tomar(espacioX, altX | XCB_MOD_MASK_LOCK)) << "the caps lock variant is ours too";
    atajos.pausar(true);
    EXPECT_TRUE(otro.tomar(espacioX, altX));
    otro.soltar(espacioX, altX);
    atajos.pausar(false);
    EXPECT_TRUE(atajos.registrada(Cual::llamada));
    EXPECT_FALSE(otro.tomar(espacioX, altX));
    atajos.pausar(true);
}

TEST_F(PruebaX11, AcordeControlSuper) {
    auto& acorde = TeclasModificadoras::shared();
    QElapsedTimer reloj;
    std::vector<std::pair<std::string, qint64>> llamadas;
    acorde.alPulsar = [&] { llamadas.push_back({"P", reloj.elapsed()}); };
    acorde.alSoltar = [&] { llamadas.push_back({"S", reloj.elapsed()}); };
    acorde.alCancelar = [&] { llamadas.push_back({"C", reloj.elapsed()}); };
    acorde.encender(true);
    EXPECT_EQ(lineas, std::vector<QString>{"[atajo] control + Super: escuchando · permiso de Accesibilidad: true"});
    auto nombres = [&] {
        std::string s;
        for (const auto& [n, t] : llamadas) s += n;
        return s;
    };

    // Held past the 0.2 s threshold (with room for a slow machine), then released.
    reloj.start();
    teclear({"keydown", "ctrl+super", "sleep", "0.5", "keyup", "ctrl+super"});
    pruebas::girar(200);
    ASSERT_EQ(nombres(), "PS");
    EXPECT_GE(llamadas[0].second, 190);
    EXPECT_GE(llamadas[1].second, 290);

    // A short tap calls nothing.
    llamadas.clear();
    teclear({"key", "ctrl+super"});
    pruebas::girar(500);
    EXPECT_EQ(nombres(), "");

    // A key typed while held cancels; the release then calls nothing.
    teclear({"keydown", "ctrl+super", "sleep", "0.4", "key", "a", "sleep", "0.1", "keyup", "ctrl+super"});
    pruebas::girar(300);
    EXPECT_EQ(nombres(), "PC");

    // A third modifier: no chord.
    llamadas.clear();
    teclear({"keydown", "ctrl+super+shift", "sleep", "0.4", "keyup", "ctrl+super+shift"});
    pruebas::girar(300);
    EXPECT_EQ(nombres(), "");

    // Switched off: nothing at all.
    acorde.encender(false);
    teclear({"keydown", "ctrl+super", "sleep", "0.4", "keyup", "ctrl+super"});
    pruebas::girar(300);
    EXPECT_EQ(nombres(), "");
    Preferencias::almacen().remove("zentu.fnControl");
}
