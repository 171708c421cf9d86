#include "compartido/EnlaceZentu.h"

#include <QtGlobal>

namespace EnlaceZentu {
namespace {
QUrl construir(const QString& texto) {
    QUrl url(texto, QUrl::StrictMode);
    // The texts are fixed; a failure here is a programming error, never a runtime condition.
    Q_ASSERT(url.isValid());
    return url;
}
}  // namespace

const QUrl& llamada() {
    static const QUrl u = construir(QStringLiteral("zuzadari://llamada"));
    return u;
}
const QUrl& chat() {
    static const QUrl u = construir(QStringLiteral("zuzadari://chat"));
    return u;
}
const QUrl& pendientes() {
    static const QUrl u = construir(QStringLiteral("zuzadari://pendientes"));
    return u;
}
const QUrl& creditos() {
    static const QUrl u = construir(QStringLiteral("zuzadari://creditos"));
    return u;
}
const QUrl& dia() {
    static const QUrl u = construir(QStringLiteral("zuzadari://dia"));
    return u;
}
const QUrl& agentes() {
    static const QUrl u = construir(QStringLiteral("zuzadari://agentes"));
    return u;
}

QUrl duda(qint64 id) {
    return construir(QStringLiteral("zuzadari://duda/") + QString::number(id));
}

}  // namespace EnlaceZentu
