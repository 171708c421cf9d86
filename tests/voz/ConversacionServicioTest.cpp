// The conversation against the stand-in service: transcription over "voice:audio", the question
// sent through the chat, the agent's replies spoken through "voice:tts-stream" and its chunks,
// the closing checks and the hands-free loop. Recorder and speakers are stand-ins; the channel,
// the chat model and the player's chunk handling are real. The chat and the conversation run in
// virtual time, and so does the channel on its own clock.
#include "zentu/voz/Conversacion.h"

#include "Falsos.h"
#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/CarpetaPrivada.h"
#include "plataforma/Registro.h"
#include "zentu/chat/ChatZentu.h"
#include "zentu/conexion/CanalEnVivo.h"
#include "zentu/voz/Pantalla.h"

#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QUuid>
#include <gtest/gtest.h>

using pruebas::esperarHasta;

namespace {

class ConversacionServicio : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(servicio.arrancar());
        canal = std::make_unique<CanalEnVivo>(Cuenta{servicio.url(), "token-bueno", "d@n.mx", "N"}, relojCanal);
        canal->conectar();
        ASSERT_TRUE(esperarHasta([&] { return canal->listo(); }, 10000));
        chat = std::make_unique<ChatZentu>(*canal, reloj);
        Conversacion::Partes partes;
        partes.grabadora = [this] { return std::make_unique<GrabadoraFalsa>(mic, reloj); };
        partes.voz = [this] { return std::make_unique<VozATrozos>(std::make_unique<SalidaFalsa>(salida)); };
        partes.capturar = [this]() -> QCoro::Task<QString> {
            if (falloCaptura) throw Pantalla::Error(*falloCaptura);
            const QString ruta = *CarpetaPrivada::ruta() + "/Pantalla prueba.jpg";
            QImage img(64, 48, QImage::Format_RGB32);
            img.fill(Qt::darkCyan);
            img.save(ruta, "jpeg", 72);
            captura = ruta;
            co_return ruta;
        };
        conv = std::make_unique<Conversacion>(*chat, partes);
        conv->alCambiarFase = [this](Fase f) { fases.push_back(f); };
        conv->alTerminar = [this](std::optional<QString> a) { fines.push_back(a); };
        Registro::observar([this](const QString& l) { if (l.startsWith("[conversación]")) lineas << l; });
        QObject::connect(chat.get(), &ChatZentu::transcribiendoCambio, [this] { transcribiendo << chat->transcribiendo(); });
    }
    void TearDown() override { Registro::observar({}); }

    void voz(const QJsonObject& o) { servicio.control("POST", "voz", o); }
    void transcribe(const QJsonObject& t) { voz({{"transcripcion", t}}); }
    QJsonArray eventosDe(const QString& nombre) {
        QJsonArray r;
        for (const auto& e : servicio.eventos())
            if (e.toObject().value("evento").toString() == nombre) r.append(e);
        return r;
    }
    QJsonObject primerArg(const QJsonValue& evento) { return evento.toObject().value("args").toArray().at(0).toObject(); }
    bool esperarEvento(const QString& nombre, int n = 1) {
        return esperarHasta([&] { return eventosDe(nombre).size() >= n; }, 10000);
    }
    void responde(const QString& texto) {
        static int n = 0;
        QJsonObject m{{"text", texto}, {"fromMe", true}, {"messageId", QStringLiteral("r%1").arg(++n)},
                      {"timestamp", "2026-12-10T10:00:00Z"}, {"sender", "Zentu"}};
        servicio.emitir("messages:new", QJsonArray{QJsonObject{{"phone", "dashboard"}, {"message", m}}});
    }
    void estado(const QString& s) {
        servicio.emitir("agent:status", QJsonArray{QJsonObject{{"dashboard", true}, {"status", s}}});
        pruebas::girar(100);
    }
    void empezar(bool manosLibres, bool nota) {
        conv->cancelar(true);
        conv->activa = true;
        conv->soloNota = nota;
        conv->vacias = 0;
        if (nota) chat->setGrabandoNota(true);
        conv->grabar(manosLibres);
    }
    // A take of one second, released.
    void tomar(bool manosLibres, bool nota) {
        empezar(manosLibres, nota);
        reloj.avanzar(1.0);
        conv->soltar();
    }
    bool hay(const QString& prefijo) const {
        return std::any_of(lineas.begin(), lineas.end(), [&](const QString& l) { return l.startsWith(prefijo); });
    }
    size_t frames() const {
        size_t n = 0;
        for (const auto& b : salida->buffers) n += b.size();
        return n;
    }

    ServicioSimulado servicio;
    RelojVirtual relojCanal, reloj;
    std::unique_ptr<CanalEnVivo> canal;
    std::unique_ptr<ChatZentu> chat;
    std::shared_ptr<EstadoGrabadora> mic = std::make_shared<EstadoGrabadora>();
    std::shared_ptr<EstadoSalida> salida = std::make_shared<EstadoSalida>();
    std::optional<Pantalla::Fallo> falloCaptura;
    QString captura;
    std::unique_ptr<Conversacion> conv;
    std::vector<Fase> fases;
    std::vector<std::optional<QString>> fines;
    QStringList lineas;
    QList<bool> transcribiendo;
};

