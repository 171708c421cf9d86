#include "zentu/voz/Conversacion.h"

#include "plataforma/CarpetaPrivada.h"
#include "plataforma/Registro.h"
#include "zentu/chat/ChatZentu.h"
#include "zentu/conexion/CanalEnVivo.h"
#include "zentu/voz/Caracteres.h"
#include "zentu/voz/Pantalla.h"

#include <QFile>
#include <QJsonObject>
#include <QMetaObject>
#include <QRegularExpression>
#include <QUrl>
#include <QUuid>
#include <algorithm>
#include <cmath>

namespace {

const QString kAvisoMicrofono =
    QStringLiteral("No se pudo usar el micrófono. Revisa el permiso en Configuración → Privacidad.");
const QString kAvisoNoTeOi = QStringLiteral("No te oí. Vuelve a intentarlo.");
const QString kAvisoNoEntendi = QStringLiteral("No pude entender la nota. Prueba otra vez.");
const QString kAvisoRepite = QStringLiteral("No te entendí. Repítelo, por favor.");
const QString kAvisoRuido = QStringLiteral("Solo oigo ruido: cerré la conversación.");
const QString kAvisoNota = QStringLiteral("No se pudo enviar la nota. Revisa la conexión.");
const QString kAvisoNoSeEnvio = QStringLiteral("No se pudo enviar a Zentu.");
const QString kAvisoATiempo = QStringLiteral("Zentu no contestó a tiempo. Mira el chat.");
const QString kAvisoAudio = QStringLiteral("No pude leer la respuesta en voz alta. Está en el chat.");

}  // namespace

Conversacion::Conversacion(ChatZentu& chat, Partes partes, QObject* padre)
    : QObject(padre), chat_(&chat), reloj_(chat.reloj()), partes_(std::move(partes)) {
    if (!partes_.grabadora) partes_.grabadora = [] { return GrabadoraAudio::delSistema(); };
    if (!partes_.voz) partes_.voz = [] { return std::make_unique<VozATrozos>(); };
    if (!partes_.capturar) partes_.capturar = [] { return Pantalla::capturar(); };
    QPointer<Conversacion> yo(this);
    chat.canal().on(QStringLiteral("voice:tts-trozo"), [yo](std::optional<QJsonValue> v) {
        if (!yo) return;
        QMetaObject::invokeMethod(
            yo.data(), [yo, v = std::move(v)] { if (yo) yo->trozo(v); }, Qt::QueuedConnection);
    });
}

Conversacion::~Conversacion() {
    vad_.cancelar();
    medidor_.cancelar();
    if (voz_) voz_->detener();
    if (grabadora_) grabadora_->detener();
}

void Conversacion::anotar(const QString& linea) { Registro::escribir(linea); }

void Conversacion::fase(Fase f) {
    if (alCambiarFase) alCambiarFase(f);
}

std::optional<QString> Conversacion::archivoNota() {
    QString motivo;
    const auto carpeta = CarpetaPrivada::ruta(&motivo);
    if (!carpeta) {
        anotar(QStringLiteral("[conversación] sin carpeta privada: ") + motivo);
        return std::nullopt;
    }
    return *carpeta + QStringLiteral("/zentu-nota.m4a");
}

double Conversacion::nivelDe(float potencia) {
    return std::min(std::sqrt(std::pow(10.0, double(potencia) / 20.0)) * 1.4, 1.0);
}

// ------------------------------------------------------------------ the take

