// Both programs in a Wayland session, as on Debian's default desktop: GNOME's compositor (mutter,
// headless) with XWayland, Qt's Wayland plugin installed and QT_QPA_PLATFORM unset. The session's
// window manager keeps what the programs ask of their windows: the island above the others, the
// chat panel and the cards where the program puts them, the widgets below everything, and the
// clipboard reaches the pairing, from the switch and in the running program's pairing window.
#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "zentu/conexion/Cuenta.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <memory>

namespace {

QString zentu() { return QCoreApplication::applicationDirPath() + QStringLiteral("/../src/zentu/app/zentu"); }
QString zentuWidgets() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../src/widgets/zentu-widgets");
}

// The compositor, started once for the file in a runtime folder of its own.
class Sesion {
public:
    bool arrancar() {
        if (!carpeta_.isValid()) return false;
        QFile::setPermissions(carpeta_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.remove(QStringLiteral("DISPLAY"));
        e.remove(QStringLiteral("WAYLAND_DISPLAY"));
        e.remove(QStringLiteral("QT_QPA_PLATFORM"));
        e.insert(QStringLiteral("XDG_RUNTIME_DIR"), carpeta_.path());
        mutter_.setProcessEnvironment(e);
        mutter_.setProcessChannelMode(QProcess::MergedChannels);
        mutter_.start(QStringLiteral("mutter"), {"--headless", "--wayland", "--virtual-monitor", "1920x1080",
                                                 "--wayland-display", nombreWayland});
        if (!mutter_.waitForStarted(10000)) {
            ADD_FAILURE() << "mutter no arrancó (¿está instalado?)";
            return false;
        }
        const QRegularExpression pantalla(QStringLiteral("Using public X11 display (:\\d+)"));
        const bool listo = pruebas::esperarHasta(
            [&] {
                registro_ += QString::fromUtf8(mutter_.readAll());
                const auto m = pantalla.match(registro_);
                if (m.hasMatch()) display_ = m.captured(1);
                return !display_.isEmpty() && QFileInfo::exists(carpeta_.filePath(nombreWayland));
            },
            60000);
        if (!listo) {
            ADD_FAILURE() << "mutter sin XWayland: " << registro_.toStdString();
            return false;
        }
        const QStringList autorizacion = QDir(carpeta_.path()).entryList({".mutter-Xwaylandauth.*"}, QDir::Files | QDir::Hidden);
        if (!autorizacion.isEmpty()) xauthority_ = carpeta_.filePath(autorizacion.first());
        return true;
    }

    ~Sesion() {
        if (mutter_.state() == QProcess::NotRunning) return;
        mutter_.terminate();
        if (!mutter_.waitForFinished(10000)) mutter_.kill();
        mutter_.waitForFinished();
    }

    // What a program started in this session finds: the Wayland socket, the XWayland display.
    QProcessEnvironment entorno() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.remove(QStringLiteral("QT_QPA_PLATFORM"));
        e.insert(QStringLiteral("XDG_RUNTIME_DIR"), carpeta_.path());
        e.insert(QStringLiteral("WAYLAND_DISPLAY"), nombreWayland);
        e.insert(QStringLiteral("DISPLAY"), display_);
        if (!xauthority_.isEmpty()) e.insert(QStringLiteral("XAUTHORITY"), xauthority_);
        e.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
        e.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
        return e;
    }

    // An X11 tool (xprop, xwininfo, xdotool, xclip -o) on the session's XWayland display.
    QString x(const QString& herramienta, const QStringList& argumentos) const {
        QProcess p;
        p.setProcessEnvironment(entorno());
        p.start(herramienta, argumentos);
        if (!p.waitForFinished(20000)) {
            p.kill();
            p.waitForFinished();
        }
        return QString::fromUtf8(p.readAllStandardOutput());
    }

    static inline const QString nombreWayland = QStringLiteral("zentu-prueba-wayland");

private:
    QTemporaryDir carpeta_;
    QProcess mutter_;
    QString registro_, display_, xauthority_;
};

