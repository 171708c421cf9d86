#pragma once

#include "plataforma/Notificaciones.h"
#include "zentu/conexion/CanalEnVivo.h"
#include "zentu/conexion/Cuenta.h"
#include "zentu/isla/Sonidos.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QCoroTask>
#include <functional>
#include <optional>
#include <variant>

// What waits for the owner: the agents' open questions and the permission requests to write to a
// customer. Kept current from the service's REST loads and the live channel's events; announced
// once each as actionable desktop notifications; and the owner's answers to those notifications
// are carried out here, with a confirmation notification saying how it went.
class Pendientes : public QObject {
    Q_OBJECT
public:
    // The outcome of answering a question.
    struct Respondida {
        bool porPlantilla = false;  // the customer was told through a message template
        bool sinPlantilla = false;  // saved, but the customer received nothing
    };
    struct Vieja {  // too old for a plain answer: the owner must decide
        double horas = 0;
        std::optional<QString> pista;
        bool fueraDeVentana = false;
    };
    struct Fallo {
        QString mensaje;
    };
    using ResultadoDuda = std::variant<Respondida, Vieja, Fallo>;

    // A reply to type in a window of its own, where the notification server has no reply field.
    struct PedidoRespuesta {
        QString titulo;
        QString marcador;
        QString boton;
        std::function<void(QString)> enviar;  // starts the same flow as a reply typed in the bubble
        // What is being answered, as its notification showed it: its title and its text.
        QString asunto;
        QString texto;
    };

    static constexpr int kMaximoAvisados = 500;

    Pendientes(Cuenta cuenta, CanalEnVivo& canal, Notificaciones& avisos = Notificaciones::centro(),
               QObject* padre = nullptr);
    ~Pendientes() override;

    std::function<void(int)> alCambiarTotal;
    std::function<void(int, const QList<QJsonObject>&, int)> alCambiar;
    std::function<void()> alCambiarLista;
    std::function<void()> alAbrirChat;
    std::function<void(qint64)> alAbrirPermiso;
    std::function<void(Sonidos::Cual)> alSonar;
    std::function<void(PedidoRespuesta)> alPedirRespuesta;

    QList<QJsonObject> listaDudas;
    QList<QJsonObject> permisos;
    int dudas() const { return dudas_; }
    bool primeraCarga() const { return primeraCarga_; }
    // The service's list of questions has been read at least once (a failed load does not count).
    bool listaConocida() const { return listaConocida_; }
    // Announced identifiers, oldest first.
    const QStringList& avisados() const { return avisados_; }

    QCoro::Task<void> cargar();

    QCoro::Task<ResultadoDuda> responderDuda(qint64 id, QString texto, std::optional<bool> avisarCliente);
    QCoro::Task<std::optional<QString>> descartar(qint64 id);
    QCoro::Task<std::optional<QString>> decidirPermiso(qint64 id, bool aprobar, std::optional<QString> texto);

    // The owner's answer to one of our notifications (what the notification server reported).
    QCoro::Task<void> atender(Notificaciones::Respuesta respuesta);

    static QString telefonoBonito(const QString& telefono);

    // What each kind of notification shows; none when the payload has no "id".
    static std::optional<Notificaciones::Aviso> avisoDuda(const QJsonObject& payload);
    static Notificaciones::Aviso avisoHumano(const QString& phone, const std::optional<QString>& motivo);
    static std::optional<Notificaciones::Aviso> avisoPermiso(const QJsonObject& permiso);
    static Notificaciones::Aviso avisoDecidir(const QString& id, double horas, const std::optional<QString>& pista,
                                              const QString& texto);
    static Notificaciones::Aviso avisoConfirmacion(const QString& texto);
    static std::vector<Notificaciones::Categoria> categorias();
    // The sound of the kinds that ring: the notification sound file when it exists, else the
    // desktop's default (an empty text).
    static QString sonidoAviso();

    // A decimal integer with an optional sign, nothing else; none otherwise.
    static std::optional<qint64> leerEntero(const QString& texto);

private:
    QCoro::Task<void> cargarPermisos();
    QCoro::Task<std::optional<QList<QJsonObject>>> pedirPermisos();
    void publicar();
    void recordar(const QString& identificador);
    void avisarDuda(const QJsonObject& payload);
    void avisarHumano(const QString& phone, const std::optional<QString>& motivo);
    void avisarPermiso(const QJsonObject& permiso);
    void confirmar(const QString& texto);
    // `cifrasAlPedir`: the service's figures held when the answer or discard was sent.
    void quitar(qint64 id, quint64 cifrasAlPedir);

    QCoro::Task<void> responder(QString id, QString texto, std::optional<bool> avisarCliente);
    QCoro::Task<void> responderCliente(QString phone, QString texto);
    QCoro::Task<void> tomarChat(QString phone);
    QCoro::Task<void> decidir(QString id, bool aprobar);
    void abrirConversacion(const QString& phone);
    void pedirRespuesta(const QString& tipo, const QString& id, const Notificaciones::Respuesta& respuesta);

    const Cuenta cuenta_;
    QPointer<CanalEnVivo> canal_;
    QPointer<Notificaciones> avisos_;
    int dudas_ = 0;
    // Counts every arrival of the service's own figures (its event or a full load), so that a
    // local removal can tell whether the service has already counted the question out.
    quint64 cifras_ = 0;
    QSet<QString> conocidos_;
    QStringList avisados_;  // the same identifiers in the order they were announced
    bool primeraCarga_ = true;
    bool listaConocida_ = false;
    std::shared_ptr<bool> vivo_;
};
