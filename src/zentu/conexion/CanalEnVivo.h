#pragma once

#include "plataforma/Reloj.h"
#include "zentu/conexion/Cuenta.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QCoroTask>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class QThread;
class QWebSocket;

// The service's live channel: Socket.IO 4 over Engine.IO 4 on one WebSocket, written directly on
// QWebSocket. It authenticates with the account's token, answers the server's heartbeat, watches
// for silence, reconnects with back-off, delivers server events to listeners, lets one handler per
// event answer the server's requests, and sends the program's events and acknowledged requests
// (with binary attachments), holding them in order while the channel is not ready.
//
// Everything runs on the thread that owns the channel (the main thread); only a responder and the
// requests may be used from elsewhere. The WebSocket itself lives on a thread of its own, so that
// framing and writing a large attachment, or reading a large message, never holds the main loop:
// the channel hands it what to send and gets back what arrived, in order.
class CanalEnVivo : public QObject {
    Q_OBJECT
public:
    // One-shot reply to one server request; callable from any thread, at any later time.
    using Respondedor = std::function<void(QJsonObject)>;

    // Sends that wait for the connection are held up to this many at a time; beyond that a request
    // fails at once and an event is dropped, so a channel that never connects cannot grow forever.
    static constexpr int kMaximoEnCola = 512;
    static constexpr qint64 kMaximoMensaje = 33'554'432;  // largest incoming message, 32 MiB

    explicit CanalEnVivo(Cuenta cuenta, Reloj& reloj = Reloj::sistema(), QObject* padre = nullptr);
    ~CanalEnVivo() override;

    const Cuenta& cuenta() const { return cuenta_; }

    void conectar();
    void cerrar();
    bool listo() const { return listo_; }

    // Listeners run in registration order on the main thread; "_conectado" fires (with no value)
    // each time the connection becomes ready.
    void on(const QString& evento, std::function<void(std::optional<QJsonValue>)> oyente);
    // One handler per event name (a later one replaces the earlier); it gets the server requests
    // of that name that carry an acknowledgement id.
    void atender(const QString& evento, std::function<void(std::optional<QJsonValue>, Respondedor)> atendedor);

    void emitir(const QString& evento, const QJsonObject& datos);
    // The first argument of the acknowledgement when it is an object; none when it is not, or when
    // no acknowledgement came within `espera` seconds. Never throws.
    QCoro::Task<std::optional<QJsonObject>> pedir(QString evento, QJsonObject datos, double espera);
    QCoro::Task<std::optional<QJsonObject>> pedirConBinarios(QString evento, QJsonObject datos,
                                                             QList<QByteArray> binarios, double espera);
    QCoro::Task<std::optional<QJsonObject>> pedirConAudio(QString evento, QByteArray audio, QJsonObject extra,
                                                          double espera);

    // Read-only views of the connection state, for the holders' diagnostics and the tests.
    double sinLatido() const { return sinLatido_; }
    int reintentos() const { return reintentos_; }
    bool cerrado() const { return cerrado_; }
    bool conSocket() const { return ws_ != nullptr; }
    qint64 proximoId() const { return proximoId_; }
    int enCola() const { return static_cast<int>(enCola_.size()); }
    int esperando() const { return static_cast<int>(esperando_.size()); }
    // The parent of the sockets, on their own thread; only to be looked at.
    const QObject* sockets() const { return raiz_; }

    struct Vida;       // lets other threads reach the channel only while it exists
    struct Peticion;   // one request waiting for its acknowledgement

private:
    struct EnCola {
        qint64 id = 0;  // the request's id; 0 for an event
        std::function<void()> accion;
    };
    struct Espera {
        std::shared_ptr<Peticion> peticion;
        double vence = 0;  // reloj seconds
    };

    QCoro::Task<void> abrir();
    void abrirSocket(const QUrl& direccion);
    void alTexto(qint64 socket, const QString& texto);
    void alPerder(qint64 socket, const QString& motivo);
    void paquete(const QString& texto);
    void evento(QStringView cuerpo, bool esAcuse);
    void vigilar();
    void alVigia();
    void reintentar();
    void soltarSocket(QWebSocket* socket, int codigo);
    void mandar(const QString& texto);
    void avisar(const QString& nombre, const std::optional<QJsonValue>& valor);
    void contestar(qint64 id, const std::shared_ptr<bool>& contestado, const QJsonObject& respuesta);

    std::shared_ptr<Peticion> registrar(QString evento, QJsonObject datos, std::optional<QList<QByteArray>> binarios,
                                        double espera);
    void registrarAqui(const std::shared_ptr<Peticion>& peticion, double espera);
    void enviarPeticion(const std::shared_ptr<Peticion>& peticion);
    void vencer(qint64 id);
    void programarPlazo();
    void alPlazo();

    const Cuenta cuenta_;
    Reloj& reloj_;
    std::shared_ptr<Vida> vida_;

    QThread* hilo_ = nullptr;  // where every socket lives and writes
    QObject* raiz_ = nullptr;  // on that thread: the parent of every socket, deleted with it
    QWebSocket* ws_ = nullptr;
    qint64 numeroSocket_ = 0;  // of ws_: what arrives from an older socket is not ours
    qint64 proximoId_ = 1;
    std::unordered_map<qint64, Espera> esperando_;
    // Every waiting request's time-out, earliest first (ties in order of sending), served by one
    // timer set for the earliest: no timer is made or dropped per request.
    std::set<std::pair<double, qint64>> plazos_;
    Temporizador plazo_;
    double plazoProgramado_ = 0;  // when plazo_ fires, while it is active
    std::map<QString, std::vector<std::function<void(std::optional<QJsonValue>)>>> oyentes_;
    std::map<QString, std::function<void(std::optional<QJsonValue>, Respondedor)>> atendedores_;
    bool listo_ = false;
    std::deque<EnCola> enCola_;
    int reintentos_ = 0;
    bool cerrado_ = false;
    bool reintentoPendiente_ = false;
    double sinLatido_ = 50.0;
    Temporizador vigia_;
    double ultimoMensaje_ = 0;  // when the current socket last sent a text (reloj seconds)
    Temporizador reintento_;
};
