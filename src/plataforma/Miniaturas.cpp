#include "plataforma/Miniaturas.h"

#include "plataforma/Modulo.h"
#include "plataforma/modulos/Tablas.h"

#include <QFileInfo>
#include <QImageReader>
#include <algorithm>
#include <cmath>

namespace Miniaturas {
namespace {

// Poppler and what it pulls in are opened with the first PDF (see Modulo.h); without them a PDF
// simply has no picture.
const TablaPdf* pdf() { return Modulo::abrir<TablaPdf>("zentu_pdf", nullptr); }

// The size that covers `caja` with the proportions of `origen`.
QSize cubrir(QSizeF origen, QSize caja) {
    if (origen.isEmpty() || caja.isEmpty()) return {};
    const double f = std::max(caja.width() / origen.width(), caja.height() / origen.height());
    return QSize(std::max(1, int(std::ceil(origen.width() * f))), std::max(1, int(std::ceil(origen.height() * f))));
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
    const TablaPdf* t = pdf();
    if (!t) return std::nullopt;
    return t->paginas(ruta);
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
        if (const TablaPdf* t = pdf()) {
            QImage pagina = t->primeraPagina(ruta, pixeles);
            if (!pagina.isNull()) return pagina;
        }
    }
    return desdeImagen(ruta, pixeles);
}

}  // namespace Miniaturas
