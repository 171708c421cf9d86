#include "zentu/conexion/CanalEnVivo.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Registro.h"
#include "plataforma/Reloj.h"

#include <QJsonDocument>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

using pruebas::esperarHasta;
using pruebas::girar;

namespace {

QJsonObject objeto(const char* json) { return QJsonDocument::fromJson(json).object(); }

// The outcome of a request started now and finished later, on the event loop.
struct Resultado {
    bool hecho = false;
    std::optional<QJsonObject> valor;
};

QCoro::Task<void> completar(QCoro::Task<std::optional<QJsonObject>> tarea, std::shared_ptr<Resultado> r) {
    r->valor = co_await std::move(tarea);
    r->hecho = true;
}

std::shared_ptr<Resultado> lanzar(QCoro::Task<std::optional<QJsonObject>> tarea) {
    auto r = std::make_shared<Resultado>();
    [[maybe_unused]] auto t = completar(std::move(tarea), r);
    return r;
}

// The "[canal]" lines the channel writes during one test.
class Lineas {
public:
    Lineas() {
        Registro::observar([this](const QString& l) {
            if (l.startsWith(QLatin1String("[canal]"))) lineas_ << l;
        });
    }
    ~Lineas() { Registro::observar({}); }
    const QStringList& todas() const { return lineas_; }
    bool hay(const QString& l) const { return lineas_.contains(l); }
    int cuantas(const QString& l) const { return static_cast<int>(lineas_.count(l)); }
    bool esperar(const QString& l, int ms = 5000) const {
        return esperarHasta([&] { return hay(l); }, ms);
    }
    void olvidar() { lineas_.clear(); }

private:
    QStringList lineas_;
};

// A scripted peer: one loopback port that answers the path lookup itself and hands WebSocket
// upgrades to a QWebSocketServer, so a test can play a broken or hostile service packet by packet.
class PuertoCrudo : public QObject {
public:
    struct Conexion {
        QPointer<QWebSocket> ws;
        QStringList textos;
        QList<QByteArray> binarios;
        int codigoCierre = -1;
        bool cerrada = false;
    };

    PuertoCrudo() : servidorWs_(QStringLiteral("prueba"), QWebSocketServer::NonSecureMode) {
        tcp_.listen(QHostAddress::LocalHost, 0);
        connect(&tcp_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = tcp_.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, this, [this, s] { leer(s); });
            }
        });
        connect(&servidorWs_, &QWebSocketServer::newConnection, this, [this] {
            while (QWebSocket* ws = servidorWs_.nextPendingConnection()) nueva(ws);
        });
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(tcp_.serverPort()); }

    // What the path lookup answers.
    int estado = 200;
    QByteArray cuerpo = R"({"path":"/socket.io"})";
    bool retener = false;  // hold lookups until liberar()
    int consultas = 0;
    // Sent as soon as a socket opens (nothing when empty).
    QString apertura = QStringLiteral(R"(0{"sid":"s1","upgrades":[],"pingInterval":25000,"pingTimeout":20000})");

    std::vector<std::unique_ptr<Conexion>> conexiones;

    Conexion& ultima() { return *conexiones.back(); }
    void enviar(const QString& texto) { ultima().ws->sendTextMessage(texto); }
    bool esperarConexiones(size_t n, int ms = 5000) {
        return esperarHasta([&] { return conexiones.size() >= n; }, ms);
    }
    // Waits until the last connection has received `n` text messages.
    bool esperarTextos(int n, int ms = 5000) {
        return esperarHasta([&] { return !conexiones.empty() && ultima().textos.size() >= n; }, ms);
    }
    void liberar() {
        for (auto& s : retenidas_) {
            if (s) responder(s);
        }
        retenidas_.clear();
    }

private:
    void leer(QTcpSocket* s) {
        const QByteArray visto = s->peek(s->bytesAvailable());
        if (!visto.contains("\r\n\r\n")) return;
        if (visto.toLower().contains("upgrade: websocket")) {
            QObject::disconnect(s, nullptr, this, nullptr);
            servidorWs_.handleConnection(s);
            return;
        }
        s->readAll();
        ++consultas;
        if (retener) {
            retenidas_.push_back(s);
        } else {
            responder(s);
        }
    }

    void responder(QTcpSocket* s) {
        const QByteArray http = "HTTP/1.1 " + QByteArray::number(estado) +
                                " X\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: " +
                                QByteArray::number(cuerpo.size()) + "\r\n\r\n" + cuerpo;
        s->write(http);
        s->disconnectFromHost();
    }

    void nueva(QWebSocket* ws) {
        auto c = std::make_unique<Conexion>();
        Conexion* p = c.get();
        p->ws = ws;
        ws->setParent(this);
        connect(ws, &QWebSocket::textMessageReceived, this, [p](const QString& t) { p->textos << t; });
        connect(ws, &QWebSocket::binaryMessageReceived, this, [p](const QByteArray& b) { p->binarios << b; });
        connect(ws, &QWebSocket::disconnected, this, [p, ws] {
            p->cerrada = true;
            p->codigoCierre = ws->closeCode();
        });
        conexiones.push_back(std::move(c));
        if (!apertura.isEmpty()) ws->sendTextMessage(apertura);
    }

    QTcpServer tcp_;
    QWebSocketServer servidorWs_;
    std::vector<QPointer<QTcpSocket>> retenidas_;
};

const QString kConecta = QStringLiteral(R"(40{"token":"token-bueno"})");

// A channel against the scripted peer, in virtual time.
class CanalCrudo : public ::testing::Test {
protected:
    void SetUp() override { canal = std::make_unique<CanalEnVivo>(Cuenta{peer.url(), "token-bueno", "d@n.mx", "N"}, reloj); }

