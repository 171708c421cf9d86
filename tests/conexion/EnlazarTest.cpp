#include "zentu/conexion/Enlazar.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/Equipo.h"
#include "plataforma/Preferencias.h"

#include <QJsonDocument>
#include <QRegularExpression>
#include <gtest/gtest.h>

using pruebas::esperar;

namespace {

const QString kNoEsDeZentu =
    QStringLiteral("Ese código no es de Zentu AI. Usa el de Configuración → Conexiones en el panel.");
const QString kNoSePudo = QStringLiteral("No se pudo enlazar. Genera un código nuevo en el panel.");

// Outcome of one redemption, comparable in a table.
struct Canje {
    std::optional<Cuenta> cuenta;
    bool esZentu = false;
    QString error;
};

Canje canjear(const QString& url, const QString& codigo, double espera = 10) {
    Canje r;
    try {
        r.cuenta = esperar(API::canjear(url, codigo, espera));
    } catch (const ErrorZentu& e) {
        r.esZentu = true;
        r.error = e.descripcion();
    } catch (const FalloZentu& e) {
        r.error = e.descripcion();
    }
    return r;
}

QJsonObject cuerpoDe(const QJsonValue& peticion) {
    return QJsonDocument::fromJson(peticion.toObject().value("cuerpo").toString().toUtf8()).object();
}

}  // namespace

