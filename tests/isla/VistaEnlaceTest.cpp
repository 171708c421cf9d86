#include "zentu/isla/VistaEnlace.h"

#include "comun/Ayudas.h"
#include "comun/ImagenesQR.h"
#include "comun/ServicioSimulado.h"
#include "zentu/conexion/ModeloEnlace.h"
#include "zentu/isla/Pildora.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QVideoSink>
#include <gtest/gtest.h>

using pruebas::esperarHasta;

namespace {

const QString kNoEsDeZentu =
    QStringLiteral("Ese código no es de Zentu AI. Usa el de Configuración → Conexiones en el panel.");

QPalette paleta(bool oscura) {
    QPalette p = QApplication::style()->standardPalette();
    if (!oscura) return p;
    const QColor fondo(30, 30, 32), texto(235, 235, 240), boton(58, 58, 62);
    for (auto grupo : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(grupo, QPalette::Window, fondo);
        p.setColor(grupo, QPalette::WindowText, texto);
        p.setColor(grupo, QPalette::Base, fondo);
        p.setColor(grupo, QPalette::Text, texto);
        p.setColor(grupo, QPalette::Button, boton);
        p.setColor(grupo, QPalette::ButtonText, texto);
    }
    return p;
}

bool parecido(QColor a, QColor b, int tolerancia = 40) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= tolerancia;
}

// Lime at 0.8 over the black box.
const QColor kMiraSobreNegro(146, 204, 31);

// How many pixels of `linea` (a row or column segment) look like `color`.
int cuantos(const QImage& img, QPoint desde, QPoint hasta, const QColor& color) {
    int n = 0;
    const int pasos = std::max(std::abs(hasta.x() - desde.x()), std::abs(hasta.y() - desde.y()));
    for (int i = 0; i <= pasos; ++i) {
        const QPoint p = desde + (hasta - desde) * i / std::max(pasos, 1);
        if (parecido(img.pixelColor(p), color)) ++n;
    }
    return n;
}

class PruebaVista : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(servicio.arrancar());
        vista = std::make_unique<VistaEnlace>(modelo);
    }
    QWidget* caja() { return vista->childAt(vista->width() / 2, cajaEn().center().y()); }
    QRect cajaEn() {
        for (QWidget* w : vista->findChildren<QWidget*>()) {
            if (w->size() == QSize(340, 240) && w->parentWidget() == vista.get()) return w->geometry();
        }
        return {};
    }
    QImage pintar() {
        vista->adjustSize();
        return vista->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }

    ServicioSimulado servicio;
    ModeloEnlace modelo;
    std::unique_ptr<VistaEnlace> vista;
};

}  // namespace

// The window in both schemes, idle with a message and busy; the pictures go to the artefacts.
TEST_F(PruebaVista, SePintaEnAmbosEsquemas) {
    for (bool oscura : {false, true}) {
        const char* nombre = oscura ? "oscuro" : "claro";
        vista->setPalette(paleta(oscura));
        modelo.reiniciar();
        modelo.canjear("hola");  // not a pairing code: the message line speaks
        QImage img = pintar();
        img.save(pruebas::carpetaArtefactos("enlace") + QStringLiteral("/vista-enlace-%1-mensaje.png").arg(nombre));

        EXPECT_EQ(img.width(), 400) << nombre;
        const QRect c = cajaEn();
        ASSERT_EQ(c.size(), QSize(340, 240)) << nombre;
        EXPECT_EQ(c.x(), 30) << nombre;  // centred in 400
        const QColor fondo = vista->palette().color(QPalette::Window);
        EXPECT_TRUE(parecido(img.pixelColor(5, 5), fondo)) << nombre;
        EXPECT_EQ(img.pixelColor(c.x() + 20, c.center().y()), QColor(Qt::black)) << nombre;
        EXPECT_TRUE(parecido(img.pixelColor(c.topLeft()), fondo)) << "rounded corner, " << nombre;

        // The aiming square, 170 wide, centred, dashed: lime and black along its top edge.
        const QPoint m = c.topLeft() + QPoint(85, 35);
        const int lima = cuantos(img, m + QPoint(20, 1), m + QPoint(150, 1), kMiraSobreNegro);
        EXPECT_GT(lima, 50) << nombre;
        EXPECT_LT(lima, 110) << "dashed, " << nombre;
        EXPECT_EQ(cuantos(img, m + QPoint(20, -3), m + QPoint(150, -3), kMiraSobreNegro), 0) << "drawn inside, " << nombre;
        EXPECT_EQ(cuantos(img, c.center() - QPoint(20, 0), c.center() + QPoint(20, 0), Pildora::lima), 0)
            << "no spinner when idle, " << nombre;

        // The message, in the fixed red whatever the scheme.
        const QRect resto(0, c.bottom(), 400, img.height() - c.bottom());
        int rojos = 0;
        for (int y = resto.top(); y < resto.bottom(); ++y)
            for (int x = 0; x < 400; ++x) rojos += parecido(img.pixelColor(x, y), Pildora::rojo, 30);
        EXPECT_GT(rojos, 30) << nombre;

        // Busy: the spinner turns in the middle of the box.
        servicio.responder("POST", "/api/pairing/canjear",
                           QJsonObject{{"estado", 400}, {"cuerpo", QJsonObject{}}, {"retraso", 400}});
        modelo.canjear(QStringLiteral(R"({"v":1,"url":"%1","codigo":"c"})").arg(servicio.url()));
        ASSERT_TRUE(modelo.ocupado());
        img = pintar();
        img.save(pruebas::carpetaArtefactos("enlace") + QStringLiteral("/vista-enlace-%1-ocupado.png").arg(nombre));
        int enElCentro = 0;
        for (int y = -16; y <= 16; ++y)
            enElCentro += cuantos(img, c.center() + QPoint(-16, y), c.center() + QPoint(16, y), Pildora::lima);
        EXPECT_GT(enElCentro, 20) << nombre;
        ASSERT_TRUE(esperarHasta([&] { return !modelo.ocupado(); }));
    }
}

