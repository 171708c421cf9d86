// The widget host apart from the X server: each widget follows its timeline in virtual time,
// reloads when its provider says (never in a tight loop), redraws at once on a new snapshot file,
// opens the link under a click, and the layout is remembered (a broken layout file is kept aside).
#include "widgets/Anfitrion.h"

#include "comun/Ayudas.h"
#include "plataforma/RecargaWidgets.h"
#include "plataforma/Registro.h"
#include "widgets/Catalogo.h"
#include "widgets/Proveedores.h"
#include "widgets/VentanaWidget.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QWidgetAction>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

class Anfitrion_ : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto ruta : {Instantanea::archivo(), Tamanos::archivo()})
            if (ruta) QFile::remove(*ruta);
        QFile::remove(Anfitrion::archivoDisposicion());
        QFile::remove(Anfitrion::archivoDisposicion() + ".roto");
    }
    static Instantanea enlazada(int agentes, qint64 pendientes = 3) {
        Instantanea f = Instantanea::ejemplo();
        f.totalPendientes = pendientes;
        f.actualizado = QDateTime::currentDateTimeUtc();
        f.agentes->resize(size_t(agentes), f.agentes->front());
        for (int i = 0; i < agentes; ++i) (*f.agentes)[size_t(i)].id = i + 1;
        return f;
    }
    RelojVirtual reloj{QDateTime::currentDateTimeUtc()};
};

TEST_F(Anfitrion_, CompartidoRecargaCada900YAnotaSuTamano) {
    enlazada(2).guardar();
    VentanaWidget v(QStringLiteral("pendientes"), FamiliaW::mediana, reloj);
    EXPECT_EQ(v.recargas(), 1);
    EXPECT_EQ(v.foto().totalPendientes, 3);
    EXPECT_EQ(v.size(), QSize(364, 170));
    QFile f(*Tamanos::archivo());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QJsonDocument::fromJson(f.readAll()).object().contains("systemMedium"));

    enlazada(2, 9).guardar();
    reloj.avanzar(899);
    EXPECT_EQ(v.recargas(), 1);
    EXPECT_EQ(v.foto().totalPendientes, 3);  // no new request before its time...
    reloj.avanzar(1);
    EXPECT_EQ(v.recargas(), 2);
    EXPECT_EQ(v.foto().totalPendientes, 9);  // ...and each request reads the file anew
    EXPECT_EQ(v.proximaRecarga(), reloj.ahora().addSecs(900));
}

TEST_F(Anfitrion_, AgentesPasaPorCadaAgenteYRecargaAlFinal) {
    enlazada(3).guardar();
    VentanaWidget v(QStringLiteral("agentes"), FamiliaW::pequena, reloj);
    EXPECT_EQ(v.indice(), 0);
    reloj.avanzar(600);
    EXPECT_EQ(v.indice(), 1);
    EXPECT_EQ(v.recargas(), 1);
    reloj.avanzar(599);
    EXPECT_EQ(v.indice(), 1);
    EXPECT_EQ(v.recargas(), 1);
    // At +1200 s the last entry is due and the timeline has ended: a new one, from position 0.
    reloj.avanzar(1);
    EXPECT_EQ(v.recargas(), 2);
    EXPECT_EQ(v.indice(), 0);
    EXPECT_EQ(v.proximaRecarga(), reloj.ahora().addSecs(1200));
    // The agents widget never records its size.
    EXPECT_FALSE(QFile::exists(*Tamanos::archivo()));
}

TEST_F(Anfitrion_, UnSoloAgenteNoRecargaEnBucle) {
    enlazada(1).guardar();
    VentanaWidget v(QStringLiteral("agentes"), FamiliaW::grande, reloj);
    EXPECT_EQ(v.proximaRecarga(), reloj.ahora().addSecs(kRecargaMinimaSegundos));
    reloj.avanzar(kRecargaMinimaSegundos - 1);
    EXPECT_EQ(v.recargas(), 1);
    reloj.avanzar(3600);
    // One reload per minimum wait at most: 1 + 3600/300 over the hour, not thousands.
    EXPECT_LE(v.recargas(), 1 + 1 + 3600 / kRecargaMinimaSegundos);
    EXPECT_GE(v.recargas(), 3600 / kRecargaMinimaSegundos);
}

