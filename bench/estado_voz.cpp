// What one animation step of the voice state costs (the orb takes 30 a second), against a plain
// sine measured in the same run, and that a step allocates nothing. It runs EstadoVoz alone
// (zentu_isla), not the program: one step is far below what can be timed from outside; what the
// animated island costs on screen is medir_isla's.
// The two alternate over `rondas` rounds, the one that starts turning every round; each figure
// is the median of the rounds with the lowest and highest beside it, the ratio taken round by
// round.
// Usage: medir_estado_voz [rondas=5]
#include "zentu/isla/EstadoVoz.h"
#include "Medidas.h"
#include "Referencia.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::atomic<long> reservas{0};
}

void* operator new(std::size_t n) {
    ++reservas;
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

int main(int argc, char** argv) {
    QCoreApplication aplicacion(argc, argv);
    constexpr int n = 2'000'000;
    const int rondas = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    volatile double sumidero = 0;

    EstadoVoz estado;
    estado.setFase(Fase::hablando);
    estado.nivelBruto = 0.6;
    std::vector<double> senos, pasos;
    long durante = 0;
    int i = 0;
    for (int r = 0; r < rondas; ++r) {
        for (int k = 0; k < 2; ++k) {
            if (turno(r, k, 2) == 0) {
                senos.push_back(nsPorSeno(n));
                continue;
            }
            QElapsedTimer reloj;
            const long antes = reservas.load();
            reloj.start();
            for (const int fin = i + n; i < fin; ++i) {
                if (i % 90 == 0) estado.nivelBruto = (i / 90) % 2 ? 0.2 : 0.9;
                estado.avanzar(i / 30.0);
            }
            const double ns = double(reloj.nsecsElapsed()) / n;
            durante += reservas.load() - antes;  // before the figure is stored: that allocates
            pasos.push_back(ns);
        }
    }
    sumidero = sumidero + estado.nivel + estado.animado.energia;

    std::printf("estado de voz (EstadoVoz solo, en este proceso), %d rondas alternadas con un seno; mediana [mínima–máxima]\n",
                rondas);
    std::printf("estado de voz: %s ns por paso · seno %s ns · paso / seno %s\n", qPrintable(cifra(pasos, 1)),
                qPrintable(cifra(senos, 1)), qPrintable(cifra(razones(pasos, senos), 2)));
    std::printf("estado de voz: %ld reservas de memoria en %d pasos\n", durante, i);
    return sumidero == 12345.678 ? 1 : 0;
}
