#include "zentu/conexion/CanalEnVivo.h"

#include "plataforma/Registro.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QTextBoundaryFinder>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <algorithm>
#include <cmath>
#include <coroutine>
#include <mutex>

// ---------------------------------------------------------------- shared pieces

// The channel as seen from other threads: a pointer cleared by the destructor under a lock, so a
// responder or a request made elsewhere reaches the channel only while it exists.
struct CanalEnVivo::Vida {
    std::mutex cerrojo;
    CanalEnVivo* canal = nullptr;
    // Requests made on other threads, waiting to be registered on the channel's thread.
    std::vector<std::pair<std::shared_ptr<Peticion>, double>> entrantes;

    // Runs `trabajo` on the channel's thread, later, if the channel still exists then.
    void enCanal(std::function<void(CanalEnVivo&)> trabajo) {
        std::lock_guard<std::mutex> bloqueo(cerrojo);
        if (!canal) return;
        CanalEnVivo* c = canal;
        QMetaObject::invokeMethod(c, [c, trabajo = std::move(trabajo)] { trabajo(*c); }, Qt::QueuedConnection);
    }
    // A log line of the socket's thread, written on the channel's, in turn with the others.
    void anotar(QString linea);
};

namespace {

// Callers waiting on requests, resumed from the event loop of the main thread: one posted event
// resumes every caller completed since the last one, in order, so a burst of acknowledgements
// costs one event instead of one event (and one allocation) each.
class Reanudaciones {
public:
    static void agregar(std::coroutine_handle<> h) {
        static Reanudaciones cola;
        bool avisar = false;
        {
            std::lock_guard<std::mutex> bloqueo(cola.cerrojo_);
            cola.pendientes_.push_back(h);
            avisar = !std::exchange(cola.programado_, true);
        }
        if (avisar) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), [] { cola.vaciar(); }, Qt::QueuedConnection);
        }
    }

private:
    void vaciar() {
        // Taken out first: a caller that runs a nested event loop may come back in here.
        std::vector<std::coroutine_handle<>> lote;
        {
            std::lock_guard<std::mutex> bloqueo(cerrojo_);
            lote.swap(pendientes_);
            programado_ = false;
        }
        // Resuming may complete more requests: they wait for the next event, after these.
        for (std::coroutine_handle<> h : lote) h.resume();
    }

    std::mutex cerrojo_;
    std::vector<std::coroutine_handle<>> pendientes_;
    bool programado_ = false;
};

}  // namespace

// One request: what to send, and the one-shot completion shared by its acknowledgement and its
// time-out. The caller is resumed from the event loop, never from inside the packet parser.
struct CanalEnVivo::Peticion {
    qint64 id = 0;
    QString evento;
    QJsonObject datos;
    std::optional<QList<QByteArray>> binarios;  // present: sent as "45" with attachments

    std::mutex cerrojo;
    bool hecho = false;
    std::optional<QJsonObject> valor;
    std::coroutine_handle<> continuacion;

    bool terminada() {
        std::lock_guard<std::mutex> bloqueo(cerrojo);
        return hecho;
    }

    // Only the first call counts.
    void completar(std::optional<QJsonObject> resultado) {
        std::coroutine_handle<> h;
        {
            std::lock_guard<std::mutex> bloqueo(cerrojo);
            if (hecho) return;
            hecho = true;
            valor = std::move(resultado);
            h = std::exchange(continuacion, nullptr);
        }
        // What was to be sent is no longer needed (an attachment may be large).
        datos = {};
        binarios.reset();
        if (h) Reanudaciones::agregar(h);
    }
};

namespace {

struct Aguardo {
    std::shared_ptr<CanalEnVivo::Peticion> p;

