// What the shown island costs the owner on screen: the real island window (the pill in its root
// view, in the island's panel, as the shell builds it) mapped on an X server of its own (Xvfb),
// listening, beside an anchor window of the same size that plays 60 cached frames of the orb on
// a 33 ms timer. Each is a process of its own; over a window of seconds the bench reads from
// /proc its processor time (all threads), how often its main thread went to sleep and woke
// (voluntary context switches), the context switches of all its threads, and the X server's
// processor time. Island and anchor alternate, round after round (the order turns every round),
// so a busy moment of the machine weighs on both alike; each figure is the median of the rounds
// with the lowest and highest beside it, and the ratio island / anchor is taken round by round.
// Rows: scale 1.4 and 2.2, dark and light, and the island hidden after being shown; all of it
// without a compositor and, when xcompmgr is installed, with one.
//
// Run by hand: build/bench/medir_isla [segundos=4] [rondas=3]
//   build/bench/medir_isla --hijo isla|oculta|ancla <escala> oscuro|claro   (one window, until
//   killed, on $DISPLAY: for perf and the like)
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

// ------------------------------------------------------------------------- the two windows

constexpr double margenOrbe = 22, ladoOrbe = 44;

// The anchor: a frameless see-through window like the island's, with the pill drawn once and
// the orb's rectangle composed over it for 60 frames in advance; each 33 ms tick repaints that
// rectangle from the next cached frame.
class Ancla : public QWidget {
public:
    Ancla(double escala, Esquema esquema)
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
        QObject::connect(&reloj_, &QTimer::timeout, this, [this] {
            actual_ = (actual_ + 1) % int(cuadros_.size());
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

    if (rol == QLatin1String("ancla")) {
        Ancla ancla(escala, esquema);
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
    double cpu = 0;          // seconds, all threads (those gone included)
    double cpuPrincipal = 0;  // seconds, main thread
    double despertares = 0;  // main thread: voluntary switches
    double cambios = 0;      // all live threads: voluntary + involuntary switches
    int hilos = 0;
};

QByteArray leer(const QString& ruta) {
    QFile f(ruta);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

double segundosDeStat(const QByteArray& stat) {
    const QList<QByteArray> campos = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    // utime and stime: fields 14 and 15 of the line, 12 and 13 after the name.
    return (campos.value(11).toDouble() + campos.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

double campo(const QByteArray& status, const char* nombre) {
    for (const QByteArray& l : status.split('\n'))
        if (l.startsWith(nombre)) return l.mid(int(qstrlen(nombre))).trimmed().toDouble();
    return 0;
}

Lectura leerProceso(qint64 pid) {
    Lectura l;
    const QString base = QStringLiteral("/proc/%1").arg(pid);
    l.cpu = segundosDeStat(leer(base + QStringLiteral("/stat")));
    l.cpuPrincipal = segundosDeStat(leer(base + QStringLiteral("/task/%1/stat").arg(pid)));
    l.despertares = campo(leer(base + QStringLiteral("/task/%1/status").arg(pid)), "voluntary_ctxt_switches:");
    const QStringList hilos = QDir(base + QStringLiteral("/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    l.hilos = int(hilos.size());
    for (const QString& h : hilos) {
        const QByteArray s = leer(base + QStringLiteral("/task/") + h + QStringLiteral("/status"));
        l.cambios += campo(s, "voluntary_ctxt_switches:") + campo(s, "nonvoluntary_ctxt_switches:");
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
    const double xa = segundosDeStat(leer(QStringLiteral("/proc/%1/stat").arg(ent.pidX)));
    QElapsedTimer reloj;
    reloj.start();
    QThread::msleep(unsigned(segundos * 1000));
    const Lectura b = leerProceso(p.processId());
    const double xb = segundosDeStat(leer(QStringLiteral("/proc/%1/stat").arg(ent.pidX)));
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
    return QStringLiteral("%1 [%2–%3]")
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
    for (const Fila& f : filas) {
        std::vector<double> cpuN, cpuA, cpuRazon, principalN, principalA, despN, despA, despRazon, cambN, cambA, xN, xA;
        int hilosN = 0, hilosA = 0;
        for (int r = 0; r < rondas; ++r) {
            std::optional<Cifras> n, a;
            if (r % 2 == 0) {
                n = medir(ent, f.rol, f.escala, f.esquema, segundos);
                a = medir(ent, QStringLiteral("ancla"), f.escala, f.esquema, segundos);
            } else {
                a = medir(ent, QStringLiteral("ancla"), f.escala, f.esquema, segundos);
                n = medir(ent, f.rol, f.escala, f.esquema, segundos);
            }
            if (!n || !a) {
                std::fprintf(stderr, "a window did not come up; round skipped\n");
                continue;
            }
            cpuN.push_back(n->cpu), cpuA.push_back(a->cpu);
            principalN.push_back(n->cpuPrincipal), principalA.push_back(a->cpuPrincipal);
            despN.push_back(n->despertares), despA.push_back(a->despertares);
            cambN.push_back(n->cambios), cambA.push_back(a->cambios);
            xN.push_back(n->cpuX), xA.push_back(a->cpuX);
            if (a->cpu > 0) cpuRazon.push_back(n->cpu / a->cpu);
            if (a->despertares > 0) despRazon.push_back(n->despertares / a->despertares);
            hilosN = std::max(hilosN, n->hilos), hilosA = std::max(hilosA, a->hilos);
        }
        const QString nombre = QStringLiteral("%1 %2 %3")
                                   .arg(f.rol == QLatin1String("isla") ? QStringLiteral("shown") : QStringLiteral("hidden"))
                                   .arg(f.escala, 0, 'f', 1)
                                   .arg(f.esquema == Esquema::oscuro ? QStringLiteral("dark") : QStringLiteral("light"));
        std::printf("%s\n", qPrintable(nombre));
        std::printf("  cpu %% of a core     island %-22s anchor %-22s island/anchor %s\n", qPrintable(cifra(cpuN, 2)),
                    qPrintable(cifra(cpuA, 2)), qPrintable(cifra(cpuRazon, 2)));
        std::printf("  main thread cpu %%   island %-22s anchor %s\n", qPrintable(cifra(principalN, 2)),
                    qPrintable(cifra(principalA, 2)));
        std::printf("  main wakeups /s     island %-22s anchor %-22s island/anchor %s\n", qPrintable(cifra(despN, 0)),
                    qPrintable(cifra(despA, 0)), qPrintable(cifra(despRazon, 2)));
        std::printf("  switches /s, all    island %-22s anchor %s\n", qPrintable(cifra(cambN, 0)), qPrintable(cifra(cambA, 0)));
        std::printf("  X server cpu %%      island %-22s anchor %s\n", qPrintable(cifra(xN, 2)), qPrintable(cifra(xA, 2)));
        std::printf("  threads             island %-22d anchor %d\n", hilosN, hilosA);
        std::fflush(stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 5 && qstrcmp(argv[1], "--hijo") == 0) return hijo(argc, argv);
    QCoreApplication app(argc, argv);
    const int segundos = argc > 1 ? std::max(1, std::atoi(argv[1])) : 4;
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

    std::vector<Fila> filas;
    for (double e : {1.4, 2.2})
        for (Esquema s : {Esquema::oscuro, Esquema::claro}) filas.push_back({QStringLiteral("isla"), e, s});
    filas.push_back({QStringLiteral("oculta"), 1.4, Esquema::oscuro});

    std::printf("island listening vs. a window of the same size playing 60 cached orb frames every 33 ms\n");
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
