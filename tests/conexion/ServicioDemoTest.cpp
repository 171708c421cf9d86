// The demo service (tests/servicio/demo.js) as the program's own client sees it: only the paired
// token gets in, the business keeps what the owner did across a restart of the demo, and the
// console's orders reach the program as the service's events.
#include "comun/Ayudas.h"
#include "comun/Demo.h"
#include "zentu/conexion/CanalEnVivo.h"
#include "zentu/conexion/Enlazar.h"

#include <QBuffer>
#include <QImage>
#include <QNetworkReply>
#include <QTemporaryDir>
#include <QUrlQuery>
#include <gtest/gtest.h>

namespace {

QJsonObject pedir(const Cuenta& c, const QString& ruta, const QString& metodo = QStringLiteral("GET"),
                  std::optional<QJsonObject> cuerpo = std::nullopt) {
    return pruebas::esperar(API::pedir(c, ruta, metodo, std::move(cuerpo)));
}

Cuenta enlazar(Demo& demo) {
    const auto codigo = API::leerCodigo(demo.codigo);
    return pruebas::esperar(API::canjear(codigo.url, codigo.codigo));
}

// Every event of the channel, in arrival order: {evento, datos}.
struct Oido {
    std::vector<std::pair<QString, QJsonObject>> eventos;
    void oir(CanalEnVivo& canal, const QStringList& nombres) {
        for (const QString& n : nombres)
            canal.on(n, [this, n](std::optional<QJsonValue> v) { eventos.emplace_back(n, v ? v->toObject() : QJsonObject{}); });
    }
    std::optional<QJsonObject> ultimo(const QString& nombre) const {
        for (auto i = eventos.rbegin(); i != eventos.rend(); ++i)
            if (i->first == nombre) return i->second;
        return std::nullopt;
    }
    bool esperar(const QString& nombre, const std::function<bool(const QJsonObject&)>& cumple = {}) {
        return pruebas::esperarHasta(
            [&] {
                for (const auto& [n, d] : eventos)
                    if (n == nombre && (!cumple || cumple(d))) return true;
                return false;
            },
            15000);
    }
};

const QStringList kEventos = {"dudas:cambiaron", "consultas:nueva", "dashboard:patch", "chats:needs-human",
                              "llamada:entrante", "llamada:cancelada", "messages:new", "agent:status"};

QByteArray png() {
    QImage imagen(24, 16, QImage::Format_RGB32);
    imagen.fill(QColor(200, 120, 40));
    QByteArray datos;
    QBuffer b(&datos);
    b.open(QIODevice::WriteOnly);
    imagen.save(&b, "PNG");
    return datos;
}

TEST(ServicioDemo, SoloElTokenEnlazadoPasa) {
    QTemporaryDir carpeta;
    Demo demo;
    ASSERT_TRUE(demo.arrancar(carpeta.path()));

    struct Caso {
        const char* metodo;
        const char* ruta;
        QJsonObject cuerpo;
    };
    const std::vector<Caso> casos = {
        {"GET", "/api/dudas/canal", {}},
        {"GET", "/api/dudas", {}},
        {"POST", "/api/dudas/17/responder", {{"respuesta", "Sí, el 10 %"}}},
        {"POST", "/api/dudas/17/descartar", {}},
        {"POST", "/api/dudas/17/sin-contestar", {{"motivo", "rechazada"}}},
        {"GET", "/api/pendientes/permisos", {}},
        {"POST", "/api/pendientes/permisos/5", {{"aprobar", true}}},
        {"GET", "/api/agentes", {}},
        {"PATCH", "/api/agentes/2", {{"activo", false}}},
        {"GET", "/api/pulso", {}},
        {"GET", "/api/preferences/llamadas-de-agentes", {}},
        {"PATCH", "/api/preferences/llamadas-de-agentes", {{"enabled", false}}},
        {"GET", "/api/v1/llamada/realtime/token", {}},
        {"POST", "/api/v1/llamada/fin", {{"llamadaId", "x"}}},
        {"GET", "/api/files/download/precios.txt", {}},
        {"DELETE", "/api/pairing/este", {}},
    };
    auto todasRechazadas = [&](const QString& token) {
        const Cuenta c{demo.url, token, {}, {}};
        for (const Caso& caso : casos) {
            SCOPED_TRACE(std::string(caso.metodo) + " " + caso.ruta + " con «" + token.toStdString() + "»");
            try {
                pedir(c, caso.ruta, caso.metodo, caso.cuerpo.isEmpty() ? std::nullopt : std::optional(caso.cuerpo));
                ADD_FAILURE() << "pasó";
            } catch (const ErrorZentu& e) {
                EXPECT_EQ(e.caso(), ErrorZentu::Caso::sesionVencida) << e.descripcion().toStdString();
            }
        }
    };
    // Before pairing no token is good; after it, only the one it gave.
    todasRechazadas(QString());
    todasRechazadas(QStringLiteral("token-bueno"));
    const Cuenta cuenta = enlazar(demo);
    EXPECT_EQ(cuenta.correo, "dueno@laespiga.mx");
    EXPECT_EQ(cuenta.nombre, "Panadería La Espiga");
    todasRechazadas(QStringLiteral("demo-") + QString(32, QLatin1Char('0')));
    todasRechazadas(cuenta.token + QStringLiteral("x"));

    // The refused requests changed nothing.
    const QJsonArray dudas = pedir(cuenta, "/api/dudas")["dudas"].toArray();
    ASSERT_EQ(dudas.size(), 1);
    EXPECT_EQ(dudas[0]["id"].toInt(), 17);
    EXPECT_TRUE(pedir(cuenta, "/api/preferences/llamadas-de-agentes")["enabled"].toBool());

    // The file-marker view and the media take the token from the address as well.
    const QString precios = QStringLiteral("/api/files/view/") +
                            QString::fromLatin1(QByteArray("precios.txt").toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    for (const auto& [token, estado] : std::vector<std::pair<QString, int>>{{cuenta.token, 200}, {"otro", 401}, {"", 401}}) {
        QNetworkReply* r = API::red().get(QNetworkRequest(QUrl(demo.url + precios + "?token=" + token)));
        ASSERT_TRUE(pruebas::esperarHasta([r] { return r->isFinished(); }, 15000));
        EXPECT_EQ(r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), estado) << token.toStdString();
        if (estado == 200) {
            EXPECT_TRUE(r->readAll().startsWith("Panadería La Espiga"));
        }
        r->deleteLater();
    }

    // A code is good once.
    try {
        enlazar(demo);
        ADD_FAILURE() << "el código valió dos veces";
    } catch (const ErrorZentu& e) {
        EXPECT_EQ(e.descripcion(), "Código vencido o ya usado");
    }

    // Unpairing ends the token, and the console offers a new code.
    pedir(cuenta, "/api/pairing/este", "DELETE");
    todasRechazadas(cuenta.token);
    ASSERT_TRUE(demo.esperarLinea("se desenlazó"));
    ASSERT_TRUE(pruebas::esperarHasta([&] {
        return std::count_if(demo.lineas().begin(), demo.lineas().end(), [](const QString& l) { return l.startsWith("{\"v\":1"); }) == 2;
    }));
}

TEST(ServicioDemo, GuardaElEnlaceYElNegocioAlReiniciar) {
    QTemporaryDir carpeta;
    Demo demo;
    ASSERT_TRUE(demo.arrancar(carpeta.path()));
    const Cuenta cuenta = enlazar(demo);

    CanalEnVivo canal(cuenta);
    Oido oido;
    oido.oir(canal, kEventos);
    bool conectado = false;
    canal.on("_conectado", [&](std::optional<QJsonValue>) { conectado = true; });
    canal.conectar();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return conectado; }, 15000));
    // A program that connects learns its credits.
    ASSERT_TRUE(oido.esperar("dashboard:patch", [](const QJsonObject& d) { return d["creditos"]["restantes"].toInt() == 1320; }));

    // What the owner does: a file and a text in the chat, an answer, a paused agent, no calls.
    const QByteArray imagen = png();
    const QJsonObject archivo{{"text", "la vitrina"},
                              {"file", QJsonObject{{"buffer", QJsonObject{{"_placeholder", true}, {"num", 0}}},
                                                   {"name", "vitrina.png"}, {"mimeType", "image/png"}}}};
    const auto enviado = pruebas::esperar(canal.pedirConBinarios("chat:send", archivo, {imagen}, 30));
    ASSERT_TRUE(enviado && (*enviado)["ok"].toBool());
    const QString id = (*enviado)["messageId"].toString();
    ASSERT_FALSE(id.isEmpty());
    ASSERT_TRUE(oido.esperar("messages:new", [&](const QJsonObject& d) { return d["message"]["messageId"] == id; }));
    // The agent answers the owner, with its typing before.
    ASSERT_TRUE(oido.esperar("messages:new", [](const QJsonObject& d) {
        return d["message"]["fromMe"].toBool() && d["message"]["text"].toString().contains("vitrina.png");
    }));
    EXPECT_TRUE(oido.esperar("agent:status", [](const QJsonObject& d) { return d["status"] == "processing"; }));

    const QJsonObject respondida = pedir(cuenta, "/api/dudas/17/responder", "POST", QJsonObject{{"respuesta", "Solo el 5 %"}});
    EXPECT_EQ(respondida, (QJsonObject{{"porPlantilla", false}, {"sinPlantilla", false}}));
    ASSERT_TRUE(oido.esperar("dudas:cambiaron", [](const QJsonObject& d) { return d["total"].toInt() == 0; }));
    try {
        pedir(cuenta, "/api/dudas/17/descartar", "POST");
        ADD_FAILURE() << "una duda respondida se descartó";
    } catch (const ErrorZentu& e) {
        EXPECT_EQ(e.descripcion(), "Esa duda ya no está abierta.");
    }
    const QJsonObject pausado = pedir(cuenta, "/api/agentes/2", "PATCH", QJsonObject{{"activo", false}});
    EXPECT_FALSE(pausado["agente"]["is_active"].toBool(true));
    EXPECT_EQ(pedir(cuenta, "/api/preferences/llamadas-de-agentes", "PATCH", QJsonObject{{"enabled", false}})["enabled"], false);

    // The demo restarts on its ports; the program's channel comes back by itself.
    const int puerto = demo.puerto(), puertoVoz = demo.puertoVoz();
    demo.detener();
    conectado = false;
    ASSERT_TRUE(demo.arrancar(carpeta.path(), puerto, puertoVoz));
    EXPECT_TRUE(demo.esperarLinea("ya está enlazado"));
    ASSERT_TRUE(pruebas::esperarHasta([&] { return conectado; }, 60000));

    EXPECT_TRUE(pedir(cuenta, "/api/dudas")["dudas"].toArray().isEmpty());
    for (const QJsonValue& a : pedir(cuenta, "/api/agentes")["agentes"].toArray())
        EXPECT_EQ(a["is_active"].toBool(), a["id"].toInt() != 2 && a["id"].toInt() != 4) << a["name"].toString().toStdString();
    EXPECT_EQ(pedir(cuenta, "/api/preferences/llamadas-de-agentes")["enabled"], false);
    // The answer became the business's latest action.
    EXPECT_TRUE(pedir(cuenta, "/api/pulso")["actividad"][0]["texto"].toString().contains("Solo el 5 %"));

    // The chat's history holds the owner's file, and its image downloads as the bubble fetches
    // it: "/api/media/" + the message id, the token in the address.
    const auto historia = pruebas::esperar(canal.pedir("chats:messages", QJsonObject{{"phone", "dashboard"}, {"limit", 60}}, 12));
    ASSERT_TRUE(historia);
    bool conImagen = false;
    for (const QJsonValue& m : (*historia)["messages"].toArray())
        conImagen = conImagen || (m["messageId"] == id && m["type"] == "image" && m["fileName"] == "vitrina.png");
    EXPECT_TRUE(conImagen);
    QNetworkReply* r = API::red().get(QNetworkRequest(QUrl(demo.url + "/api/media/" + id + "?token=" + cuenta.token)));
    ASSERT_TRUE(pruebas::esperarHasta([r] { return r->isFinished(); }, 15000));
    EXPECT_EQ(r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    EXPECT_EQ(r->header(QNetworkRequest::ContentTypeHeader).toString(), "image/png");
    EXPECT_EQ(r->readAll(), imagen);
    r->deleteLater();
    canal.cerrar();
}

