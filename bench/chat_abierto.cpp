// What a long conversation costs the running program: the paired program on an X display, with
// the chat panel open, takes messages pushed by the stand-in service up to 1,000, 5,000 and
// 20,000; at each mark it reports its memory and the processor time each push cost it (the
// program's own idle rate taken off), and how long a D-Bus call waited right after the burst.
// The pushes come at a steady pace (100 a second unless told), the same for every mark and both
// programs: what is drawn per second (the list scrolling to each new message) is spread over the
// pushes of that second, so the figures compare only at one pace.
// The anchor, alternating with it in the same run, is the same program taking the same pushes
// with the chat closed: the conversation is held, but no list is shown.
// Run inside a desktop session with a D-Bus session bus and an unlocked keyring, for example:
//   dbus-run-session -- bash -c 'echo | gnome-keyring-daemon --unlock --components=secrets;
//                                xvfb-run -a build/bench/medir_chat_abierto'
// Usage: medir_chat_abierto [mensajes=20000] [rondas=2] [por segundo=100]; ZENTU_PROGRAMA=<path>
// measures another build of the program.
#include "Proceso.h"
#include "ProgramaEnlazado.h"

#include "comun/Ayudas.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <vector>

namespace {

double kPorSegundo = 100;

// One mark of one run.
struct Marca {
    int mensajes = 0;
    double rssMb = 0;
    double kbPorMensaje = 0;  // growth since the previous mark, per message added
    double msPorEmpuje = 0;   // processor time per push, idle rate taken off
    double dbusMs = 0;        // a D-Bus call made right after the burst
};

QJsonObject empuje(int i, const QDateTime& t0) {
    // The owner's side (no sound cue), texts of several lengths, each unique, a file now and then.
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

std::optional<std::vector<Marca>> medir(ProgramaEnlazado& enlazado, bool abierto, const std::vector<int>& marcas) {
    ServicioSimulado& servicio = enlazado.servicio;
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

    // The idle rate (the island may be animating while the chat is open).
    const qint64 pid = p.processId();
    const double c0 = cpuSegundos(pid);
    QElapsedTimer reloj;
    reloj.start();
    pruebas::girar(3000);
    const double ritmoQuieto = (cpuSegundos(pid) - c0) / (reloj.nsecsElapsed() / 1e9);
    const double rss0 = rssMb(pid);

    std::vector<Marca> r;
    const QDateTime t0 = QDateTime::currentDateTimeUtc().addDays(-1);
    int enviados = 0;
    double rssAntes = rss0;
    for (int marca : marcas) {
        const double cpuAntes = cpuSegundos(pid);
        reloj.start();
        const int desde = enviados;
        for (; enviados < marca; ++enviados) {
            // At the pace: ahead of it, wait.
            const qint64 debido = qint64(double(enviados - desde) * 1000.0 / kPorSegundo);
            if (reloj.elapsed() < debido) pruebas::girar(int(debido - reloj.elapsed()));
            servicio.emitir(QStringLiteral("messages:new"), QJsonArray{empuje(enviados, t0)});
        }
        const double ritmo = (marca - desde) / (reloj.nsecsElapsed() / 1e9);
        QElapsedTimer espera;
        espera.start();
        const QDBusMessage resp = bus.call(llamadaAtajos(QStringLiteral("VerPendientes")), QDBus::Block, 600000);
        const double dbusMs = espera.nsecsElapsed() / 1e6;
        if (resp.type() == QDBusMessage::ErrorMessage) std::fprintf(stderr, "D-Bus: %s\n", qPrintable(resp.errorMessage()));
        esperarQuieto(pid, ritmoQuieto);
        const double segundos = reloj.nsecsElapsed() / 1e9;
        const double cpu = cpuSegundos(pid) - cpuAntes - ritmoQuieto * segundos;
        const int empujes = marca - (r.empty() ? 0 : r.back().mensajes);
        Marca m;
        m.mensajes = marca;
        m.rssMb = rssMb(pid);
        m.kbPorMensaje = (m.rssMb - rssAntes) * 1024.0 / empujes;
        rssAntes = m.rssMb;
        m.msPorEmpuje = std::max(0.0, cpu) * 1000.0 / empujes;
        m.dbusMs = dbusMs;
        r.push_back(m);
        std::fprintf(stderr, "  %s %6d mensajes: %.1f MB (al empezar %.1f), %.3f ms por empuje a %.0f por segundo, D-Bus %.0f ms\n",
                     abierto ? "abierto" : "cerrado", marca, m.rssMb, rss0, m.msPorEmpuje, ritmo, m.dbusMs);
    }
    errores += p.readAllStandardError();
    terminar();
    return r;
}

struct Rango {
    double min = 1e300, max = -1e300, suma = 0;
    int n = 0;
    void sumar(double v) {
        min = std::min(min, v);
        max = std::max(max, v);
        suma += v;
        ++n;
    }
    double media() const { return n ? suma / n : 0; }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int tope = args.size() > 1 ? args[1].toInt() : 20000;
    const int rondas = args.size() > 2 ? args[2].toInt() : 2;
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

    // Per mark: [abierto][magnitude] ranges over the rounds.
    std::map<int, Rango> mem[2], kb[2], ms[2], dbus[2];
    for (int ronda = 0; ronda < rondas; ++ronda) {
        for (const bool abierto : {true, false}) {
            std::fprintf(stderr, "ronda %d, chat %s\n", ronda + 1, abierto ? "abierto" : "cerrado");
            const auto r = medir(enlazado, abierto, marcas);
            if (!r) return 1;
            for (const Marca& m : *r) {
                mem[abierto][m.mensajes].sumar(m.rssMb);
                kb[abierto][m.mensajes].sumar(m.kbPorMensaje);
                ms[abierto][m.mensajes].sumar(m.msPorEmpuje);
                dbus[abierto][m.mensajes].sumar(m.dbusMs);
            }
        }
    }

    std::printf("chat con %d rondas, %.0f empujes por segundo; cada cifra: media [mín–máx]; nuestro = chat abierto, "
                "ancla = chat cerrado; KB/mensaje: crecimiento desde la marca anterior (la primera incluye las "
                "burbujas que el chat abierto construye)\n",
                rondas, kPorSegundo);
    std::printf("%8s | %-24s %-24s | %-22s %-22s | %-24s %-24s | %-22s %-22s\n", "mensajes", "memoria MB nuestro",
                "memoria MB ancla", "KB/mensaje nuestro", "KB/mensaje ancla", "ms/empuje nuestro", "ms/empuje ancla",
                "D-Bus ms nuestro", "D-Bus ms ancla");
    auto celda = [](const Rango& r, const char* formato) {
        char b[64];
        std::snprintf(b, sizeof b, formato, r.media(), r.min, r.max);
        return std::string(b);
    };
    for (int m : marcas)
        std::printf("%8d | %-24s %-24s | %-22s %-22s | %-24s %-24s | %-22s %-22s\n", m,
                    celda(mem[1][m], "%.1f [%.1f–%.1f]").c_str(), celda(mem[0][m], "%.1f [%.1f–%.1f]").c_str(),
                    celda(kb[1][m], "%.2f [%.2f–%.2f]").c_str(), celda(kb[0][m], "%.2f [%.2f–%.2f]").c_str(),
                    celda(ms[1][m], "%.3f [%.3f–%.3f]").c_str(), celda(ms[0][m], "%.3f [%.3f–%.3f]").c_str(),
                    celda(dbus[1][m], "%.0f [%.0f–%.0f]").c_str(), celda(dbus[0][m], "%.0f [%.0f–%.0f]").c_str());
    return 0;
}
