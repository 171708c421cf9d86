#include "plataforma/Teclado.h"

#include "plataforma/TecladoXkb.h"

#include <array>
#include <cstdlib>
#include <memory>
#include <utility>

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>
#define explicit explicit_  // a field of the XKB protocol header is named like the C++ keyword
#include <xcb/xkb.h>
#undef explicit

namespace Teclado {
namespace {

// Apple code → Linux evdev code of the key in the same place on a PC keyboard.
constexpr std::pair<quint32, quint32> tabla[] = {
    {0, 30},    {1, 31},    {2, 32},    {3, 33},    {4, 35},    {5, 34},    {6, 44},    {7, 45},
    {8, 46},    {9, 47},    {10, 86},   {11, 48},   {12, 16},   {13, 17},   {14, 18},   {15, 19},
    {16, 21},   {17, 20},   {18, 2},    {19, 3},    {20, 4},    {21, 5},    {22, 7},    {23, 6},
    {24, 13},   {25, 10},   {26, 8},    {27, 12},   {28, 9},    {29, 11},   {30, 27},   {31, 24},
    {32, 22},   {33, 26},   {34, 23},   {35, 25},   {36, 28},   {37, 38},   {38, 36},   {39, 40},
    {40, 37},   {41, 39},   {42, 43},   {43, 51},   {44, 53},   {45, 49},   {46, 50},   {47, 52},
    {48, 15},   {49, 57},   {50, 41},   {51, 14},   {53, 1},    {54, 126},  {55, 125},  {56, 42},
    {57, 58},   {58, 56},   {59, 29},   {60, 54},   {61, 100},  {62, 97},   {64, 187},  {65, 83},
    {67, 55},   {69, 78},   {72, 115},  {73, 114},  {74, 113},  {75, 98},   {76, 96},   {78, 74},
    {79, 188},  {80, 189},  {81, 117},  {82, 82},   {83, 79},   {84, 80},   {85, 81},   {86, 75},
    {87, 76},   {88, 77},   {89, 71},   {90, 190},  {91, 72},   {92, 73},   {93, 124},  {94, 89},
    {95, 95},   {96, 63},   {97, 64},   {98, 65},   {99, 61},   {100, 66},  {101, 67},  {103, 87},
    {105, 183}, {106, 186}, {107, 184}, {109, 68},  {110, 127}, {111, 88},  {113, 185}, {114, 110},
    {115, 102}, {116, 104}, {117, 111}, {118, 62},  {119, 107}, {120, 60},  {121, 109}, {122, 59},
    {123, 105}, {124, 106}, {125, 108}, {126, 103},
};

constexpr quint32 desplazamientoX = 8;  // X keycode = evdev code + 8

// The layout as last read from the X server, kept until the server says it changed.
class Disposicion {
public:
    Disposicion() : contexto_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
        if (!contexto_) return;
        conexion_ = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(conexion_)) {
            xcb_disconnect(conexion_);
            conexion_ = nullptr;
            return;
        }
        const auto xkb = TecladoXkb::preparar(conexion_);
        if (!xkb) {
            xcb_disconnect(conexion_);
            conexion_ = nullptr;
            return;
        }
        baseEventos_ = xkb->baseEventos;
        dispositivo_ = xkb->dispositivo;
        xcb_flush(conexion_);
    }

    ~Disposicion() {
        if (mapa_) xkb_keymap_unref(mapa_);
        if (conexion_) xcb_disconnect(conexion_);
        if (contexto_) xkb_context_unref(contexto_);
    }

    std::optional<QString> caracteres(quint32 codigo) {
        xkb_state* estado = estadoSinModificadores();
        if (!estado) return std::nullopt;
        std::array<char, 64> texto{};
        xkb_state_key_get_utf8(estado, codigo, texto.data(), texto.size());
        xkb_state_unref(estado);
        return QString::fromUtf8(texto.data());
    }

