#include "zentu/app/Actualizaciones.h"

#include "plataforma/Registro.h"

#include <QProcess>
#include <QStandardPaths>

const QList<Actualizaciones::Actualizador>& Actualizaciones::conocidos() {
    static const QList<Actualizador> lista = {
        {QStringLiteral("gnome-software"), {QStringLiteral("--mode=updates")}},
        {QStringLiteral("plasma-discover"), {QStringLiteral("--mode"), QStringLiteral("Update")}},
    };
    return lista;
}

QString Actualizaciones::textoSinActualizador() {
    return QStringLiteral("Zentu AI se actualiza con los paquetes del sistema.");
}

Actualizaciones::Actualizaciones(QObject* padre)
    : QObject(padre),
      buscarPrograma([](const QString& p) { return QStandardPaths::findExecutable(p); }),
      lanzar([](const QString& p, const QStringList& a) { return QProcess::startDetached(p, a); }) {}

void Actualizaciones::buscar() {
    for (const Actualizador& a : conocidos()) {
        const QString ruta = buscarPrograma ? buscarPrograma(a.programa) : QString();
        if (ruta.isEmpty()) continue;
        if (lanzar && lanzar(ruta, a.argumentos)) {
            Registro::escribir(QStringLiteral("[actualizaciones] abierto ") + a.programa);
            return;
        }
    }
    if (alAvisar) alAvisar(textoSinActualizador());
}
