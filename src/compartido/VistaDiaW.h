#pragma once

#include "compartido/Instantanea.h"
#include "compartido/VistasWidgets.h"

#include <QColor>
#include <QPainter>
#include <QRectF>
#include <QString>
#include <optional>
#include <vector>

// Content of the day widget ("El día de tu negocio"), medium and large: today's conversations
// against yesterday, the share handled without the owner, the week's bars and, in the large size,
// the agents' latest actions. A pure paint function of its arguments (and the current time, for
// the actions' ages); it has no links of its own.
namespace VistaDiaW {

// The second green of this view.
QColor salvia(const PaletaW& p);

// The comparison with yesterday: none when both days are 0.
struct Comparacion {
    QString texto;   // "+4 que ayer", "−4 que ayer" (U+2212), "igual que ayer"
    bool mas;        // more than yesterday: drawn in lima
};
std::optional<Comparacion> comparacion(qint64 hoy, qint64 ayer);

// The ring of the share handled alone: its text ("83%", or "—") and fraction (not clamped).
QString textoSolas(std::optional<qint64> solas);
double fraccionSolas(std::optional<qint64> solas);

// The week's scale and bar heights (at least 4) for the family's bar area (48 large, 30 medium).
qint64 tope(const std::vector<Instantanea::Dia::Barra>& semana);
double altoZona(FamiliaW familia);
double anchoBarra(FamiliaW familia);
std::vector<double> alturas(const std::vector<Instantanea::Dia::Barra>& semana, FamiliaW familia);

// An agent's name as shown: "_" as spaces, first character upper-cased ("ventas_online" → "Ventas online").
QString nombreVisible(const QString& nombre);

// The two lines of one action of the large layout (at most three are shown).
struct Linea {
    QString inicialDe;  // the name the initial badge takes
    QString principal;
    QString detalle;    // "Ventas online · resuelta · 15 min"
};
std::vector<Linea> actividad(const Instantanea::Dia& dia);

// Paints the content into `r` (the frame's padded content rectangle).
void pintar(QPainter& p, const QRectF& r, const Instantanea& foto, FamiliaW familia, const PaletaW& pal);

}  // namespace VistaDiaW
