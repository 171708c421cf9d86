// Grouping into bubbles, the album grid's numbers, the bubble's parts and layout, inline styling,
// the typing dots in virtual time, and pictures of every kind of bubble in both schemes.
#include "zentu/chat/Burbujas.h"

#include "comun/Ayudas.h"
#include "comun/TextoDeBurbuja.h"
#include "plataforma/Escritorio.h"
#include "zentu/chat/TipoArchivo.h"
#include "zentu/isla/Vidrio.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScrollBar>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextCursor>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <numbers>

namespace {

using Mensaje = ChatZentu::Mensaje;
using Adjunto = ChatZentu::Adjunto;

const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1'800'000'000, Qt::UTC);

Mensaje msg(QString id, bool deZentu, QString texto, double segundos, std::optional<Adjunto> a = {}, QString autor = {}) {
    Mensaje m;
    m.id = std::move(id);
    m.deZentu = deZentu;
    m.texto = std::move(texto);
    m.fecha = t0.addMSecs(qint64(segundos * 1000));
    m.adjunto = std::move(a);
    m.autor = std::move(autor);
    return m;
}
Adjunto foto(QString url, QString nombre = QStringLiteral("Imagen")) { return {QUrl(url), nombre, true, false}; }
Adjunto audio() { return {QUrl("http://x/a.m4a"), "nota.m4a", false, true}; }
Adjunto doc(QString nombre) { return {QUrl("http://x/" + nombre), nombre, false, false}; }

QStringList ids(const QList<QList<Mensaje>>& grupos) {
    QStringList s;
    for (const auto& g : grupos) {
        QStringList uno;
        for (const Mensaje& m : g) uno << m.id;
        s << uno.join('+');
    }
    return s;
}

// Pictures of distinct colours, for albums.
struct Fotos {
    QTemporaryDir dir;
    QString url(int i, QSize tam = {800, 600}) {
        static const QColor colores[] = {QColor(230, 120, 60), QColor(60, 140, 220), QColor(90, 190, 110),
                                         QColor(200, 80, 160), QColor(240, 200, 60)};
        const QString ruta = dir.path() + QStringLiteral("/foto%1-%2x%3.png").arg(i).arg(tam.width()).arg(tam.height());
        QImage img(tam, QImage::Format_RGB32);
        img.fill(colores[i % 5]);
        QPainter p(&img);
        p.setBrush(QColor(255, 255, 255, 140));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(tam.width() / 2.0, tam.height() / 2.0), tam.width() / 5.0, tam.width() / 5.0);
        p.end();
        img.save(ruta);
        return QUrl::fromLocalFile(ruta).toString();
    }
};

}  // namespace

TEST(Burbuja, AgruparFotosYArchivosDelDueno) {
    const QString u = "http://x/f.png";
    struct Caso {
        const char* que;
        QList<Mensaje> mensajes;
        QStringList grupos;
    };
    const Caso casos[] = {
        {"vacío", {}, {}},
        {"dos fotos a 3 s juntas; la tercera a 12 s aparte",
         {msg("a", false, "", 0, foto(u)), msg("b", false, "", 3, foto(u)), msg("c", false, "", 15, foto(u))},
         {"a+b", "c"}},
        {"cinco fotos en cadena, cada una a menos de 10 s de la anterior",
         {msg("a", false, "", 0, foto(u)), msg("b", false, "", 9, foto(u)), msg("c", false, "", 18, foto(u)),
          msg("d", false, "", 27, foto(u)), msg("e", false, "", 36, foto(u))},
         {"a+b+c+d+e"}},
        {"exactamente 10 s no junta",
         {msg("a", false, "", 0, foto(u)), msg("b", false, "", 10, foto(u))}, {"a", "b"}},
        {"hacia atrás en el tiempo también cuenta la diferencia absoluta",
         {msg("a", false, "", 5, foto(u)), msg("b", false, "", 0, foto(u))}, {"a+b"}},
        {"foto con texto y dos sin texto",
         {msg("a", false, "mira", 0, foto(u)), msg("b", false, "", 2, foto(u)), msg("c", false, " \n", 4, foto(u))},
         {"a+b+c"}},
        {"una foto con texto nunca se junta a la anterior",
         {msg("a", false, "", 0, foto(u)), msg("b", false, "y esta", 2, foto(u))}, {"a", "b"}},
        {"una nota de voz nunca se junta; dos fotos sí se juntan a ella",
         {msg("a", false, "", 0, foto(u)), msg("v", false, "", 2, audio()), msg("b", false, "", 4, foto(u)),
          msg("c", false, "", 6, doc("x.pdf"))},
         {"a", "v+b+c"}},
        {"un texto sin adjunto no abre grupo",
         {msg("t", false, "hola", 0), msg("a", false, "", 1, foto(u))}, {"t", "a"}},
        {"los mensajes del agente nunca se juntan",
         {msg("a", true, "", 0, foto(u)), msg("b", true, "", 1, foto(u)), msg("c", false, "", 2, foto(u))},
         {"a", "b", "c"}},
    };
    for (const Caso& c : casos) EXPECT_EQ(ids(Burbuja::agrupar(c.mensajes)), c.grupos) << c.que;
}

