#pragma once

#include <QMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QCoroTask>
#include <functional>
#include <map>
#include <optional>
#include <vector>

// The desktop's notifications with action buttons, on the session bus's
// org.freedesktop.Notifications server. Notifications carry our own identifiers; the server's
// numeric ids stay in here, so posting an identifier that is still shown replaces it and closing
// one closes the right bubble. A text action becomes the server's "inline-reply" where it offers
// that; elsewhere it is a plain button and the answer comes without text.
//
// Main thread only. Every call to the server is asynchronous, so a server living in this very
// process (the tests' own) never blocks us.
class Notificaciones : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kServicio = "org.freedesktop.Notifications";
    // The action key of a tap on the notification itself.
    static constexpr const char* kTocar = "default";

    struct Accion {
        QString id;
        QString titulo;
        bool conTexto = false;  // asks the owner to type something
        QString boton;          // text actions: the send button's title
        QString marcador;       // text actions: the field's placeholder
        bool destructiva = false;  // no server draws this differently; kept for what the owner is shown elsewhere
    };
    struct Categoria {
        QString id;
        std::vector<Accion> acciones;
    };

    struct Aviso {
        QString identificador;
        QString titulo;
        QString subtitulo;  // the server has no subtitle: it becomes the body's first line
        QString cuerpo;
        QString categoria;  // empty: no actions besides the tap
        // None: silent. An empty text: the desktop's default sound. Else a sound file's path.
        std::optional<QString> sonido;
        QMap<QString, QString> datos;  // handed back with every answer
    };

    struct Respuesta {
        QString identificador;
        QMap<QString, QString> datos;
        QString accion;                // an action's id, or kTocar
        std::optional<QString> texto;  // what the owner typed, for a reply written in the bubble
        QString titulo;                // what the notification showed: its title,
        QString mostrado;              // and its text (the subtitle's line, then the body)
    };

    explicit Notificaciones(QString servicio = QString::fromLatin1(kServicio), QObject* padre = nullptr);
    ~Notificaciones() override;

    // The process-wide instance on the desktop's server.
    static Notificaciones& centro();

    void registrarCategorias(std::vector<Categoria> categorias);
    const std::vector<Categoria>& categorias() const { return categorias_; }

    // Asks the server who it is: none when one answers, else the reason there is none.
    QCoro::Task<std::optional<QString>> autorizar();
    // Whether the server lets the owner type into a notification (known after the first post).
    QCoro::Task<bool> respuestaEnLinea();

    // Posts (or replaces) a notification; true once the server has taken it.
    QCoro::Task<bool> publicar(Aviso aviso);
    // Closes the delivered notification with that identifier, if it is still shown.
    void retirar(const QString& identificador);

    // Called on the main thread for every action, tap or reply on one of our notifications.
    std::function<void(const Respuesta&)> alResponder;

signals:
    void turnoTerminado();

private:
    struct Entrega {
        QString identificador;
        QString categoria;
        QMap<QString, QString> datos;
        QString titulo;
        QString mostrado;
    };
    QCoro::Task<QStringList> capacidades();
    const Categoria* categoria(const QString& id) const;

private slots:
    void accionInvocada(uint id, const QString& clave);
    void respondida(uint id, const QString& texto);
    void cerrada(uint id, uint motivo);

private:
    QString servicio_;
    std::vector<Categoria> categorias_;
    std::optional<QStringList> capacidades_;
    std::map<QString, uint> porIdentificador_;
    std::map<uint, Entrega> entregas_;
    quint64 turnos_ = 0;     // posts handed out
    quint64 terminados_ = 0; // posts finished: they go out one at a time, so a replacement finds its id
};
