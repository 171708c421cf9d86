#include "plataforma/TeclasGlobales.h"

#include "plataforma/Registro.h"
#include "plataforma/Teclado.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>
#include <array>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#define explicit explicit_  // a field of the XKB protocol header is named like the C++ keyword
#include <xcb/xkb.h>
#undef explicit

namespace {

// Grabs on the root window of our own X connection, so they work whatever Qt platform plugin
// draws the windows. Events arrive on the main thread through the connection's socket.
class TeclasGlobalesX11 : public QObject, public TeclasGlobales {
public:
    TeclasGlobalesX11() {
        int pantalla = 0;
        conexion_ = xcb_connect(nullptr, &pantalla);
        if (xcb_connection_has_error(conexion_)) {
            xcb_disconnect(conexion_);
            conexion_ = nullptr;
            Registro::escribir(QStringLiteral("[atajo] sin servidor X: no hay atajos globales"));
            return;
        }
        auto iterador = xcb_setup_roots_iterator(xcb_get_setup(conexion_));
        for (int i = 0; i < pantalla && iterador.rem; ++i) xcb_screen_next(&iterador);
        raiz_ = iterador.data->root;

        // A held key would otherwise arrive as a train of releases and presses; with detectable
        // auto-repeat it is presses only, and one release when the key comes up.
        auto uso = xcb_xkb_use_extension_reply(conexion_, xcb_xkb_use_extension(conexion_, 1, 0), nullptr);
        if (uso && uso->supported) {
            const uint32_t bandera = XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT;
            std::free(xcb_xkb_per_client_flags_reply(
                conexion_,
                xcb_xkb_per_client_flags(conexion_, XCB_XKB_ID_USE_CORE_KBD, bandera, bandera, 0, 0, 0),
                nullptr));
        }
        std::free(uso);
        leerModificadores();

        lector_ = new QSocketNotifier(xcb_get_file_descriptor(conexion_), QSocketNotifier::Read, this);
        connect(lector_, &QSocketNotifier::activated, this, [this] { atender(false); });
        // Replies read by our own round trips can leave events queued inside the connection.
        if (auto* despachador = QAbstractEventDispatcher::instance())
            connect(despachador, &QAbstractEventDispatcher::aboutToBlock, this, [this] { atender(true); });
    }

    ~TeclasGlobalesX11() override {
        if (conexion_) xcb_disconnect(conexion_);
    }

