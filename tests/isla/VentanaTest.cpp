#include "zentu/isla/Ventana.h"

#include <gtest/gtest.h>
#include <cmath>

using namespace GeometriaIsla;

namespace {
void esperarMarco(const QRectF& r, double x, double y, double w, double h) {
    EXPECT_NEAR(r.x(), x, 1e-9);
    EXPECT_NEAR(r.y(), y, 1e-9);
    EXPECT_NEAR(r.width(), w, 1e-9);
    EXPECT_NEAR(r.height(), h, 1e-9);
}
// Two screens side by side, y upwards: a 1440 × 900 primary with a 24-point top bar, and a
// 1920 × 1080 one to its right whose bottom is level with the primary's.
const std::vector<Pantalla> dos = {
    {QRectF(0, 0, 1440, 900), QRectF(0, 0, 1440, 876)},
    {QRectF(1440, 0, 1920, 1080), QRectF(1440, 0, 1920, 1080)},
};
}  // namespace

TEST(GeometriaIsla, CambioDeEscala) {
    const QRectF uno(100, 700, 320, 176);
    EXPECT_FALSE(cambiarEscala(uno, 1, 1.0004, std::nullopt));
    EXPECT_FALSE(cambiarEscala(QRectF(0, 0, 480, 264), 1.5, 1.501, std::nullopt));
    EXPECT_FALSE(cambiarEscala(QRectF(0, 0, 288, 158.4), 0.9, 0.2, std::nullopt));

    struct Caso {
        double x, escala, ancho, alto;
    };
    for (const Caso& c : {Caso{3, 2.2, 704, 387.2}, Caso{0.5, 0.9, 288, 158.4}, Caso{NAN, 0.9, 288, 158.4},
                          Caso{2, 2, 640, 352}, Caso{INFINITY, 2.2, 704, 387.2}}) {
        SCOPED_TRACE(c.x);
        const auto r = cambiarEscala(uno, 1, c.x, std::nullopt);
        ASSERT_TRUE(r);
        EXPECT_DOUBLE_EQ(r->escala, c.escala);
        EXPECT_NEAR(r->marco.width(), c.ancho, 1e-9);
        EXPECT_NEAR(r->marco.height(), c.alto, 1e-9);
        // The top-centre point stays put.
        EXPECT_NEAR(r->marco.x() + r->marco.width() / 2, 260, 1e-9);
        EXPECT_NEAR(r->marco.y() + r->marco.height(), 876, 1e-9);
    }
}

TEST(GeometriaIsla, CambioDeEscalaDentroDeLaPantalla) {
    // At the top-left corner of the primary: growing to 2.2 would pass 40·e to the left; the
    // top edge stays where it was.
    const QRectF esquina(-30, 900 + 22 - 176, 320, 176);
    const auto r = cambiarEscala(esquina, 1, 3, dos[0].marco);
    ASSERT_TRUE(r);
    esperarMarco(r->marco, -40 * 2.2, 922 - 387.2, 704, 387.2);
    // Shrinking from 2.2 at the very top: the top edge may then stand only 22·e above it.
    const auto s = cambiarEscala(QRectF(500, 900 + 48.4 - 387.2, 704, 387.2), 2.2, 1, dos[0].marco);
    ASSERT_TRUE(s);
    esperarMarco(s->marco, 852 - 160, 900 + 22 - 176, 320, 176);
}

TEST(GeometriaIsla, Dentro) {
    const QRectF f(0, 0, 1440, 900);
    // Near the bottom-left corner: at most 40·e past the left edge and 80·e below the bottom.
    esperarMarco(dentro(QRectF(-500, -500, 640, 352), f, 2), -80, -160, 640, 352);
    // Past the right edge and the top.
    esperarMarco(dentro(QRectF(1400, 1000, 320, 176), f, 1), 1440 - 320 + 40, 900 - 176 + 22, 320, 176);
    // Inside: unchanged.
    esperarMarco(dentro(QRectF(100, 100, 320, 176), f, 1), 100, 100, 320, 176);
    // A screen smaller than the window: the bound from above wins.
    esperarMarco(dentro(QRectF(-100, -100, 704, 387.2), QRectF(0, 0, 300, 200), 2.2), 300 - 704 + 88,
                 200 - 387.2 + 48.4, 704, 387.2);
}

