#include "zentu/conexion/ModeloEnlace.h"

#include "comun/Ayudas.h"
#include "comun/ImagenesQR.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Registro.h"
#include "plataforma/Reloj.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>
#include <QPainter>
#include <QTemporaryDir>
#include <QUrl>
#include <QVideoSink>
#include <gtest/gtest.h>
#include <sys/stat.h>

using pruebas::esperarHasta;
using pruebas::girar;

namespace {

const QString kNoEsDeZentu =
    QStringLiteral("Ese código no es de Zentu AI. Usa el de Configuración → Conexiones en el panel.");
const QString kSinQR = QStringLiteral("No encontré un código QR en esa imagen.");

class PruebaModelo : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(servicio.arrancar());
        modelo = std::make_unique<ModeloEnlace>(reloj);
        modelo->alEnlazar = [this](const Cuenta& c) { cuentas.push_back(c); };
        Registro::observar([this](const QString& l) { lineas << l; });
    }
    void TearDown() override {
        Registro::observar({});
        QGuiApplication::clipboard()->clear();
    }

    QString codigo(const QString& c) const {
        return QStringLiteral(R"({"v":1,"url":"%1/","codigo":"%2"})").arg(servicio.url(), c);
    }
    void nuevoCodigo(const QString& c, const QString& token = "token-otro") {
        servicio.control("POST", "codigo",
                         QJsonObject{{"codigo", c}, {"respuesta", QJsonObject{{"token", token}, {"propietario", "p@n.mx"},
                                                                             {"nombre", "N"}}}});
    }
    // A frame with this text's QR code, as the camera delivers it, a little after the last one.
    void mostrarACamara(const QString& texto, double despues = 0.3) {
        reloj.avanzar(despues);
        modelo->sumidero().setVideoFrame(
            pruebas::cuadroDe(pruebas::ruidosa(pruebas::imagenQR(texto, 4), 25), QVideoFrameFormat::Format_NV12));
    }
    int canjesPedidos() { return servicio.peticiones().size(); }
    bool esperarMensaje(const QString& m) {
        return esperarHasta([&] { return modelo->mensaje() == m; });
    }

    ServicioSimulado servicio;
    RelojVirtual reloj;
    std::unique_ptr<ModeloEnlace> modelo;
    std::vector<Cuenta> cuentas;
    QStringList lineas;
};

}  // namespace

TEST_F(PruebaModelo, LaCamaraLeeUnCodigoAjenoYLuegoCanjeaElBueno) {
    mostrarACamara("https://otra.cosa/qr");
    ASSERT_TRUE(esperarMensaje(kNoEsDeZentu));
    EXPECT_FALSE(modelo->ocupado());

    mostrarACamara(codigo("codigo-bueno"));
    ASSERT_TRUE(esperarHasta([&] { return cuentas.size() == 1; }));
    EXPECT_EQ(cuentas[0], (Cuenta{servicio.url(), "token-nuevo", "dueno@negocio.mx", "Negocio"}));
    EXPECT_FALSE(modelo->ocupado());
    EXPECT_FALSE(modelo->mensaje());
    EXPECT_TRUE(lineas.contains("[enlace] enlazada con " + servicio.url())) << lineas.join("\n").toStdString();

    // Paired: every further code is ignored until the shell shows the window again.
    nuevoCodigo("codigo-2");
    mostrarACamara(codigo("codigo-2"));
    modelo->canjear(codigo("codigo-2"));
    modelo->leerImagen(pruebas::imagenQR("no es json"));
    girar(400);
    EXPECT_EQ(canjesPedidos(), 1);
    EXPECT_FALSE(modelo->mensaje());

    modelo->reiniciar();
    modelo->canjear(codigo("codigo-2"));
    ASSERT_TRUE(esperarHasta([&] { return cuentas.size() == 2; }));
    EXPECT_EQ(cuentas[1].token, "token-otro");
}

