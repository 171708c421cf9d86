#include "plataforma/Compositor.h"

#include <QGuiApplication>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <cstdlib>

namespace {

xcb_atom_t atomo(xcb_connection_t* c, const QByteArray& nombre) {
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, nombre.size(), nombre.constData()), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_NONE;
    free(r);
    return a;
}

// Xvfb runs no compositing manager; taking its selection the way one would makes one appear.
TEST(X11Compositor, SigueAlDuenoDeLaSeleccion) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(x11, nullptr);
    xcb_connection_t* c = x11->connection();
    EXPECT_FALSE(Compositor::activo());

    const xcb_screen_t* pantalla = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t ventana = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, ventana, pantalla->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_set_selection_owner(c, ventana, atomo(c, "_NET_WM_CM_S0"), XCB_CURRENT_TIME);
    xcb_flush(c);
    EXPECT_TRUE(Compositor::activo());

    // The manager goes away (its window with it): opaque again.
    xcb_destroy_window(c, ventana);
    xcb_flush(c);
    EXPECT_FALSE(Compositor::activo());
}

}  // namespace
