// PDF pages through poppler, opened by the program only when a PDF is first shown.
#include "plataforma/modulos/Tablas.h"

#include <QFileInfo>
#include <poppler-qt6.h>
#include <algorithm>
#include <memory>

namespace {

std::unique_ptr<Poppler::Document> abrirPdf(const QString& ruta) {
    if (!QFileInfo(ruta).isFile()) return nullptr;
    auto documento = Poppler::Document::load(ruta);
    if (!documento || documento->isLocked()) return nullptr;
    return documento;
}

std::optional<int> paginas(const QString& ruta) {
    auto documento = abrirPdf(ruta);
    if (!documento) return std::nullopt;
    return documento->numPages();
}

QImage primeraPagina(const QString& ruta, QSize caja) {
    auto documento = abrirPdf(ruta);
    if (!documento || documento->numPages() < 1 || caja.isEmpty()) return {};
    documento->setRenderHint(Poppler::Document::Antialiasing);
    documento->setRenderHint(Poppler::Document::TextAntialiasing);
    std::unique_ptr<Poppler::Page> pagina = documento->page(0);
    if (!pagina) return {};
    const QSizeF puntos = pagina->pageSizeF();
    if (puntos.isEmpty()) return {};
    const double f = std::max(caja.width() / puntos.width(), caja.height() / puntos.height());
    // A page of absurd proportions must not make a huge picture.
    const double dpi = std::min(72.0 * f, 600.0);
    return pagina->renderToImage(dpi, dpi);
}

const TablaPdf tabla{paginas, primeraPagina};

}  // namespace

extern "C" __attribute__((visibility("default"))) const void* zentu_modulo() {
    return &tabla;
}
