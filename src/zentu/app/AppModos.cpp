// Interaction modes (call, voice conversation, chat) and the island's state, keys and hot keys.
#include "zentu/app/App.h"

#include "plataforma/Memoria.h"
#include "plataforma/Registro.h"

namespace {

QString nombreAtajo(Atajos::Cual cual) {
    switch (cual) {
    case Atajos::Cual::llamada: return QStringLiteral("llamada");
    case Atajos::Cual::conversacion: return QStringLiteral("conversacion");
    case Atajos::Cual::pantalla: return QStringLiteral("pantalla");
    case Atajos::Cual::zona: return QStringLiteral("zona");
    case Atajos::Cual::chat: return QStringLiteral("chat");
    }
    return {};
}

// Each word's first letter upper case, the rest lower case.
QString capitalizar(const QString& texto) {
    QString r = texto.toLower();
    bool inicio = true;
    for (QChar& c : r) {
        if (c.isSpace()) {
            inicio = true;
        } else if (inicio) {
            c = c.toUpper();
            inicio = false;
        }
    }
    return r;
}

}  // namespace

void App::alternarLlamada() {
    if (modo == Modo::llamada) {
        terminar();
        return;
    }
    if (!cuenta) {
        abrirEnlace();
        return;
    }
    // A ringing call is declined first: only one call at a time.
    if (sonando) rechazar(QStringLiteral("rechazada"));
    if (conversacion) conversacion->cancelar(true);
    modo = Modo::llamada;
    actualizarModoChat();
    voz.setFase(Fase::conectando);
    mostrarIsla();

    llamada = entorno.crearLlamada(*cuenta, std::nullopt, std::nullopt);
    if (!llamada) return;
    QPointer<App> yo(this);
    QPointer<PuertoLlamada> esta(llamada.get());
    llamada->alCambiarFase = [yo](Fase f) {
        if (!yo) return;
        yo->cambio(f);
        if (f == Fase::escuchando || f == Fase::hablando) emit yo->llamadaDecidida(true, {});
    };
    llamada->alNivel = [yo](double n) {
        if (yo) yo->voz.nivelBruto = n;
    };
    llamada->alTerminar = [yo, esta](std::optional<ErrorLlamada> error) {
        if (!yo) return;
        yo->llamadaTerminada(esta.data(), error);
        yo->liberarLlamada(esta.data());
    };
    llamada->abrir();
}

void App::sinLlamada(PuertoLlamada* cual) {
    if (llamada && llamada.get() == cual) colgando_.push_back(std::move(llamada));
}

void App::liberarLlamada(PuertoLlamada* cual) {
    for (auto it = colgando_.begin(); it != colgando_.end(); ++it) {
        if (it->get() == cual) {
            it->release()->deleteLater();
            colgando_.erase(it);
            devolverMemoria_ = reloj.programar(3, this, [] { Memoria::devolverLibre(); });
            return;
        }
    }
}

void App::llamadaTerminada(PuertoLlamada* cual, const std::optional<ErrorLlamada>& error) {
    if (!llamada || llamada.get() != cual) return;
    sinLlamada(cual);
    emit llamadaDecidida(!error, error ? error->descripcion : QString());
    if (modo == Modo::llamada) {
        modo = Modo::ninguno;
        actualizarModoChat();
    }
    if (error) {
        if (error->sesionVencida) sesionVencida(error->descripcion);
        else mostrarAviso(error->descripcion);
        return;
    }
    if (voz.visible() && !(panelChat && panelChat->enPantalla())) ocultar();
}

void App::empezarConversacion() {
    if (!cuenta) {
        abrirEnlace();
        return;
    }
    if (modo == Modo::llamada) return;
    if (sonando) rechazar(QStringLiteral("rechazada"));
    PuertoConversacion* c = asegurarConversacion();
    if (!c) return;
    modo = Modo::conversacion;
    actualizarModoChat();
    voz.setFase(Fase::escuchando);
    mostrarIsla();
    sonidos.tocar(Sonidos::Cual::escucha);
    c->cancelar(true);
    c->setActiva(true);
    c->setSoloNota(false);
    c->setVacias(0);
    c->grabar(false);
}

void App::notaDeVoz() {
    if (modo == Modo::llamada) return;
    if (sonando) rechazar(QStringLiteral("rechazada"));
    PuertoConversacion* c = asegurarConversacion();
    if (!c) return;
    if (modo == Modo::conversacion) {
        if (c->soloNota() && c->grabando()) {
            c->soltar();
            return;
        }
        c->cancelar(true);
        modo = Modo::ninguno;
        actualizarModoChat();
        voz.setFase(Fase::reposo);
        voz.nivelBruto = 0;
        sonidos.tocar(Sonidos::Cual::seVa);
        return;
    }
    modo = Modo::conversacion;
    actualizarModoChat();
    voz.setFase(Fase::escuchando);
    sonidos.tocar(Sonidos::Cual::escucha);
    c->cancelar(true);
    c->setActiva(true);
    c->setSoloNota(true);
    if (chat) chat->setGrabandoNota(true);
    c->grabar(true);
}

