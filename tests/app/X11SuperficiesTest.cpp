// The program's see-through windows on a plain desktop (openbox), as a person sees them with and
// without a compositor (xcompmgr -c, which draws shadows of its own for windows that do not say
// theirs is painted): each window only as large as what it draws and its shadow, the chat beside
// the pill and never over it, a compositor that comes or goes while they show, glass that hides
// the text beneath it, and a card's shadow that fades out.
#include "ConVentanas.h"

#include "comun/Ayudas.h"
#include "comun/EscritorioX11.h"
#include "comun/PantallaX11.h"
#include "compartido/Instantanea.h"
#include "zentu/escritorio/ModeloDudas.h"
#include "plataforma/Compositor.h"
#include "plataforma/Preferencias.h"
#include "plataforma/VentanaFlotante.h"
#include "zentu/chat/PanelChat.h"
#include "zentu/escritorio/VistaDudasFlotante.h"
#include "zentu/isla/Pildora.h"
#include "zentu/isla/TarjetasFlotantes.h"
#include "zentu/isla/Ventana.h"
#include "zentu/isla/Vidrio.h"
#include "zentu/isla/VistaCreditosFlotante.h"

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QJsonArray>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

using falsos::ConVentanas;
using falsos::ventana;
using pruebas::enPantalla;
using pruebas::parecido;

const QColor verde(40, 160, 60);

QImage pantallaEn(const QRect& r) {
    return QGuiApplication::primaryScreen()->grabWindow(0, r.x(), r.y(), r.width(), r.height()).toImage().convertToFormat(
        QImage::Format_RGB32);
}

bool expuesta(QWidget* w) { return w && w->isVisible() && w->windowHandle() && w->windowHandle()->isExposed(); }

QJsonObject pregunta() {
    return QJsonObject{{"id", 7},
                       {"agent_name", "cobranza"},
                       {"question", "¿Le doy a la familia Tolmira una semana más para pagar?"},
                       {"context", "La factura 118 venció hace 12 días."},
                       {"options", QJsonArray{"Sí", "No"}},
                       {"created_at", QDateTime::currentDateTimeUtc().addSecs(-600).toString(Qt::ISODate)}};
}

// The program as the shell runs it (island and chat real), with the chat open over the island,
// a credits card and a decision card beside them, on a green desktop.
struct Escena {
    ConVentanas e;
    std::unique_ptr<App> app;
    PanelIsla* isla = nullptr;
    PanelChat* chat = nullptr;
    pruebas::Fondo fondo{verde};
    std::unique_ptr<ModeloDudas> modelo;
    std::unique_ptr<PanelFlotante> creditos, dudas;

    bool montar(Esquema esquema = Esquema::claro) {
        Preferencias::almacen().clear();
        Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
        Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
        QScreen* pantalla = QGuiApplication::primaryScreen();
        if (!pantalla || !pruebas::ponerEn(fondo, pantalla->availableGeometry())) return false;
        QCursor::setPos(pantalla->geometry().center());
        e.guardada = falsos::cuentaDePrueba();
        app = std::make_unique<App>(e);
        app->arrancar();
        app->voz.setEscala(1.4);
        app->alternarChat();
        isla = ventana<PanelIsla>();
        chat = ventana<PanelChat>();
        if (!isla || !chat || !pruebas::esperarHasta([&] { return expuesta(isla) && expuesta(chat); }, 20000))
            return false;

        creditos = std::make_unique<PanelFlotante>(QSizeF(320, 300),
                                                   new VistaCreditosFlotante(Instantanea::ejemplo(), [] {}, esquema));
        creditos->move(pantalla->availableGeometry().topLeft() + QPoint(20, 40));
        creditos->show();
        modelo = std::make_unique<ModeloDudas>(std::nullopt, 7, QList<QJsonObject>{pregunta()});
        dudas = std::make_unique<PanelFlotante>(QSizeF(560, 0),
                                                new VistaDudasFlotante(*modelo, [] {}, [] {}, true, 560, esquema));
        dudas->move(pantalla->availableGeometry().bottomRight() - QPoint(dudas->width() + 20, dudas->height() + 20));
        dudas->show();
        return pruebas::esperarHasta([&] { return expuesta(creditos.get()) && expuesta(dudas.get()); }, 20000);
    }
};

// The rectangle of the pill's capsule on the screen.
QRect capsula(PanelIsla* isla, const EstadoVoz& voz) {
    const double e = isla->escala();
    return QTransform::fromScale(e, e).mapRect(Pildora::marcoCapsula(voz)).translated(isla->marco().topLeft()).toAlignedRect();
}

