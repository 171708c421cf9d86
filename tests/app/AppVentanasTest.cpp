// The chat panel's show and hide, text and files put into the chat, the decision card's width,
// the screenshot and the zone capture into the chat, over fakes and virtual time.
#include "Falsos.h"

#include "comun/Ayudas.h"
#include "plataforma/CapturaZona.h"
#include "plataforma/Preferencias.h"
#include "zentu/ajustes/ModeloAjustes.h"
#include "zentu/ajustes/VistaAjustes.h"
#include "zentu/app/EntornoEscritorio.h"
#include "zentu/escritorio/ModeloDudas.h"
#include "zentu/escritorio/VistaAgentesFlotante.h"
#include "zentu/isla/Permisos.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using falsos::cuentaDePrueba;
using Modo = App::Modo;

namespace {

class Ventanas : public ::testing::Test {
protected:
    void SetUp() override {
        Preferencias::almacen().clear();
        Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
        Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
        e.guardada = cuentaDePrueba();
        app = std::make_unique<App>(e);
        app->arrancar();
        e.traza.olvidar();
    }
    void TearDown() override { Preferencias::almacen().clear(); }
    void avanzar(double s) {
        e.relojV.avanzar(s);
        QCoreApplication::processEvents();
    }

    falsos::Entorno e;
    std::unique_ptr<App> app;
    falsos::Lineas lineas;
};

TEST(AnchoDudas, LaMitadDeLaPantallaEntreQuinientosSesentaYMilCien) {
    const std::pair<std::optional<double>, double> casos[] = {
        {1400, 700}, {1000, 560}, {2600, 1100}, {std::nullopt, 600}, {1120, 560}, {2200, 1100}};
    for (const auto& [visible, ancho] : casos) EXPECT_DOUBLE_EQ(App::anchoDudas(visible), ancho);
}

TEST_F(Ventanas, ElChatSeMuestraYSeEscondeConLaIsla) {
    app->alternarChat();
    EXPECT_EQ(e.traza.pasos.mid(0, 6), (QStringList{"panel del chat", "isla colocar", "isla mostrar", "cue aparece",
                                                    "chat colocar", "chat mostrar"}));
    EXPECT_EQ(app->voz.fase(), Fase::reposo);
    EXPECT_TRUE(app->voz.modoChat());
    EXPECT_EQ(e.chat->veces, 1);
    EXPECT_TRUE(e.traza.pasos.contains("chat cargar"));

    // Closing the idle chat sends the island away 0.2 s later.
    app->alternarChat();
    EXPECT_FALSE(e.panelChat->enPantalla());
    EXPECT_FALSE(app->voz.modoChat());
    avanzar(0.19);
    EXPECT_TRUE(app->voz.visible());
    avanzar(0.02);
    EXPECT_FALSE(app->voz.visible());

    // Closing it during a call, or with a warning showing, keeps the island.
    avanzar(1);
    app->alternarChat();
    app->alternarLlamada();
    app->cerrarChat();
    avanzar(1);
    EXPECT_TRUE(app->voz.visible());
    app->alternarLlamada();
    avanzar(1);
    app->alternarChat();
    app->mostrarAviso(QStringLiteral("Algo falló."));
    app->cerrarChat();
    avanzar(0.5);
    EXPECT_TRUE(app->voz.visible());
    avanzar(4);
    EXPECT_FALSE(app->voz.visible());
}

TEST_F(Ventanas, SinCuentaElChatAbreElEnlace) {
    app->desenlazar();
    e.traza.olvidar();
    app->alternarChat();
    app->abrirChatCon(QStringLiteral("hola"), std::nullopt);
    EXPECT_EQ(e.traza.pasos, (QStringList{"enlace mostrar", "enlace mostrar"}));
}

TEST_F(Ventanas, TextoYArchivoAlChat) {
    app->abrirChatCon(QStringLiteral("primero"), std::nullopt);
    EXPECT_EQ(e.chat->borrador_, QStringLiteral("primero"));
    EXPECT_TRUE(e.panelChat->enPantalla());
    e.traza.olvidar();
    // With the panel on screen it only takes the keyboard, it does not close.
    app->abrirChatCon(QStringLiteral("> citado\n\n"), QStringLiteral("/tmp/a.pdf"));
    EXPECT_EQ(e.chat->borrador_, QStringLiteral("primero\n\n> citado\n\n"));
    EXPECT_EQ(e.chat->pendientes, QStringList{"/tmp/a.pdf"});
    EXPECT_EQ(e.traza.pasos, QStringList{"chat clave"});
    EXPECT_TRUE(e.panelChat->enPantalla());
}

TEST_F(Ventanas, LaCapturaDePantallaAlChat) {
    e.captura = CapturaDePantalla{QStringLiteral("/tmp/zentu-pantalla.jpg"), false, {}};
    app->verPantallaEnChat();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return e.chat && !e.chat->pendientes.isEmpty(); }));
    EXPECT_EQ(e.chat->pendientes, QStringList{"/tmp/zentu-pantalla.jpg"});
    EXPECT_TRUE(e.traza.cues().contains("captura"));

    app->alternarChat();
    app->ocultar();
    avanzar(1);
    e.traza.olvidar();
    e.captura = CapturaDePantalla{std::nullopt, false, QStringLiteral("No encontré qué capturar en la pantalla.")};
    app->verPantallaEnChat();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return app->voz.aviso().has_value(); }));
    EXPECT_EQ(app->voz.aviso(), QStringLiteral("No encontré qué capturar en la pantalla."));
    EXPECT_TRUE(app->voz.visible());

    avanzar(5);
    e.traza.olvidar();
    e.captura = CapturaDePantalla{std::nullopt, true, QStringLiteral("Falta el permiso de grabación de pantalla.")};
    app->verPantallaEnChat();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return e.traza.pasos.contains("pedir permiso de pantalla"); }));
    EXPECT_EQ(app->voz.aviso(), QStringLiteral("Falta el permiso de grabación de pantalla."));
    EXPECT_TRUE(app->voz.visible());
}

