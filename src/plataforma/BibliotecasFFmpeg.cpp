#include "plataforma/BibliotecasFFmpeg.h"

#include <QFile>
#include <dlfcn.h>
#include <optional>

namespace {

// Resolves `nombre` in `biblioteca` into `destino`; the reason when it is not there.
template <typename F>
std::optional<QString> resolver(void* biblioteca, const QString& archivo, const char* nombre, F& destino) {
    dlerror();
    void* s = dlsym(biblioteca, nombre);
    if (!s) return QStringLiteral("falta la función %1 en %2").arg(QLatin1String(nombre), archivo);
    destino = reinterpret_cast<F>(s);
    return std::nullopt;
}

}  // namespace

QStringList BibliotecasFFmpeg::nombresDelSistema() {
    return {QStringLiteral("libavutil.so.57"), QStringLiteral("libswresample.so.4"), QStringLiteral("libavcodec.so.59"),
            QStringLiteral("libavformat.so.59")};
}

std::optional<QString> BibliotecasFFmpeg::abrir(const QStringList& nombres, BibliotecasFFmpeg& b) {
    if (nombres.size() != 4 && nombres.size() != 2)
        return QStringLiteral("se esperaban cuatro bibliotecas de FFmpeg, o dos para remuestrear");
    void* h[4] = {};
    for (int i = 0; i < nombres.size(); ++i) {
        h[i] = dlopen(QFile::encodeName(nombres[i]).constData(), RTLD_NOW | RTLD_LOCAL);
        if (!h[i]) {
            const char* motivo = dlerror();
            return QStringLiteral("no se pudo cargar %1: %2").arg(nombres[i], QString::fromLocal8Bit(motivo ? motivo : ""));
        }
    }
    BibliotecasFFmpeg r;
#define ZENTU_RESOLVER(i, f) \
    if (auto fallo = resolver(h[i], nombres[i], #f, r.f)) return fallo;
    ZENTU_RESOLVER(0, av_strerror)
    ZENTU_RESOLVER(0, av_log_set_level)
    ZENTU_RESOLVER(0, av_channel_layout_default)
    ZENTU_RESOLVER(0, av_channel_layout_copy)
    ZENTU_RESOLVER(0, av_frame_alloc)
    ZENTU_RESOLVER(0, av_frame_free)
    ZENTU_RESOLVER(0, av_frame_get_buffer)
    ZENTU_RESOLVER(0, av_frame_make_writable)
    ZENTU_RESOLVER(1, swr_alloc_set_opts2)
    ZENTU_RESOLVER(1, swr_init)
    ZENTU_RESOLVER(1, swr_convert)
    ZENTU_RESOLVER(1, swr_free)
    if (nombres.size() == 2) {
        b = r;
        return std::nullopt;
    }
    ZENTU_RESOLVER(2, av_packet_alloc)
    ZENTU_RESOLVER(2, av_packet_free)
    ZENTU_RESOLVER(2, av_packet_rescale_ts)
    ZENTU_RESOLVER(2, avcodec_find_encoder)
    ZENTU_RESOLVER(2, avcodec_alloc_context3)
    ZENTU_RESOLVER(2, avcodec_free_context)
    ZENTU_RESOLVER(2, avcodec_open2)
    ZENTU_RESOLVER(2, avcodec_parameters_from_context)
    ZENTU_RESOLVER(2, avcodec_send_frame)
    ZENTU_RESOLVER(2, avcodec_receive_packet)
    ZENTU_RESOLVER(3, avformat_alloc_output_context2)
    ZENTU_RESOLVER(3, avformat_free_context)
    ZENTU_RESOLVER(3, avformat_new_stream)
    ZENTU_RESOLVER(3, avformat_write_header)
    ZENTU_RESOLVER(3, av_interleaved_write_frame)
    ZENTU_RESOLVER(3, av_write_trailer)
    ZENTU_RESOLVER(3, avio_open)
    ZENTU_RESOLVER(3, avio_closep)
#undef ZENTU_RESOLVER
    b = r;
    return std::nullopt;
}

namespace {

// Opened once; a failure is remembered too (the libraries of the system do not appear later).
struct Carga {
    BibliotecasFFmpeg b;
    std::optional<QString> fallo;
};

const BibliotecasFFmpeg* entregar(const Carga& carga, QString* error) {
    if (carga.fallo) {
        if (error) *error = *carga.fallo;
        return nullptr;
    }
    return &carga.b;
}

}  // namespace

const BibliotecasFFmpeg* BibliotecasFFmpeg::cargar(QString* error) {
    static const Carga carga = [] {
        Carga c;
        c.fallo = abrir(nombresDelSistema(), c.b);
        return c;
    }();
    return entregar(carga, error);
}

const BibliotecasFFmpeg* BibliotecasFFmpeg::cargarRemuestreo(QString* error) {
    static const Carga carga = [] {
        Carga c;
        c.fallo = abrir(nombresDelSistema().mid(0, 2), c.b);
        return c;
    }();
    return entregar(carga, error);
}
