// The island and a card window on a plain desktop: a real window manager (openbox), with and
// without a compositor (xcompmgr). What the owner sees around the pill and the card (the desktop,
// never a black box), where clicks land, where the island stands, and which moves it remembers.
#include "comun/Ayudas.h"
#include "comun/EscritorioX11.h"
#include "comun/PantallaX11.h"
#include "compartido/Instantanea.h"
#include "plataforma/Compositor.h"
#include "plataforma/Preferencias.h"
#include "plataforma/VentanaFlotante.h"
#include "plataforma/VentanasEscritorio.h"
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/Pildora.h"
#include "zentu/isla/TarjetasFlotantes.h"
#include "zentu/isla/Ventana.h"
#include "zentu/isla/VistaCreditosFlotante.h"

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QScreen>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const QString claveSitio = QStringLiteral("zentu.isla.sitio");
const QColor verde(40, 160, 60);

using pruebas::clic;
using pruebas::enPantalla;
using pruebas::parecido;
using pruebas::xdotool;

std::string texto(const QColor& c) { return c.name().toStdString(); }

void mostrarYEsperar(QWidget& w) {
    w.show();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return w.windowHandle() && w.windowHandle()->isExposed(); }, 20000));
    pruebas::girar(300);
}

struct Caso {
    bool compositor;
    Esquema esquema;
};

std::string nombre(const ::testing::TestParamInfo<Caso>& i) {
    return std::string(i.param.compositor ? "ConCompositor" : "SinCompositor") +
           (i.param.esquema == Esquema::oscuro ? "Oscuro" : "Claro");
}

class Forma : public ::testing::TestWithParam<Caso> {};

