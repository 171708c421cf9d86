#include "zentu/escritorio/AlimentaWidgets.h"

#include "plataforma/RecargaWidgets.h"
#include "plataforma/Registro.h"
#include "zentu/escritorio/LecturaJson.h"

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QTimer>

using lecturaJson::entero;
using lecturaJson::listaDeObjetos;
using lecturaJson::logico;
using lecturaJson::texto;

namespace {

QString descripcion(const std::exception& e) {
    if (const auto* f = dynamic_cast<const FalloZentu*>(&e)) return f->descripcion();
    return QString::fromUtf8(e.what());
}

std::vector<Instantanea::Agente> agentesDe(const QList<QJsonObject>& lista) {
    std::vector<Instantanea::Agente> fuera;
    for (const QJsonObject& a : lista) {
        const auto id = entero(a.value(QLatin1String("id")));
        if (!id) continue;
        fuera.push_back({*id, texto(a, "name", QStringLiteral("Agente")), texto(a, "categoria"),
                         logico(a.value(QLatin1String("is_active"))).value_or(false),
                         entero(a.value(QLatin1String("conversaciones"))).value_or(0),
                         logico(a.value(QLatin1String("is_coordinator"))).value_or(false)});
    }
    return fuera;
}

// A reply that holds none of the day's figures in a readable form (a body that was not JSON, an
// empty one, an object of something else) is no pulse: taking it would zero what the owner sees.
bool traeElPulso(const QJsonObject& r) {
    return r.value(QLatin1String("hoy")).isObject() || r.value(QLatin1String("ayer")).isObject() ||
           entero(r.value(QLatin1String("solas"))) || r.value(QLatin1String("semana")).isArray() ||
           r.value(QLatin1String("actividad")).isArray();
}

}  // namespace

AlimentaWidgets::AlimentaWidgets(Cuenta cuenta, CanalEnVivo& canal, Reloj& reloj, QObject* padre)
    : QObject(padre), cuenta_(std::move(cuenta)), reloj_(reloj), foto_(Instantanea::leer()) {
    foto_.enlazada = true;
    QPointer<AlimentaWidgets> yo(this);
    canal.on(QStringLiteral("dashboard:patch"), [yo](std::optional<QJsonValue> v) {
        if (!yo || !v || !v->isObject()) return;
        const QJsonValue creditos = v->toObject().value(QLatin1String("creditos"));
        if (!creditos.isObject()) return;
        const QJsonObject c = creditos.toObject();
        QTimer::singleShot(0, yo.data(), [yo, c] {
            Instantanea::Creditos nuevos;
            nuevos.usados = entero(c.value(QLatin1String("usados"))).value_or(0);
            nuevos.cupo = entero(c.value(QLatin1String("cupo")));
            nuevos.restantes = entero(c.value(QLatin1String("restantes")));
            std::vector<Instantanea::Creditos::Dia> porDia;
            for (const QJsonObject& d : listaDeObjetos(c.value(QLatin1String("porDia"))).value_or(QList<QJsonObject>{}))
                porDia.push_back({texto(d, "dia"), entero(d.value(QLatin1String("creditos"))).value_or(0)});
            nuevos.porDia = std::move(porDia);
            yo->foto_.creditos = std::move(nuevos);
            yo->guardar();
        });
    });
    canal.on(QStringLiteral("_conectado"), [yo](std::optional<QJsonValue>) {
        if (!yo) return;
        [[maybe_unused]] auto t = [](QPointer<AlimentaWidgets> el) -> QCoro::Task<void> {
            if (!el) co_return;
            co_await el->pedirPulso();
            if (!el) co_return;
            co_await el->pedirAgentes();
        }(yo);
    });
    programarPulso();
    programarAgentes();
    guardar();
    vigia_ = new QFileSystemWatcher(this);
    connect(vigia_, &QFileSystemWatcher::directoryChanged, this, &AlimentaWidgets::revisarArchivo);
    connect(vigia_, &QFileSystemWatcher::fileChanged, this, &AlimentaWidgets::revisarArchivo);
    vigilarArchivo();
}

