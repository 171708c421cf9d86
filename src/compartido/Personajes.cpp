#include "compartido/Personajes.h"

#include <QFile>
#include <QHash>
#include <QSet>

namespace Personajes {
namespace {

const QSet<QString>& categorias() {
    static const QSet<QString> c = {
        QStringLiteral("atencion"), QStringLiteral("ventas"),    QStringLiteral("soporte"),
        QStringLiteral("finanzas"), QStringLiteral("cobros"),    QStringLiteral("operacion"),
        QStringLiteral("creativo"), QStringLiteral("asistente"), QStringLiteral("general"),
    };
    return c;
}

QHash<QString, QImage>& cache() {
    static QHash<QString, QImage> c;
    return c;
}

}  // namespace

int tono(qint64 id) {
    // Unsigned arithmetic wraps instead of overflowing, so a huge id from the service still gets
    // a shade; for every id that does not overflow the result is the same.
    const quint64 v = quint64(id) * 9301u + 49297u;
    const QByteArray texto = QByteArray::number(qint64(v));
    quint32 hash = 0x811C9DC5u;
    for (const char c : texto) {
        hash ^= quint8(c);
        hash *= 0x01000193u;
    }
    return int(hash & 3u);
}

QString nombre(const Instantanea::Agente& agente) {
    QString base;
    if (agente.nombre.toLower() == QLatin1String("zentu")) {
        base = QStringLiteral("direccion-0");
    } else {
        const QString familia = categorias().contains(agente.categoria) ? agente.categoria : QStringLiteral("general");
        base = familia + QLatin1Char('-') + QString::number(tono(agente.id));
    }
    return QStringLiteral("pj-") + base + (agente.activo ? QString() : QStringLiteral("-pausa"));
}

std::optional<QImage> imagenDe(const QString& nombre) {
    auto& c = cache();
    if (const auto it = c.constFind(nombre); it != c.constEnd()) return *it;
    const QString ruta = QStringLiteral(":/personajes/") + nombre + QStringLiteral(".png");
    if (!QFile::exists(ruta)) return std::nullopt;
    QImage img(ruta, "PNG");
    if (img.isNull()) return std::nullopt;  // not remembered: the next call looks again
    c.insert(nombre, img);
    return img;
}

std::optional<QImage> imagen(const Instantanea::Agente& agente) { return imagenDe(nombre(agente)); }

int enCache() { return int(cache().size()); }

}  // namespace Personajes
