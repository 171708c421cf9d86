#include "zentu/isla/Atajo.h"

#include "comun/Ayudas.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"
#include "plataforma/Teclado.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

using Cual = Atajos::Cual;

namespace {

constexpr quint32 cmd = Teclado::command, may = Teclado::shift, opt = Teclado::option,
                  ctl = Teclado::control;

// The desktop as a table: what it grants, and combinations another program already holds.
class TeclasFalsas : public TeclasGlobales {
public:
    int registrar(quint32 id, quint32 tecla, quint32 modificadores) override {
        quitar(id);
        ++registros;
        if (ocupadas.count({tecla, modificadores})) return ocupada;
        tomadas[id] = {tecla, modificadores};
        return 0;
    }
    void quitar(quint32 id) override { tomadas.erase(id); }

    std::map<quint32, Combinacion> tomadas;
    std::set<std::pair<quint32, quint32>> ocupadas;
    int registros = 0;
};

class Registros {
public:
    Registros() {
        Registro::observar([this](const QString& l) { lineas.push_back(l); });
    }
    ~Registros() { Registro::observar({}); }
    std::vector<QString> lineas;
};

void borrarPreferencias() {
    for (int i = 1; i <= 5; ++i) Preferencias::almacen().remove(QStringLiteral("zentu.atajo.%1").arg(i));
    Preferencias::almacen().remove(QStringLiteral("zentu.fnControl"));
}

QByteArray guardada(Cual cual) {
    return Preferencias::almacen()
        .value(QStringLiteral("zentu.atajo.%1").arg(static_cast<quint32>(cual)))
        .toByteArray();
}

class PruebaAtajos : public ::testing::Test {
protected:
    void SetUp() override { borrarPreferencias(); }
    void TearDown() override { borrarPreferencias(); }
    TeclasFalsas teclas;
    Registros registro;
};

}  // namespace

TEST(Combinacion, Texto) {
    struct Caso {
        quint32 tecla, mods;
        const char* texto;
    };
    // The names a PC keyboard prints, modifiers first in a fixed order, joined by "+".
    const Caso casos[] = {
        {49, opt | may, "Alt+Mayús+Espacio"},
        {36, ctl | opt | may | cmd, "Ctrl+Alt+Mayús+Super+Intro"},
        {96, 0, "F5"},
        {49, opt, "Alt+Espacio"},
        {35, opt | may, "Alt+Mayús+P"},
        {6, opt | may, "Alt+Mayús+Z"},
        {8, opt | may, "Alt+Mayús+C"},
        {53, ctl, "Ctrl+Esc"},
        {48, cmd | may, "Mayús+Super+Tab"},  // the order is fixed, not the order of the bits
        {0, cmd | ctl, "Ctrl+Super+A"},
        {18, 0, "1"},
        {27, opt, "Alt+-"},
        {41, 0, ";"},
        {50, 0, "`"},
        {35, opt | Teclado::bloqueoMayusculas, "Alt+P"},  // caps lock is not shown
        {123, ctl, "Ctrl+←"},                            // a key that types nothing printable
        {51, 0, "Retroceso"},
        {52, 0, "?"},                                    // no such key anywhere
    };
    for (const auto& c : casos)
        EXPECT_EQ(Combinacion({c.tecla, c.mods}).texto(), QString::fromUtf8(c.texto)) << c.tecla;
    EXPECT_EQ(Combinacion({35, opt | may}).piezas(), (QStringList{"Alt", "Mayús", "P"}));
    EXPECT_EQ(Combinacion({96, 0}).piezas(), QStringList{"F5"});
}