// Fake screenshot tools in a folder that stands first on PATH.
class Herramientas {
public:
    Herramientas() : antes_(qgetenv("PATH")) { qputenv("PATH", carpeta_.path().toUtf8()); }
    ~Herramientas() { qputenv("PATH", antes_); }
    // A tool that writes its last argument when `escribe`, and notes its arguments.
    void poner(const QString& nombre, bool escribe) {
        QFile f(carpeta_.path() + "/" + nombre);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QByteArray guion = "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"" +
                           carpeta_.path().toUtf8() + "/argumentos\"\n";
        if (escribe) guion += "for a in \"$@\"; do ultimo=\"$a\"; done\nprintf 'PNG' > \"$ultimo\"\n";
        f.write(guion);
        f.close();
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    QStringList argumentos() const {
        QFile f(carpeta_.path() + "/argumentos");
        if (!f.open(QIODevice::ReadOnly)) return {};
        return QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    }
    QString ruta(const QString& nombre) const { return carpeta_.path() + "/" + nombre; }

private:
    QTemporaryDir carpeta_;
    QByteArray antes_;
};

TEST(CapturaZona, LaPrimeraHerramientaEnElOrdenFijo) {
    Herramientas h;
    EXPECT_FALSE(CapturaZona::herramienta("/x.png"));
    const struct {
        const char* nombre;
        QStringList argumentos;
    } orden[] = {
        {"scrot", {"-s", "/x.png"}},
        {"maim", {"-s", "/x.png"}},
        {"spectacle", {"-r", "-b", "-n", "-o", "/x.png"}},
        {"gnome-screenshot", {"-a", "-f", "/x.png"}},
    };
    // Each tool added wins over the ones before it, as it stands earlier in the order.
    for (const auto& o : orden) {
        h.poner(o.nombre, false);
        const auto elegida = CapturaZona::herramienta("/x.png");
        ASSERT_TRUE(elegida);
        EXPECT_EQ(*elegida, (CapturaZona::Herramienta{h.ruta(o.nombre), o.argumentos}));
    }
}

TEST_F(Ventanas, LaZonaCapturadaVaAlChatYLaCanceladaNo) {
    Herramientas h;
    // None present.
    app->capturarZona();
    EXPECT_EQ(app->voz.aviso(), QStringLiteral("No se pudo capturar la pantalla."));

    // A tool that leaves no file: the owner pressed Esc.
    h.poner("maim", false);
    app->capturarZona();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return lineas.hay("[zona] cancelada"); }));
    EXPECT_FALSE(e.chat && !e.chat->pendientes.isEmpty());

    // One that writes the file: captured, with its cue, staged in the chat.
    h.poner("gnome-screenshot", true);
    app->capturarZona();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return lineas.hay("[zona] capturada"); }));
    ASSERT_TRUE(e.chat);
    ASSERT_EQ(e.chat->pendientes.size(), 1);
    const QString archivo = e.chat->pendientes[0];
    EXPECT_EQ(h.argumentos(), (QStringList{"-a", "-f", archivo}));
    EXPECT_TRUE(QFileInfo(archivo).fileName().startsWith("zentu-zona-"));
    EXPECT_TRUE(e.traza.cues().contains("captura"));
    // In a folder of this user's alone; a second capture in the same second gets its own name.
    EXPECT_EQ(QFileInfo(QFileInfo(archivo).path()).permissions() & 0x0077, QFileDevice::Permissions());
    app->capturarZona();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return e.chat->pendientes.size() == 2; }));
    EXPECT_NE(e.chat->pendientes[1], archivo);
    // Unpairing takes the captures with it.
    app->desenlazar();
    EXPECT_FALSE(QFileInfo::exists(archivo));
}

