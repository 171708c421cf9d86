// The settings window: its layout arithmetic and texts as tables, its lifecycle in virtual time,
// and every pane drawn offscreen in both schemes, with and without an account.
#include "zentu/ajustes/VistaAjustes.h"

#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Privacidad.h"
#include "plataforma/TeclasGlobales.h"
#include "zentu/ajustes/BarraAjustes.h"
#include "zentu/ajustes/EquipoAgentes.h"
#include "zentu/ajustes/PanelAtajos.h"
#include "zentu/ajustes/PanelCuenta.h"
#include "zentu/ajustes/PanelEstado.h"
#include "zentu/ajustes/PanelLaIsla.h"
#include "zentu/ajustes/PanelLlamadas.h"
#include "zentu/ajustes/PiezasAjustes.h"
#include "zentu/isla/Permisos.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSlider>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>
#include <algorithm>
#include <cmath>
#include <map>

using Agente = Instantanea::Agente;

namespace {

class TeclasFalsas : public TeclasGlobales {
public:
    int registrar(quint32 id, quint32 tecla, quint32 mods) override {
        tomadas[id] = {tecla, mods};
        return 0;
    }
    void quitar(quint32 id) override { tomadas.erase(id); }
    std::map<quint32, Combinacion> tomadas;
};

class PrivacidadFalsa : public Privacidad {
public:
    Estado estadoMicrofono = Estado::concedido;
    bool permitida = true;
    bool teclas = true;
    Estado microfono() override { return estadoMicrofono; }
    bool pantallaPermitida() override { return permitida; }
    bool accesibilidadPermitida() override { return teclas; }
    QCoro::Task<Captura> probarPantalla() override { co_return permitida ? Captura::funciona : Captura::noFunciona; }
    bool abrirAjustes(Ajuste) override { return true; }
};

Agente agente(qint64 id, const char* nombre, bool activo, qint64 conversaciones) {
    Agente a;
    a.id = id;
    a.nombre = QString::fromUtf8(nombre);
    a.categoria = QStringLiteral("ventas");
    a.activo = activo;
    a.conversaciones = conversaciones;
    return a;
}

std::vector<Agente> muchos(int n) {
    std::vector<Agente> v;
    for (int i = 0; i < n; ++i) v.push_back(agente(i + 1, "agente", true, 0));
    return v;
}

// A model and its window over fakes; virtual time.
class Ventana : public ::testing::Test {
protected:
    void SetUp() override {
        Privacidad::usar(&privacidad);
        Permiso::ponerPantallaFunciona(true);
        for (int i = 1; i <= 5; ++i) Preferencias::almacen().remove(QStringLiteral("zentu.atajo.%1").arg(i));
        atajos = std::make_unique<Atajos>(teclas);
        m = std::make_unique<ModeloAjustes>(*atajos, voz, true, [this] { return cuenta; }, [this] { ++desenlaces; },
                                            [](bool) {}, [this] { ++arriba; });
        m->encenderFnControl = [](bool) {};
        m->estadoInicioSesion = [] { return false; };
        m->abrirAlIniciarSesion = [](bool) {};
    }
    void TearDown() override {
        vista.reset();
        m.reset();
        atajos.reset();
        Privacidad::usar(nullptr);
        for (const char* k : {"zentu.isla.escala", "zentu.resumenManana"}) Preferencias::almacen().remove(QString::fromLatin1(k));
    }
    VistaAjustes& abrir(SeccionAjustes s, Esquema e = Esquema::claro, QSize tam = {760, 520}) {
        vista = std::make_unique<VistaAjustes>(*m, s, e, reloj);
        vista->leerFoto = [this] {
            ++lecturas;
            return foto;
        };
        vista->probarPantalla = [this]() -> QCoro::Task<bool> {
            ++sondas;
            co_return true;
        };
        vista->resize(tam);
        vista->releerFoto();
        return *vista;
    }

    RelojVirtual reloj;
    PrivacidadFalsa privacidad;
    TeclasFalsas teclas;
    EstadoVoz voz;
    std::unique_ptr<Atajos> atajos;
    std::unique_ptr<ModeloAjustes> m;
    std::unique_ptr<VistaAjustes> vista;
    std::optional<Cuenta> cuenta;
    Instantanea foto = Instantanea::vacia();
    int desenlaces = 0, arriba = 0, lecturas = 0, sondas = 0;
};

}  // namespace

