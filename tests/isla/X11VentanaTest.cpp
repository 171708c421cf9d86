// The island window on a real X server: its window-manager hints, placement, scale and keys.
#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "plataforma/VentanaFlotante.h"
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/Pildora.h"
#include "zentu/isla/Ventana.h"

#include <QApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QPainter>
#include <cmath>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

struct Isla : ::testing::Test {
    std::unique_ptr<PanelIsla> panel;
    QWidget* contenido = nullptr;

    void SetUp() override {
        Preferencias::almacen().remove(QStringLiteral("zentu.isla.sitio"));
        contenido = new QWidget;
        panel = std::make_unique<PanelIsla>(contenido);
    }
    void TearDown() override { Preferencias::almacen().remove(QStringLiteral("zentu.isla.sitio")); }

    QString sitio() const { return Preferencias::almacen().value(QStringLiteral("zentu.isla.sitio")).toString(); }
    void mostrar() {
        panel->show();
        ASSERT_TRUE(pruebas::esperarHasta([&] { return panel->windowHandle() && panel->windowHandle()->isExposed(); }));
        pruebas::girar(100);
    }
};

}  // namespace

TEST_F(Isla, FlotaEnTodosLosEscritoriosFueraDeLaBarra) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    mostrar();
    const QStringList estados = VentanaFlotante::estados(panel->windowHandle());
    for (const char* e : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR",
                          "_NET_WM_STATE_SKIP_PAGER"})
        EXPECT_TRUE(estados.contains(e)) << e << " en " << estados.join(' ').toStdString();
    QStringList sinRepetir = estados;
    EXPECT_EQ(sinRepetir.removeDuplicates(), 0);
    EXPECT_TRUE(panel->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(panel->testAttribute(Qt::WA_TranslucentBackground));
    // Shown without taking the focus.
    EXPECT_FALSE(panel->isActiveWindow());
    EXPECT_EQ(contenido->geometry(), QRect(0, 0, 320, 176));

    // Hidden and shown again: the states are still asked for.
    panel->hide();
    pruebas::girar(50);
    mostrar();
    EXPECT_TRUE(VentanaFlotante::estados(panel->windowHandle()).contains("_NET_WM_STATE_STICKY"));
}

TEST_F(Isla, ColocaYRecuerdaElSitio) {
    QScreen* pantalla = QGuiApplication::primaryScreen();
    ASSERT_TRUE(pantalla);
    QCursor::setPos(pantalla->geometry().center());
    panel->cambiarEscala(1);  // nothing to do at scale 1
    panel->colocar();
    mostrar();
    const QRect disponible = pantalla->availableGeometry();
    // Centred, with its top edge on the top of the usable area: whole on the screen.
    EXPECT_EQ(panel->geometry(), QRect(pantalla->geometry().center().x() + 1 - 160, disponible.top(), 320, 176));
    EXPECT_TRUE(sitio().isEmpty());  // placing itself is not the owner's move

    // A larger scale keeps the top centre; the window's own move is not stored either.
    panel->cambiarEscala(2);
    pruebas::girar(100);
    EXPECT_EQ(panel->size(), QSize(640, 352));
    EXPECT_EQ(panel->geometry().center().x(), pantalla->geometry().center().x());
    EXPECT_TRUE(sitio().isEmpty());
    EXPECT_EQ(contenido->geometry(), QRect(0, 0, 640, 352));
    panel->cambiarEscala(1);
    pruebas::girar(100);

    // A move nobody pressed the island for is not the owner's: not stored, and the window goes
    // back to its place.
    const QRect enSuSitio = panel->geometry();
    panel->move(300, 400);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return panel->geometry() == enSuSitio; }));
    EXPECT_TRUE(sitio().isEmpty());

    // The owner presses the island and moves it: the top-centre point is stored, in points from
    // the primary's bottom.
    QTest::mousePress(contenido, Qt::LeftButton, {}, QPoint(160, 80));
    panel->move(300, 400);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !sitio().isEmpty(); }));
    const double altura = pantalla->geometry().height();
    EXPECT_EQ(sitio(), QStringLiteral("{%1, %2}").arg(300 + 160).arg(altura - 400));
    // The pill's rectangle follows.
    EXPECT_EQ(panel->marcoPildora(), QRectF(300 + 160 - 115, 400 + 50, 230, 56));

    // Hidden, moved elsewhere meanwhile (not stored), shown again at the stored place.
    panel->hide();
    panel->move(10, 10);
    pruebas::girar(50);
    EXPECT_EQ(sitio(), QStringLiteral("{%1, %2}").arg(460).arg(altura - 400));
    panel->colocar();
    mostrar();
    EXPECT_EQ(panel->pos(), QPoint(300, 400));
    EXPECT_EQ(sitio(), QStringLiteral("{%1, %2}").arg(460).arg(altura - 400));

    // An unreadable stored place is as good as none.
    Preferencias::almacen().setValue(QStringLiteral("zentu.isla.sitio"), QStringLiteral("basura"));
    panel->colocar();
    pruebas::girar(50);
    EXPECT_EQ(panel->pos().y(), disponible.top());
}