TEST_F(ConversacionServicio, LaNotaDeVozVaAlChat) {
    transcribe({{"ok", true}, {"text", "  Hola equipo\n "}});
    tomar(false, true);
    ASSERT_TRUE(esperarHasta([&] { return !fines.empty(); }, 10000));
    EXPECT_EQ(fines, std::vector<std::optional<QString>>{std::nullopt});
    const auto audio = eventosDe("voice:audio");
    ASSERT_EQ(audio.size(), 1);
    EXPECT_EQ(ServicioSimulado::deBinario(primerArg(audio[0]).value("audio")), mic->contenido);
    EXPECT_EQ(primerArg(audio[0]).value("mimeType").toString(), "audio/m4a");
    const auto envios = eventosDe("chat:send");
    ASSERT_EQ(envios.size(), 1);
    EXPECT_EQ(primerArg(envios[0]).value("text").toString(), "Hola equipo");
    EXPECT_TRUE(lineas.contains("[conversación] transcrito: 11 caracteres"));
    EXPECT_TRUE(lineas.contains("[conversación] nota de voz al chat: enviada"));
    EXPECT_EQ(transcribiendo, (QList<bool>{true, false}));
    EXPECT_FALSE(chat->grabandoNota());
    EXPECT_EQ(fases, (std::vector<Fase>{Fase::escuchando, Fase::pensando}));
}

TEST_F(ConversacionServicio, TranscripcionesFallidasOVacias) {
    const QString entender = "No pude entender la nota. Prueba otra vez.";
    const QString repite = "No te entendí. Repítelo, por favor.";
    const QString ruido = "Solo oigo ruido: cerré la conversación.";
    const struct {
        const char* nombre;
        QJsonObject respuesta;
        bool nota, manosLibres;
        int vacias;
        std::optional<QString> aviso;  // none: it listens again
    } casos[] = {
        {"ok falso", {{"ok", false}, {"text", "hola"}}, false, false, 0, entender},
        {"ok no booleano", {{"ok", 1}, {"text", "hola"}}, false, false, 0, entender},
        {"nota a mano vacía", {{"ok", true}, {"text", " \n\t "}}, true, false, 0, repite},
        {"nota manos libres saltada", {{"ok", true}, {"text", "hola"}, {"skipped", true}}, true, true, 0, ruido},
        {"pregunta a mano vacía", {{"ok", true}}, false, false, 0, repite},
        {"pregunta manos libres: la segunda vacía cierra", {{"ok", true}, {"text", ""}}, false, true, 1, ruido},
        {"pregunta manos libres: la primera vacía vuelve a escuchar", {{"ok", true}, {"text", ""}}, false, true, 0,
         std::nullopt},
    };
    for (const auto& c : casos) {
        fines.clear();
        lineas.clear();
        transcribe(c.respuesta);
        const int antes = mic->creadas;
        empezar(c.manosLibres, c.nota);
        conv->vacias = c.vacias;
        reloj.avanzar(1.0);
        conv->soltar();
        if (c.aviso) {
            ASSERT_TRUE(esperarHasta([&] { return !fines.empty(); }, 10000)) << c.nombre;
            EXPECT_EQ(fines[0], c.aviso) << c.nombre;
        } else {
            ASSERT_TRUE(esperarHasta([&] { return lineas.contains("[conversación] la transcripción vino vacía"); }))
                << c.nombre;
            EXPECT_EQ(conv->vacias, 1);
            reloj.avanzar(0.85);
            EXPECT_EQ(mic->creadas, antes + 1) << c.nombre;
            reloj.avanzar(0.1);
            EXPECT_EQ(mic->creadas, antes + 2) << c.nombre;
            EXPECT_TRUE(conv->grabando());
            EXPECT_TRUE(lineas.contains("[conversación] manos libres: te escucho"));
            EXPECT_TRUE(fines.empty());
            EXPECT_EQ(fases.back(), Fase::escuchando);
        }
        conv->cancelar(true);
    }
}