    // Connects and waits for the connect packet (and, when `aceptar`, makes the channel ready).
    void conectar(bool aceptar = true) {
        const size_t antes = peer.conexiones.size();
        canal->conectar();
        ASSERT_TRUE(peer.esperarConexiones(antes + 1));
        ASSERT_TRUE(peer.esperarTextos(1));
        ASSERT_EQ(peer.ultima().textos.back(), kConecta);
        if (aceptar) {
            peer.enviar(QStringLiteral(R"(40{"sid":"abc"})"));
            ASSERT_TRUE(esperarHasta([&] { return canal->listo(); }));
        }
    }

    // Delivers one packet and lets the channel handle it (a ping after it proves it was read).
    void paquete(const QString& texto) {
        const int antes = static_cast<int>(peer.ultima().textos.size());
        peer.enviar(texto);
        peer.enviar(QStringLiteral("2"));
        ASSERT_TRUE(esperarHasta([&] { return peer.ultima().textos.size() > antes && peer.ultima().textos.back() == "3"; }));
        peer.ultima().textos.removeLast();
    }

    Lineas lineas;
    RelojVirtual reloj;
    PuertoCrudo peer;
    std::unique_ptr<CanalEnVivo> canal;
};

// A channel against the real Socket.IO 4 server of the stand-in service.
class CanalServicio : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(servicio.arrancar());
        canal = std::make_unique<CanalEnVivo>(Cuenta{servicio.url(), "token-bueno", "d@n.mx", "N"}, reloj);
    }
    void conectar() {
        canal->conectar();
        ASSERT_TRUE(esperarHasta([&] { return canal->listo(); }, 10000));
    }
    QJsonArray eventosDe(const QString& nombre) {
        QJsonArray r;
        for (const auto& e : servicio.eventos()) {
            if (e.toObject().value("evento").toString() == nombre) r.append(e);
        }
        return r;
    }

    Lineas lineas;
    RelojVirtual reloj;
    ServicioSimulado servicio;
    std::unique_ptr<CanalEnVivo> canal;
};

}  // namespace

// ------------------------------------------------------------------ against the real server

// The stand-in's record of what it received can keep only its last entries, or nothing.
TEST_F(CanalServicio, ElRegistroDelServicioSeLimita) {
    conectar();
    struct Caso {
        std::optional<int> maximo;
        QList<int> quedan;
    };
    const Caso casos[] = {{2, {4, 5}}, {0, {}}, {std::nullopt, {1, 2, 3, 4, 5}}};
    for (const Caso& c : casos) {
        servicio.olvidarEventos();
        servicio.registrar(c.maximo);
        for (int n = 1; n <= 5; ++n) {
            auto r = lanzar(canal->pedir("registro:n", QJsonObject{{"n", n}}, 8));
            ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
            EXPECT_TRUE(r->valor);
        }
        QList<int> quedan;
        for (const auto& e : eventosDe("registro:n")) quedan << e.toObject()["args"][0]["n"].toInt();
        EXPECT_EQ(quedan, c.quedan) << (c.maximo ? *c.maximo : -1);
    }
}

TEST_F(CanalServicio, ConectaConElTokenYAvisaConectado) {
    int conectado = 0;
    canal->on("_conectado", [&](std::optional<QJsonValue> v) {
        EXPECT_FALSE(v.has_value());
        ++conectado;
    });
    conectar();
    EXPECT_TRUE(lineas.hay("[canal] conectado"));
    EXPECT_EQ(conectado, 1);
    EXPECT_EQ(servicio.conectados(), 1);
    EXPECT_DOUBLE_EQ(canal->sinLatido(), 50.0);  // (25000 + 20000) / 1000 + 5
    // Small requests are not held back by Nagle's algorithm.
    // The socket lives on the channel's socket thread, and its options are set there on connecting.
    const auto* ws = canal->sockets()->findChild<QWebSocket*>();
    ASSERT_NE(ws, nullptr);
    const auto tcp = ws->findChildren<QTcpSocket*>();
    ASSERT_FALSE(tcp.isEmpty());
    for (QTcpSocket* t : tcp) EXPECT_EQ(t->socketOption(QAbstractSocket::LowDelayOption).toInt(), 1);
    const QJsonObject lookup = servicio.peticiones().at(0).toObject();
    EXPECT_EQ(lookup.value("ruta").toString(), "/api/dudas/canal");
    EXPECT_EQ(lookup.value("metodo").toString(), "GET");
}

TEST_F(CanalServicio, TokenRechazadoSoloSeAnota) {
    servicio.responder("GET", "/api/dudas/canal", 200, QJsonObject{{"path", "/socket.io"}});
    canal = std::make_unique<CanalEnVivo>(Cuenta{servicio.url(), "token-malo", "d@n.mx", "N"}, reloj);
    canal->conectar();
    ASSERT_TRUE(lineas.esperar(R"([canal] rechazado: {"message":"Token inválido"})"));
    girar(200);
    EXPECT_FALSE(canal->listo());
    EXPECT_TRUE(canal->conSocket());  // no reconnection: the socket stays
    EXPECT_EQ(canal->reintentos(), 0);
    EXPECT_EQ(servicio.conectados(), 0);
}

TEST_F(CanalServicio, PeticionesConAcuse) {
    conectar();
    struct Caso {
        const char* evento;
        std::optional<QJsonArray> acuse;  // none: the server's default echo
        std::optional<QJsonObject> esperado;
    };
    const std::vector<Caso> casos = {
        {"chat:agente", std::nullopt, objeto(R"({"ok":true,"evento":"chat:agente","eco":{"n":1}})")},
        {"chats:reply", QJsonArray{objeto(R"({"ok":false,"error":"No"})")}, objeto(R"({"ok":false,"error":"No"})")},
        {"chats:takeover", QJsonArray{true}, std::nullopt},
        {"chats:messages", QJsonArray{}, std::nullopt},
    };
    for (const auto& c : casos) {
        if (c.acuse) servicio.guionAck(c.evento, *c.acuse);
        const qint64 id = canal->proximoId();
        auto r = lanzar(canal->pedir(c.evento, QJsonObject{{"n", 1}}, 8));
        ASSERT_TRUE(esperarHasta([&] { return r->hecho; })) << c.evento;
        EXPECT_EQ(r->valor, c.esperado) << c.evento;
        EXPECT_EQ(canal->proximoId(), id + 1);
    }
    const QJsonObject recibido = eventosDe("chat:agente").at(0).toObject();
    EXPECT_TRUE(recibido.value("conAck").toBool());
    EXPECT_EQ(recibido.value("args").toArray().at(0).toObject(), QJsonObject({{"n", 1}}));
    EXPECT_EQ(canal->esperando(), 0);
}

