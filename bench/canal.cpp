// Live channel round trips: our CanalEnVivo beside Node's socket.io-client 4, against the same
// local Socket.IO server (the stand-in service), in the same run. It runs the program's live
// channel component (zentu_conexion's CanalEnVivo) inside this benchmark rather than the whole
// installed program: the program offers no way to send thousands of requests on demand, and the
// anchor is a client library too, so each side is a client alone in a process of its own
// (ours here, theirs in Node). Besides each client's own processor time, the server's is read
// over each client's run (a client that sends more or worse frames costs it too).
// The machine may be shared: the two clients alternate, round after round, the one that starts
// turning every round; each figure is the median of the rounds with the lowest and highest
// beside it, and each ratio ours / theirs is taken round by round (for rates higher is better
// for us; for times lower is better for us).
// Usage: medir_canal [secuenciales=3000] [total=20000] [enVuelo=64] [grandes=5] [rondas=5]
#include "Medidas.h"
#include "Proceso.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "zentu/conexion/CanalEnVivo.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double percentil(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p / 100.0 * static_cast<double>(v.size())));
    return v[i];
}

double ms(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

// Processor time of this process (the client only: the server is another process), in ms. On a
// shared machine it says more about the client's own cost than the wall clock does.
double cpuMs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

QCoro::Task<void> secuencia(CanalEnVivo& canal, int n, std::vector<double>* latencias, bool* fallo) {
    for (int i = 0; i < n; ++i) {
        QElapsedTimer t;
        t.start();
        QJsonObject datos;  // built apart: GCC 12 rejects braced lists inside a co_await
        datos.insert("n", i);
        datos.insert("texto", "hola");
        const auto r = co_await canal.pedir(QStringLiteral("bench:eco"), datos, 30);
        if (!r || !r->value("ok").toBool()) *fallo = true;
        if (latencias) latencias->push_back(ms(t));
    }
}

QCoro::Task<void> trabajador(CanalEnVivo& canal, int* siguiente, int total, std::vector<double>* latencias,
                             bool* fallo) {
    while (*siguiente < total) {
        const int n = (*siguiente)++;
        QElapsedTimer t;
        t.start();
        QJsonObject datos;
        datos.insert("n", n);
        datos.insert("texto", "hola");
        const auto r = co_await canal.pedir(QStringLiteral("bench:eco"), datos, 60);
        if (!r) *fallo = true;
        latencias->push_back(ms(t));
    }
}

QCoro::Task<bool> grandes(CanalEnVivo& canal, int veces, const QByteArray& archivo, std::vector<double>* subir,
                          std::vector<double>* bajar) {
    for (int i = 0; i < veces; ++i) {
        QElapsedTimer t;
        t.start();
        QJsonObject marca;
        marca.insert("_placeholder", true);
        marca.insert("num", 0);
        QJsonObject datos;
        datos.insert("archivo", marca);
        QList<QByteArray> adjuntos;
        adjuntos.append(archivo);
        const auto s = co_await canal.pedirConBinarios(QStringLiteral("bench:subir"), datos, adjuntos, 120);
        if (!s || !s->value("ok").toBool()) co_return false;
        subir->push_back(ms(t));
        t.restart();
        const auto b = co_await canal.pedir(QStringLiteral("bench:bajar"), QJsonObject(), 120);
        if (!b || !b->value("datos").isString()) co_return false;
        bajar->push_back(ms(t));
    }
    co_return true;
}

// Runs the event loop (no polling, no sleeping) until the task is done.
QCoro::Task<void> yAvisar(QCoro::Task<void> tarea, QEventLoop* bucle, bool* hecho) {
    co_await std::move(tarea);
    *hecho = true;
    bucle->quit();
}

bool terminar(QCoro::Task<void>&& tarea) {
    QEventLoop bucle;
    bool hecho = false;
    auto envoltura = yAvisar(std::move(tarea), &bucle, &hecho);
    if (!hecho) bucle.exec();
    return hecho;
}

QCoro::Task<void> grandesVoid(CanalEnVivo& canal, int veces, const QByteArray& archivo, std::vector<double>* subir,
                              std::vector<double>* bajar, bool* bien) {
    *bien = co_await grandes(canal, veces, archivo, subir, bajar);
}

QCoro::Task<void> todos(std::vector<QCoro::Task<void>> tareas) {
    for (auto& t : tareas) co_await std::move(t);
}

// One round's figures; rates in requests per second, times in milliseconds.
struct Cifras {
    double sec = 0, secP50 = 0, secP99 = 0, vuelo = 0, vueloP50 = 0, vueloP99 = 0, subir = 0, bajar = 0;
    double cpuSec = 0, cpuVuelo = 0, cpuGrandes = 0;  // client CPU: µs per request, ms per 8 MiB pair
    double servidorS = 0;  // the server's processor seconds over the client's whole run
};

struct Parametros {
    int secuenciales, total, enVuelo, veces;
};

std::optional<Cifras> nuestro(const ServicioSimulado& servicio, const Parametros& p, const QByteArray& archivo) {
    CanalEnVivo canal(Cuenta{servicio.url(), "token-bueno", "bench@zentu", "Bench"});
    canal.conectar();
    if (!pruebas::esperarHasta([&] { return canal.listo(); }, 15000)) return std::nullopt;
    Cifras c;
    bool fallo = false;
    terminar(secuencia(canal, 200, nullptr, &fallo));  // warm-up

    std::vector<double> lat;
    QElapsedTimer reloj;
    reloj.start();
    double cpu = cpuMs();
    terminar(secuencia(canal, p.secuenciales, &lat, &fallo));
    c.sec = p.secuenciales / (ms(reloj) / 1000.0);
    c.cpuSec = (cpuMs() - cpu) * 1000.0 / p.secuenciales;
    c.secP50 = percentil(lat, 50);
    c.secP99 = percentil(lat, 99);

    std::vector<double> latV;
    int siguiente = 0;
    reloj.restart();
    cpu = cpuMs();
    {
        std::vector<QCoro::Task<void>> tareas;
        for (int i = 0; i < p.enVuelo; ++i) tareas.push_back(trabajador(canal, &siguiente, p.total, &latV, &fallo));
        terminar(todos(std::move(tareas)));
    }
    c.vuelo = p.total / (ms(reloj) / 1000.0);
    c.cpuVuelo = (cpuMs() - cpu) * 1000.0 / p.total;
    c.vueloP50 = percentil(latV, 50);
    c.vueloP99 = percentil(latV, 99);

    std::vector<double> subir, bajar;
    bool grandesBien = false;
    cpu = cpuMs();
    terminar(grandesVoid(canal, p.veces, archivo, &subir, &bajar, &grandesBien));
    if (fallo || !grandesBien) {
        std::fprintf(stderr, "alguna petición nuestra no tuvo respuesta\n");
        return std::nullopt;
    }
    c.cpuGrandes = (cpuMs() - cpu) / p.veces;
    c.subir = percentil(subir, 50);
    c.bajar = percentil(bajar, 50);
    canal.cerrar();
    pruebas::girar(100);
    return c;
}

std::optional<Cifras> suyo(const ServicioSimulado& servicio, const Parametros& p) {
    const QString guion =
        QFileInfo(QStringLiteral(ZENTU_DIR_SERVICIO "/../../bench/cliente-socketio.js")).absoluteFilePath();
    QProcess node;
    node.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    node.start(QStringLiteral("node"), {guion, servicio.url(), "token-bueno", QString::number(p.secuenciales),
                                        QString::number(p.total), QString::number(p.enVuelo), QString::number(p.veces)});
    pruebas::esperarHasta([&] { return node.state() == QProcess::NotRunning; }, 600000);
    const QJsonObject r = QJsonDocument::fromJson(node.readAllStandardOutput()).object();
    if (r.isEmpty()) return std::nullopt;
    const QJsonObject s = r.value("secuencial").toObject();
    const QJsonObject v = r.value("enVuelo").toObject();
    Cifras c;
    c.sec = s.value("porSegundo").toDouble();
    c.secP50 = s.value("p50").toDouble();
    c.secP99 = s.value("p99").toDouble();
    c.vuelo = v.value("porSegundo").toDouble();
    c.vueloP50 = v.value("p50").toDouble();
    c.vueloP99 = v.value("p99").toDouble();
    c.subir = r.value("subir").toDouble();
    c.bajar = r.value("bajar").toDouble();
    c.cpuSec = s.value("cpuUs").toDouble();
    c.cpuVuelo = v.value("cpuUs").toDouble();
    c.cpuGrandes = r.value("cpuGrandes").toDouble();
    return c;
}

// One row: ours and theirs as median [range], and ours / theirs round by round.
void fila(const QString& que, const std::vector<Cifras>& n, const std::vector<Cifras>& s, double Cifras::*campo,
          const char* nota) {
    std::vector<double> a, b;
    for (const Cifras& c : n) a.push_back(c.*campo);
    for (const Cifras& c : s) b.push_back(c.*campo);
    std::printf("%s%s%s%s%s\n", columna(que, 42).constData(), columna(cifra(a, 2), 32).constData(),
                columna(cifra(b, 2), 32).constData(), columna(cifra(razones(a, b), 3), 24).constData(), nota);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    auto arg = [&](int i, int porDefecto) { return args.size() > i ? args[i].toInt() : porDefecto; };
    const Parametros p{arg(1, 3000), arg(2, 20000), arg(3, 64), arg(4, 5)};
    const int rondas = std::max(1, arg(5, 5));

    ServicioSimulado servicio;
    if (!servicio.arrancar()) {
        std::fprintf(stderr, "no arrancó el servicio\n");
        return 1;
    }
    // The service keeps no record of what it receives: 8 MiB attachments would pile up in it.
    servicio.registrar(0);
    QByteArray archivo(8 * 1024 * 1024, '\0');
    for (int i = 0; i < archivo.size(); ++i) archivo[i] = static_cast<char>((i * 31) & 0xff);
    // The download: an 8 MiB text (the base64 of 6 MiB) in the acknowledgement, since the channel
    // reads only text packets; both clients receive the same bytes.
    const QString bajada = QString::fromLatin1(archivo.left(6 * 1024 * 1024).toBase64());
    servicio.guionAck("bench:subir", QJsonArray{QJsonObject{{"ok", true}}});
    servicio.guionAck("bench:bajar", QJsonArray{QJsonObject{{"ok", true}, {"datos", bajada}}});

    std::vector<Cifras> n, s;
    for (int r = 0; r < rondas; ++r) {
        std::optional<Cifras> a, b;
        for (int k = 0; k < 2; ++k) {
            const double servidor0 = cpuSegundos(servicio.pid());
            if (turno(r, k, 2) == 0) {
                a = nuestro(servicio, p, archivo);
                if (a) a->servidorS = cpuSegundos(servicio.pid()) - servidor0;
            } else {
                b = suyo(servicio, p);
                if (b) b->servidorS = cpuSegundos(servicio.pid()) - servidor0;
            }
        }
        if (!a || !b) {
            std::fprintf(stderr, a ? "el cliente de Node falló\n" : "nuestro canal falló\n");
            return 1;
        }
        n.push_back(*a);
        s.push_back(*b);
        std::fprintf(stderr, "ronda %d de %d\n", r + 1, rondas);
    }

    std::printf("Canal en vivo: CanalEnVivo (el componente del programa, en este proceso) frente a socket.io-client 4\n"
                "(Node), mismo servidor local; %d rondas alternadas; mediana [mínima–máxima]; n/s ronda a ronda\n",
                rondas);
    std::printf("%s%s%s%s\n", columna({}, 42).constData(), columna(QStringLiteral("nuestro"), 32).constData(),
                columna(QStringLiteral("suyo"), 32).constData(), "n/s");
    fila("secuencial, peticiones/s", n, s, &Cifras::sec, "más es mejor");
    fila("secuencial, p50 ms", n, s, &Cifras::secP50, "menos es mejor");
    fila("secuencial, p99 ms", n, s, &Cifras::secP99, "menos es mejor");
    fila(QStringLiteral("%1 en vuelo, peticiones/s").arg(p.enVuelo), n, s, &Cifras::vuelo, "más es mejor");
    fila(QStringLiteral("%1 en vuelo, p50 ms").arg(p.enVuelo), n, s, &Cifras::vueloP50, "menos es mejor");
    fila(QStringLiteral("%1 en vuelo, p99 ms").arg(p.enVuelo), n, s, &Cifras::vueloP99, "menos es mejor");
    fila("adjunto de 8 MiB subido, ms", n, s, &Cifras::subir, "menos es mejor");
    fila("8 MiB de texto en el acuse, ms", n, s, &Cifras::bajar, "menos es mejor");
    fila("CPU del cliente, secuencial, µs/pet.", n, s, &Cifras::cpuSec, "menos es mejor");
    fila(QStringLiteral("CPU del cliente, %1 en vuelo, µs/pet.").arg(p.enVuelo), n, s, &Cifras::cpuVuelo, "menos es mejor");
    fila("CPU del cliente, 8 MiB ida y vuelta, ms", n, s, &Cifras::cpuGrandes, "menos es mejor");
    fila("CPU del servidor, toda la ronda, s", n, s, &Cifras::servidorS, "menos es mejor");
    return 0;
}
