#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QVariant>
#include <cmath>
#include <optional>

// The service's data stays untyped; these read one value with the types that count.
namespace lecturaJson {

// A JSON number that is a whole number in the 64-bit range (never a Boolean or a text).
inline std::optional<qint64> entero(const QJsonValue& v) {
    if (!v.isDouble()) return std::nullopt;
    const QVariant var = v.toVariant();
    if (var.typeId() == QMetaType::LongLong) return var.toLongLong();
    const double d = v.toDouble();
    if (!std::isfinite(d) || d != std::trunc(d) || d < -9.2e18 || d > 9.2e18) return std::nullopt;
    return static_cast<qint64>(d);
}

inline std::optional<bool> logico(const QJsonValue& v) {
    if (!v.isBool()) return std::nullopt;
    return v.toBool();
}

inline QString texto(const QJsonObject& o, const char* clave, const QString& defecto = {}) {
    const QJsonValue v = o.value(QLatin1String(clave));
    return v.isString() ? v.toString() : defecto;
}

// A list whose entries are all objects; none when it is anything else.
inline std::optional<QList<QJsonObject>> listaDeObjetos(const QJsonValue& v) {
    if (!v.isArray()) return std::nullopt;
    QList<QJsonObject> fuera;
    for (const QJsonValue& e : v.toArray()) {
        if (!e.isObject()) return std::nullopt;
        fuera << e.toObject();
    }
    return fuera;
}

}  // namespace lecturaJson
