#include "comun/RealtimeSimulado.h"

#include "comun/Ayudas.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

bool RealtimeSimulado::arrancar() {
    detener();
    proceso_ = std::make_unique<QProcess>();
    proceso_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    proceso_->start(QStringLiteral("node"), {QStringLiteral(ZENTU_DIR_SERVICIO "/realtime.js")});
    if (!proceso_->waitForStarted(5000)) return false;
    QByteArray salida;
    const bool listo = pruebas::esperarHasta(
        [&] {
            salida += proceso_->readAllStandardOutput();
            return salida.contains('\n') || proceso_->state() != QProcess::Running;
        },
        15000);
    if (!listo || !salida.startsWith("puerto ")) return false;
    puerto_ = salida.mid(7).trimmed().toInt();
    return puerto_ > 0;
}

void RealtimeSimulado::detener() {
    if (!proceso_) return;
    if (proceso_->state() == QProcess::Running) {
        proceso_->terminate();
        if (!proceso_->waitForFinished(5000)) {
            proceso_->kill();
            proceso_->waitForFinished(2000);
        }
    }
    proceso_.reset();
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
