// Reading the service's message dictionaries and rewriting texts for display and for speech.
#include "zentu/chat/ChatZentu.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <cmath>
#include <vector>

namespace {

// Patterns are matched Unicode-aware (\w, \d, \s, \b beyond ASCII). A QRegularExpression object
// is reentrant but not thread-safe, and the rewrites may run on any thread: one copy per thread.
const QRegularExpression& patron(const char* fuente) {
    thread_local std::vector<std::pair<const char*, QRegularExpression>> cache;
    for (const auto& [f, re] : cache)
        if (f == fuente) return re;
    cache.emplace_back(fuente, QRegularExpression(QString::fromUtf8(fuente),
                                                  QRegularExpression::UseUnicodePropertiesOption));
    return cache.back().second;
}

constexpr const char* kMarcaArchivoNombre = R"(\[FILE:(?:[^\]]*/)?(?:\d+_)?([^\]/]+)\])";
constexpr const char* kPrefijoMarcaNombre = R"(^\[FILE:(?:[^\]]*/)?(?:\d+_)?)";
constexpr const char* kMarcaArchivo = R"(\[FILE:([^\]]+)\])";
constexpr const char* kMarcaCualquiera = R"(\[FILE:[^\]]*\])";
constexpr const char* kSelloSubida = R"(^\d{10,}_(\d+_)?)";
constexpr const char* kMensajeJson = R"(<\|message\|>\s*(\{[\s\S]*\})\s*$)";
constexpr const char* kPensamiento = R"(<think>[\s\S]*?</think>)";
constexpr const char* kMarcaInterior = R"(\[FILE:([^\]]*)\])";
constexpr const char* kVozArchivo = R"(\[FILE:(?:[^\]]*/)?([^\]/]+?)(?:\.[A-Za-z0-9]{1,5})?\])";
constexpr const char* kVozEnlaceMd = R"(\[([^\]]+)\]\([^)]+\))";
constexpr const char* kVozDireccion = R"(https?://\S+)";
constexpr const char* kVozMarcas = R"([*_#`>]+)";
constexpr const char* kVozVineta = R"((?m)^\s*[-•]\s+)";
constexpr const char* kFechaInternet = R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(\.\d+)?(Z|[+-]\d{2}:\d{2})$)";

// The token as a query value: only ASCII letters and digits stay as they are.
QString tokenCodificado(const QString& token) {
    return QString::fromLatin1(QUrl::toPercentEncoding(token, QByteArray(), QByteArrayLiteral("-._~")));
}

// A message id as a URL path piece: what a path may hold stays, the rest is percent-encoded.
QString idParaRuta(const QString& id) {
    return QString::fromLatin1(QUrl::toPercentEncoding(id, QByteArrayLiteral("/!$&'()*+,;=:@")));
}

std::optional<QUrl> direccion(const QString& texto) {
    const QUrl url(texto, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty()) return std::nullopt;
    return url;
}

QString base64url(const QString& texto) {
    QByteArray b = texto.toUtf8().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    b.replace('=', QByteArray());
    return QString::fromLatin1(b);
}

QString extension(const QString& nombre) {
    const qsizetype punto = nombre.lastIndexOf(u'.');
    if (punto <= 0) return {};
    return nombre.mid(punto + 1).toLower();
}

// A JSON value written out as text, the way an id of any type is shown.
std::optional<QString> comoTexto(const QJsonValue& v) {
    switch (v.type()) {
    case QJsonValue::String:
        return v.toString();
    case QJsonValue::Double: {
        const double d = v.toDouble();
        if (std::isfinite(d) && d == std::floor(d) && std::fabs(d) < 9.0e15)
            return QString::number(static_cast<qint64>(d));
        return QString::number(d, 'g', 17);
    }
    case QJsonValue::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    default:
        return std::nullopt;
    }
}

std::optional<QDateTime> leerFecha(const QString& texto) {
    if (!patron(kFechaInternet).match(texto).hasMatch()) return std::nullopt;
    const QDateTime f = QDateTime::fromString(texto, Qt::ISODateWithMs);
    if (!f.isValid()) return std::nullopt;
    return f.toUTC();
}

QString cadena(const QJsonObject& o, const char* clave) {
    const QJsonValue v = o.value(QLatin1String(clave));
    return v.isString() ? v.toString() : QString();
}

