// The floating card window on a real X server: above other windows, on every workspace, out of the
// taskbar, placed on the pointer's screen.
#include "zentu/isla/TarjetasFlotantes.h"

#include "comun/Ayudas.h"
#include "plataforma/VentanasEscritorio.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

TEST(X11PanelFlotante, EncimaEnTodosLosEscritoriosYFueraDeLaBarra) {
    ASSERT_TRUE(VentanasEscritorio::hayX11());
    PanelFlotante panel({320, 300}, new Tarjeta(QStringLiteral("Prueba"), {320, 300}, [] {}, new QLabel("x"), Esquema::oscuro));
    QScreen* pantalla = QGuiApplication::primaryScreen();
    QCursor::setPos(pantalla->geometry().center());
    panel.mostrarCentrado();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return panel.windowHandle() && panel.windowHandle()->isExposed(); }));
    const QStringList estado = VentanasEscritorio::estado(&panel);
    for (const char* hint : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR"})
        EXPECT_TRUE(estado.contains(QString::fromLatin1(hint))) << hint;
    EXPECT_FALSE(estado.contains(QStringLiteral("_NET_WM_STATE_BELOW")));
    EXPECT_EQ(VentanasEscritorio::escritorio(&panel), 0xFFFFFFFFll);
    const QPointF esperado = PanelFlotante::origenCentrado(QRectF(pantalla->availableGeometry()), QSizeF(panel.size()));
    EXPECT_EQ(panel.pos(), esperado.toPoint());
}

}  // namespace
