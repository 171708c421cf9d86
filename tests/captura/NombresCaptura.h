#pragma once
// The pictures the two capture modes write, in their order: what both capture tests expect.

#include <QStringList>

namespace {

const QStringList kHacer = {
    "isla-escuchando", "isla-hablando", "isla-pensando", "isla-silencio", "isla-error", "isla-chat", "isla-chat-nota",
    "isla-escuchando-claro", "isla-hablando-claro", "isla-pensando-claro", "isla-silencio-claro", "isla-error-claro",
    "isla-chat-claro", "isla-chat-nota-claro", "enlace", "burbujas", "burbujas-claro", "adjuntos", "ajustes-estado",
    "ajustes-atajos", "ajustes-isla", "ajustes-llamadas", "ajustes-cuenta", "ajustes-estado-claro",
    "ajustes-atajos-claro", "ajustes-isla-claro", "ajustes-llamadas-claro", "ajustes-cuenta-claro",
};
const QStringList kWidgets = {
    "tarjetas-oscuro", "tarjetas-claro", "widgets-ejemplo-oscuro", "widgets-ejemplo-claro",
    "widgets-real-oscuro", "widgets-real-claro",
};

}  // namespace
