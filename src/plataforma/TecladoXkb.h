#pragma once

#include <cstdint>
#include <optional>

#include <xcb/xcb.h>

// XKB on one X connection, for the parts of this layer that read the keyboard's map.
namespace TecladoXkb {

struct Xkb {
    uint8_t baseEventos;   // XKB's event code on this connection
    int32_t dispositivo;   // the core keyboard
};

// Sets XKB up on the connection and asks to be told when the keyboard or its map changes, so the
// map is read again only then. None when the server has no usable XKB.
std::optional<Xkb> preparar(xcb_connection_t* conexion);

}  // namespace TecladoXkb
