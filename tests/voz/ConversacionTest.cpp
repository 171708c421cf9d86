// The recording side in virtual time: voice detection fed with scripted power readings, the take's
// limits, ending and cancelling. The channel is never connected: a take that is accepted only
// queues its transcription request.
#include "zentu/voz/Conversacion.h"

#include "Falsos.h"
#include "comun/Ayudas.h"
#include "plataforma/Registro.h"
#include "zentu/chat/ChatZentu.h"
#include "zentu/conexion/CanalEnVivo.h"

#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

struct Fijo {
    RelojVirtual reloj;
    CanalEnVivo canal{Cuenta{"http://127.0.0.1:9", "token", "", ""}, reloj};
    ChatZentu chat{canal, reloj};
    std::shared_ptr<EstadoGrabadora> mic = std::make_shared<EstadoGrabadora>();
    std::shared_ptr<EstadoSalida> salida = std::make_shared<EstadoSalida>();
    Conversacion conv{chat, Conversacion::Partes{
                                [this] { return std::make_unique<GrabadoraFalsa>(mic, reloj); },
                                [this] { return std::make_unique<VozATrozos>(std::make_unique<SalidaFalsa>(salida)); },
                                {}}};
    std::vector<Fase> fases;
    std::vector<std::optional<QString>> fines;
    std::vector<double> niveles;
    QStringList lineas;

    Fijo() {
        conv.alCambiarFase = [this](Fase f) { fases.push_back(f); };
        conv.alTerminar = [this](std::optional<QString> a) { fines.push_back(a); };
        Registro::observar([this](const QString& l) { if (l.startsWith("[conversación]")) lineas << l; });
    }
    ~Fijo() { Registro::observar({}); }

    void empezar(bool manosLibres, bool nota = false) {
        conv.cancelar(true);
        conv.activa = true;
        conv.soloNota = nota;
        conv.vacias = 0;
        if (nota) chat.setGrabandoNota(true);
        conv.grabar(manosLibres);
    }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) reloj.avanzar(0.05);
    }
    // Advances tick by tick until the take stops; the tick it stopped on (0: it did not).
    int hastaQueTermine(int maximo) {
        for (int k = 1; k <= maximo; ++k) {
            reloj.avanzar(0.05);
            if (!conv.grabando()) return k;
        }
        return 0;
    }
    bool pensando() const { return std::find(fases.begin(), fases.end(), Fase::pensando) != fases.end(); }
};

// Calibration readings for ticks 1..6, then `resto` for every later tick.
std::function<float(int)> guion(std::vector<float> calibracion, std::function<float(int)> resto) {
    return [calibracion, resto](int k) { return k >= 1 && k <= 6 ? calibracion[size_t(k - 1)] : resto(k); };
}
std::function<float(int)> plano(float piso, std::function<float(int)> resto) {
    return guion(std::vector<float>(6, piso), std::move(resto));
}

