#include "zentu/conexion/EnMiMac.h"

#include "plataforma/Escritorio.h"
#include "plataforma/Registro.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QStandardPaths>
#include <QThreadPool>
#include <QUrl>
#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// A failure this component detects itself; its text is what the service gets back.
class Fallo : public FalloZentu {
public:
    explicit Fallo(std::optional<QString> texto) : errorDescription(std::move(texto)) {}
    QString descripcion() const override { return errorDescription.value_or(QString()); }
    std::optional<QString> errorDescription;
};

// A failure of the file system, with the system's reason.
class ErrorArchivos : public FalloZentu {
public:
    ErrorArchivos(const QString& que, int numero)
        : texto_(que + QStringLiteral(": ") + qt_error_string(numero)), numero_(numero) {}
    explicit ErrorArchivos(QString texto) : texto_(std::move(texto)) {}
    QString descripcion() const override { return texto_; }
    int numero() const { return numero_; }

private:
    QString texto_;
    int numero_ = 0;
};

const QString kFaltaArchivo = QStringLiteral("falta el archivo");
const QString kFaltaDestino = QStringLiteral("falta la carpeta de destino");
const QString kNombreMalo = QStringLiteral("nombre de archivo no válido");
const QString kDireccionMala = QStringLiteral("dirección no válida");
// The host name by which a container reaches the machine it runs on; links built inside the
// service's development containers point there and mean this machine.
const QString kHostContenedor = QStringLiteral("host.docker.internal");
const QString kHostLocal = QStringLiteral("localhost");

QByteArray nativo(const QString& ruta) { return QFile::encodeName(ruta); }

// Something (file, folder, or a link, even a dangling one) is at `ruta`.
bool hayAlgo(const QString& ruta) {
    struct stat st {};
    return ::lstat(nativo(ruta).constData(), &st) == 0;
}

bool esCarpeta(const QString& ruta) {
    QFileInfo info(ruta);
    return info.isDir();
}

// A text that would be cut short at the system's boundary cannot name anything.
bool tieneNulo(const QString& texto) { return texto.contains(QChar(0)); }

// One plain component: not empty, not "." or "..", no "/" and no NUL.
bool nombreValido(const QString& nombre) {
    if (nombre.trimmed().isEmpty()) return false;
    if (nombre == QLatin1String(".") || nombre == QLatin1String("..")) return false;
    return !nombre.contains(QLatin1Char('/')) && !tieneNulo(nombre);
}

// Texts of the service shown back in a reply or a log line: no control characters.
QString mostrable(QString texto) {
    for (QChar& c : texto) {
        if (c.category() == QChar::Other_Control) c = QChar(0xFFFD);
    }
    return texto;
}

QString conTilde(const QString& ruta) {
    const QString& casa = EnMiMac::lugares().casa;
    if (ruta == casa) return QStringLiteral("~");
    if (casa != QLatin1String("/") && ruta.startsWith(casa + QLatin1Char('/'))) {
        return QStringLiteral("~") + ruta.mid(casa.size());
    }
    return ruta;
}

// "~" and "~/…" become the home folder; everything else stays.
QString expandir(const QString& texto) {
    if (texto == QLatin1String("~")) return EnMiMac::lugares().casa;
    if (texto.startsWith(QLatin1String("~/"))) return EnMiMac::lugares().casa + texto.mid(1);
    return texto;
}

void crearCarpeta(const QString& ruta) {
    if (esCarpeta(ruta)) return;
    if (!QDir().mkpath(ruta)) {
        const int numero = errno;
        throw ErrorArchivos(QStringLiteral("no se pudo crear la carpeta «") + ruta + QStringLiteral("»"),
                            numero ? numero : EACCES);
    }
}

// name, n -> "name n.ext" (n >= 2); n == 1 is the name itself.
QString variante(const QString& ruta, int n) {
    if (n <= 1) return ruta;
    const QFileInfo info(ruta);
    const QString nombre = info.fileName();
    const int punto = nombre.lastIndexOf(QLatin1Char('.'));
    const bool conExtension = punto > 0 && punto < nombre.size() - 1;
    const QString base = conExtension ? nombre.left(punto) : nombre;
    QString nuevo = base + QLatin1Char(' ') + QString::number(n);
    if (conExtension) nuevo += nombre.mid(punto);
    return info.path() + QLatin1Char('/') + nuevo;
}

