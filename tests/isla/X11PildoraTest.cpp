// The island's pill in its window on a real X server: what its frames repaint.
#include "comun/Ayudas.h"
#include "comun/EscritorioX11.h"
#include "plataforma/Compositor.h"
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/Pildora.h"
#include "zentu/isla/Ventana.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QPainterPath>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// Notes every paint event of the widgets it watches, and when one of them last moved.
class Pinturas : public QObject {
public:
    struct Pintura {
        QObject* widget;
        QRegion region;
    };
    std::vector<Pintura> vistas;
    QElapsedTimer desdeMovimiento;
    Pinturas() { desdeMovimiento.start(); }
    void vigilar(QWidget* w) { w->installEventFilter(this); }

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override {
        if (evento->type() == QEvent::Paint) vistas.push_back({objeto, static_cast<QPaintEvent*>(evento)->region()});
        if (evento->type() == QEvent::Move || evento->type() == QEvent::Resize) desdeMovimiento.restart();
        return false;
    }
};

// The island as the shell builds it, shown as the shell shows it.
struct Isla {
    EstadoVoz voz;
    Pildora* pildora;
    std::unique_ptr<PanelIsla> panel;

    explicit Isla(Fase fase, Reloj& reloj = Reloj::sistema(), Esquema esquema = Esquema::oscuro) {
        voz.setEscala(1.4);
        pildora = new Pildora(voz, nullptr, reloj);
        pildora->setEsquema(esquema);
        panel = std::make_unique<PanelIsla>(new RaizIsla(voz, pildora));
        panel->cambiarEscala(voz.escala());
        voz.setFase(fase);
        voz.nivelBruto = 0.5;
        panel->show();
        voz.setVisible(true);
    }
};

}  // namespace

// Once shown, each frame repaints the orb's canvas and, while the dot pulses, the dot; never
// the whole pill, its glass or its buttons, and never through a fading layer. On a desktop with
// a window manager, without a compositor and with one (where the pill fades in).
class Pinta : public ::testing::TestWithParam<bool> {};

TEST_P(Pinta, CadaCuadroRepintaSoloElOrbeYElPunto) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    const bool conCompositor = GetParam();
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(conCompositor)) << "openbox / xcompmgr";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(conCompositor));
    ASSERT_EQ(Compositor::activo(), conCompositor);
    struct Caso {
        Fase fase;
        bool late;
    };
    for (const Caso caso : {Caso{Fase::escuchando, true}, Caso{Fase::reposo, false}}) {
        SCOPED_TRACE(caso.late ? "escuchando" : "reposo");
        Isla isla(caso.fase);
        Pildora* p = isla.pildora;
        ASSERT_TRUE(pruebas::esperarHasta([&] { return isla.panel->windowHandle() && isla.panel->windowHandle()->isExposed(); }));
        Pinturas pinturas;
        pinturas.vigilar(p);
        for (QWidget* b : p->findChildren<QAbstractButton*>()) pinturas.vigilar(b);
        // The show motion (a spring that overshoots a little) is over once the buttons have
        // stood still for a while; it ends with the pill fully there and its fading layer gone.
        ASSERT_TRUE(pruebas::esperarHasta([&] { return pinturas.desdeMovimiento.elapsed() > 400; }, 10000));
        EXPECT_EQ(p->graphicsEffect(), nullptr);

        pinturas.vistas.clear();
        pruebas::girar(1000);

        // The handle: the orb's canvas and the room up to the first button, where the dot is.
        const QRect lienzo = p->orbe()->geometry();
        const QRect primerBoton = p->botonesVisibles().value(0)->geometry();
        const QRect asa(lienzo.topLeft(), QPoint(primerBoton.left() - 1, lienzo.bottom()));
        int cuadros = 0, conPunto = 0;
        const QRect punto(lienzo.right() + 1, lienzo.top(), primerBoton.left() - lienzo.right() - 1, lienzo.height());
        for (const auto& [widget, region] : pinturas.vistas) {
            ASSERT_EQ(widget, p) << "a button was repainted";
            EXPECT_TRUE((region - QRegion(asa)).isEmpty())
                << "repainted " << region.boundingRect().x() << "," << region.boundingRect().y() << " "
                << region.boundingRect().width() << "x" << region.boundingRect().height();
            ++cuadros;
            conPunto += region.intersects(punto);
        }
        // About 30 frames in the second; many fewer would mean the orb stood still.
        EXPECT_GE(cuadros, 10);
        if (caso.late)
            EXPECT_GE(conPunto, cuadros / 2) << "the dot's pulse moves with the orb's frames";
        else
            EXPECT_EQ(conPunto, 0);
        EXPECT_EQ(p->graphicsEffect(), nullptr);

        // Hidden, nothing is drawn any more.
        isla.voz.setVisible(false);
        ASSERT_TRUE(pruebas::esperarHasta([&] { return p->orbe()->isHidden(); }, 10000));
        isla.panel->hide();
        pruebas::girar(200);
        pinturas.vistas.clear();
        pruebas::girar(500);
        EXPECT_TRUE(pinturas.vistas.empty());
    }
}


