#pragma once
// Stand-ins for the voice side's hardware: a recorder whose power follows a script in virtual
// time, and a speech output whose buffers finish when the test says so.

#include "plataforma/GrabadoraAudio.h"
#include "plataforma/Reloj.h"
#include "plataforma/SalidaVoz.h"

#include <QFile>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct EstadoGrabadora {
    // Power in dB for the n-th 0.05 s tick since the take began (1 = first tick).
    std::function<float(int)> potencia = [](int) { return -60.0f; };
    std::optional<QString> falloAlEmpezar;
    QByteArray contenido = QByteArray("m4a de prueba");
    int creadas = 0;
    int detenidas = 0;
    bool grabando = false;
    QString ruta;
};

class GrabadoraFalsa : public GrabadoraAudio {
public:
    GrabadoraFalsa(std::shared_ptr<EstadoGrabadora> e, Reloj& reloj) : e_(std::move(e)), reloj_(reloj) { ++e_->creadas; }
    ~GrabadoraFalsa() override { detener(); }
    std::optional<QString> grabar(const QString& ruta) override {
        if (e_->falloAlEmpezar) return e_->falloAlEmpezar;
        e_->ruta = ruta;
        inicio_ = reloj_.segundos();
        e_->grabando = true;
        mio_ = true;
        return std::nullopt;
    }
    void actualizarMedidores() override {
        const int tick = int(std::lround((reloj_.segundos() - inicio_) / 0.05));
        p_ = e_->potencia(tick);
    }
    float potenciaMedia() const override { return p_; }
    std::optional<QString> detener() override {
        if (!mio_) return std::nullopt;
        mio_ = false;
        e_->grabando = false;
        ++e_->detenidas;
        QFile f(e_->ruta);
        if (f.open(QIODevice::WriteOnly)) f.write(e_->contenido);
        return std::nullopt;
    }

private:
    std::shared_ptr<EstadoGrabadora> e_;
    Reloj& reloj_;
    double inicio_ = 0;
    float p_ = kSilencio;
    bool mio_ = false;
};

struct EstadoSalida {
    std::vector<std::vector<float>> buffers;
    std::vector<std::function<void()>> completar;
    size_t completados = 0;
    bool detenida = false;
    int creadas = 0;
    std::optional<QString> fallo;
    // Finishes every buffer handed over so far.
    void terminarTodo() {
        while (completados < completar.size()) completar[completados++]();
    }
};

class SalidaFalsa : public SalidaVoz {
public:
    explicit SalidaFalsa(std::shared_ptr<EstadoSalida> e) : e_(std::move(e)) { ++e_->creadas; }
    std::optional<QString> empezar() override { return e_->fallo; }
    void programar(std::vector<float> m, std::function<void()> f) override {
        if (detenida_) return;
        e_->buffers.push_back(std::move(m));
        e_->completar.push_back(std::move(f));
    }
    void ponerEscucha(std::function<void(const float*, int)>) override {}
    void quitarEscucha() override {}
    void detener() override {
        detenida_ = true;
        e_->detenida = true;
    }

private:
    std::shared_ptr<EstadoSalida> e_;
    bool detenida_ = false;
};
