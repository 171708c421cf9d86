// Cold start and idle cost of the installed tray program, paired with the stand-in service,
// beside a plain Qt tray program (bench/anclas/bandeja.cpp: QApplication and one tray icon,
// linking Qt Widgets alone) in the same run. For each: the time from launch to its tray item
// registered with the panel (a StatusNotifierWatcher of our own on the session bus); then its
// resident and anonymous memory (heap and the pages it wrote: what is its own whatever else runs
// on the machine, where private pages of shared libraries turn shared as soon as another program
// maps them) and, over a stretch of idleness, its processor time (the process
// and any it started) and the X server's: every program here draws on an Xvfb of the
// benchmark's own, so what that server spends is theirs.
// A third contender is the installed program again, without Qt's Spanish catalogue (a copy of it
// beside a qt.conf whose translations folder is empty): the difference, round by round, is what
// that catalogue costs while idle.
// The three alternate, the order turning every round; each figure is the median of the rounds
// with the lowest and highest beside it, each ratio ours / anchor taken round by round.
// The program's preferences live in a folder of the run's own with the morning summary off (it
// would otherwise ask its question 12 s in, between 6 and 12 o'clock) and its login entry
// already registered, so every round starts the same way.
// Run inside a session bus with an unlocked keyring, for example:
//   dbus-run-session -- bash -c 'echo | gnome-keyring-daemon --unlock --components=secrets;
//                                build/bench/medir_arranque'
// Usage: medir_arranque [segundosQuieto=10] [rondas=5]
#include "Medidas.h"
#include "Preparar.h"
#include "Proceso.h"

#include "comun/Ayudas.h"
#include "comun/PanelBandeja.h"
#include "comun/ServicioSimulado.h"
#include "zentu/conexion/Cuenta.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace {

struct Cifras {
    double arranqueMs = 0;
    double rssMb = 0;
    double anonimaMb = 0;
    double cpuPorCiento = 0;   // the program and its children
    double cpuXPorCiento = 0;  // the X server over the same stretch
};

// Runs the event loop for `ms` without polling: the benchmark itself stays asleep.
void dormir(int ms) {
    QEventLoop bucle;
    QTimer::singleShot(ms, &bucle, &QEventLoop::quit);
    bucle.exec();
}

std::optional<Cifras> medir(const QString& programa, const QProcessEnvironment& entorno, pruebas::PanelBandeja& panel,
                            const PantallaPropia& pantalla, int quieto) {
    panel.olvidarItems();
    QProcess p;
    p.setProgram(programa);
    p.setProcessEnvironment(entorno);
    QByteArray errores;
    QObject::connect(&p, &QProcess::readyReadStandardError, &p,
                     [&] { errores = (errores + p.readAllStandardError()).right(65536); });
    QElapsedTimer t;
    t.start();
    p.start();
    if (!p.waitForStarted(5000)) return std::nullopt;
    Cifras c;
    if (!pruebas::esperarHasta([&] { return !panel.items().isEmpty() || p.state() != QProcess::Running; }, 60000) ||
        panel.items().isEmpty()) {
        std::fprintf(stderr, "%s no registró su bandeja:\n%s\n", qPrintable(programa), errores.right(3000).constData());
        p.kill();
        p.waitForFinished();
        return std::nullopt;
    }
    c.arranqueMs = static_cast<double>(t.nsecsElapsed()) / 1e6;
    // What start-up leaves behind (the channel's connection, the first history) settles first.
    dormir(3000);
    const double cpu0 = cpuSegundosArbol(p.processId()), x0 = pantalla.cpu();
    QElapsedTimer reloj;
    reloj.start();
    dormir(quieto * 1000);
    const double cpu1 = cpuSegundosArbol(p.processId()), x1 = pantalla.cpu();
    const double s = static_cast<double>(reloj.nsecsElapsed()) / 1e9;
    c.rssMb = rssMb(p.processId());
    c.anonimaMb = anonimaMb(p.processId());
    c.cpuPorCiento = (cpu1 - cpu0) / s * 100.0;
    c.cpuXPorCiento = (x1 - x0) / s * 100.0;
    p.terminate();
    if (!p.waitForFinished(5000)) p.kill();
    return c;
}

