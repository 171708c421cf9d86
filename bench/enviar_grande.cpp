// Whether sending a large file through the automation interface holds the running program up:
// the paired program is asked over D-Bus to send a 2 GiB file (over the chat's limit: refused)
// and a 40 MiB one (within it: copied, written to the live channel and acknowledged), and while
// each send is under way, and only then, a cheap D-Bus call is made every 50 ms and timed. The
// anchor is the same number of cheap calls made right after, with the program idle; each round
// measures ours, then the anchor. The figure is the slowest call of each: how long the main loop
// was held at one time. Files are sparse, so the disk is not filled.
// Run inside a desktop session with a D-Bus session bus and an unlocked keyring, for example:
//   dbus-run-session -- bash -c 'echo | gnome-keyring-daemon --unlock --components=secrets;
//                                xvfb-run -a build/bench/medir_enviar_grande'
// Usage: medir_enviar_grande [rondas=3]; ZENTU_PROGRAMA=<path> measures another build of the program.
#include "ProgramaEnlazado.h"

#include "comun/Ayudas.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double mediana(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Cheap calls, one every 50 ms, each started only while `sigue` holds (maybe none); the times in
// ms of those after which `cuenta` still holds.
std::vector<double> sondear(const std::function<bool()>& sigue, const std::function<bool()>& cuenta = [] { return true; }) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    std::vector<double> r;
    while (sigue()) {
        QElapsedTimer t;
        t.start();
        bus.call(llamadaAtajos(QStringLiteral("VerPendientes")), QDBus::Block, 120000);
        const double ms = t.nsecsElapsed() / 1e6;
        if (cuenta()) r.push_back(ms);
        pruebas::girar(50);
    }
    return r;
}

double maximo(const std::vector<double>& v) { return v.empty() ? 0 : *std::max_element(v.begin(), v.end()); }

struct Envio {
    double respuestaMs = 0;      // until the send's answer
    std::vector<double> esperas;  // the cheap calls made meanwhile
    QString texto;
};

Envio enviar(const QString& ruta) {
    QDBusMessage m = llamadaAtajos(QStringLiteral("EnviarArchivo"));
    m << ruta << QString();
    QElapsedTimer t;
    t.start();
    QDBusPendingCall pendiente = QDBusConnection::sessionBus().asyncCall(m, 600000);
    Envio e;
    bool hecho = false;
    double fin = 0;
    auto* vigia = new QDBusPendingCallWatcher(pendiente);
    QObject::connect(vigia, &QDBusPendingCallWatcher::finished, vigia, [&] {
        hecho = true;
        fin = t.nsecsElapsed() / 1e6;
        vigia->deleteLater();
    });
    // The program answers in order: a call answered after the send was answered measured nothing
    // of the send (the refused 2 GiB file is answered before the first call is read).
    e.esperas = sondear([&] { return !hecho && !pendiente.isFinished(); }, [&] { return !pendiente.isFinished(); });
    pruebas::esperarHasta([&] { return hecho; }, 600000);
    e.respuestaMs = fin;
    const QDBusMessage respuesta = pendiente.reply();
    e.texto = respuesta.type() == QDBusMessage::ErrorMessage ? respuesta.errorMessage()
                                                              : respuesta.arguments().value(0).toString();
    return e;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rondas = args.size() > 1 ? args[1].toInt() : 3;
    ProgramaEnlazado enlazado;
    if (const auto fallo = enlazado.preparar()) {
        std::fprintf(stderr, "%s\n", qPrintable(*fallo));
        return 1;
    }
    const QString grande = enlazado.casa.filePath(QStringLiteral("video.mp4"));
    const QString mediano = enlazado.casa.filePath(QStringLiteral("catalogo.pdf"));
    for (const auto& [ruta, bytes] : {std::pair{grande, qint64(2) << 30}, std::pair{mediano, qint64(40) << 20}}) {
        QFile f(ruta);
        if (!f.open(QIODevice::WriteOnly) || !f.resize(bytes)) {
            std::fprintf(stderr, "no se pudo crear %s\n", qPrintable(ruta));
            return 1;
        }
    }
    QByteArray errores;
    QProcess p;
    if (!enlazado.arrancar(p, errores)) return 1;
    pruebas::girar(3000);

    std::vector<double> ancla, rGrande, nGrande, rMediano, mMediano;
    QString textoGrande, textoMediano;
    for (int ronda = 0; ronda < rondas; ++ronda) {
        const Envio g = enviar(grande);
        rGrande.push_back(g.respuestaMs);
        nGrande.push_back(double(g.esperas.size()));
        textoGrande = g.texto;
        const Envio m = enviar(mediano);
        rMediano.push_back(m.respuestaMs);
        mMediano.push_back(maximo(m.esperas));
        textoMediano = m.texto;
        // As many calls with the program idle, right after.
        size_t n = 0;
        const size_t cuantas = std::max<size_t>(m.esperas.size(), 1);
        ancla.push_back(maximo(sondear([&] { return n++ < cuantas; })));
        std::fprintf(stderr,
                     "ronda %d: 2 GiB %.0f ms (%zu llamadas durante el envío), 40 MiB %.0f ms (la más lenta de %zu: %.1f ms) · "
                     "quieto: la más lenta de %zu: %.1f ms\n",
                     ronda + 1, g.respuestaMs, g.esperas.size(), m.respuestaMs, m.esperas.size(), mMediano.back(), cuantas,
                     ancla.back());
    }
    p.terminate();
    if (!p.waitForFinished(10000)) p.kill();

    auto rango = [](const std::vector<double>& v) {
        char b[64];
        std::snprintf(b, sizeof b, "%.1f [%.1f–%.1f]", mediana(v), *std::min_element(v.begin(), v.end()),
                      *std::max_element(v.begin(), v.end()));
        return std::string(b);
    };
    std::printf("envío de archivos por D-Bus, %d rondas; mediana [mín–máx] en ms\n", rondas);
    std::printf("llamada más lenta durante el envío de 40 MiB:  %s\n", rango(mMediano).c_str());
    std::printf("ancla, la más lenta de otras tantas en reposo: %s\n", rango(ancla).c_str());
    std::printf("40 MiB (se envía):  respuesta %s · «%s»\n", rango(rMediano).c_str(), qPrintable(textoMediano));
    // Refused before any copy: it is answered before a call could be made during it.
    std::printf("2 GiB (se rechaza): respuesta %s · llamadas durante el envío %s · «%s»\n", rango(rGrande).c_str(),
                rango(nGrande).c_str(), qPrintable(textoGrande));
    return 0;
}
