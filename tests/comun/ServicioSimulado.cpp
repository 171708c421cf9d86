#include "comun/ServicioSimulado.h"

#include "comun/Ayudas.h"
#include "comun/ProcesoNode.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>

bool ServicioSimulado::arrancar(int puerto, const QStringList& extra) {
    detener();
    proceso_ = std::make_unique<QProcess>();
    QStringList argumentos{QStringLiteral(ZENTU_DIR_SERVICIO "/servidor.js")};
    if (puerto > 0) argumentos << QStringLiteral("--puerto") << QString::number(puerto);
    argumentos << extra;
    puerto_ = pruebas::arrancarNodo(*proceso_, argumentos);
    return puerto_ > 0;
}

void ServicioSimulado::detener() {
    pruebas::pararProceso(proceso_);
}

QJsonValue ServicioSimulado::control(const QString& metodo, const QString& que, const QJsonValue& cuerpo) {
    static QNetworkAccessManager* red = new QNetworkAccessManager();
    QNetworkRequest peticion(QUrl(url() + QStringLiteral("/__control/") + que));
    peticion.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QByteArray datos;
    if (cuerpo.isObject()) datos = QJsonDocument(cuerpo.toObject()).toJson(QJsonDocument::Compact);
    if (cuerpo.isArray()) datos = QJsonDocument(cuerpo.toArray()).toJson(QJsonDocument::Compact);
    QNetworkReply* r = red->sendCustomRequest(peticion, metodo.toUtf8(), datos);
    pruebas::esperarHasta([r] { return r->isFinished(); }, 30000);
    const QByteArray respuesta = r->readAll();
    r->deleteLater();
    const QJsonDocument doc = QJsonDocument::fromJson(respuesta);
    if (doc.isObject()) return doc.object();
    if (doc.isArray()) return doc.array();
    return {};
}

void ServicioSimulado::responder(const QString& metodo, const QString& ruta, QJsonObject respuesta) {
    respuesta["metodo"] = metodo;
    respuesta["ruta"] = ruta;
    if (!respuesta.contains("veces")) respuesta["veces"] = 1;
    control("POST", "respuesta", respuesta);
}

void ServicioSimulado::responder(const QString& metodo, const QString& ruta, int estado, const QJsonValue& cuerpo) {
    responder(metodo, ruta, QJsonObject{{"estado", estado}, {"cuerpo", cuerpo}});
}

QJsonArray ServicioSimulado::peticiones() { return control("GET", "peticiones").toArray(); }
void ServicioSimulado::olvidarPeticiones() { control("DELETE", "peticiones"); }
QJsonArray ServicioSimulado::eventos() { return control("GET", "eventos").toArray(); }
void ServicioSimulado::olvidarEventos() { control("DELETE", "eventos"); }
void ServicioSimulado::registrar(std::optional<int> maximo) {
    control("POST", "registro", QJsonObject{{"maximo", maximo ? QJsonValue(*maximo) : QJsonValue()}});
}

void ServicioSimulado::aceptarToken(const QString& token) { control("POST", "token", QJsonObject{{"token", token}}); }

void ServicioSimulado::ponerArchivo(const QString& id, const QByteArray& datos) {
    control("POST", "archivo", QJsonObject{{"id", id}, {"datos", binario(datos)}});
}

void ServicioSimulado::guionAck(const QString& evento, const QJsonArray& respuesta, int retrasoMs) {
    control("POST", "ack", QJsonObject{{"evento", evento}, {"respuesta", respuesta}, {"retraso", retrasoMs}});
}

void ServicioSimulado::callarAck(const QString& evento) {
    control("POST", "ack", QJsonObject{{"evento", evento}, {"sinRespuesta", true}});
}

void ServicioSimulado::emitir(const QString& evento, const QJsonArray& args) {
    control("POST", "emitir", QJsonObject{{"evento", evento}, {"args", args}});
}

QJsonObject ServicioSimulado::pedir(const QString& evento, const QJsonArray& args, int esperaMs) {
    return control("POST", "pedir", QJsonObject{{"evento", evento}, {"args", args}, {"espera", esperaMs}}).toObject();
}

void ServicioSimulado::desconectarTodos() { control("POST", "desconectar"); }

int ServicioSimulado::conectados() { return control("GET", "sockets").toObject().value("conectados").toInt(); }

QJsonObject ServicioSimulado::binario(const QByteArray& datos) {
    return QJsonObject{{"$bin", QString::fromLatin1(datos.toBase64())}};
}

QByteArray ServicioSimulado::deBinario(const QJsonValue& valor) {
    return QByteArray::fromBase64(valor.toObject().value("$bin").toString().toLatin1());
}