    bool await_ready() const noexcept { return false; }
    bool await_suspend(std::coroutine_handle<> h) {
        std::lock_guard<std::mutex> bloqueo(p->cerrojo);
        if (p->hecho) return false;
        p->continuacion = h;
        return true;
    }
    std::optional<QJsonObject> await_resume() {
        std::lock_guard<std::mutex> bloqueo(p->cerrojo);
        return std::move(p->valor);
    }
};

QCoro::Task<std::optional<QJsonObject>> aguardar(std::shared_ptr<CanalEnVivo::Peticion> p) {
    // A named awaiter: GCC 12 destroys a temporary one twice inside "co_return co_await".
    Aguardo aguardo{std::move(p)};
    std::optional<QJsonObject> valor = co_await aguardo;
    co_return valor;
}

QString compacto(const QJsonArray& arreglo) {
    return QString::fromUtf8(QJsonDocument(arreglo).toJson(QJsonDocument::Compact));
}

void anotar(const QString& linea) { Registro::escribir(linea); }

// The first `n` user-perceived characters, so a cut never splits a character in two.
QString primeros(QStringView texto, int n) {
    if (texto.size() <= n) return texto.toString();
    QTextBoundaryFinder limites(QTextBoundaryFinder::Grapheme, texto.toString());
    qsizetype corte = 0;
    for (int i = 0; i < n; ++i) {
        const qsizetype siguiente = limites.toNextBoundary();
        if (siguiente < 0) break;
        corte = siguiente;
    }
    return texto.left(corte).toString();
}

// What went wrong with a socket, in the network layer's own words where it has some.
QString descripcionDeCierre(const QWebSocket& s) {
    if (s.error() != QAbstractSocket::UnknownSocketError) return s.errorString();
    if (!s.closeReason().isEmpty()) return s.closeReason();
    return QStringLiteral("Socket closed (%1)").arg(static_cast<int>(s.closeCode()));
}

QString descripcionDeEnvio(const QWebSocket& s) {
    if (s.error() != QAbstractSocket::UnknownSocketError) return s.errorString();
    return QStringLiteral("Socket is not connected");
}

}  // namespace

void CanalEnVivo::Vida::anotar(QString linea) {
    enCanal([linea = std::move(linea)](CanalEnVivo&) { ::anotar(linea); });
}

// ---------------------------------------------------------------- life

CanalEnVivo::CanalEnVivo(Cuenta cuenta, Reloj& reloj, QObject* padre)
    : QObject(padre), cuenta_(std::move(cuenta)), reloj_(reloj), vida_(std::make_shared<Vida>()) {
    vida_->canal = this;
    hilo_ = new QThread;
    hilo_->setObjectName(QStringLiteral("canal"));
    raiz_ = new QObject;
    raiz_->moveToThread(hilo_);
    hilo_->start();
}

CanalEnVivo::~CanalEnVivo() {
    std::vector<std::pair<std::shared_ptr<Peticion>, double>> entrantes;
    {
        std::lock_guard<std::mutex> bloqueo(vida_->cerrojo);
        vida_->canal = nullptr;
        entrantes = std::move(vida_->entrantes);
    }
    vigia_.cancelar();
    reintento_.cancelar();
    if (ws_) {
        QObject::disconnect(ws_, nullptr, this, nullptr);
        QWebSocket* socket = std::exchange(ws_, nullptr);
        QMetaObject::invokeMethod(socket, [socket] { socket->abort(); }, Qt::QueuedConnection);
    }
    // Every socket, the closing ones too, goes with the root when the thread ends; a write under
    // way ends first.
    raiz_->deleteLater();
    hilo_->quit();
    hilo_->wait();
    delete hilo_;
    // No answer can come any more: every waiting caller learns it now instead of never.
    for (auto& [peticion, espera] : entrantes) peticion->completar(std::nullopt);
    plazo_.cancelar();
    plazos_.clear();
    auto esperando = std::move(esperando_);
    for (auto& [id, e] : esperando) e.peticion->completar(std::nullopt);
    enCola_.clear();
}

void CanalEnVivo::on(const QString& evento, std::function<void(std::optional<QJsonValue>)> oyente) {
    oyentes_[evento].push_back(std::move(oyente));
}

void CanalEnVivo::atender(const QString& evento,
                          std::function<void(std::optional<QJsonValue>, Respondedor)> atendedor) {
    atendedores_[evento] = std::move(atendedor);
}

