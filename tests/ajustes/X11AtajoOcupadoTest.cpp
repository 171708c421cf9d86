// A hot key the desktop will not hand over, on a real X server: another client holds Alt+Space
// (as many window managers do for their window menu), so our grab gets BadAccess. The settings
// window shows that key as not working, with the reason, instead of "Todo listo en este equipo",
// and stops showing it once the key is ours again.
#include "zentu/ajustes/VistaAjustes.h"

#include "Paneles.h"

#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Privacidad.h"
#include "zentu/ajustes/PanelAtajos.h"
#include "zentu/ajustes/PanelEstado.h"
#include "zentu/isla/Permisos.h"

#include <QAbstractButton>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <gtest/gtest.h>
#include <cstdlib>
#include <map>
#include <memory>

#include <xcb/xcb.h>

using Cual = Atajos::Cual;

namespace {

// Another program on the same desktop, holding Alt+Space on the root window.
class OtroPrograma {
public:
    OtroPrograma() : conexion_(xcb_connect(nullptr, nullptr)) {
        raiz_ = xcb_setup_roots_iterator(xcb_get_setup(conexion_)).data->root;
    }
    ~OtroPrograma() { xcb_disconnect(conexion_); }
    bool tomar() {
        xcb_generic_error_t* error = xcb_request_check(
            conexion_, xcb_grab_key_checked(conexion_, 0, raiz_, XCB_MOD_MASK_1, espacio, XCB_GRAB_MODE_ASYNC,
                                            XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return !error;
    }
    void soltar() {
        xcb_ungrab_key(conexion_, espacio, raiz_, XCB_MOD_MASK_1);
        std::free(xcb_get_input_focus_reply(conexion_, xcb_get_input_focus(conexion_), nullptr));
    }

private:
    static constexpr xcb_keycode_t espacio = 65;
    xcb_connection_t* conexion_;
    xcb_window_t raiz_;
};

std::map<QString, QString> ayudas(const QWidget* panel) {
    std::map<QString, QString> a;
    for (const auto* b : panel->findChildren<QAbstractButton*>())
        if (!b->accessibleName().isEmpty()) a[b->accessibleName()] = b->toolTip();
    return a;
}

int distancia(const QColor& a, const QColor& b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

// The quick-action cards of the status pane, drawn as they are on screen.
std::map<QString, QImage> tarjetas(QWidget* panel) {
    std::map<QString, QImage> t;
    for (const char* n : {"Hablar", "Escribir", "Mi pantalla", "Una zona"})
        for (auto* b : panel->findChildren<QAbstractButton*>())
            if (b->accessibleName() == QLatin1String(n)) t[QString::fromUtf8(n)] = b->grab().toImage();
    return t;
}

// The top row of a card's title (its capital letter): between the icon (at the top) and the key
// cap (at the bottom), the first row with a pixel far from the card's fill.
int cabezaDelTitulo(const QImage& img) {
    const double k = img.devicePixelRatio();
    const int alto = int(img.height() / k);
    const QColor fondo = img.pixelColor(int((img.width() / k - 6) * k), int(60 * k));
    for (int y = int(48 * k); y < int((alto - 30) * k); ++y)
        for (int x = int(12 * k); x < img.width() - int(12 * k); ++x)
            if (distancia(img.pixelColor(x, y), fondo) > 150) return int(y / k);
    return -1;
}

// The key caps along a card's bottom: runs of pixels off the card's fill across the caps' middle.
int caps(const QImage& img) {
    const double k = img.devicePixelRatio();
    const int y = int((img.height() / k - 12 - 17 + 2) * k);  // inside a cap, above its text
    const QColor fondo = img.pixelColor(img.width() - int(6 * k), y);
    int n = 0;
    bool dentro = false;
    for (int x = int(6 * k); x < img.width() - int(6 * k); ++x) {
        const bool tapa = distancia(img.pixelColor(x, y), fondo) > 12;
        if (tapa && !dentro) ++n;
        dentro = tapa;
    }
    return n;
}

}  // namespace

TEST(X11AtajoOcupado, SeMuestraComoQueNoFuncionaYPorQue) {
    for (int i = 1; i <= 5; ++i) Preferencias::almacen().remove(QStringLiteral("zentu.atajo.%1").arg(i));
    ConMicrofono sistema;
    Privacidad::usar(&sistema);
    Permiso::ponerPantallaFunciona(true);
    OtroPrograma otro;
    ASSERT_TRUE(otro.tomar());

    Atajos atajos;  // the desktop's own hot keys, on this X server
    ASSERT_FALSE(atajos.registrada(Cual::llamada)) << "the desktop answered BadAccess";
    EstadoVoz voz;
    ModeloAjustes m(atajos, voz, true, [] { return std::optional<Cuenta>(); }, [] {}, [](bool) {}, [] {});
    m.encenderFnControl = [](bool) {};
    m.estadoInicioSesion = [] { return false; };
    const QString carpeta = pruebas::carpetaArtefactos("ajustes");

    for (Esquema e : {Esquema::claro, Esquema::oscuro}) {
        VistaAjustes w(m, SeccionAjustes::estado, e);
        w.probarPantalla = []() -> QCoro::Task<bool> { co_return true; };
        w.resize(760, 520);
        w.show();
        ASSERT_TRUE(pruebas::esperarHasta([&] { return w.permisosVistos() >= 1; }));
        pruebas::girar(50);
        const QStringList t = etiquetasVisibles(w.panelEstado());
        EXPECT_TRUE(t.contains("Atajos de teclado")) << t.join(" | ").toStdString();
        EXPECT_TRUE(t.contains("el escritorio u otra app ya usa Alt+Espacio")) << t.join(" | ").toStdString();
        EXPECT_FALSE(t.contains("Todo listo en este equipo"));
        // "Hablar" offers no key that would not answer; the others still show theirs.
        auto a = ayudas(w.panelEstado());
        EXPECT_EQ(a["Hablar"], "Hablar");
        EXPECT_EQ(a["Escribir"], "Escribir (Alt+Mayús+C)");
        // The card without a cap keeps its title on the line of the others', and has no cap.
        const auto t4 = tarjetas(w.panelEstado());
        ASSERT_EQ(t4.size(), 4u);
        for (const auto& [nombre, img] : t4) {
            EXPECT_NEAR(cabezaDelTitulo(img), cabezaDelTitulo(t4.at("Escribir")), 1) << nombre.toStdString();
            EXPECT_EQ(caps(img), nombre == "Hablar" ? 0 : 1) << nombre.toStdString();
        }
        EXPECT_TRUE(w.grab().toImage().save(carpeta + (e == Esquema::oscuro ? "/estado-atajo-ocupado-oscuro.png"
                                                                              : "/estado-atajo-ocupado-claro.png")));

        // The shortcuts pane says it in that row, in the words of a refused recording.
        w.setSeccion(SeccionAjustes::atajos);
        pruebas::girar(50);
        EXPECT_EQ(w.panelAtajos()->descripcion(Cual::llamada)->text(), "El escritorio u otra app ya usa Alt+Espacio.");
        EXPECT_EQ(w.panelAtajos()->descripcion(Cual::conversacion)->text(), "Mantén pulsado mientras hablas y suelta.");
        EXPECT_TRUE(w.panelAtajos()->boton(Cual::llamada)->isEnabled()) << "another combination can be chosen";
        EXPECT_TRUE(w.grab().toImage().save(carpeta + (e == Esquema::oscuro ? "/atajos-atajo-ocupado-oscuro.png"
                                                                              : "/atajos-atajo-ocupado-claro.png")));
    }

    // The other program lets go; "Restablecer atajos" takes the key, and all is well again.
    otro.soltar();
    VistaAjustes w(m, SeccionAjustes::estado, Esquema::claro);
    w.probarPantalla = []() -> QCoro::Task<bool> { co_return true; };
    w.resize(760, 520);
    w.show();
    m.restablecerAtajos();
    ASSERT_TRUE(atajos.registrada(Cual::llamada));
    pruebas::girar(50);
    const QStringList t = etiquetasVisibles(w.panelEstado());
    EXPECT_TRUE(t.contains("Todo listo en este equipo")) << t.join(" | ").toStdString();
    EXPECT_FALSE(t.contains("Atajos de teclado"));
    EXPECT_EQ(ayudas(w.panelEstado())["Hablar"], "Hablar (Alt+Espacio)");
    // Every card shows its combination whole on one cap, "Hablar" as the others.
    for (const auto& [nombre, img] : tarjetas(w.panelEstado())) EXPECT_EQ(caps(img), 1) << nombre.toStdString();
    EXPECT_TRUE(w.grab().toImage().save(pruebas::carpetaArtefactos("ajustes") + "/estado-todas-las-teclas.png"));
    atajos.pausar(true);
    Privacidad::usar(nullptr);
}
