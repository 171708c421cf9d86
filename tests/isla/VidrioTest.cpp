#include "zentu/isla/Vidrio.h"

#include "zentu/isla/Pildora.h"

#include "compartido/Iconos.h"
#include "comun/Ayudas.h"
#include "plataforma/Reloj.h"

#include <QFont>
#include <QImage>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <cmath>

namespace {

void esperarColor(const QColor& c, int r, int g, int b) {
    EXPECT_EQ(c.spec(), QColor::Rgb);
    EXPECT_EQ(c.alpha(), 255);
    EXPECT_EQ(c.red(), r);
    EXPECT_EQ(c.green(), g);
    EXPECT_EQ(c.blue(), b);
}

void esperarGris(const QColor& c, double gris) {
    EXPECT_EQ(c.alpha(), 255);
    EXPECT_NEAR(c.redF(), gris, 1.0 / 65535);
    EXPECT_NEAR(c.greenF(), gris, 1.0 / 65535);
    EXPECT_NEAR(c.blueF(), gris, 1.0 / 65535);
}

TEST(Paleta, ValoresDeAmbosEsquemas) {
    struct Caso {
        Esquema esquema;
        int lima[3], turquesa[3], rojo[3];
        double tinta;
    };
    const Caso casos[] = {
        {Esquema::oscuro, {183, 255, 39}, {45, 226, 200}, {255, 107, 107}, 0.95},
        {Esquema::claro, {74, 140, 0}, {0, 138, 122}, {214, 48, 49}, 0.1},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.esquema == Esquema::oscuro ? "oscuro" : "claro");
        const Paleta p(c.esquema);
        esperarColor(p.lima, c.lima[0], c.lima[1], c.lima[2]);
        esperarColor(p.turquesa, c.turquesa[0], c.turquesa[1], c.turquesa[2]);
        esperarColor(p.rojo, c.rojo[0], c.rojo[1], c.rojo[2]);
        esperarGris(p.tinta, c.tinta);
    }
    // The dark palette is the pill's own constants.
    EXPECT_EQ(Paleta(Esquema::oscuro).lima, Pildora::lima);
    EXPECT_EQ(Paleta(Esquema::oscuro).turquesa, Pildora::turquesa);
    EXPECT_EQ(Paleta(Esquema::oscuro).rojo, Pildora::rojo);
    esperarColor(Pildora::lima, 183, 255, 39);
    esperarColor(Pildora::turquesa, 45, 226, 200);
    esperarColor(Pildora::rojo, 255, 107, 107);
}

TEST(Vidrio, InterruptoresDelVidrioClasico) {
    struct Caso {
        QStringList argumentos;
        bool clasico;
    };
    const QString programa = QStringLiteral("/usr/bin/zentu");
    const Caso casos[] = {
        {{programa}, false},
        {{programa, "--vidrio-clasico"}, true},
        {{programa, "--captura"}, true},
        {{programa, "--captura-widgets"}, true},
        {{programa, "--captura", "/tmp/salida"}, true},
        {{programa, "--vidrio-clasico=1"}, false},
        {{programa, "--captura-w"}, false},
        {{programa, "--vidrio"}, false},
        {{programa, "--VIDRIO-CLASICO"}, false},
        {{"--vidrio-clasico"}, true},  // the program path counts as an argument too
    };
    for (const Caso& c : casos) EXPECT_EQ(Vidrio::sinLiquidGlass(c.argumentos), c.clasico) << c.argumentos.join(' ').toStdString();
}

// Alpha of a pixel of a picture drawn on a transparent ground.
int alfa(const QImage& im, int x, int y) { return qAlpha(im.pixel(x, y)); }