// Around the pill and the ringing caption the desktop shows and takes the clicks; the pill keeps
// its own. Then a card: around its glass, the same.
TEST_P(Forma, AlrededorSeVeYSePulsaLoDeDebajo) {
    const Caso caso = GetParam();
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(caso.compositor)) << "openbox / xcompmgr";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(caso.compositor));
    ASSERT_EQ(Compositor::activo(), caso.compositor);
    Preferencias::almacen().remove(claveSitio);

    QScreen* pantalla = QGuiApplication::primaryScreen();
    ASSERT_TRUE(pantalla);
    QCursor::setPos(pantalla->geometry().center());
    EstadoVoz voz;
    voz.setEscala(1.4);
    voz.setTimbre(QStringLiteral("Ana"));
    voz.setFase(Fase::timbrando);
    voz.setVisible(true);
    auto* pildora = new Pildora(voz);
    pildora->setEsquema(caso.esquema);
    int contestadas = 0;
    pildora->alContestar = [&] { ++contestadas; };
    PanelIsla isla(new RaizIsla(voz, pildora));
    isla.cambiarEscala(1.4);
    isla.colocar();

    pruebas::Fondo fondo(verde);
    ASSERT_TRUE(pruebas::ponerEn(fondo, isla.marco().adjusted(-60, 0, 60, 400)));
    mostrarYEsperar(isla);
    pruebas::girar(800);  // the pill's appearing spring

    // The island's whole frame: the window itself is only the part the pill draws in.
    const QRect ventana = isla.marco();
    const double e = isla.escala();
    const QRectF capsula = QTransform::fromScale(e, e).mapRect(Pildora::marcoCapsula(voz)).translated(ventana.topLeft());
    const auto burbujaLogica = Pildora::marcoBurbuja(voz);
    ASSERT_TRUE(burbujaLogica);
    const QRectF burbuja = QTransform::fromScale(e, e).mapRect(*burbujaLogica).translated(ventana.topLeft());
    const QString carpeta = pruebas::carpetaArtefactos(QStringLiteral("isla"));
    const QString sufijo = QString::fromStdString(nombre({caso, 0}));
    pantalla->grabWindow(0, fondo.x(), fondo.y(), fondo.width(), fondo.height())
        .save(carpeta + QStringLiteral("/isla-en-escritorio-") + sufijo + QStringLiteral(".png"));

    // Beside the pill, below it and in the corners of the window: the window beneath.
    const QPoint fuera[] = {
        ventana.topLeft() + QPoint(6, 6),
        QPoint(int(capsula.left()) - 12, int(capsula.center().y())),
        QPoint(int(capsula.center().x()), int(capsula.bottom()) + 30),
        ventana.bottomRight() - QPoint(6, 6),
    };
    for (const QPoint& p : fuera) {
        SCOPED_TRACE(testing::Message() << p.x() << "," << p.y());
        ASSERT_TRUE(ventana.contains(p));
        // A compositor draws a moment later: wait for the picture to settle.
        EXPECT_TRUE(pruebas::esperarHasta([&] { return parecido(enPantalla(p), verde); }, 10000))
            << texto(enPantalla(p));
        const int antes = fondo.clics;
        ASSERT_TRUE(clic(p));
        EXPECT_TRUE(pruebas::esperarHasta([&] { return fondo.clics == antes + 1; }, 10000));
    }
    // The pill and the caption over it are drawn.
    for (const QPoint& p : {capsula.center().toPoint() + QPoint(int(20 * e), 0), burbuja.center().toPoint()}) {
        SCOPED_TRACE(testing::Message() << p.x() << "," << p.y());
        EXPECT_FALSE(parecido(enPantalla(p), verde)) << texto(enPantalla(p));
        EXPECT_FALSE(parecido(enPantalla(p), Qt::black, 4)) << texto(enPantalla(p));
    }
    // The pill keeps its clicks: the answer button answers.
    const QList<QWidget*> botones = pildora->botonesVisibles();
    ASSERT_FALSE(botones.isEmpty());
    const int antes = fondo.clics;
    ASSERT_TRUE(clic(botones.first()->mapToGlobal(botones.first()->rect().center())));
    EXPECT_TRUE(pruebas::esperarHasta([&] { return contestadas == 1; }, 10000));
    EXPECT_EQ(fondo.clics, antes);

    // Hidden by the state while the window is still up (it goes a moment later): where the pill
    // was, the window beneath shows, never a black capsule, and takes the clicks.
    voz.setVisible(false);
    const QPoint pildoraIda = capsula.center().toPoint() + QPoint(int(20 * e), 0);
    EXPECT_TRUE(pruebas::esperarHasta([&] { return parecido(enPantalla(pildoraIda), verde); }, 10000))
        << texto(enPantalla(pildoraIda));
    ASSERT_TRUE(clic(pildoraIda));
    EXPECT_TRUE(pruebas::esperarHasta([&] { return fondo.clics == antes + 1; }, 10000));
    isla.hide();

    // A card: around its glass the desktop, on its glass the card.
    auto* vista = new VistaCreditosFlotante(Instantanea::ejemplo(), [] {}, caso.esquema);
    PanelFlotante tarjeta({320, 300}, vista);
    const QPoint sitioTarjeta = fondo.geometry().center() - QPoint(tarjeta.width() / 2, tarjeta.height() / 2);
    tarjeta.move(sitioTarjeta);
    tarjeta.show();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return tarjeta.windowHandle() && tarjeta.windowHandle()->isExposed(); }, 20000));
    // Where it was asked to appear, whatever the window manager's own placing.
    EXPECT_TRUE(pruebas::esperarHasta([&] { return tarjeta.pos() == sitioTarjeta; }, 10000))
        << tarjeta.x() << "," << tarjeta.y();
    pruebas::girar(500);
    const QRect marco = tarjeta.geometry();
    pantalla->grabWindow(0, marco.x() - 20, marco.y() - 20, marco.width() + 40, marco.height() + 40)
        .save(carpeta + QStringLiteral("/tarjeta-en-escritorio-") + sufijo + QStringLiteral(".png"));
    // The corner of the margin, far from the shadow: exactly the window beneath.
    const QPoint esquina = marco.topLeft() + QPoint(3, 3);
    EXPECT_TRUE(pruebas::esperarHasta([&] { return parecido(enPantalla(esquina), verde); }, 10000))
        << texto(enPantalla(esquina));
    // Under the card's bottom edge: the window beneath, never black. This desktop does not read
    // the hint that says the margin is the card's own shadow, so also with a compositor the window
    // is cut to the card and no shadow (the card's or the compositor's) falls there.
    const QPoint bajo(marco.center().x(), marco.bottom() - int(kMargenTarjeta) + 8);
    const QColor debajo = enPantalla(bajo);
    EXPECT_TRUE(parecido(debajo, verde)) << texto(debajo);
    const int antesTarjeta = fondo.clics;
    ASSERT_TRUE(clic(bajo));
    EXPECT_TRUE(pruebas::esperarHasta([&] { return fondo.clics == antesTarjeta + 1; }, 10000));
    // On the glass: the card.
    EXPECT_FALSE(parecido(enPantalla(marco.center()), verde)) << texto(enPantalla(marco.center()));
}

