// The chat panel beside the island, the one floating card, the pairing and settings windows and
// the two roads by which a screen capture reaches the chat.
#include "zentu/app/App.h"

#include "plataforma/CapturaZona.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"
#include "compartido/VistaAgentesW.h"
#include "zentu/ajustes/ModeloAjustes.h"
#include "zentu/escritorio/LecturaJson.h"
#include "zentu/escritorio/VentanaRespuesta.h"
#include "zentu/escritorio/VistaAgentesFlotante.h"
#include "zentu/escritorio/VistaDudasFlotante.h"
#include "zentu/isla/Permisos.h"
#include "zentu/voz/Pantalla.h"

#include <QCursor>
#include <QDateTime>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QScreen>
#include <algorithm>

namespace {

void pendiente(const QString& operacion) { Registro::escribir(QStringLiteral("[app] pendiente: ") + operacion); }

}  // namespace

void App::alternarChat() {
    if (panelChat && panelChat->enPantalla()) {
        cerrarChat();
        return;
    }
    PuertoChat* c = asegurarChat();
    if (!c) {
        abrirEnlace();
        return;
    }
    if (!panelChat) {
        QPointer<App> yo(this);
        panelChat = entorno.crearPanelChat(*c, [yo] {
            if (yo) yo->cerrarChat();
        });
        if (!panelChat) {
            pendiente(QStringLiteral("alternarChat"));
            return;
        }
    }
    if (!voz.visible()) {
        voz.setFase(Fase::reposo);
        mostrarIsla();
    }
    recolocarChat();
    panelChat->mostrar();
    actualizarModoChat();
    c->setVecesAbierto(c->vecesAbierto() + 1);
    if (!c->cargado()) c->cargar();
}

void App::recolocarChat() {
    if (!panelChat || !panel) return;
    if (!panelChat->enPantalla() && !voz.visible()) return;
    panelChat->colocar(anclaChat(panel->marco(), panel->escala()));
}

bool App::islaOciosa() const {
    // A call that rings is no mode yet, but its island is what the owner answers it with.
    return modo == Modo::ninguno && !sonando && voz.visible() && !(panelChat && panelChat->enPantalla()) &&
           !menuSinBandejaAbierto();
}

void App::cerrarChat() {
    if (panelChat) panelChat->retirar();
    actualizarModoChat();
    if (voz.visible() && panel) panel->hacerClave();
    if (modo == Modo::ninguno && voz.visible() && !voz.aviso()) {
        despues(0.2, [this] {
            if (islaOciosa()) ocultar();
        });
    }
}

void App::abrirChatCon(const std::optional<QString>& texto, const std::optional<QString>& archivo) {
    PuertoChat* c = asegurarChat();
    if (!c) {
        abrirEnlace();
        return;
    }
    if (texto) {
        const QString antes = c->borrador();
        c->setBorrador(antes.isEmpty() ? *texto : antes + QStringLiteral("\n\n") + *texto);
    }
    std::optional<QString> rechazo;
    if (archivo) rechazo = c->ofrecerArchivo(*archivo);
    if (panelChat && panelChat->enPantalla()) panelChat->hacerClave();
    else alternarChat();
    if (rechazo) {
        Registro::escribir(QStringLiteral("[servicios] archivo rechazado: ") + *rechazo);
        mostrarAviso(*rechazo);
    }
}

void App::mostrarTarjeta(QSizeF tam, bool centrada, const std::function<QWidget*(std::function<void()>)>& contenido,
                         std::optional<QRectF> junto) {
    if (tarjeta) tarjeta->hide();
    QPointer<App> yo(this);
    auto cerrar = [yo] {
        if (yo && yo->tarjeta) yo->tarjeta->hide();
    };
    auto nueva = std::make_unique<PanelFlotante>(tam, contenido(cerrar));
    if (tarjeta) tarjeta.release()->deleteLater();
    tarjeta = std::move(nueva);
    recetaTarjeta = contenido;
    if (junto) tarjeta->mostrarJunto(*junto);
    else if (centrada) tarjeta->mostrarCentrado();
    else tarjeta->mostrarJuntoAlRaton();
}