TEST(GeometriaAlbum, CeldasPorNumeroDeImagenes) {
    using GeometriaAlbum::celdas;
    EXPECT_TRUE(celdas(0).empty());
    EXPECT_TRUE(GeometriaAlbum::tamano(0).isEmpty());
    struct Caso {
        int n;
        std::vector<QRectF> marcos;
        int mas;
        QSizeF total;
    };
    const Caso casos[] = {
        {1, {{0, 0, 240, 180}}, 0, {240, 180}},
        {2, {{0, 0, 118.5, 148.125}, {121.5, 0, 118.5, 148.125}}, 0, {240, 148.125}},
        {3, {{0, 0, 240, 134.4}, {0, 137.4, 118.5, 94.8}, {121.5, 137.4, 118.5, 94.8}}, 0, {240, 134.4 + 3 + 94.8}},
        {4, {{0, 0, 118.5, 118.5}, {121.5, 0, 118.5, 118.5}, {0, 121.5, 118.5, 118.5}, {121.5, 121.5, 118.5, 118.5}}, 0, {240, 240}},
        {5, {{0, 0, 118.5, 118.5}, {121.5, 0, 118.5, 118.5}, {0, 121.5, 118.5, 118.5}, {121.5, 121.5, 118.5, 118.5}}, 1, {240, 240}},
        {9, {{0, 0, 118.5, 118.5}, {121.5, 0, 118.5, 118.5}, {0, 121.5, 118.5, 118.5}, {121.5, 121.5, 118.5, 118.5}}, 5, {240, 240}},
    };
    for (const Caso& c : casos) {
        const auto cs = celdas(c.n);
        ASSERT_EQ(cs.size(), c.marcos.size()) << c.n;
        for (size_t i = 0; i < cs.size(); ++i) {
            EXPECT_NEAR(cs[i].marco.x(), c.marcos[i].x(), 1e-9) << c.n << " celda " << i;
            EXPECT_NEAR(cs[i].marco.y(), c.marcos[i].y(), 1e-9) << c.n << " celda " << i;
            EXPECT_NEAR(cs[i].marco.width(), c.marcos[i].width(), 1e-9) << c.n << " celda " << i;
            EXPECT_NEAR(cs[i].marco.height(), c.marcos[i].height(), 1e-9) << c.n << " celda " << i;
            EXPECT_EQ(cs[i].indice, int(i));
            EXPECT_EQ(cs[i].mas, i == 3 ? c.mas : 0);
        }
        EXPECT_NEAR(GeometriaAlbum::tamano(c.n).width(), c.total.width(), 1e-9);
        EXPECT_NEAR(GeometriaAlbum::tamano(c.n).height(), c.total.height(), 1e-9);
    }
}

TEST(Burbuja, TextoSinMencionYLineaDeAutor) {
    struct Caso {
        Mensaje m;
        QString visible;
    };
    const Caso casos[] = {
        {msg("1", false, "@ventas ¿cuánto vendimos?", 0), "¿cuánto vendimos?"},
        {msg("2", false, "  @atención.cliente_2   hola", 0), "hola"},
        {msg("3", false, "@ventas", 0), "@ventas"},
        {msg("4", false, "hola @ventas qué tal", 0), "hola @ventas qué tal"},
        {msg("5", true, "@dueño mira esto", 0), "@dueño mira esto"},
    };
    for (const Caso& c : casos) EXPECT_EQ(Burbuja::textoVisible(c.m), c.visible) << c.m.texto.toStdString();

    struct Autor {
        Mensaje m;
        bool linea;
    };
    const Autor autores[] = {
        {msg("a", true, "hola", 0, {}, "Agente Ventas"), true}, {msg("b", true, "hola", 0, {}, "ZENTU"), false},
        {msg("c", true, "hola", 0, {}, "Zentu"), false},        {msg("d", true, "hola", 0, {}, ""), false},
        {msg("e", false, "hola", 0, {}, "Agente"), false},
    };
    for (const Autor& a : autores) {
        Burbuja b(a.m, {a.m}, {}, Esquema::claro);
        EXPECT_EQ(b.muestraAutor(), a.linea) << a.m.autor.toStdString();
    }
    // Without text there is no text label at all.
    Burbuja vacia(msg("v", false, "", 0, doc("a.pdf")), {}, {}, Esquema::claro);
    EXPECT_EQ(vacia.etiquetaTexto(), nullptr);
}

