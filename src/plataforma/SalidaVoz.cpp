#include "plataforma/SalidaVoz.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <algorithm>
#include <cstring>
#include <deque>

namespace {

// What the sink pulls from: the scheduled buffers, oldest first. Nothing queued means nothing
// returned, so the sink idles instead of streaming silence.
class ColaVoz : public QIODevice {
public:
    struct Bloque {
        std::vector<float> muestras;
        std::function<void()> alTerminar;
    };

    using QIODevice::QIODevice;

    void anadir(Bloque bloque) {
        bloques_.push_back(std::move(bloque));
        vacio_ = false;
        Q_EMIT readyRead();
    }
    void vaciar() {
        bloques_.clear();
        enBloque_ = 0;
    }
    void ponerEscucha(std::function<void(const float*, int)> e) { escucha_ = std::move(e); }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        qint64 n = 0;
        for (const auto& b : bloques_) n += qint64(b.muestras.size());
        return (n - enBloque_) * qint64(sizeof(float)) + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* datos, qint64 maximo) override {
        auto* destino = reinterpret_cast<float*>(datos);
        const qint64 caben = maximo / qint64(sizeof(float));
        qint64 escritas = 0;
        std::vector<std::function<void()>> terminados;
        while (escritas < caben && !bloques_.empty()) {
            auto& bloque = bloques_.front();
            const qint64 n = std::min(qint64(bloque.muestras.size()) - enBloque_, caben - escritas);
            std::memcpy(destino + escritas, bloque.muestras.data() + enBloque_, size_t(n) * sizeof(float));
            escritas += n;
            enBloque_ += n;
            if (enBloque_ >= qint64(bloque.muestras.size())) {
                if (bloque.alTerminar) terminados.push_back(std::move(bloque.alTerminar));
                bloques_.pop_front();
                enBloque_ = 0;
            }
        }
        if (escucha_) {
            for (qint64 i = 0; i < escritas; i += SalidaVoz::kBloque)
                escucha_(destino + i, int(std::min<qint64>(SalidaVoz::kBloque, escritas - i)));
            if (escritas == 0 && !vacio_) {
                // The output goes quiet: listeners see one block of silence, as a mixer would give.
                static const std::vector<float> silencio(SalidaVoz::kBloque, 0.0f);
                escucha_(silencio.data(), SalidaVoz::kBloque);
            }
        }
        vacio_ = escritas == 0;
        // The frames are out of our hands now; the owners may schedule more from here.
        for (auto& f : terminados) f();
        return escritas * qint64(sizeof(float));
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::deque<Bloque> bloques_;
    qint64 enBloque_ = 0;
    bool vacio_ = true;
    std::function<void(const float*, int)> escucha_;
};

class SalidaVozQt final : public SalidaVoz {
public:
    explicit SalidaVozQt(int frecuencia) : frecuencia_(frecuencia) {}
    ~SalidaVozQt() override { detener(); }

    std::optional<QString> empezar() override {
        detener();
        const QAudioDevice dispositivo = QMediaDevices::defaultAudioOutput();
        if (dispositivo.isNull()) return QStringLiteral("no hay ninguna salida de audio");
        QAudioFormat formato;
        formato.setSampleRate(frecuencia_);
        formato.setChannelCount(1);
        formato.setSampleFormat(QAudioFormat::Float);
        if (!dispositivo.isFormatSupported(formato))
            return QStringLiteral("la salida de audio no admite %1 Hz mono en coma flotante").arg(frecuencia_);
        cola_ = std::make_unique<ColaVoz>();
        cola_->ponerEscucha(escucha_);
        cola_->open(QIODevice::ReadOnly);
        sink_ = std::make_unique<QAudioSink>(dispositivo, formato);
        // About 0.1 s in the server's hands: short enough for the level to follow the voice.
        sink_->setBufferSize(frecuencia_ / 10 * qsizetype(sizeof(float)));
        sink_->start(cola_.get());
        if (sink_->state() == QAudio::StoppedState && sink_->error() != QAudio::NoError) {
            detener();
            return QStringLiteral("no se pudo abrir la salida de audio");
        }
        return std::nullopt;
    }

    void programar(std::vector<float> muestras, std::function<void()> alTerminar) override {
        if (!cola_) return;
        cola_->anadir({std::move(muestras), std::move(alTerminar)});
    }

    void ponerEscucha(std::function<void(const float*, int)> escucha) override {
        escucha_ = std::move(escucha);
        if (cola_) cola_->ponerEscucha(escucha_);
    }
    void quitarEscucha() override { ponerEscucha({}); }

    void detener() override {
        if (cola_) {
            cola_->vaciar();
            cola_->ponerEscucha({});
        }
        if (sink_) sink_->stop();
        sink_.reset();  // the sink still refers to its queue, so it goes first
        cola_.reset();
    }

private:
    const int frecuencia_;
    std::function<void(const float*, int)> escucha_;
    std::unique_ptr<ColaVoz> cola_;
    std::unique_ptr<QAudioSink> sink_;
};

}  // namespace

std::unique_ptr<SalidaVoz> SalidaVoz::delSistema(int frecuencia) {
    return std::make_unique<SalidaVozQt>(frecuencia);
}
