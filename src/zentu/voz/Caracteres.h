#pragma once

#include <QString>
#include <QTextBoundaryFinder>

// Characters as the owner counts them: a letter with its accent, a whole emoji with its skin tone
// (grapheme clusters, not UTF-16 units). The voice side counts and cuts texts in these.
namespace Caracteres {

inline int contar(const QString& texto) {
    QTextBoundaryFinder limites(QTextBoundaryFinder::Grapheme, texto);
    int n = 0;
    while (limites.toNextBoundary() > 0) ++n;
    return n;
}

// The first `n` characters, or the whole text when it has no more; never splits one.
inline QString primeros(const QString& texto, int n) {
    QTextBoundaryFinder limites(QTextBoundaryFinder::Grapheme, texto);
    int contados = 0;
    while (contados < n && limites.toNextBoundary() > 0) ++contados;
    return contados < n ? texto : texto.left(limites.position());
}

}  // namespace Caracteres
