#pragma once

#include <QString>
#include <memory>
#include <optional>

// Writes mono float samples at 16 kHz as AAC in an MPEG-4 audio file (.m4a), as they come:
// whole 1024-sample frames are encoded at once, so closing only flushes the last one.
class CodificadorAac {
public:
    static constexpr int kFrecuencia = 16000;
    static constexpr int kBitsPorSegundo = 32000;

    CodificadorAac();
    ~CodificadorAac();
    CodificadorAac(const CodificadorAac&) = delete;
    CodificadorAac& operator=(const CodificadorAac&) = delete;

    // The reason when the file or the encoder cannot be opened.
    std::optional<QString> abrir(const QString& ruta);
    std::optional<QString> agregar(const float* muestras, qsizetype n);
    // Flushes the encoder and finishes the file; the reason when it could not.
    std::optional<QString> cerrar();
    bool abierto() const;

private:
    struct Estado;
    std::unique_ptr<Estado> e_;
};
