#pragma once
// The demo of the stand-in service (tests/servicio/demo.js) as a person runs it: its console's
// lines, the pairing code it prints, its orders, and the control API of its service behind it
// (what the program sent, what the service answered).

#include "comun/Ayudas.h"
#include "comun/ProcesoNode.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <memory>

class Demo {
public:
    Demo() = default;
    ~Demo() { detener(); }
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    // Starts the demo keeping its state in `carpeta`; ports 0 pick free ones. True once it has
    // printed its pairing code.
    bool arrancar(const QString& carpeta, int puerto = 0, int puertoVoz = 0) {
        detener();
        proceso_ = std::make_unique<QProcess>();
        proceso_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        pruebas::morirConLaPrueba(*proceso_);
        proceso_->start(QStringLiteral("node"), {QStringLiteral(ZENTU_DIR_SERVICIO "/demo.js"), QStringLiteral("--puerto"),
                                                  QString::number(puerto), QStringLiteral("--puerto-voz"),
                                                  QString::number(puertoVoz), QStringLiteral("--estado"), carpeta});
        if (!proceso_->waitForStarted(5000)) return false;
        lineas_.clear();
        if (!esperarLinea(QStringLiteral("\"codigo\":"), 20000)) return false;
        const QRegularExpression enUrl(QStringLiteral("en (http://127\\.0\\.0\\.1:(\\d+))$"));
        const QRegularExpression enVoz(QStringLiteral("ZENTU_REALTIME=(ws://127\\.0\\.0\\.1:(\\d+))"));
        for (const QString& l : std::as_const(lineas_)) {
            if (const auto m = enUrl.match(l); m.hasMatch()) {
                url = m.captured(1);
                puerto_ = m.captured(2).toInt();
            }
            if (const auto m = enVoz.match(l); m.hasMatch()) {
                realtime = m.captured(1);
                puertoVoz_ = m.captured(2).toInt();
            }
            if (l.startsWith(QStringLiteral("{\"v\":1"))) codigo = l;
        }
        return puerto_ > 0 && puertoVoz_ > 0 && !codigo.isEmpty();
    }

    // Stops it as Ctrl+C does; its two servers go with it.
    void detener() {
        if (!proceso_) return;
        if (proceso_->state() == QProcess::Running) {
            proceso_->terminate();
            if (!proceso_->waitForFinished(10000)) {
                proceso_->kill();
                proceso_->waitForFinished(2000);
            }
        }
        proceso_.reset();
    }

    int puerto() const { return puerto_; }
    int puertoVoz() const { return puertoVoz_; }

    // The console's lines so far.
    const QStringList& lineas() {
        if (proceso_) {
            pendiente_ += QString::fromUtf8(proceso_->readAllStandardOutput());
            while (pendiente_.contains(QLatin1Char('\n'))) {
                const qsizetype i = pendiente_.indexOf(QLatin1Char('\n'));
                lineas_ << pendiente_.left(i);
                pendiente_.remove(0, i + 1);
            }
        }
        return lineas_;
    }
    bool esperarLinea(const QString& parte, int ms = 20000) {
        return pruebas::esperarHasta([&] { return lineas().join(QLatin1Char('\n')).contains(parte); }, ms);
    }

    // An order typed at the console.
    void orden(const QString& texto) { proceso_->write((texto + QLatin1Char('\n')).toUtf8()); }

    QJsonValue control(const QString& metodo, const QString& que, const QJsonObject& cuerpo = {}) {
        return pedir(puerto_, metodo, QStringLiteral("/__control/") + que, cuerpo);
    }
    QJsonValue controlVoz(const QString& metodo, const QString& que) { return pedir(puertoVoz_, metodo, QStringLiteral("/__control/") + que, {}); }
    QJsonArray peticiones() { return control(QStringLiteral("GET"), QStringLiteral("peticiones")).toArray(); }
    QJsonArray eventos() { return control(QStringLiteral("GET"), QStringLiteral("eventos")).toArray(); }

    // The first argument of every live-channel event of that name the program sent, in order.
    QJsonArray recibido(const QString& evento) {
        QJsonArray r;
        for (const QJsonValue& e : eventos())
            if (e[QStringLiteral("evento")].toString() == evento) r.append(e[QStringLiteral("args")][0]);
        return r;
    }
    // The REST requests the program made of that method and path (a prefix, when it ends in "*").
    QJsonArray recibidas(const QString& metodo, const QString& ruta) {
        QJsonArray r;
        const bool prefijo = ruta.endsWith(QLatin1Char('*'));
        for (const QJsonValue& p : peticiones()) {
            const QString esta = p[QStringLiteral("ruta")].toString();
            if (p[QStringLiteral("metodo")].toString() == metodo && (prefijo ? esta.startsWith(ruta.chopped(1)) : esta == ruta))
                r.append(p);
        }
        return r;
    }

    QString url, realtime, codigo;

private:
    QJsonValue pedir(int puerto, const QString& metodo, const QString& ruta, const QJsonObject& cuerpo) {
        static QNetworkAccessManager* red = new QNetworkAccessManager();
        QNetworkRequest peticion(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(puerto) + ruta));
        peticion.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        const QByteArray datos = cuerpo.isEmpty() ? QByteArray() : QJsonDocument(cuerpo).toJson(QJsonDocument::Compact);
        QNetworkReply* r = red->sendCustomRequest(peticion, metodo.toUtf8(), datos);
        pruebas::esperarHasta([r] { return r->isFinished(); }, 30000);
        const QJsonDocument doc = QJsonDocument::fromJson(r->readAll());
        r->deleteLater();
        if (doc.isObject()) return doc.object();
        if (doc.isArray()) return doc.array();
        return {};
    }

    std::unique_ptr<QProcess> proceso_;
    QStringList lineas_;
    QString pendiente_;
    int puerto_ = 0, puertoVoz_ = 0;
};
