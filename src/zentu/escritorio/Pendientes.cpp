#include "zentu/escritorio/Pendientes.h"

#include "zentu/escritorio/LecturaJson.h"

#include "plataforma/Escritorio.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTextBoundaryFinder>
#include <QTimer>
#include <QUrl>
#include <QUuid>
#include <QCoroNetworkReply>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using lecturaJson::entero;
using lecturaJson::listaDeObjetos;

const QString kClaveAvisados = QStringLiteral("zentu.avisados");

// The largest count the store holds and publishes.
constexpr int kMayorCuenta = std::numeric_limits<int>::max();

// The text of an id as it appears in identifiers and user info: 42 gives "42".
QString textoId(const QJsonValue& v) {
    if (const auto n = entero(v)) return QString::number(*n);
    if (v.isString()) return v.toString();
    if (v.isDouble()) return QString::number(v.toDouble());
    if (v.isBool()) return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (v.isNull()) return QStringLiteral("null");
    return QString::fromUtf8(QJsonDocument::fromVariant(v.toVariant()).toJson(QJsonDocument::Compact));
}

// What the owner sees as characters (a letter with its accent, a whole emoji).
QStringList caracteres(const QString& texto) {
    QStringList fuera;
    QTextBoundaryFinder f(QTextBoundaryFinder::Grapheme, texto);
    qsizetype desde = 0;
    while (f.toNextBoundary() != -1) {
        fuera << texto.mid(desde, f.position() - desde);
        desde = f.position();
    }
    return fuera;
}

QString textoODefecto(const QJsonObject& o, const char* clave, const QString& defecto = {}) {
    const QJsonValue v = o.value(QLatin1String(clave));
    return v.isString() ? v.toString() : defecto;
}

QString descripcion(const std::exception& e) {
    if (const auto* f = dynamic_cast<const FalloZentu*>(&e)) return f->descripcion();
    return QString::fromUtf8(e.what());
}

// The reason of a channel request that did not go through.
QString motivo(const std::optional<QJsonObject>& acuse) {
    if (acuse && acuse->value(QLatin1String("error")).isString()) return acuse->value(QLatin1String("error")).toString();
    return QStringLiteral("sin respuesta del servidor");
}

bool aceptado(const std::optional<QJsonObject>& acuse) {
    return acuse && acuse->value(QLatin1String("ok")).isBool() && acuse->value(QLatin1String("ok")).toBool();
}

}  // namespace

// ------------------------------------------------------------------ creation

