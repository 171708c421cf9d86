// What a long conversation costs the running program: the paired program (the build's, or
// ZENTU_PROGRAMA) on an X display takes messages pushed by the stand-in service up to 1,000,
// 5,000 and 20,000, with the chat panel open ("nuestro") and, as the anchor, the same program
// taking the same pushes with the chat closed (the conversation is held, no list is shown).
// At each mark it reports:
//   - the processor time each push cost, the program's own idle rate taken off, and the X
//     server's time per push beside it (the drawing the program asks of it);
//   - how long the program kept D-Bus calls waiting DURING the burst: a second thread calls it
//     every 50 ms while the service pushes, and the slowest call and the median are kept (the
//     idle call, before the burst, is printed as the floor);
//   - its memory.
// The service itself pushes at a steady pace (100 a second unless told), each packet at its own
// time from the start, so a slow round does not lower the rate; the rate reached is printed.
// Rounds alternate which of the two runs first. Every figure is the median over the rounds with
// the range [min–max].
// Run inside a desktop session with a D-Bus session bus and an unlocked keyring, for example:
//   dbus-run-session -- bash -c 'echo | gnome-keyring-daemon --unlock --components=secrets;
//                                xvfb-run -a build/bench/medir_chat_abierto'
// Usage: medir_chat_abierto [mensajes=20000] [rondas=3] [por segundo=100]; ZENTU_PROGRAMA=<path>
// measures another build of the program (an older one, to compare); ZENTU_REGISTRO=1 prints the
// end of each run's log.
#include "Proceso.h"
#include "ProgramaEnlazado.h"

#include "comun/Ayudas.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

double kPorSegundo = 100;

// One mark of one run.
struct Marca {
    int mensajes = 0;
    double rssMb = 0;
    double msPorEmpuje = 0;   // processor time per push, idle rate taken off
    double xMsPorEmpuje = -1; // the X server's, idle rate taken off (-1: not found)
    double dbusMax = 0;       // the slowest D-Bus call during the burst
    double dbusMediana = 0;
    double dbusQuieto = 0;    // one call before the burst
    double ritmo = 0;         // pushes a second the service reached
};