TEST(VistaAjustes, DisposicionSegunElAlto) {
    struct Caso {
        double w, h;
        bool grande;
        double previa, margen, titulo, subtitulo, ancho;
    };
    const Caso casos[] = {
        {545, 520, false, 112, 40, 26, 13, 545 - 68},
        {700, 640, false, 112, 40, 26, 13, 700 - 68},
        {700, 641, true, 166.66, 64.1, 32, 14.5, 620},
        {700, 700, true, 182, 70, 32, 14.5, 620},
        {985, 900, true, 234, 90, 32, 14.5, 880},
        {1400, 1154, true, 300, 115.4, 32, 14.5, 880},
        {1400, 1300, true, 300, 130, 32, 14.5, 880},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(testing::Message() << c.w << "×" << c.h);
        const auto d = VistaAjustes::disposicion(c.w, c.h);
        EXPECT_EQ(d.grande, c.grande);
        EXPECT_NEAR(d.altoPrevia, c.previa, 0.01);
        EXPECT_NEAR(d.margenSuperior, c.margen, 0.01);
        EXPECT_EQ(d.tamTitulo, c.titulo);
        EXPECT_EQ(d.tamSubtitulo, c.subtitulo);
        EXPECT_NEAR(d.ancho, c.ancho, 0.01);
        if (c.grande) EXPECT_NEAR(d.x, (c.w - c.ancho) / 2, 0.01) << "centrada";
        else EXPECT_EQ(d.x, 34);
    }
}

TEST(VistaAjustes, CifrasDelDia) {
    struct Caso {
        const char* nombre;
        std::optional<Instantanea::Dia> dia;
        qint64 pendientes;
        std::array<QString, 3> valores;
        std::optional<QString> nota;
        bool resaltar;
    };
    auto dia = [](qint64 hoy, qint64 ayer, std::optional<qint64> solas) {
        Instantanea::Dia d;
        d.conversacionesHoy = hoy;
        d.conversacionesAyer = ayer;
        d.solas = solas;
        return d;
    };
    const Caso casos[] = {
        {"más", dia(18, 14, 83), 0, {"18", "83 %", "0"}, QStringLiteral("4 más que ayer"), false},
        {"menos", dia(10, 12, 0), 1, {"10", "0 %", "1"}, QStringLiteral("2 menos que ayer"), true},
        {"igual", dia(7, 7, std::nullopt), 12000, {"7", "—", "12000"}, QStringLiteral("igual que ayer"), true},
        {"sin día", std::nullopt, 0, {"—", "—", "0"}, std::nullopt, false},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        Instantanea f;
        f.dia = c.dia;
        f.totalPendientes = c.pendientes;
        const auto cifras = PanelEstado::cifras(f);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(cifras[i].valor, c.valores[i]);
        EXPECT_EQ(cifras[0].nota, c.nota);
        EXPECT_EQ(cifras[1].nota, std::nullopt);
        EXPECT_EQ(cifras[2].resaltar, c.resaltar);
        EXPECT_EQ(cifras[0].titulo, "conversaciones hoy");
        EXPECT_EQ(cifras[1].titulo, "atendidas sin ti");
        EXPECT_EQ(cifras[2].titulo, "esperan por ti");
    }
}

TEST(VistaAjustes, TextosPequenos) {
    struct Pct { double escala; const char* texto; };
    for (const Pct& c : {Pct{0.9, "90 %"}, Pct{1.4, "140 %"}, Pct{2.2, "220 %"}, Pct{1.125, "113 %"},
                         Pct{1.0149, "101 %"}, Pct{1.234, "123 %"}})
        EXPECT_EQ(PanelLaIsla::porcentaje(c.escala), QString::fromUtf8(c.texto)) << c.escala;

    struct Previa { double alto, escala, esperado; };
    for (const Previa& c : {Previa{112, 1.4, 0.868}, Previa{112, 1.0, 0.62}, Previa{224, 2.2, 2.728}, Previa{300, 0.9, 1.4946}})
        EXPECT_NEAR(PreviaIsla::escala(c.alto, c.escala), c.esperado, 1e-4);

    struct Host { const char* url; const char* host; };
    for (const Host& c : {Host{"https://zentu.app", "zentu.app"}, Host{"https://panel.zentu.app:8443/x", "panel.zentu.app"},
                          Host{"http://127.0.0.1:4000", "127.0.0.1"}, Host{"zentu", "zentu"}, Host{"", ""},
                          Host{"no es una url", "no es una url"}})
        EXPECT_EQ(PanelCuenta::servidor(QString::fromUtf8(c.url)), QString::fromUtf8(c.host)) << c.url;

    EXPECT_EQ(PanelCuenta::nombre(Cuenta{"u", "t", "ana@tolmira.es", ""}), "Tu negocio");
    EXPECT_EQ(PanelCuenta::inicial(Cuenta{"u", "t", "ana@tolmira.es", ""}), "A");
    EXPECT_EQ(PanelCuenta::inicial(Cuenta{"u", "t", "ana@tolmira.es", "ñandú"}), "Ñ");

    struct Nombre { const char* nombre; const char* corto; const char* largo; };
    for (const Nombre& c : {Nombre{"soporte_tecnico", "Soporte", "Soporte Tecnico"}, Nombre{"_ventas", "Ventas", " Ventas"},
                            Nombre{"-marta-luisa", "Marta", "-Marta-Luisa"}, Nombre{"LUCÍA", "Lucía", "Lucía"},
                            Nombre{"", "", ""}, Nombre{"___", "___", "   "}})
        EXPECT_EQ(EquipoAgentes::nombreCorto(QString::fromUtf8(c.nombre)), QString::fromUtf8(c.corto)) << c.nombre;
    EXPECT_EQ(EquipoAgentes::nombreLargo("soporte_tecnico"), "Soporte Tecnico");

    struct Estado { bool activo; qint64 n; const char* texto; };
    for (const Estado& c : {Estado{false, 3, "En pausa"}, Estado{true, 0, "Activo"}, Estado{true, 1, "Atendiendo 1 chat"},
                            Estado{true, 4, "Atendiendo 4 chats"}})
        EXPECT_EQ(EquipoAgentes::estado(agente(1, "x", c.activo, c.n)), QString::fromUtf8(c.texto));

    // The sidebar's rows and the pane headers, in sidebar order.
    struct Seccion { SeccionAjustes s; const char* titulo; const char* subtitulo; };
    const Seccion secciones[] = {
        {SeccionAjustes::estado, "Estado", ""},
        {SeccionAjustes::atajos, "Atajos", "Llama a Zentu desde cualquier sitio, sin tocar el ratón."},
        {SeccionAjustes::isla, "La isla", "Cómo se ve y se oye Zentu en tu escritorio."},
        {SeccionAjustes::llamadas, "Llamadas", "Cuándo pueden sonar tus agentes en este equipo."},
        {SeccionAjustes::cuenta, "Cuenta", "El negocio con el que trabaja este equipo."},
    };
    for (size_t i = 0; i < Secciones::todas.size(); ++i) {
        EXPECT_EQ(Secciones::todas[i], secciones[i].s);
        EXPECT_EQ(BarraAjustes::titulo(secciones[i].s), QString::fromUtf8(secciones[i].titulo));
        EXPECT_EQ(VistaAjustes::subtitulo(secciones[i].s), QString::fromUtf8(secciones[i].subtitulo));
    }
    EXPECT_TRUE(BarraAjustes::version().startsWith(QStringLiteral("Versión ")));

    struct Teclas { Combinacion c; QStringList caps; };
    for (const Teclas& c : {Teclas{{49, 0x800}, {"Alt", "Espacio"}}, Teclas{{96, 0}, {"F5"}},
                            Teclas{{53, 0x1000 | 0x800 | 0x200 | 0x100}, {"Ctrl", "Alt", "Mayús", "Super", "Esc"}}})
        EXPECT_EQ(VistaAjustes::teclas(c.c), c.caps) << c.c.texto().toStdString();
}

