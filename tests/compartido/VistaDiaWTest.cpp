// The day widget: the comparison chip, the ring, the bar heights (worked values of the demo), the
// activity lines; and pictures of every family in both schemes.
#include "compartido/VistaDiaW.h"

#include "comun/Ayudas.h"
#include "comun/PintarWidget.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

using Barra = Instantanea::Dia::Barra;

std::vector<Barra> semana(std::initializer_list<qint64> ns) {
    static const char* letras[] = {"L", "M", "X", "J", "V", "S", "D", "L", "M"};
    std::vector<Barra> s;
    int i = 0;
    for (qint64 n : ns) s.push_back({QString::fromLatin1(letras[i++ % 9]), n});
    return s;
}

TEST(VistaDiaW, Comparacion) {
    struct Caso {
        qint64 hoy, ayer;
        const char* texto;  // nullptr: no chip
        bool mas;
    };
    const Caso casos[] = {
        {0, 0, nullptr, false},
        {5, 5, "igual que ayer", false},
        {18, 14, "+4 que ayer", true},
        {10, 14, "\u22124 que ayer", false},
        {3, 0, "+3 que ayer", true},
        {0, 2, "\u22122 que ayer", false},
    };
    for (const Caso& c : casos) {
        const auto r = VistaDiaW::comparacion(c.hoy, c.ayer);
        if (!c.texto) {
            EXPECT_FALSE(r) << c.hoy << "/" << c.ayer;
            continue;
        }
        ASSERT_TRUE(r) << c.hoy << "/" << c.ayer;
        EXPECT_EQ(r->texto, QString::fromUtf8(c.texto));
        EXPECT_EQ(r->mas, c.mas);
    }
    // The minus sign is U+2212, never the hyphen.
    EXPECT_EQ(VistaDiaW::comparacion(10, 14)->texto.at(0), QChar(0x2212));
    // Extreme counts from a broken writer do not overflow.
    const auto extremo = VistaDiaW::comparacion(std::numeric_limits<qint64>::min(), 1);
    ASSERT_TRUE(extremo);
    EXPECT_EQ(extremo->texto, QStringLiteral("\u22129223372036854775809 que ayer"));
    EXPECT_EQ(VistaDiaW::comparacion(std::numeric_limits<qint64>::max(), -1)->texto,
              QStringLiteral("+9223372036854775808 que ayer"));
}

TEST(VistaDiaW, Anillo) {
    EXPECT_EQ(VistaDiaW::textoSolas(std::nullopt), QStringLiteral("\u2014"));
    EXPECT_EQ(VistaDiaW::fraccionSolas(std::nullopt), 0.0);
    EXPECT_EQ(VistaDiaW::textoSolas(83), QStringLiteral("83%"));
    EXPECT_DOUBLE_EQ(VistaDiaW::fraccionSolas(83), 0.83);
    EXPECT_DOUBLE_EQ(VistaDiaW::fraccionSolas(130), 1.3);  // not clamped here; the ring clamps
}

TEST(VistaDiaW, AlturasDeLasBarras) {
    const auto demo = semana({12, 15, 9, 17, 21, 14, 18});
    EXPECT_EQ(VistaDiaW::tope(demo), 21);
    const std::vector<double> grande = {27.43, 34.29, 20.57, 38.86, 48, 32, 41.14};
    const std::vector<double> mediana = {17.14, 21.43, 12.86, 24.29, 30, 20, 25.71};
    const auto hg = VistaDiaW::alturas(demo, FamiliaW::grande);
    const auto hm = VistaDiaW::alturas(demo, FamiliaW::mediana);
    ASSERT_EQ(hg.size(), 7u);
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_NEAR(hg[i], grande[i], 0.005) << i;
        EXPECT_NEAR(hm[i], mediana[i], 0.005) << i;
    }
    // Small is not offered and gets the medium layout.
    EXPECT_EQ(VistaDiaW::alturas(demo, FamiliaW::pequena), hm);
    EXPECT_EQ(VistaDiaW::anchoBarra(FamiliaW::grande), 14);
    EXPECT_EQ(VistaDiaW::anchoBarra(FamiliaW::mediana), 10);

    // All zero: scale 1, every bar 4 high; largest 1: those bars fill the area.
    EXPECT_EQ(VistaDiaW::tope(semana({0, 0, 0})), 1);
    EXPECT_EQ(VistaDiaW::alturas(semana({0, 0, 0}), FamiliaW::grande), std::vector<double>(3, 4.0));
    EXPECT_EQ(VistaDiaW::alturas(semana({1, 0, 1}), FamiliaW::mediana), (std::vector<double>{30, 4, 30}));
    EXPECT_EQ(VistaDiaW::tope({}), 1);
    EXPECT_TRUE(VistaDiaW::alturas({}, FamiliaW::grande).empty());
    // A negative count from a broken writer still shows the minimum bar.
    EXPECT_EQ(VistaDiaW::alturas(semana({-5, 2}), FamiliaW::grande), (std::vector<double>{4, 48}));
}

