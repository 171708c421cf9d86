#include "zentu/voz/Llamada.h"

#include "plataforma/Buzon.h"
#include "plataforma/ConvertidorMuestras.h"
#include "plataforma/Registro.h"
#include "zentu/voz/Caracteres.h"
#include "zentu/voz/Pantalla.h"

#include <QJsonDocument>
#include <QNetworkRequest>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <cmath>

namespace {

QString compacto(const QJsonValue& v) {
    if (v.isObject()) return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    if (v.isArray()) return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    if (v.isString()) return v.toString();
    if (v.isBool()) return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (v.isDouble()) return QString::number(v.toDouble());
    return QStringLiteral("null");
}

// Blanks are spaces and tabs; line breaks stay.
QString sinBlancos(const QString& s) {
    qsizetype a = 0, b = s.size();
    while (a < b && (s[a] == u' ' || s[a] == u'\t')) ++a;
    while (b > a && (s[b - 1] == u' ' || s[b - 1] == u'\t')) --b;
    return s.mid(a, b - a);
}

// What went wrong with a socket, in the network layer's own words where it has some.
QString descripcionDeCierre(const QWebSocket& s) {
    if (s.error() != QAbstractSocket::UnknownSocketError) return s.errorString();
    if (!s.closeReason().isEmpty()) return s.closeReason();
    return QStringLiteral("Socket closed (%1)").arg(static_cast<int>(s.closeCode()));
}

// Token counts go back to the service as JSON numbers: whole and no larger than a double holds
// exactly. A figure that is no such count (a text, a fraction, a negative, 1e300) counts as 0, and
// a sum stops at the largest one.
constexpr qint64 kMayorCuenta = qint64(1) << 53;

qint64 entero(const QJsonValue& v) {
    if (!v.isDouble()) return 0;
    const double d = v.toDouble();
    if (!(d >= 0 && d <= double(kMayorCuenta)) || d != std::trunc(d)) return 0;
    return static_cast<qint64>(d);
}

qint64 sumar(qint64 a, qint64 b) { return std::min(a + b, kMayorCuenta); }

constexpr qint64 maximoMensaje = 16 * 1024 * 1024;

}  // namespace

Llamada::Llamada(Cuenta cuenta, std::optional<QString> agente, std::optional<qint64> consulta, Reloj& reloj,
                 std::unique_ptr<AudioLlamada> audio, QObject* padre)
    : QObject(padre),
      cuenta_(std::move(cuenta)),
      reloj_(reloj),
      audio_(std::move(audio)),
      uso_(usoVacio()),
      agente_(std::move(agente)),
      consulta_(consulta),
      buzon_(new Buzon(this)) {
    capturarPantalla = [] { return Pantalla::capturar(); };
    ultimoBloque_ = reloj_.segundos();
    ultimaVoz_ = ultimoBloque_;
}

Llamada::~Llamada() {
    terminadaAudio_.store(true);
    if (audio_) audio_->detener();
}

void Llamada::registrar(const QString& linea) const { Registro::escribir(linea); }

QString Llamada::servidorRealtime() {
    const QString configurado = qEnvironmentVariable("ZENTU_REALTIME").trimmed();
    if (!configurado.isEmpty()) return configurado.endsWith(u'/') ? configurado.chopped(1) : configurado;
    return QStringLiteral("wss://api.openai.com");
}

QUrl Llamada::direccionRealtime(const QString& modelo) {
    // The model is encoded: a name with "&", "#" or spaces must not break the address.
    return QUrl(servidorRealtime() + QStringLiteral("/v1/realtime?model=") +
                    QString::fromLatin1(QUrl::toPercentEncoding(modelo)),
                QUrl::StrictMode);
}

// ---------------------------------------------------------------- start

