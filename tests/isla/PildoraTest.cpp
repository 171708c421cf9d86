#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "zentu/isla/Pildora.h"
#include "zentu/isla/Vidrio.h"

#include <QImage>
#include <QMimeData>
#include <QUrl>
#include <QPainter>
#include <QNativeGestureEvent>
#include <QPointingDevice>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace {

using B = Pildora::Boton;

struct Estado {
    Fase fase = Fase::reposo;
    bool silencio = false, modoChat = false, vozEnChat = false;
    std::optional<QString> timbre{}, aviso{};
    QString agente = QStringLiteral("Zentu");

    void aplicar(EstadoVoz& voz) const {
        voz.setFase(fase);
        voz.setSilencio(silencio);
        voz.setModoChat(modoChat);
        voz.setVozEnChat(vozEnChat);
        voz.setTimbre(timbre);
        voz.setAviso(aviso);
        voz.setAgenteDelChat(agente);
    }
};

QColor rgba(int r, int g, int b, double a) {
    QColor c(r, g, b);
    c.setAlphaF(float(a));
    return c;
}
void mismoColor(const QColor& a, const QColor& b) {
    EXPECT_EQ(a.rgb(), b.rgb()) << a.name().toStdString() << " " << b.name().toStdString();
    EXPECT_NEAR(a.alphaF(), b.alphaF(), 1e-3);
}

}  // namespace

TEST(Pildora, FilasTextosYBotones) {
    struct Caso {
        const char* nombre;
        Estado estado;
        Pildora::Fila fila;
        std::vector<B> botones;
        double ancho;
    };
    const std::vector<Caso> casos = {
        {"reposo", {}, Pildora::Fila::estandar,
         {{Icono::microfono, false, false, false, false, "Silenciar (M)"},
          {Icono::cerrar, false, true, false, false, "Terminar (Esc)"},
          {Icono::chat, false, false, false, false, "Ver en el chat (↵)"}}, 214},
        {"silencio", {Fase::escuchando, true}, Pildora::Fila::estandar,
         {{Icono::microfonoTachado, true, false, false, false, "Silenciar (M)"},
          {Icono::cerrar, false, true, false, false, "Terminar (Esc)"},
          {Icono::chat, false, false, false, false, "Ver en el chat (↵)"}}, 214},
        {"chat", {Fase::reposo, false, true, false, {}, {}, "Ventas"}, Pildora::Fila::chat,
         {{Icono::microfono, false, false, false, false, "Nota de voz para Ventas"},
          {Icono::cerrar, false, true, false, false, "Cerrar"},
          {Icono::chat, false, false, false, true, "Ocultar el chat"}}, 214},
        {"chat con voz", {Fase::hablando, false, true, true, {}, {}, "Ventas"}, Pildora::Fila::chat,
         {{Icono::microfonoTachado, true, false, false, false, "Apagar el micrófono"},
          {Icono::cerrar, false, true, false, false, "Cortar (Esc)"},
          {Icono::chat, false, false, false, true, "Ocultar el chat"}}, 214},
        {"timbre en modo chat", {Fase::timbrando, false, true, false, QStringLiteral("Ana"), QStringLiteral("x")},
         Pildora::Fila::timbre,
         {{Icono::telefono, false, false, true, false, "Contestar (↵)"},
          {Icono::colgarTelefono, false, true, false, false, "Rechazar (Esc)"}}, 170},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        EstadoVoz voz;
        c.estado.aplicar(voz);
        EXPECT_EQ(Pildora::fila(voz), c.fila);
        EXPECT_EQ(Pildora::botones(voz), c.botones);
        EXPECT_EQ(Pildora::marcoCapsula(voz), QRectF((320 - c.ancho) / 2, 50, c.ancho, 56));

        // The widgets follow: visible buttons, their tooltips, and the callbacks they fire.
        voz.setVisible(true);
        Pildora pildora(voz);
        pildora.resize(320, 176);
        pildora.show();
        QStringList llamadas;
        pildora.alSilenciar = [&] { llamadas << "silenciar"; };
        pildora.alTerminar = [&] { llamadas << "terminar"; };
        pildora.alVerEnChat = [&] { llamadas << "verEnChat"; };
        pildora.alContestar = [&] { llamadas << "contestar"; };
        pildora.alRechazar = [&] { llamadas << "rechazar"; };
        pildora.alNotaDeVoz = [&] { llamadas << "notaDeVoz"; };
        pildora.alConversar = [&] { llamadas << "conversar"; };
        const auto visibles = pildora.botonesVisibles();
        ASSERT_EQ(size_t(visibles.size()), c.botones.size());
        for (int i = 0; i < visibles.size(); ++i) {
            EXPECT_EQ(visibles[i]->toolTip(), c.botones[size_t(i)].ayuda);
            EXPECT_EQ(visibles[i]->size(), QSize(34, 34));
            QTest::mouseClick(visibles[i], Qt::LeftButton, {}, QPoint(17, 17));
        }
        // The corner of a button lies outside its circle and takes no click.
        QTest::mouseClick(visibles[0], Qt::LeftButton, {}, QPoint(1, 1));
        const QStringList esperadas =
            c.fila == Pildora::Fila::timbre ? QStringList{"contestar", "rechazar"}
            : c.fila == Pildora::Fila::chat ? QStringList{"notaDeVoz", "terminar", "verEnChat"}
                                            : QStringList{"silenciar", "terminar", "verEnChat"};
        EXPECT_EQ(llamadas, esperadas);

        // A tap on the orb starts a conversation in chat mode only.
        llamadas.clear();
        const QRectF capsula = Pildora::marcoCapsula(voz);
        QTest::mouseClick(&pildora, Qt::LeftButton, {}, QPoint(int(capsula.left() + 28), 78));
        EXPECT_EQ(llamadas, voz.modoChat() ? QStringList{"conversar"} : QStringList{});
        EXPECT_EQ(Pildora::ayudaOrbe(voz), voz.modoChat() ? "Hablar con " + c.estado.agente + " por voz" : "");
    }
}

