// The live channel's set of components, pairing and unpairing, and the calls agents place.
#include "zentu/app/App.h"

#include "plataforma/Registro.h"
#include "zentu/escritorio/LecturaJson.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonValue>
#include <utility>

namespace {

constexpr double kCadaTimbre = 2.2;
constexpr double kTopeTimbre = 45;

// A whole number in the 64-bit range, checked before it is converted (1e300 is no query id).
std::optional<qint64> entero(const QJsonObject& d, const QString& clave) {
    return lecturaJson::entero(d.value(clave));
}

}  // namespace

PuertoChat* App::asegurarChat() {
    if (chat) return chat.get();
    if (!cuenta) return nullptr;
    auto nuevoCanal = entorno.crearCanal(*cuenta);
    if (!nuevoCanal) return nullptr;
    auto nuevoChat = entorno.crearChat(*nuevoCanal);
    if (!nuevoChat) return nullptr;
    QPointer<App> yo(this);
    nuevoChat->alSonar = [yo](Sonidos::Cual cual) {
        if (!yo) return;
        // An agent's message is heard only while the written chat is on screen.
        if (cual == Sonidos::Cual::llego &&
            !(yo->panelChat && yo->panelChat->enPantalla() && yo->modo != Modo::conversacion))
            return;
        yo->sonidos.tocar(cual);
    };
    canal = std::move(nuevoCanal);
    chat = std::move(nuevoChat);
    chat->alCambiarAgente = [yo] {
        if (yo) yo->actualizarModoChat();
    };
    // Captures this run made for the chat are gone once sent (or taken off the staged list).
    chat->alDejarPendientes = [yo](const QStringList& rutas) {
        if (!yo) return;
        const QString propia = QDir(yo->carpetaTemporal()).absolutePath() + QLatin1Char('/');
        for (const QString& r : rutas)
            if (QFileInfo(r).absoluteFilePath().startsWith(propia)) QFile::remove(r);
    };
    observadorAgente = true;
    actualizarModoChat();
    atarAlCanal(*chat);
    canal->conectar();
    return chat.get();
}

void App::atarAlCanal(PuertoChat& c) {
    if (!cuenta) return;
    CanalEnVivo& canalDelChat = c.canal();
    QPointer<App> yo(this);

    widgets = entorno.crearWidgets(*cuenta, canalDelChat);
    if (widgets) {
        widgets->alCambiarAgentes = [yo](const std::vector<Instantanea::Agente>&) {
            if (yo) yo->montarMenu();
        };
    }

    pendientes = entorno.crearPendientes(*cuenta, canalDelChat);
    if (pendientes) {
        pendientes->alCambiar = [yo](int total, const QList<QJsonObject>& dudas, int permisos) {
            if (!yo) return;
            if (yo->widgets) yo->widgets->pendientes(total, dudas, permisos);
            // A link that came before the first load is answered now that the lists say what waits.
            if (yo->dudaPorAbrir_ && yo->pendientes && yo->pendientes->cargado())
                yo->mostrarDudas(std::exchange(yo->dudaPorAbrir_, std::nullopt), std::nullopt);
        };
        pendientes->alCambiarTotal = [yo](int total) {
            if (!yo) return;
            yo->totalPendientes = total;
            yo->pintarContador();
        };
        pendientes->alAbrirChat = [yo] {
            if (yo) yo->abrirChatCon(std::nullopt, std::nullopt);
        };
        pendientes->alAbrirPermiso = [yo](qint64 id) {
            if (yo) yo->mostrarDudas(std::nullopt, id);
        };
        pendientes->alSonar = [yo](Sonidos::Cual cual) {
            if (yo) yo->sonidos.tocar(cual);
        };
        pendientes->alPedirRespuesta = [yo](Pendientes::PedidoRespuesta pedido) {
            if (yo) yo->pedirRespuesta(std::move(pedido));
        };
    }

    conectarAtajos(c);

    enMiMac = entorno.crearEnMiMac(*cuenta, canalDelChat);
    if (enMiMac) {
        enMiMac->alHacer = [yo] {
            if (yo) yo->sonidos.tocar(Sonidos::Cual::recibido);
        };
    }

    // Each listener checks its payload at once and leaves the rest for a later turn.
    auto diferir = [yo](std::function<void(App&)> accion) {
        QMetaObject::invokeMethod(
            yo.data(), [yo, accion] { if (yo) accion(*yo); }, Qt::QueuedConnection);
    };
    canalDelChat.on(QStringLiteral("llamada:entrante"), [diferir](std::optional<QJsonValue> v) {
        if (!v || !v->isObject()) return;
        const QJsonObject d = v->toObject();
        diferir([d](App& app) { app.entrante(d); });
    });
    canalDelChat.on(QStringLiteral("llamada:cancelada"), [diferir](std::optional<QJsonValue> v) {
        if (!v || !v->isObject()) return;
        const auto id = entero(v->toObject(), QStringLiteral("consultaId"));
        if (!id) return;
        diferir([id](App& app) {
            if (!app.sonando || app.sonando->consulta != *id) return;
            app.dejarDeSonar();
            app.ocultar();
        });
    });
    canalDelChat.on(QStringLiteral("llamada:estado"), [diferir](std::optional<QJsonValue> v) {
        if (!v || !v->isObject()) return;
        const QJsonValue enCurso = v->toObject().value(QStringLiteral("enCurso"));
        if (!enCurso.isBool() || !enCurso.toBool()) return;
        diferir([](App& app) {
            if (!app.sonando || app.modo == Modo::llamada) return;
            app.dejarDeSonar();
            app.ocultar();
        });
    });
}

