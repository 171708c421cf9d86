#include "zentu/conexion/Cuenta.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Registro.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QProcess>
#include <gtest/gtest.h>
#include <functional>

using pruebas::esperar;

namespace {

// Outcome of one REST call, in a form a table can compare.
struct Resultado {
    bool lanzo = false;
    bool esZentu = false;
    ErrorZentu::Caso caso{};
    QString texto;
    QJsonObject datos;
    double horas = 0;
    std::optional<QString> pista;
    bool fuera = false;
};

Resultado llamar(const Cuenta& cuenta, const QString& ruta, const QString& metodo = "GET",
                 std::optional<QJsonObject> cuerpo = std::nullopt, double espera = 20) {
    Resultado r;
    try {
        r.datos = esperar(API::pedir(cuenta, ruta, metodo, std::move(cuerpo), espera));
    } catch (const ErrorZentu& e) {
        r.lanzo = r.esZentu = true;
        r.caso = e.caso();
        r.texto = e.errorDescription();
        r.horas = e.horas();
        r.pista = e.pista();
        r.fuera = e.fueraDeVentana();
    } catch (const FalloZentu& e) {
        r.lanzo = true;
        r.texto = e.descripcion();
    }
    return r;
}

class PruebaAPI : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(servicio.arrancar());
        cuenta = {servicio.url(), "token-bueno", "dueno@negocio.mx", "Negocio"};
    }
    ServicioSimulado servicio;
    Cuenta cuenta;
};

}  // namespace

TEST(ErrorZentu, TextosDeCadaCaso) {
    struct Caso {
        ErrorZentu error;
        QString texto;
    };
    const QString vieja = " horas: ábrela en Zentu AI para elegir si se le responde al cliente o solo se guarda.";
    const std::vector<Caso> casos = {
        {ErrorZentu::servidor("Algo falló"), "Algo falló"},
        {ErrorZentu::servidor(""), ""},
        {ErrorZentu::consultaVieja(30, std::nullopt, false), "Esta duda tiene 30" + vieja},
        {ErrorZentu::consultaVieja(2.5, "p", true), "Esta duda tiene 3" + vieja},
        {ErrorZentu::consultaVieja(-2.5, std::nullopt, false), "Esta duda tiene -3" + vieja},
        {ErrorZentu::consultaVieja(2.49, std::nullopt, false), "Esta duda tiene 2" + vieja},
        {ErrorZentu::consultaVieja(1e300, std::nullopt, false), "Esta duda tiene muchas" + vieja},
        {ErrorZentu::sesionVencida(), "Tu enlace con Zentu venció. Vuelve a escanear el código del panel."},
        {ErrorZentu::sinCreditos(), "No te quedan créditos para hablar con Zentu."},
        {ErrorZentu::soloDueno(), "Solo el dueño de la cuenta puede hablar con Zentu."},
        {ErrorZentu::noEsDeZentu(),
         "Ese código no es de Zentu AI. Usa el de Configuración → Conexiones en el panel."},
    };
    for (const auto& c : casos) {
        EXPECT_EQ(c.error.errorDescription(), c.texto);
        EXPECT_EQ(QString::fromUtf8(c.error.what()), c.texto);
    }
}

TEST(Cuenta, JsonEstricto) {
    const Cuenta c{"https://zentu.ai", "t", "a@b.c", "Negocio"};
    EXPECT_EQ(Cuenta::decodificar(c.codificar()), c);
    struct Caso {
        const char* json;
        bool valido;
    };
    const std::vector<Caso> casos = {
        {R"({"url":"u","token":"t","correo":"c","nombre":"n"})", true},
        {R"({"url":"u","token":"t","correo":"c","nombre":"n","extra":1})", true},
        {R"({"url":"u","token":"t","correo":"c"})", false},
        {R"({"url":"u","token":5,"correo":"c","nombre":"n"})", false},
        {R"({"url":"u","token":null,"correo":"c","nombre":"n"})", false},
        {R"([1,2])", false},
        {R"(no es json)", false},
        {"", false},
    };
    for (const auto& caso : casos) {
        EXPECT_EQ(Cuenta::decodificar(caso.json).has_value(), caso.valido) << caso.json;
    }
}

TEST(API, ClienteLlevaLaVersion) {
    EXPECT_TRUE(API::cliente().startsWith("mac/"));
    EXPECT_GT(API::cliente().size(), 4);
    EXPECT_EQ(&API::cliente(), &API::cliente());
}

