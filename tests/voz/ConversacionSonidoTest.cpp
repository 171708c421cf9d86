// The conversation on the test run's real sound server (PulseAudio, or PipeWire with its pulse
// server): the real recorder on the microphone ("microfono", a sine; "silencio.monitor", a
// microphone nobody speaks into) and the real speech player on the null sink, against the
// stand-in service, in real time. Throughout, a probe from another thread checks that the main
// loop keeps answering within 1 s; a loop that stops answering for good ends the test at once.
#include "zentu/voz/Conversacion.h"

#include "comun/Ayudas.h"
#include "comun/RealtimeSimulado.h"
#include "comun/ServicioSimulado.h"
#include "comun/ServidorSonidoPrivado.h"
#include "plataforma/Registro.h"
#include "zentu/chat/ChatZentu.h"
#include "zentu/conexion/CanalEnVivo.h"
#include "zentu/voz/Llamada.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using pruebas::esperarHasta;

namespace {

// Posts a tiny task to the main loop every 100 ms from its own thread and keeps the longest wait
// for it to run. A wait of 20 s means the loop is frozen: the test process ends there, saying so,
// instead of hanging until the run's time limit.
class SondaBucle {
public:
    SondaBucle() : hilo_([this] { vigilar(); }) {}
    ~SondaBucle() {
        fin_ = true;
        hilo_.join();
    }
    qint64 peorMs() const { return peor_.load(); }
    void olvidar() { peor_ = 0; }

private:
    void vigilar() {
        while (!fin_) {
            auto hecho = std::make_shared<std::atomic<bool>>(false);
            QElapsedTimer t;
            t.start();
            QMetaObject::invokeMethod(QCoreApplication::instance(), [hecho] { *hecho = true; }, Qt::QueuedConnection);
            while (!*hecho && !fin_) {
                if (t.elapsed() > 20000) {
                    std::fprintf(stderr, "el bucle principal no contesta desde hace 20 s\n");
                    std::fflush(stderr);
                    std::_Exit(3);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            peor_ = std::max<qint64>(peor_.load(), t.elapsed());
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    std::atomic<bool> fin_{false};
    std::atomic<qint64> peor_{0};
    std::thread hilo_;
};

// Runs a program while the main loop goes on turning (the probe is watching it); its output.
QByteArray correr(const QString& programa, const QStringList& argumentos) {
    QProcess p;
    p.start(programa, argumentos);
    esperarHasta([&] { return p.state() == QProcess::NotRunning; }, 60000);
    return p.exitCode() == 0 ? p.readAllStandardOutput() : QByteArray();
}

// Our own streams on the sound server right now (playback and recording), as the server lists them.
int flujosPropios() {
    int n = 0;
    for (const char* que : {"sink-inputs", "source-outputs"}) {
        const QString salida = QString::fromUtf8(correr("pactl", {"list", que}));
        n += int(salida.count(QStringLiteral("application.process.id = \"%1\"").arg(QCoreApplication::applicationPid())));
    }
    return n;
}

class ConversacionSonido : public ::testing::Test {
protected:
    void SetUp() override {
        if (!hayServidorSonido()) {
            GTEST_SKIP() << "sin servidor de sonido";
        }
        // A folder of this test's own for the take's file: the tests running beside it record
        // and remove under the same name in the shared one. The sound server is still found
        // through PULSE_RUNTIME_PATH.
        runtimeAntes_ = qgetenv("XDG_RUNTIME_DIR");
        ASSERT_TRUE(runtime_.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
        ASSERT_TRUE(servicio.arrancar());
        canal = std::make_unique<CanalEnVivo>(Cuenta{servicio.url(), "token-bueno", "d@n.mx", "N"});
        canal->conectar();
        ASSERT_TRUE(esperarHasta([&] { return canal->listo(); }, 10000));
        chat = std::make_unique<ChatZentu>(*canal);
        conv = std::make_unique<Conversacion>(*chat);
        conv->alCambiarFase = [this](Fase f) { fases.push_back(f); };
        conv->alTerminar = [this](std::optional<QString> a) { fines.push_back(a); };
        Registro::observar([this](const QString& l) {
            if (l.startsWith("[conversación]") || l.startsWith("[llamada]")) lineas << l;
        });
    }
    void TearDown() override {
        Registro::observar({});
        qunsetenv("PULSE_SOURCE");
        conv.reset();  // it removes what it left in its own folder, not in the shared one
        if (!runtimeAntes_.isEmpty()) qputenv("XDG_RUNTIME_DIR", runtimeAntes_);
        if (sonda) {
            EXPECT_LT(sonda->peorMs(), 1000) << "el bucle principal tardó en contestar";
        }
    }

    void responde(const QString& texto) {
        static int n = 0;
        QJsonObject m{{"text", texto}, {"fromMe", true}, {"messageId", QStringLiteral("s%1").arg(++n)},
                      {"timestamp", "2026-12-10T10:00:00Z"}, {"sender", "Zentu"}};
        servicio.emitir("messages:new", QJsonArray{QJsonObject{{"phone", "dashboard"}, {"message", m}}});
    }
    int cuantas(const QString& linea) const { return int(lineas.count(linea)); }
    int eventos(const QString& nombre) {
        int n = 0;
        for (const auto& e : servicio.eventos())
            if (e.toObject().value("evento").toString() == nombre) ++n;
        return n;
    }

    // One spoken turn: a question whose answer is heard on the speakers, then listening again
    // 0.9 s after the last sound, then, as nobody speaks, the quiet end 8 s later.
    void turnoHablado(int numero) {
        const size_t finesAntes = fines.size();
        const int escuchoAntes = cuantas("[conversación] manos libres: te escucho");
        const int nadieAntes = cuantas("[conversación] manos libres: nadie habló; se cierra");
        [[maybe_unused]] auto t = conv->preguntar(QStringLiteral("Resumen %1").arg(numero));
        ASSERT_TRUE(esperarHasta([&] { return eventos("chat:send") >= numero; }, 10000));
        responde(QStringLiteral("Hoy vendiste %1 pasteles.").arg(numero * 10));
        servicio.emitir("agent:status", QJsonArray{QJsonObject{{"dashboard", true}, {"status", "idle"}}});
        ASSERT_TRUE(esperarHasta([&] { return conv->hablando(); }, 15000)) << lineas.join('\n').toStdString();
        // While the answer plays the output is ours on the server.
        EXPECT_GE(flujosPropios(), 1);
        QElapsedTimer reloj;
        ASSERT_TRUE(esperarHasta([&] { return conv->voz() == nullptr && !conv->hablando(); }, 20000));
        reloj.start();
        ASSERT_TRUE(esperarHasta([&] { return cuantas("[conversación] manos libres: te escucho") > escuchoAntes; }, 5000));
        const qint64 reescucha = reloj.elapsed();
        EXPECT_GE(reescucha, 800);
        EXPECT_LT(reescucha, 3000);
        EXPECT_TRUE(conv->grabando());
        EXPECT_EQ(fases.back(), Fase::escuchando);
        // The recorder holds the microphone and nothing else: the speakers were let go.
        EXPECT_EQ(flujosPropios(), 1);
        ASSERT_TRUE(esperarHasta([&] { return fines.size() > finesAntes; }, 20000));
        const qint64 fin = reloj.elapsed();
        EXPECT_GE(fin, 8000);
        EXPECT_LT(fin, 14000);
        EXPECT_EQ(fines.back(), std::nullopt);
        EXPECT_EQ(cuantas("[conversación] manos libres: nadie habló; se cierra"), nadieAntes + 1);
        EXPECT_FALSE(conv->activa);
        // An idle program holds no stream on the server.
        EXPECT_TRUE(esperarHasta([&] { return flujosPropios() == 0; }, 5000));
    }

    QTemporaryDir runtime_;  // outlives the conversation, which removes its take there
    QByteArray runtimeAntes_;
    ServicioSimulado servicio;
    std::unique_ptr<CanalEnVivo> canal;
    std::unique_ptr<ChatZentu> chat;
    std::unique_ptr<Conversacion> conv;
    std::unique_ptr<SondaBucle> sonda = std::make_unique<SondaBucle>();
    std::vector<Fase> fases;
    std::vector<std::optional<QString>> fines;
    QStringList lineas;
};

TEST_F(ConversacionSonido, TresTurnosHabladosSeguidosYElBucleSigueContestando) {
    // A silent room: the takes after each answer hear nobody.
    qputenv("PULSE_SOURCE", "silencio.monitor");
    servicio.control("POST", "voz", QJsonObject{{"habla", QJsonObject{{"trozos", 6}, {"bytes", 4801}, {"retrasoTrozo", 40}}}});
    for (int i = 1; i <= 3; ++i) {
        SCOPED_TRACE(i);
        turnoHablado(i);
        if (HasFatalFailure()) return;
    }
    EXPECT_EQ(eventos("voice:tts-stream"), 3);
    EXPECT_EQ(eventos("voice:audio"), 0);
    EXPECT_EQ(cuantas("[conversación] empieza a sonar"), 3);
}

TEST_F(ConversacionSonido, NotaCallada) {
    qputenv("PULSE_SOURCE", "silencio.monitor");
    conv->activa = true;
    conv->soloNota = true;
    chat->setGrabandoNota(true);
    QElapsedTimer reloj;
    reloj.start();
    conv->grabar(true);
    ASSERT_TRUE(conv->grabando());
    EXPECT_EQ(flujosPropios(), 1);
    ASSERT_TRUE(esperarHasta([&] { return !fines.empty(); }, 20000));
    EXPECT_GE(reloj.elapsed(), 8000);
    EXPECT_EQ(fines.back(), std::nullopt);
    EXPECT_TRUE(lineas.contains("[conversación] manos libres: nadie habló; se cierra"));
    EXPECT_FALSE(chat->grabandoNota());
    EXPECT_EQ(eventos("voice:audio"), 0);
    // Still alive and answering a moment later, and the microphone is let go.
    pruebas::girar(500);
    EXPECT_TRUE(esperarHasta([&] { return flujosPropios() == 0; }, 5000));
}

TEST_F(ConversacionSonido, NotaConElMicrofonoDeSenoVaComoArchivo) {
    servicio.control("POST", "voz", QJsonObject{{"transcripcion", QJsonObject{{"ok", true}, {"text", "Pide harina"}}}});
    conv->activa = true;
    conv->soloNota = true;
    chat->setGrabandoNota(true);
    // Shared: the conversation may still report a level after this body returns.
    auto nivel = std::make_shared<double>(0);
    conv->alNivel = [nivel](double n) { *nivel = std::max(*nivel, n); };
    QElapsedTimer toma;
    toma.start();
    conv->grabar(true);
    ASSERT_TRUE(conv->grabando());
    // A test source may take a moment to deliver (longer on a busy machine): the take lasts
    // from the first sound heard.
    ASSERT_TRUE(esperarHasta([&] { return *nivel > 0; }, 20000)) << lineas.join('\n').toStdString();
    QElapsedTimer oida;
    oida.start();
    // The sine is steady, so voice detection never ends the take: the second press does.
    pruebas::girar(2000);
    conv->soltar();
    const double largo = double(toma.elapsed()) / 1000.0;
    const double desdeElSonido = double(oida.elapsed()) / 1000.0;
    ASSERT_TRUE(esperarHasta([&] { return !fines.empty(); }, 20000)) << lineas.join('\n').toStdString();
    EXPECT_EQ(fines.back(), std::nullopt);
    EXPECT_TRUE(lineas.contains("[conversación] nota de voz al chat: enviada"));

    QByteArray audio;
    for (const auto& e : servicio.eventos()) {
        const QJsonObject o = e.toObject();
        if (o.value("evento").toString() != "voice:audio") continue;
        const QJsonObject datos = o.value("args").toArray().at(0).toObject();
        EXPECT_EQ(datos.value("mimeType").toString(), "audio/m4a");
        audio = ServicioSimulado::deBinario(datos.value("audio"));
    }
    ASSERT_FALSE(audio.isEmpty());
    // The file holds the microphone: AAC, 16 kHz mono, about as long as the take, and loud.
    QTemporaryDir d;
    QFile f(d.path() + "/nota.m4a");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(audio);
    f.close();
    const QByteArray pcm = correr("ffmpeg", {"-v", "error", "-i", f.fileName(), "-f", "s16le", "-ac", "1", "-ar", "16000", "-"});
    const qsizetype n = pcm.size() / 2;
    const double segundos = double(n) / 16000.0;
    // A test source starts late (PipeWire) or hands over what it made before (PulseAudio).
    EXPECT_GT(segundos, 0.4 * desdeElSonido);
    // PulseAudio's test source hands over up to about two seconds it made before the take.
    EXPECT_LT(segundos, largo + 2.5);
    double suma = 0;
    const auto* m = reinterpret_cast<const qint16*>(pcm.constData());
    for (qsizetype i = n / 2; i < n; ++i) suma += double(m[i]) * m[i];
    const double rms = std::sqrt(suma / double(std::max<qsizetype>(1, n - n / 2))) / 32768.0;
    EXPECT_GT(rms, 0.01) << "la nota no trae el micrófono";
    EXPECT_TRUE(esperarHasta([&] { return flujosPropios() == 0; }, 5000));
}

TEST_F(ConversacionSonido, UnaLlamadaDespuesDeLaConversacionYOtraConversacionDespues) {
    qputenv("PULSE_SOURCE", "silencio.monitor");
    servicio.control("POST", "voz", QJsonObject{{"habla", QJsonObject{{"trozos", 4}, {"bytes", 4801}}}});
    turnoHablado(1);
    if (HasFatalFailure()) return;
    qunsetenv("PULSE_SOURCE");

    RealtimeSimulado realtime;
    ASSERT_TRUE(realtime.arrancar());
    qputenv("ZENTU_REALTIME", realtime.base().toUtf8());
    {
        Llamada llamada(Cuenta{servicio.url(), "token-bueno", "", ""}, std::nullopt, std::nullopt);
        std::vector<Fase> fasesLlamada;
        bool terminada = false;
        llamada.alCambiarFase = [&](Fase f) { fasesLlamada.push_back(f); };
        llamada.alTerminar = [&](std::shared_ptr<const FalloZentu>) { terminada = true; };
        [[maybe_unused]] auto t = llamada.abrir();
        ASSERT_TRUE(esperarHasta([&] { return lineas.contains("[llamada] conectada"); }, 15000));
        ASSERT_TRUE(esperarHasta([&] { return realtime.recibidos("input_audio_buffer.append").size() >= 3; }, 15000));
        QByteArray voz(24000, '\0');
        for (int i = 0; i < voz.size() / 2; ++i) voz[2 * i + 1] = char((i / 20) % 2 ? 0x10 : -0x10);
        realtime.enviar(QJsonObject{{"type", "response.created"}});
        realtime.enviar(QJsonObject{{"type", "response.output_audio.delta"}, {"item_id", "i1"}, {"delta", QString::fromLatin1(voz.toBase64())}});
        realtime.enviar(QJsonObject{{"type", "response.done"}});
        ASSERT_TRUE(esperarHasta([&] { return !fasesLlamada.empty() && fasesLlamada.back() == Fase::hablando; }, 10000));
        ASSERT_TRUE(esperarHasta([&] { return fasesLlamada.back() == Fase::escuchando; }, 10000));
        EXPECT_EQ(flujosPropios(), 2);  // the call's microphone and speakers
        llamada.colgar();
        ASSERT_TRUE(esperarHasta([&] { return terminada; }, 10000));
    }
    qunsetenv("ZENTU_REALTIME");
    EXPECT_TRUE(esperarHasta([&] { return flujosPropios() == 0; }, 5000));

    qputenv("PULSE_SOURCE", "silencio.monitor");
    turnoHablado(2);
}

// A sound server that goes away while the microphone records or while an answer plays: the
// owner gets the microphone's or the speech's notice, nothing waits on the server, and the next
// take says at once that the microphone cannot be used.
TEST_F(ConversacionSonido, ElServidorQueSeVaDaSuAvisoYNadaSeQuedaEsperando) {
    const QString microfono = "No se pudo usar el micrófono. Revisa el permiso en Configuración → Privacidad.";
    const QString habla = "No pude leer la respuesta en voz alta. Está en el chat.";
    servicio.control("POST", "voz", QJsonObject{{"habla", QJsonObject{{"trozos", 40}, {"bytes", 4800}, {"retrasoTrozo", 150}}}});
    struct Caso {
        const char* que;
        bool hablando;
        QString aviso;
    };
    int pregunta = 0;
    for (const Caso& caso : {Caso{"mientras graba", false, microfono}, Caso{"mientras habla", true, habla}}) {
        SCOPED_TRACE(caso.que);
        ServidorSonidoPrivado servidor;
        ASSERT_TRUE(servidor.arrancar());
        fines.clear();
        if (caso.hablando) {
            [[maybe_unused]] auto t = conv->preguntar("¿Y hoy?");
            ASSERT_TRUE(esperarHasta([&] { return eventos("chat:send") > pregunta; }, 10000));
            ++pregunta;
            responde("Hoy vendiste mucho.");
            ASSERT_TRUE(esperarHasta([&] { return conv->hablando(); }, 15000));
        } else {
            conv->activa = true;
            conv->soloNota = false;
            conv->grabar(false);
            ASSERT_TRUE(conv->grabando());
        }
        pruebas::girar(400);
        servidor.matar();
        ASSERT_TRUE(esperarHasta([&] { return !fines.empty(); }, 10000)) << lineas.join('\n').toStdString();
        EXPECT_EQ(fines.back(), caso.aviso);
        EXPECT_FALSE(conv->activa);
        EXPECT_FALSE(conv->grabando());
        EXPECT_EQ(conv->voz(), nullptr);

        // With no server at all the next take does not start, and says why.
        fines.clear();
        QElapsedTimer t;
        t.start();
        conv->activa = true;
        conv->grabar(false);
        EXPECT_EQ(fines, (std::vector<std::optional<QString>>{microfono}));
        EXPECT_LT(t.elapsed(), 3000);
    }
}

}  // namespace