void AlimentaWidgets::vigilarArchivo() {
    const auto ruta = Instantanea::archivo();
    if (!ruta) return;
    const QString carpeta = QFileInfo(*ruta).absolutePath();
    if (!vigia_->directories().contains(carpeta)) vigia_->addPath(carpeta);
    // Every save puts a new file in the old one's place: the watch follows the name, so a change
    // made in place (the file truncated or overwritten) is seen too.
    if (vigia_->files().contains(*ruta)) vigia_->removePath(*ruta);
    if (QFile::exists(*ruta)) vigia_->addPath(*ruta);
}

// The widgets read whatever is in the file: one that was cut short, overwritten or deleted while
// the account is paired would make them ask the owner to pair. It is written again at once.
void AlimentaWidgets::revisarArchivo() {
    vigilarArchivo();  // a replaced file is a new one to the watcher
    const auto ruta = Instantanea::archivo();
    if (!ruta) return;
    auto legible = [&ruta] {
        QFile f(*ruta);
        return f.open(QIODevice::ReadOnly) && Instantanea::decodificar(f.readAll()).has_value();
    };
    if (legible()) {
        escrituraFallida_ = false;
        return;
    }
    // Where our own write fails (a full disk, a folder we may not write), trying again at every
    // change of the folder would never end: wait until the file is readable again.
    if (escrituraFallida_) return;
    Registro::escribir(QStringLiteral("[widgets] la foto del archivo no se podía leer: se escribe de nuevo"));
    guardar();
    escrituraFallida_ = !legible();
}

AlimentaWidgets::~AlimentaWidgets() = default;

void AlimentaWidgets::programarPulso() {
    relojPulso_ = reloj_.programar(kCadaPulso, this, [this] {
        programarPulso();
        [[maybe_unused]] auto t = pedirPulso();
    });
}

void AlimentaWidgets::programarAgentes() {
    relojAgentes_ = reloj_.programar(kCadaAgentes, this, [this] {
        programarAgentes();
        [[maybe_unused]] auto t = pedirAgentes();
    });
}

