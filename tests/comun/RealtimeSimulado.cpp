#include "comun/RealtimeSimulado.h"

#include "comun/Ayudas.h"
#include "comun/ProcesoNode.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

bool RealtimeSimulado::arrancar() {
    detener();
    proceso_ = std::make_unique<QProcess>();
    const QStringList argumentos{QStringLiteral(ZENTU_DIR_SERVICIO "/realtime.js")};
    puerto_ = pruebas::arrancarNodo(*proceso_, argumentos);
    return puerto_ > 0;
}

void RealtimeSimulado::detener() {
    pruebas::pararProceso(proceso_);
}

QJsonValue RealtimeSimulado::control(const QString& metodo, const QString& que, const QJsonValue& cuerpo) {
    static QNetworkAccessManager* red = new QNetworkAccessManager();
    QNetworkRequest peticion(QUrl(QStringLiteral("http://127.0.0.1:%1/__control/").arg(puerto_) + que));
    peticion.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    QByteArray datos;
    if (cuerpo.isObject()) datos = QJsonDocument(cuerpo.toObject()).toJson(QJsonDocument::Compact);
    QNetworkReply* r = red->sendCustomRequest(peticion, metodo.toUtf8(), datos);
    pruebas::esperarHasta([r] { return r->isFinished(); }, 30000);
    const QByteArray respuesta = r->readAll();
    r->deleteLater();
    const QJsonDocument doc = QJsonDocument::fromJson(respuesta);
    if (doc.isObject()) return doc.object();
    if (doc.isArray()) return doc.array();
    return {};
}

QJsonArray RealtimeSimulado::recibidos(const QString& tipo) {
    return control("GET", tipo.isEmpty() ? QStringLiteral("recibidos") : QStringLiteral("recibidos?tipo=") + tipo).toArray();
}

void RealtimeSimulado::cortar(int codigo) {
    control("POST", "cortar", codigo ? QJsonObject{{"codigo", codigo}} : QJsonObject{});
}