Sesion* sesion = nullptr;

// A window the window manager handles, as it keeps it: listed bottom to top.
struct VentanaX {
    QString id, clase, nombre;
    QStringList estado;
    QRect marco;
};

QString valorXprop(const QString& salida, const QString& propiedad) {
    for (const QString& l : salida.split('\n'))
        if (l.startsWith(propiedad + " = ")) return l.mid(propiedad.size() + 3);
    return {};
}

std::vector<VentanaX> apiladas() {
    std::vector<VentanaX> r;
    const QString lista = sesion->x("xprop", {"-root", "-notype", "_NET_CLIENT_LIST_STACKING"});
    const qsizetype almohadilla = lista.indexOf('#');
    if (almohadilla < 0) return r;
    for (QString id : lista.mid(almohadilla + 1).split(',', Qt::SkipEmptyParts)) {
        id = id.trimmed();
        VentanaX v;
        v.id = id;
        const QString props = sesion->x("xprop", {"-id", id, "-notype", "WM_CLASS", "WM_NAME", "_NET_WM_STATE"});
        v.clase = valorXprop(props, "WM_CLASS").section(',', 0, 0).remove('"').trimmed();
        v.nombre = valorXprop(props, "WM_NAME").remove('"');
        for (const QString& e : valorXprop(props, "_NET_WM_STATE").split(',', Qt::SkipEmptyParts)) v.estado << e.trimmed();
        const QString info = sesion->x("xwininfo", {"-id", id});
        auto numero = [&](const QString& clave) {
            const auto m = QRegularExpression(QRegularExpression::escape(clave) + ":\\s*(-?\\d+)").match(info);
            return m.hasMatch() ? m.captured(1).toInt() : 0;
        };
        v.marco = QRect(numero("Absolute upper-left X"), numero("Absolute upper-left Y"), numero("Width"), numero("Height"));
        r.push_back(v);
    }
    return r;
}

std::string describir(const std::vector<VentanaX>& ventanas) {
    QString t;
    for (const VentanaX& v : ventanas)
        t += QStringLiteral("\n  %1 %2 «%3» (%4,%5 %6×%7) %8")
                 .arg(v.id, v.clase, v.nombre)
                 .arg(v.marco.x())
                 .arg(v.marco.y())
                 .arg(v.marco.width())
                 .arg(v.marco.height())
                 .arg(v.estado.join(' '));
    return t.toStdString();
}

// A program of ours running in the session, its log collected as it goes.
struct Programa {
    QProcess p;
    QString registro;

    void arrancar(const QString& ruta, const QStringList& argumentos) {
        p.setProcessEnvironment(sesion->entorno());
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(ruta, argumentos);
        EXPECT_TRUE(p.waitForStarted(10000));
    }
    bool espera(const QString& linea, int ms = 30000) {
        return pruebas::esperarHasta(
            [&] {
                registro += QString::fromUtf8(p.readAllStandardError());
                return registro.contains(linea);
            },
            ms);
    }
    ~Programa() {
        if (p.state() == QProcess::NotRunning) return;
        ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
        if (!pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, 15000)) {
            p.kill();
            p.waitForFinished();
        }
    }
};

class Wayland : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        sesion = new Sesion;
        if (!sesion->arrancar()) {
            delete sesion;
            sesion = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete sesion;
        sesion = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(sesion) << "sin sesión Wayland";
        Llavero::borrar();
    }
    void TearDown() override { Llavero::borrar(); }
};

// Copies `texto` as another X11 program of the session would, and keeps it offered until the end.
std::unique_ptr<QProcess> copiar(const QString& texto) {
    auto xclip = std::make_unique<QProcess>();
    xclip->setProcessEnvironment(sesion->entorno());
    xclip->start(QStringLiteral("xclip"), {"-selection", "clipboard", "-quiet"});
    EXPECT_TRUE(xclip->waitForStarted(10000)) << "sin xclip";
    xclip->write(texto.toUtf8());
    xclip->closeWriteChannel();
    EXPECT_TRUE(pruebas::esperarHasta(
        [&] { return sesion->x("xclip", {"-selection", "clipboard", "-o"}) == texto; }, 20000));
    return xclip;
}

