#include "zentu/chat/ChatZentu.h"

#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"

#include <QCoreApplication>
#include <QCoroNetworkReply>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScopeGuard>
#include <QSet>
#include <algorithm>
#include <coroutine>
#include <memory>
#include <mutex>
#include <thread>

const QString ChatZentu::kNoSeLeyo = QStringLiteral("No se pudo leer el archivo.");
const QString ChatZentu::kArchivoGrande = QStringLiteral("El archivo pasa de 45 MB.");
const QString ChatZentu::kNoSeEnvioArchivo = QStringLiteral("No se pudo enviar el archivo.");
const QString ChatZentu::kJuntosGrandes = QStringLiteral("Juntos pasan de 45 MB. Envíalos en dos mensajes.");
const QString ChatZentu::kNoSeEnviaron = QStringLiteral("No se pudieron enviar los archivos.");
const QString ChatZentu::kHastaDiez = QStringLiteral("Hasta 10 archivos por mensaje.");

QString ChatZentu::noSeLeyoNombre(const QString& nombre) {
    return QStringLiteral("No se pudo leer «") + nombre + QStringLiteral("».");
}

// Every awaited call is made into a named task first: GCC 12 may destroy the temporaries of a
// full expression that holds a co_await twice.

namespace {

const QString kClaveAgente = QStringLiteral("zentu.chatConAgente");
const QString kEnviar = QStringLiteral("chat:send");
const QString kHistorial = QStringLiteral("chats:messages");
const QString kAgente = QStringLiteral("chat:agente");

// Suspends for `segundos` on the given clock; resumes from the event loop.
struct Pausa {
    Reloj& reloj;
    double segundos;
    std::shared_ptr<Temporizador> t = std::make_shared<Temporizador>();

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) {
        *t = reloj.programar(segundos, nullptr, [h] {
            QMetaObject::invokeMethod(QCoreApplication::instance(), [h] { h.resume(); }, Qt::QueuedConnection);
        });
    }
    void await_resume() const noexcept {}
};

// Reads whole files on a worker thread (large files would stall the interface) and resumes the
// waiting coroutine on the main thread with the bytes, or none for a file that cannot be read.
struct Lectura {
    QStringList rutas;
    std::shared_ptr<QList<std::optional<QByteArray>>> datos = std::make_shared<QList<std::optional<QByteArray>>>();

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> h) {
        std::thread([rutas = rutas, datos = datos, h] {
            for (const QString& ruta : rutas) {
                QFile f(ruta);
                if (!f.open(QIODevice::ReadOnly)) {
                    datos->append(std::nullopt);
                    continue;
                }
                QByteArray b = f.readAll();
                if (f.error() != QFileDevice::NoError) datos->append(std::nullopt);
                else datos->append(std::move(b));
            }
            QMetaObject::invokeMethod(QCoreApplication::instance(), [h] { h.resume(); }, Qt::QueuedConnection);
        }).detach();
    }
    QList<std::optional<QByteArray>> await_resume() { return std::move(*datos); }
};

QString nombreDe(const QUrl& url) {
    const QString n = url.fileName();
    return n.isEmpty() ? url.toString() : n;
}

// Size from the file system, before anything is read; none when it is not a readable file.
std::optional<qint64> tamano(const QUrl& url) {
    const QFileInfo info(url.toLocalFile());
    if (!url.isLocalFile() || !info.exists() || !info.isFile() || !info.isReadable()) return std::nullopt;
    return info.size();
}

// (Built outside the coroutines: GCC 12 mishandles string literals in their initialiser lists.)
QJsonObject historial() {
    return QJsonObject{{QStringLiteral("phone"), QStringLiteral("dashboard")}, {QStringLiteral("limit"), 60}};
}

QJsonObject soloTexto(const QString& texto) { return QJsonObject{{QStringLiteral("text"), texto}}; }