TEST(Burbuja, SoloEstilosEnLinea) {
    const QColor tinta(10, 10, 10);
    struct Caso {
        const char* md;
        const char* contiene;
    };
    const Caso casos[] = {
        {"**negrita**", "<b>negrita</b>"},
        {"__negrita__", "<b>negrita</b>"},
        {"*cursiva* y _cursiva_", "<i>cursiva</i> y <i>cursiva</i>"},
        {"~~tachado~~", "<s>tachado</s>"},
        {"usa `a < b` aquí", ">a &lt; b</code> aquí"},
        {"[la web](https://zentu.ai/x?a=1&b=2)", "<a href=\"https://zentu.ai/x?a=1&amp;b=2\""},
        {"**[enlace](http://a.b)**", "<b><a href=\"http://a.b\""},
        // Block syntax stays as typed.
        {"# Título\n- uno\n> cita", "# Título<br>- uno<br>&gt; cita"},
        {"1. primero", "1. primero"},
        // Not emphasis: inside words, unclosed, or with spaces inside the marks.
        {"archivo_de_ventas.pdf", "archivo_de_ventas.pdf"},
        {"2 * 3 * 4", "2 * 3 * 4"},
        {"**sin cerrar", "**sin cerrar"},
        {"\\*literal\\*", "*literal*"},
        // Links that are not web or mail stay plain text.
        {"[abre](file:///etc/passwd)", "abre"},
        {"[x](javascript:alert(1))", "x"},
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
    };
    for (const Caso& c : casos) {
        const QString h = Burbuja::html(QString::fromUtf8(c.md), tinta);
        EXPECT_TRUE(h.contains(QString::fromUtf8(c.contiene))) << c.md << " -> " << h.toStdString();
    }
    EXPECT_FALSE(Burbuja::html("[abre](file:///etc/passwd)", tinta).contains("href"));
    EXPECT_FALSE(Burbuja::html("# Título", tinta).contains("<h1"));
}

// A bubble's worth of marks that never close (what a hostile or broken message may hold) stays
// plain text, and styles that do close after them still apply.
TEST(Burbuja, MarcasSinCerrarEnUnTextoLargo) {
    const QColor tinta(10, 10, 10);
    const qsizetype n = Burbuja::kMaximoTexto;
    struct Caso {
        const char* que;
        QString texto;
        QString sin;       // must not appear
        QString contiene;  // must appear
    };
    const Caso casos[] = {
        {"asteriscos sueltos", QString("* ").repeated(n / 2), "<i>", "* * * *"},
        {"dobles sin cerrar", QString("**a ").repeated(n / 4), "<b>", "**a **a"},
        {"guiones bajos", QString("_a ").repeated(n / 3), "<i>", "_a _a"},
        {"corchetes", QString("[a").repeated(n / 2), "<a ", "[a[a[a"},
        {"al final se cierra", QString("*a ").repeated(n / 3) + "**fin**", "<i>", "<b>fin</b>"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.que);
        const QString h = Burbuja::html(c.texto, tinta);
        EXPECT_FALSE(h.contains(c.sin));
        EXPECT_TRUE(h.contains(c.contiene));
    }
}

