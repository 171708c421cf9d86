// The doors through which the rest of the desktop reaches the running program: links of the
// "zuzadari" scheme, the automation bridge and files or text sent to it.
#include "zentu/app/App.h"

#include <QDir>
#include "zentu/app/PuenteAtajos.h"

#include <QCoroSignal>
#include <chrono>
#include "zentu/app/Puertas.h"
#include "zentu/app/ServicioAtajos.h"
#include "zentu/isla/VistaCreditosFlotante.h"
#include "zentu/isla/VistaDiaFlotante.h"

#include "plataforma/Registro.h"

namespace {

// The cards opened from links show the feeder's snapshot, else the file's, else an empty one.
Instantanea fotoParaTarjeta(const App& app) {
    if (app.widgets) return app.widgets->foto();
    return Instantanea::leer();
}

}  // namespace

void App::abrirEnlaces(const QStringList& enlaces, Puertas::Origen origen) {
    QPointer<App> yo(this);
    auto con = [yo](void (App::*metodo)()) {
        return [yo, metodo] {
            if (yo) (yo.data()->*metodo)();
        };
    };
    Puertas::Acciones a;
    a.enLlamada = [yo] { return yo && yo->modo == Modo::llamada; };
    a.alternarLlamada = con(&App::alternarLlamada);
    a.abrirChat = [yo] {
        if (yo) yo->abrirChatCon(std::nullopt, std::nullopt);
    };
    a.chatVisible = [yo] { return yo && yo->panelChat && yo->panelChat->enPantalla(); };
    a.notaDeVoz = con(&App::notaDeVoz);
    a.conversarDesdeElChat = con(&App::conversarDesdeElChat);
    a.mostrarDudas = [yo](std::optional<qint64> id) {
        if (yo) yo->mostrarDudas(id, std::nullopt);
    };
    a.tarjetaCreditos = [yo] {
        if (!yo) return;
        const Instantanea foto = fotoParaTarjeta(*yo);
        yo->mostrarTarjeta(QSizeF(320, 300), false,
                           [foto](std::function<void()> cerrar) { return new VistaCreditosFlotante(foto, cerrar); });
    };
    a.tarjetaDia = [yo] {
        if (!yo) return;
        const Instantanea foto = fotoParaTarjeta(*yo);
        yo->mostrarTarjeta(QSizeF(380, 440), false,
                           [foto](std::function<void()> cerrar) { return new VistaDiaFlotante(foto, cerrar); });
    };
    a.mostrarAgentes = con(&App::mostrarAgentes);
    Puertas::abrir(enlaces, a, origen);
}

void App::conectarAtajos(PuertoChat& c) {
    QPointer<App> yo(this);
    QPointer<PuertoChat> modelo(&c);
    PuenteAtajos& puente = PuenteAtajos::compartido();
    puente.preguntar = [modelo](QString pregunta) -> QCoro::Task<std::optional<QString>> {
        if (!modelo) co_return std::nullopt;
        auto tarea = modelo->preguntarYEsperar(std::move(pregunta), 90);
        co_return co_await std::move(tarea);
    };
    puente.enviarArchivo = [modelo](QString ruta, QString texto) -> QCoro::Task<std::optional<QString>> {
        if (!modelo) co_return QStringLiteral("Sin conexión con Zentu.");
        auto tarea = modelo->enviarArchivo(std::move(ruta), std::move(texto));
        co_return co_await std::move(tarea);
    };
    puente.pendientes = [yo]() {
        PuenteAtajos::Resumen r;
        if (!yo) return r;
        r.total = int(yo->totalPendientes);
        r.conocido = yo->pendientes && yo->pendientes->conocido();
        if (yo->pendientes)
            for (const QJsonObject& d : yo->pendientes->listaDudas())
                if (d.value(QStringLiteral("question")).isString()) r.dudas << d.value(QStringLiteral("question")).toString();
        return r;
    };
    puente.abrir = [yo](QString ruta) {
        if (yo) yo->abrirEnlaces({QStringLiteral("zuzadari://") + ruta}, Puertas::Origen::automatizacion);
    };
    puente.llamar = [yo]() -> QCoro::Task<std::optional<QString>> {
        if (!yo) co_return std::nullopt;
        const PuertoLlamada* antes = yo->llamada.get();
        yo->abrirEnlaces({QStringLiteral("zuzadari://llamada")}, Puertas::Origen::automatizacion);
        // No new call (one was already in progress): nothing to wait for.
        if (!yo || !yo->llamada || yo->llamada.get() == antes) co_return std::nullopt;
        const auto decidida = co_await qCoro(yo.data(), &App::llamadaDecidida, std::chrono::seconds(30));
        // Still connecting after that long: the island goes on with it.
        if (!decidida) co_return std::nullopt;
        const auto& [conectada, motivo] = *decidida;
        if (conectada) co_return std::nullopt;
        co_return motivo;
    };
    puente.enlazada = [yo] { return yo && yo->cuenta.has_value(); };
    puentePreguntar = puente.preguntar;
    puentePendientes = [yo] {
        const PuenteAtajos::Resumen r = PuenteAtajos::compartido().pendientes ? PuenteAtajos::compartido().pendientes()
                                                                               : PuenteAtajos::Resumen{};
        return std::pair<int, QStringList>(r.total, r.dudas);
    };
}

void App::instalarServicios() {
    // Automation reaches the running program on the session bus; without a bus there is none.
    // What a send killed midway left behind; nothing is being sent yet.
    if (const int n = PuenteAtajos::limpiarRestos(QDir::tempPath()))
        Registro::escribir(QStringLiteral("[atajos] copias de envíos interrumpidos borradas: %1").arg(n));
    auto* servicio = new ServicioAtajos(PuenteAtajos::compartido(), this);
    if (!servicio->registrar()) Registro::escribir(QStringLiteral("[atajos] sin bus de sesión: sin automatización"));
}

void App::recibirEnvio(const QStringList& archivos, const QString& texto) {
    QPointer<App> yo(this);
    Puertas::Recepcion r;
    r.abrirChatCon = [yo](std::optional<QString> t, std::optional<QString> a) {
        if (yo) yo->abrirChatCon(t, a);
    };
    r.sonarRecibido = [yo] {
        if (yo) yo->sonidos.tocar(Sonidos::Cual::recibido);
    };
    Puertas::recibir(archivos, texto, r);
}

void App::soltarArchivo(const QString& ruta) {
    Registro::escribir(QStringLiteral("[orbe] archivo soltado"));
    sonidos.tocar(Sonidos::Cual::recibido);
    abrirChatCon(std::nullopt, ruta);
}