QJsonObject unArchivo(const QString& texto, const QString& nombre, const QString& mime);
QJsonObject entradaArchivo(int num, const QString& nombre, const QString& mime);

QJsonObject marcador(int num) { return QJsonObject{{QStringLiteral("_placeholder"), true}, {QStringLiteral("num"), num}}; }

QJsonObject entradaArchivo(int num, const QString& nombre, const QString& mime) {
    return QJsonObject{{QStringLiteral("buffer"), marcador(num)}, {QStringLiteral("name"), nombre},
                       {QStringLiteral("mimeType"), mime}};
}

QJsonObject unArchivo(const QString& texto, const QString& nombre, const QString& mime) {
    return QJsonObject{{QStringLiteral("text"), texto}, {QStringLiteral("file"), entradaArchivo(0, nombre, mime)}};
}

QJsonObject variosArchivos(const QString& texto, const QJsonArray& entradas) {
    return QJsonObject{{QStringLiteral("text"), texto}, {QStringLiteral("files"), entradas}};
}

bool aceptado(const std::optional<QJsonObject>& r) {
    return r && r->value(QLatin1String("ok")).isBool() && r->value(QLatin1String("ok")).toBool();
}

// The reply's "error" written out as text, or "sin respuesta".
QString motivo(const std::optional<QJsonObject>& r) {
    if (!r || !r->contains(QLatin1String("error"))) return QStringLiteral("sin respuesta");
    const QJsonValue e = r->value(QLatin1String("error"));
    switch (e.type()) {
    case QJsonValue::String:
        return e.toString();
    case QJsonValue::Double:
        return QString::number(e.toDouble(), 'g', 17);
    case QJsonValue::Bool:
        return e.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(e.toObject()).toJson(QJsonDocument::Compact));
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(e.toArray()).toJson(QJsonDocument::Compact));
    default:
        return QStringLiteral("null");
    }
}

std::optional<QString> errorTexto(const std::optional<QJsonObject>& r) {
    if (r && r->value(QLatin1String("error")).isString()) return r->value(QLatin1String("error")).toString();
    return std::nullopt;
}

}  // namespace

// ---------------------------------------------------------------- life

ChatZentu::ChatZentu(CanalEnVivo& canal, Reloj& reloj, QObject* padre)
    : QObject(padre), canal_(&canal), reloj_(reloj) {
    const QVariant guardado = Preferencias::almacen().value(kClaveAgente);
    if (guardado.isValid() && guardado.typeId() == QMetaType::QString && !guardado.toString().isEmpty())
        conAgente_ = guardado.toString();

    QPointer<ChatZentu> yo(this);
    canal.on(QStringLiteral("messages:new"), [yo](std::optional<QJsonValue> v) {
        if (yo) yo->nuevo(v);
    });
    canal.on(QStringLiteral("agent:status"), [yo](std::optional<QJsonValue> v) {
        if (yo) yo->estado(v);
    });
    canal.on(QStringLiteral("_conectado"), [yo](std::optional<QJsonValue>) {
        if (yo) [[maybe_unused]] auto tarea = yo->cargar();
    });
    canal.on(QStringLiteral("chat:agente"), [yo](std::optional<QJsonValue> v) {
        if (!yo) return;
        std::optional<QString> agente;
        if (v && v->isObject() && v->toObject().value(QLatin1String("agente")).isString())
            agente = v->toObject().value(QLatin1String("agente")).toString();
        yo->fijarAgente(agente);
    });
}

ChatZentu::~ChatZentu() = default;

// ---------------------------------------------------------------- published fields

void ChatZentu::setMensajes(QList<Mensaje> valor) {
    if (mensajes_ == valor) return;
    mensajes_ = std::move(valor);
    indice_ = Indice(mensajes_);
    ++generacion_;
    emit mensajesCambio();
    emit cambio();
}

