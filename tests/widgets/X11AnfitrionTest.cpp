// The widget host on a real X server: three widgets as desktop windows below the others, on every
// workspace and out of the taskbar, and a picture of the screen with them.
#include "widgets/Anfitrion.h"

#include "comun/Ayudas.h"
#include "comun/PortalSimulado.h"
#include "plataforma/EsquemaColor.h"
#include "compartido/Instantanea.h"
#include "plataforma/VentanasEscritorio.h"
#include "widgets/VentanaWidget.h"

#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

// The mean lightness (0 to 255) the X server shows in the middle of the window.
double luz(QWidget* w) {
    const QRect r = w->rect().adjusted(w->width() / 4, w->height() / 4, -w->width() / 4, -w->height() / 4);
    const QImage im = QGuiApplication::primaryScreen()->grabWindow(w->winId(), r.x(), r.y(), r.width(), r.height()).toImage();
    double suma = 0;
    for (int y = 0; y < im.height(); ++y)
        for (int x = 0; x < im.width(); ++x) suma += qGray(im.pixel(x, y));
    return suma / std::max(1, im.width() * im.height());
}

// The desktop switches to dark and back through its portal (a stand-in on the session bus): the
// widgets on the desktop follow at once.
TEST(X11Anfitrion, LosWidgetsSiguenElEsquemaDelEscritorio) {
    ASSERT_TRUE(VentanasEscritorio::hayX11());
    pruebas::PortalApariencia portal(2);
    ASSERT_TRUE(portal.listo()) << "otro portal tiene ya el nombre en este bus";
    QFile::remove(Anfitrion::archivoDisposicion());
    Instantanea foto = Instantanea::ejemplo();
    foto.actualizado = QDateTime::currentDateTimeUtc();
    foto.guardar();
    Anfitrion anfitrion;
    anfitrion.iniciar();
    VentanaWidget* dia = anfitrion.anadir(QStringLiteral("dia"), FamiliaW::mediana, QPoint(24, 24));
    ASSERT_TRUE(dia);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return dia->windowHandle() && dia->windowHandle()->isExposed(); }));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !EsquemaColor::sistema().oscuro(); }));
    pruebas::girar(300);
    const double claro = luz(dia);
    EXPECT_GT(claro, 150);

    portal.poner(1);
    EXPECT_TRUE(pruebas::esperarHasta([&] { return luz(dia) < claro - 80; }, 20000)) << claro << " → " << luz(dia);
    QGuiApplication::primaryScreen()->grabWindow(0).save(pruebas::carpetaArtefactos("widgets") + "/anfitrion-oscuro.png");
    portal.poner(2);
    EXPECT_TRUE(pruebas::esperarHasta([&] { return std::abs(luz(dia) - claro) < 12; }, 20000)) << claro << " → " << luz(dia);
}

TEST(X11Anfitrion, TresWidgetsEnElEscritorio) {
    ASSERT_TRUE(VentanasEscritorio::hayX11());
    QFile::remove(Anfitrion::archivoDisposicion());
    Instantanea foto = Instantanea::ejemplo();
    foto.actualizado = QDateTime::currentDateTimeUtc();
    foto.guardar();

    Anfitrion anfitrion;
    anfitrion.iniciar();  // first start: the small pending widget, down the right-hand side
    anfitrion.anadir(QStringLiteral("dia"), FamiliaW::grande, QPoint(24, 24));
    anfitrion.anadir(QStringLiteral("agentes"), FamiliaW::mediana, QPoint(24, 430));
    ASSERT_EQ(anfitrion.ventanas().size(), 3u);
    for (const auto& v : anfitrion.ventanas())
        ASSERT_TRUE(pruebas::esperarHasta([&] { return v->isVisible() && v->windowHandle() && v->windowHandle()->isExposed(); }));
    pruebas::girar(300);

    for (const auto& v : anfitrion.ventanas()) {
        const QStringList estado = VentanasEscritorio::estado(v);
        for (const char* hint : {"_NET_WM_STATE_BELOW", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR",
                                 "_NET_WM_STATE_SKIP_PAGER"})
            EXPECT_TRUE(estado.contains(QString::fromLatin1(hint))) << v->tipo().toStdString() << " " << hint;
        EXPECT_FALSE(estado.contains(QStringLiteral("_NET_WM_STATE_ABOVE")));
        EXPECT_EQ(VentanasEscritorio::escritorio(v), 0xFFFFFFFFll);
    }

    QScreen* pantalla = QGuiApplication::primaryScreen();
    const QPixmap captura = pantalla->grabWindow(0);
    ASSERT_FALSE(captura.isNull());
    EXPECT_TRUE(captura.save(pruebas::carpetaArtefactos("widgets") + "/anfitrion-tres-widgets.png"));
    // The day widget is there: its background is not the bare root window.
    const QImage img = captura.toImage();
    EXPECT_NE(img.pixelColor(200, 200), img.pixelColor(img.width() / 2, img.height() - 5));
}

}  // namespace
