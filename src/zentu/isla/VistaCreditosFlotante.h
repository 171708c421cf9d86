#pragma once

#include "compartido/Instantanea.h"
#include "zentu/isla/TarjetasFlotantes.h"

#include <functional>
#include <vector>

// The floating credits card ("Créditos de este mes", 320 × 300): the credits left this month
// and, when known, the credits spent on each of the last days. Read-only.
class VistaCreditosFlotante : public Tarjeta {
    Q_OBJECT
public:
    VistaCreditosFlotante(Instantanea foto, std::function<void()> cerrar,
                          Esquema esquema = EsquemaColor::sistema().actual(), QWidget* padre = nullptr);

    static inline const QSizeF tam{320, 300};

    // The day of a "2026-10-05" date without a leading zero ("5"); see the source for odd texts.
    static QString diaCorto(const QString& dia);
    // The text beside the big number: "de 5000 te quedan", or "te quedan" without a quota.
    static QString quedan(const Instantanea::Creditos& c);
    // The heights of the last days' bars: 80 for the largest, at least 3.
    static std::vector<double> alturas(const std::vector<Instantanea::Creditos::Dia>& dias);
};