Pendientes::Pendientes(Cuenta cuenta, CanalEnVivo& canal, Notificaciones& avisos, QObject* padre)
    : QObject(padre), cuenta_(std::move(cuenta)), canal_(&canal), avisos_(&avisos) {
    const QVariant guardados = Preferencias::almacen().value(kClaveAvisados);
    // The settings file gives a list of one back as a plain text.
    if (guardados.typeId() == QMetaType::QStringList) {
        avisados_ = guardados.toStringList();
    } else if (guardados.typeId() == QMetaType::QString) {
        avisados_ = QStringList{guardados.toString()};
    }
    avisados_.removeDuplicates();
    for (const QString& a : avisados_) conocidos_.insert(a);

    QPointer<Pendientes> yo(this);
    avisos.alResponder = [yo](const Notificaciones::Respuesta& r) {
        if (yo) [[maybe_unused]] auto t = yo->atender(r);
    };
    avisos.registrarCategorias(categorias());
    [[maybe_unused]] auto autorizacion = [](QPointer<Notificaciones> n) -> QCoro::Task<void> {
        const auto error = co_await n->autorizar();
        Registro::escribir(QStringLiteral("[avisos] permiso de notificaciones: ") +
                           (error ? QStringLiteral("no · ") + *error : QStringLiteral("sí")));
    }(avisos_);

    canal.on(QStringLiteral("dudas:cambiaron"), [yo](std::optional<QJsonValue> v) {
        if (!yo || !v || !v->isObject()) return;
        const QJsonObject o = v->toObject();
        // A "total" that is no count (negative, beyond what a count holds) is read as a missing one.
        int numero = 0;
        if (const auto total = entero(o.value(QLatin1String("total"))); total && *total >= 0 && *total <= kMayorCuenta) {
            numero = static_cast<int>(*total);
        } else if (o.value(QLatin1String("dudas")).isArray()) {
            numero = static_cast<int>(std::min<qsizetype>(o.value(QLatin1String("dudas")).toArray().size(), kMayorCuenta));
        }
        const QList<QJsonObject> lista = listaDeObjetos(o.value(QLatin1String("dudas"))).value_or(QList<QJsonObject>{});
        ++yo->cifras_;
        QTimer::singleShot(0, yo.data(), [yo, numero, lista] {
            yo->dudas_ = numero;
            yo->listaDudas = lista;
            yo->publicar();
        });
    });
    canal.on(QStringLiteral("consultas:nueva"), [yo](std::optional<QJsonValue> v) {
        if (!yo || !v || !v->isObject()) return;
        const QJsonObject o = v->toObject();
        const QJsonValue ventana = o.value(QLatin1String("mostrarVentana"));
        if (ventana.isBool() && !ventana.toBool()) return;
        QTimer::singleShot(0, yo.data(), [yo, o] { yo->avisarDuda(o); });
    });
    canal.on(QStringLiteral("dashboard:patch"), [yo](std::optional<QJsonValue> v) {
        if (!yo || !v || !v->isObject()) return;
        if (v->toObject().contains(QLatin1String("inbox"))) [[maybe_unused]] auto t = yo->cargarPermisos();
    });
    canal.on(QStringLiteral("_conectado"), [yo](std::optional<QJsonValue>) {
        if (yo) [[maybe_unused]] auto t = yo->cargar();
    });
    canal.on(QStringLiteral("chats:needs-human"), [yo](std::optional<QJsonValue> v) {
        if (!yo || !v || !v->isObject()) return;
        const QJsonObject o = v->toObject();
        if (!o.value(QLatin1String("phone")).isString()) return;
        const QString phone = o.value(QLatin1String("phone")).toString();
        const QJsonValue borrado = o.value(QLatin1String("cleared"));
        const bool despejado = borrado.isBool() && borrado.toBool();
        const std::optional<QString> razon = o.value(QLatin1String("reason")).isString()
                                                 ? std::optional<QString>(o.value(QLatin1String("reason")).toString())
                                                 : std::nullopt;
        QTimer::singleShot(0, yo.data(), [yo, phone, despejado, razon] {
            if (despejado) {
                if (yo->avisos_) yo->avisos_->retirar(QStringLiteral("humano-") + phone);
                return;
            }
            yo->avisarHumano(phone, razon);
        });
    });
}

Pendientes::~Pendientes() = default;

// ------------------------------------------------------------------ loads

QCoro::Task<void> Pendientes::cargar() {
    QPointer<Pendientes> yo(this);
    const QString ruta = QStringLiteral("/api/dudas");
    const QString metodo = QStringLiteral("GET");
    try {
        const QJsonObject r = co_await API::pedir(cuenta_, ruta, metodo, std::nullopt, 20);
        if (!yo) co_return;
        if (const auto lista = listaDeObjetos(r.value(QLatin1String("dudas")))) {
            ++cifras_;
            dudas_ = static_cast<int>(std::min<qsizetype>(lista->size(), kMayorCuenta));
            listaDudas = *lista;
            listaConocida_ = true;
            if (primeraCarga_)
                for (const QJsonObject& d : *lista)
                    if (d.contains(QLatin1String("id")))
                        recordar(QStringLiteral("duda-") + textoId(d.value(QLatin1String("id"))));
        }
    } catch (const std::exception&) {
        // Not the owner's concern: the permission load still runs, the next connection tries again.
    }
    if (!yo) co_return;
    co_await cargarPermisos();
    if (!yo) co_return;
    primeraCarga_ = false;
}

