// The shell's doors and its tray over fakes: links, the automation bridge, files and text sent
// to the program, and the agents of the tray menu.
#include "Falsos.h"

#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "zentu/app/Bandeja.h"
#include "zentu/app/Puertas.h"
#include "zentu/app/PuenteAtajos.h"

#include <QMenu>
#include <gtest/gtest.h>

using falsos::cuentaDePrueba;

namespace {

class Puertas_ : public ::testing::Test {
protected:
    void SetUp() override {
        Preferencias::almacen().clear();
        Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
        Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
        PuenteAtajos::compartido().vaciar();
        e.guardada = cuentaDePrueba();
        app = std::make_unique<App>(e);
        app->arrancar();
        e.traza.olvidar();
    }
    void TearDown() override {
        Preferencias::almacen().clear();
        PuenteAtajos::compartido().vaciar();
    }
    Bandeja& bandeja() { return *qobject_cast<Bandeja*>(app->item.get()); }

    falsos::Entorno e;
    std::unique_ptr<App> app;
};

TEST_F(Puertas_, EnlacesLlevanALaAccion) {
    app->abrirEnlaces({"zuzadari://llamada"});
    EXPECT_EQ(app->modo, App::Modo::llamada);
    app->abrirEnlaces({"zuzadari://llamada"});  // during a call: left running
    EXPECT_EQ(app->modo, App::Modo::llamada);
    EXPECT_FALSE(e.traza.pasos.contains("llamada colgar"));

    app->abrirEnlaces({"zuzadari://chat"});
    EXPECT_TRUE(e.traza.pasos.contains("chat mostrar"));

    // A voice note from a link only while the chat is on screen.
    e.traza.olvidar();
    app->panelChat->retirar();
    app->abrirEnlaces({"zuzadari://nota"});
    EXPECT_EQ(e.traza.pasos, QStringList{"chat retirar"});

    // The credits card over the feeder's snapshot, at the pointer.
    e.widgets->foto_ = Instantanea::ejemplo();
    app->abrirEnlaces({"zuzadari://creditos"});
    ASSERT_TRUE(app->tarjeta);
    EXPECT_EQ(app->tarjeta->width(), 368);  // the card and its shadow's room
}

TEST_F(Puertas_, TarjetaSinAlimentadorNiArchivo) {
    app->desenlazar();
    app->abrirEnlaces({"zuzadari://dia"});
    ASSERT_TRUE(app->tarjeta);  // over an empty snapshot
    EXPECT_EQ(app->tarjeta->width(), 428);
}

TEST_F(Puertas_, PuenteAtajos) {
    PuenteAtajos& p = PuenteAtajos::compartido();
    ASSERT_TRUE(p.preguntar);
    e.chat->respuesta = QStringLiteral("Vendiste 12.");
    auto r = pruebas::esperar(p.preguntarAZentu(QStringLiteral("¿Cuánto vendí?")));
    EXPECT_EQ(r.texto, "Vendiste 12.");
    EXPECT_TRUE(e.traza.pasos.contains("chat preguntar ¿Cuánto vendí? · 90"));

    e.pendientes->dudas = {QJsonObject{{"id", 1}, {"question", "¿Precio?"}}, QJsonObject{{"id", 2}, {"question", 5}},
                           QJsonObject{{"id", 3}, {"question", "¿Horario?"}}};
    app->totalPendientes = 4;
    r = p.verPendientesDeZentu();
    EXPECT_EQ(r.texto, "Tienes 4 pendientes.\n1. ¿Precio?\n2. ¿Horario?");
    EXPECT_EQ(r.valor, 4);

    EXPECT_TRUE(p.abrirChatDeZentu().ok);
    EXPECT_TRUE(e.traza.pasos.contains("chat mostrar"));

    // Unpaired: the closures stay, every action says so.
    app->desenlazar();
    for (const ResultadoAtajo& x : {p.verPendientesDeZentu(), pruebas::esperar(p.llamarAZentu()), p.abrirChatDeZentu(),
                                    pruebas::esperar(p.preguntarAZentu(QStringLiteral("¿?")))})
        EXPECT_EQ(x.texto, "Abre Zentu AI en este equipo y enlázalo con tu cuenta primero.");
}

TEST_F(Puertas_, EnviadoAZentu) {
    app->recibirEnvio({}, QStringLiteral("uno\n\ndos"));
    EXPECT_EQ(e.chat->borrador_, "> uno\n> \n> dos\n\n");
    ASSERT_FALSE(e.traza.cues().isEmpty());
    EXPECT_EQ(e.traza.cues().first(), "recibido");
    app->recibirEnvio({"/tmp/a.pdf", "/tmp/b.pdf"}, QStringLiteral("y texto"));
    EXPECT_EQ(e.chat->pendientes, QStringList{"/tmp/a.pdf"});

    // From the command line of a second start.
    const QStringList args = Puertas::preparar({"zentu", "--enviar-texto"}, [] { return QStringLiteral("hola"); });
    EXPECT_EQ(args, (QStringList{"zentu", "--enviar-texto", "hola"}));
    app->recibirArgumentos(args.mid(1));
    EXPECT_TRUE(e.chat->borrador_.endsWith("> hola\n\n"));
}

TEST(PuertasEnvio, Preparar) {
    const QString aqui = QDir::currentPath();
    EXPECT_EQ(Puertas::preparar({"zentu", "--enviar-a-zentu", "a.txt", "/x/b.pdf", "file:///x/c%20d.png", "--chat"}, {}),
              (QStringList{"zentu", "--enviar-a-zentu", aqui + "/a.txt", "/x/b.pdf", "/x/c d.png", "--chat"}));
    EXPECT_EQ(Puertas::preparar({"zentu", "a.txt"}, {}), (QStringList{"zentu", "a.txt"}));
    // A name that begins with ":" is the owner's file in the caller's folder, never a resource.
    EXPECT_EQ(Puertas::preparar({"zentu", "--enviar-a-zentu", ":precios.txt", "sub/../b.pdf"}, {}, "/home/dueno"),
              (QStringList{"zentu", "--enviar-a-zentu", "/home/dueno/:precios.txt", "/home/dueno/b.pdf"}));
    const auto e1 = Puertas::envio({"zentu", "--enviar-a-zentu", "/x/a", "/x/b", "--chat"});
    ASSERT_TRUE(e1);
    EXPECT_EQ(e1->archivos, (QStringList{"/x/a", "/x/b"}));
    EXPECT_FALSE(Puertas::envio({"zentu", "--chat"}));
    EXPECT_FALSE(Puertas::envio({"zentu", "--enviar-texto"}));  // nothing read
}

TEST_F(Puertas_, AgentesDesdeElMenu) {
    Instantanea foto = Instantanea::ejemplo();
    foto.agentes = std::vector<Instantanea::Agente>{{1, "zentu", "coordinador", true, 0, true},
                                                    {4, "ventas_norte", "ventas", true, 3, false},
                                                    {6, "cobros", "cobranza", false, 0, false}};
    e.widgets->foto_ = foto;
    app->montarMenu();
    ASSERT_TRUE(bandeja().menu());
    EXPECT_TRUE(bandeja().menu()->actions()[5]->text().startsWith("Tus agentes — 2 trabajando · 1 en pausa"));

    bandeja().alElegir(MenuBandeja::Accion::alternarAgente, 4);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !e.traza.cues().isEmpty(); }));
    EXPECT_EQ(e.widgets->cambios, (QList<std::pair<qint64, bool>>{{4, false}}));
    EXPECT_EQ(e.traza.cues(), QStringList{"descartado"});
    e.traza.olvidar();
    bandeja().alElegir(MenuBandeja::Accion::alternarAgente, 6);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !e.traza.cues().isEmpty(); }));
    EXPECT_EQ(e.traza.cues(), QStringList{"hecho"});

    // A refusal shows the stored name and the reason in the island.
    e.traza.olvidar();
    e.widgets->errorCambio = QStringLiteral("No quedó como se pidió.");
    bandeja().alElegir(MenuBandeja::Accion::alternarAgente, 4);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return app->voz.aviso().has_value(); }));
    EXPECT_EQ(*app->voz.aviso(), "No se pudo cambiar a ventas_norte: No quedó como se pidió.");
    // Unknown agents are left alone.
    e.widgets->cambios.clear();
    bandeja().alElegir(MenuBandeja::Accion::alternarAgente, 99);
    QCoreApplication::processEvents();
    EXPECT_TRUE(e.widgets->cambios.isEmpty());
}

TEST_F(Puertas_, ContadorYSalir) {
    app->totalPendientes = 1;
    app->pintarContador();
    EXPECT_EQ(bandeja().ayuda(), "1 decisión espera por ti");
    EXPECT_EQ(bandeja().total(), 1);
    app->desenlazar();
    EXPECT_EQ(bandeja().total(), 0);
    const auto acciones = bandeja().menu()->actions();
    EXPECT_EQ(acciones[acciones.size() - 2]->text(), "Enlazar con el panel…");
}

}  // namespace

namespace {

TEST_F(Puertas_, ArchivoSoltadoEnLaIsla) {
    falsos::Lineas lineas;
    e.isla->acciones.soltarArchivo("/tmp/fotos/a.png");
    EXPECT_TRUE(lineas.lineas.contains("[orbe] archivo soltado"));
    ASSERT_FALSE(e.traza.cues().isEmpty());
    EXPECT_EQ(e.traza.cues().first(), "recibido");
    EXPECT_EQ(e.chat->pendientes, QStringList{"/tmp/fotos/a.png"});
}

}  // namespace
