#include "plataforma/ConvertidorMuestras.h"

#include "plataforma/BibliotecasFFmpeg.h"

#include <optional>

struct ConvertidorMuestras::Estado {
    explicit Estado(const BibliotecasFFmpeg& bibliotecas) : bib(bibliotecas) {}
    const BibliotecasFFmpeg& bib;
    SwrContext* swr = nullptr;
    ~Estado() { bib.swr_free(&swr); }
};

ConvertidorMuestras::ConvertidorMuestras(int de, int a, std::unique_ptr<Estado> estado)
    : de_(de), a_(a), estado_(std::move(estado)) {}

ConvertidorMuestras::~ConvertidorMuestras() = default;

std::unique_ptr<ConvertidorMuestras> ConvertidorMuestras::crear(int deFrecuencia, int aFrecuencia, QString* error) {
    QString falta;
    const BibliotecasFFmpeg* bib = BibliotecasFFmpeg::cargarRemuestreo(&falta);
    if (!bib) {
        if (error) *error = QStringLiteral("No se pudo preparar la conversión de audio: %1").arg(falta);
        return nullptr;
    }
    auto estado = std::make_unique<Estado>(*bib);
    AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
    if (deFrecuencia <= 0 || aFrecuencia <= 0 ||
        bib->swr_alloc_set_opts2(&estado->swr, &mono, AV_SAMPLE_FMT_S16, aFrecuencia, &mono, AV_SAMPLE_FMT_FLT,
                            deFrecuencia, 0, nullptr) < 0 ||
        bib->swr_init(estado->swr) < 0) {
        if (error) *error = QStringLiteral("No se pudo preparar la conversión de %1 Hz a %2 Hz.").arg(deFrecuencia).arg(aFrecuencia);
        return nullptr;
    }
    return std::unique_ptr<ConvertidorMuestras>(new ConvertidorMuestras(deFrecuencia, aFrecuencia, std::move(estado)));
}

std::optional<QByteArray> ConvertidorMuestras::convertir(const float* muestras, int n, int capacidad) {
    if (capacidad <= 0) return QByteArray();
    QByteArray salida(capacidad * 2, Qt::Uninitialized);
    auto* destino = reinterpret_cast<uint8_t*>(salida.data());
    const auto* fuente = reinterpret_cast<const uint8_t*>(muestras);
    const int hechas = estado_->bib.swr_convert(estado_->swr, &destino, capacidad, n > 0 ? &fuente : nullptr, n > 0 ? n : 0);
    if (hechas < 0) return std::nullopt;
    salida.truncate(hechas * 2);
    return salida;
}
