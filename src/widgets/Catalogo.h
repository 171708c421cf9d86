#pragma once

#include "compartido/Instantanea.h"
#include "compartido/VistasWidgets.h"

#include <QDateTime>
#include <QPainter>
#include <QSizeF>
#include <QString>
#include <QUrl>
#include <optional>
#include <vector>

// The five desktop widgets that the host offers, in this order, and how each one is drawn.
struct DefinicionWidget {
    QString tipo;         // "pendientes", "hablar", "creditos", "dia", "agentes"
    QString nombre;       // display name
    QString descripcion;  // what it shows
    std::vector<FamiliaW> familias;
    bool deAgentes = false;  // fed by the agents timeline instead of the shared one
};

namespace Catalogo {

const std::vector<DefinicionWidget>& widgets();
const DefinicionWidget* buscar(const QString& tipo);
bool ofrece(const QString& tipo, FamiliaW familia);

// Display size of each family, in points.
QSizeF tamano(FamiliaW familia);
std::optional<FamiliaW> familiaDeNombre(const QString& nombre);  // "systemSmall" ...
QString nombreTamano(FamiliaW familia);                          // "Pequeño", "Mediano", "Grande"

// The centre of the background glow, as a unit point of the widget.
QPointF brillo(const QString& tipo, FamiliaW familia);
// The link of the whole widget; none for the talk widget (its buttons carry their own).
std::optional<QUrl> enlace(const QString& tipo);
// The age stamp's date: the snapshot's time when linked; never for the talk widget.
std::optional<QDateTime> actualizado(const QString& tipo, const Instantanea& foto);

// Paints the whole widget (frame, background and content) into `rect`. Clickable zones go to
// `zonas`: the content's own links first, then the whole widget's link.
void pintar(QPainter& pintor, const QRectF& rect, const QString& tipo, FamiliaW familia, const Instantanea& foto,
            qint64 indice, bool oscuro, ZonasEnlace* zonas, const QDateTime& ahora);

// The link under a point: the first zone that holds it.
std::optional<QUrl> enlaceEn(const ZonasEnlace& zonas, QPointF punto);

}  // namespace Catalogo
