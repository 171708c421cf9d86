#include "comun/Ayudas.h"
#include "compartido/Ruido.h"
#include "zentu/isla/Orbe.h"

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <vector>

namespace {

class Lienzo : public QWidget {
public:
    Lienzo(EstadoVoz& voz, RelojVirtual& reloj) : orbe(voz, 30, this, reloj) { resize(44, 44); }
    Orbe orbe;
    bool oscuro = true;
    int pintadas = 0;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        orbe.dibujar(p, QRectF(0, 0, width(), height()), oscuro);
        ++pintadas;
    }
};

double alfa(const QLinearGradient& g, int parada) { return g.stops().at(parada).second.alphaF(); }

}  // namespace

TEST(Orbe, GeometriaEnReposoAlPrincipio) {
    EstadoVoz voz;  // rest values, level 0, time 0
    const auto f = Orbe::formas(voz, 44, 44, true);
    EXPECT_DOUBLE_EQ(f.radio, 44 * 0.33 * 0.9 * 0.82);
    EXPECT_NEAR(f.radio, 10.716, 5e-4);
    ASSERT_EQ(f.anillos.size(), 27u);
    for (const QPolygonF& a : f.anillos) {
        ASSERT_EQ(a.size(), 49);
        // The last point falls on the first: the ring closes visually.
        EXPECT_NEAR(a.first().x(), a.last().x(), 1e-5);
        EXPECT_NEAR(a.first().y(), a.last().y(), 1e-5);
    }
    EXPECT_EQ(f.sombreado.start(), QPointF(22, 22 + 1.3 * f.radio));
    EXPECT_EQ(f.sombreado.finalStop(), QPointF(22, 22 - 1.4 * f.radio));

    // Group 0, ring 4 lies at inclination 0.9 and the figure is not turned: its point k = 0 is
    // (1, 0, 0) and its point k = 12 is (0, cos 0.9, sin 0.9) before the noise.
    const double E = 0.12, R = f.radio;
    const double tilt = 0.15, ct = std::cos(tilt), st = std::sin(tilt);
    const auto esperado = [&](double X, double Y, double Z) {
        const double u = Ruido::valor(1.2 * X, 1.2 * Y, 0.015 * 4 + 1.2 * Z);
        const double q = Ruido::valor(2.5 * X, 2.5 * Z, 0);
        const double bump = std::max(q, 0.0) * std::max(Y - 0.55, 0.0) * 2.2;
        const double rho = (1 + (0.08 + 0.22 * E) * u) + (0.25 + 1.2 * E) * bump;
        const double Y3 = ct * Y * rho - st * Z * rho, Z3 = st * Y * rho + ct * Z * rho;
        const double p = 2.8 / (Z3 + 2.8);
        return QPointF(22 + R * X * rho * p, 22 - R * Y3 * p);
    };
    const QPolygonF& anillo = f.anillos[4];
    const QPointF p0 = esperado(1, 0, 0);
    EXPECT_NEAR(anillo[0].x(), p0.x(), 1e-9);
    EXPECT_NEAR(anillo[0].y(), p0.y(), 1e-9);
    const QPointF p12 = esperado(std::cos(M_PI / 2), std::cos(0.9), std::sin(0.9));
    EXPECT_NEAR(anillo[12].x(), p12.x(), 1e-9);
    EXPECT_NEAR(anillo[12].y(), p12.y(), 1e-9);
}

TEST(Orbe, OpacidadesDelSombreado) {
    EstadoVoz voz;
    voz.animado.brillo = 1;
    auto f = Orbe::formas(voz, 44, 44, true);
    ASSERT_EQ(f.sombreado.stops().size(), 3);
    EXPECT_NEAR(alfa(f.sombreado, 0), 0.646, 1e-4);
    EXPECT_NEAR(alfa(f.sombreado, 1), 0.26 * 1.9, 1e-4);
    EXPECT_NEAR(alfa(f.sombreado, 2), 0.30 * 1.9, 1e-4);
    EXPECT_EQ(f.sombreado.stops().at(0).second.rgb(), QColor(183, 255, 39).rgb());
    EXPECT_EQ(f.sombreado.stops().at(2).second.rgb(), QColor(45, 226, 200).rgb());
    EXPECT_DOUBLE_EQ(f.sombreado.stops().at(1).first, 0.55);
    voz.animado.brillo = 0.45;
    f = Orbe::formas(voz, 44, 44, true);
    EXPECT_NEAR(alfa(f.sombreado, 0), 0.2907, 1e-4);
    f = Orbe::formas(voz, 44, 44, false);
    EXPECT_EQ(f.sombreado.stops().at(0).second.rgb(), QColor(74, 140, 0).rgb());
    EXPECT_NEAR(alfa(f.sombreado, 0), 0.30 * 1.9 * 0.45, 1e-4);
    EXPECT_EQ(f.sombreado.stops().at(1).second.rgb(), QColor(20, 150, 90).rgb());
    EXPECT_EQ(f.sombreado.stops().at(2).second.rgb(), QColor(0, 128, 118).rgb());
}