void Conversacion::grabar(bool manosLibres) {
    const auto ruta = archivoNota();
    if (!ruta) {
        terminar(kAvisoMicrofono);
        return;
    }
    QFile::remove(*ruta);
    auto grabadora = partes_.grabadora();
    if (const auto fallo = grabadora ? grabadora->grabar(*ruta) : std::optional<QString>(QStringLiteral("sin grabadora"))) {
        anotar(QStringLiteral("[conversación] micrófono: ") + *fallo);
        QFile::remove(*ruta);
        terminar(kAvisoMicrofono);
        return;
    }
    grabadora_ = std::move(grabadora);
    {
        // The microphone lost mid-take ends the conversation like one that would not open; the
        // recorder is let go from our own turn of the loop, not from inside its report.
        QPointer<Conversacion> yo(this);
        const quint64 gen = generacion_;
        grabadora_->alFallar = [yo, gen](const QString& motivo) {
            QMetaObject::invokeMethod(
                yo.data(),
                [yo, gen, motivo] {
                    if (!yo || gen != yo->generacion_ || !yo->grabadora_) return;
                    anotar(QStringLiteral("[conversación] micrófono: ") + motivo);
                    yo->pararMedidor();
                    if (yo->alNivel) yo->alNivel(0);
                    yo->terminar(kAvisoMicrofono);
                },
                Qt::QueuedConnection);
        };
    }
    inicioGrabacion_ = reloj_.segundos();
    vad_.cancelar();
    enManosLibres_ = manosLibres;
    if (manosLibres) {
        oyoVoz_ = false;
        muestrasPiso_.clear();
        piso_ = kPisoInicial;
        seguidas_ = 0;
        armarVad();
    }
    fase(Fase::escuchando);
    medir([this] {
        if (!grabadora_) return 0.0;
        grabadora_->actualizarMedidores();
        return nivelDe(grabadora_->potenciaMedia());
    });
}

void Conversacion::medir(std::function<double()> fuente) {
    fuenteNivel_ = std::move(fuente);
    armarMedidor();
}

void Conversacion::armarMedidor() {
    medidor_ = reloj_.programar(kTick, this, [this] {
        armarMedidor();
        if (alNivel && fuenteNivel_) alNivel(fuenteNivel_());
    });
}

void Conversacion::pararMedidor() {
    medidor_.cancelar();
    fuenteNivel_ = nullptr;
}

void Conversacion::armarVad() {
    vad_ = reloj_.programar(kTick, this, [this] {
        armarVad();
        vigilarVoz();
    });
}

void Conversacion::vigilarVoz() {
    if (!grabadora_) return;
    grabadora_->actualizarMedidores();
    const float p = grabadora_->potenciaMedia();
    const double ahora = reloj_.segundos();
    const double t = ahora - inicioGrabacion_;

    if (muestrasPiso_.size() <= size_t(kCalibracion - 1)) {
        muestrasPiso_.push_back(p);
        piso_ = *std::min_element(muestrasPiso_.begin(), muestrasPiso_.end());
        return;
    }
    const bool fuerte = p > std::max(piso_ + kMargen, kUmbralMinimo);
    if (fuerte) {
        ++seguidas_;
        if (!oyoVoz_ && seguidas_ >= kSeguidasVoz) {
            anotar(QStringLiteral("[conversación] manos libres: oí voz (%1 dB, piso %2)")
                       .arg(static_cast<long long>(std::trunc(p)))
                       .arg(static_cast<long long>(std::trunc(piso_))));
            oyoVoz_ = true;
        }
        if (oyoVoz_) ultimoSonido_ = ahora;
    } else {
        seguidas_ = 0;
    }

    if (oyoVoz_) {
        const double s = ahora - ultimoSonido_;
        if ((soloNota ? s > kSilencioNota : s > kSilencioPregunta) || t > kTomaMaxima) {
            vad_.cancelar();
            soltar();
        }
    } else if (t > kNadieHabla) {
        anotar(QStringLiteral("[conversación] manos libres: nadie habló; se cierra"));
        // Both timers stop before the recorder goes: none may tick into it while it closes.
        vad_.cancelar();
        pararMedidor();
        pararGrabadora();
        if (alNivel) alNivel(0);
        terminar(std::nullopt);
    }
}

void Conversacion::pararGrabadora() {
    if (!grabadora_) return;
    grabadora_->detener();
    grabadora_.reset();
    if (const auto ruta = archivoNota()) QFile::remove(*ruta);
}