void App::rehacerTarjeta() {
    if (!tarjeta || !tarjeta->isVisible() || !recetaTarjeta) return;
    QPointer<App> yo(this);
    auto cerrar = [yo] {
        if (yo && yo->tarjeta) yo->tarjeta->hide();
    };
    // The recipe hands the card's model over to the new content before the old one goes.
    tarjeta->cambiarContenido(recetaTarjeta(cerrar));
}

double App::anchoDudas(std::optional<double> anchoVisible) {
    if (!anchoVisible) return 600;
    return std::clamp(*anchoVisible / 2, 560.0, 1100.0);
}

void App::mostrarDudas(std::optional<qint64> abierta, std::optional<qint64> permiso) {
    if (!pendientes) {
        abrirChatCon(std::nullopt, std::nullopt);
        return;
    }
    // A card opened for one question shows that question or nothing of another one.
    if (abierta && !permiso) {
        if (!pendientes->cargado()) {
            dudaPorAbrir_ = abierta;
            return;
        }
        const QList<QJsonObject> dudas = pendientes->listaDudas();
        const bool pendiente = std::any_of(dudas.begin(), dudas.end(), [&](const QJsonObject& d) {
            return lecturaJson::entero(d.value(QLatin1String("id"))) == abierta;
        });
        if (!pendiente) {
            mostrarAviso(QStringLiteral("Esa duda ya está resuelta."));
            return;
        }
    }
    auto* modelo = new ModeloDudas(pendientes->almacen(), abierta, {});
    if (permiso) modelo->setPermisoAbierto(permiso);
    else if (!abierta) {
        const auto permisos = modelo->permisos();
        modelo->setPermisoAbierto(permisos.isEmpty() ? std::nullopt : ModeloDudas::idDe(permisos.first()));
    }
    QPointer<App> yo(this);
    modelo->alSonar = [yo](Sonidos::Cual c) {
        if (yo) yo->sonidos.tocar(c);
    };
    QPointer<ModeloDudas> m(modelo);
    // The latest card follows every change of the pending lists.
    pendientes->alCambiarLista = [m] {
        if (m) m->refrescar();
    };
    if (!modelo->abierta()) {
        const auto lista = modelo->lista();
        modelo->setAbierta(lista.isEmpty() ? std::nullopt : ModeloDudas::idDe(lista.first()));
    }
    QScreen* pantalla = QGuiApplication::screenAt(QCursor::pos());
    if (!pantalla) pantalla = QGuiApplication::primaryScreen();
    const double ancho =
        anchoDudas(pantalla ? std::optional<double>(pantalla->availableGeometry().width()) : std::nullopt);
    mostrarTarjeta(QSizeF(ancho, 0), true, [yo, modelo, ancho](std::function<void()> cerrar) -> QWidget* {
        auto* vista = new VistaDudasFlotante(
            *modelo, cerrar,
            [yo, cerrar] {
                cerrar();
                if (yo) yo->abrirChatCon(std::nullopt, std::nullopt);
            },
            true, ancho);
        // The model lives as long as the card that shows it.
        modelo->setParent(vista);
        return vista;
    });
}

void App::pedirRespuesta(Pendientes::PedidoRespuesta pedido) {
    // Beside the island's pill, where the owner looks for the program (and clear of the chat
    // panel below it), not wherever the pointer happened to be.
    std::optional<QRectF> isla;
    if (panel) isla = anclaChat(panel->marco(), panel->escala());
    mostrarTarjeta(QSizeF(VentanaRespuesta::kAncho, VentanaRespuesta::alto(pedido)), false,
                   [pedido](std::function<void()> cerrar) -> QWidget* { return new VentanaRespuesta(pedido, cerrar); },
                   isla);
    // The owner came to type: the field has the keyboard.
    if (auto* v = tarjeta ? tarjeta->findChild<VentanaRespuesta*>() : nullptr) v->campo()->setFocus(Qt::OtherFocusReason);
}

