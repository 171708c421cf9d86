#include "compartido/Ruido.h"

#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace {

// Bit-for-bit comparison: the orbs of both executables must draw the same field.
::testing::AssertionResult mismosBits(double esperado, double obtenido) {
    if (std::memcmp(&esperado, &obtenido, sizeof(double)) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "esperado " << std::hexfloat << esperado << " obtenido " << obtenido
                                         << std::defaultfloat;
}

TEST(Ruido, PermutacionFijaYRepetida) {
    const int prefijo[16] = {177, 33, 250, 18, 89, 24, 124, 65, 13, 242, 99, 105, 58, 255, 231, 1};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(Ruido::permutacion(i), prefijo[i]) << "entrada " << i;
    std::vector<bool> visto(256, false);
    for (int i = 0; i < 256; ++i) {
        const int v = Ruido::permutacion(i);
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 255);
        EXPECT_FALSE(visto[v]) << "repetido " << v;
        visto[v] = true;
        EXPECT_EQ(Ruido::permutacion(i + 256), v) << "entrada " << i + 256;
    }
}

TEST(Ruido, ValoresConocidosExactos) {
    struct Caso {
        double x, y, z, esperado;
    };
    // The printed values, parsed as doubles, are the exact results.
    const Caso casos[] = {
        {0, 0, 0, 0.0},
        {0.5, 0.5, 0.5, 0.0},
        {0.1, 0.2, 0.3, -0.4007321813333332},
        {-3.3, 7.1, 2.2, 0.4659269760000004},
        {10.3, 4.7, 0, -0.1853466879999993},
    };
    for (const Caso& c : casos) {
        EXPECT_TRUE(mismosBits(c.esperado, Ruido::valor(c.x, c.y, c.z)))
            << "valor(" << c.x << ", " << c.y << ", " << c.z << ")";
    }
}

TEST(Ruido, VerticesDeLaRedYCoordenadasNegativas) {
    // Vertices of the simplex grid, (a, b, c) unskewed by (a + b + c) / 6, are zero up to
    // rounding, negative ones included (the index wraps by a bitwise and, not by a remainder).
    const int enteros[][3] = {{1, 1, 1}, {-1, 0, 0}, {-17, 4, -300}, {255, 256, -256}, {5, -1000, 3}};
    for (const auto& e : enteros) {
        const double t = (e[0] + e[1] + e[2]) / 6.0;
        EXPECT_NEAR(Ruido::valor(e[0] - t, e[1] - t, e[2] - t), 0.0, 1e-9) << e[0] << " " << e[1] << " " << e[2];
    }
    // Moving every coordinate by -128 moves each lattice index by -256: the same gradients, so
    // the same field, whether the indices are positive or negative.
    for (double x : {0.13, 1.71, 3.3}) {
        EXPECT_NEAR(Ruido::valor(x - 128, 2.43 - 128, -0.57 - 128), Ruido::valor(x, 2.43, -0.57), 1e-9) << x;
        EXPECT_NEAR(Ruido::valor(x - 384, 2.43 - 384, -0.57 - 384), Ruido::valor(x, 2.43, -0.57), 1e-9) << x;
    }
    double minimo = 1, maximo = -1;
    for (int a = -40; a < 40; ++a)
        for (int b = -40; b < 40; ++b) {
            const double v = Ruido::valor(a * 0.173, b * 0.219, (a - b) * 0.091);
            minimo = std::min(minimo, v);
            maximo = std::max(maximo, v);
        }
    EXPECT_GE(minimo, -1.01);
    EXPECT_LE(maximo, 1.01);
    EXPECT_LT(minimo, -0.5);  // a field, not a constant
    EXPECT_GT(maximo, 0.5);
}

TEST(Ruido, EntradasFueraDeRangoDanCero) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(Ruido::valor(nan, 0, 0), 0.0);
    EXPECT_EQ(Ruido::valor(0, inf, 0), 0.0);
    EXPECT_EQ(Ruido::valor(0, 0, -inf), 0.0);
    EXPECT_EQ(Ruido::valor(1e300, 1, 1), 0.0);
    EXPECT_EQ(Ruido::valor(-1e19, 1, 1), 0.0);
    EXPECT_EQ(Ruido::permutacion(-1), 0);
    EXPECT_EQ(Ruido::permutacion(512), 0);
}

TEST(Ruido, MismoCampoDesdeVariosHilos) {
    // The first use may come from any thread; all must see the same table and values.
    std::vector<double> resultados(8);
    std::vector<std::thread> hilos;
    for (int h = 0; h < 8; ++h)
        hilos.emplace_back([&resultados, h] { resultados[h] = Ruido::valor(0.1, 0.2, 0.3); });
    for (auto& h : hilos) h.join();
    for (double r : resultados) EXPECT_TRUE(mismosBits(-0.4007321813333332, r));
}

}  // namespace