TEST_F(PruebaAPI, TablaDeRespuestas) {
    struct Caso {
        const char* nombre;
        QJsonObject respuesta;  // scripted reply
        bool lanza;
        ErrorZentu::Caso caso;
        QString texto;
        QJsonObject datos = {};
        double horas = 0;
        std::optional<QString> pista = std::nullopt;
        bool fuera = false;
    };
    using C = ErrorZentu::Caso;
    const QString vieja30 = "Esta duda tiene 30 horas: ábrela en Zentu AI para elegir si se le responde al "
                            "cliente o solo se guarda.";
    const std::vector<Caso> casos = {
        {"200 objeto", {{"estado", 200}, {"cuerpo", QJsonObject{{"a", 1}}}}, false, {}, {}, {{"a", 1}}},
        {"204 vacío", {{"estado", 204}}, false, {}, {}},
        {"200 arreglo", {{"estado", 200}, {"cuerpo", QJsonArray{1, 2}}}, false, {}, {}},
        {"200 no JSON", {{"estado", 200}, {"texto", "<html>hola</html>"}}, false, {}, {}},
        {"201 escalar", {{"estado", 201}, {"cuerpo", 7}}, false, {}, {}},
        {"401 con error", {{"estado", 401}, {"cuerpo", QJsonObject{{"error", "x"}}}}, true, C::sesionVencida,
         "Tu enlace con Zentu venció. Vuelve a escanear el código del panel."},
        {"402", {{"estado", 402}}, true, C::sinCreditos, "No te quedan créditos para hablar con Zentu."},
        {"403", {{"estado", 403}}, true, C::soloDueno, "Solo el dueño de la cuenta puede hablar con Zentu."},
        {"409 sin decisión con error",
         {{"estado", 409}, {"cuerpo", QJsonObject{{"necesitaDecision", false}, {"error", "Ya respondida"}}}},
         true, C::servidor, "Ya respondida"},
        {"409 sin nada", {{"estado", 409}, {"cuerpo", QJsonObject{}}}, true, C::servidor,
         "Zentu no respondió (409)."},
        {"409 decisión como número",
         {{"estado", 409}, {"cuerpo", QJsonObject{{"necesitaDecision", 1}, {"message", "m"}}}}, true,
         C::servidor, "m"},
        {"409 decisión 30 h",
         {{"estado", 409}, {"cuerpo", QJsonObject{{"necesitaDecision", true}, {"horas", 30}}}}, true,
         C::consultaVieja, vieja30, {}, 30},
        {"409 decisión completa",
         {{"estado", 409},
          {"cuerpo", QJsonObject{{"necesitaDecision", true}, {"horas", 2.5}, {"pista", "p"}, {"fueraDeVentana", true}}}},
         true, C::consultaVieja,
         "Esta duda tiene 3 horas: ábrela en Zentu AI para elegir si se le responde al cliente o solo se guarda.",
         {}, 2.5, QString("p"), true},
        {"409 horas en texto",
         {{"estado", 409},
          {"cuerpo", QJsonObject{{"necesitaDecision", true}, {"horas", "30"}, {"pista", 4}, {"fueraDeVentana", "sí"}}}},
         true, C::consultaVieja,
         "Esta duda tiene 0 horas: ábrela en Zentu AI para elegir si se le responde al cliente o solo se guarda."},
        {"500 error objeto y message texto",
         {{"estado", 500}, {"cuerpo", QJsonObject{{"error", QJsonObject{{"x", 1}}}, {"message", "Se cayó"}}}}, true,
         C::servidor, "Se cayó"},
        {"500 no JSON", {{"estado", 500}, {"texto", "Internal"}}, true, C::servidor, "Zentu no respondió (500)."},
        {"404 error texto", {{"estado", 404}, {"cuerpo", QJsonObject{{"error", "No existe"}}}}, true, C::servidor,
         "No existe"},
        {"302 sin destino", {{"estado", 302}}, true, C::servidor, "Zentu no respondió (302)."},
    };
    // Only a refused token is announced, with the account it was for.
    QList<Cuenta> vencidas;
    API::observarSesionVencida([&](const Cuenta& de) { vencidas << de; });
    for (const auto& c : casos) {
        vencidas.clear();
        servicio.responder("GET", "/api/prueba", c.respuesta);
        const Resultado r = llamar(cuenta, "/api/prueba");
        SCOPED_TRACE(c.nombre);
        EXPECT_EQ(r.lanzo, c.lanza);
        EXPECT_EQ(vencidas, c.lanza && c.caso == C::sesionVencida ? QList<Cuenta>{cuenta} : QList<Cuenta>{});
        if (c.lanza) {
            EXPECT_TRUE(r.esZentu);
            EXPECT_EQ(r.caso, c.caso);
            EXPECT_EQ(r.texto, c.texto);
            EXPECT_EQ(r.horas, c.horas);
            EXPECT_EQ(r.pista, c.pista);
            EXPECT_EQ(r.fuera, c.fuera);
        } else {
            EXPECT_EQ(r.datos, c.datos);
        }
    }
    API::observarSesionVencida({});
}