TEST_F(Ventanas, LasCapturasDeUnaCorridaTerminadaSeBorranAlArrancar) {
    const QString propia = app->carpetaTemporal();
    QFile(propia + "/zentu-zona-1.png").open(QIODevice::WriteOnly);
    const QString vieja = QFileInfo(propia).path() + "/zonas-999999999";
    QDir().mkpath(vieja);
    QFile(vieja + "/zentu-zona-2.png").open(QIODevice::WriteOnly);
    app->limpiarCapturasViejas();
    EXPECT_FALSE(QFileInfo::exists(vieja));
    EXPECT_TRUE(QFileInfo::exists(propia + "/zentu-zona-1.png"));
}

TEST_F(Ventanas, LaZonaSinPermisoAvisa) {
    e.pantallaFunciona = false;
    app->zonaEnChat();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return e.traza.pasos.contains("pedir permiso de pantalla"); }));
    EXPECT_EQ(app->voz.aviso(), QStringLiteral("Falta el permiso de grabación de pantalla."));
}

// A desktop with no screen capture at all (Wayland without a Screenshot portal): every road to a
// capture tells the owner so in the island, in one text, and asks for no permission.
TEST_F(Ventanas, SinCapturaEnElEscritorioCadaCaminoLoDice) {
    const QString texto = QStringLiteral("No se pudo capturar la pantalla: este escritorio no ofrece capturas.");
    Permiso::ponerPantallaOfrecida(false);
    struct Restaurar {
        ~Restaurar() { Permiso::ponerPantallaOfrecida(true); }
    } restaurar;
    e.pantallaFunciona = false;
    e.captura = CapturaDePantalla{std::nullopt, false, texto};
    app->abrirAjustes();
    auto* m = qobject_cast<ModeloAjustes*>(app->modeloAjustes.get());
    ASSERT_NE(m, nullptr);
    const std::vector<std::pair<const char*, std::function<void()>>> caminos = {
        {"atajo de zona", [&] { app->zonaEnChat(); }},
        {"pantalla al chat", [&] { app->verPantallaEnChat(); }},
        {"tarjeta Una zona", [&] { m->accion("zona"); }},
        {"tarjeta Mi pantalla", [&] { m->accion("pantalla"); }},
    };
    for (const auto& [nombre, camino] : caminos) {
        SCOPED_TRACE(nombre);
        avanzar(10);
        app->voz.setAviso(std::nullopt);
        e.traza.olvidar();
        camino();
        ASSERT_TRUE(pruebas::esperarHasta([&] { return app->voz.aviso().has_value(); }));
        EXPECT_EQ(app->voz.aviso(), texto);
        EXPECT_TRUE(app->voz.visible());
        EXPECT_FALSE(e.traza.pasos.contains("pedir permiso de pantalla"));
    }
}

