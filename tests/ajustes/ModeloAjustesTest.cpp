// The settings model: the hot-key recorder fed by real key events through the application, and
// the calls preference against the stand-in service.
#include "zentu/ajustes/ModeloAjustes.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"
#include "plataforma/Teclado.h"
#include "plataforma/TeclasGlobales.h"

#include <QApplication>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <set>

using Cual = Atajos::Cual;
using pruebas::esperar;

namespace {
QCoro::Task<int> comoEntero(QCoro::Task<void> tarea) {
    co_await std::move(tarea);
    co_return 0;
}
// Runs a task without a value to its end.
void terminar(QCoro::Task<void>&& tarea) { esperar(comoEntero(std::move(tarea))); }
}  // namespace

namespace {

constexpr quint32 may = Teclado::shift, opt = Teclado::option, ctl = Teclado::control, cmd = Teclado::command;
constexpr quint32 teclaA = 0, teclaP = 35, espacio = 49, esc = 53;

class TeclasFalsas : public TeclasGlobales {
public:
    int registrar(quint32 id, quint32 tecla, quint32 modificadores) override {
        quitar(id);
        if (ocupadas.count({tecla, modificadores})) return ocupada;
        tomadas[id] = {tecla, modificadores};
        return 0;
    }
    void quitar(quint32 id) override { tomadas.erase(id); }
    std::map<quint32, Combinacion> tomadas;
    std::set<std::pair<quint32, quint32>> ocupadas;
};

void borrarPreferencias() {
    for (int i = 1; i <= 5; ++i) Preferencias::almacen().remove(QStringLiteral("zentu.atajo.%1").arg(i));
    Preferencias::almacen().remove(QStringLiteral("zentu.resumenManana"));
}

Qt::KeyboardModifiers modsQt(quint32 m) {
    Qt::KeyboardModifiers r;
    if (m & ctl) r |= Qt::ControlModifier;
    if (m & opt) r |= Qt::AltModifier;
    if (m & may) r |= Qt::ShiftModifier;
    if (m & cmd) r |= Qt::MetaModifier;
    return r;
}

class PruebaModelo : public ::testing::Test {
protected:
    void SetUp() override {
        borrarPreferencias();
        atajos = std::make_unique<Atajos>(teclas);
        m = std::make_unique<ModeloAjustes>(
            *atajos, voz, true, [this] { return cuenta; }, [this] { ++desenlaces; },
            [this](bool v) { sonidos.push_back(v); }, [] {});
        m->encenderFnControl = [this](bool v) { fn.push_back(v); };
        campo.show();
        campo.setFocus();
    }
    void TearDown() override {
        m.reset();
        atajos.reset();
        borrarPreferencias();
    }

    // A key press as the desktop delivers it to the focused field: the physical key in the
    // native scan code, modifiers as Qt reports them. Returns whether the press reached the field.
    bool pulsar(quint32 tecla, quint32 mods, Qt::Key clave = Qt::Key_unknown) {
        const std::optional<quint32> x = Teclado::codigoX(tecla);
        if (!x) return !m->teclear({tecla, mods});  // no such key on a PC keyboard
        const QString antes = campo.text();
        QKeyEvent ev(QEvent::KeyPress, clave == Qt::Key_unknown ? Qt::Key_Z : clave, modsQt(mods), *x, 0, 0,
                     QStringLiteral("z"));
        QApplication::sendEvent(&campo, &ev);
        return campo.text() != antes;
    }

