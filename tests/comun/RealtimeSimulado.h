#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QString>
#include <memory>

// Starts and drives the stand-in realtime speech service (tests/servicio/realtime.js) for one
// test. Every call is synchronous: it runs the event loop until the service answers.
class RealtimeSimulado {
public:
    RealtimeSimulado() = default;
    ~RealtimeSimulado() { detener(); }
    RealtimeSimulado(const RealtimeSimulado&) = delete;
    RealtimeSimulado& operator=(const RealtimeSimulado&) = delete;

    bool arrancar();
    void detener();

    int puerto() const { return puerto_; }
    // The server's process id; 0 when it is not running.
    qint64 pid() const { return proceso_ ? proceso_->processId() : 0; }
    // Scheme and host, as the program's realtime configuration takes them.
    QString base() const { return QStringLiteral("ws://127.0.0.1:%1").arg(puerto_); }

    QJsonValue control(const QString& metodo, const QString& que, const QJsonValue& cuerpo = {});

    // What happens on each connection: {alConectar: [events], rechazar, colgarSaludo, cerrarAlConectar}.
    void guion(const QJsonObject& g) { control("POST", "guion", g); }
    void enviar(const QJsonObject& evento) { control("POST", "enviar", QJsonObject{{"evento", evento}}); }
    void enviarCrudo(const QJsonObject& como) { control("POST", "enviar", como); }
    QJsonArray recibidos(const QString& tipo = {});
    void olvidar() { control("DELETE", "recibidos"); }
    QJsonArray conexiones() { return control("GET", "conexiones").toArray(); }
    void cortar(int codigo = 0);

private:
    std::unique_ptr<QProcess> proceso_;
    int puerto_ = 0;
};
