// What the shown island costs the owner on screen: the real island window (the pill in its root
// view, in the island's panel, as the shell builds it) mapped on an X server of its own (Xvfb),
// listening, beside two anchor windows of the same size that play 60 cached frames of the orb
// on a 33 ms timer: one repaints only the orb's rectangle from its cache (the least a window
// showing this animation can do), the other repaints the whole window each frame (a plain
// window doing the same). Each is a process of its own; over a window of seconds the bench
// reads from /proc its processor time (all threads, to the nanosecond), how often its main
// thread went to sleep and woke (voluntary context switches), the context switches of all its
// threads, and the X server's processor time. The three alternate, round after round (the
// order turns every round), so a busy moment of the machine weighs on all alike; each figure is
// the median of the rounds with the lowest and highest beside it, and the ratios island / anchor
// are taken round by round. Rows: scale 1.4 and 2.2, dark and light, and the island hidden
// after being shown; all of it without a compositor and, when xcompmgr is installed, with one.
//
// Run by hand: build/bench/medir_isla [segundos=5] [rondas=3] [escalas=1.4,2.2]
//   build/bench/medir_isla --hijo isla|oculta|ancla|ancla-entera <escala> oscuro|claro   (one
//   window, until killed, on $DISPLAY: for perf and the like)
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/Orbe.h"
#include "zentu/isla/Pildora.h"
#include "zentu/isla/Ventana.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPaintEvent>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <unistd.h>
#include <vector>
#include <xcb/xcb.h>

namespace {

// ------------------------------------------------------------------------- the windows

constexpr double margenOrbe = 22, ladoOrbe = 44;

// The anchor: a frameless see-through window like the island's, with the pill drawn once and
// the orb's rectangle composed over it for 60 frames in advance; each 33 ms tick repaints that
// rectangle from the next cached frame, or, `entera`, the whole window.
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

    if (rol.startsWith(QLatin1String("ancla"))) {
        Ancla ancla(escala, esquema, rol == QLatin1String("ancla-entera"));
        ancla.move(400, 0);
        ancla.show();
        QTimer::singleShot(0, listo);
        return app.exec();
    }

    // The island as the shell builds it, shown as the shell shows it, listening.
    EstadoVoz voz;
    voz.setEscala(escala);
    auto* pildora = new Pildora(voz);
    pildora->setEsquema(esquema);
    for (auto* accion : {&pildora->alSilenciar, &pildora->alTerminar, &pildora->alVerEnChat, &pildora->alContestar,
                         &pildora->alRechazar, &pildora->alNotaDeVoz, &pildora->alConversar})
        *accion = [] {};
    PanelIsla ventana(new RaizIsla(voz, pildora));
    ventana.cambiarEscala(voz.escala());
    QObject::connect(&voz, &EstadoVoz::escalaCambio, &ventana, [&] { ventana.cambiarEscala(voz.escala()); });
    voz.setFase(Fase::escuchando);
    voz.nivelBruto = 0.5;
    ventana.colocar();
    ventana.show();
    voz.setVisible(true);
    if (rol == QLatin1String("oculta")) {
        // Shown for a moment, then hidden as the shell hides it: the state first, the window
        // once the pill has shrunk away.
        QTimer::singleShot(1000, [&] {
            voz.setVisible(false);
            QTimer::singleShot(450, [&] {
                ventana.hide();
                listo();
            });
        });
    } else {
        QTimer::singleShot(0, listo);
    }
    return app.exec();
}

// ------------------------------------------------------------------------- measuring

struct Lectura {
    double cpu = 0;           // seconds on a processor, all live threads
    double cpuPrincipal = 0;  // seconds, main thread
    double despertares = 0;   // main thread: voluntary switches
    double cambios = 0;       // all live threads: voluntary + involuntary switches
    int hilos = 0;
};