// ---------------------------------------------------------------- connecting

void CanalEnVivo::conectar() {
    cerrado_ = false;
    [[maybe_unused]] auto tarea = abrir();  // runs on by itself; nothing waits for it
}

QCoro::Task<void> CanalEnVivo::abrir() {
    QPointer<CanalEnVivo> yo(this);
    const Cuenta cuenta = cuenta_;
    QString ruta;
    std::optional<QString> fallo;
    try {
        const QJsonObject respuesta =
            co_await API::pedir(cuenta, QStringLiteral("/api/dudas/canal"), QStringLiteral("GET"), std::nullopt, 20);
        if (!respuesta.value(QLatin1String("path")).isString()) {
            throw ErrorZentu::servidor(QStringLiteral("Sin canal en vivo"));
        }
        ruta = respuesta.value(QLatin1String("path")).toString();
    } catch (const ErrorZentu& e) {
        if (e.caso() == ErrorZentu::Caso::sesionVencida) {
            // The link has expired: trying again cannot help, and the shell decides what to do.
            if (yo) anotar(QStringLiteral("[canal] sesión vencida"));
            co_return;
        }
        fallo = e.descripcion();
    } catch (const FalloZentu& e) {
        fallo = e.descripcion();
    } catch (const std::exception& e) {
        fallo = QString::fromUtf8(e.what());
    }
    if (!yo) co_return;
    if (fallo) {
        anotar(QStringLiteral("[canal] no se pudo abrir: ") + *fallo);
        reintentar();
        co_return;
    }

    QString direccion = cuenta.url;
    direccion.replace(QLatin1String("https://"), QLatin1String("wss://"));
    direccion.replace(QLatin1String("http://"), QLatin1String("ws://"));
    direccion += ruta;
    if (!ruta.endsWith(QLatin1Char('/'))) direccion += QLatin1Char('/');
    direccion += QLatin1String("?EIO=4&transport=websocket");
    const QUrl url(direccion, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) co_return;
    abrirSocket(url);
}

void CanalEnVivo::abrirSocket(const QUrl& direccion) {
    if (cerrado_) return;
    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, nullptr);
    socket->setMaxAllowedIncomingMessageSize(kMaximoMensaje);
    socket->setMaxAllowedIncomingFrameSize(kMaximoMensaje);
    socket->moveToThread(hilo_);
    QObject* raiz = raiz_;
    QMetaObject::invokeMethod(raiz, [socket, raiz] { socket->setParent(raiz); }, Qt::QueuedConnection);
    const qint64 numero = ++numeroSocket_;
    // Delivered on the channel's thread, in the order they arrived.
    connect(socket, &QWebSocket::textMessageReceived, this,
            [this, numero](const QString& texto) { alTexto(numero, texto); });
    connect(socket, &QWebSocket::connected, socket, [socket] {
        // Small messages go out at once: with Nagle's algorithm on, a request written while an
        // earlier one is unacknowledged waits for that acknowledgement (up to the peer's delayed
        // ACK), which shows as a tail of slow requests when many are in flight.
        for (QTcpSocket* tcp : socket->findChildren<QTcpSocket*>())
            tcp->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    });
    // The reason is read where the socket lives, then handed over.
    std::shared_ptr<Vida> vida = vida_;
    auto perdido = [socket, vida, numero] {
        const QString motivo = descripcionDeCierre(*socket);
        vida->enCanal([numero, motivo](CanalEnVivo& canal) { canal.alPerder(numero, motivo); });
    };
    connect(socket, &QWebSocket::disconnected, socket, perdido);
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), socket,
            [perdido](QAbstractSocket::SocketError) { perdido(); });
    if (ws_) soltarSocket(ws_, QWebSocketProtocol::CloseCodeGoingAway);
    ws_ = socket;
    listo_ = false;
    QMetaObject::invokeMethod(socket, [socket, direccion] { socket->open(direccion); }, Qt::QueuedConnection);
    vigilar();
}

