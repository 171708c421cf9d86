// Memory of a large file saved through "mac:accion": the download is streamed to disk, so the
// process's peak memory should grow by a small fraction of the file, where reading the same reply
// whole (the reference, measured in the same run) grows by at least the file's size.
// Usage: medir_descarga [MiB]   (default 64)
#include "Proceso.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Escritorio.h"
#include "plataforma/Reloj.h"
#include "zentu/conexion/CanalEnVivo.h"
#include "zentu/conexion/Cuenta.h"
#include "zentu/conexion/EnMiMac.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// Peak resident memory of this process in KiB, and a reset of that peak.
long picoKiB() { return long(kbDeEstado(QCoreApplication::applicationPid(), "VmHWM:")); }
void reiniciarPico() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly)) f.write("5");
}
long actualKiB() { return long(kbDeEstado(QCoreApplication::applicationPid(), "VmRSS:")); }

class SinEscritorio : public Escritorio {
public:
    bool abrirArchivo(const QString&) override { return true; }
    bool abrirUrl(const QUrl&) override { return true; }
    bool mostrarEnCarpeta(const QString&) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir casa;
    qputenv("HOME", casa.path().toUtf8());
    for (const char* v : {"XDG_CONFIG_HOME", "XDG_CACHE_HOME", "XDG_DATA_HOME"}) {
        qputenv(v, (casa.path() + "/" + QString::fromLatin1(v).toLower()).toUtf8());
    }
    QApplication app(argc, argv);
    const int mib = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 64;
    SinEscritorio escritorio;
    Escritorio::usar(&escritorio);

    ServicioSimulado servicio;
    if (!servicio.arrancar()) {
        std::fprintf(stderr, "no arrancó el servicio simulado\n");
        return 1;
    }
    {
        QByteArray datos(mib * 1024 * 1024, '\0');
        for (int i = 0; i < datos.size(); ++i) datos[i] = char(i * 131 + (i >> 12));
        servicio.ponerArchivo(QStringLiteral("grande"), datos);
    }
    const Cuenta cuenta{servicio.url(), QStringLiteral("token-bueno"), {}, {}};
    CanalEnVivo canal(cuenta);
    EnMiMac mac(cuenta, canal);

    // Streamed: through the component, as the service would ask.
    pruebas::girar(200);
    const long baseStream = actualKiB();
    reiniciarPico();
    QElapsedTimer reloj;
    reloj.start();
    QMutex m;
    std::optional<QJsonObject> respuesta;
    mac.atender(QJsonObject{{"accion", "guardar"}, {"id", "grande"}, {"nombre", "grande.bin"}},
                [&](QJsonObject r) {
                    QMutexLocker l(&m);
                    respuesta = r;
                });
    pruebas::esperarHasta([&] {
        QMutexLocker l(&m);
        return respuesta.has_value();
    }, 600000);
    const double segStream = reloj.elapsed() / 1000.0;
    const long picoStream = picoKiB() - baseStream;
    if (!respuesta || !(*respuesta)["ok"].toBool()) {
        std::fprintf(stderr, "la descarga falló\n");
        return 1;
    }

    // Reference: the same reply read whole into memory.
    pruebas::girar(200);
    const long baseEntera = actualKiB();
    reiniciarPico();
    reloj.restart();
    QNetworkRequest peticion(QUrl(servicio.url() + QStringLiteral("/api/files/download/grande")));
    peticion.setRawHeader("Authorization", "Bearer token-bueno");
    QNetworkReply* r = API::red().get(peticion);
    pruebas::esperarHasta([r] { return r->isFinished(); }, 600000);
    const QByteArray entera = r->readAll();
    const double segEntera = reloj.elapsed() / 1000.0;
    const long picoEntera = picoKiB() - baseEntera;
    r->deleteLater();

    std::printf("archivo: %d MiB (%lld bytes leídos en la referencia)\n", mib, static_cast<long long>(entera.size()));
    std::printf("guardar por mac:accion : pico +%ld KiB, %.2f s\n", picoStream, segStream);
    std::printf("respuesta entera (ref.): pico +%ld KiB, %.2f s\n", picoEntera, segEntera);
    if (picoEntera > 0) std::printf("memoria relativa: %.3f\n", double(picoStream) / double(picoEntera));
    return 0;
}