    int registrar(quint32 id, quint32 tecla, quint32 modificadores) override {
        quitar(id);
        if (!conexion_ || xcb_connection_has_error(conexion_)) return XCB_CONN_ERROR;
        const auto codigo = Teclado::codigoX(tecla);
        const auto mascara = mascaraX(modificadores);
        if (!codigo || !mascara) return XCB_VALUE;  // a key or modifier this keyboard lacks
        const Toma toma{static_cast<xcb_keycode_t>(*codigo), *mascara};

        if (!enUso(toma)) {
            // The combination must fire whatever the lock keys say, so each lock variant is
            // taken too; the desktop refuses any of them if another client holds it.
            int error = 0;
            for (uint16_t extra : variantes()) {
                auto cookie = xcb_grab_key_checked(conexion_, 0, raiz_, toma.mascara | extra, toma.codigo,
                                                   XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
                if (xcb_generic_error_t* fallo = xcb_request_check(conexion_, cookie)) {
                    if (!error) error = fallo->error_code;
                    std::free(fallo);
                }
            }
            if (error) {
                soltar(toma);
                return error;
            }
        }
        tomas_[id] = toma;
        return 0;
    }

    void quitar(quint32 id) override {
        auto it = tomas_.find(id);
        if (it == tomas_.end()) return;
        const Toma toma = it->second;
        tomas_.erase(it);
        if (!enUso(toma) && conexion_) soltar(toma);
    }

private:
    struct Toma {
        xcb_keycode_t codigo = 0;
        uint16_t mascara = 0;
        bool operator==(const Toma&) const = default;
    };

    bool enUso(const Toma& toma) const {
        for (const auto& [id, otra] : tomas_)
            if (otra == toma) return true;
        return false;
    }

    void soltar(const Toma& toma) {
        for (uint16_t extra : variantes())
            xcb_ungrab_key(conexion_, toma.codigo, raiz_, toma.mascara | extra);
        xcb_flush(conexion_);
    }

    std::vector<uint16_t> variantes() const {
        std::vector<uint16_t> v{0, XCB_MOD_MASK_LOCK};
        if (numLock_) {
            v.push_back(numLock_);
            v.push_back(numLock_ | XCB_MOD_MASK_LOCK);
        }
        return v;
    }

    std::optional<uint16_t> mascaraX(quint32 modificadores) const {
        uint16_t m = 0;
        if (modificadores & Teclado::control) m |= XCB_MOD_MASK_CONTROL;
        if (modificadores & Teclado::shift) m |= XCB_MOD_MASK_SHIFT;
        if (modificadores & Teclado::option) {
            if (!alt_) return std::nullopt;
            m |= alt_;
        }
        if (modificadores & Teclado::command) {
            if (!super_) return std::nullopt;
            m |= super_;
        }
        return m;
    }

    // Which of Mod1..Mod5 carry Alt, Super and NumLock on this server.
    void leerModificadores() {
        alt_ = super_ = numLock_ = 0;
        xcb_key_symbols_t* simbolos = xcb_key_symbols_alloc(conexion_);
        auto* mapa = xcb_get_modifier_mapping_reply(conexion_, xcb_get_modifier_mapping(conexion_), nullptr);
        if (simbolos && mapa) {
            const xcb_keycode_t* codigos = xcb_get_modifier_mapping_keycodes(mapa);
            const int porFila = mapa->keycodes_per_modifier;
            for (int fila = 3; fila < 8; ++fila) {  // Mod1..Mod5
                const auto bit = static_cast<uint16_t>(1u << fila);
                for (int i = 0; i < porFila; ++i) {
                    const xcb_keycode_t codigo = codigos[fila * porFila + i];
                    if (!codigo) continue;
                    for (int columna = 0; columna < 4; ++columna) {
                        const xcb_keysym_t s = xcb_key_symbols_get_keysym(simbolos, codigo, columna);
                        if ((s == XKB_KEY_Alt_L || s == XKB_KEY_Alt_R || s == XKB_KEY_Meta_L) && !alt_) alt_ = bit;
                        if ((s == XKB_KEY_Super_L || s == XKB_KEY_Super_R) && !super_) super_ = bit;
                        if (s == XKB_KEY_Num_Lock && !numLock_) numLock_ = bit;
                    }
                }
            }
        }
        std::free(mapa);
        if (simbolos) xcb_key_symbols_free(simbolos);
        // The usual assignment when the server's map names none of them.
        if (!alt_) alt_ = XCB_MOD_MASK_1;
        if (!super_) super_ = XCB_MOD_MASK_4;
        if (!numLock_) numLock_ = XCB_MOD_MASK_2;
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
            switch (evento->response_type & 0x7f) {
            case XCB_KEY_PRESS:
                pulsada(*reinterpret_cast<xcb_key_press_event_t*>(evento));
                break;
            case XCB_KEY_RELEASE:
                soltada(*reinterpret_cast<xcb_key_release_event_t*>(evento));
                break;
            case XCB_MAPPING_NOTIFY:
                leerModificadores();
                break;
            default:
                break;
            }
        }
    }

    void pulsada(const xcb_key_press_event_t& e) {
        if (abajo_.count(e.detail)) return;  // auto-repeat of a key already down
        // The lock keys, the pointer buttons and the layout group play no part.
        const uint16_t mods = e.state & 0xff & ~(XCB_MOD_MASK_LOCK | numLock_);
        for (const auto& [id, toma] : tomas_) {
            if (toma.codigo == e.detail && toma.mascara == mods) {
                abajo_[e.detail] = id;
                if (alEvento) alEvento(id, false);
                return;
            }
        }
    }

    void soltada(const xcb_key_release_event_t& e) {
        auto it = abajo_.find(e.detail);
        if (it == abajo_.end()) return;
        const quint32 id = it->second;
        abajo_.erase(it);
        if (alEvento) alEvento(id, true);
    }

    xcb_connection_t* conexion_ = nullptr;
    xcb_window_t raiz_ = 0;
    QSocketNotifier* lector_ = nullptr;
    uint16_t alt_ = 0, super_ = 0, numLock_ = 0;
    std::map<quint32, Toma> tomas_;
    std::map<xcb_keycode_t, quint32> abajo_;  // keys down now → the id they fired
};

}  // namespace

TeclasGlobales& TeclasGlobales::sistema() {
    static TeclasGlobalesX11* teclas = [] {
        sesionWayland();
        return new TeclasGlobalesX11;  // lives as long as the process: grabs end with it
    }();
    return *teclas;
}

bool TeclasGlobales::sesionWayland() {
    static const bool wayland = [] {
        const bool es = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                        qEnvironmentVariable("XDG_SESSION_TYPE").compare(QStringLiteral("wayland"),
                                                                          Qt::CaseInsensitive) == 0;
        if (es)
            Registro::escribir(QStringLiteral(
                "[atajo] sesión Wayland: el escritorio no entrega teclas globales a las apps; los atajos y "
                "control + Super solo responden sobre ventanas X11"));
        return es;
    }();
    return wayland;
}