TEST(Burbuja, LadoAnchoYPartes) {
    Fotos f;
    const int ancho = 600;
    // The owner's bubble hugs the trailing edge, the agent's the leading one, both leaving 48.
    Burbuja mia(msg("1", false, "Hola, esto es un texto bastante largo que tiene que partirse en varias líneas "
                                "porque no cabe de ninguna manera en una sola línea de la burbuja.", 0),
                {}, {}, Esquema::claro);
    mia.resize(ancho, 10);
    mia.show();
    EXPECT_EQ(mia.marcoBurbuja().right(), ancho);
    EXPECT_GE(mia.marcoBurbuja().left(), 48);
    EXPECT_LT(mia.marcoBurbuja().left(), 48 + 40);
    EXPECT_EQ(mia.height(), int(mia.marcoBurbuja().height()));
    Burbuja suya(msg("2", true, "Ok", 0, {}, "Ventas"), {}, {}, Esquema::claro);
    suya.resize(ancho, 10);
    suya.show();
    EXPECT_EQ(suya.marcoBurbuja().left(), 0);
    EXPECT_LT(suya.marcoBurbuja().width(), 150);
    // Author, then text, 6 apart, inside 12 × 8 of padding.
    EXPECT_EQ(suya.etiquetaTexto()->geometry().left(), 12);
    EXPECT_GT(suya.etiquetaTexto()->geometry().top(), 8 + 6);

    // An album's caption wraps at 240 even in a wide list; a single message's does not.
    const QString largo = "Un pie de foto largo que pasaría de doscientos cuarenta puntos sin ninguna duda alguna.";
    const Mensaje a = msg("a", false, largo, 0, foto(f.url(0)));
    const Mensaje b = msg("b", false, "", 1, foto(f.url(1)));
    Burbuja album(a, {a, b}, {}, Esquema::claro);
    album.resize(800, 10);
    album.show();
    EXPECT_LE(album.etiquetaTexto()->width(), 240);
    EXPECT_EQ(album.marcoBurbuja().width(), 240 + 24);
    Burbuja sola(msg("s", false, largo, 0), {}, {}, Esquema::claro);
    sola.resize(800, 10);
    sola.show();
    EXPECT_GT(sola.etiquetaTexto()->width(), 240);

    // A long token without spaces breaks inside the bubble instead of running out of it.
    Burbuja token(msg("k", true, "Clave: " + QString(300, 'x'), 0), {}, {}, Esquema::claro);
    token.resize(400, 10);
    token.show();
    pruebas::girar(20);
    EXPECT_LE(token.marcoBurbuja().right(), 400 - 48);
    EXPECT_LE(token.etiquetaTexto()->document()->idealWidth(), token.etiquetaTexto()->width() + 1);
    EXPECT_GT(token.etiquetaTexto()->height(), 60);
    // All of it shows: the text is no taller than its place.
    EXPECT_LE(token.etiquetaTexto()->document()->size().height(), token.etiquetaTexto()->height() + 1);

    // A name without extension gets the grey "ARCHIVO" badge in its row, 48 tall (36 + 6 + 6).
    Burbuja archivo(msg("d", true, "", 0, doc("Archivo")), {}, {}, Esquema::claro);
    archivo.resize(ancho, 10);
    archivo.show();
    auto* fila = qobject_cast<FilaArchivo*>(archivo.areaAdjunto());
    ASSERT_NE(fila, nullptr);
    EXPECT_EQ(TipoArchivo::de(fila->adjunto().nombre).etiqueta, "ARCHIVO");
    EXPECT_EQ(fila->height(), 48);
    EXPECT_EQ(fila->toolTip(), "Abrir Archivo");
    // Audio and video are file rows too: there is no player inside a bubble.
    Burbuja nota(msg("n", false, "", 0, audio()), {}, {}, Esquema::claro);
    EXPECT_NE(qobject_cast<FilaArchivo*>(nota.areaAdjunto()), nullptr);
}

TEST(Burbuja, AbrirDesdeImagenFilaYCelda) {
    Fotos f;
    QList<Adjunto> abiertos;
    const auto abrir = [&](const Adjunto& a) { abiertos << a; };

    // A single image: loaded, 240 × 180, a click opens it.
    const Mensaje uno = msg("1", false, "", 0, foto(f.url(0), "foto.png"));
    Burbuja b1(uno, {uno}, abrir, Esquema::claro);
    b1.resize(500, 10);
    b1.show();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return b1.imagenesListas(); }));
    auto* img = qobject_cast<ImagenAdjunta*>(b1.areaAdjunto());
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->estado(), ImagenAdjunta::Estado::cargada);
    EXPECT_EQ(img->size(), QSize(240, 180));
    EXPECT_EQ(img->toolTip(), "Abrir la imagen");
    QTest::mouseClick(img, Qt::LeftButton, {}, QPoint(120, 90));
    ASSERT_EQ(abiertos.size(), 1);
    EXPECT_EQ(abiertos[0], *uno.adjunto);

    // An image that cannot be loaded becomes a file row, still opening it.
    const Mensaje rota = msg("2", false, "", 0, foto("file:///no/existe/foto.jpg", "foto.jpg"));
    Burbuja b2(rota, {}, abrir, Esquema::claro);
    b2.resize(500, 10);
    b2.show();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return qobject_cast<FilaArchivo*>(b2.areaAdjunto()) != nullptr; }));
    pruebas::girar(20);
    auto* fila = qobject_cast<FilaArchivo*>(b2.areaAdjunto());
    EXPECT_TRUE(fila->isVisible());
    EXPECT_EQ(b2.height(), 48 + 16);
    QTest::mouseClick(fila, Qt::LeftButton);
    ASSERT_EQ(abiertos.size(), 2);
    EXPECT_EQ(abiertos[1].nombre, "foto.jpg");

    // Five images and a document: 2 × 2 cells, "+1" on the fourth, the document's row below;
    // a click on a cell opens that cell's image.
    QList<Mensaje> album;
    for (int i = 0; i < 5; ++i) album << msg(QString::number(10 + i), false, "", i, foto(f.url(i), QStringLiteral("f%1.png").arg(i)));
    album << msg("20", false, "", 6, doc("acta.docx"));
    Burbuja b3(album[0], album, abrir, Esquema::claro);
    b3.resize(500, 10);
    b3.show();
    auto* mos = qobject_cast<Mosaico*>(b3.areaAdjunto());
    ASSERT_NE(mos, nullptr);
    EXPECT_EQ(mos->imagenes().size(), 5);
    ASSERT_EQ(mos->filas().size(), 1);
    EXPECT_EQ(mos->filas()[0]->geometry().top(), 240 + 6);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return b3.imagenesListas(); }));
    abiertos.clear();
    QTest::mouseClick(mos, Qt::LeftButton, {}, QPoint(200, 200));  // fourth cell
    QTest::mouseClick(mos, Qt::LeftButton, {}, QPoint(119, 60));   // the gap: nothing
    QTest::mouseClick(mos, Qt::LeftButton, {}, QPoint(10, 10));    // first cell
    QTest::mouseClick(mos->filas()[0], Qt::LeftButton);
    ASSERT_EQ(abiertos.size(), 3);
    EXPECT_EQ(abiertos[0].nombre, "f3.png");
    EXPECT_EQ(abiertos[1].nombre, "f0.png");
    EXPECT_EQ(abiertos[2].nombre, "acta.docx");
    // The "+1" is drawn on a darkened fourth cell.
    const QImage cuadro = mos->grab().toImage();
    const QColor centro4 = cuadro.pixelColor(int(121.5 + 59), int(121.5 + 20));
    const QColor centro1 = cuadro.pixelColor(59, 20);
    EXPECT_LT(centro4.lightness(), centro1.lightness() - 40);
}

