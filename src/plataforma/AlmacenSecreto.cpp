// glib's headers must come before Qt's, whose "signals" macro they would otherwise trip over.
#include <libsecret/secret.h>

#include "plataforma/AlmacenSecreto.h"

namespace AlmacenSecreto {
namespace {

// The same attribute names secret-tool and most desktop programs use, so the item is easy to
// find and remove by hand.
const SecretSchema* esquema() {
    static const SecretSchema s = {
        "ai.zentu.voz",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {
            {"service", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
            {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
        },
        0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return &s;
}

}  // namespace

std::optional<QByteArray> leer(const QString& servicio, const QString& cuenta) {
    const QByteArray s = servicio.toUtf8(), c = cuenta.toUtf8();
    GError* error = nullptr;
    gchar* secreto = secret_password_lookup_sync(esquema(), nullptr, &error, "service", s.constData(),
                                                 "account", c.constData(), nullptr);
    if (error) {
        g_error_free(error);
        return std::nullopt;
    }
    if (!secreto) return std::nullopt;
    QByteArray datos(secreto);
    secret_password_free(secreto);
    return datos;
}

Resultado guardar(const QString& servicio, const QString& cuenta, const QByteArray& datos,
                  const QString& etiqueta) {
    const QByteArray s = servicio.toUtf8(), c = cuenta.toUtf8(), e = etiqueta.toUtf8();
    GError* error = nullptr;
    const gboolean ok = secret_password_store_sync(esquema(), SECRET_COLLECTION_DEFAULT, e.constData(),
                                                   datos.constData(), nullptr, &error, "service",
                                                   s.constData(), "account", c.constData(), nullptr);
    Resultado r;
    if (error) {
        r.estado = error->code != 0 ? error->code : -1;
        r.mensaje = QString::fromUtf8(error->message);
        g_error_free(error);
    } else if (!ok) {
        r.estado = -1;
    }
    return r;
}

void borrar(const QString& servicio, const QString& cuenta) {
    const QByteArray s = servicio.toUtf8(), c = cuenta.toUtf8();
    GError* error = nullptr;
    secret_password_clear_sync(esquema(), nullptr, &error, "service", s.constData(), "account",
                               c.constData(), nullptr);
    if (error) g_error_free(error);
}

}  // namespace AlmacenSecreto