void App::entrante(const QJsonObject& d) {
    const auto consulta = entero(d, QStringLiteral("consultaId"));
    const QJsonValue agenteV = d.value(QStringLiteral("agente"));
    if (!consulta || !d.contains(QStringLiteral("pregunta")) || !agenteV.isString() || sonando ||
        modo != Modo::ninguno || !cuenta) {
        Registro::escribir(QStringLiteral("[entrante] ignorada (ocupado o incompleta)"));
        return;
    }
    const QString agente = agenteV.toString();
    Registro::escribir(QStringLiteral("[entrante] suena: ") + agente + QStringLiteral(" · duda ") +
                       QString::number(*consulta));
    sonando = Sonando{agente, *consulta, *cuenta};
    voz.setTimbre(QString(agente).replace(QLatin1Char('_'), QLatin1Char(' ')));
    voz.setFase(Fase::timbrando);
    // The ring comes unasked, while the owner may be typing elsewhere: the island shows without
    // taking the keyboard, so Enter and Escape answer and decline only once the owner gives it
    // the keyboard (or through the pill's buttons and the hot keys).
    mostrarIsla(false);
    sonidos.tocar(Sonidos::Cual::timbre);
    timbreTimer = reloj.programar(kCadaTimbre, this, [this] { sonarTimbre(); });
    timbreTope = reloj.programar(kTopeTimbre, this, [this] { rechazar(QStringLiteral("dejó de sonar")); });
}

void App::sonarTimbre() {
    if (!sonando) return;
    sonidos.tocar(Sonidos::Cual::timbre);
    timbreTimer = reloj.programar(kCadaTimbre, this, [this] { sonarTimbre(); });
}

void App::dejarDeSonar() {
    timbreTimer.cancelar();
    timbreTope.cancelar();
    sonando.reset();
    voz.setTimbre(std::nullopt);
}

void App::informarSinContestar(const Cuenta& de, qint64 consulta, const QString& motivo) {
    entorno.avisarAlServicio(de, QStringLiteral("/api/dudas/%1/sin-contestar").arg(consulta), QStringLiteral("POST"),
                             QJsonObject{{QStringLiteral("motivo"), motivo}});
}

