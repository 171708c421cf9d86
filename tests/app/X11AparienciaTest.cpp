// The program's look follows the desktop, on a real X server with a real window manager
// (openbox): the desktop's colour scheme comes from a stand-in of its portal on the session bus,
// and switching it repaints the island's pill, an open card, the chat and the settings at once,
// keeping what the owner typed; the island's tips show on hover while another window has the keyboard.
#include "ConVentanas.h"

#include "comun/Ayudas.h"
#include "comun/EscritorioX11.h"
#include "comun/PantallaX11.h"
#include "comun/PortalSimulado.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Preferencias.h"
#include "zentu/ajustes/VistaAjustes.h"
#include "zentu/chat/PanelChat.h"
#include "zentu/escritorio/VentanaRespuesta.h"
#include "zentu/isla/Pildora.h"
#include "zentu/isla/Ventana.h"

#include <QApplication>
#include <QJsonArray>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolTip>
#include <gtest/gtest.h>

namespace {

using falsos::ventana;
using pruebas::esperarHasta;
using pruebas::xdotool;

class ConVentanasYChat : public falsos::ConVentanas {
public:
    std::unique_ptr<PuertoChat> crearChat(CanalEnVivo& canal) override { return escritorio.crearChat(canal); }
    std::unique_ptr<PuertoVentana> crearVentanaAjustes(ModeloAjustes& m) override {
        return escritorio.crearVentanaAjustes(m);
    }
};

// The mean lightness (0 to 255) the X server shows in `zona` of the window `w` (its coordinates).
double luz(QWidget* w, QRect zona) {
    QScreen* s = QGuiApplication::primaryScreen();
    if (!s || !w) return -1;
    const QImage im = s->grabWindow(w->winId(), zona.x(), zona.y(), zona.width(), zona.height()).toImage();
    if (im.isNull()) return -1;
    double suma = 0;
    for (int y = 0; y < im.height(); ++y)
        for (int x = 0; x < im.width(); ++x) suma += qGray(im.pixel(x, y));
    return suma / std::max(1, im.width() * im.height());
}

// The middle of a glass surface, clear of its rounded edge and hairline.
QRect centro(QWidget* ventana, QWidget* superficie, double parte = 0.5) {
    const QRect r(superficie->mapTo(ventana, QPoint(0, 0)), superficie->size());
    const int dx = int(r.width() * (1 - parte) / 2), dy = int(r.height() * (1 - parte) / 2);
    return r.adjusted(dx, dy, -dx, -dy);
}

QString texto(QWidget* w) {
    if (auto* l = qobject_cast<QLineEdit*>(w)) return l->text();
    if (auto* p = qobject_cast<QPlainTextEdit*>(w)) return p->toPlainText();
    return {};
}

// The one text field of that kind still shown in the window.
template <typename T> T* campoVisible(QWidget* ventana) {
    for (T* c : ventana->findChildren<T*>())
        if (c->isVisibleTo(ventana) && !c->isReadOnly()) return c;
    return nullptr;
}

TEST(X11Apariencia, ElEsquemaDelEscritorioCambiaEnVivoYLasAyudasSalenSinTeclado) {
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(false)) << "openbox";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    // The desktop prefers light before the program starts.
    pruebas::PortalApariencia portal(2);
    ASSERT_TRUE(portal.listo()) << "otro portal tiene ya el nombre en este bus";
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
    app.voz.setEscala(1.0);

