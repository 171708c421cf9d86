// Whether sending a large file through the automation interface holds the running program up:
// the paired program is asked over D-Bus to send a 2 GiB file (over the chat's limit: refused)
// and a 40 MiB one (within it: copied and sent), and while each send is under way a cheap D-Bus
// call is made every 50 ms and timed. The anchor, in the same run, is the same cheap call made
// while the program is idle. Files are sparse, so the disk is not filled.
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

// Cheap calls, one every 50 ms, while `sigue` holds (at least one); their times in ms.
std::vector<double> sondear(const std::function<bool()>& sigue) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    std::vector<double> r;
    do {
        QElapsedTimer t;
        t.start();
        bus.call(llamadaAtajos(QStringLiteral("VerPendientes")), QDBus::Block, 120000);
        r.push_back(t.nsecsElapsed() / 1e6);
        pruebas::girar(50);
    } while (sigue());
    return r;
}

struct Envio {
    double respuestaMs = 0;   // until the send's answer
    double esperaMaxMs = 0;   // the longest cheap call meanwhile
    double esperaMedMs = 0;
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
    const std::vector<double> esperas = sondear([&] { return !hecho; });
    pruebas::esperarHasta([&] { return hecho; }, 600000);
    e.respuestaMs = fin;
    e.esperaMaxMs = *std::max_element(esperas.begin(), esperas.end());
    e.esperaMedMs = mediana(esperas);
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

    std::vector<double> quieto, rGrande, mGrande, rMediano, mMediano;
    QString textoGrande, textoMediano;
    for (int ronda = 0; ronda < rondas; ++ronda) {
        int n = 0;
        for (double ms : sondear([&] { return ++n < 20; })) quieto.push_back(ms);
        const Envio g = enviar(grande);
        rGrande.push_back(g.respuestaMs);
        mGrande.push_back(g.esperaMaxMs);
        textoGrande = g.texto;
        const Envio m = enviar(mediano);
        rMediano.push_back(m.respuestaMs);
        mMediano.push_back(m.esperaMaxMs);
        textoMediano = m.texto;
        std::fprintf(stderr, "ronda %d: 2 GiB %.0f ms (espera máx %.0f), 40 MiB %.0f ms (espera máx %.0f)\n", ronda + 1,
                     g.respuestaMs, g.esperaMaxMs, m.respuestaMs, m.esperaMaxMs);
    }
    p.terminate();
    if (!p.waitForFinished(10000)) p.kill();

    auto rango = [](const std::vector<double>& v) {
        char b[64];
        std::snprintf(b, sizeof b, "%.0f [%.0f–%.0f]", mediana(v), *std::min_element(v.begin(), v.end()),
                      *std::max_element(v.begin(), v.end()));
        return std::string(b);
    };
    std::printf("envío de archivos por D-Bus, %d rondas; mediana [mín–máx] en ms\n", rondas);
    std::printf("ancla: llamada D-Bus con el programa quieto          %s\n", rango(quieto).c_str());
    std::printf("2 GiB (se rechaza): respuesta %s · llamada más lenta durante el envío %s · «%s»\n",
                rango(rGrande).c_str(), rango(mGrande).c_str(), qPrintable(textoGrande));
    std::printf("40 MiB (se envía):  respuesta %s · llamada más lenta durante el envío %s · «%s»\n",
                rango(rMediano).c_str(), rango(mMediano).c_str(), qPrintable(textoMediano));
    return 0;
}
