// The chat panel's geometry with made-up screens: stored size, placement next to the island,
// corner resizing with its clamps, and the stored size text.
#include "zentu/chat/PanelChat.h"

#include <gtest/gtest.h>

namespace {

using namespace GeometriaChat;

// A 1440 × 900 screen whose top 25 points are the desktop's panel (y grows upwards).
const Pantalla portatil{{0, 0, 1440, 900}, {0, 0, 1440, 875}};
const Pantalla derecha{{1440, -100, 1920, 1080}, {1440, -100, 1920, 1040}};

void igual(const QRectF& a, const QRectF& b, const char* que) {
    EXPECT_DOUBLE_EQ(a.x(), b.x()) << que;
    EXPECT_DOUBLE_EQ(a.y(), b.y()) << que;
    EXPECT_DOUBLE_EQ(a.width(), b.width()) << que;
    EXPECT_DOUBLE_EQ(a.height(), b.height()) << que;
}

}  // namespace

TEST(GeometriaChat, TamanoGuardado) {
    struct Caso {
        std::optional<QString> texto;
        QSizeF tam;
    };
    const Caso casos[] = {
        {std::nullopt, {380, 480}},
        {QString("{300, 500}"), {380, 480}},   // too narrow: both values replaced
        {QString("{500, 359}"), {380, 480}},   // too short
        {QString("{320, 360}"), {320, 360}},   // the smallest kept
        {QString("{900, 1200}"), {900, 1200}}, // beyond what a drag makes: kept
        {QString("{380.5,480.25}"), {380.5, 480.25}},
        {QString("380x480"), {380, 480}},
        {QString("{nan, 500}"), {380, 480}},
        {QString("{inf, 500}"), {380, 480}},
        {QString(""), {380, 480}},
        {QString("{1e9, 1e9}"), {tamanoMaximoX, tamanoMaximoX}},  // no window that size exists
    };
    for (const Caso& c : casos) EXPECT_EQ(tamanoGuardado(c.texto), c.tam) << c.texto.value_or("(nada)").toStdString();
    EXPECT_EQ(textoDeTamano({760, 980}), "{760, 980}");
    EXPECT_EQ(textoDeTamano({380.5, 480}), "{380.5, 480}");
    EXPECT_EQ(tamanoDeTexto(textoDeTamano({321.75, 999})), QSizeF(321.75, 999));
}

TEST(GeometriaChat, ColocarJuntoALaIsla) {
    const QSizeF panel(428, 528);
    struct Caso {
        const char* que;
        QRectF ancla;
        std::vector<Pantalla> pantallas;
        int principal;
        QRectF marco;
    };
    const Caso casos[] = {
        // The window's lower edge (below the card's 24-point margin) on the anchor's top: the
        // margin never lies over the pill. y = 100 + 56.
        {"sitio encima", {605, 100, 230, 56}, {portatil}, 0, {506, 156, 428, 528}},
        // At the top edge there is no room above: the window's top edge on the anchor's bottom.
        {"isla arriba: debajo", {605, 800, 230, 56}, {portatil}, 0, {506, 800 - 528, 428, 528}},
        {"borde izquierdo", {0, 800, 40, 56}, {portatil}, 0, {0, 272, 428, 528}},
        {"borde derecho", {1420, 800, 40, 56}, {portatil}, 0, {1440 - 428, 272, 428, 528}},
        // Neither above nor below fits: raised to the visible bottom.
        {"pantalla baja", {300, 300, 100, 56}, {{{0, 0, 800, 500}, {0, 0, 800, 500}}}, 0, {136, 0, 428, 528}},
        // Narrower than the panel: the right edge wins.
        {"pantalla estrecha", {100, 100, 100, 56}, {{{0, 0, 300, 900}, {0, 0, 300, 900}}}, 0, {-128, 156, 428, 528}},
        {"en la segunda pantalla", {2000, 200, 230, 56}, {portatil, derecha}, 0, {1901, 256, 428, 528}},
        // On no screen: the main one (here the second in the list).
        {"fuera de toda pantalla", {-5000, 300, 230, 56}, {portatil, derecha}, 1, {1440, 356, 428, 528}},
    };
    for (const Caso& c : casos) {
        const auto m = colocar(panel, c.ancla, c.pantallas, c.principal);
        ASSERT_TRUE(m) << c.que;
        igual(*m, c.marco, c.que);
    }
    EXPECT_FALSE(colocar(panel, {0, 0, 10, 10}, {}, -1));
    EXPECT_FALSE(colocar(panel, {-5000, 0, 10, 10}, {portatil}, -1));
}

TEST(GeometriaChat, RedimensionarDesdeCadaEsquina) {
    const QRectF b(100, 100, 428, 528);  // top edge at 628, right edge at 528
    struct Caso {
        const char* que;
        Esquina c;
        QSizeF d;
        QRectF marco;
    };
    const Caso casos[] = {
        {"abajo-derecha +1000: al máximo, arriba-izquierda quieta", Esquina::abajoDerecha, {1000, 1000},
         {100, 628 - 1028, 808, 1028}},
        {"arriba-izquierda 100 a la derecha y 100 abajo: 368 × 428, abajo-derecha quieta", Esquina::arribaIzquierda,
         {100, 100}, {528 - 368, 100, 368, 428}},
        {"arriba-derecha hacia arriba y a la derecha crece", Esquina::arribaDerecha, {50, -60}, {100, 100, 478, 588}},
        {"abajo-izquierda hacia la izquierda y abajo crece", Esquina::abajoIzquierda, {-40, 30},
         {60, 628 - 558, 468, 558}},
        {"al mínimo", Esquina::abajoDerecha, {-1000, -1000}, {100, 628 - 408, 368, 408}},
        {"nada", Esquina::abajoIzquierda, {0, 0}, b},
    };
    for (const Caso& c : casos) igual(redimensionar(b, c.c, c.d), c.marco, c.que);
}
