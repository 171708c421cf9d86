// The call's session: start, events both ways, phases, the single end, and the audio path.
#include "LlamadaBanco.h"

#include <QRegularExpression>
#include <QUrlQuery>

using Llamadas = LlamadaBanco;

TEST_F(Llamadas, PideElTokenConAgenteYConsultaSoloCuandoHayAmbos) {
    struct Caso {
        std::optional<QString> agente;
        std::optional<qint64> consulta;
        QString consultaEsperada;
    };
    const Caso casos[] = {
        {std::nullopt, std::nullopt, ""},
        {QStringLiteral("ventas y soporte"), 42, "?agente=ventas%20y%20soporte&consulta=42"},
        {QStringLiteral("ventas"), std::nullopt, ""},
        {std::nullopt, 7, ""},
    };
    for (const auto& c : casos) {
        servicio.olvidarPeticiones();
        lineas.clear();
        crear(c.agente, c.consulta);
        ASSERT_TRUE(conectar());
        const auto p = peticiones("/api/v1/llamada/realtime/token");
        ASSERT_EQ(p.size(), 1);
        EXPECT_EQ(p[0].toObject().value("consulta").toString(), c.consultaEsperada) << c.agente.value_or("-").toStdString();
        EXPECT_EQ(p[0].toObject().value("metodo").toString(), "GET");
        llamada.reset();
    }
}

TEST_F(Llamadas, UnaLlamadaSencillaDeEmpiezoAFin) {
    crear();
    ASSERT_TRUE(conectar());
    EXPECT_TRUE(hay("[llamada] token listo · modelo=gpt-realtime · llamada=llamada-1"));
    EXPECT_TRUE(hay("[llamada] audio listo · micrófono 48000 Hz × 1 · procesado de voz encendido"));
    EXPECT_EQ(audio->marcosPedidos, 2048);

    // The socket: the model as its query, the bearer header with the realtime token.
    const auto conexiones = realtime.conexiones();
    ASSERT_EQ(conexiones.size(), 1);
    EXPECT_EQ(conexiones[0].toObject().value("url").toString(), "/v1/realtime?model=gpt-realtime");
    EXPECT_EQ(conexiones[0].toObject().value("autorizacion").toString(), "Bearer token-realtime");

    // The microphone: one 2048-frame block at 48 kHz goes out as one append of 24 kHz PCM.
    audio->entregar(bloqueSeno());
    ASSERT_TRUE(esperarEnviados("input_audio_buffer.append"));
    const auto append = realtime.recibidos("input_audio_buffer.append")[0].toObject();
    const QByteArray pcm = QByteArray::fromBase64(append.value("audio").toString().toLatin1());
    EXPECT_GT(pcm.size(), 1800);
    EXPECT_LE(pcm.size(), 1088 * 2);
    EXPECT_EQ(pcm.size() % 2, 0);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !niveles.empty(); }));
    EXPECT_GT(niveles.back(), 0.5);  // a 0.3 sine: rms 0.21 × 5, capped

    eventos({
        QJsonObject{{"type", "input_audio_buffer.speech_started"}},
        QJsonObject{{"type", "input_audio_buffer.speech_stopped"}},
        QJsonObject{{"type", "conversation.item.input_audio_transcription.completed"}, {"transcript", "  hola Zentu \t"}},
        QJsonObject{{"type", "conversation.item.input_audio_transcription.completed"}, {"transcript", " \t "}},
        QJsonObject{{"type", "response.created"}},
        QJsonObject{{"type", "response.output_audio.delta"}, {"item_id", "it1"}, {"delta", pcmBase64(2400)}},
        QJsonObject{{"type", "response.output_audio.delta"}, {"item_id", "it1"}, {"delta", "no es base64 ¿?"}},
        QJsonObject{{"type", "response.output_audio_transcript.done"}, {"transcript", "Hola, ¿en qué te ayudo?"}},
        QJsonObject{{"type", "response.done"},
                    {"response", QJsonObject{{"usage", QJsonObject{{"input_tokens", 10}, {"output_tokens", 5}}}}}},
    });
    EXPECT_EQ(cuantas("[llamada] OpenAI transcribió lo tuyo ("), 1);
    EXPECT_TRUE(hay("[llamada] OpenAI transcribió lo tuyo (10 caracteres)"));
    EXPECT_EQ(audio->trozos.size(), 1u);  // the undecodable chunk is dropped
    // Still playing after "response.done": listening comes with the last chunk played.
    EXPECT_EQ(fases.back(), Fase::hablando);
    audio->reproducir(1);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return fases.back() == Fase::escuchando; }));
    const std::vector<Fase> esperadas{Fase::conectando, Fase::escuchando, Fase::escuchando, Fase::pensando,
                                      Fase::pensando, Fase::hablando, Fase::escuchando};
    EXPECT_EQ(fases, esperadas);

    llamada->colgar();
    ASSERT_TRUE(esperarFin());
    EXPECT_EQ(error, nullptr);
    EXPECT_TRUE(audio->detenido);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !realtime.conexiones()[0].toObject().value("abierta").toBool(); }));
    EXPECT_EQ(realtime.conexiones()[0].toObject().value("codigo").toInt(), 1000);

    const auto uso = peticiones("/api/v1/llamada/realtime/uso");
    ASSERT_EQ(uso.size(), 1);
    const QJsonObject cuerpoUso = cuerpo(uso[0]);
    EXPECT_EQ(cuerpoUso.value("llamadaId").toString(), "llamada-1");
    EXPECT_EQ(cuerpoUso.value("segundos").toInt(), 0);
    EXPECT_EQ(cuerpoUso.value("uso").toObject().value("input_tokens").toInt(), 10);
    EXPECT_EQ(cuerpoUso.value("uso").toObject().value("output_tokens").toInt(), 5);
    const auto fin = peticiones("/api/v1/llamada/fin");
    ASSERT_EQ(fin.size(), 1);
    const QJsonObject cuerpoFin = cuerpo(fin[0]);
    EXPECT_TRUE(cuerpoFin.value("agente").isNull());
    const QJsonArray turnos{QJsonObject{{"de", "tu"}, {"texto", "  hola Zentu \t"}},
                            QJsonObject{{"de", "agente"}, {"texto", "Hola, ¿en qué te ayudo?"}}};
    EXPECT_EQ(cuerpoFin.value("turnos").toArray(), turnos);
    EXPECT_TRUE(hay("[llamada] uso → {\"ok\":true}"));
    EXPECT_TRUE(hay("[llamada] fin → {\"ok\":true}"));

    // After the end the microphone sends nothing more.
    realtime.olvidar();
    audio->entregar(bloqueSeno());
    pruebas::girar(200);
    EXPECT_TRUE(realtime.recibidos().isEmpty());
}

