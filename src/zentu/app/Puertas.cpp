#include "zentu/app/Puertas.h"

#include "plataforma/Registro.h"

#include <QDir>
#include <QUrl>

namespace Puertas {

namespace {

// Hosts are compared exactly as written: a URL parser would fold them to lower case.
struct Partes {
    QString esquema, host, camino;
};

std::optional<Partes> partir(const QString& enlace) {
    const qsizetype dosPuntos = enlace.indexOf(QLatin1Char(':'));
    if (dosPuntos <= 0) return std::nullopt;
    Partes p;
    p.esquema = enlace.left(dosPuntos);
    QString resto = enlace.mid(dosPuntos + 1);
    const qsizetype fin = [&] {
        qsizetype i = resto.indexOf(QLatin1Char('?'));
        const qsizetype j = resto.indexOf(QLatin1Char('#'));
        if (i < 0 || (j >= 0 && j < i)) i = j;
        return i;
    }();
    if (fin >= 0) resto = resto.left(fin);
    if (resto.startsWith(QLatin1String("//"))) {
        resto = resto.mid(2);
        const qsizetype barra = resto.indexOf(QLatin1Char('/'));
        QString autoridad = barra < 0 ? resto : resto.left(barra);
        p.camino = barra < 0 ? QString() : resto.mid(barra);
        const qsizetype arroba = autoridad.lastIndexOf(QLatin1Char('@'));
        if (arroba >= 0) autoridad = autoridad.mid(arroba + 1);
        const qsizetype puerto = autoridad.lastIndexOf(QLatin1Char(':'));
        if (puerto >= 0) autoridad = autoridad.left(puerto);
        p.host = autoridad;
    } else {
        p.camino = resto;
    }
    return p;
}

std::optional<qint64> entero(const QString& texto) {
    if (texto.isEmpty()) return std::nullopt;
    int desde = (texto.front() == QLatin1Char('+') || texto.front() == QLatin1Char('-')) ? 1 : 0;
    if (desde == texto.size()) return std::nullopt;
    for (int i = desde; i < texto.size(); ++i)
        if (texto.at(i) < QLatin1Char('0') || texto.at(i) > QLatin1Char('9')) return std::nullopt;
    bool ok = false;
    const qint64 valor = texto.toLongLong(&ok);
    return ok ? std::optional<qint64>(valor) : std::nullopt;
}

QString ultimoComponente(const QString& camino) {
    QStringList partes = camino.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    return partes.isEmpty() ? QString() : QUrl::fromPercentEncoding(partes.last().toUtf8());
}

}  // namespace

std::optional<Ruta> leer(const QString& enlace) {
    const auto partes = partir(enlace);
    if (!partes || partes->esquema.compare(QLatin1String("zuzadari"), Qt::CaseInsensitive) != 0) return std::nullopt;
    Ruta r;
    r.host = partes->host;
    static const std::pair<const char*, Destino> tabla[] = {
        {"llamada", Destino::llamada},       {"chat", Destino::chat},   {"nota", Destino::nota},
        {"conversar", Destino::conversar},   {"pendientes", Destino::pendientes},
        {"duda", Destino::duda},             {"creditos", Destino::creditos},
        {"dia", Destino::dia},               {"agentes", Destino::agentes},
    };
    for (const auto& [host, destino] : tabla)
        if (r.host == QLatin1String(host)) r.destino = destino;
    if (r.destino == Destino::duda) r.id = entero(ultimoComponente(partes->camino));
    return r;
}

void abrir(const QStringList& enlaces, const Acciones& a, Origen origen) {
    if (enlaces.isEmpty()) return;
    const auto ruta = leer(enlaces.first());
    if (!ruta) return;
    if (ruta->destino == Destino::ninguno) {
        Registro::escribir(QStringLiteral("[enlace] no lleva a ninguna parte, no se hace nada: ") + enlaces.first());
        return;
    }
    switch (origen) {
    case Origen::widget:
        Registro::escribir(QStringLiteral("[enlace] abierto desde un widget: ") + ruta->host);
        break;
    case Origen::argumentos:
        Registro::escribir(QStringLiteral("[enlace] abierto: ") + ruta->host);
        break;
    case Origen::automatizacion:
        Registro::escribir(QStringLiteral("[enlace] abierto desde la automatización: ") + ruta->host);
        break;
    }
    auto llamar = [](const std::function<void()>& f) {
        if (f) f();
    };
    switch (ruta->destino) {
    case Destino::ninguno:
        break;
    case Destino::llamada:
        // A link never hangs up a call in progress.
        if (!(a.enLlamada && a.enLlamada())) llamar(a.alternarLlamada);
        break;
    case Destino::chat:
        llamar(a.abrirChat);
        break;
    case Destino::nota:
        if (a.chatVisible && a.chatVisible()) llamar(a.notaDeVoz);
        break;
    case Destino::conversar:
        if (a.chatVisible && a.chatVisible()) llamar(a.conversarDesdeElChat);
        break;
    case Destino::pendientes:
        if (a.mostrarDudas) a.mostrarDudas(std::nullopt);
        break;
    case Destino::duda:
        if (a.mostrarDudas) a.mostrarDudas(ruta->id);
        break;
    case Destino::creditos:
        llamar(a.tarjetaCreditos);
        break;
    case Destino::dia:
        llamar(a.tarjetaDia);
        break;
    case Destino::agentes:
        llamar(a.mostrarAgentes);
        break;
    }
}

QString citar(const QString& texto) {
    QStringList lineas = texto.split(QLatin1Char('\n'));
    for (QString& l : lineas) l.prepend(QStringLiteral("> "));
    return lineas.join(QLatin1Char('\n')) + QStringLiteral("\n\n");
}

void recibir(const QStringList& archivos, const QString& texto, const Recepcion& r) {
    if (!archivos.isEmpty()) {
        Registro::escribir(QStringLiteral("[servicios] archivo recibido"));
        if (r.abrirChatCon) r.abrirChatCon(std::nullopt, archivos.first());
        return;
    }
    const QString limpio = texto.trimmed();
    if (limpio.isEmpty()) return;
    // Characters as a person counts them, not UTF-16 units.
    qsizetype caracteres = 0;
    for (qsizetype i = 0; i < limpio.size(); ++i)
        if (!limpio.at(i).isLowSurrogate()) ++caracteres;
    Registro::escribir(QStringLiteral("[servicios] texto recibido: ") + QString::number(caracteres) +
                       QStringLiteral(" caracteres"));
    if (r.sonarRecibido) r.sonarRecibido();
    if (r.abrirChatCon) r.abrirChatCon(citar(limpio), std::nullopt);
}

namespace {
const QString interruptorArchivos = QStringLiteral("--enviar-a-zentu");
const QString interruptorTexto = QStringLiteral("--enviar-texto");
}  // namespace

QString absoluta(const QString& ruta, const QString& carpeta) {
    if (ruta.isEmpty()) return ruta;
    // Joined by hand: QFileInfo and QDir see a resource in a name that begins with ":".
    return QDir::cleanPath(ruta.startsWith(QLatin1Char('/')) ? ruta : carpeta + QLatin1Char('/') + ruta);
}

QStringList preparar(const QStringList& argumentos, const std::function<QString()>& leerEntrada,
                     const QString& carpeta) {
    const QString desde = carpeta.isEmpty() ? QDir::currentPath() : carpeta;
    QStringList r;
    bool archivos = false;
    for (qsizetype i = 0; i < argumentos.size(); ++i) {
        const QString& a = argumentos.at(i);
        if (a == interruptorArchivos) {
            archivos = true;
            r << a;
        } else if (a == interruptorTexto) {
            archivos = false;
            r << a << (leerEntrada ? leerEntrada() : QString());
        } else if (archivos && !a.startsWith(QLatin1String("--"))) {
            // The running program has another working folder.
            r << (a.startsWith(QLatin1String("file://")) ? QUrl(a).toLocalFile() : absoluta(a, desde));
        } else {
            archivos = false;
            r << a;
        }
    }
    return r;
}

std::optional<Envio> envio(const QStringList& argumentos) {
    Envio e;
    bool hay = false;
    const qsizetype i = argumentos.indexOf(interruptorArchivos);
    if (i >= 0) {
        hay = true;
        for (qsizetype j = i + 1; j < argumentos.size() && !argumentos.at(j).startsWith(QLatin1String("--")); ++j)
            e.archivos << argumentos.at(j);
    }
    const qsizetype t = argumentos.indexOf(interruptorTexto);
    if (t >= 0 && t + 1 < argumentos.size()) {
        hay = true;
        e.texto = argumentos.at(t + 1);
    }
    if (!hay) return std::nullopt;
    return e;
}

}  // namespace Puertas
