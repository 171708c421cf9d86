#pragma once

#include <QString>
#include <optional>

// The keyboard vocabulary the program stores and reasons in, and its translation to the X server.
//
// A key is stored by its code on an Apple ANSI keyboard (Space 49, P 35, Return 36, F5 96, ...)
// and modifiers as the mask below. Both name a physical key and a physical modifier, not a
// character, so a stored combination keeps meaning the same keys whatever layout is active. The
// X side maps the code to the X keycode of the key in the same position (evdev code + 8).
namespace Teclado {

// Modifier mask of a stored combination. command is the Super (logo) key, option is Alt.
constexpr quint32 command = 0x0100;
constexpr quint32 shift = 0x0200;
constexpr quint32 bloqueoMayusculas = 0x0400;  // caps lock: never part of a combination
constexpr quint32 option = 0x0800;
constexpr quint32 control = 0x1000;
constexpr quint32 modificadores = command | shift | option | control;

// Keys with no Apple code (media keys, for example) are stored as this base plus their X keycode,
// so that every key the owner can press round-trips.
constexpr quint32 baseSinCodigo = 0x10000;

// The X keycode of a stored key; none when the key has no place on a PC keyboard.
std::optional<quint32> codigoX(quint32 tecla);
// The stored code of an X keycode.
quint32 desdeCodigoX(quint32 codigoX);

// What the key types with no modifier in the current layout of the X server (or, without an
// X server, the system's default layout); empty for a dead key or a key that types nothing.
// None when no layout can be read at all or the key has no X keycode.
std::optional<QString> caracteres(quint32 tecla);

// True when `texto` is something a person can read as a key's name: not empty, no control or
// format characters, not only blank space.
bool imprimible(const QString& texto);

// A name for a key that types nothing printable: the symbol people know from menus (arrows, ⌫,
// ⌦, ↖, ↘, ⇞, ⇟, ⌅, F13 to F20, the keypad's keys, the modifiers) or else the key's own name in
// the current layout ("Insert", "XF86AudioPlay"). None when neither is known.
std::optional<QString> nombreSinCaracter(quint32 tecla);

}  // namespace Teclado
