#pragma once
// What the settings tests read in a pane as the owner does, and the session they show it in.

#include "plataforma/Privacidad.h"

#include <QLabel>
#include <QStringList>
#include <QWidget>

// The session as it is, except for a microphone, which these panes may take as given.
class ConMicrofono : public Privacidad {
public:
    Estado microfono() override { return Estado::concedido; }
};

// The texts of a pane's visible labels.
inline QStringList etiquetasVisibles(const QWidget* panel) {
    QStringList t;
    for (const QLabel* l : panel->findChildren<QLabel*>())
        if (l->isVisibleTo(panel) && !l->text().isEmpty()) t << l->text();
    return t;
}