TEST(Orbe, FiguraFijaParaUnEstadoYUnTiempo) {
    // The same state gives the same figure; the level widens the radius, time moves the rings.
    EstadoVoz voz;
    voz.animado = EstadoVoz::objetivo(Fase::hablando);
    voz.tiempo = 3.7;
    voz.nivel = 0.5;
    const auto a = Orbe::formas(voz, 88, 88, true);
    const auto b = Orbe::formas(voz, 88, 88, true);
    EXPECT_EQ(a.anillos, b.anillos);
    EXPECT_NEAR(a.radio, 88 * 0.33 * 0.9 * 1.04 * 1.04, 1e-12);
    voz.tiempo = 3.8;
    EXPECT_NE(Orbe::formas(voz, 88, 88, true).anillos, a.anillos);
    // Every point stays near the orb (bumps reach out at most a little over twice the radius).
    for (const QPolygonF& anillo : a.anillos)
        for (const QPointF& p : anillo) EXPECT_LT(std::hypot(p.x() - 44, p.y() - 44), 2.5 * a.radio);
}

TEST(Orbe, AnimaSoloVisibleYSinCongelar) {
    RelojVirtual reloj;
    EstadoVoz voz;
    Lienzo lienzo(voz, reloj);
    EXPECT_FALSE(lienzo.orbe.animando());
    voz.setVisible(true);
    EXPECT_TRUE(lienzo.orbe.animando());
    voz.setQuieto(true);
    EXPECT_FALSE(lienzo.orbe.animando());
    voz.setQuieto(false);
    EXPECT_TRUE(lienzo.orbe.animando());
    voz.setVisible(false);
    EXPECT_FALSE(lienzo.orbe.animando());
}

TEST(Orbe, UnPasoPorCuadro) {
    RelojVirtual reloj;
    EstadoVoz voz;
    voz.setFase(Fase::timbrando);
    Lienzo lienzo(voz, reloj);
    lienzo.grab();  // first step: dt 0
    EXPECT_EQ(voz.tiempo, 0);
    reloj.avanzar(0.05);
    lienzo.orbe.cuadro();
    lienzo.grab();
    EXPECT_NEAR(voz.tiempo, 0.05, 1e-12);
    EXPECT_NEAR(voz.animado.energia, 0.207, 1e-12);
    // Redrawing without a new frame (a hover, a resize) does not step the state again.
    lienzo.grab();
    lienzo.grab();
    EXPECT_NEAR(voz.tiempo, 0.05, 1e-12);
    // A long pause advances the animation by 0.05 s only.
    reloj.avanzar(30);
    lienzo.orbe.cuadro();
    lienzo.grab();
    EXPECT_NEAR(voz.tiempo, 0.1, 1e-12);
}

TEST(Orbe, LuzQueSeSumaSoloEnElOscuro) {
    // Over a mid grey, added light can only brighten each channel; drawn normally, the light
    // scheme's deep greens darken the red channel where a ring passes.
    EstadoVoz voz;
    voz.setFase(Fase::hablando);
    for (int i = 0; i < 60; ++i) voz.avanzar(i / 30.0);
    const QColor gris(128, 128, 128);
    for (bool oscuro : {true, false}) {
        SCOPED_TRACE(oscuro ? "oscuro" : "claro");
        QImage imagen(88, 88, QImage::Format_ARGB32_Premultiplied);
        imagen.setDevicePixelRatio(2);
        imagen.fill(gris);
        QPainter p(&imagen);
        Orbe::pintar(p, QRectF(0, 0, 44, 44), Orbe::formas(voz, 44, 44, oscuro), oscuro);
        p.end();
        int masOscuros = 0, masClaros = 0;
        for (int y = 0; y < imagen.height(); ++y)
            for (int x = 0; x < imagen.width(); ++x) {
                const QRgb c = imagen.pixel(x, y);
                masOscuros += qRed(c) < 128 || qGreen(c) < 128 || qBlue(c) < 128;
                masClaros += qRed(c) > 128 || qGreen(c) > 128 || qBlue(c) > 128;
            }
        if (oscuro) {
            EXPECT_EQ(masOscuros, 0);
            EXPECT_GT(masClaros, 200);
        } else {
            EXPECT_GT(masOscuros, 200);
        }
    }
}