void CanalEnVivo::soltarSocket(QWebSocket* socket, int codigo) {
    QObject::disconnect(socket, nullptr, this, nullptr);
    // On the socket's thread, after whatever it was still given to send.
    QMetaObject::invokeMethod(
        socket,
        [socket, codigo] {
            QObject::disconnect(socket, nullptr, socket, nullptr);  // its loss is no longer news
            if (socket->state() == QAbstractSocket::UnconnectedState) {
                socket->deleteLater();
                return;
            }
            // Let the closing handshake finish before the socket goes; a peer that never answers
            // it does not keep the socket alive for long.
            QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(10000, socket, &QObject::deleteLater);
            socket->close(static_cast<QWebSocketProtocol::CloseCode>(codigo));
        },
        Qt::QueuedConnection);
}

void CanalEnVivo::alTexto(qint64 socket, const QString& texto) {
    if (!ws_ || socket != numeroSocket_) return;
    ultimoMensaje_ = reloj_.segundos();
    paquete(texto);
}

void CanalEnVivo::alPerder(qint64 socket, const QString& motivo) {
    if (!ws_ || socket != numeroSocket_) return;
    anotar(QStringLiteral("[canal] cerrado: ") + motivo);
    reintentar();
}

// ---------------------------------------------------------------- packets

void CanalEnVivo::paquete(const QString& texto) {
    if (texto.isEmpty()) return;
    const QChar tipo = texto.front();
    if (tipo == QLatin1Char('0')) {
        const QJsonDocument doc = QJsonDocument::fromJson(QStringView(texto).mid(1).toUtf8());
        if (doc.isObject()) {
            const QJsonValue intervalo = doc.object().value(QLatin1String("pingInterval"));
            const QJsonValue espera = doc.object().value(QLatin1String("pingTimeout"));
            if (intervalo.isDouble() && espera.isDouble()) {
                const double a = intervalo.toDouble();
                const double b = espera.toDouble();
                // A zero, negative or endless heartbeat would make the watchdog fire at once or
                // never: keep the value we had.
                if (std::isfinite(a) && std::isfinite(b) && a > 0 && b > 0 && std::isfinite(a + b)) {
                    sinLatido_ = (a + b) / 1000.0 + 5.0;
                    if (ws_) vigilar();
                }
            }
        }
        mandar(QStringLiteral("40") +
               QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("token"), cuenta_.token}})
                                     .toJson(QJsonDocument::Compact)));
        return;
    }
    if (tipo == QLatin1Char('2')) {
        mandar(QStringLiteral("3"));
        return;
    }
    if (tipo != QLatin1Char('4') || texto.size() < 2) return;

    const QChar sub = texto.at(1);
    const QStringView cuerpo = QStringView(texto).mid(2);
    if (sub == QLatin1Char('0')) {
        // Only a new connection is news: a peer that repeats its "40" on a live socket must not
        // make every listener reload all it holds again.
        if (listo_) return;
        listo_ = true;
        reintentos_ = 0;
        anotar(QStringLiteral("[canal] conectado"));
        std::deque<EnCola> cola;
        cola.swap(enCola_);
        QPointer<CanalEnVivo> yo(this);
        for (auto& e : cola) {
            e.accion();
            if (!yo) return;
        }
        avisar(QStringLiteral("_conectado"), std::nullopt);
    } else if (sub == QLatin1Char('1')) {
        anotar(QStringLiteral("[canal] el servidor cerró el canal"));
        reintentar();
    } else if (sub == QLatin1Char('4')) {
        anotar(QStringLiteral("[canal] rechazado: ") + primeros(cuerpo, 200));
    } else if (sub == QLatin1Char('2') || sub == QLatin1Char('3')) {
        evento(cuerpo, sub == QLatin1Char('3'));
    }
}