TEST(VistaAjustes, RejillaDeAgentes) {
    struct Caso { int agentes, filas; size_t caras, resto; };
    for (const Caso& c : {Caso{0, 1, 0, 0}, Caso{9, 1, 9, 0}, Caso{10, 1, 8, 2}, Caso{27, 3, 27, 0}, Caso{28, 3, 26, 2},
                          Caso{40, 1, 8, 32}}) {
        const auto r = EquipoAgentes::repartir(muchos(c.agentes), c.filas);
        EXPECT_EQ(r.caras.size(), c.caras) << c.agentes << " en " << c.filas;
        EXPECT_EQ(r.resto.size(), c.resto) << c.agentes << " en " << c.filas;
    }
    // Busiest first; on equal counts the active one first; otherwise the snapshot's order.
    const std::vector<Agente> v = {agente(1, "a", false, 5), agente(2, "b", true, 5), agente(3, "c", true, 0),
                                   agente(4, "d", true, 0), agente(5, "e", true, 9)};
    std::vector<qint64> ids;
    for (const Agente& a : EquipoAgentes::ordenados(v)) ids.push_back(a.id);
    EXPECT_EQ(ids, (std::vector<qint64>{5, 2, 1, 3, 4}));
    EXPECT_EQ(EquipoAgentes::cuenta(v), "4 de 5 activos");
    EXPECT_EQ(EquipoAgentes::cuenta({}), "0 de 0 activos");
}