INSTANTIATE_TEST_SUITE_P(Escritorio, Forma,
                         ::testing::Values(Caso{false, Esquema::oscuro}, Caso{false, Esquema::claro},
                                           Caso{true, Esquema::oscuro}, Caso{true, Esquema::claro}),
                         nombre);

// The island whole in the visible part of the screen, however it got its place; moves the owner
// did not make are not remembered.
TEST(Sitio, EnPantallaYSoloLoQueMueveElDueno) {
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(false)) << "openbox";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    Preferencias::almacen().remove(claveSitio);
    QScreen* pantalla = QGuiApplication::primaryScreen();
    ASSERT_TRUE(pantalla);
    const QRect visible = pantalla->availableGeometry();
    QCursor::setPos(pantalla->geometry().center());

    EstadoVoz voz;
    voz.setVisible(true);
    auto* pildora = new Pildora(voz);
    PanelIsla isla(new RaizIsla(voz, pildora));
    const auto entera = [&] {
        const QRect g = isla.marco();
        return visible.contains(g) ? std::string() : "fuera: " + std::to_string(g.x()) + "," + std::to_string(g.y());
    };
    const auto arribaEnMedio = [&] {
        return std::abs(isla.marco().center().x() - pantalla->geometry().center().x()) <= 1 &&
               isla.marco().top() == visible.top();
    };

    // As it was found: the scale changed while shown, a long notice came and went, and the island
    // was hidden and shown again, under a window manager.
    for (double escala : {1.4, 0.95, 2.2, 1.0}) {
        SCOPED_TRACE(escala);
        voz.setEscala(escala);
        isla.cambiarEscala(escala);
        isla.colocar();
        mostrarYEsperar(isla);
        EXPECT_EQ(entera(), "");
        EXPECT_TRUE(arribaEnMedio());
        voz.setEscala(escala == 2.2 ? 1.2 : escala + 0.3);
        isla.cambiarEscala(voz.escala());
        pruebas::girar(400);
        voz.setAviso(QStringLiteral("No se pudo abrir la llamada: el servicio no contestó a tiempo. Vuelve a "
                                    "intentarlo dentro de un momento."));
        pruebas::girar(400);
        voz.setAviso(std::nullopt);
        pruebas::girar(400);
        EXPECT_EQ(entera(), "");
        EXPECT_TRUE(arribaEnMedio());
        isla.hide();
        pruebas::girar(300);
        EXPECT_FALSE(Preferencias::almacen().contains(claveSitio))
            << Preferencias::almacen().value(claveSitio).toString().toStdString();
    }

    voz.setEscala(1.0);
    isla.cambiarEscala(1.0);
    isla.colocar();
    mostrarYEsperar(isla);
    const QRect enSuSitio = isla.geometry();
    // Another program moves the window: not remembered, and the island goes back.
    ASSERT_TRUE(xdotool({QStringLiteral("windowmove"), QString::number(isla.winId()), QStringLiteral("20"),
                         QStringLiteral("500")}));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return isla.geometry() == enSuSitio; }, 10000))
        << isla.x() << "," << isla.y();
    EXPECT_FALSE(Preferencias::almacen().contains(claveSitio));

    isla.hide();
    pruebas::girar(200);

    // Stored places partly off the screen are pulled in whole; one off every screen is not trusted.
    const double alto = pantalla->geometry().height(), ancho = pantalla->geometry().width();
    const QString sitios[] = {QStringLiteral("{155, %1}").arg(alto + 60), QStringLiteral("{-20, 300}"),
                              QStringLiteral("{%1, 40}").arg(ancho + 10)};
    for (const QString& sitio : sitios) {
        SCOPED_TRACE(sitio.toStdString());
        Preferencias::almacen().setValue(claveSitio, sitio);
        isla.colocar();
        mostrarYEsperar(isla);
        EXPECT_EQ(entera(), "");
        isla.hide();
        pruebas::girar(200);
    }
    Preferencias::almacen().setValue(claveSitio, QStringLiteral("{-5000, 400}"));
    isla.colocar();
    mostrarYEsperar(isla);
    EXPECT_TRUE(arribaEnMedio());
    Preferencias::almacen().remove(claveSitio);
}

