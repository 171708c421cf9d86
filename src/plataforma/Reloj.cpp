#include "plataforma/Reloj.h"

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <cmath>

Temporizador& Temporizador::operator=(Temporizador&& otro) noexcept {
    if (this != &otro) {
        cancelar();
        marca_ = std::move(otro.marca_);
    }
    return *this;
}

void Temporizador::cancelar() {
    if (!marca_) return;
    auto marca = std::move(marca_);
    if (marca->vivo) {
        marca->vivo = false;
        if (marca->alCancelar) marca->alCancelar();
    }
}

QDateTime Reloj::ahora() const { return QDateTime::currentDateTimeUtc(); }

double Reloj::segundos() const {
    static QElapsedTimer origen = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return origen.nsecsElapsed() / 1e9;
}

Temporizador Reloj::programar(double segundos, QObject* dueno, std::function<void()> accion) {
    auto marca = std::make_shared<Temporizador::Marca>();
    auto* timer = new QTimer(dueno);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    const double ms = std::isfinite(segundos) ? std::clamp(segundos * 1000.0, 0.0, 2.0e9) : 0.0;
    QPointer<QTimer> guardia(timer);
    QObject::connect(timer, &QTimer::timeout, timer, [marca, timer, accion = std::move(accion)] {
        timer->deleteLater();
        if (!marca->vivo) return;
        marca->vivo = false;
        marca->alCancelar = nullptr;
        accion();
    });
    marca->alCancelar = [guardia] {
        if (guardia) guardia->deleteLater();
    };
    timer->start(static_cast<int>(std::llround(ms)));
    return Temporizador(marca);
}

Reloj& Reloj::sistema() {
    static Reloj reloj;
    return reloj;
}

RelojVirtual::RelojVirtual(QDateTime inicio) : inicio_(std::move(inicio)) {}

QDateTime RelojVirtual::ahora() const {
    return inicio_.addMSecs(static_cast<qint64>(std::llround(t_ * 1000.0)));
}

Temporizador RelojVirtual::programar(double segundos, QObject* dueno, std::function<void()> accion) {
    auto marca = std::make_shared<Temporizador::Marca>();
    const double espera = std::isfinite(segundos) ? std::max(0.0, segundos) : 0.0;
    pendientes_.push_back({t_ + espera, contador_++, QPointer<QObject>(dueno), dueno != nullptr, marca,
                           std::move(accion)});
    return Temporizador(marca);
}

void RelojVirtual::purgar() {
    std::erase_if(pendientes_, [](const Pendiente& p) {
        return !p.marca->vivo || (p.teniaDueno && p.dueno.isNull());
    });
}

void RelojVirtual::avanzar(double segundos) {
    const double meta = t_ + std::max(0.0, segundos);
    for (;;) {
        purgar();
        auto siguiente = std::min_element(pendientes_.begin(), pendientes_.end(),
                                          [](const Pendiente& a, const Pendiente& b) {
                                              return a.cuando != b.cuando ? a.cuando < b.cuando
                                                                          : a.orden < b.orden;
                                          });
        if (siguiente == pendientes_.end() || siguiente->cuando > meta) break;
        Pendiente p = std::move(*siguiente);
        pendientes_.erase(siguiente);
        t_ = std::max(t_, p.cuando);
        p.marca->vivo = false;
        p.marca->alCancelar = nullptr;
        p.accion();
    }
    t_ = meta;
}

std::optional<double> RelojVirtual::proximo() const {
    std::optional<double> mejor;
    for (const auto& p : pendientes_) {
        if (!p.marca->vivo || (p.teniaDueno && p.dueno.isNull())) continue;
        if (!mejor || p.cuando - t_ < *mejor) mejor = p.cuando - t_;
    }
    return mejor;
}

int RelojVirtual::pendientes() const {
    return static_cast<int>(std::count_if(pendientes_.begin(), pendientes_.end(), [](const Pendiente& p) {
        return p.marca->vivo && !(p.teniaDueno && p.dueno.isNull());
    }));
}
