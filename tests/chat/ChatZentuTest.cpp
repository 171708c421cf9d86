#include "zentu/chat/ChatZentu.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"
#include "plataforma/Reloj.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
#include <memory>

using pruebas::esperarHasta;
using pruebas::girar;
using Cual = Sonidos::Cual;

namespace {

QJsonObject objeto(const char* json) { return QJsonDocument::fromJson(QByteArray(json)).object(); }

const QString kClave = QStringLiteral("zentu.chatConAgente");

template <typename T>
struct Resultado {
    bool hecho = false;
    std::optional<T> valor;
};

template <typename T>
QCoro::Task<void> completar(QCoro::Task<T> tarea, std::shared_ptr<Resultado<T>> r) {
    r->valor = co_await std::move(tarea);
    r->hecho = true;
}

QCoro::Task<void> completar(QCoro::Task<void> tarea, std::shared_ptr<Resultado<bool>> r) {
    co_await std::move(tarea);
    r->valor = true;
    r->hecho = true;
}

std::shared_ptr<Resultado<bool>> lanzar(QCoro::Task<void> tarea) {
    auto r = std::make_shared<Resultado<bool>>();
    [[maybe_unused]] auto t = completar(std::move(tarea), r);
    return r;
}

// Starts a task now; the test drives the loop (and the virtual clock) until it is done.
template <typename T>
std::shared_ptr<Resultado<T>> lanzar(QCoro::Task<T> tarea) {
    auto r = std::make_shared<Resultado<T>>();
    [[maybe_unused]] auto t = completar<T>(std::move(tarea), r);
    return r;
}

QJsonObject mensaje(const QString& id, const QString& texto, bool deZentu, const QString& fecha,
                    const QString& sender = {}) {
    QJsonObject m{{"messageId", id}, {"text", texto}, {"fromMe", deZentu}, {"timestamp", fecha}};
    if (!sender.isEmpty()) m.insert("sender", sender);
    return m;
}

QJsonObject foto(const QString& id, const QString& fecha) {
    QJsonObject m = mensaje(id, QString(), false, fecha);
    m.insert("type", "image");
    m.insert("hasMedia", true);
    return m;
}

class ChatServicio : public ::testing::Test {
protected:
    void SetUp() override {
        Preferencias::almacen().remove(kClave);
        Registro::observar([this](const QString& l) {
            if (l.startsWith(QLatin1String("[chat]"))) lineas << l;
        });
        // The channel watches the service's heartbeat on the virtual clock: a long heartbeat lets
        // the tests move that clock by minutes without the channel giving the connection up.
        ASSERT_TRUE(servicio.arrancar(0, {"--ping-intervalo", "300000", "--ping-espera", "300000"}));
        canal = std::make_unique<CanalEnVivo>(Cuenta{servicio.url(), "token-bueno", "d@n.mx", "N"}, reloj);
    }
    void TearDown() override {
        Registro::observar({});
        chat.reset();
        canal.reset();
        Preferencias::almacen().remove(kClave);
    }
    // Turns the service's chat on with a history, builds the model and connects: the connection
    // itself loads the history.
    void arrancar(const QJsonArray& historia = {}, const QJsonValue& agente = {}, bool conIds = true) {
        QJsonObject d{{"mensajes", historia}, {"conMessageIds", conIds}};
        if (agente.isString()) d.insert("agente", agente);
        servicio.control("POST", "chat", d);
        chat = std::make_unique<ChatZentu>(*canal, reloj);
        chat->alSonar = [this](Cual c) { cues << c; };
        canal->conectar();
        ASSERT_TRUE(esperarHasta([&] { return chat->cargado(); }, 10000));
        ASSERT_TRUE(esperarHasta([&] { return hayLinea("[chat] historial:"); }));
    }
    bool hayLinea(const QString& prefijo) const {
        for (const auto& l : lineas)
            if (l.startsWith(prefijo)) return true;
        return false;
    }
    QJsonArray eventosDe(const QString& nombre) {
        QJsonArray r;
        for (const auto& e : servicio.eventos())
            if (e.toObject().value("evento").toString() == nombre) r.append(e.toObject().value("args").toArray().at(0));
        return r;
    }
    void empujar(const QJsonObject& m, const QString& phone = "dashboard") {
        servicio.emitir("messages:new", QJsonArray{QJsonObject{{"phone", phone}, {"message", m}}});
    }
    // A pushed message is handled after the listener returns: wait until the count settles.
    void esperarMensajes(int n) { ASSERT_TRUE(esperarHasta([&] { return chat->mensajes().size() == n; })) << n; }
    // Lets the service's pushes and acknowledgements arrive, when nothing is expected to change.
    void asentar() {
        // A ping through the service proves every earlier push was delivered.
        const int antes = static_cast<int>(eventosDe("chat:agente").size());
        [[maybe_unused]] auto t = lanzar(canal->pedir("chat:agente", {}, 8));
        ASSERT_TRUE(esperarHasta([&] { return eventosDe("chat:agente").size() > antes; }));
        girar(50);
    }
    QStringList textos() const {
        QStringList r;
        for (const auto& m : chat->mensajes()) r << m.texto;
        return r;
    }
    QString archivo(const QString& nombre, qint64 tam, const QByteArray& contenido = {}) {
        const QString ruta = dir.path() + "/" + nombre;
        QFile f(ruta);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        if (!contenido.isEmpty()) f.write(contenido);
        else EXPECT_TRUE(f.resize(tam));  // sparse: nothing is written
        return ruta;
    }

