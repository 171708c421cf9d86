// The program in a Wayland session: the compositor hands no global keys to programs, so the tray
// menu and its icon's tooltip offer none, and the owner is not told of combinations "kept by the
// desktop" (the settings say why none works there).
#include "Falsos.h"

#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "plataforma/TeclasGlobales.h"
#include "zentu/app/Bandeja.h"

#include <QAction>
#include <QMenu>
#include <gtest/gtest.h>

using falsos::cuentaDePrueba;

TEST(SesionWayland, ElMenuNoOfreceAtajos) {
    // Read once per process, as the session it starts in.
    qputenv("XDG_SESSION_TYPE", "wayland");
    ASSERT_TRUE(TeclasGlobales::sesionWayland());
    Preferencias::almacen().clear();
    Preferencias::almacen().setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);

    falsos::Entorno e;
    e.guardada = cuentaDePrueba();
    e.teclas.ocupadas = {Atajos::porDefecto(Atajos::Cual::llamada)};
    App app(e);
    app.arrancar();
    EXPECT_FALSE(app.voz.aviso());
    EXPECT_EQ(e.traza.cues().count("error"), 0);

    auto* bandeja = qobject_cast<Bandeja*>(app.item.get());
    ASSERT_TRUE(bandeja);
    QStringList textos;
    for (QAction* a : bandeja->menu()->actions())
        if (!a->isSeparator()) textos << a->text();
    ASSERT_GE(textos.size(), 4);
    EXPECT_EQ(textos.mid(0, 4), (QStringList{"Llamar a Zentu", "Abrir el chat", "Ver mi pantalla", "Capturar una zona"}));
    for (const QString& t : textos) EXPECT_FALSE(t.contains(QLatin1String("Alt+"))) << t.toStdString();
    EXPECT_EQ(bandeja->ayuda(), "Zentu AI");
    Preferencias::almacen().clear();
}
