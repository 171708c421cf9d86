#include "plataforma/FlujoSonido.h"

#include <QCoreApplication>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

struct FlujoSonido::Estado {
    enum class Apertura { abriendo, lista, fallida };

    Forma forma;
    bool reproduce = true;
    Producir producir;
    Consumir consumir;
    Fallar fallar;
    size_t tamMarco = sizeof(float);

    // Touched on the stream's thread, or elsewhere with the loop's lock held.
    pa_threaded_mainloop* bucle = nullptr;
    pa_context* contexto = nullptr;
    pa_stream* flujo = nullptr;
    bool arrancado = false;
    bool muerto = false;        // failed or closing: nothing more goes to the server
    pa_time_event* vigia = nullptr;    // playback: notices a server that stops taking sound
    pa_usec_t ultimoPedido = 0;        // when the server last asked for sound
    bool conPendiente = false;         // the producer had more than the server took
    std::vector<unsigned char> resto;  // a partial frame of the last recording read
    std::vector<float> marcos;          // whole frames handed to `consumir`

    // The opening, awaited by the caller with a time limit (never on the loop's own lock).
    std::mutex cerrojo;
    std::condition_variable cambio;
    Apertura apertura = Apertura::abriendo;
    QString motivo;

    QString errorDelServidor() const {
        const int n = contexto ? pa_context_errno(contexto) : PA_ERR_UNKNOWN;
        return QString::fromUtf8(pa_strerror(n));
    }

    // The stream can no longer be used: the caller waiting for the opening learns it, or, once
    // open, the owner does (once).
    void fallo(const QString& por) {
        if (muerto) return;
        muerto = true;
        bool avisar = false;
        {
            std::lock_guard<std::mutex> l(cerrojo);
            if (apertura == Apertura::abriendo) {
                apertura = Apertura::fallida;
                motivo = por;
            } else {
                // A stream whose opening was given up never had an owner to tell.
                avisar = apertura == Apertura::lista;
            }
        }
        cambio.notify_all();
        if (avisar && fallar) fallar(por);
    }

    void lista() {
        {
            std::lock_guard<std::mutex> l(cerrojo);
            if (apertura == Apertura::abriendo) apertura = Apertura::lista;
        }
        cambio.notify_all();
    }

    // Hands the server at most `nbytes`, whole frames only.
    void escribir(size_t nbytes) {
        if (muerto || !flujo || nbytes == size_t(-1)) return;
        if (nbytes >= tamMarco) ultimoPedido = pa_rtclock_now();
        size_t quedan = nbytes / tamMarco;
        while (quedan > 0) {
            void* destino = nullptr;
            size_t tam = quedan * tamMarco;
            if (pa_stream_begin_write(flujo, &destino, &tam) < 0 || !destino) {
                fallo(errorDelServidor());
                return;
            }
            const size_t caben = std::min(quedan, tam / tamMarco);
            const size_t n = caben ? std::min(caben, producir(static_cast<float*>(destino), caben)) : 0;
            conPendiente = n == caben;
            if (n == 0) {
                pa_stream_cancel_write(flujo);
                return;
            }
            if (pa_stream_write(flujo, destino, n * tamMarco, nullptr, 0, PA_SEEK_RELATIVE) < 0) {
                fallo(errorDelServidor());
                return;
            }
            quedan -= n;
            if (n < caben) return;  // nothing more to play for now
        }
    }

    void leer() {
        while (!muerto && flujo) {
            const void* datos = nullptr;
            size_t n = 0;
            if (pa_stream_peek(flujo, &datos, &n) < 0) {
                fallo(errorDelServidor());
                return;
            }
            if (n == 0) return;
            if (datos) {
                // A read is whole frames in practice; a partial one waits for the rest anyway.
                const auto* b = static_cast<const unsigned char*>(datos);
                resto.insert(resto.end(), b, b + n);
                const size_t enteros = resto.size() / tamMarco;
                if (enteros > 0) {
                    marcos.resize(enteros * size_t(forma.canales));
                    std::memcpy(marcos.data(), resto.data(), enteros * tamMarco);
                    resto.erase(resto.begin(), resto.begin() + std::ptrdiff_t(enteros * tamMarco));
                    if (consumir) consumir(marcos.data(), enteros);
                }
            }
            // A hole (no data) is a gap the server could not fill: nothing to hand over.
            pa_stream_drop(flujo);
        }
    }