TEST(Pildora, Burbujas) {
    EstadoVoz voz;
    EXPECT_FALSE(Pildora::burbuja(voz));
    voz.setAviso(QStringLiteral("Sin conexión"));
    ASSERT_TRUE(Pildora::burbuja(voz));
    EXPECT_EQ(Pildora::burbuja(voz)->texto, "Sin conexión");
    EXPECT_FALSE(Pildora::burbuja(voz)->timbre);
    voz.setTimbre(QStringLiteral("Ana"));
    EXPECT_EQ(Pildora::burbuja(voz)->texto, "Ana te está llamando");
    EXPECT_TRUE(Pildora::burbuja(voz)->timbre);
}

TEST(Pildora, BurbujasEnSuSitio) {
    // Where the bubbles stand, found in the picture by their dense glass (the shadows are fainter):
    // the ringing one 42 points above the pill's top edge, the notice 66 points below it, wrapped
    // within 280 points and centred on the pill.
    const auto denso = [](const QImage& im, int x, int y) { return qAlpha(im.pixel(x, y)) > 150; };
    for (Esquema esquema : {Esquema::oscuro, Esquema::claro}) {
        EstadoVoz voz;
        voz.setVisible(true);
        voz.setQuieto(true);
        Pildora pildora(voz);
        pildora.setEsquema(esquema);
        pildora.resize(320, 176);

        voz.setTimbre(QStringLiteral("Ventas"));
        QImage imagen = pildora.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        int arriba = -1;
        for (int y = 0; y < 50 && arriba < 0; ++y)
            for (int x = 0; x < 320; ++x)
                if (denso(imagen, x, y)) {
                    arriba = y;
                    break;
                }
        EXPECT_EQ(arriba, 50 - 42);

        voz.setTimbre(std::nullopt);
        voz.setAviso(QStringLiteral("No se pudo conectar con Zentu. Revisa tu conexión a internet y vuelve a "
                                    "intentarlo cuando puedas, por favor."));
        imagen = pildora.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        arriba = -1;
        int izquierda = 320, derecha = -1;
        for (int y = 50 + 56; y < 176; ++y)
            for (int x = 0; x < 320; ++x)
                if (denso(imagen, x, y)) {
                    if (arriba < 0) arriba = y;
                    izquierda = std::min(izquierda, x);
                    derecha = std::max(derecha, x);
                }
        EXPECT_EQ(arriba, 50 + 66);
        EXPECT_GE(izquierda, 20);
        EXPECT_LE(derecha, 299);
        EXPECT_GT(derecha - izquierda, 214);  // a long notice is wider than the pill
        EXPECT_LE(std::abs((izquierda + derecha + 1) - 320), 2);
    }
}