// The union of a card window's glass surfaces on the screen.
QRect superficies(QWidget* ventana) {
    QRect r;
    for (QWidget* s : ventana->findChildren<QWidget*>(QString::fromLatin1(kNombreSuperficie)))
        r |= QRect(s->mapToGlobal(QPoint(0, 0)), s->size());
    return r;
}

std::string texto(const QRect& r) {
    return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
           std::to_string(r.height());
}

TEST(Superficies, CadaVentanaDelTamanoDeLoQueDibujaYSuSombra) {
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(true)) << "openbox / xcompmgr";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    ASSERT_TRUE(escritorio.arrancarCompositor({QStringLiteral("-c")}));
    Escena escena;
    ASSERT_TRUE(escena.montar());
    pruebas::girar(500);  // the pill's appearing spring

    // The island: the capsule and its shadow (the orb's glow lies within), a few pixels of
    // rounding; nothing of the 320 × 176 frame beyond. The cards' and the chat's margins are the
    // 24 points their shadows need at the sides and below: above, the shadow reaches a little less.
    const double e = escena.isla->escala();
    const QRect pildora = capsula(escena.isla, escena.app->voz);
    const QMarginsF sombraPildora = SombraVidrio(Esquema::oscuro, Pildora::radioSombra).margenes() * e;
    const QRect ventanaIsla = escena.isla->geometry();
    SCOPED_TRACE("isla " + texto(ventanaIsla) + " píldora " + texto(pildora));
    EXPECT_TRUE(ventanaIsla.contains(pildora));
    EXPECT_TRUE(QRectF(pildora).marginsAdded(sombraPildora).adjusted(-4, -4, 4, 4).contains(QRectF(ventanaIsla)));
    EXPECT_LT(ventanaIsla.width() * ventanaIsla.height(), escena.isla->marco().width() * escena.isla->marco().height() * 3 / 4);

    // The chat: its card with the 24-point margin its shadow falls in, and not over the pill.
    const QRect ventanaChat = escena.chat->geometry();
    SCOPED_TRACE("chat " + texto(ventanaChat));
    const QRectF pildoraExacta = QTransform::fromScale(e, e)
                                     .mapRect(Pildora::marcoCapsula(escena.app->voz))
                                     .translated(QPointF(escena.isla->marco().topLeft()));
    const QRectF comun = QRectF(ventanaChat).intersected(pildoraExacta);
    EXPECT_TRUE(comun.isEmpty() || comun.height() < 1) << comun.height();
    const QMarginsF sombraCarta = SombraVidrio(Esquema::oscuro, GeometriaChat::radio).margenes();
    const QRectF carta = QRectF(ventanaChat).adjusted(GeometriaChat::margen, GeometriaChat::margen, -GeometriaChat::margen,
                                                      -GeometriaChat::margen);
    EXPECT_TRUE(carta.marginsAdded(sombraCarta).adjusted(-8, -8, 8, 8).contains(QRectF(ventanaChat)));

    // The cards: their glass and its shadow.
    for (QWidget* tarjeta : {static_cast<QWidget*>(escena.creditos.get()), static_cast<QWidget*>(escena.dudas.get())}) {
        const QRect vidrio = superficies(tarjeta);
        SCOPED_TRACE("tarjeta " + texto(tarjeta->geometry()) + " vidrio " + texto(vidrio));
        ASSERT_FALSE(vidrio.isEmpty());
        EXPECT_TRUE(QRectF(vidrio).marginsAdded(sombraCarta).adjusted(-8, -8, 8, 8).contains(QRectF(tarjeta->geometry())));
        // Room for the shadow all round: as much as for any card.
        EXPECT_GE(vidrio.left() - tarjeta->geometry().left(), int(kMargenTarjeta));
        EXPECT_GE(tarjeta->geometry().right() - vidrio.right(), int(kMargenTarjeta));
        EXPECT_GE(tarjeta->geometry().bottom() - vidrio.bottom(), int(kMargenTarjeta));
    }

    // Compositors are told the margins are the windows' own shadows: they add none, and the
    // parts inside are what they place.
    const auto extensiones = [](QWidget* w, const QRect& dentro) {
        const QRect g = w->geometry();
        return QMargins(dentro.left() - g.left(), dentro.top() - g.top(), g.right() - dentro.right(),
                        g.bottom() - dentro.bottom());
    };
    EXPECT_EQ(VentanaFlotante::sombraMarcada(escena.chat), QMargins(24, 24, 24, 24));
    EXPECT_EQ(VentanaFlotante::sombraMarcada(escena.creditos.get()), extensiones(escena.creditos.get(), superficies(escena.creditos.get())));
    EXPECT_EQ(VentanaFlotante::sombraMarcada(escena.dudas.get()), extensiones(escena.dudas.get(), superficies(escena.dudas.get())));
    const QMargins islaMarcada = VentanaFlotante::sombraMarcada(escena.isla);
    EXPECT_GT(islaMarcada.left(), 0);
    EXPECT_GT(islaMarcada.bottom(), 0);
    EXPECT_NEAR(ventanaIsla.left() + islaMarcada.left(), pildora.left(), 2);
    EXPECT_NEAR(ventanaIsla.right() - islaMarcada.right(), pildora.right(), 2);

    // What the desktop shows, for people to look at.
    QGuiApplication::primaryScreen()->grabWindow(0).save(pruebas::carpetaArtefactos(QStringLiteral("superficies")) +
                                                         QStringLiteral("/escritorio-con-compositor.png"));

    // A notice under the pill: the island's window grows down to hold it, and back.
    const int alto = escena.isla->height();
    escena.app->voz.setAviso(QStringLiteral("No se pudo conectar con la voz de Zentu."));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return escena.isla->height() > alto; }, 10000));
    const auto burbuja = Pildora::marcoBurbuja(escena.app->voz);
    ASSERT_TRUE(burbuja);
    EXPECT_GE(escena.isla->geometry().bottom(), escena.isla->marco().top() + int(burbuja->bottom() * e));
    escena.app->voz.setAviso(std::nullopt);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return escena.isla->height() == alto; }, 10000));
}

