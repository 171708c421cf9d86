#pragma once

#include "plataforma/GrabadoraAudio.h"
#include "plataforma/Reloj.h"
#include "zentu/isla/EstadoVoz.h"
#include "zentu/voz/VozATrozos.h"

#include <QByteArray>
#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QCoroTask>
#include <functional>
#include <memory>
#include <optional>

class ChatZentu;

// The voice conversation: records the owner (push-to-talk or hands-free with voice detection),
// has the service transcribe the take, and either posts the transcript as a voice note or asks
// it as a question whose answers are spoken as they stream in; then listens again hands-free.
// No user interface; the shell creates it, installs the callbacks and drives it. Main thread.
//
// Every step that resumes after a wait (transcription, speech request, send, screenshot)
// carries the number of the conversation it belongs to and does nothing once another began.
class Conversacion : public QObject {
    Q_OBJECT
public:
    // Replaceable parts, for tests: the recorder, the speech player and the screenshot.
    struct Partes {
        std::function<std::unique_ptr<GrabadoraAudio>()> grabadora;
        std::function<std::unique_ptr<VozATrozos>()> voz;
        std::function<QCoro::Task<QString>()> capturar;
    };

    static constexpr double kTick = 0.05;
    static constexpr int kCalibracion = 6;
    static constexpr float kPisoInicial = -50.0f;
    static constexpr float kMargen = 14.0f;
    static constexpr float kUmbralMinimo = -40.0f;
    static constexpr int kSeguidasVoz = 6;
    static constexpr double kSilencioPregunta = 1.3;
    static constexpr double kSilencioNota = 2.0;
    static constexpr double kTomaMaxima = 60.0;
    static constexpr double kNadieHabla = 8.0;
    static constexpr double kTomaMinima = 0.25;
    static constexpr double kEsperaTranscripcion = 45.0;
    static constexpr double kEsperaVoz = 90.0;
    static constexpr int kMaximoHablado = 3000;
    static constexpr double kReescucha = 0.9;

    // Subscribes "voice:tts-trozo" on the chat's channel.
    explicit Conversacion(ChatZentu& chat, Partes partes = {}, QObject* padre = nullptr);
    ~Conversacion() override;

    // --- callbacks the shell installs ---
    std::function<void(Fase)> alCambiarFase;
    std::function<void(double)> alNivel;
    std::function<void(std::optional<QString>)> alTerminar;

    // --- flags the shell sets before a take ---
    bool activa = false;
    bool soloNota = false;
    int vacias = 0;

    // --- operations ---
    void grabar(bool manosLibres);
    void soltar();
    void cancelar(bool silencioso);
    QCoro::Task<void> preguntar(QString texto);
    void seguirEscuchando();
    void soltarVoz();
    void trozo(const std::optional<QJsonValue>& datos);

    // --- read-only views of the state, for the shell and the tests ---
    bool grabando() const { return grabadora_ != nullptr; }
    bool enManosLibres() const { return enManosLibres_; }
    bool oyoVoz() const { return oyoVoz_; }
    float piso() const { return piso_; }
    int seguidas() const { return seguidas_; }
    bool esperandoRespuesta() const { return esperandoRespuesta_; }
    bool leyendo() const { return leyendo_; }
    bool hablando() const { return hablando_; }
    const QStringList& respuestas() const { return respuestas_; }
    const QStringList& cola() const { return cola_; }
    const QString& idActual() const { return idActual_; }
    VozATrozos* voz() const { return voz_.get(); }
    quint64 generacion() const { return generacion_; }
    // Where takes are written: "zentu-nota.m4a" in the private folder.
    static std::optional<QString> archivoNota();

    // Level reported during a take for an average power p in dB.
    static double nivelDe(float potencia);

private:
    void terminar(std::optional<QString> aviso);
    void medir(std::function<double()> fuente);
    void armarMedidor();
    void pararMedidor();
    void armarVad();
    void vigilarVoz();
    void pararGrabadora();
    QCoro::Task<void> procesar(QByteArray audio, quint64 gen);
    void vacia();
    void llego(const QString& texto);
    void programarCierre(double segundos);
    void yaNoLlegaMas();
    void leerSiguiente();
    QCoro::Task<void> hablar(QString texto, QString id, quint64 gen);
    void revisarFin();
    void fase(Fase f);
    static void anotar(const QString& linea);

    QPointer<ChatZentu> chat_;
    Reloj& reloj_;
    Partes partes_;

    std::unique_ptr<GrabadoraAudio> grabadora_;
    Temporizador medidor_;
    std::function<double()> fuenteNivel_;
    double inicioGrabacion_ = 0;
    QStringList respuestas_;
    bool esperandoRespuesta_ = false;
    Temporizador cierre_;
    QStringList cola_;
    bool leyendo_ = false;
    bool hablando_ = false;
    QString idActual_;
    std::unique_ptr<VozATrozos> voz_;
    double desdeLaPregunta_ = 0;
    Temporizador vad_;
    bool enManosLibres_ = false;
    int seguidas_ = 0;
    bool oyoVoz_ = false;
    double ultimoSonido_ = 0;
    float piso_ = kPisoInicial;
    std::vector<float> muestrasPiso_;
    Temporizador escucha_;   // the pending re-listen
    quint64 generacion_ = 0;
};