TEST_F(CanalServicio, AdjuntosBinariosLleganIntactos) {
    conectar();
    QByteArray uno(300000, '\0');
    for (int i = 0; i < uno.size(); ++i) uno[i] = static_cast<char>(i * 7);
    const QByteArray dos("\x00\xff\x01segundo", 10);
    servicio.guionAck("chat:send", QJsonArray{objeto(R"({"ok":true})")});
    servicio.guionAck("voice:audio", QJsonArray{objeto(R"({"ok":true,"texto":"hola"})")});

    const QJsonObject datos = objeto(R"({"texto":"mira","archivos":[{"_placeholder":true,"num":0},{"_placeholder":true,"num":1}]})");
    EXPECT_EQ(pruebas::esperar(canal->pedirConBinarios("chat:send", datos, {uno, dos}, 120)), objeto(R"({"ok":true})"));
    EXPECT_EQ(pruebas::esperar(canal->pedirConAudio("voice:audio", dos, objeto(R"({"mimeType":"audio/m4a","audio":"viejo"})"), 45)),
              objeto(R"({"ok":true,"texto":"hola"})"));

    const QJsonObject envio = eventosDe("chat:send").at(0).toObject().value("args").toArray().at(0).toObject();
    EXPECT_EQ(envio.value("texto").toString(), "mira");
    EXPECT_EQ(ServicioSimulado::deBinario(envio.value("archivos").toArray().at(0)), uno);
    EXPECT_EQ(ServicioSimulado::deBinario(envio.value("archivos").toArray().at(1)), dos);
    const QJsonObject audio = eventosDe("voice:audio").at(0).toObject().value("args").toArray().at(0).toObject();
    EXPECT_EQ(audio.value("mimeType").toString(), "audio/m4a");
    EXPECT_EQ(ServicioSimulado::deBinario(audio.value("audio")), dos);
}

// The channel reads text packets only: binary events and acknowledgements of the server are
// dropped whole, and what follows them still parses.
TEST_F(CanalServicio, BinariosDelServidorSeIgnoran) {
    conectar();
    std::vector<std::optional<QJsonValue>> vistos;
    canal->on("chat:nuevo", [&](std::optional<QJsonValue> v) { vistos.push_back(v); });
    bool atendido = false;
    canal->atender("mac:accion", [&](std::optional<QJsonValue>, CanalEnVivo::Respondedor r) {
        atendido = true;
        r(QJsonObject{{"ok", true}});
    });
    servicio.guionAck("voice:tts-stream", QJsonArray{QJsonObject{{"audio", ServicioSimulado::binario("abc")}}});
    auto r = lanzar(canal->pedir("voice:tts-stream", {}, 30));
    servicio.emitir("chat:nuevo", QJsonArray{QJsonObject{{"foto", ServicioSimulado::binario("xyz")}}});
    const QJsonObject pedido = servicio.pedir("mac:accion", QJsonArray{QJsonObject{{"datos", ServicioSimulado::binario("q")}}}, 500);
    EXPECT_FALSE(pedido.value("ok").toBool());
    EXPECT_FALSE(atendido);
    servicio.emitir("chat:nuevo", QJsonArray{QJsonObject{{"n", 2}}});
    ASSERT_TRUE(esperarHasta([&] { return vistos.size() == 1; }));
    EXPECT_EQ(vistos[0], QJsonValue(QJsonObject{{"n", 2}}));
    EXPECT_FALSE(r->hecho);
    reloj.avanzar(30);
    ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    EXPECT_EQ(r->valor, std::nullopt);
    EXPECT_TRUE(canal->listo());
}

TEST_F(CanalServicio, PeticionDelServidorYEventos) {
    conectar();
    std::vector<std::optional<QJsonValue>> oyente;
    canal->on("mac:accion", [&](std::optional<QJsonValue> v) { oyente.push_back(v); });
    canal->on("chat:agente", [&](std::optional<QJsonValue> v) { oyente.push_back(v); });
    canal->atender("mac:accion", [](std::optional<QJsonValue> v, CanalEnVivo::Respondedor r) {
        r(QJsonObject{{"ok", true}, {"vi", v.value_or(QJsonValue())}});
    });
    const QJsonObject r = servicio.pedir("mac:accion", QJsonArray{QJsonObject{{"tipo", "abrir"}}});
    EXPECT_TRUE(r.value("ok").toBool());
    EXPECT_EQ(r.value("respuesta").toArray().at(0).toObject(),
              objeto(R"({"ok":true,"vi":{"tipo":"abrir"}})"));
    servicio.emitir("chat:agente", QJsonArray{QJsonObject{{"agente", 3}}});
    ASSERT_TRUE(esperarHasta([&] { return oyente.size() == 1; }));
    EXPECT_EQ(oyente[0], QJsonValue(QJsonObject{{"agente", 3}}));  // the handler's request never reached it
}

TEST_F(CanalServicio, ResponderAlLatidoDelServidor) {
    ASSERT_TRUE(servicio.arrancar(0, {"--ping-intervalo", "200", "--ping-espera", "2000"}));
    canal = std::make_unique<CanalEnVivo>(Cuenta{servicio.url(), "token-bueno", "d@n.mx", "N"}, reloj);
    conectar();
    EXPECT_DOUBLE_EQ(canal->sinLatido(), 7.2);
    girar(2600);  // a dozen pings; an unanswered one ends the connection 2 s later
    EXPECT_EQ(servicio.conectados(), 1);
    EXPECT_TRUE(canal->listo());
    EXPECT_EQ(lineas.cuantas("[canal] conectado"), 1);
}