    QStringList lineas;
    QList<Cual> cues;
    RelojVirtual reloj;
    ServicioSimulado servicio;
    QTemporaryDir dir;
    std::unique_ptr<CanalEnVivo> canal;
    std::unique_ptr<ChatZentu> chat;
};

}  // namespace

// ------------------------------------------------------------------ history and agent

TEST_F(ChatServicio, HistorialOrdenadoYAgente) {
    const QJsonArray historia{
        mensaje("m3", "tercero", true, "2025-03-01T12:00:05Z", "Agente_Ventas"),
        mensaje("m1", "primero", false, "2025-03-01T12:00:00Z"),
        mensaje("m2", "segundo", true, "2025-03-01T12:00:00Z", "Zentu"),
        QJsonObject{{"messageId", "vacío"}, {"text", ""}},
        QJsonObject{{"messageId", "img"}, {"type", "image"}, {"mediaUrl", "/u/a.png"}, {"timestamp", "2025-03-01T12:00:09Z"}},
    };
    arrancar(historia, "Ventas");
    EXPECT_EQ(textos(), QStringList({"primero", "segundo", "tercero", ""}));
    EXPECT_EQ(chat->mensajes().at(2).autor, "Agente Ventas");
    EXPECT_EQ(chat->conAgente(), std::optional<QString>("Ventas"));
    EXPECT_EQ(Preferencias::almacen().value(kClave).toString(), "Ventas");
    EXPECT_TRUE(lineas.contains("[chat] ahora hablas con Ventas"));
    EXPECT_TRUE(lineas.contains("[chat] historial: 4 mensajes · 1 adjuntos (1 imágenes)"));
    EXPECT_EQ(eventosDe("chats:messages").at(0).toObject(), objeto(R"({"phone":"dashboard","limit":60})"));
}

TEST_F(ChatServicio, RespuestasInutilesNoCambianNada) {
    arrancar(QJsonArray{mensaje("m1", "hola", false, "2025-03-01T12:00:00Z")});
    struct Caso {
        const char* nombre;
        QJsonArray acuse;  // empty: no acknowledgement at all
    };
    const std::vector<Caso> casos = {
        {"sin messages", QJsonArray{objeto(R"({"ok":true})")}},
        {"messages no lista", QJsonArray{objeto(R"({"messages":{"a":1}})")}},
        {"lista con algo que no es diccionario", QJsonArray{objeto(R"({"messages":[{"text":"x"},3]})")}},
        {"sin acuse", QJsonArray{}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        servicio.olvidarEventos();
        if (c.acuse.isEmpty()) servicio.callarAck("chats:messages");
        else servicio.guionAck("chats:messages", c.acuse);
        auto r = lanzar(chat->cargar());
        ASSERT_TRUE(esperarHasta([&] { return !eventosDe("chats:messages").isEmpty(); }));
        if (c.acuse.isEmpty()) {
            girar(50);
            EXPECT_FALSE(r->hecho);
            reloj.avanzar(12);
        }
        ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
        EXPECT_EQ(textos(), QStringList({"hola"}));
        EXPECT_TRUE(chat->cargado());
        EXPECT_TRUE(eventosDe("chat:agente").isEmpty());
    }
    // An empty list empties the conversation.
    servicio.guionAck("chats:messages", QJsonArray{objeto(R"({"messages":[]})")});
    auto r = lanzar(chat->cargar());
    ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    EXPECT_TRUE(chat->mensajes().isEmpty());
}

// An older reply never takes the conversation back, and a push that lands while a load is under
// way survives that load's reply.
TEST_F(ChatServicio, CargasEnOrdenYEmpujesQueSobreviven) {
    arrancar();
    const QJsonObject viejo = objeto(R"({"messages":[{"messageId":"a","text":"a","timestamp":"2025-03-01T12:00:00Z"}]})");
    const QJsonObject nuevo = objeto(
        R"({"messages":[{"messageId":"a","text":"a","timestamp":"2025-03-01T12:00:00Z"},{"messageId":"b","text":"b","timestamp":"2025-03-01T12:00:01Z"}]})");
    servicio.control("POST", "ack",
                     QJsonObject{{"evento", "chats:messages"},
                                 {"cola", QJsonArray{QJsonObject{{"respuesta", QJsonArray{viejo}}, {"retraso", 600}},
                                                     QJsonObject{{"respuesta", QJsonArray{nuevo}}, {"retraso", 0}}}}});
    auto primera = lanzar(chat->cargar());
    ASSERT_TRUE(esperarHasta([&] { return eventosDe("chats:messages").size() == 2; }));
    auto segunda = lanzar(chat->cargar());
    ASSERT_TRUE(esperarHasta([&] { return segunda->hecho; }));
    EXPECT_EQ(textos(), QStringList({"a", "b"}));
    ASSERT_TRUE(esperarHasta([&] { return primera->hecho; }));
    EXPECT_EQ(textos(), QStringList({"a", "b"}));

    // A push while a (slow) load is under way is kept when the load's reply lacks it.
    servicio.control("POST", "ack",
                     QJsonObject{{"evento", "chats:messages"},
                                 {"cola", QJsonArray{QJsonObject{{"respuesta", QJsonArray{viejo}}, {"retraso", 600}}}}});
    auto tercera = lanzar(chat->cargar());
    ASSERT_TRUE(esperarHasta([&] { return eventosDe("chats:messages").size() == 4; }));
    empujar(mensaje("c", "empujado", true, "2025-03-01T12:00:03Z", "Zentu"));
    esperarMensajes(3);
    ASSERT_TRUE(esperarHasta([&] { return tercera->hecho; }));
    EXPECT_EQ(textos(), QStringList({"a", "empujado"}));
}

TEST_F(ChatServicio, EmpujesDuplicadosYAvisos) {
    arrancar(QJsonArray{mensaje("m1", "hola", false, "2025-03-01T12:00:00.000Z")});
    QStringList orden;
    chat->alMensajeDeZentu = [&](const ChatZentu::Mensaje& m) { orden << "mensaje:" + m.texto; };
    chat->alSonar = [&](Cual c) { orden << (c == Cual::llego ? "llego" : "otro"); };
    struct Caso {
        const char* nombre;
        QJsonObject m;
        QString phone;
        bool entra;
    };
    const std::vector<Caso> casos = {
        {"mismo id", mensaje("m1", "otra cosa", true, "2025-03-01T13:00:00Z"), "dashboard", false},
        {"mismo texto y lado a 4.9 s", mensaje("n1", "hola", false, "2025-03-01T12:00:04.900Z"), "dashboard", false},
        {"mismo texto y lado 4.9 s antes", mensaje("n2", "hola", false, "2025-03-01T11:59:55.100Z"), "dashboard", false},
        {"otro phone", mensaje("n3", "fuera", true, "2025-03-01T12:00:00Z"), "5215550000", false},
        {"sin texto ni adjunto", mensaje("n4", "  ", true, "2025-03-01T12:00:00Z"), "dashboard", false},
        {"mismo texto a 5 s", mensaje("n5", "hola", false, "2025-03-01T12:00:05.000Z"), "dashboard", true},
        {"mismo texto del otro lado", mensaje("n6", "hola", true, "2025-03-01T12:00:03Z", "Zentu"), "dashboard", true},
        // An empty id names nothing: such messages are told apart like messages without one.
        {"messageId vacío", mensaje("", "sin id uno", false, "2025-03-01T12:01:00Z"), "dashboard", true},
        {"otro messageId vacío", mensaje("", "sin id dos", false, "2025-03-01T12:02:00Z"), "dashboard", true},
        {"el mismo otra vez", mensaje("", "sin id dos", false, "2025-03-01T12:02:00Z"), "dashboard", false},
        // Photos sent one after another share their (empty) text: each is its own message, told
        // apart by its id, and the same photo pushed again is still one.
        {"una foto", foto("f1", "2025-03-01T12:03:00Z"), "dashboard", true},
        {"otra foto 1 s después", foto("f2", "2025-03-01T12:03:01Z"), "dashboard", true},
        {"la misma foto otra vez", foto("f2", "2025-03-01T12:03:01Z"), "dashboard", false},
    };
    int esperados = 1;
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        orden.clear();
        empujar(c.m, c.phone);
        if (c.entra) {
            ++esperados;
            esperarMensajes(esperados);
        } else {
            asentar();
            EXPECT_EQ(chat->mensajes().size(), esperados);
        }
        const bool agente = c.entra && c.m.value("fromMe").toBool();
        EXPECT_EQ(orden, agente ? QStringList({"mensaje:hola", "llego"}) : QStringList());
    }
    // A payload that is not an object is ignored too.
    servicio.emitir("messages:new", QJsonArray{QJsonValue("texto")});
    asentar();
    EXPECT_EQ(chat->mensajes().size(), esperados);
}

