// Cold start and idle cost of the paired tray program, beside a plain Qt tray program that loads
// the same Qt modules, in the same run. For each: the time from launch to its tray item
// registered with the panel (a StatusNotifierWatcher of our own on the session bus), or, where
// the program registers none, to its start-up line; then its resident memory and its processor
// time over a stretch of idleness.
// Run inside a desktop session with a D-Bus session bus and an unlocked keyring, for example:
//   dbus-run-session -- bash -c 'echo | gnome-keyring-daemon --unlock --components=secrets;
//                                xvfb-run -a build/bench/medir_arranque'
// The same program without Qt's Spanish catalogue (a copy beside a qt.conf whose translations
// folder is empty) gives what that catalogue costs while idle.
// Usage: medir_arranque [segundosQuieto=10] [rondas=3]
#include "Proceso.h"

#include "comun/Ayudas.h"
#include "comun/PanelBandeja.h"
#include "comun/ServicioSimulado.h"
#include "zentu/conexion/Cuenta.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QPixmap>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTextStream>
#include <QWebSocket>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QNetworkAccessManager>

#include <cstdio>
#include <optional>

namespace {

struct Cifras {
    double arranqueMs = 0;
    bool bandeja = false;  // measured to the tray item (else to the start-up line)
    double rssMb = 0;
    double privadaMb = 0;
    double cpuPorCiento = 0;
};

std::optional<Cifras> medir(const QString& programa, const QStringList& argumentos, const QString& senal,
                            pruebas::PanelBandeja& panel, int quieto) {
    panel.olvidarItems();
    QProcess p;
    p.setProgram(programa);
    p.setArguments(argumentos);
    QByteArray errores;
    QElapsedTimer t;
    t.start();
    p.start();
    if (!p.waitForStarted(5000)) return std::nullopt;
    Cifras c;
    bool linea = false;
    const bool lista = pruebas::esperarHasta(
        [&] {
            errores += p.readAllStandardError();
            const double ahora = static_cast<double>(t.nsecsElapsed()) / 1e6;
            if (!panel.items().isEmpty()) {
                c.bandeja = true;
                c.arranqueMs = ahora;
                return true;
            }
            if (!linea && errores.contains(senal.toUtf8())) {
                linea = true;
                c.arranqueMs = ahora;
            }
            // A program that registers no tray item is measured to its start-up line.
            return linea && ahora - c.arranqueMs > 5000;
        },
        30000);
    if (!lista) {
        p.kill();
        p.waitForFinished();
        return std::nullopt;
    }
    pruebas::girar(3000);
    const double cpu0 = cpuSegundos(p.processId());
    pruebas::girar(quieto * 1000);
    const double cpu1 = cpuSegundos(p.processId());
    c.rssMb = rssMb(p.processId());
    c.privadaMb = privadaMb(p.processId());
    c.cpuPorCiento = (cpu1 - cpu0) / quieto * 100.0;
    p.terminate();
    if (!p.waitForFinished(5000)) p.kill();
    return c;
}

// The plain tray program: the same Qt modules, one icon, nothing else.
int referencia(QApplication& app) {
    QNetworkAccessManager red;
    QWebSocket ws;
    (void)QMediaDevices::defaultAudioOutput();
    QPixmap px(22, 22);
    px.fill(Qt::darkGreen);
    QSystemTrayIcon icono{QIcon(px)};
    icono.show();
    std::fprintf(stderr, "[referencia] lista\n");
    return app.exec();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains(QStringLiteral("--referencia"))) return referencia(app);
    const int quieto = args.size() > 1 ? args[1].toInt() : 10;
    const int rondas = args.size() > 2 ? args[2].toInt() : 3;

    pruebas::PanelBandeja panel;
    if (!panel.listo()) {
        std::fprintf(stderr, "sin bus de sesión propio: ejecútalo dentro de dbus-run-session\n");
        return 1;
    }

    ServicioSimulado servicio;
    if (!servicio.arrancar()) {
        std::fprintf(stderr, "no arrancó el servicio\n");
        return 1;
    }
    // The paired program: an account of the stand-in service in the keyring, preferences apart.
    QTemporaryDir casa;
    qputenv("XDG_CONFIG_HOME", (casa.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (casa.path() + "/datos").toUtf8());
    Llavero::guardar(Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                            QStringLiteral("Negocio")});

