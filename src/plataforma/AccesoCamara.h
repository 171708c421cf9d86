#pragma once

#include <QString>

// Whether this user may use the computer's cameras. Linux has no grant to ask for: the video
// devices' own permissions decide (membership of the "video" group, or the access list that
// the login manager gives the user at the seat).
namespace AccesoCamara {

enum class Estado {
    sinCamara,   // no video device at all
    permitido,   // at least one video device can be opened for reading and writing
    denegado,    // there are video devices, and this user may open none of them
};

// Looks at the video devices ("video0", "video1", ...) in `carpeta`.
Estado estado(const QString& carpeta = QStringLiteral("/dev"));

}  // namespace AccesoCamara
