#include "zentu/isla/EstadoVoz.h"

#include "plataforma/Preferencias.h"

#include <QDateTime>
#include <algorithm>
#include <cmath>

namespace {

const QString claveEscala = QStringLiteral("zentu.isla.escala");

// A value that is not a number would never compare equal to its clamp; it counts as the lower
// end so that the range check always settles.
double acotar(double valor) {
    if (std::isnan(valor)) return EstadoVoz::escalaMinima;
    return std::min(std::max(valor, EstadoVoz::escalaMinima), EstadoVoz::escalaMaxima);
}

double escalaGuardada() {
    bool esNumero = false;
    const double leida = Preferencias::almacen().value(claveEscala).toDouble(&esNumero);
    const double valor = esNumero ? leida : 0.0;  // absent or unreadable reads as 0
    if (valor == 0) return EstadoVoz::escalaInicial;
    return acotar(valor);
}

template <typename T>
bool cambiar(T& campo, const T& valor) {
    if (campo == valor) return false;
    campo = valor;
    return true;
}

}  // namespace

EstadoVoz::EstadoVoz(QObject* padre) : QObject(padre), escala_(escalaGuardada()) {}

EstadoVoz::Medidas EstadoVoz::objetivo(Fase fase) {
    switch (fase) {
    case Fase::reposo: return {0.12, 0.08, 0.82, 0.45};
    case Fase::conectando: return {0.18, 0.40, 0.86, 0.55};
    case Fase::escuchando: return {0.35, 0.18, 1.00, 0.85};
    case Fase::pensando: return {0.22, 0.55, 0.92, 0.70};
    case Fase::hablando: return {0.55, 0.24, 1.04, 1.00};
    case Fase::timbrando: return {0.70, 0.70, 1.06, 1.00};
    }
    return {0.12, 0.08, 0.82, 0.45};
}

void EstadoVoz::setFase(Fase valor) {
    if (!cambiar(fase_, valor)) return;
    emit faseCambio();
    emit cambio();
}

void EstadoVoz::setSilencio(bool valor) {
    if (!cambiar(silencio_, valor)) return;
    emit silencioCambio();
    emit cambio();
}

void EstadoVoz::setVisible(bool valor) {
    if (!cambiar(visible_, valor)) return;
    emit visibleCambio();
    emit cambio();
}

void EstadoVoz::setModoChat(bool valor) {
    if (!cambiar(modoChat_, valor)) return;
    emit modoChatCambio();
    emit cambio();
}

void EstadoVoz::setAgenteDelChat(const QString& valor) {
    if (!cambiar(agenteDelChat_, valor)) return;
    emit agenteDelChatCambio();
    emit cambio();
}

void EstadoVoz::setVozEnChat(bool valor) {
    if (!cambiar(vozEnChat_, valor)) return;
    emit vozEnChatCambio();
    emit cambio();
}

void EstadoVoz::setQuieto(bool valor) {
    if (!cambiar(quieto_, valor)) return;
    emit quietoCambio();
    emit cambio();
}

void EstadoVoz::setAviso(const std::optional<QString>& valor) {
    if (!cambiar(aviso_, valor)) return;
    emit avisoCambio();
    emit cambio();
}

void EstadoVoz::setTimbre(const std::optional<QString>& valor) {
    if (!cambiar(timbre_, valor)) return;
    emit timbreCambio();
    emit cambio();
}

void EstadoVoz::setEscala(double valor) {
    if (std::isnan(valor)) valor = escalaMinima;
    if (escala_ != valor) {
        escala_ = valor;
        emit escalaCambio();
        emit cambio();
    }
    const double acotado = acotar(valor);
    if (acotado != valor) {
        setEscala(acotado);  // settles at once: a clamped value is its own clamp
        return;
    }
    Preferencias::almacen().setValue(claveEscala, valor);
}

void EstadoVoz::avanzar(double hasta) {
    if (!std::isfinite(hasta)) return;
    // A pause of any length advances at most 0.05 s; a date earlier than the last one (the wall
    // clock set back) advances nothing rather than running the easing backwards.
    const double dt = ultimo_ ? std::clamp(hasta - *ultimo_, 0.0, 0.05) : 0.0;
    ultimo_ = hasta;
    tiempo += dt;

    const double k = std::min(3 * dt, 1.0);
    const Medidas meta = objetivo(fase_);
    animado.energia += (meta.energia - animado.energia) * k;
    animado.giro += (meta.giro - animado.giro) * k;
    animado.escala += (meta.escala - animado.escala) * k;
    animado.brillo += (meta.brillo - animado.brillo) * k;

    const bool oye = (fase_ == Fase::escuchando && !silencio_) || fase_ == Fase::hablando;
    const double objetivoNivel = oye ? std::min(nivelBruto, 1.0) : 0.0;
    const double ritmo = nivel < objetivoNivel ? 18.0 : 5.0;
    nivel += (objetivoNivel - nivel) * std::min(dt * ritmo, 1.0);
}

void EstadoVoz::avanzar(const QDateTime& hasta) {
    // Seconds from an origin near now, so that a step of a few milliseconds keeps its precision.
    static const qint64 origen = QDateTime::currentMSecsSinceEpoch();
    avanzar(static_cast<double>(hasta.toMSecsSinceEpoch() - origen) / 1000.0);
}
