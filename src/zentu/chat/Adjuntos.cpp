#include "zentu/chat/Adjuntos.h"

#include "plataforma/Escritorio.h"
#include "plataforma/Registro.h"
#include "zentu/chat/TipoArchivo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSaveFile>
#include <QStandardPaths>
#include <memory>

namespace Adjuntos {
namespace {

QNetworkAccessManager& red() {
    static auto* nam = new QNetworkAccessManager(QCoreApplication::instance());
    return *nam;
}

// Leaves room in a 255-byte file name for the temporary suffix of the atomic write.
constexpr int kMaximoBytes = 200;

}  // namespace

QString carpeta() {
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty()) return {};
    const QString ruta = cache + QStringLiteral("/zentu-adjuntos");
    const QFileInfo info(ruta);
    if (info.isSymLink() || (info.exists() && !info.isDir())) return {};
    if (!info.exists() && !QDir().mkpath(ruta)) return {};
    if (!QFile::setPermissions(ruta, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner))
        return {};
    return ruta;
}

QString nombreSeguro(const QString& nombre) {
    QString n;
    n.reserve(nombre.size());
    for (const QChar c : nombre) {
        if (c == QLatin1Char('/'))
            n += QLatin1Char('-');
        else if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
            n += c;
    }
    if (n.trimmed().isEmpty() || n == QLatin1String(".") || n == QLatin1String("..")) return QStringLiteral("Archivo");
    if (n.toUtf8().size() <= kMaximoBytes) return n;
    // Shortened in the middle of the stem, the extension kept.
    const QString ext = TipoArchivo::extension(n);
    const QString cola = ext.isEmpty() || ext.toUtf8().size() > 20 ? QString() : QLatin1Char('.') + ext;
    QString raiz = n.left(n.size() - cola.size());
    while (!raiz.isEmpty() && (raiz + cola).toUtf8().size() > kMaximoBytes) {
        raiz.chop(1);
        if (!raiz.isEmpty() && raiz.back().isHighSurrogate()) raiz.chop(1);
    }
    return raiz + cola;
}

QString nombreArchivo(const QString& nombre, const QString& tipoMime) {
    QString n = nombreSeguro(nombre);
    const QString tipo = tipoMime.section(QLatin1Char(';'), 0, 0).trimmed().toLower();
    if (!TipoArchivo::extension(n).isEmpty() || tipo.isEmpty() || tipo == QLatin1String("application/octet-stream"))
        return n;
    const QMimeType mime = QMimeDatabase().mimeTypeForName(tipo);
    if (!mime.isValid() || mime.preferredSuffix().isEmpty()) return n;
    const QString conExtension = n + QLatin1Char('.') + mime.preferredSuffix();
    return conExtension.toUtf8().size() <= kMaximoBytes ? conExtension : n;
}

bool esEjecutable(const QString& ruta) {
    static const char* const tipos[] = {
        "application/x-desktop",       "application/x-shellscript",      "application/x-executable",
        "application/x-sharedlib",     "application/x-pie-executable",   "application/x-ms-dos-executable",
        "application/x-msdownload",    "application/vnd.appimage",       "application/x-perl",
        "text/x-python",               "text/x-python3",                 "application/x-ruby",
        "application/x-java-archive",  "application/x-csh",              "application/x-desktop-entry",
        "application/x-executable-script",
    };
    const QMimeDatabase db;
    for (const QMimeType& m : {db.mimeTypeForFile(ruta), db.mimeTypeForFile(ruta, QMimeDatabase::MatchContent)}) {
        for (const char* t : tipos)
            if (m.inherits(QString::fromLatin1(t))) return true;
    }
    return QFileInfo(ruta).isExecutable();
}

void bajar(const QUrl& url, const QString& nombre, QObject* contexto,
           std::function<void(QString)> listo) {
    QPointer<QObject> vivo(contexto);
    const auto terminar = [vivo, listo](const QString& ruta) {
        if (vivo && listo) listo(ruta);
    };
    if (!url.isValid()) {
        Registro::escribir(QStringLiteral("[chat] no se pudo bajar el adjunto"));
        terminar(QString());
        return;
    }
    QNetworkRequest pedido(url);
    pedido.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* r = red().get(pedido);
    // The body goes straight to a temporary file beside its final name and replaces that name
    // only once complete.
    auto archivo = std::make_shared<std::unique_ptr<QSaveFile>>();
    auto fallida = std::make_shared<bool>(false);
    auto escrito = std::make_shared<qint64>(0);
    const auto estado = [r] { return r->attribute(QNetworkRequest::HttpStatusCodeAttribute); };
    const auto abrirArchivo = [r, nombre, archivo, fallida] {
        if (*archivo || *fallida) return;
        const QString dir = carpeta();
        if (dir.isEmpty()) {
            *fallida = true;
            return;
        }
        const QString tipo = r->header(QNetworkRequest::ContentTypeHeader).toString();
        auto f = std::make_unique<QSaveFile>(dir + QLatin1Char('/') + nombreArchivo(nombre, tipo));
        if (!f->open(QIODevice::WriteOnly)) {
            *fallida = true;
            return;
        }
        *archivo = std::move(f);
    };
    QObject::connect(r, &QNetworkReply::readyRead, r, [r, estado, abrirArchivo, archivo, fallida, escrito] {
        const QByteArray trozo = r->readAll();
        if (estado().toInt() != 200) return;
        abrirArchivo();
        if (!*archivo) return;
        if ((*archivo)->write(trozo) != trozo.size()) *fallida = true;
        *escrito += trozo.size();
    });
    QObject::connect(r, &QNetworkReply::finished, r, [r, estado, abrirArchivo, archivo, fallida, escrito, terminar] {
        r->deleteLater();
        const QVariant codigo = estado();
        const QVariant largo = r->header(QNetworkRequest::ContentLengthHeader);
        const bool completa = r->error() == QNetworkReply::NoError && codigo.isValid() && codigo.toInt() == 200 &&
                              (!largo.isValid() || largo.toLongLong() == *escrito + r->bytesAvailable());
        if (!completa) {
            if (*archivo) (*archivo)->cancelWriting();
            archivo->reset();
            Registro::escribir(QStringLiteral("[chat] no se pudo bajar el adjunto"));
            terminar(QString());
            return;
        }
        const QByteArray resto = r->readAll();
        abrirArchivo();
        if (*archivo && !resto.isEmpty() && (*archivo)->write(resto) != resto.size()) *fallida = true;
        if (*fallida || !*archivo || !(*archivo)->commit()) {
            if (*archivo) (*archivo)->cancelWriting();
            archivo->reset();
            Registro::escribir(QStringLiteral("[chat] no se pudo guardar el adjunto"));
            terminar(QString());
            return;
        }
        const QString ruta = (*archivo)->fileName();
        archivo->reset();
        terminar(ruta);
    });
}

void abrir(const ChatZentu::Adjunto& adjunto) {
    bajar(adjunto.url, adjunto.nombre, QCoreApplication::instance(), [](const QString& ruta) {
        if (ruta.isEmpty()) return;
        if (esEjecutable(ruta))
            Escritorio::actual().mostrarEnCarpeta(ruta);
        else if (!Escritorio::actual().abrirArchivo(ruta))
            Registro::escribir(QStringLiteral("[chat] ninguna aplicación de este equipo abre «") +
                               QFileInfo(ruta).fileName() + QStringLiteral("»"));
    });
}

}  // namespace Adjuntos