void Conversacion::soltar() {
    if (!activa || !grabadora_) return;
    vad_.cancelar();
    pararMedidor();
    const double d = reloj_.segundos() - inicioGrabacion_;
    const auto fallo = grabadora_->detener();
    grabadora_.reset();
    if (alNivel) alNivel(0);

    std::optional<QByteArray> audio;
    if (const auto ruta = archivoNota()) {
        QFile archivo(*ruta);
        if (!fallo && archivo.open(QIODevice::ReadOnly)) audio = archivo.readAll();
        if (fallo) anotar(QStringLiteral("[conversación] grabación: ") + *fallo);
        // The take lives in memory from here on; nothing of it stays on disk.
        archivo.close();
        QFile::remove(*ruta);
    }
    if (d > kTomaMinima && audio) {
        fase(Fase::pensando);
        [[maybe_unused]] auto tarea = procesar(std::move(*audio), generacion_);
        return;
    }
    anotar(QStringLiteral("[conversación] nota descartada: ") + QString::number(d, 'f', 2) + QStringLiteral(" s"));
    terminar(kAvisoNoTeOi);
}

QCoro::Task<void> Conversacion::procesar(QByteArray audio, quint64 gen) {
    QPointer<Conversacion> yo(this);
    QPointer<ChatZentu> chat = chat_;
    if (!chat) co_return;
    chat->setGrabandoNota(false);
    chat->setTranscribiendo(true);
    QJsonObject extra;
    extra.insert(QStringLiteral("mimeType"), QStringLiteral("audio/m4a"));
    const std::optional<QJsonObject> r =
        co_await chat->canal().pedirConAudio(QStringLiteral("voice:audio"), audio, extra, kEsperaTranscripcion);
    if (chat) chat->setTranscribiendo(false);
    if (!yo || !chat || !activa || gen != generacion_) co_return;

    if (!r || r->value(QStringLiteral("ok")) != QJsonValue(true)) {
        terminar(kAvisoNoEntendi);
        co_return;
    }
    const QJsonValue v = r->value(QStringLiteral("text"));
    const QString texto = v.isString() ? v.toString().trimmed() : QString();
    if (texto.isEmpty() || r->value(QStringLiteral("skipped")) == QJsonValue(true)) {
        vacia();
        co_return;
    }
    vacias = 0;
    anotar(QStringLiteral("[conversación] transcrito: %1 caracteres").arg(Caracteres::contar(texto)));
    if (soloNota) {
        const bool enviada = co_await chat->enviar(texto);
        if (!yo) co_return;
        anotar(QStringLiteral("[conversación] nota de voz al chat: ") +
               (enviada ? QStringLiteral("enviada") : QStringLiteral("falló")));
        if (gen != generacion_) co_return;
        terminar(enviada ? std::nullopt : std::optional<QString>(kAvisoNota));
        co_return;
    }
    [[maybe_unused]] auto pregunta = preguntar(texto);
}

void Conversacion::vacia() {
    anotar(QStringLiteral("[conversación] la transcripción vino vacía"));
    if (soloNota || !enManosLibres_) {
        terminar(soloNota && enManosLibres_ ? kAvisoRuido : kAvisoRepite);
        return;
    }
    if (vacias <= 0) {
        vacias += 1;
        seguirEscuchando();
        return;
    }
    terminar(kAvisoRuido);
}

void Conversacion::terminar(std::optional<QString> aviso) {
    if (!activa) return;
    vad_.cancelar();
    pararMedidor();
    // Whatever ends the conversation also lets go of the microphone and the speakers.
    pararGrabadora();
    soltarVoz();
    escucha_.cancelar();
    cierre_.cancelar();
    if (chat_) chat_->setGrabandoNota(false);
    activa = false;
    ++generacion_;
    pararMedidor();
    if (alTerminar) alTerminar(aviso);
}

void Conversacion::cancelar(bool silencioso) {
    if (!activa) return;
    cierre_.cancelar();
    vad_.cancelar();
    pararMedidor();
    esperandoRespuesta_ = false;
    if (chat_) {
        chat_->alMensajeDeZentu = nullptr;
        chat_->alTerminarTurno = nullptr;
    }
    pararGrabadora();
    if (chat_) chat_->setGrabandoNota(false);
    soltarVoz();
    pararMedidor();
    escucha_.cancelar();
    activa = false;
    ++generacion_;
    if (!silencioso && alTerminar) alTerminar(std::nullopt);
}

