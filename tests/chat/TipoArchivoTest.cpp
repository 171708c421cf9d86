// File badges by extension, the detail line over real PNG and PDF files, thumbnails made off
// the main thread, and pictures of every badge and of the thumbnails in both schemes.
#include "zentu/chat/TipoArchivo.h"

#include "comun/Ayudas.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QColor rgb(double r, double g, double b) { return QColor::fromRgbF(float(r), float(g), float(b)); }

struct Archivos {
    QTemporaryDir dir;
    QString ruta(const QString& nombre) const { return dir.path() + "/" + nombre; }

    QString png(const QString& nombre, int w, int h) const {
        QImage img(w, h, QImage::Format_RGB32);
        img.fill(QColor(40, 120, 200));
        QPainter p(&img);
        p.fillRect(0, 0, w / 2, h / 2, QColor(240, 200, 40));
        p.end();
        EXPECT_TRUE(img.save(ruta(nombre), "PNG"));
        return ruta(nombre);
    }
    QString pdf(const QString& nombre, int paginas) const {
        QPdfWriter escritor(ruta(nombre));
        escritor.setPageSize(QPageSize(QPageSize::A4));
        QPainter p(&escritor);
        for (int i = 0; i < paginas; ++i) {
            if (i) escritor.newPage();
            p.fillRect(QRect(0, 3000, 9000, 6000), QColor(200, 60, 50));
            p.drawText(QPointF(500, 3000), QStringLiteral("Página %1").arg(i + 1));
        }
        p.end();
        return ruta(nombre);
    }
    // A valid document whose page tree is empty (no writer makes one).
    QString pdfSinPaginas(const QString& nombre) const {
        QByteArray c = "%PDF-1.4\n";
        QList<int> desplazamientos;
        const auto objeto = [&](const QByteArray& cuerpo) {
            desplazamientos << int(c.size());
            c += QByteArray::number(desplazamientos.size()) + " 0 obj\n" + cuerpo + "\nendobj\n";
        };
        objeto("<< /Type /Catalog /Pages 2 0 R >>");
        objeto("<< /Type /Pages /Kids [] /Count 0 >>");
        const int xref = int(c.size());
        c += "xref\n0 3\n0000000000 65535 f \n";
        for (int d : desplazamientos) c += QByteArray::number(d).rightJustified(10, '0') + " 00000 n \n";
        c += "trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
        return escribir(nombre, c);
    }
    QString escribir(const QString& nombre, const QByteArray& datos) const {
        QFile f(ruta(nombre));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(datos);
        return ruta(nombre);
    }
};

}  // namespace

TEST(TipoArchivo, InsigniaPorLaUltimaExtensionEnMinusculas) {
    const QColor rojo = rgb(0.91, 0.30, 0.27), verde = rgb(0.13, 0.62, 0.38), azul = rgb(0.24, 0.48, 0.93),
                 naranja = rgb(0.95, 0.55, 0.18), gris = rgb(0.5, 0.5, 0.5), violeta = rgb(0.60, 0.40, 0.90),
                 rosa = rgb(0.85, 0.30, 0.60);
    struct Caso {
        const char* nombre;
        const char* etiqueta;
        QColor color;
    };
    const Caso casos[] = {
        {"informe.PDF", "PDF", rojo},         {"cuentas.Numbers", "NUMBERS", verde},
        {"ventas.xlsx", "XLSX", verde},       {"datos.csv", "CSV", verde},
        {"notas.md", "MD", azul},             {"carta.docx", "DOCX", azul},
        {"LEEME.txt", "TXT", azul},           {"charla.key", "KEY", naranja},
        {"plan.pptx", "PPTX", naranja},       {"fotos.7z", "7Z", gris},
        {"todo.zip", "ZIP", gris},            {"nota.opus", "OPUS", violeta},
        {"voz.m4a", "M4A", violeta},          {"clip.webm", "WEBM", rosa},
        {"video.MOV", "MOV", rosa},           {"foto.jpeg", "JPEG", gris},
        {"foto.png", "PNG", gris},            {"diseño.sketch", "SKETC", gris},
        {"Imagen", "ARCHIVO", gris},          {"copia.tar.gz", "GZ", gris},
        {"carpeta/sub.dir/archivo", "ARCHIVO", gris}, {".bashrc", "ARCHIVO", gris},
        {"", "ARCHIVO", gris},                {"/tmp/x/informe.pdf", "PDF", rojo},
    };
    for (const Caso& c : casos) {
        const auto i = TipoArchivo::de(QString::fromUtf8(c.nombre));
        EXPECT_EQ(i.etiqueta, QString::fromUtf8(c.etiqueta)) << c.nombre;
        EXPECT_EQ(i.color, c.color) << c.nombre;
        EXPECT_EQ(i.color.alphaF(), 1.0f) << c.nombre;
    }
}

