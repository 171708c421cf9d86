#include "zentu/isla/Sonidos.h"

#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtEndian>
#include <array>
#include <bit>
#include <cmath>
#include <numbers>

namespace {

// Adds one note into `muestras`, starting at frame `inicio`: a 12 ms linear attack, then an
// exponential decay that reaches an absolute amplitude of 0.0001 when the note ends.
void anadirNota(std::vector<float>& muestras, qint64 inicio, double f, double dur, double vol, bool triangulo) {
    const double r = Sonidos::frecuencia;
    const qint64 largo = static_cast<qint64>(dur * r);
    const qint64 total = static_cast<qint64>(muestras.size());
    const double piso = 0.0001 / vol;
    for (qint64 j = 0; j < largo; ++j) {
        const qint64 k = inicio + j;
        if (k >= total) break;
        const double t = static_cast<double>(j) / r;
        const double e = t < 0.012 ? t / 0.012 : std::pow(piso, (t - 0.012) / (dur - 0.012));
        const double ft = f * t;
        const double p = ft - std::floor(ft);
        const double w = triangulo ? std::abs(p - 0.5) * 4.0 - 1.0 : std::sin(2.0 * std::numbers::pi * p);
        muestras[static_cast<size_t>(k)] += static_cast<float>(vol * e * w);
    }
}

void escribir16(QByteArray& b, quint16 v) {
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}
void escribir32(QByteArray& b, quint32 v) {
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}

}  // namespace

const Sonidos::Receta& Sonidos::receta(Cual cual) {
    static const std::array<Receta, cuantos> recetas = {{
        {{523.25, 659.25, 987.77}, 0.32, 0.06, 0.06, false},               // aparece
        {{783.99, 587.33, 392.0}, 0.26, 0.06, 0.05, false},                // seVa
        {{880.0}, 0.12, 0, 0.05, false},                                    // escucha
        {{659.25, 698.46}, 0.10, 0.09, 0.03, true},                         // piensa
        {{659.25, 523.25}, 0.18, 0.08, 0.045, false},                       // termino
        {{440.0, 330.0}, 0.09, 0.05, 0.05, true},                           // silencio
        {{330.0, 440.0}, 0.09, 0.05, 0.05, true},                           // activaMic
        {{311.13, 233.08}, 0.16, 0.09, 0.05, true},                         // error
        {{783.99, 987.77, 783.99, 987.77}, 0.16, 0.14, 0.07, false},        // timbre
        {{783.99, 1046.5}, 0.07, 0.04, 0.035, false},                       // enviado
        {{987.77, 783.99}, 0.16, 0.09, 0.04, false},                        // llego
        {{523.25, 659.25, 783.99}, 0.14, 0.06, 0.05, false},                // hecho
        {{523.25, 392.0}, 0.12, 0.07, 0.035, true},                         // descartado
        {{1318.5, 1318.5}, 0.035, 0.07, 0.045, true},                       // captura
        {{659.25}, 0.09, 0, 0.05, false},                                   // recibido
        {{523.25, 659.25, 783.99, 659.25}, 0.55, 0.32, 0.018, false},       // espera
    }};
    return recetas[static_cast<size_t>(cual)];
}

Sonidos::Sonidos(Reloj& reloj, std::unique_ptr<SalidaAudio> salida, QObject* padre)
    : QObject(padre),
      reloj_(reloj),
      salida_(salida ? std::move(salida) : SalidaAudio::delSistema()),
      activos_(!Preferencias::almacen().value(QStringLiteral("zentu.sinSonidos"), false).toBool()) {}

Sonidos::~Sonidos() = default;

std::vector<float> Sonidos::sintetizar(const std::vector<double>& notas, double dur, double sep, double vol,
                                       bool triangulo) {
    const double r = frecuencia;
    const double n = static_cast<double>(notas.size());
    const double largo = r * (dur + sep * (n - 1) + 0.03);
    if (notas.empty() || !(largo > 0) || largo > 1e8) return {};
    std::vector<float> muestras(static_cast<size_t>(static_cast<qint64>(largo)), 0.0f);
    for (size_t i = 0; i < notas.size(); ++i)
        anadirNota(muestras, static_cast<qint64>(r * (sep * static_cast<double>(i))), notas[i], dur, vol, triangulo);
    return muestras;
}

