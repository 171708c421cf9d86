// The agent's tools in a call: the screen tool, the farewell, the service's tools and the
// hand-over, and the start of a call an agent placed.
#include "LlamadaBanco.h"
#include "zentu/voz/Pantalla.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QCoroTimer>
#include <chrono>

using Herramientas = LlamadaBanco;

namespace {

QJsonObject llamadaDeHerramienta(const QString& nombre, const QString& callId, const QString& argumentos = "{}") {
    return QJsonObject{{"type", "response.function_call_arguments.done"},
                       {"name", nombre},
                       {"call_id", callId},
                       {"arguments", argumentos}};
}

QString salidaDe(const QJsonValue& evento) {
    return evento.toObject().value("item").toObject().value("output").toString();
}

// The tool answers among the items the call created.
QJsonArray respuestas(RealtimeSimulado& realtime) {
    QJsonArray r;
    for (const auto& e : realtime.recibidos("conversation.item.create"))
        if (e.toObject().value("item").toObject().value("type").toString() == u"function_call_output") r.append(e);
    return r;
}

// A screenshot that is ready only when the running timer `listo` fires. The path is a parameter,
// kept in the coroutine's own frame: the call that holds this function may be gone by then.
QCoro::Task<QString> capturaCuando(QTimer* listo, bool* empezada, QString ruta) {
    *empezada = true;
    co_await listo;
    co_return ruta;
}

}  // namespace

TEST_F(Herramientas, LaPantallaSeAnadeSoloASesionesConHerramientasQueNoLaTienen) {
    struct Caso {
        const char* nombre;
        QJsonObject sesion;
        int actualizaciones;
    };
    const Caso casos[] = {
        {"sin herramientas", QJsonObject{{"type", "session.created"}, {"session", QJsonObject{}}}, 0},
        {"lista vacía", sesionCon({}), 0},
        {"ya la trae", sesionCon({herramientaLlamada("buscar"), herramientaLlamada("ver_pantalla")}), 0},
        {"dos herramientas", sesionCon({herramientaLlamada("buscar"), herramientaLlamada("agendar")}), 1},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        lineas.clear();
        realtime.olvidar();
        realtime.guion(QJsonObject{{"alConectar", QJsonArray{c.sesion, c.sesion}}});  // twice: handled once
        crear();
        ASSERT_TRUE(conectar());
        eventos({});
        const auto act = realtime.recibidos("session.update");
        ASSERT_EQ(act.size(), c.actualizaciones);
        if (c.actualizaciones) {
            const QJsonObject s = act[0].toObject().value("session").toObject();
            EXPECT_EQ(s.value("type").toString(), "realtime");
            const QJsonArray lista = s.value("tools").toArray();
            ASSERT_EQ(lista.size(), 3);
            EXPECT_EQ(lista[2].toObject(), Llamada::herramientaVerPantalla());
            EXPECT_TRUE(hay("[llamada] herramienta ver_pantalla añadida (3 en total)"));
        }
        EXPECT_EQ(hay("[llamada] la sesión no trae herramientas: ver_pantalla no se añade"),
                  QString(c.nombre).startsWith("sin") || QString(c.nombre).startsWith("lista"));
        llamada.reset();
    }
    const QJsonObject h = Llamada::herramientaVerPantalla();
    EXPECT_EQ(h.value("parameters").toObject(), (QJsonObject{{"type", "object"}, {"properties", QJsonObject{}}}));
    EXPECT_TRUE(h.value("description").toString().endsWith("«léeme este correo». Recibirás la imagen justo después."));
}

TEST_F(Herramientas, VerPantallaMandaLaCapturaEnTresPasos) {
    QTemporaryDir dir;
    const QString ruta = dir.filePath("Pantalla prueba.jpg");
    QFile f(ruta);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\xFF\xD8\xFF\xE0jpeg", 8));
    f.close();
    crear();
    llamada->capturarPantalla = [ruta]() -> QCoro::Task<QString> { co_return ruta; };
    ASSERT_TRUE(conectar());
    realtime.olvidar();
    eventos({llamadaDeHerramienta("ver_pantalla", "c1")});
    ASSERT_TRUE(esperarEnviados("response.create"));
    const auto todo = realtime.recibidos();
    ASSERT_EQ(todo.size(), 3);
    EXPECT_EQ(todo[0].toObject().value("item").toObject(),
              (QJsonObject{{"type", "function_call_output"},
                           {"call_id", "c1"},
                           {"output", "Captura tomada: la imagen de su pantalla va en el mensaje siguiente."}}));
    const QJsonObject imagen = todo[1].toObject().value("item").toObject();
    EXPECT_EQ(imagen.value("role").toString(), "user");
    EXPECT_EQ(imagen.value("content").toArray()[0].toObject().value("image_url").toString(),
              "data:image/jpeg;base64," + QString::fromLatin1(QByteArray("\xFF\xD8\xFF\xE0jpeg", 8).toBase64()));
    EXPECT_EQ(todo[2].toObject().value("type").toString(), "response.create");
    EXPECT_TRUE(hay("[llamada] Zentu pidió ver la pantalla"));
    EXPECT_FALSE(QFile::exists(ruta));  // the picture of the owner's screen does not stay on disk
}

