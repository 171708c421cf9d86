// Log lines: whatever a line carries stays one line, and a huge value is cut in the middle with
// the count of what went, so the fixed texts at both ends stay readable.
#include "plataforma/Registro.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

struct Observadas {
    QStringList lineas;
    Observadas() {
        Registro::observar([this](const QString& l) { lineas << l; });
    }
    ~Observadas() { Registro::observar({}); }
};

TEST(Registro, UnValorEnormeSeCortaDiciendoCuanto) {
    const QString valor(30 * 1024 * 1024, QLatin1Char('x'));
    struct Caso {
        const char* que;
        QString linea, empieza, termina;
        qsizetype omitidos;
    };
    const QString largo = QString(Registro::kLargoMaximo, QLatin1Char('a'));
    const std::vector<Caso> casos = {
        {"justo en el tope", largo, largo, largo, 0},
        {"valor al final", "[chat] ahora hablas con " + valor, "[chat] ahora hablas con xxx", "xxx",
         24 + valor.size() - Registro::kCabeza - Registro::kCola},
        {"valor en medio", "[chat] hablar con " + valor + " · sin enviar", "[chat] hablar con xx", "xx · sin enviar",
         18 + valor.size() + 13 - Registro::kCabeza - Registro::kCola},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.que);
        Observadas o;
        Registro::escribir(c.linea);
        ASSERT_EQ(o.lineas.size(), 1);
        const QString& l = o.lineas.first();
        EXPECT_LE(l.size(), Registro::kLargoMaximo + 60);
        EXPECT_TRUE(l.startsWith(c.empieza));
        EXPECT_TRUE(l.endsWith(c.termina));
        if (c.omitidos == 0) {
            EXPECT_EQ(l, c.linea);
        } else {
            EXPECT_TRUE(l.contains(QStringLiteral("… [%1 caracteres omitidos] …").arg(c.omitidos))) << l.mid(1490, 60).toStdString();
            EXPECT_EQ(l.size(), Registro::kCabeza + Registro::kCola +
                                    QStringLiteral("… [%1 caracteres omitidos] …").arg(c.omitidos).size());
        }
    }
}

TEST(Registro, ElCorteNoParteUnCaracterNiDejaSaltos) {
    // Emoji (two UTF-16 units each) and line feeds straddle both cut points.
    QString valor;
    for (int i = 0; i < 3000; ++i) valor += (i % 2 ? QStringLiteral("😀") : QStringLiteral("\n"));
    Observadas o;
    Registro::escribir(QStringLiteral("[chat] ") + valor);
    ASSERT_EQ(o.lineas.size(), 1);
    const QString& l = o.lineas.first();
    EXPECT_FALSE(l.contains(QLatin1Char('\n')));
    for (qsizetype i = 0; i < l.size(); ++i) {
        if (l.at(i).isHighSurrogate()) {
            ASSERT_TRUE(i + 1 < l.size() && l.at(i + 1).isLowSurrogate()) << i;
            ++i;
        } else {
            ASSERT_FALSE(l.at(i).isLowSurrogate()) << i;
        }
    }
    EXPECT_TRUE(l.contains(QStringLiteral("caracteres omitidos")));
}

}  // namespace