std::vector<float> Sonidos::sintetizar(Cual cual) {
    const Receta& c = receta(cual);
    return sintetizar(c.notas, c.dur, c.sep, c.vol, c.triangulo);
}

void Sonidos::tocar(Cual cual) {
    if (!activos_) return;
    std::vector<float> muestras = sintetizar(cual);
    if (muestras.empty()) return;
    if (auto fallo = salida_->encolar(std::move(muestras)))
        Registro::escribir(QStringLiteral("[sonidos] no se pudo tocar: ") + *fallo);
}

void Sonidos::esperar(std::function<bool()> mientras) {
    espera_.cancelar();
    mientras_ = nullptr;
    if (!activos_) return;
    tocar(Cual::espera);
    mientras_ = std::move(mientras);
    espera_ = reloj_.programar(intervaloEspera, this, [this] { tickEspera(); });
}

void Sonidos::tickEspera() {
    if (!mientras_ || !mientras_()) {
        mientras_ = nullptr;
        return;
    }
    tocar(Cual::espera);
    espera_ = reloj_.programar(intervaloEspera, this, [this] { tickEspera(); });
}

std::vector<float> Sonidos::sonidoDeAviso() {
    const double r = frecuencia;
    std::vector<float> muestras(static_cast<size_t>(static_cast<qint64>(r * 0.63)), 0.0f);
    const std::array<double, 3> notas = {659.25, 987.77, 1318.5};
    for (size_t i = 0; i < notas.size(); ++i)
        anadirNota(muestras, static_cast<qint64>(r * (0.09 * static_cast<double>(i))), notas[i], 0.42, 0.32, false);
    return muestras;
}

QString Sonidos::archivoDeAviso() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/sounds/Zentu Aviso.wav");
}

QByteArray Sonidos::wav(const std::vector<float>& muestras) {
    // 16-bit integer PCM: the desktop's event-sound player (libcanberra, behind the notification
    // "sound-file" hint) reads only 8- and 16-bit PCM WAV, so a float file would never sound.
    const quint32 datos = static_cast<quint32>(muestras.size() * sizeof(qint16));
    QByteArray b;
    b.reserve(int(44 + datos));
    b.append("RIFF", 4);
    escribir32(b, 4 + (8 + 16) + (8 + datos));
    b.append("WAVE", 4);
    b.append("fmt ", 4);
    escribir32(b, 16);
    escribir16(b, 1);  // WAVE_FORMAT_PCM
    escribir16(b, 1);
    escribir32(b, static_cast<quint32>(frecuencia));
    escribir32(b, static_cast<quint32>(frecuencia) * 2);
    escribir16(b, 2);
    escribir16(b, 16);
    b.append("data", 4);
    escribir32(b, datos);
    for (float m : muestras) {
        const double v = std::isfinite(m) ? std::clamp(double(m), -1.0, 1.0) : 0.0;
        escribir16(b, static_cast<quint16>(static_cast<qint16>(std::lround(v * 32767.0))));
    }
    return b;
}

void Sonidos::escribirSonidoDeAviso() {
    const QString ruta = archivoDeAviso();
    QDir().mkpath(QFileInfo(ruta).absolutePath());
    if (QFileInfo::exists(ruta)) return;
    const std::vector<float> muestras = sonidoDeAviso();
    if (muestras.empty()) return;
    // Written whole or not at all: a cut-off file would otherwise stay forever, since an
    // existing file is never replaced.
    QSaveFile archivo(ruta);
    if (!archivo.open(QIODevice::WriteOnly)) return;
    archivo.write(wav(muestras));
    if (!archivo.commit()) return;
    Registro::escribir(QStringLiteral("[sonidos] sonido de aviso escrito en ") + ruta);
}
