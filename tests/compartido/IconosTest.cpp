#include "compartido/Iconos.h"

#include "comun/Ayudas.h"

#include <QImage>
#include <QPainter>
#include <QPolygonF>
#include <gtest/gtest.h>
#include <cmath>
#include <limits>
#include <vector>

namespace {

const char* nombre(Icono i) {
    static const char* nombres[] = {"microfono", "microfonoTachado", "cerrar",   "chat",   "enviar",
                                    "clip",      "documento",        "telefono", "colgarTelefono", "teclado",
                                    "isla",      "persona",          "pulso",    "monitor", "zona"};
    return nombres[static_cast<int>(i)];
}

qreal distanciaASegmento(QPointF p, QPointF a, QPointF b) {
    const QPointF ab = b - a;
    const qreal largo2 = QPointF::dotProduct(ab, ab);
    qreal t = largo2 > 0 ? QPointF::dotProduct(p - a, ab) / largo2 : 0;
    t = std::clamp<qreal>(t, 0, 1);
    const QPointF d = p - (a + t * ab);
    return std::hypot(d.x(), d.y());
}

// Distance from a point to the drawn line (open subpaths stay open: no closing segment).
qreal distanciaAlTrazo(const QPainterPath& camino, QPointF p) {
    qreal mejor = std::numeric_limits<qreal>::max();
    for (const QPolygonF& pol : camino.toSubpathPolygons()) {
        if (pol.size() == 1) mejor = std::min(mejor, std::hypot(p.x() - pol[0].x(), p.y() - pol[0].y()));
        for (int i = 1; i < pol.size(); ++i) mejor = std::min(mejor, distanciaASegmento(p, pol[i - 1], pol[i]));
    }
    return mejor;
}

struct CasoIcono {
    Icono icono;
    std::vector<QPointF> sobre;  // points the line passes through (grid units)
    std::vector<QPointF> fuera;  // points well away from every line
    QRectF limites;              // tight bounds in grid units; empty: not checked
};

const std::vector<CasoIcono>& casos() {
    static const std::vector<CasoIcono> lista = {
        {Icono::microfono, {{12, 19}, {9, 8}, {15, 8}, {12, 2}, {5, 10}, {19, 10}, {12, 22}}, {{12, 17}, {17, 5}},
         QRectF(QPointF(5, 2), QPointF(19, 22))},
        {Icono::microfonoTachado,
         {{2, 2}, {12, 12}, {22, 22}, {12, 2}, {15, 7}, {9.28, 3.73}, {12, 15}, {12, 19}, {18.4, 14.8}, {5, 11}},
         {{9, 6.5}, {13, 20}},
         QRectF(QPointF(2, 2), QPointF(22, 22))},
        {Icono::cerrar, {{6, 6}, {12, 12}, {18, 6}, {6, 18}}, {{12, 6}, {6, 12}}, QRectF(QPointF(6, 6), QPointF(18, 18))},
        {Icono::chat,
         {{21, 11.5}, {12.5, 3}, {4, 11.5}, {12.5, 20}, {4, 20.5}, {5.2, 15.8}},
         // the middle of the open wedge, at 135°
         {{12.5 - 8.5 * M_SQRT1_2, 11.5 + 8.5 * M_SQRT1_2}, {12.5, 11.5}},
         QRectF(QPointF(4, 3), QPointF(21, 20.5))},
        {Icono::enviar, {{12, 19}, {12, 5}, {6, 11}, {18, 11}, {9, 8}}, {{6, 5}, {18, 19}},
         QRectF(QPointF(6, 5), QPointF(18, 19))},
        {Icono::clip,
         {{21.4, 11.1}, {12.2, 20.3}, {8.2 - 4.0022, 16.3 + 4.0022}, {13.4, 3.9}, {16.2, 2.74}, {10.2, 17.6}, {15.3, 8.4}},
         {{12, 12}, {20, 20}},
         {}},
        {Icono::documento, {{14, 5}, {20, 8}, {17, 8}, {8, 13}, {16, 13}, {13, 17}, {4, 12}, {12, 22}, {10, 2}},
         {{12, 10}, {15, 17}},
         QRectF(QPointF(4, 2), QPointF(20, 22))},
        {Icono::telefono, {{22, 16.9}, {22, 19.9}, {7.1, 2}, {7.3, 9.2}, {16.1, 15.4}}, {{12, 12}, {20, 4}}, {}},
        // rotated by 135° about (12, 12): (22, 16.9) goes to (1.464, 15.606)
        {Icono::colgarTelefono, {{1.46411, 15.60624}, {12 - 17.9 * M_SQRT1_2, 12 + 2.1 * M_SQRT1_2}}, {{12, 12}}, {}},
        {Icono::teclado, {{6, 9}, {18, 9}, {8, 12.5}, {16, 12.5}, {12, 16}, {2, 12}, {12, 5}, {12, 19}},
         {{8, 9}, {12, 9}, {10, 12.5}},
         QRectF(QPointF(2, 5), QPointF(22, 19))},
        {Icono::isla, {{5, 12}, {10, 12}, {7.5, 9.5}, {14, 12}, {18, 12}, {12, 7}, {12, 17}, {2, 12}},
         {{12, 12}, {7.5, 12}},
         QRectF(QPointF(2, 7), QPointF(22, 17))},
        {Icono::persona, {{12, 3}, {12, 11}, {8, 7}, {4, 21}, {20, 21}, {12, 14.25}}, {{12, 18}, {12, 7}},
         QRectF(QPointF(4, 3), QPointF(20, 21))},
        {Icono::pulso, {{22, 12}, {18, 12}, {15, 21}, {9, 3}, {6, 12}, {2, 12}, {12, 12}}, {{12, 20}, {20, 4}},
         QRectF(QPointF(2, 3), QPointF(22, 21))},
        {Icono::monitor, {{2, 10}, {22, 10}, {12, 3}, {12, 17}, {12, 19}, {8, 21}, {16, 21}}, {{12, 10}, {6, 19}},
         QRectF(QPointF(2, 3), QPointF(22, 21))},
        {Icono::zona, {{3, 6}, {7, 3}, {17, 3}, {21, 6}, {21, 18}, {17, 21}, {7, 21}, {3, 18}},
         {{12, 3}, {3, 12}, {21, 12}, {12, 21}, {12, 12}},
         QRectF(QPointF(3, 3), QPointF(21, 21))},
    };
    return lista;
}

TEST(Iconos, CadaDibujoPasaPorSusPuntos) {
    ASSERT_EQ(casos().size(), Iconos::todos.size());
    // Drawn at scale 2 so that the fit is exercised as well.
    const QRectF celda(0, 0, 48, 48);
    for (const CasoIcono& caso : casos()) {
        SCOPED_TRACE(nombre(caso.icono));
        const QPainterPath camino = Iconos::forma(caso.icono, celda);
        ASSERT_FALSE(camino.isEmpty());
        for (QPointF p : caso.sobre) EXPECT_LT(distanciaAlTrazo(camino, 2 * p), 0.05) << p.x() << ", " << p.y();
        for (QPointF p : caso.fuera) EXPECT_GT(distanciaAlTrazo(camino, 2 * p), 1.0) << p.x() << ", " << p.y();
        if (!caso.limites.isEmpty()) {
            const QRectF b = camino.boundingRect();
            const QRectF e(2 * caso.limites.topLeft(), 2 * caso.limites.bottomRight());
            EXPECT_NEAR(b.left(), e.left(), 0.05);
            EXPECT_NEAR(b.top(), e.top(), 0.05);
            EXPECT_NEAR(b.right(), e.right(), 0.05);
            EXPECT_NEAR(b.bottom(), e.bottom(), 0.05);
        }
    }
}

std::vector<QPointF> puntos(const QPainterPath& camino) {
    std::vector<QPointF> v;
    for (int i = 0; i < camino.elementCount(); ++i) v.emplace_back(camino.elementAt(i).x, camino.elementAt(i).y);
    return v;
}

TEST(Iconos, AjusteALaEsquinaSuperiorIzquierda) {
    struct Caso {
        QRectF rect;
        std::vector<QPointF> cerrar;  // M, L, M, L
    };
    const Caso casosAjuste[] = {
        {QRectF(0, 0, 48, 48), {{12, 12}, {36, 36}, {36, 12}, {12, 36}}},
        // not square: scale 1 from the shorter side, kept at the top-left, not centred
        {QRectF(10, 20, 48, 24), {{16, 26}, {28, 38}, {28, 26}, {16, 38}}},
        {QRectF(-5, 3, 12, 100), {{-2, 6}, {4, 12}, {4, 6}, {-2, 12}}},
    };
    for (const Caso& c : casosAjuste) {
        const QPainterPath camino = Iconos::forma(Icono::cerrar, c.rect);
        ASSERT_EQ(camino.elementCount(), 4);
        EXPECT_TRUE(camino.elementAt(0).isMoveTo());
        EXPECT_TRUE(camino.elementAt(1).isLineTo());
        EXPECT_TRUE(camino.elementAt(2).isMoveTo());
        EXPECT_TRUE(camino.elementAt(3).isLineTo());
        const auto p = puntos(camino);
        for (int i = 0; i < 4; ++i) {
            EXPECT_NEAR(p[i].x(), c.cerrar[i].x(), 1e-9) << i;
            EXPECT_NEAR(p[i].y(), c.cerrar[i].y(), 1e-9) << i;
        }
    }
    // Every icon at another size is the same drawing scaled and moved, element by element.
    for (Icono icono : Iconos::todos) {
        const auto base = puntos(Iconos::forma(icono, QRectF(0, 0, 24, 24)));
        const auto otro = puntos(Iconos::forma(icono, QRectF(7, -3, 60, 72)));
        ASSERT_EQ(base.size(), otro.size()) << nombre(icono);
        for (size_t i = 0; i < base.size(); ++i) {
            EXPECT_NEAR(otro[i].x(), 7 + 2.5 * base[i].x(), 1e-9) << nombre(icono);
            EXPECT_NEAR(otro[i].y(), -3 + 2.5 * base[i].y(), 1e-9) << nombre(icono);
        }
    }
}

TEST(Iconos, RectanguloSinAreaDaCaminoVacio) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const QRectF& r : {QRectF(0, 0, 0, 24), QRectF(5, 5, 24, 0), QRectF(0, 0, -10, 24), QRectF(0, 0, nan, 24)}) {
        for (Icono icono : Iconos::todos) EXPECT_TRUE(Iconos::forma(icono, r).isEmpty()) << nombre(icono);
    }
}

