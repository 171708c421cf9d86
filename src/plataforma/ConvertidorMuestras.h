#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

// Sample-rate conversion of mono float audio to 16-bit signed little-endian mono PCM at another
// rate (the realtime wire format). Keeps its filter state between blocks.
class ConvertidorMuestras {
public:
    ~ConvertidorMuestras();
    ConvertidorMuestras(const ConvertidorMuestras&) = delete;
    ConvertidorMuestras& operator=(const ConvertidorMuestras&) = delete;

    static std::unique_ptr<ConvertidorMuestras> crear(int deFrecuencia, int aFrecuencia, QString* error);

    int deFrecuencia() const { return de_; }
    int aFrecuencia() const { return a_; }

    // Converts one block; `capacidad` is the most output frames taken from this call. Returns the
    // PCM bytes (2 per frame), or no value on a conversion error.
    std::optional<QByteArray> convertir(const float* muestras, int n, int capacidad);

private:
    struct Estado;
    ConvertidorMuestras(int de, int a, std::unique_ptr<Estado> estado);

    int de_;
    int a_;
    std::unique_ptr<Estado> estado_;
};
