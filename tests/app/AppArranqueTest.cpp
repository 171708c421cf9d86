// Start-up order, the switches read after launch, the login item, the morning summary and
// quitting, over fakes and virtual time.
#include "Falsos.h"

#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "zentu/app/Bandeja.h"

#include <QAction>
#include <QKeyEvent>
#include <QMenu>
#include <gtest/gtest.h>

using falsos::cuentaDePrueba;
using Modo = App::Modo;

namespace {

const QString kPregunta = QStringLiteral(
    "Buenos días. Dame el resumen de la mañana para escucharlo: cómo amaneció el negocio, lo que "
    "espera por mí y lo importante de hoy. Corto y sin listas largas.");

QDateTime local(int h, int m, int s = 0, int dia = 10) {
    return QDateTime(QDate(2026, 3, dia), QTime(h, m, s), Qt::LocalTime);
}

// The log lines of start-up, the login item, the morning summary and quitting enter the same
// trace as the fakes' steps.
class ConRegistro {
public:
    explicit ConRegistro(falsos::Traza& t) {
        Registro::observar([&t](const QString& l) {
            for (const char* tag : {"[app] lista", "[app] salir", "[inicio]", "[mañana]"})
                if (l.startsWith(QString::fromUtf8(tag))) t.anotar(QStringLiteral("log ") + l);
        });
    }
    ~ConRegistro() { Registro::observar({}); }
};

class Arranque : public ::testing::Test {
protected:
    void SetUp() override { Preferencias::almacen().clear(); }
    void TearDown() override { Preferencias::almacen().clear(); }
};

TEST_F(Arranque, ElOrdenConCuenta) {
    falsos::Entorno e;
    e.guardada = cuentaDePrueba();
    ConRegistro r(e.traza);
    App app(e, {"zentu", "--abrir", "--solo-isla"});
    app.arrancar();
    const QStringList esperado = {
        "sonido de aviso",
        "inicio de sesión sí",
        "log [inicio] abrir al iniciar sesión: sí · estado 1",
        "isla",
        "isla escala 1.4",
        "isla escala 1.4",
        "atajos",
        "acorde",
        "canal http://zentu.prueba",
        "chat",
        "widgets",
        "pendientes",
        "enMiMac",
        // "--abrir": a call at once.
        "llamada nueva",
        "llamada abrir",
        // "--solo-isla"
        "isla colocar",
        "isla mostrar",
        "despertar",
        "log [app] lista · cuenta=http://zentu.prueba · abre al iniciar sesión: true · tamaños de widgets: {}",
    };
    QStringList sinCues;
    for (const QString& p : e.traza.pasos)
        if (!p.startsWith(QLatin1String("cue "))) sinCues << p;
    // The call's own showing of the island sits between its creation steps.
    sinCues.removeAll("isla colocar");
    sinCues.removeAll("isla mostrar");
    QStringList esperadoSin = esperado;
    esperadoSin.removeAll("isla colocar");
    esperadoSin.removeAll("isla mostrar");
    EXPECT_EQ(sinCues, esperadoSin);
    EXPECT_EQ(app.voz.fase(), Fase::escuchando);
    EXPECT_DOUBLE_EQ(app.voz.nivelBruto, 0.5);
    EXPECT_TRUE(app.voz.visible());
    // The island's seven buttons reach the shell.
    e.isla->acciones.silenciar();
    EXPECT_TRUE(app.voz.silencio());
    e.isla->acciones.terminar();
    EXPECT_EQ(app.modo, Modo::ninguno);
}

TEST_F(Arranque, SinCuentaAbreElEnlaceEIgnoraAbrir) {
    falsos::Entorno e;
    ConRegistro r(e.traza);
    Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    App app(e, {"zentu", "--abrir"});
    app.arrancar();
    EXPECT_TRUE(e.traza.pasos.contains("enlace mostrar"));
    EXPECT_FALSE(e.traza.pasos.contains("llamada nueva"));
    EXPECT_FALSE(e.traza.pasos.contains("inicio de sesión sí"));
    EXPECT_EQ(e.traza.pasos.last(),
              "log [app] lista · cuenta=ninguna · abre al iniciar sesión: false · tamaños de widgets: {}");
    // No morning check passes without an account.
    e.relojV.avanzar(13);
    EXPECT_FALSE(e.traza.pasos.contains("log [mañana] resumen de la mañana"));
}

TEST_F(Arranque, ElInicioDeSesionSeRegistraSoloLaPrimeraVezAunqueFalle) {
    {
        falsos::Entorno e;
        e.falloInicio = QStringLiteral("no se pudo escribir la entrada");
        ConRegistro r(e.traza);
        App app(e);
        app.arrancar();
        EXPECT_TRUE(e.traza.pasos.contains("log [inicio] no se pudo cambiar: no se pudo escribir la entrada"));
    }
    falsos::Entorno e;
    App app(e);
    app.arrancar();
    EXPECT_FALSE(e.traza.pasos.contains("inicio de sesión sí"));
    EXPECT_TRUE(Preferencias::almacen().value("zentu.inicioRegistrado").toBool());
}

TEST_F(Arranque, ElResumenDeLaManana) {
    Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    const QString dado = QStringLiteral("zentu.resumenDado");
    const QString linea = QStringLiteral("log [mañana] resumen de la mañana");

    // 05:59: nothing at the 12 s check; a wake at 07:00 gives it 6 s later; at 08:00 no more.
    {
        falsos::Entorno e(local(5, 59));
        e.guardada = cuentaDePrueba();
        ConRegistro r(e.traza);
        App app(e);
        app.arrancar();
        e.relojV.avanzar(13);
        EXPECT_FALSE(e.traza.pasos.contains(linea));
        EXPECT_FALSE(Preferencias::almacen().contains(dado));
        e.relojV.avanzar(local(7, 0).toSecsSinceEpoch() - e.relojV.ahora().toSecsSinceEpoch());
        e.despertar();
        e.relojV.avanzar(5.9);
        EXPECT_FALSE(e.traza.pasos.contains(linea));
        e.relojV.avanzar(0.2);
        ASSERT_TRUE(e.traza.pasos.contains(linea));
        EXPECT_EQ(Preferencias::almacen().value(dado).toString(), QStringLiteral("2026-03-10"));
        // The opening: shown and listening, the take dropped silently, then the question.
        const QStringList& p = e.traza.pasos;
        const auto i = p.indexOf(linea);
        EXPECT_EQ(p.mid(i + 1),
                  (QStringList{"conversacion", "isla colocar", "isla mostrar", "cue aparece", "cue escucha",
                               "conversacion cancelar silencioso", "conversacion grabar pulsar",
                               "conversacion cancelar silencioso", "conversacion preguntar " + kPregunta}));
        EXPECT_EQ(app.modo, Modo::conversacion);
        app.conversacionTerminada(std::nullopt);
        e.traza.olvidar();
        e.relojV.avanzar(local(8, 0).toSecsSinceEpoch() - e.relojV.ahora().toSecsSinceEpoch());
        e.despertar();
        e.relojV.avanzar(7);
        EXPECT_FALSE(e.traza.pasos.contains(linea));
    }
    // 11:59:55: the check comes at 12:00:07 and gives nothing.
    {
        Preferencias::almacen().remove(dado);
        falsos::Entorno e(local(11, 59, 55));
        e.guardada = cuentaDePrueba();
        ConRegistro r(e.traza);
        App app(e);
        app.arrancar();
        e.relojV.avanzar(13);
        EXPECT_FALSE(e.traza.pasos.contains(linea));
    }
    // A call at 09:00 stops the check without storing anything; the next wake, idle, gives it.
    {
        Preferencias::almacen().remove(dado);
        falsos::Entorno e(local(9, 0));
        e.guardada = cuentaDePrueba();
        ConRegistro r(e.traza);
        App app(e);
        app.arrancar();
        app.alternarLlamada();
        e.relojV.avanzar(13);
        EXPECT_FALSE(e.traza.pasos.contains(linea));
        EXPECT_FALSE(Preferencias::almacen().contains(dado));
        app.alternarLlamada();
        e.despertar();
        e.relojV.avanzar(7);
        EXPECT_TRUE(e.traza.pasos.contains(linea));
    }
    // A call ringing at 09:00 is not declined by the summary: nothing is stored, and the next
    // wake, with no ring, gives it.
    {
        Preferencias::almacen().remove(dado);
        falsos::Entorno e(local(9, 0));
        e.guardada = cuentaDePrueba();
        ConRegistro r(e.traza);
        App app(e);
        app.arrancar();
        ASSERT_TRUE(app.cuenta);
        app.sonando = App::Sonando{QStringLiteral("ventas"), 7, *app.cuenta};
        e.relojV.avanzar(13);
        EXPECT_FALSE(e.traza.pasos.contains(linea));
        EXPECT_FALSE(Preferencias::almacen().contains(dado));
        EXPECT_TRUE(app.sonando);
        app.sonando.reset();
        e.despertar();
        e.relojV.avanzar(7);
        EXPECT_TRUE(e.traza.pasos.contains(linea));
    }
    // Switched off in the settings (a stored false), no summary; another type counts as on.
    for (const QVariant& valor : {QVariant(false), QVariant(QStringLiteral("false"))}) {
        Preferencias::almacen().remove(dado);
        Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), valor);
        EXPECT_FALSE(App::resumenDeLaManana());
    }
    Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), 1);
    EXPECT_TRUE(App::resumenDeLaManana());
}

