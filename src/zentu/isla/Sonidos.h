#pragma once

#include "plataforma/Reloj.h"
#include "plataforma/SalidaAudio.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

// The program's short sound cues. Nothing is shipped: each cue is synthesised on demand from a
// few notes into one buffer and queued on the one audio output, so cues asked for in quick
// succession follow one another.
class Sonidos : public QObject {
    Q_OBJECT
public:
    enum class Cual {
        aparece,
        seVa,
        escucha,
        piensa,
        termino,
        silencio,
        activaMic,
        error,
        timbre,
        enviado,
        llego,
        hecho,
        descartado,
        captura,
        recibido,
        espera,
    };
    static constexpr int cuantos = 16;

    // The notes of a cue, all of one length, volume and wave, started `sep` seconds apart.
    struct Receta {
        std::vector<double> notas;  // Hz
        double dur;                 // seconds each note lasts
        double sep;                 // seconds between the starts of consecutive notes
        double vol;                 // peak amplitude (full scale 1)
        bool triangulo;             // triangle wave, else sine
    };
    static const Receta& receta(Cual cual);

    static constexpr double frecuencia = SalidaAudio::frecuencia;
    static constexpr double intervaloEspera = 2.2;  // seconds between waiting cues

    // Without an output the system's default one is used (opened on the first cue).
    explicit Sonidos(Reloj& reloj = Reloj::sistema(), std::unique_ptr<SalidaAudio> salida = {},
                     QObject* padre = nullptr);
    ~Sonidos() override;

    // Cues play only while on; starts as the negation of "zentu.sinSonidos".
    bool activos() const { return activos_; }
    void setActivos(bool activos) { activos_ = activos; }

    // Plays one cue now, or after the ones still queued.
    void tocar(Cual cual);
    // Plays the waiting cue now and every 2.2 s while `mientras` answers true. A new call
    // replaces the previous one.
    void esperar(std::function<bool()> mientras);
    bool esperando() const { return espera_.activo(); }

    // Writes the notification sound once; an existing file is never replaced.
    void escribirSonidoDeAviso();
    static QString archivoDeAviso();  // $XDG_DATA_HOME/sounds/Zentu Aviso.wav

    // The synthesiser: mono samples at 44100 Hz.
    static std::vector<float> sintetizar(const std::vector<double>& notas, double dur, double sep, double vol,
                                         bool triangulo);
    static std::vector<float> sintetizar(Cual cual);
    // The notification sound's samples (0.63 s, three rising notes).
    static std::vector<float> sonidoDeAviso();
    // A mono 16-bit integer PCM WAV file of the samples (what desktop sound players read).
    static QByteArray wav(const std::vector<float>& muestras);

private:
    void tickEspera();

    Reloj& reloj_;
    std::unique_ptr<SalidaAudio> salida_;
    bool activos_;
    Temporizador espera_;
    std::function<bool()> mientras_;
};
