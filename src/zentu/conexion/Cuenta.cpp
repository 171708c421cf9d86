#include "zentu/conexion/Cuenta.h"

#include "plataforma/AlmacenSecreto.h"
#include "plataforma/Registro.h"

#include <QCoroNetworkReply>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrl>
#include <cmath>
#include <limits>

// ---------------------------------------------------------------- Cuenta

QJsonObject Cuenta::aJson() const {
    return QJsonObject{{"url", url}, {"token", token}, {"correo", correo}, {"nombre", nombre}};
}

QByteArray Cuenta::codificar() const { return QJsonDocument(aJson()).toJson(QJsonDocument::Compact); }

std::optional<Cuenta> Cuenta::desdeJson(const QJsonObject& o) {
    for (const char* clave : {"url", "token", "correo", "nombre"}) {
        if (!o.value(QLatin1String(clave)).isString()) return std::nullopt;
    }
    return Cuenta{o.value("url").toString(), o.value("token").toString(), o.value("correo").toString(),
                  o.value("nombre").toString()};
}

std::optional<Cuenta> Cuenta::decodificar(const QByteArray& datos) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(datos, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return std::nullopt;
    return desdeJson(doc.object());
}

// ---------------------------------------------------------------- errors

const char* FalloZentu::what() const noexcept {
    try {
        utf8_ = descripcion().toStdString();
    } catch (...) {
        return "error";
    }
    return utf8_.c_str();
}

ErrorZentu ErrorZentu::servidor(QString mensaje) {
    ErrorZentu e(Caso::servidor);
    e.mensaje_ = std::move(mensaje);
    return e;
}

ErrorZentu ErrorZentu::consultaVieja(double horas, std::optional<QString> pista, bool fueraDeVentana) {
    ErrorZentu e(Caso::consultaVieja);
    e.horas_ = horas;
    e.pista_ = std::move(pista);
    e.fueraDeVentana_ = fueraDeVentana;
    return e;
}

namespace {
// Hours rounded half away from zero, as a plain integer. Values that fit no 64-bit integer
// (infinite, NaN, huge) are shown as "muchas" rather than a wrapped number.
QString horasEnTexto(double horas) {
    const double redondeado = std::round(horas);
    if (!std::isfinite(redondeado) || redondeado >= 9.2e18 || redondeado <= -9.2e18) {
        return QStringLiteral("muchas");
    }
    return QString::number(static_cast<qint64>(redondeado));
}
}  // namespace

QString ErrorZentu::errorDescription() const {
    switch (caso_) {
        case Caso::servidor:
            return mensaje_;
        case Caso::consultaVieja:
            return QStringLiteral("Esta duda tiene ") + horasEnTexto(horas_) +
                   QStringLiteral(" horas: ábrela en Zentu AI para elegir si se le responde al cliente o "
                                  "solo se guarda.");
        case Caso::sesionVencida:
            return QStringLiteral("Tu enlace con Zentu venció. Vuelve a escanear el código del panel.");
        case Caso::sinCreditos:
            return QStringLiteral("No te quedan créditos para hablar con Zentu.");
        case Caso::soloDueno:
            return QStringLiteral("Solo el dueño de la cuenta puede hablar con Zentu.");
        case Caso::noEsDeZentu:
            return QStringLiteral(
                "Ese código no es de Zentu AI. Usa el de Configuración → Conexiones en el panel.");
    }
    return mensaje_;
}

// ---------------------------------------------------------------- API