// What the window manager keeps, read from the server.
xcb_connection_t* conexionX() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atomoX(const char* nombre) {
    xcb_connection_t* c = conexionX();
    auto* r = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(nombre)), nombre), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(r);
    return a;
}

std::vector<uint32_t> propiedadRaiz(const char* nombre, xcb_atom_t tipo) {
    xcb_connection_t* c = conexionX();
    const xcb_window_t raiz = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    std::vector<uint32_t> valores;
    auto* r = xcb_get_property_reply(c, xcb_get_property(c, 0, raiz, atomoX(nombre), tipo, 0, 4096), nullptr);
    if (r && r->format == 32) {
        const auto* d = static_cast<const uint32_t*>(xcb_get_property_value(r));
        valores.assign(d, d + xcb_get_property_value_length(r) / 4);
    }
    std::free(r);
    return valores;
}

// Bottom to top, as the window manager stacks its clients; -1 when `w` is not among them.
int lugarEnLaPila(WId w) {
    const auto pila = propiedadRaiz("_NET_CLIENT_LIST_STACKING", XCB_ATOM_WINDOW);
    const auto it = std::find(pila.begin(), pila.end(), uint32_t(w));
    return it == pila.end() ? -1 : int(it - pila.begin());
}

bool visibleEnElServidor(WId w) {
    xcb_connection_t* c = conexionX();
    auto* r = xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, xcb_window_t(w)), nullptr);
    const bool si = r && r->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(r);
    return si;
}

// A floating window of the program beside the island, as the chat panel is: frameless, kept above
// the ordinary windows by the same hints.
class Flotante : public QWidget {
public:
    Flotante() : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(30, 60, 200));
        setPalette(p);
        setAutoFillBackground(true);
    }

protected:
    void showEvent(QShowEvent* e) override {
        QWidget::showEvent(e);
        if (QWindow* w = windowHandle()) VentanaFlotante::fijar(w);
    }
};