TEST_F(Ventanas, LaTarjetaDeDecisiones) {
    ASSERT_TRUE(e.pendientes);
    e.pendientes->dudas = {QJsonObject{{"id", 17}, {"question", "¿Descuento?"}}, QJsonObject{{"id", 18}, {"question", "¿Envío?"}}};
    e.pendientes->permisos_ = {QJsonObject{{"id", 5}, {"texto", "Le escribo a Marta."}}};
    struct Caso {
        std::optional<qint64> abierta, permiso;
        std::optional<qint64> abiertaVista, permisoVisto;
    };
    // Neither given: the first permission request; a question given: no request.
    const Caso casos[] = {{std::nullopt, std::nullopt, 17, 5}, {18, std::nullopt, 18, std::nullopt}, {std::nullopt, 9, 17, 9}};
    QPointer<PanelFlotante> anterior;
    for (const Caso& c : casos) {
        app->mostrarDudas(c.abierta, c.permiso);
        ASSERT_TRUE(app->tarjeta);
        auto* m = app->tarjeta->findChild<ModeloDudas*>();
        ASSERT_TRUE(m);
        EXPECT_EQ(m->abierta(), c.abiertaVista);
        EXPECT_EQ(m->permisoAbierto(), c.permisoVisto);
        EXPECT_TRUE(app->tarjeta->isVisible());
        // One card at a time.
        if (anterior) {
            EXPECT_FALSE(anterior->isVisible());
        }
        anterior = app->tarjeta.get();
    }
    // The card follows the pending lists.
    auto* m = app->tarjeta->findChild<ModeloDudas*>();
    e.pendientes->dudas.removeFirst();
    e.pendientes->alCambiarLista();
    EXPECT_EQ(m->abierta(), 18);
    EXPECT_EQ(App::anchoDudas(1920), 960);
}

// A link to one question opens that question, or nothing of another one: a question no longer
// pending is told in the island; a link without a number opens the cards as "pendientes" does.
TEST_F(Ventanas, UnEnlaceAUnaDudaQueNoEstaPendiente) {
    ASSERT_TRUE(e.pendientes);
    e.pendientes->dudas = {QJsonObject{{"id", 17}, {"question", "¿Descuento?"}}, QJsonObject{{"id", 18}, {"question", "¿Envío?"}}};
    struct Caso {
        const char* enlace;
        std::optional<qint64> abierta;  // none: no card, the island's notice
    };
    const Caso casos[] = {{"zuzadari://duda/18", 18},     {"zuzadari://duda/99999", std::nullopt},
                          {"zuzadari://duda/-1", std::nullopt}, {"zuzadari://duda/17", 17},
                          {"zuzadari://duda/abc", 17},    {"zuzadari://duda/9223372036854775807", std::nullopt}};
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.enlace);
        if (app->tarjeta) app->tarjeta->hide();
        app->voz.setAviso(std::nullopt);
        app->abrirEnlaces({QString::fromLatin1(c.enlace)});
        if (c.abierta) {
            ASSERT_TRUE(app->tarjeta && app->tarjeta->isVisible());
            auto* m = app->tarjeta->findChild<ModeloDudas*>();
            ASSERT_TRUE(m);
            EXPECT_EQ(m->abierta(), c.abierta);
            EXPECT_EQ(app->voz.aviso(), std::nullopt);
        } else {
            EXPECT_FALSE(app->tarjeta && app->tarjeta->isVisible());
            EXPECT_EQ(app->voz.aviso(), QStringLiteral("Esa duda ya está resuelta."));
        }
    }

    // Before the store's first load nothing says what is pending: the link waits for it.
    e.pendientes->cargado_ = false;
    e.pendientes->dudas.clear();
    app->tarjeta->hide();
    app->voz.setAviso(std::nullopt);
    app->abrirEnlaces({QStringLiteral("zuzadari://duda/18")});
    EXPECT_FALSE(app->tarjeta->isVisible());
    EXPECT_EQ(app->voz.aviso(), std::nullopt);
    e.pendientes->dudas = {QJsonObject{{"id", 17}}, QJsonObject{{"id", 18}}};
    e.pendientes->cargado_ = true;
    e.pendientes->alCambiar(2, e.pendientes->dudas, 0);
    ASSERT_TRUE(app->tarjeta && app->tarjeta->isVisible());
    EXPECT_EQ(app->tarjeta->findChild<ModeloDudas*>()->abierta(), 18);
    // Once only.
    app->tarjeta->hide();
    e.pendientes->alCambiar(2, e.pendientes->dudas, 0);
    EXPECT_FALSE(app->tarjeta->isVisible());
}