void App::conversarDesdeElChat() {
    if (modo != Modo::ninguno) return;
    if (sonando) rechazar(QStringLiteral("rechazada"));
    PuertoConversacion* c = asegurarConversacion();
    if (!c) return;
    modo = Modo::conversacion;
    actualizarModoChat();
    voz.setFase(Fase::escuchando);
    sonidos.tocar(Sonidos::Cual::escucha);
    c->cancelar(true);
    c->setActiva(true);
    c->setSoloNota(false);
    c->setVacias(0);
    c->grabar(true);
}

void App::terminar() {
    if (!voz.visible()) return;
    if (panelChat && panelChat->enPantalla() && modo == Modo::conversacion) {
        if (conversacion) conversacion->cancelar(true);
        modo = Modo::ninguno;
        actualizarModoChat();
        voz.setFase(Fase::reposo);
        voz.nivelBruto = 0;
        return;
    }
    // ocultar() hangs the call up once it is no longer current, so that an end reported at
    // once is not taken for the call's own end.
    if (conversacion) conversacion->cancelar(true);
    ocultar();
}

void App::alternarSilencio() {
    voz.setSilencio(!voz.silencio());
    if (llamada) llamada->setSilenciada(voz.silencio());
    sonidos.tocar(voz.silencio() ? Sonidos::Cual::silencio : Sonidos::Cual::activaMic);
}

void App::mostrarIsla(bool tomarTeclado) {
    voz.setSilencio(false);
    voz.setAviso(std::nullopt);
    if (!voz.visible()) {
        if (panel) {
            panel->colocar();
            panel->mostrar();
        }
        voz.setVisible(true);
        sonidos.tocar(Sonidos::Cual::aparece);
    }
    if (panel && tomarTeclado) panel->hacerClave();
}

void App::ocultar() {
    if (llamada) {
        PuertoLlamada* esta = llamada.get();
        // No longer current first: its own end then finds nothing to do.
        sinLlamada(esta);
        esta->colgar();
    }
    if (conversacion) conversacion->cancelar(true);
    voz.setVisible(false);
    sonidos.tocar(Sonidos::Cual::seVa);
    modo = Modo::ninguno;
    actualizarModoChat();
    cerrarChat();
    despues(0.45, [this] {
        if (voz.visible()) return;
        if (panel) panel->retirar();
        voz.setFase(Fase::reposo);
        voz.nivelBruto = 0;
    });
}

void App::mostrarAviso(const QString& texto) {
    // A hidden island would only let the owner hear the cue: show it first.
    if (!voz.visible()) {
        voz.setFase(Fase::reposo);
        mostrarIsla();
    }
    sonidos.tocar(Sonidos::Cual::error);
    voz.setAviso(texto);
    voz.setFase(Fase::reposo);
    const quint64 este = ++avisosDados_;
    despues(4.0, [this, este] {
        if (islaOciosa()) {
            ocultar();
            return;
        }
        // The island stays up (the chat open beside it, a call, the menu): the notice has had
        // its time all the same, unless a newer one took its place.
        if (este == avisosDados_ && voz.aviso()) voz.setAviso(std::nullopt);
    });
}

void App::conversacionTerminada(const std::optional<QString>& mensaje) {
    if (modo != Modo::conversacion) return;
    modo = Modo::ninguno;
    actualizarModoChat();
    voz.nivelBruto = 0;
    if (mensaje) {
        mostrarAviso(*mensaje);
        return;
    }
    voz.setFase(Fase::reposo);
    despues(2.5, [this] {
        if (islaOciosa()) ocultar();
    });
}

PuertoConversacion* App::asegurarConversacion() {
    PuertoChat* c = asegurarChat();
    if (!c) return nullptr;
    if (conversacion) return conversacion.get();
    conversacion = entorno.crearConversacion(*c);
    if (!conversacion) return nullptr;
    QPointer<App> yo(this);
    conversacion->alCambiarFase = [yo](Fase f) {
        if (yo) yo->cambio(f);
    };
    conversacion->alNivel = [yo](double n) {
        if (yo) yo->voz.nivelBruto = n;
    };
    conversacion->alTerminar = [yo](std::optional<QString> m) {
        if (yo) yo->conversacionTerminada(m);
    };
    return conversacion.get();
}

