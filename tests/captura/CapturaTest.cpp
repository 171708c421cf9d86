// The picture renderer, run in this process: which files it writes and in what order, what it
// does with an odd folder, the widget sizes it reads, and the demo data it draws.
#include "comun/Ayudas.h"
#include "compartido/Instantanea.h"
#include "zentu/captura/Captura.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "NombresCaptura.h"

namespace {

QStringList pngsEn(const QString& carpeta) {
    return QDir(carpeta).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QStringList conExtension(QStringList nombres) {
    for (QString& n : nombres) n += ".png";
    nombres.sort();
    return nombres;
}

class Renderizador : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        Captura::alEscribir = [this](const QString& n) { escritos_.append(n); };
    }
    void TearDown() override {
        Captura::alEscribir = nullptr;
        Captura::pdfMuestra() = pdf_;
    }
    QTemporaryDir dir_;
    QStringList escritos_;
    const QString pdf_ = Captura::pdfMuestra();
};

// The 28 pictures come in their order, every one a readable PNG at scale 2; a second run into
// the same folder replaces each of them and leaves nothing else behind.
TEST_F(Renderizador, HacerEscribeSusVeintiochoEnOrdenYLosReemplaza) {
    for (const QString& n : kHacer) {
        QFile basura(dir_.filePath(n + ".png"));
        ASSERT_TRUE(basura.open(QIODevice::WriteOnly));
        basura.write("no es un PNG");
    }
    Captura::hacer(dir_.path());
    EXPECT_EQ(escritos_, kHacer);
    EXPECT_EQ(pngsEn(dir_.path()), conExtension(kHacer));
    for (const QString& n : kHacer) {
        SCOPED_TRACE(n.toStdString());
        QImage img(dir_.filePath(n + ".png"), "PNG");
        ASSERT_FALSE(img.isNull());
        EXPECT_EQ(img.width() % 2, 0);
        EXPECT_EQ(img.height() % 2, 0);
        EXPECT_GE(img.width(), 300);
        EXPECT_GE(img.height(), 100);
    }
    // The island pictures are the pill's own 320-point frame; bubbles and attachments their fixed widths.
    EXPECT_EQ(QImage(dir_.filePath("isla-escuchando.png")).width(), 640);
    EXPECT_EQ(QImage(dir_.filePath("isla-error-claro.png")).width(), 640);
    EXPECT_EQ(QImage(dir_.filePath("burbujas.png")).width(), 840);
    EXPECT_EQ(QImage(dir_.filePath("adjuntos.png")).width(), 920);
    // The dark and the light passes differ in their backdrop.
    EXPECT_NE(QImage(dir_.filePath("isla-pensando.png")).pixel(2, 2),
              QImage(dir_.filePath("isla-pensando-claro.png")).pixel(2, 2));
    // The settings panes fit their pictures: no scroll bar at the right edge, where the window's
    // background runs on smoothly (a bar's handle would stand out against it).
    for (const QString& n : kHacer.filter("ajustes-")) {
        SCOPED_TRACE(n.toStdString());
        const QImage img(dir_.filePath(n + ".png"));
        for (int y : {img.height() / 4, img.height() / 2}) {
            const int borde = QColor(img.pixel(img.width() - 12, y)).lightness();
            const int dentro = QColor(img.pixel(img.width() - 40, y)).lightness();
            EXPECT_LT(std::abs(borde - dentro), 10) << y;
        }
    }
    // The pairing view is drawn once, in the light scheme, over its own window background.
    EXPECT_GT(QColor(QImage(dir_.filePath("enlace.png")).pixel(2, 2)).lightness(), 200);
}