TEST(Combinacion, NombresFijos) {
    const std::pair<quint32, const char*> casos[] = {
        {36, "Intro"}, {48, "Tab"}, {49, "Espacio"}, {53, "Esc"},  {122, "F1"},  {120, "F2"},
        {99, "F3"}, {118, "F4"}, {96, "F5"},     {97, "F6"},   {98, "F7"},   {100, "F8"},
        {101, "F9"}, {109, "F10"}, {103, "F11"}, {111, "F12"}, {0, "A"},
        // Keys the layout gives nothing printable for: what the keyboard prints on them, never
        // an empty or control-character name.
        {123, "←"}, {124, "→"}, {125, "↓"}, {126, "↑"}, {51, "Retroceso"}, {117, "Supr"}, {115, "Inicio"},
        {119, "Fin"}, {116, "Re Pág"}, {121, "Av Pág"}, {76, "Intro"}, {105, "F13"}, {107, "F14"}, {113, "F15"},
        {106, "F16"}, {64, "F17"}, {79, "F18"}, {80, "F19"}, {90, "F20"}, {83, "1"}, {92, "9"}, {67, "*"},
        {114, "Insert"}, {59, "Ctrl"}, {58, "Alt"}, {56, "Mayús"}, {55, "Super"}, {57, "Bloq Mayús"},
        {Teclado::baseSinCodigo + 107, "Impr Pant"}, {Teclado::baseSinCodigo + 172, "XF86AudioPlay"},
    };
    for (const auto& [tecla, nombre] : casos) EXPECT_EQ(Combinacion::nombre(tecla), QString::fromUtf8(nombre)) << tecla;
}

TEST(Combinacion, ParaMenu) {
    using M = Qt::KeyboardModifier;
    struct Caso {
        quint32 tecla, mods;
        std::optional<Combinacion::TeclaMenu> menu;
    };
    const Caso casos[] = {
        {96, 0, std::nullopt},
        {122, cmd, std::nullopt},
        {49, opt, Combinacion::TeclaMenu{" ", M::AltModifier}},
        {35, opt | may, Combinacion::TeclaMenu{"p", M::AltModifier | M::ShiftModifier}},
        {36, cmd, Combinacion::TeclaMenu{"\r", M::MetaModifier}},
        {48, ctl, Combinacion::TeclaMenu{"\t", M::ControlModifier}},
        {53, 0, Combinacion::TeclaMenu{QString(QChar(0x1B)), {}}},
        {0, ctl | opt | may | cmd,
         Combinacion::TeclaMenu{"a", M::ControlModifier | M::AltModifier | M::ShiftModifier | M::MetaModifier}},
        {123, opt, std::nullopt},  // empty name: not one character
    };
    for (const auto& c : casos) EXPECT_EQ(Combinacion({c.tecla, c.mods}).paraMenu(), c.menu) << c.tecla;
}

TEST(Combinacion, DesdeUnaPulsacion) {
    using M = Qt::KeyboardModifier;
    struct Caso {
        quint32 codigoX;
        Qt::KeyboardModifiers mods;
        Combinacion esperada;
    };
    const Caso casos[] = {
        {33, M::AltModifier | M::ShiftModifier, {35, opt | may}},
        {65, M::ControlModifier | M::MetaModifier, {49, ctl | cmd}},
        {36, M::NoModifier, {36, 0}},
        {71, M::KeypadModifier | M::GroupSwitchModifier, {96, 0}},  // the rest is dropped
        {52, M::AltModifier, {6, opt}},
        {172, M::ControlModifier, {Teclado::baseSinCodigo + 172, ctl}},
    };
    for (const auto& c : casos) {
        QKeyEvent e(QEvent::KeyPress, Qt::Key_unknown, c.mods, c.codigoX, 0, 0);
        EXPECT_EQ(Combinacion::desde(e), c.esperada) << c.codigoX;
    }
}

