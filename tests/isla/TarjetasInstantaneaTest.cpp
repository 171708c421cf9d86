// The credits and day cards: their texts and bar heights from the snapshot, and pictures of both
// cards in both schemes.
#include "zentu/isla/VistaCreditosFlotante.h"
#include "zentu/isla/VistaDiaFlotante.h"

#include "compartido/VistasWidgets.h"
#include "comun/Ayudas.h"

#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QCoreApplication>
#include <gtest/gtest.h>

namespace {

using DiaCredito = Instantanea::Creditos::Dia;

TEST(VistaCreditosFlotante, DiaCorto) {
    const std::pair<const char*, const char*> casos[] = {
        {"2026-10-05", "5"}, {"2026-10-10", "10"}, {"2026-10-15", "15"}, {"07", "7"}, {"", ""},
        {"---", "---"}, {"2026-10-", "10"}, {"2026-10-00", "0"},
    };
    for (auto [entrada, salida] : casos)
        EXPECT_EQ(VistaCreditosFlotante::diaCorto(QString::fromUtf8(entrada)), QString::fromUtf8(salida)) << entrada;
}

TEST(VistaCreditosFlotante, TextosYBarras) {
    Instantanea::Creditos c;
    c.cupo = 5000;
    EXPECT_EQ(VistaCreditosFlotante::quedan(c), QStringLiteral("de 5000 te quedan"));
    c.cupo.reset();
    EXPECT_EQ(VistaCreditosFlotante::quedan(c), QStringLiteral("te quedan"));

    const auto& demo = *Instantanea::ejemplo().creditos->porDia;
    const auto h = VistaCreditosFlotante::alturas(demo);
    ASSERT_EQ(h.size(), 7u);
    EXPECT_EQ(*std::max_element(h.begin(), h.end()), 80);
    EXPECT_EQ(h[3], 80);  // 680, the tallest
    EXPECT_NEAR(h[0], 310.0 / 680 * 80, 1e-9);
    // All zero: scale 1, every bar 3 high.
    EXPECT_EQ(VistaCreditosFlotante::alturas({{"a", 0}, {"b", 0}}), (std::vector<double>{3, 3}));
    EXPECT_EQ(VistaCreditosFlotante::alturas({{"a", 1}, {"b", 100}}), (std::vector<double>{3, 80}));
}

TEST(VistaDiaFlotante, Textos) {
    EXPECT_EQ(VistaDiaFlotante::textoSolas(83), QStringLiteral("83 %"));
    EXPECT_EQ(VistaDiaFlotante::textoSolas(std::nullopt), QStringLiteral("\u2014"));
    const QDateTime cuando(QDate(2026, 10, 5), QTime(14, 3), Qt::LocalTime);
    const QString pie = VistaDiaFlotante::pie({QStringLiteral("x"), QStringLiteral("ventas"), cuando});
    EXPECT_TRUE(pie.startsWith(QStringLiteral("Ventas \u00B7 "))) << pie.toStdString();
    QLocale local;
    if (local.language() == QLocale::C) local = QLocale(QLocale::Spanish, QLocale::Spain);
    EXPECT_EQ(pie, QStringLiteral("Ventas \u00B7 ") + local.toString(QTime(14, 3), QLocale::ShortFormat));
    EXPECT_FALSE(pie.endsWith(QStringLiteral(":00")));
}

QStringList textos(QWidget& w) {
    QStringList t;
    for (QLabel* l : w.findChildren<QLabel*>()) t << l->text();
    return t;
}

TEST(VistaDiaFlotante, Contenido) {
    VistaDiaFlotante demo(Instantanea::ejemplo(), [] {}, Esquema::claro);
    EXPECT_EQ(demo.size(), QSize(428, 488));
    const QStringList t = textos(demo);
    for (const char* esperado : {"El día de tu negocio", "18", "conversaciones hoy", "14", "ayer", "83 %",
                                 "atendidas sin ti", "Lo que hicieron tus agentes",
                                 "Confirmó la reserva de la familia Tolmira", "Emitió la factura 202600031"})
        EXPECT_TRUE(t.contains(QString::fromUtf8(esperado))) << esperado;
    EXPECT_NE(demo.findChild<QScrollArea*>(), nullptr);
    // Shown, the demo's two actions fit: nothing to scroll.
    demo.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(demo.findChild<QScrollArea*>()->verticalScrollBar()->maximum(), 0);
    EXPECT_FALSE(demo.findChild<QScrollArea*>()->verticalScrollBar()->isVisible());
    demo.hide();

    Instantanea sinActividad = Instantanea::ejemplo();
    sinActividad.dia->actividad.clear();
    VistaDiaFlotante nada(sinActividad, [] {}, Esquema::claro);
    EXPECT_TRUE(textos(nada).contains(QStringLiteral("Todavía nada hoy.")));

    VistaDiaFlotante sinDia(Instantanea::vacia(), [] {}, Esquema::claro);
    EXPECT_TRUE(textos(sinDia).contains(QStringLiteral("Todavía sin datos del día.")));
    EXPECT_FALSE(textos(sinDia).contains(QStringLiteral("Lo que hicieron tus agentes")));
}

// Both cards on a neutral backdrop, for people to look at; in capture mode the day card's list is
// drawn whole, without a scroll bar.
void guardar(QWidget& tarjeta, const QString& nombre, bool oscuro) {
    tarjeta.resize(tarjeta.sizeHint());
    QImage img(tarjeta.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(oscuro ? QColor(60, 64, 70) : QColor(200, 206, 212));
    QPainter p(&img);
    tarjeta.render(&p, QPoint(), QRegion(), QWidget::DrawChildren);
    p.end();
    EXPECT_TRUE(img.save(pruebas::carpetaArtefactos("tarjetas") + "/" + nombre + (oscuro ? "-oscuro.png" : "-claro.png")));
}

// The scroll bar shows only while the content overflows, and stays inside the card's rounded shape.
TEST(VistaDiaFlotante, BarraSoloSiDesborda) {
    Instantanea mucha = Instantanea::ejemplo();
    for (int i = 0; i < 6; ++i)
        mucha.dia->actividad.push_back({QStringLiteral("Respondió a un cliente %1").arg(i), QStringLiteral("atencion"),
                                        mucha.actualizado.addSecs(-300 * i)});
    struct Caso {
        const char* nombre;
        Instantanea foto;
        bool barra;
    };
    const std::vector<Caso> casos = {
        {"demo", Instantanea::ejemplo(), false}, {"vacia", Instantanea::vacia(), false}, {"mucha", mucha, true}};
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        VistaDiaFlotante tarjeta(c.foto, [] {}, Esquema::oscuro);
        guardar(tarjeta, QStringLiteral("barra-") + c.nombre, true);
        const auto* area = tarjeta.findChild<QScrollArea*>();
        if (!area) {
            EXPECT_FALSE(c.barra);
            continue;
        }
        const QScrollBar* barra = area->verticalScrollBar();
        EXPECT_EQ(barra->isVisibleTo(&tarjeta), c.barra);
        EXPECT_EQ(barra->maximum() > 0, c.barra);
        if (!c.barra) continue;
        // What the bar draws (its groove) lies inside the 22-point rounded corner: clear of the
        // bottom curve by more than its bulge at the bar's inset.
        QStyleOptionSlider opcion;
        opcion.initFrom(barra);
        opcion.orientation = Qt::Vertical;
        opcion.minimum = barra->minimum();
        opcion.maximum = barra->maximum();
        opcion.pageStep = barra->pageStep();
        opcion.sliderPosition = opcion.sliderValue = barra->value();
        opcion.subControls = QStyle::SC_All;
        const QRect surco = barra->style()->subControlRect(QStyle::CC_ScrollBar, &opcion, QStyle::SC_ScrollBarGroove, barra);
        const QRect enSuperficie(barra->mapTo(tarjeta.superficie(), surco.topLeft()), surco.size());
        EXPECT_LE(enSuperficie.bottom(), tarjeta.superficie()->height() - 14);
        EXPECT_LE(enSuperficie.right(), tarjeta.superficie()->width() - 2);
    }
}

TEST(TarjetasInstantanea, Imagenes) {
    Instantanea sinCupo = Instantanea::ejemplo();
    sinCupo.creditos->cupo.reset();
    sinCupo.creditos->restantes.reset();
    sinCupo.creditos->porDia.reset();
    Instantanea mucha = Instantanea::ejemplo();
    for (int i = 0; i < 6; ++i)
        mucha.dia->actividad.push_back({QStringLiteral("Respondió a un cliente que preguntaba por el horario de los sábados y los festivos %1").arg(i),
                                        QStringLiteral("atencion"), mucha.actualizado.addSecs(-300 * i)});
    for (bool oscuro : {false, true}) {
        const Esquema e = oscuro ? Esquema::oscuro : Esquema::claro;
        VistaCreditosFlotante c1(Instantanea::ejemplo(), [] {}, e);
        guardar(c1, "creditos-demo", oscuro);
        VistaCreditosFlotante c2(sinCupo, [] {}, e);
        guardar(c2, "creditos-sincupo", oscuro);
        VistaCreditosFlotante c3(Instantanea::vacia(), [] {}, e);
        guardar(c3, "creditos-vacia", oscuro);
        VistaDiaFlotante d1(Instantanea::ejemplo(), [] {}, e);
        guardar(d1, "dia-demo", oscuro);
        VistaDiaFlotante d2(mucha, [] {}, e);
        guardar(d2, "dia-mucha", oscuro);
        VistaDiaFlotante d3(Instantanea::vacia(), [] {}, e);
        guardar(d3, "dia-vacia", oscuro);
        CapturaW::activa = true;
        VistaDiaFlotante d4(Instantanea::ejemplo(), [] {}, e);
        EXPECT_EQ(d4.findChild<QScrollArea*>(), nullptr);
        guardar(d4, "dia-captura", oscuro);
        CapturaW::activa = false;
    }
}

}  // namespace