QCoro::Task<std::optional<QList<QJsonObject>>> Pendientes::pedirPermisos() {
    const QUrl direccion(cuenta_.url + QStringLiteral("/api/pendientes/permisos"), QUrl::StrictMode);
    if (!direccion.isValid() || direccion.scheme().isEmpty()) co_return std::nullopt;
    QNetworkRequest peticion(direccion);
    peticion.setTransferTimeout(20000);
    peticion.setRawHeader("Authorization", "Bearer " + cuenta_.token.toUtf8());
    QNetworkReply* respuesta = API::red().get(peticion);
    co_await respuesta;
    respuesta->deleteLater();
    const QVariant estado = respuesta->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!estado.isValid() || estado.toInt() != 200 || respuesta->error() != QNetworkReply::NoError)
        co_return std::nullopt;
    QJsonParseError analisis{};
    const QJsonDocument doc = QJsonDocument::fromJson(respuesta->readAll(), &analisis);
    // A body we cannot read says nothing about the requests: the list we hold stays.
    if (analisis.error != QJsonParseError::NoError || !doc.isArray()) co_return std::nullopt;
    co_return listaDeObjetos(doc.array());
}

QCoro::Task<void> Pendientes::cargarPermisos() {
    QPointer<Pendientes> yo(this);
    const auto lista = co_await pedirPermisos();
    if (!yo || !lista) co_return;
    permisos = *lista;
    for (const QJsonObject& p : *lista) {
        if (!p.contains(QLatin1String("id"))) continue;
        const QString identificador = QStringLiteral("permiso-") + textoId(p.value(QLatin1String("id")));
        if (primeraCarga_) {
            recordar(identificador);
        } else if (!conocidos_.contains(identificador)) {
            avisarPermiso(p);
        }
    }
    publicar();
}

void Pendientes::publicar() {
    const int nPermisos = static_cast<int>(std::min<qsizetype>(permisos.size(), kMayorCuenta));
    Registro::escribir(QStringLiteral("[pendientes] %1 dudas + %2 permisos").arg(dudas_).arg(nPermisos));
    // The sum stops at the largest count rather than wrap around to a negative one.
    const int total = static_cast<int>(std::min<qint64>(qint64(dudas_) + nPermisos, kMayorCuenta));
    if (alCambiarTotal) alCambiarTotal(total);
    if (alCambiar) alCambiar(total, listaDudas, nPermisos);
    if (alCambiarLista) alCambiarLista();
}

// ------------------------------------------------------------------ notifications

std::vector<Notificaciones::Categoria> Pendientes::categorias() {
    using A = Notificaciones::Accion;
    return {
        {QStringLiteral("duda"),
         {A{QStringLiteral("responder"), QStringLiteral("Responder"), true, QStringLiteral("Enviar"),
            QStringLiteral("Tu respuesta para el agente"), false}}},
        {QStringLiteral("humano"),
         {A{QStringLiteral("responder"), QStringLiteral("Responder"), true, QStringLiteral("Enviar"),
            QStringLiteral("Tu mensaje para el cliente"), false},
          A{QStringLiteral("tomar"), QStringLiteral("Lo atiendo yo"), false, {}, {}, false}}},
        {QStringLiteral("decidirDuda"),
         {A{QStringLiteral("avisar"), QStringLiteral("Responder al cliente"), false, {}, {}, false},
          A{QStringLiteral("guardar"), QStringLiteral("Solo guardar"), false, {}, {}, false}}},
        {QStringLiteral("permiso"),
         {A{QStringLiteral("aprobar"), QStringLiteral("Aprobar"), false, {}, {}, false},
          A{QStringLiteral("rechazar"), QStringLiteral("Rechazar"), false, {}, {}, true}}},
    };
}

QString Pendientes::sonidoAviso() {
    const QString archivo = Sonidos::archivoDeAviso();
    return QFileInfo::exists(archivo) ? archivo : QString();
}