QString nombreTemporal(const QString& carpeta, const char* clase) {
    const quint64 azar = QRandomGenerator::system()->generate64();
    return carpeta + QStringLiteral("/.zentu-") + QLatin1String(clase) + QLatin1Char('-') +
           QString::number(azar, 36) + QStringLiteral(".parcial");
}

// Puts `desde` at `deseado`, or at the first free numbered variant of it, never replacing
// anything: the system refuses the rename when the name is taken, so two actions that race for
// one name each end under a name of their own. Returns the final location.
QString colocar(const QString& desde, const QString& deseado) {
    const QByteArray origen = nativo(desde);
    for (int n = 1; n < INT_MAX; ++n) {
        const QString candidato = variante(deseado, n);
        const QByteArray destino = nativo(candidato);
        if (::renameat2(AT_FDCWD, origen.constData(), AT_FDCWD, destino.constData(), RENAME_NOREPLACE) == 0) {
            return candidato;
        }
        int numero = errno;
        if (numero == EEXIST) continue;
        if (numero == EINVAL || numero == ENOSYS) {
            // A file system without exclusive rename: a hard link is just as exclusive for files.
            struct stat st {};
            if (::lstat(origen.constData(), &st) == 0 && !S_ISDIR(st.st_mode)) {
                if (::link(origen.constData(), destino.constData()) == 0) {
                    ::unlink(origen.constData());
                    return candidato;
                }
                numero = errno;
                if (numero == EEXIST) continue;
            } else if (!hayAlgo(candidato)) {
                if (::rename(origen.constData(), destino.constData()) == 0) return candidato;
                numero = errno;
            } else {
                continue;
            }
        }
        throw ErrorArchivos(QStringLiteral("no se pudo poner «") + QFileInfo(deseado).fileName() +
                                QStringLiteral("» en su sitio"),
                            numero);
    }
    throw ErrorArchivos(QStringLiteral("no quedan nombres libres"));
}

void borrarTemporal(const QString& ruta) {
    QFileInfo info(ruta);
    if (info.isDir() && !info.isSymLink()) {
        QDir(ruta).removeRecursively();
    } else {
        QFile::remove(ruta);
    }
}

// Copies a file, a link or a whole folder to `hacia`, which must not exist. Links are copied as
// links, so a loop of links cannot make the copy endless.
void copiarArbol(const QString& desde, const QString& hacia) {
    const QFileInfo info(desde);
    if (info.isSymLink()) {
        const QByteArray destinoEnlace = [&] {
            QByteArray b(PATH_MAX, '\0');
            const ssize_t n = ::readlink(nativo(desde).constData(), b.data(), b.size());
            return n < 0 ? QByteArray() : b.left(n);
        }();
        if (destinoEnlace.isEmpty() || ::symlink(destinoEnlace.constData(), nativo(hacia).constData()) != 0) {
            throw ErrorArchivos(QStringLiteral("no se pudo copiar «") + info.fileName() + QStringLiteral("»"),
                                errno ? errno : EIO);
        }
        return;
    }
    if (info.isDir()) {
        if (::mkdir(nativo(hacia).constData(), 0700) != 0) {
            throw ErrorArchivos(QStringLiteral("no se pudo copiar «") + info.fileName() + QStringLiteral("»"), errno);
        }
        QDirIterator entradas(desde, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        while (entradas.hasNext()) {
            entradas.next();
            copiarArbol(entradas.filePath(), hacia + QLatin1Char('/') + entradas.fileName());
        }
        struct stat st {};
        if (::stat(nativo(desde).constData(), &st) == 0) ::chmod(nativo(hacia).constData(), st.st_mode & 07777);
        return;
    }
    QFile archivo(desde);
    if (!archivo.copy(hacia)) {
        throw ErrorArchivos(QStringLiteral("no se pudo copiar «") + info.fileName() + QStringLiteral("»: ") +
                            archivo.errorString());
    }
}

// Runs `f` on the main thread and waits for it (bounded, so that a worker never hangs on a
// main loop that has stopped turning at exit).
void enPrincipal(std::function<void()> f) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    auto hecho = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        app, [f = std::move(f), hecho] {
            f();
            hecho->release();
        },
        Qt::QueuedConnection);
    hecho->tryAcquire(1, 10000);
}

