#include "plataforma/TecladoXkb.h"

#include <xkbcommon/xkbcommon-x11.h>

#define explicit explicit_  // a field of the XKB protocol header is named like the C++ keyword
#include <xcb/xkb.h>
#undef explicit

namespace TecladoXkb {

std::optional<Xkb> preparar(xcb_connection_t* conexion) {
    uint8_t baseEventos = 0;
    if (!xkb_x11_setup_xkb_extension(conexion, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &baseEventos,
                                     nullptr)) {
        return std::nullopt;
    }
    const int32_t dispositivo = xkb_x11_get_core_keyboard_device_id(conexion);
    const uint16_t eventos = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    const uint16_t partes = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
                            XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_KEY_BEHAVIORS |
                            XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t detalles{};
    detalles.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    detalles.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    xcb_xkb_select_events_aux(conexion, static_cast<xcb_xkb_device_spec_t>(dispositivo), eventos, 0, 0, partes,
                              partes, &detalles);
    return Xkb{baseEventos, dispositivo};
}

}  // namespace TecladoXkb