TEST(Pildora, ColoresDeBotones) {
    struct Caso {
        B boton;
        Esquema esquema;
        QColor trazo, fondo, fondoEncima;
    };
    const B activo{Icono::microfonoTachado, true}, rojo{Icono::cerrar, false, true},
        verde{Icono::telefono, false, false, true}, encendido{Icono::chat, false, false, false, true}, normal{};
    const Esquema o = Esquema::oscuro, c = Esquema::claro;
    const std::vector<Caso> casos = {
        {activo, o, QColor(255, 107, 107), rgba(255, 107, 107, 0.2), rgba(255, 107, 107, 0.3)},
        {activo, c, QColor(214, 48, 49), rgba(214, 48, 49, 0.2), rgba(214, 48, 49, 0.3)},
        {rojo, o, QColor(255, 107, 107), rgba(255, 107, 107, 0.13), rgba(255, 107, 107, 0.24)},
        {verde, o, QColor(Qt::black), rgba(183, 255, 39, 0.88), rgba(183, 255, 39, 1)},
        {verde, c, QColor(Qt::white), rgba(74, 140, 0, 0.88), rgba(74, 140, 0, 1)},
        {encendido, o, QColor(183, 255, 39), rgba(183, 255, 39, 0.18), rgba(183, 255, 39, 0.28)},
        {encendido, c, QColor::fromRgbF(0.25f, 0.42f, 0), rgba(74, 140, 0, 0.18), rgba(74, 140, 0, 0.28)},
        {normal, o, QColor::fromRgbF(0.95f, 0.95f, 0.95f), QColor::fromRgbF(0.95f, 0.95f, 0.95f, 0.07f),
         QColor::fromRgbF(0.95f, 0.95f, 0.95f, 0.14f)},
        {normal, c, QColor::fromRgbF(0.1f, 0.1f, 0.1f), QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.07f),
         QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.14f)},
    };
    for (const Caso& k : casos) {
        SCOPED_TRACE(k.boton.ayuda.toStdString() + std::to_string(int(k.boton.icono)) + (k.esquema == o ? " oscuro" : " claro"));
        mismoColor(Pildora::colorTrazo(k.boton, k.esquema), k.trazo);
        mismoColor(Pildora::colorFondo(k.boton, k.esquema, false), k.fondo);
        mismoColor(Pildora::colorFondo(k.boton, k.esquema, true), k.fondoEncima);
    }
}

TEST(Pildora, PuntoDeEstado) {
    struct Caso {
        Fase fase;
        bool silencio;
        QColor oscuro;
        bool late;
    };
    const QColor tinta035 = QColor::fromRgbF(0.95f, 0.95f, 0.95f, 0.35f);
    for (const Caso& c : {Caso{Fase::reposo, false, tinta035, false},
                          Caso{Fase::conectando, false, QColor(45, 226, 200), false},
                          Caso{Fase::escuchando, false, QColor(183, 255, 39), true},
                          Caso{Fase::pensando, false, QColor(45, 226, 200), false},
                          Caso{Fase::hablando, false, QColor(183, 255, 39), false},
                          Caso{Fase::timbrando, false, QColor(183, 255, 39), true},
                          Caso{Fase::escuchando, true, QColor(255, 107, 107), false}}) {
        SCOPED_TRACE(int(c.fase));
        EstadoVoz voz;
        voz.setFase(c.fase);
        voz.setSilencio(c.silencio);
        mismoColor(Pildora::colorPunto(voz, Esquema::oscuro), c.oscuro);
        EXPECT_EQ(Pildora::latiendo(voz, false), c.late);
        EXPECT_FALSE(Pildora::latiendo(voz, true));
    }
    EstadoVoz voz;
    mismoColor(Pildora::colorPunto(voz, Esquema::claro), QColor::fromRgbF(0.1f, 0.1f, 0.1f, 0.35f));
}