namespace API {

const QString& cliente() {
    static const QString texto = [] {
        const QString version = QStringLiteral(ZENTU_VERSION);
        return QStringLiteral("mac/") + (version.isEmpty() ? QStringLiteral("0") : version);
    }();
    return texto;
}

namespace {
std::function<void(const Cuenta&)>& observadorVencida() {
    static std::function<void(const Cuenta&)> observador;
    return observador;
}
}  // namespace

void observarSesionVencida(std::function<void(const Cuenta&)> observador) {
    observadorVencida() = std::move(observador);
}

QNetworkAccessManager& red() {
    static QPointer<QNetworkAccessManager> gestor;
    if (!gestor) gestor = new QNetworkAccessManager();  // lives as long as the process
    return *gestor;
}

QCoro::Task<QJsonObject> pedir(Cuenta cuenta, QString ruta, QString metodo,
                               std::optional<QJsonObject> cuerpo, double espera) {
    const QUrl direccion(cuenta.url + ruta, QUrl::StrictMode);
    if (!direccion.isValid() || direccion.scheme().isEmpty() ||
        (direccion.scheme().startsWith(QLatin1String("http")) && direccion.host().isEmpty())) {
        throw ErrorTransporte(QStringLiteral("La dirección de Zentu no es válida."));
    }

    QNetworkRequest peticion(direccion);
    const double ms = std::isfinite(espera) ? std::clamp(espera * 1000.0, 1.0, 2.0e9) : 2.0e9;
    peticion.setTransferTimeout(static_cast<int>(ms));
    peticion.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    peticion.setRawHeader("Authorization", "Bearer " + cuenta.token.toUtf8());
    peticion.setRawHeader("X-Zentu-Cliente", cliente().toUtf8());

    QNetworkReply* respuesta = nullptr;
    if (metodo == QLatin1String("GET") && !cuerpo) {
        respuesta = red().get(peticion);  // also serves non-HTTP schemes, whose status is 0
    } else if (cuerpo) {
        respuesta = red().sendCustomRequest(peticion, metodo.toUtf8(),
                                            QJsonDocument(*cuerpo).toJson(QJsonDocument::Compact));
    } else {
        respuesta = red().sendCustomRequest(peticion, metodo.toUtf8());
    }
    co_await respuesta;
    respuesta->deleteLater();

    const QVariant atributo = respuesta->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool esHttp = atributo.isValid();
    // Errors that only restate an HTTP status (4xx, 5xx) leave the decision to the status; a
    // connection that broke or timed out after the status line arrived is still a transport
    // failure, never a reply.
    const QNetworkReply::NetworkError fallo = respuesta->error();
    const bool falloDeRed =
        (fallo >= QNetworkReply::ConnectionRefusedError && fallo <= QNetworkReply::UnknownNetworkError) ||
        fallo == QNetworkReply::ProtocolFailure;
    if ((!esHttp && fallo != QNetworkReply::NoError) || (esHttp && falloDeRed)) {
        throw ErrorTransporte(respuesta->errorString());
    }
    const int estado = esHttp ? atributo.toInt() : 0;

    QJsonObject datos;
    const QJsonDocument doc = QJsonDocument::fromJson(respuesta->readAll());
    if (doc.isObject()) datos = doc.object();

    if (estado >= 200 && estado <= 299) co_return datos;
    if (estado == 401) {
        if (const auto& observador = observadorVencida()) observador(cuenta);
        throw ErrorZentu::sesionVencida();
    }
    if (estado == 402) throw ErrorZentu::sinCreditos();
    if (estado == 403) throw ErrorZentu::soloDueno();
    if (estado == 409 && datos.value("necesitaDecision").isBool() && datos.value("necesitaDecision").toBool()) {
        const QJsonValue horas = datos.value("horas");
        const QJsonValue pista = datos.value("pista");
        const QJsonValue fuera = datos.value("fueraDeVentana");
        throw ErrorZentu::consultaVieja(horas.isDouble() ? horas.toDouble() : 0,
                                        pista.isString() ? std::optional<QString>(pista.toString())
                                                         : std::nullopt,
                                        fuera.isBool() && fuera.toBool());
    }
    if (datos.value("error").isString()) throw ErrorZentu::servidor(datos.value("error").toString());
    if (datos.value("message").isString()) throw ErrorZentu::servidor(datos.value("message").toString());
    throw ErrorZentu::servidor(QStringLiteral("Zentu no respondió (") + QString::number(estado) +
                               QStringLiteral(")."));
}

}  // namespace API

// ---------------------------------------------------------------- Llavero

namespace Llavero {
namespace {
const QString kServicio = QStringLiteral("ai.zentu.voz");
const QString kCuenta = QStringLiteral("cuenta");
}  // namespace

std::optional<Cuenta> leer() {
    const auto datos = AlmacenSecreto::leer(kServicio, kCuenta);
    if (!datos) return std::nullopt;
    return Cuenta::decodificar(*datos);
}

void guardar(const Cuenta& cuenta) {
    const auto r = AlmacenSecreto::guardar(kServicio, kCuenta, cuenta.codificar(), QStringLiteral("Zentu"));
    if (r.estado != 0) {
        Registro::escribir(QStringLiteral("[llavero] no se pudo guardar la cuenta (") +
                           QString::number(r.estado) + QStringLiteral(")"));
    }
}

void borrar() { AlmacenSecreto::borrar(kServicio, kCuenta); }

}  // namespace Llavero