TEST_F(CanalServicio, ReconectaAlVolverElServidorYEntregaLaColaUnaVez) {
    conectar();
    const int puerto = servicio.puerto();
    servicio.detener();
    ASSERT_TRUE(lineas.esperar("[canal] reconecto en 2 s"));
    EXPECT_FALSE(canal->listo());
    EXPECT_TRUE(std::any_of(lineas.todas().begin(), lineas.todas().end(),
                            [](const QString& l) { return l.startsWith("[canal] cerrado: "); }));

    canal->emitir("mac:hola", {});
    auto r = lanzar(canal->pedir("chat:send", QJsonObject{{"texto", "hola"}}, 20));
    EXPECT_EQ(canal->enCola(), 2);
    ASSERT_TRUE(servicio.arrancar(puerto));
    reloj.avanzar(2);
    ASSERT_TRUE(esperarHasta([&] { return canal->listo(); }, 10000));
    ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    EXPECT_EQ(r->valor->value("eco").toObject().value("texto").toString(), "hola");
    EXPECT_EQ(canal->reintentos(), 0);
    girar(200);
    EXPECT_EQ(eventosDe("chat:send").size(), 1);
    EXPECT_EQ(eventosDe("mac:hola").size(), 1);
    EXPECT_EQ(canal->enCola(), 0);
}

TEST_F(CanalServicio, DesconexionDelServidorReconecta) {
    conectar();
    servicio.desconectarTodos();
    ASSERT_TRUE(lineas.esperar("[canal] el servidor cerró el canal"));
    EXPECT_TRUE(lineas.hay("[canal] reconecto en 2 s"));
    reloj.avanzar(2);
    ASSERT_TRUE(esperarHasta([&] { return canal->listo(); }, 10000));
    EXPECT_EQ(lineas.cuantas("[canal] conectado"), 2);
}

// A request that timed out while the channel was down must not reach the service later: its
// caller already reported it as failed.
TEST_F(CanalServicio, PeticionVencidaNoSeEnviaAlConectar) {
    auto vencida = lanzar(canal->pedir("chat:send", QJsonObject{{"texto", "vieja"}}, 5));
    auto viva = lanzar(canal->pedir("chat:send", QJsonObject{{"texto", "nueva"}}, 60));
    canal->emitir("mac:hola", {});
    reloj.avanzar(5);
    ASSERT_TRUE(esperarHasta([&] { return vencida->hecho; }));
    EXPECT_EQ(vencida->valor, std::nullopt);
    EXPECT_EQ(canal->enCola(), 2);
    conectar();
    ASSERT_TRUE(esperarHasta([&] { return viva->hecho; }));
    girar(200);
    const QJsonArray enviados = eventosDe("chat:send");
    ASSERT_EQ(enviados.size(), 1);
    EXPECT_EQ(enviados.at(0).toObject().value("args").toArray().at(0).toObject().value("texto").toString(), "nueva");
    EXPECT_EQ(eventosDe("mac:hola").size(), 1);
}

// ------------------------------------------------------------------ against a scripted peer

TEST_F(CanalCrudo, PaqueteDeAperturaFijaElLatido) {
    struct Caso {
        QString apertura;
        double sinLatido;
    };
    const std::vector<Caso> casos = {
        {R"(0{"sid":"a","pingInterval":10000,"pingTimeout":5000})", 20.0},
        {R"(0{"pingInterval":25000,"pingTimeout":20000})", 50.0},
        {R"(0{"pingTimeout":20000})", 50.0},
        {"0", 50.0},
        {"0[1,2]", 50.0},
        {R"(0{"pingInterval":0,"pingTimeout":20000})", 50.0},
        {R"(0{"pingInterval":-25000,"pingTimeout":20000})", 50.0},
        {R"(0{"pingInterval":1e999,"pingTimeout":20000})", 50.0},
        {R"(0{"pingInterval":"25000","pingTimeout":20000})", 50.0},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.apertura.toStdString());
        peer.apertura = c.apertura;
        canal = std::make_unique<CanalEnVivo>(Cuenta{peer.url(), "token-bueno", "d@n.mx", "N"}, reloj);
        conectar(false);
        EXPECT_DOUBLE_EQ(canal->sinLatido(), c.sinLatido);
        EXPECT_FALSE(canal->listo());
    }
}

TEST_F(CanalCrudo, LatidoContestadoAntesYDespuesDeEstarListo) {
    conectar(false);
    peer.enviar("2");
    ASSERT_TRUE(peer.esperarTextos(2));
    EXPECT_EQ(peer.ultima().textos.at(1), "3");
    peer.enviar("40");
    ASSERT_TRUE(esperarHasta([&] { return canal->listo(); }));
    peer.enviar("2probe");
    ASSERT_TRUE(peer.esperarTextos(3));
    EXPECT_EQ(peer.ultima().textos.at(2), "3");
}

TEST_F(CanalCrudo, LaColaSaleEnOrdenAntesDeConectado) {
    QStringList orden;
    canal->on("_conectado", [&](std::optional<QJsonValue>) {
        orden << "primero";
        canal->emitir("desde:conectado", {});
    });
    canal->on("_conectado", [&](std::optional<QJsonValue>) { orden << "segundo"; });
    canal->emitir("mac:hola", {});
    auto r = lanzar(canal->pedir("chat:agente", {}, 8));
    canal->emitir("otro", QJsonObject{{"a", 1}});
    conectar(false);
    girar(100);
    EXPECT_EQ(peer.ultima().textos, QStringList{kConecta});  // nothing before "40"
    peer.enviar("40");
    ASSERT_TRUE(peer.esperarTextos(5));
    EXPECT_EQ(peer.ultima().textos.mid(1), (QStringList{R"(42["mac:hola",{}])", R"(421["chat:agente",{}])",
                                                        R"(42["otro",{"a":1}])", R"(42["desde:conectado",{}])"}));
    EXPECT_EQ(orden, (QStringList{"primero", "segundo"}));
    peer.enviar(R"(431[{"ok":true,"agente":"Zentu"}])");
    ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    EXPECT_EQ(r->valor, objeto(R"({"ok":true,"agente":"Zentu"})"));
}

