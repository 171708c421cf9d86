// What one animation step of the voice state costs (the orb takes 30 a second), against a plain
// sine measured in the same run, and that a step allocates nothing.
#include "zentu/isla/EstadoVoz.h"
#include "Referencia.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

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
    constexpr int n = 5'000'000;
    volatile double sumidero = 0;

    const double nsSeno = nsPorSeno(n);
    QElapsedTimer reloj;

    EstadoVoz estado;
    estado.setFase(Fase::hablando);
    estado.nivelBruto = 0.6;
    const long antes = reservas.load();
    reloj.start();
    for (int i = 0; i < n; ++i) {
        if (i % 90 == 0) estado.nivelBruto = (i / 90) % 2 ? 0.2 : 0.9;
        estado.avanzar(i / 30.0);
    }
    const double nsPaso = double(reloj.nsecsElapsed()) / n;
    const long durante = reservas.load() - antes;
    sumidero = sumidero + estado.nivel + estado.animado.energia;

    std::printf("estado de voz: %.1f ns por paso, %.2f veces un seno (%.1f ns)\n", nsPaso, nsPaso / nsSeno, nsSeno);
    std::printf("estado de voz: %ld reservas de memoria en %d pasos\n", durante, n);
    return sumidero == 12345.678 ? 1 : 0;
}
