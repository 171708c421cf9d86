#pragma once

#include "compartido/Instantanea.h"
#include "compartido/VistasWidgets.h"

#include <QPainter>
#include <QRectF>
#include <QString>
#include <vector>

// Content of the agents widget ("Tus agentes"): one agent at a time in the small size (the
// timeline's position), up to four side by side in the medium size, up to six listed in the large
// size. Also the one display order of agents that the app uses as well, and the category labels.
struct VistaAgentesW {
    Instantanea foto;
    FamiliaW familia = FamiliaW::pequena;  // small: carousel; large: list; otherwise the row
    PaletaW p;
    qint64 indice = 0;                     // the carousel's position (small only)

    void pintar(QPainter& pintor, const QRectF& rect) const;

    // Coordinator first, then active, then more conversations, then the name as a Spanish speaker
    // sorts it (case and accents aside); equal agents keep their snapshot order.
    static std::vector<Instantanea::Agente> ordenados(const std::vector<Instantanea::Agente>& agentes);
    // Whether `a` goes before `b` in that order.
    static bool antes(const Instantanea::Agente& a, const Instantanea::Agente& b);

    // The Spanish label of a category key ("atencion" → "Atención al cliente"; unknown → "Agente").
    static QString categoria(const QString& clave);

    // Texts: one agent's state ("En pausa", "1 conversación", "Disponible", "7 conversaciones"), the
    // medium row's short state ("7 conv."), and the summary of a list ("3 activos · 1 en pausa").
    static QString estado(const Instantanea::Agente& a);
    static QString estadoCorto(const Instantanea::Agente& a);
    static QString resumen(const std::vector<Instantanea::Agente>& lista);
    // State texts are green for an active agent with at least one conversation.
    static bool verde(const Instantanea::Agente& a);

    // The small carousel's position: `indice` modulo n, never negative (n ≥ 1).
    static int posicion(qint64 indice, int n);
    // Its position text ("2/5"), empty for a single agent.
    static QString textoPosicion(int k, int n);

    // The large list's vertical padding of each row for a list of n agents.
    static double relleno(int n);

    // The avatar's measures for a diameter: state dot, its border, the ring, the initial's size.
    struct MedidasAvatar {
        double punto, borde, anillo, inicial;
    };
    static MedidasAvatar medidasAvatar(double lado);

};
