#pragma once

#include "compartido/Instantanea.h"

#include <QImage>
#include <QString>
#include <optional>

// The character image of each agent: one family of four shades per category, one coordinator,
// and a paused variant of each, compiled into the program as ":/personajes/pj-….png". Decoded
// images stay in a per-process cache. Main thread only.
namespace Personajes {

// Shade 0...3 of an agent id (a fixed hash of the id's arithmetic, stable across processes).
int tono(qint64 id);

// Resource name without extension: "pj-ventas-2", "pj-general-0-pausa", "pj-direccion-0", ...
QString nombre(const Instantanea::Agente& agente);

// The agent's image, or none when its resource is missing or cannot be decoded (the caller then
// draws its own fallback). Only found images are cached.
std::optional<QImage> imagen(const Instantanea::Agente& agente);

// The image of a resource name, through the same cache; for `imagen` and for tests.
std::optional<QImage> imagenDe(const QString& nombre);

// Number of cached images (for tests and diagnostics).
int enCache();

}  // namespace Personajes