    void crearFlujo() {
        pa_sample_spec spec{};
        spec.format = PA_SAMPLE_FLOAT32LE;
        spec.rate = uint32_t(forma.frecuencia);
        spec.channels = uint8_t(forma.canales);
        if (!pa_sample_spec_valid(&spec)) {
            fallo(QStringLiteral("formato de audio no válido"));
            return;
        }
        flujo = pa_stream_new(contexto, forma.nombre.toUtf8().constData(), &spec, nullptr);
        if (!flujo) {
            fallo(errorDelServidor());
            return;
        }
        pa_stream_set_state_callback(flujo, &Estado::alCambiarFlujo, this);
        const uint32_t bloque = uint32_t(pa_usec_to_bytes(pa_usec_t(forma.bloqueMs) * 1000, &spec));
        pa_buffer_attr atr{};
        atr.maxlength = uint32_t(-1);
        atr.minreq = uint32_t(-1);
        atr.fragsize = uint32_t(-1);
        atr.tlength = uint32_t(-1);
        atr.prebuf = uint32_t(-1);
        const auto banderas = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_NOT_MONOTONIC);
        int r;
        if (reproduce) {
            atr.tlength = bloque;
            // Play as soon as anything arrives: a short cue must not wait for a full buffer.
            atr.prebuf = uint32_t(tamMarco);
            pa_stream_set_write_callback(flujo, &Estado::alPedir, this);
            r = pa_stream_connect_playback(flujo, nullptr, &atr, banderas, nullptr, nullptr);
        } else {
            atr.fragsize = bloque;
            pa_stream_set_read_callback(flujo, &Estado::alLlegar, this);
            r = pa_stream_connect_record(flujo, nullptr, &atr, banderas);
        }
        if (r < 0) fallo(errorDelServidor());
    }

    static void alCambiarContexto(pa_context* c, void* dato) {
        auto* e = static_cast<Estado*>(dato);
        switch (pa_context_get_state(c)) {
        case PA_CONTEXT_READY:
            if (!e->flujo && !e->muerto) e->crearFlujo();
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            e->fallo(e->errorDelServidor());
            break;
        default:
            break;
        }
    }
    static void alCambiarFlujo(pa_stream* s, void* dato) {
        auto* e = static_cast<Estado*>(dato);
        switch (pa_stream_get_state(s)) {
        case PA_STREAM_READY:
            if (e->reproduce && !e->vigia) {
                e->ultimoPedido = pa_rtclock_now();
                e->vigia = pa_context_rttime_new(e->contexto, e->ultimoPedido + PA_USEC_PER_SEC, &Estado::alVigilar, e);
            }
            e->lista();
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            e->fallo(e->errorDelServidor());
            break;
        default:
            break;
        }
    }
    // Sound waiting and no request from the server for this long: it hangs, and the owner must
    // not wait on it.
    static constexpr pa_usec_t kSinPedir = 5 * PA_USEC_PER_SEC;
    static void alVigilar(pa_mainloop_api*, pa_time_event* e, const struct timeval*, void* dato) {
        auto* est = static_cast<Estado*>(dato);
        const pa_usec_t ahora = pa_rtclock_now();
        if (!est->muerto && est->conPendiente && ahora - est->ultimoPedido > kSinPedir) {
            est->fallo(QStringLiteral("el servidor de sonido dejó de tomar el audio"));
            return;
        }
        pa_context_rttime_restart(est->contexto, e, ahora + PA_USEC_PER_SEC);
    }

    static void alPedir(pa_stream*, size_t nbytes, void* dato) { static_cast<Estado*>(dato)->escribir(nbytes); }
    static void alLlegar(pa_stream*, size_t, void* dato) { static_cast<Estado*>(dato)->leer(); }

    // Everything goes; after this no callback runs.
    void cerrar() {
        if (!bucle) return;
        pa_threaded_mainloop_lock(bucle);
        muerto = true;
        if (vigia) {
            pa_threaded_mainloop_get_api(bucle)->time_free(vigia);
            vigia = nullptr;
        }
        if (flujo) {
            pa_stream_set_state_callback(flujo, nullptr, nullptr);
            pa_stream_set_write_callback(flujo, nullptr, nullptr);
            pa_stream_set_read_callback(flujo, nullptr, nullptr);
            pa_stream_disconnect(flujo);
            pa_stream_unref(flujo);
            flujo = nullptr;
        }
        if (contexto) {
            pa_context_set_state_callback(contexto, nullptr, nullptr);
            pa_context_disconnect(contexto);
            pa_context_unref(contexto);
            contexto = nullptr;
        }
        pa_threaded_mainloop_unlock(bucle);
        if (arrancado) pa_threaded_mainloop_stop(bucle);
        pa_threaded_mainloop_free(bucle);
        bucle = nullptr;
    }

    ~Estado() { cerrar(); }

    std::optional<QString> abrir() {
        bucle = pa_threaded_mainloop_new();
        if (!bucle) return QStringLiteral("no se pudo crear el hilo de sonido");
        pa_proplist* props = pa_proplist_new();
        const QByteArray app = QCoreApplication::applicationName().toUtf8();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, app.isEmpty() ? "zentu" : app.constData());
        pa_proplist_sets(props, PA_PROP_APPLICATION_ID, "ai.zentu.voz");
        contexto = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(bucle), nullptr, props);
        pa_proplist_free(props);
        if (!contexto) return QStringLiteral("no se pudo crear la conexión de sonido");
        pa_context_set_state_callback(contexto, &Estado::alCambiarContexto, this);
        // Never start a sound server of our own: the desktop's is the one the owner hears.
        if (pa_context_connect(contexto, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return QStringLiteral("no hay servidor de sonido: ") + errorDelServidor();
        if (pa_threaded_mainloop_start(bucle) < 0) return QStringLiteral("no se pudo arrancar el hilo de sonido");
        arrancado = true;

        std::unique_lock<std::mutex> l(cerrojo);
        const bool llego = cambio.wait_for(l, std::chrono::milliseconds(kEsperaApertura),
                                           [this] { return apertura != Apertura::abriendo; });
        if (!llego) {
            apertura = Apertura::fallida;
            return QStringLiteral("el servidor de sonido no contestó");
        }
        if (apertura == Apertura::fallida) return motivo;
        return std::nullopt;
    }
};