    TeclasFalsas teclas;
    EstadoVoz voz;
    std::unique_ptr<Atajos> atajos;
    std::unique_ptr<ModeloAjustes> m;
    std::optional<Cuenta> cuenta;
    int desenlaces = 0;
    std::vector<bool> sonidos, fn;
    QLineEdit campo;
};

TEST_F(PruebaModelo, TablaDeTeclasAceptadas) {
    struct Caso {
        const char* nombre;
        quint32 tecla, mods;
        bool aceptada;
    };
    const Caso casos[] = {
        {"F5 sola", 96, 0, true},          {"F1 sola", 122, 0, true},       {"F3 sola", 99, 0, true},
        {"F10 sola", 109, 0, true},        {"F11 sola", 103, 0, true},      {"F12 sola", 111, 0, true},
        {"F2 sola", 120, 0, false},        {"F4 sola", 118, 0, false},      {"A sola", teclaA, 0, false},
        {"espacio solo", espacio, 0, false},
        {"flecha izquierda sola", 123, 0, false}, {"flecha derecha sola", 124, 0, false},
        {"flecha abajo sola", 125, 0, false},     {"flecha arriba sola", 126, 0, false},
        {"código 127 solo", 127, 0, false},       {"código 130 solo", 130, 0, false},
        {"código 135 solo", 135, 0, false},
        {"mayúsculas + A", teclaA, may, true},    {"control + flecha izquierda", 123, ctl, true},
        {"super + P", teclaP, cmd, true},         {"alt + F2", 120, opt, true},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        m->restablecerAtajos();
        m->grabar(Cual::zona);
        EXPECT_TRUE(teclas.tomadas.empty()) << "los atajos se devuelven mientras se graba";
        EXPECT_FALSE(pulsar(c.tecla, c.mods)) << "la tecla no llega a la ventana";
        if (c.aceptada) {
            EXPECT_EQ(m->grabando(), std::nullopt);
            EXPECT_EQ(m->error(), std::nullopt);
            EXPECT_EQ(m->zona(), (Combinacion{c.tecla, c.mods}));
            EXPECT_EQ(Atajos::combinacion(Cual::zona), (Combinacion{c.tecla, c.mods}));
            EXPECT_EQ(teclas.tomadas.size(), 5u);
        } else {
            EXPECT_EQ(m->grabando(), Cual::zona);
            EXPECT_EQ(m->error(), ModeloAjustes::textoSinModificador);
            EXPECT_EQ(m->zona(), Atajos::porDefecto(Cual::zona));
            EXPECT_TRUE(teclas.tomadas.empty());
        }
        m->parar();
    }
    EXPECT_EQ(ModeloAjustes::textoSinModificador,
              QStringLiteral("Usa al menos una tecla como Alt, Ctrl o Super, para que no se dispare escribiendo."));
}

TEST_F(PruebaModelo, EscCancelaYLasTeclasSueltasNoCuentan) {
    for (quint32 mods : {0u, opt}) {
        m->grabar(Cual::llamada);
        m->setError(QStringLiteral("queda"));
        // A modifier pressed on its own is the start of a combination, not one.
        EXPECT_FALSE(pulsar(0x3A, opt, Qt::Key_Alt));
        EXPECT_EQ(m->grabando(), Cual::llamada);
        EXPECT_FALSE(pulsar(esc, mods, Qt::Key_Escape));
        EXPECT_EQ(m->grabando(), std::nullopt);
        EXPECT_EQ(m->error(), QStringLiteral("queda"));
        EXPECT_EQ(m->llamada(), Atajos::porDefecto(Cual::llamada));
        EXPECT_EQ(teclas.tomadas.size(), 5u);
    }
    // A press with no physical key behind it is swallowed and not judged; Esc still cancels.
    m->grabar(Cual::chat);
    for (Qt::KeyboardModifiers mods : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::AltModifier)}) {
        QKeyEvent sinTecla(QEvent::KeyPress, Qt::Key_Z, mods, 0, 0, 0, QStringLiteral("z"));
        QApplication::sendEvent(&campo, &sinTecla);
    }
    EXPECT_EQ(m->grabando(), Cual::chat);
    EXPECT_EQ(m->error(), std::nullopt);
    EXPECT_EQ(Atajos::combinacion(Cual::chat), Atajos::porDefecto(Cual::chat));
    QKeyEvent escSinTecla(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, 0, 0, 0);
    QApplication::sendEvent(&campo, &escSinTecla);
    EXPECT_EQ(m->grabando(), std::nullopt);

    // Not recording: keys reach the window again.
    EXPECT_TRUE(pulsar(teclaA, 0));
}

