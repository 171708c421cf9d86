#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QCoroTask>
#include <exception>
#include <functional>
#include <optional>
#include <string>

class QNetworkAccessManager;

// The paired account: where the service is and the bearer token of this computer.
struct Cuenta {
    QString url;      // base address, no trailing "/"; REST paths are appended as they are
    QString token;    // bearer token; never logged
    QString correo;   // owner's e-mail, for display
    QString nombre;   // business name, for display

    QJsonObject aJson() const;
    QByteArray codificar() const;  // compact UTF-8 JSON, the keychain item's data
    // Strict: all four keys present with string values; further keys are ignored.
    static std::optional<Cuenta> desdeJson(const QJsonObject& objeto);
    static std::optional<Cuenta> decodificar(const QByteArray& datos);

    bool operator==(const Cuenta&) const = default;
};

// Base of every error thrown by work with the service, so callers can show `descripcion()`
// whatever went wrong.
class FalloZentu : public std::exception {
public:
    virtual QString descripcion() const = 0;
    const char* what() const noexcept override;

protected:
    mutable std::string utf8_;
};

// Transport failures (no network, time-out, an address that is not a URL): the network
// layer's own message, not one of the service's cases.
class ErrorTransporte : public FalloZentu {
public:
    explicit ErrorTransporte(QString mensaje) : mensaje_(std::move(mensaje)) {}
    QString descripcion() const override { return mensaje_; }

private:
    QString mensaje_;
};

class ErrorZentu : public FalloZentu {
public:
    enum class Caso { servidor, consultaVieja, sesionVencida, sinCreditos, soloDueno, noEsDeZentu };

    static ErrorZentu servidor(QString mensaje);
    static ErrorZentu consultaVieja(double horas, std::optional<QString> pista, bool fueraDeVentana);
    static ErrorZentu sesionVencida() { return ErrorZentu(Caso::sesionVencida); }
    static ErrorZentu sinCreditos() { return ErrorZentu(Caso::sinCreditos); }
    static ErrorZentu soloDueno() { return ErrorZentu(Caso::soloDueno); }
    static ErrorZentu noEsDeZentu() { return ErrorZentu(Caso::noEsDeZentu); }

    Caso caso() const { return caso_; }
    const QString& mensaje() const { return mensaje_; }  // servidor only
    double horas() const { return horas_; }              // consultaVieja only
    const std::optional<QString>& pista() const { return pista_; }
    bool fueraDeVentana() const { return fueraDeVentana_; }

    QString errorDescription() const;
    QString descripcion() const override { return errorDescription(); }

private:
    explicit ErrorZentu(Caso caso) : caso_(caso) {}

    Caso caso_;
    QString mensaje_;
    double horas_ = 0;
    std::optional<QString> pista_;
    bool fueraDeVentana_ = false;
};

// The one REST client. Runs on the main thread's event loop; keeps no state of its own.
namespace API {

// "mac/" + the program's version; computed once.
const QString& cliente();

// Sends one JSON request to cuenta.url + ruta and returns the reply object. Throws ErrorZentu for
// the service's failures and ErrorTransporte for the network's.
QCoro::Task<QJsonObject> pedir(Cuenta cuenta, QString ruta, QString metodo,
                               std::optional<QJsonObject> cuerpo = std::nullopt, double espera = 20);

// The process-wide network session, shared by every request of the program.
QNetworkAccessManager& red();

// Told of every reply 401 (the service no longer takes that account's token), on the main thread,
// before the request throws: whichever component asked, the one who decides what an expired
// session means hears of it. One observer; an empty function for none.
void observarSesionVencida(std::function<void(const Cuenta&)> observador);

}  // namespace API

// The stored account, one item in the desktop's Secret Service.
namespace Llavero {

std::optional<Cuenta> leer();
void guardar(const Cuenta& cuenta);
void borrar();

}  // namespace Llavero