// Spaces and line breaks off both ends.
QString recortar(const QString& t) { return t.trimmed(); }

}  // namespace

std::optional<ChatZentu::Mensaje> ChatZentu::leer(const QJsonObject& dic, const Cuenta& cuenta, const QDateTime& ahora) {
    const QString crudo = cadena(dic, "text");
    const QString tipo = dic.value(QLatin1String("type")).isString() ? dic.value(QLatin1String("type")).toString()
                                                                      : QStringLiteral("text");
    const QJsonValue vMessageId = dic.value(QLatin1String("messageId"));
    const QString marcaTiempo = cadena(dic, "timestamp");
    const bool deZentu = dic.value(QLatin1String("fromMe")).isBool() && dic.value(QLatin1String("fromMe")).toBool();
    const QString remitente = cadena(dic, "sender");

    // An empty id names nothing: every such message would count as a duplicate of the first.
    const bool conMessageId = vMessageId.isString() && !vMessageId.toString().isEmpty();
    const std::optional<QString> otroId = comoTexto(dic.value(QLatin1String("id")));
    QString id;
    if (conMessageId) {
        id = vMessageId.toString();
    } else if (otroId && !otroId->isEmpty()) {
        id = *otroId;
    } else {
        // Stable across reads, so the same message is always recognised as itself.
        const QString fuente = marcaTiempo + QChar(0x1f) + (deZentu ? u'1' : u'0') + QChar(0x1f) +
                               (deZentu ? remitente : QString()) + QChar(0x1f) + crudo;
        id = QStringLiteral("sin-id-") +
             QString::fromLatin1(QCryptographicHash::hash(fuente.toUtf8(), QCryptographicHash::Sha1).toHex().left(24));
    }

    const QString token = tokenCodificado(cuenta.token);
    std::optional<Adjunto> adjunto;

    const bool esMedia = tipo == u"image" || tipo == u"document" || tipo == u"audio" || tipo == u"video";
    if (esMedia) {
        const QString mediaUrl = cadena(dic, "mediaUrl");
        std::optional<QString> dir;
        if (!mediaUrl.isEmpty())
            dir = mediaUrl.startsWith(u"http") ? mediaUrl : cuenta.url + mediaUrl;
        else if (conMessageId)
            dir = cuenta.url + QStringLiteral("/api/media/") + idParaRuta(vMessageId.toString()) +
                  QStringLiteral("?token=") + token;

        QString nombre = cadena(dic, "fileName");
        if (nombre.isEmpty()) {
            const auto m = patron(kMarcaArchivoNombre).match(crudo);
            if (m.hasMatch()) {
                nombre = m.captured(0);
                nombre.remove(patron(kPrefijoMarcaNombre));
                nombre.remove(u']');
                nombre.replace(u'_', u' ');
            }
        }
        if (dir) {
            if (auto url = direccion(*dir)) {
                if (nombre.isEmpty())
                    nombre = tipo == u"image"   ? QStringLiteral("Imagen")
                             : tipo == u"audio" ? QStringLiteral("Audio")
                                                : QStringLiteral("Archivo");
                adjunto = Adjunto{*url, nombre, tipo == u"image", tipo == u"audio"};
            }
        }
    }

    if (!adjunto) {
        const auto m = patron(kMarcaArchivo).match(crudo);
        if (m.hasMatch()) {
            const QString marca = m.captured(0);
            QString ruta = marca.mid(6, marca.size() - 7);
            // Only spaces and tabs are trimmed from the path.
            qsizetype ini = 0, fin = ruta.size();
            while (ini < fin && (ruta[ini] == u' ' || ruta[ini] == u'\t')) ++ini;
            while (fin > ini && (ruta[fin - 1] == u' ' || ruta[fin - 1] == u'\t')) --fin;
            ruta = ruta.mid(ini, fin - ini);
            ruta.remove(QStringLiteral("/app/my_workspace/"));

            QString nombre = ruta;
            const QStringList partes = ruta.split(u'/', Qt::SkipEmptyParts);
            if (!partes.isEmpty()) nombre = partes.last();
            if (ruta.startsWith(u"uploads/")) nombre.remove(patron(kSelloSubida));

            const QString dir = cuenta.url + QStringLiteral("/api/files/view/") + base64url(ruta) +
                                QStringLiteral("?token=") + token;
            if (auto url = direccion(dir)) {
                const QString ext = extension(nombre);
                static const QStringList imagenes{"png", "jpg", "jpeg", "gif", "webp", "heic"};
                static const QStringList audios{"mp3", "m4a", "ogg", "opus", "wav"};
                adjunto = Adjunto{*url, nombre.isEmpty() ? QStringLiteral("Archivo") : nombre,
                                  imagenes.contains(ext), audios.contains(ext)};
            }
        }
    }

    QString texto = crudo;
    if (adjunto) texto.remove(patron(kMarcaCualquiera));
    texto = limpiar(texto);
    if (texto.isEmpty() && !adjunto) return std::nullopt;

    Mensaje m;
    m.id = id;
    m.deZentu = deZentu;
    m.texto = texto;
    m.fecha = leerFecha(marcaTiempo).value_or(ahora);
    m.adjunto = adjunto;
    if (deZentu) m.autor = QString(remitente).replace(u'_', u' ');
    return m;
}

