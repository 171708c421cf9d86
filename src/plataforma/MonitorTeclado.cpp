#include "plataforma/MonitorTeclado.h"

#include "plataforma/Teclado.h"
#include "plataforma/TecladoXkb.h"
#include "plataforma/TeclasGlobales.h"

#include <QAbstractEventDispatcher>
#include <QObject>
#include <QSocketNotifier>
#include <cstdlib>
#include <map>
#include <memory>

#include <xcb/xcb.h>
#include <xcb/xinput.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>
#define explicit explicit_  // a field of the XKB protocol header is named like the C++ keyword
#include <xcb/xkb.h>
#undef explicit

namespace {

constexpr quint32 noEsModificador = 0xFFFFFFFF;

// Raw key events reach every client that selects them on the root window, whoever has the focus
// or a grab, and carry the physical key only: the held modifiers are counted here from the keys
// that went down and up.
class MonitorTecladoX11 : public QObject, public MonitorTeclado {
public:
    bool encender() override {
        if (!abrir()) return false;
        seleccionar(true);
        return true;
    }

    void apagar() override {
        if (!conexion_ || xcb_connection_has_error(conexion_) || !xinput_) return;
        seleccionar(false);
        abajo_.clear();
    }

    ~MonitorTecladoX11() override {
        if (mapa_) xkb_keymap_unref(mapa_);
        if (contexto_) xkb_context_unref(contexto_);
        if (conexion_) xcb_disconnect(conexion_);
    }

private:
    bool abrir() {
        if (conexion_) return !xcb_connection_has_error(conexion_) && xinput_;
        int pantalla = 0;
        conexion_ = xcb_connect(nullptr, &pantalla);
        if (xcb_connection_has_error(conexion_)) return false;
        auto iterador = xcb_setup_roots_iterator(xcb_get_setup(conexion_));
        for (int i = 0; i < pantalla && iterador.rem; ++i) xcb_screen_next(&iterador);
        raiz_ = iterador.data->root;

        const xcb_query_extension_reply_t* extension = xcb_get_extension_data(conexion_, &xcb_input_id);
        if (!extension || !extension->present) return false;
        auto* version = xcb_input_xi_query_version_reply(conexion_, xcb_input_xi_query_version(conexion_, 2, 2),
                                                         nullptr);
        const bool sirve = version && (version->major_version > 2 ||
                                       (version->major_version == 2 && version->minor_version >= 1));
        std::free(version);
        if (!sirve) return false;  // raw events reach everyone only from XInput 2.1 on
        opcode_ = extension->major_opcode;

        contexto_ = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        if (contexto_) {
            if (const auto xkb = TecladoXkb::preparar(conexion_)) {
                baseXkb_ = xkb->baseEventos;
                dispositivo_ = xkb->dispositivo;
            }
        }
        xinput_ = true;

        lector_ = new QSocketNotifier(xcb_get_file_descriptor(conexion_), QSocketNotifier::Read, this);
        connect(lector_, &QSocketNotifier::activated, this, [this] { atender(false); });
        if (auto* despachador = QAbstractEventDispatcher::instance())
            connect(despachador, &QAbstractEventDispatcher::aboutToBlock, this, [this] { atender(true); });
        return true;
    }

    void seleccionar(bool si) {
        struct {
            xcb_input_event_mask_t cabeza;
            uint32_t mascara;
        } pedido{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
                 si ? uint32_t(XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE) : 0u};
        xcb_input_xi_select_events(conexion_, raiz_, 1, &pedido.cabeza);
        xcb_flush(conexion_);
        activo_ = si;
    }