std::optional<Notificaciones::Aviso> Pendientes::avisoDuda(const QJsonObject& payload) {
    if (!payload.contains(QLatin1String("id"))) return std::nullopt;
    const QString id = textoId(payload.value(QLatin1String("id")));
    QString agente = textoODefecto(payload, "agente", QStringLiteral("Un agente"));
    agente.replace(QLatin1Char('_'), QLatin1Char(' '));
    Notificaciones::Aviso a;
    a.identificador = QStringLiteral("duda-") + id;
    a.titulo = agente + QStringLiteral(" necesita tu decisión");
    a.cuerpo = textoODefecto(payload, "pregunta");
    const QString contexto = textoODefecto(payload, "contexto");
    if (!contexto.isEmpty()) a.subtitulo = caracteres(contexto).mid(0, 80).join(QString());
    a.categoria = QStringLiteral("duda");
    a.sonido = sonidoAviso();
    a.datos = {{QStringLiteral("tipo"), QStringLiteral("duda")}, {QStringLiteral("id"), id}};
    return a;
}

Notificaciones::Aviso Pendientes::avisoHumano(const QString& phone, const std::optional<QString>& motivo) {
    Notificaciones::Aviso a;
    a.identificador = QStringLiteral("humano-") + phone;
    a.titulo = QStringLiteral("Un cliente quiere hablar con una persona");
    a.subtitulo = telefonoBonito(phone);
    a.cuerpo = motivo && !motivo->isEmpty() ? *motivo
                                            : QStringLiteral("El agente le dijo que alguien del equipo le atiende.");
    a.categoria = QStringLiteral("humano");
    a.sonido = sonidoAviso();
    a.datos = {{QStringLiteral("tipo"), QStringLiteral("humano")}, {QStringLiteral("id"), phone}};
    return a;
}

std::optional<Notificaciones::Aviso> Pendientes::avisoPermiso(const QJsonObject& permiso) {
    if (!permiso.contains(QLatin1String("id"))) return std::nullopt;
    const QString id = textoId(permiso.value(QLatin1String("id")));
    QString agente = textoODefecto(permiso, "agent_name", QStringLiteral("Un agente"));
    agente.replace(QLatin1Char('_'), QLatin1Char(' '));
    const QString destinatario =
        textoODefecto(permiso, "destinatario", textoODefecto(permiso, "telefono", QStringLiteral("alguien")));
    const QString motivoTexto = textoODefecto(permiso, "motivo");
    const QString texto = textoODefecto(permiso, "texto");
    Notificaciones::Aviso a;
    a.identificador = QStringLiteral("permiso-") + id;
    a.titulo = QStringLiteral("¿Escribirle a ") + destinatario + QStringLiteral("?");
    a.subtitulo = motivoTexto.isEmpty() ? agente + QStringLiteral(" pide permiso")
                                        : agente + QStringLiteral(" · ") + motivoTexto;
    a.cuerpo = texto.isEmpty() ? motivoTexto : QStringLiteral("«") + texto + QStringLiteral("»");
    a.categoria = QStringLiteral("permiso");
    a.sonido = sonidoAviso();
    a.datos = {{QStringLiteral("tipo"), QStringLiteral("permiso")}, {QStringLiteral("id"), id}};
    return a;
}

Notificaciones::Aviso Pendientes::avisoDecidir(const QString& id, double horas, const std::optional<QString>& pista,
                                               const QString& texto) {
    // The service sends a moderate finite number; anything else cannot be written as hours.
    const QString cuantas = std::isfinite(horas) && std::fabs(horas) < 1e15
                                ? QString::number(static_cast<qint64>(std::round(horas)))
                                : QStringLiteral("muchas");
    Notificaciones::Aviso a;
    a.identificador = QStringLiteral("decidir-") + id;
    a.titulo = QStringLiteral("Esta consulta tiene ") + cuantas + QStringLiteral(" horas");
    a.cuerpo = pista ? *pista : QStringLiteral("¿Le escribimos ahora al cliente con tu respuesta, o solo la guardamos?");
    a.categoria = QStringLiteral("decidirDuda");
    a.sonido = std::nullopt;
    a.datos = {{QStringLiteral("tipo"), QStringLiteral("decidirDuda")},
               {QStringLiteral("id"), id},
               {QStringLiteral("texto"), texto}};
    return a;
}

Notificaciones::Aviso Pendientes::avisoConfirmacion(const QString& texto) {
    Notificaciones::Aviso a;
    a.identificador = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    a.titulo = QStringLiteral("Zentu");
    a.cuerpo = texto;
    a.sonido = std::nullopt;
    return a;
}