TEST(Vidrio, SuperficieBordeYSombraClasicos) {
    const QRectF tarjeta(40, 30, 200, 100);
    for (Esquema esquema : {Esquema::oscuro, Esquema::claro}) {
        SCOPED_TRACE(esquema == Esquema::oscuro ? "oscuro" : "claro");
        const Vidrio vidrio(FormaVidrio::redondeada(16), esquema);

        // Translucent fill inside the shape only; the rounded corner stays clear.
        QImage im(300, 200, QImage::Format_ARGB32);
        im.fill(Qt::transparent);
        {
            QPainter p(&im);
            vidrio.pintarFondo(p, tarjeta, true);
        }
        const QColor material = Vidrio::colorMaterial(esquema, true);
        EXPECT_GT(material.alpha(), 0);
        EXPECT_LT(material.alpha(), 255);
        EXPECT_NEAR(alfa(im, 140, 80), material.alpha(), 1);
        EXPECT_EQ(alfa(im, 41, 31), 0);
        EXPECT_EQ(alfa(im, 39, 80), 0);

        // Opaque where nothing composites.
        im.fill(Qt::transparent);
        {
            QPainter p(&im);
            vidrio.pintarFondo(p, tarjeta, false);
        }
        EXPECT_EQ(alfa(im, 140, 80), 255);

        // The hairline: one point wide, inside the outline, primary foreground at 0.08.
        im.fill(Qt::transparent);
        {
            QPainter p(&im);
            vidrio.pintarBorde(p, tarjeta);
        }
        const QColor borde = im.pixelColor(40, 80);
        EXPECT_NEAR(borde.alphaF(), 0.08, 0.01);
        EXPECT_EQ(borde.red(), esquema == Esquema::oscuro ? 255 : 0);
        EXPECT_EQ(alfa(im, 39, 80), 0);   // never outside the shape
        EXPECT_EQ(alfa(im, 41, 80), 0);   // one point wide
        EXPECT_EQ(alfa(im, 140, 80), 0);  // no fill
        EXPECT_NEAR(alfa(im, 140, 129), borde.alpha(), 1);
        EXPECT_EQ(alfa(im, 140, 130), 0);

        // Radius 0: an unblurred shadow exactly 10 points below the shape.
        const qreal fuerza = SombraVidrio::opacidad(esquema);
        EXPECT_DOUBLE_EQ(fuerza, esquema == Esquema::oscuro ? 0.4 : 0.15);
        im.fill(Qt::transparent);
        {
            QPainter p(&im);
            SombraVidrio(esquema, 0).pintar(p, vidrio.forma(), tarjeta, true);
        }
        EXPECT_NEAR(alfa(im, 140, 135), std::lround(255 * fuerza), 1);
        EXPECT_NEAR(alfa(im, 140, 139), std::lround(255 * fuerza), 1);
        EXPECT_EQ(alfa(im, 140, 141), 0);
        EXPECT_EQ(alfa(im, 140, 39), 0);  // the top of the shadow starts 10 below the card's top
        EXPECT_NEAR(alfa(im, 140, 41), std::lround(255 * fuerza), 1);
        EXPECT_EQ(alfa(im, 39, 80), 0);   // no horizontal offset

        // Radius 22: blurred beyond the edge, strongest under the middle, nothing without a compositor.
        im.fill(Qt::transparent);
        {
            QPainter p(&im);
            SombraVidrio(esquema, 22).pintar(p, vidrio.forma(), tarjeta, true);
        }
        EXPECT_NEAR(alfa(im, 140, 90), std::lround(255 * fuerza), 2);
        EXPECT_GT(alfa(im, 140, 145), 0);
        EXPECT_LT(alfa(im, 140, 145), alfa(im, 140, 135));
        EXPECT_GT(alfa(im, 30, 90), 0);
        EXPECT_EQ(alfa(im, 140, 199), 0);
        im.fill(Qt::transparent);
        {
            QPainter p(&im);
            SombraVidrio(esquema, 22).pintar(p, vidrio.forma(), tarjeta, false);
        }
        EXPECT_EQ(alfa(im, 140, 135), 0);
    }
}

