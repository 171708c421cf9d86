#pragma once

#include "compartido/Instantanea.h"
#include "plataforma/Reloj.h"
#include "zentu/conexion/CanalEnVivo.h"
#include "zentu/conexion/Cuenta.h"

#include <QByteArray>
#include <QDateTime>
#include <QFileSystemWatcher>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QCoroTask>
#include <functional>
#include <optional>
#include <vector>

// Keeps the widgets' snapshot: credits pushed on the live channel, the pending counts forwarded
// by the app, the day's pulse and the agents fetched on timers and on every connection. Every
// change is written to the file at once; the widget host is asked to redraw 3 s after the last
// write of a burst.
class AlimentaWidgets : public QObject {
    Q_OBJECT
public:
    static constexpr double kCadaPulso = 900;    // seconds
    static constexpr double kCadaAgentes = 300;  // seconds
    static constexpr double kRecarga = 3.0;      // seconds after the last save
    static constexpr int kMaximoDudas = 20;
    static constexpr int kMaximoHechos = 8;

    AlimentaWidgets(Cuenta cuenta, CanalEnVivo& canal, Reloj& reloj = Reloj::sistema(), QObject* padre = nullptr);
    ~AlimentaWidgets() override;

    const Instantanea& foto() const { return foto_; }
    QDateTime ultimoPulso() const { return ultimoPulso_; }

    std::function<void(const std::vector<Instantanea::Agente>&)> alCambiarAgentes;

    // Main thread: the store's counts and its open questions as the service sent them.
    void pendientes(int total, const QList<QJsonObject>& dudas, int permisos);
    QCoro::Task<void> pedirPulso();
    QCoro::Task<void> pedirAgentes();
    // Pauses (false) or resumes (true) an agent; none on success, else a message for the owner.
    QCoro::Task<std::optional<QString>> cambiarAgente(qint64 id, bool activo);

    // Writes the empty snapshot and asks the widgets to redraw at once; needs no feeder.
    static void borrar();

    // The service's dates: RFC 3339 with or without a fraction of the second, at a moment of the
    // years 1 to 9999 (UTC); none otherwise.
    static std::optional<QDateTime> leerFecha(const QString& texto);

private:
    void guardar();
    void vigilarArchivo();
    void revisarArchivo();
    void programarPulso();
    void programarAgentes();
    QDateTime fecha(const QString& texto) const;

    const Cuenta cuenta_;
    Reloj& reloj_;
    Instantanea foto_;
    Temporizador recarga_;
    Temporizador relojPulso_;
    QDateTime ultimoPulso_ = Instantanea::pasadoLejano();
    Temporizador relojAgentes_;
    QFileSystemWatcher* vigia_ = nullptr;
    bool escrituraFallida_ = false;  // the last repair could not be written
};
