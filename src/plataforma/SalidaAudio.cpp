#include "plataforma/SalidaAudio.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <algorithm>
#include <cstring>
#include <deque>

namespace {

// The queue the sink pulls from. It hands out whatever is queued and reports nothing when the
// queue is empty, so the sink idles instead of streaming silence.
class Cola : public QIODevice {
public:
    using QIODevice::QIODevice;

    void anadir(std::vector<float> muestras) {
        if (muestras.empty()) return;
        total_ += static_cast<qint64>(muestras.size());
        bloques_.push_back(std::move(muestras));
        Q_EMIT readyRead();
    }
    qint64 pendientes() const { return total_ - posicion_; }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        return pendientes() * qint64(sizeof(float)) + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* datos, qint64 maximo) override {
        qint64 escritos = 0;
        const qint64 cabenMuestras = maximo / qint64(sizeof(float));
        qint64 falta = cabenMuestras;
        while (falta > 0 && !bloques_.empty()) {
            const auto& bloque = bloques_.front();
            const qint64 quedan = static_cast<qint64>(bloque.size()) - enBloque_;
            const qint64 n = std::min(quedan, falta);
            std::memcpy(datos + escritos, bloque.data() + enBloque_, size_t(n) * sizeof(float));
            escritos += n * qint64(sizeof(float));
            falta -= n;
            enBloque_ += n;
            posicion_ += n;
            if (enBloque_ == static_cast<qint64>(bloque.size())) {
                bloques_.pop_front();
                enBloque_ = 0;
            }
        }
        return escritos;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::deque<std::vector<float>> bloques_;
    qint64 enBloque_ = 0;
    qint64 total_ = 0;
    qint64 posicion_ = 0;
};

QString describir(QAudio::Error error) {
    switch (error) {
    case QAudio::OpenError: return QStringLiteral("no se pudo abrir la salida de audio");
    case QAudio::IOError: return QStringLiteral("error de escritura en la salida de audio");
    case QAudio::UnderrunError: return QStringLiteral("la salida de audio se quedó sin datos");
    case QAudio::FatalError: return QStringLiteral("la salida de audio falló");
    case QAudio::NoError: break;
    }
    return QStringLiteral("error desconocido de la salida de audio");
}

class SalidaQt final : public SalidaAudio {
public:
    explicit SalidaQt(QObject* padre) : SalidaAudio(padre) {}
    ~SalidaQt() override { cerrar(); }

    std::optional<QString> encolar(std::vector<float> muestras) override {
        if (auto fallo = arrancar()) return fallo;
        cola_->anadir(std::move(muestras));
        return std::nullopt;
    }

    qint64 pendientes() const override { return cola_ ? cola_->pendientes() : 0; }

private:
    // Opens the output unless it is already open and healthy.
    std::optional<QString> arrancar() {
        if (salida_ && salida_->state() != QAudio::StoppedState) return std::nullopt;
        cerrar();

        const QAudioDevice dispositivo = QMediaDevices::defaultAudioOutput();
        if (dispositivo.isNull()) return QStringLiteral("no hay ninguna salida de audio");
        QAudioFormat formato;
        formato.setSampleRate(frecuencia);
        formato.setChannelCount(1);
        formato.setSampleFormat(QAudioFormat::Float);
        if (!dispositivo.isFormatSupported(formato))
            return QStringLiteral("la salida de audio no admite 44100 Hz mono en coma flotante");

        cola_ = new Cola(this);
        cola_->open(QIODevice::ReadOnly);
        salida_ = new QAudioSink(dispositivo, formato, this);
        salida_->start(cola_);
        if (salida_->error() != QAudio::NoError && salida_->state() == QAudio::StoppedState) {
            const QString motivo = describir(salida_->error());
            cerrar();
            return motivo;
        }
        return std::nullopt;
    }

    // The sink still refers to its queue, so it goes first.
    void cerrar() {
        if (salida_) salida_->stop();
        delete salida_;
        salida_ = nullptr;
        delete cola_;
        cola_ = nullptr;
    }

    QAudioSink* salida_ = nullptr;
    Cola* cola_ = nullptr;
};

}  // namespace

std::unique_ptr<SalidaAudio> SalidaAudio::delSistema() {
    return std::make_unique<SalidaQt>(nullptr);
}