TEST(TipoArchivo, DetalleDeArchivosReales) {
    Archivos a;
    ASSERT_TRUE(a.dir.isValid());
    const QString tam = QStringLiteral(R"(\d+([.,]\d+)? (bytes|byte|B|kB|MB))");
    struct Caso {
        QString ruta;
        QString patron;  // whole line
    };
    const Caso casos[] = {
        {a.png("foto.png", 640, 480), "PNG · 640 × 480 · " + tam},
        {a.png("FOTO ANCHA.PNG", 1200, 30), "PNG · 1200 × 30 · " + tam},
        // An image under a name that does not say so still gives its pixel size.
        {a.png("captura", 64, 48), "ARCHIVO · 64 × 48 · " + tam},
        {a.pdf("una.pdf", 1), "PDF · 1 página · " + tam},
        {a.pdf("tres.PDF", 3), "PDF · 3 páginas · " + tam},
        {a.pdfSinPaginas("vacio.pdf"), "PDF · 0 páginas · " + tam},
        // A PDF that does not open adds nothing but its size.
        {a.escribir("roto.pdf", "esto no es un pdf"), "PDF · 17 bytes"},
        {a.escribir("notas.md", "# Hola\n"), "MD · 7 bytes"},
        {a.escribir("vacio.txt", ""), "TXT · 0 bytes"},
        // Gone: the label alone, no separator after it.
        {a.ruta("no-existe.pdf"), "PDF"},
        {a.ruta("no-existe.png"), "PNG"},
    };
    for (const Caso& c : casos) {
        const QString linea = TipoArchivo::detalle(QUrl::fromLocalFile(c.ruta));
        EXPECT_TRUE(QRegularExpression("^" + c.patron + "$").match(linea).hasMatch())
            << c.ruta.toStdString() << " -> " << linea.toStdString();
    }
    // Every call reads the file again.
    const QString cambia = a.png("cambia.png", 10, 10);
    EXPECT_TRUE(TipoArchivo::detalle(QUrl::fromLocalFile(cambia)).contains("10 × 10"));
    a.png("cambia.png", 20, 5);
    EXPECT_TRUE(TipoArchivo::detalle(QUrl::fromLocalFile(cambia)).contains("20 × 5"));
}

TEST(Miniatura, ImagenesYPdfSeVenElRestoConservaSuInsignia) {
    Archivos a;
    struct Caso {
        QString ruta;
        bool conImagen;
    };
    const Caso casos[] = {
        {a.png("foto.png", 640, 480), true},
        {a.pdf("informe.pdf", 2), true},
        {a.escribir("notas.txt", "hola"), false},
        {a.escribir("roto.pdf", "no"), false},
        {a.escribir("falsa.png", "no es png"), false},
        {a.ruta("no-existe.png"), false},
    };
    for (const Caso& c : casos) {
        Miniatura m(QUrl::fromLocalFile(c.ruta), 56, Esquema::claro);
        QSignalSpy intento(&m, &Miniatura::intentada);
        m.show();
        ASSERT_TRUE(pruebas::esperarHasta([&] { return intento.count() >= 1; })) << c.ruta.toStdString();
        EXPECT_EQ(!m.imagen().isNull(), c.conImagen) << c.ruta.toStdString();
        if (c.conImagen) {
            // Big enough for the square at the screen's scale, never the whole page or photo.
            EXPECT_GE(std::min(m.imagen().width(), m.imagen().height()), 56);
            EXPECT_LE(std::min(m.imagen().width(), m.imagen().height()), 56 * 3);
        }
    }
}