// Desktop calls belong to the main thread; their outcome is not waited for.
// Runs `f` on the main thread and waits for its answer (false when it could not run).
bool alEscritorioYEsperar(std::function<bool(Escritorio&)> f) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return false;
    auto hecho = std::make_shared<QSemaphore>();
    auto resultado = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        app, [f = std::move(f), hecho, resultado] {
            resultado->store(f(Escritorio::actual()));
            hecho->release();
        },
        Qt::QueuedConnection);
    if (!hecho->tryAcquire(1, 30000)) return false;
    return resultado->load();
}

void alEscritorio(std::function<void(Escritorio&)> f) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, [f = std::move(f)] { f(Escritorio::actual()); }, Qt::QueuedConnection);
}

QThreadPool& trabajadores() {
    // Never destroyed: a download still running at exit must not hold the process open.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool();
        p->setMaxThreadCount(4);
        return p;
    }();
    return *pool;
}

QString textoDe(const QJsonObject& pedido, const char* clave, std::optional<QString> porDefecto = std::nullopt,
                bool* presente = nullptr) {
    const QJsonValue v = pedido.value(QLatin1String(clave));
    if (presente) *presente = v.isString();
    if (v.isString()) return v.toString();
    return porDefecto.value_or(QString());
}

// The deepest existing folder of `ruta` with links resolved, plus the part that does not exist.
QString real(const QString& ruta) {
    QString actual = QDir::cleanPath(ruta);
    QString resto;
    while (!actual.isEmpty()) {
        const QString canonica = QFileInfo(actual).canonicalFilePath();
        if (!canonica.isEmpty()) return QDir::cleanPath(canonica + resto);
        const int barra = actual.lastIndexOf(QLatin1Char('/'));
        if (barra < 0) break;
        resto = actual.mid(barra) + resto;
        actual = barra == 0 ? QStringLiteral("/") : actual.left(barra);
        if (actual == QLatin1String("/") && resto.isEmpty()) break;
    }
    return QDir::cleanPath(ruta);
}

bool dentroDe(const QString& ruta, const QString& carpeta) {
    if (ruta == carpeta) return true;
    if (carpeta == QLatin1String("/")) return true;
    return ruta.startsWith(carpeta + QLatin1Char('/'));
}

}  // namespace

// ---------------------------------------------------------------- places

const EnMiMac::Lugares& EnMiMac::lugares() {
    static const Lugares lugares = [] {
        Lugares l;
        l.casa = QDir::cleanPath(QDir::homePath());
        const auto xdg = [&](QStandardPaths::StandardLocation tipo, const char* porDefecto) {
            const QString ruta = QStandardPaths::writableLocation(tipo);
            return ruta.isEmpty() ? l.casa + QLatin1Char('/') + QLatin1String(porDefecto) : QDir::cleanPath(ruta);
        };
        l.descargas = xdg(QStandardPaths::DownloadLocation, "Downloads");
        l.escritorio = xdg(QStandardPaths::DesktopLocation, "Desktop");
        l.documentos = xdg(QStandardPaths::DocumentsLocation, "Documents");
        l.imagenes = xdg(QStandardPaths::PicturesLocation, "Pictures");
        QString caches = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
        if (caches.isEmpty()) caches = l.casa + QStringLiteral("/.cache");
        l.cache = QDir::cleanPath(caches + QStringLiteral("/Zentu/abiertos"));
        return l;
    }();
    return lugares;
}

namespace {
const QString* conocida(const QString& minusculas) {
    const auto& l = EnMiMac::lugares();
    static const std::vector<std::pair<QString, const QString*>> tabla = {
        {QStringLiteral("descargas"), &l.descargas},     {QStringLiteral("downloads"), &l.descargas},
        {QStringLiteral("escritorio"), &l.escritorio},   {QStringLiteral("desktop"), &l.escritorio},
        {QStringLiteral("documentos"), &l.documentos},   {QStringLiteral("documents"), &l.documentos},
        {QStringLiteral("mis documentos"), &l.documentos}, {QStringLiteral("imagenes"), &l.imagenes},
        {QStringLiteral("imágenes"), &l.imagenes},       {QStringLiteral("fotos"), &l.imagenes},
        {QStringLiteral("pictures"), &l.imagenes},
    };
    for (const auto& [alias, carpeta] : tabla) {
        if (alias == minusculas) return carpeta;
    }
    return nullptr;
}
}  // namespace