// In place: nobody else holds the list, so appending copies nothing.
void ChatZentu::agregarMensaje(Mensaje m) {
    indice_.agregar(m);
    mensajes_.append(std::move(m));
    emit mensajesCambio();
    emit cambio();
}
void ChatZentu::setEscribiendo(bool valor) {
    if (escribiendo_ == valor) return;
    escribiendo_ = valor;
    emit escribiendoCambio();
    emit cambio();
}
void ChatZentu::setCargado(bool valor) {
    if (cargado_ == valor) return;
    cargado_ = valor;
    emit cargadoCambio();
    emit cambio();
}
void ChatZentu::setBorrador(const QString& valor) {
    if (borrador_ == valor) return;
    borrador_ = valor;
    emit borradorCambio();
    emit cambio();
}
void ChatZentu::setGrabandoNota(bool valor) {
    if (grabandoNota_ == valor) return;
    grabandoNota_ = valor;
    emit grabandoNotaCambio();
    emit cambio();
}
void ChatZentu::setVecesAbierto(int valor) {
    if (vecesAbierto_ == valor) return;
    vecesAbierto_ = valor;
    emit vecesAbiertoCambio();
    emit cambio();
}
void ChatZentu::setTranscribiendo(bool valor) {
    if (transcribiendo_ == valor) return;
    transcribiendo_ = valor;
    emit transcribiendoCambio();
    emit cambio();
}
void ChatZentu::setConAgente(const std::optional<QString>& valor) {
    if (conAgente_ == valor) return;
    conAgente_ = valor;
    emit conAgenteCambio();
    emit cambio();
}
void ChatZentu::setPendientes(const QList<QUrl>& valor) {
    if (pendientes_ == valor) return;
    pendientes_ = valor;
    emit pendientesCambio();
    emit cambio();
}

void ChatZentu::sonar(Sonidos::Cual cual) {
    if (alSonar) alSonar(cual);
}

// ---------------------------------------------------------------- history and live events

ChatZentu::Indice::Indice(const QList<Mensaje>& lista) {
    ids_.reserve(lista.size());
    for (const Mensaje& m : lista) agregar(m);
}

void ChatZentu::Indice::agregar(const Mensaje& m) {
    ids_.insert(m.id);
    if (m.adjunto) return;
    QList<qint64>& horas = horas_[m.deZentu ? 1 : 0][m.texto];
    const qint64 t = m.fecha.toMSecsSinceEpoch();
    horas.insert(std::upper_bound(horas.begin(), horas.end(), t) - horas.begin(), t);
}

bool ChatZentu::Indice::duplica(const Mensaje& m) const {
    if (ids_.contains(m.id)) return true;
    // A file's message is told apart by its id alone: photos sent one after another all have
    // the same (empty) text, and each is a message of its own.
    if (m.adjunto) return false;
    const auto it = horas_[m.deZentu ? 1 : 0].constFind(m.texto);
    if (it == horas_[m.deZentu ? 1 : 0].constEnd()) return false;
    // Less than 5 s away in either direction: within [t - 4999, t + 4999] ms.
    const qint64 ventana = static_cast<qint64>(kVentanaDuplicado * 1000) - 1;
    const qint64 t = m.fecha.toMSecsSinceEpoch();
    const auto cerca = std::lower_bound(it->cbegin(), it->cend(), t - ventana);
    return cerca != it->cend() && *cerca <= t + ventana;
}