TEST_F(ConversacionServicio, SinRespuestaEn45SegundosNoSeEntendio) {
    transcribe({{"sinRespuesta", true}});
    tomar(false, false);
    ASSERT_TRUE(esperarEvento("voice:audio"));
    relojCanal.avanzar(44.9);
    pruebas::girar(100);
    EXPECT_TRUE(fines.empty());
    relojCanal.avanzar(0.2);
    ASSERT_TRUE(esperarHasta([&] { return !fines.empty(); }));
    EXPECT_EQ(fines[0], QStringLiteral("No pude entender la nota. Prueba otra vez."));
}

TEST_F(ConversacionServicio, CancelarDuranteLaTranscripcionLaDescarta) {
    transcribe({{"ok", true}, {"text", "hola"}, {"retraso", 300}});
    tomar(false, false);
    ASSERT_TRUE(esperarEvento("voice:audio"));
    conv->cancelar(true);
    pruebas::girar(600);
    EXPECT_TRUE(fines.empty());
    EXPECT_EQ(eventosDe("chat:send").size(), 0);
    EXPECT_FALSE(chat->transcribiendo());
}

TEST_F(ConversacionServicio, PreguntaHabladaYVuelveAEscuchar) {
    transcribe({{"ok", true}, {"text", "¿Cómo van las ventas?"}});
    voz({{"habla", QJsonObject{{"trozos", 3}, {"bytes", 4801}}}});
    tomar(false, false);
    ASSERT_TRUE(esperarEvento("chat:send"));
    EXPECT_EQ(primerArg(eventosDe("chat:send")[0]).value("text").toString(), "¿Cómo van las ventas?");

    const QString respuesta = "Van **muy bien**: 120 pedidos hoy.";
    responde(respuesta);
    ASSERT_TRUE(esperarHasta([&] { return hay("[conversación] voz a trozos: "); }, 10000));
    const auto pedidos = eventosDe("voice:tts-stream");
    ASSERT_EQ(pedidos.size(), 1);
    const QString id = primerArg(pedidos[0]).value("id").toString();
    EXPECT_FALSE(QUuid::fromString(id).isNull());
    EXPECT_EQ(primerArg(pedidos[0]).value("text").toString(), ChatZentu::paraVoz(respuesta));
    EXPECT_TRUE(hay(QStringLiteral("[conversación] voz a trozos: %1 caracteres en ").arg(ChatZentu::paraVoz(respuesta).size())));
    EXPECT_TRUE(lineas.last().endsWith(" s · ok=true")) << lineas.last().toStdString();
    // 3 chunks of 4801 bytes: 7201 whole samples, the last byte still waiting.
    ASSERT_TRUE(esperarHasta([&] { return frames() == 7201; }));
    EXPECT_EQ(fases, (std::vector<Fase>{Fase::escuchando, Fase::pensando, Fase::pensando, Fase::hablando}));
    EXPECT_TRUE(lineas.contains("[conversación] empieza a sonar"));

    // Chunks of another text, malformed ones and those that are not text are dropped.
    const size_t antes = salida->buffers.size();
    servicio.emitir("voice:tts-trozo", {QJsonObject{{"id", "otro"}, {"audio", "AAAA"}}});
    servicio.emitir("voice:tts-trozo", {QJsonObject{{"id", id}, {"audio", "AA*A"}}});
    servicio.emitir("voice:tts-trozo", {QJsonObject{{"id", id}, {"audio", 12}}});
    servicio.emitir("voice:tts-trozo", {QJsonObject{{"id", id}}});
    servicio.emitir("voice:tts-trozo", {QJsonObject{{"id", id}, {"audio", "AAA="}}});  // 2 bytes + the odd one
    ASSERT_TRUE(esperarHasta([&] { return salida->buffers.size() == antes + 1; }));
    pruebas::girar(100);
    EXPECT_EQ(salida->buffers.size(), antes + 1);

    // "Still working" is neither kept nor spoken.
    responde("  sigo trabajando en eso...");
    pruebas::girar(200);
    EXPECT_EQ(conv->respuestas().size(), 1);
    EXPECT_EQ(eventosDe("voice:tts-stream").size(), 1);

    // The turn ends: 0.8 s later the question closes, then the last sound, then 0.9 s.
    estado("idle");
    reloj.avanzar(0.75);
    EXPECT_TRUE(conv->esperandoRespuesta());
    reloj.avanzar(0.1);
    EXPECT_FALSE(conv->esperandoRespuesta());
    EXPECT_TRUE(lineas.contains("[conversación] respuesta de Zentu: 1 mensajes"));
    EXPECT_EQ(mic->creadas, 1);
    salida->terminarTodo();
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(conv->voz(), nullptr);
    EXPECT_TRUE(salida->detenida);
    reloj.avanzar(0.85);
    EXPECT_EQ(mic->creadas, 1);
    reloj.avanzar(0.1);
    EXPECT_EQ(mic->creadas, 2);
    EXPECT_TRUE(conv->grabando());
    EXPECT_TRUE(conv->enManosLibres());
    EXPECT_EQ(fases.back(), Fase::escuchando);
    EXPECT_TRUE(fines.empty());
}