TEST_F(Arranque, LosInterruptoresDePrueba) {
    Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
    falsos::Entorno e;
    e.guardada = cuentaDePrueba();
    falsos::Lineas lineas;
    App app(e, {"zentu", "--probar-atajo", "¿Cómo vamos?", "--probar-envio", "/tmp/prueba.pdf",
                "--probar-conversacion", "¿Qué hay hoy?"});
    app.arrancar();
    ASSERT_TRUE(e.chat);
    e.chat->respuesta = QStringLiteral("Todo en orden.");
    // The attachment test sends at once, with its fixed text.
    ASSERT_TRUE(pruebas::esperarHasta([&] { return lineas.hay("[chat] prueba de envío: enviado"); }));
    EXPECT_TRUE(e.traza.pasos.contains(
        "chat enviar /tmp/prueba.pdf · Prueba de adjunto desde la app de Linux. No hace falta hacer nada con él."));
    // The spoken question opens like the morning summary.
    EXPECT_TRUE(e.traza.pasos.contains("conversacion preguntar ¿Qué hay hoy?"));
    EXPECT_EQ(app.modo, Modo::conversacion);
    // The automation test waits 4 s, then asks through the bridge.
    e.relojV.avanzar(3.9);
    EXPECT_FALSE(e.traza.pasos.contains("chat preguntar ¿Cómo vamos? · 90"));
    e.relojV.avanzar(0.2);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return lineas.hay("[atajos] prueba en 0s: Todo en orden."); }));
    EXPECT_TRUE(lineas.hay("[atajos] pendientes: 0 · dudas: 0"));
}

