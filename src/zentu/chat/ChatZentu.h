#pragma once

#include "plataforma/Reloj.h"
#include "zentu/conexion/CanalEnVivo.h"
#include "zentu/conexion/Cuenta.h"
#include "zentu/isla/Sonidos.h"

#include <QDateTime>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QUrl>
#include <QCoroTask>
#include <functional>
#include <optional>

// The owner's chat with the coordinator Zentu or one chosen agent: the conversation, the agent's
// working state, the composer's text and staged files, and the voice side's flags. It keeps the
// conversation current from the live channel and sends through it.
//
// Published fields have a getter and a change signal (and every change also emits `cambio()`).
// Everything runs on the main thread; the sends are coroutines that suspend on the channel.
class ChatZentu : public QObject {
    Q_OBJECT
public:
    // One attachment of a message.
    struct Adjunto {
        QUrl url;          // download address, carrying the account token in "token"
        QString nombre;    // shown in the bubble; the file name when opened
        bool esImagen = false;
        bool esAudio = false;
        bool operator==(const Adjunto&) const = default;
    };

    // One chat message.
    struct Mensaje {
        QString id;
        bool deZentu = false;   // the agent side wrote it
        QString texto;          // display text
        QDateTime fecha;
        std::optional<Adjunto> adjunto;
        QString autor;          // agent's display name; empty for the owner's messages
        bool operator==(const Mensaje&) const = default;
    };

    // Limits of one message.
    static constexpr qint64 kLimiteBytes = 47'185'920;  // 45 MiB, inclusive
    static constexpr int kMaximoPendientes = 10;
    static constexpr double kVentanaDuplicado = 5.0;     // seconds

    // Spanish texts handed back to the caller.
    static const QString kNoSeLeyo;            // "No se pudo leer el archivo."
    static const QString kArchivoGrande;       // "El archivo pasa de 45 MB."
    static const QString kNoSeEnvioArchivo;    // "No se pudo enviar el archivo."
    static const QString kJuntosGrandes;       // "Juntos pasan de 45 MB. Envíalos en dos mensajes."
    static const QString kNoSeEnviaron;        // "No se pudieron enviar los archivos."
    static const QString kHastaDiez;           // "Hasta 10 archivos por mensaje."
    static QString noSeLeyoNombre(const QString& nombre);  // "No se pudo leer «nombre»."

    // Registers its listeners on the channel at once; reads "zentu.chatConAgente".
    explicit ChatZentu(CanalEnVivo& canal, Reloj& reloj = Reloj::sistema(), QObject* padre = nullptr);
    ~ChatZentu() override;

    // --- published fields ---
    const QList<Mensaje>& mensajes() const { return mensajes_; }
    // How many times the whole conversation was replaced (history loads, `setMensajes`). A push
    // only appends and leaves it as it was, so an observer that has seen the first n messages
    // under the same number only has the ones after n to take in.
    quint64 generacion() const { return generacion_; }
    bool escribiendo() const { return escribiendo_; }
    bool cargado() const { return cargado_; }
    const QString& borrador() const { return borrador_; }
    bool grabandoNota() const { return grabandoNota_; }
    int vecesAbierto() const { return vecesAbierto_; }
    bool transcribiendo() const { return transcribiendo_; }
    const std::optional<QString>& conAgente() const { return conAgente_; }
    const QList<QUrl>& pendientes() const { return pendientes_; }

    // The conversation and the agent's working state are the service's to set (history, pushes,
    // status); these setters exist for demo pictures and views built without a service.
    void setMensajes(QList<Mensaje> valor);
    void setEscribiendo(bool valor);

    void setBorrador(const QString& valor);
    void setGrabandoNota(bool valor);
    void setVecesAbierto(int valor);
    void setTranscribiendo(bool valor);
    void setPendientes(const QList<QUrl>& valor);

    CanalEnVivo& canal() const { return *canal_; }
    Reloj& reloj() const { return reloj_; }

    // --- callbacks the shell and the voice side install ---
    std::function<void(const Mensaje&)> alMensajeDeZentu;  // an agent message arrived (main thread)
    std::function<void()> alTerminarTurno;                  // the agent stopped working
    std::function<void(Sonidos::Cual)> alSonar;             // a sound cue is wanted