QCoro::Task<void> ChatZentu::cargar() {
    QPointer<ChatZentu> yo(this);
    QPointer<CanalEnVivo> canal = canal_;
    if (!canal) co_return;
    const quint64 numero = ++cargasEmitidas_;
    const quint64 empujesAntes = empujes_;
    ++cargasEnVuelo_;

    const QJsonObject peticion = historial();
    auto tareaR = canal->pedir(kHistorial, peticion, 12);
    std::optional<QJsonObject> r = co_await std::move(tareaR);
    if (!yo) co_return;
    --cargasEnVuelo_;

    QList<Mensaje> lista;
    bool usable = r && r->value(QLatin1String("messages")).isArray();
    if (usable) {
        const QJsonArray entradas = r->value(QLatin1String("messages")).toArray();
        for (const QJsonValue& e : entradas) {
            if (!e.isObject()) {
                usable = false;
                break;
            }
            if (auto m = leer(e.toObject())) lista.append(std::move(*m));
        }
    }
    // A reply older than the one already applied would take the conversation back in time.
    if (!usable || numero < cargaAplicada_) {
        if (cargasEnVuelo_ == 0) empujados_.clear();
        co_return;
    }
    cargaAplicada_ = numero;

    std::stable_sort(lista.begin(), lista.end(), [](const Mensaje& a, const Mensaje& b) { return a.fecha < b.fecha; });
    // Messages pushed after this load was issued may be missing from its reply; they stay.
    Indice enLista(lista);
    for (const auto& [n, m] : std::as_const(empujados_))
        if (n > empujesAntes && !enLista.duplica(m)) {
            enLista.agregar(m);
            lista.append(m);
        }
    if (cargasEnVuelo_ == 0) empujados_.clear();

    setMensajes(std::move(lista));
    setCargado(true);

    const QJsonObject vacio;
    auto tareaRa = canal->pedir(kAgente, vacio, 8);
    std::optional<QJsonObject> ra = co_await std::move(tareaRa);
    if (!yo) co_return;
    if (aceptado(ra)) {
        const QJsonValue a = ra->value(QLatin1String("agente"));
        fijarAgente(a.isString() ? std::optional<QString>(a.toString()) : std::nullopt);
    }

    int adjuntos = 0, imagenes = 0;
    for (const Mensaje& m : mensajes_) {
        if (!m.adjunto) continue;
        ++adjuntos;
        if (m.adjunto->esImagen) ++imagenes;
    }
    Registro::escribir(QStringLiteral("[chat] historial: %1 mensajes · %2 adjuntos (%3 imágenes)")
                           .arg(mensajes_.size())
                           .arg(adjuntos)
                           .arg(imagenes));

    if (QCoreApplication::arguments().contains(QStringLiteral("--probar-adjuntos"))) {
        auto prueba = probarAdjuntos();
        co_await std::move(prueba);
    }
}

QCoro::Task<void> ChatZentu::probarAdjuntos() {
    std::optional<Adjunto> ultimo;
    for (auto it = mensajes_.crbegin(); it != mensajes_.crend(); ++it)
        if (it->adjunto) {
            ultimo = it->adjunto;
            break;
        }
    if (!ultimo) co_return;

    QNetworkReply* respuesta = API::red().get(QNetworkRequest(ultimo->url));
    co_await respuesta;
    respuesta->deleteLater();
    int estado = 0;
    qint64 bytes = 0;
    const QVariant atributo = respuesta->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (atributo.isValid()) {
        estado = atributo.toInt();
        bytes = respuesta->readAll().size();
    }
    Registro::escribir(QStringLiteral("[chat] prueba de adjunto «") + ultimo->nombre +
                       QStringLiteral("»: estado %1 · %2 bytes").arg(estado).arg(bytes));
}

void ChatZentu::nuevo(const std::optional<QJsonValue>& valor) {
    if (!valor || !valor->isObject()) return;
    const QJsonObject carga = valor->toObject();
    if (carga.value(QLatin1String("phone")) != QJsonValue(QStringLiteral("dashboard"))) return;
    if (!carga.value(QLatin1String("message")).isObject()) return;
    std::optional<Mensaje> leido = leer(carga.value(QLatin1String("message")).toObject());
    if (!leido) return;

    // De-duplication and appending run together, after the listener returns, in arrival order.
    QPointer<ChatZentu> yo(this);
    QMetaObject::invokeMethod(
        this,
        [yo, m = std::move(*leido)] {
            if (!yo) return;
            if (yo->indice_.duplica(m)) return;
            ++yo->empujes_;
            if (yo->cargasEnVuelo_ > 0) yo->empujados_.append({yo->empujes_, m});
            yo->agregarMensaje(m);
            if (m.deZentu) {
                if (yo->alMensajeDeZentu) yo->alMensajeDeZentu(m);
                if (yo) yo->sonar(Sonidos::Cual::llego);
            }
        },
        Qt::QueuedConnection);
}

