// The tray icon with its menu and pending count, and the updater.
#include "zentu/app/Actualizaciones.h"
#include "zentu/app/App.h"
#include "zentu/app/Bandeja.h"

#include <QCursor>
#include <algorithm>

namespace {

// Pauses or resumes an agent from the menu, then rebuilds the menu whatever the outcome.
QCoro::Task<void> alternarAgente(QPointer<App> yo, qint64 id) {
    if (!yo || !yo->widgets) co_return;
    const Instantanea foto = yo->widgets->foto();
    if (!foto.agentes) co_return;
    const auto it = std::find_if(foto.agentes->begin(), foto.agentes->end(),
                                 [id](const Instantanea::Agente& a) { return a.id == id; });
    if (it == foto.agentes->end()) co_return;
    const Instantanea::Agente agente = *it;
    auto tarea = yo->widgets->cambiarAgente(agente.id, !agente.activo);
    const std::optional<QString> error = co_await std::move(tarea);
    if (!yo) co_return;
    if (error)
        yo->mostrarAviso(QStringLiteral("No se pudo cambiar a ") + agente.nombre + QStringLiteral(": ") + *error);
    else
        yo->sonidos.tocar(agente.activo ? Sonidos::Cual::descartado : Sonidos::Cual::hecho);
    yo->montarMenu();
}

}  // namespace

void App::crearActualizaciones() {
    auto a = std::make_unique<Actualizaciones>();
    QPointer<App> yo(this);
    a->alAvisar = [yo](const QString& texto) {
        if (yo) yo->mostrarAviso(texto);
    };
    actualizaciones = std::move(a);
}

void App::montarMenu() {
    QPointer<App> yo(this);
    if (!item) {
        auto bandeja = std::make_unique<Bandeja>();
        bandeja->alElegir = [yo](MenuBandeja::Accion accion, qint64 etiqueta) {
            if (!yo) return;
            using A = MenuBandeja::Accion;
            switch (accion) {
            case A::ninguna: break;
            case A::llamada: yo->alternarLlamada(); break;
            case A::chat: yo->alternarChat(); break;
            case A::pantalla: yo->verPantallaEnChat(); break;
            case A::zona: yo->zonaEnChat(); break;
            case A::ajustes: yo->abrirAjustes(); break;
            case A::actualizaciones:
                if (auto* a = qobject_cast<Actualizaciones*>(yo->actualizaciones.get())) a->buscar();
                break;
            case A::enlazar: yo->abrirEnlace(); break;
            case A::salir: yo->salir(); break;
            case A::agentes: yo->mostrarAgentes(); break;
            case A::alternarAgente: alternarAgente(yo, etiqueta); break;
            }
        };
        item = std::move(bandeja);
    }
    MenuBandeja::Datos datos;
    datos.llamada = Atajos::combinacion(Atajos::Cual::llamada);
    datos.conversacion = Atajos::combinacion(Atajos::Cual::conversacion);
    datos.pantalla = Atajos::combinacion(Atajos::Cual::pantalla);
    datos.zona = Atajos::combinacion(Atajos::Cual::zona);
    datos.chat = Atajos::combinacion(Atajos::Cual::chat);
    datos.cuenta = cuenta;
    if (widgets) datos.agentes = widgets->foto().agentes;
    if (auto* bandeja = qobject_cast<Bandeja*>(item.get())) bandeja->montar(datos);
}

bool App::hayBandeja() const { return Bandeja::disponible(); }

void App::menuSinBandeja(std::optional<QPoint> donde) {
    auto* bandeja = qobject_cast<Bandeja*>(item.get());
    if (!bandeja) return;
    // Told once, at a quiet moment: a notice resets the island's phase.
    if (!sinBandejaDicho_ && modo == Modo::ninguno && !sonando) {
        sinBandejaDicho_ = true;
        mostrarAviso(QStringLiteral("Tu barra no muestra iconos: abre Zentu AI otra vez para ver su menú."));
    }
    bandeja->mostrarMenu(donde.value_or(QCursor::pos()));
}

void App::pintarContador() {
    if (auto* bandeja = qobject_cast<Bandeja*>(item.get())) bandeja->pintarContador(int(std::clamp<qint64>(totalPendientes, -1, 1 << 30)));
}
