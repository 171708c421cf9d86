// The call's audio: microphone blocks to the wire, the agent's voice to the speakers, barge-in,
// level and the microphone statistics.
#include "zentu/voz/Llamada.h"

#include "plataforma/Buzon.h"
#include "plataforma/ConvertidorMuestras.h"
#include "plataforma/Registro.h"

#include <QJsonDocument>
#include <QWebSocket>
#include <algorithm>
#include <cmath>

namespace {
constexpr int frecuenciaRed = 24000;
constexpr int marcosPorBloque = 2048;
}  // namespace

std::optional<QString> Llamada::arrancarAudio() {
    if (!audio_) audio_ = AudioLlamada::delSistema();
    // The tap may call in before this returns: it only touches audio-thread state and atomics.
    if (auto error = audio_->arrancar(marcosPorBloque, [this](const float* d, int m, int c, int f) { alBloque(d, m, c, f); })) {
        return error;
    }
    const auto entrada = audio_->entrada();
    registrar(QStringLiteral("[llamada] audio listo · micrófono %1 Hz × %2 · procesado de voz encendido")
                  .arg(entrada.frecuencia)
                  .arg(entrada.canales));
    return std::nullopt;
}

double Llamada::nivel(const qint16* muestras, qint64 cuantas) {
    if (cuantas < 1) return 0;
    double suma = 0;
    for (qint64 i = 0; i < cuantas; i += 2) {
        const double s = muestras[i] / 32768.0;
        suma += s * s;
    }
    return std::min(1.0, std::sqrt(suma / static_cast<double>((cuantas + 1) / 2)) * 5.0);
}

void Llamada::alBloque(const float* datos, int marcos, int canales, int frecuencia) {
    if (terminadaAudio_.load()) return;
    medirCanales(datos, marcos, canales);
    enviarMicrofono(datos, marcos, canales, frecuencia);
}

void Llamada::medirCanales(const float* datos, int marcos, int canales) {
    if (!datos || marcos <= 0 || canales <= 0) return;
    if (micPorCanal_.size() != static_cast<size_t>(canales)) micPorCanal_.assign(static_cast<size_t>(canales), 0.0);
    for (int c = 0; c < canales; ++c) {
        float suma = 0;
        for (int i = 0; i < marcos; i += 4) {
            const float s = datos[static_cast<qint64>(i) * canales + c];
            suma += s * s;
        }
        const double pico = std::sqrt(suma / static_cast<float>((marcos + 3) / 4));
        micPorCanal_[static_cast<size_t>(c)] = std::max(micPorCanal_[static_cast<size_t>(c)], pico);
    }
}

void Llamada::enviarMicrofono(const float* datos, int marcos, int canales, int frecuencia) {
    if (!sesionIniciada_.load() || terminadaAudio_.load() || !datos || marcos <= 0 || canales <= 0 || frecuencia <= 0) return;
    if (!convertidor_ || convertidor_->deFrecuencia() != frecuencia) {
        convertidor_ = ConvertidorMuestras::crear(frecuencia, frecuenciaRed, nullptr);
        if (!convertidor_) return;
    }
    const double duracion = static_cast<double>(marcos) / frecuencia;
    const bool agenteHabla = hablando_.load();

    if (silenciada_.load()) {
        ++micCallados_;
        resumirMicrofono(duracion);
        // The guardian sees the microphone alive; the orb goes quiet.
        buzon_->enviar([this, agenteHabla] {
            ultimoBloque_ = reloj_.segundos();
            if (!agenteHabla && !hablando_.load() && alNivel) alNivel(0);
        });
        return;
    }

    mono_.resize(static_cast<size_t>(marcos));
    for (int i = 0; i < marcos; ++i) mono_[static_cast<size_t>(i)] = datos[static_cast<qint64>(i) * canales];
    const int capacidad = static_cast<int>(static_cast<quint32>(static_cast<qint64>(marcos) * frecuenciaRed / frecuencia)) + 64;
    const auto salida = convertidor_->convertir(mono_.data(), marcos, capacidad);
    QString texto;
    double nivelBloque = 0;
    if (salida) {
        const qint64 cuantas = salida->size() / 2;
        if (cuantas > 0) {
            texto = QString::fromUtf8(QJsonDocument(QJsonObject{{"type", "input_audio_buffer.append"},
                                                                 {"audio", QString::fromLatin1(salida->toBase64())}})
                                          .toJson(QJsonDocument::Compact));
        }
        nivelBloque = nivel(reinterpret_cast<const qint16*>(salida->constData()), cuantas);
        micBytes_ += salida->size();
        ++micBloques_;
        micPico_ = std::max(micPico_, nivelBloque);
    }
    resumirMicrofono(duracion);
    // The socket belongs to the main thread: the block goes out on its next turn, or not at all
    // once the call has ended (the socket is gone then).
    buzon_->enviar([this, texto, nivelBloque, agenteHabla, convertido = salida.has_value()] {
        ultimoBloque_ = reloj_.segundos();
        if (!texto.isEmpty() && ws_ && !terminada_) {
            if (ws_->sendTextMessage(texto) <= 0) {
                registrar(QStringLiteral("[llamada] no se pudo enviar: ") + ws_->errorString());
            }
        }
        if (convertido && !agenteHabla && !hablando_.load() && alNivel) alNivel(nivelBloque);
    });
}