QCoro::Task<void> Llamada::abrir() {
    // Once only, and never after a hang-up.
    if (abierta_ || terminada_) co_return;
    abierta_ = true;
    QPointer<Llamada> yo(this);
    fase(Fase::conectando);

    QString ruta = QStringLiteral("/api/v1/llamada/realtime/token");
    if (agente_ && consulta_) {
        ruta += QStringLiteral("?agente=") +
                QString::fromLatin1(QUrl::toPercentEncoding(*agente_, QByteArray(), "-._~")) +
                QStringLiteral("&consulta=") + QString::number(*consulta_);
    }

    std::shared_ptr<const FalloZentu> error;
    QJsonObject respuesta;
    try {
        respuesta = co_await API::pedir(cuenta_, ruta, QStringLiteral("GET"), std::nullopt, 20);
    } catch (const ErrorZentu& e) {
        error = std::make_shared<ErrorZentu>(e);
    } catch (const ErrorTransporte& e) {
        error = std::make_shared<ErrorTransporte>(e);
    } catch (const FalloZentu& e) {
        error = std::make_shared<ErrorTransporte>(e.descripcion());
    }
    if (!yo || terminada_) co_return;  // hung up while waiting: nothing more starts

    QString token, modelo;
    if (!error) {
        const QJsonValue t = respuesta.value("token"), m = respuesta.value("modelo");
        if (!t.isString() || !m.isString()) {
            error = std::make_shared<ErrorZentu>(ErrorZentu::servidor(QStringLiteral("Zentu no pudo preparar la llamada.")));
        } else {
            token = t.toString();
            modelo = m.toString();
            if (respuesta.value("llamadaId").isString()) llamadaId_ = respuesta.value("llamadaId").toString();
            registrar(QStringLiteral("[llamada] token listo · modelo=") + modelo + QStringLiteral(" · llamada=") +
                      llamadaId_.value_or(QStringLiteral("-")));
        }
    }
    if (!error) {
        if (auto fallo = arrancarAudio()) error = std::make_shared<ErrorAudio>(*fallo);
    }
    QUrl direccion;
    if (!error) {
        direccion = direccionRealtime(modelo);
        if (!direccion.isValid() || (direccion.scheme() != u"wss" && direccion.scheme() != u"ws")) {
            error = std::make_shared<ErrorTransporte>(QStringLiteral("La dirección de la voz no es válida."));
        }
    }
    if (error) {
        registrar(QStringLiteral("[llamada] no se pudo abrir: ") + error->descripcion());
        co_await cerrar(error);
        co_return;
    }

    QNetworkRequest peticion(direccion);
    peticion.setRawHeader("Authorization", "Bearer " + token.toUtf8());
    auto* socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket->setMaxAllowedIncomingMessageSize(maximoMensaje);
    ws_ = socket;
    escuchar();
    socket->open(peticion);
    // The request's time-out: a handshake that hangs ends like a failed one.
    esperaSocket_ = reloj_.programar(60, this, [this, socket] {
        if (ws_ == socket && socket->state() != QAbstractSocket::ConnectedState) {
            alPerderCanal(QStringLiteral("La conexión con la voz no respondió a tiempo."));
        }
    });
}

void Llamada::escuchar() {
    QWebSocket* socket = ws_;
    if (!socket) return;
    connect(socket, &QWebSocket::connected, this, [this] { esperaSocket_.cancelar(); });
    connect(socket, &QWebSocket::textMessageReceived, this, [this, socket](const QString& texto) {
        if (socket != ws_) return;
        QJsonParseError e;
        const QJsonDocument doc = QJsonDocument::fromJson(texto.toUtf8(), &e);
        if (e.error == QJsonParseError::NoError && doc.isObject()) recibir(doc.object());
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        if (socket == ws_) alPerderCanal(descripcionDeCierre(*socket));
    });
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, [this, socket] {
        if (socket == ws_) alPerderCanal(socket->errorString());
    });
}

void Llamada::alPerderCanal(const QString& descripcion) {
    if (terminada_) return;
    registrar(QStringLiteral("[llamada] se cerró el canal: ") + descripcion);
    std::shared_ptr<const FalloZentu> error;
    if (!inicio_) {
        error = std::make_shared<ErrorZentu>(ErrorZentu::servidor(QStringLiteral("No se pudo conectar con la voz de Zentu.")));
    }
    terminarCon(error);
}

void Llamada::terminarCon(std::shared_ptr<const FalloZentu> error) {
    [[maybe_unused]] auto tarea = cerrar(std::move(error));  // runs on by itself
}

void Llamada::colgar() { terminarCon(nullptr); }

// ---------------------------------------------------------------- events

void Llamada::enviar(const QJsonObject& evento) {
    if (!ws_) return;
    const QString texto = QString::fromUtf8(QJsonDocument(evento).toJson(QJsonDocument::Compact));
    if (ws_->sendTextMessage(texto) <= 0 && !texto.isEmpty()) {
        registrar(QStringLiteral("[llamada] no se pudo enviar: ") +
                  (ws_->error() != QAbstractSocket::UnknownSocketError ? ws_->errorString()
                                                                       : QStringLiteral("el canal no está abierto")));
    }
}

void Llamada::fase(Fase f) {
    QMetaObject::invokeMethod(
        this, [this, f] {
            if (alCambiarFase) alCambiarFase(f);
        },
        Qt::QueuedConnection);
}

