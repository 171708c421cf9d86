// The interaction modes, the island's keys and cues, over fakes of every component and virtual
// time.
#include "Falsos.h"

#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"

#include <QKeyEvent>
#include <gtest/gtest.h>

using falsos::cuentaDePrueba;
using Modo = App::Modo;

namespace {

class Modos : public ::testing::Test {
protected:
    void SetUp() override {
        Preferencias::almacen().clear();
        // No morning summary in the way of these tests.
        Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
        Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
        e.guardada = cuentaDePrueba();
        app = std::make_unique<App>(e);
        app->arrancar();
        e.traza.olvidar();
    }
    void TearDown() override { Preferencias::almacen().clear(); }

    void avanzar(double s) {
        e.relojV.avanzar(s);
        QCoreApplication::processEvents();
    }
    QStringList cues() const { return e.traza.cues(); }
    bool paso(const QString& p) const { return e.traza.pasos.contains(p); }
    void sonar(qint64 consulta = 7, const QString& agente = QStringLiteral("agente_ventas")) {
        app->entrante(QJsonObject{{"consultaId", consulta}, {"pregunta", "¿Precio?"}, {"agente", agente}});
    }
    bool teclear(int tecla, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QKeyEvent ev(QEvent::KeyPress, tecla, mods);
        return app->tecla(ev);
    }

