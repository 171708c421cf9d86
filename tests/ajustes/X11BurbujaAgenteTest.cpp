// The settings' agent popover on a plain desktop (openbox), without a compositor and while one
// (xcompmgr -c) starts and stops: its rounded corners show what lies beneath, never black.
#include "zentu/ajustes/EquipoAgentes.h"

#include "Paneles.h"
#include "comun/Ayudas.h"
#include "comun/EscritorioX11.h"
#include "comun/PantallaX11.h"
#include "compartido/Instantanea.h"
#include "plataforma/Compositor.h"
#include "zentu/ajustes/ModeloAjustes.h"
#include "zentu/isla/Atajo.h"
#include "zentu/isla/EstadoVoz.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

const QColor verde(40, 160, 60);

// The four corners of the popover, just inside its rectangle, where its rounded card leaves them:
// what lies beneath shows there (the green desktop, the dark or light settings card), never black.
std::string esquinasNegras(QWidget* w) {
    return pruebas::esquinasNegras(QRect(w->mapToGlobal(QPoint(0, 0)), w->size()));
}

TEST(X11BurbujaAgente, SinEsquinasNegrasConYSinCompositor) {
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(true)) << "openbox / xcompmgr";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    QScreen* pantalla = QGuiApplication::primaryScreen();
    ASSERT_TRUE(pantalla);
    pruebas::Fondo fondo(verde);
    ASSERT_TRUE(pruebas::ponerEn(fondo, pantalla->availableGeometry()));

    ConMicrofono sistema;
    Privacidad::usar(&sistema);
    Atajos atajos;
    EstadoVoz voz;
    ModeloAjustes m(atajos, voz, true, [] { return std::optional<Cuenta>(); }, [] {}, [](bool) {}, [] {});
    for (Esquema esquema : {Esquema::oscuro, Esquema::claro}) {
        SCOPED_TRACE(esquema == Esquema::oscuro ? "oscuro" : "claro");
        EquipoAgentes equipo(m, esquema);
        const Instantanea foto = Instantanea::ejemplo();
        ASSERT_TRUE(foto.agentes && !foto.agentes->empty());
        equipo.setFoto(foto);
        equipo.resize(420, equipo.sizeHint().height());
        equipo.move(pantalla->availableGeometry().topLeft() + QPoint(200, 200));
        equipo.show();
        ASSERT_TRUE(pruebas::esperarHasta([&] { return equipo.windowHandle() && equipo.windowHandle()->isExposed(); }, 20000));
        equipo.abrirAgente(foto.agentes->front().id);
        QWidget* burbuja = equipo.burbuja();
        ASSERT_NE(burbuja, nullptr);
        ASSERT_TRUE(pruebas::esperarHasta([&] { return burbuja->windowHandle() && burbuja->windowHandle()->isExposed(); }, 20000));
        EXPECT_TRUE(pruebas::esperarHasta([&] { return esquinasNegras(burbuja).empty(); }, 10000)) << esquinasNegras(burbuja);

        ASSERT_TRUE(escritorio.arrancarCompositor({QStringLiteral("-c")}));
        ASSERT_TRUE(pruebas::esperarHasta([] { return Compositor::observador().activo(); }, 10000));
        EXPECT_TRUE(pruebas::esperarHasta([&] { return esquinasNegras(burbuja).empty(); }, 10000)) << esquinasNegras(burbuja);
        ASSERT_TRUE(escritorio.pararCompositor());
        ASSERT_TRUE(pruebas::esperarHasta([] { return !Compositor::observador().activo(); }, 10000));
        EXPECT_TRUE(pruebas::esperarHasta([&] { return esquinasNegras(burbuja).empty(); }, 10000)) << esquinasNegras(burbuja);

        const QRect g = QRect(burbuja->mapToGlobal(QPoint(0, 0)), burbuja->size()).adjusted(-12, -12, 12, 12);
        pantalla->grabWindow(0, g.x(), g.y(), g.width(), g.height())
            .save(pruebas::carpetaArtefactos(QStringLiteral("ajustes")) +
                  QStringLiteral("/burbuja-agente-sin-compositor-%1.png").arg(esquema == Esquema::oscuro ? "oscuro" : "claro"));
        equipo.abrirAgente(std::nullopt);
    }
    Privacidad::usar(nullptr);
}

}  // namespace