QString EnMiMac::carpeta(const QString& destino, bool crear) {
    const QString texto = destino.trimmed();
    if (texto.isEmpty()) throw Fallo(kFaltaDestino);
    if (tieneNulo(texto)) throw Fallo(QStringLiteral("carpeta de destino no válida"));
    if (const QString* alias = conocida(texto.toLower())) return *alias;
    if (texto.startsWith(QLatin1Char('~')) || texto.startsWith(QLatin1Char('/'))) {
        if (texto.startsWith(QLatin1Char('~')) && texto != QLatin1String("~") && !texto.startsWith(QLatin1String("~/"))) {
            throw Fallo(QStringLiteral("carpeta de destino no válida"));
        }
        const QString ruta = QDir::cleanPath(expandir(texto));
        if (crear) crearCarpeta(ruta);
        return ruta;
    }
    const auto& l = lugares();
    for (const QString& base : {l.casa, l.documentos, l.escritorio, l.descargas}) {
        const QString ruta = QDir::cleanPath(base + QLatin1Char('/') + texto);
        if (esCarpeta(ruta)) return ruta;
    }
    const QString nueva = QDir::cleanPath(l.documentos + QLatin1Char('/') + texto);
    if (crear) crearCarpeta(nueva);
    return nueva;
}

std::optional<QString> EnMiMac::encontrar(const QString& origen) {
    const QString texto = origen.trimmed();
    if (texto.isEmpty() || tieneNulo(texto)) return std::nullopt;
    if (texto.startsWith(QLatin1Char('~')) || texto.startsWith(QLatin1Char('/'))) {
        const QString ruta = QDir::cleanPath(expandir(texto));
        if (!ruta.startsWith(QLatin1Char('/'))) return std::nullopt;
        return hayAlgo(ruta) ? std::optional<QString>(ruta) : std::nullopt;
    }
    const QString buscado = texto.toLower();
    const auto& l = lugares();
    std::optional<QString> mejor;
    QDateTime fechaMejor;
    for (const QString& carpeta : {l.descargas, l.escritorio, l.documentos}) {
        const QDir dir(carpeta);
        const QFileInfoList entradas =
            dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
        for (const QFileInfo& e : entradas) {
            const QString nombre = e.fileName();
            const int punto = nombre.lastIndexOf(QLatin1Char('.'));
            const QString sinExtension = punto > 0 ? nombre.left(punto) : nombre;
            if (nombre.toLower() != buscado && sinExtension.toLower() != buscado) continue;
            QDateTime fecha = e.lastModified();
            if (!fecha.isValid()) fecha = QDateTime::fromMSecsSinceEpoch(std::numeric_limits<qint64>::min() / 2);
            if (!mejor || fecha > fechaMejor) {
                mejor = e.absoluteFilePath();
                fechaMejor = fecha;
            }
        }
    }
    return mejor;
}

QString EnMiMac::libre(const QString& ruta) {
    for (int n = 1; n < INT_MAX; ++n) {
        const QString candidato = variante(ruta, n);
        if (!hayAlgo(candidato)) return candidato;
    }
    return ruta;
}

namespace {
struct Descarga {
    QString nombre;
    QUrl direccion;
};

// Checks "id" and "nombre" before anything is created or fetched.
Descarga validarDescarga(const Cuenta& cuenta, const QJsonObject& pedido) {
    bool hayId = false, hayNombre = false;
    const QString id = textoDe(pedido, "id", std::nullopt, &hayId);
    const QString nombre = textoDe(pedido, "nombre", std::nullopt, &hayNombre);
    if (!hayId || !hayNombre) throw Fallo(kFaltaArchivo);
    if (!nombreValido(nombre)) throw Fallo(kNombreMalo);
    // The id is one path segment, every reserved character escaped: an id can never move the
    // request (and its bearer token) to another path or query of the service.
    if (id.isEmpty() || id == QLatin1String(".") || id == QLatin1String("..") || tieneNulo(id)) {
        throw Fallo(kFaltaArchivo);
    }
    const QUrl direccion(cuenta.url + QStringLiteral("/api/files/download/") +
                             QString::fromLatin1(QUrl::toPercentEncoding(id)),
                         QUrl::StrictMode);
    if (!direccion.isValid() || direccion.scheme().isEmpty() || direccion.host().isEmpty()) {
        throw Fallo(kFaltaArchivo);
    }
    return Descarga{nombre, direccion};
}
}  // namespace