TEST_F(Llamadas, ElModeloViajaCodificadoEnLaDireccion) {
    servicio.responder("GET", "/api/v1/llamada/realtime/token", 200,
                       QJsonObject{{"token", "t"}, {"modelo", "gpt rt&voz=x#1"}});
    crear();
    ASSERT_TRUE(conectar());
    EXPECT_EQ(realtime.conexiones()[0].toObject().value("url").toString(), "/v1/realtime?model=gpt%20rt%26voz%3Dx%231");
    EXPECT_TRUE(hay("[llamada] token listo · modelo=gpt rt&voz=x#1 · llamada=-"));
    // Without a call id there are no reports.
    llamada->colgar();
    ASSERT_TRUE(esperarFin());
    EXPECT_TRUE(peticiones("/api/v1/llamada/realtime/uso").isEmpty());
    EXPECT_TRUE(peticiones("/api/v1/llamada/fin").isEmpty());
}

TEST_F(Llamadas, LosFallosDelArranqueTerminanConSuError) {
    struct Caso {
        const char* nombre;
        std::function<void()> preparar;
        QString texto;
        bool informaUso;
    };
    const Caso casos[] = {
        {"sesión vencida",
         [this] { servicio.responder("GET", "/api/v1/llamada/realtime/token", 401, QJsonObject{}); },
         "Tu enlace con Zentu venció. Vuelve a escanear el código del panel.", false},
        {"sin modelo",
         [this] {
             servicio.responder("GET", "/api/v1/llamada/realtime/token", 200, QJsonObject{{"token", "t"}, {"modelo", 3}});
         },
         "Zentu no pudo preparar la llamada.", false},
        {"sin audio", [this] { audio->fallo = QStringLiteral("No hay micrófono."); }, "No hay micrófono.", true},
        {"la voz rechaza el socket", [this] { realtime.guion(QJsonObject{{"rechazar", 503}}); },
         "No se pudo conectar con la voz de Zentu.", true},
        {"la voz cierra antes de la sesión",
         [this] { realtime.guion(QJsonObject{{"alConectar", QJsonArray{}}, {"cerrarAlConectar", 1011}}); },
         "No se pudo conectar con la voz de Zentu.", true},
        {"un mensaje de más de 16 MiB antes de la sesión",
         [this] { realtime.guion(QJsonObject{{"alConectar", QJsonArray{}}}); },
         "No se pudo conectar con la voz de Zentu.", true},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        servicio.olvidarPeticiones();
        realtime.guion(QJsonObject{});
        lineas.clear();
        terminados = 0;
        error.reset();
        crear();
        c.preparar();
        abrir();
        if (std::string(c.nombre).starts_with("un mensaje")) {
            ASSERT_TRUE(pruebas::esperarHasta([&] {
                const auto cx = realtime.conexiones();
                return !cx.isEmpty() && cx.last().toObject().value("abierta").toBool();
            }));
            realtime.enviarCrudo(QJsonObject{{"grande", 16 * 1024 * 1024 + 10}});
        }
        ASSERT_TRUE(esperarFin(20000));
        EXPECT_EQ(terminados, 1);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->descripcion(), c.texto);
        const bool abrio = hay("[llamada] no se pudo abrir: " + c.texto);
        EXPECT_EQ(abrio, !c.texto.startsWith("No se pudo conectar")) << lineas.join('\n').toStdString();
        if (!abrio) {
            EXPECT_TRUE(hay("[llamada] se cerró el canal: "));
        }
        EXPECT_EQ(peticiones("/api/v1/llamada/realtime/uso").size(), c.informaUso ? 1 : 0);
        if (c.informaUso) {
            EXPECT_EQ(cuerpo(peticiones("/api/v1/llamada/realtime/uso")[0]).value("segundos").toInt(), 0);
        }
        EXPECT_TRUE(peticiones("/api/v1/llamada/fin").isEmpty());
        llamada.reset();
    }
}