TEST(Vidrio, CapsulaYFormaInterior) {
    const QRectF marco(0, 0, 120, 40);
    const QPainterPath capsula = FormaVidrio::capsula().camino(marco);
    EXPECT_TRUE(capsula.contains(QPointF(60, 20)));
    EXPECT_TRUE(capsula.contains(QPointF(1, 20)));
    EXPECT_FALSE(capsula.contains(QPointF(2, 2)));  // rounded by half the height
    EXPECT_EQ(capsula.boundingRect(), marco);
    const QPainterPath dentro = FormaVidrio::capsula().caminoInterior(marco, 0.5);
    EXPECT_EQ(dentro.boundingRect(), marco.adjusted(0.5, 0.5, -0.5, -0.5));
    // A radius larger than the shape allows, and a shape without area.
    EXPECT_EQ(FormaVidrio::redondeada(500).camino(marco).boundingRect(), marco);
    EXPECT_TRUE(FormaVidrio::redondeada(10).camino(QRectF(0, 0, 0, 10)).isEmpty());
    EXPECT_TRUE(FormaVidrio::capsula().caminoInterior(QRectF(0, 0, 1, 10), 0.5).isEmpty());
}

// A square that paints itself solid: shows what lies over and under it.
class Macizo : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(200, 0, 0)); }
};

TEST(Vidrio, AplicadoAUnaVista) {
    QWidget ventana;
    ventana.setAttribute(Qt::WA_TranslucentBackground);
    ventana.resize(300, 200);
    auto* tarjeta = new QWidget(&ventana);
    tarjeta->setGeometry(40, 30, 200, 100);
    auto* contenido = new Macizo(tarjeta);
    contenido->setGeometry(0, 40, 100, 20);
    Vidrio(FormaVidrio::redondeada(16), Esquema::oscuro).aplicar(tarjeta);
    SombraVidrio(Esquema::oscuro, 0).aplicar(tarjeta, FormaVidrio::redondeada(16));
    // A child added later still stays under the hairline.
    auto* tardio = new Macizo(tarjeta);
    tardio->setGeometry(0, 70, 100, 20);
    ventana.show();
    pruebas::girar(20);

    QImage im(300, 200, QImage::Format_ARGB32);
    im.fill(Qt::transparent);
    ventana.render(&im, QPoint(), QRegion(), QWidget::DrawChildren);
    const QColor material = Vidrio::colorMaterial(Esquema::oscuro, true);
    EXPECT_NEAR(alfa(im, 200, 35), material.alpha(), 1);     // glass under the card
    EXPECT_NEAR(alfa(im, 200, 135), 102, 1);                 // its shadow, 10 below, on the parent
    EXPECT_EQ(alfa(im, 200, 145), 0);
    // The hairline lies over the content: the red child is lightened on the card's left edge.
    const QColor bajoBorde = im.pixelColor(40, 80);
    const QColor sinBorde = im.pixelColor(45, 80);
    EXPECT_EQ(sinBorde, QColor(200, 0, 0));
    EXPECT_GT(bajoBorde.green(), 0);
    EXPECT_GT(im.pixelColor(40, 110).green(), 0);
    // ... and takes no clicks: they reach the content.
    EXPECT_EQ(tarjeta->childAt(0, 50), contenido);
    EXPECT_EQ(tarjeta->childAt(150, 20), nullptr);

    // Applying again replaces the earlier glass instead of stacking a second one.
    Vidrio(FormaVidrio::redondeada(16), Esquema::claro).aplicar(tarjeta);
    EXPECT_EQ(tarjeta->findChildren<QObject*>(QStringLiteral("zentu-vidrio")).size(), 1);
    EXPECT_EQ(tarjeta->findChildren<QWidget*>(QStringLiteral("zentu-vidrio-borde")).size(), 1);
}

