#pragma once

#include "zentu/app/Puertos.h"

#include <QObject>
#include <memory>

class Despertar;
class Sonidos;

// The shell's outside world on this desktop: the real components behind the ports.
class EntornoEscritorio : public Entorno {
public:
    EntornoEscritorio();
    ~EntornoEscritorio() override;

    Reloj& reloj() override;
    std::optional<Cuenta> leerCuenta() override;
    void guardarCuenta(const Cuenta& cuenta) override;
    void borrarCuenta() override;
    PuertoSonidos& sonidos() override;
    std::optional<QString> abrirAlIniciarSesion(bool si) override;
    bool alIniciarSesion() override;
    std::unique_ptr<PuertoIsla> crearIsla(EstadoVoz& voz, AccionesIsla acciones) override;
    std::unique_ptr<QObject> crearAtajos(std::function<void(Atajos::Cual)> pulsar,
                                         std::function<void(Atajos::Cual)> soltar) override;
    void instalarAcorde(std::function<void()> pulsar, std::function<void()> soltar,
                        std::function<void()> cancelar) override;
    void observarDespertar(std::function<void()> alDespertar) override;
    std::unique_ptr<CanalEnVivo> crearCanal(const Cuenta& cuenta) override;
    std::unique_ptr<PuertoChat> crearChat(CanalEnVivo& canal) override;
    std::unique_ptr<PuertoConversacion> crearConversacion(PuertoChat& chat) override;
    std::unique_ptr<PuertoLlamada> crearLlamada(const Cuenta& cuenta, std::optional<QString> agente,
                                                std::optional<qint64> consulta) override;
    std::unique_ptr<PuertoPendientes> crearPendientes(const Cuenta& cuenta, CanalEnVivo& canal) override;
    std::unique_ptr<PuertoWidgets> crearWidgets(const Cuenta& cuenta, CanalEnVivo& canal) override;
    std::unique_ptr<EnMiMac> crearEnMiMac(const Cuenta& cuenta, CanalEnVivo& canal) override;
    void borrarInstantanea() override;
    std::unique_ptr<PuertoPanelChat> crearPanelChat(PuertoChat& chat, std::function<void()> cerrar) override;
    std::unique_ptr<PuertoVentana> crearVentanaEnlace(ModeloEnlace& modelo) override;
    std::unique_ptr<PuertoVentana> crearVentanaAjustes(ModeloAjustes& modelo) override;
    void encenderAcorde(bool si) override;
    QCoro::Task<CapturaDePantalla> capturarPantalla() override;
    QCoro::Task<bool> probarPantalla() override;
    void pedirPermisoPantalla() override;
    void avisarAlServicio(const Cuenta& cuenta, const QString& ruta, const QString& metodo,
                          std::optional<QJsonObject> cuerpo) override;
    QString tamanosDeWidgets() override;
    void terminarProceso() override;

    // The sizes file's text as the start-up line shows it: "{}" unless it is an object of
    // family name → list of numbers.
    static QString tamanosDeTexto(const QByteArray& datos);

private:
    std::unique_ptr<PuertoSonidos> sonidos_;
    std::unique_ptr<Despertar> despertar_;
};