TEST(Combinacion, Json) {
    const Combinacion c{49, 2048};
    const QJsonObject o = QJsonDocument::fromJson(c.json()).object();
    EXPECT_EQ(o.keys(), (QStringList{"modificadores", "tecla"}));
    EXPECT_EQ(o.value("tecla").toInteger(), 49);
    EXPECT_EQ(o.value("modificadores").toInteger(), 2048);
    EXPECT_EQ(Combinacion::desdeJson(c.json()), c);

    struct Caso {
        const char* json;
        std::optional<Combinacion> esperada;
    };
    const Caso casos[] = {
        {R"({"modificadores":2560,"tecla":35})", Combinacion{35, 2560}},
        {R"({"tecla":8,"modificadores":2560,"otra":1})", Combinacion{8, 2560}},
        {R"({"tecla":4294967295,"modificadores":0})", Combinacion{4294967295u, 0}},
        {R"({"tecla":8})", std::nullopt},
        {R"({"tecla":-1,"modificadores":0})", std::nullopt},
        {R"({"tecla":1.5,"modificadores":0})", std::nullopt},
        {R"({"tecla":4294967296,"modificadores":0})", std::nullopt},
        {R"({"tecla":"8","modificadores":0})", std::nullopt},
        {R"([8, 0])", std::nullopt},
        {"basura", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& k : casos) EXPECT_EQ(Combinacion::desdeJson(k.json), k.esperada) << k.json;
}

TEST_F(PruebaAtajos, PorDefectoSeRegistranLasCinco) {
    Atajos atajos(teclas);
    const std::map<quint32, Combinacion> esperadas = {
        {1, {49, opt}}, {2, {49, opt | may}}, {3, {35, opt | may}}, {4, {6, opt | may}}, {5, {8, opt | may}},
    };
    EXPECT_EQ(teclas.tomadas, esperadas);
    for (Cual cual : Atajos::todas) {
        EXPECT_TRUE(atajos.registrada(cual));
        EXPECT_EQ(Atajos::combinacion(cual), Atajos::porDefecto(cual));
        EXPECT_TRUE(guardada(cual).isEmpty()) << "nothing is stored by registering";
    }
    EXPECT_EQ(Atajos::porDefecto(Cual::conversacion).texto(), "Alt+Mayús+Espacio");
}

TEST_F(PruebaAtajos, CombinacionGuardadaIlegibleCuentaComoAusente) {
    const QString clave = QStringLiteral("zentu.atajo.3");
    Preferencias::almacen().setValue(clave, QByteArray("{no es json"));
    EXPECT_EQ(Atajos::combinacion(Cual::pantalla), Atajos::porDefecto(Cual::pantalla));
    EXPECT_TRUE(Preferencias::almacen().contains(clave)) << "not removed";
    Preferencias::almacen().setValue(clave, Combinacion{17, ctl}.json());
    EXPECT_EQ(Atajos::combinacion(Cual::pantalla), (Combinacion{17, ctl}));
}

TEST_F(PruebaAtajos, ConflictoConOtraAccion) {
    Atajos atajos(teclas);
    const int antes = teclas.registros;
    EXPECT_EQ(atajos.cambiar(Cual::conversacion, {49, opt}), "Esa combinación ya es la de la llamada.");
    EXPECT_TRUE(guardada(Cual::conversacion).isEmpty());
    EXPECT_EQ(teclas.registros, antes);

    ASSERT_EQ(atajos.cambiar(Cual::chat, {40, ctl | opt}), std::nullopt);
    EXPECT_EQ(Combinacion::desdeJson(guardada(Cual::chat)), (Combinacion{40, ctl | opt}));
    EXPECT_EQ(teclas.tomadas[5], (Combinacion{40, ctl | opt}));
    EXPECT_EQ(atajos.cambiar(Cual::zona, {40, ctl | opt}), "Esa combinación ya es la de abrir el chat.");
    // The first conflicting action in order is named.
    ASSERT_EQ(atajos.cambiar(Cual::pantalla, {6, ctl}), std::nullopt);
    ASSERT_EQ(atajos.cambiar(Cual::pantalla, {8, opt | may}), std::nullopt);  // chat's old default is free
    EXPECT_EQ(atajos.cambiar(Cual::llamada, {8, opt | may}), "Esa combinación ya es la de ver la pantalla.");
}

// What `cambiar` stores survives the process: read back from the settings file itself.
TEST_F(PruebaAtajos, LaCombinacionQuedaEnElArchivo) {
    Atajos atajos(teclas);
    ASSERT_EQ(atajos.cambiar(Cual::zona, {7, ctl | cmd}), std::nullopt);
    Preferencias::almacen().sync();
    QSettings archivo(Preferencias::almacen().fileName(), QSettings::IniFormat);
    const QByteArray datos = archivo.value(QStringLiteral("zentu.atajo.4")).toByteArray();
    EXPECT_EQ(Combinacion::desdeJson(datos), (Combinacion{7, ctl | cmd}));
    EXPECT_EQ(QJsonDocument::fromJson(datos).object(),
              (QJsonObject{{"tecla", 7}, {"modificadores", static_cast<int>(ctl | cmd)}}));
}

TEST_F(PruebaAtajos, LaMismaCombinacionSeRegistraDeNuevo) {
    Atajos atajos(teclas);
    const int antes = teclas.registros;
    EXPECT_EQ(atajos.cambiar(Cual::llamada, {49, opt}), std::nullopt);
    EXPECT_EQ(teclas.registros, antes + 1);
    EXPECT_EQ(Combinacion::desdeJson(guardada(Cual::llamada)), (Combinacion{49, opt}));
}

TEST_F(PruebaAtajos, RechazoDelEscritorioVuelveALaAnterior) {
    Atajos atajos(teclas);
    teclas.ocupadas.insert({40, ctl | opt});
    EXPECT_EQ(atajos.cambiar(Cual::pantalla, {40, ctl | opt}),
              "El escritorio u otra app ya usa Ctrl+Alt+K. Elige otra combinación.");
    // The old combination is written back even though it was a default never stored.
    EXPECT_EQ(Combinacion::desdeJson(guardada(Cual::pantalla)), (Combinacion{35, opt | may}));
    EXPECT_EQ(teclas.tomadas[3], (Combinacion{35, opt | may}));
    EXPECT_TRUE(atajos.registrada(Cual::pantalla));
    EXPECT_NE(std::find(registro.lineas.begin(), registro.lineas.end(),
                        QStringLiteral("[atajo] no se pudo registrar Ctrl+Alt+K (10)")),
              registro.lineas.end());
}

TEST_F(PruebaAtajos, AltEspacioOcupadoAlArrancar) {
    teclas.ocupadas.insert({49, opt});  // many window managers keep Alt+Space for their menu
    Atajos atajos(teclas);
    EXPECT_FALSE(atajos.registrada(Cual::llamada));
    for (Cual cual : {Cual::conversacion, Cual::pantalla, Cual::zona, Cual::chat})
        EXPECT_TRUE(atajos.registrada(cual));
    EXPECT_EQ(registro.lineas, std::vector<QString>{"[atajo] no se pudo registrar Alt+Espacio (10)"});

    // Another refused combination: the old (also refused) one is written back and the action
    // still has no hot key.
    teclas.ocupadas.insert({49, ctl});
    EXPECT_EQ(atajos.cambiar(Cual::llamada, {49, ctl}),
              "El escritorio u otra app ya usa Ctrl+Espacio. Elige otra combinación.");
    EXPECT_EQ(Combinacion::desdeJson(guardada(Cual::llamada)), (Combinacion{49, opt}));
    EXPECT_FALSE(atajos.registrada(Cual::llamada));

    EXPECT_EQ(atajos.cambiar(Cual::llamada, {49, ctl | opt}), std::nullopt);
    EXPECT_TRUE(atajos.registrada(Cual::llamada));
    EXPECT_EQ(teclas.tomadas[1], (Combinacion{49, ctl | opt}));
}

TEST_F(PruebaAtajos, RestablecerYPausar) {
    Atajos atajos(teclas);
    ASSERT_EQ(atajos.cambiar(Cual::zona, {7, ctl}), std::nullopt);
    ASSERT_EQ(atajos.cambiar(Cual::chat, {9, ctl}), std::nullopt);

    atajos.pausar(true);
    EXPECT_TRUE(teclas.tomadas.empty());
    for (Cual cual : Atajos::todas) EXPECT_FALSE(atajos.registrada(cual));
    atajos.pausar(false);
    EXPECT_EQ(teclas.tomadas.size(), 5u);
    EXPECT_EQ(teclas.tomadas[4], (Combinacion{7, ctl}));

    atajos.restablecer();
    for (Cual cual : Atajos::todas) {
        EXPECT_FALSE(Preferencias::almacen().contains(
            QStringLiteral("zentu.atajo.%1").arg(static_cast<quint32>(cual))));
        EXPECT_EQ(teclas.tomadas[static_cast<quint32>(cual)], Atajos::porDefecto(cual));
    }
}

TEST_F(PruebaAtajos, EventosLleganAlUltimoCreado) {
    std::vector<std::string> vistos;
    auto anotar = [&](const char* quien, const char* que) {
        return [&vistos, quien, que](Cual c) {
            vistos.push_back(std::string(quien) + que + std::to_string(static_cast<int>(c)));
        };
    };
    Atajos primero(teclas);
    primero.alPulsar = anotar("1", "P");
    primero.alSoltar = anotar("1", "S");
    teclas.alEvento(2, false);
    EXPECT_TRUE(vistos.empty()) << "delivered from the event loop, not inline";
    teclas.alEvento(2, true);
    teclas.alEvento(0, false);
    teclas.alEvento(6, false);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return vistos.size() >= 2; }));
    pruebas::girar(50);
    EXPECT_EQ(vistos, (std::vector<std::string>{"1P2", "1S2"}));

    vistos.clear();
    {
        Atajos segundo(teclas);
        segundo.alPulsar = anotar("2", "P");
        EXPECT_EQ(Atajos::actual(), &segundo);
        teclas.alEvento(5, false);
        ASSERT_TRUE(pruebas::esperarHasta([&] { return !vistos.empty(); }));
        EXPECT_EQ(vistos, std::vector<std::string>{"2P5"});
    }
    // The newest instance is gone: nobody gets events, and nothing breaks.
    vistos.clear();
    teclas.alEvento(1, false);
    pruebas::girar(50);
    EXPECT_TRUE(vistos.empty());
}

