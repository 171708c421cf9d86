// The tray icon with its menu and pending count, and the updater.
#include "zentu/app/Actualizaciones.h"
#include "zentu/app/App.h"
#include "zentu/app/Bandeja.h"
#include "plataforma/TeclasGlobales.h"
#include "plataforma/VentanasEscritorio.h"

#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
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
    datos.llamada = atajoQueFunciona(Atajos::Cual::llamada);
    datos.conversacion = atajoQueFunciona(Atajos::Cual::conversacion);
    datos.pantalla = atajoQueFunciona(Atajos::Cual::pantalla);
    datos.zona = atajoQueFunciona(Atajos::Cual::zona);
    datos.chat = atajoQueFunciona(Atajos::Cual::chat);
    datos.cuenta = cuenta;
    if (widgets) datos.agentes = widgets->foto().agentes;
    if (auto* bandeja = qobject_cast<Bandeja*>(item.get())) bandeja->montar(datos);
}

std::optional<Combinacion> App::atajoQueFunciona(Atajos::Cual cual) const {
    // A Wayland session hands no global keys to programs: none is offered as if it worked.
    if (TeclasGlobales::sesionWayland()) return std::nullopt;
    if (auto* teclas = qobject_cast<Atajos*>(atajos.get()); teclas && !teclas->registrada(cual)) return std::nullopt;
    return Atajos::combinacion(cual);
}

void App::avisarAtajosOcupados() {
    auto* teclas = qobject_cast<Atajos*>(atajos.get());
    if (!teclas || TeclasGlobales::sesionWayland()) return;
    QStringList combinaciones, acciones;
    for (Atajos::Cual cual : Atajos::todas) {
        if (teclas->registrada(cual)) continue;
        combinaciones << Atajos::combinacion(cual).texto();
        acciones << Atajos::nombreDe(cual);
    }
    if (combinaciones.isEmpty()) return;
    const auto enumerar = [](const QStringList& l) {
        return l.size() == 1 ? l.first() : l.mid(0, l.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" y ") + l.last();
    };
    // Said once, as the program starts: the menu and the settings then show the action without it.
    mostrarAviso(QStringLiteral("El escritorio se queda con ") + enumerar(combinaciones) +
                 (combinaciones.size() == 1 ? QStringLiteral(": elige otra combinación para ")
                                            : QStringLiteral(": elige otras combinaciones para ")) +
                 enumerar(acciones) + QStringLiteral(" en Abrir Zentu AI › Atajos."));
}

bool App::hayBandeja() const { return Bandeja::disponible(); }

void App::menuSinBandeja(std::optional<QPoint> donde) {
    auto* bandeja = qobject_cast<Bandeja*>(item.get());
    if (!bandeja) return;
    // Told once, at a quiet moment: a notice resets the island's phase.
    if (!sinBandejaDicho_ && modo == Modo::ninguno && !sonando) {
        sinBandejaDicho_ = true;
        mostrarAviso(QStringLiteral("Tu barra no muestra iconos: haz clic derecho en la isla o abre Zentu AI "
                                    "otra vez para ver su menú."));
    }
    if (QMenu* menu = bandeja->menu(); menu && !menuSinBandejaAtado_) {
        menuSinBandejaAtado_ = true;
        // The island shown with the menu waits for it (hiding a window of ours while the menu is
        // up closes the menu on some desktops): it goes once the owner is done with the menu.
        connect(menu, &QMenu::aboutToHide, this, [this] {
            despues(0.2, [this] {
                if (islaOciosa() && !voz.aviso()) ocultar();
            });
        });
    }
    if (!donde) donde = VentanasEscritorio::puntero();
    if (!donde) {
        // The pointer's place is not known: the menu opens in the middle of the screen, in sight.
        if (QScreen* s = QGuiApplication::primaryScreen()) {
            const QSize tam = bandeja->menu() ? bandeja->menu()->sizeHint() : QSize();
            donde = s->availableGeometry().center() - QPoint(tam.width() / 2, tam.height() / 2);
        }
    }
    bandeja->mostrarMenu(donde.value_or(QPoint()));
}

bool App::menuSinBandejaAbierto() const {
    auto* bandeja = qobject_cast<Bandeja*>(item.get());
    return bandeja && bandeja->menu() && bandeja->menu()->isVisible();
}

void App::pintarContador() {
    if (auto* bandeja = qobject_cast<Bandeja*>(item.get())) bandeja->pintarContador(int(std::clamp<qint64>(totalPendientes, -1, 1 << 30)));
}