// At most one analysis every 0.25 s, strictly: frames in between are dropped unread.
TEST_F(PruebaModelo, AnalizaComoMuchoCuatroCuadrosPorSegundo) {
    const QString ajeno = "https://otra.cosa/qr";
    mostrarACamara(ajeno, 0.5);  // steps exact in binary, so 0.25 is exactly 0.25
    ASSERT_TRUE(esperarMensaje(kNoEsDeZentu));
    modelo->reiniciar();
    mostrarACamara(ajeno, 0.0);
    mostrarACamara(ajeno, 0.25);
    girar(500);
    EXPECT_FALSE(modelo->mensaje());
    mostrarACamara(ajeno, 0.0078125);
    EXPECT_TRUE(esperarMensaje(kNoEsDeZentu));
}

TEST_F(PruebaModelo, UnCanjeALaVez) {
    servicio.responder("POST", "/api/pairing/canjear",
                       QJsonObject{{"estado", 200}, {"cuerpo", QJsonObject{{"token", "lento"}}}, {"retraso", 800}});
    modelo->canjear(codigo("uno"));
    EXPECT_TRUE(modelo->ocupado());
    nuevoCodigo("dos");
    mostrarACamara(codigo("dos"));
    modelo->canjear(codigo("dos"));
    modelo->leerImagen(pruebas::imagenQR(codigo("dos")));
    modelo->canjear("basura");  // not even read while busy
    girar(300);
    EXPECT_TRUE(modelo->ocupado());
    EXPECT_FALSE(modelo->mensaje());

    // The shell showing the window again mid-way must not let a second redemption start.
    modelo->reiniciar();
    modelo->canjear(codigo("dos"));
    ASSERT_TRUE(esperarHasta([&] { return cuentas.size() == 1; }));
    girar(200);
    EXPECT_EQ(canjesPedidos(), 1);
    EXPECT_EQ(cuentas[0].token, "lento");
}

// A refused code stays in front of the camera: it is not sent again at every frame, but a new
// code is redeemed at once, and the owner may still paste the same one on purpose.
TEST_F(PruebaModelo, UnCodigoRechazadoNoSeReintentaDesdeLaCamaraEnSeguida) {
    const QString viejo = codigo("vencido");
    mostrarACamara(viejo);
    ASSERT_TRUE(esperarMensaje("Código vencido o ya usado"));
    EXPECT_FALSE(modelo->ocupado());
    EXPECT_TRUE(lineas.contains("[enlace] falló el canje: Código vencido o ya usado"));
    EXPECT_EQ(canjesPedidos(), 1);

    for (int i = 0; i < 4; ++i) mostrarACamara(viejo, 1.0);
    girar(400);
    EXPECT_EQ(canjesPedidos(), 1);

    mostrarACamara(viejo, 1.1);  // 5.1 s after the refusal
    ASSERT_TRUE(esperarHasta([&] { return canjesPedidos() == 2; }));
    ASSERT_TRUE(esperarHasta([&] { return !modelo->ocupado(); }));

    modelo->canjear(viejo);  // pasted text: tried again at once
    ASSERT_TRUE(esperarHasta([&] { return canjesPedidos() == 3; }));
    ASSERT_TRUE(esperarHasta([&] { return !modelo->ocupado(); }));

    mostrarACamara(codigo("codigo-bueno"));
    ASSERT_TRUE(esperarHasta([&] { return cuentas.size() == 1; }));
}

