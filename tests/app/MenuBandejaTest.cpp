#include "comun/Ayudas.h"
#include "zentu/app/MenuBandeja.h"

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

namespace {

using MenuBandeja::Accion;
using MenuBandeja::Elemento;
using Tipo = MenuBandeja::Elemento::Tipo;

Instantanea::Agente agente(qint64 id, const QString& nombre, bool activo, qint64 conversaciones = 0,
                           bool coordinador = false) {
    return {id, nombre, QStringLiteral("ventas"), activo, conversaciones, coordinador};
}

MenuBandeja::Datos datos() {
    MenuBandeja::Datos d;
    d.llamada = Atajos::porDefecto(Atajos::Cual::llamada);
    d.conversacion = Atajos::porDefecto(Atajos::Cual::conversacion);
    d.pantalla = Atajos::porDefecto(Atajos::Cual::pantalla);
    d.zona = Atajos::porDefecto(Atajos::Cual::zona);
    d.chat = Atajos::porDefecto(Atajos::Cual::chat);
    return d;
}

// One line per item, as a person reads the menu: separators as "---", headers in brackets,
// disabled items with "(x)", checked agents with "[✓]".
QStringList lineas(const std::vector<Elemento>& m) {
    QStringList l;
    for (const Elemento& e : m) {
        switch (e.tipo) {
        case Tipo::separador: l << QStringLiteral("---"); break;
        case Tipo::encabezado: l << "[" + e.titulo + "]"; break;
        case Tipo::submenu: l << e.texto() + " >"; break;
        case Tipo::accion: {
            QString t = e.texto();
            if (!e.habilitado) t += " (x)";
            if (e.marcado) t += *e.marcado ? " [✓]" : " [ ]";
            l << t;
        }
        }
    }
    return l;
}

TEST(MenuBandeja, SinCuentaNiAgentes) {
    const auto d = datos();
    const auto m = MenuBandeja::construir(d);
    // Hot keys are written out in the one notation of every view, never left to the tray.
    const QStringList esperado{"Llamar a Zentu  Alt+Espacio — O mantén Alt+Mayús+Espacio para una nota de voz",
                               "Abrir el chat  Alt+Mayús+C",
                               "Ver mi pantalla  Alt+Mayús+P",
                               "Capturar una zona  Alt+Mayús+Z",
                               "---",
                               "Abrir Zentu AI",
                               "Buscar actualizaciones…",
                               "---",
                               "Enlazar con el panel…",
                               "Salir de Zentu AI"};
    EXPECT_EQ(lineas(m), esperado);
    for (int i = 0; i < 4; ++i) EXPECT_FALSE(m[i].tecla) << i;

    // Actions. No item shows a key that would do nothing: a tray menu takes no keys of its items.
    EXPECT_EQ(m[0].accion, Accion::llamada);
    EXPECT_EQ(m[1].accion, Accion::chat);
    EXPECT_EQ(m[2].accion, Accion::pantalla);
    EXPECT_EQ(m[3].accion, Accion::zona);
    EXPECT_EQ(m[5].accion, Accion::ajustes);
    EXPECT_EQ(m[6].accion, Accion::actualizaciones);
    EXPECT_EQ(m[8].accion, Accion::enlazar);
    EXPECT_EQ(m[9].accion, Accion::salir);
    for (size_t i = 0; i < m.size(); ++i) EXPECT_FALSE(m[i].tecla) << i;

    // Nor does the QMenu the tray exports.
    QMenu menu;
    MenuBandeja::llenar(menu, m, {});
    for (QAction* a : menu.actions()) EXPECT_TRUE(a->shortcut().isEmpty()) << a->text().toStdString();
}

// A hot key that does not work (the desktop kept its combination; a Wayland session hands none to
// programs) is offered nowhere in the menu or the icon's tooltip; the action stays.
TEST(MenuBandeja, AtajosQueNoFuncionanNoSeOfrecen) {
    struct Caso {
        const char* que;
        std::function<void(MenuBandeja::Datos&)> quitar;
        QStringList primeras;
        QString ayuda;
    };
    const std::vector<Caso> casos = {
        {"la llamada", [](MenuBandeja::Datos& d) { d.llamada.reset(); },
         {"Llamar a Zentu — O mantén Alt+Mayús+Espacio para una nota de voz", "Abrir el chat  Alt+Mayús+C",
          "Ver mi pantalla  Alt+Mayús+P", "Capturar una zona  Alt+Mayús+Z"},
         "Zentu AI · conversación Alt+Mayús+Espacio"},
        {"la conversación y el chat",
         [](MenuBandeja::Datos& d) {
             d.conversacion.reset();
             d.chat.reset();
         },
         {"Llamar a Zentu  Alt+Espacio", "Abrir el chat", "Ver mi pantalla  Alt+Mayús+P",
          "Capturar una zona  Alt+Mayús+Z"},
         "Zentu AI · llamada Alt+Espacio"},
        {"ninguna (Wayland)",
         [](MenuBandeja::Datos& d) {
             d.llamada.reset();
             d.conversacion.reset();
             d.pantalla.reset();
             d.zona.reset();
             d.chat.reset();
         },
         {"Llamar a Zentu", "Abrir el chat", "Ver mi pantalla", "Capturar una zona"},
         "Zentu AI"},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.que);
        auto d = datos();
        c.quitar(d);
        const auto m = MenuBandeja::construir(d);
        EXPECT_EQ(lineas(m).mid(0, 4), c.primeras);
        EXPECT_EQ(m[0].accion, Accion::llamada);
        EXPECT_EQ(m[1].accion, Accion::chat);
        EXPECT_EQ(MenuBandeja::ayudaIcono(d.llamada, d.conversacion), c.ayuda);
    }
}

