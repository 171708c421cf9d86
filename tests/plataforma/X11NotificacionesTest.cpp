// The desktop notifications against a real notification server: dunst on the test X server.
#include "plataforma/Notificaciones.h"

#include "comun/Ayudas.h"
#include "comun/Dunst.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <gtest/gtest.h>

using pruebas::esperar;
using pruebas::esperarHasta;

TEST(X11Notificaciones, DunstMuestraReemplazaCierraYDevuelveElToque) {
    if (!pruebas::Dunst::instalado()) GTEST_SKIP() << "sin dunst";
    auto* bus = QDBusConnection::sessionBus().interface();
    ASSERT_TRUE(bus);
    if (bus->isServiceRegistered(Notificaciones::kServicio)) GTEST_SKIP() << "ya hay un servidor de avisos";
    pruebas::Dunst dunst;
    ASSERT_TRUE(dunst.arrancar());

    Notificaciones n;
    EXPECT_EQ(esperar(n.autorizar()), std::nullopt);
    n.registrarCategorias({{"c", {Notificaciones::Accion{"escribir", "Escribir", true, "Mandar", "Algo", false},
                                  Notificaciones::Accion{"no", "No", false, {}, {}, true}}}});
    std::vector<Notificaciones::Respuesta> respuestas;
    n.alResponder = [&](const Notificaciones::Respuesta& r) { respuestas.push_back(r); };
    EXPECT_FALSE(esperar(n.respuestaEnLinea()));  // dunst has no reply field

    Notificaciones::Aviso a;
    a.identificador = "q";
    a.titulo = "Un cliente quiere hablar con una persona";
    a.subtitulo = "+1 555 123 4567";
    a.cuerpo = "Quiere <un> reembolso & más";
    a.categoria = "c";
    a.sonido = QString();
    a.datos = {{"tipo", "humano"}, {"id", "15551234567"}};
    ASSERT_TRUE(esperar(n.publicar(a)));
    a.cuerpo = "Otra vez";
    ASSERT_TRUE(esperar(n.publicar(a)));
    ASSERT_TRUE(esperarHasta([] { return pruebas::Dunst::ctl({"count", "displayed"}) == "1"; }, 5000));

    n.retirar("q");
    ASSERT_TRUE(esperarHasta([] { return pruebas::Dunst::ctl({"count", "displayed"}) == "0"; }, 5000));

    a.identificador = "r";
    ASSERT_TRUE(esperar(n.publicar(a)));
    ASSERT_TRUE(esperarHasta([] { return pruebas::Dunst::ctl({"count", "displayed"}) == "1"; }, 5000));
    pruebas::Dunst::ctl({"action", "0"});
    ASSERT_TRUE(esperarHasta([&] { return !respuestas.empty(); }, 5000));
    EXPECT_EQ(respuestas[0].identificador, "r");
    EXPECT_EQ(respuestas[0].accion, Notificaciones::kTocar);
    EXPECT_EQ(respuestas[0].datos.value("id"), "15551234567");
}
