#include "plataforma/CodificadorAac.h"

#include <QFile>
#include <cstring>
#include <vector>

#include "plataforma/BibliotecasFFmpeg.h"

namespace {
QString textoError(const BibliotecasFFmpeg& f, int codigo) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    f.av_strerror(codigo, buf, sizeof buf);
    return QString::fromUtf8(buf);
}
}  // namespace

struct CodificadorAac::Estado {
    explicit Estado(const BibliotecasFFmpeg& bibliotecas) : bib(bibliotecas) {}
    const BibliotecasFFmpeg& bib;
    AVFormatContext* formato = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* flujo = nullptr;
    AVFrame* cuadro = nullptr;
    AVPacket* paquete = nullptr;
    std::vector<float> resto;  // samples waiting for a whole frame
    int64_t pts = 0;
    bool cabecera = false;

    ~Estado() {
        if (formato) {
            if (formato->pb) bib.avio_closep(&formato->pb);
            bib.avformat_free_context(formato);
        }
        bib.avcodec_free_context(&codec);
        bib.av_frame_free(&cuadro);
        bib.av_packet_free(&paquete);
    }

    // Sends one frame (or none to flush) and writes every packet that comes out.
    std::optional<QString> codificar(AVFrame* f) {
        int r = bib.avcodec_send_frame(codec, f);
        if (r < 0) return QStringLiteral("el codificador AAC no aceptó audio: ") + textoError(bib, r);
        for (;;) {
            r = bib.avcodec_receive_packet(codec, paquete);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return std::nullopt;
            if (r < 0) return QStringLiteral("el codificador AAC falló: ") + textoError(bib, r);
            bib.av_packet_rescale_ts(paquete, codec->time_base, flujo->time_base);
            paquete->stream_index = flujo->index;
            r = bib.av_interleaved_write_frame(formato, paquete);
            if (r < 0) return QStringLiteral("no se pudo escribir la grabación: ") + textoError(bib, r);
        }
    }

    std::optional<QString> cuadroDe(const float* m, int n) {
        int r = bib.av_frame_make_writable(cuadro);
        if (r < 0) return textoError(bib, r);
        cuadro->nb_samples = n;
        std::memcpy(cuadro->data[0], m, size_t(n) * sizeof(float));
        cuadro->pts = pts;
        pts += n;
        return codificar(cuadro);
    }
};

CodificadorAac::CodificadorAac() = default;
CodificadorAac::~CodificadorAac() = default;

bool CodificadorAac::abierto() const { return e_ != nullptr; }

std::optional<QString> CodificadorAac::abrir(const QString& ruta) {
    e_.reset();
    QString falta;
    const BibliotecasFFmpeg* cargadas = BibliotecasFFmpeg::cargar(&falta);
    if (!cargadas) return QStringLiteral("no hay codificador AAC: ") + falta;
    const BibliotecasFFmpeg& bib = *cargadas;
    // The encoder's statistics are not ours to print; its errors come back as texts.
    bib.av_log_set_level(AV_LOG_ERROR);
    auto e = std::make_unique<Estado>(bib);
    const QByteArray nombre = QFile::encodeName(ruta);
    int r = bib.avformat_alloc_output_context2(&e->formato, nullptr, "ipod", nombre.constData());
    if (r < 0 || !e->formato) return QStringLiteral("no hay contenedor MPEG-4: ") + textoError(bib, r);
    const AVCodec* aac = bib.avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!aac) return QStringLiteral("no hay codificador AAC");
    e->codec = bib.avcodec_alloc_context3(aac);
    e->codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
    e->codec->sample_rate = kFrecuencia;
    bib.av_channel_layout_default(&e->codec->ch_layout, 1);
    e->codec->bit_rate = kBitsPorSegundo;
    e->codec->time_base = AVRational{1, kFrecuencia};
    if (e->formato->oformat->flags & AVFMT_GLOBALHEADER) e->codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    r = bib.avcodec_open2(e->codec, aac, nullptr);
    if (r < 0) return QStringLiteral("no se pudo abrir el codificador AAC: ") + textoError(bib, r);
    e->flujo = bib.avformat_new_stream(e->formato, nullptr);
    if (!e->flujo) return QStringLiteral("no se pudo crear la pista de audio");
    e->flujo->time_base = e->codec->time_base;
    bib.avcodec_parameters_from_context(e->flujo->codecpar, e->codec);
    r = bib.avio_open(&e->formato->pb, nombre.constData(), AVIO_FLAG_WRITE);
    if (r < 0) return QStringLiteral("no se pudo crear la grabación: ") + textoError(bib, r);
    r = bib.avformat_write_header(e->formato, nullptr);
    if (r < 0) return QStringLiteral("no se pudo empezar la grabación: ") + textoError(bib, r);
    e->cabecera = true;
    e->cuadro = bib.av_frame_alloc();
    e->paquete = bib.av_packet_alloc();
    e->cuadro->format = AV_SAMPLE_FMT_FLTP;
    e->cuadro->sample_rate = kFrecuencia;
    bib.av_channel_layout_copy(&e->cuadro->ch_layout, &e->codec->ch_layout);
    e->cuadro->nb_samples = e->codec->frame_size > 0 ? e->codec->frame_size : 1024;
    r = bib.av_frame_get_buffer(e->cuadro, 0);
    if (r < 0) return QStringLiteral("sin memoria para el audio: ") + textoError(bib, r);
    e_ = std::move(e);
    return std::nullopt;
}

std::optional<QString> CodificadorAac::agregar(const float* muestras, qsizetype n) {
    if (!e_) return QStringLiteral("la grabación no está abierta");
    const int tam = e_->codec->frame_size > 0 ? e_->codec->frame_size : 1024;
    qsizetype i = 0;
    if (!e_->resto.empty()) {
        const qsizetype toma = std::min<qsizetype>(n, tam - qsizetype(e_->resto.size()));
        e_->resto.insert(e_->resto.end(), muestras, muestras + toma);
        i = toma;
        if (qsizetype(e_->resto.size()) < tam) return std::nullopt;
        if (auto f = e_->cuadroDe(e_->resto.data(), tam)) return f;
        e_->resto.clear();
    }
    for (; i + tam <= n; i += tam)
        if (auto f = e_->cuadroDe(muestras + i, tam)) return f;
    e_->resto.insert(e_->resto.end(), muestras + i, muestras + n);
    return std::nullopt;
}

std::optional<QString> CodificadorAac::cerrar() {
    if (!e_) return QStringLiteral("la grabación no está abierta");
    std::unique_ptr<Estado> e = std::move(e_);
    std::optional<QString> fallo;
    if (!e->resto.empty()) fallo = e->cuadroDe(e->resto.data(), int(e->resto.size()));
    if (!fallo) fallo = e->codificar(nullptr);
    const int r = e->bib.av_write_trailer(e->formato);
    if (!fallo && r < 0) fallo = QStringLiteral("no se pudo cerrar la grabación: ") + textoError(e->bib, r);
    return fallo;
}
