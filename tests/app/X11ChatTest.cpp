// The real island window and the real chat window on the X server: the open chat follows the
// island when the owner drags it and when its scale changes.
#include "ConVentanas.h"

#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "zentu/chat/PanelChat.h"
#include "zentu/isla/Ventana.h"

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using falsos::ConVentanas;
using falsos::ventana;

TEST(X11Chat, ElChatSigueALaIsla) {
    Preferencias::almacen().clear();
    Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
    Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    ConVentanas e;
    e.guardada = falsos::cuentaDePrueba();
    App app(e);
    app.arrancar();
    app.voz.setEscala(1.0);
    app.alternarChat();
    PanelIsla* isla = ventana<PanelIsla>();
    PanelChat* chat = ventana<PanelChat>();
    ASSERT_TRUE(isla && chat);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return isla->isVisible() && chat->isVisible(); }));
    pruebas::girar(300);

    auto centrado = [&] {
        const QRectF ancla = App::anclaChat(QRectF(isla->marco()), isla->escala());
        return std::abs(QRectF(chat->frameGeometry()).center().x() - ancla.center().x()) <= 1.0;
    };
    EXPECT_TRUE(centrado());

    // Dragged by the owner (a press on the island, then the move): the chat comes along.
    const QRect antes = chat->frameGeometry();
    QTest::mousePress(isla, Qt::LeftButton, {}, QPoint(2, 2));
    isla->move(isla->pos() + QPoint(-420, 260));
    QTest::mouseRelease(isla, Qt::LeftButton, {}, QPoint(2, 2));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return chat->frameGeometry() != antes; }));
    pruebas::girar(300);
    EXPECT_TRUE(centrado());
    const QRectF ancla = App::anclaChat(QRectF(isla->marco()), isla->escala());
    // Above the pill when there is room, else below it, the panel's transparent margin of 24
    // points ending where the pill begins: never over it.
    const QRectF marco(chat->frameGeometry());
    const bool encima = std::abs(marco.bottom() - ancla.top()) <= 2;
    const bool debajo = std::abs(marco.top() - ancla.bottom()) <= 2;
    EXPECT_TRUE(encima || debajo) << marco.top() << " " << marco.bottom() << " / " << ancla.top() << " " << ancla.bottom();

    // A new scale resizes the island and moves the chat to the pill's new place.
    const QRect antesEscala = chat->frameGeometry();
    app.voz.setEscala(1.8);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return chat->frameGeometry() != antesEscala; }));
    pruebas::girar(300);
    EXPECT_NEAR(isla->escala(), 1.8, 1e-9);
    EXPECT_TRUE(centrado());

    // Both hidden: moving the island moves nothing.
    app.alternarChat();
    app.ocultar();
    e.relojV.avanzar(1);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !isla->isVisible() && !chat->isVisible(); }));
    const QRect quieto = chat->frameGeometry();
    isla->move(isla->pos() + QPoint(100, 0));
    pruebas::girar(300);
    EXPECT_EQ(chat->frameGeometry(), quieto);

    // What the desktop showed, for people to look at.
    app.alternarChat();
    pruebas::girar(1500);
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        const QImage pantalla = s->grabWindow(0).toImage();
        pantalla.save(pruebas::carpetaArtefactos("app") + "/chat-junto-a-la-isla.png");
        // The whole pill shows, down to its lower edge: the panel's transparent margin, painted
        // where no compositor runs, must not cover it.
        const QRect ventanaIsla = isla->frameGeometry();
        const QPoint bajoDeLaPildora(
            ventanaIsla.center().x(),
            ventanaIsla.top() + int((GeometriaIsla::margenPildora + GeometriaIsla::altoPildora - 4) * isla->escala()));
        EXPECT_NE(pantalla.pixelColor(bajoDeLaPildora), QColor(Qt::black)) << bajoDeLaPildora.x() << "," << bajoDeLaPildora.y();
    }
    Preferencias::almacen().clear();
}

}  // namespace