TEST(LeerCodigo, TablaDeTextos) {
    struct Caso {
        const char* nombre;
        QString texto;
        std::optional<API::CodigoEnlace> esperado;  // none: noEsDeZentu
    };
    const std::vector<Caso> casos = {
        {"bueno", R"({"v":1,"url":"https://zentu.mx","codigo":"abc"})", API::CodigoEnlace{"https://zentu.mx", "abc"}},
        {"espacios alrededor y claves de más", " \n{\"otra\":[1], \"codigo\":\" x \",\"url\":\"http://h:8080\",\"v\":1.0}\t",
         API::CodigoEnlace{"http://h:8080", " x "}},
        {"dos barras al final", R"({"v":1,"url":"https://zentu.mx//","codigo":"c"})", API::CodigoEnlace{"https://zentu.mx", "c"}},
        {"solo barras", R"({"v":1,"url":"///","codigo":"c"})", std::nullopt},
        {"una barra", R"({"v":1,"url":"/","codigo":"B"})", std::nullopt},
        {"dos barras", R"({"v":1,"url":"//","codigo":"B"})", std::nullopt},
        {"esquema no web: lo rechaza el canje", R"({"v":1,"url":"ftp://zentu.mx","codigo":"c"})",
         API::CodigoEnlace{"ftp://zentu.mx", "c"}},
        {"v 2", R"({"v":2,"url":"https://z","codigo":"c"})", std::nullopt},
        {"v en texto", R"({"v":"1","url":"https://z","codigo":"c"})", std::nullopt},
        {"v booleano", R"({"v":true,"url":"https://z","codigo":"c"})", std::nullopt},
        {"v 1.5", R"({"v":1.5,"url":"https://z","codigo":"c"})", std::nullopt},
        {"sin v", R"({"url":"https://z","codigo":"c"})", std::nullopt},
        {"sin url", R"({"v":1,"codigo":"c"})", std::nullopt},
        {"url número", R"({"v":1,"url":5,"codigo":"c"})", std::nullopt},
        {"sin codigo", R"({"v":1,"url":"https://z"})", std::nullopt},
        {"codigo vacío", R"({"v":1,"url":"https://z","codigo":""})", std::nullopt},
        {"url vacía", R"({"v":1,"url":"","codigo":"c"})", std::nullopt},
        {"arreglo", R"([{"v":1,"url":"https://z","codigo":"c"}])", std::nullopt},
        {"dirección web suelta", "https://zentu.mx/enlazar?c=abc", std::nullopt},
        {"texto con el JSON dentro", R"(código: {"v":1,"url":"https://z","codigo":"c"})", std::nullopt},
        {"vacío", "", std::nullopt},
    };
    for (const auto& c : casos) {
        std::optional<API::CodigoEnlace> obtenido;
        try {
            obtenido = API::leerCodigo(c.texto);
        } catch (const ErrorZentu& e) {
            EXPECT_EQ(e.caso(), ErrorZentu::Caso::noEsDeZentu) << c.nombre;
            EXPECT_EQ(e.descripcion(), kNoEsDeZentu) << c.nombre;
        }
        EXPECT_EQ(obtenido.has_value(), c.esperado.has_value()) << c.nombre;
        if (obtenido && c.esperado) {
            EXPECT_EQ(obtenido->url, c.esperado->url) << c.nombre;
            EXPECT_EQ(obtenido->codigo, c.esperado->codigo) << c.nombre;
        }
    }
}

TEST(Instalacion, SeCreaUnaVezYSeConserva) {
    Preferencias::almacen().remove("zentu.instalacion");
    const QString primera = API::instalacion();
    EXPECT_EQ(primera.size(), 40);
    EXPECT_TRUE(QRegularExpression("^mac-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")
                    .match(primera)
                    .hasMatch())
        << primera.toStdString();
    EXPECT_EQ(API::instalacion(), primera);
    EXPECT_EQ(Preferencias::almacen().value("zentu.instalacion").toString(), primera);
}

TEST(NombreDelDispositivo, EquipoSistemaYCorte) {
    EXPECT_EQ(API::nombreDeDispositivo(QString("Estudio"), "Debian 12"), "Estudio · Debian 12");
    EXPECT_EQ(API::nombreDeDispositivo(std::nullopt, "Debian 12"), "Equipo · Debian 12");
    EXPECT_EQ(API::nombreDeDispositivo(QString(""), "Debian 12"), "Equipo · Debian 12");
    // 70 characters of name: exactly 60 remain, without the system.
    const QString largo(70, QLatin1Char('a'));
    EXPECT_EQ(API::nombreDeDispositivo(largo, "Debian 12"), QString(60, QLatin1Char('a')));
    // Characters, not code units: 59 "é" written as e + combining accent, then " · ..." is cut
    // after the space (60 clusters, 119 code units).
    QString acentos;
    for (int i = 0; i < 59; ++i) acentos += QStringLiteral("e\u0301");
    EXPECT_EQ(API::nombreDeDispositivo(acentos, "Debian 12"), acentos + " ");
    // A flag (two code points) is one character and is never split.
    const QString banderas = QString(58, QLatin1Char('x')) + QStringLiteral("\U0001F1F2\U0001F1FD\U0001F1F2\U0001F1FD");
    EXPECT_EQ(API::nombreDeDispositivo(banderas, "Debian 12"), banderas);

    EXPECT_EQ(Equipo::sistemaDe("NAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n"), "Debian 12");
    EXPECT_EQ(Equipo::sistemaDe("NAME=Ubuntu\nVERSION_ID=\"24.04\""), "Ubuntu 24.04");
    EXPECT_EQ(Equipo::sistemaDe("NAME=\"Fedora Linux\"\nVERSION_ID=40"), "Fedora 40");
    EXPECT_EQ(Equipo::sistemaDe("NAME=\"Arch Linux\"\n"), "Arch");
    EXPECT_EQ(Equipo::sistemaDe(""), "Linux");
    const QString deEsteEquipo = API::nombreDelMac();
    EXPECT_TRUE(deEsteEquipo.contains(" · ")) << deEsteEquipo.toStdString();
}

class PruebaCanje : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(servicio.arrancar()); }
    ServicioSimulado servicio;
};

TEST_F(PruebaCanje, CodigoBuenoDaLaCuentaYEnviaLoJusto) {
    const auto codigo = API::leerCodigo(R"({"v":1,"url":")" + servicio.url() + R"(//","codigo":"codigo-bueno"})");
    const Canje r = canjear(codigo.url, codigo.codigo);
    ASSERT_TRUE(r.cuenta) << r.error.toStdString();
    EXPECT_EQ(*r.cuenta, (Cuenta{servicio.url(), "token-nuevo", "dueno@negocio.mx", "Negocio"}));

    const QJsonArray peticiones = servicio.peticiones();
    ASSERT_EQ(peticiones.size(), 1);
    const QJsonObject p = peticiones.first().toObject();
    EXPECT_EQ(p.value("metodo").toString(), "POST");
    EXPECT_EQ(p.value("ruta").toString(), "/api/pairing/canjear");
    const QJsonObject cabeceras = p.value("cabeceras").toObject();
    EXPECT_EQ(cabeceras.value("content-type").toString(), "application/json");
    EXPECT_FALSE(cabeceras.contains("authorization"));
    EXPECT_FALSE(cabeceras.contains("x-zentu-cliente"));
    const QJsonObject cuerpo = cuerpoDe(p);
    EXPECT_EQ(cuerpo.keys(), (QStringList{"codigo", "dispositivo", "instalacion"}));
    EXPECT_EQ(cuerpo.value("codigo").toString(), "codigo-bueno");
    EXPECT_EQ(cuerpo.value("instalacion").toString(), API::instalacion());
    EXPECT_EQ(cuerpo.value("dispositivo").toString(), API::nombreDelMac());

    // The code is used up; a second attempt sends the same installation and is refused.
    const Canje otra = canjear(codigo.url, codigo.codigo);
    EXPECT_FALSE(otra.cuenta);
    EXPECT_EQ(otra.error, "Código vencido o ya usado");
    EXPECT_EQ(cuerpoDe(servicio.peticiones().at(1)).value("instalacion"), cuerpo.value("instalacion"));
}

TEST_F(PruebaCanje, RespuestasDelServicio) {
    struct Caso {
        const char* nombre;
        QJsonObject respuesta;
        std::optional<Cuenta> cuenta;
        QString error;
    };
    const QString u = servicio.url();
    const std::vector<Caso> casos = {
        {"200 sin propietario ni nombre", {{"estado", 200}, {"cuerpo", QJsonObject{{"token", "t"}}}}, Cuenta{u, "t", "", ""}, {}},
        {"200 con tipos equivocados", {{"estado", 200}, {"cuerpo", QJsonObject{{"token", "t"}, {"propietario", 3}, {"nombre", QJsonArray{}}}}},
         Cuenta{u, "t", "", ""}, {}},
        {"200 con token numérico", {{"estado", 200}, {"cuerpo", QJsonObject{{"token", 5}}}}, std::nullopt, kNoSePudo},
        {"201 con token", {{"estado", 201}, {"cuerpo", QJsonObject{{"token", "t"}}}}, std::nullopt, kNoSePudo},
        {"201 con token y error", {{"estado", 201}, {"cuerpo", QJsonObject{{"token", "t"}, {"error", "Ya no"}}}}, std::nullopt, "Ya no"},
        {"410 con error", {{"estado", 410}, {"cuerpo", QJsonObject{{"error", "El código venció"}}}}, std::nullopt, "El código venció"},
        {"400 sin error", {{"estado", 400}, {"cuerpo", QJsonObject{{"message", "no"}}}}, std::nullopt, kNoSePudo},
        {"401 sin trato especial", {{"estado", 401}, {"cuerpo", QJsonObject{{"error", "Código ajeno"}}}}, std::nullopt, "Código ajeno"},
        {"200 que no es JSON", {{"estado", 200}, {"texto", "<html>token</html>"}}, std::nullopt, kNoSePudo},
        {"500 vacío", {{"estado", 500}, {"texto", ""}}, std::nullopt, kNoSePudo},
    };
    for (const auto& c : casos) {
        servicio.responder("POST", "/api/pairing/canjear", c.respuesta);
        const Canje r = canjear(u, "x");
        EXPECT_EQ(r.cuenta, c.cuenta) << c.nombre;
        if (!c.cuenta) {
            EXPECT_TRUE(r.esZentu) << c.nombre;
            EXPECT_EQ(r.error, c.error) << c.nombre;
        }
    }
}

TEST_F(PruebaCanje, FallosDeRedYDireccionesMalas) {
    // Nothing arrives in time: the network's own error, not the service's.
    servicio.responder("POST", "/api/pairing/canjear",
                       QJsonObject{{"estado", 200}, {"cuerpo", QJsonObject{{"token", "t"}}}, {"retraso", 3000}});
    const Canje tarde = canjear(servicio.url(), "x", 0.3);
    EXPECT_FALSE(tarde.cuenta);
    EXPECT_FALSE(tarde.esZentu);
    EXPECT_FALSE(tarde.error.isEmpty());

    // Nobody listening.
    const Canje nadie = canjear("http://127.0.0.1:1", "x");
    EXPECT_FALSE(nadie.cuenta);
    EXPECT_FALSE(nadie.esZentu);

    // Addresses that are not the web's are refused before anything is sent.
    servicio.olvidarPeticiones();
    for (const QString& url : {QString(""), QString("ftp://127.0.0.1"), QString("file:///etc"), QString("zentu.mx"),
                               QString("http://"), QString("http://exa mple.com")}) {
        const Canje r = canjear(url, "x");
        EXPECT_FALSE(r.cuenta) << url.toStdString();
        EXPECT_TRUE(r.esZentu) << url.toStdString();
        EXPECT_EQ(r.error, "La dirección de Zentu no es válida.") << url.toStdString();
    }
    EXPECT_EQ(servicio.peticiones().size(), 0);
}