QByteArray leer(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A task's time on a processor, from schedstat (nanoseconds).
double segundosEnCpu(const QString& tarea) {
    return leer(tarea + QStringLiteral("/schedstat")).split(' ').value(0).toDouble() / 1e9;
}

double campo(const QByteArray& status, const char* nombre) {
    for (const QByteArray& l : status.split('\n'))
        if (l.startsWith(nombre)) return l.mid(int(qstrlen(nombre))).trimmed().toDouble();
    return 0;
}

Lectura leerProceso(qint64 pid) {
    Lectura l;
    const QString base = QStringLiteral("/proc/%1/task/").arg(pid);
    const QStringList hilos = QDir(base).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    l.hilos = int(hilos.size());
    for (const QString& h : hilos) {
        const QByteArray s = leer(base + h + QStringLiteral("/status"));
        const double cpu = segundosEnCpu(base + h);
        l.cpu += cpu;
        l.cambios += campo(s, "voluntary_ctxt_switches:") + campo(s, "nonvoluntary_ctxt_switches:");
        if (h.toLongLong() == pid) {
            l.cpuPrincipal = cpu;
            l.despertares = campo(s, "voluntary_ctxt_switches:");
        }
    }
    return l;
}

struct Cifras {
    double cpu = 0, cpuPrincipal = 0, despertares = 0, cambios = 0, cpuX = 0;
    int hilos = 0;
};

struct Entorno {
    QString programa;
    QProcessEnvironment env;
    qint64 pidX = 0;
};

std::optional<Cifras> medir(const Entorno& ent, const QString& rol, double escala, Esquema esquema, int segundos) {
    QProcess p;
    p.setProcessEnvironment(ent.env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(ent.programa, {QStringLiteral("--hijo"), rol, QString::number(escala),
                           esquema == Esquema::oscuro ? QStringLiteral("oscuro") : QStringLiteral("claro")});
    if (!p.waitForStarted(10000)) return std::nullopt;
    QElapsedTimer t;
    t.start();
    while (!p.readAllStandardOutput().contains("listo")) {
        if (t.hasExpired(30000) || p.state() != QProcess::Running) {
            p.kill();
            p.waitForFinished();
            return std::nullopt;
        }
        p.waitForReadyRead(200);
    }
    // Let the show-and-fade motion and the first frames pass.
    QThread::msleep(2000);
    const Lectura a = leerProceso(p.processId());
    const double xa = leerProceso(ent.pidX).cpu;
    QElapsedTimer reloj;
    reloj.start();
    QThread::msleep(unsigned(segundos * 1000));
    const Lectura b = leerProceso(p.processId());
    const double xb = leerProceso(ent.pidX).cpu;
    const double s = double(reloj.nsecsElapsed()) / 1e9;
    p.kill();
    p.waitForFinished(5000);
    Cifras c;
    c.cpu = (b.cpu - a.cpu) / s * 100;
    c.cpuPrincipal = (b.cpuPrincipal - a.cpuPrincipal) / s * 100;
    c.despertares = (b.despertares - a.despertares) / s;
    c.cambios = (b.cambios - a.cambios) / s;
    c.cpuX = (xb - xa) / s * 100;
    c.hilos = b.hilos;
    return c;
}

// A compositing manager runs on the display: someone owns _NET_WM_CM_S0.
bool hayCompositor(const QByteArray& pantalla) {
    xcb_connection_t* c = xcb_connect(pantalla.constData(), nullptr);
    if (!c || xcb_connection_has_error(c)) {
        if (c) xcb_disconnect(c);
        return false;
    }
    bool hay = false;
    xcb_intern_atom_reply_t* atomo = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 13, "_NET_WM_CM_S0"), nullptr);
    if (atomo) {
        xcb_get_selection_owner_reply_t* dueno =
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atomo->atom), nullptr);
        hay = dueno && dueno->owner != XCB_NONE;
        free(dueno);
        free(atomo);
    }
    xcb_disconnect(c);
    return hay;
}