QString Pendientes::telefonoBonito(const QString& telefono) {
    qsizetype inicio = 0;
    while (inicio < telefono.size() && telefono.at(inicio) == QLatin1Char('@')) ++inicio;
    QString parte;
    if (inicio == telefono.size()) {
        parte = telefono;
    } else {
        const qsizetype arroba = telefono.indexOf(QLatin1Char('@'), inicio);
        parte = telefono.mid(inicio, arroba < 0 ? -1 : arroba - inicio);
    }
    for (const QChar c : parte)
        if (!c.isNumber()) return parte;
    if (parte.size() == 11 && parte.startsWith(QLatin1Char('1')))
        return QStringLiteral("+1 ") + parte.mid(1, 3) + QLatin1Char(' ') + parte.mid(4, 3) + QLatin1Char(' ') +
               parte.mid(7, 4);
    return parte;
}

std::optional<qint64> Pendientes::leerEntero(const QString& texto) {
    // Anchored at the very ends: "$" alone would also take a text that ends in a line break.
    static const QRegularExpression forma(QStringLiteral(R"(\A[+-]?[0-9]+\z)"));
    if (!forma.match(texto).hasMatch()) return std::nullopt;
    bool ok = false;
    const qint64 n = texto.toLongLong(&ok, 10);
    if (!ok) return std::nullopt;
    return n;
}

void Pendientes::recordar(const QString& identificador) {
    if (conocidos_.contains(identificador)) return;
    conocidos_.insert(identificador);
    avisados_ << identificador;
    // The stored list keeps the newest announcements; the running store remembers them all.
    Preferencias::almacen().setValue(kClaveAvisados, avisados_.mid(std::max<qsizetype>(0, avisados_.size() - kMaximoAvisados)));
}

void Pendientes::avisarDuda(const QJsonObject& payload) {
    const auto aviso = avisoDuda(payload);
    if (!aviso || conocidos_.contains(aviso->identificador)) return;
    recordar(aviso->identificador);
    if (avisos_) [[maybe_unused]] auto t = avisos_->publicar(*aviso);
    Registro::escribir(QStringLiteral("[avisos] duda ") + aviso->datos.value(QStringLiteral("id")) +
                       QStringLiteral(" notificada"));
}

void Pendientes::avisarHumano(const QString& phone, const std::optional<QString>& motivo) {
    if (avisos_) [[maybe_unused]] auto t = avisos_->publicar(avisoHumano(phone, motivo));
    if (alSonar) alSonar(Sonidos::Cual::timbre);
    Registro::escribir(QStringLiteral("[avisos] cliente esperando a una persona"));
}

void Pendientes::avisarPermiso(const QJsonObject& permiso) {
    const auto aviso = avisoPermiso(permiso);
    if (!aviso) return;
    recordar(aviso->identificador);
    if (avisos_) [[maybe_unused]] auto t = avisos_->publicar(*aviso);
    Registro::escribir(QStringLiteral("[avisos] permiso ") + aviso->datos.value(QStringLiteral("id")) +
                       QStringLiteral(" notificado"));
}

void Pendientes::confirmar(const QString& texto) {
    if (avisos_) [[maybe_unused]] auto t = avisos_->publicar(avisoConfirmacion(texto));
}

// ------------------------------------------------------------------ operations

QCoro::Task<Pendientes::ResultadoDuda> Pendientes::responderDuda(qint64 id, QString texto,
                                                                 std::optional<bool> avisarCliente) {
    if (caracteres(texto.trimmed()).size() < 2) co_return Fallo{QStringLiteral("Escribe una respuesta.")};
    QJsonObject cuerpo{{QStringLiteral("respuesta"), texto}};
    if (avisarCliente) cuerpo.insert(QStringLiteral("avisarCliente"), *avisarCliente);
    QPointer<Pendientes> yo(this);
    const quint64 cifras = cifras_;
    const QString ruta = QStringLiteral("/api/dudas/%1/responder").arg(id);
    const QString metodo = QStringLiteral("POST");
    try {
        const QJsonObject r = co_await API::pedir(cuenta_, ruta, metodo, cuerpo, 20);
        if (yo) yo->quitar(id, cifras);
        const QJsonValue por = r.value(QLatin1String("porPlantilla"));
        const QJsonValue sin = r.value(QLatin1String("sinPlantilla"));
        co_return Respondida{por.isBool() && por.toBool(), sin.isBool() && sin.toBool()};
    } catch (const ErrorZentu& e) {
        if (e.caso() == ErrorZentu::Caso::consultaVieja) co_return Vieja{e.horas(), e.pista(), e.fueraDeVentana()};
        co_return Fallo{e.descripcion()};
    } catch (const std::exception& e) {
        co_return Fallo{descripcion(e)};
    }
}