// ---------------------------------------------------------------- the component

EnMiMac::EnMiMac(Cuenta cuenta, CanalEnVivo& canalEnVivo, QObject* padre)
    : QObject(padre), canal(&canalEnVivo), cuenta_(std::move(cuenta)) {
    const QPointer<EnMiMac> yo(this);
    canalEnVivo.on(QStringLiteral("_conectado"), [yo](std::optional<QJsonValue>) {
        if (yo && yo->canal) yo->canal->emitir(QStringLiteral("mac:hola"), QJsonObject{});
    });
    canalEnVivo.emitir(QStringLiteral("mac:hola"), QJsonObject{});
    canalEnVivo.atender(QStringLiteral("mac:accion"), [yo](std::optional<QJsonValue> datos, Respondedor responder) {
        if (!yo) {
            responder(QJsonObject{{"ok", false}, {"error", QStringLiteral("pedido vacío")}});
            return;
        }
        yo->atender(std::move(datos), std::move(responder));
    });
}

void EnMiMac::atender(std::optional<QJsonValue> datos, Respondedor responder) {
    if (!datos || !datos->isObject()) {
        responder(QJsonObject{{"ok", false}, {"error", QStringLiteral("pedido vacío")}});
        return;
    }
    QPointer<EnMiMac> yo(this);
    trabajadores().start([yo, cuenta = cuenta_, pedido = datos->toObject(), responder = std::move(responder)] {
        QJsonObject respuesta;
        try {
            const std::optional<QString> ruta = hacer(cuenta, pedido);
            enPrincipal([yo] {
                if (yo && yo->alHacer) yo->alHacer();
            });
            respuesta = QJsonObject{{"ok", true}};
            if (ruta) respuesta.insert(QStringLiteral("ruta"), *ruta);
        } catch (const FalloZentu& e) {
            const QString texto = e.descripcion();
            Registro::escribir(QStringLiteral("[mac] no se pudo: ") + mostrable(texto));
            respuesta = QJsonObject{{"ok", false}, {"error", texto}};
        } catch (const std::exception& e) {
            const QString texto = QString::fromLocal8Bit(e.what());
            Registro::escribir(QStringLiteral("[mac] no se pudo: ") + mostrable(texto));
            respuesta = QJsonObject{{"ok", false}, {"error", texto}};
        } catch (...) {
            const QString texto = QStringLiteral("error inesperado");
            Registro::escribir(QStringLiteral("[mac] no se pudo: ") + texto);
            respuesta = QJsonObject{{"ok", false}, {"error", texto}};
        }
        responder(respuesta);
    });
}

