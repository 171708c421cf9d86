#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// One generic secret in the desktop's Secret Service (GNOME Keyring, KWallet), found by a
// service name and an account name. Synchronous calls, made from the main thread; while the
// keyring asks the person something (to unlock it), a local event loop turns until they answer.
namespace AlmacenSecreto {

struct Resultado {
    int estado = 0;   // 0 on success, else the service's error code (never 0)
    QString mensaje;  // the service's own words, for the log
};

std::optional<QByteArray> leer(const QString& servicio, const QString& cuenta);
// Stores the secret in place of every copy under the same names, which go once it is stored.
Resultado guardar(const QString& servicio, const QString& cuenta, const QByteArray& datos,
                  const QString& etiqueta);
void borrar(const QString& servicio, const QString& cuenta);

}  // namespace AlmacenSecreto
