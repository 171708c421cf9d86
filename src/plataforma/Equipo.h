#pragma once

#include <QString>
#include <optional>

// What the desktop says about this computer: the name its owner gave it and the operating
// system it runs. Both are read afresh on every call.
namespace Equipo {

// The computer's "pretty" name (PRETTY_HOSTNAME in /etc/machine-info, as hostnamectl sets it),
// else its host name; none when the system gives neither.
std::optional<QString> nombre();

// The system's name and version for people, e.g. "Debian 12", "Ubuntu 24.04", "Fedora 40".
QString sistema();

// The same, from the text of an os-release file (see os-release(5)); "Linux" when it names nothing.
QString sistemaDe(const QString& osRelease);

// The value of one KEY=value line of an os-release or machine-info file, unquoted.
std::optional<QString> valorDe(const QString& texto, const QString& clave);

}  // namespace Equipo