void App::cambio(Fase fase) {
    if (voz.fase() == fase) return;
    const Fase antes = voz.fase();
    voz.setFase(fase);
    if (fase == Fase::pensando) {
        if (modo != Modo::conversacion || !conversacion || conversacion->soloNota()) return;
        sonidos.tocar(Sonidos::Cual::piensa);
        despues(0.6, [this] {
            if (voz.fase() != Fase::pensando) return;
            QPointer<App> yo(this);
            sonidos.esperar([yo] { return yo && yo->voz.fase() == Fase::pensando && yo->modo == Modo::conversacion; });
        });
        return;
    }
    if (fase == Fase::escuchando) {
        if (antes == Fase::hablando) sonidos.tocar(Sonidos::Cual::termino);
        else if (antes == Fase::conectando) sonidos.tocar(Sonidos::Cual::escucha);
    }
}

void App::actualizarModoChat() {
    voz.setModoChat(panelChat && panelChat->enPantalla() && modo != Modo::llamada);
    voz.setVozEnChat(voz.modoChat() && modo == Modo::conversacion);
    std::optional<QString> agente = chat ? chat->conAgente() : std::nullopt;
    voz.setAgenteDelChat(agente ? capitalizar(QString(*agente).replace(QLatin1Char('_'), QLatin1Char(' ')))
                                : QStringLiteral("Zentu"));
}

bool App::tecla(const QKeyEvent& evento) {
    const int k = evento.key();
    const bool intro = k == Qt::Key_Return || k == Qt::Key_Enter;
    if (sonando) {
        if (intro) {
            contestar();
            return true;
        }
        if (k == Qt::Key_Escape) {
            rechazar(QStringLiteral("rechazada"));
            return true;
        }
        return false;
    }
    if (intro) {
        alternarChat();
        return true;
    }
    if (k == Qt::Key_Escape) {
        terminar();
        return true;
    }
    // The key's character without modifiers, lower-cased; keys without one are not used.
    if (k <= 0 || k > 0xff) return false;
    const QChar c = QChar(k).toLower();
    // Ctrl plays the part of the Mac's command key.
    const bool mando = evento.modifiers().testFlag(Qt::ControlModifier);
    if (mando && (c == QLatin1Char('=') || c == QLatin1Char('+'))) {
        voz.setEscala(std::min(voz.escala() + 0.1, EstadoVoz::escalaMaxima));
        return true;
    }
    if (mando && c == QLatin1Char('-')) {
        voz.setEscala(std::max(voz.escala() - 0.1, EstadoVoz::escalaMinima));
        return true;
    }
    if (mando && c == QLatin1Char('0')) {
        voz.setEscala(EstadoVoz::escalaInicial);
        return true;
    }
    if (mando && c == QLatin1Char(',')) {
        abrirAjustes();
        return true;
    }
    if (!mando && c == QLatin1Char('m')) {
        alternarSilencio();
        return true;
    }
    return false;
}

void App::escalaCambiada(double escala) {
    if (panel) panel->cambiarEscala(escala);
    recolocarChat();
}

void App::islaMovida() {
    if (!panelChat || !panel) return;
    if (!panelChat->enPantalla() && !voz.visible()) return;
    panelChat->colocar(anclaChat(panel->marco(), panel->escala()));
}

QRectF App::anclaChat(const QRectF& marco, double e) {
    // The pill: 230·e × 56·e, centred on the window, its top 50·e below the window's top.
    return QRectF(marco.center().x() - 115 * e, marco.top() + 50 * e, 230 * e, 56 * e);
}

void App::atajoPulsado(Atajos::Cual cual) {
    Registro::escribir(QStringLiteral("[atajo] pulsado ") + nombreAtajo(cual));
    switch (cual) {
    case Atajos::Cual::llamada: alternarLlamada(); break;
    case Atajos::Cual::conversacion: empezarConversacion(); break;
    case Atajos::Cual::pantalla:
        if (!cuenta) abrirEnlace();
        else verPantallaEnChat();
        break;
    case Atajos::Cual::zona:
        if (!cuenta) abrirEnlace();
        else zonaEnChat();
        break;
    case Atajos::Cual::chat: alternarChat(); break;
    }
}

void App::atajoSoltado(Atajos::Cual cual) {
    if (cual == Atajos::Cual::conversacion && conversacion) conversacion->soltar();
}

void App::acordePulsado() {
    Registro::escribir(QStringLiteral("[atajo] control + command"));
    empezarConversacion();
}

void App::acordeSoltado() {
    if (conversacion) conversacion->soltar();
}

void App::acordeCancelado() {
    if (conversacion) conversacion->cancelar(true);
}
