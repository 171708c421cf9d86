// How long one noise value takes, against a plain sine measured in the same run, and what a
// frame of the island's orb (a few rings of points) costs.
#include "compartido/Ruido.h"
#include "Referencia.h"

#include <QElapsedTimer>
#include <cmath>
#include <cstdio>

int main() {
    constexpr int n = 2'000'000;
    volatile double sumidero = 0;
    Ruido::valor(0.1, 0.2, 0.3);  // the table is built on first use; leave that out

    const double nsSeno = nsPorSeno(n);
    QElapsedTimer reloj;
    reloj.start();
    double s = 0;
    for (int i = 0; i < n; ++i) s += Ruido::valor(i * 0.013, i * 0.007, i * 0.0031);
    sumidero = sumidero + s;
    const double nsRuido = double(reloj.nsecsElapsed()) / n;

    std::printf("ruido: %.1f ns por valor, %.2f veces un seno (%.1f ns)\n", nsRuido, nsRuido / nsSeno, nsSeno);
    std::printf("ruido: un cuadro de 4 anillos x 180 puntos: %.1f us\n", nsRuido * 4 * 180 / 1000);
    return sumidero == 12345.678 ? 1 : 0;
}