TEST_F(ChatServicio, EstadoDelAgente) {
    arrancar();
    int turnos = 0;
    chat->alTerminarTurno = [&] { ++turnos; };
    struct Caso {
        QJsonValue carga;
        bool escribiendo;
        int turnos;
    };
    const std::vector<Caso> casos = {
        {objeto(R"({"dashboard":true,"status":"processing"})"), true, 0},
        {objeto(R"({"dashboard":1,"status":"idle"})"), true, 0},
        {objeto(R"({"status":"idle"})"), true, 0},
        {objeto(R"({"dashboard":true,"status":"idle"})"), false, 1},
        {objeto(R"({"dashboard":true})"), false, 2},
        {objeto(R"({"dashboard":true,"status":"processing"})"), true, 2},
        {objeto(R"({"dashboard":true,"status":5})"), false, 3},
    };
    for (const auto& c : casos) {
        servicio.emitir("agent:status", QJsonArray{c.carga});
        asentar();
        EXPECT_EQ(chat->escribiendo(), c.escribiendo) << QJsonDocument(c.carga.toObject()).toJson().toStdString();
        EXPECT_EQ(turnos, c.turnos);
    }
}

TEST_F(ChatServicio, CambioDeAgenteYHablarCon) {
    Preferencias::almacen().setValue(kClave, "Guardado");
    arrancar(QJsonArray{}, "Ventas");  // the service's answer replaces the stored agent
    EXPECT_EQ(chat->conAgente(), std::optional<QString>("Ventas"));

    lineas.clear();
    servicio.emitir("chat:agente", QJsonArray{objeto(R"({"agente":"Ventas"})")});
    asentar();
    EXPECT_TRUE(lineas.isEmpty());
    servicio.emitir("chat:agente", QJsonArray{objeto(R"({"agente":""})")});
    ASSERT_TRUE(esperarHasta([&] { return !chat->conAgente(); }));
    EXPECT_FALSE(Preferencias::almacen().contains(kClave));
    EXPECT_EQ(lineas, QStringList({"[chat] ahora hablas con Zentu"}));

    // hablarCon: the text sent, and the agent only after the service accepted.
    servicio.olvidarEventos();
    EXPECT_TRUE(pruebas::esperar(chat->hablarCon(QString("Soporte"))));
    EXPECT_EQ(chat->conAgente(), std::optional<QString>("Soporte"));
    EXPECT_TRUE(pruebas::esperar(chat->hablarCon(std::nullopt)));
    EXPECT_EQ(chat->conAgente(), std::nullopt);
    servicio.guionAck("chat:send", QJsonArray{objeto(R"({"ok":false})")});
    EXPECT_FALSE(pruebas::esperar(chat->hablarCon(QString("Ventas"))));
    EXPECT_EQ(chat->conAgente(), std::nullopt);
    const QJsonArray enviados = eventosDe("chat:send");
    ASSERT_EQ(enviados.size(), 3);
    EXPECT_EQ(enviados.at(0).toObject(), objeto(R"({"text":"@Soporte"})"));
    EXPECT_EQ(enviados.at(1).toObject(), objeto(R"({"text":"/zentu"})"));
    EXPECT_TRUE(lineas.contains("[chat] hablar con Soporte: ok"));
    EXPECT_TRUE(lineas.contains("[chat] hablar con Ventas: falló"));
    EXPECT_TRUE(cues.isEmpty());

    // No reply within 15 s: not accepted.
    servicio.callarAck("chat:send");
    auto r = lanzar(chat->hablarCon(QString("Lento")));
    ASSERT_TRUE(esperarHasta([&] { return eventosDe("chat:send").size() == 4; }));
    reloj.avanzar(14.9);
    girar(30);
    EXPECT_FALSE(r->hecho);
    reloj.avanzar(0.2);
    ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    EXPECT_EQ(r->valor, false);
}

