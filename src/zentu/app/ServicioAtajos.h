#pragma once

#include "zentu/app/PuenteAtajos.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>
#include <optional>

// The automation actions of the running program as a D-Bus interface on the session bus, one
// method per action. Success answers the dialog text; a failure is an error reply named
// "ai.zentu.voz.Error.Fallo" whose message is the failure's text.
class ServicioAtajos : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "ai.zentu.voz.Atajos")
public:
    static QString camino() { return QStringLiteral("/ai/zentu/voz/Atajos"); }
    static QString interfaz() { return QStringLiteral("ai.zentu.voz.Atajos"); }
    static QString nombreError() { return QStringLiteral("ai.zentu.voz.Error.Fallo"); }

    explicit ServicioAtajos(PuenteAtajos& puente, QObject* padre = nullptr);
    bool registrar(QDBusConnection conexion = QDBusConnection::sessionBus());

public slots:
    QString Preguntar(const QString& pregunta);
    QString Llamar();
    QString AbrirChat();
    QString VerPendientes(int& total);
    QString EnviarArchivo(const QString& ruta, const QString& mensaje);

private:
    QString responder(const ResultadoAtajo& r);
    PuenteAtajos& puente_;
};

// The command-line switches that call the running program's automation interface and print its
// answer: "--preguntar TEXTO", "--llamar", "--abrir-chat", "--pendientes",
// "--enviar-archivo RUTA [--mensaje TEXTO]". Exit status 0 with the dialog text on standard
// output, 1 with the failure's text on standard error.
namespace ClienteAtajos {

// Whether the arguments hold one of these switches.
bool pide(const QStringList& argumentos);

// Runs the switch found in `argumentos` against the interface on `conexion` (under the bus name
// `servicio`); none when there is no such switch.
std::optional<int> ejecutar(const QStringList& argumentos, QTextStream& salida, QTextStream& error,
                            QDBusConnection conexion = QDBusConnection::sessionBus(),
                            const QString& servicio = QStringLiteral("ai.zentu.voz"));

}  // namespace ClienteAtajos