double mediana(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// "median [lowest–highest]"
QString cifra(const std::vector<double>& v, int decimales) {
    if (v.empty()) return QStringLiteral("-");
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return QStringLiteral("%1 [%2-%3]")
        .arg(mediana(v), 0, 'f', decimales)
        .arg(*lo, 0, 'f', decimales)
        .arg(*hi, 0, 'f', decimales);
}

struct Fila {
    QString rol;
    double escala;
    Esquema esquema;
};

void medirFilas(const Entorno& ent, const std::vector<Fila>& filas, int segundos, int rondas) {
    // The three windows of a row: the island, and the two anchors.
    constexpr int n = 3;
    const char* nombres[n] = {"island", "anchor, orb rect", "anchor, whole window"};
    for (const Fila& f : filas) {
        const QString roles[n] = {f.rol, QStringLiteral("ancla"), QStringLiteral("ancla-entera")};
        std::vector<double> cpu[n], principal[n], desp[n], camb[n], x[n], cpuRazon[n], despRazon[n];
        int hilos[n] = {};
        for (int r = 0; r < rondas; ++r) {
            std::optional<Cifras> c[n];
            for (int k = 0; k < n; ++k) {
                const int cual = (k + r) % n;  // the order turns every round
                c[cual] = medir(ent, roles[cual], f.escala, f.esquema, segundos);
            }
            if (!c[0] || !c[1] || !c[2]) {
                std::fprintf(stderr, "a window did not come up; round skipped\n");
                continue;
            }
            for (int k = 0; k < n; ++k) {
                cpu[k].push_back(c[k]->cpu), principal[k].push_back(c[k]->cpuPrincipal);
                desp[k].push_back(c[k]->despertares), camb[k].push_back(c[k]->cambios), x[k].push_back(c[k]->cpuX);
                hilos[k] = std::max(hilos[k], c[k]->hilos);
                if (k > 0 && c[k]->cpu > 0) cpuRazon[k].push_back(c[0]->cpu / c[k]->cpu);
                if (k > 0 && c[k]->despertares > 0) despRazon[k].push_back(c[0]->despertares / c[k]->despertares);
            }
        }
        std::printf("%s %.1f %s\n", f.rol == QLatin1String("isla") ? "shown" : "hidden", f.escala,
                    f.esquema == Esquema::oscuro ? "dark" : "light");
        std::printf("  %-22s %-21s %-21s %-21s %-21s %-21s %s\n", "", "cpu % of a core", "main thread cpu %",
                    "main wakeups /s", "switches /s, all", "X server cpu %", "threads");
        for (int k = 0; k < n; ++k)
            std::printf("  %-22s %-21s %-21s %-21s %-21s %-21s %d\n", nombres[k], qPrintable(cifra(cpu[k], 2)),
                        qPrintable(cifra(principal[k], 2)), qPrintable(cifra(desp[k], 0)), qPrintable(cifra(camb[k], 0)),
                        qPrintable(cifra(x[k], 2)), hilos[k]);
        for (int k = 1; k < n; ++k)
            std::printf("  island / %-21s cpu %-21s wakeups %s\n", nombres[k], qPrintable(cifra(cpuRazon[k], 2)),
                        qPrintable(cifra(despRazon[k], 2)));
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && qstrcmp(argv[1], "--hijo") == 0) return hijo(argc, argv);
    QCoreApplication app(argc, argv);
    const int segundos = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const int rondas = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;

    // A private X server and private preferences: nothing of the owner's is read or written.
    QTemporaryDir casa;
    const QString archivoPantalla = casa.path() + QStringLiteral("/pantalla");
    QProcess x;
    x.start(QStringLiteral("bash"), {QStringLiteral("-c"),
                                     QStringLiteral("exec Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>\"$1\""),
                                     QStringLiteral("xvfb"), archivoPantalla});
    if (!x.waitForStarted(10000)) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    QByteArray numero;
    for (int i = 0; i < 200 && numero.isEmpty(); ++i) {
        QThread::msleep(50);
        numero = leer(archivoPantalla).trimmed();
    }
    if (numero.isEmpty()) {
        std::fprintf(stderr, "Xvfb gave no display\n");
        return 1;
    }
    const QByteArray pantalla = ":" + numero;
    Entorno ent;
    ent.programa = QCoreApplication::applicationFilePath();
    ent.pidX = x.processId();
    ent.env = QProcessEnvironment::systemEnvironment();
    ent.env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(pantalla));
    ent.env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    ent.env.insert(QStringLiteral("XDG_CONFIG_HOME"), casa.path() + QStringLiteral("/config"));
    ent.env.insert(QStringLiteral("XDG_DATA_HOME"), casa.path() + QStringLiteral("/datos"));
    ent.env.insert(QStringLiteral("XDG_CACHE_HOME"), casa.path() + QStringLiteral("/cache"));
    ent.env.remove(QStringLiteral("WAYLAND_DISPLAY"));

    std::vector<double> escalas;
    for (const QString& e : QString::fromLocal8Bit(argc > 3 ? argv[3] : "1.4,2.2").split(QLatin1Char(',')))
        if (e.toDouble() > 0) escalas.push_back(e.toDouble());
    std::vector<Fila> filas;
    for (double e : escalas)
        for (Esquema s : {Esquema::oscuro, Esquema::claro}) filas.push_back({QStringLiteral("isla"), e, s});
    filas.push_back({QStringLiteral("oculta"), 1.4, Esquema::oscuro});

    std::printf("island listening vs. windows of the same size playing 60 cached orb frames every 33 ms\n");
    std::printf("%d rounds of %d s each, alternating; median [lowest–highest]; Xvfb %s, %d cores\n\n", rondas, segundos,
                pantalla.constData(), QThread::idealThreadCount());
    std::printf("== without a compositor\n");
    medirFilas(ent, filas, segundos, rondas);

    const QString xcompmgr = QStandardPaths::findExecutable(QStringLiteral("xcompmgr"));
    if (xcompmgr.isEmpty()) {
        std::printf("\n(xcompmgr is not installed: no rows with a compositor)\n");
    } else {
        QProcess cm;
        cm.setProcessEnvironment(ent.env);
        cm.start(xcompmgr, {});
        QElapsedTimer t;
        t.start();
        while (!hayCompositor(pantalla) && !t.hasExpired(10000)) QThread::msleep(50);
        if (!hayCompositor(pantalla)) {
            std::printf("\n(xcompmgr did not take the display: no rows with a compositor)\n");
        } else {
            std::printf("\n== with a compositor (xcompmgr); its own cpu is not counted\n");
            medirFilas(ent, filas, segundos, rondas);
        }
        cm.terminate();
        cm.waitForFinished(5000);
    }
    x.terminate();
    x.waitForFinished(5000);
    return 0;
}