std::optional<ChatZentu::Mensaje> ChatZentu::leer(const QJsonObject& dic) const {
    static const Cuenta sinCuenta;
    return leer(dic, canal_ ? canal_->cuenta() : sinCuenta, reloj_.ahora());
}

QString ChatZentu::limpiar(const QString& entrada) {
    QString t = entrada;
    const auto m = patron(kMensajeJson).match(t);
    if (m.hasMatch()) {
        QString parte = m.captured(0);
        parte.remove(QStringLiteral("<|message|>"));
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(parte.toUtf8(), &error);
        if (error.error == QJsonParseError::NoError && doc.isObject()) {
            const QJsonValue v = doc.object().value(QLatin1String("text"));
            if (v.isString()) t = v.toString();
        }
    }
    t.remove(patron(kPensamiento));
    t.replace(patron(kMarcaInterior), QStringLiteral("Archivo: \\1"));
    return recortar(t);
}

namespace {

// A hyphen or underscore between guillemets, at most 80 characters from either mark, becomes a
// space. Characters are user-perceived characters; the marks bound the search, a closing mark
// before the opening one (or an opening after the closing one) does not.
QString guionesEntreComillas(const QString& t) {
    if (!t.contains(u'«') || !t.contains(u'»')) return t;
    // Start offset of every user-perceived character.
    std::vector<qsizetype> inicios;
    QTextBoundaryFinder limites(QTextBoundaryFinder::Grapheme, t);
    for (qsizetype p = 0; p >= 0 && p < t.size(); p = limites.toNextBoundary()) inicios.push_back(p);
    const qsizetype n = static_cast<qsizetype>(inicios.size());
    auto primero = [&](qsizetype k) { return t.at(inicios[k]); };

    QString r = t;
    for (qsizetype k = 0; k < n; ++k) {
        const QChar c = primero(k);
        if (c != u'-' && c != u'_') continue;
        bool detras = false;
        for (qsizetype j = k - 1; j >= 0 && j >= k - 81; --j) {
            if (primero(j) == u'»') break;
            if (primero(j) == u'«') {
                detras = true;
                break;
            }
        }
        if (!detras) continue;
        bool delante = false;
        for (qsizetype j = k + 1; j < n && j <= k + 81; ++j) {
            if (primero(j) == u'»') {
                delante = true;
                break;
            }
        }
        if (delante) r[inicios[k]] = u' ';
    }
    return r;
}

}  // namespace

QString ChatZentu::paraVoz(const QString& entrada) {
    QString t = entrada;
    t.replace(patron(kVozArchivo), QStringLiteral("«\\1»"));
    t = guionesEntreComillas(t);
    t.replace(patron(kVozEnlaceMd), QStringLiteral("\\1"));
    t.replace(patron(kVozDireccion), QStringLiteral("el enlace"));
    t.remove(patron(kVozMarcas));
    t.remove(patron(kVozVineta));
    return recortar(t);
}

QString ChatZentu::tipoMime(const QString& nombreArchivo) {
    static const QString octetos = QStringLiteral("application/octet-stream");
    const QString ext = extension(nombreArchivo);
    if (ext.isEmpty()) return octetos;
    const QMimeDatabase db;
    const QMimeType tipo = db.mimeTypeForFile(QStringLiteral("x.") + ext, QMimeDatabase::MatchExtension);
    if (!tipo.isValid() || tipo.isDefault()) return octetos;
    return tipo.name();
}