TEST_F(Ventanas, LaTarjetaDelEquipo) {
    ASSERT_TRUE(e.widgets);
    e.widgets->foto_.agentes = std::vector<Instantanea::Agente>{{2, "ventas", "ventas", false, 0, false},
                                                                 {1, "zentu", "coordinador", true, 0, true}};
    app->mostrarAgentes();
    ASSERT_TRUE(app->tarjeta);
    auto* m = app->tarjeta->findChild<ModeloAgentes*>();
    ASSERT_TRUE(m);
    EXPECT_EQ(m->lista().size(), 2u);
    // A refresh of the feeder reaches the card, sorted, coordinator first.
    e.widgets->alCambiarAgentes({{2, "ventas", "ventas", true, 3, false}, {1, "zentu", "coordinador", true, 0, true}});
    ASSERT_EQ(m->lista().size(), 2u);
    EXPECT_EQ(m->lista()[0].id, 1);
    EXPECT_TRUE(m->lista()[1].activo);
    // Its switch goes through the feeder.
    [](ModeloAgentes* mm, Instantanea::Agente a) -> QCoro::Task<void> { co_await mm->alternar(a); }(m, m->lista()[1]);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !e.widgets->cambios.isEmpty(); }));
    EXPECT_EQ(e.widgets->cambios.first(), std::make_pair(qint64(2), false));
}

TEST_F(Ventanas, LasTarjetasSinSusModelos) {
    // No pending store: the decision card opens the chat; no feeder: the agents card pairs.
    app->desenlazar();
    e.traza.olvidar();
    app->mostrarDudas(std::nullopt, std::nullopt);
    app->mostrarAgentes();
    EXPECT_EQ(e.traza.pasos, (QStringList{"enlace mostrar", "enlace mostrar"}));
}

TEST_F(Ventanas, LaVentanaDeAjustesYSuModelo) {
    app->abrirAjustes();
    ASSERT_TRUE(e.ajustes);
    auto* m = qobject_cast<ModeloAjustes*>(app->modeloAjustes.get());
    ASSERT_TRUE(m);
    EXPECT_TRUE(m->ventanaVisible());
    QPointer<falsos::Ventana> primera = e.ajustes;
    // Opened again: the same window and model, shown again.
    app->abrirAjustes();
    EXPECT_EQ(e.ajustes, primera);
    EXPECT_EQ(qobject_cast<ModeloAjustes*>(app->modeloAjustes.get()), m);
    EXPECT_EQ(e.traza.pasos.count("ajustes mostrar"), 2);

    // The closures bound into the model.
    EXPECT_EQ(m->cuenta(), app->cuenta);
    m->alCambiarSonidos(false);
    EXPECT_FALSE(e.sonidosF.activos());
    EXPECT_TRUE(Preferencias::almacen().value("zentu.sinSonidos").toBool());
    Preferencias::almacen().setValue("zentu.isla.sitio", "{10, 20}");
    m->alVolverArriba();
    EXPECT_FALSE(Preferencias::almacen().contains("zentu.isla.sitio"));
    m->accion("llamada");
    EXPECT_EQ(app->modo, Modo::llamada);
    m->accion("llamada");  // during a call nothing
    EXPECT_EQ(app->modo, Modo::llamada);
    m->accion("otra");
    EXPECT_EQ(pruebas::esperar(m->cambiarAgente(4, false)), std::nullopt);

    // Closing ends a recording and the model follows the window.
    m->grabar(Atajos::Cual::chat);
    ASSERT_TRUE(m->grabando());
    e.ajustes->cerrar();
    EXPECT_FALSE(m->grabando());
    EXPECT_FALSE(m->ventanaVisible());

    // Unpairing closes the window and leaves the toggles of agents without a feeder.
    app->desenlazar();
    EXPECT_FALSE(e.ajustes->enPantalla());
    EXPECT_EQ(pruebas::esperar(m->cambiarAgente(4, false)), ModeloAjustes::textoNoEnlazada);
    EXPECT_EQ(m->cuenta(), std::nullopt);
    m->alDesenlazar();
}