void Llamada::recibir(const QJsonObject& evento) {
    if (terminada_) return;
    const QString tipo = evento.value("type").toString();
    if (tipo == u"session.created") {
        if (inicio_) return;
        inicio_ = reloj_.segundos();
        sesionIniciada_.store(true);
        registrar(QStringLiteral("[llamada] conectada"));
        ultimoBloque_ = *inicio_;
        ultimaVoz_ = *inicio_;
        programarVigilancia();
        fase(Fase::escuchando);
        anadirVerPantalla(evento.value("session").toObject());
        if (consulta_) arrancarLlamadaEntrante();
    } else if (tipo == u"conversation.item.created") {
        const QJsonObject item = evento.value("item").toObject();
        if (esperandoDisparo_ && item.value("role").toString() == u"system" && item.value("role").isString()) {
            itemDelDisparo_.reset();
            if (item.value("id").isString()) itemDelDisparo_ = item.value("id").toString();
        }
    } else if (tipo == u"input_audio_buffer.speech_started") {
        ultimaVoz_ = reloj_.segundos();
        registrar(QStringLiteral("[llamada] OpenAI oyó voz (empezó a hablar)"));
        disparo_.cancelar();
        colgadoPendiente_.cancelar();
        despidiendo_ = false;
        interrumpir();
        fase(Fase::escuchando);
    } else if (tipo == u"input_audio_buffer.speech_stopped") {
        registrar(QStringLiteral("[llamada] OpenAI: terminó de hablar"));
        fase(Fase::pensando);
    } else if (tipo == u"conversation.item.input_audio_transcription.completed") {
        const QString texto = evento.value("transcript").toString();
        const QString limpio = sinBlancos(texto);
        if (!limpio.isEmpty()) {
            registrar(QStringLiteral("[llamada] OpenAI transcribió lo tuyo (%1 caracteres)").arg(Caracteres::contar(limpio)));
            turnos_.append(QJsonObject{{"de", "tu"}, {"texto", texto}});
        }
    } else if (tipo == u"response.created") {
        ultimaVoz_ = reloj_.segundos();
        disparo_.cancelar();
        respuestaTerminada_ = false;
        fase(Fase::pensando);
    } else if (tipo == u"response.output_audio.delta") {
        const QJsonValue delta = evento.value("delta");
        if (!delta.isString()) return;
        const auto bytes = QByteArray::fromBase64Encoding(delta.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!bytes) return;
        std::optional<QString> item;
        if (evento.value("item_id").isString()) item = evento.value("item_id").toString();
        sonar(*bytes, item);
    } else if (tipo == u"response.output_audio_transcript.done") {
        const QString texto = evento.value("transcript").toString();
        if (!texto.isEmpty()) {
            turnos_.append(QJsonObject{{"de", "agente"}, {"texto", texto}});
            if (despidiendo_) programarColgado(esperaDespedida(texto));
        }
    } else if (tipo == u"response.done") {
        respuestaTerminada_ = true;
        if (itemDelDisparo_) {
            enviar(QJsonObject{{"type", "conversation.item.delete"}, {"item_id", *itemDelDisparo_}});
            itemDelDisparo_.reset();
            esperandoDisparo_ = false;
        }
        const QJsonValue usoEvento = evento.value("response").toObject().value("usage");
        if (usoEvento.isObject()) sumarUso(uso_, usoEvento.toObject());
        if (buffersPendientes_ == 0 && hablando_.load()) {
            hablando_.store(false);
            fase(Fase::escuchando);
        }
    } else if (tipo == u"response.function_call_arguments.done") {
        const QJsonValue a = evento.value("arguments");
        herramienta(evento.value("name").toString(), a.isString() ? a.toString() : QStringLiteral("{}"),
                    evento.value("call_id").toString());
    } else if (tipo == u"error") {
        registrar(QStringLiteral("[llamada] error de OpenAI: ") +
                  (evento.contains("error") ? compacto(evento.value("error")) : compacto(evento)));
    }
}

// ---------------------------------------------------------------- end

