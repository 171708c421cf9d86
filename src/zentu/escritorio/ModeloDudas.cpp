#include "zentu/escritorio/ModeloDudas.h"

#include "zentu/conexion/Cuenta.h"

#include <QPointer>
#include <cmath>

ModeloDudas::Almacen ModeloDudas::Almacen::de(Pendientes& pendientes) {
    QPointer<Pendientes> p(&pendientes);
    Almacen a;
    a.listaDudas = [p] { return p ? p->listaDudas : QList<QJsonObject>(); };
    a.permisos = [p] { return p ? p->permisos : QList<QJsonObject>(); };
    a.responder = [p](qint64 id, QString texto) -> QCoro::Task<Pendientes::ResultadoDuda> {
        if (!p) co_return Pendientes::Fallo{QStringLiteral("Sin conexión con Zentu.")};
        co_return co_await p->responderDuda(id, std::move(texto), std::nullopt);
    };
    a.descartar = [p](qint64 id) -> QCoro::Task<std::optional<QString>> {
        if (!p) co_return QStringLiteral("Sin conexión con Zentu.");
        co_return co_await p->descartar(id);
    };
    a.decidir = [p](qint64 id, bool aprobar, std::optional<QString> texto) -> QCoro::Task<std::optional<QString>> {
        if (!p) co_return QStringLiteral("Sin conexión con Zentu.");
        co_return co_await p->decidirPermiso(id, aprobar, std::move(texto));
    };
    return a;
}

ModeloDudas::ModeloDudas(std::optional<Almacen> pendientes, std::optional<qint64> abierta, QList<QJsonObject> lista,
                         QObject* padre)
    : QObject(padre), pendientes_(std::move(pendientes)), abierta_(abierta), lista_(std::move(lista)) {
    refrescar();
}

std::optional<qint64> ModeloDudas::idDe(const QJsonObject& registro) {
    const QJsonValue v = registro.value(QStringLiteral("id"));
    if (!v.isDouble()) return std::nullopt;
    const double d = v.toDouble();
    // A JSON number counts as an integer only when it is one.
    if (!std::isfinite(d) || d != std::floor(d) || std::fabs(d) > 9.007199254740992e15) return std::nullopt;
    return static_cast<qint64>(d);
}

void ModeloDudas::setAbierta(std::optional<qint64> id) {
    if (abierta_ == id) return;
    abierta_ = id;
    emit cambio();
}

void ModeloDudas::setPermisoAbierto(std::optional<qint64> id) {
    if (permisoAbierto_ == id) return;
    permisoAbierto_ = id;
    emit cambio();
}

void ModeloDudas::setError(std::optional<QString> texto) {
    if (error_ == texto) return;
    error_ = std::move(texto);
    emit cambio();
}

void ModeloDudas::ponerEnviando(bool si) {
    if (enviando_ == si) return;
    enviando_ = si;
    emit cambio();
}

void ModeloDudas::sonar(Sonidos::Cual cual) {
    if (alSonar) alSonar(cual);
}

void ModeloDudas::refrescar() {
    if (pendientes_) {
        if (pendientes_->listaDudas) lista_ = pendientes_->listaDudas();
        if (pendientes_->permisos) permisos_ = pendientes_->permisos();
    }
    if (permisoAbierto_) {
        bool sigue = false;
        for (const QJsonObject& p : permisos_) sigue = sigue || idDe(p) == permisoAbierto_;
        if (!sigue) permisoAbierto_.reset();
    }
    bool abiertaSigue = false;
    if (abierta_)
        for (const QJsonObject& d : lista_) abiertaSigue = abiertaSigue || idDe(d) == abierta_;
    if (!abiertaSigue) abierta_ = lista_.isEmpty() ? std::nullopt : idDe(lista_.first());
    emit cambio();
}

QCoro::Task<bool> ModeloDudas::contestar(qint64 id, QString texto) {
    QPointer<ModeloDudas> yo(this);
    ponerEnviando(true);
    setError(std::nullopt);
    if (!pendientes_ || !pendientes_->responder) {
        ponerEnviando(false);
        co_return false;
    }
    auto responder = pendientes_->responder;
    const Pendientes::ResultadoDuda r = co_await responder(id, std::move(texto));
    if (!yo) co_return false;
    std::optional<QString> mensaje;
    if (const auto* v = std::get_if<Pendientes::Vieja>(&r))
        mensaje = ErrorZentu::consultaVieja(v->horas, std::nullopt, false).descripcion();
    else if (const auto* f = std::get_if<Pendientes::Fallo>(&r))
        mensaje = f->mensaje;
    ponerEnviando(false);
    if (mensaje) {
        setError(mensaje);
        sonar(Sonidos::Cual::error);
        co_return false;
    }
    sonar(Sonidos::Cual::hecho);
    refrescar();
    co_return true;
}

QCoro::Task<bool> ModeloDudas::decidirPermiso(qint64 id, bool aprobar, std::optional<QString> texto) {
    QPointer<ModeloDudas> yo(this);
    ponerEnviando(true);
    setError(std::nullopt);
    if (!pendientes_ || !pendientes_->decidir) {
        ponerEnviando(false);
        co_return false;
    }
    auto decidir = pendientes_->decidir;
    const std::optional<QString> m = co_await decidir(id, aprobar, std::move(texto));
    if (!yo) co_return false;
    ponerEnviando(false);
    if (m) {
        setError(m);
        sonar(Sonidos::Cual::error);
        co_return false;
    }
    sonar(aprobar ? Sonidos::Cual::hecho : Sonidos::Cual::descartado);
    refrescar();
    co_return true;
}

QCoro::Task<void> ModeloDudas::descartar(qint64 id) {
    QPointer<ModeloDudas> yo(this);
    ponerEnviando(true);
    setError(std::nullopt);
    std::optional<QString> m;
    if (pendientes_ && pendientes_->descartar) {
        auto descartarEn = pendientes_->descartar;
        m = co_await descartarEn(id);
        if (!yo) co_return;
    }
    if (m) {
        setError(m);
        sonar(Sonidos::Cual::error);
    } else {
        sonar(Sonidos::Cual::descartado);
    }
    ponerEnviando(false);
    refrescar();
}
