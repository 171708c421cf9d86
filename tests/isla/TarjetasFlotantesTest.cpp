// The floating card window's size and placement arithmetic (with made-up screens), the wrapping
// layout's walk, Escape, the close button, and the scroll container in capture mode.
#include "zentu/isla/TarjetasFlotantes.h"
#include "zentu/isla/Vidrio.h"

#include "compartido/VistasWidgets.h"
#include "comun/Ayudas.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using Pantalla = PanelFlotante::Pantalla;

TEST(PanelFlotante, TamanoDeLaVentanaSumaElMargenOMideElContenido) {
    EXPECT_EQ(PanelFlotante::tamanoVentana({320, 300}, nullptr), QSizeF(368, 348));
    EXPECT_EQ(PanelFlotante::tamanoVentana({380, 440}, nullptr), QSizeF(428, 488));

    double anchoPedido = -1;
    const auto medir = [&](double alto) {
        return [&anchoPedido, alto](double ancho) {
            anchoPedido = ancho;
            return alto;
        };
    };
    // A measured card gets the same room for its shadow as any other: 24 on each side.
    EXPECT_EQ(PanelFlotante::tamanoVentana({864, 0}, medir(500)), QSizeF(912, 500));
    EXPECT_EQ(anchoPedido, 912);
    // A taller content is cut to 760.
    EXPECT_EQ(PanelFlotante::tamanoVentana({864, 0}, medir(1200)), QSizeF(912, 760));
}

TEST(PanelFlotante, EligeLaPantallaDelPunteroOLaPrincipal) {
    const std::vector<Pantalla> dos = {{{0, 0, 1440, 900}, {0, 25, 1440, 875}},
                                       {{1440, 0, 1920, 1080}, {1440, 0, 1920, 1040}}};
    EXPECT_EQ(PanelFlotante::pantallaDe({2000, 500}, dos, 0)->marco, QRectF(1440, 0, 1920, 1080));
    EXPECT_EQ(PanelFlotante::pantallaDe({100, 100}, dos, 1)->marco, QRectF(0, 0, 1440, 900));
    // Off every screen: the main one; with no main one and no screen at all, none.
    EXPECT_EQ(PanelFlotante::pantallaDe({-50, -50}, dos, 1)->marco, QRectF(1440, 0, 1920, 1080));
    EXPECT_FALSE(PanelFlotante::pantallaDe({-50, -50}, dos, -1));
    EXPECT_FALSE(PanelFlotante::pantallaDe({0, 0}, {}, 0));
}

TEST(PanelFlotante, CentradoYElevadoUnCincoPorCiento) {
    // Visible frame 1440 x 875: the 368 x 348 window's bottom edge lies 307.25 above the frame's
    // bottom (that is, its top 219.75 below the frame's top), horizontally at 536.
    const QRectF visible(0, 0, 1440, 875);
    const QPointF o = PanelFlotante::origenCentrado(visible, {368, 348});
    EXPECT_DOUBLE_EQ(o.x(), 536);
    EXPECT_DOUBLE_EQ(o.y(), 219.75);
    EXPECT_DOUBLE_EQ(visible.bottom() - (o.y() + 348), 307.25);
    // A visible frame that does not start at the origin (a panel on top, a second screen).
    const QPointF o2 = PanelFlotante::origenCentrado({1440, 30, 1920, 1000}, {428, 488});
    EXPECT_DOUBLE_EQ(o2.x(), 1440 + 960 - 214);
    EXPECT_DOUBLE_EQ(o2.y(), 30 + 500 - 244 - 50);
}

