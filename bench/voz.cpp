// The client's own share of the spoken-question road, against the stand-in service:
//  1. end of a 5 s take -> "voice:audio" handed to the socket (the encoder's last frame, the
//     file's trailer, reading the take and framing the request included);
//  2. first speech chunk received on the channel -> its first sample handed to the audio output
//     (Base64, conversion, scheduling) and -> the sound server pulling it (real output).
// Goals: under 30 ms and under 50 ms. Reported as the median of the rounds with the lowest and
// the worst beside it, with the sine yardstick of the same run.
// It runs the voice conversation (zentu_voz's Conversacion over the chat model and the live
// channel) inside this benchmark rather than the installed program: both moments are inside
// the process, and the take must end on a clock the benchmark controls (virtual time).
// Usage: medir_voz [rondas=20]
#include "Medidas.h"
#include "Referencia.h"
#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/CodificadorAac.h"
#include "plataforma/GrabadoraAudio.h"
#include "zentu/chat/ChatZentu.h"
#include "zentu/conexion/CanalEnVivo.h"
#include "zentu/voz/Conversacion.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

QElapsedTimer reloj;
double ahoraMs() { return double(reloj.nsecsElapsed()) / 1e6; }

// A recorder that encodes a 5 s take as the real one does: while recording, whole frames go to
// the encoder; stopping flushes it and writes the trailer.
class GrabadoraDeCinco : public GrabadoraAudio {
public:
    std::optional<QString> grabar(const QString& ruta) override {
        if (auto f = cod_.abrir(ruta)) return f;
        std::vector<float> pcm(5 * CodificadorAac::kFrecuencia);
        for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = 0.3f * float(std::sin(2 * M_PI * 220 * double(i) / 16000));
        // The microphone's last 10 ms are still in hand when the take ends.
        cod_.agregar(pcm.data(), qsizetype(pcm.size() - 160));
        resto_.assign(pcm.end() - 160, pcm.end());
        return std::nullopt;
    }
    void actualizarMedidores() override {}
    float potenciaMedia() const override { return -30; }
    std::optional<QString> detener() override {
        if (!cod_.abierto()) return std::nullopt;
        cod_.agregar(resto_.data(), qsizetype(resto_.size()));
        return cod_.cerrar();
    }

private:
    CodificadorAac cod_;
    std::vector<float> resto_;
};

// The real output, with the moments of the first buffer noted.
class SalidaMedida : public SalidaVoz {
public:
    SalidaMedida(double* entregado, double* tomado)
        : real_(SalidaVoz::delSistema(VozATrozos::kFrecuencia)), entregado_(entregado), tomado_(tomado) {}
    std::optional<QString> empezar() override { return real_->empezar(); }
    void programar(std::vector<float> m, std::function<void()> f) override {
        if (*entregado_ < 0) *entregado_ = ahoraMs();
        double* tomado = tomado_;
        real_->programar(std::move(m), [tomado, f = std::move(f)] {
            if (*tomado < 0) *tomado = ahoraMs();
            f();
        });
    }
    void ponerEscucha(std::function<void(const float*, int)> e) override { real_->ponerEscucha(std::move(e)); }
    void quitarEscucha() override { real_->quitarEscucha(); }
    void detener() override { real_->detener(); }

private:
    std::unique_ptr<SalidaVoz> real_;
    double* entregado_;
    double* tomado_;
};