TEST_F(Isla, LasTeclasVanPrimeroAlDueno) {
    const auto tecla = [&](int codigo) {
        QKeyEvent e(QEvent::KeyPress, codigo, Qt::NoModifier);
        e.setAccepted(false);
        QApplication::sendEvent(panel.get(), &e);
        return e.isAccepted();
    };
    EXPECT_FALSE(tecla(Qt::Key_Escape));  // no handler: the window's own handling, which passes it on
    QList<int> vistas;
    panel->alTeclear = [&](QKeyEvent* e) {
        vistas << e->key();
        return e->key() == Qt::Key_Escape;
    };
    EXPECT_TRUE(tecla(Qt::Key_Escape));
    EXPECT_FALSE(tecla(Qt::Key_M));
    EXPECT_EQ(vistas, (QList<int>{Qt::Key_Escape, Qt::Key_M}));
}

TEST(RaizIsla, EscalaElContenido) {
    EstadoVoz voz;
    voz.setEscala(1);
    auto* contenido = new QWidget;
    RaizIsla raiz(voz, contenido);
    EXPECT_EQ(contenido->geometry(), QRect(0, 0, 320, 176));
    voz.setEscala(2.2);
    EXPECT_EQ(contenido->geometry(), QRect(0, 0, 704, 387));
}

// The whole island as the shell builds it: dragging the pill moves the window, and the place is
// remembered.
TEST(IslaCompleta, ArrastrarLaPildoraMueveLaVentana) {
    Preferencias::almacen().remove(QStringLiteral("zentu.isla.sitio"));
    EstadoVoz voz;
    voz.setEscala(1);
    voz.setVisible(true);
    auto* pildora = new Pildora(voz);
    PanelIsla panel(new RaizIsla(voz, pildora));
    panel.cambiarEscala(voz.escala());
    // The window is the part of the island's frame that it draws in: the frame at (400, 300).
    const QPoint recorte = panel.pos() - panel.marco().topLeft();
    panel.move(QPoint(400, 300) + recorte);
    panel.show();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return panel.windowHandle() && panel.windowHandle()->isExposed(); }));
    pruebas::girar(100);
    EXPECT_EQ(pildora->size(), QSize(320, 176));
    EXPECT_EQ(panel.marco(), QRect(400, 300, 320, 176));
    ASSERT_EQ(pildora->botonesVisibles().size(), 3);

    // Press on the capsule beside the status dot, then drag by (60, 40).
    const QPoint desde(130, 60);
    const QPoint global = pildora->mapToGlobal(desde);
    QTest::mousePress(pildora, Qt::LeftButton, {}, desde);
    // The pointer moves over the screen; the window moves under it.
    for (int i = 1; i <= 4; ++i) QTest::mouseMove(pildora, pildora->mapFromGlobal(global + QPoint(15 * i, 10 * i)));
    QTest::mouseRelease(pildora, Qt::LeftButton, {}, pildora->mapFromGlobal(global + QPoint(60, 40)));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return panel.marco().topLeft() == QPoint(460, 340); }, 3000))
        << panel.marco().x() << "," << panel.marco().y();
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] { return Preferencias::almacen().contains(QStringLiteral("zentu.isla.sitio")); }, 3000));
    const double altura = QGuiApplication::primaryScreen()->geometry().height();
    EXPECT_EQ(Preferencias::almacen().value(QStringLiteral("zentu.isla.sitio")).toString(),
              QStringLiteral("{%1, %2}").arg(460 + 160).arg(altura - 340));

    // Pressing outside the capsule (the window's transparent room) does not drag.
    const QPoint fuera = pildora->mapFrom(&panel, QPoint(2, 2));
    QTest::mousePress(pildora, Qt::LeftButton, {}, fuera);
    QTest::mouseMove(pildora, fuera + QPoint(55, 55));
    QTest::mouseRelease(pildora, Qt::LeftButton, {}, fuera + QPoint(55, 55));
    pruebas::girar(100);
    EXPECT_EQ(panel.marco().topLeft(), QPoint(460, 340));

    // The pill follows the island's scale.
    voz.setEscala(2);
    panel.cambiarEscala(voz.escala());
    pruebas::girar(100);
    EXPECT_EQ(pildora->size(), QSize(640, 352));
    EXPECT_EQ(panel.marco().size(), QSize(640, 352));
    EXPECT_EQ(pildora->botonesVisibles().first()->size(), QSize(68, 68));
    Preferencias::almacen().remove(QStringLiteral("zentu.isla.sitio"));
}