TEST_F(PruebaModelo, SecuenciasDeGrabacion) {
    // Refused, then accepted: the hint stays until the next recording.
    m->grabar(Cual::pantalla);
    pulsar(teclaA, 0);
    pulsar(teclaP, ctl | may);
    EXPECT_EQ(m->pantalla(), (Combinacion{teclaP, ctl | may}));
    EXPECT_EQ(m->error(), ModeloAjustes::textoSinModificador);
    m->grabar(Cual::pantalla);
    EXPECT_EQ(m->error(), std::nullopt);
    m->parar();

    // Another action's combination: refused with its phrase, nothing stored.
    m->grabar(Cual::chat);
    pulsar(espacio, opt);
    EXPECT_EQ(m->error(), QStringLiteral("Esa combinación ya es la de la llamada."));
    EXPECT_EQ(m->chat(), Atajos::porDefecto(Cual::chat));
    EXPECT_EQ(m->grabando(), std::nullopt);

    // The action's own combination again: accepted in silence.
    m->grabar(Cual::llamada);
    pulsar(espacio, opt);
    EXPECT_EQ(m->error(), std::nullopt);
    EXPECT_EQ(m->llamada(), (Combinacion{espacio, opt}));

    // Held by another program: the previous combination comes back.
    teclas.ocupadas.insert({teclaP, cmd | may});
    m->grabar(Cual::zona);
    pulsar(teclaP, cmd | may);
    EXPECT_TRUE(m->error() && m->error()->endsWith(QStringLiteral(". Elige otra combinación."))) << m->error()->toStdString();
    EXPECT_EQ(m->zona(), Atajos::porDefecto(Cual::zona));
    EXPECT_EQ(teclas.tomadas.at(4), Atajos::porDefecto(Cual::zona));

    // Moving the recording to another row: the keys come back, then go again.
    m->grabar(Cual::llamada);
    m->grabar(Cual::pantalla);
    EXPECT_EQ(m->grabando(), Cual::pantalla);
    EXPECT_TRUE(teclas.tomadas.empty());

    // Reset while recording: defaults, no error, keys back.
    m->setError(QStringLiteral("algo"));
    m->restablecerAtajos();
    EXPECT_EQ(m->grabando(), std::nullopt);
    EXPECT_EQ(m->error(), std::nullopt);
    for (Cual c : Atajos::todas) EXPECT_EQ(m->combinacion(c), Atajos::porDefecto(c));
    EXPECT_EQ(teclas.tomadas.size(), 5u);

    // The model gone mid-recording: its key filter goes with it and the keys come back.
    m->grabar(Cual::chat);
    m.reset();
    EXPECT_EQ(teclas.tomadas.size(), 5u);
    const QString antes = campo.text();
    QKeyEvent ev(QEvent::KeyPress, Qt::Key_B, Qt::NoModifier, *Teclado::codigoX(11), 0, 0, QStringLiteral("b"));
    QApplication::sendEvent(&campo, &ev);
    EXPECT_NE(campo.text(), antes);
}

TEST_F(PruebaModelo, InterruptoresLocales) {
    m->cambiarSonidos(false);
    EXPECT_FALSE(m->sonidos());
    EXPECT_EQ(sonidos, std::vector<bool>{false});

    EXPECT_TRUE(m->resumen()) << "sin valor guardado, el resumen está encendido";
    m->cambiarResumen(false);
    EXPECT_FALSE(Preferencias::almacen().value(QStringLiteral("zentu.resumenManana")).toBool());
    EXPECT_TRUE(Preferencias::almacen().contains(QStringLiteral("zentu.resumenManana")));

    m->cambiarFnControl(false);
    EXPECT_FALSE(m->fnControl());
    EXPECT_EQ(fn, std::vector<bool>{false});

    // The login switch shows what the system reports after the attempt.
    std::vector<bool> pedidos;
    m->abrirAlIniciarSesion = [&](bool v) { pedidos.push_back(v); };
    m->estadoInicioSesion = [] { return false; };
    m->cambiarAlIniciar(true);
    EXPECT_EQ(pedidos, std::vector<bool>{true});
    EXPECT_FALSE(m->alIniciar());

    // Defaults of the closures the application may leave alone.
    EXPECT_EQ(esperar(m->cambiarAgente(7, false)), std::optional<QString>(QStringLiteral("Este equipo no está enlazado.")));
    m->accion(QStringLiteral("llamada"));
}

