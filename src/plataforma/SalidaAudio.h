#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

// One audio output for short cues: mono 32-bit float samples at 44100 Hz, played in the order
// they were queued (a buffer queued while another still plays follows it instead of mixing).
// The output opens on the first buffer and closes once what was queued has been heard, so an
// idle program holds no stream on the sound server.
class SalidaAudio : public QObject {
    Q_OBJECT
public:
    static constexpr int frecuencia = 44100;

    using QObject::QObject;
    ~SalidaAudio() override = default;

    // Queues the samples; when the output cannot be opened, gives the reason and drops them
    // (the next buffer tries to open it again).
    virtual std::optional<QString> encolar(std::vector<float> muestras) = 0;

    // Frames queued but not yet handed to the sound server.
    virtual qint64 pendientes() const = 0;

    // The desktop's sound server (PulseAudio, or PipeWire's pulse server).
    static std::unique_ptr<SalidaAudio> delSistema();
};