// Where a window shows nothing of its own (the corners of its rectangle), what lies beneath
// shows (the green desktop, perhaps darkened by a shadow, or another of the program's windows),
// never black.
std::string esquinasNegras(QWidget* w) { return pruebas::esquinasNegras(w->geometry(), 2, 30); }

TEST(Superficies, UnCompositorQueVieneYVaSeSigueAlMomento) {
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(true)) << "openbox / xcompmgr";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    Escena escena;
    ASSERT_TRUE(escena.montar());
    QWidget* ventanas[] = {escena.isla, escena.chat, escena.creditos.get(), escena.dudas.get()};
    const char* nombres[] = {"isla", "chat", "créditos", "dudas"};
    const auto todasLimpias = [&] {
        for (QWidget* w : ventanas)
            if (!esquinasNegras(w).empty()) return false;
        return true;
    };
    const auto informe = [&] {
        std::string r;
        for (size_t i = 0; i < std::size(ventanas); ++i) r += std::string(nombres[i]) + ": " + esquinasNegras(ventanas[i]) + "\n";
        return r;
    };
    ASSERT_TRUE(pruebas::esperarHasta(todasLimpias, 10000)) << informe();

    // Each turn waits for the program to have heard of the change, then for the screen to settle.
    for (int vuelta = 0; vuelta < 2; ++vuelta) {
        SCOPED_TRACE(vuelta);
        ASSERT_TRUE(escritorio.arrancarCompositor({QStringLiteral("-c")}));
        ASSERT_TRUE(pruebas::esperarHasta([] { return Compositor::observador().activo(); }, 10000));
        EXPECT_TRUE(pruebas::esperarHasta(todasLimpias, 10000)) << informe();
        // This compositor draws a shadow of its own under every window's rectangle and reads no
        // hint that says the margin is the window's own shadow: the window is cut to its card, and
        // right under the card the desktop shows as it is, no dark box.
        const QRect vidrio = superficies(escena.creditos.get());
        const QPoint bajo(vidrio.center().x(), vidrio.bottom() + 12);
        EXPECT_TRUE(pruebas::esperarHasta([&] { return parecido(enPantalla(bajo), verde, 3); }, 10000))
            << enPantalla(bajo).name().toStdString();
        pantallaEn(escena.chat->geometry()).save(pruebas::carpetaArtefactos(QStringLiteral("superficies")) +
                                                 QStringLiteral("/chat-compositor-%1.png").arg(vuelta));

        ASSERT_TRUE(escritorio.pararCompositor());
        ASSERT_TRUE(pruebas::esperarHasta([] { return !Compositor::observador().activo(); }, 10000));
        EXPECT_TRUE(pruebas::esperarHasta(todasLimpias, 10000)) << informe();
        // The glass is opaque again at once: the chat's card on the screen is the card as the
        // program draws it, not its see-through fill over black.
        const QRect cartaChat = escena.chat->geometry().adjusted(40, 80, -40, -80);
        const QImage propia = escena.chat->grab(cartaChat.translated(-escena.chat->geometry().topLeft())).toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_TRUE(pruebas::esperarHasta(
            [&] {
                const QImage vista = pantallaEn(cartaChat);
                for (int y = 0; y < vista.height(); y += 7)
                    for (int x = 0; x < vista.width(); x += 7)
                        if (!parecido(QColor(vista.pixel(x, y)), QColor(propia.pixel(x, y)), 6)) return false;
                return true;
            },
            10000));
        pantallaEn(escena.chat->geometry()).save(pruebas::carpetaArtefactos(QStringLiteral("superficies")) +
                                                 QStringLiteral("/chat-sin-compositor-%1.png").arg(vuelta));
    }
}