TEST_F(PruebaModelo, ServicioInalcanzableMuestraElErrorYSigue) {
    modelo->canjear(R"({"v":1,"url":"http://127.0.0.1:1","codigo":"c"})");
    EXPECT_TRUE(modelo->ocupado());
    ASSERT_TRUE(esperarHasta([&] { return !modelo->ocupado(); }));
    ASSERT_TRUE(modelo->mensaje());
    EXPECT_FALSE(modelo->mensaje()->isEmpty());
    modelo->canjear(codigo("codigo-bueno"));
    ASSERT_TRUE(esperarHasta([&] { return cuentas.size() == 1; }));
}

TEST_F(PruebaModelo, PegarPrefiereLaImagenAlTexto) {
    QClipboard* portapapeles = QGuiApplication::clipboard();

    // Nothing usable: nothing happens.
    portapapeles->clear();
    modelo->pegar();
    EXPECT_FALSE(modelo->mensaje());

    // Image and text: only the image counts (here a foreign code), the text is not read.
    auto* ambos = new QMimeData;
    ambos->setImageData(pruebas::imagenQR("https://otra.cosa"));
    ambos->setText(codigo("codigo-bueno"));
    portapapeles->setMimeData(ambos);
    modelo->pegar();
    EXPECT_TRUE(esperarMensaje(kNoEsDeZentu));

    QImage vacia(200, 200, QImage::Format_RGB32);
    vacia.fill(Qt::white);
    portapapeles->setImage(vacia);
    modelo->pegar();
    EXPECT_TRUE(esperarMensaje(kSinQR));

    portapapeles->setText("hola");
    modelo->pegar();
    EXPECT_EQ(modelo->mensaje(), kNoEsDeZentu);
    EXPECT_EQ(canjesPedidos(), 0);

    portapapeles->setImage(pruebas::imagenQR(codigo("codigo-bueno")));
    modelo->pegar();
    ASSERT_TRUE(esperarHasta([&] { return cuentas.size() == 1; }));

    nuevoCodigo("texto");
    modelo->reiniciar();
    portapapeles->setText("  " + codigo("texto") + "\n");
    modelo->pegar();
    ASSERT_TRUE(esperarHasta([&] { return cuentas.size() == 2; }));
}

// A large screenshot is read on the camera's worker thread: the call returns at once, with
// nothing decided yet, and the code found is redeemed afterwards on the main thread.
TEST_F(PruebaModelo, UnaCapturaGrandeSeLeeFueraDeLaVentana) {
    QImage captura(3840, 2160, QImage::Format_RGB32);
    captura.fill(QColor(236, 238, 241));
    {
        QPainter p(&captura);
        p.drawImage(QPoint(2900, 1300), pruebas::imagenQR(codigo("codigo-bueno"), 6));
    }
    modelo->leerImagen(captura);
    EXPECT_FALSE(modelo->ocupado());
    EXPECT_FALSE(modelo->mensaje());
    ASSERT_TRUE(esperarHasta([&] { return cuentas.size() == 1; }, 10000));

    // One without a code says so, in time, the same way.
    modelo->reiniciar();
    captura.fill(Qt::white);
    modelo->leerImagen(captura);
    EXPECT_FALSE(modelo->mensaje());
    EXPECT_TRUE(esperarMensaje(kSinQR));
}

TEST_F(PruebaModelo, ImagenDeArchivosSoltados) {
    QTemporaryDir dir;
    const QString png = dir.filePath("qr.png");
    ASSERT_TRUE(pruebas::imagenQR("x").save(png));
    const QString pdf = dir.filePath("doc.pdf");
    {
        QFile f(pdf);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj <<>> endobj\ntrailer <<>>\n%%EOF\n");
    }
    const QString tuberia = dir.filePath("tuberia.png");
    ASSERT_EQ(mkfifo(tuberia.toLocal8Bit().constData(), 0600), 0);

    auto imagen = [](const QList<QUrl>& urls) {
        QMimeData d;
        d.setUrls(urls);
        return ModeloEnlace::imagenDe(d);
    };
    EXPECT_FALSE(imagen({QUrl::fromLocalFile(png)}).isNull());
    EXPECT_TRUE(imagen({QUrl::fromLocalFile(pdf), QUrl::fromLocalFile(png)}).isNull()) << "solo cuenta el primero";
    EXPECT_FALSE(imagen({QUrl::fromLocalFile(png), QUrl::fromLocalFile(pdf)}).isNull());
    EXPECT_TRUE(imagen({QUrl::fromLocalFile(tuberia)}).isNull()) << "no se queda leyendo una tubería";
    EXPECT_TRUE(imagen({QUrl("https://zentu.mx/qr.png")}).isNull());
    EXPECT_TRUE(imagen({}).isNull());
}

// No camera on this machine: the model still works by paste, and nothing claims a preview.
TEST_F(PruebaModelo, SinCamaraSiguePegando) {
    modelo->encenderCamara();
    modelo->encenderCamara();
    girar(100);
    EXPECT_FALSE(modelo->camaraLista());
    modelo->apagarCamara();
    QGuiApplication::clipboard()->setText(codigo("codigo-bueno"));
    modelo->pegar();
    ASSERT_TRUE(esperarHasta([&] { return cuentas.size() == 1; }));
}