TEST_F(Anfitrion_, UnClicAbreElEnlaceDeLoQueHayDebajo) {
    enlazada(2).guardar();
    struct Caso {
        const char* tipo;
        FamiliaW familia;
        QPoint punto;
        const char* url;
    };
    const Caso casos[] = {
        {"dia", FamiliaW::mediana, {180, 100}, "zuzadari://dia"},
        {"creditos", FamiliaW::pequena, {85, 85}, "zuzadari://creditos"},
        {"agentes", FamiliaW::grande, {20, 370}, "zuzadari://agentes"},
        {"pendientes", FamiliaW::pequena, {160, 10}, "zuzadari://pendientes"},
    };
    for (const Caso& c : casos) {
        VentanaWidget v(QString::fromLatin1(c.tipo), c.familia, reloj);
        std::vector<QUrl> abiertos;
        v.alAbrir = [&](const QUrl& u) { abiertos.push_back(u); };
        v.show();
        ASSERT_TRUE(pruebas::esperarHasta([&] { return !v.zonas().empty(); })) << c.tipo;
        QTest::mouseClick(&v, Qt::LeftButton, {}, c.punto);
        ASSERT_EQ(abiertos.size(), 1u) << c.tipo;
        EXPECT_EQ(abiertos[0], QUrl(QString::fromLatin1(c.url))) << c.tipo;
    }
    // The talk widget has no whole-widget link: only its buttons open something.
    VentanaWidget hablar(QStringLiteral("hablar"), FamiliaW::pequena, reloj);
    hablar.show();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !hablar.zonas().empty(); }));
    for (const auto& z : hablar.zonas()) EXPECT_NE(z.zona, QRectF(hablar.rect()));
    std::vector<QUrl> abiertos;
    hablar.alAbrir = [&](const QUrl& u) { abiertos.push_back(u); };
    QTest::mouseClick(&hablar, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_TRUE(abiertos.empty());
    for (const auto& z : hablar.zonas()) {
        QTest::mouseClick(&hablar, Qt::LeftButton, {}, z.zona.center().toPoint());
    }
    ASSERT_EQ(abiertos.size(), hablar.zonas().size());
    EXPECT_TRUE(std::find(abiertos.begin(), abiertos.end(), QUrl("zuzadari://llamada")) != abiertos.end());
    EXPECT_TRUE(std::find(abiertos.begin(), abiertos.end(), QUrl("zuzadari://chat")) != abiertos.end());
}

TEST_F(Anfitrion_, UnaFotoNuevaRedibujaEnseguida) {
    enlazada(2, 3).guardar();
    Anfitrion anfitrion(reloj);
    anfitrion.iniciar();
    ASSERT_EQ(anfitrion.ventanas().size(), 1u);  // the first start shows the pending widget
    VentanaWidget* v = anfitrion.ventanas()[0];
    EXPECT_EQ(v->tipo(), QStringLiteral("pendientes"));
    EXPECT_EQ(v->foto().totalPendientes, 3);
    const int antes = v->recargas();

    enlazada(2, 12).guardar();
    EXPECT_TRUE(pruebas::esperarHasta([&] { return v->foto().totalPendientes == 12; }, 5000));
    // Recording its size in the same folder does not set off another reload.
    pruebas::girar(400);
    EXPECT_EQ(v->recargas(), antes + 1);

    // Unpaired: the app writes the empty snapshot; the widget shows the not-linked content.
    Instantanea::vacia().guardar();
    EXPECT_TRUE(pruebas::esperarHasta([&] { return !v->foto().enlazada; }, 5000));
}

// A snapshot file that cannot be read says nothing about the pairing: the widget keeps what it
// showed until the app writes the file again; only the empty snapshot shows the not-linked content.
TEST_F(Anfitrion_, UnaFotoIlegibleNoPideEnlazar) {
    enlazada(2, 7).guardar();
    Anfitrion anfitrion(reloj);
    anfitrion.iniciar();
    ASSERT_EQ(anfitrion.ventanas().size(), 1u);
    VentanaWidget* v = anfitrion.ventanas()[0];
    ASSERT_EQ(v->foto().totalPendientes, 7);
    for (const QByteArray& roto : {QByteArray(), QByteArray(R"({"enlazada":)"), QByteArray("null"),
                                  QByteArray(R"({"enlazada":true})")}) {
        SCOPED_TRACE(roto.toStdString());
        const int antes = v->recargas();
        QFile f(*Instantanea::archivo());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(roto);
        f.close();
        ASSERT_TRUE(pruebas::esperarHasta([&] { return v->recargas() > antes; }, 5000));
        EXPECT_TRUE(v->foto().enlazada);
        EXPECT_EQ(v->foto().totalPendientes, 7);
    }
    enlazada(2, 9).guardar();
    EXPECT_TRUE(pruebas::esperarHasta([&] { return v->foto().totalPendientes == 9; }, 5000));
    Instantanea::vacia().guardar();
    EXPECT_TRUE(pruebas::esperarHasta([&] { return !v->foto().enlazada; }, 5000));
}

