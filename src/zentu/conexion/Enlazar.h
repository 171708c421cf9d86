#pragma once

#include "zentu/conexion/Cuenta.h"

#include <QString>
#include <QCoroTask>

// Pairing this computer with an account: the code the web panel shows as a QR code, this
// installation's identifier, the name the panel shows for this computer, and the redemption
// that turns a code into an account. No bearer token is involved: pairing comes before any
// account exists.
namespace API {

// The two parts of a pairing code.
struct CodigoEnlace {
    QString url;     // the service's base address, without trailing "/"
    QString codigo;  // the one-time code

    bool operator==(const CodigoEnlace&) const = default;
};

// Reads the text of a QR code: a JSON object {"v": 1, "url": "...", "codigo": "..."}, other keys
// ignored. Throws ErrorZentu::noEsDeZentu for anything else. No side effects.
CodigoEnlace leerCodigo(const QString& texto);

// "mac-" + a random lower-case UUID, created on first use and kept under "zentu.instalacion"
// for good (unpairing leaves it, so a re-paired computer presents the same identifier).
QString instalacion();

// The name the panel shows for this computer: its name + " · " + the system and its version,
// e.g. "Estudio · Debian 12", cut to 60 user-perceived characters. Computed on every read.
QString nombreDelMac();

// The same from its parts; "Equipo" stands in for a computer without a name.
QString nombreDeDispositivo(const std::optional<QString>& equipo, const QString& sistema);

// Redeems `codigo` at `url` (as leerCodigo returns it) and yields the new account. Throws
// ErrorZentu::servidor when the service refuses or the address is not an http(s) one, and
// ErrorTransporte when the network fails or nothing arrives within `espera` seconds.
QCoro::Task<Cuenta> canjear(QString url, QString codigo, double espera = 10);

}  // namespace API
