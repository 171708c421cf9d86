#include "zentu/voz/ProbarWS.h"

#include "zentu/voz/Caracteres.h"
#include "zentu/voz/Llamada.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkRequest>
#include <QTimer>
#include <QWebSocket>
#include <cstdio>

namespace {

struct Resultado {
    int estado = 0;
    bool hecho = false;
};

QString impreso(const QJsonValue& v) {
    if (v.isObject()) return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    if (v.isArray()) return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    if (v.isString()) return v.toString();
    if (v.isDouble()) return QString::number(v.toDouble());
    if (v.isBool()) return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return QStringLiteral("null");
}

// Waits for the first message of the socket, or its failure. Gives the failure's text, or the
// message (text, or an empty optional for a binary one).
struct Primero {
    std::optional<QString> fallo;
    std::optional<QString> texto;
};

Primero esperarPrimero(QWebSocket& ws, const QNetworkRequest& peticion) {
    Primero r;
    QEventLoop bucle;
    bool listo = false;
    auto terminar = [&] {
        if (listo) return;
        listo = true;
        bucle.quit();
    };
    QObject::connect(&ws, &QWebSocket::textMessageReceived, &bucle, [&](const QString& t) {
        if (!listo) r.texto = t;
        terminar();
    });
    QObject::connect(&ws, &QWebSocket::binaryMessageReceived, &bucle, [&](const QByteArray&) { terminar(); });
    QObject::connect(&ws, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), &bucle, [&] {
        if (!listo) r.fallo = ws.errorString();
        terminar();
    });
    QObject::connect(&ws, &QWebSocket::disconnected, &bucle, [&] {
        if (!listo) {
            r.fallo = ws.error() != QAbstractSocket::UnknownSocketError ? ws.errorString()
                      : !ws.closeReason().isEmpty()                    ? ws.closeReason()
                      : QStringLiteral("Socket closed (%1)").arg(static_cast<int>(ws.closeCode()));
        }
        terminar();
    });
    QTimer espera;
    espera.setSingleShot(true);
    QObject::connect(&espera, &QTimer::timeout, &bucle, [&] {
        if (!listo) r.fallo = QStringLiteral("The request timed out.");
        terminar();
    });
    espera.start(60000);
    ws.open(peticion);
    if (!listo) bucle.exec();
    QObject::disconnect(&ws, nullptr, &bucle, nullptr);
    return r;
}

// A coroutine keeps its parameters in its own frame, but a lambda's captures stay in the lambda:
// what it needs after its first suspension therefore comes in as parameters.
template <typename T>
QCoro::Task<void> completar(QCoro::Task<T> tarea, std::optional<T>* valor, std::exception_ptr* error, QEventLoop* bucle) {
    try {
        valor->emplace(co_await std::move(tarea));
    } catch (...) {
        *error = std::current_exception();
    }
    bucle->quit();
}

template <typename T>
T esperarTarea(QCoro::Task<T> tarea) {
    QEventLoop bucle;
    std::optional<T> valor;
    std::exception_ptr error;
    auto envoltura = completar<T>(std::move(tarea), &valor, &error, &bucle);
    if (!valor && !error) bucle.exec();
    if (error) std::rethrow_exception(error);
    return std::move(*valor);
}

}  // namespace

int ProbarWS::correr() {
    QString salida, errores;
    QTextStream s(&salida), e(&errores);
    const int estado = correr(Llavero::leer(), s, e);
    s.flush();
    e.flush();
    std::fputs(salida.toUtf8().constData(), stdout);
    std::fputs(errores.toUtf8().constData(), stderr);
    std::fflush(stdout);
    std::fflush(stderr);
    return estado;
}

int ProbarWS::correr(const std::optional<Cuenta>& cuenta, QTextStream& salida, QTextStream& errores) {
    if (!cuenta) {
        salida << "SIN CUENTA\n";
        return 1;
    }
    QJsonObject respuesta;
    try {
        respuesta = esperarTarea(API::pedir(*cuenta, QStringLiteral("/api/v1/llamada/realtime/token"), QStringLiteral("GET"),
                                            std::nullopt, 20));
    } catch (const FalloZentu& e) {
        salida << "FALLO " << e.descripcion() << "\n";
        return 1;
    }
    const QJsonValue token = respuesta.value("token"), modelo = respuesta.value("modelo");
    if (!token.isString() || !modelo.isString()) {
        salida << "SIN TOKEN\n";
        return 1;
    }
    const QUrl direccion = Llamada::direccionRealtime(modelo.toString());
    if (!direccion.isValid()) {
        salida << "FALLO La dirección de la voz no es válida.\n";
        return 1;
    }
    QNetworkRequest peticion(direccion);
    peticion.setRawHeader("Authorization", "Bearer " + token.toString().toUtf8());
    QWebSocket ws;
    const Primero primero = esperarPrimero(ws, peticion);
    if (primero.fallo) {
        salida << "FALLO " << *primero.fallo << "\n";
        ws.abort();
        return 1;
    }
    if (primero.texto) {
        const QJsonDocument doc = QJsonDocument::fromJson(primero.texto->toUtf8());
        if (doc.isObject()) {
            const QJsonObject evento = doc.object();
            const QString tipo = evento.value("type").isString() ? evento.value("type").toString() : QStringLiteral("?");
            const QJsonValue sesion = evento.value("session");
            QString m = QStringLiteral("-");
            QString a = QStringLiteral("-");
            if (sesion.isObject()) {
                const QJsonObject s = sesion.toObject();
                if (s.contains("model")) m = impreso(s.value("model"));
                if (s.value("audio").isObject()) a = impreso(s.value("audio"));
            }
            errores << "EVENTO " << tipo << " · modelo=" << m << " · audio=" << Caracteres::primeros(a, 300) << "\n";
            if (tipo == u"error") errores << Caracteres::primeros(*primero.texto, 400) << "\n";
        }
    }
    ws.close(QWebSocketProtocol::CloseCodeNormal);
    if (respuesta.value("llamadaId").isString()) {
        QJsonObject cuerpo;
        cuerpo.insert(QStringLiteral("llamadaId"), respuesta.value("llamadaId").toString());
        cuerpo.insert(QStringLiteral("segundos"), 0);
        cuerpo.insert(QStringLiteral("uso"), QJsonObject());
        try {
            esperarTarea(API::pedir(*cuenta, QStringLiteral("/api/v1/llamada/realtime/uso"), QStringLiteral("POST"), cuerpo, 20));
        } catch (const FalloZentu&) {
            // the report's outcome does not change the probe's
        }
    }
    return 0;
}