TEST(ConversacionDetector, CadaUmbralYCadaLimite) {
    enum Fin { envia, nadie };
    const auto vozEntre = [](int desde, int hasta, float fuerte, float quieto) {
        return [=](int k) { return k >= desde && k <= hasta ? fuerte : quieto; };
    };
    const struct {
        const char* nombre;
        bool nota;
        std::function<float(int)> potencia;
        Fin fin;
        int desde, hasta;   // the tick the take ends on lies in [desde, hasta]
        const char* oiVoz;  // the log line, when voice is heard
    } casos[] = {
        {"pregunta: más de 1.3 s callado", false, plano(-60, vozEntre(7, 30, -30, -60)), envia, 56, 57,
         "[conversación] manos libres: oí voz (-30 dB, piso -60)"},
        {"nota: más de 2.0 s callado", true, plano(-60, vozEntre(7, 30, -30, -60)), envia, 70, 71,
         "[conversación] manos libres: oí voz (-30 dB, piso -60)"},
        {"nadie habla: se cierra pasados 8 s", false, plano(-60, [](int) { return -60.0f; }), nadie, 160, 161, nullptr},
        {"cinco fuertes y uno callado no son voz", false,
         plano(-60, [](int k) { return (k >= 7 && k <= 11) || (k >= 13 && k <= 17) ? -20.0f : -60.0f; }), nadie, 160,
         161, nullptr},
        {"piso -60: -40 es silencio", false, plano(-60, [](int) { return -40.0f; }), nadie, 160, 161, nullptr},
        {"piso -60: -39.9 es voz", false, plano(-60, vozEntre(7, 30, -39.9f, -60)), envia, 56, 57,
         "[conversación] manos libres: oí voz (-39 dB, piso -60)"},
        {"piso -50: -36 es silencio", false, plano(-50, [](int) { return -36.0f; }), nadie, 160, 161, nullptr},
        {"piso -50: -35.9 es voz", false, plano(-50, vozEntre(7, 30, -35.9f, -50)), envia, 56, 57,
         "[conversación] manos libres: oí voz (-35 dB, piso -50)"},
        {"piso -20: -6 es silencio", false, plano(-20, [](int) { return -6.0f; }), nadie, 160, 161, nullptr},
        {"piso -20: -5.9 es voz", false, plano(-20, vozEntre(7, 30, -5.9f, -20)), envia, 56, 57,
         "[conversación] manos libres: oí voz (-5 dB, piso -20)"},
        {"el piso es la lectura más baja de la calibración", false,
         guion({-30, -30, -30, -30, -30, -60}, vozEntre(7, 30, -30, -60)), envia, 56, 57,
         "[conversación] manos libres: oí voz (-30 dB, piso -60)"},
        {"calibración toda fuerte sube el piso", false, plano(-30, [](int) { return -30.0f; }), nadie, 160, 161,
         nullptr},
        {"voz sin pausa: se corta pasados 60 s", false, plano(-60, [](int) { return -20.0f; }), envia, 1200, 1201,
         "[conversación] manos libres: oí voz (-20 dB, piso -60)"},
    };
    for (const auto& c : casos) {
        Fijo f;
        f.mic->potencia = c.potencia;
        f.empezar(true, c.nota);
        const int fin = f.hastaQueTermine(1300);
        EXPECT_GE(fin, c.desde) << c.nombre;
        EXPECT_LE(fin, c.hasta) << c.nombre;
        if (c.fin == envia) {
            EXPECT_TRUE(f.pensando()) << c.nombre;
            EXPECT_TRUE(f.fines.empty()) << c.nombre;
            EXPECT_TRUE(f.conv.activa) << c.nombre;
        } else {
            EXPECT_FALSE(f.pensando()) << c.nombre;
            ASSERT_EQ(f.fines.size(), 1u) << c.nombre;
            EXPECT_EQ(f.fines[0], std::nullopt) << c.nombre;
            EXPECT_TRUE(f.lineas.contains("[conversación] manos libres: nadie habló; se cierra")) << c.nombre;
            EXPECT_EQ(f.canal.enCola(), 0) << c.nombre;  // nothing sent
        }
        EXPECT_EQ(f.mic->detenidas, 1) << c.nombre;
        if (c.oiVoz) {
            EXPECT_TRUE(f.lineas.contains(c.oiVoz)) << c.nombre << "\n" << f.lineas.join('\n').toStdString();
        } else {
            EXPECT_FALSE(f.conv.oyoVoz()) << c.nombre;
        }
    }
}

TEST(ConversacionDetector, LaVozSeConfirmaComoProntoEnElTick12) {
    Fijo f;
    f.mic->potencia = plano(-60, [](int) { return -20.0f; });
    f.empezar(true);
    f.ticks(11);
    EXPECT_FALSE(f.conv.oyoVoz());
    EXPECT_EQ(f.conv.seguidas(), 5);
    EXPECT_EQ(f.conv.piso(), -60.0f);
    f.ticks(1);
    EXPECT_TRUE(f.conv.oyoVoz());
}

