#pragma once

#include <QElapsedTimer>
#include <cmath>

// The yardstick the micro-benchmarks report against, measured in the same run: nanoseconds for
// one std::sin, so a figure stays comparable from one machine to another.
inline double nsPorSeno(int n) {
    volatile double sumidero = 0;
    QElapsedTimer reloj;
    reloj.start();
    double s = 0;
    for (int i = 0; i < n; ++i) s += std::sin(i * 0.001);
    sumidero = s;
    (void)sumidero;
    return double(reloj.nsecsElapsed()) / n;
}
