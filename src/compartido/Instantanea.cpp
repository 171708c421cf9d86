#include "compartido/Instantanea.h"

#include "plataforma/Contenedor.h"
#include "plataforma/Registro.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTimeZone>
#include <algorithm>
#include <cmath>

namespace {

// Thrown inside the decoder only; it never leaves this file.
struct FalloLectura {
    QString motivo;
};

[[noreturn]] void fallar(const QString& ruta, const QString& que) {
    throw FalloLectura{ruta + QStringLiteral(": ") + que};
}

// Reads one JSON object key by key with the file's rules: required keys present and of their
// type, optional keys absent or null meaning "no value", unknown keys ignored.
class Objeto {
public:
    Objeto(const QJsonValue& valor, QString ruta) : ruta_(std::move(ruta)) {
        if (!valor.isObject()) fallar(ruta_, QStringLiteral("no es un objeto"));
        obj_ = valor.toObject();
    }

    bool tiene(const char* clave) const {
        const auto it = obj_.constFind(QLatin1String(clave));
        return it != obj_.constEnd() && !it->isNull();
    }
    QJsonValue requerido(const char* clave) const {
        const auto it = obj_.constFind(QLatin1String(clave));
        if (it == obj_.constEnd()) fallar(ruta(clave), QStringLiteral("falta"));
        if (it->isNull()) fallar(ruta(clave), QStringLiteral("es null"));
        return *it;
    }
    QString ruta(const char* clave) const { return ruta_ + QLatin1Char('.') + QLatin1String(clave); }

    bool logico(const char* clave) const {
        const QJsonValue v = requerido(clave);
        if (!v.isBool()) fallar(ruta(clave), QStringLiteral("no es true ni false"));
        return v.toBool();
    }
    QString texto(const char* clave) const {
        const QJsonValue v = requerido(clave);
        if (!v.isString()) fallar(ruta(clave), QStringLiteral("no es un texto"));
        return v.toString();
    }
    qint64 entero(const char* clave) const { return aEntero(requerido(clave), ruta(clave)); }
    std::optional<qint64> enteroOpcional(const char* clave) const {
        if (!tiene(clave)) return std::nullopt;
        return entero(clave);
    }
    QDateTime fecha(const char* clave) const {
        const QString t = texto(clave);
        auto f = Instantanea::textoAFecha(t);
        if (!f) fallar(ruta(clave), QStringLiteral("fecha no válida: ") + t);
        return *f;
    }
    QJsonArray lista(const char* clave) const {
        const QJsonValue v = requerido(clave);
        if (!v.isArray()) fallar(ruta(clave), QStringLiteral("no es una lista"));
        return v.toArray();
    }