TEST_F(CanalCrudo, EventosYPaquetesMalformados) {
    conectar();
    std::vector<std::optional<QJsonValue>> vistos;
    canal->on("chat:agente", [&](std::optional<QJsonValue> v) { vistos.push_back(v); });
    canal->on("5", [&](std::optional<QJsonValue> v) { vistos.push_back(v); });
    struct Caso {
        QString paquete;
        std::vector<std::optional<QJsonValue>> esperado;
    };
    const std::vector<Caso> casos = {
        {R"(42["chat:agente",{}])", {QJsonValue(QJsonObject{})}},
        {R"(42["chat:agente"])", {std::nullopt}},
        {R"(42["chat:agente",1,2])", {QJsonValue(1)}},
        {R"(42["chat:agente",null])", {QJsonValue(QJsonValue::Null)}},
        {R"(42[5,{}])", {}},
        {R"(42{})", {}},
        {R"(43[{}])", {}},
        {R"(43["chat:agente",7])", {QJsonValue(7)}},  // no id: an event
        {R"(42[])", {}},
        {R"(42["chat:agente",{)", {}},
        {"42", {}},
        {"4", {}},
        {"", {}},
        {"no es json", {}},
        {R"(451-0["chat:agente",{"_placeholder":true,"num":0}])", {}},
        {R"(42/otro,["chat:agente",{}])", {}},
        {R"(499999999999999999999999["chat:agente",3])", {}},
        {R"(4299999999999999999999["chat:agente",3])", {QJsonValue(3)}},  // id too long: not a request
        {R"(6)", {}},
        {R"(1)", {}},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.paquete.toStdString());
        vistos.clear();
        paquete(c.paquete);
        EXPECT_EQ(vistos, c.esperado);
    }
    EXPECT_EQ(peer.ultima().textos.size(), 1);  // nothing was ever answered
    EXPECT_TRUE(canal->listo());
}

TEST_F(CanalCrudo, PeticionDelServidorConAtendedor) {
    conectar();
    std::vector<std::optional<QJsonValue>> oyente;
    canal->on("mac:accion", [&](std::optional<QJsonValue> v) { oyente.push_back(v); });
    CanalEnVivo::Respondedor guardado;
    std::optional<QJsonValue> recibido;
    canal->atender("mac:accion", [&](std::optional<QJsonValue> v, CanalEnVivo::Respondedor r) {
        recibido = v;
        guardado = r;
    });
    paquete(R"(4211["mac:accion",{"tipo":"abrir"}])");
    EXPECT_EQ(recibido, QJsonValue(QJsonObject{{"tipo", "abrir"}}));
    EXPECT_TRUE(oyente.empty());
    // Answered twice, once from another thread: one acknowledgement only.
    std::thread hilo([&] { guardado(QJsonObject{{"ok", true}}); });
    hilo.join();
    guardado(QJsonObject{{"ok", false}});
    ASSERT_TRUE(peer.esperarTextos(2));
    girar(100);
    EXPECT_EQ(peer.ultima().textos.mid(1), QStringList{R"(4311[{"ok":true}])"});

    // The same request without a handler goes to the listeners and is never acknowledged.
    paquete(R"(4212["otra:cosa",{}])");
    canal->on("otra:cosa", [&](std::optional<QJsonValue> v) { oyente.push_back(v); });
    paquete(R"(4213["otra:cosa",{"x":1}])");
    EXPECT_EQ(oyente, (std::vector<std::optional<QJsonValue>>{QJsonValue(QJsonObject{{"x", 1}})}));
    girar(100);
    EXPECT_EQ(peer.ultima().textos.size(), 2);

    // A responder outliving its channel does nothing.
    canal.reset();
    guardado(QJsonObject{{"ok", true}});
    girar(50);
}

TEST_F(CanalCrudo, AcusesYTiempos) {
    conectar();
    struct Caso {
        QString acuse;  // %1 is the id
        std::optional<QJsonObject> valor;
    };
    const std::vector<Caso> casos = {
        {"43%1[]", std::nullopt},
        {"43%1[true]", std::nullopt},
        {R"(43%1["texto",{"ok":true}])", std::nullopt},
        {R"(43%1[{"ok":true},2])", objeto(R"({"ok":true})")},
    };
    for (const auto& c : casos) {
        const qint64 id = canal->proximoId();
        auto r = lanzar(canal->pedir("chat:agente", {}, 8));
        ASSERT_TRUE(peer.esperarTextos(2));
        EXPECT_EQ(peer.ultima().textos.back(), QStringLiteral(R"(42%1["chat:agente",{}])").arg(id));
        peer.ultima().textos.removeLast();
        paquete(c.acuse.arg(id));
        ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
        EXPECT_EQ(r->valor, c.valor) << c.acuse.toStdString();
    }

    // Two acknowledgements: the first one counts.
    auto doble = lanzar(canal->pedir("x", {}, 8));
    const qint64 idDoble = canal->proximoId() - 1;
    paquete(QStringLiteral(R"(43%1[{"n":1}])").arg(idDoble));
    paquete(QStringLiteral(R"(43%1[{"n":2}])").arg(idDoble));
    ASSERT_TRUE(esperarHasta([&] { return doble->hecho; }));
    EXPECT_EQ(doble->valor, objeto(R"({"n":1})"));

    // No acknowledgement within 8 s: none; a late one is ignored.
    auto tarde = lanzar(canal->pedir("chat:agente", {}, 8));
    const qint64 idTarde = canal->proximoId() - 1;
    reloj.avanzar(7.9);
    girar(50);
    EXPECT_FALSE(tarde->hecho);
    reloj.avanzar(0.1);
    ASSERT_TRUE(esperarHasta([&] { return tarde->hecho; }));
    EXPECT_EQ(tarde->valor, std::nullopt);
    paquete(QStringLiteral(R"(43%1[{"ok":true}])").arg(idTarde));
    EXPECT_EQ(canal->esperando(), 0);
}