struct Cifras {
    std::vector<double> v;
    void agregar(double x) { v.push_back(x); }
    double mediana() {
        std::sort(v.begin(), v.end());
        return v.empty() ? NAN : v[v.size() / 2];
    }
    double peor() { return v.empty() ? NAN : *std::max_element(v.begin(), v.end()); }
};

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int rondas = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    reloj.start();
    const double nsSeno = nsPorSeno(2'000'000);

    ServicioSimulado servicio;
    if (!servicio.arrancar()) {
        std::fprintf(stderr, "no arrancó el servicio simulado\n");
        return 1;
    }
    CanalEnVivo canal(Cuenta{servicio.url(), "token-bueno", "d@n.mx", "N"});
    canal.conectar();
    if (!pruebas::esperarHasta([&] { return canal.listo(); }, 10000)) return 1;
    // The conversation's own timers run in virtual time: the take lasts 5 s without waiting.
    RelojVirtual virtual_;
    ChatZentu chat(canal, virtual_);

    double primerTrozo = -1, entregado = -1, tomado = -1;
    // Registered before the conversation's own listener: sees each chunk first.
    canal.on("voice:tts-trozo", [&](std::optional<QJsonValue>) {
        if (primerTrozo < 0) primerTrozo = ahoraMs();
    });
    Conversacion::Partes partes;
    partes.grabadora = [] { return std::make_unique<GrabadoraDeCinco>(); };
    partes.voz = [&] { return std::make_unique<VozATrozos>(std::make_unique<SalidaMedida>(&entregado, &tomado)); };
    Conversacion conv(chat, partes);
    bool fin = false;
    conv.alTerminar = [&](std::optional<QString>) { fin = true; };

    servicio.control("POST", "voz", QJsonObject{{"transcripcion", QJsonObject{{"ok", true}, {"text", "hola"}}}});
    servicio.control("POST", "voz", QJsonObject{{"habla", QJsonObject{{"trozos", 10}, {"bytes", 4801}}}});
    servicio.guionAck("chat:send", QJsonArray{QJsonObject{{"ok", true}}});

    Cifras alSocket, alServicio, aSalida, aSonido;
    for (int r = 0; r < rondas; ++r) {
        // Road 1: a voice note of 5 s.
        fin = false;
        servicio.olvidarEventos();
        conv.cancelar(true);
        conv.activa = true;
        conv.soloNota = true;
        conv.grabar(false);
        virtual_.avanzar(5.0);
        const double t0 = ahoraMs();
        conv.soltar();  // stops, reads and sends before it returns
        const double t1 = ahoraMs();
        alSocket.agregar(t1 - t0);
        pruebas::esperarHasta([&] {
            for (const auto& e : servicio.eventos())
                if (e.toObject().value("evento").toString() == "voice:audio") return true;
            return false;
        }, 10000);
        alServicio.agregar(ahoraMs() - t0);
        if (!pruebas::esperarHasta([&] { return fin; }, 10000)) std::fprintf(stderr, "la nota no terminó\n");

        // Road 2: one spoken answer.
        primerTrozo = entregado = tomado = -1;
        [[maybe_unused]] auto t = conv.preguntar("¿Cómo vamos?");
        QJsonObject m{{"text", QStringLiteral("Vamos bien, gracias (%1).").arg(r)}, {"fromMe", true}, {"messageId", QStringLiteral("b%1").arg(r)},
                      {"timestamp", "2026-12-10T10:00:00Z"}};
        servicio.emitir("messages:new", QJsonArray{QJsonObject{{"phone", "dashboard"}, {"message", m}}});
        if (!pruebas::esperarHasta([&] { return tomado >= 0; }, 10000)) std::fprintf(stderr, "no sonó\n");
        if (primerTrozo >= 0 && entregado >= 0) aSalida.agregar(entregado - primerTrozo);
        if (primerTrozo >= 0 && tomado >= 0) aSonido.agregar(tomado - primerTrozo);
        conv.cancelar(true);
        pruebas::girar(50);
    }

    std::printf("voz (Conversacion en este proceso): %d rondas; mediana [mínima–máxima] · seno %.2f ns\n", rondas, nsSeno);
    std::printf("fin de toma de 5 s -> voice:audio en el socket: %s ms (meta < 30 ms)\n", qPrintable(cifra(alSocket.v, 2)));
    std::printf("  (hasta que el servicio lo anota, con Node y el control: %s ms)\n", qPrintable(cifra(alServicio.v, 2)));
    std::printf("primer trozo recibido -> primera muestra a la salida: %s ms (meta < 50 ms)\n", qPrintable(cifra(aSalida.v, 2)));
    std::printf("primer trozo recibido -> tomado por el servidor de sonido: %s ms\n", qPrintable(cifra(aSonido.v, 2)));
    return 0;
}
