#include "zentu/chat/VistaChat.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Preferencias.h"
#include "zentu/chat/Burbujas.h"
#include "zentu/chat/TipoArchivo.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QJsonDocument>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QLayout>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QDir>
#include <QHeaderView>
#include <QTreeView>
#include <QTranslator>
#include <QLibraryInfo>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <memory>

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using pruebas::esperarHasta;
using pruebas::girar;
using Opcion = VistaChat::Opcion;

namespace {

Instantanea::Agente agente(qint64 id, const QString& nombre, const QString& cat, bool activo = true) {
    Instantanea::Agente a;
    a.id = id;
    a.nombre = nombre;
    a.categoria = cat;
    a.activo = activo;
    return a;
}

Instantanea conAgentes(std::vector<Instantanea::Agente> agentes) {
    Instantanea i = Instantanea::vacia();
    i.agentes = std::move(agentes);
    return i;
}

const std::vector<Instantanea::Agente> kAgentes = {
    agente(1, "Atención", "atencion"),    agente(2, "Lucía", "ventas"),        agente(3, "ventas_norte", "ventas"),
    agente(4, "Pausado", "soporte", false), agente(5, "soporte-tecnico", "soporte"), agente(6, "Ventura", "creativo"),
    agente(7, "Cobra", "cobros"),          agente(8, "Fina", "finanzas"),       agente(9, "Otro", "rarezas"),
};

QStringList ids(const QList<Opcion>& l) {
    QStringList r;
    for (const auto& o : l) r << o.id;
    return r;
}

}  // namespace

// ------------------------------------------------------------------ pure parts

TEST(VistaChatPura, Sugerencias) {
    const Instantanea snap = conAgentes(kAgentes);
    struct Caso {
        const char* borrador;
        QStringList ids;
    };
    const std::vector<Caso> casos = {
        {"/", {"zentu", "1", "2", "3", "5", "6", "7"}},  // at most 7; the paused one never
        {"/ ", {}},
        {"hola", {}},
        {"", {}},
        {"/a\nb", {}},
        {"/ATENCION", {"1"}},
        {"/zen", {"zentu"}},
        {"/ventas", {"3"}},  // Lucía's category is not searched
        {"/ventas_norte", {"3"}},
        {"/VENTAS_NORTE", {"3"}},
        {"/tecnico", {"5"}},
        {"/lucia", {"2"}},
        {"/pausado", {}},
        {"/xyz", {}},
    };
    for (const auto& c : casos) EXPECT_EQ(ids(VistaChat::sugerencias(c.borrador, snap)), c.ids) << c.borrador;

    const QList<Opcion> todas = VistaChat::sugerencias("/", snap);
    EXPECT_EQ(todas[0], (Opcion{"zentu", std::nullopt, "Zentu", "tu asistente"}));
    EXPECT_EQ(todas[3], (Opcion{"3", QString("ventas_norte"), "Ventas norte", "ventas"}));
    EXPECT_EQ(todas[4].etiqueta, "Soporte tecnico");
    EXPECT_EQ(todas[1].detalle, "atención");
    EXPECT_EQ(ids(VistaChat::sugerencias("/", Instantanea::vacia())), QStringList({"zentu"}));
    EXPECT_EQ(VistaChat::sugerencias("/otro", snap).at(0).detalle, "");
}

TEST(VistaChatPura, NombresCategoriasYColocacion) {
    EXPECT_EQ(VistaChat::nombreVisible(std::nullopt), "Zentu");
    EXPECT_EQ(VistaChat::nombreVisible(QString("ventas_norte")), "Ventas norte");
    EXPECT_EQ(VistaChat::nombreVisible(QString("soporte-tecnico")), "Soporte tecnico");
    EXPECT_EQ(VistaChat::nombreVisible(QString("éxito")), "Éxito");
    for (const auto& [k, v] : std::vector<std::pair<QString, QString>>{
             {"atencion", "atención"}, {"operacion", "operación"}, {"asistente", "asistente"}, {"Ventas", ""}, {"", ""}})
        EXPECT_EQ(VistaChat::categoria(k), v) << k.toStdString();

    const QRectF visible(0, 30, 1920, 1050);
    struct Caso {
        QRectF panel;
        QPointF esperado;
    };
    const QSizeF d(600, 400);
    for (const Caso& c : std::vector<Caso>{{{660, 340, 600, 400}, {660, 340}},    // centred over the panel
                                           {{1700, 900, 200, 100}, {1320, 680}},  // near the bottom-right edge
                                           {{-100, 0, 100, 100}, {0, 30}}})       // beyond the top-left
        EXPECT_EQ(VistaChat::colocarSobre(d, c.panel, visible), c.esperado);
}

// ------------------------------------------------------------------ the card against the service