TEST(VistaAjustes, PermisosQueFaltan) {
    using F = PanelEstado::Falta;
    using B = F::Boton;
    using S = PanelEstado::Sistema;
    const F microfono{"Micrófono", "para que Zentu te oiga", B::darPermiso, Permiso::microfono};
    const F pantalla{"Grabación de pantalla", "para ver tu pantalla", B::darPermiso, Permiso::pantalla};
    const F reabrir{"Grabación de pantalla", "dado: falta volver a abrir la app", B::reabrir, std::nullopt};
    const F sinCaptura{"Grabación de pantalla", "este escritorio no ofrece capturas", B::ninguno, std::nullopt};
    const F wayland{"Atajos de teclado", "no funcionan en una sesión Wayland", B::ninguno, std::nullopt};
    const F sinX{"Atajos de teclado", "no funcionan sin una sesión X11", B::ninguno, std::nullopt};
    struct Caso { const char* que; S s; std::vector<F> faltan; };
    const Caso casos[] = {
        {"todo listo", {true, true, true, true, true, false, {}}, {}},
        {"sin micrófono", {false, true, true, true, true, false, {}}, {microfono}},
        {"sin acceso a la pantalla", {true, false, false, true, true, false, {}}, {pantalla}},
        {"dado, aún sin efecto", {true, false, true, true, true, false, {}}, {reabrir}},
        // A Wayland desktop with no Screenshot portal: nothing to grant, nothing to reopen.
        {"Wayland sin portal", {true, false, true, false, false, true, {}}, {sinCaptura, wayland}},
        {"sin sesión gráfica", {false, false, false, false, false, false, {}}, {microfono, sinCaptura, sinX}},
        {"una tecla ocupada", {true, true, true, true, true, false, {"Alt+Espacio"}},
         {F{"Atajos de teclado", "el escritorio u otra app ya usa Alt+Espacio", B::ninguno, std::nullopt}}},
        {"tres teclas ocupadas", {true, true, true, true, true, false, {"Alt+Espacio", "Alt+Mayús+Espacio", "Alt+Mayús+C"}},
         {F{"Atajos de teclado", "el escritorio u otra app ya usa Alt+Espacio, Alt+Mayús+Espacio y Alt+Mayús+C",
            B::ninguno, std::nullopt}}},
        // Where no key reaches the program, which of them were grabbed says nothing.
        {"Wayland con teclas tomadas", {true, true, true, true, false, true, {"Alt+Espacio"}}, {wayland}},
    };
    for (const Caso& c : casos) EXPECT_EQ(PanelEstado::faltan(c.s), c.faltan) << c.que;
}

TEST_F(Ventana, ElAvisoSeBorraALosSeisSegundos) {
    abrir(SeccionAjustes::estado);
    vista->mostrarAviso("Uno");
    reloj.avanzar(4);
    vista->mostrarAviso("Dos");
    reloj.avanzar(2.5);  // the first one's clearing finds another text and leaves it
    EXPECT_EQ(vista->aviso(), QStringLiteral("Dos"));
    EXPECT_FALSE(vista->panelEstado()->aviso()->isHidden());
    reloj.avanzar(3.4);
    EXPECT_EQ(vista->aviso(), QStringLiteral("Dos"));
    reloj.avanzar(0.2);
    EXPECT_EQ(vista->aviso(), std::nullopt);
    EXPECT_TRUE(vista->panelEstado()->aviso()->isHidden());
}

TEST_F(Ventana, CambiarUnAgenteQueFalla) {
    foto.agentes = std::vector<Agente>{agente(7, "soporte_tecnico", true, 2)};
    abrir(SeccionAjustes::estado);
    std::vector<std::pair<qint64, bool>> pedidos;
    m->cambiarAgente = [&](qint64 id, bool activo) -> QCoro::Task<std::optional<QString>> {
        pedidos.push_back({id, activo});
        co_return QStringLiteral("No quedó como se pidió.");
    };
    EquipoAgentes* equipo = vista->panelEstado()->equipo();
    equipo->abrirAgente(7);
    ASSERT_NE(equipo->burbuja(), nullptr);
    const int antes = lecturas;
    pruebas::esperar([](EquipoAgentes* e, Agente a) -> QCoro::Task<int> {
        co_await e->cambiar(a);
        co_return 0;
    }(equipo, foto.agentes->front()));
    EXPECT_EQ(pedidos, (std::vector<std::pair<qint64, bool>>{{7, false}}));
    EXPECT_EQ(vista->aviso(), QStringLiteral("No quedó como se pidió."));
    EXPECT_EQ(lecturas, antes + 1) << "la foto se vuelve a leer pase lo que pase";
    EXPECT_EQ(equipo->agenteAbierto(), std::nullopt);
    EXPECT_FALSE(equipo->cambiandoAgente());
    reloj.avanzar(6);
    EXPECT_EQ(vista->aviso(), std::nullopt);
}

TEST_F(Ventana, RefrescoSoloConEstadoVisible) {
    abrir(SeccionAjustes::estado);
    vista->show();
    QCoreApplication::processEvents();
    const int l0 = lecturas, s0 = sondas;
    reloj.avanzar(5);
    QCoreApplication::processEvents();
    EXPECT_EQ(lecturas, l0 + 1);
    EXPECT_EQ(sondas, s0 + 1);
    const int p0 = vista->permisosVistos();
    reloj.avanzar(5);
    QCoreApplication::processEvents();
    EXPECT_EQ(vista->permisosVistos(), p0 + 1);

    m->setVentanaVisible(false);
    EXPECT_FALSE(vista->orbeBarra().visible());
    const int l1 = lecturas;
    reloj.avanzar(15);
    EXPECT_EQ(lecturas, l1) << "oculta: nada se lee";
    m->setVentanaVisible(true);
    EXPECT_EQ(lecturas, l1 + 1) << "al volver se lee en el acto";
    EXPECT_TRUE(vista->orbeBarra().visible());
    reloj.avanzar(4.01);
    EXPECT_FALSE(vista->orbeBarra().visible()) << "el orbe duerme a los 4 s";

    vista->setSeccion(SeccionAjustes::isla);
    EXPECT_FALSE(vista->muestra().quieto());
    const int l2 = lecturas;
    reloj.avanzar(10);
    EXPECT_EQ(lecturas, l2) << "otros paneles no se refrescan";
    EXPECT_TRUE(vista->muestra().quieto());
    voz.setEscala(1.8);
    EXPECT_FALSE(vista->muestra().quieto());
    reloj.avanzar(2.01);
    EXPECT_TRUE(vista->muestra().quieto());
    vista->setSeccion(SeccionAjustes::atajos);
    EXPECT_TRUE(vista->muestra().quieto());
}

