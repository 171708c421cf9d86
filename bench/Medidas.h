#pragma once

// How every benchmark reports a figure measured over several rounds: the median, with the
// lowest and highest round beside it, and ratios taken round by round (ours and the anchor of
// the same round ran one right after the other, so a busy moment of the machine weighs on both).

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <vector>

inline double mediana(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// "median [lowest–highest]", or "-" without rounds.
inline QString cifra(const std::vector<double>& v, int decimales) {
    if (v.empty()) return QStringLiteral("-");
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return QStringLiteral("%1 [%2–%3]")
        .arg(mediana(v), 0, 'f', decimales)
        .arg(*lo, 0, 'f', decimales)
        .arg(*hi, 0, 'f', decimales);
}

// Ours over the anchor, round by round; rounds where the anchor read zero are left out.
inline std::vector<double> razones(const std::vector<double>& nuestro, const std::vector<double>& ancla) {
    std::vector<double> r;
    for (size_t i = 0; i < std::min(nuestro.size(), ancla.size()); ++i)
        if (ancla[i] != 0) r.push_back(nuestro[i] / ancla[i]);
    return r;
}

// Which of `n` contenders runs `k`-th in round `ronda`: the order turns every round, so no one
// always runs first (on a cold cache) or last (after the others warmed the machine).
inline int turno(int ronda, int k, int n) { return (k + ronda) % n; }

// `texto` padded to `ancho` characters (not bytes: the figures' dashes and the Spanish labels
// take more than one byte each), for columns that line up.
inline QByteArray columna(const QString& texto, int ancho) { return texto.leftJustified(ancho).toUtf8(); }