TEST(MenuBandeja, AtajoSinFormaDeMenuVaEnElTitulo) {
    auto d = datos();
    d.chat = Combinacion{0x7A, 0x1000};  // control + F1: a function key has no one-character form
    ASSERT_FALSE(d.chat->paraMenu());
    const auto m = MenuBandeja::construir(d);
    EXPECT_EQ(m[1].titulo, "Abrir el chat  Ctrl+F1");
    EXPECT_FALSE(m[1].tecla);
}

TEST(MenuBandeja, CuentaEnlazada) {
    struct Caso {
        QString nombre, correo, linea;
    };
    for (const Caso& c : {Caso{"Tacos Lupe", "lupe@tacos.mx", "Tacos Lupe — lupe@tacos.mx (x)"},
                          Caso{"", "lupe@tacos.mx", "lupe@tacos.mx (x)"}}) {
        auto d = datos();
        d.cuenta = Cuenta{"https://zentu.example", "t", c.correo, c.nombre};
        const auto l = lineas(MenuBandeja::construir(d));
        EXPECT_EQ(l.mid(l.size() - 2), (QStringList{c.linea, "Salir de Zentu AI"})) << c.nombre.toStdString();
        EXPECT_FALSE(l.contains("Enlazar con el panel…"));
    }
}

TEST(MenuBandeja, SubmenuDeAgentes) {
    struct Caso {
        const char* que;
        std::vector<Instantanea::Agente> agentes;
        QString subtitulo;
        QStringList hijos;
    };
    const std::vector<Caso> casos = {
        {"activos y en pausa",
         {agente(3, "ventas_norte", true, 1), agente(1, "zentu", true, 0, true), agente(7, "cobranza", false, 4),
          agente(5, "soporte", true, 12), agente(9, "asistente", true, 0)},
         "4 trabajando · 1 en pausa",
         {"[Trabajando]", "Zentu — Coordina el equipo [✓]", "Soporte — 12 conversaciones [✓]",
          "Ventas norte — 1 conversación [✓]", "Asistente [✓]", "---", "[En pausa]", "Cobranza [ ]", "---",
          "Ver el equipo…"}},
        {"todos en pausa",
         {agente(2, "ventas", false), agente(4, "apoyo", false)},
         "0 trabajando · 2 en pausa",
         {"[Trabajando]", "---", "[En pausa]", "Apoyo [ ]", "Ventas [ ]", "---", "Ver el equipo…"}},
        {"ninguno en pausa", {agente(2, "ventas", true)}, "1 trabajando", {"[Trabajando]", "Ventas [✓]", "---", "Ver el equipo…"}},
    };
    for (const Caso& c : casos) {
        auto d = datos();
        d.agentes = c.agentes;
        const auto m = MenuBandeja::construir(d);
        ASSERT_EQ(m[4].tipo, Tipo::separador) << c.que;
        ASSERT_EQ(m[5].tipo, Tipo::submenu) << c.que;
        EXPECT_EQ(m[5].titulo, "Tus agentes");
        EXPECT_EQ(m[5].subtitulo, c.subtitulo) << c.que;
        EXPECT_EQ(lineas(m[5].hijos), c.hijos) << c.que;
        EXPECT_EQ(m[6].tipo, Tipo::separador);
    }
}

