// What an hour of use leaves in the installed tray program's memory. The program runs paired
// with the stand-in service and the stand-in realtime service, on an X server of the benchmark's
// own (Xvfb); each round is what an owner does over a few minutes: a call (spoken audio in, the
// agent's audio out, hang-up with its usage and end reports), pushed chat messages with the chat
// panel opened, a question that arrives and goes, and a reconnection of the live channel.
// Resident and anonymous memory are read at idle before the first round and after every round,
// with the processor time each round cost the program and the X server (what the chat panel
// draws is spent there too) and the X server's own memory. The first rounds open what the
// program keeps on purpose (the call's libraries, the chat panel and its bubbles, the font
// caches), so the level and the growth are read where the readings settle: the level is the
// median of the last third of the rounds, the round from which no reading falls more than 1 MB
// below it is printed, and the growth per round is taken over the second half of the rounds and
// over the rounds from that one on, when they are fewer.
// The anchor, in the same run: the same program left idle for as long as the rounds took. It
// cannot alternate with the rounds (the used program has to live through all of them to show
// what they leave), so it runs once before them and once after, each time as long.
// The program's preferences live in a folder of the run's own with the morning summary off (it
// would otherwise ask its question 12 s in, between 6 and 12 o'clock, and load what it speaks
// with) and its login entry already registered.
// Run inside a desktop session with a D-Bus session bus, an unlocked keyring and PulseAudio:
//   dbus-run-session -- bash -c 'echo | gnome-keyring-daemon --unlock --components=secrets;
//                                build/bench/medir_uso'
// Usage: medir_uso [rondas=24] [segundosQuieto=20] [partes=llamada,chat,dudas,canal]
#include "Medidas.h"
#include "Preparar.h"
#include "Proceso.h"

#include "comun/Ayudas.h"
#include "comun/RealtimeSimulado.h"
#include "comun/ServicioSimulado.h"
#include "zentu/conexion/Cuenta.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

// Resident kilobytes per mapped file ("[anon]" for memory that is no file's), from smaps.
QMap<QString, double> residentePorMapa(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/smaps").arg(pid));
    QMap<QString, double> r;
    if (!f.open(QIODevice::ReadOnly)) return r;
    QString actual;
    for (const QByteArray& l : f.readAll().split('\n')) {
        if (l.isEmpty()) continue;
        if (!std::isupper(static_cast<unsigned char>(l[0])) || !l.contains(':') || l.contains('-')) {
            const QList<QByteArray> campos = l.simplified().split(' ');
            actual = campos.size() >= 6 ? QString::fromUtf8(campos.mid(5).join(' ')) : QStringLiteral("[anon]");
        } else if (l.startsWith("Rss:")) {
            r[actual] += l.mid(4).trimmed().split(' ').value(0).toDouble();
        }
    }
    return r;
}

QString llamarPorBus(const QString& metodo) {
    QDBusMessage m = QDBusMessage::createMethodCall(QStringLiteral("ai.zentu.voz"), QStringLiteral("/ai/zentu/voz/Atajos"),
                                                    QStringLiteral("ai.zentu.voz.Atajos"), metodo);
    const QDBusMessage r = QDBusConnection::sessionBus().call(m, QDBus::Block, 30000);
    return r.type() == QDBusMessage::ErrorMessage ? r.errorMessage() : r.arguments().value(0).toString();
}

// Half a second of a quiet 300 Hz tone at 24 kHz, 16-bit little endian, in base64.
QString audioDelAgente() {
    QByteArray pcm;
    for (int i = 0; i < 12000; ++i) {
        const auto s = static_cast<qint16>(3000 * std::sin(2 * M_PI * 300 * i / 24000.0));
        pcm.append(static_cast<char>(s & 0xff)).append(static_cast<char>((s >> 8) & 0xff));
    }
    return QString::fromLatin1(pcm.toBase64());
}

