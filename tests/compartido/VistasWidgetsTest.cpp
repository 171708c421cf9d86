#include "compartido/Instantanea.h"
#include "compartido/VistasWidgets.h"

#include "comun/Ayudas.h"
#include "comun/TextosDibujados.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

namespace {

const QDateTime ahora = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);

QDateTime antes(qint64 segundos) { return ahora.addSecs(-segundos); }

QImage lienzo(QSizeF tamano) {
    QImage img(tamano.toSize() * 2, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(2);
    img.fill(Qt::transparent);
    return img;
}

// Share of pixels in `zona` (logical units) that differ clearly from `fondo`.
double cubierto(const QImage& img, const QRectF& zona, QColor fondo) {
    const QRect r = QRect(zona.topLeft().toPoint() * 2, zona.size().toSize() * 2).intersected(img.rect());
    int distintos = 0, total = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x, ++total) {
            const QColor c = img.pixelColor(x, y);
            if (std::abs(c.red() - fondo.red()) + std::abs(c.green() - fondo.green()) + std::abs(c.blue() - fondo.blue()) > 40)
                ++distintos;
        }
    return total ? double(distintos) / total : 0;
}

}  // namespace

TEST(VistasWidgets, Hace) {
    const std::vector<std::pair<qint64, const char*>> casos = {
        {-500, "ahora"}, {0, "ahora"},       {59, "ahora"},    {60, "1 min"},     {3599, "59 min"},
        {3600, "1 h"},   {86'399, "23 h"},   {86'400, "1 d"},  {900'000, "10 d"},
    };
    for (const auto& [s, texto] : casos) EXPECT_EQ(hace(antes(s), ahora), QString::fromUtf8(texto)) << s;
    // Fractions of a second are truncated: 59.9 s is still "ahora".
    EXPECT_EQ(hace(ahora.addMSecs(-59'900), ahora), QStringLiteral("ahora"));
}

TEST(VistasWidgets, SelloDeAntiguedad) {
    EXPECT_EQ(MarcoW::hace(antes(7300), ahora), QStringLiteral("hace 2 h"));
    EXPECT_EQ(MarcoW::hace(antes(59), ahora), QStringLiteral("hace 0 min"));
    const std::vector<std::pair<std::optional<QDateTime>, std::optional<QString>>> casos = {
        {std::nullopt, std::nullopt},
        {Instantanea::pasadoLejano(), std::nullopt},
        {antes(-60), std::nullopt},
        {antes(0), std::nullopt},
        {antes(1800), std::nullopt},
        {antes(1801), QStringLiteral("actualizado hace 30 min")},
        {antes(3600), QStringLiteral("actualizado hace 1 h")},
        {antes(90'000), QStringLiteral("actualizado hace 1 d")},
    };
    for (const auto& [fecha, esperado] : casos) {
        SCOPED_TRACE(fecha ? fecha->toString(Qt::ISODate).toStdString() : "sin fecha");
        EXPECT_EQ(MarcoW::sello(fecha, ahora), esperado);
    }
}

TEST(VistasWidgets, Partir) {
    using R = std::pair<QString, std::optional<QString>>;
    EXPECT_EQ(partir(QStringLiteral("Consulta resuelta:  Se devolvió el pago.")),
              (R{QStringLiteral("Se devolvió el pago."), QStringLiteral("resuelta")}));
    EXPECT_EQ(partir(QStringLiteral("Consulta descartada:\tNo aplica \t")),
              (R{QStringLiteral("No aplica"), QStringLiteral("descartada")}));
    EXPECT_EQ(partir(QStringLiteral("consulta resuelta: algo")), (R{QStringLiteral("consulta resuelta: algo"), std::nullopt}));
    EXPECT_EQ(partir(QStringLiteral("Consulta resuelta:")), (R{QString(), QStringLiteral("resuelta")}));
    // Line breaks are content, not padding.
    EXPECT_EQ(partir(QStringLiteral("Consulta resuelta: \nHecho\n")), (R{QStringLiteral("\nHecho\n"), QStringLiteral("resuelta")}));
    EXPECT_EQ(partir(QStringLiteral("Confirmó la reserva")), (R{QStringLiteral("Confirmó la reserva"), std::nullopt}));
}

TEST(VistasWidgets, PiezasPequenas) {
    EXPECT_EQ(Inicial::letra(QStringLiteral("ventas")), QStringLiteral("V"));
    EXPECT_EQ(Inicial::letra(QString()), QString());
    EXPECT_EQ(Inicial::letra(QStringLiteral("ñandú")), QStringLiteral("Ñ"));
    EXPECT_DOUBLE_EQ(Anillo::arco(0), 0.02);
    EXPECT_DOUBLE_EQ(Anillo::arco(-3), 0.02);
    EXPECT_DOUBLE_EQ(Anillo::arco(0.5), 0.5);
    EXPECT_DOUBLE_EQ(Anillo::arco(1.7), 1.0);
    EXPECT_DOUBLE_EQ(Anillo::arco(std::nan("")), 1.0);
    EXPECT_EQ(nombreFamilia(FamiliaW::pequena), QStringLiteral("systemSmall"));
    EXPECT_EQ(nombreFamilia(FamiliaW::mediana), QStringLiteral("systemMedium"));
    EXPECT_EQ(nombreFamilia(FamiliaW::grande), QStringLiteral("systemLarge"));

    const PaletaW oscura{true}, clara{false};
    EXPECT_EQ(oscura.lima(), QColor(183, 255, 39));
    EXPECT_EQ(clara.lima(), QColor(70, 132, 0));
    EXPECT_NEAR(oscura.tenue().alphaF(), 0.52, 0.005);
    EXPECT_NEAR(clara.tenue().alphaF(), 0.55, 0.005);
    EXPECT_NEAR(clara.tinta().redF(), 0.08, 0.005);
    EXPECT_NEAR(oscura.ambar().greenF(), 0.74, 0.005);
}

TEST(VistasWidgets, CaminosDelOrbo) {
    EXPECT_TRUE(OrboW::caminos({46, 46}, 0).empty());
    const auto caminos = OrboW::caminos({104, 104}, 8);
    ASSERT_EQ(caminos.size(), 24u);
    for (const auto& c : caminos) {
        ASSERT_EQ(c.elementCount(), 73);
        // Closed by its last point, not by a close command; inside the canvas.
        EXPECT_NEAR(c.elementAt(0).x, c.elementAt(72).x, 1e-9);
        EXPECT_NEAR(c.elementAt(0).y, c.elementAt(72).y, 1e-9);
        EXPECT_TRUE(QRectF(-10, -10, 124, 124).contains(c.boundingRect()));
    }
    // Same input, same bits: the geometry is fixed.
    EXPECT_EQ(OrboW::caminos({104, 104}, 8)[5], caminos[5]);
    // Nothing is drawn for zero lines.
    QImage img = lienzo({46, 46});
    QPainter p(&img);
    OrboW{true, 0, 0.7}.pintar(p, QRectF(0, 0, 46, 46));
    p.end();
    EXPECT_EQ(cubierto(img, QRectF(0, 0, 46, 46), Qt::transparent), 0);
}

TEST(VistasWidgets, EnlaceEnModoCaptura) {
    ZonasEnlace zonas;
    int pintado = 0;
    const Enlace enlace{EnlaceZentu::chat()};
    enlace.pintar(QRectF(1, 2, 3, 4), &zonas, [&] { ++pintado; });
    ASSERT_EQ(zonas.size(), 1u);
    EXPECT_EQ(zonas[0].url, EnlaceZentu::chat());
    EXPECT_EQ(zonas[0].zona, QRectF(1, 2, 3, 4));
    CapturaW::activa = true;
    enlace.pintar(QRectF(1, 2, 3, 4), &zonas, [&] { ++pintado; });
    CapturaW::activa = false;
    EXPECT_EQ(zonas.size(), 1u);
    EXPECT_EQ(pintado, 2);
}

TEST(VistasWidgets, MarcoConSelloYAnillos) {
    for (const bool oscuro : {false, true}) {
        SCOPED_TRACE(oscuro ? "oscuro" : "claro");
        const QSizeF t(170, 170);
        for (const qint64 edad : {1800, 1801}) {
            QImage img = lienzo(t);
            QPainter p(&img);
            MarcoW{oscuro, {0, 0}, antes(edad), [](QPainter& q, const QRectF& r, const PaletaW& pal, ZonasEnlace*) {
                       Anillo{0.7, pal.lima(), pal, 9}.pintar(q, QRectF(r.topLeft(), QSizeF(60, 60)));
                       Anillo{0, pal.ambar(), pal, 9}.pintar(q, QRectF(r.left() + 70, r.top(), 60, 60));
                       Inicial{QStringLiteral("ventas"), pal, 24}.pintar(q, QRectF(r.left(), r.top() + 75, 24, 24));
                       BotonIsla{Icono::telefono, pal, true, 42}.pintar(q, QRectF(r.left() + 30, r.top() + 70, 42, 42));
                       BotonIsla{Icono::chat, pal, false, 42}.pintar(q, QRectF(r.left() + 80, r.top() + 70, 42, 42));
                   }}
                .pintar(p, QRectF(QPointF(0, 0), t), nullptr, ahora);
            p.end();
            img.save(pruebas::carpetaArtefactos(QStringLiteral("widgets")) +
                     QStringLiteral("/marco-%1-%2.png").arg(oscuro ? "oscuro" : "claro").arg(edad));
            // The stamp's capsule sits 8 points in from the bottom-right corner, only when old.
            const QColor fondo = img.pixelColor(2 * 100, 2 * 160);
            const double sello = cubierto(img, QRectF(120, 150, 40, 10), fondo);
            if (edad > 1800)
                EXPECT_GT(sello, 0.05);
            else
                EXPECT_LT(sello, 0.01);
        }
    }
}

TEST(VistasWidgets, SinEnlazar) {
    for (const bool oscuro : {false, true}) {
        QImage img = lienzo({170, 170});
        QPainter p(&img);
        MarcoW{oscuro, {0.5, 0.5}, std::nullopt, [](QPainter& q, const QRectF& r, const PaletaW& pal, ZonasEnlace*) {
                   SinEnlazarW{pal}.pintar(q, r);
               }}
            .pintar(p, QRectF(0, 0, 170, 170), nullptr, ahora);
        p.end();
        img.save(pruebas::carpetaArtefactos(QStringLiteral("widgets")) +
                 QStringLiteral("/sin-enlazar-%1.png").arg(oscuro ? "oscuro" : "claro"));
        const QColor fondo = img.pixelColor(2 * 150, 2 * 80);
        EXPECT_GT(cubierto(img, QRectF(10, 10, 30, 30), fondo), 0.05) << "orb top-left";
        EXPECT_GT(cubierto(img, QRectF(16, 110, 138, 44), fondo), 0.02) << "texts at the bottom";
        EXPECT_LT(cubierto(img, QRectF(60, 40, 90, 50), fondo), 0.01) << "space between";
    }
}

namespace {

QSizeF tamano(FamiliaW f) {
    switch (f) {
    case FamiliaW::pequena: return {170, 170};
    case FamiliaW::mediana: return {364, 170};
    case FamiliaW::grande: return {364, 382};
    }
    return {};
}

// Paints one widget (frame + content) and keeps the link zones.
QImage widget(FamiliaW familia, bool oscuro, const MarcoW::Contenido& contenido, ZonasEnlace* zonas = nullptr,
              std::optional<QDateTime> actualizado = std::nullopt, const QDateTime& momento = ahora) {
    QImage img = lienzo(tamano(familia));
    QPainter p(&img);
    MarcoW{oscuro, {0, 0}, actualizado, contenido}.pintar(p, QRectF(QPointF(0, 0), tamano(familia)), zonas, momento);
    return img;
}

Instantanea conDudas(int n, qint64 total = 5, qint64 permisos = 0) {
    Instantanea i = Instantanea::ejemplo();
    i.dudas.clear();
    for (int k = 0; k < n; ++k)
        i.dudas.push_back({100 + k, QStringLiteral("ventas_mayor"),
                           QStringLiteral("¿Le aplico el descuento de temporada al pedido número %1 aunque ya pasó la fecha?").arg(k),
                           antes(59 + 3600 * k)});
    i.totalPendientes = total;
    i.permisos = permisos;
    return i;
}

}  // namespace

TEST(VistasWidgets, TextosDePendientes) {
    EXPECT_EQ(VistaPendientesW::etiqueta(0, false), QStringLiteral("nada espera\npor ti"));
    EXPECT_EQ(VistaPendientesW::etiqueta(-2, false), QStringLiteral("nada espera\npor ti"));
    EXPECT_EQ(VistaPendientesW::etiqueta(1, false), QStringLiteral("decisión espera\npor ti"));
    EXPECT_EQ(VistaPendientesW::etiqueta(2, false), QStringLiteral("decisiones esperan\npor ti"));
    EXPECT_EQ(VistaPendientesW::etiqueta(0, true), QStringLiteral("Nada espera por ti"));
    EXPECT_EQ(VistaPendientesW::etiqueta(1, true), QStringLiteral("decisión espera por ti"));
    EXPECT_EQ(VistaPendientesW::etiqueta(7, true), QStringLiteral("decisiones esperan por ti"));
    EXPECT_EQ(VistaPendientesW::lineaPermisos(1), QStringLiteral("Y 1 permiso para escribirle a alguien"));
    EXPECT_EQ(VistaPendientesW::lineaPermisos(3), QStringLiteral("Y 3 permisos para escribirle a alguien"));
    EXPECT_EQ(VistaPendientesW::lineaPermisos(0), QString());
    EXPECT_EQ(VistaPendientesW::nombreVisible(QStringLiteral("ventas_mayor")), QStringLiteral("Ventas mayor"));
    EXPECT_EQ(VistaPendientesW::nombreVisible(QStringLiteral("Reservas")), QStringLiteral("Reservas"));
    EXPECT_EQ(VistaPendientesW::nombreVisible(QString()), QString());
}

TEST(VistasWidgets, TarjetasYEnlacesDePendientes) {
    auto zonas = [](const Instantanea& foto, FamiliaW familia) {
        ZonasEnlace z;
        widget(familia, true, [&](QPainter& q, const QRectF& r, const PaletaW& pal, ZonasEnlace* e) {
            VistaPendientesW{foto, familia, pal, ahora}.pintar(q, r, e);
        }, &z);
        return z;
    };
    EXPECT_EQ(zonas(conDudas(5), FamiliaW::pequena).size(), 0u);
    EXPECT_EQ(zonas(conDudas(5), FamiliaW::mediana).size(), 2u);
    EXPECT_EQ(zonas(conDudas(1), FamiliaW::mediana).size(), 1u);
    const auto grande = zonas(conDudas(5, 5, 0), FamiliaW::grande);
    ASSERT_EQ(grande.size(), 4u);
    // The permissions line takes room at the bottom: fewer cards, never fewer than two.
    const auto conPermisos = zonas(conDudas(5, 5, 3), FamiliaW::grande);
    EXPECT_GE(conPermisos.size(), 2u);
    EXPECT_LE(conPermisos.size(), 4u);
    EXPECT_EQ(grande[0].url.toString(), QStringLiteral("zuzadari://duda/100"));
    EXPECT_EQ(grande[3].url.toString(), QStringLiteral("zuzadari://duda/103"));
    for (const auto& z : grande) EXPECT_TRUE(QRectF(16, 16, 332, 350).contains(z.zona));
    EXPECT_EQ(zonas(conDudas(1), FamiliaW::grande).size(), 1u);
    // Not linked: the not-linked content, even with questions.
    Instantanea suelta = conDudas(3);
    suelta.enlazada = false;
    EXPECT_TRUE(zonas(suelta, FamiliaW::grande).empty());
    // Capture mode: the cards are drawn but are no links.
    CapturaW::activa = true;
    EXPECT_TRUE(zonas(conDudas(5), FamiliaW::grande).empty());
    CapturaW::activa = false;
}

// The large list is chosen by the room under the header, less the column's spacing: 10 points
// above the flexible space and, with a permissions line, 10 more above that line.
TEST(VistasWidgets, GrandeElijeLaListaQueCabe) {
    auto zonasCon = [](const Instantanea& foto, qreal alto) {
        ZonasEnlace z;
        QImage img = lienzo({364, alto});
        QPainter p(&img);
        VistaPendientesW{foto, FamiliaW::grande, PaletaW{true}, ahora}.pintar(p, QRectF(0, 0, 364, alto), &z);
        return z;
    };
    const Instantanea foto = conDudas(5);
    const auto holgadas = zonasCon(foto, 1000);
    ASSERT_EQ(holgadas.size(), 4u);
    const qreal arriba = holgadas.front().zona.top();
    const qreal lista = holgadas.back().zona.bottom() - arriba;
    EXPECT_EQ(zonasCon(foto, arriba + lista + 10.5).size(), 4u);
    EXPECT_EQ(zonasCon(foto, arriba + lista + 6).size(), 3u);

    const Instantanea conPermisos = conDudas(5, 5, 1);
    QImage img = lienzo({10, 10});
    QPainter medidor(&img);
    const qreal linea = TextoW::alto(medidor, TextoW::fuente(medidor, 11, QFont::Medium));
    EXPECT_EQ(zonasCon(conPermisos, arriba + lista + 20.5 + linea).size(), 4u);
    EXPECT_EQ(zonasCon(conPermisos, arriba + lista + 16 + linea).size(), 3u);
}

TEST(VistasWidgets, CantidadesDeCreditos) {
    const std::vector<std::pair<qint64, const char*>> casos = {
        {850, "850"},   {0, "0"},         {-40, "-40"},   {-5000, "-5000"}, {999, "999"},   {1000, "1k"},
        {1049, "1k"},   {2500, "2.5k"},   {9949, "9.9k"}, {9999, "10k"},    {10000, "10k"}, {12600, "13k"},
        {15600, "16k"}, {20000, "20k"},   {250000, "250k"},
    };
    for (const auto& [n, texto] : casos) EXPECT_EQ(VistaCreditosW::cantidad(n), QString::fromLatin1(texto)) << n;
}

TEST(VistasWidgets, UmbralDeCreditos) {
    auto foto = [](std::optional<qint64> cupo, std::optional<qint64> restantes) {
        Instantanea i = Instantanea::ejemplo();
        i.creditos = Instantanea::Creditos{0, cupo, restantes, std::nullopt};
        return i;
    };
    EXPECT_DOUBLE_EQ(*VistaCreditosW::fraccion(foto(1000, 150)), 0.15);
    EXPECT_FALSE(VistaCreditosW::bajo(*VistaCreditosW::fraccion(foto(1000, 150))));
    EXPECT_TRUE(VistaCreditosW::bajo(*VistaCreditosW::fraccion(foto(1000, 149))));
    EXPECT_DOUBLE_EQ(*VistaCreditosW::fraccion(foto(1000, 1500)), 1.0);
    EXPECT_DOUBLE_EQ(*VistaCreditosW::fraccion(foto(1000, -20)), 0.0);
    EXPECT_FALSE(VistaCreditosW::fraccion(foto(0, 10)));
    EXPECT_FALSE(VistaCreditosW::fraccion(foto(-5, 10)));
    EXPECT_FALSE(VistaCreditosW::fraccion(foto(std::nullopt, 10)));
    EXPECT_FALSE(VistaCreditosW::fraccion(foto(1000, std::nullopt)));
    Instantanea sin = Instantanea::ejemplo();
    sin.creditos.reset();
    EXPECT_FALSE(VistaCreditosW::fraccion(sin));

    // The ring's colour follows the threshold: amber below 15 %, lime from there.
    for (const bool oscuro : {false, true}) {
        const PaletaW pal{oscuro};
        for (const auto& [restantes, color] : {std::pair{qint64(150), pal.lima()}, std::pair{qint64(149), pal.ambar()}}) {
            const Instantanea i = foto(1000, restantes);
            const QImage img = widget(FamiliaW::pequena, oscuro, [&](QPainter& q, const QRectF& r, const PaletaW& pl, ZonasEnlace* e) {
                VistaCreditosW{i, pl}.pintar(q, r, e);
            });
            img.save(pruebas::carpetaArtefactos(QStringLiteral("widgets")) +
                     QStringLiteral("/creditos-%1-%2.png").arg(restantes).arg(oscuro ? "oscuro" : "claro"));
            // The arc starts at 12 o'clock: the top of the ring (y = 85 − 49) has the arc's colour.
            bool hallado = false;
            for (int y = 2 * 20; y < 2 * 50 && !hallado; ++y) {
                const QColor c = img.pixelColor(2 * 86, y);
                hallado = std::abs(c.red() - color.red()) < 30 && std::abs(c.green() - color.green()) < 30 &&
                          std::abs(c.blue() - color.blue()) < 30;
            }
            EXPECT_TRUE(hallado) << restantes << (oscuro ? " oscuro" : " claro");
        }
    }
}

TEST(VistasWidgets, HablarTieneDosBotones) {
    ZonasEnlace zonas;
    const QImage img = widget(FamiliaW::pequena, false, [](QPainter& q, const QRectF& r, const PaletaW& pal, ZonasEnlace* e) {
        VistaHablarW{pal}.pintar(q, r, e);
    }, &zonas);
    ASSERT_EQ(zonas.size(), 2u);
    EXPECT_EQ(zonas[0].url, EnlaceZentu::llamada());
    EXPECT_EQ(zonas[1].url, EnlaceZentu::chat());
    EXPECT_LT(zonas[0].zona.center().x(), zonas[1].zona.center().x());
    // The call button is the filled lime one.
    const QColor centroLlamada = img.pixelColor((zonas[0].zona.center() + QPointF(-12, 12)).toPoint() * 2);
    EXPECT_EQ(centroLlamada.rgb(), PaletaW{false}.lima().rgb());
}

// A text that may shrink does so before anything is cut: a large total is drawn whole in every
// family, and the amount left keeps its digits.
TEST(VistasWidgets, LosNumerosGrandesSeEncogenSinCortarse) {
    struct Caso {
        const char* nombre;
        FamiliaW familia;
        qint64 total;
    };
    const Caso casos[] = {
        {"pequeño", FamiliaW::pequena, 12345678},  {"mediano", FamiliaW::mediana, 12345678},
        {"grande", FamiliaW::grande, 12345678},    {"mediano, el mayor", FamiliaW::mediana, 9223372036854775807},
        {"mediano, corto", FamiliaW::mediana, 18},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        const Instantanea foto = conDudas(2, c.total);
        pruebas::TextosDibujados lienzoTextos(tamano(c.familia).toSize());
        QPainter p(&lienzoTextos);
        MarcoW{false, {0, 0}, std::nullopt, [&](QPainter& q, const QRectF& r, const PaletaW& pal, ZonasEnlace* e) {
                   VistaPendientesW{foto, c.familia, pal, ahora}.pintar(q, r, e);
               }}.pintar(p, QRectF(QPointF(0, 0), tamano(c.familia)), nullptr, ahora);
        p.end();
        EXPECT_TRUE(lienzoTextos.textos().contains(QString::number(c.total))) << lienzoTextos.textos().join(" | ").toStdString();
    }
    Instantanea creditos = Instantanea::ejemplo();
    creditos.creditos->restantes = 12345678;
    creditos.creditos->cupo = 99999999;
    pruebas::TextosDibujados lienzoTextos(tamano(FamiliaW::pequena).toSize());
    QPainter p(&lienzoTextos);
    MarcoW{false, {0, 0}, std::nullopt, [&](QPainter& q, const QRectF& r, const PaletaW& pal, ZonasEnlace* e) {
               VistaCreditosW{creditos, pal}.pintar(q, r, e);
           }}.pintar(p, QRectF(QPointF(0, 0), tamano(FamiliaW::pequena)), nullptr, ahora);
    p.end();
    EXPECT_TRUE(lienzoTextos.textos().contains(VistaCreditosW::cantidad(12345678)));
    EXPECT_TRUE(lienzoTextos.textos().filter(QStringLiteral("…")).isEmpty()) << lienzoTextos.textos().join(" | ").toStdString();
}

// Every view of the family set, both schemes, demo and empty snapshot, as pictures to look at.
TEST(VistasWidgets, Imagenes) {
    const QString carpeta = pruebas::carpetaArtefactos(QStringLiteral("widgets"));
    const std::vector<std::pair<const char*, Instantanea>> fotos = {
        {"ejemplo", Instantanea::ejemplo()},
        {"vacia", Instantanea::vacia()},
        {"sin-dudas", conDudas(0, 0)},
        {"cinco-dudas", conDudas(5, 12345678, 3)},
        {"sin-creditos", [] {
             Instantanea i = conDudas(1, 1, 1);
             i.creditos->cupo = 0;
             return i;
         }()},
    };
    int escritas = 0;
    for (const bool oscuro : {false, true}) {
        const char* esquema = oscuro ? "oscuro" : "claro";
        for (const auto& [nombre, foto] : fotos) {
            // The demo's ages run from its own "now"; the others are an hour and a half old.
            const bool esEjemplo = foto.actualizado == Instantanea::ejemplo().actualizado;
            const QDateTime ahora = esEjemplo ? foto.actualizado.addSecs(30) : ::ahora;
            const std::optional<QDateTime> fecha =
                foto.enlazada ? std::optional<QDateTime>(esEjemplo ? foto.actualizado : antes(5000)) : std::nullopt;
            for (const FamiliaW familia : {FamiliaW::pequena, FamiliaW::mediana, FamiliaW::grande}) {
                const QImage img = widget(familia, oscuro, [&](QPainter& q, const QRectF& r, const PaletaW& pal, ZonasEnlace* e) {
                    VistaPendientesW{foto, familia, pal, ahora}.pintar(q, r, e);
                }, nullptr, fecha, ahora);
                escritas += img.save(carpeta + QStringLiteral("/pendientes-%1-%2-%3.png")
                                                   .arg(nombreFamilia(familia), QLatin1String(nombre), QLatin1String(esquema)));
            }
            const QImage creditos = widget(FamiliaW::pequena, oscuro, [&](QPainter& q, const QRectF& r, const PaletaW& pal, ZonasEnlace* e) {
                VistaCreditosW{foto, pal}.pintar(q, r, e);
            }, nullptr, fecha, ahora);
            escritas += creditos.save(carpeta + QStringLiteral("/creditos-%1-%2.png").arg(QLatin1String(nombre), QLatin1String(esquema)));
        }
        const QImage hablar = widget(FamiliaW::pequena, oscuro, [](QPainter& q, const QRectF& r, const PaletaW& pal, ZonasEnlace* e) {
            VistaHablarW{pal}.pintar(q, r, e);
        });
        escritas += hablar.save(carpeta + QStringLiteral("/hablar-%1.png").arg(QLatin1String(esquema)));
    }
    EXPECT_EQ(escritas, 2 * (5 * 4 + 1));
}
