// What the shown island costs the owner on screen. The installed program runs paired with the
// stand-in service and shows its island with "--solo-isla" (the listening look, as the shell
// shows it, at the scale of the run's preferences, in the light or dark variant of a GNOME
// desktop's theme, with a stand-in desktop portal that says the same) on an X server of the
// benchmark's own (Xvfb). Beside it, two anchors of the
// same size, each a process of its own: a frameless see-through window that plays 60 cached
// frames of the orb on a 33 ms timer and repaints only the orb's rectangle from its cache (the
// least a window showing this animation can do), and the same window repainting its whole
// surface each frame (a plain window doing the same). The anchors are this benchmark itself in
// its "--hijo" mode: it draws the frames once with the program's orb code and then only copies
// them, so they measure playing the animation, not drawing it.
// Over a window of seconds the bench reads from /proc the processor time of each program (its
// threads and any process it started, to the nanosecond) and the X server's (what drawing
// costs there is the program's too; the display is nobody else's), and with a compositor the
// compositor's as well; "total" is the sum. The island hidden (shown, then hidden with Escape
// as the owner hides it) is compared with the anchors hidden the same way (shown, then hidden,
// their animation stopped), so a hidden row compares like with like.
// The three alternate, round after round, the order turning every round; each figure is the
// median of the rounds with the lowest and highest beside it, and each ratio names its anchor
// and is taken round by round. Rows: scale 1.4 and 2.2, dark and light, and hidden; all of it
// without a compositor and, when xcompmgr is installed, with one. The program's preferences
// live in a folder of the run's own with the morning summary off.
// Run inside a session bus with an unlocked keyring, for example:
//   dbus-run-session -- bash -c 'echo | gnome-keyring-daemon --unlock --components=secrets;
//                                build/bench/medir_isla'
// Usage: medir_isla [segundos=5] [rondas=3] [escalas=1.4,2.2] [compositor=ambos|sin|con]
//   medir_isla --hijo ancla|ancla-entera|ancla-oculta <escala> oscuro|claro   (one anchor window,
//   until killed, on $DISPLAY: for perf and the like)
#include "Medidas.h"
#include "Preparar.h"
#include "Proceso.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "zentu/conexion/Cuenta.h"
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/Orbe.h"
#include "zentu/isla/Pildora.h"
#include "zentu/isla/Ventana.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPaintEvent>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

namespace {

// ------------------------------------------------------------------------- the windows

constexpr double margenOrbe = 22, ladoOrbe = 44;

// The anchor: a frameless see-through window like the island's, with the pill drawn once and
// the orb's rectangle composed over it for 60 frames in advance; each 33 ms tick repaints that
// rectangle from the next cached frame, or, `entera`, the whole window. Hidden, it stops.
class Ancla : public QWidget {
public:
    Ancla(double escala, Esquema esquema, bool entera)
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        const QSize tam(int(std::lround(GeometriaIsla::ancho * escala)), int(std::lround(GeometriaIsla::alto * escala)));
        resize(tam);

        EstadoVoz voz;
        voz.setFase(Fase::escuchando);
        voz.setVisible(true);
        voz.nivelBruto = 0.5;
        voz.setQuieto(true);
        Pildora pildora(voz);
        pildora.setEsquema(esquema);
        pildora.resize(tam);
        pildora.orbe()->hide();
        const QImage fondo = pildora.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        lienzo_ = pildora.orbe()->geometry();
        const double f = lienzo_.width() / (ladoOrbe + 2 * margenOrbe);
        const bool oscuro = esquema == Esquema::oscuro;
        for (int i = 0; i < 60; ++i) {
            voz.avanzar(i / 30.0);
            QImage cuadro = fondo.copy(lienzo_);
            QPainter p(&cuadro);
            // As the pill's orb draws itself: its 88-point canvas scaled to the widget.
            p.scale(f, f);
            Orbe::pintar(p, QRectF(margenOrbe, margenOrbe, ladoOrbe, ladoOrbe), Orbe::formas(voz, ladoOrbe, ladoOrbe, oscuro),
                         oscuro);
            p.end();
            cuadros_.push_back(cuadro);
        }
        fondo_ = fondo;
        reloj_.setTimerType(Qt::PreciseTimer);
        reloj_.setInterval(33);
        QObject::connect(&reloj_, &QTimer::timeout, this, [this, entera] {
            actual_ = (actual_ + 1) % int(cuadros_.size());
            if (entera)
                update();
            else
                update(lienzo_);
        });
        reloj_.start();
    }