QCoro::Task<std::optional<QString>> Pendientes::descartar(qint64 id) {
    QPointer<Pendientes> yo(this);
    const quint64 cifras = cifras_;
    const QString ruta = QStringLiteral("/api/dudas/%1/descartar").arg(id);
    const QString metodo = QStringLiteral("POST");
    try {
        co_await API::pedir(cuenta_, ruta, metodo, std::nullopt, 20);
    } catch (const std::exception& e) {
        co_return descripcion(e);
    }
    if (yo) yo->quitar(id, cifras);
    co_return std::nullopt;
}

QCoro::Task<std::optional<QString>> Pendientes::decidirPermiso(qint64 id, bool aprobar, std::optional<QString> texto) {
    QJsonObject cuerpo{{QStringLiteral("aprobar"), aprobar}};
    if (texto) cuerpo.insert(QStringLiteral("texto"), *texto);
    QPointer<Pendientes> yo(this);
    const QString ruta = QStringLiteral("/api/pendientes/permisos/%1").arg(id);
    const QString metodo = QStringLiteral("POST");
    try {
        co_await API::pedir(cuenta_, ruta, metodo, cuerpo, 20);
    } catch (const std::exception& e) {
        co_return descripcion(e);
    }
    if (!yo) co_return std::nullopt;
    // Decided: its notification no longer offers anything the owner can do.
    if (avisos_) avisos_->retirar(QStringLiteral("permiso-%1").arg(id));
    co_await yo->cargarPermisos();
    co_return std::nullopt;
}

void Pendientes::quitar(qint64 id, quint64 cifrasAlPedir) {
    const qsizetype quitadas =
        listaDudas.removeIf([id](const QJsonObject& d) { return entero(d.value(QLatin1String("id"))) == id; });
    // A question outside a shortened list still counts down. But once the service has sent its
    // own figures after the request went out, a question they no longer list is already counted
    // out: lowering the count again would hide another question that still waits.
    if (quitadas > 0 || cifras_ == cifrasAlPedir) dudas_ = std::max(0, dudas_ - 1);
    if (avisos_) avisos_->retirar(QStringLiteral("duda-%1").arg(id));
    publicar();
}

// ------------------------------------------------------------------ the owner's answers

QCoro::Task<void> Pendientes::atender(Notificaciones::Respuesta r) {
    const auto tipo = r.datos.contains(QStringLiteral("tipo")) ? std::optional<QString>(r.datos.value(QStringLiteral("tipo")))
                                                               : std::nullopt;
    const QString id = r.datos.value(QStringLiteral("id"));
    const QString escrito = r.texto ? r.texto->trimmed() : QString();
    const QString& accion = r.accion;
    QPointer<Pendientes> yo(this);

    if (!tipo) {
        if (alAbrirChat) alAbrirChat();
    } else if (*tipo == QLatin1String("duda") && accion == QLatin1String("responder")) {
        if (!r.texto) {
            pedirRespuesta(*tipo, id, r);
        } else {
            co_await responder(id, escrito, std::nullopt);
        }
    } else if (*tipo == QLatin1String("decidirDuda") &&
               (accion == QLatin1String("avisar") || accion == QLatin1String("guardar"))) {
        const QString guardado = r.datos.value(QStringLiteral("texto"));
        const bool avisar = accion == QLatin1String("avisar");
        co_await responder(id, guardado, avisar);
    } else if (*tipo == QLatin1String("humano") && accion == QLatin1String("responder")) {
        if (!r.texto) {
            pedirRespuesta(*tipo, id, r);
        } else {
            co_await responderCliente(id, escrito);
        }
    } else if (*tipo == QLatin1String("humano") && accion == QLatin1String("tomar")) {
        co_await tomarChat(id);
    } else if (*tipo == QLatin1String("humano")) {
        abrirConversacion(id);
    } else if (*tipo == QLatin1String("permiso") &&
               (accion == QLatin1String("aprobar") || accion == QLatin1String("rechazar"))) {
        const bool aprobar = accion == QLatin1String("aprobar");
        co_await decidir(id, aprobar);
    } else if (*tipo == QLatin1String("permiso")) {
        if (const auto n = leerEntero(id); n && alAbrirPermiso) alAbrirPermiso(*n);
    } else {
        if (alAbrirChat) alAbrirChat();
    }
}

