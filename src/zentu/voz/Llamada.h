#pragma once

#include "plataforma/AudioLlamada.h"
#include "plataforma/Reloj.h"
#include "zentu/conexion/Cuenta.h"
#include "zentu/isla/EstadoVoz.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QCoroTask>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QWebSocket;
class Buzon;
class ConvertidorMuestras;

// A failure of the call's own audio (voice processing, microphone, speakers).
class ErrorAudio : public FalloZentu {
public:
    explicit ErrorAudio(QString mensaje) : mensaje_(std::move(mensaje)) {}
    QString descripcion() const override { return mensaje_; }

private:
    QString mensaje_;
};

// One realtime voice call with an agent: the token from the service, the socket to the realtime
// speech service, the call's audio both ways, the agent's tools, the guardian and the reports at
// the end. Lives on the main thread; only the microphone path runs on the audio thread.
class Llamada : public QObject {
    Q_OBJECT
public:
    Llamada(Cuenta cuenta, std::optional<QString> agente, std::optional<qint64> consulta,
            Reloj& reloj = Reloj::sistema(), std::unique_ptr<AudioLlamada> audio = nullptr,
            QObject* padre = nullptr);
    ~Llamada() override;

    std::function<void(Fase)> alCambiarFase;
    std::function<void(double)> alNivel;
    // The end with its reason; null for a normal end.
    std::function<void(std::shared_ptr<const FalloZentu>)> alTerminar;
    // Takes the screenshot the agent asked for: the path of a JPEG file (the owner's screen by
    // default); throws FalloZentu or Pantalla::Error.
    std::function<QCoro::Task<QString>()> capturarPantalla;

    QCoro::Task<void> abrir();
    void colgar();

    bool silenciada() const { return silenciada_.load(); }
    void setSilenciada(bool si) { silenciada_.store(si); }

    // The realtime service's address: "ZENTU_REALTIME" (scheme and host, e.g. "ws://127.0.0.1:9")
    // when set, else the public service; then "/v1/realtime?model=" and the model, encoded.
    static QString servidorRealtime();
    static QUrl direccionRealtime(const QString& modelo);

    static const QJsonObject& herramientaVerPantalla();
    static QJsonObject usoVacio();
    static double nivel(const qint16* muestras, qint64 cuantas);

    // Adds the usage of one "response.done" to a usage record, keeping the record's shape.
    static void sumarUso(QJsonObject& uso, const QJsonObject& evento);

    // Seconds of farewell after the agent's last words: max(0.4 × words + 3, 3).
    static double esperaDespedida(const QString& transcripcion);

private:
    // --- session and events
    void escuchar();
    void recibir(const QJsonObject& evento);
    void enviar(const QJsonObject& evento);
    void fase(Fase f);
    QCoro::Task<void> cerrar(std::shared_ptr<const FalloZentu> error);
    void terminarCon(std::shared_ptr<const FalloZentu> error);
    void alPerderCanal(const QString& descripcion);
    void registrar(const QString& linea) const;

    // --- audio
    std::optional<QString> arrancarAudio();
    void alBloque(const float* datos, int marcos, int canales, int frecuencia);  // audio thread
    void medirCanales(const float* datos, int marcos, int canales);             // audio thread
    void enviarMicrofono(const float* datos, int marcos, int canales, int frecuencia);  // audio thread
    void resumirMicrofono(double marcosDuracion);                               // audio thread
    void sonar(const QByteArray& bytes, const std::optional<QString>& item);
    void sonado(const std::optional<QString>& item, qint64 marcos);
    void interrumpir();

    // --- tools
    void anadirVerPantalla(const QJsonObject& sesion);
    void herramienta(const QString& nombre, const QString& argumentos, const QString& callId);
    QCoro::Task<void> verPantalla(QString callId);
    QCoro::Task<void> herramientaRemota(QString nombre, QString argumentos, QString callId);
    void responder(const QString& callId, const QString& texto);
    void pasar(const QJsonObject& pase);
    void arrancarLlamadaEntrante();

    // --- guardian and reports
    void vigilar();
    void programarVigilancia();
    void programarColgado(double segundos);

    Cuenta cuenta_;
    Reloj& reloj_;
    std::unique_ptr<AudioLlamada> audio_;
    QPointer<QWebSocket> ws_;
    Temporizador esperaSocket_;
    std::optional<QString> llamadaId_;
    std::optional<double> inicio_;
    QJsonArray turnos_;
    QJsonObject uso_;
    Temporizador colgadoPendiente_;
    bool despidiendo_ = false;
    bool terminada_ = false;
    bool abierta_ = false;  // abrir() has run once

    std::optional<QString> itemSonando_;
    qint64 muestrasOidas_ = 0;
    qint64 buffersPendientes_ = 0;
    bool respuestaTerminada_ = true;
    quint64 generacionAltavoz_ = 0;  // a barge-in makes the completions of dropped chunks stale

    Temporizador guardian_;
    double ultimoBloque_ = 0;
    double ultimaVoz_ = 0;

    std::optional<QString> agente_;
    std::optional<qint64> consulta_;
    bool esperandoDisparo_ = false;
    Temporizador disparo_;
    std::optional<QString> itemDelDisparo_;

    // Shared with the audio thread.
    Buzon* buzon_;  // what the audio thread hands to the main thread
    std::atomic<bool> sesionIniciada_{false};
    std::atomic<bool> terminadaAudio_{false};
    std::atomic<bool> silenciada_{false};
    std::atomic<bool> hablando_{false};

    // Touched only on the audio thread.
    std::unique_ptr<ConvertidorMuestras> convertidor_;
    std::vector<float> mono_;
    qint64 micBytes_ = 0;
    qint64 micBloques_ = 0;
    qint64 micCallados_ = 0;
    double micPico_ = 0;
    double micDesdeResumen_ = 0;  // seconds of audio since the last statistics line
    std::vector<double> micPorCanal_;
};