TEST(PanelFlotante, JuntoAlRatonSinSalirDeLaPantalla) {
    const QRectF v(0, 25, 1440, 875);  // bottom at 900
    const QSizeF w(368, 348);
    struct Caso {
        QPointF raton;
        QPointF origen;
    };
    const Caso casos[] = {
        {{700, 400}, {516, 226}},           // room everywhere: centred on the pointer
        {{10, 400}, {0, 226}},              // 10 points from the left edge: on the left edge
        {{1435, 400}, {1440 - 368, 226}},   // near the right edge
        {{700, 30}, {516, 25}},             // near the top: below the panel
        {{700, 895}, {516, 900 - 348}},     // near the bottom
    };
    for (const Caso& c : casos) EXPECT_EQ(PanelFlotante::origenJuntoAlRaton(c.raton, v, w), c.origen) << c.raton.x() << "," << c.raton.y();
    // Larger than the visible frame: right edge and top edge on the frame's edges.
    const QPointF grande = PanelFlotante::origenJuntoAlRaton({700, 400}, v, {1600, 1000});
    EXPECT_EQ(grande, QPointF(1440 - 1600, 25));
}

TEST(FlowLayout, FilasYSaltos) {
    const std::vector<QSizeF> tres(3, QSizeF(40, 20));
    EXPECT_EQ(FlowLayout::medir(tres, 100.0, 6), QSizeF(100, 46));
    const auto sitios = FlowLayout::colocar(tres, QRectF(0, 0, 100, 46), 6);
    ASSERT_EQ(sitios.size(), 3u);
    EXPECT_EQ(sitios[0], QPointF(0, 0));
    EXPECT_EQ(sitios[1], QPointF(46, 0));
    EXPECT_EQ(sitios[2], QPointF(0, 26));

    EXPECT_EQ(FlowLayout::medir({}, 120.0, 6), QSizeF(120, 0));
    EXPECT_EQ(FlowLayout::medir({}, std::nullopt, 6), QSizeF(300, 0));
    EXPECT_EQ(FlowLayout::medir(tres, std::nullopt, 6), QSizeF(300, 20));

    // Too wide: alone on its row at x 0, sticking out; the order stays.
    const std::vector<QSizeF> ancho = {{150, 10}, {30, 12}, {30, 8}};
    const auto s2 = FlowLayout::colocar(ancho, QRectF(0, 0, 100, 100), 4);
    EXPECT_EQ(s2[0], QPointF(0, 0));
    EXPECT_EQ(s2[1], QPointF(0, 14));
    EXPECT_EQ(s2[2], QPointF(34, 14));
    EXPECT_EQ(FlowLayout::medir(ancho, 100.0, 4), QSizeF(100, 26));

    // Bounds away from the origin: rows start again at the left of the bounds.
    const auto s3 = FlowLayout::colocar(tres, QRectF(10, 5, 100, 50), 6);
    EXPECT_EQ(s3[1], QPointF(56, 5));
    EXPECT_EQ(s3[2], QPointF(10, 31));
    // The gap after the last item of a row counts only for the wrap test: 40+6+40 = 86 fits in 86.
    EXPECT_EQ(FlowLayout::medir({{40, 10}, {40, 10}}, 86.0, 6), QSizeF(86, 10));
}

TEST(FlowLayout, ColocaLosWidgets) {
    QWidget caja;
    auto* flujo = new FlowLayout(6, &caja);
    for (int i = 0; i < 3; ++i) {
        auto* w = new QWidget;
        w->setFixedSize(40, 20);
        flujo->addWidget(w);
    }
    EXPECT_TRUE(flujo->hasHeightForWidth());
    EXPECT_EQ(flujo->heightForWidth(100), 46);
    flujo->setGeometry(QRect(0, 0, 100, 46));
    EXPECT_EQ(flujo->itemAt(2)->geometry(), QRect(0, 26, 40, 20));
}

