#include "plataforma/Compositor.h"

#include <QGuiApplication>
#include <gtest/gtest.h>

// Offscreen rendering draws into images, which keep their alpha channel.
TEST(Compositor, FueraDePantallaHayTransparencia) {
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("offscreen"));
    EXPECT_TRUE(Compositor::activo());
}