TEST_F(ChatServicio, AgenteGuardadoSeLeeAlCrear) {
    Preferencias::almacen().setValue(kClave, "Cobranza");
    ChatZentu otro(*canal, reloj);
    EXPECT_EQ(otro.conAgente(), std::optional<QString>("Cobranza"));
}

// ------------------------------------------------------------------ sending

TEST_F(ChatServicio, EnviarTexto) {
    arrancar();
    EXPECT_FALSE(pruebas::esperar(chat->enviar(" \n\t ")));
    EXPECT_TRUE(eventosDe("chat:send").isEmpty());
    EXPECT_TRUE(cues.isEmpty());

    EXPECT_TRUE(pruebas::esperar(chat->enviar("  hola  \n")));
    EXPECT_EQ(eventosDe("chat:send").at(0).toObject(), objeto(R"({"text":"hola"})"));
    EXPECT_EQ(cues, QList<Cual>({Cual::enviado}));
    esperarMensajes(1);  // the service echoes the owner's message

    servicio.guionAck("chat:send", QJsonArray{objeto(R"({"ok":false,"error":"Sin saldo"})")});
    EXPECT_FALSE(pruebas::esperar(chat->enviar("otra")));
    EXPECT_TRUE(lineas.contains("[chat] no se pudo enviar: Sin saldo"));

    servicio.callarAck("chat:send");
    auto r = lanzar(chat->enviar("nadie"));
    ASSERT_TRUE(esperarHasta([&] { return eventosDe("chat:send").size() == 3; }));
    reloj.avanzar(20.1);
    ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    EXPECT_EQ(r->valor, false);
    EXPECT_TRUE(lineas.contains("[chat] no se pudo enviar: sin respuesta"));
    EXPECT_EQ(cues, QList<Cual>({Cual::enviado, Cual::error, Cual::error}));
}

TEST_F(ChatServicio, FormasDeLosEnvios) {
    arrancar();
    const QByteArray a("contenido A\x00\x01", 13), b("segundo B"), c("tercero");
    const QUrl ua = QUrl::fromLocalFile(archivo("informe.pdf", 0, a));
    const QUrl ub = QUrl::fromLocalFile(archivo("foto.png", 0, b));
    const QUrl uc = QUrl::fromLocalFile(archivo("sin_extension", 0, c));

    EXPECT_EQ(pruebas::esperar(chat->enviarArchivo(ua, "  mira  ")), std::nullopt);
    EXPECT_EQ(pruebas::esperar(chat->enviarArchivos({ub, uc, ua}, " tres ")), std::nullopt);
    EXPECT_EQ(pruebas::esperar(chat->enviarArchivos({uc}, "")), std::nullopt);  // one alone goes as "file"

    const QJsonArray enviados = eventosDe("chat:send");
    ASSERT_EQ(enviados.size(), 3);
    const QJsonObject uno = enviados.at(0).toObject();
    EXPECT_EQ(uno.value("text").toString(), "mira");
    EXPECT_EQ(uno.value("file").toObject().value("name").toString(), "informe.pdf");
    EXPECT_EQ(uno.value("file").toObject().value("mimeType").toString(), "application/pdf");
    EXPECT_EQ(ServicioSimulado::deBinario(uno.value("file").toObject().value("buffer")), a);
    EXPECT_EQ(uno.keys(), QStringList({"file", "text"}));

    const QJsonObject varios = enviados.at(1).toObject();
    EXPECT_EQ(varios.value("text").toString(), "tres");
    const QJsonArray lista = varios.value("files").toArray();
    ASSERT_EQ(lista.size(), 3);
    const QList<QByteArray> bytes{b, c, a};
    const QStringList nombres{"foto.png", "sin_extension", "informe.pdf"};
    const QStringList mimes{"image/png", "application/octet-stream", "application/pdf"};
    for (int i = 0; i < 3; ++i) {
        const QJsonObject e = lista.at(i).toObject();
        EXPECT_EQ(e.value("name").toString(), nombres[i]);
        EXPECT_EQ(e.value("mimeType").toString(), mimes[i]);
        EXPECT_EQ(ServicioSimulado::deBinario(e.value("buffer")), bytes[i]) << i;
    }
    EXPECT_EQ(enviados.at(2).toObject().value("file").toObject().value("name").toString(), "sin_extension");
    EXPECT_EQ(cues, QList<Cual>({Cual::enviado, Cual::enviado, Cual::enviado}));
}