std::optional<QString> EnMiMac::hacer(const Cuenta& cuenta, const QJsonObject& pedido) {
    const QString accion = textoDe(pedido, "accion");
    Registro::escribir(QStringLiteral("[mac] acción pedida: ") + mostrable(accion));

    if (accion == QLatin1String("abrir")) {
        const QString ruta = bajar(cuenta, pedido, cache());
        // The service is told it opened only when an application took it.
        if (!alEscritorioYEsperar([ruta](Escritorio& e) { return e.abrirArchivo(ruta); }))
            throw Fallo(QStringLiteral("ninguna aplicación de este equipo abre «") + mostrable(QFileInfo(ruta).fileName()) +
                        QStringLiteral("»"));
        return ruta;
    }
    if (accion == QLatin1String("guardar")) {
        const QString destino = textoDe(pedido, "destino", QStringLiteral("Descargas"));
        carpeta(destino, false);  // a blank destination is refused first
        validarDescarga(cuenta, pedido);  // and a bad name before any folder is created
        const QString ruta = bajar(cuenta, pedido, carpeta(destino));
        alEscritorio([ruta](Escritorio& e) { e.mostrarEnCarpeta(ruta); });
        return conTilde(ruta);
    }
    if (accion == QLatin1String("url")) {
        bool presente = false;
        QString texto = textoDe(pedido, "url", std::nullopt, &presente);
        if (!presente) throw Fallo(kDireccionMala);
        texto.replace(kHostContenedor, kHostLocal);
        const QUrl url(texto, QUrl::StrictMode);
        // Only web addresses: a "file:", "javascript:" or custom-scheme link from the network
        // must not reach the desktop's handlers.
        const QString esquema = url.scheme().toLower();
        if (!url.isValid() || (esquema != QLatin1String("http") && esquema != QLatin1String("https")) ||
            url.host().isEmpty()) {
            throw Fallo(kDireccionMala);
        }
        alEscritorio([url](Escritorio& e) { e.abrirUrl(url); });
        return QString::fromUtf8(url.toEncoded());
    }
    if (accion == QLatin1String("mover") || accion == QLatin1String("copiar")) {
        return moverOCopiar(pedido, accion == QLatin1String("mover"));
    }
    throw Fallo(QStringLiteral("no sé hacer «") + accion + QStringLiteral("»"));
}

QString EnMiMac::moverOCopiar(const QJsonObject& pedido, bool mover) {
    const QString origenTexto = textoDe(pedido, "origen");
    const std::optional<QString> origen = encontrar(origenTexto);
    if (!origen) {
        throw Fallo(QStringLiteral("no encontré «") + mostrable(origenTexto) +
                    QStringLiteral("» en este equipo (busqué en Descargas, Escritorio y Documentos)"));
    }
    const QString destinoTexto = textoDe(pedido, "destino");
    const QString destino = carpeta(destinoTexto, false);

    // Checked before anything is created: the root, the home folder (or a folder above it) and a
    // folder that holds the destination are never moved or copied.
    const QFileInfo infoOrigen(*origen);
    const QString origenReal = infoOrigen.isSymLink() ? QDir::cleanPath(infoOrigen.absoluteFilePath()) : real(*origen);
    const QString casaReal = real(lugares().casa);
    if (origenReal == QLatin1String("/") || dentroDe(casaReal, origenReal)) {
        throw Fallo(QStringLiteral("no muevo ni copio «") + mostrable(origenTexto) +
                    QStringLiteral("»: es la raíz o tu carpeta personal"));
    }
    if (!infoOrigen.isSymLink() && infoOrigen.isDir() && dentroDe(real(destino), origenReal)) {
        throw Fallo(QStringLiteral("la carpeta de destino está dentro de «") + mostrable(origenTexto) +
                    QStringLiteral("»"));
    }
    const QString nombre = infoOrigen.fileName();
    if (!nombreValido(nombre)) throw Fallo(kNombreMalo);

    const QString carpetaFinal = carpeta(destinoTexto, true);
    const QString deseado = carpetaFinal + QLatin1Char('/') + nombre;
    // A whole copy beside its final place first, so a failure half-way leaves no partial file.
    auto copiarYColocar = [&](const char* clase) {
        const QString temporal = nombreTemporal(carpetaFinal, clase);
        try {
            copiarArbol(*origen, temporal);
            return colocar(temporal, deseado);
        } catch (...) {
            borrarTemporal(temporal);
            throw;
        }
    };
    QString final;
    if (mover) {
        try {
            final = colocar(*origen, deseado);
        } catch (const ErrorArchivos& e) {
            if (e.numero() != EXDEV) throw;
            // Another file system: copy whole, place the copy, then remove the original.
            final = copiarYColocar("mover");
            const bool quitado = infoOrigen.isDir() && !infoOrigen.isSymLink() ? QDir(*origen).removeRecursively()
                                                                               : QFile::remove(*origen);
            if (!quitado) {
                throw ErrorArchivos(QStringLiteral("se copió a «") + conTilde(final) +
                                    QStringLiteral("» pero no se pudo quitar el original"));
            }
        }
    } else {
        final = copiarYColocar("copia");
    }
    alEscritorio([final](Escritorio& e) { e.mostrarEnCarpeta(final); });
    return conTilde(final);
}