TEST_F(Anfitrion_, ElPedidoDeLaAppPorElBusRedibujaAunSinCambioVisto) {
    enlazada(2, 3).guardar();
    Anfitrion anfitrion(reloj);
    anfitrion.iniciar();
    ASSERT_EQ(anfitrion.ventanas().size(), 1u);
    VentanaWidget* v = anfitrion.ventanas()[0];
    pruebas::girar(300);
    const int antes = v->recargas();
    // A request about another shared folder (another session's app) is not ours.
    auto ajena = QDBusMessage::createSignal(RecargaWidgets::kRuta, RecargaWidgets::kInterfaz, RecargaWidgets::kSenal);
    ajena << QStringLiteral("/otra/carpeta/ai.zentu.voz");
    QDBusConnection::sessionBus().send(ajena);
    pruebas::girar(300);
    EXPECT_EQ(v->recargas(), antes);
    RecargaWidgets::pedir();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return v->recargas() == antes + 1; }, 5000));
    pruebas::girar(300);
    EXPECT_EQ(v->recargas(), antes + 1);
}

TEST_F(Anfitrion_, LaDisposicionSeRecuerda) {
    const QRect zona = QGuiApplication::primaryScreen()->availableGeometry();
    const int x = std::min(500, zona.x() + zona.width() - 364);
    {
        Anfitrion a(reloj);
        a.iniciar();
        a.anadir(QStringLiteral("dia"), FamiliaW::grande, QPoint(40, 60));
        VentanaWidget* agentes = a.anadir(QStringLiteral("agentes"), FamiliaW::pequena, QPoint(500, 60));
        ASSERT_NE(agentes, nullptr);
        EXPECT_EQ(a.anadir(QStringLiteral("dia"), FamiliaW::pequena), nullptr);  // not offered small
        EXPECT_EQ(a.anadir(QStringLiteral("otro"), FamiliaW::pequena), nullptr);
        a.cambiarFamilia(agentes, FamiliaW::mediana);
        EXPECT_EQ(agentes->size(), QSize(364, 170));
        // Grown within the screen: past its right edge it moves back by what would stick out.
        EXPECT_EQ(agentes->pos(), QPoint(x, 60));

        // Dragging moves the window and saves the new place.
        agentes->show();
        const QPoint inicio = agentes->mapToGlobal(QPoint(50, 50));
        auto enviar = [&](QEvent::Type t, QPoint global, Qt::MouseButtons botones) {
            QMouseEvent e(t, agentes->mapFromGlobal(global), global, Qt::LeftButton, botones, {});
            QApplication::sendEvent(agentes, &e);
        };
        enviar(QEvent::MouseButtonPress, inicio, Qt::LeftButton);
        enviar(QEvent::MouseMove, inicio + QPoint(-30, 40), Qt::LeftButton);
        enviar(QEvent::MouseButtonRelease, inicio + QPoint(-30, 40), Qt::NoButton);
        EXPECT_EQ(agentes->pos(), QPoint(x - 30, 100));
        a.quitar(a.ventanas()[0]);
    }
    Anfitrion b(reloj);
    b.iniciar();
    const std::vector<Anfitrion::Colocado> esperada = {{"dia", FamiliaW::grande, {40, 60}},
                                                       {"agentes", FamiliaW::mediana, {x - 30, 100}}};
    EXPECT_EQ(b.disposicion(), esperada);
}