TEST(VistaDiaW, Actividad) {
    Instantanea::Dia d;
    const QDateTime ahora = QDateTime::currentDateTimeUtc();
    for (int i = 0; i < 5; ++i)
        d.actividad.push_back({QStringLiteral("Hecho %1").arg(i), QStringLiteral("ventas_online"), ahora.addSecs(-900)});
    d.actividad[1].texto = QStringLiteral("Consulta resuelta:  Se envió el presupuesto");
    const auto lineas = VistaDiaW::actividad(d);
    ASSERT_EQ(lineas.size(), 3u);
    EXPECT_EQ(lineas[0].principal, QStringLiteral("Hecho 0"));
    EXPECT_EQ(lineas[0].detalle, QStringLiteral("Ventas online \u00B7 15 min"));
    EXPECT_EQ(lineas[0].inicialDe, QStringLiteral("ventas_online"));
    EXPECT_EQ(lineas[1].principal, QStringLiteral("Se envió el presupuesto"));
    EXPECT_EQ(lineas[1].detalle, QStringLiteral("Ventas online \u00B7 resuelta \u00B7 15 min"));
    EXPECT_EQ(lineas[2].principal, QStringLiteral("Hecho 2"));

    EXPECT_EQ(VistaDiaW::nombreVisible(QStringLiteral("atencion_cliente")), QStringLiteral("Atencion cliente"));
    EXPECT_EQ(VistaDiaW::nombreVisible(QStringLiteral("ñandú")), QStringLiteral("Ñandú"));
    EXPECT_EQ(VistaDiaW::nombreVisible(QString()), QString());
}

using pruebas::pintarWidget;

// Pictures of every family and scheme, from the demo and from edge cases, for people to look at;
// and a check that the view draws something and stays inside its rectangle.
TEST(VistaDiaW, Imagenes) {
    Instantanea demo = Instantanea::ejemplo();
    Instantanea sinDia = demo;
    sinDia.dia.reset();
    Instantanea raro = demo;
    raro.dia->solas.reset();
    raro.dia->conversacionesHoy = 10;
    raro.dia->semana = semana({0, 0, 0, 0, 0, 0, 0});
    raro.dia->actividad.clear();
    struct Foto {
        const char* nombre;
        Instantanea foto;
    };
    const Foto fotos[] = {{"demo", demo}, {"vacia", Instantanea::vacia()}, {"sindia", sinDia}, {"raro", raro}};
    for (const Foto& f : fotos)
        for (auto [familia, tam, nombre] : {std::tuple{FamiliaW::mediana, QSize(364, 170), "mediana"},
                                            std::tuple{FamiliaW::grande, QSize(364, 382), "grande"}})
            for (bool oscuro : {false, true}) {
                const QImage img = pintarWidget(tam, [&](QPainter& p, const QRectF& r, const PaletaW& pal) {
                    VistaDiaW{f.foto, familia, pal}.pintar(p, r);
                }, oscuro, QPointF(1, 1));
                const QString archivo = pruebas::carpetaArtefactos("widgets") +
                                        QStringLiteral("/dia-%1-%2-%3.png").arg(f.nombre, nombre, oscuro ? "oscuro" : "claro");
                EXPECT_TRUE(img.save(archivo));
            }
}

}  // namespace
