#pragma once
// Shared bench of the call tests: both stand-ins, a fake call audio driven from other threads,
// virtual time, and the call's log lines.

#include "comun/Ayudas.h"
#include "comun/RealtimeSimulado.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Registro.h"
#include "zentu/voz/Llamada.h"

#include <QJsonDocument>
#include <QStringList>
#include <cmath>
#include <deque>
#include <gtest/gtest.h>
#include <thread>

// The call's audio without a sound server: blocks and playback completions come from threads of
// their own, as they would from the audio thread.
class AudioFalso : public AudioLlamada {
public:
    std::optional<QString> fallo;
    bool arrancado = false;
    bool detenido = false;
    int marcosPedidos = 0;
    int vaciados = 0;
    struct Trozo {
        size_t muestras;
        std::function<void()> alSonar;
    };
    std::deque<Trozo> trozos;

    std::optional<QString> arrancar(int marcos, Bloque b) override {
        marcosPedidos = marcos;
        if (fallo) return fallo;
        arrancado = true;
        alBloque_ = std::move(b);
        return std::nullopt;
    }
    Entrada entrada() const override { return {48000, 1}; }
    void programar(std::vector<float> m, std::function<void()> alSonar) override {
        trozos.push_back({m.size(), std::move(alSonar)});
    }
    void vaciar() override {
        trozos.clear();
        ++vaciados;
    }
    void detener() override {
        detenido = true;
        alBloque_ = nullptr;
    }

    void entregar(const std::vector<float>& datos, int canales = 1, int frecuencia = 48000) {
        if (!alBloque_) return;
        std::thread hilo([&] { alBloque_(datos.data(), static_cast<int>(datos.size()) / canales, canales, frecuencia); });
        hilo.join();
    }
    // Plays the first `n` queued chunks through.
    void reproducir(size_t n) {
        std::vector<std::function<void()>> hechos;
        while (n-- > 0 && !trozos.empty()) {
            hechos.push_back(std::move(trozos.front().alSonar));
            trozos.pop_front();
        }
        std::thread hilo([&] {
            for (auto& f : hechos) f();
        });
        hilo.join();
    }

private:
    Bloque alBloque_;
};

// 2048 frames of a 440 Hz sine at 48 kHz, the microphone's block.
inline std::vector<float> bloqueSeno(double amplitud = 0.3, int canales = 1, int marcos = 2048) {
    std::vector<float> v(static_cast<size_t>(marcos * canales));
    for (int i = 0; i < marcos; ++i)
        for (int c = 0; c < canales; ++c)
            v[static_cast<size_t>(i * canales + c)] = static_cast<float>(amplitud * std::sin(2 * M_PI * 440 * i / 48000.0));
    return v;
}

// `n` samples of 16-bit little-endian PCM, all `valor`, base64 as the service sends them.
inline QString pcmBase64(int n, qint16 valor = 1000) {
    QByteArray b;
    for (int i = 0; i < n; ++i) {
        b.append(static_cast<char>(valor & 0xff));
        b.append(static_cast<char>((valor >> 8) & 0xff));
    }
    return QString::fromLatin1(b.toBase64());
}

inline QJsonObject sesionCon(const QJsonArray& herramientas) {
    return QJsonObject{{"type", "session.created"},
                       {"session", QJsonObject{{"model", "gpt-realtime"}, {"tools", herramientas}}}};
}

inline QJsonObject herramientaLlamada(const QString& nombre) {
    return QJsonObject{{"type", "function"}, {"name", nombre}};
}

class LlamadaBanco : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(servicio.arrancar());
        ASSERT_TRUE(realtime.arrancar());
        qputenv("ZENTU_REALTIME", realtime.base().toUtf8());
        Registro::observar([this](const QString& l) {
            if (l.startsWith("[llamada]")) lineas << l;
        });
    }
    void TearDown() override {
        Registro::observar({});
        llamada.reset();
    }

    // A new call; what the previous one logged and reported is forgotten.
    Llamada& crear(std::optional<QString> agente = std::nullopt, std::optional<qint64> consulta = std::nullopt) {
        llamada.reset();
        lineas.clear();
        fases.clear();
        niveles.clear();
        terminados = 0;
        error.reset();
        auto a = std::make_unique<AudioFalso>();
        audio = a.get();
        llamada = std::make_unique<Llamada>(Cuenta{servicio.url(), "token-bueno", "", ""}, agente, consulta, reloj, std::move(a));
        llamada->alCambiarFase = [this](Fase f) { fases.push_back(f); };
        llamada->alNivel = [this](double n) { niveles.push_back(n); };
        llamada->alTerminar = [this](std::shared_ptr<const FalloZentu> e) {
            ++terminados;
            error = std::move(e);
        };
        return *llamada;
    }

    void abrir() { [[maybe_unused]] auto t = llamada->abrir(); }

    // Opens the call and waits for the session to start.
    bool conectar() {
        abrir();
        return pruebas::esperarHasta([this] { return hay("[llamada] conectada"); }, 10000);
    }

    bool hay(const QString& inicio) const {
        for (const auto& l : lineas)
            if (l.startsWith(inicio)) return true;
        return false;
    }
    int cuantas(const QString& inicio) const {
        int n = 0;
        for (const auto& l : lineas)
            if (l.startsWith(inicio)) ++n;
        return n;
    }

    // Sends events from the realtime stand-in and waits until the call has handled them all.
    void eventos(const QJsonArray& lista) {
        for (const auto& e : lista) realtime.enviar(e.toObject());
        const QString marca = QStringLiteral("marca-%1").arg(++marcas_);
        realtime.enviar(QJsonObject{{"type", "error"}, {"error", marca}});
        ASSERT_TRUE(pruebas::esperarHasta([&] { return hay("[llamada] error de OpenAI: " + marca); }));
        pruebas::girar(20);  // posted phase reports
    }

    bool esperarEnviados(const QString& tipo, int n = 1, int ms = 5000) {
        return pruebas::esperarHasta([&] { return realtime.recibidos(tipo).size() >= n; }, ms);
    }

    bool esperarFin(int ms = 10000) {
        return pruebas::esperarHasta([this] { return terminados > 0; }, ms);
    }

    void avanzar(double segundos) {
        reloj.avanzar(segundos);
        pruebas::girar(10);
    }

    // The REST requests of the stand-in service to one path.
    QJsonArray peticiones(const QString& ruta) {
        QJsonArray r;
        for (const auto& p : servicio.peticiones())
            if (p.toObject().value("ruta").toString() == ruta) r.append(p);
        return r;
    }
    static QJsonObject cuerpo(const QJsonValue& peticion) {
        return QJsonDocument::fromJson(peticion.toObject().value("cuerpo").toString().toUtf8()).object();
    }

    ServicioSimulado servicio;
    RealtimeSimulado realtime;
    RelojVirtual reloj;
    std::unique_ptr<Llamada> llamada;
    AudioFalso* audio = nullptr;
    QStringList lineas;
    std::vector<Fase> fases;
    std::vector<double> niveles;
    int terminados = 0;
    std::shared_ptr<const FalloZentu> error;

private:
    int marcas_ = 0;
};