    void atender(bool soloEncolados) {
        if (!conexion_) return;
        if (xcb_connection_has_error(conexion_)) {
            if (lector_) lector_->setEnabled(false);
            return;
        }
        for (;;) {
            xcb_generic_event_t* evento =
                soloEncolados ? xcb_poll_for_queued_event(conexion_) : xcb_poll_for_event(conexion_);
            if (!evento) break;
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> dueno(evento, &std::free);
            const uint8_t tipo = evento->response_type & 0x7f;
            if (tipo == XCB_GE_GENERIC) {
                auto* generico = reinterpret_cast<xcb_ge_generic_event_t*>(evento);
                if (generico->extension != opcode_ || !activo_) continue;
                auto* crudo = reinterpret_cast<xcb_input_raw_key_press_event_t*>(evento);
                if (generico->event_type == XCB_INPUT_RAW_KEY_PRESS) tecla(crudo->detail, true);
                else if (generico->event_type == XCB_INPUT_RAW_KEY_RELEASE) tecla(crudo->detail, false);
            } else if (tipo == baseXkb_ && baseXkb_ && mapa_) {
                xkb_keymap_unref(mapa_);  // the layout changed: read it again when next needed
                mapa_ = nullptr;
            }
        }
    }

    // The modifier bit a key carries (0 for a modifier with none of ours, like caps lock), judged
    // by what the key means in the layout, so a caps lock turned into control counts as control.
    quint32 modificadorDe(uint32_t codigo) {
        if (!mapa_ && contexto_ && dispositivo_ >= 0)
            mapa_ = xkb_x11_keymap_new_from_device(contexto_, conexion_, dispositivo_, XKB_KEYMAP_COMPILE_NO_FLAGS);
        xkb_keysym_t simbolo = XKB_KEY_NoSymbol;
        if (mapa_) {
            const xkb_keysym_t* simbolos = nullptr;
            if (xkb_keymap_key_get_syms_by_level(mapa_, codigo, 0, 0, &simbolos) > 0) simbolo = simbolos[0];
        }
        if (simbolo == XKB_KEY_NoSymbol) {
            // No layout to ask: the key in its usual place (evdev code + 8).
            switch (codigo) {
            case 37: case 105: return Teclado::control;
            case 64: case 108: return Teclado::option;
            case 50: case 62: return Teclado::shift;
            case 133: case 134: return Teclado::command;
            case 66: return 0;
            default: return noEsModificador;
            }
        }
        switch (simbolo) {
        case XKB_KEY_Control_L: case XKB_KEY_Control_R: return Teclado::control;
        case XKB_KEY_Alt_L: case XKB_KEY_Alt_R: case XKB_KEY_Meta_L: case XKB_KEY_Meta_R: return Teclado::option;
        case XKB_KEY_Shift_L: case XKB_KEY_Shift_R: return Teclado::shift;
        case XKB_KEY_Super_L: case XKB_KEY_Super_R: case XKB_KEY_Hyper_L: case XKB_KEY_Hyper_R:
            return Teclado::command;
        case XKB_KEY_Caps_Lock: case XKB_KEY_Shift_Lock: case XKB_KEY_Num_Lock: case XKB_KEY_Mode_switch:
            return 0;
        default:
            // ISO_Level3_Shift (AltGr), group switches and the other lock keys.
            if (simbolo >= XKB_KEY_ISO_Lock && simbolo <= XKB_KEY_ISO_Last_Group_Lock) return 0;
            return noEsModificador;
        }
    }

    void tecla(uint32_t codigo, bool abajo) {
        const quint32 bit = modificadorDe(codigo);
        if (bit == noEsModificador) {
            if (abajo && alPulsarTecla) alPulsarTecla();
            return;
        }
        if (abajo) abajo_[codigo] = bit;
        else abajo_.erase(codigo);
        quint32 mascara = 0;
        for (const auto& [c, b] : abajo_) mascara |= b;
        if (alCambiarModificadores) alCambiarModificadores(mascara);
    }

    xcb_connection_t* conexion_ = nullptr;
    xcb_window_t raiz_ = 0;
    uint8_t opcode_ = 0;
    uint8_t baseXkb_ = 0;
    int32_t dispositivo_ = -1;
    bool xinput_ = false;
    bool activo_ = false;
    xkb_context* contexto_ = nullptr;
    xkb_keymap* mapa_ = nullptr;
    QSocketNotifier* lector_ = nullptr;
    std::map<uint32_t, quint32> abajo_;  // modifier keys down now → their bit
};

}  // namespace

MonitorTeclado& MonitorTeclado::sistema() {
    static MonitorTecladoX11* monitor = [] {
        TeclasGlobales::sesionWayland();
        return new MonitorTecladoX11;  // lives as long as the process
    }();
    return *monitor;
}