    const QString zentu = QCoreApplication::applicationDirPath() + QStringLiteral("/../src/zentu/app/zentu");
    // The copy finds every Qt folder where the system keeps it, but no translations.
    QTemporaryDir sinTraducir;
    const QString copia = sinTraducir.filePath(QStringLiteral("zentu"));
    QDir().mkpath(sinTraducir.filePath(QStringLiteral("vacia")));
    {
        QFile::copy(zentu, copia);
        QFile conf(sinTraducir.filePath(QStringLiteral("qt.conf")));
        if (!conf.open(QIODevice::WriteOnly)) return 1;
        QTextStream t(&conf);
        t << "[Paths]\nPrefix=" << QLibraryInfo::path(QLibraryInfo::PrefixPath) << "\n";
        const std::pair<const char*, QLibraryInfo::LibraryPath> rutas[] = {
            {"Libraries", QLibraryInfo::LibrariesPath}, {"LibraryExecutables", QLibraryInfo::LibraryExecutablesPath},
            {"Binaries", QLibraryInfo::BinariesPath},   {"Plugins", QLibraryInfo::PluginsPath},
            {"QmlImports", QLibraryInfo::QmlImportsPath}, {"ArchData", QLibraryInfo::ArchDataPath},
            {"Data", QLibraryInfo::DataPath},           {"Settings", QLibraryInfo::SettingsPath}};
        for (const auto& [clave, ruta] : rutas) t << clave << "=" << QLibraryInfo::path(ruta) << "\n";
        t << "Translations=" << sinTraducir.filePath(QStringLiteral("vacia")) << "\n";
    }
    std::optional<Cifras> mejorN, mejorR, mejorS;
    std::vector<double> difResidente, difPropia;  // with the catalogue minus without, round by round
    auto mejor = [](std::optional<Cifras>& m, const Cifras& c) {
        if (!m) {
            m = c;
            return;
        }
        m->arranqueMs = std::min(m->arranqueMs, c.arranqueMs);
        m->rssMb = std::min(m->rssMb, c.rssMb);
        m->privadaMb = std::min(m->privadaMb, c.privadaMb);
        m->cpuPorCiento = std::min(m->cpuPorCiento, c.cpuPorCiento);
    };
    for (int r = 0; r < rondas; ++r) {
        const auto n = medir(zentu, {}, QStringLiteral("[app] lista"), panel, quieto);
        const auto ref = medir(QCoreApplication::applicationFilePath(), {"--referencia"},
                               QStringLiteral("[referencia] lista"), panel, quieto);
        const auto sin = medir(copia, {}, QStringLiteral("[app] lista"), panel, quieto);
        if (!n || !ref || !sin) {
            std::fprintf(stderr, !n ? "zentu no arrancó\n" : !ref ? "la referencia no arrancó\n" : "la copia no arrancó\n");
            Llavero::borrar();
            return 1;
        }
        mejor(mejorN, *n);
        mejor(mejorR, *ref);
        mejor(mejorS, *sin);
        difResidente.push_back(n->rssMb - sin->rssMb);
        difPropia.push_back(n->privadaMb - sin->privadaMb);
    }
    Llavero::borrar();

    const Cifras& n = *mejorN;
    const Cifras& ref = *mejorR;
    std::printf("arranque en frío   zentu %.0f ms (%s)   referencia %.0f ms (%s)   razón %.2f\n", n.arranqueMs,
                n.bandeja ? "bandeja registrada" : "sin bandeja: hasta «[app] lista»", ref.arranqueMs,
                ref.bandeja ? "bandeja registrada" : "sin bandeja", n.arranqueMs / ref.arranqueMs);
    std::printf("memoria residente quieto  zentu %.1f MB   referencia %.1f MB   razón %.2f   (meta ≤ 40 MB)\n", n.rssMb,
                ref.rssMb, n.rssMb / ref.rssMb);
    std::printf("memoria propia quieto     zentu %.1f MB   referencia %.1f MB   razón %.2f\n", n.privadaMb,
                ref.privadaMb, n.privadaMb / ref.privadaMb);
    const Cifras& sin = *mejorS;
    std::printf("textos de Qt en español, ronda a ronda: residente");
    for (double d : difResidente) std::printf(" %+.2f", d);
    std::printf(" MB · propia");
    for (double d : difPropia) std::printf(" %+.2f", d);
    std::printf(" MB\n");
    std::printf("textos de Qt en español   residente %+.2f MB   propia %+.2f MB   (zentu %.1f / %.1f MB, sin ellos %.1f / %.1f MB)\n",
                n.rssMb - sin.rssMb, n.privadaMb - sin.privadaMb, n.rssMb, n.privadaMb, sin.rssMb, sin.privadaMb);
    std::printf("procesador quieto (%d s)   zentu %.2f %%   referencia %.2f %%   (meta 0 %%)\n", quieto, n.cpuPorCiento,
                ref.cpuPorCiento);
    return 0;
}