TEST_F(Ventana, CerrarLaVentanaTerminaLaGrabacion) {
    abrir(SeccionAjustes::atajos);
    vista->show();
    m->grabar(Atajos::Cual::chat);
    EXPECT_TRUE(teclas.tomadas.empty());
    vista->hide();
    EXPECT_EQ(m->grabando(), std::nullopt);
    EXPECT_EQ(teclas.tomadas.size(), 5u);
}

TEST_F(Ventana, ControlesDeLosPaneles) {
    cuenta = Cuenta{"http://127.0.0.1:9", "t", "ana@tolmira.es", "Tolmira"};
    abrir(SeccionAjustes::atajos);
    vista->show();
    // The key button: records, then stops the same recording.
    QAbstractButton* b = vista->panelAtajos()->boton(Atajos::Cual::pantalla);
    b->click();
    EXPECT_EQ(m->grabando(), Atajos::Cual::pantalla);
    vista->panelAtajos()->boton(Atajos::Cual::zona)->click();
    EXPECT_EQ(m->grabando(), Atajos::Cual::zona);
    vista->panelAtajos()->boton(Atajos::Cual::zona)->click();
    EXPECT_EQ(m->grabando(), std::nullopt);
    m->setError(QStringLiteral("Esa combinación ya es la de la llamada."));
    EXPECT_EQ(vista->panelAtajos()->error()->text(), "Esa combinación ya es la de la llamada.");
    vista->panelAtajos()->restablecer()->click();
    EXPECT_EQ(m->error(), std::nullopt);

    // Quick actions: the tool tip names the keys; a press hands the action's name over.
    std::vector<QString> acciones;
    m->accion = [&](const QString& a) { acciones.push_back(a); };
    std::map<QString, QAbstractButton*> tarjetas;
    for (auto* t : vista->panelEstado()->findChildren<QAbstractButton*>()) tarjetas[t->accessibleName()] = t;
    ASSERT_TRUE(tarjetas.count("Hablar") && tarjetas.count("Una zona"));
    EXPECT_EQ(tarjetas["Hablar"]->toolTip(), "Hablar (Alt+Espacio)");
    EXPECT_EQ(tarjetas["Escribir"]->toolTip(), "Escribir (Alt+Mayús+C)");
    tarjetas["Hablar"]->click();
    tarjetas["Una zona"]->click();
    EXPECT_EQ(acciones, (std::vector<QString>{"llamada", "zona"}));

    // Island pane: the slider writes the scale, the label follows.
    vista->setSeccion(SeccionAjustes::isla);
    vista->panelIsla()->deslizador()->setValue(PanelLaIsla::pasos);
    EXPECT_DOUBLE_EQ(voz.escala(), 2.2);
    EXPECT_EQ(vista->panelIsla()->etiquetaPorcentaje()->text(), "220 %");
    vista->panelIsla()->volverArriba()->click();
    EXPECT_EQ(arriba, 1);
    // The login switch shows what the system says after the attempt.
    vista->panelIsla()->inicio()->interruptor()->click();
    EXPECT_FALSE(vista->panelIsla()->inicio()->valor());

    // Calls pane: unknown preference → off and disabled.
    vista->setSeccion(SeccionAjustes::llamadas);
    m->setLlamadas(std::nullopt);
    EXPECT_FALSE(vista->panelLlamadas()->fila()->isEnabled());
    EXPECT_FALSE(vista->panelLlamadas()->fila()->valor());
    m->setLlamadas(true);
    EXPECT_TRUE(vista->panelLlamadas()->fila()->isEnabled());
    EXPECT_TRUE(vista->panelLlamadas()->fila()->valor());

    // Account pane: one click unlinks.
    vista->setSeccion(SeccionAjustes::cuenta);
    ASSERT_NE(vista->panelCuenta()->desenlazar(), nullptr);
    vista->panelCuenta()->desenlazar()->click();
    EXPECT_EQ(desenlaces, 1);
    EXPECT_EQ(vista->barra()->lineaCuenta(), "Tolmira");
    cuenta->nombre.clear();
    vista->barra()->actualizarCuenta();
    EXPECT_EQ(vista->barra()->lineaCuenta(), "ana@tolmira.es");
    cuenta.reset();
    vista->barra()->actualizarCuenta();
    EXPECT_EQ(vista->barra()->lineaCuenta(), "Sin enlazar");
}

