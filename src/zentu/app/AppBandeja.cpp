// The tray icon with its menu and pending count, and the updater.
#include "zentu/app/App.h"

#include "plataforma/Registro.h"

void App::crearActualizaciones() { Registro::escribir(QStringLiteral("[app] pendiente: actualizaciones")); }

void App::montarMenu() { Registro::escribir(QStringLiteral("[app] pendiente: montarMenu")); }

void App::pintarContador() { Registro::escribir(QStringLiteral("[app] pendiente: pintarContador")); }
