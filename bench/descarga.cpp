// Memory of a large file saved through "mac:accion": the download is streamed to disk, so the
// process's peak memory should grow by a small fraction of the file, where reading the same reply
// whole (the anchor, measured in the same run: one QNetworkAccessManager get, read with readAll)
// grows by at least the file's size. It runs the program's file-actions component (EnMiMac, with
// its live channel) inside this benchmark rather than the installed program, because a peak of
// the benchmark's own process can be reset and read around each download, which a running
// program's cannot be from outside.
// The two alternate over `rondas` rounds, the order turning every round; each figure is the
// median of the rounds with the lowest and highest beside it, the ratio taken round by round.
// Usage: medir_descarga [MiB=64] [rondas=3]
#include "Medidas.h"
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

    const int rondas = argc > 2 ? std::max(1, QString::fromLocal8Bit(argv[2]).toInt()) : 3;
    std::vector<double> picoStream, segStream, picoEntera, segEntera;
    qint64 leidos = 0;
    for (int r = 0; r < rondas; ++r) {
        for (int k = 0; k < 2; ++k) {
            pruebas::girar(200);
            const long base = actualKiB();
            reiniciarPico();
            QElapsedTimer reloj;
            reloj.start();
            if (turno(r, k, 2) == 0) {
                // Streamed: through the component, as the service would ask.
                QMutex m;
                std::optional<QJsonObject> respuesta;
                mac.atender(QJsonObject{{"accion", "guardar"}, {"id", "grande"}, {"nombre", "grande.bin"}},
                            [&](QJsonObject rr) {
                                QMutexLocker l(&m);
                                respuesta = rr;
                            });
                pruebas::esperarHasta([&] {
                    QMutexLocker l(&m);
                    return respuesta.has_value();
                }, 600000);
                segStream.push_back(reloj.elapsed() / 1000.0);
                picoStream.push_back(double(picoKiB() - base));
                if (!respuesta || !(*respuesta)["ok"].toBool()) {
                    std::fprintf(stderr, "la descarga falló\n");
                    return 1;
                }
            } else {
                // The anchor: the same reply read whole into memory.
                QNetworkRequest peticion(QUrl(servicio.url() + QStringLiteral("/api/files/download/grande")));
                peticion.setRawHeader("Authorization", "Bearer token-bueno");
                QNetworkReply* rr = API::red().get(peticion);
                pruebas::esperarHasta([rr] { return rr->isFinished(); }, 600000);
                const QByteArray entera = rr->readAll();
                segEntera.push_back(reloj.elapsed() / 1000.0);
                picoEntera.push_back(double(picoKiB() - base));
                leidos = entera.size();
                rr->deleteLater();
            }
        }
    }

    std::printf("archivo: %d MiB (%lld bytes leídos en el ancla); %d rondas alternadas; mediana [mínima–máxima]\n", mib,
                static_cast<long long>(leidos), rondas);
    std::printf("guardar por mac:accion (EnMiMac)        : pico +%s KiB, %s s\n", qPrintable(cifra(picoStream, 0)),
                qPrintable(cifra(segStream, 2)));
    std::printf("respuesta entera (ancla, readAll)       : pico +%s KiB, %s s\n", qPrintable(cifra(picoEntera, 0)),
                qPrintable(cifra(segEntera, 2)));
    std::printf("memoria, guardar / ancla: %s\n", qPrintable(cifra(razones(picoStream, picoEntera), 3)));
    return 0;
}