// ------------------------------------------------------------------ the answer

QCoro::Task<void> Conversacion::preguntar(QString texto) {
    QPointer<Conversacion> yo(this);
    activa = true;
    fase(Fase::pensando);
    respuestas_.clear();
    soltarVoz();
    desdeLaPregunta_ = reloj_.segundos();
    esperandoRespuesta_ = true;
    // A new question: whatever the previous one still awaits is no longer ours.
    const quint64 gen = ++generacion_;
    QPointer<ChatZentu> chat = chat_;
    if (!chat) co_return;
    chat->alMensajeDeZentu = [yo](const ChatZentu::Mensaje& m) {
        if (yo) yo->llego(m.texto);
    };
    chat->alTerminarTurno = [yo] {
        if (!yo || !yo->esperandoRespuesta_) return;
        yo->programarCierre(yo->respuestas_.isEmpty() ? 15.0 : 0.8);
    };

    if (Pantalla::loPide(texto)) {
        QString ruta;
        std::optional<QString> fallo;
        try {
            ruta = co_await partes_.capturar();
        } catch (const Pantalla::Error& e) {
            fallo = e.texto();
        } catch (const std::exception& e) {
            fallo = QString::fromUtf8(e.what());
        }
        if (!yo || gen != generacion_) {
            if (!ruta.isEmpty()) QFile::remove(ruta);
            co_return;
        }
        if (fallo) {
            esperandoRespuesta_ = false;
            terminar(*fallo);
            co_return;
        }
        anotar(QStringLiteral("[conversación] pidió ver la pantalla: va la captura con la pregunta"));
        const QUrl archivo = QUrl::fromLocalFile(ruta);
        const std::optional<QString> error = co_await chat->enviarArchivo(archivo, texto);
        // Sent or not, the picture does not stay behind.
        QFile::remove(ruta);
        if (!yo || gen != generacion_) co_return;
        if (error) {
            esperandoRespuesta_ = false;
            terminar(*error);
            co_return;
        }
        programarCierre(120);
        co_return;
    }

    const bool enviado = co_await chat->enviar(texto);
    if (!yo || gen != generacion_) co_return;
    if (enviado) {
        programarCierre(120);
    } else {
        esperandoRespuesta_ = false;
        terminar(kAvisoNoSeEnvio);
    }
}

void Conversacion::programarCierre(double segundos) {
    cierre_ = reloj_.programar(segundos, this, [this] { yaNoLlegaMas(); });
}

void Conversacion::llego(const QString& texto) {
    if (!esperandoRespuesta_) return;
    programarCierre(4);
    static const QRegularExpression sigo(QStringLiteral("^sigo trabajando"), QRegularExpression::CaseInsensitiveOption);
    if (sigo.match(texto.trimmed()).hasMatch()) return;
    respuestas_.append(texto);
    const QString hablado = ChatZentu::paraVoz(texto);
    if (!hablado.isEmpty()) cola_.append(Caracteres::primeros(hablado, kMaximoHablado));
    if (!leyendo_) leerSiguiente();
}

void Conversacion::yaNoLlegaMas() {
    if (!esperandoRespuesta_) return;
    if (chat_ && chat_->escribiendo() && reloj_.segundos() - desdeLaPregunta_ < 120) {
        programarCierre(2);
        return;
    }
    esperandoRespuesta_ = false;
    if (chat_) {
        chat_->alMensajeDeZentu = nullptr;
        chat_->alTerminarTurno = nullptr;
    }
    anotar(QStringLiteral("[conversación] respuesta de Zentu: %1 mensajes").arg(respuestas_.size()));
    if (!respuestas_.isEmpty()) revisarFin();
    else terminar(kAvisoATiempo);
}

void Conversacion::leerSiguiente() {
    if (activa && !cola_.isEmpty()) {
        const QString texto = cola_.takeFirst();
        leyendo_ = true;
        idActual_ = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        [[maybe_unused]] auto tarea = hablar(texto, idActual_, generacion_);
        return;
    }
    revisarFin();
}