void ChatZentu::estado(const std::optional<QJsonValue>& valor) {
    if (!valor || !valor->isObject()) return;
    const QJsonObject carga = valor->toObject();
    const QJsonValue dashboard = carga.value(QLatin1String("dashboard"));
    if (!dashboard.isBool() || !dashboard.toBool()) return;
    const bool trabajando = carga.value(QLatin1String("status")) == QJsonValue(QStringLiteral("processing"));
    setEscribiendo(trabajando);
    if (!trabajando && alTerminarTurno) alTerminarTurno();
}

void ChatZentu::fijarAgente(std::optional<QString> agente) {
    if (agente && agente->isEmpty()) agente.reset();
    if (agente == conAgente_) return;
    setConAgente(agente);
    if (agente) Preferencias::almacen().setValue(kClaveAgente, *agente);
    else Preferencias::almacen().remove(kClaveAgente);
    Registro::escribir(QStringLiteral("[chat] ahora hablas con ") + agente.value_or(QStringLiteral("Zentu")));
}

QCoro::Task<bool> ChatZentu::hablarCon(std::optional<QString> agente) {
    QPointer<ChatZentu> yo(this);
    QPointer<CanalEnVivo> canal = canal_;
    if (!canal) co_return false;
    const QString texto = agente ? QStringLiteral("@") + *agente : QStringLiteral("/zentu");
    const QJsonObject carga = soloTexto(texto);
    auto tareaR = canal->pedir(kEnviar, carga, 15);
    std::optional<QJsonObject> r = co_await std::move(tareaR);
    const bool ok = aceptado(r);
    Registro::escribir(QStringLiteral("[chat] hablar con ") + agente.value_or(QStringLiteral("Zentu")) +
                       QStringLiteral(": ") + (ok ? QStringLiteral("ok") : QStringLiteral("falló")));
    if (ok && yo) yo->fijarAgente(agente);
    co_return ok;
}

// ---------------------------------------------------------------- sending

QCoro::Task<bool> ChatZentu::enviar(QString texto) {
    QPointer<ChatZentu> yo(this);
    QPointer<CanalEnVivo> canal = canal_;
    texto = texto.trimmed();
    if (texto.isEmpty() || !canal) co_return false;
    const QJsonObject carga = soloTexto(texto);
    auto tareaR = canal->pedir(kEnviar, carga, 20);
    std::optional<QJsonObject> r = co_await std::move(tareaR);
    if (!yo) co_return aceptado(r);
    if (aceptado(r)) {
        sonar(Sonidos::Cual::enviado);
        co_return true;
    }
    Registro::escribir(QStringLiteral("[chat] no se pudo enviar: ") + motivo(r));
    sonar(Sonidos::Cual::error);
    co_return false;
}

