// The doors through which the rest of the desktop reaches the running program: links of the
// "zuzadari" scheme, the automation bridge and files or text sent to it.
#include "zentu/app/App.h"

#include "plataforma/Registro.h"

void App::abrirEnlaces(const QStringList& enlaces) {
    Q_UNUSED(enlaces);
    Registro::escribir(QStringLiteral("[app] pendiente: abrirEnlaces"));
}

void App::conectarAtajos(PuertoChat& c) {
    Q_UNUSED(c);
    Registro::escribir(QStringLiteral("[app] pendiente: conectarAtajos"));
}

void App::instalarServicios() { Registro::escribir(QStringLiteral("[app] pendiente: servicios")); }
