#include "plataforma/Modulo.h"

#include "plataforma/Registro.h"

#include <QHash>
#include <dlfcn.h>
#include <mutex>

namespace Modulo {
namespace {

struct Carga {
    const void* tabla = nullptr;
    QString fallo;
};

Carga cargar(const QByteArray& archivo) {
    Carga c;
    // RTLD_LOCAL: the module's libraries stay out of the way of everything else in the process.
    void* h = dlopen(archivo.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!h) {
        const char* motivo = dlerror();
        c.fallo = QStringLiteral("no se pudo cargar %1: %2")
                      .arg(QString::fromUtf8(archivo), QString::fromLocal8Bit(motivo ? motivo : ""));
        return c;
    }
    dlerror();
    using Entrada = const void* (*)();
    auto entrada = reinterpret_cast<Entrada>(dlsym(h, "zentu_modulo"));
    if (!entrada) {
        c.fallo = QStringLiteral("%1 no es un módulo de Zentu").arg(QString::fromUtf8(archivo));
        return c;
    }
    c.tabla = entrada();
    if (!c.tabla) c.fallo = QStringLiteral("%1 no entregó sus funciones").arg(QString::fromUtf8(archivo));
    return c;
}

}  // namespace

const void* abrir(const char* nombre, QString* error) {
    static std::mutex cerrojo;
    static QHash<QByteArray, Carga> cargas;
    const QByteArray archivo = QByteArray("lib") + nombre + ".so";
    Carga c;
    bool primera = false;
    {
        std::lock_guard<std::mutex> bloqueo(cerrojo);
        auto it = cargas.find(archivo);
        primera = it == cargas.end();
        if (primera) it = cargas.insert(archivo, cargar(archivo));
        c = *it;
    }
    // Told once, when first found missing; callers only say what the owner can do without it.
    if (primera && !c.tabla) Registro::escribir(QStringLiteral("[modulo] ") + c.fallo);
    if (!c.tabla && error) *error = c.fallo;
    return c.tabla;
}

}  // namespace Modulo