// ---------------------------------------------------------------------------------------------
// The hold-to-talk chord in virtual time.

namespace {

class MonitorFalso : public MonitorTeclado {
public:
    bool encender() override {
        encendido = true;
        return puede;
    }
    void apagar() override { encendido = false; }
    bool encendido = false;
    bool puede = true;
};

struct Paso {
    double t;           // seconds from the start
    int mods = -1;      // a modifier change with this mask, or
    bool tecla = false; // a key going down
};

Paso mods(double t, quint32 m) { return {t, static_cast<int>(m), false}; }
Paso tecla(double t) { return {t, -1, true}; }

// Runs the steps and returns what was called and when, like "P@0.2 S@0.5".
std::string correr(const std::vector<Paso>& pasos, double hasta = 2.0) {
    MonitorFalso monitor;
    RelojVirtual reloj;
    TeclasModificadoras acorde(monitor, reloj);
    std::string salida;
    auto anotar = [&](char c) {
        if (!salida.empty()) salida += ' ';
        salida += c;
        salida += '@' + QString::number(reloj.segundos(), 'g', 3).toStdString();
    };
    acorde.alPulsar = [&] { anotar('P'); };
    acorde.alSoltar = [&] { anotar('S'); };
    acorde.alCancelar = [&] { anotar('C'); };
    for (const auto& p : pasos) {
        reloj.avanzar(p.t - reloj.segundos());
        if (p.tecla) monitor.alPulsarTecla();
        else monitor.alCambiarModificadores(static_cast<quint32>(p.mods));
    }
    reloj.avanzar(hasta - reloj.segundos());
    return salida;
}

}  // namespace

