// The live channel's set of components, the calls agents place to the owner, pairing and
// unpairing, against the stand-in service and in virtual time.
#include "Falsos.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Preferencias.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

using Modo = App::Modo;
using pruebas::esperarHasta;

namespace {

class Enlace : public ::testing::Test {
protected:
    void SetUp() override {
        Preferencias::almacen().clear();
        Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
        Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
        // A heartbeat far beyond the virtual minutes these tests spend: the channel stays up.
        ASSERT_TRUE(servicio.arrancar(0, {"--ping-intervalo", "600000", "--ping-espera", "600000"}));
        e.canalReal = true;
    }
    void TearDown() override { Preferencias::almacen().clear(); }

    Cuenta cuenta() const {
        return Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"), QStringLiteral("Negocio")};
    }
    void arrancar(bool conCuenta = true) {
        if (conCuenta) e.guardada = cuenta();
        app = std::make_unique<App>(e);
        app->arrancar();
        if (conCuenta) {
            ASSERT_TRUE(esperarHasta([&] { return servicio.conectados() == 1; }));
        }
    }
    void avanzar(double s) {
        e.relojV.avanzar(s);
        QCoreApplication::processEvents();
    }
    void emitir(const QString& evento, const QJsonObject& datos) {
        servicio.emitir(evento, QJsonArray{datos});
    }
    bool sonar(qint64 consulta, const QString& agente = QStringLiteral("agente_ventas")) {
        emitir("llamada:entrante", {{"consultaId", consulta}, {"pregunta", "¿Le hago descuento?"}, {"agente", agente}});
        return esperarHasta([&] { return app->sonando.has_value(); });
    }
    // The reports that reached the service.
    QStringList informes() {
        QStringList r;
        for (const QJsonValue& v : servicio.peticiones()) {
            const QJsonObject p = v.toObject();
            const QString ruta = p["ruta"].toString();
            if (ruta == "/api/dudas/canal") continue;
            r << p["metodo"].toString() + " " + ruta + " " + p["cuerpo"].toString();
        }
        return r;
    }
    int timbres() const { return static_cast<int>(e.traza.cues().count("timbre")); }