TEST_F(Renderizador, WidgetsEscribeSusSeisEnOrden) {
    Captura::widgets(dir_.path());
    EXPECT_EQ(escritos_, kWidgets);
    EXPECT_EQ(pngsEn(dir_.path()), conExtension(kWidgets));
    EXPECT_TRUE(CapturaW::activa);
    for (const QString& n : kWidgets) {
        SCOPED_TRACE(n.toStdString());
        QImage img(dir_.filePath(n + ".png"), "PNG");
        ASSERT_FALSE(img.isNull());
        EXPECT_GE(img.width(), 600);
        EXPECT_GE(img.height(), 600);
    }
    // The decision card, 864 points wide, stands beside the column of the 380-point day card.
    EXPECT_GE(QImage(dir_.filePath("tarjetas-oscuro.png")).width(), 2 * (864 + 380));
    // With no snapshot on this computer the "real" sheet shows the empty one, not the demo.
    const QImage ejemplo(dir_.filePath("widgets-ejemplo-oscuro.png"));
    const QImage real(dir_.filePath("widgets-real-oscuro.png"));
    ASSERT_EQ(ejemplo.size(), real.size());
    EXPECT_NE(ejemplo, real);
    // Defaults: 28 + (344 + 18 + 164 + 18 + 164) + 28 points wide, at scale 2.
    EXPECT_EQ(ejemplo.width(), 2 * (28 + 708 + 28));
    EXPECT_EQ(ejemplo.height(), 2 * (28 + 164 + 164 + 344 + 164 + 344 + 4 * 18 + 28));
}

// A folder that is not there, or is a file, gets nothing: no folder is made, nothing is written.
TEST_F(Renderizador, CarpetaQueNoSirveNoRecibeNada) {
    const QString falta = dir_.filePath("no/existe");
    QFile archivo(dir_.filePath("archivo"));
    ASSERT_TRUE(archivo.open(QIODevice::WriteOnly));
    archivo.close();
    for (const QString& carpeta : {falta, dir_.filePath("archivo")}) {
        Captura::widgets(carpeta);
        EXPECT_TRUE(escritos_.isEmpty());
    }
    Captura::hacer(falta);
    EXPECT_TRUE(escritos_.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(dir_.filePath("no")));
    EXPECT_EQ(pngsEn(dir_.path()), QStringList{"archivo"});
}

// Without the fixed PDF the thumbnail's place holds the "x.pdf" badge: a dark tinted square
// instead of the light page.
TEST_F(Renderizador, SinPdfLaFichaOcupaElLugarDeLaMiniatura) {
    const auto luz = [](const QString& ruta) {
        // A point of blank page inside the thumbnail's square, at (30, 90): padding 20, badges
        // 44, gap 16, row padding 10.
        return QColor(QImage(ruta).pixel(2 * (30 + 48), 2 * (90 + 40))).lightness();
    };
    Captura::hacer(dir_.path());
    const int conPdf = luz(dir_.filePath("adjuntos.png"));
    Captura::pdfMuestra() = dir_.filePath("no-esta.pdf");
    Captura::hacer(dir_.path());
    const int sinPdf = luz(dir_.filePath("adjuntos.png"));
    EXPECT_GT(conPdf, 180);
    EXPECT_LT(sinPdf, 100);
}