void Llamada::resumirMicrofono(double duracion) {
    micDesdeResumen_ += duracion;
    if (micDesdeResumen_ < 2.0) return;
    QStringList piezas;
    for (size_t i = 0; i < micPorCanal_.size(); ++i) {
        piezas << QStringLiteral("c%1=%2").arg(i).arg(micPorCanal_[i], 0, 'f', 3);
    }
    const QString linea = QStringLiteral("[llamada] micrófono 2 s · nivel máx %1 · %2 bloques · %3 KB enviados · %4 callados (silenciada) · agente hablando: %5 · crudo por canal: %6")
                              .arg(micPico_, 0, 'f', 2)
                              .arg(micBloques_)
                              .arg(micBytes_ / 1024)
                              .arg(micCallados_)
                              .arg(hablando_.load() ? QStringLiteral("sí") : QStringLiteral("no"))
                              .arg(piezas.join(u' '));
    // Logged from the main thread, like every other line of the call.
    buzon_->enviar([this, linea] { registrar(linea); });
    micBytes_ = 0;
    micBloques_ = 0;
    micCallados_ = 0;
    micPico_ = 0;
    micDesdeResumen_ = 0;
    std::fill(micPorCanal_.begin(), micPorCanal_.end(), 0.0);
}

void Llamada::sonar(const QByteArray& bytes, const std::optional<QString>& item) {
    if (bytes.size() < 2 || !audio_) return;
    const qint64 marcos = bytes.size() / 2;
    std::vector<float> muestras(static_cast<size_t>(marcos));
    std::vector<qint16> enteros(static_cast<size_t>(marcos));
    const auto* b = reinterpret_cast<const uchar*>(bytes.constData());
    for (qint64 i = 0; i < marcos; ++i) {
        const auto s = static_cast<qint16>(static_cast<quint16>(b[2 * i] | (b[2 * i + 1] << 8)));
        enteros[static_cast<size_t>(i)] = s;
        muestras[static_cast<size_t>(i)] = static_cast<float>(s) / 32768.0f;
    }
    if (item != itemSonando_) {
        itemSonando_ = item;
        muestrasOidas_ = 0;
    }
    ++buffersPendientes_;
    const quint64 generacion = generacionAltavoz_;
    audio_->programar(std::move(muestras), [this, item, marcos, generacion] {
        buzon_->enviar([this, item, marcos, generacion] {
            if (generacion == generacionAltavoz_) sonado(item, marcos);
        });
    });
    if (!hablando_.load()) {
        hablando_.store(true);
        fase(Fase::hablando);
    }
    if (alNivel) alNivel(nivel(enteros.data(), marcos));
}

void Llamada::sonado(const std::optional<QString>& item, qint64 marcos) {
    if (terminada_) return;
    if (item == itemSonando_) muestrasOidas_ += marcos;
    buffersPendientes_ = std::max<qint64>(0, buffersPendientes_ - 1);
    if (buffersPendientes_ == 0 && respuestaTerminada_ && hablando_.load()) {
        hablando_.store(false);
        fase(Fase::escuchando);
    }
}

void Llamada::interrumpir() {
    if (!hablando_.load() && buffersPendientes_ == 0) return;
    const qint64 ms = muestrasOidas_ * 1000 / frecuenciaRed;
    // Chunks dropped here never report back; a stale report could not match anyway.
    if (audio_) audio_->vaciar();
    ++generacionAltavoz_;
    buffersPendientes_ = 0;
    if (itemSonando_) {
        enviar(QJsonObject{{"type", "conversation.item.truncate"},
                           {"item_id", *itemSonando_},
                           {"content_index", 0},
                           {"audio_end_ms", ms}});
    }
    itemSonando_.reset();
    hablando_.store(false);
    registrar(QStringLiteral("[llamada] interrumpido a los %1 ms").arg(ms));
}
