#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The command line's switches, read as pure functions of the argument list.
namespace Interruptores {

// The modes that run instead of the tray program, in the order in which they are tested.
enum class Previo { captura, capturaWidgets, probarWs, sonar, enlazarPortapapeles, ninguno };

struct Eleccion {
    Previo previo = Previo::ninguno;
    QString valor;  // the folder of the two capture modes
    bool operator==(const Eleccion&) const = default;
};

// The first switch that applies decides; a switch that needs a value and stands last is skipped.
Eleccion elegir(const QStringList& argumentos);

// The argument right after the switch's first occurrence; none when absent or last.
std::optional<QString> valor(const QStringList& argumentos, const QString& interruptor);

// The seven cues of the sound demo, in order, with their names.
QString nombreCue(int indice);

}  // namespace Interruptores