TEST_F(Herramientas, LaCapturaNoQuedaEnDiscoSiLaLlamadaTerminoMientras) {
    QTemporaryDir dir;
    const QString ruta = dir.filePath("Pantalla prueba.jpg");
    QFile f(ruta);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\xFF\xD8\xFF\xE0jpeg", 8));
    f.close();
    QTimer listo;
    listo.setSingleShot(true);
    listo.start(std::chrono::hours(1));  // fired by hand below
    bool empezada = false;
    crear();
    llamada->capturarPantalla = [&listo, &empezada, ruta] { return capturaCuando(&listo, &empezada, ruta); };
    ASSERT_TRUE(conectar());
    eventos({llamadaDeHerramienta("ver_pantalla", "c1")});
    ASSERT_TRUE(pruebas::esperarHasta([&] { return empezada; }, 10000));
    llamada.reset();
    listo.start(0);
    EXPECT_TRUE(pruebas::esperarHasta([&] { return !QFile::exists(ruta); }, 10000));
}

TEST_F(Herramientas, UnaCapturaFallidaSeLaDiceAlAgente) {
    struct Caso {
        std::function<void()> fallar;
        QString texto;
    };
    const Caso casos[] = {
        {[] { throw Pantalla::Error(Pantalla::Fallo::sinPermiso); }, Pantalla::descripcion(Pantalla::Fallo::sinPermiso)},
        {[] { throw ErrorZentu::servidor(QStringLiteral("Falta la pantalla.")); }, "Falta la pantalla."},
        {[] {}, ""},  // a path that cannot be read
    };
    for (const auto& c : casos) {
        crear();
        llamada->capturarPantalla = [&c]() -> QCoro::Task<QString> {
            c.fallar();
            co_return QStringLiteral("/no/existe/Pantalla.jpg");
        };
        ASSERT_TRUE(conectar());
        realtime.olvidar();
        eventos({llamadaDeHerramienta("ver_pantalla", "c2")});
        ASSERT_TRUE(esperarEnviados("response.create"));
        const auto item = realtime.recibidos("conversation.item.create");
        ASSERT_EQ(item.size(), 1);
        const QString salida = salidaDe(item[0]);
        EXPECT_TRUE(salida.startsWith("No pude ver la pantalla: ")) << salida.toStdString();
        if (!c.texto.isEmpty()) {
            EXPECT_EQ(salida, "No pude ver la pantalla: " + c.texto);
        } else {
            EXPECT_GT(salida.size(), QString("No pude ver la pantalla: ").size());
        }
    }
}

TEST_F(Herramientas, ColgarEsperaLaDespedidaYElDuenoPuedeSeguir) {
    struct Caso {
        const char* nombre;
        QString despedida;  // empty: no transcript
        bool duenoHabla;
        double cuelgaA;     // seconds after the tool; 0: never
    };
    // 10 words: 0.4 × 10 + 3 = 7 s after the transcript, which comes 1 s after the tool.
    const Caso casos[] = {
        {"diez palabras", "Bueno pues  que te vaya muy bien hasta luego amigo", false, 8},
        {"sin transcripción", "", false, 12},
        {"el dueño sigue hablando", "Adiós", true, 0},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        terminados = 0;
        crear();
        ASSERT_TRUE(conectar());
        realtime.olvidar();
        eventos({llamadaDeHerramienta("colgar", "c3")});
        ASSERT_TRUE(esperarEnviados("response.create"));
        EXPECT_EQ(salidaDe(realtime.recibidos("conversation.item.create")[0]),
                  "Despídete en una frase y cuelgo yo en cuanto termines de hablar.");
        double t = 0;
        auto paso = [&](double s) {
            audio->entregar(bloqueSeno());  // the microphone stays alive
            avanzar(s);
            t += s;
        };
        paso(1);
        if (!c.despedida.isEmpty())
            eventos({QJsonObject{{"type", "response.output_audio_transcript.done"}, {"transcript", c.despedida}}});
        if (c.duenoHabla) eventos({QJsonObject{{"type", "input_audio_buffer.speech_started"}}});
        if (c.cuelgaA > 0) {
            while (t + 1 < c.cuelgaA) paso(1);
            paso(c.cuelgaA - t - 0.05);
            EXPECT_EQ(terminados, 0);
            paso(0.1);
            ASSERT_TRUE(esperarFin());
            EXPECT_EQ(error, nullptr);
        } else {
            for (int i = 0; i < 6; ++i) paso(4);
            EXPECT_EQ(terminados, 0);
        }
        llamada.reset();
    }
}

