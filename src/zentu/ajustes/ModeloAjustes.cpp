#include "zentu/ajustes/ModeloAjustes.h"

#include "plataforma/InicioSesion.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"
#include "plataforma/Teclado.h"
#include "zentu/ajustes/GrabadorTeclas.h"

#include <QJsonObject>
#include <exception>

namespace Secciones {

QString valor(SeccionAjustes seccion) {
    switch (seccion) {
    case SeccionAjustes::estado: return QStringLiteral("estado");
    case SeccionAjustes::atajos: return QStringLiteral("atajos");
    case SeccionAjustes::isla: return QStringLiteral("isla");
    case SeccionAjustes::llamadas: return QStringLiteral("llamadas");
    case SeccionAjustes::cuenta: return QStringLiteral("cuenta");
    }
    return {};
}

std::optional<SeccionAjustes> desdeValor(const QString& texto) {
    for (SeccionAjustes s : todas)
        if (valor(s) == texto) return s;
    return std::nullopt;
}

}  // namespace Secciones

namespace {

constexpr quint32 esc = 53;

int indice(Atajos::Cual cual) { return static_cast<int>(cual) - 1; }

}  // namespace

ModeloAjustes::ModeloAjustes(Atajos& atajos, EstadoVoz& voz, bool sonidos,
                             std::function<std::optional<Cuenta>()> cuentaActual, std::function<void()> desenlazar,
                             std::function<void(bool)> cambiarSonidosApp, std::function<void()> volverArriba,
                             QObject* padre)
    : QObject(padre),
      cuenta(std::move(cuentaActual)),
      alDesenlazar(std::move(desenlazar)),
      alCambiarSonidos(std::move(cambiarSonidosApp)),
      alVolverArriba(std::move(volverArriba)),
      atajos_(atajos),
      atajosVivos_(&atajos),
      voz_(voz),
      sonidos_(sonidos) {
    for (Cual c : Atajos::todas) combinaciones_[indice(c)] = Atajos::combinacion(c);
    cambiarAgente = [](qint64, bool) -> QCoro::Task<std::optional<QString>> { co_return textoNoEnlazada; };
    accion = [](const QString&) {};
    abrirAlIniciarSesion = [](bool si) {
        if (auto fallo = si ? InicioSesion::registrar() : InicioSesion::quitar()) {
            Registro::escribir(QStringLiteral("[inicio] no se pudo cambiar: ") + *fallo);
            return;
        }
        Registro::escribir(QStringLiteral("[inicio] abrir al iniciar sesión: ") + (si ? QStringLiteral("sí") : QStringLiteral("no")) +
                           QStringLiteral(" · estado ") + QString::number(static_cast<int>(InicioSesion::estado())));
    };
    estadoInicioSesion = [] { return InicioSesion::activado(); };
    encenderFnControl = [](bool si) { TeclasModificadoras::shared().encender(si); };
    alIniciar_ = estadoInicioSesion();
    // Read exactly as the morning check reads it, so the switch shows what will happen.
    resumen_ = Preferencias::booleano(QStringLiteral("zentu.resumenManana"), true);
    fnControl_ = TeclasModificadoras::encendido();
    // The panes show which hot keys work, so a key taken or refused redraws them.
    connect(&atajos, &Atajos::registroCambio, this, &ModeloAjustes::cambio);
}

// A model that goes away while recording takes its key filter with it and gives the hot keys back.
ModeloAjustes::~ModeloAjustes() {
    monitor_.reset();
    if (grabando_ && atajosVivos_) atajosVivos_->pausar(false);
}

bool ModeloAjustes::aceptaSinModificador(quint32 tecla) {
    switch (tecla) {
    case 96: case 97: case 98: case 99: case 100: case 101:  // F5 F6 F7 F3 F8 F9
    case 103:                                                // F11
    case 109:                                                // F10
    case 111:                                                // F12
    case 122:                                                // F1
        return true;
    default:
        // The arrows (123 to 126) and the codes around them would take the key from every
        // program; F2 (120) and F4 (118) are refused like a letter.
        return false;
    }
}

Combinacion ModeloAjustes::combinacion(Cual cual) const { return combinaciones_[indice(cual)]; }

void ModeloAjustes::setError(const std::optional<QString>& valor) {
    if (error_ == valor) return;
    error_ = valor;
    emit errorCambio();
    emit cambio();
}

void ModeloAjustes::setSonidos(bool valor) {
    if (sonidos_ == valor) return;
    sonidos_ = valor;
    emit cambio();
}

void ModeloAjustes::setAlIniciar(bool valor) {
    if (alIniciar_ == valor) return;
    alIniciar_ = valor;
    emit cambio();
}

