#include "plataforma/Equipo.h"

#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>

namespace Equipo {
namespace {

QString leerTexto(const QString& ruta) {
    QFile f(ruta);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(f.read(64 * 1024));
}

}  // namespace

std::optional<QString> valorDe(const QString& texto, const QString& clave) {
    const QStringList lineas = texto.split(QLatin1Char('\n'));
    for (const QString& cruda : lineas) {
        const QString linea = cruda.trimmed();
        if (!linea.startsWith(clave + QLatin1Char('='))) continue;
        QString valor = linea.mid(clave.size() + 1);
        if (valor.size() >= 2 && (valor.front() == QLatin1Char('"') || valor.front() == QLatin1Char('\'')) &&
            valor.back() == valor.front()) {
            valor = valor.mid(1, valor.size() - 2);
            // Shell-style escapes inside double quotes.
            valor.replace(QRegularExpression(QStringLiteral(R"(\\([\\"$`]))")), QStringLiteral("\\1"));
        }
        return valor;
    }
    return std::nullopt;
}

std::optional<QString> nombre() {
    const auto bonito = valorDe(leerTexto(QStringLiteral("/etc/machine-info")), QStringLiteral("PRETTY_HOSTNAME"));
    if (bonito && !bonito->trimmed().isEmpty()) return *bonito;
    const QString anfitrion = QSysInfo::machineHostName();
    if (!anfitrion.trimmed().isEmpty()) return anfitrion;
    return std::nullopt;
}

QString sistemaDe(const QString& osRelease) {
    QString nombreSo = valorDe(osRelease, QStringLiteral("NAME")).value_or(QString()).trimmed();
    // "Debian GNU/Linux" and "Fedora Linux" say what every such system is; people call them
    // "Debian" and "Fedora".
    for (const QString& cola : {QStringLiteral(" GNU/Linux"), QStringLiteral(" Linux")}) {
        if (nombreSo.endsWith(cola) && nombreSo.size() > cola.size()) {
            nombreSo.chop(cola.size());
            break;
        }
    }
    if (nombreSo.isEmpty()) nombreSo = QStringLiteral("Linux");
    const QString version = valorDe(osRelease, QStringLiteral("VERSION_ID")).value_or(QString()).trimmed();
    return version.isEmpty() ? nombreSo : nombreSo + QLatin1Char(' ') + version;
}

QString sistema() {
    QString texto = leerTexto(QStringLiteral("/etc/os-release"));
    if (texto.isEmpty()) texto = leerTexto(QStringLiteral("/usr/lib/os-release"));
    return sistemaDe(texto);
}

}  // namespace Equipo