TEST(Presionable, EncogeAl92YVuelve) {
    RelojVirtual reloj;
    QPushButton boton(QStringLiteral("Hablar"));
    boton.resize(80, 30);
    Presionable estilo(&boton, reloj);
    EXPECT_EQ(estilo.escala(), 1.0);

    QTest::mousePress(&boton, Qt::LeftButton);
    EXPECT_DOUBLE_EQ(estilo.escala(), 1.0);
    reloj.avanzar(0.06);
    const qreal mitad = estilo.escala();
    // Eases out: more than half of the way after half of the time.
    EXPECT_LT(mitad, 0.96);
    EXPECT_GT(mitad, 0.92);
    reloj.avanzar(0.07);
    EXPECT_DOUBLE_EQ(estilo.escala(), 0.92);
    reloj.avanzar(0.05);
    EXPECT_EQ(reloj.pendientes(), 0);  // no repaints once it rests

    QTest::mouseRelease(&boton, Qt::LeftButton);
    reloj.avanzar(0.03);
    EXPECT_GT(estilo.escala(), 0.92);
    EXPECT_LT(estilo.escala(), 1.0);
    reloj.avanzar(0.1);
    EXPECT_DOUBLE_EQ(estilo.escala(), 1.0);

    // The label is scaled around its centre.
    QImage im(80, 30, QImage::Format_ARGB32);
    QPainter p(&im);
    QTest::mousePress(&boton, Qt::LeftButton);
    reloj.avanzar(0.2);
    estilo.transformar(p, QRectF(0, 0, 80, 30));
    EXPECT_EQ(p.transform().map(QPointF(40, 15)), QPointF(40, 15));
    EXPECT_NEAR(p.transform().map(QPointF(0, 0)).x(), 40 - 40 * 0.92, 1e-9);
    p.end();
    QTest::mouseRelease(&boton, Qt::LeftButton);
}

// A card in both schemes over a busy background, for a person to look at.
TEST(Vidrio, TarjetaEnPng) {
    for (Esquema esquema : {Esquema::oscuro, Esquema::claro}) {
        const bool oscuro = esquema == Esquema::oscuro;
        QImage im(480, 300, QImage::Format_ARGB32_Premultiplied);
        QPainter p(&im);
        p.setRenderHint(QPainter::Antialiasing);
        QLinearGradient fondo(0, 0, 480, 300);
        fondo.setColorAt(0, oscuro ? QColor(20, 40, 80) : QColor(170, 210, 250));
        fondo.setColorAt(1, oscuro ? QColor(90, 20, 60) : QColor(250, 200, 160));
        p.fillRect(im.rect(), fondo);
        p.setPen(QPen(oscuro ? QColor(255, 255, 255, 60) : QColor(0, 0, 0, 50), 6));
        for (int x = -300; x < 480; x += 40) p.drawLine(x, 300, x + 300, 0);

        const QRectF tarjeta(60, 50, 360, 180);
        const FormaVidrio forma = FormaVidrio::redondeada(22);
        SombraVidrio(esquema, 22).pintar(p, forma, tarjeta, true);
        const Vidrio vidrio(forma, esquema);
        vidrio.pintarFondo(p, tarjeta, true);
        const Paleta paleta(esquema);
        QFont letra(QStringLiteral("Inter"));
        letra.setPixelSize(18);
        letra.setWeight(QFont::DemiBold);
        p.setFont(letra);
        p.setPen(paleta.tinta);
        p.drawText(tarjeta.adjusted(24, 20, -24, 0), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Créditos"));
        const QColor acentos[] = {paleta.lima, paleta.turquesa, paleta.rojo};
        for (int i = 0; i < 3; ++i) {
            p.setPen(Qt::NoPen);
            p.setBrush(acentos[i]);
            p.drawRoundedRect(QRectF(tarjeta.left() + 24 + i * 110, tarjeta.top() + 70, 96, 32), 16, 16);
        }
        QColor tenue = paleta.tinta;
        tenue.setAlphaF(0.08f);
        p.setBrush(tenue);
        p.drawRoundedRect(QRectF(tarjeta.left() + 24, tarjeta.top() + 120, 312, 36), 10, 10);
        Iconos::trazar(p, Icono::cerrar, QRectF(tarjeta.right() - 40, tarjeta.top() + 18, 18, 18), paleta.tinta, 1.6);
        vidrio.pintarBorde(p, tarjeta);
        p.end();
        const QString ruta =
            pruebas::carpetaArtefactos("isla") + (oscuro ? "/vidrio-oscuro.png" : "/vidrio-claro.png");
        ASSERT_TRUE(im.save(ruta));
    }
}

}  // namespace