struct Programa {
    QProcess proceso;
    QByteArray errores;
    bool arrancar(const QString& ruta, const QProcessEnvironment& entorno) {
        proceso.setProcessEnvironment(entorno);
        // A wrapper (heaptrack, valgrind) can be put before the program to find what stays.
        const QStringList envoltura = qEnvironmentVariable("MEDIR_ENVOLTURA").split(u' ', Qt::SkipEmptyParts);
        if (envoltura.isEmpty()) {
            proceso.setProgram(ruta);
        } else {
            proceso.setProgram(envoltura.first());
            proceso.setArguments(envoltura.mid(1) << ruta);
        }
        proceso.start();
        if (!proceso.waitForStarted(5000)) return false;
        return esperarLinea("[app] lista", 30000);
    }
    bool esperarLinea(const QByteArray& linea, int ms) {
        const qsizetype desde = errores.size();
        return pruebas::esperarHasta(
            [&] {
                errores += proceso.readAllStandardError();
                return errores.indexOf(linea, std::max<qsizetype>(0, desde - linea.size())) >= 0;
            },
            ms);
    }
    void leer() { errores += proceso.readAllStandardError(); }
    void terminar() {
        // A wrapper's child is ended with it: the whole process group of the wrapper's shell.
        if (proceso.program() != QStringLiteral("zentu") && !qEnvironmentVariableIsEmpty("MEDIR_ENVOLTURA"))
        {
            QProcess::execute(QStringLiteral("pkill"), {QStringLiteral("-TERM"), QStringLiteral("-P"),
                                                        QString::number(proceso.processId()), QStringLiteral("^zentu$")});
            proceso.waitForFinished(120000);
        }
        proceso.terminate();
        if (!proceso.waitForFinished(8000)) proceso.kill();
    }
};

// One round of use. Returns false when the program did not do what the round asked.
bool ronda(int n, Programa& p, ServicioSimulado& servicio, RealtimeSimulado& realtime, const QString& audio,
           const QStringList& partes) {
  if (partes.contains(QStringLiteral("llamada"))) {
    // A call placed from the automation interface: connect, speak, hang up from the agent's side.
    realtime.olvidar();
    const int antes = static_cast<int>(realtime.conexiones().size());
    llamarPorBus(QStringLiteral("Llamar"));
    if (!pruebas::esperarHasta([&] { return realtime.conexiones().size() > static_cast<qsizetype>(antes); }, 20000)) {
        p.leer();
        std::fprintf(stderr, "ronda %d: la llamada no conectó\n%s\n", n, p.errores.right(3000).constData());
        return false;
    }
    pruebas::girar(1500);
    for (int i = 0; i < 6; ++i) {
        realtime.enviar(QJsonObject{{"type", "response.output_audio.delta"}, {"delta", audio}});
        pruebas::girar(250);
    }
    realtime.enviar(QJsonObject{{"type", "response.output_audio_transcript.done"}, {"transcript", "Listo, te ayudo."}});
    realtime.enviar(QJsonObject{{"type", "response.done"}, {"response", QJsonObject{{"usage", QJsonObject{{"total_tokens", 100}}}}}});
    pruebas::girar(1000);
    realtime.cortar(1000);
    if (!p.esperarLinea("[llamada] fin", 20000)) {
        std::fprintf(stderr, "ronda %d: la llamada no terminó\n", n);
    }
    pruebas::girar(1500);
  }
  if (partes.contains(QStringLiteral("chat"))) {
    // The chat: opened, then messages pushed while it shows.
    llamarPorBus(QStringLiteral("AbrirChat"));
    for (int i = 0; i < 20; ++i) {
        const QString id = QStringLiteral("r%1-%2").arg(n).arg(i);
        servicio.emitir("messages:new",
                        QJsonArray{QJsonObject{{"phone", "dashboard"},
                                               {"message", QJsonObject{{"messageId", id},
                                                                       {"text", "Mensaje " + id + " del agente."},
                                                                       {"fromMe", true},
                                                                       {"type", "text"},
                                                                       {"sender", "Zentu"}}}}});
    }
    pruebas::girar(1000);
  }
  if (partes.contains(QStringLiteral("dudas"))) {
    // A question arrives and is settled elsewhere.
    servicio.emitir("dudas:cambiaron", QJsonArray{QJsonObject{{"pendientes", 1}}});
    pruebas::girar(1000);
    servicio.emitir("dudas:cambiaron", QJsonArray{QJsonObject{{"pendientes", 0}}});
  }
  if (partes.contains(QStringLiteral("canal"))) {

    // The live channel drops and comes back.
    servicio.desconectarTodos();
    pruebas::esperarHasta([&] { return servicio.conectados() > 0; }, 40000);
    pruebas::girar(2000);
  }
    p.leer();
    return true;
}

}  // namespace

