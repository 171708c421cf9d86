#include "plataforma/GrabadoraAudio.h"

#include "plataforma/CodificadorAac.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSource>
#include <QIODevice>
#include <QMediaDevices>
#include <cmath>
#include <vector>

float GrabadoraAudio::potencia(const float* muestras, qsizetype n) {
    if (n <= 0) return kSilencio;
    double suma = 0;
    for (qsizetype i = 0; i < n; ++i) suma += double(muestras[i]) * muestras[i];
    const double rms = std::sqrt(suma / double(n));
    if (rms <= 0) return kSilencio;
    return std::max(kSilencio, float(20.0 * std::log10(rms)));
}

namespace {

class GrabadoraQt final : public GrabadoraAudio {
public:
    ~GrabadoraQt() override { detener(); }

    std::optional<QString> grabar(const QString& ruta) override {
        detener();
        const QAudioDevice microfono = QMediaDevices::defaultAudioInput();
        if (microfono.isNull()) return QStringLiteral("no hay ningún micrófono");
        QAudioFormat formato;
        formato.setSampleRate(CodificadorAac::kFrecuencia);
        formato.setChannelCount(1);
        formato.setSampleFormat(QAudioFormat::Float);
        if (!microfono.isFormatSupported(formato))
            return QStringLiteral("el micrófono no da 16 kHz mono en coma flotante");
        if (auto fallo = codificador_.abrir(ruta)) return fallo;
        fuente_ = std::make_unique<QAudioSource>(microfono, formato);
        entrada_ = fuente_->start();
        if (!entrada_ || fuente_->error() != QAudio::NoError) {
            fuente_.reset();
            entrada_ = nullptr;
            codificador_.cerrar();
            return QStringLiteral("el micrófono no quiso empezar");
        }
        potencia_ = kSilencio;
        suma_ = 0;
        cuantas_ = 0;
        // Everything the microphone delivers goes to the file at once; the meter only sums.
        QObject::connect(entrada_, &QIODevice::readyRead, entrada_, [this] { tomar(); });
        return std::nullopt;
    }

    void actualizarMedidores() override {
        tomar();
        if (cuantas_ <= 0) return;
        const double rms = std::sqrt(suma_ / double(cuantas_));
        potencia_ = rms > 0 ? std::max(kSilencio, float(20.0 * std::log10(rms))) : kSilencio;
        suma_ = 0;
        cuantas_ = 0;
    }

    float potenciaMedia() const override { return potencia_; }

    std::optional<QString> detener() override {
        if (!fuente_) return std::nullopt;
        tomar();
        fuente_->stop();
        fuente_.reset();
        entrada_ = nullptr;
        auto fallo = codificador_.cerrar();
        if (falloAlEscribir_) fallo = falloAlEscribir_;
        falloAlEscribir_.reset();
        return fallo;
    }

private:
    void tomar() {
        if (!entrada_) return;
        const QByteArray bytes = entrada_->readAll();
        const qsizetype n = bytes.size() / qsizetype(sizeof(float));
        if (n <= 0) return;
        const auto* m = reinterpret_cast<const float*>(bytes.constData());
        for (qsizetype i = 0; i < n; ++i) suma_ += double(m[i]) * m[i];
        cuantas_ += n;
        if (!falloAlEscribir_) falloAlEscribir_ = codificador_.agregar(m, n);
    }

    std::unique_ptr<QAudioSource> fuente_;
    double suma_ = 0;
    qsizetype cuantas_ = 0;
    QIODevice* entrada_ = nullptr;
    CodificadorAac codificador_;
    float potencia_ = kSilencio;
    std::optional<QString> falloAlEscribir_;
};

}  // namespace

std::unique_ptr<GrabadoraAudio> GrabadoraAudio::delSistema() { return std::make_unique<GrabadoraQt>(); }
