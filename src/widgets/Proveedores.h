#pragma once

#include "compartido/Instantanea.h"

#include <QDateTime>
#include <QSizeF>
#include <QString>
#include <functional>
#include <vector>

// The timelines of the widgets: what each widget shows, from when, and when the host asks again.
// Pure functions of the snapshot file, the widget's family and size, and the moment of the request;
// every request reads the snapshot file anew.

// An entry of the pending, talk, credits and day widgets.
struct Entrada {
    QDateTime date;
    Instantanea foto;
};

// An entry of the agents widget: `indice` is the agent that the small widget shows.
struct EntradaAgentes {
    QDateTime date;
    Instantanea foto;
    int indice = 0;
};

// When the host asks for the next timeline.
struct Recarga {
    enum Tipo {
        despues,  // at `cuando`
        alFinal,  // once the last entry's date has passed
    };
    Tipo tipo = despues;
    QDateTime cuando;
};

template <typename E>
struct LineaTiempo {
    std::vector<E> entradas;
    Recarga recarga;
};

// The snapshot file as the host reads it. A file that is there but cannot be read (cut short,
// overwritten with something else) says nothing about the pairing: until the app writes it again,
// the last snapshot this process read stands. No file at all is the not-linked snapshot.
Instantanea leerFoto();

// How a provider reads the snapshot and records a widget's size; tests replace them.
struct Fuentes {
    std::function<Instantanea()> leer = [] { return leerFoto(); };
    std::function<void(const QString&, QSizeF)> anotar = [](const QString& f, QSizeF t) { Tamanos::anotar(f, t); };
};

// The provider of the pending, talk, credits and day widgets. `familia` is the family's printed
// name ("systemSmall", "systemMedium", "systemLarge").
namespace Proveedor {

inline constexpr int kRecargaSegundos = 900;

Entrada placeholder(const QDateTime& ahora);
// A quick entry; a preview (the host's gallery) of an unlinked snapshot shows the demo.
Entrada snapshot(const QDateTime& ahora, bool preview, const Fuentes& fuentes = {});
// Records the widget's size first, then one entry of the real snapshot, reloaded after 900 s.
LineaTiempo<Entrada> timeline(const QString& familia, QSizeF tamano, const QDateTime& ahora,
                              const Fuentes& fuentes = {});

}  // namespace Proveedor

// The provider of the agents widget: one entry per agent, ten minutes apart.
namespace ProveedorAgentes {

inline constexpr int kPasoSegundos = 600;

EntradaAgentes placeholder(const QDateTime& ahora);
// Without linked agents to show, the demo snapshot, preview or not.
EntradaAgentes snapshot(const QDateTime& ahora, const Fuentes& fuentes = {});
LineaTiempo<EntradaAgentes> timeline(const QDateTime& ahora, const Fuentes& fuentes = {});

}  // namespace ProveedorAgentes

// The host never reloads in a tight loop: a timeline whose reload is due at once (the agents
// timeline of a single agent ends when it starts) waits at least this long.
inline constexpr int kRecargaMinimaSegundos = 300;

// When to ask for the next timeline, given the policy and its entries' dates.
QDateTime proximaRecarga(const Recarga& recarga, const QDateTime& ultimaEntrada, const QDateTime& ahora);
