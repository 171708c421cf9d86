#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// The ways the rest of the desktop reaches the running program without its windows: links of
// the "zuzadari" scheme (widgets, automation) and files or text sent to it ("Enviar a Zentu AI").
// The shell hands in what each door does; this only decides which.
namespace Puertas {

enum class Destino { ninguno, llamada, chat, nota, conversar, pendientes, duda, creditos, dia, agentes };

struct Ruta {
    QString host;                 // as written in the link; empty when it has none
    Destino destino = Destino::ninguno;
    std::optional<qint64> id;     // "duda": the last path component, when it is an integer
};

// None for anything that is not a "zuzadari" link.
std::optional<Ruta> leer(const QString& enlace);

struct Acciones {
    std::function<bool()> enLlamada;
    std::function<void()> alternarLlamada;
    std::function<void()> abrirChat;
    std::function<bool()> chatVisible;
    std::function<void()> notaDeVoz;
    std::function<void()> conversarDesdeElChat;
    std::function<void(std::optional<qint64>)> mostrarDudas;
    std::function<void()> tarjetaCreditos;
    std::function<void()> tarjetaDia;
    std::function<void()> mostrarAgentes;
};

// Where a link came from, as the log line says it.
enum class Origen {
    widget,          // the widget host opened it
    argumentos,      // a start of `zentu` with it (a command line, a browser, another program)
    automatizacion,  // the automation interface and its switches
};

// Routes the first link of the list: logs where it came from and its host ("[enlace] abierto
// desde un widget: <host>" for a widget's), or that it leads nowhere, and does what the host names.
void abrir(const QStringList& enlaces, const Acciones& acciones, Origen origen = Origen::widget);

// The argument a start of `zentu` carries when the widget host opened its link.
inline constexpr const char* kDesdeWidget = "--desde-widget";

// Text handed to the chat: every line behind "> ", then two line feeds.
QString citar(const QString& texto);

struct Recepcion {
    std::function<void(std::optional<QString> texto, std::optional<QString> archivo)> abrirChatCon;
    std::function<void()> sonarRecibido;
};

// Files first (only the first one goes to the chat); otherwise the trimmed text, quoted.
void recibir(const QStringList& archivos, const QString& texto, const Recepcion& recepcion);

// A file name as the caller meant it, made absolute from the caller's folder `carpeta`: the
// running program has another working folder, and Qt takes a name that begins with ":" for one
// of its own resources.
QString absoluta(const QString& ruta, const QString& carpeta);

// What "Enviar a Zentu AI" hands the program: "--enviar-a-zentu" followed by the files, or
// "--enviar-texto" whose text comes on standard input. `preparar` runs in the process that was
// started (before it hands its arguments to the running one): the files become absolute paths
// (from `carpeta`, the caller's working folder when not given) and the text read from standard
// input follows its switch.
QStringList preparar(const QStringList& argumentos, const std::function<QString()>& leerEntrada,
                     const QString& carpeta = {});
struct Envio {
    QStringList archivos;
    QString texto;
};
// None when the prepared arguments carry nothing to send.
std::optional<Envio> envio(const QStringList& argumentos);

}  // namespace Puertas
