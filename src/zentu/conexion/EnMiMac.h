#pragma once

#include "zentu/conexion/CanalEnVivo.h"
#include "zentu/conexion/Cuenta.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>

// What the service may ask this computer to do with files: open a file of the account, save it
// into a folder, open a web address, move or copy a file that is already here. It announces the
// computer on the live channel ("mac:hola") and answers "mac:accion" with {"ok": true, "ruta": …}
// or {"ok": false, "error": …}. Each request runs its download and file work on a worker thread
// and replies from there.
//
// Requests come from the network and act on the owner's files, so every name is checked: a file
// name is one plain component, an origin can never be "/", the home folder or a folder that holds
// the destination, and a file is only ever placed under a name that nothing holds yet.
class EnMiMac : public QObject {
    Q_OBJECT
public:
    using Respondedor = CanalEnVivo::Respondedor;

    // Announces this computer now (the channel holds it until it is ready) and on every
    // connection, and takes over the channel's "mac:accion" requests.
    EnMiMac(Cuenta cuenta, CanalEnVivo& canal, QObject* padre = nullptr);

    // Called on the main thread after each action that succeeded, before its reply is sent.
    std::function<void()> alHacer;
    QPointer<CanalEnVivo> canal;

    // Handles one "mac:accion" request; `responder` is called exactly once, from a worker thread
    // (or at once for a request without data).
    void atender(std::optional<QJsonValue> datos, Respondedor responder);

    // The folders these actions work with, found once from the owner's XDG user folders.
    struct Lugares {
        QString casa;
        QString descargas;
        QString escritorio;
        QString documentos;
        QString imagenes;
        QString cache;  // opened downloads: $XDG_CACHE_HOME/Zentu/abiertos
    };
    static const Lugares& lugares();
    static const QString& cache() { return lugares().cache; }

    // Destination text -> folder; throws FalloZentu. With `crear` false nothing is created (the
    // path that would be used is returned).
    static QString carpeta(const QString& destino, bool crear = true);
    // Origin text -> location of an existing item, or none.
    static std::optional<QString> encontrar(const QString& origen);
    // Location -> itself when nothing is there, else the first free "name N.ext".
    static QString libre(const QString& ruta);

private:
    static std::optional<QString> hacer(const Cuenta& cuenta, const QJsonObject& pedido);
    static QString bajar(const Cuenta& cuenta, const QJsonObject& pedido, const QString& carpeta);
    static QString moverOCopiar(const QJsonObject& pedido, bool mover);

    const Cuenta cuenta_;
};
