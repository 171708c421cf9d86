// A widget on a plain desktop (openbox) while a compositor (xcompmgr -c) starts and stops: its
// rounded corners show the desktop beneath at every moment, never black wedges.
#include "widgets/VentanaWidget.h"

#include "comun/Ayudas.h"
#include "comun/EscritorioX11.h"
#include "comun/PantallaX11.h"
#include "compartido/Instantanea.h"
#include "plataforma/Compositor.h"

#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QScreen>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

const QColor verde(40, 160, 60);

// The corners of the window, just inside its rectangle: what the screen shows there, the desktop
// beneath (green, or the compositor's own fill of it), never black.
std::string esquinasNegras(const QWidget& w) { return pruebas::esquinasNegras(w.geometry()); }

TEST(X11VentanaWidget, LasEsquinasSiguenAlCompositor) {
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(true)) << "openbox / xcompmgr";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    QScreen* pantalla = QGuiApplication::primaryScreen();
    ASSERT_TRUE(pantalla);
    // The desktop itself is green: a widget lies below every other window, on it.
    ASSERT_EQ(QProcess::execute(QStringLiteral("xsetroot"), {QStringLiteral("-solid"), verde.name()}), 0);

    VentanaWidget widget(QStringLiteral("dia"), FamiliaW::mediana);
    // Placed again until the place it knows is where it shows: a manager that has just started
    // may tell a window the corner while showing it where it asked.
    ASSERT_TRUE(pruebas::ponerEn(widget, QRect(pantalla->availableGeometry().center(), widget.size())));
    // The widget is there: its middle is not the desktop.
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !pruebas::parecido(pruebas::enPantalla(widget.geometry().center()), verde, 20); }, 10000));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return esquinasNegras(widget).empty(); }, 10000)) << esquinasNegras(widget);

    for (int vuelta = 0; vuelta < 2; ++vuelta) {
        SCOPED_TRACE(vuelta);
        ASSERT_TRUE(escritorio.arrancarCompositor({QStringLiteral("-c")}));
        ASSERT_TRUE(pruebas::esperarHasta([] { return Compositor::observador().activo(); }, 10000));
        EXPECT_TRUE(pruebas::esperarHasta([&] { return esquinasNegras(widget).empty(); }, 10000)) << esquinasNegras(widget);
        ASSERT_TRUE(escritorio.pararCompositor());
        ASSERT_TRUE(pruebas::esperarHasta([] { return !Compositor::observador().activo(); }, 10000));
        EXPECT_TRUE(pruebas::esperarHasta([&] { return esquinasNegras(widget).empty(); }, 10000)) << esquinasNegras(widget);
    }
    const QRect g = widget.geometry().adjusted(-10, -10, 10, 10);
    pantalla->grabWindow(0, g.x(), g.y(), g.width(), g.height())
        .save(pruebas::carpetaArtefactos(QStringLiteral("widgets")) + QStringLiteral("/widget-tras-compositor.png"));
    QProcess::execute(QStringLiteral("xsetroot"), {QStringLiteral("-def")});  // the display is shared
}

}  // namespace
