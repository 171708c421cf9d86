// The hot-key recorder against a real X server: the global keys are given back while it records,
// so a combination the program itself holds reaches the window and is judged; keys typed
// through XTest.
#include "zentu/ajustes/ModeloAjustes.h"

#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Teclado.h"

#include <QApplication>
#include <QLineEdit>
#include <QProcess>
#include <gtest/gtest.h>

using Cual = Atajos::Cual;

namespace {

void teclear(const QStringList& argumentos) {
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), argumentos);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return xdotool.state() == QProcess::NotRunning; }, 10000));
    ASSERT_EQ(xdotool.exitCode(), 0) << argumentos.join(' ').toStdString();
}

void borrar() {
    for (int i = 1; i <= 5; ++i) Preferencias::almacen().remove(QStringLiteral("zentu.atajo.%1").arg(i));
}

}  // namespace

TEST(X11GrabadorTeclas, GrabaConTeclasReales) {
    borrar();
    Atajos atajos;
    EstadoVoz voz;
    ModeloAjustes m(atajos, voz, true, [] { return std::optional<Cuenta>(); }, [] {}, [](bool) {}, [] {});
    m.encenderFnControl = [](bool) {};
    ASSERT_TRUE(atajos.registrada(Cual::llamada)) << "otro programa tiene Alt+Espacio";

    QLineEdit campo;
    campo.show();
    campo.activateWindow();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return QApplication::focusWidget() == &campo; }));

    struct Caso {
        const char* teclas;
        Cual cual;
        bool sigueGrabando;
        std::optional<QString> error;
        Combinacion guardada;
    };
    const Caso casos[] = {
        {"alt+shift+k", Cual::zona, false, std::nullopt, {40, Teclado::option | Teclado::shift}},
        // The program's own call key, free while recording, so the window sees it.
        {"alt+space", Cual::chat, false, QStringLiteral("Esa combinación ya es la de la llamada."), Atajos::porDefecto(Cual::chat)},
        {"Left", Cual::pantalla, true, ModeloAjustes::textoSinModificador, Atajos::porDefecto(Cual::pantalla)},
        // Accepted; the refusal of the same recording stays on screen.
        {"F5", Cual::pantalla, false, ModeloAjustes::textoSinModificador, {96, 0}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.teclas);
        if (!m.grabando()) m.grabar(c.cual);
        EXPECT_FALSE(atajos.registrada(Cual::llamada));
        teclear({"key", "--clearmodifiers", c.teclas});
        if (c.sigueGrabando) {
            EXPECT_TRUE(pruebas::esperarHasta([&] { return m.error().has_value(); }));
        } else {
            EXPECT_TRUE(pruebas::esperarHasta([&] { return !m.grabando().has_value(); }));
        }
        EXPECT_EQ(m.grabando().has_value(), c.sigueGrabando);
        EXPECT_EQ(m.error(), c.error);
        EXPECT_EQ(m.combinacion(c.cual), c.guardada);
        EXPECT_EQ(Atajos::combinacion(c.cual), c.guardada);
        if (!c.sigueGrabando) {
            EXPECT_TRUE(atajos.registrada(Cual::llamada)) << "las teclas vuelven al terminar";
        }
    }
    EXPECT_TRUE(campo.text().isEmpty()) << "nada de lo pulsado llegó al campo";
    m.restablecerAtajos();
    borrar();
}