void CanalEnVivo::evento(QStringView cuerpo, bool esAcuse) {
    qsizetype digitos = 0;
    while (digitos < cuerpo.size() && cuerpo[digitos] >= QLatin1Char('0') && cuerpo[digitos] <= QLatin1Char('9')) {
        ++digitos;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(cuerpo.mid(digitos).toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) return;
    const QJsonArray argumentos = doc.array();
    bool idValido = false;
    const qint64 id = digitos > 0 ? cuerpo.left(digitos).toLongLong(&idValido) : 0;

    if (esAcuse && idValido) {
        auto it = esperando_.find(id);
        if (it == esperando_.end()) return;  // unknown, answered or expired
        Espera espera = std::move(it->second);
        esperando_.erase(it);
        plazos_.erase({espera.vence, id});  // the timer is left as it is: it skips what is gone
        const QJsonValue primero = argumentos.isEmpty() ? QJsonValue() : argumentos.at(0);
        espera.peticion->completar(primero.isObject() ? std::optional<QJsonObject>(primero.toObject())
                                                      : std::nullopt);
        return;
    }

    if (argumentos.isEmpty() || !argumentos.at(0).isString()) return;
    const QString nombre = argumentos.at(0).toString();
    const std::optional<QJsonValue> valor =
        argumentos.size() >= 2 ? std::optional<QJsonValue>(argumentos.at(1)) : std::nullopt;

    if (idValido) {
        auto h = atendedores_.find(nombre);
        if (h != atendedores_.end()) {
            auto contestado = std::make_shared<bool>(false);  // touched on the channel's thread only
            std::shared_ptr<Vida> vida = vida_;
            Respondedor respondedor = [vida, id, contestado](QJsonObject respuesta) {
                vida->enCanal([id, contestado, respuesta = std::move(respuesta)](CanalEnVivo& canal) {
                    canal.contestar(id, contestado, respuesta);
                });
            };
            auto atendedor = h->second;  // a handler may replace itself while it runs
            atendedor(valor, std::move(respondedor));
            return;
        }
    }
    avisar(nombre, valor);
}

void CanalEnVivo::contestar(qint64 id, const std::shared_ptr<bool>& contestado, const QJsonObject& respuesta) {
    if (*contestado) return;
    *contestado = true;
    mandar(QStringLiteral("43") + QString::number(id) + compacto(QJsonArray{respuesta}));
}

void CanalEnVivo::avisar(const QString& nombre, const std::optional<QJsonValue>& valor) {
    auto it = oyentes_.find(nombre);
    if (it == oyentes_.end()) return;
    QPointer<CanalEnVivo> yo(this);
    auto& lista = it->second;  // map nodes stay put when listeners register more names
    const size_t cuantos = lista.size();
    for (size_t i = 0; i < cuantos; ++i) {
        auto oyente = lista[i];  // a copy: a listener that registers another may move the list
        oyente(valor);
        if (!yo) return;
    }
}

void CanalEnVivo::mandar(const QString& texto) {
    if (!ws_) return;
    QWebSocket* socket = ws_;
    QMetaObject::invokeMethod(
        socket,
        [socket, texto, vida = vida_] {
            if (socket->sendTextMessage(texto) <= 0)
                vida->anotar(QStringLiteral("[canal] no se pudo enviar: ") + descripcionDeEnvio(*socket));
        },
        Qt::QueuedConnection);
}

// ---------------------------------------------------------------- heartbeat and reconnection

// One delayed action serves the whole silence: each text message only notes its time, and the
// action, when due, waits again for whatever is left.
void CanalEnVivo::vigilar() {
    ultimoMensaje_ = reloj_.segundos();
    const qint64 socket = numeroSocket_;
    vigia_ = reloj_.programar(sinLatido_, this, [this, socket] {
        if (!ws_ || socket != numeroSocket_ || cerrado_) return;
        alVigia();
    });
}

void CanalEnVivo::alVigia() {
    const double restante = ultimoMensaje_ + sinLatido_ - reloj_.segundos();
    if (restante > 1e-6) {
        const qint64 socket = numeroSocket_;
        vigia_ = reloj_.programar(restante, this, [this, socket] {
            if (!ws_ || socket != numeroSocket_ || cerrado_) return;
            alVigia();
        });
        return;
    }
    anotar(QStringLiteral("[canal] sin latido del servidor: reconecto"));
    reintentar();
}

void CanalEnVivo::reintentar() {
    if (cerrado_ || reintentoPendiente_) return;
    reintentoPendiente_ = true;
    listo_ = false;
    vigia_.cancelar();
    if (ws_) {
        QWebSocket* viejo = std::exchange(ws_, nullptr);
        soltarSocket(viejo, QWebSocketProtocol::CloseCodeGoingAway);
    }
    reintentos_ += 1;
    const int demora = std::min(1 << std::min(reintentos_, 5), 30);
    anotar(QStringLiteral("[canal] reconecto en ") + QString::number(demora) + QStringLiteral(" s"));
    reintento_ = reloj_.programar(demora, this, [this] {
        reintentoPendiente_ = false;
        if (cerrado_) return;
        conectar();
    });
}

void CanalEnVivo::cerrar() {
    cerrado_ = true;
    vigia_.cancelar();
    if (ws_) {
        QWebSocket* viejo = std::exchange(ws_, nullptr);
        soltarSocket(viejo, QWebSocketProtocol::CloseCodeNormal);
    }
    listo_ = false;
}

// ---------------------------------------------------------------- sending

void CanalEnVivo::emitir(const QString& evento, const QJsonObject& datos) {
    const QString texto = QStringLiteral("42") + compacto(QJsonArray{evento, datos});
    if (listo_) {
        mandar(texto);
        return;
    }
    if (enCola_.size() >= static_cast<size_t>(kMaximoEnCola)) {
        anotar(QStringLiteral("[canal] cola llena: no se envía ") + evento);
        return;
    }
    enCola_.push_back({0, [this, texto] { mandar(texto); }});
}

QCoro::Task<std::optional<QJsonObject>> CanalEnVivo::pedir(QString evento, QJsonObject datos, double espera) {
    return aguardar(registrar(std::move(evento), std::move(datos), std::nullopt, espera));
}

QCoro::Task<std::optional<QJsonObject>> CanalEnVivo::pedirConBinarios(QString evento, QJsonObject datos,
                                                                      QList<QByteArray> binarios, double espera) {
    return aguardar(registrar(std::move(evento), std::move(datos), std::move(binarios), espera));
}

QCoro::Task<std::optional<QJsonObject>> CanalEnVivo::pedirConAudio(QString evento, QByteArray audio,
                                                                   QJsonObject extra, double espera) {
    extra.insert(QStringLiteral("audio"),
                 QJsonObject{{QStringLiteral("_placeholder"), true}, {QStringLiteral("num"), 0}});
    return pedirConBinarios(std::move(evento), std::move(extra), QList<QByteArray>{std::move(audio)}, espera);
}

std::shared_ptr<CanalEnVivo::Peticion> CanalEnVivo::registrar(QString evento, QJsonObject datos,
                                                              std::optional<QList<QByteArray>> binarios,
                                                              double espera) {
    auto peticion = std::make_shared<Peticion>();
    peticion->evento = std::move(evento);
    peticion->datos = std::move(datos);
    peticion->binarios = std::move(binarios);
    if (QThread::currentThread() == thread()) {
        registrarAqui(peticion, espera);
        return peticion;
    }
    // From another thread: registration, sending and completion all happen on the channel's.
    std::lock_guard<std::mutex> bloqueo(vida_->cerrojo);
    if (!vida_->canal) {
        peticion->completar(std::nullopt);
        return peticion;
    }
    vida_->entrantes.emplace_back(peticion, espera);
    if (vida_->entrantes.size() == 1) {
        CanalEnVivo* c = vida_->canal;
        QMetaObject::invokeMethod(
            c,
            [c] {
                std::vector<std::pair<std::shared_ptr<Peticion>, double>> llegadas;
                {
                    std::lock_guard<std::mutex> b(c->vida_->cerrojo);
                    llegadas = std::move(c->vida_->entrantes);
                    c->vida_->entrantes.clear();
                }
                for (auto& [p, e] : llegadas) c->registrarAqui(p, e);
            },
            Qt::QueuedConnection);
    }
    return peticion;
}

void CanalEnVivo::registrarAqui(const std::shared_ptr<Peticion>& peticion, double espera) {
    const qint64 id = proximoId_++;
    peticion->id = id;
    if (!listo_ && enCola_.size() >= static_cast<size_t>(kMaximoEnCola)) {
        // Nowhere to hold it: the caller learns at once that it was not sent.
        anotar(QStringLiteral("[canal] cola llena: no se envía ") + peticion->evento);
        peticion->completar(std::nullopt);
        return;
    }
    // As a delayed action would: a time that is not a number expires on the next turn.
    const double segundos = std::isfinite(espera) ? std::clamp(espera, 0.0, 2.0e6) : 0.0;
    const double vence = reloj_.segundos() + segundos;
    esperando_.emplace(id, Espera{peticion, vence});
    plazos_.emplace(vence, id);
    programarPlazo();
    if (listo_) {
        enviarPeticion(peticion);
    } else {
        enCola_.push_back({id, [this, peticion] { enviarPeticion(peticion); }});
    }
}

void CanalEnVivo::programarPlazo() {
    if (plazos_.empty()) return;
    const double primero = plazos_.begin()->first;
    if (plazo_.activo() && plazoProgramado_ <= primero) return;
    plazoProgramado_ = primero;
    plazo_ = reloj_.programar(primero - reloj_.segundos(), this, [this] { alPlazo(); });
}

void CanalEnVivo::alPlazo() {
    // Within a microsecond counts as due: the delay was worked out from the same clock.
    const double ahora = reloj_.segundos() + 1e-6;
    QPointer<CanalEnVivo> yo(this);
    while (!plazos_.empty() && plazos_.begin()->first <= ahora) {
        const qint64 id = plazos_.begin()->second;
        plazos_.erase(plazos_.begin());
        vencer(id);
        if (!yo) return;
    }
    programarPlazo();
}

void CanalEnVivo::vencer(qint64 id) {
    auto it = esperando_.find(id);
    if (it == esperando_.end()) return;
    plazos_.erase({it->second.vence, id});
    auto peticion = std::move(it->second.peticion);
    esperando_.erase(it);
    // The caller is told now that the request failed, so it must not go out later either:
    // otherwise the service would act on something the owner believes was not sent.
    std::erase_if(enCola_, [id](const EnCola& e) { return e.id == id; });
    peticion->completar(std::nullopt);
}

void CanalEnVivo::enviarPeticion(const std::shared_ptr<Peticion>& peticion) {
    if (peticion->terminada()) return;
    const QString json = compacto(QJsonArray{peticion->evento, peticion->datos});
    const QString id = QString::number(peticion->id);
    if (!peticion->binarios) {
        mandar(QStringLiteral("42") + id + json);
    } else if (ws_) {
        // The header and its attachments go out together on the socket's thread; a request that
        // expired before its turn there is not sent at all.
        QWebSocket* socket = ws_;
        const QString cabecera = QStringLiteral("45") + QString::number(peticion->binarios->size()) +
                                 QLatin1Char('-') + id + json;
        QMetaObject::invokeMethod(
            socket,
            [socket, cabecera, binarios = *peticion->binarios, p = std::weak_ptr<Peticion>(peticion), vida = vida_] {
                const auto viva = p.lock();
                if (!viva || viva->terminada()) return;
                if (socket->sendTextMessage(cabecera) <= 0) {
                    vida->anotar(QStringLiteral("[canal] no se pudo enviar: ") + descripcionDeEnvio(*socket));
                    return;
                }
                for (const QByteArray& binario : binarios) {
                    if (socket->sendBinaryMessage(binario) < binario.size()) {
                        vida->anotar(QStringLiteral("[canal] no se pudo enviar el adjunto: ") +
                                     descripcionDeEnvio(*socket));
                        return;
                    }
                }
            },
            Qt::QueuedConnection);
    }
    // Sent: only the answer matters now.
    peticion->datos = {};
    peticion->binarios.reset();
}
