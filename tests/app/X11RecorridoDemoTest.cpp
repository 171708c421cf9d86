// A newcomer's first session: the program installed as the README installs it, the demo service
// started as the README says, and every road a person takes on the first day: pairing from the
// clipboard (and the call that follows it), the chat with a text, a picture and a question asked
// from the command line, an agent's call answered and hung up, a call started from the command
// line, the waiting question answered on its card, an agent paused and resumed from the tray, and
// the demo restarted under the running program; and the next morning, the spoken summary at
// start with one hands-free turn after it and a voice note in which nothing is said. What the demo received, what the program logged
// and which windows it showed are checked; the agent's voice is listened for on the sound
// server's output.
#include "comun/Ayudas.h"
#include "comun/Demo.h"
#include "comun/PanelBandeja.h"
#include "plataforma/Preferencias.h"
#include "zentu/conexion/Cuenta.h"

#include <QBuffer>
#include <QClipboard>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPixmap>
#include <QScreen>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include <cmath>
#include <csignal>

namespace {

// ------------------------------------------------------------------ the installed program
struct Salida {
    int estado = -1;
    QString salida, errores;
};

QString ejecutar(const QString& programa, const QStringList& argumentos, const QProcessEnvironment& entorno,
                 int* estado = nullptr) {
    QProcess p;
    p.setProcessEnvironment(entorno);
    p.start(programa, argumentos);
    p.waitForStarted(5000);
    pruebas::esperarHasta([&] { return p.state() == QProcess::NotRunning; }, 120000);
    if (estado) *estado = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput()) + QString::fromUtf8(p.readAllStandardError());
}

struct Ventana {
    QString id, nombre;
    int ancho = 0, alto = 0;
};

// The program's windows on the screen (mapped), by its process id.
std::vector<Ventana> ventanas(qint64 pid) {
    const auto entorno = QProcessEnvironment::systemEnvironment();
    std::vector<Ventana> v;
    const QString ids = ejecutar("xdotool", {"search", "--onlyvisible", "--pid", QString::number(pid)}, entorno);
    for (const QString& id : ids.split('\n', Qt::SkipEmptyParts)) {
        Ventana w{id.trimmed(), ejecutar("xdotool", {"getwindowname", id.trimmed()}, entorno).trimmed()};
        const QString g = ejecutar("xdotool", {"getwindowgeometry", "--shell", id.trimmed()}, entorno);
        for (const QString& l : g.split('\n')) {
            if (l.startsWith("WIDTH=")) w.ancho = l.mid(6).toInt();
            if (l.startsWith("HEIGHT=")) w.alto = l.mid(7).toInt();
        }
        v.push_back(w);
    }
    return v;
}

void teclear(const QStringList& argumentos) { ejecutar("xdotool", argumentos, QProcessEnvironment::systemEnvironment()); }

void foto(const QString& nombre) {
    pruebas::girar(600);
    if (QScreen* s = QGuiApplication::primaryScreen())
        s->grabWindow(0).save(pruebas::carpetaArtefactos("demo") + "/" + nombre + ".png");
}

// ------------------------------------------------------------------ the agent's voice
// The sound server's output as heard on its monitor: 16-bit mono at 24 kHz.
class Oido {
public:
    void empezar() {
        datos_.clear();
        p_.start("parec", {"--device=@DEFAULT_MONITOR@", "--format=s16le", "--rate=24000", "--channels=1", "--raw",
                           "--latency-msec=50"});
        p_.waitForStarted(5000);
    }
    void parar() {
        p_.kill();
        p_.waitForFinished(3000);
    }
    // Tenths of a second in which the demo's voice (its 200 Hz tone) carries the sound: Goertzel's
    // power at 200 Hz against the window's whole energy. The program's cues lie above 230 Hz.
    int decimasDeVoz() {
        datos_ += p_.readAllStandardOutput();
        const int n = 2400;
        const auto* m = reinterpret_cast<const qint16*>(datos_.constData());
        const qsizetype total = datos_.size() / 2;
        int con = 0;
        const double k = 2 * std::cos(2 * M_PI * 200.0 / 24000.0);
        for (qsizetype i = 0; i + n <= total; i += n) {
            double s1 = 0, s2 = 0, energia = 0;
            for (int j = 0; j < n; ++j) {
                const double x = m[i + j] / 32768.0;
                energia += x * x;
                const double s0 = x + k * s1 - s2;
                s2 = s1;
                s1 = s0;
            }
            const double potencia = s1 * s1 + s2 * s2 - k * s1 * s2;
            if (energia > n * 1e-4 && potencia / (energia * n / 2) > 0.5) ++con;
        }
        return con;
    }

private:
    QProcess p_;
    QByteArray datos_;
};

