#include "plataforma/Teclado.h"

#include <gtest/gtest.h>
#include <set>

// Every stored key code that has a place on a PC keyboard maps to one X keycode and back.
TEST(Teclado, CodigosIdaYVuelta) {
    std::set<quint32> vistos;
    int conCodigo = 0;
    for (quint32 tecla = 0; tecla < 128; ++tecla) {
        const auto x = Teclado::codigoX(tecla);
        if (!x) continue;
        ++conCodigo;
        EXPECT_GE(*x, 8u);
        EXPECT_LE(*x, 255u);
        EXPECT_TRUE(vistos.insert(*x).second) << "dos teclas en el mismo sitio: " << tecla;
        EXPECT_EQ(Teclado::desdeCodigoX(*x), tecla);
    }
    EXPECT_GT(conCodigo, 110);
}

// Keys by their physical place (X keycode = evdev code + 8).
TEST(Teclado, SitiosConocidos) {
    struct Caso {
        quint32 tecla;
        quint32 x;
    };
    const Caso casos[] = {
        {49, 65},  {35, 33},  {6, 52},    {8, 54},    {0, 38},    {36, 36},  {48, 23},  {53, 9},
        {122, 67}, {96, 71},  {111, 96},  {123, 113}, {126, 111}, {55, 133}, {54, 134}, {59, 37},
        {58, 64},  {61, 108}, {56, 50},   {10, 94},   {50, 49},   {18, 10},  {29, 19},  {76, 104},
    };
    for (const auto& c : casos) EXPECT_EQ(Teclado::codigoX(c.tecla), c.x) << c.tecla;
}

TEST(Teclado, TeclasSinCodigoDeApple) {
    EXPECT_FALSE(Teclado::codigoX(52));  // no such key
    EXPECT_FALSE(Teclado::codigoX(63));  // the Apple fn key has no X counterpart
    // A key with no Apple code still round-trips through the escape range.
    const quint32 guardada = Teclado::desdeCodigoX(172);  // a media key
    EXPECT_GE(guardada, Teclado::baseSinCodigo);
    EXPECT_EQ(Teclado::codigoX(guardada), 172u);
    EXPECT_FALSE(Teclado::codigoX(Teclado::baseSinCodigo + 300));
    EXPECT_FALSE(Teclado::codigoX(Teclado::baseSinCodigo + 3));
}

TEST(Teclado, CaracteresEnLaDisposicionActual) {
    EXPECT_EQ(Teclado::caracteres(35), QStringLiteral("p"));
    EXPECT_EQ(Teclado::caracteres(18), QStringLiteral("1"));
    EXPECT_EQ(Teclado::caracteres(123), QString());  // an arrow types nothing
    EXPECT_FALSE(Teclado::caracteres(52));
}
