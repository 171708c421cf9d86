#pragma once

// A Wayland session as far as the program can tell, for one suite of tests: a session bus of the
// suite's own, set before anything in the process touches the session bus, and the session's
// variables naming Wayland, with no compositor behind them. A suite that needs more in its SetUp
// calls this one's first.

#include "comun/PortalSimulado.h"

#include <gtest/gtest.h>

namespace pruebas {

class SesionWayland : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bus_ = new BusPrivado;
        bus_->usarComoSesion();
        qputenv("XDG_SESSION_TYPE", "wayland");
        qputenv("WAYLAND_DISPLAY", "zentu-prueba-sin-compositor");
    }
    static void TearDownTestSuite() {
        delete bus_;
        bus_ = nullptr;
    }
    void SetUp() override { ASSERT_FALSE(bus_->direccion().isEmpty()) << "dbus-daemon no arrancó"; }

    static inline BusPrivado* bus_ = nullptr;
};

}  // namespace pruebas
