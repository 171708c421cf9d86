#include "compartido/Ruido.h"

#include <array>
#include <cmath>
#include <cstdint>

// Every operation below is written in the order that fixes its rounding; the build forbids
// floating-point contraction, so no fused multiply-add changes the last bit.

namespace {

using Tabla = std::array<int, 512>;

Tabla construirPerm() {
    std::array<int, 256> p{};
    for (int i = 0; i < 256; ++i) p[i] = i;
    // Fisher–Yates with a deterministic hash in place of a random source.
    for (int k = 255; k >= 1; --k) {
        const double producto = static_cast<double>(k) * 91.7;
        const double v = std::sin(producto) * 43758.5453;
        const double f = v - std::trunc(v);
        const double g = (f + 1.0) - std::trunc(f + 1.0);
        const auto j = static_cast<int>(std::trunc(g * static_cast<double>(k + 1)));
        if (j != k) std::swap(p[k], p[j]);
    }
    Tabla perm{};
    for (int i = 0; i < 512; ++i) perm[i] = p[i % 256];
    return perm;
}

const Tabla& perm() {
    // A function-local static: built once, thread-safe, no lock after the first call.
    static const Tabla tabla = construirPerm();
    return tabla;
}

constexpr double kGradientes[12][3] = {
    {1, 1, 0}, {-1, 1, 0}, {1, -1, 0}, {-1, -1, 0},
    {1, 0, 1}, {-1, 0, 1}, {1, 0, -1}, {-1, 0, -1},
    {0, 1, 1}, {0, -1, 1}, {0, 1, -1}, {0, -1, -1},
};

constexpr double F3 = 1.0 / 3.0;
constexpr double G3 = 1.0 / 6.0;

// floor(v) as a signed 64-bit integer; false when v lies outside the range that converts safely.
bool suelo(double v, std::int64_t& salida) {
    const double s = std::floor(v);
    // 2^62 leaves room for the sums and the corner offsets without overflow.
    constexpr double limite = 4611686018427387904.0;
    if (!(s > -limite && s < limite)) return false;
    salida = static_cast<std::int64_t>(s);
    return true;
}

double esquina(const Tabla& p, double X, double Y, double Z, std::int64_t ii, std::int64_t jj, std::int64_t kk,
               int a, int b, int c) {
    const double w = ((0.6 - X * X) - Y * Y) - Z * Z;
    if (w < 0) return 0.0;
    const int gi = p[ii + a + p[jj + b + p[kk + c]]] % 12;
    const double* g = kGradientes[gi];
    return ((w * w) * (w * w)) * ((X * g[0] + Y * g[1]) + Z * g[2]);
}

}  // namespace

namespace Ruido {

int permutacion(int i) {
    if (i < 0 || i >= 512) return 0;
    return perm()[i];
}

double valor(double x, double y, double z) {
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z)) return 0.0;
    const Tabla& p = perm();

    const double s = ((x + y) + z) * F3;
    std::int64_t i = 0, j = 0, k = 0;
    if (!suelo(x + s, i) || !suelo(y + s, j) || !suelo(z + s, k)) return 0.0;
    const double t = static_cast<double>(i + j + k) * G3;
    const double x0 = (x - static_cast<double>(i)) + t;
    const double y0 = (y - static_cast<double>(j)) + t;
    const double z0 = (z - static_cast<double>(k)) + t;

    int i1, j1, k1, i2, j2, k2;
    if (x0 >= y0) {
        if (y0 >= z0) {
            i1 = 1; j1 = 0; k1 = 0; i2 = 1; j2 = 1; k2 = 0;
        } else if (x0 >= z0) {
            i1 = 1; j1 = 0; k1 = 0; i2 = 1; j2 = 0; k2 = 1;
        } else {
            i1 = 0; j1 = 0; k1 = 1; i2 = 1; j2 = 0; k2 = 1;
        }
    } else {
        if (y0 < z0) {
            i1 = 0; j1 = 0; k1 = 1; i2 = 0; j2 = 1; k2 = 1;
        } else if (x0 < z0) {
            i1 = 0; j1 = 1; k1 = 0; i2 = 0; j2 = 1; k2 = 1;
        } else {
            i1 = 0; j1 = 1; k1 = 0; i2 = 1; j2 = 1; k2 = 0;
        }
    }

    const double x1 = (x0 - i1) + G3, y1 = (y0 - j1) + G3, z1 = (z0 - k1) + G3;
    const double x2 = (x0 - i2) + F3, y2 = (y0 - j2) + F3, z2 = (z0 - k2) + F3;
    const double x3 = (x0 + (-1.0)) + 0.5, y3 = (y0 + (-1.0)) + 0.5, z3 = (z0 + (-1.0)) + 0.5;

    // Two's-complement and: negative lattice coordinates wrap into 0...255.
    const std::int64_t ii = i & 255, jj = j & 255, kk = k & 255;

    double suma = 0.0;
    suma += esquina(p, x0, y0, z0, ii, jj, kk, 0, 0, 0);
    suma += esquina(p, x1, y1, z1, ii, jj, kk, i1, j1, k1);
    suma += esquina(p, x2, y2, z2, ii, jj, kk, i2, j2, k2);
    suma += esquina(p, x3, y3, z3, ii, jj, kk, 1, 1, 1);
    return 32.0 * suma;
}

}  // namespace Ruido