// Requests with different time-outs, sent in any order, each expire at their own time; an
// acknowledged one never expires, and a time that is not a number expires at once.
TEST_F(CanalCrudo, CadaPeticionVenceASuTiempo) {
    conectar();
    struct Caso {
        double espera;
        bool acusada;
        double vence;  // seconds from the start; negative: never
    };
    const std::vector<Caso> casos = {
        {5, false, 5}, {2, false, 2}, {8, true, -1}, {2, false, 2}, {0.5, false, 0.5}, {20, false, 20},
        {std::nan(""), false, 0}, {3, true, -1},
    };
    std::vector<std::shared_ptr<Resultado>> resultados;
    for (const Caso& c : casos) {
        const qint64 id = canal->proximoId();
        resultados.push_back(lanzar(canal->pedir("x", {}, c.espera)));
        if (c.acusada) paquete(QStringLiteral(R"(43%1[{"ok":true}])").arg(id));
    }
    double ahora = 0;
    for (const double hasta : {0.0, 0.5, 1.9, 2.0, 4.9, 5.0, 19.9, 20.0}) {
        reloj.avanzar(hasta - ahora);
        ahora = hasta;
        girar(30);
        for (size_t i = 0; i < casos.size(); ++i) {
            if (casos[i].acusada) {
                EXPECT_TRUE(resultados[i]->hecho);
                EXPECT_TRUE(resultados[i]->valor) << i;
                continue;
            }
            EXPECT_EQ(resultados[i]->hecho, casos[i].vence <= hasta + 1e-9) << "petición " << i << " a los " << hasta << " s";
        }
    }
    EXPECT_EQ(canal->esperando(), 0);
    EXPECT_EQ(reloj.pendientes(), 1);  // only the heartbeat's watchdog is left
}

// Waiting requests survive a reconnection: ids keep counting, and an acknowledgement on the new
// socket still completes a request sent on the old one.
// A peer that repeats "40" on a live socket: the listeners reload once per connection, not once
// per packet; the next connection is news again.
TEST_F(CanalCrudo, ConectadoUnaVezPorConexion) {
    int conectado = 0;
    canal->on("_conectado", [&](std::optional<QJsonValue>) { ++conectado; });
    conectar();
    for (int i = 0; i < 3; ++i) paquete(QStringLiteral(R"(40{"sid":"otra"})"));
    EXPECT_EQ(conectado, 1);
    EXPECT_EQ(lineas.cuantas("[canal] conectado"), 1);
    EXPECT_TRUE(canal->listo());

    peer.enviar("41");
    ASSERT_TRUE(lineas.esperar("[canal] reconecto en 2 s"));
    reloj.avanzar(2);
    ASSERT_TRUE(peer.esperarConexiones(2));
    ASSERT_TRUE(peer.esperarTextos(1));
    peer.enviar("40");
    ASSERT_TRUE(esperarHasta([&] { return conectado == 2; }));
    paquete("40");
    EXPECT_EQ(conectado, 2);
}

TEST_F(CanalCrudo, PeticionesSobrevivenALaReconexion) {
    conectar();
    const qint64 id = canal->proximoId();
    auto antes = lanzar(canal->pedir("chat:send", {}, 60));
    ASSERT_TRUE(peer.esperarTextos(2));
    peer.enviar("41");
    ASSERT_TRUE(lineas.esperar("[canal] reconecto en 2 s"));
    auto durante = lanzar(canal->pedir("chat:agente", {}, 60));
    reloj.avanzar(2);
    ASSERT_TRUE(peer.esperarConexiones(2));
    ASSERT_TRUE(peer.esperarTextos(1));
    peer.enviar("40");
    ASSERT_TRUE(peer.esperarTextos(2));
    EXPECT_EQ(peer.ultima().textos.at(1), QStringLiteral(R"(42%1["chat:agente",{}])").arg(id + 1));
    paquete(QStringLiteral(R"(43%1[{"ok":1}])").arg(id));
    paquete(QStringLiteral(R"(43%1[{"ok":2}])").arg(id + 1));
    ASSERT_TRUE(esperarHasta([&] { return antes->hecho && durante->hecho; }));
    EXPECT_EQ(antes->valor, objeto(R"({"ok":1})"));
    EXPECT_EQ(durante->valor, objeto(R"({"ok":2})"));
}

TEST_F(CanalCrudo, AdjuntosEnElCable) {
    conectar();
    const qint64 id = canal->proximoId();
    auto r = lanzar(canal->pedirConBinarios("chat:send", objeto(R"({"f":[{"_placeholder":true,"num":0},{"_placeholder":true,"num":1}]})"),
                                            {QByteArray("uno"), QByteArray("dos")}, 120));
    auto a = lanzar(canal->pedirConAudio("voice:audio", QByteArray("m4a"), objeto(R"({"mimeType":"audio/m4a","audio":1})"), 45));
    auto v = lanzar(canal->pedirConBinarios("vacio", {}, {}, 10));
    ASSERT_TRUE(peer.esperarTextos(4));
    ASSERT_TRUE(esperarHasta([&] { return peer.ultima().binarios.size() == 3; }));
    const QStringList& t = peer.ultima().textos;
    EXPECT_EQ(t.at(1), QStringLiteral(R"(452-%1["chat:send",{"f":[{"_placeholder":true,"num":0},{"_placeholder":true,"num":1}]}])").arg(id));
    ASSERT_TRUE(t.at(2).startsWith(QStringLiteral("451-%1[").arg(id + 1)));
    const QJsonArray audio = QJsonDocument::fromJson(t.at(2).mid(QStringLiteral("451-%1").arg(id + 1).size()).toUtf8()).array();
    EXPECT_EQ(audio, QJsonArray({"voice:audio", objeto(R"({"mimeType":"audio/m4a","audio":{"_placeholder":true,"num":0}})")}));
    EXPECT_EQ(t.at(3), QStringLiteral(R"(450-%1["vacio",{}])").arg(id + 2));
    EXPECT_EQ(peer.ultima().binarios, (QList<QByteArray>{"uno", "dos", "m4a"}));
}