QCoro::Task<std::optional<QString>> ChatZentu::enviarArchivo(QUrl archivo, QString texto) {
    QPointer<ChatZentu> yo(this);
    // The size comes from the file system, so a huge file is refused without being read.
    const std::optional<qint64> previo = tamano(archivo);
    if (!previo) co_return kNoSeLeyo;
    if (*previo > kLimiteBytes) co_return kArchivoGrande;

    Lectura lectura;
    lectura.rutas.append(archivo.toLocalFile());
    QList<std::optional<QByteArray>> leidos = co_await lectura;
    if (!yo) co_return kNoSeEnvioArchivo;
    if (leidos.isEmpty() || !leidos.first()) co_return kNoSeLeyo;
    QByteArray bytes = std::move(*leidos.first());
    if (bytes.size() > kLimiteBytes) co_return kArchivoGrande;  // it grew meanwhile

    QPointer<CanalEnVivo> canal = canal_;
    if (!canal) co_return kNoSeEnvioArchivo;
    const QString nombre = nombreDe(archivo);
    const QJsonObject carga = unArchivo(texto.trimmed(), nombre, tipoMime(nombre));
    QList<QByteArray> bloques;
    bloques.append(std::move(bytes));
    auto tareaR = canal->pedirConBinarios(kEnviar, carga, std::move(bloques), 120);
    std::optional<QJsonObject> r = co_await std::move(tareaR);
    if (aceptado(r)) {
        if (yo) sonar(Sonidos::Cual::enviado);
        co_return std::nullopt;
    }
    if (yo) sonar(Sonidos::Cual::error);
    Registro::escribir(QStringLiteral("[chat] no se pudo enviar el archivo: ") + motivo(r));
    co_return errorTexto(r).value_or(kNoSeEnvioArchivo);
}

QCoro::Task<std::optional<QString>> ChatZentu::enviarArchivos(QList<QUrl> archivos, QString texto) {
    if (archivos.size() == 1) {
        auto tareaSolo = enviarArchivo(archivos.first(), texto);
        std::optional<QString> solo = co_await std::move(tareaSolo);
        co_return solo;
    }
    QPointer<ChatZentu> yo(this);

    // Sizes from the file system first: ten huge files are refused before any is read.
    qint64 total = 0;
    QStringList rutas;
    for (const QUrl& url : archivos) {
        const std::optional<qint64> t = tamano(url);
        if (!t) co_return noSeLeyoNombre(nombreDe(url));
        total += *t;
        rutas.append(url.toLocalFile());
    }
    if (total > kLimiteBytes) co_return kJuntosGrandes;

    Lectura lectura;
    lectura.rutas = rutas;
    QList<std::optional<QByteArray>> leidos = co_await lectura;
    if (!yo) co_return kNoSeEnviaron;
    QList<QByteArray> bloques;
    total = 0;
    for (qsizetype i = 0; i < archivos.size(); ++i) {
        if (i >= leidos.size() || !leidos[i]) co_return noSeLeyoNombre(nombreDe(archivos[i]));
        total += leidos[i]->size();
        bloques.append(std::move(*leidos[i]));
    }
    if (total > kLimiteBytes) co_return kJuntosGrandes;

    QPointer<CanalEnVivo> canal = canal_;
    if (!canal) co_return kNoSeEnviaron;
    QJsonArray entradas;
    for (qsizetype i = 0; i < archivos.size(); ++i) {
        const QString nombre = nombreDe(archivos[i]);
        entradas.append(entradaArchivo(static_cast<int>(i), nombre, tipoMime(nombre)));
    }
    const QString recortado = texto.trimmed();
    auto tareaR = canal->pedirConBinarios(
        kEnviar, variosArchivos(recortado, entradas), std::move(bloques), 180);
    std::optional<QJsonObject> r = co_await std::move(tareaR);

    if (r && !r->contains(QLatin1String("messageIds"))) {
        // The service did not take the list: one message per file.
        Registro::escribir(QStringLiteral("[chat] el servidor no conoce `files`: van uno a uno (%1)").arg(archivos.size()));
        const bool conTexto = !aceptado(r);
        for (qsizetype i = 0; i < archivos.size(); ++i) {
            if (!yo) co_return kNoSeEnviaron;
            const QUrl url = archivos[i];
            const QString suyo = (i == 0 && conTexto) ? recortado : QString();
            auto tareaFallo = enviarArchivo(url, suyo);
            std::optional<QString> fallo = co_await std::move(tareaFallo);
            if (fallo) co_return fallo;
        }
        co_return std::nullopt;
    }
    if (aceptado(r)) {
        if (yo) sonar(Sonidos::Cual::enviado);
        co_return std::nullopt;
    }
    if (yo) sonar(Sonidos::Cual::error);
    Registro::escribir(QStringLiteral("[chat] no se pudieron enviar los archivos: ") + motivo(r));
    co_return errorTexto(r).value_or(kNoSeEnviaron);
}

