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
struct VistaDiaW {
    Instantanea foto;
    FamiliaW familia = FamiliaW::mediana;  // the large family selects the large layout
    PaletaW p;

    // Paints the content into `rect` (the frame's padded content rectangle).
    void pintar(QPainter& pintor, const QRectF& rect) const;

    // The second green of this view.
    static QColor salvia(const PaletaW& p);

    // The comparison with yesterday: none when both days are 0.
    struct Comparacion {
        QString texto;  // "+4 que ayer", "−4 que ayer" (U+2212), "igual que ayer"
        bool mas;       // more than yesterday: drawn in lima
    };
    static std::optional<Comparacion> comparacion(qint64 hoy, qint64 ayer);

    // The ring of the share handled alone: its text ("83%", or "—") and fraction (not clamped).
    static QString textoSolas(std::optional<qint64> solas);
    static double fraccionSolas(std::optional<qint64> solas);

    // The week's scale and bar heights (at least 4) for the family's bar area (48 large, 30 medium).
    static qint64 tope(const std::vector<Instantanea::Dia::Barra>& semana);
    static double altoZona(FamiliaW familia);
    static double anchoBarra(FamiliaW familia);
    static std::vector<double> alturas(const std::vector<Instantanea::Dia::Barra>& semana, FamiliaW familia);

    // An agent's name as shown: "_" as spaces, first character upper-cased ("ventas_online" → "Ventas online").
    static QString nombreVisible(const QString& nombre);

    // The two lines of one action of the large layout (at most three are shown).
    struct Linea {
        QString inicialDe;  // the name the initial badge takes
        QString principal;
        QString detalle;    // "Ventas online · resuelta · 15 min"
    };
    static std::vector<Linea> actividad(const Instantanea::Dia& dia);
};