FlujoSonido::FlujoSonido(std::unique_ptr<Estado> estado) : e_(std::move(estado)) {}
FlujoSonido::~FlujoSonido() = default;

namespace {

std::unique_ptr<FlujoSonido::Estado> preparar(const FlujoSonido::Forma& forma) {
    auto e = std::make_unique<FlujoSonido::Estado>();
    e->forma = forma;
    e->forma.canales = std::max(1, forma.canales);
    e->forma.bloqueMs = std::max(1, forma.bloqueMs);
    e->tamMarco = sizeof(float) * size_t(e->forma.canales);
    return e;
}

}  // namespace

std::unique_ptr<FlujoSonido> FlujoSonido::reproducir(const Forma& forma, Producir producir, Fallar fallar,
                                                     QString* error) {
    auto e = preparar(forma);
    e->reproduce = true;
    e->producir = std::move(producir);
    e->fallar = std::move(fallar);
    return abrir(std::move(e), error);
}

std::unique_ptr<FlujoSonido> FlujoSonido::grabar(const Forma& forma, Consumir consumir, Fallar fallar, QString* error) {
    auto e = preparar(forma);
    e->reproduce = false;
    e->consumir = std::move(consumir);
    e->fallar = std::move(fallar);
    return abrir(std::move(e), error);
}

std::unique_ptr<FlujoSonido> FlujoSonido::abrir(std::unique_ptr<Estado> e, QString* error) {
    if (auto motivo = e->abrir()) {
        e->cerrar();
        if (error) *error = *motivo;
        return nullptr;
    }
    return std::unique_ptr<FlujoSonido>(new FlujoSonido(std::move(e)));
}

void FlujoSonido::despertar() {
    if (!e_->bucle || !e_->reproduce || pa_threaded_mainloop_in_thread(e_->bucle)) return;
    pa_threaded_mainloop_lock(e_->bucle);
    if (e_->flujo && !e_->muerto && pa_stream_get_state(e_->flujo) == PA_STREAM_READY) {
        e_->conPendiente = true;
        e_->escribir(pa_stream_writable_size(e_->flujo));
    }
    pa_threaded_mainloop_unlock(e_->bucle);
}

int FlujoSonido::frecuencia() const { return e_->forma.frecuencia; }
int FlujoSonido::canales() const { return e_->forma.canales; }
