// A hot key the window manager keeps for itself: openbox takes Alt+Espacio for its window menu.
// The program, starting on that desktop, tells the owner once which key the desktop kept and where
// to pick another, and its tray menu offers the call without that key.
#include "Falsos.h"

#include "comun/Ayudas.h"
#include "comun/EscritorioX11.h"
#include "plataforma/Preferencias.h"
#include "plataforma/TeclasGlobales.h"
#include "zentu/app/Bandeja.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>

using falsos::cuentaDePrueba;

TEST(X11AtajoDelEscritorio, AltEspacioDeOpenboxNoSeOfreceYSeDiceUnaVez) {
    ASSERT_TRUE(pruebas::EscritorioX11::disponible(false)) << "openbox";
    pruebas::EscritorioX11 escritorio;
    ASSERT_TRUE(escritorio.arrancar(false));
    for (int i = 1; i <= 5; ++i) Preferencias::almacen().remove(QStringLiteral("zentu.atajo.%1").arg(i));
    Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);

    falsos::Entorno e;
    e.guardada = cuentaDePrueba();
    e.teclasDelEscritorio = &TeclasGlobales::sistema();
    {
        App app(e);
        app.arrancar();
        auto* atajos = qobject_cast<Atajos*>(app.atajos.get());
        ASSERT_TRUE(atajos);
        ASSERT_FALSE(atajos->registrada(Atajos::Cual::llamada)) << "openbox keeps Alt+Espacio";
        EXPECT_TRUE(atajos->registrada(Atajos::Cual::conversacion));
        EXPECT_TRUE(atajos->registrada(Atajos::Cual::chat));

        // Said as the program starts, in the island, with the error cue.
        EXPECT_EQ(app.voz.aviso().value_or(QString()),
                  "El escritorio se queda con Alt+Espacio: elige otra combinación para la llamada en Abrir Zentu "
                  "AI › Atajos.");
        EXPECT_TRUE(app.voz.visible());
        EXPECT_EQ(e.traza.cues().count("error"), 1);

        auto* bandeja = qobject_cast<Bandeja*>(app.item.get());
        ASSERT_TRUE(bandeja);
        QStringList textos;
        for (QAction* a : bandeja->menu()->actions())
            if (!a->isSeparator()) textos << a->text();
        ASSERT_GE(textos.size(), 4);
        EXPECT_EQ(textos[0], "Llamar a Zentu — O mantén Alt+Mayús+Espacio para una nota de voz");
        EXPECT_EQ(textos[1], "Abrir el chat  Alt+Mayús+C");
        EXPECT_FALSE(textos.join('\n').contains("Alt+Espacio")) << textos.join(" | ").toStdString();
        EXPECT_EQ(bandeja->ayuda(), "Zentu AI · conversación Alt+Mayús+Espacio");

        // Not said again: the notice's time over, the island gone, the menu rebuilt.
        e.relojV.avanzar(4.1);
        QCoreApplication::processEvents();
        EXPECT_FALSE(app.voz.visible());
        app.montarMenu();
        EXPECT_EQ(e.traza.cues().count("error"), 1);
        atajos->pausar(true);
    }
    Preferencias::almacen().remove(QStringLiteral("zentu.inicioRegistrado"));
    Preferencias::almacen().remove(QStringLiteral("zentu.resumenManana"));
}
