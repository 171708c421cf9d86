// The decision card and the agents card in their windows on a plain desktop: a real window
// manager (openbox), with and without a compositor (xcompmgr), in both schemes. Around each
// card's glass the desktop shows and takes the clicks; never a black frame.
#include "comun/Ayudas.h"
#include "comun/EscritorioX11.h"
#include "comun/PantallaX11.h"
#include "compartido/Instantanea.h"
#include "plataforma/Compositor.h"
#include "zentu/escritorio/ModeloDudas.h"
#include "zentu/escritorio/VistaAgentesFlotante.h"
#include "zentu/escritorio/VistaDudasFlotante.h"
#include "zentu/isla/TarjetasFlotantes.h"

#include <QApplication>
#include <QJsonArray>
#include <QScreen>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

const QColor verde(40, 160, 60);

using pruebas::enPantalla;
using pruebas::parecido;

enum class Cual { dudas, agentes };

struct Caso {
    Cual tarjeta;
    bool compositor;
    Esquema esquema;
};

std::string nombre(const ::testing::TestParamInfo<Caso>& i) {
    return std::string(i.param.tarjeta == Cual::dudas ? "Dudas" : "Agentes") +
           (i.param.compositor ? "ConCompositor" : "SinCompositor") +
           (i.param.esquema == Esquema::oscuro ? "Oscuro" : "Claro");
}

QList<QJsonObject> pregunta() {
    return {QJsonObject{{"id", 1},
                        {"agent_name", "reservas"},
                        {"question", "¿Le confirmo la reserva del sábado aunque todavía no ha pagado el depósito?"},
                        {"context", "Pidieron 2 habitaciones del 18 al 20."},
                        {"options", QJsonArray{"Sí, confírmala", "No, espera el pago"}},
                        {"created_at", QDateTime::currentDateTimeUtc().addSecs(-600).toString(Qt::ISODate)}}};
}

class TarjetaEnEscritorio : public ::testing::TestWithParam<Caso> {};

TEST_P(TarjetaEnEscritorio, AlrededorSeVeYSePulsaLoDeDebajo) {
    const Caso caso = GetParam();
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(caso.compositor)) << "openbox / xcompmgr";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(caso.compositor));
    ASSERT_EQ(Compositor::activo(), caso.compositor);

    ModeloDudas dudas(std::nullopt, 1, pregunta());
    dudas.setAbierta(1);
    ModeloAgentes agentes(Instantanea::ejemplo().agentes.value_or(std::vector<Instantanea::Agente>{}),
                          [](qint64, bool) -> QCoro::Task<std::optional<QString>> { co_return std::nullopt; });
    std::unique_ptr<PanelFlotante> ventana;
    if (caso.tarjeta == Cual::dudas)
        ventana = std::make_unique<PanelFlotante>(
            QSizeF(600, 0), new VistaDudasFlotante(dudas, [] {}, [] {}, true, 600, caso.esquema));
    else
        ventana = std::make_unique<PanelFlotante>(
            QSizeF(VistaAgentesFlotante::ancho, VistaAgentesFlotante::alto),
            new VistaAgentesFlotante(agentes, [] {}, caso.esquema));

    QScreen* pantalla = QGuiApplication::primaryScreen();
    ASSERT_TRUE(pantalla);
    const QRect zona(pantalla->geometry().center() - QPoint(ventana->width() / 2 + 60, ventana->height() / 2 + 60),
                     ventana->size() + QSize(120, 120));
    pruebas::Fondo fondo(verde);
    ASSERT_TRUE(pruebas::ponerEn(fondo, zona));
    ventana->move(zona.topLeft() + QPoint(60, 60));
    ventana->show();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return ventana->windowHandle() && ventana->windowHandle()->isExposed(); }, 20000));
    EXPECT_TRUE(pruebas::esperarHasta([&] { return ventana->pos() == zona.topLeft() + QPoint(60, 60); }, 10000))
        << ventana->x() << "," << ventana->y();
    pruebas::girar(500);
    const QRect marco = ventana->geometry();
    pantalla->grabWindow(0, zona.x(), zona.y(), zona.width(), zona.height())
        .save(pruebas::carpetaArtefactos(QStringLiteral("escritorio")) + QStringLiteral("/tarjeta-en-escritorio-") +
              QString::fromStdString(nombre({caso, 0})) + QStringLiteral(".png"));

    // The window's corner, outside the glass's rounded corner: the window beneath, and its click.
    const QPoint esquina = marco.topLeft() + QPoint(2, 2);
    EXPECT_TRUE(pruebas::esperarHasta([&] { return parecido(enPantalla(esquina), verde); }, 10000))
        << enPantalla(esquina).name().toStdString();
    ASSERT_TRUE(pruebas::clic(esquina));
    EXPECT_TRUE(pruebas::esperarHasta([&] { return fondo.clics == 1; }, 10000));
    // The glass: the card.
    const QPoint medio(marco.center().x(), marco.top() + 30);
    EXPECT_FALSE(parecido(enPantalla(medio), verde)) << enPantalla(medio).name().toStdString();
    EXPECT_FALSE(parecido(enPantalla(medio), Qt::black, 4)) << enPantalla(medio).name().toStdString();
}

std::vector<Caso> casos() {
    std::vector<Caso> lista;
    for (Cual c : {Cual::dudas, Cual::agentes})
        for (bool compositor : {false, true})
            for (Esquema e : {Esquema::oscuro, Esquema::claro}) lista.push_back({c, compositor, e});
    return lista;
}

INSTANTIATE_TEST_SUITE_P(Escritorio, TarjetaEnEscritorio, ::testing::ValuesIn(casos()), nombre);

}  // namespace