void App::contestar() {
    if (!sonando || !cuenta) return;
    const Sonando s = *sonando;
    dejarDeSonar();
    Registro::escribir(QStringLiteral("[entrante] contestada"));
    // One call at a time: whatever ran before gives way to the agent's.
    if (llamada) {
        PuertoLlamada* vieja = llamada.get();
        sinLlamada(vieja);
        vieja->colgar();
    }
    if (conversacion) conversacion->cancelar(true);
    modo = Modo::llamada;
    actualizarModoChat();
    voz.setFase(Fase::conectando);

    llamada = entorno.crearLlamada(s.cuenta, s.agente, s.consulta);
    if (!llamada) return;
    QPointer<App> yo(this);
    QPointer<PuertoLlamada> esta(llamada.get());
    Entorno* ent = &entorno;
    llamada->alCambiarFase = [yo](Fase f) {
        if (yo) yo->cambio(f);
    };
    llamada->alNivel = [yo](double n) {
        if (yo) yo->voz.nivelBruto = n;
    };
    llamada->alTerminar = [yo, esta, ent, s](std::optional<ErrorLlamada> error) {
        if (error) {
            ent->avisarAlServicio(s.cuenta, QStringLiteral("/api/dudas/%1/sin-contestar").arg(s.consulta),
                                  QStringLiteral("POST"),
                                  QJsonObject{{QStringLiteral("motivo"), QStringLiteral("la voz no se abrió")}});
        }
        if (!yo) return;
        yo->llamadaTerminada(esta.data(), error);
        yo->liberarLlamada(esta.data());
    };
    llamada->abrir();
}

void App::rechazar(const QString& motivo) {
    // The ring stops whatever else holds: its timers never outlive it.
    if (!sonando) return;
    const Sonando s = *sonando;
    dejarDeSonar();
    Registro::escribir(QStringLiteral("[entrante] ") + motivo);
    if (cuenta && *cuenta == s.cuenta) informarSinContestar(s.cuenta, s.consulta, motivo);
    if (modo == Modo::ninguno) ocultar();
}

void App::enlazada(const Cuenta& nueva) {
    vencidaDicha_ = false;
    soltarEnVivo();
    entorno.guardarCuenta(nueva);
    cuenta = nueva;
    if (ventanaEnlace) ventanaEnlace->cerrar();
    montarMenu();
    asegurarChat();
    sonidos.tocar(Sonidos::Cual::escucha);
    despues(0.4, [this] {
        // A call that still runs is left alone: pairing again does not hang it up.
        if (modo != Modo::llamada) alternarLlamada();
    });
}

void App::desenlazar() {
    Registro::escribir(QStringLiteral("[app] desenlazada: la cuenta ") + (cuenta ? cuenta->url + QLatin1Char(' ') : QString()) +
                       QStringLiteral("ya no está en este equipo"));
    if (cuenta) entorno.avisarAlServicio(*cuenta, QStringLiteral("/api/pairing/este"), QStringLiteral("DELETE"), std::nullopt);
    entorno.borrarCuenta();
    cuenta.reset();
    // A ringing call belongs to the account that is going.
    if (sonando) {
        dejarDeSonar();
        if (modo == Modo::ninguno) ocultar();
    }
    soltarEnVivo();
    entorno.borrarInstantanea();
    totalPendientes = 0;
    pintarContador();
    if (panelChat) {
        panelChat->retirar();
        soltar(panelChat);
    }
    if (ventanaAjustes) ventanaAjustes->cerrar();
    // The captures of this account's chat go with it.
    QDir(carpetaTemporal()).removeRecursively();
    montarMenu();
}

void App::sesionVencida(const QString& texto) {
    if (vencidaDicha_) return;
    vencidaDicha_ = true;
    Registro::escribir(QStringLiteral("[app] sesión vencida: se desenlaza"));
    desenlazar();
    mostrarAviso(texto);
    abrirEnlace();
}

void App::soltarEnVivo() {
    dudaPorAbrir_.reset();
    if (canal) canal->cerrar();
    // Each goes on a later turn of the loop (it may be inside its own callback), in this order.
    soltar(canal);
    soltar(chat);
    soltar(conversacion);
    soltar(pendientes);
    soltar(widgets);
    soltar(enMiMac);
    observadorAgente = false;
}