TEST_F(ConversacionServicio, UnaRespuestaLargaSeDiceHasta3000Caracteres) {
    QString larga;
    while (larga.size() < 5000) larga += "Las ventas de hoy van bien. ";
    ASSERT_GT(ChatZentu::paraVoz(larga).size(), 3000);
    [[maybe_unused]] auto t = conv->preguntar("¿Cómo va todo?");
    ASSERT_TRUE(esperarEvento("chat:send"));
    responde(larga);
    ASSERT_TRUE(esperarEvento("voice:tts-stream"));
    // The chat shows it whole; only the spoken text is cut.
    const QString mostrado = chat->mensajes().last().texto;
    ASSERT_GT(ChatZentu::paraVoz(mostrado).size(), 3000);
    EXPECT_EQ(primerArg(eventosDe("voice:tts-stream")[0]).value("text").toString(), ChatZentu::paraVoz(mostrado).left(3000));
    EXPECT_EQ(conv->respuestas().value(0), mostrado);
}

// Lengths and the cut count characters as the owner sees them: an emoji with its skin tone or a
// letter with a combining accent is one, although it takes several UTF-16 units.
TEST_F(ConversacionServicio, CuentaYCortaCaracteresNoUnidades) {
    transcribe({{"ok", true}, {"text", "Sí 👍🏽"}});
    tomar(false, true);
    ASSERT_TRUE(esperarHasta([&] { return !fines.empty(); }, 10000));
    EXPECT_TRUE(lineas.contains("[conversación] transcrito: 4 caracteres")) << lineas.join('\n').toStdString();

    // Six characters, ten units: "Va", a space, the thumb with its tone, an "e" with its accent, ".".
    const QString unidad = QStringLiteral("Va 👍🏽e\u0301.");
    ASSERT_EQ(unidad.size(), 10);
    const QString larga = unidad.repeated(700);
    [[maybe_unused]] auto t = conv->preguntar("¿Cómo va todo?");
    ASSERT_TRUE(esperarEvento("chat:send", 2));
    responde(larga);
    ASSERT_TRUE(esperarEvento("voice:tts-stream"));
    ASSERT_EQ(ChatZentu::paraVoz(chat->mensajes().last().texto), larga);
    EXPECT_EQ(primerArg(eventosDe("voice:tts-stream")[0]).value("text").toString(), unidad.repeated(500));
    ASSERT_TRUE(esperarHasta([&] { return hay("[conversación] voz a trozos: "); }, 10000));
    EXPECT_TRUE(hay("[conversación] voz a trozos: 3000 caracteres en ")) << lineas.join('\n').toStdString();
}