TEST(GeometriaIsla, Colocar) {
    // No stored place: top centre of the pointer's screen, 22·e into the top band.
    auto r = colocar(std::nullopt, dos, QPointF(2000, 500), 0, 1);
    ASSERT_TRUE(r);
    esperarMarco(*r, 1440 + 960 - 160, 1080 - 176 + 22, 320, 176);
    r = colocar(std::nullopt, dos, QPointF(10, 10), 0, 1.5);
    ASSERT_TRUE(r);
    esperarMarco(*r, 720 - 240, 876 - 264 + 33, 480, 264);
    // Pointer on no screen: the primary.
    r = colocar(std::nullopt, dos, QPointF(-500, -500), 0, 1);
    ASSERT_TRUE(r);
    esperarMarco(*r, 560, 722, 320, 176);

    // A stored place on an attached screen, kept within reach.
    r = colocar(QPointF(700, 600), dos, QPointF(2000, 500), 0, 1);
    ASSERT_TRUE(r);
    esperarMarco(*r, 540, 424, 320, 176);
    r = colocar(QPointF(0, 20), dos, QPointF(2000, 500), 0, 2);
    ASSERT_TRUE(r);
    esperarMarco(*r, -80, -160, 640, 352);
    // On a screen no longer attached: back to the pointer's screen.
    r = colocar(QPointF(-3000, 400), dos, QPointF(2000, 500), 0, 1);
    ASSERT_TRUE(r);
    esperarMarco(*r, 2240, 926, 320, 176);
    // No screens at all.
    EXPECT_FALSE(colocar(QPointF(10, 10), {}, QPointF(0, 0), 0, 1));
}

TEST(GeometriaIsla, EnteraEnLoVisible) {
    const QRectF v(0, 0, 1440, 876);  // the primary's visible frame, y upwards
    struct Caso {
        QRectF marco;
        double x, y;
    };
    const Caso casos[] = {
        {QRectF(560, 722, 320, 176), 560, 700},            // 22 points into the top band: down to its edge
        {QRectF(-69, 1080 - 246, 448, 246), 0, 876 - 246},  // past the left edge and the top
        {QRectF(1300, -50, 320, 176), 1440 - 320, 0},      // past the right edge and the bottom
        {QRectF(100, 100, 320, 176), 100, 100},            // inside: unchanged
        {QRectF(-100, -100, 1600, 1000), 0, 876 - 1000},   // larger than the frame: top and left inside
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(testing::Message() << c.marco.x() << "," << c.marco.y());
        esperarMarco(enVisible(c.marco, v), c.x, c.y, c.marco.width(), c.marco.height());
    }
}

TEST(GeometriaIsla, PantallaDelMarco) {
    // The screen it overlaps most; none when it meets no screen.
    EXPECT_EQ(visibleDe(QRectF(100, 100, 320, 176), dos), dos[0].visible);
    EXPECT_EQ(visibleDe(QRectF(1300, 100, 320, 176), dos), dos[1].visible);
    EXPECT_EQ(visibleDe(QRectF(1200, 100, 320, 176), dos), dos[0].visible);
    EXPECT_EQ(visibleDe(QRectF(1400, 950, 320, 176), dos), dos[1].visible);
    EXPECT_FALSE(visibleDe(QRectF(-3000, 400, 320, 176), dos));
    EXPECT_FALSE(visibleDe(QRectF(0, 0, 320, 176), {}));
}

TEST(GeometriaIsla, MarcoPildora) {
    esperarMarco(marcoPildora(QRectF(100, 700, 320, 176), 1), 145, 770, 230, 56);
    esperarMarco(marcoPildora(QRectF(100, 700, 640, 352), 2), 190, 840, 460, 112);
}

TEST(GeometriaIsla, SitioGuardado) {
    EXPECT_EQ(textoDePunto(QPointF(260, 876)), "{260, 876}");
    EXPECT_EQ(textoDePunto(QPointF(-12.5, 0.1)), "{-12.5, 0.1}");
    EXPECT_EQ(puntoDeTexto("{260, 876}"), QPointF(260, 876));
    EXPECT_EQ(puntoDeTexto(" {-12.5,0.1} "), QPointF(-12.5, 0.1));
    for (const char* malo : {"", "260, 876", "{260}", "{a, b}", "{1, 2, 3}", "{nan, 1}", "{1e999, 1}"})
        EXPECT_FALSE(puntoDeTexto(malo)) << malo;
}

TEST(GeometriaIsla, CoordenadasDeQt) {
    // Primary screen 1920 × 1080 at the origin: Qt's y runs downwards from its top.
    const QRectF principal(0, 0, 1920, 1080);
    esperarMarco(deQt(QRectF(100, 10, 320, 176), principal), 100, 1080 - 186, 320, 176);
    esperarMarco(aQt(deQt(QRectF(100, 10, 320, 176), principal), principal), 100, 10, 320, 176);
    EXPECT_EQ(deQt(QPointF(5, 0), principal), QPointF(5, 1080));
    // A primary that does not start at the origin.
    const QRectF desplazada(1920, 200, 1440, 900);
    esperarMarco(deQt(QRectF(1920, 200, 10, 10), desplazada), 0, 890, 10, 10);
}