TEST(Miniatura, OtroArchivoLaRehaceYUnResultadoViejoNoLlega) {
    Archivos a;
    const QString foto = a.png("foto.png", 300, 200);
    const QString texto = a.escribir("leeme.txt", "x");
    Miniatura m(QUrl::fromLocalFile(foto), 40, Esquema::oscuro);
    QSignalSpy intento(&m, &Miniatura::intentada);
    m.show();
    // Changed before the first thumbnail arrives: only the second file's outcome counts.
    m.setUrl(QUrl::fromLocalFile(texto));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return intento.count() >= 1; }));
    pruebas::girar(100);
    EXPECT_EQ(intento.count(), 1);
    EXPECT_TRUE(m.imagen().isNull());
    m.setUrl(QUrl::fromLocalFile(foto));
    EXPECT_TRUE(m.imagen().isNull());
    ASSERT_TRUE(pruebas::esperarHasta([&] { return intento.count() >= 2; }));
    EXPECT_FALSE(m.imagen().isNull());
}

TEST(FichaTipo, DibujoDeTodasLasInsignias) {
    const QStringList nombres = {"informe.pdf", "ventas.xlsx", "datos.csv", "cuentas.numbers", "carta.docx",
                                 "notas.md", "texto.rtf", "plan.pptx", "charla.key", "fotos.zip", "copia.7z",
                                 "nota.mp3", "voz.opus", "clip.mp4", "video.webm", "Imagen", "foto.jpeg",
                                 "diseño.sketch", "copia.tar.gz"};
    for (const Esquema e : {Esquema::claro, Esquema::oscuro}) {
        const int columnas = 7, paso = 76;
        const int filas = int((nombres.size() + columnas - 1) / columnas);
        QImage img(columnas * paso + 16, filas * 2 * paso + 16, QImage::Format_ARGB32_Premultiplied);
        img.fill(e == Esquema::oscuro ? QColor(30, 32, 36) : QColor(246, 246, 244));
        QPainter p(&img);
        for (int i = 0; i < nombres.size(); ++i) {
            const QPointF o(16 + (i % columnas) * paso, 16 + (i / columnas) * 2 * paso);
            FichaTipo::pintar(p, QRectF(o, QSizeF(56, 56)), nombres[i]);
            FichaTipo::pintar(p, QRectF(o + QPointF(10, 64), QSizeF(36, 36)), nombres[i]);
        }
        p.end();
        EXPECT_TRUE(img.save(pruebas::carpetaArtefactos("chat") +
                             QStringLiteral("/insignias-%1.png").arg(e == Esquema::oscuro ? "oscuro" : "claro")));
    }
}

TEST(Miniatura, Dibujo) {
    Archivos a;
    const QStringList rutas = {a.png("foto.png", 640, 480), a.pdf("informe.pdf", 1), a.escribir("acta.docx", "x"),
                               a.png("alta.png", 90, 400)};
    for (const Esquema e : {Esquema::claro, Esquema::oscuro}) {
        QWidget fondo;
        fondo.setAutoFillBackground(true);
        QPalette pal = fondo.palette();
        pal.setColor(QPalette::Window, e == Esquema::oscuro ? QColor(30, 32, 36) : QColor(246, 246, 244));
        fondo.setPalette(pal);
        fondo.resize(16 + rutas.size() * 80, 88);
        QList<Miniatura*> vistas;
        for (int i = 0; i < rutas.size(); ++i) {
            auto* m = new Miniatura(QUrl::fromLocalFile(rutas[i]), 64, e, &fondo);
            m->move(16 + i * 80, 12);
            vistas << m;
        }
        fondo.show();
        ASSERT_TRUE(pruebas::esperarHasta([&] { return !vistas[0]->imagen().isNull() && !vistas[1]->imagen().isNull() && !vistas[3]->imagen().isNull(); }));
        const QImage img = fondo.grab().toImage();
        EXPECT_TRUE(img.save(pruebas::carpetaArtefactos("chat") +
                             QStringLiteral("/miniaturas-%1.png").arg(e == Esquema::oscuro ? "oscuro" : "claro")));
    }
}