TEST_F(Arranque, SalirSinLlamadaTerminaEnSeguida) {
    falsos::Entorno e;
    App app(e);
    app.arrancar();
    app.salir();
    app.salir();
    EXPECT_EQ(e.terminado, 1);
}

TEST_F(Arranque, SalirConUnaLlamadaQueCuelgaEnSeguida) {
    falsos::Entorno e;
    e.guardada = cuentaDePrueba();
    ConRegistro r(e.traza);
    App app(e);
    app.arrancar();
    app.alternarLlamada();
    e.traza.olvidar();
    app.salir();
    EXPECT_EQ(e.traza.pasos, (QStringList{"log [app] salir con la llamada abierta: se cuelga primero",
                                          "llamada colgar", "terminar"}));
    e.relojV.avanzar(4);
    EXPECT_EQ(e.terminado, 1);
}

TEST_F(Arranque, SalirConUnaLlamadaQueNoTerminaEsperaTresSegundos) {
    falsos::Entorno e;
    e.guardada = cuentaDePrueba();
    e.llamadaTerminaAlColgar = false;
    App app(e);
    app.arrancar();
    app.alternarLlamada();
    QPointer<falsos::Llamada> llamada = e.llamada;
    app.salir();
    app.salir();
    e.relojV.avanzar(2.9);
    EXPECT_EQ(e.terminado, 0);
    e.relojV.avanzar(0.1);
    EXPECT_EQ(e.terminado, 1);
    // A late end answers nothing more, and the usual end of a call does not run.
    ASSERT_TRUE(llamada);
    llamada->alTerminar(std::nullopt);
    EXPECT_EQ(e.terminado, 1);
    EXPECT_EQ(app.modo, Modo::llamada);
}