std::optional<QDateTime> AlimentaWidgets::leerFecha(const QString& t) {
    static const QRegularExpression forma(QStringLiteral(
        R"(^(\d{4})-(\d{2})-(\d{2})T(\d{2}):(\d{2}):(\d{2})(\.(\d+))?(Z|([+-])(\d{2}):(\d{2}))$)"));
    const auto m = forma.match(t);
    if (!m.hasMatch()) return std::nullopt;
    const QDate dia(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QTime hora(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt());
    if (!dia.isValid() || !hora.isValid()) return std::nullopt;
    QDateTime f(dia, hora, Qt::UTC);
    if (m.hasCaptured(8)) f = f.addMSecs(QString(m.captured(8) + QStringLiteral("00")).left(3).toInt());
    if (m.captured(9) != QLatin1String("Z")) {
        const int h = m.captured(11).toInt();
        const int mi = m.captured(12).toInt();
        if (h > 23 || mi > 59) return std::nullopt;
        f = f.addSecs(-(h * 3600 + mi * 60) * (m.captured(10) == QLatin1String("-") ? -1 : 1));
    }
    // The offset may carry the moment out of the years the snapshot can hold: such a date counts
    // as unreadable, so that it cannot keep the whole snapshot from being written.
    if (f.date().year() < 1 || f.date().year() > 9999) return std::nullopt;
    return f;
}

QDateTime AlimentaWidgets::fecha(const QString& t) const { return leerFecha(t).value_or(reloj_.ahora()); }

void AlimentaWidgets::pendientes(int total, const QList<QJsonObject>& dudas, int permisos) {
    foto_.totalPendientes = total;
    foto_.permisos = permisos;
    std::vector<Instantanea::Duda> nuevas;
    for (const QJsonObject& d : dudas.mid(0, kMaximoDudas)) {
        const auto id = entero(d.value(QLatin1String("id")));
        if (!id) continue;
        QString agente = texto(d, "agent_name", QStringLiteral("Agente"));
        agente.replace(QLatin1Char('_'), QLatin1Char(' '));
        nuevas.push_back({*id, agente, texto(d, "question"), fecha(texto(d, "created_at"))});
    }
    foto_.dudas = std::move(nuevas);
    guardar();
    if (ultimoPulso_.msecsTo(reloj_.ahora()) > 60'000) [[maybe_unused]] auto t = pedirPulso();
}

QCoro::Task<void> AlimentaWidgets::pedirPulso() {
    QPointer<AlimentaWidgets> yo(this);
    QJsonObject r;
    const QString ruta = QStringLiteral("/api/pulso");
    const QString metodo = QStringLiteral("GET");
    try {
        r = co_await API::pedir(cuenta_, ruta, metodo, std::nullopt, 20);
    } catch (const std::exception&) {
        co_return;  // the next timer, connection or pending update tries again
    }
    if (!yo || !traeElPulso(r)) co_return;  // kept as after a failed request
    const QJsonObject hoy = r.value(QLatin1String("hoy")).toObject();
    const QJsonObject ayer = r.value(QLatin1String("ayer")).toObject();
    Instantanea::Dia d;
    d.conversacionesHoy = entero(hoy.value(QLatin1String("conversaciones"))).value_or(0);
    d.conversacionesAyer = entero(ayer.value(QLatin1String("conversaciones"))).value_or(0);
    d.mensajesHoy = entero(hoy.value(QLatin1String("mensajes"))).value_or(0);
    d.solas = entero(r.value(QLatin1String("solas")));
    for (const QJsonObject& b : listaDeObjetos(r.value(QLatin1String("semana"))).value_or(QList<QJsonObject>{}))
        d.semana.push_back({texto(b, "dia"), entero(b.value(QLatin1String("n"))).value_or(0)});
    for (const QJsonObject& h :
         listaDeObjetos(r.value(QLatin1String("actividad"))).value_or(QList<QJsonObject>{}).mid(0, kMaximoHechos))
        d.actividad.push_back({texto(h, "texto"), texto(h, "agente", QStringLiteral("Zentu")), fecha(texto(h, "cuando"))});
    ultimoPulso_ = reloj_.ahora();
    foto_.dia = std::move(d);
    guardar();
}

QCoro::Task<void> AlimentaWidgets::pedirAgentes() {
    QPointer<AlimentaWidgets> yo(this);
    QJsonObject r;
    const QString ruta = QStringLiteral("/api/agentes");
    const QString metodo = QStringLiteral("GET");
    try {
        r = co_await API::pedir(cuenta_, ruta, metodo, std::nullopt, 20);
    } catch (const std::exception&) {
        co_return;
    }
    if (!yo) co_return;
    const auto lista = listaDeObjetos(r.value(QLatin1String("agentes")));
    if (!lista) co_return;
    const std::vector<Instantanea::Agente> agentes = agentesDe(*lista);
    foto_.agentes = agentes;
    guardar();
    if (alCambiarAgentes) alCambiarAgentes(agentes);
}

QCoro::Task<std::optional<QString>> AlimentaWidgets::cambiarAgente(qint64 id, bool activo) {
    QPointer<AlimentaWidgets> yo(this);
    QJsonObject r;
    const QString ruta = QStringLiteral("/api/agentes/%1").arg(id);
    const QString metodo = QStringLiteral("PATCH");
    const QJsonObject cuerpo{{QStringLiteral("activo"), activo}};
    try {
        r = co_await API::pedir(cuenta_, ruta, metodo, cuerpo, 20);
    } catch (const std::exception& e) {
        co_return descripcion(e);
    }
    const auto confirmado = logico(r.value(QLatin1String("agente")).toObject().value(QLatin1String("is_active")));
    if (yo) co_await yo->pedirAgentes();
    if (confirmado == activo) co_return std::nullopt;
    co_return QStringLiteral("No quedó como se pidió.");
}

void AlimentaWidgets::guardar() {
    foto_.actualizado = reloj_.ahora();
    foto_.guardar();
    const QString creditos = foto_.creditos && foto_.creditos->restantes ? QString::number(*foto_.creditos->restantes)
                                                                         : QStringLiteral("-");
    const QString dia = foto_.dia ? QString::number(foto_.dia->conversacionesHoy) + QStringLiteral(" conv")
                                  : QStringLiteral("-");
    Registro::escribir(QStringLiteral("[widgets] foto: %1 pendientes · %2 dudas · créditos %3 · día %4")
                           .arg(foto_.totalPendientes)
                           .arg(foto_.dudas.size())
                           .arg(creditos, dia));
    // One redraw for a burst of saves; the file itself is already current.
    recarga_ = reloj_.programar(kRecarga, this, [] { RecargaWidgets::pedir(); });
}

void AlimentaWidgets::borrar() {
    Instantanea vacia;
    vacia.enlazada = false;
    vacia.actualizado = Instantanea::pasadoLejano();
    vacia.guardar();
    RecargaWidgets::pedir();
}
