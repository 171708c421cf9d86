// The chat panel on a real X server: window-manager hints, the keyboard, its stored size,
// placement next to a rectangle, resizing by dragging a corner grip, and a picture of the empty
// panel in both schemes.
#include "zentu/chat/PanelChat.h"

#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "plataforma/VentanaFlotante.h"
#include "zentu/isla/Vidrio.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QVBoxLayout>
#include <QWindow>
#include <gtest/gtest.h>

namespace {

const QString clave = QStringLiteral("zentu.chat.tam");

// A stand-in for the chat view: the glass card inside the 24-point margin, a text field, and
// the corner grips.
class CartaVacia : public QWidget {
public:
    explicit CartaVacia(Esquema e) : esquema_(e) {
        setAttribute(Qt::WA_TranslucentBackground);
        tarjeta = new QWidget(this);
        campo = new QLineEdit(tarjeta);
        campo->setPlaceholderText(QStringLiteral("Escribe a Zentu…"));
    }
    QWidget* tarjeta;
    QLineEdit* campo;

protected:
    void resizeEvent(QResizeEvent*) override {
        tarjeta->setGeometry(rect().adjusted(24, 24, -24, -24));
        campo->setGeometry(16, tarjeta->height() - 52, tarjeta->width() - 32, 36);
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF carta = QRectF(rect()).adjusted(24, 24, -24, -24);
        const FormaVidrio forma = FormaVidrio::redondeada(22);
        SombraVidrio(esquema_, 24).pintar(p, forma, carta, true);
        Vidrio v(forma, esquema_);
        v.pintarFondo(p, carta, true);
        v.pintarBorde(p, carta);
    }

private:
    Esquema esquema_;
};

struct Panel : ::testing::Test {
    void SetUp() override { Preferencias::almacen().remove(clave); }
    void TearDown() override { Preferencias::almacen().remove(clave); }

    static void mostrar(PanelChat& panel) {
        panel.mostrar();
        ASSERT_TRUE(pruebas::esperarHasta([&] { return panel.windowHandle() && panel.windowHandle()->isExposed(); }));
        pruebas::girar(100);
    }
    static void raton(QWidget* w, QEvent::Type tipo, QPointF global, Qt::MouseButtons botones) {
        QMouseEvent e(tipo, w->mapFromGlobal(global), global, Qt::LeftButton, botones, Qt::NoModifier);
        QApplication::sendEvent(w, &e);
    }
};

}  // namespace