TEST_F(CanalCrudo, CierreDelServidorYRechazo) {
    conectar(false);
    const QString largo = QString(R"({"message":")") + QString("ñ").repeated(150) + QString("😀").repeated(100) + "\"}";
    paquete("44" + largo);
    const QString esperado = "[canal] rechazado: " + QString(R"({"message":")") + QString("ñ").repeated(150) +
                             QString("😀").repeated(200 - 12 - 150);
    EXPECT_TRUE(lineas.hay(esperado)) << lineas.todas().join("\n").toStdString();
    EXPECT_FALSE(canal->listo());
    EXPECT_EQ(reloj.pendientes(), 1);  // only the watchdog: no reconnection

    peer.enviar("41");
    ASSERT_TRUE(lineas.esperar("[canal] el servidor cerró el canal"));
    EXPECT_TRUE(lineas.hay("[canal] reconecto en 2 s"));
    ASSERT_TRUE(esperarHasta([&] { return peer.ultima().cerrada; }));
    EXPECT_EQ(peer.ultima().codigoCierre, 1001);
    reloj.avanzar(2);
    ASSERT_TRUE(peer.esperarConexiones(2));
    ASSERT_TRUE(peer.esperarTextos(1));
    peer.enviar("41");
    ASSERT_TRUE(lineas.esperar("[canal] reconecto en 4 s"));
}

// A refusal's text may carry anything; each lands as one visible line with its tag.
TEST_F(CanalCrudo, RechazoConControlesQuedaEnUnaLinea) {
    conectar(false);
    const std::vector<std::pair<QString, QString>> casos = {
        {"x\n[app] línea falsa", "x\\n[app] línea falsa"},
        {"a\r\nb\tc", "a\\r\\nb\\tc"},
        {QString("\x1b[31mrojo") + QChar(0x2028) + "fin" + QChar(0x85), "\\x1B[31mrojo\\u2028fin\\x85"},
    };
    for (const auto& [enviado, escrito] : casos) {
        paquete("44" + enviado);
        EXPECT_TRUE(lineas.esperar("[canal] rechazado: " + escrito)) << lineas.todas().join("|").toStdString();
    }
    for (const QString& l : lineas.todas()) {
        EXPECT_FALSE(std::any_of(l.begin(), l.end(), [](QChar c) { return c.category() == QChar::Other_Control; }))
            << l.toStdString();
    }
}

TEST_F(CanalCrudo, CierresDeLaConexion) {
    conectar();
    peer.ultima().ws->close(QWebSocketProtocol::CloseCodeNormal, "adiós");
    ASSERT_TRUE(lineas.esperar("[canal] reconecto en 2 s"));
    EXPECT_TRUE(lineas.hay("[canal] cerrado: adiós")) << lineas.todas().join("\n").toStdString();
    EXPECT_FALSE(canal->listo());
    reloj.avanzar(2);
    ASSERT_TRUE(peer.esperarConexiones(2));
    peer.ultima().ws->abort();
    ASSERT_TRUE(lineas.esperar("[canal] reconecto en 4 s"));
    EXPECT_EQ(lineas.todas().filter("[canal] cerrado: ").size(), 2);
}

TEST_F(CanalCrudo, SinLatidoReconecta) {
    peer.apertura.clear();
    canal->conectar();
    ASSERT_TRUE(peer.esperarConexiones(1));
    girar(50);
    reloj.avanzar(49.9);  // 50 s before the first open packet
    girar(50);
    EXPECT_FALSE(lineas.hay("[canal] sin latido del servidor: reconecto"));
    peer.enviar(R"(0{"pingInterval":1000,"pingTimeout":1000})");
    ASSERT_TRUE(peer.esperarTextos(1));
    EXPECT_DOUBLE_EQ(canal->sinLatido(), 7.0);
    reloj.avanzar(6.9);
    paquete("noop");  // any text re-arms the watchdog
    reloj.avanzar(6.9);
    girar(50);
    EXPECT_FALSE(lineas.hay("[canal] sin latido del servidor: reconecto"));
    reloj.avanzar(0.2);
    ASSERT_TRUE(lineas.esperar("[canal] sin latido del servidor: reconecto"));
    EXPECT_TRUE(lineas.hay("[canal] reconecto en 2 s"));
    ASSERT_TRUE(esperarHasta([&] { return peer.ultima().cerrada; }));
    EXPECT_EQ(peer.ultima().codigoCierre, 1001);

    // The next socket is watched with the value learnt: 7 s, not 50.
    peer.apertura.clear();
    lineas.olvidar();
    reloj.avanzar(2);
    ASSERT_TRUE(peer.esperarConexiones(2));
    girar(50);
    reloj.avanzar(7);
    ASSERT_TRUE(lineas.esperar("[canal] sin latido del servidor: reconecto"));
}

TEST_F(CanalCrudo, EsperasCrecenYVuelvenAlConectar) {
    peer.estado = 500;
    peer.cuerpo = R"({"error":"caído"})";
    canal->conectar();
    const std::vector<int> demoras = {2, 4, 8, 16, 30, 30};
    for (size_t i = 0; i < demoras.size(); ++i) {
        ASSERT_TRUE(esperarHasta([&] { return lineas.todas().filter("[canal] reconecto en ").size() == qsizetype(i + 1); }));
        EXPECT_EQ(lineas.todas().filter("[canal] reconecto en ").back(),
                  QStringLiteral("[canal] reconecto en %1 s").arg(demoras[i]));
        if (i + 1 < demoras.size()) reloj.avanzar(demoras[i]);
    }
    EXPECT_EQ(lineas.todas().filter("[canal] no se pudo abrir: caído").size(), 6);
    lineas.olvidar();
    peer.estado = 200;
    peer.cuerpo = R"({"path":"/socket.io"})";
    reloj.avanzar(30);
    ASSERT_TRUE(peer.esperarConexiones(1));
    ASSERT_TRUE(peer.esperarTextos(1));
    peer.enviar("40");
    ASSERT_TRUE(lineas.esperar("[canal] conectado"));
    EXPECT_EQ(canal->reintentos(), 0);
    peer.enviar("41");
    ASSERT_TRUE(lineas.esperar("[canal] reconecto en 2 s"));
}