void soltar(std::unique_ptr<QProcess>& p) {
    p->kill();
    p->waitForFinished();
}

QString codigo(const ServicioSimulado& servicio, const QString& cual) {
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{"v", 1}, {"url", servicio.url()}, {"codigo", cual}}).toJson(QJsonDocument::Compact));
}

TEST_F(Wayland, ElPortapapelesEnlaza) {
    ServicioSimulado servicio;
    ASSERT_TRUE(servicio.arrancar());
    servicio.control("POST", "codigo",
                     QJsonObject{{"codigo", "codigo-dos"},
                                 {"respuesta", QJsonObject{{"token", "token-dos"},
                                                           {"propietario", "dueno@negocio.mx"},
                                                           {"nombre", "Negocio"}}}});
    // The tokens the two codes hand out are good ones: a refused token would unpair the running
    // program (its session expired) while the test reads the keyring.
    servicio.control("POST", "token", QJsonObject{{"tokens", QJsonArray{"token-nuevo", "token-dos"}}});

    // The switch: the copied code is read without a window of its own.
    auto xclip = copiar(codigo(servicio, "codigo-bueno"));
    QProcess prueba;
    prueba.setProcessEnvironment(sesion->entorno());
    prueba.start(zentu(), {"--enlazar-portapapeles"});
    ASSERT_TRUE(prueba.waitForStarted(10000));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return prueba.state() == QProcess::NotRunning; }, 30000));
    const std::string errores = prueba.readAllStandardError().toStdString();
    EXPECT_EQ(prueba.readAllStandardOutput().toStdString(),
              ("ENLAZADA " + servicio.url() + " · dueno@negocio.mx\n").toStdString())
        << errores;
    EXPECT_EQ(prueba.exitCode(), 0) << errores;
    const auto primera = Llavero::leer();
    ASSERT_TRUE(primera);
    EXPECT_EQ(primera->token, "token-nuevo");
    soltar(xclip);
    Llavero::borrar();

    // The running program without an account: Ctrl+V in its pairing window.
    xclip = copiar(codigo(servicio, "codigo-dos"));
    Programa app;
    app.arrancar(zentu(), {});
    ASSERT_TRUE(app.espera("[app] lista · cuenta=ninguna")) << app.registro.toStdString();
    QString activa;
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] {
            activa = sesion->x("xdotool", {"getactivewindow", "getwindowname"}).trimmed();
            return activa == "Zentu AI";
        },
        20000))
        << "ventana activa: «" << activa.toStdString() << "»" << describir(apiladas());
    sesion->x("xdotool", {"key", "ctrl+v"});
    EXPECT_TRUE(app.espera("[enlace] enlazada con " + servicio.url())) << app.registro.toStdString();
    std::optional<Cuenta> segunda;
    ASSERT_TRUE(pruebas::esperarHasta([&] { return (segunda = Llavero::leer()).has_value(); }, 10000));
    EXPECT_EQ(segunda->token, "token-dos");
    EXPECT_FALSE(app.registro.contains("sesión vencida")) << app.registro.toStdString();
    soltar(xclip);
}