TEST_F(Herramientas, UnNuevoColgadoReemplazaAlAnterior) {
    // The fallback of 12 s, then a 5-word farewell 3 s later (5 s): the end comes at 8 s, once.
    crear();
    ASSERT_TRUE(conectar());
    eventos({llamadaDeHerramienta("colgar", "c4")});
    for (int i = 0; i < 3; ++i) {
        audio->entregar(bloqueSeno());
        avanzar(1);
    }
    eventos({QJsonObject{{"type", "response.output_audio_transcript.done"}, {"transcript", "uno dos tres cuatro cinco"}}});
    avanzar(4.9);
    EXPECT_EQ(terminados, 0);
    avanzar(0.2);
    ASSERT_TRUE(esperarFin());
    avanzar(10);
    pruebas::girar(100);
    EXPECT_EQ(terminados, 1);
    EXPECT_EQ(peticiones("/api/v1/llamada/realtime/uso").size(), 1);
}

TEST_F(Herramientas, LasDelServicioContestanSuResultadoOElRespaldo) {
    struct Caso {
        const char* nombre;
        QJsonObject respuesta;  // scripted reply of the tool path
        QString salida;
    };
    const QString respaldo = "No pude ejecutar agendar_cita ahora mismo.";
    const Caso casos[] = {
        {"resultado", QJsonObject{{"estado", 200}, {"cuerpo", QJsonObject{{"resultado", "Cita el martes a las 10."}}}},
         "Cita el martes a las 10."},
        {"sin resultado", QJsonObject{{"estado", 200}, {"cuerpo", QJsonObject{{"pase", QJsonObject{}}}}}, respaldo},
        {"resultado numérico", QJsonObject{{"estado", 200}, {"cuerpo", QJsonObject{{"resultado", 3}}}}, respaldo},
        {"error del servicio", QJsonObject{{"estado", 500}, {"cuerpo", QJsonObject{{"error", "roto"}}}}, respaldo},
        {"conexión cortada a medias",
         QJsonObject{{"estado", 200}, {"texto", "{\"resultado\": \"Cita el martes.\"}"}, {"cortarTras", 5}}, respaldo},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        servicio.olvidarPeticiones();
        crear(QStringLiteral("ventas"), 42);
        ASSERT_TRUE(conectar());
        realtime.olvidar();
        servicio.responder("POST", "/api/v1/llamada/realtime/tool", c.respuesta);
        eventos({llamadaDeHerramienta("agendar_cita", "c5", "{\"dia\": \"martes\"}")});
        ASSERT_TRUE(esperarEnviados("response.create"));
        ASSERT_EQ(respuestas(realtime).size(), 1);
        EXPECT_EQ(salidaDe(respuestas(realtime)[0]), c.salida);
        EXPECT_EQ(respuestas(realtime)[0].toObject().value("item").toObject().value("call_id").toString(), "c5");
        const auto p = peticiones("/api/v1/llamada/realtime/tool");
        ASSERT_EQ(p.size(), 1);
        EXPECT_EQ(cuerpo(p[0]), (QJsonObject{{"agente", "ventas"},
                                             {"nombre", "agendar_cita"},
                                             {"argumentos", "{\"dia\": \"martes\"}"},
                                             {"consulta", 42}}));
        EXPECT_TRUE(realtime.recibidos("session.update").isEmpty());
        EXPECT_TRUE(hay("[llamada] herramienta agendar_cita"));
        llamada.reset();
    }
}

