#pragma once

#include <QDateTime>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <QCoroTask>
#include <cstdint>
#include <exception>
#include <optional>
#include <vector>

class CapturaPantalla;

// What the owner is looking at, for an agent: one picture of the front window of the program in
// use (or of the screen under the pointer, without this program's windows), scaled down and
// written as JPEG into the program's private folder. Callers delete the file once it is sent.
class Pantalla {
public:
    // sinCaptura: the desktop offers no screen capture at all (a Wayland session whose desktop
    // answers no Screenshot portal); nothing the owner grants helps.
    enum class Fallo { sinPermiso, nada, sinCaptura };

    // What capturar() throws: one of the cases above, or the platform's own failure.
    class Error : public std::exception {
    public:
        explicit Error(Fallo fallo) : fallo_(fallo), texto_(descripcion(fallo)) {}
        explicit Error(QString texto) : texto_(std::move(texto)) {}
        std::optional<Fallo> fallo() const { return fallo_; }
        const QString& texto() const { return texto_; }
        const char* what() const noexcept override { return "captura de pantalla"; }

    private:
        std::optional<Fallo> fallo_;
        QString texto_;
    };

    static QString descripcion(Fallo fallo);

    // The file's path. Runs away from the main thread from the permission probe on; call it on
    // the main thread and await it.
    static QCoro::Task<QString> capturar();
    static bool loPide(const QString& texto);

    // The parts of capturar() that decide, for the tests and the call's screen look.
    static QString nombreArchivo(const QDateTime& local);
    static QSize tamCaptura(QSize puntos);
    struct Eleccion {
        std::optional<uint32_t> ventana;  // none: the display in `zona`
        QRect zona;
    };
    // Front window of the frontmost program (not us) larger than 120 x 80, else the screen under
    // the pointer (else the first); none when there is no screen. `soloPantalla` skips the window.
    static std::optional<Eleccion> elegir(CapturaPantalla& x, int64_t miPid, const std::vector<QRect>& pantallas,
                                          bool soloPantalla = false);
    // The whole road on one platform connection: choose, take, scale, encode, write. Throws Error.
    static QString capturarCon(CapturaPantalla& x, int64_t miPid, const std::vector<QRect>& pantallas,
                               const QString& carpeta, const QDateTime& local);
    // Scales, encodes and writes one picture; `ventana` names what it shows in the log line.
    static QString guardar(const QImage& imagen, QSize puntos, bool ventana, const QString& carpeta,
                           const QDateTime& local);
};
