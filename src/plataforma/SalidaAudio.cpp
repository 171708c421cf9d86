#include "plataforma/SalidaAudio.h"

#include "plataforma/FlujoSonido.h"
#include "plataforma/Registro.h"

#include <QMetaObject>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <deque>
#include <mutex>

namespace {

// The queue the stream pulls from, shared by the main thread and the stream's thread. It hands
// out whatever is queued and nothing when it is empty, so the server stops the stream.
class Cola {
public:
    void anadir(std::vector<float> muestras) {
        std::lock_guard<std::mutex> l(cerrojo_);
        total_ += qint64(muestras.size());
        bloques_.push_back(std::move(muestras));
    }
    qint64 pendientes() const {
        std::lock_guard<std::mutex> l(cerrojo_);
        return total_ - posicion_;
    }
    void vaciar() {
        std::lock_guard<std::mutex> l(cerrojo_);
        bloques_.clear();
        enBloque_ = 0;
        posicion_ = total_;
    }
    size_t tomar(float* destino, size_t caben) {
        std::lock_guard<std::mutex> l(cerrojo_);
        size_t escritas = 0;
        while (escritas < caben && !bloques_.empty()) {
            const auto& bloque = bloques_.front();
            const size_t n = std::min(bloque.size() - enBloque_, caben - escritas);
            std::memcpy(destino + escritas, bloque.data() + enBloque_, n * sizeof(float));
            escritas += n;
            enBloque_ += n;
            posicion_ += qint64(n);
            if (enBloque_ == bloque.size()) {
                bloques_.pop_front();
                enBloque_ = 0;
            }
        }
        return escritas;
    }

private:
    mutable std::mutex cerrojo_;
    std::deque<std::vector<float>> bloques_;
    size_t enBloque_ = 0;
    qint64 total_ = 0;
    qint64 posicion_ = 0;
};

class SalidaDelServidor final : public SalidaAudio {
public:
    explicit SalidaDelServidor(QObject* padre) : SalidaAudio(padre) {
        cierre_.setSingleShot(true);
        connect(&cierre_, &QTimer::timeout, this, [this] { cerrarSiCallada(); });
    }
    ~SalidaDelServidor() override { cerrar(); }

    std::optional<QString> encolar(std::vector<float> muestras) override {
        if (muestras.empty()) return std::nullopt;
        if (!flujo_) {
            QString error;
            QPointer<SalidaDelServidor> yo(this);
            Cola* cola = &cola_;
            flujo_ = FlujoSonido::reproducir(
                {QStringLiteral("Sonidos de Zentu"), frecuencia, 1, 50},
                [cola](float* d, size_t n) { return cola->tomar(d, n); },
                [yo](const QString& motivo) {
                    // Told on the stream's thread; the output is dropped on ours.
                    QMetaObject::invokeMethod(yo.data(), [yo, motivo] { if (yo) yo->perdida(motivo); },
                                              Qt::QueuedConnection);
                },
                &error);
            if (!flujo_) return error;
        }
        cola_.anadir(std::move(muestras));
        flujo_->despertar();
        programarCierre();
        return std::nullopt;
    }

    qint64 pendientes() const override { return flujo_ ? cola_.pendientes() : 0; }

private:
    // Closes the stream a moment after the last queued frame should have been heard.
    void programarCierre() {
        const qint64 ms = cola_.pendientes() * 1000 / frecuencia;
        cierre_.start(int(std::min<qint64>(ms, 60000)) + kGraciaMs);
    }
    void cerrarSiCallada() {
        if (cola_.pendientes() > 0) {
            programarCierre();
            return;
        }
        cerrar();
    }
    void perdida(const QString& motivo) {
        Registro::escribir(QStringLiteral("[sonidos] se perdió la salida de audio: ") + motivo);
        cerrar();
    }
    void cerrar() {
        cierre_.stop();
        flujo_.reset();  // nothing pulls from the queue once this returns
        cola_.vaciar();
    }

    static constexpr int kGraciaMs = 600;  // the server's buffer, and a cue that follows closely
    Cola cola_;
    std::unique_ptr<FlujoSonido> flujo_;
    QTimer cierre_;
};

}  // namespace

std::unique_ptr<SalidaAudio> SalidaAudio::delSistema() {
    return std::make_unique<SalidaDelServidor>(nullptr);
}