TEST(Iconos, DibujosAbiertosYPuntosDelTeclado) {
    // No drawing closes its open subpaths: the chat bubble's first point is the arc's start at
    // 150°, and the path ends at the tail, not back at the start.
    const QPainterPath chat = Iconos::forma(Icono::chat, QRectF(0, 0, 24, 24));
    const QPointF inicio(chat.elementAt(0).x, chat.elementAt(0).y);
    EXPECT_NEAR(inicio.x(), 12.5 + 8.5 * std::cos(150 * M_PI / 180), 1e-6);
    EXPECT_NEAR(inicio.y(), 11.5 + 8.5 * std::sin(150 * M_PI / 180), 1e-6);
    EXPECT_EQ(chat.currentPosition(), QPointF(5.2, 15.8));

    // A stroke with round caps turns each key segment into a dot; without strokes nothing shows.
    QImage imagen(240, 240, QImage::Format_ARGB32_Premultiplied);
    imagen.fill(Qt::white);
    {
        QPainter pintor(&imagen);
        Iconos::trazar(pintor, Icono::teclado, QRectF(0, 0, 240, 240), Qt::black, 16);
    }
    EXPECT_LT(qGray(imagen.pixel(60, 90)), 40);    // key at (6, 9)
    EXPECT_LT(qGray(imagen.pixel(120, 125)), 40);  // key at (12, 12.5)
    EXPECT_GT(qGray(imagen.pixel(80, 90)), 220);   // between two keys
    EXPECT_GT(qGray(imagen.pixel(120, 110)), 220);  // inside the frame: no fill
}

TEST(Iconos, HojaDeIconosEnPng) {
    // All icons at two sizes, for a person to look at.
    const int celda = 96, margen = 16;
    QImage hoja(margen + 5 * (celda + margen), margen + 3 * (celda + margen) + 3 * (24 + margen),
                QImage::Format_ARGB32_Premultiplied);
    hoja.fill(QColor(250, 250, 250));
    QPainter pintor(&hoja);
    for (int n = 0; n < 15; ++n) {
        const QRectF grande(margen + (n % 5) * (celda + margen), margen + (n / 5) * (celda + margen), celda, celda);
        pintor.fillRect(grande, QColor(235, 235, 235));
        Iconos::trazar(pintor, Iconos::todos[n], grande, QColor(20, 20, 20), 1.6 * celda / 24);
        const QRectF chico(margen + (n % 5) * (celda + margen), margen + 3 * (celda + margen) + (n / 5) * (24 + margen),
                           24, 24);
        Iconos::trazar(pintor, Iconos::todos[n], chico, QColor(20, 20, 20), 1.6);
    }
    pintor.end();
    const QString ruta = pruebas::carpetaArtefactos("compartido") + "/iconos.png";
    ASSERT_TRUE(hoja.save(ruta));
}

}  // namespace