double mediana(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QJsonObject empuje(int i, const QDateTime& t0) {
    // The owner's side ("fromMe" false: no sound cue), texts of several lengths, each unique, a file now and then.
    static const QStringList textos = {
        "¿Cómo van las ventas de hoy?",
        "Pásame el resumen de la semana, con los martes aparte, y dime si conviene una promoción.",
        "Vale.",
        "Mañana abrimos una hora más tarde por el inventario; avisa a los clientes que pregunten por **pedidos** "
        "pendientes y dales la fecha nueva de entrega.",
    };
    QJsonObject m{{"messageId", QStringLiteral("b%1").arg(i)},
                  {"text", QStringLiteral("%1 · %2").arg(textos[i % textos.size()]).arg(i)},
                  {"fromMe", false},
                  {"timestamp", t0.addSecs(i).toString(Qt::ISODateWithMs)}};
    if (i % 25 == 7) {
        m.insert("type", "document");
        m.insert("mediaUrl", QStringLiteral("/api/media/b%1").arg(i));
        m.insert("fileName", QStringLiteral("informe-%1.pdf").arg(i));
    }
    return QJsonObject{{"phone", "dashboard"}, {"message", m}};
}

// The X server of this display, whose processor time drawing costs too.
qint64 servidorX() {
    const QString pantalla = qEnvironmentVariable("DISPLAY").section(QLatin1Char('.'), 0, 0);
    if (pantalla.isEmpty()) return -1;
    for (const QString& d : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool numero = false;
        const qint64 pid = d.toLongLong(&numero);
        if (!numero) continue;
        QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QList<QByteArray> partes = f.readAll().split('\0');
        if (partes.isEmpty()) continue;
        const QByteArray nombre = partes.first().mid(partes.first().lastIndexOf('/') + 1);
        if ((nombre == "Xvfb" || nombre == "Xorg" || nombre == "X") && partes.contains(pantalla.toUtf8())) return pid;
    }
    return -1;
}

// Calls the program over D-Bus every 50 ms from a thread of its own, on a connection of its own,
// and keeps how long each call waited.
class Sonda {
public:
    Sonda() : conexion_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("sonda"))) {}
    ~Sonda() {
        parar();
        QDBusConnection::disconnectFromBus(QStringLiteral("sonda"));
    }
    void empezar() {
        parar();
        tiempos_.clear();
        seguir_ = true;
        hilo_ = std::thread([this] {
            while (seguir_) {
                QElapsedTimer t;
                t.start();
                const QDBusMessage r = conexion_.call(llamadaAtajos(QStringLiteral("VerPendientes")), QDBus::Block, 600000);
                const double ms = t.nsecsElapsed() / 1e6;
                if (r.type() == QDBusMessage::ErrorMessage) std::fprintf(stderr, "D-Bus: %s\n", qPrintable(r.errorMessage()));
                {
                    std::lock_guard<std::mutex> l(m_);
                    tiempos_.push_back(ms);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        });
    }
    std::vector<double> parar() {
        seguir_ = false;
        if (hilo_.joinable()) hilo_.join();
        std::lock_guard<std::mutex> l(m_);
        return tiempos_;
    }
    double una() {
        QElapsedTimer t;
        t.start();
        conexion_.call(llamadaAtajos(QStringLiteral("VerPendientes")), QDBus::Block, 600000);
        return t.nsecsElapsed() / 1e6;
    }

private:
    QDBusConnection conexion_;
    std::thread hilo_;
    std::atomic<bool> seguir_{false};
    std::mutex m_;
    std::vector<double> tiempos_;
};

// Waits until the program has digested what it was sent: its processor time stops rising beyond
// its idle rate for half a second.
void esperarQuieto(qint64 pid, double ritmoQuieto) {
    double antes = cpuSegundos(pid);
    int quietos = 0;
    QElapsedTimer t;
    t.start();
    while (quietos < 5 && t.elapsed() < 600'000) {
        pruebas::girar(100);
        const double ahora = cpuSegundos(pid);
        quietos = ahora - antes <= ritmoQuieto * 0.1 + 0.011 ? quietos + 1 : 0;
        antes = ahora;
    }
}

std::optional<std::vector<Marca>> medir(ProgramaEnlazado& enlazado, Sonda& sonda, bool abierto,
                                        const std::vector<int>& marcas) {
    ServicioSimulado& servicio = enlazado.servicio;
    servicio.control(QStringLiteral("POST"), QStringLiteral("chat"), QJsonObject{{"mensajes", QJsonArray{}}});
    QByteArray errores;
    QProcess p;
    auto terminar = [&] {
        p.terminate();
        if (!p.waitForFinished(10000)) p.kill();
        p.waitForFinished();
    };
    if (!enlazado.arrancar(p, errores)) {
        terminar();
        return std::nullopt;
    }
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (abierto) {
        const QDBusMessage r = bus.call(llamadaAtajos(QStringLiteral("AbrirChat")), QDBus::Block, 10000);
        if (r.type() == QDBusMessage::ErrorMessage) {
            std::fprintf(stderr, "AbrirChat: %s\n", qPrintable(r.errorMessage()));
            terminar();
            return std::nullopt;
        }
    }
    pruebas::girar(3000);

    // The idle rates (the island may be animating while the chat is open).
    const qint64 pid = p.processId();
    const qint64 x = servidorX();
    const double c0 = cpuSegundos(pid), x0 = x > 0 ? cpuSegundos(x) : 0;
    QElapsedTimer reloj;
    reloj.start();
    pruebas::girar(3000);
    const double quieto = reloj.nsecsElapsed() / 1e9;
    const double ritmoQuieto = (cpuSegundos(pid) - c0) / quieto;
    const double ritmoQuietoX = x > 0 ? (cpuSegundos(x) - x0) / quieto : 0;
    const double rss0 = rssMb(pid);

    std::vector<Marca> r;
    const QDateTime t0 = QDateTime::currentDateTimeUtc().addDays(-1);
    int enviados = 0;
    for (int marca : marcas) {
        Marca m;
        m.mensajes = marca;
        m.dbusQuieto = sonda.una();
        QJsonArray lista;
        for (int i = enviados; i < marca; ++i) lista.append(QJsonArray{empuje(i, t0)});  // the arguments of one packet
        const int empujes = marca - enviados;
        const double cpuAntes = cpuSegundos(pid), xAntes = x > 0 ? cpuSegundos(x) : 0;
        reloj.start();
        sonda.empezar();
        servicio.control(QStringLiteral("POST"), QStringLiteral("rafaga"),
                         QJsonObject{{"evento", "messages:new"}, {"lista", lista}, {"porSegundo", kPorSegundo}});
        QJsonObject estado;
        while (true) {
            pruebas::girar(100);
            estado = servicio.control(QStringLiteral("GET"), QStringLiteral("rafaga")).toObject();
            if (estado.value("emitidos").toInt() >= empujes) break;
        }
        const std::vector<double> llamadas = sonda.parar();
        enviados = marca;
        m.ritmo = empujes / std::max(1e-3, estado.value("segundos").toDouble());
        m.dbusMax = llamadas.empty() ? 0 : *std::max_element(llamadas.begin(), llamadas.end());
        m.dbusMediana = mediana(llamadas);
        esperarQuieto(pid, ritmoQuieto);
        const double segundos = reloj.nsecsElapsed() / 1e9;
        const double cpu = cpuSegundos(pid) - cpuAntes - ritmoQuieto * segundos;
        m.msPorEmpuje = std::max(0.0, cpu) * 1000.0 / empujes;
        if (x > 0) m.xMsPorEmpuje = std::max(0.0, cpuSegundos(x) - xAntes - ritmoQuietoX * segundos) * 1000.0 / empujes;
        m.rssMb = rssMb(pid);
        r.push_back(m);
        std::fprintf(stderr,
                     "  %s %6d mensajes: %.1f MB (al empezar %.1f), %.3f ms por empuje (X %.3f) a %.0f por segundo, "
                     "D-Bus durante la ráfaga %.1f ms la más lenta, %.1f la mediana (%zu llamadas; quieto %.1f)\n",
                     abierto ? "abierto" : "cerrado", marca, m.rssMb, rss0, m.msPorEmpuje, m.xMsPorEmpuje, m.ritmo,
                     m.dbusMax, m.dbusMediana, llamadas.size(), m.dbusQuieto);
    }
    errores += p.readAllStandardError();
    if (qEnvironmentVariableIsSet("ZENTU_REGISTRO")) std::fprintf(stderr, "%s\n", errores.right(4000).constData());
    terminar();
    return r;
}

// The figures of one magnitude over the rounds.
struct Serie {
    std::vector<double> v;
    void sumar(double x) { v.push_back(x); }
    std::string celda(const char* formato) const {
        if (v.empty()) return "-";
        char b[96];
        std::snprintf(b, sizeof b, formato, mediana(v), *std::min_element(v.begin(), v.end()),
                      *std::max_element(v.begin(), v.end()));
        return b;
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int tope = args.size() > 1 ? args[1].toInt() : 20000;
    const int rondas = args.size() > 2 ? args[2].toInt() : 3;
    if (args.size() > 3) kPorSegundo = args[3].toDouble();
    std::vector<int> marcas;
    for (int m : {1000, 5000, 20000})
        if (m <= tope) marcas.push_back(m);
    if (marcas.empty() || marcas.back() != tope) marcas.push_back(tope);

    ProgramaEnlazado enlazado;
    if (const auto fallo = enlazado.preparar()) {
        std::fprintf(stderr, "%s\n", qPrintable(*fallo));
        return 1;
    }
    Sonda sonda;

    // Per mark: [abierto] series over the rounds.
    std::map<int, Serie> mem[2], ms[2], xms[2], dmax[2], dmed[2], dquieto[2], ritmo[2];
    for (int ronda = 0; ronda < rondas; ++ronda) {
        const bool primero = ronda % 2 == 0;
        for (const bool abierto : {primero, !primero}) {
            std::fprintf(stderr, "ronda %d, chat %s\n", ronda + 1, abierto ? "abierto" : "cerrado");
            const auto r = medir(enlazado, sonda, abierto, marcas);
            if (!r) return 1;
            for (const Marca& m : *r) {
                mem[abierto][m.mensajes].sumar(m.rssMb);
                ms[abierto][m.mensajes].sumar(m.msPorEmpuje);
                if (m.xMsPorEmpuje >= 0) xms[abierto][m.mensajes].sumar(m.xMsPorEmpuje);
                dmax[abierto][m.mensajes].sumar(m.dbusMax);
                dmed[abierto][m.mensajes].sumar(m.dbusMediana);
                dquieto[abierto][m.mensajes].sumar(m.dbusQuieto);
                ritmo[abierto][m.mensajes].sumar(m.ritmo);
            }
        }
    }

    std::printf("chat con %d rondas alternadas, %.0f empujes por segundo pedidos; cada cifra: mediana [mín–máx] de "
                "las rondas; nuestro = chat abierto, ancla = el mismo programa con el chat cerrado; D-Bus: llamadas "
                "cada 50 ms durante la ráfaga\n",
                rondas, kPorSegundo);
    std::printf("%8s | %-22s %-22s | %-22s %-22s | %-22s %-22s | %-20s %-20s | %-18s %-18s | %-16s %-16s | %-18s %-18s\n",
                "mensajes", "ms/empuje nuestro", "ms/empuje ancla", "X ms/empuje nuestro", "X ms/empuje ancla",
                "D-Bus máx nuestro", "D-Bus máx ancla", "D-Bus mediana nuestro", "D-Bus mediana ancla",
                "D-Bus quieto nuestro", "D-Bus quieto ancla", "ritmo nuestro", "ritmo ancla", "memoria MB nuestro",
                "memoria MB ancla");
    for (int m : marcas)
        std::printf("%8d | %-22s %-22s | %-22s %-22s | %-22s %-22s | %-20s %-20s | %-18s %-18s | %-16s %-16s | %-18s %-18s\n", m,
                    ms[1][m].celda("%.3f [%.3f–%.3f]").c_str(), ms[0][m].celda("%.3f [%.3f–%.3f]").c_str(),
                    xms[1][m].celda("%.3f [%.3f–%.3f]").c_str(), xms[0][m].celda("%.3f [%.3f–%.3f]").c_str(),
                    dmax[1][m].celda("%.1f [%.1f–%.1f]").c_str(), dmax[0][m].celda("%.1f [%.1f–%.1f]").c_str(),
                    dmed[1][m].celda("%.1f [%.1f–%.1f]").c_str(), dmed[0][m].celda("%.1f [%.1f–%.1f]").c_str(),
                    dquieto[1][m].celda("%.1f [%.1f–%.1f]").c_str(), dquieto[0][m].celda("%.1f [%.1f–%.1f]").c_str(),
                    ritmo[1][m].celda("%.0f [%.0f–%.0f]").c_str(), ritmo[0][m].celda("%.0f [%.0f–%.0f]").c_str(),
                    mem[1][m].celda("%.1f [%.1f–%.1f]").c_str(), mem[0][m].celda("%.1f [%.1f–%.1f]").c_str());
    return 0;
}