QCoro::Task<void> Llamada::cerrar(std::shared_ptr<const FalloZentu> error) {
    if (terminada_) co_return;
    terminada_ = true;
    terminadaAudio_.store(true);
    guardian_.cancelar();
    disparo_.cancelar();
    colgadoPendiente_.cancelar();
    esperaSocket_.cancelar();
    if (QWebSocket* socket = ws_) {
        ws_ = nullptr;
        QObject::disconnect(socket, nullptr, this, nullptr);
        if (socket->state() == QAbstractSocket::UnconnectedState) {
            socket->deleteLater();
        } else {
            connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
            QTimer::singleShot(10000, socket, &QObject::deleteLater);
            socket->close(QWebSocketProtocol::CloseCodeNormal);
        }
    }
    if (audio_) audio_->detener();
    const qint64 segundos = inicio_ ? static_cast<qint64>(reloj_.segundos() - *inicio_) : 0;

    QPointer<Llamada> yo(this);
    if (llamadaId_) {
        QJsonObject r;
        QJsonObject cuerpoUso;
        cuerpoUso.insert(QStringLiteral("llamadaId"), *llamadaId_);
        cuerpoUso.insert(QStringLiteral("segundos"), segundos);
        cuerpoUso.insert(QStringLiteral("uso"), uso_);
        try {
            r = co_await API::pedir(cuenta_, QStringLiteral("/api/v1/llamada/realtime/uso"), QStringLiteral("POST"),
                                    cuerpoUso, 20);
        } catch (const FalloZentu&) {
            r = QJsonObject();
        }
        if (!yo) co_return;
        registrar(QStringLiteral("[llamada] uso → ") + compacto(r));
        if (!turnos_.isEmpty()) {
            QJsonObject f;
            QJsonObject cuerpoFin;
            cuerpoFin.insert(QStringLiteral("llamadaId"), *llamadaId_);
            cuerpoFin.insert(QStringLiteral("agente"), agente_ ? QJsonValue(*agente_) : QJsonValue(QJsonValue::Null));
            cuerpoFin.insert(QStringLiteral("segundos"), segundos);
            cuerpoFin.insert(QStringLiteral("turnos"), turnos_);
            try {
                f = co_await API::pedir(cuenta_, QStringLiteral("/api/v1/llamada/fin"), QStringLiteral("POST"), cuerpoFin, 20);
            } catch (const FalloZentu&) {
                f = QJsonObject();
            }
            if (!yo) co_return;
            registrar(QStringLiteral("[llamada] fin → ") + compacto(f));
        }
    }
    if (alTerminar) alTerminar(error);
}

// ---------------------------------------------------------------- guardian, hang-up, usage

void Llamada::programarVigilancia() {
    guardian_ = reloj_.programar(5, this, [this] {
        if (terminada_) return;
        programarVigilancia();
        vigilar();
    });
}

void Llamada::vigilar() {
    if (terminada_ || !inicio_) return;
    const double ahora = reloj_.segundos();
    QString texto;
    if (ahora - ultimoBloque_ > 10) {
        texto = QStringLiteral("El micrófono dejó de mandar audio: colgué la llamada.");
    } else if (!hablando_.load() && ahora - ultimaVoz_ > 120) {
        texto = QStringLiteral("Nadie habló en 2 minutos: colgué la llamada.");
    } else if (ahora - *inicio_ > 7200) {
        texto = QStringLiteral("La llamada llegó al tope de 2 horas: la colgué.");
    } else {
        return;
    }
    registrar(QStringLiteral("[llamada] guardián: ") + texto);
    terminarCon(std::make_shared<ErrorZentu>(ErrorZentu::servidor(texto)));
}

void Llamada::programarColgado(double segundos) {
    colgadoPendiente_.cancelar();
    colgadoPendiente_ = reloj_.programar(segundos, this, [this] { terminarCon(nullptr); });
}

double Llamada::esperaDespedida(const QString& transcripcion) {
    const auto palabras = transcripcion.split(u' ', Qt::SkipEmptyParts).size();
    return std::max(0.4 * static_cast<double>(palabras) + 3.0, 3.0);
}

QJsonObject Llamada::usoVacio() {
    return QJsonObject{
        {"input_tokens", 0},
        {"output_tokens", 0},
        {"input_token_details", QJsonObject{{"text_tokens", 0}, {"audio_tokens", 0}, {"cached_tokens", 0}}},
        {"output_token_details", QJsonObject{{"text_tokens", 0}, {"audio_tokens", 0}}},
    };
}

void Llamada::sumarUso(QJsonObject& uso, const QJsonObject& evento) {
    for (const QString& clave : {QStringLiteral("input_tokens"), QStringLiteral("output_tokens")}) {
        uso[clave] = sumar(entero(uso.value(clave)), entero(evento.value(clave)));
    }
    for (const QString& clave : {QStringLiteral("input_token_details"), QStringLiteral("output_token_details")}) {
        QJsonObject propio = uso.value(clave).toObject();
        const QJsonObject suyo = evento.value(clave).toObject();
        for (auto it = propio.begin(); it != propio.end(); ++it) {
            it.value() = sumar(entero(it.value()), entero(suyo.value(it.key())));
        }
        uso[clave] = propio;
    }
}
