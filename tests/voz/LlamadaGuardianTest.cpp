// The guardian's limits, the usage arithmetic, the owner's hang-up and the end reports.
#include "LlamadaBanco.h"

using Guardian = LlamadaBanco;

TEST_F(Guardian, CadaLimiteCuelgaConSuTexto) {
    struct Caso {
        const char* nombre;
        bool bloques;       // the microphone keeps delivering (muted)
        bool agenteHabla;   // a chunk of the agent stays queued
        double antes;       // still alive at this many seconds after the start
        double despues;     // ended by then
        QString texto;
    };
    const Caso casos[] = {
        {"micrófono mudo", false, true, 10, 15, "El micrófono dejó de mandar audio: colgué la llamada."},
        {"nadie habla", true, false, 120, 125, "Nadie habló en 2 minutos: colgué la llamada."},
        {"dos horas", true, true, 7200, 7205, "La llamada llegó al tope de 2 horas: la colgué."},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        lineas.clear();
        terminados = 0;
        error.reset();
        crear();
        ASSERT_TRUE(conectar());
        llamada->setSilenciada(true);
        if (c.agenteHabla) eventos({QJsonObject{{"type", "response.output_audio.delta"}, {"delta", pcmBase64(10)}}});
        double t = 0;
        while (t < c.antes) {
            if (c.bloques) audio->entregar(bloqueSeno());
            avanzar(5);
            t += 5;
        }
        EXPECT_EQ(terminados, 0) << t;
        if (c.bloques) audio->entregar(bloqueSeno());
        avanzar(c.despues - c.antes);
        ASSERT_TRUE(esperarFin());
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->descripcion(), c.texto);
        EXPECT_TRUE(hay("[llamada] guardián: " + c.texto));
        EXPECT_EQ(cuerpo(peticiones("/api/v1/llamada/realtime/uso").last()).value("segundos").toInt(), static_cast<int>(c.despues));
        llamada.reset();
    }
}

TEST(UsoDeLlamada, SumaSoloLasClavesDelRegistro) {
    QJsonObject uso = Llamada::usoVacio();
    const QJsonObject evento{{"input_tokens", 100},
                             {"output_tokens", 50},
                             {"input_token_details", QJsonObject{{"audio_tokens", 80}, {"text_tokens", 20}, {"image_tokens", 9}}}};
    Llamada::sumarUso(uso, evento);
    Llamada::sumarUso(uso, evento);
    Llamada::sumarUso(uso, QJsonObject{{"input_tokens", "mucho"}, {"output_token_details", QJsonObject{{"audio_tokens", 7}}}});
    EXPECT_EQ(uso, (QJsonObject{{"input_tokens", 200},
                                {"output_tokens", 100},
                                {"input_token_details", QJsonObject{{"text_tokens", 40}, {"audio_tokens", 160}, {"cached_tokens", 0}}},
                                {"output_token_details", QJsonObject{{"text_tokens", 0}, {"audio_tokens", 7}}}}));
}

// The service's usage figures are range-checked before they are converted or added: what is no
// token count adds nothing, and a sum stops at the largest count a JSON number holds exactly.
TEST(UsoDeLlamada, LasCifrasFueraDeRangoNoSeSuman) {
    constexpr qint64 mayor = qint64(1) << 53;
    struct Caso {
        const char* nombre;
        QJsonValue antes;  // the record's "input_tokens" and "audio_tokens" before
        QJsonValue cifra;  // the event's
        qint64 despues;
    };
    const Caso casos[] = {
        {"una cuenta", 10, 7, 17},
        {"un texto", 10, "7", 10},
        {"una fracción", 10, 2.5, 10},
        {"un negativo", 10, -5, 10},
        {"1e300", 10, 1e300, 10},
        {"9e18", 10, 9e18, 10},
        {"la mayor cuenta exacta", 0, double(mayor), mayor},
        {"la suma se detiene en la mayor", mayor - 1, 5, mayor},
        {"un registro ya al tope", mayor, mayor, mayor},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        QJsonObject uso = Llamada::usoVacio();
        uso["input_tokens"] = c.antes;
        uso["input_token_details"] = QJsonObject{{"text_tokens", 0}, {"audio_tokens", c.antes}, {"cached_tokens", 0}};
        Llamada::sumarUso(uso, QJsonObject{{"input_tokens", c.cifra},
                                           {"input_token_details", QJsonObject{{"audio_tokens", c.cifra}}}});
        EXPECT_EQ(uso.value("input_tokens").toInteger(), c.despues);
        EXPECT_EQ(uso.value("input_token_details").toObject().value("audio_tokens").toInteger(), c.despues);
    }
    // Two events of 9e18 tokens each do not wrap the count around.
    QJsonObject uso = Llamada::usoVacio();
    for (int i = 0; i < 2; ++i) Llamada::sumarUso(uso, QJsonObject{{"output_tokens", 9e18}});
    EXPECT_GE(uso.value("output_tokens").toInteger(), 0);
}

