// How long one noise value takes, against a plain sine measured in the same run, and what a
// frame of the island's orb (a few rings of points) costs. It runs the noise function alone
// (zentu_compartido's Ruido), not the program: one value is far below what can be timed from
// outside; what the animated orb costs on screen is medir_isla's.
// The two alternate over `rondas` rounds, the one that starts turning every round; each figure
// is the median of the rounds with the lowest and highest beside it, the ratio taken round by
// round.
// Usage: medir_ruido [rondas=7]
#include "compartido/Ruido.h"
#include "Medidas.h"
#include "Referencia.h"

#include <QElapsedTimer>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char** argv) {
    constexpr int n = 2'000'000;
    const int rondas = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
    volatile double sumidero = 0;
    Ruido::valor(0.1, 0.2, 0.3);  // the table is built on first use; leave that out

    std::vector<double> senos, ruidos;
    for (int r = 0; r < rondas; ++r) {
        for (int k = 0; k < 2; ++k) {
            if (turno(r, k, 2) == 0) {
                senos.push_back(nsPorSeno(n));
            } else {
                QElapsedTimer reloj;
                reloj.start();
                double s = 0;
                for (int i = 0; i < n; ++i) s += Ruido::valor(i * 0.013, i * 0.007, i * 0.0031);
                sumidero = sumidero + s;
                ruidos.push_back(double(reloj.nsecsElapsed()) / n);
            }
        }
    }
    std::vector<double> cuadro;
    for (double ns : ruidos) cuadro.push_back(ns * 4 * 180 / 1000);

    std::printf("ruido (la función sola, en este proceso), %d rondas alternadas con un seno; mediana [mínima–máxima]\n",
                rondas);
    std::printf("ruido: %s ns por valor · seno %s ns · ruido / seno %s\n", qPrintable(cifra(ruidos, 1)),
                qPrintable(cifra(senos, 1)), qPrintable(cifra(razones(ruidos, senos), 2)));
    std::printf("ruido: un cuadro de 4 anillos x 180 puntos: %s us\n", qPrintable(cifra(cuadro, 1)));
    return sumidero == 12345.678 ? 1 : 0;
}
