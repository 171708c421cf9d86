// The widget host on a real X server: three widgets as desktop windows below the others, on every
// workspace and out of the taskbar, and a picture of the screen with them.
#include "widgets/Anfitrion.h"

#include "comun/Ayudas.h"
#include "comun/EscritorioX11.h"
#include "comun/PortalSimulado.h"
#include "plataforma/EsquemaColor.h"
#include "compartido/Instantanea.h"
#include "plataforma/VentanasEscritorio.h"
#include "widgets/Catalogo.h"
#include "widgets/VentanaWidget.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QWindow>
#include <gtest/gtest.h>

#include <algorithm>

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

// Under a window manager: a widget made bigger near the screen's corner grows within the screen,
// the place kept for the next start is that one, and a kept place off every screen (a screen
// since unplugged) is brought back whole.
TEST(X11Anfitrion, UnWidgetMasGrandeSigueEnLaPantalla) {
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(false)) << "openbox";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    QFile::remove(Anfitrion::archivoDisposicion());
    QScreen* pantalla = QGuiApplication::primaryScreen();
    ASSERT_TRUE(pantalla);
    const QRect zona = pantalla->availableGeometry();
    const auto entero = [&](const VentanaWidget* v) { return zona.contains(v->geometry()); };
    const auto mapeada = [](const VentanaWidget* v) {
        return v->isVisible() && v->windowHandle() && v->windowHandle()->isExposed();
    };

    Anfitrion anfitrion;
    struct Caso {
        const char* que;
        QString tipo;
        FamiliaW desde, hasta;
        QPoint sitio;
    };
    const QPoint esquina = zona.bottomRight() - QPoint(170 + 10, 170 + 10);
    for (const Caso& c : {Caso{"pequeño a grande en la esquina", "pendientes", FamiliaW::pequena, FamiliaW::grande, esquina},
                          Caso{"pequeño a mediano en el borde derecho", "agentes", FamiliaW::pequena, FamiliaW::mediana,
                               QPoint(zona.right() - 180, zona.top() + 40)}}) {
        SCOPED_TRACE(c.que);
        VentanaWidget* v = anfitrion.anadir(c.tipo, c.desde, c.sitio);
        ASSERT_TRUE(v);
        ASSERT_TRUE(pruebas::esperarHasta([&] { return mapeada(v); }, 20000));
        ASSERT_TRUE(pruebas::esperarHasta([&] { return v->pos() == c.sitio; }, 10000)) << v->x() << "," << v->y();
        anfitrion.cambiarFamilia(v, c.hasta);
        EXPECT_EQ(v->size(), Catalogo::tamano(c.hasta).toSize());
        EXPECT_TRUE(pruebas::esperarHasta([&] { return entero(v); }, 10000))
            << v->x() << "," << v->y() << " " << v->width() << "×" << v->height();
        // Against the edges it reached, no farther in than it had to go.
        EXPECT_EQ(v->geometry().right(), std::min(zona.right(), c.sitio.x() + v->width() - 1));
        EXPECT_EQ(v->geometry().bottom(), std::min(zona.bottom(), c.sitio.y() + v->height() - 1));
        // Kept as it is seen.
        bool guardado = false;
        for (const auto& colocado : anfitrion.disposicion())
            if (colocado.tipo == c.tipo && colocado.familia == c.hasta) guardado = zona.contains(QRect(colocado.posicion, v->size()));
        EXPECT_TRUE(guardado);
        QPointer<VentanaWidget> ida(v);
        anfitrion.quitar(v);
        ASSERT_TRUE(pruebas::esperarHasta([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return !ida;
        }, 10000));
    }

    for (const QPoint& lejos : {QPoint(zona.right() + 4000, zona.bottom() + 3000), QPoint(-900, -900)}) {
        SCOPED_TRACE(testing::Message() << lejos.x() << "," << lejos.y());
        VentanaWidget* v = anfitrion.anadir(QStringLiteral("dia"), FamiliaW::grande, lejos);
        ASSERT_TRUE(v);
        ASSERT_TRUE(pruebas::esperarHasta([&] { return mapeada(v); }, 20000));
        EXPECT_TRUE(pruebas::esperarHasta([&] { return entero(v); }, 10000)) << v->x() << "," << v->y();
        const QPixmap captura = pantalla->grabWindow(0);
        captura.save(pruebas::carpetaArtefactos("widgets") + "/widget-devuelto-a-la-pantalla.png");
        QPointer<VentanaWidget> ida(v);
        anfitrion.quitar(v);
        ASSERT_TRUE(pruebas::esperarHasta([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return !ida;
        }, 10000));
    }
    QFile::remove(Anfitrion::archivoDisposicion());
}

}  // namespace