    ServicioSimulado servicio;
    falsos::Entorno e;
    std::unique_ptr<App> app;
    falsos::Lineas lineas;
};

TEST_F(Enlace, UnaLlamadaEntranteSuenaCadaDosSegundosYMedioHastaLosCuarentaYCinco) {
    arrancar();
    e.traza.olvidar();
    ASSERT_TRUE(sonar(7));
    EXPECT_TRUE(lineas.hay("[entrante] suena: agente_ventas · duda 7"));
    EXPECT_EQ(app->voz.timbre(), QStringLiteral("agente ventas"));
    EXPECT_EQ(app->voz.fase(), Fase::timbrando);
    EXPECT_TRUE(app->voz.visible());
    EXPECT_EQ(timbres(), 1);
    avanzar(2.2);
    EXPECT_EQ(timbres(), 2);
    avanzar(2.2);
    EXPECT_EQ(timbres(), 3);

    // A second call while this one rings is only logged.
    emitir("llamada:entrante", {{"consultaId", 8}, {"pregunta", "x"}, {"agente", "soporte"}});
    ASSERT_TRUE(esperarHasta([&] { return lineas.hay("[entrante] ignorada (ocupado o incompleta)"); }));
    EXPECT_EQ(app->sonando->consulta, 7);

    avanzar(45 - 4.4 - 0.1);
    EXPECT_TRUE(app->sonando);
    EXPECT_TRUE(informes().isEmpty());
    avanzar(0.2);
    EXPECT_FALSE(app->sonando);
    EXPECT_FALSE(app->voz.timbre());
    EXPECT_FALSE(app->voz.visible());
    EXPECT_TRUE(lineas.hay("[entrante] dejó de sonar"));
    ASSERT_TRUE(esperarHasta([&] { return !informes().isEmpty(); }));
    EXPECT_EQ(informes(), QStringList{"POST /api/dudas/7/sin-contestar {\"motivo\":\"dejó de sonar\"}"});
    // The ring's timer is gone with it.
    const int antes = timbres();
    avanzar(10);
    EXPECT_EQ(timbres(), antes);
}

TEST_F(Enlace, ContestarALosCuarentaYCuatroSegundosNoInforma) {
    arrancar();
    ASSERT_TRUE(sonar(7));
    avanzar(44);
    app->contestar();
    EXPECT_TRUE(lineas.hay("[entrante] contestada"));
    EXPECT_EQ(app->modo, Modo::llamada);
    EXPECT_EQ(app->voz.fase(), Fase::conectando);
    ASSERT_TRUE(e.llamada);
    // The call carries the agent's name as received, and the query.
    EXPECT_EQ(e.llamada->agente, QStringLiteral("agente_ventas"));
    EXPECT_EQ(e.llamada->consulta, 7);
    avanzar(5);
    pruebas::girar(300);
    EXPECT_TRUE(informes().isEmpty());
    // A normal end sends nothing; an end with an error reports the query.
    e.llamada->alTerminar(std::nullopt);
    pruebas::girar(300);
    EXPECT_TRUE(informes().isEmpty());

    avanzar(1);
    ASSERT_TRUE(sonar(9));
    app->contestar();
    e.llamada->alTerminar(ErrorLlamada{QStringLiteral("No se pudo conectar con la voz de Zentu."), false});
    ASSERT_TRUE(esperarHasta([&] { return !informes().isEmpty(); }));
    EXPECT_EQ(informes(), QStringList{"POST /api/dudas/9/sin-contestar {\"motivo\":\"la voz no se abrió\"}"});
    EXPECT_EQ(app->voz.aviso(), QStringLiteral("No se pudo conectar con la voz de Zentu."));
}

TEST_F(Enlace, RechazarInformaYEscondeLaIsla) {
    arrancar();
    ASSERT_TRUE(sonar(11));
    e.isla->acciones.rechazar();
    EXPECT_FALSE(app->sonando);
    EXPECT_FALSE(app->voz.visible());
    ASSERT_TRUE(esperarHasta([&] { return !informes().isEmpty(); }));
    EXPECT_EQ(informes(), QStringList{"POST /api/dudas/11/sin-contestar {\"motivo\":\"rechazada\"}"});
}

// The island's delayed hides (after a warning, after the chat closes, after a quiet conversation)
// are meant for an idle island: a call that starts ringing in between keeps it, or the owner
// could neither see nor answer the call.
TEST_F(Enlace, UnaLlamadaQueSuenaNoSeEscondeConLaIslaOciosa) {
    arrancar();
    const std::pair<const char*, std::function<void()>> casos[] = {
        {"aviso", [&] { app->mostrarAviso(QStringLiteral("Algo falló.")); }},
        {"chat cerrado", [&] {
             app->mostrarIsla();
             app->cerrarChat();
         }},
    };
    qint64 consulta = 30;
    for (const auto& [nombre, antes] : casos) {
        antes();
        ASSERT_TRUE(app->voz.visible()) << nombre;
        ASSERT_TRUE(sonar(++consulta)) << nombre;
        avanzar(5);
        EXPECT_TRUE(app->sonando) << nombre;
        EXPECT_TRUE(app->voz.visible()) << nombre;
        e.isla->acciones.rechazar();
        ASSERT_FALSE(app->sonando);
        avanzar(1);
    }
}

TEST_F(Enlace, CanceladaYEnCursoParanElTimbreSinInformar) {
    arrancar();
    ASSERT_TRUE(sonar(7));
    emitir("llamada:cancelada", {{"consultaId", 99}});
    emitir("llamada:estado", {{"enCurso", false}});
    emitir("llamada:estado", {});
    pruebas::girar(300);
    EXPECT_TRUE(app->sonando);
    emitir("llamada:cancelada", {{"consultaId", 7}});
    ASSERT_TRUE(esperarHasta([&] { return !app->sonando; }));
    EXPECT_FALSE(app->voz.visible());

    avanzar(1);
    ASSERT_TRUE(sonar(8));
    emitir("llamada:estado", {{"enCurso", true}});
    ASSERT_TRUE(esperarHasta([&] { return !app->sonando; }));
    avanzar(50);
    pruebas::girar(300);
    EXPECT_TRUE(informes().isEmpty());
}

TEST_F(Enlace, LasLlamadasQueNoPuedenSonar) {
    arrancar();
    // Incomplete: no "pregunta", an id that is not a whole number of the 64-bit range, an agent
    // that is not text.
    const QJsonObject incompletas[] = {
        {{"consultaId", 7}, {"agente", "ventas"}},
        {{"consultaId", "7"}, {"pregunta", "x"}, {"agente", "ventas"}},
        {{"consultaId", 7}, {"pregunta", "x"}, {"agente", 3}},
        {{"consultaId", 1e300}, {"pregunta", "x"}, {"agente", "ventas"}},
        {{"consultaId", -1e300}, {"pregunta", "x"}, {"agente", "ventas"}},
        {{"consultaId", 9.3e18}, {"pregunta", "x"}, {"agente", "ventas"}},
        {{"consultaId", 7.5}, {"pregunta", "x"}, {"agente", "ventas"}},
    };
    for (const QJsonObject& d : incompletas) {
        lineas.lineas.clear();
        emitir("llamada:entrante", d);
        ASSERT_TRUE(esperarHasta([&] { return lineas.hay("[entrante] ignorada (ocupado o incompleta)"); }));
        EXPECT_FALSE(app->sonando);
    }
    // Busy with a voice conversation.
    app->empezarConversacion();
    lineas.lineas.clear();
    emitir("llamada:entrante", {{"consultaId", 7}, {"pregunta", "x"}, {"agente", "ventas"}});
    ASSERT_TRUE(esperarHasta([&] { return lineas.hay("[entrante] ignorada (ocupado o incompleta)"); }));
    EXPECT_FALSE(app->sonando);
    pruebas::girar(200);
    EXPECT_TRUE(informes().isEmpty());
}

TEST_F(Enlace, EnlazarLlamaAlCuartoDeSegundoYNoCuelgaUnaLlamadaEnCurso) {
    arrancar(false);
    EXPECT_TRUE(e.traza.pasos.contains("enlace mostrar"));
    e.traza.olvidar();
    app->enlace->alEnlazar(cuenta());
    EXPECT_EQ(e.traza.pasos.mid(0, 8),
              (QStringList{"llavero guardar " + servicio.url(), "enlace cerrar", "canal " + servicio.url(), "chat",
                           "widgets", "pendientes", "enMiMac", "cue escucha"}));
    ASSERT_TRUE(esperarHasta([&] { return servicio.conectados() == 1; }));
    avanzar(0.39);
    EXPECT_FALSE(e.llamada);
    avanzar(0.02);
    ASSERT_TRUE(e.llamada);
    EXPECT_EQ(app->modo, Modo::llamada);

    // Paired again during that call: the old channel closes first, the call goes on, no second call.
    QPointer<CanalEnVivo> viejo = e.canal;
    QPointer<falsos::Llamada> llamada = e.llamada;
    app->enlazada(cuenta());
    EXPECT_TRUE(viejo->cerrado());
    avanzar(1);
    EXPECT_EQ(e.llamadas.size(), 1);
    EXPECT_FALSE(llamada->colgada);
    EXPECT_EQ(app->modo, Modo::llamada);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(viejo);
    ASSERT_TRUE(esperarHasta([&] { return servicio.conectados() == 1; }));
}

TEST_F(Enlace, DesenlazarBorraPrimeroEnElServicioYSueltaTodo) {
    arrancar();
    app->alternarChat();
    ASSERT_TRUE(e.panelChat && e.chat && e.pendientes && e.widgets);
    e.traza.olvidar();
    const QString url = app->cuenta->url;
    app->desenlazar();
    EXPECT_TRUE(lineas.hay("[app] desenlazada: la cuenta " + url + " ya no está en este equipo"));
    EXPECT_EQ(e.traza.pasos.mid(0, 3), (QStringList{"DELETE /api/pairing/este", "llavero borrar", "instantánea vacía"}));
    EXPECT_FALSE(app->cuenta);
    EXPECT_FALSE(app->canal || app->chat || app->pendientes || app->widgets || app->enMiMac || app->conversacion);
    EXPECT_FALSE(app->panelChat);
    EXPECT_EQ(app->totalPendientes, 0);
    ASSERT_TRUE(esperarHasta([&] { return informes().contains("DELETE /api/pairing/este "); }));
    ASSERT_TRUE(esperarHasta([&] { return servicio.conectados() == 0; }));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(e.canal || e.chat || e.pendientes || e.widgets || e.panelChat);
    // Without an account there is nothing to delete on the service, but the rest runs.
    servicio.olvidarPeticiones();
    e.traza.olvidar();
    app->desenlazar();
    EXPECT_TRUE(lineas.hay("[app] desenlazada: la cuenta ya no está en este equipo"));
    EXPECT_FALSE(e.traza.pasos.contains("DELETE /api/pairing/este"));
    EXPECT_TRUE(e.traza.pasos.contains("llavero borrar"));
}

TEST_F(Enlace, DesenlazarMientrasSuenaParaElTimbreSinInformar) {
    arrancar();
    ASSERT_TRUE(sonar(7));
    app->desenlazar();
    EXPECT_FALSE(app->sonando);
    EXPECT_FALSE(app->voz.timbre());
    EXPECT_FALSE(app->voz.visible());
    const int antes = timbres();
    avanzar(50);
    EXPECT_EQ(timbres(), antes);
    pruebas::girar(300);
    EXPECT_EQ(informes(), QStringList{"DELETE /api/pairing/este "});
}

TEST_F(Enlace, UnaSesionVencidaDuranteLaLlamadaDesenlaza) {
    arrancar();
    app->alternarLlamada();
    e.llamada->alTerminar(ErrorLlamada{QStringLiteral("Tu sesión en Zentu venció."), true});
    EXPECT_FALSE(app->cuenta);
    EXPECT_EQ(app->voz.aviso(), QStringLiteral("Tu sesión en Zentu venció."));
    EXPECT_TRUE(esperarHasta([&] { return informes().contains("DELETE /api/pairing/este "); }));
}

// The service stops taking the token: at start (the channel's path lookup) or while connected
// (the lookup after the server drops the socket). The program unpairs as the owner would, says so
// once in the island and opens the pairing window; later refusals of that token change nothing.
TEST_F(Enlace, UnTokenRechazadoDesenlazaYLoDiceUnaVez) {
    const QString vencida = QStringLiteral("Tu enlace con Zentu venció. Vuelve a escanear el código del panel.");
    for (const bool alArrancar : {true, false}) {
        SCOPED_TRACE(alArrancar ? "al arrancar" : "ya conectado");
        app.reset();
        servicio.control("POST", "token", QJsonObject{{"tokens", QJsonArray{"token-bueno"}}});
        lineas.lineas.clear();
        Cuenta vieja = cuenta();
        if (alArrancar) {
            vieja.token = QStringLiteral("token-viejo");
            e.guardada = vieja;
            e.traza.olvidar();
            app = std::make_unique<App>(e);
            app->arrancar();
        } else {
            arrancar();
            e.traza.olvidar();
            servicio.control("POST", "token", QJsonObject{{"tokens", QJsonArray{}}});
            servicio.desconectarTodos();
            ASSERT_TRUE(esperarHasta([&] { return lineas.hay("[canal] reconecto en 2 s"); }));
            avanzar(2);
        }
        ASSERT_TRUE(esperarHasta([&] { return !app->cuenta.has_value(); }));
        EXPECT_TRUE(lineas.hay("[canal] sesión vencida"));
        EXPECT_FALSE(e.guardada);
        EXPECT_TRUE(e.traza.pasos.contains("instantánea vacía"));
        EXPECT_TRUE(e.traza.pasos.contains("enlace mostrar"));
        EXPECT_FALSE(app->canal || app->chat || app->pendientes || app->widgets);
        EXPECT_EQ(app->voz.aviso(), vencida);
        EXPECT_EQ(e.traza.cues().count("error"), 1);

        // Another component hears the same refusal later: nothing more happens.
        EXPECT_THROW(pruebas::esperar(API::pedir(vieja, "/api/dudas/canal", "GET")), ErrorZentu);
        pruebas::girar(100);
        EXPECT_EQ(e.traza.cues().count("error"), 1);
        EXPECT_EQ(e.traza.pasos.count("enlace mostrar"), 1);
    }
}

// A call that ends because the token was refused, after the channel already told the owner.
TEST_F(Enlace, LaLlamadaQueTerminaPorElMismoTokenNoLoRepite) {
    arrancar();
    app->alternarLlamada();
    ASSERT_TRUE(e.llamada);
    e.traza.olvidar();
    servicio.control("POST", "token", QJsonObject{{"tokens", QJsonArray{}}});
    servicio.desconectarTodos();
    ASSERT_TRUE(esperarHasta([&] { return lineas.hay("[canal] reconecto en 2 s"); }));
    avanzar(2);
    ASSERT_TRUE(esperarHasta([&] { return !app->cuenta.has_value(); }));
    ASSERT_TRUE(e.llamada);  // a call in progress is left to end by itself
    e.llamada->alTerminar(ErrorLlamada{QStringLiteral("Tu enlace con Zentu venció. Vuelve a escanear el código del panel."), true});
    EXPECT_EQ(e.traza.cues().count("error"), 1);
    EXPECT_EQ(e.traza.pasos.count("llavero borrar"), 1);
    // Paired again, an expired session is news again.
    app->enlazada(cuenta());
    e.traza.olvidar();
    app->sesionVencida(QStringLiteral("x"));
    EXPECT_EQ(e.traza.cues().count("error"), 1);
    EXPECT_FALSE(app->cuenta);
}

TEST_F(Enlace, ElSonidoDeLosMensajesDelChat) {
    arrancar();
    e.traza.olvidar();
    e.chat->alSonar(Sonidos::Cual::llego);          // chat hidden: dropped
    e.chat->alSonar(Sonidos::Cual::enviado);        // other cues always
    app->alternarChat();
    e.chat->alSonar(Sonidos::Cual::llego);          // chat on screen: heard
    app->conversarDesdeElChat();
    e.chat->alSonar(Sonidos::Cual::llego);          // during a voice conversation: dropped
    QStringList c = e.traza.cues();
    c.removeAll("aparece");
    c.removeAll("escucha");
    EXPECT_EQ(c, (QStringList{"enviado", "llego"}));
}

}  // namespace