TEST_F(Anfitrion_, DisposicionIlegibleSeGuardaAparte) {
    QDir().mkpath(QFileInfo(Anfitrion::archivoDisposicion()).absolutePath());
    QFile f(Anfitrion::archivoDisposicion());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("{ esto no es json");
    f.close();
    QStringList lineas;
    Registro::observar([&](const QString& l) { lineas << l; });
    Anfitrion a(reloj);
    a.iniciar();
    Registro::observar({});
    EXPECT_TRUE(a.ventanas().empty());
    QFile aparte(Anfitrion::archivoDisposicion() + ".roto");
    ASSERT_TRUE(aparte.open(QIODevice::ReadOnly));
    EXPECT_EQ(aparte.readAll(), QByteArray("{ esto no es json"));
    ASSERT_EQ(lineas.size(), 1);
    EXPECT_TRUE(lineas[0].startsWith("[widgets] disposición ilegible")) << lineas[0].toStdString();

    // Unknown widgets and sizes are skipped, the rest is kept.
    const auto l = Anfitrion::decodificar(
        R"({"widgets":[{"tipo":"dia","familia":"systemSmall","x":1,"y":2},{"tipo":"nada","familia":"systemSmall"},)"
        R"({"tipo":"hablar","familia":"systemSmall","x":5,"y":6}]})");
    ASSERT_TRUE(l);
    ASSERT_EQ(l->size(), 1u);
    EXPECT_EQ((*l)[0], (Anfitrion::Colocado{"hablar", FamiliaW::pequena, {5, 6}}));
    EXPECT_FALSE(Anfitrion::decodificar("[]"));
}

TEST_F(Anfitrion_, LaGaleriaOfreceCadaWidgetEnSusTamanosConVistaPrevia) {
    Anfitrion a(reloj);
    std::unique_ptr<QMenu> menu(a.menu());
    QMenu* galeria = nullptr;
    for (QAction* accion : menu->actions())
        if (accion->text() == QStringLiteral("Añadir widget")) galeria = accion->menu();
    ASSERT_NE(galeria, nullptr);
    const auto subs = galeria->actions();
    ASSERT_EQ(subs.size(), 5);
    for (int i = 0; i < 5; ++i) {
        const DefinicionWidget& def = Catalogo::widgets()[size_t(i)];
        QMenu* sub = subs[i]->menu();
        ASSERT_NE(sub, nullptr);
        EXPECT_EQ(subs[i]->text(), def.nombre);
        Q_EMIT sub->aboutToShow();
        QStringList tamanos;
        for (QAction* t : sub->actions()) {
            if (!t->isEnabled()) {
                EXPECT_EQ(t->text(), def.descripcion);
                continue;
            }
            tamanos << t->text();
            EXPECT_FALSE(t->icon().isNull()) << def.tipo.toStdString();
            // Large enough to read: the small family at its real size.
            const QSize real = Catalogo::tamano(FamiliaW::pequena).toSize();
            EXPECT_GE(sub->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, sub), real.width());
            if (t->text() == Catalogo::nombreTamano(FamiliaW::pequena)) {
                EXPECT_EQ(t->icon().actualSize(real), real);
            }
        }
        QStringList esperados;
        for (FamiliaW f : def.familias) esperados << Catalogo::nombreTamano(f);
        EXPECT_EQ(tamanos, esperados);
        if (i == 3) {
            sub->adjustSize();
            EXPECT_TRUE(sub->grab().save(pruebas::carpetaArtefactos("widgets") + "/galeria-dia.png"));
        }
    }
    // Choosing a size places that widget.
    subs[3]->menu()->actions().last()->trigger();
    ASSERT_EQ(a.ventanas().size(), 1u);
    EXPECT_EQ(a.ventanas()[0]->tipo(), QStringLiteral("dia"));
    EXPECT_EQ(a.ventanas()[0]->familia(), FamiliaW::grande);
}

