// The desktop notifications against a real notification server: dunst on the test X server.
#include "plataforma/Notificaciones.h"

#include "comun/Ayudas.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

using pruebas::esperar;
using pruebas::esperarHasta;

namespace {

QString dunstctl(const QStringList& argumentos) {
    QProcess p;
    p.start(QStringLiteral("dunstctl"), argumentos);
    p.waitForFinished(5000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

}  // namespace

TEST(X11Notificaciones, DunstMuestraReemplazaCierraYDevuelveElToque) {
    if (QStandardPaths::findExecutable("dunst").isEmpty()) GTEST_SKIP() << "sin dunst";
    auto* bus = QDBusConnection::sessionBus().interface();
    ASSERT_TRUE(bus);
    if (bus->isServiceRegistered(Notificaciones::kServicio)) GTEST_SKIP() << "ya hay un servidor de avisos";
    QProcess dunst;
    dunst.start(QStringLiteral("dunst"), {});
    ASSERT_TRUE(dunst.waitForStarted(5000));
    ASSERT_TRUE(esperarHasta([&] { return bus->isServiceRegistered(Notificaciones::kServicio).value(); }, 10000));

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
    ASSERT_TRUE(esperarHasta([] { return dunstctl({"count", "displayed"}) == "1"; }, 5000));

    n.retirar("q");
    ASSERT_TRUE(esperarHasta([] { return dunstctl({"count", "displayed"}) == "0"; }, 5000));

    a.identificador = "r";
    ASSERT_TRUE(esperar(n.publicar(a)));
    ASSERT_TRUE(esperarHasta([] { return dunstctl({"count", "displayed"}) == "1"; }, 5000));
    dunstctl({"action", "0"});
    ASSERT_TRUE(esperarHasta([&] { return !respuestas.empty(); }, 5000));
    EXPECT_EQ(respuestas[0].identificador, "r");
    EXPECT_EQ(respuestas[0].accion, Notificaciones::kTocar);
    EXPECT_EQ(respuestas[0].datos.value("id"), "15551234567");

    dunst.terminate();
    dunst.waitForFinished(5000);
}
