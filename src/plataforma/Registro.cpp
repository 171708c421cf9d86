#include "plataforma/Registro.h"

#include <QMutex>
#include <QMutexLocker>
#include <cstdio>
#include <syslog.h>

namespace Registro {
namespace {
QMutex& cerrojo() {
    static QMutex m;
    return m;
}
std::function<void(const QString&)>& observadorActual() {
    static std::function<void(const QString&)> f;
    return f;
}

// Control characters and line or paragraph separators become visible escapes, so that whatever
// text a line carries (a peer's message, a file name) it stays one line and forges no other.
QString unaLinea(const QString& texto) {
    QString salida;
    salida.reserve(texto.size());
    for (const QChar c : texto) {
        const auto categoria = c.category();
        if (categoria != QChar::Other_Control && categoria != QChar::Separator_Line &&
            categoria != QChar::Separator_Paragraph) {
            salida += c;
        } else if (c == QLatin1Char('\n')) {
            salida += QLatin1String("\\n");
        } else if (c == QLatin1Char('\r')) {
            salida += QLatin1String("\\r");
        } else if (c == QLatin1Char('\t')) {
            salida += QLatin1String("\\t");
        } else if (c.unicode() < 0x100) {
            salida += QLatin1String("\\x") + QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
        } else {
            salida += QLatin1String("\\u") + QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
        }
    }
    return salida;
}
// A cut never splits a character written as two UTF-16 units.
qsizetype sinPartir(const QString& t, qsizetype i) {
    return i > 0 && i < t.size() && t.at(i).isLowSurrogate() ? i - 1 : i;
}
}  // namespace

QString preparar(const QString& texto) {
    if (texto.size() <= kLargoMaximo) return unaLinea(texto);
    const qsizetype cabeza = sinPartir(texto, kCabeza);
    const qsizetype cola = sinPartir(texto, texto.size() - kCola);
    return unaLinea(texto.left(cabeza)) + QStringLiteral("… [%1 caracteres omitidos] …").arg(cola - cabeza) +
           unaLinea(texto.mid(cola));
}

void escribir(const QString& texto) {
    const QString linea = preparar(texto);
    const QByteArray utf8 = linea.toUtf8();
    QMutexLocker bloqueo(&cerrojo());
    static const bool abierto = [] {
        openlog("zentu", LOG_PID, LOG_USER);
        return true;
    }();
    (void)abierto;
    std::fprintf(stderr, "%s\n", utf8.constData());
    std::fflush(stderr);
    syslog(LOG_INFO, "%s", utf8.constData());
    if (auto& f = observadorActual()) f(linea);
}

void observar(std::function<void(const QString&)> observador) {
    QMutexLocker bloqueo(&cerrojo());
    observadorActual() = std::move(observador);
}

}  // namespace Registro