    // --- history and agent ---
    QCoro::Task<void> cargar();
    // Asks the service to switch to `agente` (none: the coordinator Zentu).
    QCoro::Task<bool> hablarCon(std::optional<QString> agente);
    // Fetches the newest attachment of the conversation and logs its status and size; changes
    // nothing. `cargar` calls it when the process was started with "--probar-adjuntos".
    QCoro::Task<void> probarAdjuntos();

    // --- sending ---
    QCoro::Task<bool> enviar(QString texto);
    // None when sent, else the Spanish reason.
    QCoro::Task<std::optional<QString>> enviarArchivo(QUrl archivo, QString texto);
    QCoro::Task<std::optional<QString>> enviarArchivos(QList<QUrl> archivos, QString texto);
    // Stages files for the next message (at most 10); "Hasta 10 archivos por mensaje." when cut.
    // A file that could not be sent (not a readable plain file: missing, a folder, a pipe; or over
    // 45 MiB) is not staged, and the reason for the first such one is what comes back.
    std::optional<QString> agregar(const QList<QUrl>& archivos);
    // Why `archivo` cannot be sent, with the texts of a send: none when it can. `solo`: it comes
    // alone ("No se pudo leer el archivo.") rather than among others ("No se pudo leer «…».").
    static std::optional<QString> rechazo(const QUrl& archivo, bool solo = true);
    // None empties the staged files; a file is staged like `agregar`.
    void setPendiente(const std::optional<QUrl>& archivo);

    // --- ask and wait ---
    // Sends the question and gathers the agent's whole answer, ready to be read aloud; none when
    // the question was not sent or no answer with text came before `tope` seconds. One at a time:
    // while one waits, another gives none at once and sends nothing.
    QCoro::Task<std::optional<QString>> preguntarYEsperar(QString pregunta, double tope);

    // --- reading and rewriting ---
    // One service message dictionary as a chat message; none when it has neither text nor
    // attachment. `ahora` is the time of a message whose time stamp cannot be read.
    static std::optional<Mensaje> leer(const QJsonObject& dic, const Cuenta& cuenta, const QDateTime& ahora);
    static QString limpiar(const QString& texto);
    static QString paraVoz(const QString& texto);
    // The MIME type sent for a file of this name.
    static QString tipoMime(const QString& nombreArchivo);

signals:
    void mensajesCambio();
    void escribiendoCambio();
    void cargadoCambio();
    void borradorCambio();
    void grabandoNotaCambio();
    void vecesAbiertoCambio();
    void transcribiendoCambio();
    void conAgenteCambio();
    void pendientesCambio();
    void cambio();

private:
    std::optional<Mensaje> leer(const QJsonObject& dic) const;
    void nuevo(const std::optional<QJsonValue>& valor);
    void estado(const std::optional<QJsonValue>& valor);
    void fijarAgente(std::optional<QString> agente);
    void setCargado(bool valor);
    void setConAgente(const std::optional<QString>& valor);
    void sonar(Sonidos::Cual cual);
    void agregarMensaje(Mensaje m);

    // What de-duplication asks of a list, kept beside it so that a push is checked without
    // walking the conversation: the ids, and for each side the times of each text.
    class Indice {
    public:
        Indice() = default;
        explicit Indice(const QList<Mensaje>& lista);
        void agregar(const Mensaje& m);
        // The same id, or (for a message without a file) the same text from the same side less
        // than 5 s away.
        bool duplica(const Mensaje& m) const;

    private:
        QSet<QString> ids_;
        QHash<QString, QList<qint64>> horas_[2];  // by `deZentu`; ms since the epoch, ascending
    };

    QPointer<CanalEnVivo> canal_;
    Reloj& reloj_;

    QList<Mensaje> mensajes_;
    Indice indice_;
    quint64 generacion_ = 0;
    bool preguntando_ = false;  // an ask-and-wait is under way
    bool escribiendo_ = false;
    bool cargado_ = false;
    QString borrador_;
    bool grabandoNota_ = false;
    int vecesAbierto_ = 0;
    bool transcribiendo_ = false;
    std::optional<QString> conAgente_;
    QList<QUrl> pendientes_;

    // History loads are numbered; a reply older than the last applied one is dropped, and the
    // messages pushed after a load was issued are kept when its reply lands.
    quint64 cargasEmitidas_ = 0;
    quint64 cargaAplicada_ = 0;
    quint64 empujes_ = 0;                          // pushes appended so far
    int cargasEnVuelo_ = 0;
    QList<QPair<quint64, Mensaje>> empujados_;     // pushes appended while a load was under way
};