TEST_F(ChatServicio, VariosSinMessageIdsVanUnoAUno) {
    arrancar({}, {}, false);
    const QUrl u1 = QUrl::fromLocalFile(archivo("a.txt", 0, "A"));
    const QUrl u2 = QUrl::fromLocalFile(archivo("b.txt", 0, "B"));
    const QUrl u3 = QUrl::fromLocalFile(archivo("c.txt", 0, "C"));

    // "ok" true without "messageIds": every file alone, all with an empty text.
    EXPECT_EQ(pruebas::esperar(chat->enviarArchivos({u1, u2, u3}, "texto")), std::nullopt);
    EXPECT_TRUE(lineas.contains("[chat] el servidor no conoce `files`: van uno a uno (3)"));
    QJsonArray enviados = eventosDe("chat:send");
    ASSERT_EQ(enviados.size(), 4);
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(enviados.at(i).toObject().value("text").toString(), "") << i;
        EXPECT_EQ(ServicioSimulado::deBinario(enviados.at(i).toObject().value("file").toObject().value("buffer")),
                  QByteArray(1, "ABC"[i - 1]));
    }
    EXPECT_EQ(cues, QList<Cual>({Cual::enviado, Cual::enviado, Cual::enviado}));

    // "ok" false without "messageIds": the first file carries the text; the first failure stops.
    servicio.olvidarEventos();
    cues.clear();
    servicio.control("POST", "ack",
                     QJsonObject{{"evento", "chat:send"},
                                 {"cola", QJsonArray{QJsonArray{objeto(R"({"ok":false})")}, QJsonArray{objeto(R"({"ok":true})")},
                                                     QJsonArray{objeto(R"({"ok":false,"error":"Muy raro"})")}}}});
    EXPECT_EQ(pruebas::esperar(chat->enviarArchivos({u1, u2, u3}, " hola ")), std::optional<QString>("Muy raro"));
    enviados = eventosDe("chat:send");
    ASSERT_EQ(enviados.size(), 3);
    EXPECT_EQ(enviados.at(1).toObject().value("text").toString(), "hola");
    EXPECT_EQ(enviados.at(2).toObject().value("text").toString(), "");
    EXPECT_EQ(cues, QList<Cual>({Cual::enviado, Cual::error}));
}

TEST_F(ChatServicio, FallosDeEnvioDeArchivos) {
    arrancar();
    const QUrl u1 = QUrl::fromLocalFile(archivo("a.txt", 0, "A"));
    const QUrl u2 = QUrl::fromLocalFile(archivo("b.txt", 0, "B"));
    struct Caso {
        const char* nombre;
        QJsonArray acuse;  // empty: none within the time-out
        bool varios;
        std::optional<QString> resultado;
        QString linea;
    };
    const std::vector<Caso> casos = {
        {"uno con error", QJsonArray{objeto(R"({"ok":false,"error":"Formato no"})")}, false, "Formato no",
         "[chat] no se pudo enviar el archivo: Formato no"},
        {"uno sin error", QJsonArray{objeto(R"({"ok":false,"error":7})")}, false, ChatZentu::kNoSeEnvioArchivo,
         "[chat] no se pudo enviar el archivo: 7"},
        {"uno sin acuse", QJsonArray{}, false, ChatZentu::kNoSeEnvioArchivo,
         "[chat] no se pudo enviar el archivo: sin respuesta"},
        {"varios con error", QJsonArray{objeto(R"({"ok":false,"messageIds":[],"error":"Lleno"})")}, true, "Lleno",
         "[chat] no se pudieron enviar los archivos: Lleno"},
        {"varios sin error", QJsonArray{objeto(R"({"messageIds":[]})")}, true, ChatZentu::kNoSeEnviaron,
         "[chat] no se pudieron enviar los archivos: sin respuesta"},
        {"varios sin acuse", QJsonArray{}, true, ChatZentu::kNoSeEnviaron,
         "[chat] no se pudieron enviar los archivos: sin respuesta"},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        cues.clear();
        lineas.clear();
        servicio.olvidarEventos();
        if (c.acuse.isEmpty()) servicio.callarAck("chat:send");
        else servicio.guionAck("chat:send", c.acuse);
        auto r = lanzar(c.varios ? chat->enviarArchivos({u1, u2}, "x") : chat->enviarArchivo(u1, "x"));
        ASSERT_TRUE(esperarHasta([&] { return !eventosDe("chat:send").isEmpty(); }));
        if (c.acuse.isEmpty()) {
            reloj.avanzar(c.varios ? 179.9 : 119.9);
            girar(30);
            EXPECT_FALSE(r->hecho);
            reloj.avanzar(0.2);
        }
        ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
        EXPECT_EQ(*r->valor, c.resultado);
        EXPECT_EQ(lineas, QStringList({c.linea}));
        EXPECT_EQ(cues, QList<Cual>({Cual::error}));
    }
}

