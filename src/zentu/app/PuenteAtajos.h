#pragma once

#include <QString>
#include <QStringList>
#include <QCoroTask>
#include <functional>
#include <optional>

// Why an automation action failed, with the text the caller shows.
enum class FalloAtajo { envio, sinCuenta, sinRespuesta, ocupado, sinSaberAun, cerrado };

// What one automation action answers: on success the dialog text (and, for the pending
// summary, the total); on failure the failure's text.
struct ResultadoAtajo {
    bool ok = false;
    QString texto;
    int valor = 0;

    static ResultadoAtajo exito(QString dialogo, int valor = 0) { return {true, std::move(dialogo), valor}; }
    static ResultadoAtajo fallo(FalloAtajo caso, const QString& detalle = {});
};

// "No se pudo enviar: …", "Abre Zentu AI en este equipo y enlázalo con tu cuenta primero.",
// "Zentu no contestó a tiempo. Mira el chat en un momento.",
// "Zentu aún contesta otra pregunta. Vuelve a preguntar en un momento.",
// "Zentu AI aún no sabe qué tienes pendiente. Vuelve a preguntar en un momento.",
// "Zentu AI se cerró antes de terminar. Ábrelo de nuevo y mira el chat."
QString textoFallo(FalloAtajo caso, const QString& detalle = {});

// The process-wide bridge through which automation (the D-Bus interface and its command-line
// switches) reaches the running program. The shell fills the closures each time it binds a live
// channel; before that every action fails as not paired.
class PuenteAtajos {
public:
    static PuenteAtajos& compartido();

    struct Resumen {
        int total = 0;
        QStringList dudas;
        // False until the pending list has come from the service: a total of 0 then means
        // "not known yet", never "all clear".
        bool conocido = true;
    };

    std::function<QCoro::Task<std::optional<QString>>(QString pregunta)> preguntar;
    // None when the file went out, else the chat's reason.
    std::function<QCoro::Task<std::optional<QString>>(QString ruta, QString texto)> enviarArchivo;
    std::function<Resumen()> pendientes;
    std::function<void(QString ruta)> abrir;
    // Starts a call and waits until it is connected (none) or has failed (its reason).
    std::function<QCoro::Task<std::optional<QString>>()> llamar;
    // Whether an account is paired now. After unpairing the closures above stay filled but find
    // nothing to talk to; without this the summary would reassure and the links pretend success.
    std::function<bool()> enlazada;

    // The five actions. One question at a time: while one waits for its answer, another is
    // refused at once (`ocupado`) and never sent, since an answer cannot tell which it answers.
    QCoro::Task<ResultadoAtajo> preguntarAZentu(QString pregunta);
    QCoro::Task<ResultadoAtajo> llamarAZentu();
    ResultadoAtajo abrirChatDeZentu();
    ResultadoAtajo verPendientesDeZentu();
    // Sends a copy of the file at `ruta`, made under its own name in a private temporary folder
    // that is removed afterwards, whatever happened. A file the chat would refuse (unreadable,
    // over its size limit) is refused first, without being copied; the copy is made away from
    // the main thread.
    QCoro::Task<ResultadoAtajo> enviarArchivoAZentu(QString ruta, QString mensaje);

    // "No tienes nada pendiente. Todo al día.", "Tienes 1 pendiente: …", "Tienes 5 pendientes.\n1. …"
    static QString resumen(int total, const QStringList& dudas);

    // Removes from `carpeta` the folders of sends whose program ended before it could (killed
    // midway): every "zentu-atajos-…" folder of this user but those named after another running
    // process. Returns how many went. Run once at start.
    static int limpiarRestos(const QString& carpeta);
    static QString prefijoCarpeta() { return QStringLiteral("zentu-atajos-"); }

    // The name a received file keeps: its last component; empty, "." or ".." become "archivo".
    static QString nombreSeguro(const QString& ruta);

    // Empties every closure (tests).
    void vaciar();

private:
    bool sinCuenta() const;
    bool preguntando_ = false;
};
