// A call that rings while the owner types in the chat, on a real X server with a real window
// manager (openbox): the real island and chat windows over the real chat model and the stand-in
// service. The ring shows the island without taking the keyboard: Enter sends what was typed.
#include "ConVentanas.h"

#include "comun/Ayudas.h"
#include "comun/EscritorioX11.h"
#include "comun/PantallaX11.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Preferencias.h"
#include "zentu/chat/PanelChat.h"
#include "zentu/isla/Ventana.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

using falsos::ventana;
using pruebas::esperarHasta;
using pruebas::xdotool;

// The real chat model besides the two windows.
class ConVentanasYChat : public falsos::ConVentanas {
public:
    std::unique_ptr<PuertoChat> crearChat(CanalEnVivo& canal) override { return escritorio.crearChat(canal); }
};

// The texts the program sent to the chat through the live channel.
QStringList enviados(ServicioSimulado& servicio) {
    QStringList textos;
    for (const QJsonValue& v : servicio.eventos()) {
        const QJsonObject e = v.toObject();
        if (e[QStringLiteral("evento")].toString() != QStringLiteral("chat:send")) continue;
        textos << QString::fromUtf8(QJsonDocument(e[QStringLiteral("args")].toArray()).toJson(QJsonDocument::Compact));
    }
    return textos;
}

TEST(X11Timbre, SuenaMientrasElDuenoEscribeYEnterEnviaElTexto) {
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(false)) << "openbox";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    Preferencias::almacen().clear();
    Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
    Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    ServicioSimulado servicio;
    ASSERT_TRUE(servicio.arrancar(0, {"--ping-intervalo", "600000", "--ping-espera", "600000"}));

    ConVentanasYChat e;
    e.canalReal = true;
    e.guardada = Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                        QStringLiteral("Negocio")};
    App app(e);
    app.arrancar();
    ASSERT_TRUE(esperarHasta([&] { return servicio.conectados() == 1; }, 20000));

    // The owner opens the chat and starts typing in it.
    app.alternarChat();
    PanelChat* chat = ventana<PanelChat>();
    PanelIsla* isla = ventana<PanelIsla>();
    ASSERT_TRUE(chat && isla);
    ASSERT_TRUE(esperarHasta([&] { return chat->isActiveWindow() && QApplication::focusWidget() &&
                                          chat->isAncestorOf(QApplication::focusWidget()); }, 20000));
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), QStringLiteral("hola")}));

    // An agent calls: the island rings, and the chat keeps the keyboard.
    servicio.emitir(QStringLiteral("llamada:entrante"),
                    QJsonArray{QJsonObject{{"consultaId", 7}, {"pregunta", "¿Le hago descuento?"}, {"agente", "ventas"}}});
    ASSERT_TRUE(esperarHasta([&] { return app.sonando.has_value() && isla->isVisible(); }, 20000));
    pruebas::girar(500);
    EXPECT_TRUE(chat->isActiveWindow());
    EXPECT_FALSE(isla->isActiveWindow());

    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), QStringLiteral(" que tal")}));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Return")}));
    ASSERT_TRUE(esperarHasta([&] { return !enviados(servicio).isEmpty(); }, 20000));
    EXPECT_TRUE(enviados(servicio).first().contains(QStringLiteral("hola que tal"))) << enviados(servicio).join(' ').toStdString();
    // Still ringing: Enter did not answer, no call was opened.
    EXPECT_TRUE(app.sonando.has_value());
    EXPECT_TRUE(e.llamadas.isEmpty());
    EXPECT_NE(app.modo, App::Modo::llamada);

    // The ring's own keys act once the owner gives the island the keyboard.
    isla->activateWindow();
    ASSERT_TRUE(esperarHasta([&] { return isla->isActiveWindow(); }, 20000));
    ASSERT_TRUE(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
    EXPECT_TRUE(esperarHasta([&] { return !app.sonando.has_value(); }, 20000));
    EXPECT_TRUE(e.llamadas.isEmpty());
    Preferencias::almacen().clear();
}

}  // namespace
