// "Responder" on a notification server without a reply field of its own: dunst on the test X
// server, whose action menu is answered by a stand-in picker. The program opens a small card to
// type the reply in, and the reply reaches the service.
#include "Falsos.h"

#include "comun/Ayudas.h"
#include "comun/Dunst.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Notificaciones.h"
#include "plataforma/Preferencias.h"
#include "zentu/app/EntornoEscritorio.h"
#include "zentu/escritorio/VentanaRespuesta.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QCursor>
#include <QGuiApplication>
#include <QLabel>
#include <QJsonArray>
#include <QLineEdit>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using pruebas::esperarHasta;

namespace {

// The real pending store (and so the real notifications) behind the fake desktop.
class ConAvisosReales : public falsos::Entorno {
public:
    std::unique_ptr<PuertoPendientes> crearPendientes(const Cuenta& c, CanalEnVivo& k) override {
        auto p = escritorio.crearPendientes(c, k);
        reales = p.get();
        return p;
    }
    EntornoEscritorio escritorio;
    QPointer<PuertoPendientes> reales;
};

}  // namespace

TEST(X11Respuesta, ResponderSinCampoEnElAvisoAbreUnaTarjeta) {
    if (!pruebas::Dunst::instalado()) GTEST_SKIP() << "sin dunst";
    auto* bus = QDBusConnection::sessionBus().interface();
    ASSERT_TRUE(bus);
    if (bus->isServiceRegistered(QString::fromLatin1(Notificaciones::kServicio)))
        GTEST_SKIP() << "ya hay un servidor de avisos";

    // dunst offers a notification's actions through a picker program: this one picks "Responder".
    QTemporaryDir carpeta;
    ASSERT_TRUE(carpeta.isValid());
    const QString elegir = carpeta.filePath(QStringLiteral("elegir.sh"));
    {
        QFile f(elegir);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\ngrep -m1 ',responder]'\n");
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile c(carpeta.filePath(QStringLiteral("dunstrc")));
        ASSERT_TRUE(c.open(QIODevice::WriteOnly));
        c.write("[global]\n    dmenu = " + elegir.toUtf8() + "\n");
    }
    pruebas::Dunst dunst;
    ASSERT_TRUE(dunst.arrancar(carpeta.filePath(QStringLiteral("dunstrc"))));

    Preferencias::almacen().clear();
    Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
    Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    ServicioSimulado servicio;
    ASSERT_TRUE(servicio.arrancar(0, {"--ping-intervalo", "600000", "--ping-espera", "600000"}));
    servicio.responder("POST", "/api/dudas/17/responder", 200, QJsonObject{{"ok", true}});

    ConAvisosReales e;
    e.canalReal = true;
    e.guardada = Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                        QStringLiteral("Negocio")};
    auto app = std::make_unique<App>(e);
    app->arrancar();
    ASSERT_TRUE(esperarHasta([&] { return e.reales && e.reales->cargado(); }, 20000));

    // The pointer rests far from the island: the card must not follow it.
    QCursor::setPos(5, 700);
    servicio.emitir("consultas:nueva",
                    QJsonArray{QJsonObject{{"id", 17}, {"agente", "agente_ventas"}, {"pregunta", "¿Le hago descuento?"}}});
    ASSERT_TRUE(esperarHasta([] { return pruebas::Dunst::ctl({"count", "displayed"}) == "1"; }, 10000));
    pruebas::Dunst::ctl({"context"});

    ASSERT_TRUE(esperarHasta([&] { return app->tarjeta && app->tarjeta->isVisible(); }, 10000));
    auto* tarjeta = app->tarjeta->findChild<VentanaRespuesta*>();
    ASSERT_TRUE(tarjeta);
    EXPECT_TRUE(tarjeta->campo()->placeholderText() == QStringLiteral("Tu respuesta para el agente"));
    // It says what is answered, as the notification did.
    auto* asunto = tarjeta->findChild<QLabel*>(QStringLiteral("asunto"));
    auto* texto = tarjeta->findChild<QLabel*>(QStringLiteral("texto"));
    ASSERT_TRUE(asunto && texto);
    EXPECT_EQ(asunto->text(), QStringLiteral("agente ventas necesita tu decisión"));
    EXPECT_EQ(texto->text(), QStringLiteral("¿Le hago descuento?"));
    // Beside the island's pill: level with it, clear of it, and nowhere near the pointer.
    ASSERT_TRUE(app->panel);
    const QRect pildora = App::anclaChat(app->panel->marco(), app->panel->escala()).toRect();
    const QRect donde = app->tarjeta->frameGeometry();
    EXPECT_FALSE(donde.intersects(pildora)) << donde.x() << "," << donde.y() << " " << pildora.x() << "," << pildora.y();
    EXPECT_TRUE(donde.top() <= pildora.bottom() && donde.bottom() >= pildora.top()) << donde.y() << " " << pildora.y();
    EXPECT_FALSE(donde.contains(QPoint(5, 700)));
    pruebas::girar(300);
    if (QScreen* s = QGuiApplication::primaryScreen())
        s->grabWindow(0).save(pruebas::carpetaArtefactos("app") + "/respuesta-sin-campo.png");

    QTest::keyClicks(tarjeta->campo(), QStringLiteral("Claro, un diez por ciento"));
    QTest::keyClick(tarjeta->campo(), Qt::Key_Return);
    ASSERT_TRUE(esperarHasta(
        [&] {
            for (const QJsonValue& v : servicio.peticiones()) {
                const QJsonObject p = v.toObject();
                if (p["ruta"].toString() == "/api/dudas/17/responder" &&
                    p["cuerpo"].toString().contains(QStringLiteral("Claro, un diez por ciento")))
                    return true;
            }
            return false;
        },
        10000));
    EXPECT_FALSE(app->tarjeta->isVisible());
    app.reset();
    Preferencias::almacen().clear();
}