TEST(MenuBandeja, UnAgente) {
    auto d = datos();
    d.agentes = std::vector{agente(1, "zentu", true, 3, true), agente(8, "ventas_mayoreo", true, 2),
                            agente(9, "cobros", false, 5)};
    const auto hijos = MenuBandeja::construir(d)[5].hijos;
    const Elemento& coordinador = hijos[1];
    EXPECT_EQ(coordinador.accion, Accion::ninguna);  // cannot be paused
    EXPECT_EQ(coordinador.ayuda, "Zentu coordina el equipo");
    EXPECT_EQ(coordinador.marcado, true);
    const Elemento& activo = hijos[2];
    EXPECT_EQ(activo.accion, Accion::alternarAgente);
    EXPECT_EQ(activo.etiqueta, 8);
    EXPECT_EQ(activo.ayuda, "Clic para pausarlo");
    const Elemento& pausado = hijos[5];
    EXPECT_EQ(pausado.titulo, "Cobros");
    EXPECT_EQ(pausado.subtitulo, "");  // a paused agent shows no count
    EXPECT_EQ(pausado.ayuda, "Clic para reanudarlo");
    EXPECT_EQ(pausado.etiqueta, 9);
}

TEST(MenuBandeja, SinAgentesNoHaySeccion) {
    auto d = datos();
    d.agentes = std::vector<Instantanea::Agente>{};
    EXPECT_FALSE(lineas(MenuBandeja::construir(d)).contains("Tus agentes — 0 trabajando >"));
    EXPECT_EQ(MenuBandeja::construir(d).size(), MenuBandeja::construir(datos()).size());
}

TEST(MenuBandeja, NombresYContador) {
    for (auto [entrada, salida] : {std::pair{"ventas_del_norte", "Ventas del norte"}, std::pair{"", ""},
                                   std::pair{"éxito-total", "Éxito-total"}, std::pair{"_x", " x"}})
        EXPECT_EQ(MenuBandeja::nombreAgente(QString::fromUtf8(entrada)), QString::fromUtf8(salida));
    EXPECT_EQ(MenuBandeja::ayudaContador(0), std::nullopt);
    EXPECT_EQ(MenuBandeja::ayudaContador(-2), std::nullopt);
    EXPECT_EQ(MenuBandeja::ayudaContador(1), "1 decisión espera por ti");
    EXPECT_EQ(MenuBandeja::ayudaContador(3), "3 decisiones esperan por ti");
    const Combinacion a{49, 0x0800 | 0x0200}, b{45, 0x1000 | 0x0100};
    EXPECT_EQ(MenuBandeja::ayudaIcono(a, b), "Zentu AI · llamada Alt+Mayús+Espacio · conversación Ctrl+Super+N");
}

TEST(MenuBandeja, QMenuExportaLoMismo) {
    auto d = datos();
    d.agentes = std::vector{agente(1, "zentu", true, 0, true), agente(8, "ventas", true, 2)};
    QMenu menu;
    std::vector<std::pair<Accion, qint64>> elegidos;
    MenuBandeja::llenar(menu, MenuBandeja::construir(d), [&](Accion a, qint64 id) { elegidos.emplace_back(a, id); });
    const auto acciones = menu.actions();
    ASSERT_EQ(acciones.size(), 12);
    EXPECT_TRUE(acciones[4]->isSeparator());
    ASSERT_TRUE(acciones[5]->menu());
    const auto sub = acciones[5]->menu()->actions();
    EXPECT_EQ(sub[0]->text(), "Trabajando");
    EXPECT_FALSE(sub[0]->isEnabled());
    EXPECT_EQ(acciones[7]->text(), "Abrir Zentu AI");
    EXPECT_EQ(acciones[11]->text(), "Salir de Zentu AI");
    sub[2]->trigger();
    acciones[0]->trigger();
    sub[1]->trigger();  // the coordinator: nothing, and it stays checked
    EXPECT_TRUE(sub[1]->isChecked());
    EXPECT_EQ(elegidos, (std::vector<std::pair<Accion, qint64>>{{Accion::alternarAgente, 8}, {Accion::llamada, 0}}));
    // Rebuilding replaces, never appends.
    MenuBandeja::llenar(menu, MenuBandeja::construir(datos()), {});
    EXPECT_EQ(menu.actions().size(), 10);
}