QString EnMiMac::bajar(const Cuenta& cuenta, const QJsonObject& pedido, const QString& carpetaDestino) {
    const auto [nombre, direccion] = validarDescarga(cuenta, pedido);

    crearCarpeta(carpetaDestino);
    if (carpetaDestino == cache()) {
        // Opened files may be private: only the owner reads this folder.
        QFile::setPermissions(carpetaDestino, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The body goes straight to a hidden file beside its final place, so that the final step is a
    // rename and a failed download leaves nothing behind.
    const QString temporal = nombreTemporal(carpetaDestino, "descarga");
    QFile archivo(temporal);
    if (!archivo.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        throw ErrorArchivos(QStringLiteral("no se pudo escribir en «") + conTilde(carpetaDestino) +
                            QStringLiteral("»: ") + archivo.errorString());
    }

    QNetworkAccessManager red;
    QNetworkRequest peticion(direccion);
    peticion.setTransferTimeout(120000);
    // The bearer token goes to the service's own origin only, also across redirects.
    peticion.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::SameOriginRedirectPolicy);
    peticion.setRawHeader("Authorization", "Bearer " + cuenta.token.toUtf8());
    QNetworkReply* respuesta = red.get(peticion);
    respuesta->setReadBufferSize(256 * 1024);

    QEventLoop bucle;
    QString fallaEscritura;
    qint64 escritos = 0;
    const auto estado = [respuesta] {
        const QVariant v = respuesta->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        return v.isValid() ? v.toInt() : 0;
    };
    QObject::connect(respuesta, &QNetworkReply::readyRead, &bucle, [&] {
        const QByteArray trozo = respuesta->readAll();
        if (estado() != 200 || !fallaEscritura.isEmpty()) return;
        if (archivo.write(trozo) != trozo.size()) {
            fallaEscritura = archivo.errorString();
            respuesta->abort();
            return;
        }
        escritos += trozo.size();
    });
    QObject::connect(respuesta, &QNetworkReply::finished, &bucle, &QEventLoop::quit);
    if (!respuesta->isFinished()) bucle.exec();
    if (estado() == 200 && fallaEscritura.isEmpty()) {
        const QByteArray resto = respuesta->readAll();
        if (archivo.write(resto) != resto.size()) fallaEscritura = archivo.errorString();
        escritos += resto.size();
    }
    archivo.close();

    const int codigo = estado();
    const bool esHttp = respuesta->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    const QNetworkReply::NetworkError error = respuesta->error();
    const QString textoError = respuesta->errorString();
    const QVariant largo = respuesta->header(QNetworkRequest::ContentLengthHeader);
    delete respuesta;

    try {
        if (!fallaEscritura.isEmpty()) {
            throw ErrorArchivos(QStringLiteral("no se pudo escribir «") + nombre + QStringLiteral("»: ") +
                                fallaEscritura);
        }
        if (esHttp && codigo != 200) {
            throw Fallo(QStringLiteral("el servidor no dio el archivo (") + QString::number(codigo) +
                        QStringLiteral(")"));
        }
        if (error != QNetworkReply::NoError) throw ErrorTransporte(textoError);
        if (!esHttp) throw Fallo(QStringLiteral("el servidor no dio el archivo (0)"));
        // A body shorter than announced is a cut download, whatever the network layer said.
        if (largo.isValid() && largo.toLongLong() != escritos) {
            throw ErrorTransporte(QStringLiteral("la descarga se cortó"));
        }
    } catch (...) {
        QFile::remove(temporal);
        throw;
    }

    const QString deseado = carpetaDestino + QLatin1Char('/') + nombre;
    if (carpetaDestino == cache()) {
        // An earlier download of this name is replaced in one step (a folder there is not).
        if (::rename(nativo(temporal).constData(), nativo(deseado).constData()) != 0) {
            const int numero = errno;
            QFile::remove(temporal);
            throw ErrorArchivos(QStringLiteral("no se pudo poner «") + nombre + QStringLiteral("» en su sitio"),
                                numero);
        }
        return deseado;
    }
    try {
        return colocar(temporal, deseado);
    } catch (...) {
        QFile::remove(temporal);
        throw;
    }
}
