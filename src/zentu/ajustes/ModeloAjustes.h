#pragma once

#include "zentu/conexion/Cuenta.h"
#include "zentu/isla/Atajo.h"
#include "zentu/isla/EstadoVoz.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class GrabadorTeclas;

// The five panes of the settings window, in the sidebar's order.
enum class SeccionAjustes { estado, atajos, isla, llamadas, cuenta };

namespace Secciones {
inline constexpr std::array<SeccionAjustes, 5> todas = {SeccionAjustes::estado, SeccionAjustes::atajos,
                                                        SeccionAjustes::isla, SeccionAjustes::llamadas,
                                                        SeccionAjustes::cuenta};
// "estado", "atajos", "isla", "llamadas", "cuenta"; also the identifier.
QString valor(SeccionAjustes seccion);
std::optional<SeccionAjustes> desdeValor(const QString& valor);
}  // namespace Secciones

// The model behind the settings window: the five hot keys as stored, the recording of a new one,
// the window's single error line, the local switches, the service's preference for calls from
// agents, and the closures through which the window reaches the application. Main thread only.
//
// While a hot key records, every global hot key is given back to the system and an
// application-wide key filter judges each press: Esc cancels; a key with a modifier, or one of the
// function keys alone, becomes the new combination; anything else is refused with a hint.
class ModeloAjustes : public QObject {
    Q_OBJECT
public:
    using Cual = Atajos::Cual;

    static constexpr auto rutaLlamadas = "/api/preferences/llamadas-de-agentes";
    static inline const QString textoSinModificador =
        QStringLiteral("Usa al menos una tecla como Alt, Ctrl o Super, para que no se dispare escribiendo.");
    static inline const QString textoNoEnlazada = QStringLiteral("Este equipo no está enlazado.");

    // Reads the five combinations, the login item, the morning summary and the hold-to-talk wish
    // once, here.
    ModeloAjustes(Atajos& atajos, EstadoVoz& voz, bool sonidos, std::function<std::optional<Cuenta>()> cuenta,
                  std::function<void()> alDesenlazar, std::function<void(bool)> alCambiarSonidos,
                  std::function<void()> alVolverArriba, QObject* padre = nullptr);
    ~ModeloAjustes() override;

    // Whether a key without modifiers may be a global hot key on its own: the function keys.
    static bool aceptaSinModificador(quint32 tecla);

    Combinacion llamada() const { return combinaciones_[0]; }
    Combinacion conversacion() const { return combinaciones_[1]; }
    Combinacion pantalla() const { return combinaciones_[2]; }
    Combinacion zona() const { return combinaciones_[3]; }
    Combinacion chat() const { return combinaciones_[4]; }
    Combinacion combinacion(Cual cual) const;

    const std::optional<QString>& error() const { return error_; }
    std::optional<Cual> grabando() const { return grabando_; }
    bool sonidos() const { return sonidos_; }
    bool alIniciar() const { return alIniciar_; }
    bool resumen() const { return resumen_; }
    bool fnControl() const { return fnControl_; }
    std::optional<bool> llamadas() const { return llamadas_; }
    bool ventanaVisible() const { return ventanaVisible_; }

    void setError(const std::optional<QString>& valor);
    void setSonidos(bool valor);
    void setAlIniciar(bool valor);
    void setResumen(bool valor);
    void setFnControl(bool valor);
    void setLlamadas(std::optional<bool> valor);
    void setVentanaVisible(bool valor);

    Atajos& atajos() const { return atajos_; }
    EstadoVoz& voz() const { return voz_; }

    // Starts recording a new combination for `cual` (ending any other recording first).
    void grabar(Cual cual);
    // Ends a recording, if any, and takes the hot keys back.
    void parar();
    // What the key filter does with one press while recording; true swallows it.
    bool teclear(const Combinacion& tecla);

    // Reads the calls preference from the service (nothing without an account).
    QCoro::Task<void> cargarLlamadas();
    // Shows the new value at once and sends it; a failure leaves its text in `error` and reads
    // the preference again.
    QCoro::Task<void> cambiarLlamadas(bool valor);

    // The switches of the panes.
    void cambiarSonidos(bool valor);      // then alCambiarSonidos
    void cambiarResumen(bool valor);      // stored as "zentu.resumenManana"
    void cambiarAlIniciar(bool valor);    // abrirAlIniciarSesion, then what the system reports
    void cambiarFnControl(bool valor);    // then encenderFnControl
    // "Restablecer atajos": ends a recording, restores the defaults, clears the error line.
    void restablecerAtajos();

    // Closures the application installs.
    std::function<QCoro::Task<std::optional<QString>>(qint64 agente, bool activo)> cambiarAgente;
    std::function<void(const QString&)> accion;  // "llamada", "chat", "pantalla", "zona"
    std::function<std::optional<Cuenta>()> cuenta;
    std::function<void()> alDesenlazar;
    std::function<void(bool)> alCambiarSonidos;
    std::function<void()> alVolverArriba;
    // Registers or removes the login item (the application logs the outcome); by default nothing.
    std::function<void(bool)> abrirAlIniciarSesion;
    // Whether the login item is active now, as the system reports it.
    std::function<bool()> estadoInicioSesion;
    // Starts or stops the Ctrl+Super hold-to-talk listener.
    std::function<void(bool)> encenderFnControl;

signals:
    // Any published field changed, or a hot key was taken or lost.
    void cambio();
    void combinacionesCambio();
    void errorCambio();
    void grabandoCambio();
    void llamadasCambio();
    void ventanaVisibleCambio();

private:
    void refrescar();

    Atajos& atajos_;
    QPointer<Atajos> atajosVivos_;  // to give the keys back at the end only if they still exist
    EstadoVoz& voz_;
    std::array<Combinacion, 5> combinaciones_;
    std::optional<QString> error_;
    std::optional<Cual> grabando_;
    bool sonidos_;
    bool alIniciar_;
    bool resumen_;
    bool fnControl_;
    std::optional<bool> llamadas_;
    bool ventanaVisible_ = true;
    std::unique_ptr<GrabadorTeclas> monitor_;
};