TEST_F(PruebaAPI, CabecerasYCuerpoExactos) {
    servicio.olvidarPeticiones();
    llamar(cuenta, "/api/dudas/canal");
    llamar(cuenta, "/api/algo", "POST", QJsonObject{{"texto", "hola ñ"}, {"n", 2}});
    llamar(cuenta, "/api/vacio", "POST");
    const QJsonArray vistas = servicio.peticiones();
    ASSERT_EQ(vistas.size(), 3);

    const QJsonObject get = vistas[0].toObject();
    EXPECT_EQ(get["metodo"].toString(), "GET");
    EXPECT_EQ(get["ruta"].toString(), "/api/dudas/canal");
    const QJsonObject cab = get["cabeceras"].toObject();
    EXPECT_EQ(cab["content-type"].toString(), "application/json");
    EXPECT_EQ(cab["authorization"].toString(), "Bearer token-bueno");
    EXPECT_EQ(cab["x-zentu-cliente"].toString(), API::cliente());
    EXPECT_FALSE(cab.contains("accept"));
    EXPECT_EQ(get["cuerpo"].toString(), "");

    const QJsonObject post = vistas[1].toObject();
    EXPECT_EQ(post["metodo"].toString(), "POST");
    EXPECT_EQ(QJsonDocument::fromJson(post["cuerpo"].toString().toUtf8()).object(),
              (QJsonObject{{"texto", "hola ñ"}, {"n", 2}}));

    const QJsonObject vacio = vistas[2].toObject();
    EXPECT_EQ(vacio["metodo"].toString(), "POST");
    EXPECT_EQ(vacio["cuerpo"].toString(), "");
}

TEST_F(PruebaAPI, FallosDeTransporteYDirecciones) {
    // Time-out: the service answers after 3 s, the caller waits 0.5 s.
    servicio.responder("GET", "/api/lento", QJsonObject{{"estado", 200}, {"cuerpo", QJsonObject{}}, {"retraso", 3000}});
    Resultado r = llamar(cuenta, "/api/lento", "GET", std::nullopt, 0.5);
    EXPECT_TRUE(r.lanzo);
    EXPECT_FALSE(r.esZentu);
    EXPECT_FALSE(r.texto.isEmpty());

    // A connection dropped without an answer (the network layer retries once on a reused
    // connection, so the service drops both).
    servicio.responder("GET", "/api/corte", QJsonObject{{"estado", 200}, {"cortar", true}, {"veces", 3}});
    r = llamar(cuenta, "/api/corte");
    EXPECT_TRUE(r.lanzo);
    EXPECT_FALSE(r.esZentu);

    // The status line and part of the body arrive, then the connection drops or goes quiet:
    // a failure of the transport, never a successful (empty) reply.
    servicio.responder("GET", "/api/medias",
                       QJsonObject{{"estado", 200}, {"cuerpo", QJsonObject{{"largo", "x"}}}, {"cortarTras", 3}});
    r = llamar(cuenta, "/api/medias");
    EXPECT_TRUE(r.lanzo);
    EXPECT_FALSE(r.esZentu);
    servicio.responder("GET", "/api/medias500",
                       QJsonObject{{"estado", 500}, {"cuerpo", QJsonObject{{"error", "x"}}}, {"cortarTras", 3}});
    r = llamar(cuenta, "/api/medias500");
    EXPECT_TRUE(r.lanzo);
    EXPECT_FALSE(r.esZentu);

    // Nothing listens.
    Cuenta muerta = cuenta;
    muerta.url = "http://127.0.0.1:1";
    r = llamar(muerta, "/api/x");
    EXPECT_TRUE(r.lanzo);
    EXPECT_FALSE(r.esZentu);

    // Addresses that make no URL fail the call, never the process.
    for (const QString& url : {QString(""), QString("no es una url"), QString("http://"), QString("http://[::1")}) {
        Cuenta rota = cuenta;
        rota.url = url;
        r = llamar(rota, "/api/x");
        EXPECT_TRUE(r.lanzo) << url.toStdString();
        EXPECT_FALSE(r.esZentu);
    }
}