// Limits are taken from the file system (sparse files: nothing is written or read), so files far
// beyond the limit are refused without being read.
TEST_F(ChatServicio, LimitesDeTamano) {
    arrancar();
    const qint64 mib = 1024 * 1024;
    const QUrl justo = QUrl::fromLocalFile(archivo("justo.bin", ChatZentu::kLimiteBytes));
    const QUrl unoMas = QUrl::fromLocalFile(archivo("uno-mas.bin", ChatZentu::kLimiteBytes + 1));
    const QUrl veinte1 = QUrl::fromLocalFile(archivo("v1.bin", 20 * mib));
    const QUrl veinte2 = QUrl::fromLocalFile(archivo("v2.bin", 20 * mib));
    const QUrl veinte3 = QUrl::fromLocalFile(archivo("v3.bin", 20 * mib));
    const QUrl falta = QUrl::fromLocalFile(dir.path() + "/no-existe.txt");
    QList<QUrl> enormes;
    for (int i = 0; i < 10; ++i) enormes << QUrl::fromLocalFile(archivo(QString("enorme%1.bin").arg(i), 64LL << 30));

    struct Caso {
        const char* nombre;
        QList<QUrl> archivos;
        std::optional<QString> resultado;
    };
    const std::vector<Caso> casos = {
        {"uno de más", {unoMas}, ChatZentu::kArchivoGrande},
        {"uno enorme", {enormes[0]}, ChatZentu::kArchivoGrande},
        {"tres de 20 MiB", {veinte1, veinte2, veinte3}, ChatZentu::kJuntosGrandes},
        {"diez enormes", enormes, ChatZentu::kJuntosGrandes},
        {"falta uno solo", {falta}, ChatZentu::kNoSeLeyo},
        {"falta el segundo", {veinte1, falta}, ChatZentu::noSeLeyoNombre("no-existe.txt")},
        {"carpeta", {QUrl::fromLocalFile(dir.path())}, ChatZentu::kNoSeLeyo},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        EXPECT_EQ(pruebas::esperar(chat->enviarArchivos(c.archivos, "t")), c.resultado);
    }
    EXPECT_TRUE(eventosDe("chat:send").isEmpty());
    EXPECT_TRUE(cues.isEmpty());
    EXPECT_TRUE(lineas.filter("no se pud").isEmpty());

    // Exactly the limit goes out, alone and as two files together.
    EXPECT_EQ(pruebas::esperar(chat->enviarArchivo(justo, "")), std::nullopt);
    EXPECT_EQ(pruebas::esperar(chat->enviarArchivos({veinte1, QUrl::fromLocalFile(archivo("resto.bin", 5 * mib))}, "")),
              std::nullopt);
    const QJsonArray enviados = eventosDe("chat:send");
    ASSERT_EQ(enviados.size(), 2);
    EXPECT_EQ(ServicioSimulado::deBinario(enviados.at(0).toObject().value("file").toObject().value("buffer")).size(),
              ChatZentu::kLimiteBytes);
    const QJsonArray dos = enviados.at(1).toObject().value("files").toArray();
    EXPECT_EQ(dos.at(0).toObject().value("name").toString(), "v1.bin");
    EXPECT_EQ(dos.at(1).toObject().value("name").toString(), "resto.bin");
}

TEST_F(ChatServicio, Preparados) {
    arrancar();
    QList<QUrl> ocho, cuatro;
    for (int i = 0; i < 8; ++i) ocho << QUrl::fromLocalFile(archivo(QString("f%1").arg(i), 10));
    cuatro << ocho[3] << QUrl::fromLocalFile(archivo("n1", 10)) << QUrl::fromLocalFile(archivo("n2", 10))
           << QUrl::fromLocalFile(archivo("n3", 10));
    EXPECT_EQ(chat->agregar(ocho), std::nullopt);
    EXPECT_EQ(chat->agregar(cuatro), ChatZentu::kHastaDiez);
    ASSERT_EQ(chat->pendientes().size(), 10);
    EXPECT_EQ(chat->pendientes().mid(8), QList<QUrl>({cuatro[1], cuatro[2]}));

    chat->setPendiente(std::nullopt);
    EXPECT_TRUE(chat->pendientes().isEmpty());
    EXPECT_EQ(chat->agregar({ocho[0], ocho[0]}), std::nullopt);
    EXPECT_EQ(chat->pendientes(), QList<QUrl>({ocho[0]}));
    int cambios = 0;
    QObject::connect(chat.get(), &ChatZentu::pendientesCambio, [&] { ++cambios; });
    chat->setPendiente(ocho[0]);
    EXPECT_EQ(cambios, 0);
    chat->setPendiente(ocho[1]);
    EXPECT_EQ(chat->pendientes(), QList<QUrl>({ocho[0], ocho[1]}));
}