TEST_F(ConversacionServicio, SinRespuestaSeCierraAlRatoOALos120) {
    [[maybe_unused]] auto t = conv->preguntar("hola");
    ASSERT_TRUE(esperarEvento("chat:send"));
    reloj.avanzar(0.1);
    estado("idle");
    reloj.avanzar(14.9);
    EXPECT_TRUE(fines.empty());
    reloj.avanzar(0.1);
    ASSERT_EQ(fines.size(), 1u);
    EXPECT_EQ(fines[0], QStringLiteral("Zentu no contestó a tiempo. Mira el chat."));
    EXPECT_EQ(chat->alMensajeDeZentu, nullptr);

    // The agent still shown working: checked again every 2 s until 120 s after the question.
    fines.clear();
    [[maybe_unused]] auto t2 = conv->preguntar("¿y ahora?");
    ASSERT_TRUE(esperarEvento("chat:send", 2));
    estado("idle");
    estado("processing");
    ASSERT_TRUE(chat->escribiendo());
    reloj.avanzar(15);
    reloj.avanzar(100);
    EXPECT_TRUE(fines.empty());
    EXPECT_TRUE(conv->esperandoRespuesta());
    reloj.avanzar(6);
    ASSERT_EQ(fines.size(), 1u);
    EXPECT_EQ(fines[0], QStringLiteral("Zentu no contestó a tiempo. Mira el chat."));
}

TEST_F(ConversacionServicio, RespuestasQueNoSeDicenTerminanSinAviso) {
    ASSERT_TRUE(ChatZentu::paraVoz("***").isEmpty());
    [[maybe_unused]] auto t = conv->preguntar("hola");
    ASSERT_TRUE(esperarEvento("chat:send"));
    responde("***");
    ASSERT_TRUE(esperarHasta([&] { return conv->respuestas().size() == 1; }));
    estado("idle");
    reloj.avanzar(0.8);
    ASSERT_EQ(fines.size(), 1u);
    EXPECT_EQ(fines[0], std::nullopt);
    EXPECT_EQ(salida->creadas, 0);
    reloj.avanzar(2);
    EXPECT_EQ(mic->creadas, 0);
}

TEST_F(ConversacionServicio, SinAudioSeRindeConAviso) {
    salida->fallo = QStringLiteral("no hay ninguna salida de audio");
    [[maybe_unused]] auto t = conv->preguntar("hola");
    ASSERT_TRUE(esperarEvento("chat:send"));
    responde("Todo bien.");
    ASSERT_TRUE(esperarHasta([&] { return !fines.empty(); }));
    EXPECT_EQ(fines[0], QStringLiteral("No pude leer la respuesta en voz alta. Está en el chat."));
    EXPECT_TRUE(lineas.contains("[conversación] no se pudo abrir el audio: no hay ninguna salida de audio"));
    EXPECT_EQ(eventosDe("voice:tts-stream").size(), 0);
}

