#include "plataforma/CanceladorEco.h"

#include "plataforma/Modulo.h"
#include "plataforma/modulos/Tablas.h"

#include <algorithm>

// webrtc-audio-processing is opened with the first call (see Modulo.h).
struct CanceladorEco::Motor {
    const TablaEco* tabla = nullptr;
    void* procesador = nullptr;
    ~Motor() {
        if (procesador) tabla->destruir(procesador);
    }
};

CanceladorEco::CanceladorEco(int frecuencia, std::unique_ptr<Motor> motor)
    : frecuencia_(frecuencia), trama_(frecuencia / 100), motor_(std::move(motor)) {
    // One frame of silence ahead keeps the output as long as the input on every call.
    salida_.assign(static_cast<size_t>(trama_), 0.0f);
}

CanceladorEco::~CanceladorEco() = default;

std::unique_ptr<CanceladorEco> CanceladorEco::crear(int frecuencia, QString* error) {
    if (frecuencia != 16000 && frecuencia != 32000 && frecuencia != 48000) {
        if (error) *error = QStringLiteral("El procesado de voz no admite %1 Hz.").arg(frecuencia);
        return nullptr;
    }
    // The owner is told what failed; why the module would not open goes to the log.
    const TablaEco* tabla = Modulo::abrir<TablaEco>("zentu_eco", nullptr);
    auto motor = std::make_unique<Motor>();
    motor->tabla = tabla;
    if (tabla) motor->procesador = tabla->crear(frecuencia);
    if (!motor->procesador) {
        if (error) *error = QStringLiteral("No se pudo encender el procesado de voz.");
        return nullptr;
    }
    return std::unique_ptr<CanceladorEco>(new CanceladorEco(frecuencia, std::move(motor)));
}

void CanceladorEco::reproducido(const float* muestras, int n, int frecuenciaDe) {
    if (n <= 0 || frecuenciaDe <= 0) return;
    if (frecuenciaDe == frecuencia_) {
        lejano_.insert(lejano_.end(), muestras, muestras + n);
    } else {
        // Linear interpolation is plenty for an echo reference.
        const double paso = static_cast<double>(frecuenciaDe) / frecuencia_;
        while (posLejano_ < n) {
            const int i = static_cast<int>(posLejano_);
            const double f = posLejano_ - i;
            const float a = i == 0 ? ultimoLejano_ : muestras[i - 1];
            const float b = muestras[i];
            lejano_.push_back(static_cast<float>(a + (b - a) * f));
            posLejano_ += paso;
        }
        posLejano_ -= n;
        ultimoLejano_ = muestras[n - 1];
    }
    analizarLejano();
}

void CanceladorEco::analizarLejano() {
    size_t hecho = 0;
    while (lejano_.size() - hecho >= static_cast<size_t>(trama_)) {
        motor_->tabla->lejano(motor_->procesador, lejano_.data() + hecho);
        hecho += static_cast<size_t>(trama_);
    }
    lejano_.erase(lejano_.begin(), lejano_.begin() + static_cast<long>(hecho));
}

void CanceladorEco::procesar(float* muestras, int n) {
    if (n <= 0) return;
    entrada_.insert(entrada_.end(), muestras, muestras + n);
    size_t hecho = 0;
    while (entrada_.size() - hecho >= static_cast<size_t>(trama_)) {
        float* canal = entrada_.data() + hecho;
        motor_->tabla->cercano(motor_->procesador, canal);
        salida_.insert(salida_.end(), canal, canal + trama_);
        hecho += static_cast<size_t>(trama_);
    }
    entrada_.erase(entrada_.begin(), entrada_.begin() + static_cast<long>(hecho));
    for (int i = 0; i < n; ++i) {
        muestras[i] = salida_.front();
        salida_.pop_front();
    }
}