// A window with a line of black text on white, where a card will lie over it.
class Rotulo : public QWidget {
public:
    Rotulo() : QWidget(nullptr, Qt::FramelessWindowHint) {}
    bool conTexto = true;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        if (!conTexto) return;
        QFont f;
        f.setPixelSize(22);
        f.setBold(true);
        p.setFont(f);
        p.setPen(Qt::black);
        for (int y = 30; y < height(); y += 40)
            p.drawText(QPoint(10, y), QStringLiteral("Cobranza · En pausa · Cobranza · En pausa · Cobranza · En pausa"));
    }
};

// The greatest difference between the screen and the same window drawn over plain white, over a
// region: what of the text beneath shows through.
int seTransparenta(QWidget* tarjeta, const QRect& zona) {
    const QImage vista = pantallaEn(zona);
    QImage sobreBlanco(zona.size(), QImage::Format_RGB32);
    sobreBlanco.fill(Qt::white);
    {
        QPainter p(&sobreBlanco);
        p.drawPixmap(QPoint(0, 0), tarjeta->grab(zona.translated(-tarjeta->geometry().topLeft())));
    }
    int mayor = 0;
    for (int y = 0; y < vista.height(); ++y)
        for (int x = 0; x < vista.width(); ++x) {
            const QColor a(vista.pixel(x, y)), b(sobreBlanco.pixel(x, y));
            mayor = std::max({mayor, std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
        }
    return mayor;
}

class Vidrio39 : public ::testing::TestWithParam<Esquema> {};

TEST_P(Vidrio39, ElTextoDeDebajoNoSeLeeYLaSombraSeDesvanece) {
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(true)) << "openbox / xcompmgr";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    ASSERT_TRUE(escritorio.arrancarCompositor({QStringLiteral("-c")}));
    QScreen* pantalla = QGuiApplication::primaryScreen();
    ASSERT_TRUE(pantalla);
    const Esquema esquema = GetParam();
    const std::string sufijo = esquema == Esquema::oscuro ? "oscuro" : "claro";

    Rotulo rotulo;
    ASSERT_TRUE(pruebas::ponerEn(rotulo, pantalla->availableGeometry()));
    ModeloDudas modelo(std::nullopt, 7, {pregunta()});
    PanelFlotante tarjeta(QSizeF(560, 0), new VistaDudasFlotante(modelo, [] {}, [] {}, true, 560, esquema));
    QCursor::setPos(pantalla->geometry().center());
    tarjeta.mostrarCentrado();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return expuesta(&tarjeta); }, 20000));
    const QRect vidrio = superficies(&tarjeta);
    ASSERT_FALSE(vidrio.isEmpty());
    // The text is there: beside the card it reads black on white.
    const QRect fuera(vidrio.left(), tarjeta.geometry().top() - 60, vidrio.width(), 50);
    int oscuros = 0;
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] {
            const QImage img = pantallaEn(fuera);
            oscuros = 0;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x) oscuros += qGray(img.pixel(x, y)) < 60;
            return oscuros > 200;
        },
        10000))
        << oscuros;
    // Through the glass, the whole card: nothing of it shows more than a few levels.
    const QRect dentro = vidrio.adjusted(24, 24, -24, -24);
    int transparenta = 255;
    EXPECT_TRUE(pruebas::esperarHasta([&] { return (transparenta = seTransparenta(&tarjeta, dentro)) <= 10; }, 10000))
        << transparenta;
    pantallaEn(tarjeta.geometry().adjusted(-20, -20, 20, 20))
        .save(pruebas::carpetaArtefactos(QStringLiteral("superficies")) +
              QString::fromStdString("/tarjeta-sobre-texto-" + sufijo + ".png"));

    // Over a plain desktop, with this compositor that draws its own soft shadow of every window
    // and reads no hint: the window is cut to its card and paints no shadow, so the compositor's
    // shadow alone falls around it, whole, with no band where the window's rectangle ends.
    rotulo.conTexto = false;
    rotulo.update();
    const QRect ventanaTarjeta = tarjeta.geometry();
    const auto perfil = [](const QImage& img, bool vertical) {
        std::vector<int> v;
        const int n = vertical ? img.height() : img.width();
        for (int i = 0; i < n; ++i) v.push_back(qGray(vertical ? img.pixel(0, i) : img.pixel(i, 0)));
        return v;
    };
    const auto saltoMayor = [](const std::vector<int>& v) {
        int mayor = 0;
        for (size_t i = 1; i < v.size(); ++i) mayor = std::max(mayor, std::abs(v[i] - v[i - 1]));
        return mayor;
    };
    const auto escribir = [](const std::vector<int>& v) {
        std::string s;
        for (int x : v) s += std::to_string(x) + " ";
        return s;
    };
    const QRect abajo(vidrio.center().x(), vidrio.bottom() + 3, 1, ventanaTarjeta.bottom() - vidrio.bottom() + 12);
    const QRect derecha(vidrio.right() + 3, vidrio.center().y(), ventanaTarjeta.right() - vidrio.right() + 12, 1);
    std::vector<int> bajando, saliendo;
    const auto leer = [&] {
        bajando = perfil(pantallaEn(abajo), true);
        saliendo = perfil(pantallaEn(derecha), false);
    };
    // A blurred shadow changes by a few levels a pixel at most; a cut one jumps by tens.
    const auto seDesvanece = [&](const char* cual) {
        SCOPED_TRACE(std::string(cual) + ": " + escribir(bajando) + " / " + escribir(saliendo));
        EXPECT_LE(saltoMayor(bajando), 8);
        EXPECT_LE(saltoMayor(saliendo), 8);
        // Lightening all the way: a shadow that fades, not one cut and then nothing.
        EXPECT_TRUE(std::is_sorted(bajando.begin(), bajando.end()));
        EXPECT_TRUE(std::is_sorted(saliendo.begin(), saliendo.end()));
    };
    EXPECT_TRUE(pruebas::esperarHasta(
        [&] {
            leer();
            return saltoMayor(bajando) <= 8 && saltoMayor(saliendo) <= 8;
        },
        10000));
    seDesvanece("sombra del compositor");

    // A desktop that reads the hint (as GNOME's, KDE's and Xfce's window managers do), with a
    // compositor that adds no shadow of its own: the card paints its shadow into its margin, and
    // from the glass's bottom edge down past the window's, and from its right edge out past the
    // window's, the screen lightens step by small step to the desktop itself: no band where the
    // window ends.
    ASSERT_TRUE(escritorio.pararCompositor());
    pruebas::EscritorioX11::anunciar("_GTK_FRAME_EXTENTS");
    ASSERT_TRUE(escritorio.arrancarCompositor());
    ASSERT_TRUE(pruebas::esperarHasta([] { return Compositor::observador().activo() && Compositor::sombraPropia(); }, 10000));
    const bool asentado = pruebas::esperarHasta(
        [&] {
            leer();
            return bajando.back() >= 250 && saliendo.back() >= 250 && bajando.front() < 245;
        },
        10000);
    EXPECT_TRUE(asentado) << escribir(bajando) << " / " << escribir(saliendo);
    seDesvanece("sombra de la tarjeta");
    pantallaEn(ventanaTarjeta.adjusted(-20, -20, 20, 20))
        .save(pruebas::carpetaArtefactos(QStringLiteral("superficies")) +
              QString::fromStdString("/sombra-tarjeta-" + sufijo + ".png"));
}

INSTANTIATE_TEST_SUITE_P(Esquemas, Vidrio39, ::testing::Values(Esquema::claro, Esquema::oscuro),
                         [](const ::testing::TestParamInfo<Esquema>& i) {
                             return std::string(i.param == Esquema::oscuro ? "Oscuro" : "Claro");
                         });

}  // namespace