TEST(Pildora, PellizcoYRueda) {
    RelojVirtual reloj;
    EstadoVoz voz;
    voz.setEscala(1.4);
    Pildora pildora(voz, nullptr, reloj);
    pildora.pellizcar(2);
    EXPECT_DOUBLE_EQ(voz.escala(), 2.2);
    // Every change multiplies the scale at the start of the pinch, not the last one.
    pildora.pellizcar(0.5);
    EXPECT_DOUBLE_EQ(voz.escala(), 0.9);
    pildora.pellizcar(1.25);
    EXPECT_DOUBLE_EQ(voz.escala(), 1.75);
    pildora.terminarPellizco();
    pildora.pellizcar(1.2);
    EXPECT_DOUBLE_EQ(voz.escala(), 1.75 * 1.2);
    pildora.terminarPellizco();

    // Ctrl + wheel: 10 % a notch, from the scale at the start until a pause ends it.
    voz.setEscala(1.0);
    pildora.resize(320, 176);
    const auto rueda = [&](int delta, Qt::KeyboardModifiers mod) {
        QWheelEvent e(QPointF(160, 78), pildora.mapToGlobal(QPointF(160, 78)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, mod, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&pildora, &e);
    };
    rueda(120, Qt::ControlModifier);
    EXPECT_NEAR(voz.escala(), 1.1, 1e-12);
    rueda(120, Qt::ControlModifier);
    EXPECT_NEAR(voz.escala(), 1.21, 1e-12);
    rueda(120, Qt::NoModifier);  // without Ctrl: not a resize
    EXPECT_NEAR(voz.escala(), 1.21, 1e-12);
    reloj.avanzar(0.5);
    rueda(-120, Qt::ControlModifier);
    EXPECT_NEAR(voz.escala(), 1.21 / 1.1, 1e-12);
    // Over the orb too.
    QWheelEvent sobreOrbe(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::ControlModifier,
                          Qt::NoScrollPhase, false);
    QApplication::sendEvent(pildora.orbe(), &sobreOrbe);
    EXPECT_NEAR(voz.escala(), 1.21, 1e-12);
}

TEST(Pildora, GestoDePellizco) {
    EstadoVoz voz;
    voz.setEscala(1.4);
    Pildora pildora(voz);
    pildora.resize(320, 176);
    const auto gesto = [&](QWidget* destino, Qt::NativeGestureType tipo, double valor) {
        QNativeGestureEvent e(tipo, QPointingDevice::primaryPointingDevice(), 2, QPointF(10, 10), QPointF(10, 10),
                              QPointF(10, 10), valor, QPointF());
        QApplication::sendEvent(destino, &e);
    };
    gesto(&pildora, Qt::BeginNativeGesture, 0);
    gesto(&pildora, Qt::ZoomNativeGesture, 0.25);
    EXPECT_NEAR(voz.escala(), 1.75, 1e-12);
    gesto(pildora.orbe(), Qt::ZoomNativeGesture, 0.25);  // over the orb as well
    EXPECT_NEAR(voz.escala(), 2.1, 1e-12);
    gesto(&pildora, Qt::EndNativeGesture, 0);
    // The next pinch starts from the scale then current.
    gesto(&pildora, Qt::BeginNativeGesture, 0);
    gesto(&pildora, Qt::ZoomNativeGesture, -0.5);
    EXPECT_NEAR(voz.escala(), 1.05, 1e-12);
    gesto(&pildora, Qt::EndNativeGesture, 0);
}

TEST(Pildora, OcultaNoSeDibujaNiAnima) {
    EstadoVoz voz;
    Pildora pildora(voz);
    pildora.resize(320, 176);
    QImage imagen = pildora.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < imagen.height(); ++y)
        for (int x = 0; x < imagen.width(); ++x) ASSERT_EQ(qAlpha(imagen.pixel(x, y)), 0) << x << "," << y;
    EXPECT_TRUE(pildora.botonesVisibles().isEmpty());
}