TEST(ConversacionTomas, PulsarParaHablarNoTieneDeteccionNiLimite) {
    Fijo f;
    f.mic->potencia = [](int) { return -60.0f; };
    f.empezar(false);
    EXPECT_EQ(f.fases, std::vector<Fase>{Fase::escuchando});
    f.ticks(20 * 100);  // 100 s of silence
    EXPECT_TRUE(f.conv.grabando());
    EXPECT_TRUE(f.fines.empty());
    f.conv.soltar();
    EXPECT_FALSE(f.conv.grabando());
    EXPECT_TRUE(f.pensando());
    EXPECT_EQ(f.canal.enCola(), 1);  // the transcription request waits for the channel
    // The take went to memory; its file is gone from the private folder.
    EXPECT_FALSE(QFileInfo::exists(f.mic->ruta));
    EXPECT_EQ(QFileInfo(QFileInfo(f.mic->ruta).path()).permissions() & 0x7077,
              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(ConversacionTomas, UnaTomaCortaSeDescarta) {
    const struct {
        double segundos;
        bool descartada;
        const char* linea;
    } casos[] = {
        {0.25, true, "[conversación] nota descartada: 0.25 s"},
        {0.2, true, "[conversación] nota descartada: 0.20 s"},
        {0.3, false, nullptr},
    };
    for (const auto& c : casos) {
        Fijo f;
        f.empezar(false);
        f.reloj.avanzar(c.segundos);
        f.conv.soltar();
        if (c.descartada) {
            ASSERT_EQ(f.fines.size(), 1u) << c.segundos;
            EXPECT_EQ(f.fines[0], QStringLiteral("No te oí. Vuelve a intentarlo.")) << c.segundos;
            EXPECT_TRUE(f.lineas.contains(c.linea)) << f.lineas.join('\n').toStdString();
            EXPECT_FALSE(f.conv.activa);
        } else {
            EXPECT_TRUE(f.fines.empty()) << c.segundos;
            EXPECT_TRUE(f.pensando());
        }
    }
}

TEST(ConversacionTomas, SinMicrofonoLoDice) {
    Fijo f;
    f.mic->falloAlEmpezar = QStringLiteral("no hay ningún micrófono");
    f.empezar(true);
    ASSERT_EQ(f.fines.size(), 1u);
    EXPECT_EQ(f.fines[0], QStringLiteral("No se pudo usar el micrófono. Revisa el permiso en Configuración → Privacidad."));
    EXPECT_FALSE(f.conv.grabando());
}

TEST(ConversacionTomas, SoltarYCancelarSinConversacionNoHacenNada) {
    Fijo f;
    f.conv.soltar();
    f.conv.cancelar(false);
    EXPECT_TRUE(f.fines.empty());
    f.conv.activa = true;
    f.conv.soltar();  // no take
    EXPECT_TRUE(f.fines.empty());
}

TEST(ConversacionTomas, CancelarParaLaGrabadoraYAvisaUnaVez) {
    {
        Fijo f;
        f.empezar(true, true);
        EXPECT_TRUE(f.chat.grabandoNota());
        f.conv.cancelar(true);
        EXPECT_TRUE(f.fines.empty());
        EXPECT_FALSE(f.mic->grabando);
        EXPECT_FALSE(f.chat.grabandoNota());
        EXPECT_FALSE(f.conv.activa);
        f.ticks(400);  // no detection runs any more
        EXPECT_TRUE(f.fines.empty());
        EXPECT_EQ(f.canal.enCola(), 0);
    }
    {
        Fijo f;
        f.empezar(false);
        f.conv.cancelar(false);
        f.conv.cancelar(false);
        ASSERT_EQ(f.fines.size(), 1u);
        EXPECT_EQ(f.fines[0], std::nullopt);
    }
}

TEST(ConversacionTomas, ElNivelSigueLaGrabacionYVuelveACero) {
    Fijo f;
    f.conv.alNivel = [&](double n) { f.niveles.push_back(n); };
    f.mic->potencia = [](int) { return -20.0f; };
    f.empezar(false);
    f.ticks(3);
    ASSERT_EQ(f.niveles.size(), 3u);
    EXPECT_NEAR(f.niveles.back(), std::min(std::sqrt(std::pow(10.0, -1.0)) * 1.4, 1.0), 1e-9);
    f.reloj.avanzar(0.2);
    f.conv.soltar();
    EXPECT_EQ(f.niveles.back(), 0.0);
    const size_t n = f.niveles.size();
    f.ticks(5);
    EXPECT_EQ(f.niveles.size(), n);

    const struct {
        float p;
        double nivel;
    } casos[] = {{0, 1.0}, {-160, std::sqrt(1e-8) * 1.4}, {-40, 0.14}, {-3, 1.0}, {-6, std::pow(10.0, -0.15) * 1.4}};
    for (const auto& c : casos) EXPECT_NEAR(Conversacion::nivelDe(c.p), c.nivel, 1e-9) << c.p;
}

}  // namespace