// A copy of the installed program that finds every Qt folder where the system keeps it but no
// translations, and its modules where the installed one does. Empty on failure.
QString copiaSinCatalogo(const QTemporaryDir& dir, const QString& zentu) {
    const QString bin = dir.filePath(QStringLiteral("bin")), copia = bin + QStringLiteral("/zentu");
    QDir().mkpath(bin);
    QDir().mkpath(dir.filePath(QStringLiteral("vacia")));
    QDir().mkpath(dir.filePath(QStringLiteral("lib")));
    QFile::link(QFileInfo(zentu).absolutePath() + QStringLiteral("/../lib/zentu"), dir.filePath(QStringLiteral("lib/zentu")));
    if (!QFile::copy(zentu, copia)) return {};
    QFile conf(bin + QStringLiteral("/qt.conf"));
    if (!conf.open(QIODevice::WriteOnly)) return {};
    QTextStream t(&conf);
    t << "[Paths]\nPrefix=" << QLibraryInfo::path(QLibraryInfo::PrefixPath) << "\n";
    const std::pair<const char*, QLibraryInfo::LibraryPath> rutas[] = {
        {"Libraries", QLibraryInfo::LibrariesPath}, {"LibraryExecutables", QLibraryInfo::LibraryExecutablesPath},
        {"Binaries", QLibraryInfo::BinariesPath},   {"Plugins", QLibraryInfo::PluginsPath},
        {"QmlImports", QLibraryInfo::QmlImportsPath}, {"ArchData", QLibraryInfo::ArchDataPath},
        {"Data", QLibraryInfo::DataPath},           {"Settings", QLibraryInfo::SettingsPath}};
    for (const auto& [clave, ruta] : rutas) t << clave << "=" << QLibraryInfo::path(ruta) << "\n";
    t << "Translations=" << dir.filePath(QStringLiteral("vacia")) << "\n";
    return copia;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int quieto = args.size() > 1 ? std::max(1, args[1].toInt()) : 10;
    const int rondas = args.size() > 2 ? std::max(1, args[2].toInt()) : 5;

    pruebas::PanelBandeja panel;
    if (!panel.listo()) {
        std::fprintf(stderr, "sin bus de sesión propio: ejecútalo dentro de dbus-run-session\n");
        return 1;
    }
    Instalacion instalacion;
    PantallaPropia pantalla;
    ServicioSimulado servicio;
    if (!preparar(instalacion, pantalla, servicio)) return 1;

    // The paired program: an account of the stand-in service in the keyring, preferences apart.
    QTemporaryDir casa;
    QProcessEnvironment entorno = pantalla.entorno();
    entorno.insert(QStringLiteral("XDG_CONFIG_HOME"), casa.filePath(QStringLiteral("config")));
    entorno.insert(QStringLiteral("XDG_DATA_HOME"), casa.filePath(QStringLiteral("datos")));
    entorno.insert(QStringLiteral("XDG_CACHE_HOME"), casa.filePath(QStringLiteral("cache")));
    {
        QSettings ajustes(casa.filePath(QStringLiteral("config/zentu/zentu.ini")), QSettings::IniFormat);
        ajustes.setValue(QStringLiteral("zentu.resumenManana"), false);
        ajustes.setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    }
    Llavero::guardar(Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                            QStringLiteral("Negocio")});

    QTemporaryDir sinTraducir;
    const QString copia = copiaSinCatalogo(sinTraducir, instalacion.zentu());
    if (copia.isEmpty()) {
        std::fprintf(stderr, "no se hizo la copia sin catálogo\n");
        Llavero::borrar();
        return 1;
    }
    constexpr int n = 3;
    const QString programas[n] = {instalacion.zentu(), QStringLiteral(ANCLA_BANDEJA), copia};
    const char* nombres[n] = {"zentu", "bandeja Qt sencilla", "zentu sin catálogo"};
    std::vector<double> ms[n], rss[n], anon[n], cpu[n], cpuX[n];
    for (int r = 0; r < rondas; ++r) {
        std::optional<Cifras> c[n];
        for (int k = 0; k < n; ++k) {
            const int cual = turno(r, k, n);
            c[cual] = medir(programas[cual], entorno, panel, pantalla, quieto);
            if (!c[cual]) {
                std::fprintf(stderr, "%s no arrancó\n", nombres[cual]);
                Llavero::borrar();
                return 1;
            }
        }
        for (int k = 0; k < n; ++k) {
            ms[k].push_back(c[k]->arranqueMs), rss[k].push_back(c[k]->rssMb), anon[k].push_back(c[k]->anonimaMb);
            cpu[k].push_back(c[k]->cpuPorCiento), cpuX[k].push_back(c[k]->cpuXPorCiento);
        }
        std::fprintf(stderr, "ronda %d de %d\n", r + 1, rondas);
    }
    Llavero::borrar();

    std::vector<double> difResidente, difAnonima;
    for (int r = 0; r < rondas; ++r) {
        difResidente.push_back(rss[0][size_t(r)] - rss[2][size_t(r)]);
        difAnonima.push_back(anon[0][size_t(r)] - anon[2][size_t(r)]);
    }
    std::vector<double> total[n];
    for (int k = 0; k < n; ++k)
        for (int r = 0; r < rondas; ++r) total[k].push_back(cpu[k][size_t(r)] + cpuX[k][size_t(r)]);

    std::printf("zentu instalado (%s), enlazado al servicio simulado, frente a una bandeja Qt sencilla\n"
                "(programa aparte, solo Qt Widgets), en un Xvfb propio; %d rondas alternadas, %d s quieto;\n"
                "mediana [mínima–máxima]; razón = zentu / bandeja, ronda a ronda\n\n",
                qPrintable(instalacion.zentu()), rondas, quieto);
    std::printf("%s%s%s%s\n", columna({}, 36).constData(), columna(QStringLiteral("zentu"), 24).constData(),
                columna(QStringLiteral("bandeja Qt sencilla"), 24).constData(), "razón");
    auto fila = [&](const char* que, const std::vector<double>* v, int decimales, const char* nota) {
        std::printf("%s%s%s%s%s\n", columna(QString::fromUtf8(que), 36).constData(),
                    columna(cifra(v[0], decimales), 24).constData(), columna(cifra(v[1], decimales), 24).constData(),
                    columna(cifra(razones(v[0], v[1]), 2), 22).constData(), nota);
    };
    fila("arranque hasta la bandeja, ms", ms, 0, "");
    fila("memoria residente quieto, MB", rss, 1, "(meta ≤ 40 MB)");
    fila("memoria anónima quieto, MB", anon, 1, "");
    fila("procesador quieto, % de un núcleo", cpu, 3, "(meta 0 %)");
    fila("servidor X quieto, % de un núcleo", cpuX, 3, "");
    fila("los dos juntos, % de un núcleo", total, 3, "");
    std::printf("\ntextos de Qt en español (zentu menos zentu sin catálogo): residente %s MB · anónima %s MB\n",
                qPrintable(cifra(difResidente, 2)), qPrintable(cifra(difAnonima, 2)));
    std::printf("  ronda a ronda, residente:");
    for (double d : difResidente) std::printf(" %+.2f", d);
    std::printf(" MB\n");
    return 0;
}