namespace {

class VistaChatServicio : public ::testing::Test {
protected:
    void SetUp() override {
        Preferencias::almacen().remove("zentu.chatConAgente");
        ASSERT_TRUE(servicio.arrancar(0, {"--ping-intervalo", "300000", "--ping-espera", "300000"}));
        servicio.control("POST", "chat", QJsonObject{{"mensajes", QJsonArray{}}});
        conAgentes(kAgentes).guardar();
        canal = std::make_unique<CanalEnVivo>(Cuenta{servicio.url(), "token-bueno", "d@n.mx", "N"}, reloj);
        chat = std::make_unique<ChatZentu>(*canal, reloj);
        canal->conectar();
        ASSERT_TRUE(esperarHasta([&] { return chat->cargado(); }, 10000));
        vista = std::make_unique<VistaChat>(*chat, [this] { ++cerradas; }, nullptr, Esquema::claro, reloj);
        vista->resize(428, 620);
        vista->show();
        girar(20);
    }
    void TearDown() override {
        vista.reset();
        chat.reset();
        canal.reset();
        if (auto f = Instantanea::archivo()) QFile::remove(*f);
        Preferencias::almacen().remove("zentu.chatConAgente");
    }
    QJsonArray enviados() {
        QJsonArray r;
        for (const auto& e : servicio.eventos())
            if (e.toObject().value("evento").toString() == "chat:send") r.append(e.toObject().value("args").toArray().at(0));
        return r;
    }
    QString archivo(const QString& nombre, const QByteArray& datos = "x") {
        const QString ruta = dir.path() + "/" + nombre;
        QFile f(ruta);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(datos);
        return ruta;
    }
    void soltar(const QList<QUrl>& urls, QPoint donde) {
        QMimeData datos;
        datos.setUrls(urls);
        QDragEnterEvent entra(donde, Qt::CopyAction, &datos, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(vista.get(), &entra);
        EXPECT_TRUE(entra.isAccepted());
        EXPECT_TRUE(vista->soltandoEncima());
        QDropEvent suelta(QPointF(donde), Qt::CopyAction, &datos, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(vista.get(), &suelta);
        EXPECT_FALSE(vista->soltandoEncima());
    }
    // Types text as key presses carrying it (QTest's helper only knows ASCII).
    void teclear(const QString& texto) {
        for (const QChar c : texto) {
            QKeyEvent pulsa(QEvent::KeyPress, c == u' ' ? Qt::Key_Space : Qt::Key_unknown, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(vista->campo(), &pulsa);
            QKeyEvent suelta(QEvent::KeyRelease, c == u' ' ? Qt::Key_Space : Qt::Key_unknown, Qt::NoModifier, QString(c));
            QCoreApplication::sendEvent(vista->campo(), &suelta);
        }
    }
    void tecla(Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(vista->campo(), k, m); }

    RelojVirtual reloj;
    ServicioSimulado servicio;
    QTemporaryDir dir;
    std::unique_ptr<CanalEnVivo> canal;
    std::unique_ptr<ChatZentu> chat;
    std::unique_ptr<VistaChat> vista;
    int cerradas = 0;
};

}  // namespace

TEST_F(VistaChatServicio, ReturnEnviaYShiftReturnParteLaLinea) {
    // Without an error there is no error line, not even an empty band above the composer.
    EXPECT_TRUE(vista->lineaError()->isHidden());
    tecla(Qt::Key_Return);  // nothing to send
    teclear("   ");
    EXPECT_FALSE(vista->botonEnviar()->isEnabled());
    tecla(Qt::Key_Return);
    EXPECT_TRUE(enviados().isEmpty());

    vista->campo()->clear();
    teclear("hola");
    tecla(Qt::Key_Return, Qt::ShiftModifier);
    teclear("mundo");
    EXPECT_EQ(chat->borrador(), "hola\nmundo");
    EXPECT_TRUE(vista->botonEnviar()->isEnabled());
    EXPECT_TRUE(enviados().isEmpty());
    tecla(Qt::Key_Return);
    EXPECT_TRUE(vista->enviando());
    ASSERT_TRUE(esperarHasta([&] { return !vista->enviando(); }));
    EXPECT_EQ(enviados().at(0).toObject(), QJsonObject({{"text", "hola\nmundo"}}));
    EXPECT_EQ(chat->borrador(), "");
    EXPECT_EQ(vista->campo()->toPlainText(), "");
    EXPECT_FALSE(vista->error());
    EXPECT_TRUE(vista->lineaError()->isHidden());

    // Refused: the text stays and the error line says so.
    servicio.guionAck("chat:send", QJsonArray{QJsonObject{{"ok", false}}});
    teclear("otra");
    tecla(Qt::Key_Return);
    ASSERT_TRUE(esperarHasta([&] { return !vista->enviando(); }));
    EXPECT_EQ(vista->error(), VistaChat::kErrorEnvio);
    EXPECT_FALSE(vista->lineaError()->isHidden());
    EXPECT_EQ(chat->borrador(), "otra");
}

TEST_F(VistaChatServicio, SelectorConFlechasYReturn) {
    teclear("/ven");
    ASSERT_EQ(ids(vista->sugerencias()), QStringList({"3", "6"}));
    EXPECT_FALSE(vista->selector()->isHidden());
    tecla(Qt::Key_Down);
    tecla(Qt::Key_Down);
    EXPECT_EQ(vista->marcada(), 1);
    for (int i = 0; i < 3; ++i) tecla(Qt::Key_Up);
    EXPECT_EQ(vista->marcada(), 0);
    tecla(Qt::Key_Down);
    teclear("t");  // any change of the text goes back to the first row
    EXPECT_EQ(vista->marcada(), 0);
    EXPECT_EQ(ids(vista->sugerencias()), QStringList({"3", "6"}));
    tecla(Qt::Key_Down);
    tecla(Qt::Key_Return);
    EXPECT_EQ(chat->borrador(), "");
    EXPECT_TRUE(vista->selector()->isHidden());
    ASSERT_TRUE(esperarHasta([&] { return chat->conAgente() == std::optional<QString>("Ventura"); }));
    EXPECT_EQ(enviados().at(0).toObject(), QJsonObject({{"text", "@Ventura"}}));
    EXPECT_EQ(vista->titulo()->text(), "Ventura");
    EXPECT_FALSE(vista->botonVolver()->isHidden());

    // The current agent's row says "ahora"; a refused switch leaves an empty composer and the error.
    teclear("/");
    EXPECT_EQ(vista->sugerencias().size(), 7);
    servicio.guionAck("chat:send", QJsonArray{QJsonObject{{"ok", false}}});
    tecla(Qt::Key_Return);  // the coordinator's row
    ASSERT_TRUE(esperarHasta([&] { return vista->error().has_value(); }));
    EXPECT_EQ(vista->error(), VistaChat::kErrorAgente);
    EXPECT_EQ(chat->borrador(), "");
    EXPECT_EQ(chat->conAgente(), std::optional<QString>("Ventura"));
    EXPECT_TRUE(vista->campo()->hasFocus() || QApplication::focusWidget() == nullptr);
}

// After every pick the composer's placeholder names the agent written to, on the screen (the field
// repaints it) and whole at the panel's default width.
TEST_F(VistaChatServicio, ElMarcadorNombraAlAgenteTrasCadaEleccion) {
    QPlainTextEdit* campo = vista->campo();
    struct AlPintar : QObject {
        QPlainTextEdit* campo = nullptr;
        QString visto;  // the placeholder the field showed at its last paint
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint && campo->document()->isEmpty()) visto = campo->placeholderText();
            return false;
        }
    } alPintar;
    alPintar.campo = campo;
    campo->viewport()->installEventFilter(&alPintar);
    auto elegir = [&](const QString& texto) {
        teclear(texto);
        tecla(Qt::Key_Return);
    };
    struct Paso {
        std::function<void()> hacer;
        std::optional<QString> agente;
        QString nombre;
    };
    const std::vector<Paso> pasos = {
        {[&] { elegir("/ventura"); }, "Ventura", "Ventura"},
        {[&] { QTest::mouseClick(vista->botonVolver(), Qt::LeftButton); }, std::nullopt, "Zentu"},
        {[&] { elegir("/ventas_norte"); }, "ventas_norte", "Ventas norte"},
        {[&] { elegir("/zen"); }, std::nullopt, "Zentu"},
    };
    for (const Paso& paso : pasos) {
        SCOPED_TRACE(paso.nombre.toStdString());
        paso.hacer();
        ASSERT_TRUE(esperarHasta([&] { return chat->conAgente() == paso.agente; }));
        const QString marcador = "Escríbele a " + paso.nombre + "  ·  / para elegir agente";
        EXPECT_EQ(campo->placeholderText(), marcador);
        EXPECT_TRUE(esperarHasta([&] { return alPintar.visto == marcador; }, 2000)) << alPintar.visto.toStdString();
        // Every word of it fits in the field, wrapped as the field draws it.
        const QFontMetricsF fm(campo->font());
        const QRectF ocupa = fm.boundingRect(QRectF(0, 0, campo->viewport()->width(), 1e6), Qt::TextWordWrap, marcador);
        EXPECT_GE(campo->viewport()->height() + 1, ocupa.height()) << campo->viewport()->size().width();
    }
    EXPECT_TRUE(vista->grab().toImage().save(pruebas::carpetaArtefactos("chat") + "/vista-chat-marcador-agente.png"));
}

TEST_F(VistaChatServicio, CabeceraYVolver) {
    EXPECT_EQ(vista->titulo()->text(), "Zentu");
    EXPECT_TRUE(vista->botonVolver()->isHidden());
    servicio.emitir("chat:agente", QJsonArray{QJsonObject{{"agente", "soporte-tecnico"}}});
    ASSERT_TRUE(esperarHasta([&] { return chat->conAgente().has_value(); }));
    EXPECT_EQ(vista->titulo()->text(), "Soporte tecnico");
    EXPECT_FALSE(vista->botonVolver()->isHidden());
    EXPECT_EQ(vista->campo()->placeholderText(), "Escríbele a Soporte tecnico  ·  / para elegir agente");
    QTest::mouseClick(vista->botonVolver(), Qt::LeftButton);
    ASSERT_TRUE(esperarHasta([&] { return !chat->conAgente().has_value(); }));
    EXPECT_EQ(enviados().at(0).toObject(), QJsonObject({{"text", "/zentu"}}));
    EXPECT_TRUE(vista->botonVolver()->isHidden());

    QTest::keyClick(vista.get(), Qt::Key_Escape);
    EXPECT_EQ(cerradas, 1);
    tecla(Qt::Key_Escape);  // from the composer's field too
    EXPECT_EQ(cerradas, 2);
    QTest::mouseClick(vista->botonCerrar(), Qt::LeftButton);
    EXPECT_EQ(cerradas, 3);
}

TEST_F(VistaChatServicio, SoltarArchivosEnElMargen) {
    QList<QUrl> nueve;
    for (int i = 0; i < 9; ++i) nueve << QUrl::fromLocalFile(archivo(QString("p%1.txt").arg(i)));
    chat->agregar(nueve);
    const QList<QUrl> tres{QUrl::fromLocalFile(archivo("a.txt")), QUrl::fromLocalFile(archivo("b.txt")),
                           QUrl::fromLocalFile(archivo("c.txt"))};
    soltar(tres, QPoint(5, 5));  // on the transparent margin
    EXPECT_EQ(chat->pendientes().size(), 10);
    EXPECT_EQ(chat->pendientes().last(), tres[0]);
    EXPECT_EQ(vista->error(), ChatZentu::kHastaDiez);

    // A drag without files is refused.
    QMimeData texto;
    texto.setText("hola");
    QDragEnterEvent entra(QPoint(100, 100), Qt::CopyAction, &texto, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(vista.get(), &entra);
    EXPECT_FALSE(entra.isAccepted());
}

// What was sent leaves the composer; what was typed or staged during the send stays.
TEST_F(VistaChatServicio, LoEscritoDuranteElEnvioSeQueda) {
    servicio.guionAck("chat:send", QJsonArray{QJsonObject{{"ok", true}}}, 400);
    teclear("hola");
    tecla(Qt::Key_Return);
    ASSERT_TRUE(vista->enviando());
    teclear(" y más");
    tecla(Qt::Key_Return);  // lost while the send is under way
    ASSERT_TRUE(esperarHasta([&] { return !vista->enviando(); }));
    EXPECT_EQ(chat->borrador(), " y más");
    EXPECT_EQ(enviados().size(), 1);

    servicio.guionAck("chat:send", QJsonArray{QJsonObject{{"ok", true}, {"messageIds", QJsonArray{}}}}, 400);
    vista->campo()->clear();
    const QUrl a = QUrl::fromLocalFile(archivo("a.txt")), b = QUrl::fromLocalFile(archivo("b.txt"));
    chat->agregar({a});
    QTest::mouseClick(vista->botonEnviar(), Qt::LeftButton);
    ASSERT_TRUE(vista->enviando());
    soltar({b}, QPoint(200, 300));
    ASSERT_TRUE(esperarHasta([&] { return !vista->enviando(); }));
    EXPECT_EQ(chat->pendientes(), QList<QUrl>({b}));
    EXPECT_EQ(enviados().last().toObject().value("file").toObject().value("name").toString(), "a.txt");
}

TEST_F(VistaChatServicio, SelectorDeArchivos) {
    QList<QUrl> doce;
    for (int i = 0; i < 12; ++i) doce << QUrl::fromLocalFile(archivo(QString("f%1.txt").arg(i)));
    int vistos = 0;
    // Qt's texts in Spanish, as the program has them: the longest headings.
    QTranslator espanol;
    if (espanol.load(QStringLiteral("qtbase_es"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&espanol);
    girar(50);  // the change of language reaches the windows before the dialog is made
    // A desktop whose portal offers no chooser: Qt's dialog, in the home folder.
    vista->elegirEnEscritorio = [](const SelectorArchivos::Pedido&) { return std::optional<QList<QUrl>>(); };
    vista->correrDialogo = [&](QFileDialog& d) -> std::optional<QList<QUrl>> {
        ++vistos;
        EXPECT_EQ(d.fileMode(), QFileDialog::ExistingFiles);
        EXPECT_EQ(d.labelText(QFileDialog::Accept), "Adjuntar");
        EXPECT_EQ(d.windowTitle(), "Elige los archivos que quieres mandar (hasta 10)");
        EXPECT_EQ(d.directory().absolutePath(), QDir::homePath());
        if (vistos == 1) {
            // Its columns each as wide as their heading, once the folder is read.
            d.setViewMode(QFileDialog::Detail);
            d.show();
            auto* lista = d.findChild<QTreeView*>(QStringLiteral("treeView"));
            EXPECT_TRUE(lista);
            if (lista) {
                QHeaderView* h = lista->header();
                // The folder may be empty; its rows, when any, come in on their own time.
                esperarHasta([&] { return lista->model() && lista->model()->rowCount(lista->rootIndex()) > 0; }, 3000);
                girar(200);
                for (int i = 0; i < h->count(); ++i) {
                    if (h->isSectionHidden(i)) continue;
                    const QString titulo = h->model()->headerData(i, Qt::Horizontal).toString();
                    EXPECT_GE(h->sectionSize(i), h->fontMetrics().horizontalAdvance(titulo) + 8) << titulo.toStdString();
                }
            }
            d.grab().save(pruebas::carpetaArtefactos("chat") + "/selector-archivos.png");
            d.hide();
        }
        return vistos == 1 ? std::optional<QList<QUrl>>(doce) : std::nullopt;
    };
    QTest::mouseClick(vista->botonAdjuntar(), Qt::LeftButton);
    EXPECT_EQ(chat->pendientes(), doce.mid(0, 10));
    EXPECT_EQ(vista->error(), ChatZentu::kHastaDiez);
    QTest::mouseClick(vista->botonAdjuntar(), Qt::LeftButton);  // cancelled: nothing changes
    EXPECT_EQ(vistos, 2);
    EXPECT_EQ(chat->pendientes().size(), 10);
    EXPECT_EQ(vista->error(), ChatZentu::kHastaDiez);    QCoreApplication::removeTranslator(&espanol);
}

// Where the desktop offers its own chooser, it is the one asked, for the same files, and Qt's
// dialog does not show.
TEST_F(VistaChatServicio, SelectorDelEscritorio) {
    const QUrl a = QUrl::fromLocalFile(archivo("a.txt"));
    std::vector<SelectorArchivos::Pedido> pedidos;
    vista->elegirEnEscritorio = [&](const SelectorArchivos::Pedido& p) {
        pedidos.push_back(p);
        return std::optional<QList<QUrl>>(pedidos.size() == 1 ? QList<QUrl>{a} : QList<QUrl>{});
    };
    vista->correrDialogo = [&](QFileDialog&) -> std::optional<QList<QUrl>> {
        ADD_FAILURE() << "el diálogo de Qt se abrió";
        return std::nullopt;
    };
    QTest::mouseClick(vista->botonAdjuntar(), Qt::LeftButton);
    EXPECT_EQ(chat->pendientes(), QList<QUrl>({a}));
    QTest::mouseClick(vista->botonAdjuntar(), Qt::LeftButton);  // cancelled there: nothing changes
    EXPECT_EQ(chat->pendientes(), QList<QUrl>({a}));
    ASSERT_EQ(pedidos.size(), 2u);
    EXPECT_EQ(pedidos[0].titulo, "Elige los archivos que quieres mandar (hasta 10)");
    EXPECT_EQ(pedidos[0].boton, "Adjuntar");
    EXPECT_TRUE(pedidos[0].varios);
    EXPECT_EQ(pedidos[0].carpeta, QDir::homePath());
}

// A dropped pipe or folder is refused on the spot with the send's text and never becomes a chip;
// a refusal at send time leaves the error line when its file is taken out.
TEST_F(VistaChatServicio, LoQueNoSePuedeEnviarSeRechazaAlSoltarYSuErrorSeVaConEl) {
    const QString fifo = dir.path() + "/tubo";
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("carpeta"));
    for (const QString& ruta : {fifo, dir.path() + "/carpeta"}) {
        soltar({QUrl::fromLocalFile(ruta)}, QPoint(200, 300));
        EXPECT_EQ(vista->error(), ChatZentu::kNoSeLeyo) << ruta.toStdString();
        EXPECT_FALSE(vista->lineaError()->isHidden());
        EXPECT_TRUE(chat->pendientes().isEmpty());
    }
    EXPECT_TRUE(vista->grab().toImage().save(pruebas::carpetaArtefactos("chat") + "/vista-chat-rechazo-al-soltar.png"));

    // Two files of 30 MB each are fine alone, not together.
    auto grande = [&](const QString& nombre) {
        QFile f(dir.path() + "/" + nombre);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        EXPECT_TRUE(f.resize(30LL << 20));
        return QUrl::fromLocalFile(f.fileName());
    };
    const QUrl a = grande("a.bin"), b = grande("b.bin");
    soltar({a}, QPoint(200, 300));
    EXPECT_FALSE(vista->error());
    soltar({b}, QPoint(200, 300));
    ASSERT_EQ(chat->pendientes().size(), 2);
    QTest::mouseClick(vista->botonEnviar(), Qt::LeftButton);
    ASSERT_TRUE(esperarHasta([&] { return !vista->enviando(); }));
    EXPECT_EQ(vista->error(), ChatZentu::kJuntosGrandes);
    girar(20);
    EXPECT_TRUE(vista->grab().toImage().save(pruebas::carpetaArtefactos("chat") + "/vista-chat-juntos-grandes.png"));
    QTest::mouseClick(vista->fichas()->findChildren<QPushButton*>("quitar").at(1), Qt::LeftButton);
    EXPECT_EQ(chat->pendientes(), QList<QUrl>({a}));
    EXPECT_FALSE(vista->error());
    EXPECT_TRUE(vista->lineaError()->isHidden());
    girar(20);
    EXPECT_TRUE(vista->grab().toImage().save(pruebas::carpetaArtefactos("chat") + "/vista-chat-quitado.png"));
}

TEST_F(VistaChatServicio, FichasYNota) {
    QList<QUrl> abiertos;
    vista->abrirArchivo = [&](const QUrl& u) { abiertos << u; };
    const QUrl a = QUrl::fromLocalFile(archivo("informe.txt")), b = QUrl::fromLocalFile(archivo("notas.md"));
    EXPECT_TRUE(vista->fichas()->isHidden());
    chat->agregar({a});
    girar(20);
    EXPECT_FALSE(vista->fichas()->isHidden());
    auto textos = [&] {
        QStringList r;
        for (auto* l : vista->fichas()->findChildren<QLabel*>()) r << l->text();
        return r.join("|");
    };
    EXPECT_FALSE(textos().contains("archivos · van juntos"));
    chat->agregar({b});
    girar(20);
    EXPECT_TRUE(textos().contains("2 archivos · van juntos en un solo mensaje"));
    QPushButton* quitar = vista->fichas()->findChildren<QPushButton*>("quitar").at(0);
    QTest::mouseClick(quitar, Qt::LeftButton);
    EXPECT_EQ(chat->pendientes(), QList<QUrl>({b}));
    girar(20);
    EXPECT_FALSE(textos().contains("archivos · van juntos"));
    QTest::mouseClick(vista->fichas()->findChildren<Miniatura*>().at(0), Qt::LeftButton);
    EXPECT_EQ(abiertos, QList<QUrl>({b}));

    chat->setPendientes({});
    EXPECT_TRUE(vista->fichas()->isHidden());

    auto nota = [&] {
        QStringList r;
        for (auto* l : vista->nota()->findChildren<QLabel*>()) r << l->text() << l->toolTip();
        return r.join("|");
    };
    EXPECT_TRUE(vista->nota()->isHidden());
    servicio.emitir("chat:agente", QJsonArray{QJsonObject{{"agente", "ventas_norte"}}});
    ASSERT_TRUE(esperarHasta([&] { return chat->conAgente().has_value(); }));
    chat->setGrabandoNota(true);
    girar(20);
    EXPECT_FALSE(vista->nota()->isHidden());
    EXPECT_TRUE(nota().contains("Grabando una nota para Ventas norte"));
    // The whole line, how to send the note included, readable at the panel's default width.
    {
        auto* linea = vista->nota()->findChild<QLabel*>("lineaNota");
        ASSERT_TRUE(linea);
        EXPECT_TRUE(linea->text().contains("· haz una pausa o toca el micrófono para enviarla"));
        EXPECT_FALSE(linea->text().contains("…"));
        EXPECT_GE(linea->height(), linea->heightForWidth(linea->width()));
        EXPECT_LE(linea->geometry().right(), vista->nota()->width());
        EXPECT_TRUE(vista->grab().toImage().save(pruebas::carpetaArtefactos("chat") + "/vista-chat-nota-de-voz.png"));
    }
    chat->setGrabandoNota(false);
    chat->setTranscribiendo(true);
    girar(20);
    EXPECT_TRUE(nota().contains("Transcribiendo tu nota…"));
    chat->setTranscribiendo(false);
    EXPECT_TRUE(vista->nota()->isHidden());
}

TEST_F(VistaChatServicio, DesplazamientoYBurbujasUnaVez) {
    QList<ChatZentu::Mensaje> historia;
    const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1'750'000'000, Qt::UTC);
    for (int i = 0; i < 200; ++i)
        historia.append({QString("h%1").arg(i), i % 2 == 0, QString("Mensaje número %1").arg(i), t0.addSecs(i * 60), std::nullopt,
                         i % 2 == 0 ? "Zentu" : ""});
    chat->setMensajes(historia);
    // Built lazily from the newest: one batch now.
    EXPECT_EQ(vista->burbujas().size(), VistaChat::kTanda);
    EXPECT_EQ(vista->burbujas().last()->mensaje().id, "h199");
    girar(30);
    QScrollBar* barra = vista->lista()->verticalScrollBar();
    reloj.avanzar(0.4);
    girar(300);
    EXPECT_GT(barra->maximum(), 0);
    EXPECT_EQ(barra->value(), barra->maximum());

    // The owner scrolls up to the top: the next older batch is built above, and what was on
    // screen stays on screen.
    barra->setValue(0);
    EXPECT_EQ(vista->burbujas().size(), 2 * VistaChat::kTanda);
    EXPECT_EQ(vista->burbujas().first()->mensaje().id, QString("h%1").arg(200 - 2 * VistaChat::kTanda));
    EXPECT_GT(barra->value(), 0);
    const int creadas = vista->burbujasCreadas();
    EXPECT_EQ(creadas, 2 * VistaChat::kTanda);

    // A new message brings the list back to the end.
    servicio.emitir("messages:new", QJsonArray{QJsonObject{
                                        {"phone", "dashboard"},
                                        {"message", QJsonObject{{"messageId", "n1"}, {"text", "nuevo"}, {"fromMe", true},
                                                                {"timestamp", "2030-01-01T00:00:00Z"}}}}});
    ASSERT_TRUE(esperarHasta([&] { return chat->mensajes().size() == 201; }));
    EXPECT_EQ(vista->burbujasCreadas(), creadas + 1);  // the others were kept
    girar(20);
    reloj.avanzar(0.4);
    girar(30);
    EXPECT_EQ(barra->value(), barra->maximum());

    // Opening the panel again goes to the end without animation, even with nothing new.
    barra->setValue(0);
    chat->setVecesAbierto(chat->vecesAbierto() + 1);
    reloj.avanzar(0);
    girar(30);
    EXPECT_EQ(barra->value(), barra->maximum());

    // Typing row.
    EXPECT_TRUE(vista->filaEscribiendo()->isHidden());
    chat->setEscribiendo(true);
    EXPECT_FALSE(vista->filaEscribiendo()->isHidden());
}

// A long conversation keeps views only for a stretch around what is on screen: scrolling to
// the oldest message and back, and hundreds of pushes, never hold more than kMaximo bubbles,
// and what the owner sees stays put while bubbles come and go around it.
TEST_F(VistaChatServicio, BurbujasLejanasSeSueltan) {
    auto vivas = [] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        int n = 0;
        for (QWidget* w : QApplication::allWidgets())
            if (qobject_cast<Burbuja*>(w)) ++n;
        return n;
    };
    QList<ChatZentu::Mensaje> historia;
    const QDateTime t0 = QDateTime::fromSecsSinceEpoch(1'750'000'000, Qt::UTC);
    for (int i = 0; i < 1000; ++i)
        historia.append({QString("h%1").arg(i), i % 2 == 0, QString("Mensaje número %1").arg(i), t0.addSecs(i * 60),
                         std::nullopt, i % 2 == 0 ? "Agente Ventas" : ""});
    chat->setMensajes(historia);
    girar(30);
    reloj.avanzar(0.4);
    girar(50);
    QScrollBar* barra = vista->lista()->verticalScrollBar();
    ASSERT_EQ(barra->value(), barra->maximum());

    // Up to the oldest message: the bubble at the top of the view keeps its place on screen as
    // older ones are built above it and the newest are let go below.
    for (int paso = 0; paso < 100 && vista->burbujas().first()->mensaje().id != "h0"; ++paso) {
        QPointer<Burbuja> arriba = vista->burbujas().first();
        const int enPantalla = arriba->y();  // at the top of the list, scrolled to 0
        barra->setValue(0);
        ASSERT_TRUE(arriba);
        EXPECT_EQ(arriba->y() - barra->value(), enPantalla) << paso;
        EXPECT_LE(vista->burbujas().size(), VistaChat::kMaximo);
        EXPECT_LE(vivas(), VistaChat::kMaximo);
    }
    EXPECT_EQ(vista->burbujas().first()->mensaje().id, "h0");
    girar(30);
    EXPECT_TRUE(vista->grab().toImage().save(pruebas::carpetaArtefactos("chat") + "/vista-chat-larga-arriba.png"));

    // Back down to the newest: the bubbles let go are built again.
    for (int paso = 0; paso < 100 && vista->burbujas().last()->mensaje().id != "h999"; ++paso) {
        barra->setValue(barra->maximum());
        EXPECT_LE(vivas(), VistaChat::kMaximo);
    }
    EXPECT_EQ(vista->burbujas().last()->mensaje().id, "h999");
    girar(30);
    reloj.avanzar(0.4);
    girar(30);

    // Pushes at the end: each adds its bubble and the oldest go.
    const int antes = vista->burbujasCreadas();
    for (int i = 0; i < 200; ++i)
        servicio.emitir("messages:new",
                        QJsonArray{QJsonObject{{"phone", "dashboard"},
                                               {"message", QJsonObject{{"messageId", QString("n%1").arg(i)},
                                                                       {"text", QString("Nuevo %1").arg(i)},
                                                                       {"fromMe", false},
                                                                       {"timestamp", "2030-01-01T00:00:00Z"}}}}});
    ASSERT_TRUE(esperarHasta([&] { return chat->mensajes().size() == 1200; }));
    EXPECT_EQ(vista->burbujasCreadas(), antes + 200);
    EXPECT_EQ(vista->burbujas().last()->mensaje().id, "n199");
    EXPECT_LE(vista->burbujas().size(), VistaChat::kMaximo);
    EXPECT_LE(vivas(), VistaChat::kMaximo);
    girar(30);
    reloj.avanzar(0.4);
    girar(30);
    EXPECT_EQ(barra->value(), barra->maximum());

    // Photos pushed one by one still share their bubble: the album grows in place. (6 s apart:
    // captionless messages of one side closer than 5 s count as one.)
    for (int i = 0; i < 3; ++i)
        servicio.emitir("messages:new",
                        QJsonArray{QJsonObject{{"phone", "dashboard"},
                                               {"message", QJsonObject{{"messageId", QString("f%1").arg(i)},
                                                                       {"type", "image"},
                                                                       {"mediaUrl", "/u/foto.png"},
                                                                       {"fromMe", false},
                                                                       {"timestamp", QString("2030-01-01T00:01:%1Z").arg(6 * i, 2, 10, QChar('0'))}}}}});
    ASSERT_TRUE(esperarHasta([&] { return chat->mensajes().size() == 1203; }));
    auto* mosaico = qobject_cast<Mosaico*>(vista->burbujas().last()->areaAdjunto());
    ASSERT_TRUE(mosaico);
    EXPECT_EQ(mosaico->imagenes().size(), 3);
    EXPECT_EQ(vista->burbujas().last()->mensaje().id, "f0");
    EXPECT_EQ(vista->burbujas().at(vista->burbujas().size() - 2)->mensaje().id, "n199");
    chat->setEscribiendo(true);
    girar(30);
    reloj.avanzar(0.4);
    girar(30);
    EXPECT_EQ(barra->value(), barra->maximum());
    EXPECT_TRUE(vista->grab().toImage().save(pruebas::carpetaArtefactos("chat") + "/vista-chat-larga-final.png"));
}

// A burst of pushes (the service sends a hundred a second) is shown in batches: the list is laid
// out and painted once a batch, not at every message, and ends at the newest.
TEST_F(VistaChatServicio, UnaRafagaSeMuestraEnTandas) {
    struct Pinturas : QObject {
        int n = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint) ++n;
            return false;
        }
    } pinturas;
    vista->lista()->viewport()->installEventFilter(&pinturas);
    girar(200);  // a quiet spell: the first message shows at once
    QJsonArray lista;
    for (int i = 0; i < 60; ++i)
        lista.append(QJsonArray{QJsonObject{
            {"phone", "dashboard"},
            {"message", QJsonObject{{"messageId", QString("r%1").arg(i)}, {"text", QString("Ráfaga %1").arg(i)},
                                    {"fromMe", false}, {"timestamp", "2030-01-01T00:00:00Z"}}}}});
    pinturas.n = 0;
    QElapsedTimer t;
    t.start();
    servicio.control("POST", "rafaga", QJsonObject{{"evento", "messages:new"}, {"lista", lista}, {"porSegundo", 100}});
    // Bubbles are built as their messages come; until their batch places them in the list, none
    // shows anywhere the owner could see it.
    QWidget* contenido = vista->lista()->widget();
    int esperando = 0;
    const auto fueraDeVista = [&] {
        for (Burbuja* b : contenido->findChildren<Burbuja*>(Qt::FindDirectChildrenOnly))
            if (b->isVisible() && contenido->layout()->indexOf(b) < 0) {
                ++esperando;
                if (b->geometry().bottom() >= 0) return false;
            }
        return true;
    };
    // The clock of the list's scrolling runs as the real one does.
    bool siempreFuera = true;
    ASSERT_TRUE(esperarHasta([&] {
        reloj.avanzar(0.01);
        siempreFuera = siempreFuera && fueraDeVista();
        return chat->mensajes().size() == 60;
    }, 20000));
    const qint64 ms = t.elapsed();
    EXPECT_TRUE(siempreFuera);
    EXPECT_GT(esperando, 0);
    girar(150);
    reloj.avanzar(0.4);
    girar(30);
    // Two paints a batch at most (its layout, its jump to the end), and the first message's.
    EXPECT_LE(pinturas.n, 2 * int(ms / VistaChat::kRafagaMs + 1) + 4) << ms << " ms";
    EXPECT_EQ(vista->burbujas().size(), 60);
    EXPECT_EQ(vista->burbujas().last()->mensaje().id, "r59");
    // Once shown, every bubble is in the list, in order, one below the other.
    int visibles = 0, abajo = 0;
    for (Burbuja* b : vista->burbujas()) {
        EXPECT_GE(b->y(), abajo) << b->mensaje().id.toStdString();
        abajo = b->geometry().bottom();
    }
    for (Burbuja* b : contenido->findChildren<Burbuja*>(Qt::FindDirectChildrenOnly)) visibles += b->isVisible();
    EXPECT_EQ(visibles, 60);
    QScrollBar* barra = vista->lista()->verticalScrollBar();
    EXPECT_EQ(barra->value(), barra->maximum());
}

// ------------------------------------------------------------------ pictures

namespace {

QString foto(const QString& carpeta, const QString& nombre, QColor color, QSize tam) {
    QImage img(tam, QImage::Format_RGB32);
    img.fill(color);
    QPainter p(&img);
    p.setBrush(color.lighter(140));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QRect(QPoint(tam.width() / 4, tam.height() / 4), tam / 2));
    p.end();
    const QString ruta = carpeta + "/" + nombre;
    img.save(ruta);
    return ruta;
}

QString hacerPdf(const QString& carpeta, const QString& nombre) {
    const QString ruta = carpeta + "/" + nombre;
    QPdfWriter w(ruta);
    QPainter p(&w);
    p.setFont(QFont("DejaVu Sans", 28));
    p.drawText(QRect(0, 0, w.width(), w.height() / 4), Qt::AlignCenter, "Presupuesto 2026");
    p.end();
    return ruta;
}

}  // namespace

