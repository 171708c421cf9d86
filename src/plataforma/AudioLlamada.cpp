#include "plataforma/AudioLlamada.h"

#include "plataforma/Buzon.h"
#include "plataforma/CanceladorEco.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <deque>
#include <future>

namespace {

constexpr int frecuenciaMicrofono = 48000;

// Speaker chunks waiting for the sink; lives on the audio thread. What the sink takes is also the
// canceller's reference of what the room hears.
class ColaAltavoz : public QIODevice {
public:
    explicit ColaAltavoz(CanceladorEco* eco) : eco_(eco) {}

    void anadir(std::vector<float> muestras, std::function<void()> alSonar) {
        if (muestras.empty()) {
            if (alSonar) alSonar();
            return;
        }
        trozos_.push_back({std::move(muestras), std::move(alSonar)});
        Q_EMIT readyRead();
    }
    void vaciar() {
        trozos_.clear();
        enTrozo_ = 0;
    }

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        qint64 n = 0;
        for (const auto& t : trozos_) n += static_cast<qint64>(t.muestras.size());
        return (n - enTrozo_) * qint64(sizeof(float)) + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* datos, qint64 maximo) override {
        qint64 escritas = 0;
        const qint64 caben = maximo / qint64(sizeof(float));
        auto* destino = reinterpret_cast<float*>(datos);
        std::vector<std::function<void()>> sonados;
        while (escritas < caben && !trozos_.empty()) {
            auto& trozo = trozos_.front();
            const qint64 n = std::min<qint64>(static_cast<qint64>(trozo.muestras.size()) - enTrozo_, caben - escritas);
            std::memcpy(destino + escritas, trozo.muestras.data() + enTrozo_, size_t(n) * sizeof(float));
            escritas += n;
            enTrozo_ += n;
            if (enTrozo_ == static_cast<qint64>(trozo.muestras.size())) {
                if (trozo.alSonar) sonados.push_back(std::move(trozo.alSonar));
                trozos_.pop_front();
                enTrozo_ = 0;
            }
        }
        if (eco_ && escritas > 0) eco_->reproducido(destino, static_cast<int>(escritas), AudioLlamada::frecuenciaAltavoz);
        for (auto& f : sonados) f();
        return escritas * qint64(sizeof(float));
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    struct Trozo {
        std::vector<float> muestras;
        std::function<void()> alSonar;
    };
    CanceladorEco* eco_;
    std::deque<Trozo> trozos_;
    qint64 enTrozo_ = 0;
};

// Everything that runs on the audio thread.
class Motor : public QObject {
public:
    std::optional<QString> arrancar(int marcos, AudioLlamada::Bloque alBloque) {
        marcos_ = marcos;
        alBloque_ = std::move(alBloque);
        QString error;
        eco_ = CanceladorEco::crear(frecuenciaMicrofono, &error);
        if (!eco_) return error;

        const QAudioDevice microfono = QMediaDevices::defaultAudioInput();
        const QAudioDevice salida = QMediaDevices::defaultAudioOutput();
        if (microfono.isNull()) return QStringLiteral("No hay micrófono.");
        if (salida.isNull()) return QStringLiteral("No hay salida de audio.");

        QAudioFormat fm;
        fm.setSampleRate(frecuenciaMicrofono);
        fm.setChannelCount(1);
        fm.setSampleFormat(QAudioFormat::Float);
        fuente_ = new QAudioSource(microfono, fm, this);
        entrada_ = fuente_->start();
        if (!entrada_ || fuente_->error() != QAudio::NoError) return QStringLiteral("No se pudo abrir el micrófono.");
        canales_ = fuente_->format().channelCount();
        frecuencia_ = fuente_->format().sampleRate();
        connect(entrada_, &QIODevice::readyRead, this, [this] { leer(); });

        QAudioFormat fa;
        fa.setSampleRate(AudioLlamada::frecuenciaAltavoz);
        fa.setChannelCount(1);
        fa.setSampleFormat(QAudioFormat::Float);
        cola_ = new ColaAltavoz(eco_.get());
        cola_->setParent(this);
        cola_->open(QIODevice::ReadOnly);
        sumidero_ = new QAudioSink(salida, fa, this);
        sumidero_->start(cola_);
        if (sumidero_->error() != QAudio::NoError) return QStringLiteral("No se pudo abrir la salida de audio.");
        return std::nullopt;
    }