TEST(ServicioDemo, LasOrdenesDeLaConsolaLleganAlPrograma) {
    QTemporaryDir carpeta;
    Demo demo;
    ASSERT_TRUE(demo.arrancar(carpeta.path()));
    const Cuenta cuenta = enlazar(demo);
    CanalEnVivo canal(cuenta);
    Oido oido;
    oido.oir(canal, kEventos);
    QStringList pedidos;
    canal.atender("mac:accion", [&](std::optional<QJsonValue> v, CanalEnVivo::Respondedor responder) {
        pedidos << v->toObject()["accion"].toString() + " " + v->toObject()["id"].toString();
        responder(QJsonObject{{"ok", true}, {"ruta", "/tmp/precios.txt"}});
    });
    bool conectado = false;
    canal.on("_conectado", [&](std::optional<QJsonValue>) { conectado = true; });
    canal.conectar();
    ASSERT_TRUE(pruebas::esperarHasta([&] { return conectado; }, 15000));

    demo.orden("ayuda");
    for (const char* orden : {"llamar", "colgar", "duda", "permiso", "mensaje", "cliente", "sin-creditos", "creditos", "abrir"})
        EXPECT_TRUE(demo.esperarLinea(QStringLiteral("\n  ") + orden + " ")) << orden;

    // A new question: announced, counted, and in the list.
    demo.orden("duda");
    ASSERT_TRUE(oido.esperar("consultas:nueva"));
    const QJsonObject nueva = *oido.ultimo("consultas:nueva");
    EXPECT_EQ(nueva["agente"], "atencion_cliente");
    EXPECT_TRUE(nueva["mostrarVentana"].toBool());
    EXPECT_TRUE(nueva["pregunta"].toString().startsWith("Jorge quiere"));
    ASSERT_TRUE(oido.esperar("dudas:cambiaron", [](const QJsonObject& d) { return d["total"].toInt() == 2; }));
    const QJsonArray dudas = pedir(cuenta, "/api/dudas")["dudas"].toArray();
    ASSERT_EQ(dudas.size(), 2);
    EXPECT_EQ(dudas[1]["id"], nueva["id"]);

    // An agent calls about the newest question, and withdraws the call.
    demo.orden("llamar");
    ASSERT_TRUE(oido.esperar("llamada:entrante"));
    const QJsonObject llamada = *oido.ultimo("llamada:entrante");
    EXPECT_EQ(llamada["consultaId"], nueva["id"]);
    EXPECT_EQ(llamada["agente"], "atencion_cliente");
    EXPECT_TRUE(llamada.contains("pregunta"));
    demo.orden("colgar");
    ASSERT_TRUE(oido.esperar("llamada:cancelada", [&](const QJsonObject& d) { return d["consultaId"] == nueva["id"]; }));

    // A permission request reaches the list the program reloads on "inbox".
    demo.orden("permiso");
    ASSERT_TRUE(oido.esperar("dashboard:patch", [](const QJsonObject& d) { return d.contains("inbox"); }));
    QNetworkRequest lista(QUrl(demo.url + "/api/pendientes/permisos"));
    lista.setRawHeader("Authorization", "Bearer " + cuenta.token.toUtf8());
    QNetworkReply* r = API::red().get(lista);
    ASSERT_TRUE(pruebas::esperarHasta([r] { return r->isFinished(); }, 15000));
    const QJsonArray permisos = QJsonDocument::fromJson(r->readAll()).array();
    r->deleteLater();
    ASSERT_EQ(permisos.size(), 1);
    EXPECT_EQ(permisos[0]["destinatario"], "Luis Pérez");
    pedir(cuenta, "/api/pendientes/permisos/" + QString::number(permisos[0]["id"].toInt()), "POST", QJsonObject{{"aprobar", false}});
    EXPECT_TRUE(demo.esperarLinea("Rechazaste el permiso"));

    // An agent writes in the chat; a customer asks for a person.
    demo.orden("mensaje");
    ASSERT_TRUE(oido.esperar("messages:new", [](const QJsonObject& d) {
        return d["phone"] == "dashboard" && d["message"]["fromMe"].toBool() && d["message"]["text"].toString().contains("[FILE:");
    }));
    demo.orden("cliente");
    ASSERT_TRUE(oido.esperar("chats:needs-human", [](const QJsonObject& d) { return d["phone"].toString().startsWith("52155"); }));

    // Without credits the call's token is refused; with them again it is given.
    demo.orden("sin-creditos");
    ASSERT_TRUE(oido.esperar("dashboard:patch", [](const QJsonObject& d) {
        return d.contains("creditos") && d["creditos"]["restantes"].toInt(-1) == 0;
    }));
    try {
        pedir(cuenta, "/api/v1/llamada/realtime/token");
        ADD_FAILURE() << "sin créditos dio un token";
    } catch (const ErrorZentu& e) {
        EXPECT_EQ(e.caso(), ErrorZentu::Caso::sinCreditos);
    }
    demo.orden("creditos");
    ASSERT_TRUE(demo.esperarLinea("Volvieron los créditos"));
    EXPECT_TRUE(pedir(cuenta, "/api/v1/llamada/realtime/token")["token"].isString());

    // The service asks the computer to open one of the business's files.
    demo.orden("abrir");
    ASSERT_TRUE(demo.esperarLinea("Zentu AI abrió /tmp/precios.txt"));
    EXPECT_EQ(pedidos, QStringList{"abrir precios.txt"});

    // With the calls switched off, nobody calls.
    pedir(cuenta, "/api/preferences/llamadas-de-agentes", "PATCH", QJsonObject{{"enabled", false}});
    const size_t antes = oido.eventos.size();
    demo.orden("llamar");
    ASSERT_TRUE(demo.esperarLinea("Tienes apagadas las llamadas"));
    for (size_t i = antes; i < oido.eventos.size(); ++i) EXPECT_NE(oido.eventos[i].first, "llamada:entrante");
    canal.cerrar();
}

}  // namespace