TEST_F(Llamadas, ColgarMientrasEsperaElTokenNoAbreNadaDespues) {
    servicio.responder("GET", "/api/v1/llamada/realtime/token",
                       QJsonObject{{"estado", 200},
                                   {"cuerpo", QJsonObject{{"token", "t"}, {"modelo", "m"}, {"llamadaId", "l-9"}}},
                                   {"retraso", 400}});
    crear();
    abrir();
    llamada->colgar();
    ASSERT_TRUE(esperarFin());
    EXPECT_EQ(error, nullptr);
    pruebas::esperarHasta([&] { return !peticiones("/api/v1/llamada/realtime/token").isEmpty(); });
    pruebas::girar(800);  // the token arrives after the hang-up
    EXPECT_FALSE(audio->arrancado);
    EXPECT_TRUE(realtime.conexiones().isEmpty());
    EXPECT_EQ(terminados, 1);
    // A second abrir() after the end does nothing either.
    abrir();
    pruebas::girar(300);
    EXPECT_EQ(peticiones("/api/v1/llamada/realtime/token").size(), 1);
}

TEST_F(Llamadas, ElCanalQueSeCierraEnPlenaLlamadaEsUnFinNormal) {
    crear();
    ASSERT_TRUE(conectar());
    for (int i = 0; i < 12; ++i) {
        audio->entregar(bloqueSeno());
        avanzar(5);
    }
    avanzar(1);
    realtime.cortar();
    ASSERT_TRUE(esperarFin());
    EXPECT_EQ(error, nullptr);
    EXPECT_TRUE(hay("[llamada] se cerró el canal: "));
    EXPECT_EQ(cuerpo(peticiones("/api/v1/llamada/realtime/uso")[0]).value("segundos").toInt(), 61);
}