void Pendientes::pedirRespuesta(const QString& tipo, const QString& id, const Notificaciones::Respuesta& respuesta) {
    if (!alPedirRespuesta) return;
    const bool esDuda = tipo == QLatin1String("duda");
    QPointer<Pendientes> yo(this);
    PedidoRespuesta p;
    p.titulo = esDuda ? QStringLiteral("Responder") : QStringLiteral("Responder al cliente");
    p.marcador = esDuda ? QStringLiteral("Tu respuesta para el agente") : QStringLiteral("Tu mensaje para el cliente");
    p.boton = QStringLiteral("Enviar");
    p.asunto = respuesta.titulo;
    p.texto = respuesta.mostrado;
    p.enviar = [yo, esDuda, id](QString texto) {
        if (!yo) return;
        texto = texto.trimmed();
        if (esDuda) {
            [[maybe_unused]] auto t = yo->responder(id, texto, std::nullopt);
        } else {
            [[maybe_unused]] auto t = yo->responderCliente(id, texto);
        }
    };
    alPedirRespuesta(std::move(p));
}

QCoro::Task<void> Pendientes::responder(QString id, QString texto, std::optional<bool> avisarCliente) {
    if (caracteres(texto).size() < 2) {
        confirmar(QStringLiteral("La respuesta es muy corta. Ábrela en el chat."));
        co_return;
    }
    const auto numero = leerEntero(id);
    if (!numero) {
        // Never guessed: sending it as another question's answer would be worse than not sending.
        confirmar(QStringLiteral("No se pudo enviar la respuesta: la consulta no tiene un número válido."));
        co_return;
    }
    QPointer<Pendientes> yo(this);
    QPointer<Notificaciones> avisos = avisos_;
    const ResultadoDuda resultado = co_await responderDuda(*numero, texto, avisarCliente);
    if (const auto* r = std::get_if<Respondida>(&resultado)) {
        if (yo && yo->alSonar) yo->alSonar(Sonidos::Cual::hecho);
        const QString mensaje =
            r->sinPlantilla
                ? QStringLiteral("Guardado. El cliente no recibió nada: pasaron más de 24 h y no hay plantilla para escribirle.")
            : r->porPlantilla ? QStringLiteral("Listo: se le avisó al cliente con una plantilla.")
                              : QStringLiteral("Listo: el agente ya tiene tu respuesta.");
        if (avisos) [[maybe_unused]] auto t = avisos->publicar(avisoConfirmacion(mensaje));
    } else if (const auto* v = std::get_if<Vieja>(&resultado)) {
        if (avisos) co_await avisos->publicar(avisoDecidir(id, v->horas, v->pista, texto));
    } else if (avisos) {
        [[maybe_unused]] auto t = avisos->publicar(
            avisoConfirmacion(QStringLiteral("No se pudo enviar la respuesta: ") + std::get<Fallo>(resultado).mensaje));
    }
}