// A business name too long for the sidebar is cut to fit, and a hover shows it whole.
TEST_F(Ventana, ElNombreCortadoSeLeeEnteroAlPasarElRaton) {
    const QString largo = QStringLiteral("Panadería La Espiga Dorada del Barrio Antiguo");
    cuenta = Cuenta{QStringLiteral("https://zentu.ai"), QStringLiteral("t"), QStringLiteral("ana@espiga.mx"), largo};
    VistaAjustes& v = abrir(SeccionAjustes::estado);
    v.show();
    v.activateWindow();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return v.isActiveWindow(); }));
    QLabel* nombre = nullptr;
    for (QLabel* l : v.barra()->findChildren<QLabel*>())
        if (l->toolTip() == largo) nombre = l;
    ASSERT_NE(nombre, nullptr);
    EXPECT_TRUE(nombre->text().endsWith(QChar(0x2026))) << nombre->text().toStdString();
    EXPECT_TRUE(largo.startsWith(nombre->text().chopped(1)));
    EXPECT_LE(nombre->fontMetrics().horizontalAdvance(nombre->text()), nombre->width());
    QTest::mouseMove(nombre, nombre->rect().center());
    EXPECT_TRUE(pruebas::esperarHasta([&] { return QToolTip::isVisible() && QToolTip::text() == largo; }));
    v.grab().save(pruebas::carpetaArtefactos("ajustes") + "/barra-nombre-largo.png");
}

// Every pane, both schemes, with and without an account, at the smallest window; the status
// pane also tall, and with the permissions missing.
TEST_F(Ventana, Imagenes) {
    const QString carpeta = pruebas::carpetaArtefactos("ajustes");
    voz.setEscala(1.4);
    struct Variante { const char* nombre; bool conCuenta; QSize tam; bool faltan; };
    const Variante variantes[] = {
        {"con-cuenta", true, {760, 520}, false},
        {"sin-cuenta", false, {760, 520}, false},
        {"alta", true, {1200, 900}, false},
        {"permisos", true, {760, 520}, true},
    };
    for (const Variante& v : variantes) {
        for (Esquema e : {Esquema::claro, Esquema::oscuro}) {
            for (SeccionAjustes s : Secciones::todas) {
                if ((QString(v.nombre) == "alta" || v.faltan) && s != SeccionAjustes::estado && s != SeccionAjustes::isla &&
                    !(v.faltan && s == SeccionAjustes::atajos))
                    continue;
                cuenta = v.conCuenta ? std::optional<Cuenta>(Cuenta{"https://panel.zentu.app", "t", "ana@tolmira.es",
                                                                     "Hotel Tolmira"})
                                     : std::nullopt;
                foto = v.conCuenta ? Instantanea::ejemplo() : Instantanea::vacia();
                privacidad.estadoMicrofono = v.faltan ? Privacidad::Estado::restringido : Privacidad::Estado::concedido;
                Permiso::ponerPantallaFunciona(!v.faltan);
                m->setFnControl(true);
                privacidad.teclas = !v.faltan;
                VistaAjustes& w = abrir(s, e, v.tam);
                w.show();
                // Showing asks the service for the calls preference; let that attempt end first.
                pruebas::girar(150);
                m->setLlamadas(v.conCuenta ? std::optional<bool>(true) : std::nullopt);
                if (QString(v.nombre) == "sin-cuenta" && s == SeccionAjustes::atajos) m->setError(ModeloAjustes::textoSinModificador);
                else m->setError(std::nullopt);
                // One row recording, to see its prompt.
                if (QString(v.nombre) == "con-cuenta" && s == SeccionAjustes::atajos) m->grabar(Atajos::Cual::pantalla);
                pruebas::girar(50);  // nested layouts settle over a few turns
                const QImage img = w.grab().toImage();
                const QString archivo = carpeta + "/" + Secciones::valor(s) + "-" + v.nombre +
                                        (e == Esquema::oscuro ? "-oscuro.png" : "-claro.png");
                EXPECT_TRUE(img.save(archivo)) << archivo.toStdString();
                EXPECT_EQ(img.size(), v.tam * img.devicePixelRatio());
                m->parar();
                w.hide();
                vista.reset();
            }
        }
    }
}