TEST(PanelFlotante, EscapeOcultaYLlamaAlCerrar) {
    int cerrada = 0, alCerrar = 0;
    auto* contenido = new Tarjeta(QStringLiteral("Prueba"), {320, 300}, [&] { ++cerrada; }, new QLabel("x"), Esquema::claro);
    PanelFlotante panel({320, 300}, contenido);
    EXPECT_EQ(panel.size(), QSize(368, 348));
    panel.mostrarCentrado();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return panel.isVisible(); }));
    const QPoint antes = panel.pos();

    // The close button runs `cerrar` and leaves the window where it is.
    auto* boton = qobject_cast<QAbstractButton*>(contenido->botonCerrar());
    ASSERT_TRUE(boton);
    EXPECT_EQ(boton->toolTip(), QStringLiteral("Cerrar (Esc)"));
    QTest::mouseClick(boton, Qt::LeftButton, {}, QPoint(12, 12));
    EXPECT_EQ(cerrada, 1);
    EXPECT_EQ(panel.pos(), antes);

    // Escape without `alCerrar` only hides; with it, hides then calls it.
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(panel.isVisible());
    panel.alCerrar = [&] { ++alCerrar; };
    panel.mostrarJuntoAlRaton();
    ASSERT_TRUE(panel.isVisible());
    QTest::keyClick(&panel, Qt::Key_Escape);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(alCerrar, 1);
    EXPECT_EQ(cerrada, 1);
}

// The card lies on its shadow: black at 0.4 (dark) or 0.15 (light), blurred by 22, 10 below,
// in the margin around the glass. Also in a picture of a card that was never shown on screen
// (what the screenshot renderer draws).
TEST(Tarjeta, SombraEnElMargen) {
    for (Esquema esquema : {Esquema::oscuro, Esquema::claro}) {
        Tarjeta tarjeta(QStringLiteral("Prueba"), {320, 300}, [] {}, nullptr, esquema);
        ASSERT_FALSE(tarjeta.isVisible());
        QImage dibujo(tarjeta.size(), QImage::Format_ARGB32_Premultiplied);
        dibujo.fill(Qt::transparent);
        tarjeta.render(&dibujo, QPoint(), QRegion(), QWidget::DrawChildren);

        QImage esperado(tarjeta.size(), QImage::Format_ARGB32_Premultiplied);
        esperado.fill(Qt::transparent);
        {
            QPainter p(&esperado);
            SombraVidrio(esquema, 22).pintar(p, FormaVidrio::redondeada(22), QRectF(24, 24, 320, 300), true);
        }
        const QRect superficie(24, 24, 320, 300);
        int comparados = 0;
        for (int y = 0; y < dibujo.height(); y += 3)
            for (int x = 0; x < dibujo.width(); x += 3) {
                if (superficie.contains(x, y)) continue;
                ASSERT_NEAR(qAlpha(dibujo.pixel(x, y)), qAlpha(esperado.pixel(x, y)), 1)
                    << x << "," << y << (esquema == Esquema::oscuro ? " oscuro" : " claro");
                ++comparados;
            }
        EXPECT_GT(comparados, 1000);
        // Under the middle of the card's bottom edge the shadow is plainly there.
        EXPECT_GT(qAlpha(dibujo.pixel(184, 330)), esquema == Esquema::oscuro ? 60 : 20);
    }
}

TEST(Desplazable, PlanoEnModoCaptura) {
    {
        Desplazable d(new QLabel("contenido"));
        EXPECT_TRUE(d.desplaza());
        EXPECT_NE(d.findChild<QScrollArea*>(), nullptr);
    }
    CapturaW::activa = true;
    {
        Desplazable d(new QLabel("contenido"));
        EXPECT_FALSE(d.desplaza());
        EXPECT_EQ(d.findChild<QScrollArea*>(), nullptr);
        EXPECT_NE(d.findChild<QLabel*>(), nullptr);
    }
    CapturaW::activa = false;
}

// In a translucent window a content that fills itself would wipe the card's glass under the
// list: the rows would stand over nothing (black where no compositor runs).
TEST(Desplazable, ElContenidoNoTapaElVidrio) {
    QWidget ventana;
    ventana.setAttribute(Qt::WA_TranslucentBackground);
    auto* contenido = new QWidget;
    contenido->setMinimumSize(200, 100);
    auto* d = new Desplazable(contenido, &ventana);
    d->resize(200, 100);
    EXPECT_FALSE(contenido->autoFillBackground());
    // Drawn over a glass-like fill, the content's area keeps that fill.
    QImage img(200, 100, QImage::Format_ARGB32_Premultiplied);
    img.fill(QColor(240, 240, 245));
    d->render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    EXPECT_EQ(img.pixelColor(100, 50), QColor(240, 240, 245));
}

}  // namespace