TEST_F(VistaChatServicio, Dibujos) {
    vista.reset();
    const QDateTime t0 = QDateTime::currentDateTimeUtc().addSecs(-600);
    auto m = [&](const QString& id, bool deZentu, const QString& texto, int s, std::optional<ChatZentu::Adjunto> a = {},
                 const QString& autor = {}) {
        return ChatZentu::Mensaje{id, deZentu, texto, t0.addSecs(s), a, deZentu ? autor : QString()};
    };
    auto img = [&](const QString& nombre, QColor c) {
        return ChatZentu::Adjunto{QUrl::fromLocalFile(foto(dir.path(), nombre, c, QSize(800, 600))), nombre, true, false};
    };
    const ChatZentu::Adjunto pdf{QUrl("https://zentu.example/api/files/view/eA?token=t"), "informe de ventas.pdf", false, false};
    const QList<ChatZentu::Mensaje> conversacion = {
        m("1", false, "¿Cómo fue la semana en el local?", 0),
        m("2", true, "Muy bien: **12 %** más de ventas que la anterior. Te dejo el informe.", 20, {}, "Agente Ventas"),
        m("3", true, "", 21, pdf, "Agente Ventas"),
        m("4", false, "", 60, img("local1.jpg", QColor(70, 120, 160))),
        m("5", false, "", 61, img("local2.jpg", QColor(160, 110, 60))),
        m("6", false, "", 62, img("local3.jpg", QColor(90, 150, 90))),
        m("7", false, "Fotos del escaparate nuevo, ¿qué te parecen?", 90),
    };
    for (const Esquema e : {Esquema::claro, Esquema::oscuro}) {
        const QString sufijo = e == Esquema::oscuro ? "oscuro" : "claro";
        chat->setMensajes(conversacion);
        chat->setEscribiendo(true);
        chat->setBorrador(QString());
        chat->setPendientes({});
        VistaChat v(*chat, [] {}, nullptr, e, reloj);
        v.resize(428, 680);
        v.show();
        ASSERT_TRUE(esperarHasta([&] {
            for (auto* b : v.burbujas())
                if (!b->imagenesListas()) return false;
            return true;
        }));
        reloj.avanzar(0.4);
        girar(100);
        EXPECT_EQ(v.lista()->verticalScrollBar()->value(), v.lista()->verticalScrollBar()->maximum());
        EXPECT_TRUE(v.grab().toImage().save(pruebas::carpetaArtefactos("chat") + "/vista-chat-" + sufijo + ".png"));

        // The picker open, over the same conversation.
        chat->setEscribiendo(false);
        v.campo()->setFocus();
        QTest::keyClicks(v.campo(), "/");
        QTest::keyClick(v.campo(), Qt::Key_Down);
        girar(50);
        EXPECT_FALSE(v.selector()->isHidden());
        EXPECT_TRUE(v.grab().toImage().save(pruebas::carpetaArtefactos("chat") + "/vista-chat-selector-" + sufijo + ".png"));

        // Two staged files and a voice note being recorded.
        chat->setBorrador("Aquí van los dos");
        chat->setPendientes({QUrl::fromLocalFile(foto(dir.path(), "escaparate-de-la-tienda-nueva.jpg", QColor(200, 80, 90), QSize(400, 300))),
                             QUrl::fromLocalFile(hacerPdf(dir.path(), "presupuesto 2026.pdf"))});
        chat->setGrabandoNota(true);
        girar(300);
        reloj.avanzar(0.4);
        girar(50);
        EXPECT_EQ(v.width(), 428);  // nothing widens the card
        EXPECT_TRUE(v.grab().toImage().save(pruebas::carpetaArtefactos("chat") + "/vista-chat-archivos-" + sufijo + ".png"));
        chat->setGrabandoNota(false);
        chat->setPendientes({QUrl::fromLocalFile(hacerPdf(dir.path(), "presupuesto 2026.pdf"))});
        girar(200);
        EXPECT_TRUE(v.grab().toImage().save(pruebas::carpetaArtefactos("chat") + "/vista-chat-un-archivo-" + sufijo + ".png"));
    }
}