    falsos::Entorno e;
    std::unique_ptr<App> app;
};

TEST_F(Modos, UnaLlamadaEmpiezaYLaSegundaPulsacionCuelgaYEscondeLaIsla) {
    app->atajoPulsado(Atajos::Cual::llamada);
    EXPECT_EQ(app->modo, Modo::llamada);
    EXPECT_EQ(app->voz.fase(), Fase::conectando);
    EXPECT_TRUE(app->voz.visible());
    EXPECT_EQ(cues(), QStringList{"aparece"});
    EXPECT_TRUE(paso("llamada abrir"));
    ASSERT_TRUE(e.llamada);

    e.llamada->alCambiarFase(Fase::escuchando);
    EXPECT_EQ(cues(), (QStringList{"aparece", "escucha"}));

    app->atajoPulsado(Atajos::Cual::llamada);
    EXPECT_EQ(app->modo, Modo::ninguno);
    EXPECT_FALSE(app->llamada);
    EXPECT_TRUE(paso("llamada colgar"));
    EXPECT_FALSE(app->voz.visible());
    EXPECT_EQ(cues().last(), "seVa");
    // Ordered out only after the hiding animation, and at rest.
    EXPECT_TRUE(e.isla->enPantalla());
    avanzar(0.44);
    EXPECT_TRUE(e.isla->enPantalla());
    avanzar(0.02);
    EXPECT_FALSE(e.isla->enPantalla());
    EXPECT_EQ(app->voz.fase(), Fase::reposo);
    // The hung-up call's own end arrived at once and found nothing to do: no warning, one seVa.
    EXPECT_EQ(cues().count("seVa"), 1);
    EXPECT_FALSE(app->voz.aviso());
}

TEST_F(Modos, SinCuentaLasLlamadasYLasPreguntasAbrenElEnlace) {
    app->desenlazar();
    e.traza.olvidar();
    app->alternarLlamada();
    app->empezarConversacion();
    app->atajoPulsado(Atajos::Cual::pantalla);
    app->atajoPulsado(Atajos::Cual::zona);
    EXPECT_EQ(e.traza.pasos.count("enlace mostrar"), 4);
    app->notaDeVoz();
    app->conversarDesdeElChat();
    EXPECT_EQ(app->modo, Modo::ninguno);
    EXPECT_FALSE(e.llamada);
}

TEST_F(Modos, LaConversacionNoInterrumpeUnaLlamadaYLaLlamadaSiLaConversacion) {
    app->alternarLlamada();
    e.traza.olvidar();
    app->atajoPulsado(Atajos::Cual::conversacion);
    app->atajoSoltado(Atajos::Cual::conversacion);
    app->acordePulsado();
    app->conversarDesdeElChat();
    app->notaDeVoz();
    EXPECT_EQ(app->modo, Modo::llamada);
    EXPECT_FALSE(paso("conversacion grabar pulsar"));
    EXPECT_FALSE(paso("conversacion grabar manos libres"));
    app->terminar();

    avanzar(1);
    app->empezarConversacion();
    ASSERT_EQ(app->modo, Modo::conversacion);
    EXPECT_TRUE(paso("conversacion grabar pulsar"));
    e.traza.olvidar();
    app->alternarLlamada();
    EXPECT_EQ(app->modo, Modo::llamada);
    // The question is dropped without its end callback.
    EXPECT_TRUE(paso("conversacion cancelar silencioso"));
    EXPECT_TRUE(paso("llamada abrir"));
}

TEST_F(Modos, PulsarParaHablarMuestraLaIslaYGrabaHastaSoltar) {
    app->acordePulsado();
    EXPECT_EQ(app->modo, Modo::conversacion);
    EXPECT_EQ(app->voz.fase(), Fase::escuchando);
    EXPECT_TRUE(app->voz.visible());
    EXPECT_EQ(cues(), (QStringList{"aparece", "escucha"}));
    ASSERT_TRUE(e.conversacion);
    EXPECT_TRUE(e.conversacion->activa);
    EXPECT_FALSE(e.conversacion->soloNota());
    EXPECT_EQ(e.conversacion->vacias, 0);
    app->acordeSoltado();
    EXPECT_TRUE(paso("conversacion soltar"));

    // Another key while the chord is held: the take stops silently, mode and island stay.
    app->acordePulsado();
    app->acordeCancelado();
    EXPECT_EQ(app->modo, Modo::conversacion);
    EXPECT_TRUE(app->voz.visible());
    EXPECT_EQ(app->voz.fase(), Fase::escuchando);
}

TEST_F(Modos, LaNotaDeVozSeEnviaConLaSegundaPulsacionYCancelaOtraConversacion) {
    app->notaDeVoz();
    EXPECT_EQ(app->modo, Modo::conversacion);
    EXPECT_EQ(cues(), QStringList{"escucha"});
    EXPECT_FALSE(app->voz.visible());  // the island is not shown by a note
    ASSERT_TRUE(e.chat);
    EXPECT_TRUE(e.chat->grabandoNota);
    EXPECT_TRUE(e.conversacion->soloNota());
    EXPECT_TRUE(paso("conversacion grabar manos libres"));
    e.traza.olvidar();
    app->notaDeVoz();
    EXPECT_EQ(e.traza.pasos, QStringList{"conversacion soltar"});

    // During a push-to-talk question the button cancels it with seVa.
    app->conversacionTerminada(std::nullopt);
    app->empezarConversacion();
    e.traza.olvidar();
    app->notaDeVoz();
    EXPECT_EQ(app->modo, Modo::ninguno);
    EXPECT_EQ(app->voz.fase(), Fase::reposo);
    EXPECT_EQ(cues(), QStringList{"seVa"});
}

TEST_F(Modos, EscapeConElChatAbiertoSoloParaLaConversacion) {
    app->alternarChat();
    app->conversarDesdeElChat();
    ASSERT_EQ(app->modo, Modo::conversacion);
    EXPECT_TRUE(app->voz.vozEnChat());
    EXPECT_TRUE(teclear(Qt::Key_Escape));
    EXPECT_EQ(app->modo, Modo::ninguno);
    EXPECT_EQ(app->voz.fase(), Fase::reposo);
    EXPECT_TRUE(app->voz.visible());
    EXPECT_TRUE(e.panelChat->enPantalla());
    EXPECT_FALSE(app->voz.vozEnChat());
}

TEST_F(Modos, SilenciarCambiaElMicrofonoDeLaLlamadaConSuSonido) {
    app->alternarLlamada();
    e.traza.olvidar();
    EXPECT_TRUE(teclear(Qt::Key_M, Qt::ShiftModifier));
    EXPECT_TRUE(app->voz.silencio());
    EXPECT_TRUE(e.llamada->silenciada);
    EXPECT_FALSE(teclear(Qt::Key_M, Qt::ControlModifier));
    app->alternarSilencio();
    EXPECT_FALSE(e.llamada->silenciada);
    EXPECT_EQ(cues(), (QStringList{"silencio", "activaMic"}));
}

TEST_F(Modos, VolverAMostrarLaIslaAntesDeRetirarlaLaDejaEnPantalla) {
    app->alternarChat();
    app->ocultar();
    avanzar(0.3);
    app->mostrarIsla();
    avanzar(1);
    EXPECT_TRUE(e.isla->enPantalla());
    EXPECT_TRUE(app->voz.visible());
}

TEST_F(Modos, ElFinDeUnaLlamada) {
    // Normal end with the chat closed: the island hides.
    app->alternarLlamada();
    e.llamada->alCambiarFase(Fase::hablando);
    e.llamada->alTerminar(std::nullopt);
    EXPECT_EQ(app->modo, Modo::ninguno);
    EXPECT_FALSE(app->voz.visible());

    // Normal end with the chat open: the island stays with the call's last phase.
    avanzar(1);
    app->alternarChat();
    app->alternarLlamada();
    e.llamada->alCambiarFase(Fase::hablando);
    e.llamada->alTerminar(std::nullopt);
    EXPECT_TRUE(app->voz.visible());
    EXPECT_EQ(app->voz.fase(), Fase::hablando);

    // An error is a warning; an expired session unpairs first.
    app->alternarLlamada();
    e.traza.olvidar();
    e.llamada->alTerminar(ErrorLlamada{QStringLiteral("Tu sesión venció."), true});
    EXPECT_EQ(app->voz.aviso(), QStringLiteral("Tu sesión venció."));
    EXPECT_EQ(cues().last(), "error");
    EXPECT_FALSE(app->cuenta);
    EXPECT_TRUE(paso("llavero borrar"));
    EXPECT_TRUE(paso("DELETE /api/pairing/este"));
}

TEST_F(Modos, OcultarDuranteUnaLlamadaYLuegoSuFinNoHaceNadaMas) {
    e.llamadaTerminaAlColgar = false;
    app->alternarLlamada();
    QPointer<falsos::Llamada> llamada = e.llamada;
    app->ocultar();
    e.traza.olvidar();
    ASSERT_TRUE(llamada);
    llamada->alTerminar(ErrorLlamada{QStringLiteral("Se cortó."), false});
    EXPECT_TRUE(e.traza.pasos.isEmpty());
    EXPECT_FALSE(app->voz.aviso());
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(llamada);  // released once it reported its end
}

TEST_F(Modos, LosAvisos) {
    // While hidden, the warning shows the island first, then hides it 4 s later when idle.
    app->mostrarAviso(QStringLiteral("No encontré qué capturar en la pantalla."));
    EXPECT_TRUE(app->voz.visible());
    EXPECT_EQ(cues(), (QStringList{"aparece", "error"}));
    EXPECT_EQ(app->voz.aviso(), QStringLiteral("No encontré qué capturar en la pantalla."));
    avanzar(3.9);
    EXPECT_TRUE(app->voz.visible());
    avanzar(0.2);
    EXPECT_FALSE(app->voz.visible());

    // During a call the island stays; the warning goes at its time all the same.
    avanzar(1);
    app->alternarLlamada();
    app->mostrarAviso(QStringLiteral("Algo"));
    avanzar(3.9);
    EXPECT_EQ(app->voz.aviso(), QStringLiteral("Algo"));
    avanzar(0.2);
    EXPECT_TRUE(app->voz.visible());
    EXPECT_EQ(app->modo, Modo::llamada);
    EXPECT_FALSE(app->voz.aviso());
    // A newer warning keeps its own time: the older one's end does not take it away.
    app->mostrarAviso(QStringLiteral("Primero"));
    avanzar(2);
    app->mostrarAviso(QStringLiteral("Después"));
    avanzar(2.1);
    EXPECT_EQ(app->voz.aviso(), QStringLiteral("Después"));
    // The next showing clears the warning.
    app->mostrarIsla();
    EXPECT_FALSE(app->voz.aviso());
}

// With the chat open beside it the island stays, but its warning does not outlive its time; once
// the chat closes the idle island goes.
TEST_F(Modos, UnAvisoConElChatAbiertoNoSeQueda) {
    app->alternarChat();
    ASSERT_TRUE(e.panelChat && e.panelChat->enPantalla());
    app->mostrarAviso(QStringLiteral("Zentu no contestó a tiempo. Mira el chat."));
    avanzar(4.1);
    EXPECT_TRUE(app->voz.visible());
    EXPECT_FALSE(app->voz.aviso());
    app->cerrarChat();
    avanzar(0.3);
    EXPECT_FALSE(app->voz.visible());

    // The chat closed within the warning's time: the island goes with the warning.
    avanzar(1);
    app->alternarChat();
    app->mostrarAviso(QStringLiteral("No se pudo capturar la pantalla."));
    avanzar(1);
    app->cerrarChat();
    avanzar(3.2);
    EXPECT_FALSE(app->voz.visible());
}

TEST_F(Modos, ElFinDeUnaConversacion) {
    app->empezarConversacion();
    app->conversacionTerminada(std::nullopt);
    EXPECT_EQ(app->modo, Modo::ninguno);
    EXPECT_EQ(app->voz.fase(), Fase::reposo);
    avanzar(2.4);
    EXPECT_TRUE(app->voz.visible());
    avanzar(0.2);
    EXPECT_FALSE(app->voz.visible());

    avanzar(1);
    app->empezarConversacion();
    app->conversacionTerminada(QStringLiteral("No te entendí."));
    EXPECT_EQ(app->voz.aviso(), QStringLiteral("No te entendí."));
    // Outside a conversation the end callback does nothing.
    e.traza.olvidar();
    app->conversacionTerminada(QStringLiteral("otra"));
    EXPECT_TRUE(cues().isEmpty());
}

TEST_F(Modos, LasFasesYSusSonidos) {
    struct Caso {
        const char* nombre;
        std::function<void(App&)> preparar;
        std::vector<Fase> fases;
        QStringList esperados;
    };
    const std::vector<Caso> casos = {
        {"llamada: conectando a escuchando", [](App& a) { a.alternarLlamada(); }, {Fase::escuchando}, {"escucha"}},
        {"llamada: hablando a escuchando", [](App& a) { a.alternarLlamada(); },
         {Fase::hablando, Fase::escuchando}, {"termino"}},
        {"llamada: pensar no suena", [](App& a) { a.alternarLlamada(); }, {Fase::pensando}, {}},
        {"pregunta: pensar suena y espera", [](App& a) { a.empezarConversacion(); }, {Fase::pensando},
         {"piensa", "espera"}},
        {"nota: pensar no suena", [](App& a) { a.notaDeVoz(); }, {Fase::pensando}, {}},
        {"la misma fase no suena", [](App& a) { a.alternarLlamada(); }, {Fase::conectando}, {}},
        {"reposo a escuchando no suena", [](App& a) { a.empezarConversacion(); },
         {Fase::reposo, Fase::escuchando}, {}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        app->ocultar();
        avanzar(1);
        c.preparar(*app);
        e.traza.olvidar();
        for (Fase f : c.fases) app->cambio(f);
        avanzar(0.7);
        EXPECT_EQ(cues(), c.esperados);
    }
    // The waiting cue goes on only while thinking lasts in the conversation.
    ASSERT_TRUE(e.sonidosF.mientras);
    app->empezarConversacion();
    app->cambio(Fase::pensando);
    avanzar(0.7);
    EXPECT_TRUE(e.sonidosF.mientras());
    app->cambio(Fase::hablando);
    EXPECT_FALSE(e.sonidosF.mientras());
}

TEST_F(Modos, LasTeclasDeLaIsla) {
    struct Caso {
        int tecla;
        Qt::KeyboardModifiers mods;
        double escalaAntes;
        double escalaDespues;
        bool usada;
    };
    const Qt::KeyboardModifiers ctl = Qt::ControlModifier;
    const std::vector<Caso> casos = {
        {Qt::Key_Equal, ctl, 1.4, 1.5, true},   {Qt::Key_Plus, ctl | Qt::ShiftModifier, 1.4, 1.5, true},
        {Qt::Key_Plus, ctl, 2.2, 2.2, true},    {Qt::Key_Minus, ctl, 1.4, 1.3, true},
        {Qt::Key_Minus, ctl, 0.9, 0.9, true},   {Qt::Key_0, ctl, 2.0, 1.4, true},
        {Qt::Key_Equal, {}, 1.4, 1.4, false},   {Qt::Key_A, ctl, 1.4, 1.4, false},
        {Qt::Key_F5, {}, 1.4, 1.4, false},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.tecla);
        app->voz.setEscala(c.escalaAntes);
        EXPECT_EQ(teclear(c.tecla, c.mods), c.usada);
        EXPECT_NEAR(app->voz.escala(), c.escalaDespues, 1e-9);
    }
    // The scale handler resizes the window.
    app->voz.setEscala(1.8);
    EXPECT_DOUBLE_EQ(e.isla->escala(), 1.8);

    // Return shows and hides the chat; Escape ends.
    EXPECT_TRUE(teclear(Qt::Key_Return));
    EXPECT_TRUE(e.panelChat->enPantalla());
    EXPECT_TRUE(teclear(Qt::Key_Enter));
    EXPECT_FALSE(e.panelChat->enPantalla());
    EXPECT_TRUE(teclear(Qt::Key_Comma, ctl));
}

TEST_F(Modos, MientrasSuenaSoloCuentanIntroYEscape) {
    sonar();
    ASSERT_TRUE(app->sonando);
    app->voz.setEscala(1.4);
    EXPECT_FALSE(teclear(Qt::Key_Plus, Qt::ControlModifier));
    EXPECT_FALSE(teclear(Qt::Key_M));
    EXPECT_NEAR(app->voz.escala(), 1.4, 1e-9);
    EXPECT_FALSE(app->voz.silencio());
    EXPECT_TRUE(teclear(Qt::Key_Escape));
    EXPECT_FALSE(app->sonando);
    ASSERT_EQ(e.avisos.size(), 1);
    EXPECT_EQ(e.avisos[0]["cuerpo"].toObject()["motivo"].toString(), QStringLiteral("rechazada"));

    avanzar(1);
    sonar(8);
    EXPECT_TRUE(teclear(Qt::Key_Return));
    EXPECT_EQ(app->modo, Modo::llamada);
    EXPECT_EQ(e.llamada->agente, QStringLiteral("agente_ventas"));
    EXPECT_EQ(e.llamada->consulta, 8);
}

TEST_F(Modos, EmpezarAlgoMientrasSuenaRechazaPrimeroElTimbre) {
    const std::vector<std::pair<const char*, std::function<void(App&)>>> inicios = {
        {"llamada", [](App& a) { a.alternarLlamada(); }},
        {"pregunta", [](App& a) { a.empezarConversacion(); }},
        {"nota", [](App& a) { a.notaDeVoz(); }},
        {"conversación", [](App& a) { a.conversarDesdeElChat(); }},
    };
    qint64 consulta = 20;
    for (const auto& [nombre, iniciar] : inicios) {
        SCOPED_TRACE(nombre);
        app->ocultar();
        avanzar(1);
        e.avisos.clear();
        sonar(++consulta);
        iniciar(*app);
        EXPECT_FALSE(app->sonando);
        EXPECT_FALSE(app->voz.timbre());
        ASSERT_EQ(e.avisos.size(), 1);
        EXPECT_EQ(e.avisos[0]["ruta"].toString(), QStringLiteral("/api/dudas/%1/sin-contestar").arg(consulta));
        EXPECT_NE(app->modo, Modo::ninguno);
        // The ring's timers are gone: no second report at 45 s.
        avanzar(50);
        EXPECT_EQ(e.avisos.size(), 1);
    }
}

TEST_F(Modos, ContestarCuelgaLoQueHabiaYRechazarSoloEscondeSinNadaEnCurso) {
    // An agent's call answered over a running voice conversation: it is cancelled first.
    app->notaDeVoz();
    ASSERT_EQ(app->modo, Modo::conversacion);
    app->sonando = App::Sonando{QStringLiteral("soporte"), 3, *app->cuenta};
    e.traza.olvidar();
    app->contestar();
    EXPECT_LT(e.traza.pasos.indexOf("conversacion cancelar silencioso"), e.traza.pasos.indexOf("llamada nueva"));
    EXPECT_EQ(app->modo, Modo::llamada);

    // And over a call: the old one is hung up before the new one is made.
    QPointer<falsos::Llamada> vieja = e.llamada;
    app->sonando = App::Sonando{QStringLiteral("soporte"), 4, *app->cuenta};
    e.traza.olvidar();
    app->contestar();
    EXPECT_TRUE(vieja->colgada);
    EXPECT_LT(e.traza.pasos.indexOf("llamada colgar"), e.traza.pasos.indexOf("llamada nueva"));
    EXPECT_EQ(e.llamada->consulta, 4);
    EXPECT_EQ(app->modo, Modo::llamada);

    // Declining a ring during a call leaves the island and the call.
    app->mostrarIsla();
    app->sonando = App::Sonando{QStringLiteral("soporte"), 5, *app->cuenta};
    app->rechazar(QStringLiteral("rechazada"));
    EXPECT_TRUE(app->voz.visible());
    EXPECT_EQ(app->modo, Modo::llamada);
}

TEST_F(Modos, ElChatSigueALaIsla) {
    struct Caso {
        QRectF marco;
        double e;
        QRectF ancla;
    };
    const std::vector<Caso> casos = {
        {{100, 20, 320, 176}, 1, {145, 70, 230, 56}},
        {{0, 0, 448, 246.4}, 1.4, {224 - 161, 70, 322, 78.4}},
        {{500, 300, 704, 387.2}, 2.2, {852 - 253, 410, 506, 123.2}},
    };
    for (const Caso& c : casos) {
        const QRectF r = App::anclaChat(c.marco, c.e);
        EXPECT_NEAR(r.x(), c.ancla.x(), 1e-9);
        EXPECT_NEAR(r.y(), c.ancla.y(), 1e-9);
        EXPECT_NEAR(r.width(), c.ancla.width(), 1e-9);
        EXPECT_NEAR(r.height(), c.ancla.height(), 1e-9);
    }
    app->alternarChat();
    e.traza.olvidar();
    e.isla->marco_ = QRectF(300, 40, 448, 246.4);
    e.isla->cambiarEscala(1.4);
    e.isla->alMover();
    EXPECT_EQ(e.panelChat->ultimo, App::anclaChat(e.isla->marco_, 1.4));
    // With both hidden nothing moves.
    app->alternarChat();
    app->ocultar();
    avanzar(1);
    e.traza.olvidar();
    e.isla->alMover();
    EXPECT_FALSE(paso("chat colocar"));
}

TEST_F(Modos, ElNombreDelAgenteDelChat) {
    app->asegurarChat();
    const std::vector<std::pair<std::optional<QString>, QString>> casos = {
        {std::nullopt, "Zentu"}, {"ventas", "Ventas"}, {"atencion_al_cliente", "Atencion Al Cliente"}};
    for (const auto& [agente, visto] : casos) {
        e.chat->agente = agente;
        e.chat->alCambiarAgente();
        EXPECT_EQ(app->voz.agenteDelChat(), visto);
    }
}

}  // namespace