// Where the panel shows no tray icon (as on the tests' bus: no tray host), a plain second start
// and a right click on the island offer the tray's whole menu; the first time, the island says why.
TEST_F(Arranque, SinBandejaElMenuLlegaPorUnaSegundaAperturaYPorLaIsla) {
    ASSERT_FALSE(Bandeja::disponible());
    falsos::Entorno e;
    e.guardada = cuentaDePrueba();
    Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
    App app(e);
    app.arrancar();
    auto* bandeja = qobject_cast<Bandeja*>(app.item.get());
    ASSERT_TRUE(bandeja);
    EXPECT_FALSE(bandeja->menu()->isVisible());

    app.recibirArgumentos({});
    ASSERT_TRUE(pruebas::esperarHasta([&] { return bandeja->menu()->isVisible(); }));
    EXPECT_EQ(app.voz.aviso(),
              QStringLiteral("Tu barra no muestra iconos: haz clic derecho en la isla o abre Zentu AI "
                             "otra vez para ver su menú."));
    EXPECT_EQ(e.traza.cues().count("error"), 1);
    QStringList textos;
    for (QAction* a : bandeja->menu()->actions())
        if (!a->isSeparator()) textos << a->text();
    EXPECT_TRUE(textos.contains("Abrir Zentu AI")) << textos.join(" | ").toStdString();
    EXPECT_EQ(textos.last(), "Salir de Zentu AI");
    // The island shown with it waits while the owner chooses, well past the warning's time.
    e.relojV.avanzar(4.1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(bandeja->menu()->isVisible());
    EXPECT_TRUE(app.voz.visible());
    EXPECT_FALSE(app.voz.aviso());
    e.relojV.avanzar(30);
    QCoreApplication::processEvents();
    EXPECT_TRUE(bandeja->menu()->isVisible());
    bandeja->menu()->hide();
    e.relojV.avanzar(0.3);
    QCoreApplication::processEvents();
    EXPECT_FALSE(app.voz.visible());

    // The island's right click: the same menu, not told again; what is chosen reaches the program.
    e.isla->alMenu(QPoint(40, 40));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return bandeja->menu()->isVisible(); }));
    EXPECT_EQ(e.traza.cues().count("error"), 1);
    bandeja->menu()->actions().last()->trigger();
    EXPECT_EQ(e.terminado, 1);
}

// The desktop keeps a default combination (as openbox keeps Alt+Espacio): the island says once,
// as the program starts, which key and where to pick another; the menu and the icon's tooltip
// offer the action without it. The others keep theirs.
TEST_F(Arranque, UnAtajoQueElEscritorioSeQuedaNoSeOfrece) {
    struct Caso {
        const char* que;
        std::vector<Combinacion> ocupadas;
        QString aviso;
        QString primera;
    };
    const std::vector<Caso> casos = {
        {"Alt+Espacio", {Atajos::porDefecto(Atajos::Cual::llamada)},
         "El escritorio se queda con Alt+Espacio: elige otra combinación para la llamada en Abrir Zentu AI › Atajos.",
         "Llamar a Zentu — O mantén Alt+Mayús+Espacio para una nota de voz"},
        {"tres",
         {Atajos::porDefecto(Atajos::Cual::llamada), Atajos::porDefecto(Atajos::Cual::conversacion),
          Atajos::porDefecto(Atajos::Cual::chat)},
         "El escritorio se queda con Alt+Espacio, Alt+Mayús+Espacio y Alt+Mayús+C: elige otras combinaciones para "
         "la llamada, la conversación y abrir el chat en Abrir Zentu AI › Atajos.",
         "Llamar a Zentu"},
        {"ninguna", {}, "", "Llamar a Zentu  Alt+Espacio — O mantén Alt+Mayús+Espacio para una nota de voz"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.que);
        for (int i = 1; i <= 5; ++i) Preferencias::almacen().remove(QStringLiteral("zentu.atajo.%1").arg(i));
        falsos::Entorno e;
        e.guardada = cuentaDePrueba();
        e.teclas.ocupadas = c.ocupadas;
        Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
        Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
        App app(e);
        app.arrancar();
        EXPECT_EQ(app.voz.aviso().value_or(QString()), c.aviso);
        EXPECT_EQ(e.traza.cues().count("error"), c.aviso.isEmpty() ? 0 : 1);
        auto* bandeja = qobject_cast<Bandeja*>(app.item.get());
        ASSERT_TRUE(bandeja);
        ASSERT_FALSE(bandeja->menu()->actions().isEmpty());
        EXPECT_EQ(bandeja->menu()->actions().first()->text(), c.primera);
        for (const Combinacion& o : c.ocupadas)
            EXPECT_FALSE(bandeja->ayuda().contains(o.texto())) << bandeja->ayuda().toStdString();
        // Said once: rebuilding the menu (after the settings close, an agents refresh) says nothing.
        app.montarMenu();
        EXPECT_EQ(e.traza.cues().count("error"), c.aviso.isEmpty() ? 0 : 1);
        EXPECT_EQ(bandeja->menu()->actions().first()->text(), c.primera);
    }
}

}  // namespace
