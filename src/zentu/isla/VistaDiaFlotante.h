#pragma once

#include "compartido/Instantanea.h"
#include "zentu/isla/TarjetasFlotantes.h"

#include <functional>

// The floating day card ("El día de tu negocio", 380 × 440): three figures of the day and what
// the agents did, in a scrolling list whose texts can be selected. Read-only.
class VistaDiaFlotante : public Tarjeta {
    Q_OBJECT
public:
    VistaDiaFlotante(Instantanea foto, std::function<void()> cerrar,
                     Esquema esquema = EsquemaColor::sistema().actual(), QWidget* padre = nullptr);

    static inline const QSizeF tam{380, 440};

    // The third figure: "83 %" (a space before the sign), or "—" when unknown.
    static QString textoSolas(std::optional<qint64> solas);
    // The line under an action: the agent with its first letter upper-cased, " · " and the time.
    static QString pie(const Instantanea::Dia::Hecho& hecho);
};