TEST_F(Wayland, CadaVentanaDondeLaPoneElPrograma) {
    ServicioSimulado servicio;
    ASSERT_TRUE(servicio.arrancar());
    servicio.control("POST", "chat", QJsonObject{{"mensajes", QJsonArray{}}});
    Llavero::guardar(Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                            QStringLiteral("Negocio")});

    Programa widgets;
    widgets.arrancar(zentuWidgets(), {});
    Programa app;
    app.arrancar(zentu(), {"--chat"});
    ASSERT_TRUE(app.espera("[app] lista · cuenta=" + servicio.url())) << app.registro.toStdString();

    auto de = [](const std::vector<VentanaX>& todas, auto&& condicion) -> std::optional<size_t> {
        for (size_t i = 0; i < todas.size(); ++i)
            if (condicion(todas[i])) return i;
        return std::nullopt;
    };
    // Both named so; the chat's window is its card with the margin (380 × 480 and 24 all round),
    // the island's only what the pill draws.
    auto esChat = [](const VentanaX& v) {
        return v.clase == "zentu" && v.nombre == "Zentu" && v.marco.size() == QSize(428, 528);
    };
    auto esIsla = [](const VentanaX& v) {
        return v.clase == "zentu" && v.nombre == "Zentu" && v.marco.size() != QSize(428, 528);
    };
    auto esWidget = [](const VentanaX& v) { return v.clase == "zentu-widgets"; };
    std::vector<VentanaX> v;
    auto buscar = [&](std::initializer_list<std::function<bool(const VentanaX&)>> cuales) {
        return pruebas::esperarHasta(
            [&] {
                v = apiladas();
                for (const auto& c : cuales)
                    if (!de(v, c)) return false;
                return true;
            },
            30000);
    };
    ASSERT_TRUE(buscar({esIsla, esChat, esWidget})) << describir(v);

    // Another program's ordinary window, opened last and given the focus.
    auto esOtra = [](const VentanaX& x) { return x.clase == "xmessage"; };
    QProcess otra;
    otra.setProcessEnvironment(sesion->entorno());
    otra.start(QStringLiteral("xmessage"), {"-center", "otra ventana"});
    ASSERT_TRUE(otra.waitForStarted(10000)) << "sin xmessage";
    ASSERT_TRUE(buscar({esIsla, esChat, esWidget, esOtra})) << describir(v);
    pruebas::girar(500);
    v = apiladas();
    const auto isla = de(v, esIsla), chat = de(v, esChat), widget = de(v, esWidget), ajena = de(v, esOtra);
    otra.kill();
    otra.waitForFinished();
    ASSERT_TRUE(isla && chat && widget && ajena) << describir(v);
    const VentanaX vi = v[*isla];  // copies: v is read again below
    const VentanaX vc = v[*chat];

    // The island and the chat are on every workspace.
    for (const VentanaX* x : {&vi, &vc}) {
        const QString escritorio =
            valorXprop(sesion->x("xprop", {"-id", x->id, "-notype", "_NET_WM_DESKTOP"}), "_NET_WM_DESKTOP");
        EXPECT_EQ(escritorio, "4294967295") << x->id.toStdString() << describir(v);
    }
    // The island and the chat stay above the other program's window, the widget below it.
    EXPECT_TRUE(vi.estado.contains("_NET_WM_STATE_ABOVE")) << describir(v);
    EXPECT_GT(*isla, *ajena) << describir(v);
    EXPECT_GT(*chat, *ajena) << describir(v);
    EXPECT_TRUE(v[*widget].estado.contains("_NET_WM_STATE_BELOW")) << describir(v);
    EXPECT_LT(*widget, *ajena) << describir(v);
    // The chat panel hangs below the island's pill, centred under it: its top inside the island's
    // window, which holds the pill and the shadow below it.
    EXPECT_NEAR(vc.marco.center().x(), vi.marco.center().x(), 2) << describir(v);
    EXPECT_GE(vc.marco.top(), vi.marco.top()) << describir(v);
    EXPECT_LE(vc.marco.top(), vi.marco.bottom()) << describir(v);

    // A card that the program centres on the screen, raised by a twentieth of its height.
    Programa segunda;
    segunda.arrancar(zentu(), {"zuzadari://agentes"});
    ASSERT_TRUE(pruebas::esperarHasta([&] { return segunda.p.state() == QProcess::NotRunning; }, 20000));
    const QString idIsla = vi.id, idChat = vc.id;
    auto esTarjeta = [&](const VentanaX& x) { return x.clase == "zentu" && x.id != idIsla && x.id != idChat; };
    std::optional<size_t> tarjeta;
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] {
            v = apiladas();
            tarjeta = de(v, esTarjeta);
            return tarjeta.has_value();
        },
        20000))
        << describir(v);
    pruebas::girar(500);
    v = apiladas();
    tarjeta = de(v, esTarjeta);
    ASSERT_TRUE(tarjeta) << describir(v);
    EXPECT_NEAR(v[*tarjeta].marco.center().x(), 960, 2) << describir(v);
    EXPECT_NEAR(v[*tarjeta].marco.center().y(), 540 - 54, 2) << describir(v);

    // A card that opens beside the pointer where its place is known. Here it is not (the pointer
    // may be over a window the compositor keeps from X11 programs, and X11 only has its last place
    // over one of theirs): the card opens mid-screen, in sight, never over the island.
    const QString idAgentes = v[*tarjeta].id;
    Programa tercera;
    tercera.arrancar(zentu(), {"zuzadari://creditos"});
    ASSERT_TRUE(pruebas::esperarHasta([&] { return tercera.p.state() == QProcess::NotRunning; }, 20000));
    auto esCreditos = [&](const VentanaX& x) { return esTarjeta(x) && x.id != idAgentes; };
    std::optional<size_t> creditos;
    const auto enMedio = [&](const VentanaX& x) {
        return std::abs(x.marco.center().x() - 960) <= 2 && std::abs(x.marco.center().y() - (540 - 54)) <= 2;
    };
    ASSERT_TRUE(pruebas::esperarHasta(
        [&] {
            v = apiladas();
            creditos = de(v, esCreditos);
            return creditos && enMedio(v[*creditos]);
        },
        20000))
        << describir(v);
    EXPECT_FALSE(v[*creditos].marco.intersects(vi.marco.adjusted(0, 0, 0, -vi.marco.height() / 2))) << describir(v);
}

