// Process entry, start-up, the switches read after launch, the login item, the morning summary
// and quitting.
#include "zentu/app/App.h"
#include "zentu/app/Puertas.h"
#include "zentu/app/ServicioAtajos.h"
#include "zentu/app/EntornoEscritorio.h"
#include "zentu/app/Interruptores.h"
#include "zentu/captura/Captura.h"

#include "plataforma/CarpetaPrivada.h"
#include "plataforma/Contenedor.h"
#include "plataforma/InstanciaUnica.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"
#include "plataforma/Senales.h"
#include "zentu/voz/ProbarWS.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <cstdio>

namespace {

const QString kPreguntaManana = QStringLiteral(
    "Buenos días. Dame el resumen de la mañana para escucharlo: cómo amaneció el negocio, lo que "
    "espera por mí y lo importante de hoy. Corto y sin listas largas.");

void imprimir(const QString& linea) {
    const QByteArray bytes = (linea + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

bool booleanoGuardado(const QString& clave, bool ausente) { return Preferencias::booleano(clave, ausente); }

}  // namespace

// ------------------------------------------------------------------ switches

namespace Interruptores {

std::optional<QString> valor(const QStringList& argumentos, const QString& interruptor) {
    const qsizetype i = argumentos.indexOf(interruptor);
    if (i < 0 || i + 1 >= argumentos.size()) return std::nullopt;
    return argumentos.at(i + 1);
}

Eleccion elegir(const QStringList& argumentos) {
    if (auto v = valor(argumentos, QStringLiteral("--captura"))) return {Previo::captura, *v};
    if (auto v = valor(argumentos, QStringLiteral("--captura-widgets"))) return {Previo::capturaWidgets, *v};
    if (argumentos.contains(QStringLiteral("--probar-ws"))) return {Previo::probarWs, {}};
    if (argumentos.contains(QStringLiteral("--sonar"))) return {Previo::sonar, {}};
    if (argumentos.contains(QStringLiteral("--enlazar-portapapeles"))) return {Previo::enlazarPortapapeles, {}};
    return {};
}

QString nombreCue(int indice) {
    static const char* const nombres[] = {"enviado", "llego", "hecho", "descartado", "captura", "recibido", "error"};
    return indice >= 0 && indice < 7 ? QString::fromLatin1(nombres[indice]) : QString();
}

}  // namespace Interruptores

namespace {

constexpr Sonidos::Cual kDemo[] = {Sonidos::Cual::enviado, Sonidos::Cual::llego,    Sonidos::Cual::hecho,
                                   Sonidos::Cual::descartado, Sonidos::Cual::captura, Sonidos::Cual::recibido,
                                   Sonidos::Cual::error};

int sonar() {
    Sonidos sonidos;
    for (int i = 0; i < 7; ++i) {
        QTimer::singleShot(static_cast<int>(i * 1100), &sonidos, [&sonidos, i] {
            imprimir(QStringLiteral("▶︎ ") + Interruptores::nombreCue(i));
            sonidos.tocar(kDemo[i]);
        });
    }
    QTimer::singleShot(8200, qApp, [] { QCoreApplication::exit(0); });
    return QCoreApplication::exec();
}

int enlazarPortapapeles() {
    ModeloEnlace modelo;
    modelo.alEnlazar = [](const Cuenta& c) {
        Llavero::guardar(c);
        imprimir(QStringLiteral("ENLAZADA ") + c.url + QStringLiteral(" · ") + c.correo);
        // A program already running takes the new account at once (it reads it from the keyring).
        InstanciaUnica(QString::fromLatin1(Contenedor::nombre)).entregar({QStringLiteral("--enlazar-portapapeles")});
        QCoreApplication::exit(0);
    };
    QTimer::singleShot(15000, qApp, [&modelo] {
        imprimir(QStringLiteral("FALLO ") + modelo.mensaje().value_or(QStringLiteral("sin respuesta")));
        QCoreApplication::exit(1);
    });
    // The clipboard is read once the event loop runs, as the desktop hands it over then.
    QTimer::singleShot(0, &modelo, [&modelo] { modelo.pegar(); });
    return QCoreApplication::exec();
}

}  // namespace

int App::main(int argc, char** argv) {
    // The modes that show nothing on screen (the probe, the sound demo, the pictures written to
    // files) also run where no desktop is reachable, as over a remote shell.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        for (int i = 1; i < argc; ++i) {
            const QByteArray a(argv[i]);
            if (a == "--probar-ws" || a == "--sonar" || a == "--captura" || a == "--captura-widgets") {
                qputenv("QT_QPA_PLATFORM", "offscreen");
                break;
            }
        }
    }
    QApplication aplicacion(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zentu"));
    QApplication::setDesktopFileName(QStringLiteral("ai.zentu.voz"));
    // Every window carries it (_NET_WM_ICON), for the desktop's top bar and window switcher.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icono/ai.zentu.voz.svg")));
    QApplication::setQuitOnLastWindowClosed(false);
    const QStringList argumentos = QCoreApplication::arguments();

    const auto eleccion = Interruptores::elegir(argumentos);
    switch (eleccion.previo) {
    case Interruptores::Previo::captura: Captura::hacer(eleccion.valor); return 0;
    case Interruptores::Previo::capturaWidgets: Captura::widgets(eleccion.valor); return 0;
    case Interruptores::Previo::probarWs: return ProbarWS::correr();
    case Interruptores::Previo::sonar: return sonar();
    case Interruptores::Previo::enlazarPortapapeles: return enlazarPortapapeles();
    case Interruptores::Previo::ninguno: break;
    }

    // Automation switches talk to the running program and print its answer.
    if (ClienteAtajos::pide(argumentos)) {
        QTextStream salida(stdout), error(stderr);
        return *ClienteAtajos::ejecutar(argumentos, salida, error);
    }
    // Text sent on standard input is read here, before the arguments may go to the running copy.
    const QStringList preparados = Puertas::preparar(argumentos, [] {
        QFile entrada;
        if (!entrada.open(stdin, QIODevice::ReadOnly)) return QString();
        return QString::fromUtf8(entrada.readAll());
    });

    // One program per desktop session: a second start hands its arguments to the first.
    InstanciaUnica instancia(QString::fromLatin1(Contenedor::nombre));
    if (!instancia.reclamar()) {
        const bool entregado = instancia.entregar(preparados.mid(1));
        if (!entregado) Registro::escribir(QStringLiteral("[app] otra copia ya corre y no respondió"));
        return 0;
    }

    EntornoEscritorio entorno;
    App app(entorno, preparados);
    instancia.alRecibir = [&app](const QStringList& recibidos) { app.recibirArgumentos(recibidos); };
    Senales::alTerminar([&app] { app.salir(); });
    QTimer::singleShot(0, &app, [&app] { app.arrancar(); });
    QCoreApplication::exec();
    return 0;
}

// ------------------------------------------------------------------ the object

App::App(Entorno& entorno_, const QStringList& argumentos_, QObject* padre)
    : QObject(padre),
      entorno(entorno_),
      reloj(entorno_.reloj()),
      sonidos(entorno_.sonidos()),
      cuenta(entorno_.leerCuenta()),
      argumentos(argumentos_) {
    connect(&EsquemaColor::sistema(), &EsquemaColor::cambio, this, [this] { rehacerTarjeta(); });
}

App::~App() {
    // The components' callbacks hold App weakly; drop them before the fields go.
    soltarEnVivo();
    QDir(carpetaTemporal()).removeRecursively();
    timbreTimer.cancelar();
    timbreTope.cancelar();
}

void App::despues(double segundos, std::function<void()> accion) {
    std::erase_if(diferidos_, [](const Temporizador& t) { return !t.activo(); });
    diferidos_.push_back(reloj.programar(segundos, this, std::move(accion)));
}

std::optional<QString> App::valor(const QString& interruptor) const {
    return Interruptores::valor(argumentos, interruptor);
}

bool App::tiene(const QString& interruptor) const { return argumentos.contains(interruptor); }

template <typename T> void App::soltar(std::unique_ptr<T>& p) {
    // Released on a later turn: the component may be inside one of its own callbacks.
    if (T* x = p.release()) x->deleteLater();
}
template void App::soltar(std::unique_ptr<CanalEnVivo>&);
template void App::soltar(std::unique_ptr<PuertoChat>&);
template void App::soltar(std::unique_ptr<PuertoConversacion>&);
template void App::soltar(std::unique_ptr<PuertoPendientes>&);
template void App::soltar(std::unique_ptr<PuertoWidgets>&);
template void App::soltar(std::unique_ptr<EnMiMac>&);
template void App::soltar(std::unique_ptr<PuertoPanelChat>&);

QString App::carpetaTemporal() const {
    // In the program's private folder (0700), one folder per process: another copy's captures
    // (a test run beside this one) are never touched.
    const QString base = CarpetaPrivada::ruta().value_or(QDir::tempPath());
    const QString ruta = base + QStringLiteral("/zonas-%1").arg(QCoreApplication::applicationPid());
    QDir().mkpath(ruta);
    QFile::setPermissions(ruta, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return ruta;
}

void App::limpiarCapturasViejas() {
    const auto base = CarpetaPrivada::ruta();
    if (!base) return;
    const QDir carpeta(*base);
    for (const QString& nombre : carpeta.entryList({QStringLiteral("zonas-*")}, QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString pid = nombre.mid(6);
        // Left by a process that is gone: nobody will send those captures any more.
        if (!QFileInfo::exists(QStringLiteral("/proc/") + pid)) QDir(carpeta.filePath(nombre)).removeRecursively();
    }
}

// ------------------------------------------------------------------ start-up

void App::arrancar() {
    limpiarCapturasViejas();
    crearActualizaciones();
    // On this desktop the text fields carry the standard editing keys themselves; there is no
    // application menu bar to hold an Edit menu.
    sonidos.escribirSonidoDeAviso();
    abrirAlIniciarSesionPrimeraVez();

    QPointer<App> yo(this);
    auto con = [yo](void (App::*metodo)()) {
        return [yo, metodo] {
            if (yo) (yo.data()->*metodo)();
        };
    };
    AccionesIsla acciones;
    acciones.silenciar = con(&App::alternarSilencio);
    acciones.terminar = con(&App::terminar);
    acciones.verEnChat = con(&App::alternarChat);
    acciones.contestar = con(&App::contestar);
    acciones.rechazar = [yo] {
        if (yo) yo->rechazar(QStringLiteral("rechazada"));
    };
    acciones.notaDeVoz = con(&App::notaDeVoz);
    acciones.conversar = con(&App::conversarDesdeElChat);
    acciones.soltarArchivo = [yo](const QString& ruta) {
        if (yo) yo->soltarArchivo(ruta);
    };
    panel = entorno.crearIsla(voz, std::move(acciones));

    panel->cambiarEscala(voz.escala());
    // The handler also gets the current value once, as it is made.
    double ultima = voz.escala();
    escalaCambiada(ultima);
    observadorEscala = connect(&voz, &EstadoVoz::escalaCambio, this, [this, ultima]() mutable {
        if (voz.escala() == ultima) return;
        ultima = voz.escala();
        escalaCambiada(ultima);
    });
    panel->alTeclear = [yo](const QKeyEvent& e) { return yo ? yo->tecla(e) : false; };
    panel->alMover = con(&App::islaMovida);
    // Where the panel shows no tray icon, the island carries the tray's menu.
    panel->alMenu = [yo](QPoint donde) {
        if (yo && !yo->hayBandeja()) yo->menuSinBandeja(donde);
    };

    atajos = entorno.crearAtajos([yo](Atajos::Cual c) { if (yo) yo->atajoPulsado(c); },
                                 [yo](Atajos::Cual c) { if (yo) yo->atajoSoltado(c); });
    entorno.instalarAcorde(con(&App::acordePulsado), con(&App::acordeSoltado), con(&App::acordeCancelado));

    montarMenu();
    if (!hayBandeja()) Registro::escribir(QStringLiteral("[app] el escritorio no muestra iconos en la barra"));
    avisarAtajosOcupados();
    // The pairing model (with its camera session) is made when the pairing window first needs
    // it: a paired program never pays for it. It is bound to enlazada() as it is made.
    instalarServicios();

    // Whichever component hears the service refuse the token in use, the program unpairs once.
    // Acted on in a later turn: the request that heard it first ends as its caller expects.
    API::observarSesionVencida([yo](const Cuenta& de) {
        if (!yo) return;
        QMetaObject::invokeMethod(
            yo.data(),
            [yo, de] {
                if (!yo || !yo->cuenta || yo->cuenta->url != de.url || yo->cuenta->token != de.token) return;
                yo->sesionVencida(ErrorZentu::sesionVencida().descripcion());
            },
            Qt::QueuedConnection);
    });

    if (cuenta) {
        asegurarChat();
        if (tiene(QStringLiteral("--abrir"))) alternarLlamada();
    } else {
        abrirEnlace();
    }

    if (tiene(QStringLiteral("--solo-isla"))) {
        voz.setFase(Fase::escuchando);
        voz.nivelBruto = 0.5;
        panel->colocar();
        panel->mostrar();
        voz.setVisible(true);
    }
    if (tiene(QStringLiteral("--chat"))) alternarChat();
    if (const auto e = Puertas::envio(argumentos)) recibirEnvio(e->archivos, e->texto);
    {
        QStringList enlaces;
        for (const QString& a : argumentos.mid(1))
            if (a.startsWith(QLatin1String("zuzadari:"), Qt::CaseInsensitive)) enlaces << a;
        if (!enlaces.isEmpty())
            abrirEnlaces(enlaces, tiene(QString::fromLatin1(Puertas::kDesdeWidget)) ? Puertas::Origen::widget
                                                                                   : Puertas::Origen::argumentos);
    }
    if (auto v = valor(QStringLiteral("--probar-atajo"))) probarAtajo(*v);
    if (auto v = valor(QStringLiteral("--probar-envio"))) {
        if (asegurarChat()) probarEnvio(*v);
    }
    if (auto v = valor(QStringLiteral("--probar-conversacion"))) preguntarEnVoz(*v);

    entorno.observarDespertar([yo] {
        if (yo) yo->quizasResumenDeLaManana(6);
    });
    quizasResumenDeLaManana(12);
    if (tiene(QStringLiteral("--abrir-ventana"))) despues(1.0, [this] { abrirAjustes(); });

    Registro::escribir(QStringLiteral("[app] lista · cuenta=") + (cuenta ? cuenta->url : QStringLiteral("ninguna")) +
                       QStringLiteral(" · abre al iniciar sesión: ") +
                       (entorno.alIniciarSesion() ? QStringLiteral("true") : QStringLiteral("false")) +
                       QStringLiteral(" · tamaños de widgets: ") + entorno.tamanosDeWidgets());
}

void App::recibirArgumentos(const QStringList& recibidos) {
    QStringList enlaces;
    for (const QString& a : recibidos) {
        if (a.startsWith(QLatin1String("zuzadari:"), Qt::CaseInsensitive)) enlaces << a;
    }
    if (!enlaces.isEmpty())
        abrirEnlaces(enlaces, recibidos.contains(QString::fromLatin1(Puertas::kDesdeWidget)) ? Puertas::Origen::widget
                                                                                              : Puertas::Origen::argumentos);
    if (const auto e = Puertas::envio(recibidos)) recibirEnvio(e->archivos, e->texto);
    if (recibidos.contains(QStringLiteral("--abrir")) && cuenta && modo != Modo::llamada) alternarLlamada();
    if (recibidos.contains(QStringLiteral("--chat"))) alternarChat();
    if (recibidos.contains(QStringLiteral("--abrir-ventana"))) abrirAjustes();
    // A second start paired this computer from the clipboard and stored the account: it is taken
    // up here as a pairing in the window would be.
    if (recibidos.contains(QStringLiteral("--enlazar-portapapeles"))) {
        const std::optional<Cuenta> guardada = entorno.leerCuenta();
        if (guardada && guardada != cuenta) enlazada(*guardada);
    }
    // A plain second start from the menu shows what the first one would: the pairing window
    // without an account; and where the panel shows no tray icon, the tray's menu.
    if (recibidos.isEmpty()) {
        if (!cuenta) abrirEnlace();
        if (!hayBandeja()) menuSinBandeja();
    }
}

// ------------------------------------------------------------------ switch tests

void App::probarAtajo(QString texto) {
    despues(4, [this, texto] { probarAtajoTarea(texto); });
}

QCoro::Task<void> App::probarAtajoTarea(QString texto) {
    QPointer<App> yo(this);
    const double inicio = reloj.segundos();
    std::optional<QString> respuesta;
    if (puentePreguntar) {
        auto tarea = puentePreguntar(texto);
        respuesta = co_await std::move(tarea);
        if (!yo) co_return;
    }
    const int transcurrido = static_cast<int>(reloj.segundos() - inicio);
    Registro::escribir(QStringLiteral("[atajos] prueba en %1s: ").arg(transcurrido) +
                       respuesta.value_or(QStringLiteral("SIN RESPUESTA")));
    int total = -1;
    int dudas = -1;
    if (puentePendientes) {
        const auto [t2, d] = puentePendientes();
        total = t2;
        dudas = static_cast<int>(d.size());
    }
    Registro::escribir(QStringLiteral("[atajos] pendientes: %1 · dudas: %2").arg(total).arg(dudas));
}

QCoro::Task<void> App::probarEnvio(QString ruta) {
    QPointer<App> yo(this);
    QPointer<PuertoChat> c(chat.get());
    if (!c) co_return;
    auto resultado = co_await c->enviarArchivo(
        QFileInfo(ruta).absoluteFilePath(),
        QStringLiteral("Prueba de adjunto desde la app de Linux. No hace falta hacer nada con él."));
    if (!yo) co_return;
    Registro::escribir(QStringLiteral("[chat] prueba de envío: ") + resultado.value_or(QStringLiteral("enviado")));
}

// ------------------------------------------------------------------ login item

void App::abrirAlIniciarSesionPrimeraVez() {
    const QString clave = QStringLiteral("zentu.inicioRegistrado");
    if (booleanoGuardado(clave, false)) return;
    // Set before trying: a failed first attempt is not repeated at the next launch.
    Preferencias::almacen().setValue(clave, true);
    abrirAlIniciarSesion(true);
}

void App::abrirAlIniciarSesion(bool si) {
    if (auto fallo = entorno.abrirAlIniciarSesion(si)) {
        Registro::escribir(QStringLiteral("[inicio] no se pudo cambiar: ") + *fallo);
        return;
    }
    Registro::escribir(QStringLiteral("[inicio] abrir al iniciar sesión: ") + (si ? QStringLiteral("sí") : QStringLiteral("no")) +
                       QStringLiteral(" · estado ") + QString::number(entorno.alIniciarSesion() ? 1 : 0));
}

// ------------------------------------------------------------------ morning summary

bool App::resumenDeLaManana() { return booleanoGuardado(QStringLiteral("zentu.resumenManana"), true); }

void App::quizasResumenDeLaManana(double espera) {
    despues(espera, [this] { comprobarResumen(); });
}

void App::comprobarResumen() {
    if (!resumenDeLaManana() || !cuenta) return;
    const QDateTime ahora = reloj.ahora().toLocalTime();
    const int hora = ahora.time().hour();
    if (hora < 6 || hora >= 12) return;
    const QString hoy = ahora.date().toString(Qt::ISODate);
    const QString clave = QStringLiteral("zentu.resumenDado");
    if (Preferencias::almacen().value(clave).toString() == hoy) return;
    if (modo != Modo::ninguno || !chat) return;
    // Starting a conversation declines a ringing call: the summary waits for the next check
    // rather than hanging up on an agent who is calling.
    if (sonando) return;
    // Stored before asking: the summary is tried at most once a day.
    Preferencias::almacen().setValue(clave, hoy);
    Registro::escribir(QStringLiteral("[mañana] resumen de la mañana"));
    preguntarEnVoz(kPreguntaManana);
}

void App::preguntarEnVoz(const QString& texto) {
    empezarConversacion();
    if (!conversacion) return;
    conversacion->cancelar(true);
    modo = Modo::conversacion;
    actualizarModoChat();
    conversacion->preguntar(texto);
}

// ------------------------------------------------------------------ quitting

void App::salir() {
    if (saliendo_) return;
    saliendo_ = true;
    if (!llamada) {
        respondido_ = true;
        entorno.terminarProceso();
        return;
    }
    Registro::escribir(QStringLiteral("[app] salir con la llamada abierta: se cuelga primero"));
    QPointer<App> yo(this);
    auto responder = [yo] {
        if (!yo || yo->respondido_) return;
        yo->respondido_ = true;
        yo->entorno.terminarProceso();
    };
    // The usual end-of-call handling does not run: the program is going.
    llamada->alTerminar = [responder](std::optional<ErrorLlamada>) { responder(); };
    despues(3.0, responder);
    llamada->colgar();
}