TEST(MenuBandeja, Icono) {
    for (auto [nombre, tinta] : {std::pair{"claro", QColor(26, 26, 26)}, std::pair{"oscuro", QColor(242, 242, 242)}}) {
        for (int total : {0, 1, 12, 150}) {
            const QImage im = MenuBandeja::dibujarIcono(72, tinta, total);
            im.save(pruebas::carpetaArtefactos("app") + QStringLiteral("/icono-%1-%2.png").arg(nombre).arg(total));
            // The ring's left edge (x = 1.5 of 18) is ink; between the ring and the ellipses (x = 3.5)
            // it is empty.
            EXPECT_GT(im.pixelColor(6, 36).alpha(), 100) << nombre;
            if (total < 100) {  // "99+" spans the width
                EXPECT_EQ(im.pixelColor(14, 36).alpha(), 0) << nombre;
            }
            const QColor esquina = im.pixelColor(62, 60);
            if (total == 0)
                EXPECT_EQ(esquina.alpha(), 0);
            else
                EXPECT_GT(esquina.red(), 150);  // the red count badge
        }
    }
}

// The count is drawn with strokes of our own: every count gets its own badge, with white figures
// inside the red, and the figures are left for a person to look at.
TEST(MenuBandeja, CifrasDeLaInsignia) {
    QImage muestra(11 * 60, 90, QImage::Format_ARGB32_Premultiplied);
    muestra.fill(QColor(214, 48, 49));
    {
        QPainter p(&muestra);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(10, 10);
        p.scale(10, 10);
        p.setPen(QPen(Qt::white, 1.25, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(MenuBandeja::cifras(QStringLiteral("0123456789+")));
    }
    muestra.save(pruebas::carpetaArtefactos("app") + QStringLiteral("/cifras-insignia.png"));
    for (int i = 0; i <= 10; ++i) EXPECT_FALSE(MenuBandeja::cifras(QString("0123456789+")[i]).isEmpty()) << i;

    std::vector<QImage> vistas;
    for (int total : {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 47, 99, 150}) {
        const QImage im = MenuBandeja::dibujarIcono(44, QColor(26, 26, 26), total);
        int blancos = 0;
        for (int y = 20; y < 44; ++y)
            for (int x = 20; x < 44; ++x)
                if (const QColor c = im.pixelColor(x, y); c.red() > 230 && c.green() > 200 && c.blue() > 200) ++blancos;
        EXPECT_GT(blancos, 6) << total;
        for (const QImage& otra : vistas) EXPECT_NE(otra, im) << total;
        vistas.push_back(im);
    }
}

// Whatever the desktop's scheme, the icon reads on a dark panel and on a light one: enough of its
// pixels stand well apart from the panel's colour.
TEST(MenuBandeja, IconoSeVeEnBarrasOscurasYClaras) {
    auto luma = [](QColor c) { return 0.299 * c.red() + 0.587 * c.green() + 0.114 * c.blue(); };
    for (auto [nombre, tinta] : {std::pair{"claro", QColor(26, 26, 26)}, std::pair{"oscuro", QColor(242, 242, 242)}}) {
        for (const QColor barra : {QColor(24, 24, 24), QColor(46, 52, 54), QColor(236, 236, 236), QColor(255, 255, 255)}) {
            QImage vista(22, 22, QImage::Format_ARGB32_Premultiplied);
            vista.fill(barra);
            {
                QPainter p(&vista);
                p.drawImage(0, 0, MenuBandeja::dibujarIcono(22, tinta));
            }
            int destacan = 0;
            for (int y = 0; y < vista.height(); ++y)
                for (int x = 0; x < vista.width(); ++x)
                    if (std::abs(luma(vista.pixelColor(x, y)) - luma(barra)) > 110) ++destacan;
            EXPECT_GE(destacan, 50) << nombre << " sobre " << barra.name().toStdString();
            vista.scaled(176, 176).save(pruebas::carpetaArtefactos("app") +
                                      QStringLiteral("/icono-%1-en-%2.png").arg(nombre, barra.name().mid(1)));
        }
    }
}

}  // namespace
