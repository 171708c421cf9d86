#include "zentu/isla/Permisos.h"

#include "plataforma/Privacidad.h"

#include <QCoreApplication>
#include <atomic>

namespace {
// -1 until first used; then 0 or 1.
std::atomic<int> pantallaConocida{-1};
std::atomic<int> ofrecidaConocida{-1};

Privacidad::Ajuste ajusteDe(Permiso p) {
    switch (p) {
        case Permiso::microfono:
            return Privacidad::Ajuste::microfono;
        case Permiso::pantalla:
            return Privacidad::Ajuste::pantalla;
        case Permiso::accesibilidad:
            return Privacidad::Ajuste::accesibilidad;
    }
    return Privacidad::Ajuste::microfono;
}
}  // namespace

const std::array<Permiso, 3>& Permiso::todos() {
    static const std::array<Permiso, 3> casos{Permiso::microfono, Permiso::pantalla, Permiso::accesibilidad};
    return casos;
}

QString Permiso::valor() const {
    switch (caso_) {
        case microfono:
            return QStringLiteral("microfono");
        case pantalla:
            return QStringLiteral("pantalla");
        case accesibilidad:
            return QStringLiteral("accesibilidad");
    }
    return {};
}

std::optional<Permiso> Permiso::desdeValor(const QString& valor) {
    for (const Permiso p : todos()) {
        if (p.valor() == valor) return p;
    }
    return std::nullopt;
}

void Permiso::pedir() const {
    Privacidad& sistema = Privacidad::actual();
    switch (caso_) {
        case microfono:
            if (sistema.microfono() == Privacidad::Estado::sinDecidir) {
                sistema.solicitarMicrofono();
                return;  // the system's own question is all the owner sees
            }
            break;
        case pantalla:
            sistema.solicitarPantalla();
            break;
        case accesibilidad:
            break;
    }
    sistema.abrirAjustes(ajusteDe(*this));
}

bool Permiso::pantallaFunciona() {
    int valor = pantallaConocida.load();
    if (valor < 0) {
        const int inicial = Privacidad::actual().pantallaPermitida() ? 1 : 0;
        pantallaConocida.compare_exchange_strong(valor, inicial);
        valor = pantallaConocida.load();
    }
    return valor == 1;
}

void Permiso::ponerPantallaFunciona(bool funciona) { pantallaConocida.store(funciona ? 1 : 0); }

bool Permiso::pantallaOfrecida() {
    int valor = ofrecidaConocida.load();
    if (valor < 0) {
        const int inicial = Privacidad::actual().sesion() != Privacidad::Sesion::ninguna ? 1 : 0;
        ofrecidaConocida.compare_exchange_strong(valor, inicial);
        valor = ofrecidaConocida.load();
    }
    return valor == 1;
}

void Permiso::ponerPantallaOfrecida(bool ofrecida) { ofrecidaConocida.store(ofrecida ? 1 : 0); }

QCoro::Task<bool> Permiso::probarPantalla() {
    Privacidad& sistema = Privacidad::actual();
    if (!sistema.pantallaPermitida()) {
        ponerPantallaFunciona(false);
        co_return false;
    }
    const Privacidad::Captura captura = co_await sistema.probarPantalla();
    ponerPantallaOfrecida(captura != Privacidad::Captura::noOfrecida);
    const bool funciona = captura == Privacidad::Captura::funciona;
    ponerPantallaFunciona(funciona);
    co_return funciona;
}

void Permiso::reabrirApp() {
    Privacidad& sistema = Privacidad::actual();
    const QString programa = QCoreApplication::applicationFilePath();
    if (!programa.isEmpty()) {
        // The new instance waits a second so that it starts after this one has gone. The script
        // is fixed text; the program and its arguments reach it as positional parameters, so no
        // shell ever parses the path.
        QStringList argumentos{QStringLiteral("-c"), QStringLiteral("sleep 1; exec \"$0\" \"$@\""), programa};
        argumentos << QCoreApplication::arguments().mid(1);
        sistema.lanzar(QStringLiteral("/bin/sh"), argumentos);
    }
    sistema.terminar();
}
