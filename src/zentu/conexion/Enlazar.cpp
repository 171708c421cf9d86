#include "zentu/conexion/Enlazar.h"

#include "plataforma/Equipo.h"
#include "plataforma/Preferencias.h"

#include <QCoroNetworkReply>
#include <QJsonDocument>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTextBoundaryFinder>
#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <cmath>

namespace API {
namespace {

const QString kClaveInstalacion = QStringLiteral("zentu.instalacion");
constexpr int kMaximoNombre = 60;

// The first `n` grapheme clusters of `texto` (what a person counts as characters: an accented
// letter or a flag is one, however many code units it takes).
QString primerosCaracteres(const QString& texto, int n) {
    QTextBoundaryFinder limites(QTextBoundaryFinder::Grapheme, texto);
    int contados = 0;
    while (contados < n) {
        if (limites.toNextBoundary() < 0) return texto;
        ++contados;
    }
    return texto.left(static_cast<int>(limites.position()));
}

}  // namespace

CodigoEnlace leerCodigo(const QString& texto) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(texto.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) throw ErrorZentu::noEsDeZentu();
    const QJsonObject o = doc.object();

    // "v" must be the number 1: neither "1" nor 1.5 nor true.
    const QJsonValue v = o.value(QStringLiteral("v"));
    if (!v.isDouble() || v.toDouble() != 1.0) throw ErrorZentu::noEsDeZentu();
    const QJsonValue url = o.value(QStringLiteral("url"));
    const QJsonValue codigo = o.value(QStringLiteral("codigo"));
    if (!url.isString() || !codigo.isString()) throw ErrorZentu::noEsDeZentu();
    CodigoEnlace leido{url.toString(), codigo.toString()};
    // Trailing "/" go first, so a url of only slashes counts as empty.
    while (leido.url.endsWith(QLatin1Char('/'))) leido.url.chop(1);
    if (leido.url.isEmpty() || leido.codigo.isEmpty()) throw ErrorZentu::noEsDeZentu();
    return leido;
}

QString instalacion() {
    // Callable from any thread; the settings object is shared.
    static QMutex cerrojo;
    QMutexLocker guardia(&cerrojo);
    QSettings& ajustes = Preferencias::almacen();
    const QString guardado = ajustes.value(kClaveInstalacion).toString();
    if (!guardado.isEmpty()) return guardado;
    const QString nuevo = QStringLiteral("mac-") + QUuid::createUuid().toString(QUuid::WithoutBraces).toLower();
    ajustes.setValue(kClaveInstalacion, nuevo);
    ajustes.sync();
    return nuevo;
}

QString nombreDeDispositivo(const std::optional<QString>& equipo, const QString& sistema) {
    const QString nombre = equipo && !equipo->isEmpty() ? *equipo : QStringLiteral("Equipo");
    return primerosCaracteres(nombre + QStringLiteral(" · ") + sistema, kMaximoNombre);
}

QString nombreDelMac() { return nombreDeDispositivo(Equipo::nombre(), Equipo::sistema()); }

QCoro::Task<Cuenta> canjear(QString url, QString codigo, double espera) {
    const QUrl direccion(url + QStringLiteral("/api/pairing/canjear"), QUrl::StrictMode);
    // Only the web's own schemes: the code and this computer's identity go nowhere else.
    const QString esquema = direccion.scheme().toLower();
    if (!direccion.isValid() || (esquema != QLatin1String("http") && esquema != QLatin1String("https")) ||
        direccion.host().isEmpty()) {
        throw ErrorZentu::servidor(QStringLiteral("La dirección de Zentu no es válida."));
    }

    const QJsonObject cuerpo{{"codigo", codigo}, {"instalacion", instalacion()}, {"dispositivo", nombreDelMac()}};
    QNetworkRequest peticion(direccion);
    const double ms = std::isfinite(espera) ? std::clamp(espera * 1000.0, 1.0, 2.0e9) : 2.0e9;
    peticion.setTransferTimeout(static_cast<int>(ms));
    peticion.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));

    QNetworkReply* respuesta = red().post(peticion, QJsonDocument(cuerpo).toJson(QJsonDocument::Compact));
    co_await respuesta;
    respuesta->deleteLater();

    const QVariant atributo = respuesta->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!atributo.isValid()) throw ErrorTransporte(respuesta->errorString());
    const int estado = atributo.toInt();

    QJsonObject datos;
    const QJsonDocument doc = QJsonDocument::fromJson(respuesta->readAll());
    if (doc.isObject()) datos = doc.object();

    const QJsonValue token = datos.value(QStringLiteral("token"));
    if (estado == 200 && token.isString()) {
        const QJsonValue correo = datos.value(QStringLiteral("propietario"));
        const QJsonValue nombre = datos.value(QStringLiteral("nombre"));
        co_return Cuenta{url, token.toString(), correo.isString() ? correo.toString() : QString(),
                         nombre.isString() ? nombre.toString() : QString()};
    }
    const QJsonValue error = datos.value(QStringLiteral("error"));
    if (error.isString()) throw ErrorZentu::servidor(error.toString());
    throw ErrorZentu::servidor(QStringLiteral("No se pudo enlazar. Genera un código nuevo en el panel."));
}

}  // namespace API