INSTANTIATE_TEST_SUITE_P(Escritorio, Pinta, ::testing::Bool(),
                         [](const auto& i) { return std::string(i.param ? "ConCompositor" : "SinCompositor"); });

// Frames repaint only part of the window; what the X server shows is still the current frame
// whole, with nothing left over from earlier ones, in both schemes.
TEST(IslaEnPantalla, LaPantallaMuestraElCuadroActual) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    for (Esquema esquema : {Esquema::oscuro, Esquema::claro}) {
        const QString nombre = esquema == Esquema::oscuro ? QStringLiteral("oscuro") : QStringLiteral("claro");
        SCOPED_TRACE(nombre.toStdString());
        RelojVirtual reloj;
        Isla isla(Fase::hablando, reloj, esquema);
        isla.voz.nivelBruto = 0.8;
        ASSERT_TRUE(pruebas::esperarHasta([&] { return isla.panel->windowHandle() && isla.panel->windowHandle()->isExposed(); }));
        // Two seconds of a lively orb, then its clock stops: frames go on, the picture stands.
        QTimer paso;
        QObject::connect(&paso, &QTimer::timeout, [&] { reloj.avanzar(1.0 / 30); });
        paso.start(33);
        pruebas::girar(2000);
        paso.stop();
        pruebas::girar(400);

        const QImage pantalla = QGuiApplication::primaryScreen()->grabWindow(isla.panel->winId()).toImage().convertToFormat(QImage::Format_RGB32);
        const QImage dibujo = isla.panel->grab().toImage().convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(pantalla.size(), dibujo.size());
        pantalla.save(pruebas::carpetaArtefactos("isla") + QStringLiteral("/isla-en-pantalla-%1.png").arg(nombre));
        // Inside the capsule the glass is opaque without a compositor: every pixel must match.
        const double f = isla.pildora->width() / Pildora::anchoRaiz;
        const QRectF marco = Pildora::marcoCapsula(isla.voz);
        // In the window's pixels: the window is the part of the island's frame the pill draws in.
        const QRectF capsula = QRectF(marco.topLeft() * f, marco.size() * f)
                                   .translated(QPointF(isla.pildora->mapTo(isla.panel.get(), QPoint(0, 0))));
        QPainterPath dentro;
        dentro.addRoundedRect(capsula.adjusted(3, 3, -3, -3), capsula.height() / 2 - 3, capsula.height() / 2 - 3);
        int distintos = 0, vistos = 0;
        for (int y = int(capsula.top()); y <= int(capsula.bottom()); ++y)
            for (int x = int(capsula.left()); x <= int(capsula.right()); ++x) {
                if (!dentro.contains(QPointF(x + 0.5, y + 0.5))) continue;
                const QRgb a = pantalla.pixel(x, y), b = dibujo.pixel(x, y);
                ++vistos;
                distintos += std::abs(qRed(a) - qRed(b)) > 2 || std::abs(qGreen(a) - qGreen(b)) > 2 ||
                             std::abs(qBlue(a) - qBlue(b)) > 2;
            }
        EXPECT_GT(vistos, 10000);
        EXPECT_EQ(distintos, 0);
    }
}