TEST_F(CanalCrudo, FallosDeLaConsultaDelCamino) {
    peer.cuerpo = R"({"camino":"/socket.io"})";
    canal->conectar();
    ASSERT_TRUE(lineas.esperar("[canal] no se pudo abrir: Sin canal en vivo"));
    EXPECT_TRUE(lineas.hay("[canal] reconecto en 2 s"));

    // 401: no further attempt at all.
    canal = std::make_unique<CanalEnVivo>(Cuenta{peer.url(), "token-bueno", "d@n.mx", "N"}, reloj);
    lineas.olvidar();
    peer.estado = 401;
    peer.cuerpo = R"({"error":"vencido"})";
    canal->conectar();
    ASSERT_TRUE(lineas.esperar("[canal] sesión vencida"));
    EXPECT_EQ(reloj.pendientes(), 0);
    reloj.avanzar(120);
    girar(100);
    EXPECT_EQ(lineas.todas(), QStringList{"[canal] sesión vencida"});
    EXPECT_TRUE(peer.conexiones.empty());
    // A holder may try again.
    peer.estado = 200;
    peer.cuerpo = R"({"path":"/socket.io/"})";
    canal->conectar();
    ASSERT_TRUE(peer.esperarConexiones(1));
}

TEST_F(CanalCrudo, CerrarDuranteLaConsulta) {
    peer.retener = true;
    canal->conectar();
    ASSERT_TRUE(esperarHasta([&] { return peer.consultas == 1; }));
    canal->cerrar();
    peer.liberar();
    girar(300);
    EXPECT_TRUE(peer.conexiones.empty());
    EXPECT_FALSE(canal->conSocket());
    EXPECT_TRUE(lineas.todas().isEmpty());

    // After cerrar() the queue waits for the next conectar().
    canal->emitir("mac:hola", {});
    peer.retener = false;
    conectar();
    ASSERT_TRUE(peer.esperarTextos(2));
    EXPECT_EQ(peer.ultima().textos.at(1), R"(42["mac:hola",{}])");
    canal->cerrar();
    ASSERT_TRUE(esperarHasta([&] { return peer.ultima().cerrada; }));
    EXPECT_EQ(peer.ultima().codigoCierre, 1000);
    reloj.avanzar(100);
    girar(100);
    EXPECT_EQ(peer.conexiones.size(), 1u);
}

TEST_F(CanalCrudo, ColaAcotada) {
    for (int i = 0; i < CanalEnVivo::kMaximoEnCola - 1; ++i) canal->emitir("mac:hola", QJsonObject{{"i", i}});
    auto ultima = lanzar(canal->pedir("chat:send", {}, 20));
    EXPECT_EQ(canal->enCola(), CanalEnVivo::kMaximoEnCola);
    auto sobra = lanzar(canal->pedir("chat:send", {}, 20));
    canal->emitir("mac:hola", {});
    ASSERT_TRUE(esperarHasta([&] { return sobra->hecho; }));
    EXPECT_EQ(sobra->valor, std::nullopt);
    EXPECT_FALSE(ultima->hecho);
    EXPECT_EQ(canal->enCola(), CanalEnVivo::kMaximoEnCola);
    EXPECT_EQ(lineas.cuantas("[canal] cola llena: no se envía chat:send"), 1);
    EXPECT_EQ(lineas.cuantas("[canal] cola llena: no se envía mac:hola"), 1);
    // A timed-out request frees its place.
    reloj.avanzar(20);
    ASSERT_TRUE(esperarHasta([&] { return ultima->hecho; }));
    EXPECT_EQ(canal->enCola(), CanalEnVivo::kMaximoEnCola - 1);
}

TEST_F(CanalCrudo, ElCanalQueSeVaTerminaSusPeticiones) {
    conectar();
    auto r = lanzar(canal->pedir("chat:send", {}, 20));
    auto desdeHilo = std::make_shared<Resultado>();
    std::thread hilo([&] { desdeHilo = lanzar(canal->pedir("chat:agente", {}, 8)); });
    hilo.join();
    canal.reset();
    ASSERT_TRUE(esperarHasta([&] { return r->hecho && desdeHilo->hecho; }));
    EXPECT_EQ(r->valor, std::nullopt);
    EXPECT_EQ(desdeHilo->valor, std::nullopt);
}

TEST_F(CanalCrudo, PeticionDesdeOtroHilo) {
    conectar();
    std::shared_ptr<Resultado> r;
    std::thread hilo([&] { r = lanzar(canal->pedir("chat:agente", QJsonObject{{"h", 1}}, 8)); });
    hilo.join();
    ASSERT_TRUE(peer.esperarTextos(2));
    EXPECT_EQ(peer.ultima().textos.at(1), R"(421["chat:agente",{"h":1}])");
    paquete(R"(431[{"ok":true}])");
    ASSERT_TRUE(esperarHasta([&] { return r->hecho; }));
    EXPECT_EQ(r->valor, objeto(R"({"ok":true})"));
}

TEST_F(CanalCrudo, MensajeDemasiadoGrandeCierraYReconecta) {
    conectar();
    peer.enviar(R"(42["chat:agente",")" + QString(CanalEnVivo::kMaximoMensaje, 'a') + "\"]");
    ASSERT_TRUE(lineas.esperar("[canal] reconecto en 2 s", 20000));
    EXPECT_FALSE(canal->listo());
}
