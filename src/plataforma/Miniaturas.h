#pragma once

#include <QImage>
#include <QSize>
#include <QString>
#include <optional>

// What the desktop can tell about a local file's content: a PDF's page count and a picture of
// the file (an image scaled down, or a PDF's first page). PDFs are read with poppler (opened with the first PDF), images
// with Qt's image readers. Every call opens the file anew; all of them are safe on any thread.
namespace Miniaturas {

// The page count when the file opens as a PDF document, else none.
std::optional<int> paginasPdf(const QString& ruta);

// The pixel size of the file's first image, read from its header; none when the file is not a
// readable image or its size is not stated.
std::optional<QSize> tamanoImagen(const QString& ruta);

// A picture of the file that covers `pixeles` (the aspect ratio kept, one side equal to the
// box and the other at least as long); a null image for anything that is neither an image
// nor a PDF, or that cannot be read.
QImage generar(const QString& ruta, QSize pixeles);

}  // namespace Miniaturas
