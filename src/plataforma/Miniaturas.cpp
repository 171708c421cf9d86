#include "plataforma/Miniaturas.h"

#include <QFileInfo>
#include <QImageReader>
#include <poppler-qt6.h>
#include <algorithm>
#include <cmath>
#include <memory>

namespace Miniaturas {
namespace {

std::unique_ptr<Poppler::Document> abrirPdf(const QString& ruta) {
    if (!QFileInfo(ruta).isFile()) return nullptr;
    auto documento = Poppler::Document::load(ruta);
    if (!documento || documento->isLocked()) return nullptr;
    return documento;
}

// The size that covers `caja` with the proportions of `origen`.
QSize cubrir(QSizeF origen, QSize caja) {
    if (origen.isEmpty() || caja.isEmpty()) return {};
    const double f = std::max(caja.width() / origen.width(), caja.height() / origen.height());
    return QSize(std::max(1, int(std::ceil(origen.width() * f))), std::max(1, int(std::ceil(origen.height() * f))));
}

QImage desdePdf(const QString& ruta, QSize caja) {
    auto documento = abrirPdf(ruta);
    if (!documento || documento->numPages() < 1) return {};
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

QImage desdeImagen(const QString& ruta, QSize caja) {
    QImageReader lector(ruta);
    lector.setAutoTransform(true);
    QSize tam = lector.size();
    if (!tam.isValid()) return {};
    // Rotated pictures swap their sides once transformed.
    if (lector.transformation() & QImageIOHandler::TransformationRotate90) tam.transpose();
    const QSize destino = cubrir(tam, caja);
    // Only ever scale down: a tiny picture stays as it is.
    if (destino.width() < tam.width()) {
        QSize pedido = destino;
        if (lector.transformation() & QImageIOHandler::TransformationRotate90) pedido.transpose();
        lector.setScaledSize(pedido);
    }
    QImage imagen = lector.read();
    return imagen;
}

}  // namespace

std::optional<int> paginasPdf(const QString& ruta) {
    auto documento = abrirPdf(ruta);
    if (!documento) return std::nullopt;
    return documento->numPages();
}

std::optional<QSize> tamanoImagen(const QString& ruta) {
    if (!QFileInfo(ruta).isFile()) return std::nullopt;
    QImageReader lector(ruta);
    const QSize tam = lector.size();
    if (!tam.isValid() || tam.isEmpty()) return std::nullopt;
    return tam;
}

QImage generar(const QString& ruta, QSize pixeles) {
    if (pixeles.isEmpty() || !QFileInfo(ruta).isFile()) return {};
    if (QFileInfo(ruta).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0) {
        QImage pdf = desdePdf(ruta, pixeles);
        if (!pdf.isNull()) return pdf;
    }
    return desdeImagen(ruta, pixeles);
}

}  // namespace Miniaturas