// What could never be sent is refused when it is staged, with the texts a send would give.
TEST_F(ChatServicio, LoQueNoSePuedeEnviarNoSePrepara) {
    arrancar();
    const QString fifo = dir.path() + "/tubo";
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    ASSERT_TRUE(QDir(dir.path()).mkdir("carpeta"));
    const QString ilegible = archivo("ilegible.txt", 10);
    ASSERT_TRUE(QFile::setPermissions(ilegible, QFile::WriteOwner));
    const bool soyRoot = ::geteuid() == 0;  // root reads it anyway
    struct Caso {
        const char* que;
        QUrl url;
        std::optional<QString> solo;  // staged alone
        std::optional<QString> entreOtros;
    };
    const std::vector<Caso> casos = {
        {"dirección vacía", QUrl(), ChatZentu::kNoSeLeyo, ChatZentu::kNoSeLeyo},
        {"file:// sin ruta", QUrl("file://"), ChatZentu::kNoSeLeyo, ChatZentu::kNoSeLeyo},
        {"no es un archivo local", QUrl("https://x.example/a.pdf"), ChatZentu::kNoSeLeyo, ChatZentu::noSeLeyoNombre("a.pdf")},
        {"no existe", QUrl::fromLocalFile(dir.path() + "/no.pdf"), ChatZentu::kNoSeLeyo, ChatZentu::noSeLeyoNombre("no.pdf")},
        {"tubería", QUrl::fromLocalFile(fifo), ChatZentu::kNoSeLeyo, ChatZentu::noSeLeyoNombre("tubo")},
        {"carpeta", QUrl::fromLocalFile(dir.path() + "/carpeta"), ChatZentu::kNoSeLeyo,
         ChatZentu::noSeLeyoNombre("carpeta")},
        {"3 GB", QUrl::fromLocalFile(archivo("enorme.mov", 3LL << 30)), ChatZentu::kArchivoGrande, ChatZentu::kArchivoGrande},
        {"un byte de más", QUrl::fromLocalFile(archivo("justo+1.bin", ChatZentu::kLimiteBytes + 1)),
         ChatZentu::kArchivoGrande, ChatZentu::kArchivoGrande},
        {"sin permiso de lectura", QUrl::fromLocalFile(ilegible),
         soyRoot ? std::nullopt : std::optional<QString>(ChatZentu::kNoSeLeyo),
         soyRoot ? std::nullopt : std::optional<QString>(ChatZentu::noSeLeyoNombre("ilegible.txt"))},
        {"justo 45 MB", QUrl::fromLocalFile(archivo("justo.bin", ChatZentu::kLimiteBytes)), std::nullopt, std::nullopt},
    };
    const QUrl bueno = QUrl::fromLocalFile(archivo("bueno.txt", 10));
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.que);
        chat->setPendiente(std::nullopt);
        EXPECT_EQ(ChatZentu::rechazo(c.url), c.solo);
        EXPECT_EQ(chat->agregar({c.url}), c.solo);
        EXPECT_EQ(chat->pendientes().contains(c.url), !c.solo);
        // Among others: the good ones are staged, the refused one named.
        chat->setPendiente(std::nullopt);
        EXPECT_EQ(chat->agregar({bueno, c.url}), c.entreOtros);
        const QList<QUrl> quedan = c.entreOtros ? QList<QUrl>({bueno}) : QList<QUrl>({bueno, c.url});
        EXPECT_EQ(chat->pendientes(), quedan);
        // From outside, nothing is staged either.
        chat->setPendiente(std::nullopt);
        chat->setPendiente(c.url);
        EXPECT_EQ(chat->pendientes().isEmpty(), c.solo.has_value());
    }
}

// ------------------------------------------------------------------ ask and wait (virtual time)

class PreguntarYEsperar : public ChatServicio {
protected:
    // Starts the question and waits (in real time) until the service has it; the clock stands still.
    std::shared_ptr<Resultado<std::optional<QString>>> preguntar(double tope) {
        auto r = lanzar(chat->preguntarYEsperar("¿Cómo vamos?", tope));
        EXPECT_TRUE(esperarHasta([&] { return r->hecho || !eventosDe("chat:send").isEmpty(); }));
        esperarHasta([&] { return r->hecho || chat->mensajes().size() >= 1; }, 2000);  // the echo
        girar(30);
        t0 = reloj.segundos();
        return r;
    }
    // Half a second of virtual time, and the loop turned so that the wait takes its look.
    void paso() {
        reloj.avanzar(0.5);
        for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    }
    void agente(const QString& id, const QString& texto) {
        const int n = static_cast<int>(chat->mensajes().size());
        empujar(mensaje(id, texto, true, reloj.ahora().toString(Qt::ISODateWithMs), "Zentu"));
        esperarMensajes(n + 1);
    }
    void estado(const char* s) {
        servicio.emitir("agent:status", QJsonArray{QJsonObject{{"dashboard", true}, {"status", s}}});
        asentar();
    }
    double t0 = 0;
};

TEST_F(PreguntarYEsperar, DosRespuestasYSilencio) {
    arrancar(QJsonArray{mensaje("viejo", "respuesta vieja", true, "2025-01-01T00:00:00Z", "Zentu")});
    auto r = preguntar(90);
    estado("processing");
    paso();
    agente("r1", "Primera **parte**");
    paso();
    paso();
    agente("r2", "Segunda parte: https://x.y/z");
    estado("idle");
    double fin = 0;
    for (int i = 0; i < 400 && !r->hecho; ++i) {
        paso();
        if (r->hecho) fin = reloj.segundos() - t0;
    }
    ASSERT_TRUE(r->hecho);
    EXPECT_EQ(*r->valor, std::optional<QString>("Primera parte\n\nSegunda parte: el enlace"));
    // The look at 2 s saw the second answer; the first look more than 2.5 s later is at 5 s.
    EXPECT_DOUBLE_EQ(fin, 5.0);
}

TEST_F(PreguntarYEsperar, MientrasEscribeSigueHastaElTope) {
    arrancar();
    auto r = preguntar(10);
    estado("processing");
    paso();
    agente("r1", "Voy a medias");
    while (!r->hecho && reloj.segundos() - t0 < 20) paso();
    ASSERT_TRUE(r->hecho);
    EXPECT_GE(reloj.segundos() - t0, 10.0);
    EXPECT_LE(reloj.segundos() - t0, 10.5);
    EXPECT_EQ(*r->valor, std::optional<QString>("Voy a medias"));
}

