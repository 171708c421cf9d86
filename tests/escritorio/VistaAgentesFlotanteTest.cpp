#include "comun/Ayudas.h"
#include "zentu/escritorio/VistaAgentesFlotante.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QCoroTimer>
#include <gtest/gtest.h>

namespace {

using Agente = Instantanea::Agente;

QCoro::Task<std::optional<QString>> tarde(std::optional<QString> r, int ms) {
    QTimer t;
    t.setSingleShot(true);
    t.start(ms);
    co_await t;
    co_return r;
}

TEST(ModeloAgentes, OrdenYEstados) {
    const std::vector<Agente> lista = {{5, "Beto", "ventas", true, 2, false}, {9, "cobros", "cobranza", false, 7, false},
                                       {2, "ana", "ventas", true, 2, false},  {1, "zentu", "coordinador", false, 0, true},
                                       {3, "soporte_norte", "soporte", true, 3, false}};
    ModeloAgentes m(lista, {});
    QStringList nombres;
    for (const Agente& a : m.lista()) nombres << a.nombre;
    EXPECT_EQ(nombres, (QStringList{"zentu", "soporte_norte", "ana", "Beto", "cobros"}));
    EXPECT_EQ(ModeloAgentes::estado({1, "a", "", true, 0, false}), "Disponible");
    EXPECT_EQ(ModeloAgentes::estado({1, "a", "", true, 1, false}), "1 conversación ahora");
    EXPECT_EQ(ModeloAgentes::estado({1, "a", "", true, 2, false}), "2 conversaciones ahora");
    EXPECT_EQ(ModeloAgentes::estado({1, "a", "", false, 5, false}), "En pausa");
}

TEST(ModeloAgentes, Alternar) {
    QList<std::pair<qint64, bool>> pedidos;
    std::optional<QString> respuesta = QStringLiteral("No quedó como se pidió.");
    ModeloAgentes m({{1, "zentu", "coordinador", true, 0, true}, {4, "ventas_norte", "ventas", false, 0, false},
                     {6, "caja", "cobranza", true, 1, false}},
                    [&](qint64 id, bool activo) {
                        pedidos << std::make_pair(id, activo);
                        return tarde(respuesta, id == 4 ? 150 : 20);
                    });
    VistaAgentesFlotante v(m, {}, Esquema::oscuro);
    ASSERT_EQ(v.interruptor(1), nullptr);  // the coordinator has no switch
    ASSERT_TRUE(v.interruptor(4));
    EXPECT_EQ(v.interruptor(4)->toolTip(), "Reanudar a ventas_norte");
    v.interruptor(4)->click();
    EXPECT_EQ(m.cambiando(), 4);
    EXPECT_EQ(v.interruptor(4), nullptr);  // a spinner while it is in flight
    // A second change moves the mark; the first one's end clears it.
    v.interruptor(6)->click();
    EXPECT_EQ(m.cambiando(), 6);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !m.cambiando(); }));
    EXPECT_EQ(*m.aviso(), "No se pudo pausar a caja: No quedó como se pidió.");
    ASSERT_TRUE(pruebas::esperarHasta([&] { return pedidos.size() == 2 && m.aviso()->contains("reanudar"); }));
    EXPECT_EQ(*m.aviso(), "No se pudo reanudar a ventas_norte: No quedó como se pidió.");
    EXPECT_EQ(pedidos, (QList<std::pair<qint64, bool>>{{4, true}, {6, false}}));
    EXPECT_TRUE(v.avisoEtiqueta()->isVisibleTo(&v));
    // The switch keeps showing the list's state after a failure.
    EXPECT_FALSE(v.interruptor(4)->isChecked());
    respuesta.reset();
    v.interruptor(6)->click();
    EXPECT_FALSE(m.aviso());  // a new change clears the notice
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !m.cambiando(); }));
    EXPECT_FALSE(m.aviso());
}

TEST(VistaAgentesFotos, Tarjeta) {
    std::vector<Agente> lista = {{1, "zentu", "coordinador", true, 0, true},   {4, "ventas_norte", "ventas", true, 3, false},
                                 {6, "caja", "cobranza", true, 1, false},       {7, "soporte", "soporte", true, 0, false},
                                 {8, "creativo", "creativo", false, 2, false}};
    for (Esquema e : {Esquema::oscuro, Esquema::claro}) {
        ModeloAgentes m(lista, {});
        VistaAgentesFlotante v(m, {}, e);
        QImage img(v.size() * 2, QImage::Format_ARGB32_Premultiplied);
        img.setDevicePixelRatio(2);
        img.fill(e == Esquema::oscuro ? QColor(38, 48, 70) : QColor(160, 184, 216));
        QPainter p(&img);
        v.render(&p, QPoint(), QRegion(), QWidget::DrawChildren);
        p.end();
        img.save(pruebas::carpetaArtefactos("dudas") + (e == Esquema::oscuro ? "/agentes.png" : "/agentes-claro.png"));
        EXPECT_EQ(v.width(), 380 + 48);
    }
}

}  // namespace