// No panel shows tray icons in this session. A paired program's first start shows nothing; a
// second start opens the tray's menu, with the island telling why: the menu stays open well past
// the island's warning until the owner closes it, and the island goes with it.
TEST_F(Wayland, ElMenuDeUnaSegundaAperturaEsperaAlDueno) {
    ServicioSimulado servicio;
    ASSERT_TRUE(servicio.arrancar());
    Llavero::guardar(Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                            QStringLiteral("Negocio")});
    Programa app;
    app.arrancar(zentu(), {});
    ASSERT_TRUE(app.espera("[app] lista · cuenta=" + servicio.url())) << app.registro.toStdString();
    ASSERT_TRUE(app.registro.contains("[app] el escritorio no muestra iconos en la barra")) << app.registro.toStdString();

    // The program's windows on screen, menus included (they are not the window manager's).
    const QString pid = QString::number(app.p.processId());
    auto visibles = [&] {
        const QString ids = sesion->x("xdotool", {"search", "--onlyvisible", "--pid", pid}).trimmed();
        return ids.isEmpty() ? qsizetype(0) : ids.split('\n').size();
    };
    ASSERT_TRUE(pruebas::esperarHasta([&] { return visibles() == 0; }, 20000)) << describir(apiladas());

    Programa segunda;
    segunda.arrancar(zentu(), {});
    ASSERT_TRUE(pruebas::esperarHasta([&] { return segunda.p.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(segunda.p.exitCode(), 0);
    // The menu and the island with its warning.
    ASSERT_TRUE(pruebas::esperarHasta([&] { return visibles() >= 2; }, 20000)) << describir(apiladas());
    // The warning has its 4 s; the menu must outlast twice that with nobody touching it.
    EXPECT_FALSE(pruebas::esperarHasta([&] { return visibles() < 2; }, 8000)) << "el menú se cerró solo";
    EXPECT_GE(visibles(), 2);

    // The owner closes it: the menu goes, and the island after it.
    sesion->x("xdotool", {"key", "Escape"});
    EXPECT_TRUE(pruebas::esperarHasta([&] { return visibles() == 0; }, 20000)) << describir(apiladas());
}

}  // namespace