TEST(APISinHttp, RespuestaQueNoEsHttpEsEstadoCero) {
    QTemporaryDir dir;
    QFile f(dir.path() + "/r.json");
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"({"error":"no debe leerse como error"})");
    f.close();
    const Cuenta cuenta{"file://" + dir.path(), "t", "c", "n"};
    const Resultado r = llamar(cuenta, "/r.json");
    EXPECT_TRUE(r.esZentu);
    EXPECT_EQ(r.caso, ErrorZentu::Caso::servidor);
    // A non-HTTP reply has status 0; its body is still read for "error".
    EXPECT_EQ(r.texto, "no debe leerse como error");
}

namespace {
bool hayServicioSecreto() {
    return qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS");
}
}  // namespace

TEST(Llavero, GuardarLeerBorrar) {
    if (!hayServicioSecreto()) GTEST_SKIP() << "sin bus de sesión (el comando de pruebas lo arranca)";
    Llavero::borrar();
    EXPECT_FALSE(Llavero::leer().has_value());

    const Cuenta a{"https://a.zentu.ai", "token-a", "a@a.mx", "A"};
    const Cuenta b{"https://b.zentu.ai", "token-b", "b@b.mx", "Bé"};
    Llavero::guardar(a);
    EXPECT_EQ(Llavero::leer(), a);
    Llavero::guardar(b);
    EXPECT_EQ(Llavero::leer(), b);

    // Exactly one item remains, holding the second account.
    QProcess herramienta;
    herramienta.start("secret-tool", {"search", "--all", "service", "ai.zentu.voz", "account", "cuenta"});
    ASSERT_TRUE(herramienta.waitForFinished(10000));
    const QString salida = QString::fromUtf8(herramienta.readAllStandardOutput() + herramienta.readAllStandardError());
    EXPECT_EQ(salida.count("secret = "), 1) << salida.toStdString();
    EXPECT_TRUE(salida.contains("token-b"));

    Llavero::borrar();
    EXPECT_FALSE(Llavero::leer().has_value());
    Llavero::borrar();  // deleting a missing item is no error
}

TEST(Llavero, DatosIlegiblesDanNada) {
    if (!hayServicioSecreto()) GTEST_SKIP() << "sin bus de sesión";
    for (const char* datos : {R"({"url":"u","token":"t","correo":"c"})", R"({"url":"u","token":5,"correo":"c","nombre":"n"})",
                              "basura"}) {
        QProcess herramienta;
        herramienta.start("secret-tool", {"store", "--label=Zentu", "service", "ai.zentu.voz", "account", "cuenta"});
        ASSERT_TRUE(herramienta.waitForStarted());
        herramienta.write(datos);
        herramienta.closeWriteChannel();
        ASSERT_TRUE(herramienta.waitForFinished(10000));
        EXPECT_FALSE(Llavero::leer().has_value()) << datos;
    }
    Llavero::borrar();
}

// With no Secret Service at all (no session bus), reading yields none and saving only logs its
// failure. The session bus connection lasts for the life of the process, so this runs in a
// child process of this same binary whose environment has no reachable bus.
TEST(LlaveroSinServicio, LeerDaNadaYGuardarSoloRegistra) {
    if (qEnvironmentVariableIsSet("ZENTU_HIJO_SIN_BUS")) {
        QStringList lineas;
        Registro::observar([&](const QString& l) { lineas << l; });
        EXPECT_FALSE(Llavero::leer().has_value());
        Llavero::guardar(Cuenta{"u", "secreto-123", "c", "n"});
        Registro::observar({});
        ASSERT_EQ(lineas.size(), 1);
        EXPECT_TRUE(lineas[0].startsWith("[llavero] no se pudo guardar la cuenta (")) << lineas[0].toStdString();
        EXPECT_TRUE(lineas[0].endsWith(")"));
        EXPECT_FALSE(lineas[0].contains("secreto-123")) << "the token never reaches the log";
        return;
    }
    QProcess hijo;
    QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
    entorno.insert("ZENTU_HIJO_SIN_BUS", "1");
    entorno.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/zentu-bus");
    hijo.setProcessEnvironment(entorno);
    hijo.start(QCoreApplication::applicationFilePath(),
               {"--gtest_filter=LlaveroSinServicio.LeerDaNadaYGuardarSoloRegistra"});
    ASSERT_TRUE(hijo.waitForFinished(60000));
    const QByteArray salida = hijo.readAllStandardOutput() + hijo.readAllStandardError();
    EXPECT_EQ(hijo.exitCode(), 0) << salida.toStdString();
    EXPECT_TRUE(salida.contains("[  PASSED  ] 1 test")) << salida.toStdString();
}