TEST_F(Llamadas, UnSaludoQueNoLlegaEn60SegundosTerminaLaLlamada) {
    realtime.guion(QJsonObject{{"colgarSaludo", true}});
    crear();
    abrir();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !realtime.conexiones().isEmpty(); }));
    avanzar(59);
    EXPECT_EQ(terminados, 0);
    avanzar(1.5);
    ASSERT_TRUE(esperarFin());
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->descripcion(), "No se pudo conectar con la voz de Zentu.");
}

TEST_F(Llamadas, EventosRepetidosRarosYErroresNoRompenLaLlamada) {
    crear();
    ASSERT_TRUE(conectar());
    realtime.enviarCrudo(QJsonObject{{"texto", "esto no es JSON"}});
    realtime.enviarCrudo(QJsonObject{{"texto", "[1,2]"}});
    realtime.enviarCrudo(QJsonObject{{"binario", "AAEC"}});
    eventos({
        QJsonObject{{"type", "session.created"}, {"session", QJsonObject{}}},
        QJsonObject{{"type", "desconocido"}},
        QJsonObject{{"type", "error"}},
    });
    EXPECT_EQ(cuantas("[llamada] conectada"), 1);
    EXPECT_TRUE(hay("[llamada] error de OpenAI: {\"type\":\"error\"}"));
    // One guardian only: a second one would tick twice per 5 s; nothing fires while alive.
    audio->entregar(bloqueSeno());
    avanzar(5);
    EXPECT_EQ(terminados, 0);
}

TEST_F(Llamadas, InterrumpirTruncaDondeSeOyo) {
    struct Caso {
        int muestras;
        int trozos;
        int oidos;
        int ms;
    };
    // 36,000 samples heard are 1.5 s; 100 samples 4 ms; a chunk not yet played does not count.
    const Caso casos[] = {{12000, 3, 3, 1500}, {100, 1, 1, 4}, {12000, 3, 2, 1000}};
    for (const auto& c : casos) {
        lineas.clear();
        crear();
        ASSERT_TRUE(conectar());
        realtime.olvidar();
        QJsonArray lista{QJsonObject{{"type", "response.created"}}};
        for (int i = 0; i < c.trozos; ++i)
            lista.append(QJsonObject{{"type", "response.output_audio.delta"}, {"item_id", "it7"}, {"delta", pcmBase64(c.muestras)}});
        eventos(lista);
        audio->reproducir(static_cast<size_t>(c.oidos));
        pruebas::girar(50);
        eventos({QJsonObject{{"type", "input_audio_buffer.speech_started"}}});
        ASSERT_TRUE(esperarEnviados("conversation.item.truncate"));
        const auto t = realtime.recibidos("conversation.item.truncate")[0].toObject();
        EXPECT_EQ(t.value("item_id").toString(), "it7");
        EXPECT_EQ(t.value("content_index").toInt(), 0);
        EXPECT_EQ(t.value("audio_end_ms").toInt(), c.ms);
        EXPECT_TRUE(hay(QStringLiteral("[llamada] interrumpido a los %1 ms").arg(c.ms)));
        EXPECT_EQ(audio->vaciados, 1);
        EXPECT_EQ(fases.back(), Fase::escuchando);
        llamada.reset();
    }
}

TEST_F(Llamadas, InterrumpirSinNadaSonandoNoEnviaNiRegistra) {
    crear();
    ASSERT_TRUE(conectar());
    eventos({QJsonObject{{"type", "input_audio_buffer.speech_started"}}});
    EXPECT_FALSE(hay("[llamada] interrumpido"));
    EXPECT_EQ(audio->vaciados, 0);
    EXPECT_TRUE(realtime.recibidos("conversation.item.truncate").isEmpty());
}