TEST_F(Herramientas, ElPaseCambiaInstruccionesHerramientasYAgente) {
    crear();
    ASSERT_TRUE(conectar());
    realtime.olvidar();
    // To "cobranza" with an empty tool list: the screen tool is the whole list.
    servicio.responder("POST", "/api/v1/llamada/realtime/tool", 200,
                       QJsonObject{{"resultado", "Te paso con cobranza."},
                                   {"pase", QJsonObject{{"instructions", "Eres cobranza."}, {"tools", QJsonArray{}}, {"agente", "cobranza"}}}});
    eventos({llamadaDeHerramienta("pasar", "c6")});
    ASSERT_TRUE(esperarEnviados("response.create"));
    auto todo = realtime.recibidos();
    ASSERT_EQ(todo.size(), 3);
    EXPECT_EQ(todo[0].toObject(),
              (QJsonObject{{"type", "session.update"},
                           {"session", QJsonObject{{"type", "realtime"},
                                                   {"instructions", "Eres cobranza."},
                                                   {"tools", QJsonArray{Llamada::herramientaVerPantalla()}}}}}));
    EXPECT_EQ(salidaDe(todo[1]), "Te paso con cobranza.");
    EXPECT_TRUE(hay("[llamada] pasada a cobranza · 1 herramientas"));
    EXPECT_TRUE(cuerpo(peticiones("/api/v1/llamada/realtime/tool")[0]).value("agente").isNull());

    // Back to the coordinator: no "agente" in the hand-over; a malformed one changes nothing.
    realtime.olvidar();
    servicio.responder("POST", "/api/v1/llamada/realtime/tool", 200,
                       QJsonObject{{"resultado", "Vuelves con Zentu."},
                                   {"pase", QJsonObject{{"instructions", "Eres Zentu."},
                                                        {"tools", QJsonArray{herramientaLlamada("ver_pantalla")}}}}});
    eventos({llamadaDeHerramienta("volver", "c7")});
    ASSERT_TRUE(esperarEnviados("response.create"));
    EXPECT_TRUE(hay("[llamada] pasada a Zentu · 1 herramientas"));
    EXPECT_EQ(cuerpo(peticiones("/api/v1/llamada/realtime/tool")[1]).value("agente").toString(), "cobranza");
    realtime.olvidar();
    servicio.responder("POST", "/api/v1/llamada/realtime/tool", 200,
                       QJsonObject{{"resultado", "Listo."}, {"pase", QJsonObject{{"instructions", 5}, {"tools", QJsonArray{}}}}});
    eventos({llamadaDeHerramienta("otra", "c8"),
             QJsonObject{{"type", "response.output_audio_transcript.done"}, {"transcript", "Listo."}}});
    ASSERT_TRUE(esperarEnviados("response.create"));
    EXPECT_TRUE(realtime.recibidos("session.update").isEmpty());
    EXPECT_TRUE(cuerpo(peticiones("/api/v1/llamada/realtime/tool")[2]).value("agente").isNull());

    llamada->colgar();
    ASSERT_TRUE(esperarFin());
    EXPECT_TRUE(cuerpo(peticiones("/api/v1/llamada/fin")[0]).value("agente").isNull());
}

TEST_F(Herramientas, LaLlamadaDeUnAgenteArrancaConSuPropioTurno) {
    struct Caso {
        const char* nombre;
        bool duenoHablaAntes;
    };
    for (const Caso& c : {Caso{"el agente arranca", false}, Caso{"el dueño habla antes", true}}) {
        SCOPED_TRACE(c.nombre);
        crear(QStringLiteral("ventas"), 42);
        ASSERT_TRUE(conectar());
        ASSERT_TRUE(esperarEnviados("conversation.item.create"));
        const QJsonObject item = realtime.recibidos("conversation.item.create")[0].toObject().value("item").toObject();
        EXPECT_EQ(item.value("role").toString(), "system");
        EXPECT_EQ(item.value("content").toArray()[0].toObject().value("text").toString(),
                  "El dueño acaba de descolgar el teléfono que TÚ hiciste sonar; quizá solo dijo «aló». Arranca tú, como te toca.");
        eventos({QJsonObject{{"type", "conversation.item.created"}, {"item", QJsonObject{{"role", "user"}, {"id", "u1"}}}},
                 QJsonObject{{"type", "conversation.item.created"}, {"item", QJsonObject{{"role", "system"}, {"id", "s1"}}}}});
        if (c.duenoHablaAntes) eventos({QJsonObject{{"type", "input_audio_buffer.speech_started"}}});
        avanzar(1.9);
        EXPECT_TRUE(realtime.recibidos("response.create").isEmpty());
        avanzar(0.2);
        pruebas::girar(200);
        EXPECT_EQ(realtime.recibidos("response.create").size(), c.duenoHablaAntes ? 0 : 1);
        eventos({QJsonObject{{"type", "response.created"}}, QJsonObject{{"type", "response.done"}},
                 QJsonObject{{"type", "response.done"}}});
        ASSERT_TRUE(esperarEnviados("conversation.item.delete"));
        pruebas::girar(100);
        const auto borrados = realtime.recibidos("conversation.item.delete");
        ASSERT_EQ(borrados.size(), 1);  // the first "response.done" only
        EXPECT_EQ(borrados[0].toObject().value("item_id").toString(), "s1");
        llamada.reset();
        realtime.olvidar();
    }
}
