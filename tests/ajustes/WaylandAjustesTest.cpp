// The settings window in a Wayland session, on a session bus of the test's own: global keys never
// reach the program there and, without the desktop's Screenshot portal, nothing can capture the
// screen. The status and shortcuts panes say so, with the reason, instead of offering a
// permission or a key that does nothing; once a portal answers, screen capture is in order.
#include "zentu/ajustes/VistaAjustes.h"

#include "Paneles.h"

#include "comun/Ayudas.h"
#include "comun/PortalSimulado.h"
#include "comun/SesionWayland.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Privacidad.h"
#include "plataforma/TeclasGlobales.h"
#include "zentu/ajustes/PanelAtajos.h"
#include "zentu/ajustes/PanelEstado.h"
#include "zentu/ajustes/PiezasAjustes.h"
#include "zentu/isla/Permisos.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>
#include <map>
#include <memory>

namespace {

// XWayland hands grabs out freely; they just never fire while a Wayland window has the focus.
class TeclasDeXWayland : public TeclasGlobales {
public:
    int registrar(quint32, quint32, quint32) override { return 0; }
    void quitar(quint32) override {}
};

// What the owner reads in a pane: its visible texts, buttons' too.
QStringList textos(const QWidget* panel) {
    QStringList t = etiquetasVisibles(panel);
    for (const QPushButton* b : panel->findChildren<QPushButton*>())
        if (b->isVisibleTo(panel)) t << b->text();
    return t;
}

class Wayland : public pruebas::SesionWayland {
protected:
    void SetUp() override {
        SesionWayland::SetUp();
        if (HasFatalFailure()) return;
        Privacidad::usar(&sistema);
        for (int i = 1; i <= 5; ++i) Preferencias::almacen().remove(QStringLiteral("zentu.atajo.%1").arg(i));
        atajos = std::make_unique<Atajos>(teclas);
        m = std::make_unique<ModeloAjustes>(*atajos, voz, true, [] { return std::optional<Cuenta>(); }, [] {},
                                            [](bool) {}, [] {});
        m->encenderFnControl = [](bool) {};
        m->estadoInicioSesion = [] { return false; };
    }
    void TearDown() override {
        m.reset();
        atajos.reset();
        Privacidad::usar(nullptr);
    }

    // The window as the program opens it (the screen probe is the real one); returns once it
    // has probed.
    VistaAjustes& abrir(SeccionAjustes s, Esquema e) {
        vista = std::make_unique<VistaAjustes>(*m, s, e, reloj);
        vista->resize(760, 520);
        vista->show();
        EXPECT_TRUE(pruebas::esperarHasta([&] { return vista->permisosVistos() >= 1; }, 20000));
        pruebas::girar(50);
        return *vista;
    }
    void guardar(const QString& nombre) {
        const QString carpeta = pruebas::carpetaArtefactos("ajustes");
        EXPECT_TRUE(vista->grab().toImage().save(carpeta + "/" + nombre + ".png"));
    }

    ConMicrofono sistema;
    TeclasDeXWayland teclas;
    RelojVirtual reloj;
    EstadoVoz voz;
    std::unique_ptr<Atajos> atajos;
    std::unique_ptr<ModeloAjustes> m;
    std::unique_ptr<VistaAjustes> vista;
};

TEST_F(Wayland, ElEstadoDiceQueFaltaYPorQue) {
    for (Esquema e : {Esquema::claro, Esquema::oscuro}) {
        VistaAjustes& w = abrir(SeccionAjustes::estado, e);
        const QStringList t = textos(w.panelEstado());
        for (const char* esta : {"Grabación de pantalla", "este escritorio no ofrece capturas", "Atajos de teclado",
                                 "no funcionan en una sesión Wayland"})
            EXPECT_TRUE(t.contains(QString::fromUtf8(esta))) << esta << "\n" << t.join(" | ").toStdString();
        // Nothing to grant and nothing to reopen for; and the computer is not "all set".
        for (const char* no : {"Dar permiso", "Volver a abrir Zentu AI", "dado: falta volver a abrir la app",
                               "Accesibilidad", "Todo listo en este equipo"})
            EXPECT_FALSE(t.contains(QString::fromUtf8(no))) << no;
        // The quick actions still work by click; they offer no key that would do nothing.
        std::map<QString, QString> ayudas;
        for (const auto* b : w.panelEstado()->findChildren<QAbstractButton*>())
            if (!b->accessibleName().isEmpty()) ayudas[b->accessibleName()] = b->toolTip();
        for (const char* titulo : {"Hablar", "Escribir", "Mi pantalla", "Una zona"})
            EXPECT_EQ(ayudas[QString::fromUtf8(titulo)], QString::fromUtf8(titulo));
        guardar(e == Esquema::oscuro ? "estado-wayland-oscuro" : "estado-wayland-claro");
        vista.reset();
    }
}

TEST_F(Wayland, LosAtajosNoSeOfrecen) {
    for (Esquema e : {Esquema::claro, Esquema::oscuro}) {
        VistaAjustes& w = abrir(SeccionAjustes::atajos, e);
        PanelAtajos* p = w.panelAtajos();
        // The pane's promise ("desde cualquier sitio") gives way to the reason.
        EXPECT_EQ(w.lineaSubtitulo()->text(),
                  QStringLiteral("Aquí no funcionan: una sesión Wayland no entrega teclas globales a las apps."));
        for (const auto& f : PanelAtajos::filas()) {
            EXPECT_FALSE(p->boton(f.cual)->isEnabled());
            p->boton(f.cual)->click();
            EXPECT_EQ(m->grabando(), std::nullopt) << "nothing records a key that cannot work";
            EXPECT_EQ(p->descripcion(f.cual)->text(), f.descripcion);
        }
        EXPECT_FALSE(p->filaFn()->isEnabled());
        guardar(e == Esquema::oscuro ? "atajos-wayland-oscuro" : "atajos-wayland-claro");
        vista.reset();
    }
}

TEST_F(Wayland, ConPortalLaPantallaEstaEnOrden) {
    pruebas::PortalSimulado portal(bus_->direccion());
    ASSERT_TRUE(portal.listo());
    VistaAjustes& w = abrir(SeccionAjustes::estado, Esquema::claro);
    const QStringList t = textos(w.panelEstado());
    EXPECT_FALSE(t.contains("Grabación de pantalla")) << t.join(" | ").toStdString();
    EXPECT_TRUE(t.contains("no funcionan en una sesión Wayland"));
    EXPECT_TRUE(Permiso::pantallaFunciona());
}

}  // namespace
