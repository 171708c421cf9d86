#pragma once

#include "zentu/conexion/Cuenta.h"

#include <QTextStream>
#include <optional>

// The command-line check of the realtime voice connection: a paired account, a realtime token
// from the service, and a socket to the realtime service that delivers its first event.
class ProbarWS {
public:
    // Reads the stored account and runs the check, writing to standard output and standard
    // error; returns the process's exit status (1 for a failure, 0 otherwise).
    // Runs its own event loops: the application object must exist.
    static int correr();

    // The same with the account given and the outputs caught, for callers that check them.
    static int correr(const std::optional<Cuenta>& cuenta, QTextStream& salida, QTextStream& errores);
};
