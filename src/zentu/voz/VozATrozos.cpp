#include "zentu/voz/VozATrozos.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <cmath>

static_assert(std::atomic<double>::is_always_lock_free);

VozATrozos::VozATrozos(std::unique_ptr<SalidaVoz> motor, QObject* padre)
    : QObject(padre), motor_(motor ? std::move(motor) : SalidaVoz::delSistema(kFrecuencia)) {
    // The listener may outlive a call into us on the output's thread: it writes through a shared
    // cell, and detener() removes it before the player goes.
    std::atomic<double>* celda = &nivel_;
    motor_->ponerEscucha([celda](const float* m, int n) {
        if (const auto v = nivelDe(m, n)) celda->store(*v, std::memory_order_relaxed);
    });
    QPointer<VozATrozos> yo(this);
    motor_->alFallar = [yo](const QString& motivo) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [yo, motivo] {
                if (yo && yo->alFallar) yo->alFallar(motivo);
            },
            Qt::QueuedConnection);
    };
}

VozATrozos::~VozATrozos() { detener(); }

std::optional<QString> VozATrozos::empezar() { return motor_->empezar(); }

std::vector<float> VozATrozos::aMuestras(const QByteArray& datos) {
    const qsizetype n = datos.size() / 2;
    std::vector<float> muestras(static_cast<size_t>(n));
    const auto* b = reinterpret_cast<const unsigned char*>(datos.constData());
    for (qsizetype i = 0; i < n; ++i) {
        const auto s = static_cast<int16_t>(uint16_t(b[2 * i]) | uint16_t(b[2 * i + 1]) << 8);
        muestras[size_t(i)] = float(s) / 32768.0f;
    }
    return muestras;
}

std::optional<double> VozATrozos::nivelDe(const float* muestras, int n) {
    if (!muestras || n <= 0) return std::nullopt;
    float suma = 0;
    for (int i = 0; i < n; ++i) suma += muestras[i] * muestras[i];
    const float r = std::sqrt(suma / float(n));
    return std::min(std::sqrt(double(r)) * 1.4, 1.0);
}

void VozATrozos::agregar(const QByteArray& datos) {
    QByteArray bytes = datos;
    if (sobra_) {
        bytes.prepend(*sobra_);
        sobra_.reset();
    }
    if (bytes.size() % 2 != 0) {
        sobra_ = bytes.back();
        bytes.chop(1);
    }
    if (bytes.size() < 2) return;
    std::vector<float> muestras = aMuestras(bytes);
    ++pendientes_;
    QPointer<VozATrozos> yo(this);
    motor_->programar(std::move(muestras), [yo] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [yo] { if (yo) yo->terminoUno(); }, Qt::QueuedConnection);
    });
}

void VozATrozos::terminoUno() {
    --pendientes_;
    if (cerrada_ && pendientes_ <= 0 && alTerminar) {
        nivel_.store(0.0);
        auto f = std::move(alTerminar);
        alTerminar = nullptr;
        f();
    }
}

void VozATrozos::cerrar() {
    cerrada_ = true;
    if (pendientes_ > 0) return;
    if (alTerminar) {
        nivel_.store(0.0);
        auto f = std::move(alTerminar);
        alTerminar = nullptr;
        f();
    }
}

void VozATrozos::detener() {
    alTerminar = nullptr;
    if (!motor_) return;
    motor_->quitarEscucha();
    motor_->detener();
}