// A time zone in which it is now `hora` o'clock (POSIX writes the offset west of UTC).
QString horarioALas(int hora) {
    int desfase = hora - QDateTime::currentDateTimeUtc().time().hour();
    if (desfase > 12) desfase -= 24;
    if (desfase < -12) desfase += 24;
    return QStringLiteral("ZNT%1%2").arg(desfase > 0 ? "-" : "+").arg(std::abs(desfase));
}

QByteArray png() {
    QImage imagen(320, 200, QImage::Format_RGB32);
    imagen.fill(QColor(214, 160, 90));
    QByteArray datos;
    QBuffer b(&datos);
    b.open(QIODevice::WriteOnly);
    imagen.save(&b, "PNG");
    return datos;
}

TEST(RecorridoDemo, UnDiaConLaDemostracion) {
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());

    // Installed as the README's start command installs it.
    QProcessEnvironment instalar = QProcessEnvironment::systemEnvironment();
    instalar.insert("ZENTU_BUILD", ZENTU_COMPILACION);
    instalar.insert("ZENTU_PREFIJO", tmp.filePath("prefijo"));
    instalar.insert("XDG_CONFIG_HOME", tmp.filePath("config-instalacion"));
    int estado = -1;
    const QString colocado = ejecutar("bash", {ZENTU_RAIZ "/scripts/colocar.sh"}, instalar, &estado);
    ASSERT_EQ(estado, 0) << colocado.toStdString();
    const QString zentu = tmp.filePath("prefijo/bin/zentu");
    ASSERT_TRUE(QFile::exists(zentu));

    Demo demo;
    ASSERT_TRUE(demo.arrancar(tmp.filePath("demo")));

    // A panel with a tray, on its own connection and thread as another process would be.
    pruebas::PanelBandeja panel(10000);
    ASSERT_TRUE(panel.listo());

    // The program, started as the demo's console says. Its morning summary (a spoken conversation
    // a few seconds after a start between 6 and 12) would cut into the walk at that time of day:
    // switched off, as the settings let the owner do.
    Preferencias::almacen().setValue(QStringLiteral("zentu.resumenManana"), false);
    Preferencias::almacen().sync();
    Llavero::borrar();
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.insert("ZENTU_REALTIME", demo.realtime);
    // The first day's walk happens in the afternoon: no morning summary comes in between.
    entorno.insert("TZ", horarioALas(15));
    QProcess app;
    app.setProcessEnvironment(entorno);
    app.setProcessChannelMode(QProcess::SeparateChannels);
    app.start(zentu, {});
    ASSERT_TRUE(app.waitForStarted(5000));
    QString registro;
    auto vio = [&](const QString& linea) {
        registro += QString::fromUtf8(app.readAllStandardError());
        return registro.contains(linea);
    };
    auto veces = [&](const QString& linea) {
        vio(linea);
        return registro.count(linea);
    };
    auto esperarRegistro = [&](const QString& linea, int ms = 30000) { return pruebas::esperarHasta([&] { return vio(linea); }, ms); };
    auto otraVez = [&](const QString& linea, qsizetype antes, int ms = 30000) {
        return pruebas::esperarHasta([&] { return veces(linea) > antes; }, ms);
    };
    auto correr = [&](const QStringList& argumentos) {
        int e = -1;
        const QString s = ejecutar(zentu, argumentos, entorno, &e);
        EXPECT_EQ(e, 0) << "zentu " << argumentos.join(' ').toStdString() << ": " << s.toStdString();
        return s;
    };
    auto conNombre = [&](const QString& nombre) {
        std::vector<Ventana> v;
        for (const Ventana& w : ventanas(app.processId()))
            if (w.nombre == nombre) v.push_back(w);
        return v;
    };
    auto enfocarYTeclear = [&](const Ventana& w, const QStringList& teclas) {
        teclear({"windowfocus", "--sync", w.id});
        teclear(teclas);
    };
    ASSERT_TRUE(esperarRegistro("[app] lista · cuenta=ninguna")) << registro.toStdString();

    // ---- Pairing: the code copied from the demo's console, Ctrl+V in the pairing window.
    std::vector<Ventana> enlace;
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !(enlace = conNombre("Zentu AI")).empty(); }, 15000));
    foto("1-enlace");
    QGuiApplication::clipboard()->setText(demo.codigo);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return QGuiApplication::clipboard()->text() == demo.codigo; }));
    // The call that pairing starts is listened to from before it starts.
    Oido oido;
    struct Antes {
        qsizetype conectadas, fines;
    };
    auto antesDeLlamar = [&] {
        oido.empezar();
        return Antes{veces("[llamada] conectada"), veces("[llamada] fin → ")};
    };
    Antes antes = antesDeLlamar();
    enfocarYTeclear(enlace.front(), {"key", "ctrl+v"});
    ASSERT_TRUE(esperarRegistro("[enlace] enlazada con " + demo.url)) << registro.toStdString();
    EXPECT_TRUE(demo.esperarLinea("Zentu AI se enlazó"));
    EXPECT_TRUE(pruebas::esperarHasta([&] { return conNombre("Zentu AI").empty(); }, 10000));
    // The live channel binds: history, questions, credits and the day come from the demo.
    EXPECT_TRUE(esperarRegistro("[pendientes] 1 dudas + 0 permisos"));
    EXPECT_TRUE(esperarRegistro("créditos 1320 · día 14 conv")) << registro.toStdString();

    // ---- The call that starts after pairing connects, speaks and hangs up on Alt+Space.
    auto llamadaCompleta = [&](const char* que, Antes a) {
        SCOPED_TRACE(que);
        ASSERT_TRUE(otraVez("[llamada] conectada", a.conectadas)) << registro.toStdString();
        EXPECT_FALSE(conNombre("Zentu").empty());
        ASSERT_TRUE(pruebas::esperarHasta([&] { return oido.decimasDeVoz() >= 5; }, 20000)) << "la voz no sonó";
        oido.parar();
        foto(QString("llamada-") + que);
        teclear({"key", "alt+space"});
        ASSERT_TRUE(otraVez("[llamada] fin → ", a.fines)) << registro.toStdString();
    };
    llamadaCompleta("al-enlazar", antes);
    ASSERT_EQ(demo.recibidas("GET", "/api/v1/llamada/realtime/token").size(), 1);
    EXPECT_EQ(demo.recibidas("POST", "/api/v1/llamada/fin").size(), 1);

    // ---- The chat: opened from the command line, a text typed, a picture sent.
    correr({"--abrir-chat"});
    ASSERT_TRUE(esperarRegistro("[chat] historial: ")) << registro.toStdString();
    std::vector<Ventana> chat;
    ASSERT_TRUE(pruebas::esperarHasta([&] {
        chat.clear();
        for (const Ventana& w : conNombre("Zentu"))
            if (w.alto > 300) chat.push_back(w);
        return !chat.empty();
    }, 15000));
    enfocarYTeclear(chat.front(), {"type", "--delay", "30", "Hola desde el escritorio"});
    teclear({"key", "Return"});
    auto textoEnviado = [&](const QString& texto) {
        for (const QJsonValue& d : demo.recibido("chat:send"))
            if (d["text"].toString() == texto) return true;
        return false;
    };
    ASSERT_TRUE(pruebas::esperarHasta([&] { return textoEnviado("Hola desde el escritorio"); }, 20000));
    EXPECT_TRUE(demo.esperarLinea("Chat: «Hola desde el escritorio»"));

    const QString imagen = tmp.filePath("vitrina.png");
    {
        QFile f(imagen);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(png());
    }
    EXPECT_EQ(correr({"--enviar-archivo", imagen, "--mensaje", "la vitrina"}).trimmed(), "Listo, se lo mandé a Zentu.");
    ASSERT_TRUE(pruebas::esperarHasta([&] { return textoEnviado("la vitrina"); }, 20000));
    // The picture's bubble fetches it back from the demo with the paired token.
    QJsonArray medias;
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !(medias = demo.recibidas("GET", "/api/media/*")).isEmpty(); }, 20000));
    const auto guardada = Llavero::leer();
    ASSERT_TRUE(guardada);
    EXPECT_EQ(QUrlQuery(medias.last()["consulta"].toString().mid(1)).queryItemValue("token"), guardada->token);
    // ... and the demo gives it the picture that was sent.
    QNetworkAccessManager red;
    QNetworkReply* bajada = red.get(QNetworkRequest(QUrl(demo.url + medias.last()["ruta"].toString() + medias.last()["consulta"].toString())));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return bajada->isFinished(); }, 15000));
    EXPECT_EQ(bajada->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    EXPECT_EQ(bajada->readAll(), png());
    bajada->deleteLater();
    // A question asked from the command line gets the agent's answer.
    EXPECT_TRUE(correr({"--preguntar", "Como vamos hoy"}).contains("14 conversaciones"));
    foto("2-chat");
    // Esc closes the chat, and the island goes with it. The key goes where the keyboard is: it is
    // pressed once the chat has it (the command-line question may have left it elsewhere).
    const auto chatConTeclado = [&] {
        teclear({"windowfocus", "--sync", chat.front().id});
        return ejecutar("xdotool", {"getwindowfocus"}, QProcessEnvironment::systemEnvironment()).trimmed() ==
               chat.front().id;
    };
    ASSERT_TRUE(pruebas::esperarHasta(chatConTeclado, 20000));
    teclear({"key", "Escape"});
    ASSERT_TRUE(pruebas::esperarHasta([&] { return ventanas(app.processId()).empty(); }, 30000)) << [&] {
        std::string quedan;
        for (const Ventana& w : ventanas(app.processId()))
            quedan += "«" + w.nombre.toStdString() + "» " + std::to_string(w.ancho) + "×" + std::to_string(w.alto) + " ";
        return quedan;
    }();

    // ---- An agent calls about the waiting question; Enter answers, Alt+Space hangs up.
    const qsizetype suenan = veces("[entrante] suena: ");
    demo.orden("llamar");
    ASSERT_TRUE(otraVez("[entrante] suena: ", suenan)) << registro.toStdString();
    EXPECT_TRUE(vio("[entrante] suena: ventas · duda 17"));
    // The island: the smallest of the program's windows named so (the chat panel is the other).
    std::vector<Ventana> isla;
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !(isla = conNombre("Zentu")).empty(); }, 10000));
    std::sort(isla.begin(), isla.end(), [](const Ventana& a, const Ventana& b) { return a.alto < b.alto; });
    foto("3-suena");
    antes = antesDeLlamar();
    enfocarYTeclear(isla.front(), {"key", "Return"});
    ASSERT_TRUE(esperarRegistro("[entrante] contestada")) << registro.toStdString();
    llamadaCompleta("entrante", antes);
    bool conConsulta = false;
    for (const QJsonValue& p : demo.recibidas("GET", "/api/v1/llamada/realtime/token"))
        conConsulta = conConsulta || p["consulta"].toString() == "?agente=ventas&consulta=17";
    EXPECT_TRUE(conConsulta);

    // ---- A call from the command line.
    antes = antesDeLlamar();
    correr({"--llamar"});
    llamadaCompleta("llamar", antes);
    EXPECT_EQ(demo.recibidas("POST", "/api/v1/llamada/fin").size(), 3);

    // ---- Without credits the switch says why and fails.
    demo.orden("sin-creditos");
    ASSERT_TRUE(demo.esperarLinea("Se acabaron los créditos"));
    {
        int salida = -1;
        const QString dijo = ejecutar(zentu, {"--llamar"}, entorno, &salida);
        EXPECT_EQ(salida, 1) << dijo.toStdString();
        EXPECT_TRUE(dijo.contains("No te quedan créditos para hablar con Zentu.")) << dijo.toStdString();
    }
    demo.orden("creditos");

    // ---- The waiting question, answered on its card (a widget's link opens it).
    QStringList yaEstaban;
    for (const Ventana& w : ventanas(app.processId())) yaEstaban << w.id;
    correr({"zuzadari://duda/17"});
    std::vector<Ventana> tarjeta;
    ASSERT_TRUE(pruebas::esperarHasta([&] {
        tarjeta.clear();
        for (const Ventana& w : ventanas(app.processId()))
            if (!yaEstaban.contains(w.id) && w.alto > 200) tarjeta.push_back(w);
        return !tarjeta.empty();
    }, 15000));
    foto("4-duda");
    enfocarYTeclear(tarjeta.front(), {"type", "--delay", "30", "Solo el 5 por ciento"});
    teclear({"key", "Return"});
    QJsonArray respuestas;
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !(respuestas = demo.recibidas("POST", "/api/dudas/17/responder")).isEmpty(); }, 20000));
    EXPECT_EQ(QJsonDocument::fromJson(respuestas.at(0)["cuerpo"].toString().toUtf8()).object()["respuesta"].toString(), "Solo el 5 por ciento");
    EXPECT_TRUE(esperarRegistro("[pendientes] 0 dudas + 0 permisos")) << registro.toStdString();
    EXPECT_TRUE(demo.esperarLinea("Respondiste la duda 17"));

    // ---- An agent paused and resumed from the tray's menu.
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !panel.items().isEmpty(); }, 15000));
    const QString item = panel.items().last();
    QString menu;
    // The agent's item in "Tus agentes", whatever the menu holds at the moment (it is rebuilt
    // after every change of the team).
    auto agente = [&](const QString& nombre) -> std::optional<int> {
        menu = panel.menu(item);
        if (menu.isEmpty()) return std::nullopt;
        auto disposicion = [&] { return panel.disposicion(item, menu).value_or(pruebas::NodoMenu{}); };
        auto sinMarcas = [](const pruebas::NodoMenu& n) { return QString(n.etiqueta).remove('&'); };
        for (const pruebas::NodoMenu& n : disposicion().hijos) {
            if (!sinMarcas(n).startsWith("Tus agentes")) continue;
            panel.abrir(item, menu, n.id);
            for (const pruebas::NodoMenu& s : disposicion().hijos)
                if (s.id == n.id)
                    for (const pruebas::NodoMenu& h : s.hijos)
                        if (sinMarcas(h) == nombre) return h.id;
        }
        return std::nullopt;
    };
    auto clic = [&](int id) { panel.clic(item, menu, id); };
    for (const auto& [activo, dice] : std::vector<std::pair<bool, QString>>{{true, "Reanudaste a Cobranza."}, {false, "Pausaste a Cobranza."}}) {
        SCOPED_TRACE(dice.toStdString());
        std::optional<int> cobranza;
        ASSERT_TRUE(pruebas::esperarHasta([&] { return (cobranza = agente("Cobranza")).has_value(); }, 15000));
        clic(*cobranza);
        ASSERT_TRUE(demo.esperarLinea(dice));
        const QJsonArray cambios = demo.recibidas("PATCH", "/api/agentes/4");
        ASSERT_FALSE(cambios.isEmpty());
        EXPECT_EQ(QJsonDocument::fromJson(cambios.last()["cuerpo"].toString().toUtf8()).object()["activo"].toBool(!activo), activo);
    }

    // ---- The demo restarts under the running program, which reconnects by itself.
    const qsizetype historias = demo.recibido("chats:messages").size();
    EXPECT_GT(historias, 0);
    const int puerto = demo.puerto(), puertoVoz = demo.puertoVoz();
    demo.detener();
    ASSERT_TRUE(demo.arrancar(tmp.filePath("demo"), puerto, puertoVoz));
    EXPECT_TRUE(demo.esperarLinea("ya está enlazado"));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !demo.recibido("chats:messages").isEmpty(); }, 90000))
        << "el programa no volvió a conectarse";
    EXPECT_TRUE(demo.esperarLinea("Zentu AI está conectado.")) << demo.lineas().join(QLatin1Char('\n')).toStdString() << registro.toStdString();
    EXPECT_FALSE(vio("venció")) << registro.toStdString();

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return app.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(app.exitCode(), 0);

    // ---- The next morning: started again at nine, local time, in a quiet room. The summary
    // is spoken by itself, the program listens once more and closes when nobody speaks; then a
    // voice note in which nothing is said. The program answers throughout.
    QProcessEnvironment manana = entorno;
    manana.insert("TZ", horarioALas(9));
    manana.insert("XDG_CONFIG_HOME", tmp.filePath("config-manana"));  // no summary given yet today
    manana.insert("PULSE_SOURCE", "silencio.monitor");
    QProcess app2;
    app2.setProcessEnvironment(manana);
    app2.setProcessChannelMode(QProcess::SeparateChannels);
    app2.start(zentu, {});
    ASSERT_TRUE(app2.waitForStarted(5000));
    QString registro2;
    auto vio2 = [&](const QString& linea) {
        registro2 += QString::fromUtf8(app2.readAllStandardError());
        return registro2.count(linea);
    };
    auto esperar2 = [&](const QString& linea, int n = 1, int ms = 60000) {
        return pruebas::esperarHasta([&] { return vio2(linea) >= n; }, ms);
    };
    auto contesta = [&](const char* cuando) {
        int e = -1;
        QElapsedTimer t;
        t.start();
        const QString s = ejecutar(zentu, {"--pendientes"}, manana, &e);
        EXPECT_EQ(e, 0) << cuando << ": " << s.toStdString();
        EXPECT_LT(t.elapsed(), 15000) << cuando;
    };
    ASSERT_TRUE(esperar2("[app] lista · cuenta=")) << registro2.toStdString();
    ASSERT_TRUE(esperar2("[mañana] resumen de la mañana", 1, 30000)) << registro2.toStdString();
    ASSERT_TRUE(esperar2("[conversación] empieza a sonar")) << registro2.toStdString();
    contesta("mientras habla");
    ASSERT_TRUE(esperar2("[conversación] manos libres: te escucho")) << registro2.toStdString();
    contesta("mientras escucha");
    ASSERT_TRUE(esperar2("[conversación] manos libres: nadie habló; se cierra", 1, 30000)) << registro2.toStdString();
    contesta("después del resumen");

    ejecutar(zentu, {"--abrir-chat"}, manana);
    ASSERT_TRUE(esperar2("[chat] historial: ")) << registro2.toStdString();
    ASSERT_TRUE(pruebas::esperarHasta([&] {
        for (const Ventana& w : ventanas(app2.processId()))
            if (w.alto > 300) return true;
        return false;
    }, 15000));
    ejecutar(zentu, {"zuzadari://nota"}, manana);
    ASSERT_TRUE(esperar2("[conversación] manos libres: nadie habló; se cierra", 2, 30000)) << registro2.toStdString();
    contesta("después de la nota callada");
    EXPECT_EQ(app2.state(), QProcess::Running);
    EXPECT_EQ(vio2("[conversación] transcrito: "), 0);

    ::kill(static_cast<pid_t>(app2.processId()), SIGTERM);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return app2.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(app2.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app2.exitCode(), 0);
    Llavero::borrar();
}

}  // namespace