TEST(UsoDeLlamada, EsperaDeLaDespedida) {
    const std::pair<QString, double> casos[] = {
        {"", 3}, {"   ", 3}, {"hola", 3.4}, {"uno  dos tres cuatro cinco seis siete ocho nueve diez", 7}};
    for (const auto& [texto, segundos] : casos) EXPECT_DOUBLE_EQ(Llamada::esperaDespedida(texto), segundos) << texto.toStdString();
}

TEST_F(Guardian, ElUsoDeVariasRespuestasLlegaAlInforme) {
    crear();
    ASSERT_TRUE(conectar());
    const QJsonObject hecho{{"type", "response.done"},
                            {"response", QJsonObject{{"usage", QJsonObject{{"input_tokens", 100},
                                                                           {"output_tokens", 50},
                                                                           {"input_token_details",
                                                                            QJsonObject{{"audio_tokens", 80}, {"text_tokens", 20}, {"otra", 1}}}}}}}};
    eventos({hecho, hecho, QJsonObject{{"type", "response.done"}, {"response", QJsonObject{{"usage", 5}}}}});
    llamada->colgar();
    ASSERT_TRUE(esperarFin());
    const QJsonObject uso = cuerpo(peticiones("/api/v1/llamada/realtime/uso")[0]).value("uso").toObject();
    EXPECT_EQ(uso.value("input_tokens").toInt(), 200);
    EXPECT_EQ(uso.value("output_tokens").toInt(), 100);
    EXPECT_EQ(uso.value("input_token_details").toObject(),
              (QJsonObject{{"text_tokens", 40}, {"audio_tokens", 160}, {"cached_tokens", 0}}));
    // No transcript: no end report.
    EXPECT_TRUE(peticiones("/api/v1/llamada/fin").isEmpty());
}

TEST_F(Guardian, DosFinesALaVezTerminanUnaSolaVez) {
    crear();
    ASSERT_TRUE(conectar());
    eventos({QJsonObject{{"type", "response.output_audio_transcript.done"}, {"transcript", "Hola"}}});
    // The microphone is dead: the guardian's tick and two hang-ups race.
    avanzar(14.9);
    llamada->colgar();
    llamada->colgar();
    avanzar(0.2);
    ASSERT_TRUE(esperarFin());
    pruebas::girar(300);
    EXPECT_EQ(terminados, 1);
    EXPECT_EQ(error, nullptr);
    EXPECT_EQ(peticiones("/api/v1/llamada/realtime/uso").size(), 1);
    EXPECT_EQ(peticiones("/api/v1/llamada/fin").size(), 1);
    EXPECT_FALSE(hay("[llamada] guardián"));
}

TEST_F(Guardian, LosInformesFallidosNoDetienenElFin) {
    servicio.responder("POST", "/api/v1/llamada/realtime/uso", 500, QJsonObject{{"error", "caído"}});
    servicio.responder("POST", "/api/v1/llamada/fin", 502, QJsonValue());
    crear();
    ASSERT_TRUE(conectar());
    eventos({QJsonObject{{"type", "conversation.item.input_audio_transcription.completed"}, {"transcript", "hola"}}});
    llamada->colgar();
    ASSERT_TRUE(esperarFin());
    EXPECT_TRUE(hay("[llamada] uso → {}"));
    EXPECT_TRUE(hay("[llamada] fin → {}"));
    EXPECT_EQ(error, nullptr);
}