// Least-squares slope of `v` over the indices [desde, end), per index.
double pendiente(const std::vector<double>& v, size_t desde) {
    const size_t n = v.size() - std::min(desde, v.size());
    if (n < 2) return 0;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t i = desde; i < v.size(); ++i) {
        const double x = double(i), y = v[i];
        sx += x, sy += y, sxx += x * x, sxy += x * y;
    }
    const double d = double(n) * sxx - sx * sx;
    return d == 0 ? 0 : (double(n) * sxy - sx * sy) / d;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rondas = args.size() > 1 ? std::max(1, args[1].toInt()) : 24;
    const int quieto = args.size() > 2 ? std::max(1, args[2].toInt()) : 20;
    const QStringList partes =
        (args.size() > 3 ? args[3] : QStringLiteral("llamada,chat,dudas,canal")).split(u',', Qt::SkipEmptyParts);

    Instalacion instalacion;
    PantallaPropia pantalla;
    ServicioSimulado servicio;
    if (!preparar(instalacion, pantalla, servicio)) return 1;
    RealtimeSimulado realtime;
    if (!realtime.arrancar()) {
        std::fprintf(stderr, "no arrancó la voz de las llamadas\n");
        return 1;
    }
    servicio.registrar(0);
    servicio.responder("GET", "/api/v1/llamada/realtime/token",
                       QJsonObject{{"estado", 200},
                                   {"cuerpo", QJsonObject{{"token", "tk"}, {"modelo", "gpt-realtime"}, {"llamadaId", "c1"}}},
                                   {"veces", 100000}});
    for (const char* ruta : {"/api/v1/llamada/realtime/uso", "/api/v1/llamada/fin"})
        servicio.responder("POST", ruta, QJsonObject{{"estado", 200}, {"cuerpo", QJsonObject{{"ok", true}}}, {"veces", 100000}});

    QTemporaryDir casa;
    QProcessEnvironment entorno = pantalla.entorno();
    entorno.insert("XDG_CONFIG_HOME", casa.path() + "/config");
    entorno.insert("XDG_DATA_HOME", casa.path() + "/datos");
    entorno.insert("XDG_CACHE_HOME", casa.path() + "/cache");
    entorno.insert("ZENTU_REALTIME", realtime.base());
    {
        QSettings ajustes(casa.path() + "/config/zentu/zentu.ini", QSettings::IniFormat);
        ajustes.setValue(QStringLiteral("zentu.resumenManana"), false);
        ajustes.setValue(QStringLiteral("zentu.inicioRegistrado"), true);
    }
    Llavero::guardar(Cuenta{servicio.url(), QStringLiteral("token-bueno"), QStringLiteral("dueno@negocio.mx"),
                            QStringLiteral("Negocio")});
    const QString zentu = instalacion.zentu();
    const QString audio = audioDelAgente();
    // The program idle: read once started and settled, and again after `segundosQuieto` more.
    const auto anclaQuieta = [&](int segundosQuieto, double* inicio, double* fin) {
        Programa ancla;
        if (!ancla.arrancar(zentu, entorno)) return false;
        pruebas::girar(quieto * 1000);
        *inicio = rssMb(ancla.proceso.processId());
        if (segundosQuieto > 0) pruebas::girar(segundosQuieto * 1000);
        *fin = rssMb(ancla.proceso.processId());
        ancla.terminar();
        return true;
    };

    // The anchor before: the program idle, read once settled.
    double anclaAntesInicio = 0, anclaAntesFin = 0;
    if (!anclaQuieta(0, &anclaAntesInicio, &anclaAntesFin)) {
        std::fprintf(stderr, "zentu no arrancó\n");
        Llavero::borrar();
        return 1;
    }

    Programa p;
    if (!p.arrancar(zentu, entorno)) {
        std::fprintf(stderr, "zentu no arrancó\n");
        Llavero::borrar();
        return 1;
    }
    pruebas::girar(quieto * 1000);
    const qint64 pid = p.proceso.processId();
    std::vector<double> rss{rssMb(pid)}, anon{anonimaMb(pid)}, rssX{rssMb(pantalla.pid())}, cpu, cpuX;
    const QMap<QString, double> mapasAntes = residentePorMapa(pid);
    // The idle program's mappings, for comparing one environment with another.
    if (const QString archivo = qEnvironmentVariable("MEDIR_MAPAS"); !archivo.isEmpty()) {
        QFile f(archivo);
        if (f.open(QIODevice::WriteOnly | QIODevice::Text))
            for (auto it = mapasAntes.begin(); it != mapasAntes.end(); ++it)
                f.write(QStringLiteral("%1 %2\n").arg(it.value(), 6, 'f', 0).arg(it.key()).toUtf8());
    }
    std::printf("zentu instalado (%s), enlazado; Xvfb propio %s\n", qPrintable(zentu), qPrintable(pantalla.nombre()));
    std::printf("quieto antes de usar: %.1f MB residente, %.1f MB anónima; servidor X %.1f MB\n", rss[0], anon[0], rssX[0]);
    std::fflush(stdout);
    QElapsedTimer reloj;
    reloj.start();
    for (int r = 1; r <= rondas; ++r) {
        const double c0 = cpuSegundosArbol(pid), x0 = pantalla.cpu();
        if (!ronda(r, p, servicio, realtime, audio, partes)) break;
        cpu.push_back(cpuSegundosArbol(pid) - c0);
        cpuX.push_back(pantalla.cpu() - x0);
        rss.push_back(rssMb(pid));
        anon.push_back(anonimaMb(pid));
        rssX.push_back(rssMb(pantalla.pid()));
        std::printf("ronda %2d: %.1f MB residente, %.1f MB anónima · procesador %.2f s (servidor X %.2f s) · servidor X %.1f MB\n",
                    r, rss.back(), anon.back(), cpu.back(), cpuX.back(), rssX.back());
        std::fflush(stdout);
    }
    const double segundos = reloj.elapsed() / 1000.0;
    pruebas::girar(quieto * 1000);
    const double fin = rssMb(pid), finAnon = anonimaMb(pid);
    // Where the difference lies: the mappings that grew by more than 256 KB.
    const QMap<QString, double> mapasDespues = residentePorMapa(pid);
    std::vector<std::pair<double, QString>> crecidos;
    for (auto it = mapasDespues.begin(); it != mapasDespues.end(); ++it) {
        const double d = it.value() - mapasAntes.value(it.key());
        if (d > 256) crecidos.emplace_back(d, it.key());
    }
    std::sort(crecidos.rbegin(), crecidos.rend());
    for (const auto& [kb, mapa] : crecidos) std::printf("  +%6.0f KB  %s\n", kb, qPrintable(mapa));
    p.terminar();

    // The anchor after, idle for as long as the rounds took.
    double anclaDespuesInicio = 0, anclaDespuesFin = 0;
    const bool anclaDespues = anclaQuieta(static_cast<int>(segundos), &anclaDespuesInicio, &anclaDespuesFin);
    Llavero::borrar();

    // Where the readings settle: the level is the median of the last third of the rounds; they
    // have settled from the first round after which no reading falls more than 1 MB below it.
    // Growth is read over the second half, and over the settled rounds when they are fewer.
    const size_t hechas = anon.size() - 1;  // anon[0] is before the first round
    std::vector<double> ultimoTercio(anon.end() - std::max<long>(1, long(hechas) / 3), anon.end());
    std::vector<double> ultimoTercioRss(rss.end() - std::max<long>(1, long(hechas) / 3), rss.end());
    const double nivel = mediana(ultimoTercio), nivelRss = mediana(ultimoTercioRss);
    size_t asentada = hechas;
    while (asentada > 1 && anon[asentada - 1] >= nivel - 1.0) --asentada;
    const size_t mitad = std::max<size_t>(1, (hechas + 1) / 2);
    const auto crecimiento = [&](size_t desde) {
        std::vector<double> pasos;
        for (size_t i = desde + 1; i < anon.size(); ++i) pasos.push_back((anon[i] - anon[i - 1]) * 1024.0);
        std::printf("crecimiento por ronda desde la ronda %zu: %.0f KB de memoria anónima (recta de mínimos cuadrados); "
                    "ronda a ronda %s KB\n",
                    desde, pendiente(anon, desde) * 1024.0, qPrintable(cifra(pasos, 0)));
    };
    std::printf("uso: %zu rondas en %.0f s; quieto tras usar %.1f MB residente (%.1f MB anónima)\n", hechas, segundos, fin,
                finAnon);
    std::printf("nivel (mediana del último tercio de las rondas): %.1f MB anónima, %.1f MB residente; asentado (ninguna "
                "lectura más de 1 MB por debajo) desde la ronda %zu\n",
                nivel, nivelRss, asentada);
    crecimiento(mitad);
    if (asentada > mitad) crecimiento(asentada);
    std::printf("procesador por ronda: zentu %s s · servidor X %s s\n", qPrintable(cifra(cpu, 2)), qPrintable(cifra(cpuX, 2)));
    std::printf("servidor X: %.1f MB antes de usar, %.1f MB tras la última ronda\n", rssX.front(), rssX.back());
    std::printf("ancla (el mismo programa quieto, resumen de la mañana apagado): antes de las rondas %.1f MB al arrancar",
                anclaAntesInicio);
    if (anclaDespues)
        std::printf("; después, %.1f MB al arrancar, %.1f MB tras %.0f s", anclaDespuesInicio, anclaDespuesFin, segundos);
    std::printf("\n");
    return 0;
}