TEST(Burbuja, EnlaceAbreElNavegador) {
    pruebas::EnlacesAbiertos falso;
    Burbuja b(msg("1", true, "Mira [esto](https://zentu.ai/a)", 0), {}, {}, Esquema::claro);
    b.resize(400, 10);
    b.show();
    Q_EMIT b.etiquetaTexto()->anchorClicked(QUrl("https://zentu.ai/a"));
    Q_EMIT b.etiquetaTexto()->anchorClicked(QUrl("file:///etc/passwd"));
    ASSERT_EQ(falso.urls.size(), 1);
    EXPECT_EQ(falso.urls[0], QUrl("https://zentu.ai/a"));
}

namespace {

void raton(QWidget* w, QEvent::Type tipo, QPoint p, Qt::MouseButton boton, Qt::MouseButtons botones) {
    QMouseEvent e(tipo, QPointF(p), w->mapToGlobal(QPointF(p)), boton, botones, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

// Pixels that differ by more than a trace between two pictures of the same size.
int distintos(const QImage& a, const QImage& b) {
    int n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (!(a.pixelColor(x, y) == b.pixelColor(x, y))) {
                const QColor p = a.pixelColor(x, y), q = b.pixelColor(x, y);
                if (std::abs(p.red() - q.red()) + std::abs(p.green() - q.green()) + std::abs(p.blue() - q.blue()) +
                        std::abs(p.alpha() - q.alpha()) > 6)
                    ++n;
            }
    return n;
}

}  // namespace

// A bubble's text is drawn on its own until the pointer comes; then a browser over the same text
// takes the selection and the links, and looks exactly the same. A press that comes first (the
// list scrolled under a still pointer) reaches it too.
TEST(Burbuja, TextoSeleccionableCuandoLlegaElPuntero) {
    using pruebas::dondeEsta;
    pruebas::EnlacesAbiertos falso;
    const QString texto = "Mira **esto** y ~~aquello~~ en [la página](https://zentu.ai/a), con `código` y una "
                          "frase bastante larga para que el texto ocupe dos líneas de la burbuja";
    for (const Esquema e : {Esquema::claro, Esquema::oscuro}) {
        for (const bool deZentu : {true, false}) {
            SCOPED_TRACE(testing::Message() << (e == Esquema::claro ? "claro" : "oscuro") << (deZentu ? " agente" : " dueño"));
            Burbuja b(msg("1", deZentu, texto, 0), {}, {}, e);
            b.resize(420, 10);
            b.show();
            pruebas::girar(20);
            TextoBurbuja* t = b.etiquetaTexto();
            ASSERT_NE(t, nullptr);
            EXPECT_EQ(t->navegador(), nullptr);
            EXPECT_GT(t->height(), 2 * QFontMetrics(t->font()).height() - 2);
            const QImage antes = b.grab().toImage();

            // A drag from "esto" to "código", pressed before any browser was made.
            const QPoint desde = dondeEsta(*t, "esto"), hasta = dondeEsta(*t, "digo");
            raton(t, QEvent::MouseButtonPress, desde, Qt::LeftButton, Qt::LeftButton);
            ASSERT_NE(t->navegador(), nullptr);
            raton(t, QEvent::MouseMove, hasta, Qt::NoButton, Qt::LeftButton);
            raton(t, QEvent::MouseButtonRelease, hasta, Qt::LeftButton, Qt::NoButton);
            const QString elegido = t->navegador()->textCursor().selectedText();
            EXPECT_TRUE(elegido.startsWith("esto y aquello en la página, con có")) << elegido.toStdString();

            // With nothing selected, the browser shows the text as it was drawn before.
            QTextCursor c = t->navegador()->textCursor();
            c.clearSelection();
            t->navegador()->setTextCursor(c);
            pruebas::girar(20);
            const QImage despues = b.grab().toImage();
            ASSERT_EQ(antes.size(), despues.size());
            EXPECT_EQ(distintos(antes, despues), 0);
            if (e == Esquema::claro && deZentu) {
                antes.save(pruebas::carpetaArtefactos("chat") + "/burbuja-texto-antes.png");
                despues.save(pruebas::carpetaArtefactos("chat") + "/burbuja-texto-despues.png");
            }

            // A click on the link, through the browser now in place.
            QWidget* vista = t->navegador()->viewport();
            const QPoint enlace = dondeEsta(*t, "página");
            raton(vista, QEvent::MouseButtonPress, enlace, Qt::LeftButton, Qt::LeftButton);
            raton(vista, QEvent::MouseButtonRelease, enlace, Qt::LeftButton, Qt::NoButton);
        }
    }
    EXPECT_EQ(falso.urls.size(), 4);
    for (const QUrl& u : falso.urls) EXPECT_EQ(u, QUrl("https://zentu.ai/a"));
}

TEST(Escribiendo, PuntosQueSubenPorTurnoEnTiempoVirtual) {
    // Each dot rests at 0.35 and peaks at 1, the second 0.7 rad and the third 1.4 rad behind.
    const double pi = std::numbers::pi;
    EXPECT_DOUBLE_EQ(Escribiendo::opacidad(0, 0), 0.35);
    EXPECT_DOUBLE_EQ(Escribiendo::opacidad(0, pi / 2), 1.0);
    EXPECT_DOUBLE_EQ(Escribiendo::opacidad(1, pi / 2 + 0.7), 1.0);
    EXPECT_DOUBLE_EQ(Escribiendo::opacidad(2, pi / 2 + 1.4), 1.0);
    EXPECT_DOUBLE_EQ(Escribiendo::opacidad(0, 1.5 * pi), 0.35);
    EXPECT_DOUBLE_EQ(Escribiendo::opacidad(2, 0.5), 0.35);

    RelojVirtual reloj;
    Escribiendo e(Esquema::oscuro, reloj);
    EXPECT_EQ(e.size(), QSize(50, 26));
    e.show();
    EXPECT_DOUBLE_EQ(e.fase(), 0);
    for (int i = 0; i < 9; ++i) reloj.avanzar(1.0 / 30);  // 0.3 s: a quarter of the cycle
    EXPECT_NEAR(e.fase(), pi / 2, 1e-6);
    for (int i = 0; i < 27; ++i) reloj.avanzar(1.0 / 30);  // 1.2 s: starts again from 0
    EXPECT_NEAR(std::fmod(e.fase() + 1e-6, 2 * pi), 0, 1e-5);
    // Hidden, it stops asking for frames; shown again, it starts from 0.
    e.hide();
    EXPECT_EQ(reloj.pendientes(), 0);
    reloj.avanzar(0.5);
    e.show();
    EXPECT_DOUBLE_EQ(e.fase(), 0);
}

namespace {

// A chat-like column of bubbles on the panel's glass colour, grabbed to PNG.
QImage columna(const QList<QWidget*>& vistas, Esquema e, int ancho = 428) {
    QWidget fondo;
    fondo.setAutoFillBackground(true);
    QPalette pal = fondo.palette();
    pal.setColor(QPalette::Window, Vidrio::colorMaterial(e, false));
    fondo.setPalette(pal);
    auto* capa = new QVBoxLayout(&fondo);
    capa->setContentsMargins(16, 16, 16, 16);
    capa->setSpacing(10);
    for (QWidget* v : vistas) {
        if (auto* esc = qobject_cast<Escribiendo*>(v))
            capa->addWidget(esc, 0, Qt::AlignLeft);
        else
            capa->addWidget(v);
    }
    fondo.resize(ancho, 100);
    fondo.show();
    fondo.resize(ancho, capa->heightForWidth(ancho) > 0 ? capa->heightForWidth(ancho) : capa->sizeHint().height());
    pruebas::esperarHasta([&] {
        for (QWidget* v : vistas)
            if (auto* b = qobject_cast<Burbuja*>(v); b && !b->imagenesListas()) return false;
        return true;
    });
    pruebas::girar(30);
    fondo.resize(ancho, capa->sizeHint().height());
    pruebas::girar(30);
    return fondo.grab().toImage();
}

}  // namespace

// A text longer than a bubble lays out shows its beginning, cut where a reader expects it, never
// inside a character.
TEST(Burbuja, PrincipioDeUnTextoLargo) {
    const qsizetype n = Burbuja::kMaximoTexto;
    const QString palabras = [&] {
        QString t;
        while (t.size() < n + 500) t += QStringLiteral("palabra ");
        return t;
    }();
    struct Caso {
        const char* que;
        QString texto;
        QString esperado;
    };
    const QString cara = QString::fromUtf8("\xF0\x9F\x98\x80");  // one character, two UTF-16 units
    const Caso casos[] = {
        {"corto", "Hola", "Hola"},
        {"justo en el límite", QString(n, 'a'), QString(n, 'a')},
        {"cortado en el último salto de línea", QString(n - 100, 'a') + "\n" + QString(500, 'b'),
         QString(n - 100, 'a') + "…"},
        {"cortado en el último espacio", palabras, palabras.left(palabras.lastIndexOf(' ', n - 1)).trimmed() + "…"},
        {"sin espacios, en el límite", QString(n + 10, 'x'), QString(n, 'x') + "…"},
        {"sin partir un carácter", QString(n - 1, 'x') + cara + "yyyy", QString(n - 1, 'x') + "…"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.que);
        const QString r = Burbuja::principio(c.texto);
        EXPECT_EQ(r.size(), c.esperado.size());
        EXPECT_TRUE(r == c.esperado);
        EXPECT_LE(r.size(), n + 1);
    }
}

// A 10 MB message: the bubble lays out its beginning only, says how much it shows, and the whole
// text is one click away, copied or opened in the desktop's editor from a file of the private
// attachments folder.
TEST(Burbuja, TextoEnormePlegado) {
    struct EscritorioFalso : Escritorio {
        QStringList rutas;
        bool abrirArchivo(const QString& ruta) override {
            rutas << ruta;
            return true;
        }
    } falso;
    Escritorio::usar(&falso);
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toUtf8());

    QString enorme;
    enorme.reserve(10'000'000);
    for (int i = 0; enorme.size() < 10'000'000; ++i) enorme += QStringLiteral("Línea %1 del informe, con **algo** de estilo.\n").arg(i);
    for (const bool deZentu : {true, false}) {
        SCOPED_TRACE(deZentu);
        Burbuja b(msg("grande", deZentu, enorme, 0, {}, "Agente Ventas"), {}, {}, Esquema::claro);
        b.resize(380, 10);
        b.show();
        ASSERT_NE(b.etiquetaTexto(), nullptr);
        ASSERT_NE(b.pliegue(), nullptr);
        EXPECT_LE(b.etiquetaTexto()->toPlainText().size(), Burbuja::kMaximoTexto + 1);
        EXPECT_TRUE(b.etiquetaTexto()->toPlainText().endsWith("…"));
        const qsizetype mostrados = Burbuja::principio(enorme).size() - 1;  // the ellipsis is not the message's
        EXPECT_EQ(b.pliegue()->textoAviso(), PliegueTexto::aviso(mostrados, enorme.size()));
        // Inside the bubble, under the text, and nothing clipped.
        const QRect texto = b.etiquetaTexto()->geometry(), pliegue = b.pliegue()->geometry();
        EXPECT_GE(pliegue.top(), texto.bottom());
        EXPECT_LE(pliegue.bottom(), int(b.marcoBurbuja().bottom()) - 8);
        EXPECT_LE(pliegue.right(), int(b.marcoBurbuja().right()) - 12 + 1);
        EXPECT_TRUE(b.pliegue()->botonAbrir()->isVisible());
        EXPECT_TRUE(b.pliegue()->botonCopiar()->isVisible());
        EXPECT_LE(b.pliegue()->botonCopiar()->geometry().right(), pliegue.width());

        QGuiApplication::clipboard()->clear();
        QTest::mouseClick(b.pliegue()->botonCopiar(), Qt::LeftButton);
        EXPECT_EQ(QGuiApplication::clipboard()->text().size(), enorme.size());
        EXPECT_TRUE(QGuiApplication::clipboard()->text() == enorme);

        falso.rutas.clear();
        QTest::mouseClick(b.pliegue()->botonAbrir(), Qt::LeftButton);
        ASSERT_TRUE(pruebas::esperarHasta([&] { return !falso.rutas.isEmpty(); }, 60000));
        EXPECT_TRUE(falso.rutas[0].startsWith(cache.path() + "/zentu-adjuntos/")) << falso.rutas[0].toStdString();
        EXPECT_TRUE(falso.rutas[0].endsWith(".txt"));
        QFile f(falso.rutas[0]);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(QString::fromUtf8(f.readAll()) == enorme);
    }

    // A text at the limit is shown whole, with no fold.
    Burbuja justa(msg("j", true, QString(Burbuja::kMaximoTexto, 'a'), 0), {}, {}, Esquema::claro);
    EXPECT_EQ(justa.pliegue(), nullptr);
    EXPECT_EQ(justa.etiquetaTexto()->toPlainText().size(), Burbuja::kMaximoTexto);

    // Where no file can be written, the notice says so (and copying still works).
    qputenv("XDG_CACHE_HOME", "/proc/no-se-puede");
    Burbuja sinCarpeta(msg("s", true, enorme.left(Burbuja::kMaximoTexto * 2), 0), {}, {}, Esquema::claro);
    sinCarpeta.resize(380, 10);
    sinCarpeta.show();
    falso.rutas.clear();
    QTest::mouseClick(sinCarpeta.pliegue()->botonAbrir(), Qt::LeftButton);
    EXPECT_TRUE(pruebas::esperarHasta([&] { return sinCarpeta.pliegue()->textoAviso().startsWith("No se pudo abrir"); }));
    EXPECT_TRUE(falso.rutas.isEmpty());
    qunsetenv("XDG_CACHE_HOME");
    Escritorio::usar(nullptr);
}

TEST(Burbuja, Dibujos) {
    Fotos f;
    for (const Esquema e : {Esquema::claro, Esquema::oscuro}) {
        const QString sufijo = e == Esquema::oscuro ? "oscuro" : "claro";
        RelojVirtual reloj;
        {
            auto* escribiendo = new Escribiendo(e, reloj);
            const QList<QWidget*> vistas = {
                new Burbuja(msg("1", false, "@ventas ¿Cuánto **vendimos** hoy? Quiero el _total_ y el ticket medio.", 0), {}, {}, e),
                new Burbuja(msg("2", true, "Hoy van **1.240 €** en 31 pedidos.\n- Ticket medio: `40 €`\n- Más info en [el panel](https://zentu.ai)", 1, {}, "Agente Ventas"), {}, {}, e),
                new Burbuja(msg("3", true, "Listo, lo he dejado preparado.", 2, {}, "Zentu"), {}, {}, e),
                new Burbuja(msg("4", true, "", 3, doc("informe trimestral de ventas del segundo semestre.pdf"), "Agente Ventas"), {}, {}, e),
                new Burbuja(msg("5", false, "Te paso la hoja", 4, doc("ventas.xlsx")), {}, {}, e),
                new Burbuja(msg("6", false, "", 5, audio()), {}, {}, e),
                escribiendo,
            };
            for (int i = 0; i < 9; ++i) reloj.avanzar(1.0 / 30);
            const QImage img = columna(vistas, e);
            EXPECT_TRUE(img.save(pruebas::carpetaArtefactos("chat") + "/burbujas-texto-" + sufijo + ".png"));
        }
        for (int n = 1; n <= 5; ++n) {
            QList<Mensaje> album;
            for (int i = 0; i < n; ++i)
                album << msg(QString::number(i), false, i == 0 ? "Fotos del local, para la ficha" : "", i,
                             foto(f.url(i, i % 2 ? QSize(600, 900) : QSize(900, 600)), QStringLiteral("local%1.jpg").arg(i)));
            if (n == 3) album << msg("d", false, "", 4, doc("presupuesto.pdf"));
            const QList<QWidget*> vistas = {new Burbuja(album[0], album, {}, e)};
            const QImage img = columna(vistas, e);
            EXPECT_TRUE(img.save(pruebas::carpetaArtefactos("chat") + QStringLiteral("/burbujas-album%1-").arg(n) + sufijo + ".png"));
        }
        {
            const QList<QWidget*> vistas = {
                new BurbujaParaCaptura(msg("c1", false, "¿Qué tal fue la semana?", 0), e),
                new BurbujaParaCaptura(msg("c2", true, "Muy bien: **12 %** más de ventas que la anterior.", 1, {}, "Agente Ventas"), e),
                new Burbuja(msg("r", false, "", 0, foto("file:///no/existe.jpg", "foto-perdida.jpg")), {}, {}, e),
                new Burbuja(msg("u", true, "Tu código: 9f8e7d6c5b4a39281706f5e4d3c2b1a09f8e7d6c5b4a39281706f5e4d3c2b1a0", 2, {}, "Agente Ventas"), {}, {}, e),
            };
            const QImage img = columna(vistas, e);
            EXPECT_TRUE(img.save(pruebas::carpetaArtefactos("chat") + "/burbujas-captura-" + sufijo + ".png"));
        }
        {
            QString largo;
            for (int i = 0; largo.size() < 1'000'000; ++i)
                largo += QStringLiteral("Pedido %1: dos barras de pan, una docena de magdalenas y un roscón para el domingo. ").arg(i);
            const QList<QWidget*> vistas = {
                new Burbuja(msg("l1", true, largo, 0, {}, "Agente Ventas"), {}, {}, e),
                new Burbuja(msg("l2", false, largo, 1), {}, {}, e),
            };
            const QImage img = columna(vistas, e);
            EXPECT_TRUE(img.save(pruebas::carpetaArtefactos("chat") + "/burbujas-texto-largo-" + sufijo + ".png"));
        }
    }
}