    void detener() {
        if (fuente_) fuente_->stop();
        if (sumidero_) sumidero_->stop();
        delete fuente_;
        delete sumidero_;
        delete cola_;
        fuente_ = nullptr;
        sumidero_ = nullptr;
        cola_ = nullptr;
        entrada_ = nullptr;
        alBloque_ = nullptr;
    }

    void programar(std::vector<float> m, std::function<void()> alSonar) {
        if (cola_) cola_->anadir(std::move(m), std::move(alSonar));
    }
    void vaciar() {
        if (cola_) cola_->vaciar();
    }

    int canales_ = 0;
    int frecuencia_ = 0;

private:
    void leer() {
        if (!entrada_) return;
        const QByteArray datos = entrada_->readAll();
        const int n = static_cast<int>(datos.size() / qsizetype(sizeof(float)));
        if (n <= 0) return;
        const size_t antes = bloque_.size();
        bloque_.resize(antes + size_t(n));
        std::memcpy(bloque_.data() + antes, datos.constData(), size_t(n) * sizeof(float));
        eco_->procesar(bloque_.data() + antes, n);
        const size_t porBloque = size_t(marcos_) * size_t(std::max(1, canales_));
        while (bloque_.size() >= porBloque) {
            if (alBloque_) alBloque_(bloque_.data(), marcos_, canales_, frecuencia_);
            bloque_.erase(bloque_.begin(), bloque_.begin() + static_cast<long>(porBloque));
        }
    }

    int marcos_ = 2048;
    AudioLlamada::Bloque alBloque_;
    std::unique_ptr<CanceladorEco> eco_;
    QAudioSource* fuente_ = nullptr;
    QIODevice* entrada_ = nullptr;
    QAudioSink* sumidero_ = nullptr;
    ColaAltavoz* cola_ = nullptr;
    std::vector<float> bloque_;
};

class AudioDelSistema : public AudioLlamada {
public:
    ~AudioDelSistema() override { detener(); }

    std::optional<QString> arrancar(int marcos, Bloque alBloque) override {
        if (motor_) return QStringLiteral("El audio de la llamada ya está en marcha.");
        hilo_ = std::make_unique<QThread>();
        hilo_->setObjectName(QStringLiteral("audio-llamada"));
        motor_ = new Motor();
        buzon_ = new Buzon(motor_);  // lives and dies with the engine, on the audio thread
        motor_->moveToThread(hilo_.get());
        QObject::connect(hilo_.get(), &QThread::finished, motor_, &QObject::deleteLater);
        hilo_->start(QThread::TimeCriticalPriority);
        std::promise<std::optional<QString>> promesa;
        Motor* m = motor_;
        buzon_->enviar([&promesa, m, marcos, alBloque = std::move(alBloque)]() mutable {
            auto error = m->arrancar(marcos, std::move(alBloque));
            if (error) m->detener();
            promesa.set_value(error);
        });
        const auto error = promesa.get_future().get();
        if (error) {
            detener();
        } else {
            entrada_ = {m->frecuencia_, m->canales_};
        }
        return error;
    }

    Entrada entrada() const override { return entrada_; }

    void programar(std::vector<float> muestras, std::function<void()> alSonar) override {
        if (!motor_) return;
        Motor* m = motor_;
        buzon_->enviar([m, muestras = std::move(muestras), alSonar = std::move(alSonar)]() mutable {
            m->programar(std::move(muestras), std::move(alSonar));
        });
    }

    void vaciar() override {
        if (!motor_) return;
        Motor* m = motor_;
        buzon_->enviar([m] { m->vaciar(); });
    }

    void detener() override {
        if (!hilo_) return;
        if (motor_) {
            std::promise<void> hecho;
            Motor* m = motor_;
            buzon_->enviar([m, &hecho] {
                m->detener();
                hecho.set_value();
            });
            hecho.get_future().wait();
        }
        hilo_->quit();
        hilo_->wait();
        motor_ = nullptr;  // deleted by the thread's end, with its mailbox
        buzon_ = nullptr;
        hilo_.reset();
    }

private:
    std::unique_ptr<QThread> hilo_;
    Motor* motor_ = nullptr;
    Buzon* buzon_ = nullptr;
    Entrada entrada_;
};

}  // namespace

std::unique_ptr<AudioLlamada> AudioLlamada::delSistema() { return std::make_unique<AudioDelSistema>(); }