// The summary switch shows what the morning check will do: on unless a Boolean false is stored.
// The settings file hands every value back as text, so "false" is off and "0" is not a Boolean.
TEST(ResumenGuardado, SeLeeComoLoLeeLaManana) {
    struct Caso {
        std::optional<QVariant> guardado;
        bool encendido;
    };
    const Caso casos[] = {
        {std::nullopt, true},
        {QVariant(false), false},
        {QVariant(true), true},
        {QVariant(QStringLiteral("false")), false},
        {QVariant(QStringLiteral("true")), true},
        {QVariant(QStringLiteral("0")), true},
        {QVariant(QStringLiteral("1")), true},
        {QVariant(QStringLiteral("no")), true},
        {QVariant(0), true},
        {QVariant(QStringList{QStringLiteral("false")}), true},
    };
    TeclasFalsas teclas;
    EstadoVoz voz;
    Atajos atajos(teclas);
    for (const Caso& c : casos) {
        const QString clave = QStringLiteral("zentu.resumenManana");
        if (c.guardado)
            Preferencias::almacen().setValue(clave, *c.guardado);
        else
            Preferencias::almacen().remove(clave);
        ModeloAjustes m(atajos, voz, true, [] { return std::optional<Cuenta>(); }, [] {}, [](bool) {}, [] {});
        EXPECT_EQ(m.resumen(), c.encendido) << (c.guardado ? c.guardado->toString().toStdString() : "ausente");
        EXPECT_EQ(Preferencias::booleano(clave, true), c.encendido);
    }
    borrarPreferencias();
}

TEST_F(PruebaModelo, InterruptorDeInicioEsLaEntradaDeAutoarranque) {
    QTemporaryDir carpeta;
    ASSERT_TRUE(carpeta.isValid());
    const QByteArray antes = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", carpeta.path().toUtf8());
    QStringList lineas;
    Registro::observar([&](const QString& l) {
        if (l.startsWith(QStringLiteral("[inicio]"))) lineas << l;
    });
    {
        ModeloAjustes nuevo(*atajos, voz, true, [] { return std::optional<Cuenta>(); }, [] {}, [](bool) {}, [] {});
        EXPECT_FALSE(nuevo.alIniciar());
        nuevo.cambiarAlIniciar(true);
        EXPECT_TRUE(nuevo.alIniciar());
        EXPECT_TRUE(QFile::exists(carpeta.path() + "/autostart/ai.zentu.voz.desktop"));
        nuevo.cambiarAlIniciar(false);
        EXPECT_FALSE(nuevo.alIniciar());
        EXPECT_FALSE(QFile::exists(carpeta.path() + "/autostart/ai.zentu.voz.desktop"));
        // Refused by the system (no folder can be made): the switch shows off.
        ASSERT_TRUE(QDir(carpeta.path() + "/autostart").removeRecursively());
        QFile estorbo(carpeta.path() + "/autostart");
        ASSERT_TRUE(estorbo.open(QIODevice::WriteOnly));
        estorbo.close();
        nuevo.cambiarAlIniciar(true);
        EXPECT_FALSE(nuevo.alIniciar());
    }
    Registro::observar({});
    qputenv("XDG_CONFIG_HOME", antes);
    ASSERT_EQ(lineas.size(), 3);
    EXPECT_EQ(lineas[0], QStringLiteral("[inicio] abrir al iniciar sesión: sí · estado 1"));
    EXPECT_EQ(lineas[1], QStringLiteral("[inicio] abrir al iniciar sesión: no · estado 0"));
    EXPECT_TRUE(lineas[2].startsWith(QStringLiteral("[inicio] no se pudo cambiar: "))) << lineas[2].toStdString();
}

TEST(SeccionAjustes, ValoresYOrden) {
    QStringList valores;
    for (SeccionAjustes s : Secciones::todas) valores << Secciones::valor(s);
    EXPECT_EQ(valores, (QStringList{"estado", "atajos", "isla", "llamadas", "cuenta"}));
    for (SeccionAjustes s : Secciones::todas) EXPECT_EQ(Secciones::desdeValor(Secciones::valor(s)), s);
    EXPECT_EQ(Secciones::desdeValor("Estado"), std::nullopt);
    EXPECT_EQ(Secciones::desdeValor(""), std::nullopt);
}

// ---------------------------------------------------------------------------------------------
// The calls preference

class PruebaLlamadas : public PruebaModelo {
protected:
    void SetUp() override {
        ASSERT_TRUE(servicio.arrancar());
        PruebaModelo::SetUp();
        cuenta = Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("ana@tolmira.es"),
                        QStringLiteral("Tolmira")};
        servicio.olvidarPeticiones();
    }
    static constexpr auto ruta = "/api/preferences/llamadas-de-agentes";
    ServicioSimulado servicio;
};

