// A bubble's text under the real pointer, on the X server with a window manager: dragging over it
// selects it, a right click opens its menu, and a click on a link opens the link.
#include "zentu/chat/Burbujas.h"

#include "comun/Ayudas.h"
#include "comun/EscritorioX11.h"
#include "comun/PantallaX11.h"
#include "comun/TextoDeBurbuja.h"

#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QTextBrowser>
#include <QTextCursor>
#include <gtest/gtest.h>

namespace {

// A plain light window holding one bubble, as the chat's list holds it.
class Ventana : public QWidget {
public:
    explicit Ventana(const ChatZentu::Mensaje& m) : QWidget(nullptr, Qt::FramelessWindowHint) {
        burbuja = new Burbuja(m, {}, {}, Esquema::claro, this);
        burbuja->setGeometry(20, 20, 420, burbuja->heightForWidth(420));
    }
    Burbuja* burbuja;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(246, 246, 246)); }
};

// Where `trozo` begins in the bubble's text, on the screen.
QPoint enPantalla(TextoBurbuja& t, const QString& trozo) { return t.mapToGlobal(pruebas::dondeEsta(t, trozo)); }

bool mover(QPoint p) {
    return pruebas::xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())});
}

}  // namespace

TEST(BurbujaEnX11, ElPunteroEligeAbreElMenuYSigueEnlaces) {
    if (!pruebas::EscritorioX11::disponible(false)) GTEST_SKIP() << "sin openbox";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    pruebas::EnlacesAbiertos falso;

    ChatZentu::Mensaje m;
    m.id = "1";
    m.deZentu = true;
    m.autor = "Ventas";
    m.texto = "Mira **esto** y ~~aquello~~ en [la página](https://zentu.ai/a), con `código`.";
    m.fecha = QDateTime::currentDateTimeUtc();
    // The pointer starts away from where the window will be.
    ASSERT_TRUE(mover(QPoint(900, 700)));
    Ventana v(m);
    ASSERT_TRUE(pruebas::ponerEn(v, QRect(100, 100, 460, v.burbuja->height() + 40)));
    TextoBurbuja* t = v.burbuja->etiquetaTexto();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->navegador(), nullptr);

    // A drag from "esto" to "código".
    const QPoint desde = enPantalla(*t, "esto"), hasta = enPantalla(*t, "digo");
    ASSERT_TRUE(mover(desde));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return t->navegador() != nullptr; }));
    ASSERT_TRUE(pruebas::xdotool({"mousedown", "1"}));
    ASSERT_TRUE(mover(desde + QPoint(30, 0)));
    ASSERT_TRUE(mover(hasta));
    ASSERT_TRUE(pruebas::xdotool({"mouseup", "1"}));
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] { return t->navegador()->textCursor().selectedText().startsWith("esto y aquello en la página, con có"); }))
        << t->navegador()->textCursor().selectedText().toStdString();

    // A right click opens the text's menu; Esc closes it.
    ASSERT_TRUE(pruebas::xdotool({"click", "3"}));
    ASSERT_TRUE(pruebas::esperarHasta([] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()) != nullptr; }));
    ASSERT_TRUE(pruebas::xdotool({"key", "Escape"}));
    ASSERT_TRUE(pruebas::esperarHasta([] { return QApplication::activePopupWidget() == nullptr; }));

    // A click on the link opens it, once.
    ASSERT_TRUE(pruebas::clic(enPantalla(*t, "página")));
    EXPECT_TRUE(pruebas::esperarHasta([&] { return !falso.urls.isEmpty(); }));
    pruebas::girar(100);
    ASSERT_EQ(falso.urls.size(), 1);
    EXPECT_EQ(falso.urls[0], QUrl("https://zentu.ai/a"));
}
