#pragma once

// Three-dimensional simplex noise over a permutation table built from a fixed rule, so that the
// field is bit-for-bit the same in every process and in both executables. The orbs bend their
// rings with it.
namespace Ruido {

// Noise at (x, y, z): continuous, roughly within -1...1, zero at every lattice vertex. Pure and
// safe from any thread; allocates nothing. Non-finite input, or coordinates too large for a
// 64-bit lattice index, give 0.
double valor(double x, double y, double z);

// Entry i (0...511) of the permutation table; for tests and diagnostics.
int permutacion(int i);

}  // namespace Ruido