TEST_F(Panel, FlotaTomaElTecladoYTieneSuTamanoInicial) {
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    auto* carta = new CartaVacia(Esquema::claro);
    PanelChat panel(carta);
    EXPECT_EQ(panel.size(), QSize(428, 528));
    EXPECT_TRUE(panel.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(panel.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(panel.testAttribute(Qt::WA_TranslucentBackground));
    mostrar(panel);
    const QStringList estados = VentanaFlotante::estados(panel.windowHandle());
    for (const char* e : {"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR",
                          "_NET_WM_STATE_SKIP_PAGER"})
        EXPECT_TRUE(estados.contains(e)) << e << " en " << estados.join(' ').toStdString();
    EXPECT_EQ(carta->geometry(), QRect(0, 0, 428, 528));
    // It takes typing.
    ASSERT_TRUE(pruebas::esperarHasta([&] { return panel.isActiveWindow(); }));
    carta->campo->setFocus();
    QTest::keyClicks(carta->campo, "hola");
    EXPECT_EQ(carta->campo->text(), "hola");
    // Hidden and shown again it keeps its size and its hints.
    panel.hide();
    pruebas::girar(50);
    mostrar(panel);
    EXPECT_EQ(panel.size(), QSize(428, 528));
    EXPECT_TRUE(VentanaFlotante::estados(panel.windowHandle()).contains("_NET_WM_STATE_STICKY"));
}

TEST_F(Panel, TamanoGuardadoAlCrear) {
    const struct {
        QVariant guardado;
        QSize tam;
    } casos[] = {
        {QVariant(QString("{300, 500}")), {428, 528}},
        {QVariant(QString("{900, 1200}")), {948, 1248}},
        {QVariant(QString("{400, 600}")), {448, 648}},
        {QVariant(42), {428, 528}},  // not a text
        {QVariant(QString("basura")), {428, 528}},
    };
    for (const auto& c : casos) {
        Preferencias::almacen().setValue(clave, c.guardado);
        PanelChat panel(new QWidget);
        EXPECT_EQ(panel.size(), c.tam) << c.guardado.toString().toStdString();
    }
}

TEST_F(Panel, SeColocaJuntoALaIslaEnLaPantalla) {
    PanelChat panel(new CartaVacia(Esquema::oscuro));
    mostrar(panel);
    QScreen* s = QGuiApplication::primaryScreen();
    const QRect v = s->availableGeometry();
    // A pill at the top of the screen: no room above, so the panel opens below it, the window's
    // top edge (above the card's 24-point margin) on the pill's bottom: never over the pill.
    const QRectF pildora(v.center().x() - 115, v.top() + 20, 230, 56);
    panel.colocar(pildora);
    pruebas::girar(100);
    EXPECT_EQ(panel.geometry(), QRect(int(pildora.center().x() - 214), int(pildora.bottom()), 428, 528));
    // Against the left edge it is pushed inside the visible frame.
    panel.colocar(QRectF(v.left(), v.top() + 20, 40, 56));
    pruebas::girar(100);
    EXPECT_EQ(panel.geometry().left(), v.left());
    // Low on the screen there is room above: the window's lower edge on the pill's top.
    const QRectF abajo(v.center().x() - 115, v.bottom() - 100, 230, 56);
    panel.colocar(abajo);
    pruebas::girar(100);
    EXPECT_EQ(panel.geometry().bottom() + 1, int(abajo.top()));
}

TEST_F(Panel, ArrastrarUnaEsquinaRedimensionaYGuardaAlSoltar) {
    auto* carta = new CartaVacia(Esquema::claro);
    PanelChat panel(carta);
    QPointer<PanelChat> p(&panel);
    new Esquinas(carta->tarjeta, [p](PanelChat::Esquina c, QSizeF d, bool fin) {
        if (p) p->redimensionar(c, d, fin);
    });
    mostrar(panel);
    panel.move(100, 100);
    pruebas::girar(100);
    const QRect antes = panel.geometry();
    // Bottom-right grip of the card, dragged far: the clamps win and the top-left stays.
    Esquinas* esquinas = carta->tarjeta->findChild<Esquinas*>();
    ASSERT_NE(esquinas, nullptr);
    QWidget* agarre = esquinas->agarre(PanelChat::Esquina::abajoDerecha);
    EXPECT_EQ(agarre->size(), QSize(18, 18));
    EXPECT_EQ(agarre->cursor().shape(), Qt::SizeFDiagCursor);
    EXPECT_EQ(agarre->mapTo(&panel, QPoint(18, 18)), QPoint(428 - 24, 528 - 24));
    const QPointF inicio = agarre->mapToGlobal(QPointF(9, 9));
    raton(agarre, QEvent::MouseButtonPress, inicio, Qt::LeftButton);
    raton(agarre, QEvent::MouseMove, inicio + QPointF(30, 40), Qt::LeftButton);
    pruebas::girar(50);
    EXPECT_EQ(panel.size(), QSize(458, 568));
    ASSERT_TRUE(panel.alEmpezar());
    EXPECT_FALSE(Preferencias::almacen().contains(clave));  // only at the end of the drag
    raton(agarre, QEvent::MouseMove, inicio + QPointF(1000, 1000), Qt::LeftButton);
    raton(agarre, QEvent::MouseButtonRelease, inicio + QPointF(1000, 1000), Qt::NoButton);
    pruebas::girar(100);
    EXPECT_EQ(panel.size(), QSize(808, 1028));
    EXPECT_EQ(panel.geometry().topLeft(), antes.topLeft());
    EXPECT_FALSE(panel.alEmpezar());
    EXPECT_EQ(Preferencias::almacen().value(clave).toString(), "{760, 980}");
    // The top-left grip 100 right and 100 down: the bottom-right corner stays.
    const QRect grande = panel.geometry();
    QWidget* arriba = esquinas->agarre(PanelChat::Esquina::arribaIzquierda);
    EXPECT_EQ(arriba->cursor().shape(), Qt::SizeFDiagCursor);
    EXPECT_EQ(esquinas->agarre(PanelChat::Esquina::arribaDerecha)->cursor().shape(), Qt::SizeBDiagCursor);
    const QPointF i2 = arriba->mapToGlobal(QPointF(9, 9));
    raton(arriba, QEvent::MouseButtonPress, i2, Qt::LeftButton);
    raton(arriba, QEvent::MouseMove, i2 + QPointF(100, 100), Qt::LeftButton);
    raton(arriba, QEvent::MouseButtonRelease, i2 + QPointF(100, 100), Qt::NoButton);
    pruebas::girar(100);
    EXPECT_EQ(panel.size(), QSize(708, 928));
    EXPECT_EQ(panel.geometry().bottomRight(), grande.bottomRight());
    EXPECT_EQ(Preferencias::almacen().value(clave).toString(), "{660, 880}");
    // A click without a move is no drag.
    raton(arriba, QEvent::MouseButtonPress, i2, Qt::LeftButton);
    raton(arriba, QEvent::MouseButtonRelease, i2, Qt::NoButton);
    EXPECT_EQ(panel.size(), QSize(708, 928));
    // A new panel opens at the stored size.
    PanelChat otro(new QWidget);
    EXPECT_EQ(otro.size(), QSize(708, 928));
}

TEST_F(Panel, DibujoDelPanelVacio) {
    for (const Esquema e : {Esquema::claro, Esquema::oscuro}) {
        auto* carta = new CartaVacia(e);
        carta->campo->hide();  // only the panel and its card
        PanelChat panel(carta);
        new Esquinas(carta->tarjeta, {});
        mostrar(panel);
        const QImage img = panel.grab().toImage();
        EXPECT_EQ(img.size(), QSize(428, 528) * img.devicePixelRatio());
        // The margin is see-through; the card is not.
        EXPECT_LT(img.pixelColor(2, 2).alphaF(), 0.05f);
        EXPECT_GT(img.pixelColor(214, 264).alphaF(), 0.5f);
        EXPECT_TRUE(img.save(pruebas::carpetaArtefactos("chat") +
                             QStringLiteral("/panel-vacio-%1.png").arg(e == Esquema::oscuro ? "oscuro" : "claro")));
    }
}