    // The chat open beside the island, with a draft in it.
    app.alternarChat();
    PanelChat* chat = ventana<PanelChat>();
    PanelIsla* isla = ventana<PanelIsla>();
    ASSERT_TRUE(chat && isla);
    ASSERT_TRUE(esperarHasta([&] { return chat->isActiveWindow() && isla->isVisible(); }, 20000));
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), QStringLiteral("hola")}));
    ASSERT_TRUE(esperarHasta([&] { return texto(campoVisible<QPlainTextEdit>(chat)) == QLatin1String("hola"); }, 20000));

    // A reply card far from both, with an answer half typed.
    const QRect zona = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_TRUE(xdotool({QStringLiteral("mousemove"), QString::number(zona.left() + 260),
                         QString::number(zona.bottom() - 160)}));
    ASSERT_TRUE(esperarHasta([&] { return QCursor::pos().x() == zona.left() + 260; }, 20000));
    app.pedirRespuesta({QStringLiteral("Responder a Ana"), QStringLiteral("Escribe…"), QStringLiteral("Enviar"), nullptr, QStringLiteral("Ana"), QStringLiteral("¿Abren el domingo?")});
    ASSERT_TRUE(app.tarjeta);
    PanelFlotante* tarjeta = app.tarjeta.get();
    ASSERT_TRUE(esperarHasta([&] { return tarjeta->windowHandle() && tarjeta->windowHandle()->isExposed(); }, 20000));
    campoVisible<QLineEdit>(tarjeta)->setText(QStringLiteral("mañana a las 9"));

    // The settings window in the free corner.
    app.abrirAjustes();
    VistaAjustes* vistaAjustes = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (!vistaAjustes) vistaAjustes = w->findChild<VistaAjustes*>();
    ASSERT_TRUE(vistaAjustes);
    QWidget* ajustes = vistaAjustes->window();
    ASSERT_TRUE(pruebas::ponerEn(*ajustes, QRect(zona.right() - 765, zona.bottom() - 540, 760, 520)));

    Pildora* pildora = isla->findChild<Pildora*>();
    ASSERT_TRUE(pildora);
    auto zonaPildora = [&] {
        const double f = pildora->width() / Pildora::anchoRaiz;
        const QRectF c = Pildora::marcoCapsula(app.voz);
        // The capsule's middle third: glass between the orb and the buttons.
        const QRectF medio(c.left() + c.width() / 3, c.top() + c.height() / 4, c.width() / 3, c.height() / 2);
        return QRect(pildora->mapTo(isla, QPoint(0, 0)) + QPoint(int(medio.left() * f), int(medio.top() * f)),
                     QSize(int(medio.width() * f), int(medio.height() * f)));
    };
    auto zonaTarjeta = [&] { return centro(tarjeta, tarjeta->findChild<QWidget*>(QString::fromLatin1(kNombreSuperficie))); };
    auto zonaChat = [&] { return centro(chat, chat, 0.3); };
    auto zonaAjustes = [&] { return centro(ajustes, ajustes, 0.3); };
    struct Superficie {
        const char* nombre;
        QWidget* ventana;
        std::function<QRect()> zona;
        double claro = 0;
    };
    Superficie superficies[] = {{"píldora", isla, zonaPildora},
                                {"tarjeta", tarjeta, zonaTarjeta},
                                {"chat", chat, zonaChat},
                                {"ajustes", ajustes, zonaAjustes}};
    // Scroll bars only where something needs scrolling, before and after a switch.
    auto barras = [&] {
        QStringList r;
        for (QScrollArea* a : ajustes->findChildren<QScrollArea*>())
            if (a->isVisibleTo(ajustes)) r << (a->verticalScrollBar()->isVisibleTo(a) ? "con barra" : "sin barra");
        return r;
    };
    pruebas::girar(500);
    const QStringList barrasAntes = barras();
    for (Superficie& s : superficies) {
        s.claro = luz(s.ventana, s.zona());
        EXPECT_GT(s.claro, 150) << s.nombre;
    }
    QGuiApplication::primaryScreen()->grabWindow(0).save(pruebas::carpetaArtefactos("app") + "/aspecto-claro.png");

    // Dark, then light again: every surface follows without being opened again.
    auto todasSiguen = [&](bool oscuro) {
        return std::all_of(std::begin(superficies), std::end(superficies), [&](const Superficie& s) {
            const double ahora = luz(s.ventana, s.zona());
            return oscuro ? ahora < s.claro - 80 : std::abs(ahora - s.claro) < 12;
        });
    };
    // The settings window came last and has the keyboard.
    auto enAjustes = [&] { return QApplication::focusWidget() && ajustes->isAncestorOf(QApplication::focusWidget()); };
    const bool ajustesConTeclado = enAjustes();
    portal.poner(1);
    EXPECT_TRUE(esperarHasta([&] { return pildora->esquema() == Esquema::oscuro && todasSiguen(true); }, 20000));
    for (const Superficie& s : superficies)
        EXPECT_LT(luz(s.ventana, s.zona()), s.claro - 80) << s.nombre << " sigue clara";
    EXPECT_TRUE(esperarHasta([&] { return barras() == barrasAntes; })) << barras().join(' ').toStdString();
    QGuiApplication::primaryScreen()->grabWindow(0).save(pruebas::carpetaArtefactos("app") + "/aspecto-oscuro.png");
    // What the owner had typed is where it was.
    EXPECT_EQ(texto(campoVisible<QPlainTextEdit>(chat)), "hola");
    EXPECT_EQ(texto(campoVisible<QLineEdit>(tarjeta)), "mañana a las 9");
    EXPECT_TRUE(tarjeta->isVisible());
    EXPECT_EQ(tarjeta->focusWidget(), campoVisible<QLineEdit>(tarjeta));
    EXPECT_EQ(enAjustes(), ajustesConTeclado);

    // Back to light while the owner types in the chat: the keyboard stays in its composer.
    chat->activateWindow();
    ASSERT_TRUE(esperarHasta([&] { return QApplication::focusWidget() == campoVisible<QPlainTextEdit>(chat); }, 20000));
    portal.poner(2);
    EXPECT_TRUE(esperarHasta([&] { return pildora->esquema() == Esquema::claro && todasSiguen(false); }, 20000));
    for (const Superficie& s : superficies)
        EXPECT_NEAR(luz(s.ventana, s.zona()), s.claro, 12) << s.nombre;
    ASSERT_TRUE(esperarHasta([&] { return QApplication::focusWidget() == campoVisible<QPlainTextEdit>(chat); }, 20000));
    ASSERT_TRUE(xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("20"), QStringLiteral(" y luego")}));
    EXPECT_TRUE(esperarHasta([&] { return texto(campoVisible<QPlainTextEdit>(chat)) == QStringLiteral("hola y luego"); }, 20000))
        << texto(campoVisible<QPlainTextEdit>(chat)).toStdString();

    // An agent calls while the card has the keyboard: hovering the ringing buttons shows their tips.
    servicio.emitir(QStringLiteral("llamada:entrante"),
                    QJsonArray{QJsonObject{{"consultaId", 7}, {"pregunta", "¿Le hago descuento?"}, {"agente", "ventas"}}});
    ASSERT_TRUE(esperarHasta([&] { return app.sonando.has_value() && pildora->botonesVisibles().size() == 2; }, 20000));
    for (QWidget* boton : pildora->botonesVisibles()) {
        const QPoint p = boton->mapToGlobal(boton->rect().center());
        ASSERT_TRUE(xdotool({QStringLiteral("mousemove"), QString::number(p.x()), QString::number(p.y())}));
        EXPECT_TRUE(esperarHasta([&] { return QToolTip::isVisible() && QToolTip::text() == boton->toolTip(); }, 20000))
            << boton->toolTip().toStdString();
        EXPECT_FALSE(isla->isActiveWindow());
    }
    EXPECT_EQ(pildora->botonesVisibles().at(0)->toolTip(), "Contestar (↵)");
    EXPECT_EQ(pildora->botonesVisibles().at(1)->toolTip(), "Rechazar (Esc)");
    // The island goes: its tip goes with it, not left over the desktop.
    ASSERT_TRUE(QToolTip::isVisible());
    isla->hide();
    EXPECT_FALSE(QToolTip::isVisible());
    Preferencias::almacen().clear();
}

}  // namespace
