#include "zentu/escritorio/VentanaRespuesta.h"

#include "comun/Ayudas.h"

#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

Pendientes::PedidoRespuesta pedido(QStringList* enviados) {
    return {"Responder al cliente", "Tu mensaje para el cliente", "Enviar", [enviados](QString t) { *enviados << t; },
            "Un cliente quiere hablar con una persona",
            "+1 555 123 4567\nQuiere saber si el pastel de tres leches lleva nuez, porque su hija es alérgica."};
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

// The owner reads what they answer: the notification's title and its text, whole or, when very
// long, cut at the end of its last line and never beside the field.
TEST(VentanaRespuesta, MuestraLoQueSeResponde) {
    QStringList enviados;
    struct Caso {
        QString asunto, texto;
        QStringList esperadas;  // the lines shown; empty: as given
        bool cortado;
    };
    const QString largo = QString("Una pregunta larga que no cabe. ").repeated(20).trimmed();
    const std::vector<Caso> casos = {
        {"Un cliente quiere hablar con una persona", "+1 555 123 4567\nQuiere un reembolso", {}, false},
        {"Ventas necesita tu decisión", "", {}, false},
        {"Ventas necesita tu decisión", largo, {}, true},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.texto.toStdString());
        auto p = pedido(&enviados);
        p.asunto = c.asunto;
        p.texto = c.texto;
        VentanaRespuesta v(p, [] {}, Esquema::claro);
        v.resize(v.sizeHint());
        v.show();
        pruebas::girar(20);
        auto* asunto = v.findChild<QLabel*>("asunto");
        ASSERT_TRUE(asunto);
        EXPECT_EQ(asunto->text(), c.asunto);
        auto* texto = v.findChild<QLabel*>("texto");
        EXPECT_EQ(texto != nullptr, !c.texto.isEmpty());
        if (texto) {
            const QStringList lineas = texto->text().split('\n');
            EXPECT_LE(lineas.size(), VentanaRespuesta::kLineasTexto);
            EXPECT_EQ(lineas.last().endsWith(QChar(0x2026)), c.cortado);
            if (!c.cortado) {
                EXPECT_EQ(lineas.join(' ').simplified(), QString(c.texto).replace('\n', ' ').simplified());
            }
            // Every line fits the card and nothing is drawn under the field.
            const QFontMetricsF fm(texto->font());
            for (const QString& l : lineas) EXPECT_LE(fm.horizontalAdvance(l), texto->contentsRect().width() + 1) << l.toStdString();
            EXPECT_GE(texto->height(), texto->sizeHint().height());
            EXPECT_LE(texto->mapTo(&v, QPoint(0, texto->height())).y(), v.campo()->mapTo(&v, QPoint(0, 0)).y());
        }
    }
}

// The window opens beside the island's pill, not under the pointer, and stays on the screen.
TEST(VentanaRespuesta, SeColocaJuntoALaIsla) {
    const QRectF visible(0, 32, 1920, 1048);
    const QSizeF ventana(400, 220);
    struct Caso {
        QRectF isla;
        QPointF origen;
    };
    const std::vector<Caso> casos = {
        {QRectF(845, 82, 230, 56), QPointF(1083, 82)},      // top centre: to its right
        {QRectF(1650, 82, 230, 56), QPointF(1242, 82)},     // at the right edge: to its left
        {QRectF(845, 1000, 230, 56), QPointF(1083, 860)},   // at the bottom: raised onto the screen
        {QRectF(0, 82, 1920, 56), QPointF(760, 146)},       // no room beside: under it
    };
    for (const Caso& c : casos)
        EXPECT_EQ(PanelFlotante::origenJunto(c.isla, visible, ventana), c.origen) << c.isla.x() << "," << c.isla.y();
}

TEST(VentanaRespuesta, AbrirDaElFocoAlCampoYEscapeLaQuita) {
    QStringList enviados;
    QPointer<PanelFlotante> panel = VentanaRespuesta::abrir(pedido(&enviados), QRectF(300, 40, 230, 56));
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