// The island and a floating window beside it are on every workspace; the island, and a notice in
// it, stand above the floating window shown after it.
TEST(Pila, EnTodosLosEscritoriosYLaIslaEncima) {
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(false)) << "openbox";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    Preferencias::almacen().remove(claveSitio);
    QScreen* pantalla = QGuiApplication::primaryScreen();
    ASSERT_TRUE(pantalla);
    QCursor::setPos(pantalla->geometry().center());

    EstadoVoz voz;
    voz.setVisible(true);
    auto* pildora = new Pildora(voz);
    PanelIsla isla(new RaizIsla(voz, pildora));
    isla.colocar();
    mostrarYEsperar(isla);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return lugarEnLaPila(isla.winId()) >= 0; }, 20000));

    // The chat's place: under the pill, over the lower part of the island's window.
    Flotante chat;
    chat.setGeometry(QRect(isla.geometry().center().x() - 200, isla.geometry().top() + 90, 400, 480));
    mostrarYEsperar(chat);
    const auto encima = [&] {
        const int i = lugarEnLaPila(isla.winId()), c = lugarEnLaPila(chat.winId());
        return i >= 0 && c >= 0 && i > c;
    };
    EXPECT_TRUE(pruebas::esperarHasta(encima, 10000))
        << "isla " << lugarEnLaPila(isla.winId()) << ", chat " << lugarEnLaPila(chat.winId());

    // Every workspace, as the window manager keeps it (and the sticky state, where the window
    // manager has one: openbox keeps "all workspaces" in the workspace number alone).
    const auto soportados = propiedadRaiz("_NET_SUPPORTED", XCB_ATOM_ATOM);
    const bool conPegajosa = std::find(soportados.begin(), soportados.end(), atomoX("_NET_WM_STATE_STICKY")) !=
                             soportados.end();
    for (QWidget* w : {static_cast<QWidget*>(&isla), static_cast<QWidget*>(&chat)}) {
        EXPECT_TRUE(pruebas::esperarHasta([&] { return VentanasEscritorio::escritorio(w) == 0xFFFFFFFFll; }, 10000))
            << VentanasEscritorio::escritorio(w);
        if (conPegajosa) {
            EXPECT_TRUE(VentanaFlotante::estados(w->windowHandle()).contains("_NET_WM_STATE_STICKY"))
                << VentanaFlotante::estados(w->windowHandle()).join(' ').toStdString();
        }
    }
    const auto escritorios = propiedadRaiz("_NET_NUMBER_OF_DESKTOPS", XCB_ATOM_CARDINAL);
    ASSERT_FALSE(escritorios.empty());
    ASSERT_GE(escritorios.front(), 2u) << "openbox's default has four workspaces";
    ASSERT_TRUE(xdotool({QStringLiteral("set_desktop"), QStringLiteral("1")}));
    ASSERT_TRUE(pruebas::esperarHasta(
        [] {
            const auto actual = propiedadRaiz("_NET_CURRENT_DESKTOP", XCB_ATOM_CARDINAL);
            return !actual.empty() && actual.front() == 1;
        },
        10000));
    EXPECT_TRUE(visibleEnElServidor(isla.winId()));
    EXPECT_TRUE(visibleEnElServidor(chat.winId()));

    // The chat raised over the island (the owner clicked it), then a notice: the island comes up.
    chat.raise();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !encima(); }, 10000));
    voz.setAviso(QStringLiteral("Zentu no contestó a tiempo. Mira el chat."));
    EXPECT_TRUE(pruebas::esperarHasta(encima, 10000))
        << "isla " << lugarEnLaPila(isla.winId()) << ", chat " << lugarEnLaPila(chat.winId());
    pruebas::girar(300);
    pantalla->grabWindow(0, isla.x() - 40, isla.y(), isla.width() + 80, 600)
        .save(pruebas::carpetaArtefactos(QStringLiteral("isla")) + QStringLiteral("/aviso-sobre-el-chat.png"));

    // The longest notices the island gives about the desktop, whole above the chat.
    const QString avisos[] = {
        QStringLiteral("Tu barra no muestra iconos: haz clic derecho en la isla o abre Zentu AI otra vez para ver su menú."),
        QStringLiteral("El escritorio se queda con Alt+Espacio, Alt+Mayús+Espacio y Alt+Mayús+C: elige otras "
                       "combinaciones para la llamada, la conversación y abrir el chat en Abrir Zentu AI › Atajos."),
    };
    for (int i = 0; i < 2; ++i) {
        voz.setAviso(avisos[i]);
        EXPECT_TRUE(pruebas::esperarHasta(encima, 10000));
        pruebas::girar(300);
        pantalla->grabWindow(0, isla.x() - 40, isla.y(), isla.width() + 80, 600)
            .save(pruebas::carpetaArtefactos(QStringLiteral("isla")) + QStringLiteral("/aviso-largo-%1.png").arg(i + 1));
    }

    xdotool({QStringLiteral("set_desktop"), QStringLiteral("0")});
    voz.setAviso(std::nullopt);
}

}  // namespace