void App::mostrarAgentes() {
    if (!widgets) {
        abrirEnlace();
        return;
    }
    QPointer<PuertoWidgets> w(widgets.get());
    auto* modelo = new ModeloAgentes(
        widgets->foto().agentes.value_or(std::vector<Instantanea::Agente>{}),
        [w](qint64 id, bool activo) -> QCoro::Task<std::optional<QString>> {
            if (!w) co_return QStringLiteral("Sin conexión con Zentu.");
            co_return co_await w->cambiarAgente(id, activo);
        });
    QPointer<ModeloAgentes> m(modelo);
    QPointer<App> yo(this);
    widgets->alCambiarAgentes = [m, yo](const std::vector<Instantanea::Agente>& lista) {
        if (m) m->setLista(VistaAgentesW::ordenados(lista));
        if (yo) yo->montarMenu();
    };
    widgets->pedirAgentes();
    mostrarTarjeta(QSizeF(VistaAgentesFlotante::ancho, VistaAgentesFlotante::alto), true,
                   [modelo](std::function<void()> cerrar) -> QWidget* {
                       auto* vista = new VistaAgentesFlotante(*modelo, cerrar);
                       modelo->setParent(vista);
                       return vista;
                   });
}

ModeloEnlace& App::modeloEnlace() {
    if (!enlace) {
        enlace = std::make_unique<ModeloEnlace>(reloj);
        QPointer<App> yo(this);
        enlace->alEnlazar = [yo](const Cuenta& c) {
            if (yo) yo->enlazada(c);
        };
    }
    return *enlace;
}

void App::abrirEnlace() {
    modeloEnlace();
    if (!ventanaEnlace) ventanaEnlace = entorno.crearVentanaEnlace(*enlace);
    enlace->reiniciar();
    if (ventanaEnlace) ventanaEnlace->mostrar();
}

void App::abrirAjustes() {
    if (!ventanaAjustes) {
        auto* teclas = qobject_cast<Atajos*>(atajos.get());
        if (!teclas) return;  // start-up makes the hot keys before any road here exists
        QPointer<App> yo(this);
        auto modelo = std::make_unique<ModeloAjustes>(
            *teclas, voz, sonidos.activos(), [yo]() -> std::optional<Cuenta> { return yo ? yo->cuenta : std::nullopt; },
            [yo] {
                if (yo) yo->desenlazar();
            },
            [yo](bool b) {
                Preferencias::almacen().setValue(QStringLiteral("zentu.sinSonidos"), !b);
                if (!yo) return;
                yo->sonidos.setActivos(b);
                yo->montarMenu();
            },
            [yo] {
                Preferencias::almacen().remove(QStringLiteral("zentu.isla.sitio"));
                if (yo && yo->voz.visible() && yo->panel) yo->panel->colocar();
            });
        modelo->accion = [yo](const QString& nombre) {
            if (yo) yo->accionRapida(nombre);
        };
        modelo->cambiarAgente = [yo](qint64 id, bool activo) -> QCoro::Task<std::optional<QString>> {
            if (!yo || !yo->widgets) co_return ModeloAjustes::textoNoEnlazada;
            QPointer<PuertoWidgets> w(yo->widgets.get());
            co_return co_await w->cambiarAgente(id, activo);
        };
        modelo->abrirAlIniciarSesion = [yo](bool b) {
            if (yo) yo->abrirAlIniciarSesion(b);
        };
        modelo->estadoInicioSesion = [yo] { return yo && yo->entorno.alIniciarSesion(); };
        modelo->encenderFnControl = [yo](bool b) {
            if (yo) yo->entorno.encenderAcorde(b);
        };
        ventanaAjustes = entorno.crearVentanaAjustes(*modelo);
        if (!ventanaAjustes) return;
        QPointer<ModeloAjustes> m(modelo.get());
        ventanaAjustes->alVisible = [m](bool v) {
            if (m) m->setVentanaVisible(v);
        };
        ventanaAjustes->alCerrar = [yo, m] {
            if (m) {
                m->setVentanaVisible(false);
                m->parar();
            }
            if (yo) yo->montarMenu();
        };
        modeloAjustes = std::move(modelo);
    }
    if (auto* m = qobject_cast<ModeloAjustes*>(modeloAjustes.get())) m->setVentanaVisible(true);
    ventanaAjustes->mostrar();
}

