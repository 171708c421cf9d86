#pragma once

// What the benchmarks that run the installed program set up first: the program installed as the
// owner has it, an X display of the run's own and the stand-in service.

#include "Instalado.h"
#include "Pantalla.h"

#include "comun/ServicioSimulado.h"

#include <cstdio>

// Installs, starts the display and the service; false, with what failed on standard error.
inline bool preparar(Instalacion& instalacion, PantallaPropia& pantalla, ServicioSimulado& servicio) {
    std::optional<QString> error = instalacion.instalar();
    if (!error) error = pantalla.arrancar();
    if (!error && !servicio.arrancar()) error = QStringLiteral("no arrancó el servicio");
    if (error) std::fprintf(stderr, "%s\n", qPrintable(*error));
    return !error;
}