TEST(TamanosWidgets, SeLeenDeTamanosJson) {
    struct Caso {
        const char* nombre;
        std::optional<QByteArray> json;
        QSizeF pequena, mediana, grande;
    };
    const Caso casos[] = {
        {"sin archivo", std::nullopt, {164, 164}, {344, 164}, {344, 344}},
        {"solo el pequeño", R"({"systemSmall": [170, 170]})", {170, 170}, {344, 164}, {344, 344}},
        {"tres números", R"({"systemMedium": [360, 170, 9]})", {164, 164}, {360, 170}, {344, 344}},
        {"los tres", R"({"systemSmall":[150,151],"systemMedium":[320,152],"systemLarge":[320,330.5]})", {150, 151},
         {320, 152}, {320, 330.5}},
        {"un valor no numérico", R"({"systemSmall": [170, 170], "systemLarge": [300, "x"]})", {164, 164}, {344, 164},
         {344, 344}},
        {"una familia que no es lista", R"({"systemSmall": [170, 170], "otra": 3})", {164, 164}, {344, 164},
         {344, 344}},
        {"no es un objeto", R"([[170, 170]])", {164, 164}, {344, 164}, {344, 344}},
        {"JSON roto", R"({"systemSmall": [170, )", {164, 164}, {344, 164}, {344, 344}},
        {"vacío", "", {164, 164}, {344, 164}, {344, 344}},
        {"menos de dos números", R"({"systemSmall": [170], "systemMedium": []})", {164, 164}, {344, 164}, {344, 344}},
        {"tamaños imposibles", R"({"systemSmall": [0, 170], "systemMedium": [-5, 10], "systemLarge": [1e9, 300]})",
         {164, 164}, {344, 164}, {344, 344}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        const Captura::Tamanos t = Captura::tamanosDesde(c.json);
        ASSERT_EQ(t.size(), 3u);
        EXPECT_EQ(t.at(FamiliaW::pequena), c.pequena);
        EXPECT_EQ(t.at(FamiliaW::mediana), c.mediana);
        EXPECT_EQ(t.at(FamiliaW::grande), c.grande);
    }
}

// The file in the shared folder drives the sheets: 170-point small widgets widen the sheet by
// what the fourth row gains (12 points) and lengthen it by the two small rows (2 × 6 points).
TEST_F(Renderizador, LaHojaTomaLosTamanosDelArchivo) {
    const QString ruta = *Tamanos::archivo();
    QDir().mkpath(QFileInfo(ruta).path());
    QFile archivo(ruta);
    ASSERT_TRUE(archivo.open(QIODevice::WriteOnly));
    archivo.write(R"({"systemSmall": [170, 170]})");
    archivo.close();
    Captura::widgets(dir_.path());
    QFile::remove(ruta);
    const QImage hoja(dir_.filePath("widgets-ejemplo-claro.png"));
    EXPECT_EQ(hoja.width(), 2 * (28 + 720 + 28));
    EXPECT_EQ(hoja.height(), 2 * (28 + 170 + 164 + 344 + 170 + 344 + 4 * 18 + 28));
}

TEST(DatosDemo, MensajesPreguntasYCuenta) {
    const QDateTime ahora = QDateTime::fromString("2026-03-04T10:00:00Z", Qt::ISODate);
    const auto m = Captura::mensajesDemo(ahora);
    ASSERT_EQ(m.size(), 2);
    EXPECT_EQ(m[0].id, "1");
    EXPECT_FALSE(m[0].deZentu);
    EXPECT_EQ(m[0].texto, "@arquitecto Mira estas tres fotos y dime qué ves en cada una, por favor.");
    EXPECT_EQ(m[0].autor, "");
    EXPECT_EQ(m[1].id, "2");
    EXPECT_TRUE(m[1].deZentu);
    EXPECT_EQ(m[1].texto, "Veo una cascada, unas flores y la isla de Zentu.");
    EXPECT_EQ(m[1].autor, "arquitecto");
    for (const auto& x : m) {
        EXPECT_EQ(x.fecha, ahora);
        EXPECT_FALSE(x.adjunto);
    }

    const QJsonArray p = Captura::preguntasDemo(ahora);
    ASSERT_EQ(p.size(), 3);
    struct Esperada { int id; const char* agente; const char* creada; int opciones; bool cliente; };
    const Esperada esperadas[] = {{1, "reservas", "2026-03-04T09:50:00Z", 3, true},
                                  {2, "ventas", "2026-03-04T09:00:00Z", 0, false},
                                  {3, "contador", "2026-03-04T08:00:00Z", 2, false}};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject o = p[i].toObject();
        const Esperada& e = esperadas[i];
        EXPECT_TRUE(o["id"].isDouble());
        EXPECT_EQ(o["id"].toInt(), e.id);
        EXPECT_EQ(o["agent_name"].toString(), e.agente);
        EXPECT_EQ(o["created_at"].toString(), e.creada);
        EXPECT_EQ(o["options"].toArray().size(), e.opciones);
        EXPECT_EQ(o.contains("cliente"), e.cliente);
    }
    EXPECT_EQ(p[0].toObject()["options"].toArray()[1].toString(), "No, espera el pago");
    EXPECT_EQ(p[2].toObject()["question"].toString(), "¿La factura de ayer va con comprobante B01 o B02?");

    const Cuenta c = Captura::cuentaDemo();
    EXPECT_TRUE(c.url.startsWith("https://"));
    EXPECT_TRUE(c.token.isEmpty());
    EXPECT_TRUE(c.correo.endsWith("@example.com"));
    EXPECT_EQ(c.nombre, "Mi Negocio");
}

}  // namespace