TEST_F(PreguntarYEsperar, SinRespuestaYRespuestasVacias) {
    arrancar();
    {
        auto r = preguntar(90);
        while (!r->hecho && reloj.segundos() - t0 < 100) paso();
        ASSERT_TRUE(r->hecho);
        EXPECT_GE(reloj.segundos() - t0, 90.0);
        EXPECT_LE(reloj.segundos() - t0, 90.5);
        EXPECT_EQ(*r->valor, std::nullopt);
    }
    {
        // Only Markdown marks: nothing to say. The owner's own messages never count.
        auto r = preguntar(90);
        agente("r9", "**");
        empujar(mensaje("yo2", "soy el dueño", false, reloj.ahora().toString(Qt::ISODateWithMs)));
        while (!r->hecho && reloj.segundos() - t0 < 100) paso();
        ASSERT_TRUE(r->hecho);
        EXPECT_LE(reloj.segundos() - t0, 5.0);
        EXPECT_EQ(*r->valor, std::nullopt);
    }
    {
        // A question that is not sent gives none at once.
        auto r = lanzar(chat->preguntarYEsperar("   ", 90));
        ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
        EXPECT_EQ(*r->valor, std::nullopt);
    }
    {
        // tope 0: the answer is taken right after the question was accepted.
        auto r = lanzar(chat->preguntarYEsperar("¿ya?", 0));
        ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
        EXPECT_EQ(*r->valor, std::nullopt);
    }
}

// Asks that overlap: the agent's answers carry no mark of their question, so only one waits at a
// time and takes only the answer to its own question; the others are refused at once, unsent.
TEST_F(PreguntarYEsperar, UnaPreguntaALaVez) {
    arrancar();
    const QStringList preguntas{"¿uno?", "¿dos?", "¿tres?"};
    std::vector<std::shared_ptr<Resultado<std::optional<QString>>>> r;
    for (const QString& p : preguntas) r.push_back(lanzar(chat->preguntarYEsperar(p, 90)));
    ASSERT_TRUE(esperarHasta([&] { return !eventosDe("chat:send").isEmpty(); }));
    girar(200);  // the other questions, if they went out, have arrived too
    const QJsonArray enviadas = eventosDe("chat:send");
    for (int i = 0; i < enviadas.size(); ++i)
        agente(QString("r%1").arg(i), "Respuesta a " + enviadas.at(i).toObject().value("text").toString());
    estado("idle");
    for (int i = 0; i < 20 && !(r[0]->hecho && r[1]->hecho && r[2]->hecho); ++i) paso();
    ASSERT_TRUE(r[0]->hecho && r[1]->hecho && r[2]->hecho);
    EXPECT_EQ(*r[0]->valor, std::optional<QString>("Respuesta a ¿uno?"));
    EXPECT_EQ(*r[1]->valor, std::nullopt);
    EXPECT_EQ(*r[2]->valor, std::nullopt);
    EXPECT_EQ(enviadas.size(), 1);
    EXPECT_EQ(lineas.count("[chat] pregunta rechazada: otra espera aún su respuesta"), 2);

    // Once the first has its answer, the next question is taken again.
    auto otra = preguntar(90);
    agente("r9", "Vamos bien");
    while (!otra->hecho && reloj.segundos() - t0 < 10) paso();
    ASSERT_TRUE(otra->hecho);
    EXPECT_EQ(*otra->valor, std::optional<QString>("Vamos bien"));
}

// The probe fetches the newest attachment and only logs what came back.
TEST_F(ChatServicio, PruebaDeAdjuntos) {
    arrancar(QJsonArray{
        QJsonObject{{"messageId", "i1"}, {"type", "image"}, {"mediaUrl", "/u/viejo.png"}, {"timestamp", "2025-03-01T12:00:00Z"}},
        QJsonObject{{"messageId", "i2"}, {"type", "document"}, {"mediaUrl", "/u/nuevo.pdf"}, {"fileName", "nuevo.pdf"},
                    {"timestamp", "2025-03-01T12:00:05Z"}},
        mensaje("t", "texto al final", true, "2025-03-01T12:00:09Z", "Zentu")});
    servicio.responder("GET", "/u/nuevo.pdf", QJsonObject{{"estado", 200}, {"texto", "12345"}});
    const auto antes = chat->mensajes();
    {
        auto r = lanzar(chat->probarAdjuntos());
        ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    }
    EXPECT_TRUE(lineas.contains("[chat] prueba de adjunto «nuevo.pdf»: estado 200 · 5 bytes"));
    EXPECT_EQ(chat->mensajes(), antes);

    // A fetch that cannot connect logs status 0 and 0 bytes.
    servicio.control("POST", "chat", QJsonObject{{"mensajes", QJsonArray{QJsonObject{
                                                      {"messageId", "x"}, {"type", "image"},
                                                      {"mediaUrl", "http://127.0.0.1:1/nada.png"}}}}});
    {
        auto r = lanzar(chat->cargar());
        ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    }
    {
        auto r = lanzar(chat->probarAdjuntos());
        ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    }
    EXPECT_TRUE(lineas.contains("[chat] prueba de adjunto «Imagen»: estado 0 · 0 bytes"));

    // Nothing to fetch without attachments.
    servicio.control("POST", "chat", QJsonObject{{"mensajes", QJsonArray{mensaje("s", "solo texto", false, "2025-03-01T12:00:00Z")}}});
    {
        auto r = lanzar(chat->cargar());
        ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    }
    servicio.olvidarPeticiones();
    lineas.clear();
    {
        auto r = lanzar(chat->probarAdjuntos());
        ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    }
    EXPECT_TRUE(lineas.isEmpty());
    EXPECT_TRUE(servicio.peticiones().isEmpty());
}