TEST_F(PruebaVista, CtrlVPegaComoElBoton) {
    auto* boton = vista->findChild<QPushButton*>();
    ASSERT_TRUE(boton);
    EXPECT_EQ(boton->text(), "Pegar el código  Ctrl+V");
    vista->show();
    vista->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(vista.get()));

    QGuiApplication::clipboard()->setText("no es un código");
    QTest::keyClick(vista.get(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_TRUE(esperarHasta([&] { return modelo.mensaje() == kNoEsDeZentu; }));

    modelo.reiniciar();
    QGuiApplication::clipboard()->setImage(pruebas::imagenQR("https://otra.cosa"));
    boton->click();
    EXPECT_TRUE(esperarHasta([&] { return modelo.mensaje() == kNoEsDeZentu; }));
    vista->hide();
}

TEST_F(PruebaVista, LaCajaAceptaImagenesSoltadas) {
    QTemporaryDir dir;
    const QString ajeno = dir.filePath("ajeno.png");
    ASSERT_TRUE(pruebas::imagenQR("https://otra.cosa").save(ajeno));
    const QString pdf = dir.filePath("doc.pdf");
    {
        QFile f(pdf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4\n%%EOF\n");
    }
    vista->show();
    QWidget* destino = caja();
    ASSERT_TRUE(destino);
    ASSERT_TRUE(destino->acceptDrops());

    auto soltar = [&](QMimeData& datos) {
        const QPoint punto = destino->rect().center();
        QDragEnterEvent entrar(punto, Qt::CopyAction, &datos, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(destino, &entrar);
        QDropEvent caida(punto, Qt::CopyAction, &datos, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(destino, &caida);
        return entrar.isAccepted() && caida.isAccepted();
    };

    QMimeData documento;
    documento.setUrls({QUrl::fromLocalFile(pdf), QUrl::fromLocalFile(ajeno)});
    EXPECT_TRUE(soltar(documento));
    pruebas::girar(100);
    EXPECT_FALSE(modelo.mensaje()) << "a PDF first: nothing happens";

    QMimeData imagenes;
    imagenes.setUrls({QUrl::fromLocalFile(ajeno), QUrl::fromLocalFile(pdf)});
    EXPECT_TRUE(soltar(imagenes));
    EXPECT_TRUE(esperarHasta([&] { return modelo.mensaje() == kNoEsDeZentu; }));

    // A web link is neither a picture nor a file: the box does not take it.
    modelo.reiniciar();
    QMimeData enlace;
    enlace.setUrls({QUrl("https://zentu.mx/qr.png")});
    EXPECT_FALSE(soltar(enlace));

    QMimeData blanca;
    QImage vacia(120, 120, QImage::Format_RGB32);
    vacia.fill(Qt::white);
    blanca.setImageData(vacia);
    EXPECT_TRUE(soltar(blanca));
    EXPECT_TRUE(esperarHasta([&] { return modelo.mensaje() == "No encontré un código QR en esa imagen."; }));
    vista->hide();
}

// The preview is a mirror that fills its box: what is on the camera's right shows on the left.
TEST(VistaCamara, EspejoQueLlenaLaCaja) {
    ModeloEnlace modelo;
    VistaCamara camara(modelo);
    camara.resize(340, 240);
    QImage escena(320, 240, QImage::Format_RGB32);
    {
        QPainter p(&escena);
        p.fillRect(0, 0, 160, 240, Qt::red);
        p.fillRect(160, 0, 160, 240, Qt::blue);
    }
    modelo.sumidero().setVideoFrame(pruebas::cuadroDe(escena, QVideoFrameFormat::Format_ARGB8888));
    QApplication::processEvents();
    QImage img(camara.size(), QImage::Format_ARGB32);
    img.fill(Qt::transparent);
    camara.render(&img, QPoint(), QRegion(), QWidget::DrawChildren);
    img.save(pruebas::carpetaArtefactos("enlace") + "/vista-camara.png");
    EXPECT_EQ(img.pixelColor(10, 120), QColor(Qt::blue));
    EXPECT_EQ(img.pixelColor(330, 120), QColor(Qt::red));
    EXPECT_EQ(img.pixelColor(170, 2).alpha(), 255) << "filled to the edges";
    EXPECT_EQ(img.pixelColor(0, 0).alpha(), 0) << "rounded corners";
}