TEST(TeclasModificadoras, Acorde) {
    const quint32 cc = ctl | cmd;
    struct Caso {
        const char* que;
        std::vector<Paso> pasos;
        std::string esperado;
    };
    const Caso casos[] = {
        {"menos de 0.2 s", {mods(0, ctl), mods(0.05, cc), mods(0.2, ctl), mods(0.3, 0)}, ""},
        {"sostenido", {mods(0, ctl), mods(0.1, cc), mods(0.7, cmd), mods(0.8, 0)}, "P@0.3 S@0.7"},
        {"super primero", {mods(0, cmd), mods(0.1, cc), mods(0.5, 0)}, "P@0.3 S@0.5"},
        {"con mayúsculas nunca se arma", {mods(0, ctl | may), mods(0.1, cc | may), mods(1, 0)}, ""},
        {"añadir mayúsculas suelta", {mods(0, cc), mods(0.5, cc | may), mods(0.6, cc), mods(1.0, 0)},
         "P@0.2 S@0.5 P@0.8 S@1"},
        {"alt también", {mods(0, cc | opt)}, ""},
        {"bloqueo de mayúsculas no estorba", {mods(0, cc | Teclado::bloqueoMayusculas), mods(0.5, 0)},
         "P@0.2 S@0.5"},
        {"tecla mientras se sostiene", {mods(0, cc), tecla(0.4), mods(0.6, ctl), mods(0.7, 0)}, "P@0.2 C@0.4"},
        {"tecla mientras se arma", {mods(0, cc), tecla(0.1), mods(0.6, 0)}, ""},
        {"repetir no rearma", {mods(0, cc), mods(0.1, cc), mods(0.15, cc)}, "P@0.2"},
        {"una tecla sin acorde no hace nada", {tecla(0.1), mods(0.2, ctl), tecla(0.3)}, ""},
        {"suelta y vuelve", {mods(0, cc), mods(0.1, ctl), mods(0.15, cc), mods(0.5, 0)}, "P@0.35 S@0.5"},
    };
    for (const auto& c : casos) EXPECT_EQ(correr(c.pasos), c.esperado) << c.que;
}

