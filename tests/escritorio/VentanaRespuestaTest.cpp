#include "zentu/escritorio/VentanaRespuesta.h"

#include "comun/Ayudas.h"

#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

Pendientes::PedidoRespuesta pedido(QStringList* enviados) {
    return {"Responder al cliente", "Tu mensaje para el cliente", "Enviar",
            [enviados](QString t) { *enviados << t; }};
}

}  // namespace

TEST(VentanaRespuesta, EnviaLoEscritoConReturnOElBotonYSeCierra) {
    QStringList enviados;
    int cerrada = 0;
    VentanaRespuesta v(pedido(&enviados), [&] { ++cerrada; }, Esquema::claro);
    EXPECT_EQ(v.campo()->placeholderText(), "Tu mensaje para el cliente");
    EXPECT_EQ(v.boton()->text(), "Enviar");
    EXPECT_FALSE(v.boton()->isEnabled());
    v.enviar();  // blank: nothing goes out, the window stays
    QTest::keyClicks(v.campo(), "   ");
    QTest::keyClick(v.campo(), Qt::Key_Return);
    EXPECT_TRUE(enviados.isEmpty());
    EXPECT_EQ(cerrada, 0);

    v.campo()->clear();
    QTest::keyClicks(v.campo(), "Ya le llamo");
    EXPECT_TRUE(v.boton()->isEnabled());
    QTest::keyClick(v.campo(), Qt::Key_Return);
    EXPECT_EQ(enviados, QStringList{"Ya le llamo"});
    EXPECT_EQ(cerrada, 1);

    VentanaRespuesta w(pedido(&enviados), [&] { ++cerrada; }, Esquema::oscuro);
    QTest::keyClicks(w.campo(), "ok");
    QTest::mouseClick(w.boton(), Qt::LeftButton);
    EXPECT_EQ(enviados, (QStringList{"Ya le llamo", "ok"}));
    EXPECT_EQ(cerrada, 2);
}

TEST(VentanaRespuesta, AbrirDaElFocoAlCampoYEscapeLaQuita) {
    QStringList enviados;
    QPointer<PanelFlotante> panel = VentanaRespuesta::abrir(pedido(&enviados));
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->isVisible());
    auto* v = panel->findChild<VentanaRespuesta*>();
    ASSERT_TRUE(v);
    EXPECT_EQ(panel->focusWidget(), v->campo());
    panel->cancelar();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(panel.isNull());
    EXPECT_TRUE(enviados.isEmpty());
}

TEST(VentanaRespuesta, Imagenes) {
    QStringList enviados;
    for (bool oscuro : {false, true}) {
        for (bool escrito : {false, true}) {
            VentanaRespuesta v(pedido(&enviados), [] {}, oscuro ? Esquema::oscuro : Esquema::claro);
            if (escrito) {
                v.campo()->setText("Sí, mañana a las 10 le confirmo la entrega");
                v.campo()->setCursorPosition(0);
            }
            v.resize(v.sizeHint());
            QImage img(v.size(), QImage::Format_ARGB32_Premultiplied);
            img.fill(oscuro ? QColor(60, 64, 70) : QColor(200, 206, 212));
            QPainter p(&img);
            v.render(&p, QPoint(), QRegion(), QWidget::DrawChildren);
            p.end();
            const QString nombre = QString("respuesta-%1-%2.png").arg(escrito ? "escrita" : "vacia", oscuro ? "oscuro" : "claro");
            EXPECT_TRUE(img.save(pruebas::carpetaArtefactos("escritorio") + "/" + nombre));
        }
    }
}