TEST_F(Ventanas, LasAccionesRapidasDeCaptura) {
    app->abrirAjustes();
    auto* m = qobject_cast<ModeloAjustes*>(app->modeloAjustes.get());
    e.captura = CapturaDePantalla{QStringLiteral("/tmp/zentu-p.jpg"), false, {}};
    m->accion("pantalla");
    ASSERT_TRUE(pruebas::esperarHasta([&] { return e.traza.pasos.contains("ajustes retirar"); }));
    // The window steps aside first; the picture comes 0.35 s later.
    EXPECT_FALSE(e.traza.pasos.contains("capturar pantalla"));
    avanzar(0.36);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return e.chat && !e.chat->pendientes.isEmpty(); }));

    e.pantallaFunciona = false;
    e.traza.olvidar();
    m->accion("zona");
    ASSERT_TRUE(pruebas::esperarHasta([&] { return e.traza.pasos.contains("pedir permiso de pantalla"); }));
    EXPECT_FALSE(e.traza.pasos.contains("ajustes retirar"));
}

// A capture staged for the chat is removed once it leaves the staged list (sent, or taken off);
// the owner's own files never are.
TEST_F(Ventanas, LaCapturaSeBorraAlDejarLaLista) {
    ASSERT_TRUE(e.chat);
    const QString propia = app->carpetaTemporal() + "/zentu-zona-1.png";
    QFile f(propia);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("png");
    f.close();
    QTemporaryDir fuera;
    const QString ajena = fuera.filePath("foto.png");
    QFile g(ajena);
    ASSERT_TRUE(g.open(QIODevice::WriteOnly));
    g.close();
    ASSERT_TRUE(e.chat->alDejarPendientes);
    e.chat->alDejarPendientes({propia, ajena});
    EXPECT_FALSE(QFile::exists(propia));
    EXPECT_TRUE(QFile::exists(ajena));
}

// The program ends (SIGTERM) with the real settings window on screen: the window is hidden on its
// way out, and its hiding stops the model it shows, which must still be there.
TEST(SalirConAjustes, LaVentanaSeVaAntesQueSuModelo) {
    class ConAjustesReales : public falsos::Entorno {
    public:
        std::unique_ptr<PuertoVentana> crearVentanaAjustes(ModeloAjustes& m) override {
            return escritorio.crearVentanaAjustes(m);
        }
        EntornoEscritorio escritorio;
    };
    // Sees the view hidden and notes whether its model was alive at that moment.
    class Vigia : public QObject {
    public:
        explicit Vigia(QObject* modelo) : modelo_(modelo) {}
        std::optional<bool> modeloVivo;

    protected:
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Hide && !modeloVivo) modeloVivo = !modelo_.isNull();
            return false;
        }

    private:
        QPointer<QObject> modelo_;
    };

    Preferencias::almacen().clear();
    Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
    Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    ConAjustesReales e;
    e.guardada = cuentaDePrueba();
    auto app = std::make_unique<App>(e);
    app->arrancar();
    app->abrirAjustes();
    VistaAjustes* vista = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && !vista) vista = w->findChild<VistaAjustes*>();
    ASSERT_TRUE(vista);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return vista->isVisible(); }));
    Vigia vigia(app->modeloAjustes.get());
    vista->installEventFilter(&vigia);
    app.reset();
    ASSERT_TRUE(vigia.modeloVivo.has_value());
    EXPECT_TRUE(*vigia.modeloVivo);
    Preferencias::almacen().clear();
}

}  // namespace