std::optional<QString> ChatZentu::rechazo(const QUrl& archivo, bool solo) {
    const std::optional<qint64> t = tamano(archivo);
    if (!t) return solo || archivo.fileName().isEmpty() ? kNoSeLeyo : noSeLeyoNombre(archivo.fileName());
    if (*t > kLimiteBytes) return kArchivoGrande;
    return std::nullopt;
}

std::optional<QString> ChatZentu::agregar(const QList<QUrl>& archivos) {
    // Refused now rather than when the owner presses send: a chip for a file that can never go
    // out would only mislead.
    std::optional<QString> rechazado;
    QList<QUrl> lista = pendientes_;
    for (const QUrl& url : archivos) {
        if (const auto no = rechazo(url, archivos.size() == 1)) {
            if (!rechazado) rechazado = no;
            continue;
        }
        if (!lista.contains(url)) lista.append(url);
    }
    if (lista.size() <= kMaximoPendientes) {
        setPendientes(lista);
        return rechazado;
    }
    lista.resize(kMaximoPendientes);
    setPendientes(lista);
    return rechazado ? rechazado : kHastaDiez;
}

void ChatZentu::setPendiente(const std::optional<QUrl>& archivo) {
    if (!archivo) setPendientes({});
    else agregar({*archivo});
}

// ---------------------------------------------------------------- ask and wait

QCoro::Task<std::optional<QString>> ChatZentu::preguntarYEsperar(QString pregunta, double tope) {
    // One at a time: an agent's message carries no mark of the question it answers, so two asks
    // waiting together would each take the other's answer for its own.
    if (preguntando_) {
        Registro::escribir(QStringLiteral("[chat] pregunta rechazada: otra espera aún su respuesta"));
        co_return std::nullopt;
    }
    QPointer<ChatZentu> yo(this);
    preguntando_ = true;
    const auto libre = qScopeGuard([yo] {
        if (yo) yo->preguntando_ = false;
    });
    QSet<QString> antes;
    for (const Mensaje& m : mensajes_) antes.insert(m.id);

    auto tareaEnviada = enviar(pregunta);

    const bool enviada = co_await std::move(tareaEnviada);
    if (!enviada) co_return std::nullopt;
    if (!yo) co_return std::nullopt;

    auto nuevos = [&] {
        QList<Mensaje> r;
        for (const Mensaje& m : yo->mensajes_)
            if (m.deZentu && !antes.contains(m.id)) r.append(m);
        return r;
    };

    const double limite = reloj_.segundos() + tope;
    double ultimoCambio = reloj_.segundos();
    qsizetype vistos = 0;
    while (reloj_.segundos() < limite) {
        Pausa pausa{reloj_, 0.5};
        co_await pausa;
        if (!yo) co_return std::nullopt;
        const qsizetype cuantos = nuevos().size();
        if (cuantos != vistos) {
            ultimoCambio = reloj_.segundos();
            vistos = cuantos;
        }
        if (cuantos > 0 && !escribiendo_ && reloj_.segundos() - ultimoCambio > 2.5) break;
    }

    QStringList partes;
    for (const Mensaje& m : nuevos()) {
        const QString t = paraVoz(limpiar(m.texto));
        if (!t.isEmpty()) partes.append(t);
    }
    if (partes.isEmpty()) co_return std::nullopt;
    co_return partes.join(QStringLiteral("\n\n"));
}