void App::accionRapida(const QString& nombre) {
    if (nombre == QLatin1String("llamada")) {
        if (modo != Modo::llamada) alternarLlamada();
    } else if (nombre == QLatin1String("chat")) {
        abrirChatCon(std::nullopt, std::nullopt);
    } else if (nombre == QLatin1String("pantalla") || nombre == QLatin1String("zona")) {
        [](QPointer<App> app, bool pantalla) -> QCoro::Task<void> {
            const bool funciona = co_await app->entorno.probarPantalla();
            if (!app) co_return;
            if (!funciona) {
                // Where the desktop offers no capture at all, asking does nothing: say so.
                if (!Permiso::pantallaOfrecida()) app->avisarSinPantalla();
                else app->entorno.pedirPermisoPantalla();
                co_return;
            }
            // The settings window steps aside so that it is not in the picture.
            if (app->ventanaAjustes) app->ventanaAjustes->retirar();
            app->despues(0.35, [app, pantalla] {
                if (!app) return;
                if (pantalla) app->verPantallaEnChat();
                else app->zonaEnChat();
            });
        }(QPointer<App>(this), nombre == QLatin1String("pantalla"));
    }
}

void App::verPantallaEnChat() {
    if (!cuenta) {
        abrirEnlace();
        return;
    }
    [](QPointer<App> app) -> QCoro::Task<void> {
        const CapturaDePantalla r = co_await app->entorno.capturarPantalla();
        if (!app) co_return;
        if (r.ruta) {
            app->sonidos.tocar(Sonidos::Cual::captura);
            app->abrirChatCon(std::nullopt, *r.ruta);
        } else if (r.sinPermiso) {
            app->avisarSinPantalla();
        } else {
            app->mostrarAviso(r.error);
        }
    }(QPointer<App>(this));
}

void App::avisarSinPantalla() {
    if (!voz.visible()) {
        voz.setFase(Fase::reposo);
        mostrarIsla();
    }
    // A desktop that offers no capture (Wayland without a Screenshot portal) has nothing to grant.
    if (!Permiso::pantallaOfrecida()) {
        mostrarAviso(Pantalla::descripcion(Pantalla::Fallo::sinCaptura));
        return;
    }
    // No desktop here grants capture once and for all, so there is nothing to relaunch for:
    // the owner is told and sent to the settings that govern it.
    mostrarAviso(QStringLiteral("Falta el permiso de grabación de pantalla."));
    entorno.pedirPermisoPantalla();
}

void App::zonaEnChat() {
    if (!cuenta) {
        abrirEnlace();
        return;
    }
    QPointer<App> yo(this);
    [](QPointer<App> app) -> QCoro::Task<void> {
        const bool funciona = co_await app->entorno.probarPantalla();
        if (!app) co_return;
        if (funciona) app->capturarZona();
        else app->avisarSinPantalla();
    }(yo);
}

void App::capturarZona() {
    const qint64 segundos = reloj.ahora().toSecsSinceEpoch();
    QString ruta = carpetaTemporal() + QStringLiteral("/zentu-zona-%1.png").arg(segundos);
    for (int n = 2; QFileInfo::exists(ruta); ++n)
        ruta = carpetaTemporal() + QStringLiteral("/zentu-zona-%1-%2.png").arg(segundos).arg(n);
    QPointer<App> yo(this);
    const bool lanzada = CapturaZona::capturar(ruta, this, [yo, ruta](bool escrita) {
        if (!yo) return;
        if (escrita) {
            yo->sonidos.tocar(Sonidos::Cual::captura);
            Registro::escribir(QStringLiteral("[zona] capturada"));
            yo->abrirChatCon(std::nullopt, ruta);
        } else {
            Registro::escribir(QStringLiteral("[zona] cancelada"));
        }
    });
    if (!lanzada) mostrarAviso(QStringLiteral("No se pudo capturar la pantalla."));
}