TEST(TeclasModificadoras, EncenderYApagar) {
    borrarPreferencias();
    EXPECT_TRUE(TeclasModificadoras::encendido()) << "absent counts as on";
    Preferencias::almacen().setValue("zentu.fnControl", QStringLiteral("quizá"));
    EXPECT_TRUE(TeclasModificadoras::encendido()) << "not a Boolean counts as on";

    Registros registro;
    MonitorFalso monitor;
    RelojVirtual reloj;
    TeclasModificadoras acorde(monitor, reloj);
    int pulsar = 0, soltar = 0;
    acorde.alPulsar = [&] { ++pulsar; };
    acorde.alSoltar = [&] { ++soltar; };

    acorde.encender(true);
    EXPECT_TRUE(monitor.encendido);
    EXPECT_TRUE(TeclasModificadoras::encendido());
    EXPECT_EQ(registro.lineas, std::vector<QString>{"[atajo] control + Super: escuchando · permiso de Accesibilidad: true"});

    // Switched off while held: nothing will report the release, so the chord ends now.
    monitor.alCambiarModificadores(ctl | cmd);
    reloj.avanzar(0.3);
    ASSERT_EQ(pulsar, 1);
    acorde.encender(false);
    EXPECT_FALSE(monitor.encendido);
    EXPECT_EQ(soltar, 1);
    EXPECT_FALSE(acorde.sostenido());
    EXPECT_FALSE(TeclasModificadoras::encendido());
    Preferencias::almacen().sync();
    EXPECT_EQ(Preferencias::almacen().value("zentu.fnControl").toString(), "false");

    // Switched off while armed: the pending press never comes.
    acorde.encender(true);
    monitor.alCambiarModificadores(ctl | cmd);
    reloj.avanzar(0.1);
    acorde.encender(false);
    reloj.avanzar(1);
    EXPECT_EQ(pulsar, 1);

    monitor.puede = false;
    registro.lineas.clear();
    acorde.encender(true);
    EXPECT_EQ(registro.lineas, std::vector<QString>{"[atajo] control + Super: escuchando · permiso de Accesibilidad: false"});
    borrarPreferencias();
}
