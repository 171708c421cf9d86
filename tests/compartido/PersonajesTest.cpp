#include "compartido/Personajes.h"

#include "comun/Ayudas.h"

#include <QDirIterator>
#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {
Instantanea::Agente agente(qint64 id, const char* categoria, bool activo = true, const char* nombre = "Ventas") {
    return {id, QString::fromUtf8(nombre), QString::fromUtf8(categoria), activo, 0, false};
}
}  // namespace

TEST(Personajes, Tonos) {
    EXPECT_EQ(Personajes::tono(0), 0);
    EXPECT_EQ(Personajes::tono(1), 2);
    EXPECT_EQ(Personajes::tono(3), 3);
    EXPECT_EQ(Personajes::tono(100), 1);
    // Ids whose arithmetic would overflow still get a shade in range (and always the same one).
    for (const qint64 id : {std::numeric_limits<qint64>::max(), std::numeric_limits<qint64>::min(), qint64(-1),
                            qint64(991'691'877'921'523'412)}) {
        const int t = Personajes::tono(id);
        EXPECT_GE(t, 0);
        EXPECT_LE(t, 3);
        EXPECT_EQ(Personajes::tono(id), t);
    }
}

TEST(Personajes, Nombres) {
    EXPECT_EQ(Personajes::nombre(agente(1, "ventas")), QStringLiteral("pj-ventas-2"));
    EXPECT_EQ(Personajes::nombre(agente(0, "panaderia", false)), QStringLiteral("pj-general-0-pausa"));
    EXPECT_EQ(Personajes::nombre(agente(0, "Ventas")), QStringLiteral("pj-general-0"));
    EXPECT_EQ(Personajes::nombre(agente(3, "")), QStringLiteral("pj-general-3"));
    EXPECT_EQ(Personajes::nombre(agente(100, "atencion", false)), QStringLiteral("pj-atencion-1-pausa"));
    // The coordinator is known by its name, whatever its flag or category.
    EXPECT_EQ(Personajes::nombre(agente(7, "ventas", true, "ZENTU")), QStringLiteral("pj-direccion-0"));
    EXPECT_EQ(Personajes::nombre(agente(7, "ventas", false, "zentu")), QStringLiteral("pj-direccion-0-pausa"));
    Instantanea::Agente marcado = agente(1, "ventas", true, "Jefa");
    marcado.coordinador = true;
    EXPECT_EQ(Personajes::nombre(marcado), QStringLiteral("pj-ventas-2"));
}

TEST(Personajes, LasSetentaYCuatroImagenesYSuCache) {
    // Every name the rule can produce exists as a decodable image.
    const QStringList categorias = {"atencion", "ventas", "soporte", "finanzas", "cobros",
                                    "operacion", "creativo", "asistente", "general"};
    QStringList nombres;
    for (const QString& c : categorias)
        for (int t = 0; t < 4; ++t)
            for (const char* sufijo : {"", "-pausa"}) nombres << QStringLiteral("pj-%1-%2%3").arg(c).arg(t).arg(QLatin1String(sufijo));
    nombres << QStringLiteral("pj-direccion-0") << QStringLiteral("pj-direccion-0-pausa");
    ASSERT_EQ(nombres.size(), 74);
    int recursos = 0;
    for (QDirIterator it(QStringLiteral(":/personajes")); it.hasNext(); it.next()) ++recursos;
    EXPECT_EQ(recursos, 74);

    const int antes = Personajes::enCache();
    // Two agents of the same category and shade share one entry; active and paused differ.
    const auto a = Personajes::imagen(agente(1, "ventas"));
    const auto b = Personajes::imagen(agente(1, "ventas", true, "Otra"));
    const auto c = Personajes::imagen(agente(1, "ventas", false));
    ASSERT_TRUE(a && b && c);
    EXPECT_EQ(a->cacheKey(), b->cacheKey());
    EXPECT_NE(a->cacheKey(), c->cacheKey());
    EXPECT_EQ(Personajes::enCache(), antes + 2);

    // A missing resource is none every time and never fills the cache.
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(Personajes::imagenDe(QStringLiteral("pj-inexistente-9")));
    EXPECT_EQ(Personajes::enCache(), antes + 2);

    // A contact sheet of all of them, to look at.
    const int lado = 80;
    QImage hoja(lado * 8, lado * ((74 + 7) / 8), QImage::Format_ARGB32_Premultiplied);
    hoja.fill(QColor(236, 240, 236));
    QPainter p(&hoja);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    for (int i = 0; i < nombres.size(); ++i) {
        const auto img = Personajes::imagenDe(nombres[i]);
        ASSERT_TRUE(img) << nombres[i].toStdString();
        EXPECT_FALSE(img->isNull());
        // Each picture draws something, and leaves its corners clear.
        EXPECT_EQ(qAlpha(img->pixel(0, 0)), 0) << nombres[i].toStdString();
        EXPECT_GT(qAlpha(img->pixel(img->width() / 2, img->height() / 2)), 200) << nombres[i].toStdString();
        p.drawImage(QRectF((i % 8) * lado, (i / 8) * lado, lado, lado), *img);
    }
    p.end();
    EXPECT_EQ(Personajes::enCache(), antes + 74 - 2 + 2);
    hoja.save(pruebas::carpetaArtefactos(QStringLiteral("widgets")) + QStringLiteral("/personajes.png"));
}
