#pragma once

#include "zentu/escritorio/Pendientes.h"
#include "zentu/isla/Sonidos.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QCoroTask>
#include <functional>
#include <optional>

// The model behind the floating decision card: a mirror of the pending store's open questions
// and permission requests, which question and which request the card shows, and the owner's
// three decisions (answer, discard, approve or reject) carried out through the store.
class ModeloDudas : public QObject {
    Q_OBJECT
public:
    // What the model uses of the pending store, so that tests can stand in for it.
    struct Almacen {
        std::function<QList<QJsonObject>()> listaDudas;
        std::function<QList<QJsonObject>()> permisos;
        std::function<QCoro::Task<Pendientes::ResultadoDuda>(qint64 id, QString texto)> responder;
        std::function<QCoro::Task<std::optional<QString>>(qint64 id)> descartar;
        std::function<QCoro::Task<std::optional<QString>>(qint64 id, bool aprobar, std::optional<QString> texto)> decidir;

        // The real store, held weakly: a store released by unpairing answers nothing.
        static Almacen de(Pendientes& pendientes);
    };

    // Without a store (the screenshot renderer's card) the given list stays as it is.
    ModeloDudas(std::optional<Almacen> pendientes, std::optional<qint64> abierta, QList<QJsonObject> lista,
                QObject* padre = nullptr);

    std::optional<qint64> abierta() const { return abierta_; }
    const QList<QJsonObject>& lista() const { return lista_; }
    const QList<QJsonObject>& permisos() const { return permisos_; }
    std::optional<qint64> permisoAbierto() const { return permisoAbierto_; }
    bool enviando() const { return enviando_; }
    const std::optional<QString>& error() const { return error_; }
    bool conAlmacen() const { return pendientes_.has_value(); }

    void setAbierta(std::optional<qint64> id);
    void setPermisoAbierto(std::optional<qint64> id);
    void setError(std::optional<QString> texto);

    std::function<void(Sonidos::Cual)> alSonar;

    // Re-reads the store and repairs the selection: a request that has gone is let go; a
    // question that has gone (or none) gives way to the first listed one.
    void refrescar();

    // true when the answer was accepted.
    QCoro::Task<bool> contestar(qint64 id, QString texto);
    QCoro::Task<bool> decidirPermiso(qint64 id, bool aprobar, std::optional<QString> texto);
    QCoro::Task<void> descartar(qint64 id);

    // A record's "id" when it is an integer.
    static std::optional<qint64> idDe(const QJsonObject& registro);

signals:
    // Any published field changed.
    void cambio();

private:
    void ponerEnviando(bool si);
    void sonar(Sonidos::Cual cual);

    std::optional<Almacen> pendientes_;
    std::optional<qint64> abierta_;
    QList<QJsonObject> lista_;
    QList<QJsonObject> permisos_;
    std::optional<qint64> permisoAbierto_;
    bool enviando_ = false;
    std::optional<QString> error_;
};