TEST_F(PruebaLlamadas, LecturaSegunLaRespuesta) {
    struct Caso {
        const char* nombre;
        QJsonObject respuesta;
        std::optional<bool> llamadas;
    };
    const Caso casos[] = {
        {"verdadero", {{"estado", 200}, {"cuerpo", QJsonObject{{"enabled", true}}}}, true},
        {"falso", {{"estado", 200}, {"cuerpo", QJsonObject{{"enabled", false}}}}, false},
        {"texto", {{"estado", 200}, {"cuerpo", QJsonObject{{"enabled", "true"}}}}, std::nullopt},
        {"número", {{"estado", 200}, {"cuerpo", QJsonObject{{"enabled", 1}}}}, std::nullopt},
        {"sin clave", {{"estado", 200}, {"cuerpo", QJsonObject{}}}, std::nullopt},
        {"error del servicio", {{"estado", 500}, {"cuerpo", QJsonObject{{"error", "caído"}}}}, std::nullopt},
        {"sesión vencida", {{"estado", 401}, {"cuerpo", QJsonObject{}}}, std::nullopt},
        {"conexión cortada", {{"estado", 200}, {"cortar", true}}, std::nullopt},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nombre);
        m->setLlamadas(!c.llamadas.value_or(false));
        servicio.responder("GET", ruta, c.respuesta);
        terminar(m->cargarLlamadas());
        EXPECT_EQ(m->llamadas(), c.llamadas);
        EXPECT_EQ(m->error(), std::nullopt) << "una lectura fallida no muestra nada";
    }
    const QJsonArray vistas = servicio.peticiones();
    ASSERT_GE(vistas.size(), 8);  // the network layer may retry the cut one
    EXPECT_EQ(vistas[0].toObject()["metodo"].toString(), "GET");
    EXPECT_EQ(vistas[0].toObject()["ruta"].toString(), ruta);
    EXPECT_EQ(vistas[0].toObject()["cabeceras"].toObject()["authorization"].toString(), "Bearer token-bueno");
}

TEST_F(PruebaLlamadas, CambioYCambioFallido) {
    servicio.responder("PATCH", ruta, 200, QJsonObject{});
    auto tarea = m->cambiarLlamadas(true);
    EXPECT_EQ(m->llamadas(), true) << "el interruptor se mueve antes de la respuesta";
    terminar(std::move(tarea));
    EXPECT_EQ(m->error(), std::nullopt);
    QJsonArray vistas = servicio.peticiones();
    ASSERT_EQ(vistas.size(), 1);
    EXPECT_EQ(vistas[0].toObject()["metodo"].toString(), "PATCH");
    EXPECT_EQ(QJsonDocument::fromJson(vistas[0].toObject()["cuerpo"].toString().toUtf8()).object(),
              (QJsonObject{{"enabled", true}}));

    // Refused: the text goes to the error line and the service's value comes back.
    servicio.olvidarPeticiones();
    servicio.responder("PATCH", ruta, 403, QJsonObject{});
    servicio.responder("GET", ruta, 200, QJsonObject{{"enabled", true}});
    std::vector<std::optional<bool>> vistosEnLlamadas;
    QObject::connect(m.get(), &ModeloAjustes::llamadasCambio, [&] { vistosEnLlamadas.push_back(m->llamadas()); });
    terminar(m->cambiarLlamadas(false));
    EXPECT_EQ(vistosEnLlamadas, (std::vector<std::optional<bool>>{false, true}));
    ASSERT_TRUE(m->error().has_value());
    EXPECT_TRUE(m->error()->startsWith(QStringLiteral("No se pudo cambiar: "))) << m->error()->toStdString();
    EXPECT_EQ(*m->error(), QStringLiteral("No se pudo cambiar: ") + ErrorZentu::soloDueno().errorDescription());
    vistas = servicio.peticiones();
    ASSERT_EQ(vistas.size(), 2);
    EXPECT_EQ(vistas[1].toObject()["metodo"].toString(), "GET");

    // Refused and the re-read fails too: nothing known.
    servicio.responder("PATCH", ruta, 500, QJsonObject{{"error", "caído"}});
    servicio.responder("GET", ruta, 500, QJsonObject{{"error", "caído"}});
    terminar(m->cambiarLlamadas(true));
    EXPECT_EQ(m->llamadas(), std::nullopt);
    EXPECT_EQ(m->error(), QStringLiteral("No se pudo cambiar: caído"));
}

TEST_F(PruebaLlamadas, SinCuentaNoSeEnviaNada) {
    cuenta.reset();
    terminar(m->cargarLlamadas());
    terminar(m->cambiarLlamadas(true));
    EXPECT_EQ(m->llamadas(), std::nullopt);
    pruebas::girar(100);
    EXPECT_EQ(servicio.peticiones().size(), 0);
}

}  // namespace