    static qint64 aEntero(const QJsonValue& v, const QString& ruta) {
        if (!v.isDouble()) fallar(ruta, QStringLiteral("no es un número"));
        // Qt keeps whole literals as 64-bit integers; anything else arrives as a double, which
        // counts only when it is a whole number inside the 64-bit range.
        const QVariant var = v.toVariant();
        if (var.typeId() == QMetaType::LongLong) return var.toLongLong();
        const double d = v.toDouble();
        if (!std::isfinite(d) || d != std::trunc(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
            fallar(ruta, QStringLiteral("no es un número entero"));
        return static_cast<qint64>(d);
    }

private:
    QJsonObject obj_;
    QString ruta_;
};

template <typename T, typename F>
std::vector<T> leerLista(const QJsonArray& arreglo, const QString& ruta, F&& leerUno) {
    std::vector<T> fuera;
    fuera.reserve(arreglo.size());
    for (qsizetype i = 0; i < arreglo.size(); ++i)
        fuera.push_back(leerUno(Objeto(arreglo.at(i), ruta + QStringLiteral("[%1]").arg(i))));
    return fuera;
}

Instantanea::Duda leerDuda(const Objeto& o) {
    return {o.entero("id"), o.texto("agente"), o.texto("pregunta"), o.fecha("fecha")};
}

Instantanea::Agente leerAgente(const Objeto& o) {
    return {o.entero("id"),     o.texto("nombre"),          o.texto("categoria"),
            o.logico("activo"), o.entero("conversaciones"), o.logico("coordinador")};
}

Instantanea::Creditos leerCreditos(const Objeto& o) {
    Instantanea::Creditos c;
    c.usados = o.entero("usados");
    c.cupo = o.enteroOpcional("cupo");
    c.restantes = o.enteroOpcional("restantes");
    if (o.tiene("porDia"))
        c.porDia = leerLista<Instantanea::Creditos::Dia>(o.lista("porDia"), o.ruta("porDia"), [](const Objeto& d) {
            return Instantanea::Creditos::Dia{d.texto("dia"), d.entero("creditos")};
        });
    return c;
}

Instantanea::Dia leerDia(const Objeto& o) {
    Instantanea::Dia d;
    d.conversacionesHoy = o.entero("conversacionesHoy");
    d.conversacionesAyer = o.entero("conversacionesAyer");
    d.mensajesHoy = o.entero("mensajesHoy");
    d.solas = o.enteroOpcional("solas");
    d.semana = leerLista<Instantanea::Dia::Barra>(o.lista("semana"), o.ruta("semana"), [](const Objeto& b) {
        return Instantanea::Dia::Barra{b.texto("dia"), b.entero("n")};
    });
    d.actividad = leerLista<Instantanea::Dia::Hecho>(o.lista("actividad"), o.ruta("actividad"), [](const Objeto& h) {
        return Instantanea::Dia::Hecho{h.texto("texto"), h.texto("agente"), h.fecha("cuando")};
    });
    return d;
}

// Thrown by the encoder when a date has no text in the file's form.
struct FalloEscritura {};

// A moment outside the years the file can hold is written as the nearest one it can: one odd
// date must not keep the rest of the snapshot from the widgets.
QString fechaEscrita(const QDateTime& f) {
    if (!f.isValid()) throw FalloEscritura{};
    static const QDateTime primera = Instantanea::pasadoLejano();
    static const QDateTime ultima(QDate(9999, 12, 31), QTime(23, 59, 59), Qt::UTC);
    const QString t = Instantanea::fechaATexto(std::clamp(f, primera, ultima));
    if (t.isEmpty()) throw FalloEscritura{};
    return t;
}

}  // namespace

QDateTime Instantanea::pasadoLejano() {
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

QString Instantanea::fechaATexto(const QDateTime& fecha) {
    if (!fecha.isValid()) return {};
    const QDateTime utc = fecha.toUTC();
    const int anio = utc.date().year();
    if (anio < 1 || anio > 9999) return {};
    // The fraction of the second is dropped (truncated), never rounded up into the next second.
    return utc.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('Z');
}

std::optional<QDateTime> Instantanea::textoAFecha(const QString& texto) {
    // RFC 3339 internet date-time without fractional seconds: "Z" or a numeric offset.
    static const QRegularExpression forma(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(Z|([+-])(\d{2}):(\d{2}))$)"));
    const auto m = forma.match(texto);
    if (!m.hasMatch()) return std::nullopt;
    const QDate dia(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime hora(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!dia.isValid() || !hora.isValid()) return std::nullopt;
    QDateTime f(dia, hora, Qt::UTC);
    if (m.captured(7) != QLatin1String("Z")) {
        const int h = m.captured(9).toInt();
        const int mi = m.captured(10).toInt();
        if (h > 23 || mi > 59) return std::nullopt;
        const int desfase = (h * 3600 + mi * 60) * (m.captured(8) == QLatin1String("-") ? -1 : 1);
        f = f.addSecs(-desfase);
    }
    // The offset may carry the moment out of the years a date can be written with.
    if (f.date().year() < 1 || f.date().year() > 9999) return std::nullopt;
    return f;
}

std::optional<Instantanea> Instantanea::decodificar(const QByteArray& bytes, QString* error) {
    QJsonParseError analisis{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &analisis);
    if (analisis.error != QJsonParseError::NoError) {
        if (error) *error = QStringLiteral("JSON no válido: ") + analisis.errorString();
        return std::nullopt;
    }
    try {
        const Objeto o(doc.isObject() ? QJsonValue(doc.object()) : QJsonValue(), QStringLiteral("instantanea"));
        Instantanea i;
        i.enlazada = o.logico("enlazada");
        i.negocio = o.texto("negocio");
        i.totalPendientes = o.entero("totalPendientes");
        i.dudas = leerLista<Duda>(o.lista("dudas"), o.ruta("dudas"), leerDuda);
        i.permisos = o.entero("permisos");
        if (o.tiene("creditos")) i.creditos = leerCreditos(Objeto(o.requerido("creditos"), o.ruta("creditos")));
        if (o.tiene("dia")) i.dia = leerDia(Objeto(o.requerido("dia"), o.ruta("dia")));
        if (o.tiene("agentes")) i.agentes = leerLista<Agente>(o.lista("agentes"), o.ruta("agentes"), leerAgente);
        i.actualizado = o.fecha("actualizado");
        return i;
    } catch (const FalloLectura& f) {
        if (error) *error = f.motivo;
        return std::nullopt;
    }
}

std::optional<QByteArray> Instantanea::codificar() const {
    try {
        QJsonObject o;
        o.insert(QStringLiteral("enlazada"), enlazada);
        o.insert(QStringLiteral("negocio"), negocio);
        o.insert(QStringLiteral("totalPendientes"), totalPendientes);
        QJsonArray ds;
        for (const Duda& d : dudas)
            ds.append(QJsonObject{{QStringLiteral("id"), d.id},
                                  {QStringLiteral("agente"), d.agente},
                                  {QStringLiteral("pregunta"), d.pregunta},
                                  {QStringLiteral("fecha"), fechaEscrita(d.fecha)}});
        o.insert(QStringLiteral("dudas"), ds);
        o.insert(QStringLiteral("permisos"), permisos);
        if (creditos) {
            QJsonObject c{{QStringLiteral("usados"), creditos->usados}};
            if (creditos->cupo) c.insert(QStringLiteral("cupo"), *creditos->cupo);
            if (creditos->restantes) c.insert(QStringLiteral("restantes"), *creditos->restantes);
            if (creditos->porDia) {
                QJsonArray pd;
                for (const auto& d : *creditos->porDia)
                    pd.append(QJsonObject{{QStringLiteral("dia"), d.dia}, {QStringLiteral("creditos"), d.creditos}});
                c.insert(QStringLiteral("porDia"), pd);
            }
            o.insert(QStringLiteral("creditos"), c);
        }
        if (dia) {
            QJsonObject d{{QStringLiteral("conversacionesHoy"), dia->conversacionesHoy},
                          {QStringLiteral("conversacionesAyer"), dia->conversacionesAyer},
                          {QStringLiteral("mensajesHoy"), dia->mensajesHoy}};
            if (dia->solas) d.insert(QStringLiteral("solas"), *dia->solas);
            QJsonArray semana;
            for (const auto& b : dia->semana)
                semana.append(QJsonObject{{QStringLiteral("dia"), b.dia}, {QStringLiteral("n"), b.n}});
            d.insert(QStringLiteral("semana"), semana);
            QJsonArray actividad;
            for (const auto& h : dia->actividad)
                actividad.append(QJsonObject{{QStringLiteral("texto"), h.texto},
                                             {QStringLiteral("agente"), h.agente},
                                             {QStringLiteral("cuando"), fechaEscrita(h.cuando)}});
            d.insert(QStringLiteral("actividad"), actividad);
            o.insert(QStringLiteral("dia"), d);
        }
        if (agentes) {
            QJsonArray as;
            for (const Agente& a : *agentes)
                as.append(QJsonObject{{QStringLiteral("id"), a.id},
                                      {QStringLiteral("nombre"), a.nombre},
                                      {QStringLiteral("categoria"), a.categoria},
                                      {QStringLiteral("activo"), a.activo},
                                      {QStringLiteral("conversaciones"), a.conversaciones},
                                      {QStringLiteral("coordinador"), a.coordinador}});
            o.insert(QStringLiteral("agentes"), as);
        }
        o.insert(QStringLiteral("actualizado"), fechaEscrita(actualizado));
        return QJsonDocument(o).toJson(QJsonDocument::Compact);
    } catch (const FalloEscritura&) {
        return std::nullopt;
    }
}

std::optional<QString> Instantanea::archivo() {
    const auto carpeta = Contenedor::carpeta();
    if (!carpeta) return std::nullopt;
    return *carpeta + QStringLiteral("/instantanea.json");
}

void Instantanea::guardar() const {
    static const QString sinContenedor = QStringLiteral("[widgets] sin contenedor compartido: K7Q2M9XW4D.ai.zentu.voz");
    const auto ruta = archivo();
    if (!ruta) {
        Registro::escribir(sinContenedor);
        return;
    }
    const auto bytes = codificar();
    if (!bytes) {
        Registro::escribir(sinContenedor);
        return;
    }
    QDir().mkpath(QFileInfo(*ruta).absolutePath());  // a failure shows up in the write below
    QSaveFile archivoNuevo(*ruta);
    if (!archivoNuevo.open(QIODevice::WriteOnly) || archivoNuevo.write(*bytes) != bytes->size() ||
        !archivoNuevo.commit()) {
        Registro::escribir(QStringLiteral("[widgets] no se pudo guardar la foto: ") + archivoNuevo.errorString());
    }
}

Instantanea Instantanea::leer() {
    const auto ruta = archivo();
    if (!ruta) return vacia();
    QFile f(*ruta);
    if (!f.open(QIODevice::ReadOnly)) return vacia();
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError) return vacia();
    auto i = decodificar(bytes);
    return i ? std::move(*i) : vacia();
}

const Instantanea& Instantanea::vacia() {
    static const Instantanea v;
    return v;
}

const Instantanea& Instantanea::ejemplo() {
    static const Instantanea e = [] {
        const QDateTime ahora = QDateTime::currentDateTimeUtc();
        Instantanea i;
        i.enlazada = true;
        i.totalPendientes = 3;
        i.permisos = 0;
        i.actualizado = ahora;
        i.dudas = {
            {1, QStringLiteral("Reservas"),
             QStringLiteral("¿Le confirmo la reserva del sábado aunque no ha pagado el depósito?"), ahora.addSecs(-600)},
            {2, QStringLiteral("Ventas"),
             QStringLiteral("Un cliente pide 10 % de descuento por pagar al contado. ¿Se lo doy?"), ahora.addSecs(-3600)},
            {3, QStringLiteral("Contador"), QStringLiteral("¿La factura de ayer va con comprobante B01 o B02?"),
             ahora.addSecs(-7200)},
        };
        Creditos c;
        c.usados = 4231;
        c.cupo = 5000;
        c.restantes = 769;
        c.porDia = std::vector<Creditos::Dia>{{QStringLiteral("2026-09-29"), 310}, {QStringLiteral("2026-09-30"), 540},
                                              {QStringLiteral("2026-10-01"), 220}, {QStringLiteral("2026-10-02"), 680},
                                              {QStringLiteral("2026-10-03"), 150}, {QStringLiteral("2026-10-04"), 420},
                                              {QStringLiteral("2026-10-05"), 374}};
        i.creditos = c;
        Dia d;
        d.conversacionesHoy = 18;
        d.conversacionesAyer = 14;
        d.mensajesHoy = 142;
        d.solas = 83;
        d.semana = {{QStringLiteral("L"), 12}, {QStringLiteral("M"), 15}, {QStringLiteral("X"), 9},
                    {QStringLiteral("J"), 17}, {QStringLiteral("V"), 21}, {QStringLiteral("S"), 14},
                    {QStringLiteral("D"), 18}};
        d.actividad = {
            {QStringLiteral("Confirmó la reserva de la familia Tolmira"), QStringLiteral("Reservas"), ahora.addSecs(-900)},
            {QStringLiteral("Emitió la factura 202600031"), QStringLiteral("Contador"), ahora.addSecs(-2400)},
        };
        i.dia = d;
        i.agentes = std::vector<Agente>{
            {1, QStringLiteral("Zentu"), QStringLiteral("asistente"), true, 0, true},
            {2, QStringLiteral("Ventas"), QStringLiteral("ventas"), true, 4, false},
            {3, QStringLiteral("Reservas"), QStringLiteral("atencion"), true, 2, false},
            {4, QStringLiteral("Contador"), QStringLiteral("finanzas"), false, 0, false},
        };
        return i;
    }();
    return e;
}

namespace Tamanos {

std::optional<QString> archivo() {
    const auto carpeta = Contenedor::carpeta();
    if (!carpeta) return std::nullopt;
    return *carpeta + QStringLiteral("/tamanos.json");
}

void anotar(const QString& familia, QSizeF tamano) {
    const auto ruta = archivo();
    if (!ruta) return;

    QJsonObject entradas;
    QFile viejo(*ruta);
    if (viejo.open(QIODevice::ReadOnly)) {
        const QJsonDocument doc = QJsonDocument::fromJson(viejo.readAll());
        bool valido = doc.isObject();
        const QJsonObject obj = doc.object();
        for (auto it = obj.begin(); valido && it != obj.end(); ++it) {
            if (!it->isArray()) {
                valido = false;
                break;
            }
            for (const QJsonValue& n : it->toArray())
                if (!n.isDouble()) valido = false;
        }
        // One foreign value and every earlier entry goes: the file is rebuilt from this entry.
        if (valido) entradas = obj;
    }
    entradas.insert(familia, QJsonArray{tamano.width(), tamano.height()});

    QDir().mkpath(QFileInfo(*ruta).absolutePath());
    QSaveFile nuevo(*ruta);
    if (!nuevo.open(QIODevice::WriteOnly)) return;
    nuevo.write(QJsonDocument(entradas).toJson(QJsonDocument::Compact));
    nuevo.commit();
}

}  // namespace Tamanos
