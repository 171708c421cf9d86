#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <map>
#include <vector>

// A notification server of our own on the tests' session bus, under a name of the test's
// choosing: it records every Notify, shows what is on screen, and plays the owner's clicks and
// typed replies back as the real signals. It runs on a bus connection of its own, so the calls of
// the code under test really travel through the bus daemon.
class ServidorAvisos : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Notificacion {
        uint id = 0;
        uint reemplaza = 0;
        QString app;
        QString titulo;
        QString cuerpo;
        QStringList acciones;  // key, label, key, label...
        QVariantMap pistas;
        int expira = 0;
        QString icono;  // app_icon
        QStringList claves() const;  // the action keys only
        QString etiqueta(const QString& clave) const;
    };

    // `conRespuesta`: offers the "inline-reply" capability. `conMarcado`: offers "body-markup".
    explicit ServidorAvisos(bool conRespuesta = true, bool conMarcado = false);
    ~ServidorAvisos() override;

    // A bus name unique to this process, for the code under test.
    QString servicio() const { return servicio_; }
    bool enMarcha() const { return enMarcha_; }

    const std::vector<Notificacion>& recibidas() const { return recibidas_; }
    const std::map<uint, Notificacion>& visibles() const { return visibles_; }
    const Notificacion* visible(const QString& titulo) const;
    std::vector<uint> cerradas() const { return cerradas_; }
    void olvidar() { recibidas_.clear(); }

    // The owner clicks an action (or the bubble, "default"); the server then closes it, as most do.
    void invocar(uint id, const QString& clave);
    // The owner types a reply into the bubble.
    void responder(uint id, const QString& texto);

public slots:
    uint Notify(const QString& app, uint reemplaza, const QString& icono, const QString& titulo,
                const QString& cuerpo, const QStringList& acciones, const QVariantMap& pistas, int expira);
    QStringList GetCapabilities();
    void CloseNotification(uint id);
    QString GetServerInformation(QString& vendedor, QString& version, QString& especificacion);

private:
    void senal(const QString& nombre, const QVariantList& argumentos);
    void cerrar(uint id, uint motivo);

    QString conexion_;
    QString servicio_;
    bool enMarcha_ = false;
    bool conRespuesta_;
    bool conMarcado_;
    uint proximo_ = 1;
    std::vector<Notificacion> recibidas_;
    std::map<uint, Notificacion> visibles_;
    std::vector<uint> cerradas_;
};
