#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <memory>
#include <optional>

// Starts and drives the stand-in Zentu service (tests/servicio/servidor.js) for one test.
// Every call is synchronous: it runs the event loop until the service answers.
class ServicioSimulado {
public:
    ServicioSimulado() = default;
    ~ServicioSimulado() { detener(); }
    ServicioSimulado(const ServicioSimulado&) = delete;
    ServicioSimulado& operator=(const ServicioSimulado&) = delete;

    // Starts the service (on `puerto`, or a free one with 0); extra arguments go to the server
    // ("--ping-intervalo", "--ping-espera"). Returns false if it did not come up.
    bool arrancar(int puerto = 0, const QStringList& extra = {});
    void detener();
    bool enMarcha() const { return proceso_ && proceso_->state() == QProcess::Running; }

    int puerto() const { return puerto_; }
    // The server's process id; 0 when it is not running.
    qint64 pid() const { return proceso_ ? proceso_->processId() : 0; }
    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(puerto_); }

    // Raw control call: METHOD /__control/<que> with a JSON body.
    QJsonValue control(const QString& metodo, const QString& que, const QJsonValue& cuerpo = {});

    // Scripts the next reply to METHOD ruta. `respuesta` holds "estado" and one of "cuerpo"
    // (JSON), "texto" (raw), "base64"; optionally "retraso" (ms), "veces", "cortar", "cortarTras".
    void responder(const QString& metodo, const QString& ruta, QJsonObject respuesta);
    void responder(const QString& metodo, const QString& ruta, int estado, const QJsonValue& cuerpo);

    QJsonArray peticiones();       // REST requests received, oldest first
    void olvidarPeticiones();
    QJsonArray eventos();          // live-channel events received: {evento, args, conAck}
    void olvidarEventos();
    // The record of requests and events keeps only the last `maximo` of each (0: none, so a
    // benchmark's large attachments are never kept); none keeps everything, as at the start.
    void registrar(std::optional<int> maximo);

    void aceptarToken(const QString& token);
    void ponerArchivo(const QString& id, const QByteArray& datos);
    void guionAck(const QString& evento, const QJsonArray& respuesta, int retrasoMs = 0);
    void callarAck(const QString& evento);  // acknowledge nothing for this event

    void emitir(const QString& evento, const QJsonArray& args = {});
    // A request of the service to the program; yields the program's acknowledgement arguments.
    QJsonObject pedir(const QString& evento, const QJsonArray& args, int esperaMs = 5000);
    void desconectarTodos();
    int conectados();

    // {"$bin": base64} <-> bytes, the control API's form of binary data.
    static QJsonObject binario(const QByteArray& datos);
    static QByteArray deBinario(const QJsonValue& valor);

private:
    std::unique_ptr<QProcess> proceso_;
    int puerto_ = 0;
};