TEST(Orbe, Imagenes) {
    // Both schemes over their glass-like backgrounds, at 4 × 44 pixels.
    for (bool oscuro : {true, false}) {
        for (Fase fase : {Fase::reposo, Fase::hablando, Fase::timbrando}) {
            EstadoVoz voz;
            voz.setFase(fase);
            voz.nivelBruto = 0.6;
            for (int i = 0; i < 90; ++i) voz.avanzar(i / 30.0);
            QImage imagen(176, 176, QImage::Format_ARGB32_Premultiplied);
            imagen.setDevicePixelRatio(4);
            imagen.fill(oscuro ? QColor(30, 30, 34) : QColor(236, 236, 240));
            QPainter p(&imagen);
            Orbe::pintar(p, QRectF(0, 0, 44, 44), Orbe::formas(voz, 44, 44, oscuro), oscuro);
            p.end();
            int distintos = 0;
            const QRgb fondo = imagen.pixel(0, 0);
            for (int y = 0; y < 176; ++y)
                for (int x = 0; x < 176; ++x) distintos += imagen.pixel(x, y) != fondo;
            EXPECT_GT(distintos, 2000);
            EXPECT_EQ(imagen.pixel(2, 2), fondo);
            imagen.save(pruebas::carpetaArtefactos("isla") +
                        QStringLiteral("/orbe-%1-%2.png").arg(oscuro ? "oscuro" : "claro").arg(int(fase)));
        }
    }
}

namespace {

// The orb exactly as its passes are described, with Qt's own stroker: every ring stroked 3 wide
// at 0.22 opacity, then 0.7 wide at full opacity, in the gradient, added up in the dark scheme.
void pintarConTrazos(QPainter& p, const QRectF& marco, const Orbe::Formas& f, bool oscuro) {
    p.save();
    p.translate(marco.topLeft());
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setCompositionMode(oscuro ? QPainter::CompositionMode_Plus : QPainter::CompositionMode_SourceOver);
    const QBrush sombreado(f.sombreado);
    p.setOpacity(0.22);
    p.setPen(QPen(sombreado, 3));
    for (const QPolygonF& anillo : f.anillos) p.drawPolyline(anillo);
    p.setOpacity(1);
    p.setPen(QPen(sombreado, 0.7));
    for (const QPolygonF& anillo : f.anillos) p.drawPolyline(anillo);
    p.restore();
}

}  // namespace

// The orb draws its rings itself; the picture stays that of the strokes it stands for, at the
// island's scales and on a double-density screen, over both glasses.
TEST(Orbe, ComoSusTrazos) {
    struct Caso {
        double escala, dpr;
    };
    for (const Caso caso : {Caso{1.4, 1}, Caso{2.2, 1}, Caso{1.0, 2}}) {
        for (bool oscuro : {true, false}) {
            for (Fase fase : {Fase::reposo, Fase::hablando, Fase::timbrando}) {
                SCOPED_TRACE(testing::Message() << "escala " << caso.escala << " dpr " << caso.dpr << (oscuro ? " oscuro" : " claro")
                                                << " fase " << int(fase));
                EstadoVoz voz;
                voz.setFase(fase);
                voz.nivelBruto = 0.6;
                for (int i = 0; i < 75; ++i) voz.avanzar(i / 30.0);
                const Orbe::Formas formas = Orbe::formas(voz, 44, 44, oscuro);
                const int lado = int(std::ceil(44 * caso.escala * caso.dpr));
                QImage esperada(lado, lado, QImage::Format_ARGB32_Premultiplied), hecha = esperada;
                for (QImage* imagen : {&esperada, &hecha}) {
                    imagen->setDevicePixelRatio(caso.dpr);
                    imagen->fill(oscuro ? QColor(30, 30, 34) : QColor(246, 246, 248));
                    QPainter p(imagen);
                    p.scale(caso.escala, caso.escala);
                    if (imagen == &esperada)
                        pintarConTrazos(p, QRectF(0, 0, 44, 44), formas, oscuro);
                    else
                        Orbe::pintar(p, QRectF(0, 0, 44, 44), formas, oscuro);
                }
                std::vector<int> diferencias;
                for (int y = 0; y < lado; ++y)
                    for (int x = 0; x < lado; ++x) {
                        const QRgb a = esperada.pixel(x, y), b = hecha.pixel(x, y);
                        for (int d : {qRed(a) - qRed(b), qGreen(a) - qGreen(b), qBlue(a) - qBlue(b)}) diferencias.push_back(std::abs(d));
                    }
                double media = 0;
                for (int d : diferencias) media += d;
                media /= double(diferencias.size());
                std::sort(diferencias.begin(), diferencias.end());
                // Soft edges and crossings differ a little; the rings, their glow and colours not.
                EXPECT_LT(media, 7.0);
                EXPECT_LT(diferencias[diferencias.size() * 99 / 100], 70);
            }
        }
    }
}