void ModeloAjustes::setResumen(bool valor) {
    if (resumen_ == valor) return;
    resumen_ = valor;
    emit cambio();
}

void ModeloAjustes::setFnControl(bool valor) {
    if (fnControl_ == valor) return;
    fnControl_ = valor;
    emit cambio();
}

void ModeloAjustes::setLlamadas(std::optional<bool> valor) {
    if (llamadas_ == valor) return;
    llamadas_ = valor;
    emit llamadasCambio();
    emit cambio();
}

void ModeloAjustes::setVentanaVisible(bool valor) {
    if (ventanaVisible_ == valor) return;
    ventanaVisible_ = valor;
    emit ventanaVisibleCambio();
    emit cambio();
}

void ModeloAjustes::grabar(Cual cual) {
    parar();
    setError(std::nullopt);
    grabando_ = cual;
    emit grabandoCambio();
    emit cambio();
    atajos_.pausar(true);
    QPointer<ModeloAjustes> vivo(this);
    monitor_ = std::make_unique<GrabadorTeclas>([vivo](const Combinacion& c) { return vivo ? vivo->teclear(c) : false; });
}

void ModeloAjustes::parar() {
    monitor_.reset();
    if (grabando_) atajos_.pausar(false);  // registers the five again; refusals were logged
    grabando_.reset();
    emit grabandoCambio();
    emit cambio();
}

bool ModeloAjustes::teclear(const Combinacion& tecla) {
    if (!grabando_) return false;
    if (tecla.tecla == esc) {
        parar();
        return true;
    }
    const Combinacion k{tecla.tecla, tecla.modificadores & Teclado::modificadores};
    if (k.modificadores == 0 && !aceptaSinModificador(k.tecla)) {
        setError(textoSinModificador);
        return true;
    }
    const Cual cual = *grabando_;
    parar();
    if (auto texto = atajos_.cambiar(cual, k)) setError(*texto);
    refrescar();
    return true;
}

void ModeloAjustes::refrescar() {
    for (Cual c : Atajos::todas) combinaciones_[indice(c)] = Atajos::combinacion(c);
    emit combinacionesCambio();
    emit cambio();
}

QCoro::Task<void> ModeloAjustes::cargarLlamadas() {
    const std::optional<Cuenta> c = cuenta ? cuenta() : std::nullopt;
    if (!c) co_return;
    QPointer<ModeloAjustes> vivo(this);
    std::optional<bool> leido;
    try {
        const QJsonObject r = co_await API::pedir(*c, QString::fromLatin1(rutaLlamadas), QStringLiteral("GET"),
                                                  std::nullopt, 20);
        const QJsonValue v = r.value(QStringLiteral("enabled"));
        if (v.isBool()) leido = v.toBool();
    } catch (const std::exception&) {
        leido.reset();
    }
    if (vivo) setLlamadas(leido);
}

QCoro::Task<void> ModeloAjustes::cambiarLlamadas(bool valor) {
    const std::optional<Cuenta> c = cuenta ? cuenta() : std::nullopt;
    if (!c) co_return;
    setLlamadas(valor);
    QPointer<ModeloAjustes> vivo(this);
    std::optional<QString> fallo;
    try {
        QJsonObject cuerpo;
        cuerpo.insert(QStringLiteral("enabled"), valor);
        co_await API::pedir(*c, QString::fromLatin1(rutaLlamadas), QStringLiteral("PATCH"), cuerpo, 20);
    } catch (const FalloZentu& e) {
        fallo = e.descripcion();
    } catch (const std::exception& e) {
        fallo = QString::fromUtf8(e.what());
    }
    if (!vivo || !fallo) co_return;
    setError(QStringLiteral("No se pudo cambiar: ") + *fallo);
    co_await cargarLlamadas();
}

void ModeloAjustes::cambiarSonidos(bool valor) {
    setSonidos(valor);
    if (alCambiarSonidos) alCambiarSonidos(valor);
}

void ModeloAjustes::cambiarResumen(bool valor) {
    setResumen(valor);
    Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), valor);
}

void ModeloAjustes::cambiarAlIniciar(bool valor) {
    if (abrirAlIniciarSesion) abrirAlIniciarSesion(valor);
    // Shows what the system reports after the attempt, not what was asked; the signal also
    // lets a switch that moved on its own go back.
    alIniciar_ = estadoInicioSesion ? estadoInicioSesion() : valor;
    emit cambio();
}

void ModeloAjustes::cambiarFnControl(bool valor) {
    setFnControl(valor);
    if (encenderFnControl) encenderFnControl(valor);
}

void ModeloAjustes::restablecerAtajos() {
    parar();
    atajos_.restablecer();
    setError(std::nullopt);
    refrescar();
}