QCoro::Task<void> Conversacion::hablar(QString texto, QString id, quint64 gen) {
    QPointer<Conversacion> yo(this);
    if (!voz_) {
        auto voz = partes_.voz();
        const auto fallo = voz->empezar();
        if (fallo) {
            anotar(QStringLiteral("[conversación] no se pudo abrir el audio: ") + *fallo);
            leyendo_ = false;
            terminar(kAvisoAudio);
            co_return;
        }
        voz_ = std::move(voz);
        const quint64 genVoz = gen;
        voz_->alFallar = [yo, genVoz](const QString& motivo) {
            if (!yo || genVoz != yo->generacion_ || !yo->activa) return;
            anotar(QStringLiteral("[conversación] se perdió el audio: ") + motivo);
            yo->esperandoRespuesta_ = false;
            if (yo->chat_) {
                yo->chat_->alMensajeDeZentu = nullptr;
                yo->chat_->alTerminarTurno = nullptr;
            }
            yo->terminar(kAvisoAudio);
        };
    }
    QPointer<ChatZentu> chat = chat_;
    if (!chat) co_return;
    const double inicio = reloj_.segundos();
    QJsonObject datos;
    datos.insert(QStringLiteral("text"), texto);
    datos.insert(QStringLiteral("id"), id);
    const std::optional<QJsonObject> r =
        co_await chat->canal().pedir(QStringLiteral("voice:tts-stream"), datos, kEsperaVoz);
    if (!yo) co_return;
    const bool ok = r && r->value(QStringLiteral("ok")) == QJsonValue(true);
    anotar(QStringLiteral("[conversación] voz a trozos: %1 caracteres en %2 s · ok=%3")
               .arg(Caracteres::contar(texto))
               .arg(reloj_.segundos() - inicio, 0, 'f', 1)
               .arg(ok ? QStringLiteral("true") : QStringLiteral("false")));
    if (gen != generacion_) co_return;
    if (activa) {
        leyendo_ = false;
        leerSiguiente();
    }
}

void Conversacion::trozo(const std::optional<QJsonValue>& datos) {
    if (!activa || !datos || !datos->isObject()) return;
    const QJsonObject o = datos->toObject();
    const QJsonValue id = o.value(QStringLiteral("id"));
    const QJsonValue audio = o.value(QStringLiteral("audio"));
    if (!id.isString() || id.toString() != idActual_ || idActual_.isEmpty() || !audio.isString()) return;
    const auto decodificado =
        QByteArray::fromBase64Encoding(audio.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decodificado || !voz_) return;
    if (!hablando_) {
        hablando_ = true;
        fase(Fase::hablando);
        anotar(QStringLiteral("[conversación] empieza a sonar"));
        medir([this] { return voz_ ? voz_->nivel() : 0.0; });
    }
    voz_->agregar(*decodificado);
}

void Conversacion::revisarFin() {
    if (!activa || esperandoRespuesta_ || leyendo_ || !cola_.isEmpty()) return;
    if (voz_) {
        QPointer<Conversacion> yo(this);
        voz_->alTerminar = [yo] {
            if (!yo) return;
            yo->pararMedidor();
            if (yo->alNivel) yo->alNivel(0);
            yo->soltarVoz();
            yo->seguirEscuchando();
        };
        voz_->cerrar();
        return;
    }
    terminar(respuestas_.isEmpty() ? std::optional<QString>(kAvisoATiempo) : std::nullopt);
}

void Conversacion::soltarVoz() {
    if (voz_) {
        voz_->alTerminar = nullptr;
        voz_->detener();
        // It may be the player's own call that brought us here: it goes once that returns.
        voz_.release()->deleteLater();
    }
    hablando_ = false;
    cola_.clear();
    leyendo_ = false;
}

void Conversacion::seguirEscuchando() {
    if (!activa) return;
    const quint64 gen = generacion_;
    escucha_ = reloj_.programar(kReescucha, this, [this, gen] {
        if (!activa || grabadora_ || gen != generacion_) return;
        anotar(QStringLiteral("[conversación] manos libres: te escucho"));
        grabar(true);
    });
}