QCoro::Task<void> Pendientes::responderCliente(QString phone, QString texto) {
    if (texto.isEmpty()) co_return;
    QPointer<Pendientes> yo(this);
    QPointer<Notificaciones> avisos = avisos_;
    QPointer<CanalEnVivo> canal = canal_;
    std::optional<QJsonObject> acuse;
    const QString evento = QStringLiteral("chats:reply");
    const QJsonObject datos{{QStringLiteral("phone"), phone}, {QStringLiteral("text"), texto}, {QStringLiteral("tomar"), true}};
    if (canal) acuse = co_await canal->pedir(evento, datos, 30);
    QString mensaje;
    if (aceptado(acuse)) {
        if (yo && yo->alSonar) yo->alSonar(Sonidos::Cual::enviado);
        if (avisos) avisos->retirar(QStringLiteral("humano-") + phone);
        mensaje = QStringLiteral("Enviado. Tú llevas ahora esa conversación.");
    } else {
        mensaje = QStringLiteral("No se pudo enviar: ") + motivo(acuse) + QStringLiteral(".");
    }
    if (avisos) [[maybe_unused]] auto t = avisos->publicar(avisoConfirmacion(mensaje));
}

QCoro::Task<void> Pendientes::tomarChat(QString phone) {
    QPointer<Pendientes> yo(this);
    QPointer<Notificaciones> avisos = avisos_;
    QPointer<CanalEnVivo> canal = canal_;
    std::optional<QJsonObject> acuse;
    const QString evento = QStringLiteral("chats:takeover");
    const QJsonObject datos{{QStringLiteral("phone"), phone}, {QStringLiteral("on"), true}};
    if (canal) acuse = co_await canal->pedir(evento, datos, 20);
    QString mensaje;
    if (aceptado(acuse)) {
        if (yo && yo->alSonar) yo->alSonar(Sonidos::Cual::hecho);
        if (avisos) avisos->retirar(QStringLiteral("humano-") + phone);
        mensaje = QStringLiteral("Listo: esa conversación es tuya. El agente no contestará hasta que se la devuelvas.");
    } else {
        mensaje = QStringLiteral("No se pudo tomar: ") + motivo(acuse) + QStringLiteral(".");
    }
    if (avisos) [[maybe_unused]] auto t = avisos->publicar(avisoConfirmacion(mensaje));
}

QCoro::Task<void> Pendientes::decidir(QString id, bool aprobar) {
    QPointer<Pendientes> yo(this);
    QPointer<Notificaciones> avisos = avisos_;
    const auto numero = leerEntero(id);
    if (!numero) {
        confirmar(QStringLiteral("No se pudo decidir: el permiso no tiene un número válido."));
        co_return;
    }
    const Cuenta cuenta = cuenta_;
    const QString ruta = QStringLiteral("/api/pendientes/permisos/%1").arg(*numero);
    const QString metodo = QStringLiteral("POST");
    const QJsonObject cuerpo{{QStringLiteral("aprobar"), aprobar}};
    try {
        co_await API::pedir(cuenta, ruta, metodo, cuerpo, 20);
    } catch (const std::exception& e) {
        if (avisos)
            [[maybe_unused]] auto t =
                avisos->publicar(avisoConfirmacion(QStringLiteral("No se pudo decidir: ") + descripcion(e)));
        co_return;
    }
    if (yo && yo->alSonar) yo->alSonar(aprobar ? Sonidos::Cual::hecho : Sonidos::Cual::descartado);
    if (avisos) avisos->retirar(QStringLiteral("permiso-") + id);
    if (avisos)
        [[maybe_unused]] auto t = avisos->publicar(avisoConfirmacion(
            aprobar ? QStringLiteral("Aprobado: el agente ya puede escribir.") : QStringLiteral("Rechazado: el agente no escribirá.")));
    if (yo) co_await yo->cargarPermisos();
}

void Pendientes::abrirConversacion(const QString& phone) {
    // Every character outside the unreserved set is encoded: a "+" or "&" in the phone must reach
    // the panel as part of the phone, not as query syntax.
    const QByteArray codificado = QUrl::toPercentEncoding(phone);
    const QUrl direccion = QUrl::fromEncoded(cuenta_.url.toUtf8() + "/conversations?chat=" + codificado, QUrl::StrictMode);
    if (!direccion.isValid() || direccion.scheme().isEmpty()) return;
    Escritorio::actual().abrirUrl(direccion);
}