// The agent bubble (active and paused), the overflow bubble and a full one-row grid.
TEST_F(Ventana, ImagenesDelEquipo) {
    const QString carpeta = pruebas::carpetaArtefactos("ajustes");
    cuenta = Cuenta{"https://panel.zentu.app", "t", "ana@tolmira.es", "Hotel Tolmira"};
    std::vector<Agente> equipo = *Instantanea::ejemplo().agentes;
    const char* nombres[] = {"soporte_tecnico", "facturas", "marta-luisa", "reservas_web", "cocina", "eventos",
                             "proveedores", "recepcion"};
    for (int i = 0; i < 8; ++i) equipo.push_back(agente(100 + i, nombres[i], i % 3 != 0, i % 4));
    foto = Instantanea::ejemplo();
    foto.agentes = equipo;
    for (Esquema e : {Esquema::claro, Esquema::oscuro}) {
        const QString sufijo = e == Esquema::oscuro ? "-oscuro.png" : "-claro.png";
        VistaAjustes& w = abrir(SeccionAjustes::estado, e);
        w.show();
        pruebas::girar(150);
        EquipoAgentes* eq = w.panelEstado()->equipo();
        EXPECT_TRUE(w.grab().toImage().save(carpeta + "/estado-equipo-lleno" + sufijo));
        auto* resto = eq->findChild<QAbstractButton*>();
        ASSERT_NE(resto, nullptr);
        EXPECT_EQ(resto->toolTip(), "Ver los otros 4");
        resto->click();
        ASSERT_NE(eq->burbujaResto(), nullptr);
        EXPECT_TRUE(eq->restoAbierto());
        EXPECT_TRUE(eq->burbujaResto()->grab().toImage().save(carpeta + "/equipo-resto" + sufijo));
        eq->abrirResto(false);
        for (const Agente& a : equipo) {
            if (a.id != 100 && a.id != 101) continue;
            eq->abrirAgente(a.id);
            ASSERT_NE(eq->burbuja(), nullptr);
            const QImage img = eq->burbuja()->grab().toImage();
            EXPECT_EQ(img.width(), 230 * img.devicePixelRatio());
            EXPECT_TRUE(img.save(carpeta + (a.activo ? "/agente-activo" : "/agente-en-pausa") + sufijo));
            QStringList textos;
            for (auto* b : eq->burbuja()->findChildren<QAbstractButton*>()) textos << b->text();
            EXPECT_EQ(textos, QStringList{a.activo ? "Pausar" : "Reanudar"});
            eq->abrirAgente(std::nullopt);
        }
        w.hide();
        vista.reset();
    }
}

// A bubble hangs from the cell that opened it (in the grid or in the overflow bubble), not from
// the block.
TEST_F(Ventana, LasBurbujasCuelganDeSuCelda) {
    cuenta = Cuenta{"https://panel.zentu.app", "t", "ana@tolmira.es", "Hotel Tolmira"};
    foto = Instantanea::ejemplo();
    foto.agentes = muchos(12);
    VistaAjustes& w = abrir(SeccionAjustes::estado);
    w.show();
    pruebas::girar(150);
    EquipoAgentes* eq = w.panelEstado()->equipo();
    auto celda = [&](qint64 id) -> const QWidget* {
        for (const QWidget* c : w.findChildren<QWidget*>())
            if (!c->isHidden() && c->property("agente").toLongLong() == id) return c;
        return nullptr;
    };
    auto cuelga = [](const QWidget* burbuja, const QWidget* ancla) {
        const QRect c(ancla->mapToGlobal(QPoint(0, 0)), ancla->size());
        const QRect b = burbuja->geometry();
        EXPECT_TRUE(b.left() <= c.center().x() && c.center().x() <= b.right()) << "sobre la celda";
        EXPECT_TRUE(b.top() == c.bottom() + 1 || b.bottom() == c.top() - 1) << "junto a su borde";
    };
    for (qint64 id : {1, 5, 8}) {
        SCOPED_TRACE(id);
        eq->abrirAgente(id);
        ASSERT_NE(eq->burbuja(), nullptr);
        ASSERT_NE(celda(id), nullptr);
        cuelga(eq->burbuja(), celda(id));
        eq->abrirAgente(std::nullopt);
    }
    auto* resto = eq->findChild<QAbstractButton*>();
    ASSERT_NE(resto, nullptr);
    resto->click();
    ASSERT_NE(eq->burbujaResto(), nullptr);
    cuelga(eq->burbujaResto(), resto);
    eq->abrirAgente(10);
    ASSERT_NE(eq->burbuja(), nullptr);
    ASSERT_NE(celda(10), nullptr);
    EXPECT_EQ(celda(10)->window(), eq->burbujaResto());
    cuelga(eq->burbuja(), celda(10));
    eq->abrirAgente(std::nullopt);
    eq->abrirResto(false);
}

// At the smallest window, with a row recording, every shortcut description is shown whole.
TEST_F(Ventana, DescripcionesDeAtajosEnteras) {
    for (Esquema e : {Esquema::claro, Esquema::oscuro}) {
        VistaAjustes& w = abrir(SeccionAjustes::atajos, e);
        w.show();
        for (const auto& f : PanelAtajos::filas()) {
            SCOPED_TRACE(f.descripcion.toStdString());
            m->grabar(f.cual);
            pruebas::girar(50);
            const QLabel* l = nullptr;
            for (const QLabel* c : w.panelAtajos()->findChildren<QLabel*>())
                if (c->text() == f.descripcion) l = c;
            ASSERT_NE(l, nullptr);
            const QRect necesita = QFontMetrics(l->font()).boundingRect(QRect(0, 0, l->width(), 10000),
                                                                       Qt::TextWordWrap, l->text());
            EXPECT_LE(necesita.height(), l->height());
            EXPECT_LE(necesita.width(), l->width());
        }
        m->parar();
        w.hide();
        vista.reset();
    }
}