// Push-to-talk while an answer plays: the old answer's late acknowledgement must neither end the
// new conversation nor leave it without its take.
TEST_F(ConversacionServicio, ElAcuseTardioNoTocaLaConversacionNueva) {
    voz({{"habla", QJsonObject{{"trozos", 2}, {"bytes", 4800}, {"retrasoAck", 800}}}});
    [[maybe_unused]] auto t = conv->preguntar("cuéntame algo");
    ASSERT_TRUE(esperarEvento("chat:send"));
    responde("Había una vez una tienda.");
    ASSERT_TRUE(esperarHasta([&] { return frames() == 4800; }, 10000));
    EXPECT_FALSE(hay("[conversación] voz a trozos: "));

    // The shell's push-to-talk.
    conv->cancelar(true);
    EXPECT_TRUE(salida->detenida);
    conv->activa = true;
    conv->soloNota = false;
    conv->vacias = 0;
    conv->grabar(false);

    ASSERT_TRUE(esperarHasta([&] { return hay("[conversación] voz a trozos: "); }, 10000));
    pruebas::girar(100);
    reloj.avanzar(1);
    EXPECT_TRUE(fines.empty());
    EXPECT_TRUE(conv->activa);
    EXPECT_TRUE(conv->grabando());
    EXPECT_TRUE(mic->grabando);

    // The new take goes on as usual.
    transcribe({{"ok", true}, {"text", "otra cosa"}});
    conv->soltar();
    ASSERT_TRUE(esperarEvento("chat:send", 2));
    EXPECT_EQ(primerArg(eventosDe("chat:send")[1]).value("text").toString(), "otra cosa");
    EXPECT_TRUE(fines.empty());
}

TEST_F(ConversacionServicio, ElFinDeLaConversacionSueltaElMicrofono) {
    // A take recording when the conversation ends by other means (here: a question that cannot
    // be sent) is stopped, not left running. The service never acknowledges it: the channel writes
    // on a thread of its own, so the question may well reach the service before it stops.
    servicio.callarAck("chat:send");
    [[maybe_unused]] auto t = conv->preguntar("hola");
    conv->grabar(false);
    ASSERT_TRUE(mic->grabando);
    servicio.detener();
    ASSERT_TRUE(esperarHasta([&] { return !canal->listo(); }, 10000));
    relojCanal.avanzar(21);
    ASSERT_TRUE(esperarHasta([&] { return !fines.empty(); }));
    EXPECT_EQ(fines[0], QStringLiteral("No se pudo enviar a Zentu."));
    EXPECT_FALSE(mic->grabando);
    EXPECT_FALSE(conv->grabando());
}

TEST_F(ConversacionServicio, PideVerLaPantallaYVaLaCaptura) {
    servicio.guionAck("chat:send", QJsonArray{QJsonObject{{"ok", true}}});
    [[maybe_unused]] auto t = conv->preguntar("¿Qué ves en mi pantalla?");
    ASSERT_TRUE(esperarEvento("chat:send"));
    const QJsonObject envio = primerArg(eventosDe("chat:send")[0]);
    EXPECT_EQ(envio.value("text").toString(), "¿Qué ves en mi pantalla?") << QJsonDocument(envio).toJson().toStdString();
    EXPECT_TRUE(lineas.contains("[conversación] pidió ver la pantalla: va la captura con la pregunta"));
    ASSERT_TRUE(esperarHasta([&] { return !captura.isEmpty() && !QFileInfo::exists(captura); }))
        << captura.toStdString() << " " << lineas.join('\n').toStdString() << " fines " << fines.size();
    EXPECT_TRUE(conv->esperandoRespuesta());

    falloCaptura = Pantalla::Fallo::sinPermiso;
    [[maybe_unused]] auto t2 = conv->preguntar("mira esto");
    ASSERT_TRUE(esperarHasta([&] { return !fines.empty(); }));
    EXPECT_EQ(fines[0], QStringLiteral("Falta el permiso de grabación de pantalla."));
    EXPECT_FALSE(conv->esperandoRespuesta());
    EXPECT_EQ(eventosDe("chat:send").size(), 1);
}

}  // namespace