TEST_F(Llamadas, TrozosDeUnoYTresBytes) {
    crear();
    ASSERT_TRUE(conectar());
    eventos({QJsonObject{{"type", "response.output_audio.delta"}, {"delta", QString::fromLatin1(QByteArray("\x01").toBase64())}},
             QJsonObject{{"type", "response.output_audio.delta"},
                         {"delta", QString::fromLatin1(QByteArray("\x01\x02\x03", 3).toBase64())}}});
    ASSERT_EQ(audio->trozos.size(), 1u);
    EXPECT_EQ(audio->trozos[0].muestras, 1u);
}

TEST_F(Llamadas, SilenciadaNoEnviaPeroCuentaLosBloquesCallados) {
    crear();
    ASSERT_TRUE(conectar());
    llamada->setSilenciada(true);
    realtime.olvidar();
    // 47 blocks of 2048 frames at 48 kHz pass 2 s of audio: one statistics line.
    for (int i = 0; i < 47; ++i) audio->entregar(bloqueSeno(0.5));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return hay("[llamada] micrófono 2 s"); }));
    EXPECT_TRUE(hay("[llamada] micrófono 2 s · nivel máx 0.00 · 0 bloques · 0 KB enviados · 47 callados (silenciada) · "
                    "agente hablando: no · crudo por canal: c0=0.353"))
        << lineas.join('\n').toStdString();
    EXPECT_TRUE(realtime.recibidos("input_audio_buffer.append").isEmpty());
    ASSERT_FALSE(niveles.empty());
    EXPECT_EQ(niveles.back(), 0.0);
    // The guardian sees the muted microphone alive.
    for (int i = 0; i < 4; ++i) {
        avanzar(5);
        audio->entregar(bloqueSeno());
    }
    EXPECT_EQ(terminados, 0);
}

TEST_F(Llamadas, LaLineaDeEstadisticasCuentaLoEnviadoYCadaCanal) {
    crear();
    ASSERT_TRUE(conectar());
    // Two channels: only the first is sent; each gets its own raw peak.
    std::vector<float> estereo = bloqueSeno(0.5, 2);
    for (size_t i = 1; i < estereo.size(); i += 2) estereo[i] = 0.1f;
    for (int i = 0; i < 47; ++i) audio->entregar(estereo, 2);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return hay("[llamada] micrófono 2 s"); }));
    static const QRegularExpression forma(
        "^\\[llamada\\] micrófono 2 s · nivel máx 1\\.00 · 47 bloques · (\\d+) KB enviados · 0 callados \\(silenciada\\) · "
        "agente hablando: no · crudo por canal: c0=0\\.353 c1=0\\.100$");
    QString linea;
    for (const auto& l : lineas)
        if (l.startsWith("[llamada] micrófono 2 s")) linea = l;
    const auto m = forma.match(linea);
    ASSERT_TRUE(m.hasMatch()) << linea.toStdString();
    EXPECT_NEAR(m.captured(1).toInt(), 47 * 1024 * 2 / 1024, 2);
    ASSERT_TRUE(esperarEnviados("input_audio_buffer.append", 47));
    // A change of channel count starts the per-channel peaks again.
    for (int i = 0; i < 47; ++i) audio->entregar(bloqueSeno(0.2));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return cuantas("[llamada] micrófono 2 s") == 2; }));
    EXPECT_TRUE(lineas.filter("[llamada] micrófono 2 s").last().endsWith("crudo por canal: c0=0.141"));
}

TEST(NivelDeVoz, Formula) {
    struct Caso {
        std::vector<qint16> muestras;
        double nivel;
    };
    std::vector<qint16> cuadrada(100);
    for (size_t i = 0; i < cuadrada.size(); ++i) cuadrada[i] = (i / 2) % 2 ? -32768 : 32767;
    // Every second sample counts: 3 samples read positions 0 and 2, divided by (3 + 1) / 2.
    const Caso casos[] = {
        {{}, 0.0},
        {cuadrada, 1.0},
        {{3277, 32767, 3277}, std::sqrt((2 * std::pow(3277 / 32768.0, 2)) / 2) * 5},
        {{1000, -32768}, 1000 / 32768.0 * 5},
    };
    for (const auto& c : casos) EXPECT_NEAR(Llamada::nivel(c.muestras.data(), static_cast<qint64>(c.muestras.size())), c.nivel, 1e-9);
}