    void ocultar() {
        reloj_.stop();
        hide();
    }

protected:
    void paintEvent(QPaintEvent* e) override {
        QPainter p(this);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        if (e->rect() != lienzo_) p.drawImage(e->rect(), fondo_, e->rect());
        p.drawImage(lienzo_.topLeft(), cuadros_[size_t(actual_)]);
    }

private:
    QImage fondo_;
    QRect lienzo_;
    std::vector<QImage> cuadros_;
    int actual_ = 0;
    QTimer reloj_;
};

int hijo(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString rol = QString::fromLocal8Bit(argv[2]);
    const double escala = QString::fromLocal8Bit(argv[3]).toDouble();
    const Esquema esquema = QString::fromLocal8Bit(argv[4]) == QLatin1String("claro") ? Esquema::claro : Esquema::oscuro;
    const auto listo = [] {
        std::printf("listo\n");
        std::fflush(stdout);
    };
    Ancla ancla(escala, esquema, rol == QLatin1String("ancla-entera"));
    ancla.move(400, 0);
    ancla.show();
    if (rol == QLatin1String("ancla-oculta")) {
        // Shown for a moment, then hidden, as the island is in its hidden row.
        QTimer::singleShot(1000, &ancla, [&] {
            ancla.ocultar();
            listo();
        });
    } else {
        QTimer::singleShot(0, listo);
    }
    return app.exec();
}

// ------------------------------------------------------------------------- the colour scheme

// The desktop portal's settings as the program reads its colour scheme at start: a stand-in on
// the session bus, answering from a thread of its own while the benchmark sleeps.
class PortalEsquema : public QThread {
public:
    PortalEsquema() {
        start();
        while (listo_.load() == 0 && !isFinished()) QThread::msleep(5);
    }
    ~PortalEsquema() override {
        quit();
        wait();
    }
    bool listo() const { return listo_.load() == 1; }
    void poner(Esquema e) { valor_.store(e == Esquema::oscuro ? 1u : 2u); }

protected:
    void run() override {
        const QString nombre = QStringLiteral("portal-esquema");
        {
            QDBusConnection c = QDBusConnection::connectToBus(QDBusConnection::SessionBus, nombre);
            Objeto objeto(*this, c);
            const bool bien = c.isConnected() && c.registerService(QStringLiteral("org.freedesktop.portal.Desktop")) &&
                              c.registerVirtualObject(QStringLiteral("/org/freedesktop/portal/desktop"), &objeto);
            listo_.store(bien ? 1 : -1);
            if (bien) exec();
            c.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
            c.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        }
        QDBusConnection::disconnectFromBus(nombre);
    }

private:
    class Objeto : public QDBusVirtualObject {
    public:
        Objeto(PortalEsquema& portal, QDBusConnection c) : portal_(portal), c_(std::move(c)) {}
        QString introspect(const QString&) const override { return {}; }
        bool handleMessage(const QDBusMessage& m, const QDBusConnection&) override {
            if (m.interface() != QLatin1String("org.freedesktop.portal.Settings")) return false;
            if (m.arguments().value(0).toString() != QLatin1String("org.freedesktop.appearance") ||
                m.arguments().value(1).toString() != QLatin1String("color-scheme")) {
                c_.send(m.createErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"), QStringLiteral("no")));
                return true;
            }
            const QVariant valor(portal_.valor_.load());
            // Read wraps the value in a second variant; ReadOne does not.
            c_.send(m.member() == QLatin1String("ReadOne")
                        ? m.createReply(QVariant::fromValue(QDBusVariant(valor)))
                        : m.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusVariant(valor))))));
            return true;
        }

    private:
        PortalEsquema& portal_;
        QDBusConnection c_;
    };
    std::atomic<int> listo_{0};
    std::atomic<unsigned> valor_{1};
};

// ------------------------------------------------------------------------- measuring

enum class Rol { isla, islaOculta, ancla, anclaEntera, anclaOculta };