// The status pane's three day tiles share the row equally, whatever their texts; the island
// preview's capsule sits in the middle of its frame, at every preview height and island scale.
TEST_F(Ventana, CifrasIgualesYPildoraCentrada) {
    foto = Instantanea::ejemplo();
    for (QSize tam : {QSize(760, 520), QSize(1200, 900)}) {
        SCOPED_TRACE(tam.width());
        VistaAjustes& w = abrir(SeccionAjustes::estado, Esquema::claro, tam);
        w.show();
        pruebas::girar(50);
        const auto& t = w.panelEstado()->tiles();
        ASSERT_FALSE(w.panelEstado()->findChildren<QLabel*>().isEmpty());
        for (QWidget* tile : t) {
            EXPECT_LE(std::abs(tile->width() - t[0]->width()), 1) << "a pixel left over by the division at most";
            EXPECT_EQ(tile->height(), t[0]->height());
        }
        // Every text of a tile is shown whole: wrapped where its share is narrow, never cut.
        for (QWidget* tile : t)
            for (const QLabel* l : tile->findChildren<QLabel*>()) {
                if (l->isHidden()) continue;
                const QRect necesita = QFontMetrics(l->font()).boundingRect(QRect(0, 0, l->width(), 10000),
                                                                           Qt::TextWordWrap, l->text());
                EXPECT_LE(necesita.width(), l->width()) << l->text().toStdString();
                EXPECT_LE(necesita.height(), l->height()) << l->text().toStdString();
            }

        w.setSeccion(SeccionAjustes::isla);
        for (double escala : {0.9, 1.4, 2.2}) {
            voz.setEscala(escala);
            const PreviaIsla* previa = w.panelIsla()->previa();
            const double final = PreviaIsla::escala(previa->height(), escala);
            ASSERT_TRUE(pruebas::esperarHasta([&] { return previa->escalaMostrada() == final; }));  // the spring settles
            const QRectF capsula = previa->marcoCapsula();
            SCOPED_TRACE(escala);
            EXPECT_NEAR(capsula.center().y(), previa->height() / 2.0, 0.01);
            EXPECT_NEAR(capsula.center().x(), previa->width() / 2.0, 0.01);
            EXPECT_NEAR(capsula.height(), 56 * PreviaIsla::escala(previa->height(), escala), 0.01);
        }
        w.hide();
        vista.reset();
    }
}

// The light background's glows climb slowly through each 8-bit step: drawn plainly they show
// rings, bands a dozen pixels wide of one colour. Drawn with noise under the rounding, blocks of
// pixels average to the exact colour of the glow.
TEST_F(Ventana, FondoClaroSinAnillos) {
    VistaAjustes& w = abrir(SeccionAjustes::estado, Esquema::claro, {760, 520});
    w.show();
    pruebas::girar(50);
    const QImage img = w.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(img.devicePixelRatio(), 1.0);
    // The exact blue of the background: the lime glow near the top-left corner over the flat
    // colour (the turquoise one does not reach the top of the window).
    const auto exacto = [](double x, double y) {
        const double d = std::hypot(x - 0.08 * 760, y - 0.05 * 520);
        const double a = d < 420 ? 0.16 * (1 - d / 420) : 0;
        return (0.965 + (39 / 255.0 - 0.965) * a) * 255;
    };
    // Above the pane's title, right of the sidebar: nothing but the background.
    double peor = 0;
    for (int x0 = 252; x0 + 8 <= 470; x0 += 8) {
        double suma = 0, esperada = 0;
        for (int y = 4; y < 12; ++y)
            for (int x = x0; x < x0 + 8; ++x) {
                suma += qBlue(img.pixel(x, y));
                esperada += exacto(x + 0.5, y + 0.5);
            }
        peor = std::max(peor, std::abs(suma - esperada) / 64);
    }
    EXPECT_LT(peor, 0.25) << "bloques de 8 × 8 lejos de su color exacto: anillos";
}

namespace {

// The desktop switches scheme while the window is open: the view is made again in the other
// scheme at the same size, with the same scroll bars (none where nothing needs scrolling).
TEST_F(Ventana, OtroEsquemaConLaVentanaAbierta) {
    VistaAjustes& w = abrir(SeccionAjustes::estado, Esquema::claro, {760, 520});
    w.show();
    pruebas::girar(100);
    auto barras = [&] {
        QStringList r;
        for (QScrollArea* a : w.findChildren<QScrollArea*>())
            if (a->isVisibleTo(&w)) r << (a->verticalScrollBar()->isVisibleTo(a) ? "con barra" : "sin barra");
        return r;
    };
    const QStringList antes = barras();
    ASSERT_FALSE(antes.isEmpty());
    for (Esquema e : {Esquema::oscuro, Esquema::claro}) {
        w.setEsquema(e);
        pruebas::girar(100);
        EXPECT_EQ(barras(), antes) << (e == Esquema::oscuro ? "oscuro" : "claro");
        w.grab().save(pruebas::carpetaArtefactos("ajustes") + (e == Esquema::oscuro ? "/cambio-a-oscuro.png" : "/cambio-a-claro.png"));
    }
}

}  // namespace
