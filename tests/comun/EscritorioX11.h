#pragma once

// A plain desktop on the test's X server: a real window manager (openbox) and, when asked, a
// compositing manager (xcompmgr), started for one test and stopped with it. X11 tests run one at
// a time, so the display is the test's own while it runs. Each helper dies with the test
// process, also when the test crashes, so no later test finds them still running.

#include "comun/Ayudas.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QtGui/qguiapplication_platform.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/prctl.h>
#include <xcb/xcb.h>

namespace pruebas {

class EscritorioX11 {
public:
    // Whether both programs are installed.
    static bool disponible(bool conCompositor) {
        return !QStandardPaths::findExecutable(QStringLiteral("openbox")).isEmpty() &&
               (!conCompositor || !QStandardPaths::findExecutable(QStringLiteral("xcompmgr")).isEmpty());
    }

    // Starts the window manager, and the compositor when asked; false if either did not take
    // the display within the time-out.
    bool arrancar(bool conCompositor) {
        gestor_ = lanzar(QStringLiteral("openbox"), {QStringLiteral("--sm-disable")});
        if (!esperarHasta([&] { return hayDueno("WM_S0"); }, 20000)) return false;
        // The manager owns the display before it manages windows: it is ready once a window
        // mapped now gets its state from it.
        if (!gestiona()) return false;
        if (conCompositor) {
            compositor_ = lanzar(QStringLiteral("xcompmgr"), {});
            if (!esperarHasta([&] { return hayDueno("_NET_WM_CM_S0"); }, 20000)) return false;
        }
        return true;
    }

    // A compositor started or stopped while the test's windows show (`argumentos` for xcompmgr,
    // such as "-c" for its shadows); false if it did not take or leave the display in time.
    bool arrancarCompositor(const QStringList& argumentos = {}) {
        compositor_ = lanzar(QStringLiteral("xcompmgr"), argumentos);
        return esperarHasta([&] { return hayDueno("_NET_WM_CM_S0"); }, 20000);
    }
    bool pararCompositor() {
        parar(compositor_, "_NET_WM_CM_S0");
        return !hayDueno("_NET_WM_CM_S0");
    }

    // Adds `hint` to the hints the root window says the desktop supports, as a window manager
    // that reads it does (openbox does not list "_GTK_FRAME_EXTENTS", GNOME's and KDE's do).
    static void anunciar(const char* hint) {
        xcb_connection_t* c = conexion();
        if (!c) return;
        const xcb_window_t raiz = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        const xcb_atom_t a = atomo(c, hint);
        xcb_change_property(c, XCB_PROP_MODE_APPEND, raiz, atomo(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM, 32, 1, &a);
        xcb_flush(c);
    }

    ~EscritorioX11() {
        parar(compositor_, "_NET_WM_CM_S0");
        parar(gestor_, "WM_S0");
    }

private:
    static xcb_connection_t* conexion() {
        auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        return x11 ? x11->connection() : nullptr;
    }

    static bool hayDueno(const QByteArray& seleccion) {
        xcb_connection_t* c = conexion();
        if (!c) return false;
        auto* a = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, seleccion.size(), seleccion.constData()), nullptr);
        if (!a) return false;
        auto* d = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, a->atom), nullptr);
        const bool hay = d && d->owner != XCB_NONE;
        std::free(d);
        std::free(a);
        return hay;
    }

    static xcb_atom_t atomo(xcb_connection_t* c, const char* nombre) {
        auto* a = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(nombre)), nombre), nullptr);
        const xcb_atom_t r = a ? a->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(a);
        return r;
    }

    static bool gestiona() {
        xcb_connection_t* c = conexion();
        if (!c) return false;
        const xcb_screen_t* pantalla = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        const xcb_window_t prueba = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, prueba, pantalla->root, 0, 0, 10, 10, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(c, prueba);
        xcb_flush(c);
        const xcb_atom_t estado = atomo(c, "WM_STATE");
        const bool listo = esperarHasta(
            [&] {
                auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, prueba, estado, estado, 0, 2), nullptr);
                const bool tiene = r && r->value_len > 0;
                std::free(r);
                if (!tiene) {
                    // A map request a manager still starting has dropped: ask again.
                    xcb_map_window(c, prueba);
                    xcb_flush(c);
                }
                return tiene;
            },
            20000);
        xcb_destroy_window(c, prueba);
        xcb_flush(c);
        return listo;
    }

    static std::unique_ptr<QProcess> lanzar(const QString& programa, const QStringList& argumentos) {
        auto p = std::make_unique<QProcess>();
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->setStandardOutputFile(QProcess::nullDevice());
        // Ended by the kernel when the test process goes, however it goes.
        p->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        p->start(programa, argumentos);
        return p;
    }

    static void parar(std::unique_ptr<QProcess>& p, const QByteArray& seleccion) {
        if (!p) return;
        p->terminate();
        if (!p->waitForFinished(10000)) {
            p->kill();
            p->waitForFinished(5000);
        }
        // Gone from the display before the next test looks at it.
        esperarHasta([&] { return !hayDueno(seleccion); }, 5000);
        p.reset();
    }

    std::unique_ptr<QProcess> gestor_;
    std::unique_ptr<QProcess> compositor_;
};

}  // namespace pruebas
