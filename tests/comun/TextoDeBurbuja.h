#pragma once

// What the chat's bubble tests share: a desktop that notes the addresses it is asked to open
// (in use while it lives), and where a piece of a bubble's text is drawn.

#include "plataforma/Escritorio.h"
#include "zentu/chat/Burbujas.h"

#include <QAbstractTextDocumentLayout>
#include <QList>
#include <QPoint>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QUrl>

namespace pruebas {

struct EnlacesAbiertos : Escritorio {
    QList<QUrl> urls;
    EnlacesAbiertos() { Escritorio::usar(this); }
    ~EnlacesAbiertos() override { Escritorio::usar(nullptr); }
    bool abrirUrl(const QUrl& url) override {
        urls << url;
        return true;
    }
};

// Where `trozo` begins in the bubble's text, in the text widget's coordinates: just inside its
// first character, half-way down its line.
inline QPoint dondeEsta(TextoBurbuja& t, const QString& trozo) {
    QTextDocument* d = t.document();
    const QTextCursor c = d->find(trozo);
    const QTextBlock bloque = c.block();
    const int pos = c.selectionStart() - bloque.position();
    const QTextLine linea = bloque.layout()->lineForTextPosition(pos);
    const QRectF marco = d->documentLayout()->blockBoundingRect(bloque);
    return QPoint(int(linea.cursorToX(pos)) + 2, int(marco.top() + linea.y() + linea.height() / 2));
}

}  // namespace pruebas