// A widget's menu: its name as a header with room around it, its sizes as one choice among
// several, and "Salir" apart from "Quitar widget" behind a separator.
TEST_F(Anfitrion_, ElMenuDeUnWidget) {
    enlazada(2).guardar();
    Anfitrion a(reloj);
    VentanaWidget* v = a.anadir(QStringLiteral("pendientes"), FamiliaW::mediana);
    ASSERT_NE(v, nullptr);
    std::unique_ptr<QMenu> menu(a.menu(v));
    const QList<QAction*> acciones = menu->actions();
    QStringList forma;
    for (QAction* accion : acciones) forma << (accion->isSeparator() ? QStringLiteral("—") : accion->text());
    EXPECT_EQ(forma, (QStringList{"", "—", "Tamaño", "Quitar widget", "—", "Añadir widget", "—", "Salir"}));

    auto* cabecera = qobject_cast<QWidgetAction*>(acciones.first());
    ASSERT_NE(cabecera, nullptr);
    auto* titulo = qobject_cast<QLabel*>(cabecera->defaultWidget());
    ASSERT_NE(titulo, nullptr);
    EXPECT_EQ(titulo->text(), QStringLiteral("Lo que espera por ti"));
    EXPECT_GE(titulo->contentsMargins().left(), 8);
    EXPECT_GE(titulo->contentsMargins().top(), 4);

    QMenu* tamanos = acciones.at(2)->menu();
    ASSERT_NE(tamanos, nullptr);
    int marcados = 0;
    for (QAction* t : tamanos->actions()) {
        ASSERT_NE(t->actionGroup(), nullptr);
        EXPECT_TRUE(t->actionGroup()->isExclusive());
        EXPECT_EQ(t->actionGroup(), tamanos->actions().first()->actionGroup());
        EXPECT_EQ(t->isChecked(), t->text() == Catalogo::nombreTamano(FamiliaW::mediana));
        marcados += t->isChecked();
    }
    EXPECT_EQ(marcados, 1);
    // Choosing another size moves the mark.
    tamanos->actions().last()->trigger();
    EXPECT_EQ(v->familia(), FamiliaW::grande);
    EXPECT_FALSE(tamanos->actions().first()->isChecked() && tamanos->actions().last()->isChecked());

    menu->adjustSize();
    EXPECT_TRUE(menu->grab().save(pruebas::carpetaArtefactos("widgets") + "/menu-widget.png"));
    tamanos->adjustSize();
    EXPECT_TRUE(tamanos->grab().save(pruebas::carpetaArtefactos("widgets") + "/menu-tamanos.png"));
}

TEST(Catalogo, LosCincoWidgets) {
    const auto& w = Catalogo::widgets();
    ASSERT_EQ(w.size(), 5u);
    const char* tipos[] = {"pendientes", "hablar", "creditos", "dia", "agentes"};
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(w[i].tipo, QString::fromLatin1(tipos[i]));
    EXPECT_EQ(w[0].nombre, QStringLiteral("Lo que espera por ti"));
    EXPECT_EQ(w[3].descripcion, QStringLiteral("Las conversaciones de hoy y lo que tus agentes atendieron sin ti."));
    EXPECT_EQ(w[3].familias, (std::vector<FamiliaW>{FamiliaW::mediana, FamiliaW::grande}));
    EXPECT_EQ(w[1].familias, (std::vector<FamiliaW>{FamiliaW::pequena}));
    EXPECT_TRUE(w[4].deAgentes);
    EXPECT_EQ(Catalogo::brillo("agentes", FamiliaW::pequena), QPointF(0.5, 0.5));
    EXPECT_EQ(Catalogo::brillo("agentes", FamiliaW::grande), QPointF(0, 0));
    EXPECT_EQ(Catalogo::brillo("dia", FamiliaW::mediana), QPointF(1, 1));
    EXPECT_FALSE(Catalogo::enlace("hablar"));
    EXPECT_FALSE(Catalogo::actualizado("hablar", Instantanea::ejemplo()));
    EXPECT_FALSE(Catalogo::actualizado("dia", Instantanea::vacia()));
    EXPECT_TRUE(Catalogo::actualizado("dia", Instantanea::ejemplo()));
}

}  // namespace

// The tray icon reads on a dark panel and on a light one: enough of its pixels stand well apart
// from the panel's colour.
TEST(IconoAnfitrion, SeVeEnBarrasOscurasYClaras) {
    auto luma = [](QColor c) { return 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue(); };
    for (const QColor barra : {QColor(24, 24, 24), QColor(46, 52, 54), QColor(236, 236, 236), QColor(255, 255, 255)}) {
        QImage vista(22, 22, QImage::Format_ARGB32_Premultiplied);
        vista.fill(barra);
        {
            QPainter p(&vista);
            p.drawImage(0, 0, Anfitrion::dibujarIcono(22));
        }
        int destacan = 0;
        for (int y = 0; y < vista.height(); ++y)
            for (int x = 0; x < vista.width(); ++x)
                if (std::abs(luma(vista.pixelColor(x, y)) - luma(barra)) > 110) ++destacan;
        EXPECT_GE(destacan, 50) << barra.name().toStdString();
        vista.scaled(176, 176).save(pruebas::carpetaArtefactos("widgets") + "/icono-en-" + barra.name().mid(1) + ".png");
    }
}
