#include "comun/Ayudas.h"
#include "comun/PanelBandeja.h"
#include "zentu/app/Bandeja.h"

#include <QMenu>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

using pruebas::NodoMenu;

namespace {

QStringList etiquetas(const NodoMenu& n) {
    QStringList l;
    for (const NodoMenu& h : n.hijos) l << (h.tipo == "separator" ? QStringLiteral("---") : QString(h.etiqueta).remove('&'));
    return l;
}

TEST(X11Bandeja, ElPanelVeElIconoYElMenu) {
    // The panel is another process: its own connection and thread, so that the program's
    // blocking calls to it are answered; its calls keep this thread's loop turning.
    pruebas::PanelBandeja panel;
    ASSERT_TRUE(panel.listo());

    Bandeja bandeja;
    std::vector<std::pair<MenuBandeja::Accion, qint64>> elegidos;
    bandeja.alElegir = [&](MenuBandeja::Accion a, qint64 e) { elegidos.emplace_back(a, e); };
    MenuBandeja::Datos datos;
    datos.llamada = Atajos::porDefecto(Atajos::Cual::llamada);
    datos.conversacion = Atajos::porDefecto(Atajos::Cual::conversacion);
    datos.chat = Atajos::porDefecto(Atajos::Cual::chat);
    datos.pantalla = Atajos::porDefecto(Atajos::Cual::pantalla);
    datos.zona = Atajos::porDefecto(Atajos::Cual::zona);
    datos.agentes = std::vector<Instantanea::Agente>{{1, "zentu", "coordinador", true, 0, true},
                                                     {4, "ventas", "ventas", false, 0, false}};
    bandeja.montar(datos);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !panel.items().isEmpty(); }));
    const QString servicio = panel.items().first();

    QString error;
    const QString menu = panel.menu(servicio, &error);
    ASSERT_FALSE(menu.isEmpty()) << error.toStdString();

    auto disposicion = [&] {
        QString fallo;
        const std::optional<NodoMenu> raiz = panel.disposicion(servicio, menu, &fallo);
        EXPECT_TRUE(raiz) << fallo.toStdString();
        return raiz.value_or(NodoMenu{});
    };
    NodoMenu raiz = disposicion();
    QStringList l = etiquetas(raiz);
    ASSERT_GE(l.size(), 12);
    EXPECT_TRUE(l[0].startsWith("Llamar a Zentu")) << l[0].toStdString();
    EXPECT_EQ(l[4], "---");
    EXPECT_EQ(l[5], "Tus agentes — 1 trabajando · 1 en pausa");
    EXPECT_EQ(l.mid(l.size() - 2), (QStringList{"Enlazar con el panel…", "Salir de Zentu AI"}));
    // The submenu's header is shown as a disabled item.
    NodoMenu agentes = raiz.hijos[5];
    if (agentes.hijos.empty()) {
        // Submenus are sent when the panel opens them.
        panel.abrir(servicio, menu, agentes.id);
        raiz = disposicion();
        agentes = raiz.hijos[5];
    }
    ASSERT_FALSE(agentes.hijos.empty());
    EXPECT_EQ(agentes.hijos[0].etiqueta, "Trabajando");
    EXPECT_FALSE(agentes.hijos[0].habilitado);

    // A click from the panel reaches the program: "Ver el equipo…" and the paused agent.
    panel.clic(servicio, menu, agentes.hijos.back().id);
    for (const NodoMenu& h : agentes.hijos)
        if (h.etiqueta == "Ventas") panel.clic(servicio, menu, h.id);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return elegidos.size() == 2; }));
    EXPECT_EQ(elegidos[0], std::make_pair(MenuBandeja::Accion::agentes, qint64(0)));
    EXPECT_EQ(elegidos[1], std::make_pair(MenuBandeja::Accion::alternarAgente, qint64(4)));

    // The tooltip belongs to whichever ran last.
    const QString ayudaMenu = MenuBandeja::ayudaIcono(datos.llamada, datos.conversacion);
    EXPECT_EQ(bandeja.item()->toolTip(), ayudaMenu);
    bandeja.pintarContador(3);
    EXPECT_EQ(bandeja.item()->toolTip(), "3 decisiones esperan por ti");
    bandeja.pintarContador(0);
    EXPECT_EQ(bandeja.item()->toolTip(), "3 decisiones esperan por ti");
    bandeja.montar(datos);
    EXPECT_EQ(bandeja.item()->toolTip(), ayudaMenu);

    // Rebuilding after unpairing and with no agents changes the exported menu.
    datos.agentes.reset();
    datos.cuenta = Cuenta{"https://z.example", "t", "lupe@tacos.mx", "Tacos Lupe"};
    bandeja.montar(datos);
    ASSERT_TRUE(pruebas::esperarHasta([&] {
        const QStringList ahora = etiquetas(disposicion());
        return ahora.size() >= 2 && ahora[ahora.size() - 2] == "Tacos Lupe — lupe@tacos.mx";
    }));
}

}  // namespace