// Pictures of each state in both schemes, at twice the size, over a plain desktop.
TEST(Pildora, Imagenes) {
    struct Foto {
        const char* nombre;
        Estado estado;
    };
    const std::vector<Foto> fotos = {
        {"reposo", {}},
        {"escuchando", {Fase::escuchando}},
        {"pensando", {Fase::pensando}},
        {"hablando", {Fase::hablando}},
        {"timbre", {Fase::timbrando, false, false, false, QStringLiteral("Ventas")}},
        {"chat", {Fase::reposo, false, true, false, {}, {}, QStringLiteral("Ventas")}},
        {"aviso", {Fase::reposo, false, false, false, {},
                   QStringLiteral("No se pudo conectar con Zentu. Revisa tu conexión a internet y vuelve a intentarlo.")}},
        {"silencio", {Fase::escuchando, true}},
    };
    for (Esquema esquema : {Esquema::oscuro, Esquema::claro}) {
        for (const Foto& f : fotos) {
            SCOPED_TRACE(f.nombre);
            EstadoVoz voz;
            f.estado.aplicar(voz);
            voz.setVisible(true);
            voz.nivelBruto = 0.6;
            for (int i = 0; i < 90; ++i) voz.avanzar(i / 30.0);
            voz.setQuieto(true);
            Pildora pildora(voz);
            pildora.setEsquema(esquema);
            // As tall as the island's window makes it: a long notice gets the room it needs.
            const int alto = 2 * pildora.sizeHint().height();
            pildora.resize(640, alto);
            QImage imagen(640, alto, QImage::Format_ARGB32_Premultiplied);
            imagen.fill(esquema == Esquema::oscuro ? QColor(52, 58, 70) : QColor(206, 212, 222));
            QPainter p(&imagen);
            p.drawPixmap(0, 0, pildora.grab());
            p.end();
            // The capsule's glass sits where the layout puts it.
            const QRectF capsula = Pildora::marcoCapsula(voz);
            const QPoint dentro(int(capsula.center().x() * 2), int((capsula.top() + 3) * 2));
            EXPECT_NE(imagen.pixel(dentro), imagen.pixel(2, 2));
            imagen.save(pruebas::carpetaArtefactos("isla") + QStringLiteral("/pildora-%1-%2.png")
                                                                .arg(esquema == Esquema::oscuro ? "oscuro" : "claro")
                                                                .arg(f.nombre));
        }
    }
}

namespace {

// Files dragged onto the pill: dimmed while over it, the first local file on drop, nothing for
// other data.
TEST(PildoraSoltar, PrimerArchivoLocal) {
    EstadoVoz voz;
    Pildora pildora(voz);
    pildora.resize(pildora.sizeHint());
    QStringList soltados;
    pildora.alSoltarArchivo = [&](const QString& r) { soltados << r; };

    QMimeData archivos;
    archivos.setUrls({QUrl::fromLocalFile("/tmp/a.pdf"), QUrl::fromLocalFile("/tmp/b.pdf"), QUrl("https://x.example/c")});
    const QPointF punto(pildora.width() / 2.0, pildora.height() / 2.0);
    QDragEnterEvent entra(punto.toPoint(), Qt::CopyAction, &archivos, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&pildora, &entra);
    EXPECT_TRUE(entra.isAccepted());
    EXPECT_TRUE(pildora.arrastrandoArchivos());
    EXPECT_NE(pildora.graphicsEffect(), nullptr);
    QDropEvent suelta(punto, Qt::CopyAction, &archivos, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&pildora, &suelta);
    EXPECT_EQ(soltados, QStringList{"/tmp/a.pdf"});
    EXPECT_FALSE(pildora.arrastrandoArchivos());
    EXPECT_EQ(pildora.graphicsEffect(), nullptr);

    QMimeData texto;
    texto.setText("hola");
    texto.setUrls({QUrl("https://x.example/c")});
    QDragEnterEvent otro(punto.toPoint(), Qt::CopyAction, &texto, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&pildora, &otro);
    EXPECT_FALSE(otro.isAccepted());
    EXPECT_FALSE(pildora.arrastrandoArchivos());
    QDropEvent nada(punto, Qt::CopyAction, &texto, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&pildora, &nada);
    EXPECT_EQ(soltados.size(), 1);
}

}  // namespace