struct Entorno {
    QString zentu;        // the installed program
    QString yo;           // this benchmark, for its anchors
    QString preferencias; // the program's preferences file
    QProcessEnvironment env;
    PantallaPropia* pantalla = nullptr;
    PortalEsquema* portal = nullptr;
};

struct Cifras {
    double cpu = 0, cpuX = 0, cpuC = 0, despertares = 0;
    double total() const { return cpu + cpuX + cpuC; }
};

// Voluntary context switches of the main thread: how often it went to sleep and woke.
double despertares(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly)) return 0;
    for (const QByteArray& l : f.readAll().split('\n'))
        if (l.startsWith("voluntary_ctxt_switches:")) return l.mid(24).trimmed().toDouble();
    return 0;
}

// The process's windows that are viewable now, by xdotool on the run's display.
QStringList ventanasVisibles(const Entorno& ent, qint64 pid) {
    QProcess x;
    x.setProcessEnvironment(ent.env);
    x.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                        QString::number(pid)});
    x.waitForFinished(10000);
    return QString::fromLatin1(x.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool esperar(const std::function<bool()>& condicion, int ms) {
    QElapsedTimer t;
    t.start();
    while (!condicion()) {
        if (t.hasExpired(ms)) return false;
        QThread::msleep(100);
    }
    return true;
}

// Starts the installed program with its island shown (and, for the hidden row, hides it the
// way the owner does: Escape on the island). False, with its log, when it did not get there.
bool arrancarIsla(const Entorno& ent, QProcess& p, Rol rol, double escala, Esquema esquema) {
    {
        QSettings ajustes(ent.preferencias, QSettings::IniFormat);
        ajustes.setValue(QStringLiteral("zentu.isla.escala"), escala);
    }
    ent.portal->poner(esquema);
    p.setProcessEnvironment(ent.env);
    p.start(ent.zentu, {QStringLiteral("--solo-isla")});
    if (!p.waitForStarted(10000)) return false;
    QByteArray log;
    const auto falla = [&](const char* que) {
        p.waitForReadyRead(100);
        log += p.readAllStandardError();
        std::fprintf(stderr, "%s\n%s\n", que, log.right(3000).constData());
        return false;
    };
    if (!esperar([&] {
            p.waitForReadyRead(50);
            log += p.readAllStandardError();
            return log.contains("[app] lista") || p.state() != QProcess::Running;
        }, 60000) || p.state() != QProcess::Running)
        return falla("zentu no arrancó");
    QStringList ventanas;
    if (!esperar([&] { return !(ventanas = ventanasVisibles(ent, p.processId())).isEmpty(); }, 30000))
        return falla("la isla no apareció");
    if (rol != Rol::islaOculta) return true;
    QProcess x;
    x.setProcessEnvironment(ent.env);
    x.start(QStringLiteral("xdotool"), {QStringLiteral("windowfocus"), QStringLiteral("--sync"), ventanas.first(),
                                        QStringLiteral("key"), QStringLiteral("Escape")});
    x.waitForFinished(10000);
    if (!esperar([&] { return ventanasVisibles(ent, p.processId()).isEmpty(); }, 20000))
        return falla("la isla no se ocultó con Escape");
    return true;
}

bool arrancarAncla(const Entorno& ent, QProcess& p, Rol rol, double escala, Esquema esquema) {
    p.setProcessEnvironment(ent.env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QString nombre = rol == Rol::ancla ? QStringLiteral("ancla")
                           : rol == Rol::anclaEntera ? QStringLiteral("ancla-entera")
                                                     : QStringLiteral("ancla-oculta");
    p.start(ent.yo, {QStringLiteral("--hijo"), nombre, QString::number(escala),
                     esquema == Esquema::oscuro ? QStringLiteral("oscuro") : QStringLiteral("claro")});
    if (!p.waitForStarted(10000)) return false;
    QByteArray salida;
    return esperar([&] {
        p.waitForReadyRead(50);
        salida += p.readAllStandardOutput();
        return salida.contains("listo") || p.state() != QProcess::Running;
    }, 60000) && p.state() == QProcess::Running;
}

std::optional<Cifras> medir(const Entorno& entorno, Rol rol, double escala, Esquema esquema, int segundos) {
    // The island takes its colours from Qt's palette: a GNOME desktop's, through Qt's GTK theme,
    // in its light or dark variant. The anchors run in the same environment, which they ignore
    // for their colours (they are told the scheme) but not for what the theme loads.
    Entorno ent = entorno;
    ent.env.insert(QStringLiteral("QT_QPA_PLATFORMTHEME"), QStringLiteral("gtk3"));
    ent.env.insert(QStringLiteral("GTK_THEME"), esquema == Esquema::oscuro ? QStringLiteral("Adwaita:dark")
                                                                          : QStringLiteral("Adwaita"));
    QProcess p;
    const bool isla = rol == Rol::isla || rol == Rol::islaOculta;
    const bool bien = isla ? arrancarIsla(ent, p, rol, escala, esquema) : arrancarAncla(ent, p, rol, escala, esquema);
    std::optional<Cifras> c;
    if (bien) {
        // Let the show-and-fade motion (or the hiding) and the first frames pass.
        QThread::msleep(2000);
        const qint64 pid = p.processId();
        const double cpu0 = cpuSegundosArbol(pid), x0 = ent.pantalla->cpu(), c0 = ent.pantalla->cpuCompositor(),
                     d0 = despertares(pid);
        QElapsedTimer reloj;
        reloj.start();
        QThread::msleep(unsigned(segundos * 1000));
        const double cpu1 = cpuSegundosArbol(pid), x1 = ent.pantalla->cpu(), c1 = ent.pantalla->cpuCompositor(),
                     d1 = despertares(pid);
        const double s = double(reloj.nsecsElapsed()) / 1e9;
        c = Cifras{(cpu1 - cpu0) / s * 100, (x1 - x0) / s * 100, (c1 - c0) / s * 100, (d1 - d0) / s};
    }
    p.terminate();
    if (!p.waitForFinished(8000)) {
        p.kill();
        p.waitForFinished(5000);
    }
    return c;
}

struct Fila {
    bool oculta;
    double escala;
    Esquema esquema;
};

bool medirFilas(const Entorno& ent, const std::vector<Fila>& filas, int segundos, int rondas, bool conCompositor) {
    constexpr int n = 3;
    const char* nombres[n] = {"island (zentu)", "anchor: orb rect", "anchor: whole window"};
    for (const Fila& f : filas) {
        const Rol roles[n] = {f.oculta ? Rol::islaOculta : Rol::isla, f.oculta ? Rol::anclaOculta : Rol::ancla,
                              f.oculta ? Rol::anclaOculta : Rol::anclaEntera};
        std::vector<double> cpu[n], x[n], comp[n], total[n], desp[n];
        for (int r = 0; r < rondas; ++r) {
            std::optional<Cifras> c[n];
            for (int k = 0; k < n; ++k) {
                const int cual = turno(r, k, n);
                c[cual] = medir(ent, roles[cual], f.escala, f.esquema, segundos);
                if (!c[cual]) break;
            }
            if (!c[0] || !c[1] || !c[2]) {
                std::fprintf(stderr, "a window did not come up\n");
                return false;
            }
            for (int k = 0; k < n; ++k) {
                cpu[k].push_back(c[k]->cpu), x[k].push_back(c[k]->cpuX), comp[k].push_back(c[k]->cpuC);
                total[k].push_back(c[k]->total()), desp[k].push_back(c[k]->despertares);
            }
        }
        std::printf("%s %.1f %s%s\n", f.oculta ? "hidden after being shown" : "shown, listening", f.escala,
                    f.esquema == Esquema::oscuro ? "dark" : "light",
                    f.oculta ? " (the anchors hidden too, their animation stopped)" : "");
        const char* nombresOcultas[n] = {"island (zentu), hidden", "anchor, hidden", "anchor, hidden (again)"};
        const char* const* fila = f.oculta ? nombresOcultas : nombres;
        std::printf("  %s%s%s%s%s%s\n", columna(QStringLiteral("% of a core:"), 24).constData(),
                    columna(QStringLiteral("program"), 22).constData(), columna(QStringLiteral("X server"), 22).constData(),
                    columna(conCompositor ? QStringLiteral("compositor") : QString(), conCompositor ? 22 : 0).constData(),
                    columna(QStringLiteral("total"), 22).constData(), "main wakeups /s");
        for (int k = 0; k < n; ++k)
            std::printf("  %s%s%s%s%s%s\n", columna(QString::fromUtf8(fila[k]), 24).constData(),
                        columna(cifra(cpu[k], 2), 22).constData(), columna(cifra(x[k], 2), 22).constData(),
                        columna(conCompositor ? cifra(comp[k], 2) : QString(), conCompositor ? 22 : 0).constData(),
                        columna(cifra(total[k], 2), 22).constData(), qPrintable(cifra(desp[k], 0)));
        if (!f.oculta)
            for (int k = 1; k < n; ++k)
                std::printf("  island / %s total %s program alone %s\n", columna(QString::fromUtf8(nombres[k]), 22).constData(),
                            columna(cifra(razones(total[0], total[k]), 2), 22).constData(),
                            qPrintable(cifra(razones(cpu[0], cpu[k]), 2)));
        std::fflush(stdout);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && qstrcmp(argv[1], "--hijo") == 0) return hijo(argc, argv);
    QCoreApplication app(argc, argv);
    const int segundos = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int rondas = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const QString compositor = argc > 4 ? QString::fromLocal8Bit(argv[4]) : QStringLiteral("ambos");

    if (!QDBusConnection::sessionBus().isConnected()) {
        std::fprintf(stderr, "sin bus de sesión: ejecútalo dentro de dbus-run-session\n");
        return 1;
    }
    PortalEsquema portal;
    if (!portal.listo()) {
        std::fprintf(stderr, "the session bus already has a desktop portal: run it inside dbus-run-session\n");
        return 1;
    }
    Instalacion instalacion;
    PantallaPropia pantalla;
    ServicioSimulado servicio;
    if (!preparar(instalacion, pantalla, servicio)) return 1;

    // Private preferences: nothing of the owner's is read or written; no morning summary.
    QTemporaryDir casa;
    Entorno ent;
    ent.zentu = instalacion.zentu();
    ent.yo = QCoreApplication::applicationFilePath();
    ent.preferencias = casa.filePath(QStringLiteral("config/zentu/zentu.ini"));
    ent.pantalla = &pantalla;
    ent.portal = &portal;
    ent.env = pantalla.entorno();
    ent.env.insert(QStringLiteral("XDG_CONFIG_HOME"), casa.filePath(QStringLiteral("config")));
    ent.env.insert(QStringLiteral("XDG_DATA_HOME"), casa.filePath(QStringLiteral("datos")));
    ent.env.insert(QStringLiteral("XDG_CACHE_HOME"), casa.filePath(QStringLiteral("cache")));
    {
        QSettings ajustes(ent.preferencias, QSettings::IniFormat);
        ajustes.setValue(QStringLiteral("zentu.resumenManana"), false);
        ajustes.setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    }
    Llavero::guardar(Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                            QStringLiteral("Negocio")});

    std::vector<double> escalas;
    for (const QString& e : QString::fromLocal8Bit(argc > 3 ? argv[3] : "1.4,2.2").split(QLatin1Char(',')))
        if (e.toDouble() > 0) escalas.push_back(e.toDouble());
    std::vector<Fila> filas;
    for (double e : escalas)
        for (Esquema s : {Esquema::oscuro, Esquema::claro}) filas.push_back({false, e, s});
    filas.push_back({true, escalas.empty() ? 1.4 : escalas.front(), Esquema::oscuro});

    std::printf("the installed program's island (%s --solo-isla, paired), listening, vs. windows of the\n"
                "same size playing 60 cached orb frames every 33 ms; %d rounds of %d s each, alternating;\n"
                "median [lowest–highest]; ratios round by round; Xvfb %s of its own, %d cores\n\n",
                qPrintable(ent.zentu), rondas, segundos, qPrintable(pantalla.nombre()), QThread::idealThreadCount());
    bool bien = true;
    if (compositor != QLatin1String("con")) {
        std::printf("== without a compositor\n");
        bien = medirFilas(ent, filas, segundos, rondas, false);
    }
    if (bien && compositor != QLatin1String("sin")) {
        if (!pantalla.ponerCompositor()) {
            std::printf("\n(xcompmgr is not installed or did not take the display: no rows with a compositor)\n");
        } else {
            std::printf("\n== with a compositor (xcompmgr, its processor time counted in the total)\n");
            bien = medirFilas(ent, filas, segundos, rondas, true);
            pantalla.quitarCompositor();
        }
    }
    Llavero::borrar();
    return bien ? 0 : 1;
}