    // The keysym the key gives with no modifier in the current layout; none when there is none.
    std::optional<xkb_keysym_t> simbolo(quint32 codigo) {
        xkb_state* estado = estadoSinModificadores();
        if (!estado) return std::nullopt;
        const xkb_keysym_t s = xkb_state_key_get_one_sym(estado, codigo);
        xkb_state_unref(estado);
        if (s == XKB_KEY_NoSymbol) return std::nullopt;
        return s;
    }

private:
    // A state of the current layout with no modifier held; the caller unrefs it.
    xkb_state* estadoSinModificadores() {
        if (!contexto_) return nullptr;
        xkb_layout_index_t grupo = 0;
        if (conexion_) {
            if (xcb_connection_has_error(conexion_)) return nullptr;
            atenderCambios();
            if (!mapa_) mapa_ = xkb_x11_keymap_new_from_device(contexto_, conexion_, dispositivo_,
                                                               XKB_KEYMAP_COMPILE_NO_FLAGS);
            if (!mapa_) return nullptr;
            // The layout the owner has switched to right now; its modifiers are left out.
            if (xkb_state* actual = xkb_x11_state_new_from_device(mapa_, conexion_, dispositivo_)) {
                grupo = xkb_state_serialize_layout(actual, XKB_STATE_LAYOUT_EFFECTIVE);
                xkb_state_unref(actual);
            }
        } else if (!mapa_) {
            // No X server: the default layout of the system (XKB_DEFAULT_* or the built-in one).
            mapa_ = xkb_keymap_new_from_names(contexto_, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
            if (!mapa_) return nullptr;
        }
        xkb_state* estado = xkb_state_new(mapa_);
        if (estado) xkb_state_update_mask(estado, 0, 0, 0, 0, 0, grupo);
        return estado;
    }

    void atenderCambios() {
        while (xcb_generic_event_t* evento = xcb_poll_for_event(conexion_)) {
            if ((evento->response_type & 0x7f) == baseEventos_ && mapa_) {
                xkb_keymap_unref(mapa_);
                mapa_ = nullptr;
            }
            std::free(evento);
        }
    }

    xkb_context* contexto_ = nullptr;
    xcb_connection_t* conexion_ = nullptr;
    int32_t dispositivo_ = -1;
    uint8_t baseEventos_ = 0;
    xkb_keymap* mapa_ = nullptr;
};

Disposicion& disposicion() {
    static Disposicion d;
    return d;
}

// Names by the key's place, for keys whose layout output is nothing a person can read.
constexpr std::pair<quint32, const char*> simbolos[] = {
    {123, "←"},   {124, "→"},   {125, "↓"},   {126, "↑"},   {51, "⌫"},   {117, "⌦"},  {115, "↖"},
    {119, "↘"},   {116, "⇞"},   {121, "⇟"},   {76, "⌅"},    {71, "⌧"},   {105, "F13"}, {107, "F14"},
    {113, "F15"}, {106, "F16"}, {64, "F17"},  {79, "F18"},  {80, "F19"},  {90, "F20"},  {82, "0"},
    {83, "1"},    {84, "2"},    {85, "3"},    {86, "4"},    {87, "5"},    {88, "6"},    {89, "7"},
    {91, "8"},    {92, "9"},    {65, "."},    {67, "*"},    {69, "+"},    {75, "/"},    {78, "-"},
    {81, "="},    {55, "⌘"},    {54, "⌘"},    {56, "⇧"},    {60, "⇧"},    {58, "⌥"},    {61, "⌥"},
    {59, "⌃"},    {62, "⌃"},    {57, "⇪"},
};

// A dead key is named by the accent it puts on the next letter.
constexpr std::pair<xkb_keysym_t, const char*> acentos[] = {
    {XKB_KEY_dead_grave, "`"},    {XKB_KEY_dead_acute, "´"},     {XKB_KEY_dead_circumflex, "^"},
    {XKB_KEY_dead_tilde, "~"},    {XKB_KEY_dead_diaeresis, "¨"}, {XKB_KEY_dead_cedilla, "¸"},
    {XKB_KEY_dead_macron, "¯"},   {XKB_KEY_dead_breve, "˘"},     {XKB_KEY_dead_abovedot, "˙"},
    {XKB_KEY_dead_abovering, "˚"}, {XKB_KEY_dead_doubleacute, "˝"}, {XKB_KEY_dead_caron, "ˇ"},
    {XKB_KEY_dead_ogonek, "˛"},
};

}  // namespace

bool imprimible(const QString& texto) {
    bool algoVisible = false;
    for (const QChar c : texto) {
        const auto categoria = c.category();
        if (categoria == QChar::Other_Control || categoria == QChar::Other_Format ||
            categoria == QChar::Separator_Line || categoria == QChar::Separator_Paragraph) {
            return false;
        }
        if (!c.isSpace()) algoVisible = true;
    }
    return algoVisible;
}

std::optional<QString> nombreSinCaracter(quint32 tecla) {
    for (const auto& [codigo, nombre] : simbolos)
        if (codigo == tecla) return QString::fromUtf8(nombre);
    const auto x = codigoX(tecla);
    if (!x) return std::nullopt;
    const auto s = disposicion().simbolo(*x);
    if (!s) return std::nullopt;
    for (const auto& [muerta, acento] : acentos)
        if (muerta == *s) return QString::fromUtf8(acento);
    std::array<char, 64> nombre{};
    if (xkb_keysym_get_name(*s, nombre.data(), nombre.size()) <= 0) return std::nullopt;
    const QString leido = QString::fromUtf8(nombre.data());
    if (!imprimible(leido)) return std::nullopt;
    return leido;
}

std::optional<quint32> codigoX(quint32 tecla) {
    if (tecla >= baseSinCodigo) {
        const quint32 x = tecla - baseSinCodigo;
        if (x >= 8 && x <= 255) return x;
        return std::nullopt;
    }
    for (const auto& [apple, evdev] : tabla)
        if (apple == tecla) return evdev + desplazamientoX;
    return std::nullopt;
}

quint32 desdeCodigoX(quint32 x) {
    for (const auto& [apple, evdev] : tabla)
        if (evdev + desplazamientoX == x) return apple;
    return baseSinCodigo + x;
}

std::optional<QString> caracteres(quint32 tecla) {
    const auto x = codigoX(tecla);
    if (!x) return std::nullopt;
    return disposicion().caracteres(*x);
}

}  // namespace Teclado