// A notice of three lines is never clipped: the window grows downwards while it shows, at every
// scale, keeping its top centre, and goes back when the notice goes.
TEST(IslaCompleta, ElAvisoLargoCabeEnLaVentana) {
    Preferencias::almacen().remove(QStringLiteral("zentu.isla.sitio"));
    const QString aviso =
        QStringLiteral("No se pudo conectar con Zentu. Revisa tu conexión a internet y vuelve a intentarlo.");
    for (const double e : {0.9, 1.4, 2.2}) {
        SCOPED_TRACE(e);
        EstadoVoz voz;
        voz.setEscala(e);
        voz.setVisible(true);
        auto* pildora = new Pildora(voz);
        pildora->setEsquema(Esquema::oscuro);
        PanelIsla panel(new RaizIsla(voz, pildora));
        panel.move(300, 80);
        panel.cambiarEscala(voz.escala());
        panel.show();
        ASSERT_TRUE(pruebas::esperarHasta([&] { return panel.windowHandle() && panel.windowHandle()->isExposed(); }));
        const int altoSinAviso = int(std::lround(176 * e));
        ASSERT_EQ(panel.marco().height(), altoSinAviso);
        const auto arribaCentroDe = [](const QRect& r) { return QPoint(r.x() + r.width() / 2, r.y()); };
        const QPoint arribaCentro = arribaCentroDe(panel.marco());
        // The window holds what the pill draws, not the whole frame.
        const int ventanaSinAviso = panel.height();
        EXPECT_LT(ventanaSinAviso, altoSinAviso);

        voz.setAviso(aviso);
        const auto burbuja = Pildora::marcoBurbuja(voz);
        ASSERT_TRUE(burbuja);
        EXPECT_GT(burbuja->height(), 3 * 12.5);  // it does wrap into several lines
        ASSERT_TRUE(pruebas::esperarHasta([&] { return panel.marco().height() > altoSinAviso; }));
        pruebas::girar(900);  // the pill's own appearance settles
        EXPECT_GE(panel.marco().height(), int(std::ceil(burbuja->bottom() * e)));
        EXPECT_EQ(arribaCentroDe(panel.marco()), arribaCentro);
        EXPECT_EQ(pildora->height(), panel.marco().height());
        // The window grew with the notice, down to below it.
        EXPECT_GT(panel.height(), ventanaSinAviso);
        EXPECT_GE(panel.geometry().bottom(), panel.marco().top() + int(burbuja->bottom() * e));

        // The lowest drawn row stands clear of the window's bottom edge: nothing is cut.
        const QImage imagen = panel.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        int ultimaFila = -1;
        for (int y = 0; y < imagen.height(); ++y)
            for (int x = 0; x < imagen.width(); ++x)
                if (qAlpha(imagen.pixel(x, y)) > 0) ultimaFila = y;
        // In the window's rows: the window starts where the pill's drawing does, below the frame's top.
        const int arribaVentana = panel.geometry().top() - panel.marco().top();
        EXPECT_GT(ultimaFila, int(burbuja->bottom() * e) - arribaVentana - 3);
        EXPECT_LT(ultimaFila, imagen.height() - 1);
        QImage foto(imagen.size(), QImage::Format_ARGB32_Premultiplied);
        foto.fill(QColor(52, 58, 70));
        QPainter p(&foto);
        p.drawImage(0, 0, imagen);
        p.end();
        foto.save(pruebas::carpetaArtefactos("isla") + QStringLiteral("/isla-aviso-largo-%1.png").arg(e));

        voz.setAviso(std::nullopt);
        ASSERT_TRUE(pruebas::esperarHasta([&] { return panel.marco().height() == altoSinAviso; }));
        EXPECT_EQ(arribaCentroDe(panel.marco()), arribaCentro);
        EXPECT_EQ(panel.height(), ventanaSinAviso);
    }
    EXPECT_FALSE(Preferencias::almacen().contains(QStringLiteral("zentu.isla.sitio")));
}
