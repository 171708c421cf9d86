// The realtime probe: its outputs and exit statuses against both stand-ins.
#include "zentu/voz/ProbarWS.h"

#include "comun/Ayudas.h"
#include "comun/RealtimeSimulado.h"
#include "comun/ServicioSimulado.h"

#include <QJsonDocument>
#include <gtest/gtest.h>
#include <functional>

namespace {

class Probe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(servicio.arrancar());
        ASSERT_TRUE(realtime.arrancar());
        qputenv("ZENTU_REALTIME", realtime.base().toUtf8());
        cuenta = Cuenta{servicio.url(), "token-bueno", "", ""};
    }

    int correr(const std::optional<Cuenta>& c) {
        salida.clear();
        errores.clear();
        QTextStream s(&salida), e(&errores);
        const int r = ProbarWS::correr(c, s, e);
        s.flush();
        e.flush();
        return r;
    }

    QJsonArray peticiones(const QString& ruta) {
        QJsonArray r;
        for (const auto& p : servicio.peticiones())
            if (p.toObject().value("ruta").toString() == ruta) r.append(p);
        return r;
    }

    ServicioSimulado servicio;
    RealtimeSimulado realtime;
    Cuenta cuenta;
    QString salida, errores;
};

}  // namespace

TEST_F(Probe, SalidasYEstados) {
    const QString sesion =
        R"({"type":"session.created","session":{"model":"gpt-realtime","audio":{"output":{"voice":"marin"}}}})";
    struct Caso {
        const char* nombre;
        std::function<void()> preparar;
        bool conCuenta;
        int estado;
        QString salida;   // exact, or a prefix when it ends in "…"
        QString errores;
        int informes;     // usage reports sent
    };
    const Caso casos[] = {
        {"sin cuenta", [] {}, false, 1, "SIN CUENTA\n", "", 0},
        {"token rechazado", [this] { servicio.responder("GET", "/api/v1/llamada/realtime/token", 401, QJsonObject{}); }, true, 1,
         "FALLO Tu enlace con Zentu venció. Vuelve a escanear el código del panel.\n", "", 0},
        {"sin token", [this] { servicio.responder("GET", "/api/v1/llamada/realtime/token", 200, QJsonObject{{"modelo", "m"}}); },
         true, 1, "SIN TOKEN\n", "", 0},
        {"el socket falla", [this] { realtime.guion(QJsonObject{{"rechazar", 403}}); }, true, 1, "FALLO …", "", 0},
        {"sano con id", [&] { realtime.guion(QJsonObject{{"alConectar", QJsonArray{sesion}}}); }, true, 0, "",
         "EVENTO session.created · modelo=gpt-realtime · audio={\"output\":{\"voice\":\"marin\"}}\n", 1},
        {"sano sin id",
         [&] {
             servicio.responder("GET", "/api/v1/llamada/realtime/token", 200, QJsonObject{{"token", "t"}, {"modelo", "m"}});
             realtime.guion(QJsonObject{{"alConectar", QJsonArray{sesion}}});
         },
         true, 0, "", "EVENTO session.created · modelo=gpt-realtime · audio={\"output\":{\"voice\":\"marin\"}}\n", 0},
        {"el informe falla",
         [&] {
             servicio.responder("POST", "/api/v1/llamada/realtime/uso", 500, QJsonObject{});
             realtime.guion(QJsonObject{{"alConectar", QJsonArray{sesion}}});
         },
         true, 0, "", "EVENTO session.created · modelo=gpt-realtime · audio={\"output\":{\"voice\":\"marin\"}}\n", 1},
        {"primer evento de error",
         [this] { realtime.guion(QJsonObject{{"alConectar", QJsonArray{R"({"type":"error","error":{"code":"x"}})"}}}); }, true, 0, "",
         "EVENTO error · modelo=- · audio=-\n{\"type\":\"error\",\"error\":{\"code\":\"x\"}}\n", 1},
        {"ilegible", [this] { realtime.guion(QJsonObject{{"alConectar", QJsonArray{"[1,2]"}}}); }, true, 0, "", "", 1},
        {"sin tipo",
         [this] {
             realtime.guion(QJsonObject{{"alConectar", QJsonArray{R"({"session":{"model":5,"audio":{"x":")" + QString(400, 'a') + "\"}}}"}}});
         },
         true, 0, "", "EVENTO ? · modelo=5 · audio=" + (QStringLiteral("{\"x\":\"") + QString(400, 'a')).left(300) + "\n", 1},
        {"emoji al cortar",  // 300 characters as a person counts them: an emoji is one, and whole
         [this] {
             realtime.guion(QJsonObject{{"alConectar", QJsonArray{R"({"type":"t","session":{"audio":{"x":")" +
                                                                  QString(290, 'a') + QString::fromUcs4(U"\U0001F600").repeated(20) + "\"}}}"}}});
         },
         true, 0, "", "", 1},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        servicio.olvidarPeticiones();
        realtime.guion(QJsonObject{});
        c.preparar();
        const int estado = correr(c.conCuenta ? std::optional<Cuenta>(cuenta) : std::nullopt);
        EXPECT_EQ(estado, c.estado);
        if (c.salida.endsWith(u'…')) {
            EXPECT_TRUE(salida.startsWith(c.salida.chopped(1))) << salida.toStdString();
            EXPECT_GT(salida.size(), c.salida.size());
        } else {
            EXPECT_EQ(salida, c.salida);
        }
        if (QString(c.nombre) == "emoji al cortar") {
            // {"x":" is 6 characters, then 290 letters and 4 whole emoji: 300 in all.
            const QString audio = errores.section(QStringLiteral("audio="), 1).chopped(1);
            EXPECT_EQ(audio, "{\"x\":\"" + QString(290, 'a') + QString::fromUcs4(U"\U0001F600\U0001F600\U0001F600\U0001F600"));
        } else {
            EXPECT_EQ(errores, c.errores);
        }
        const auto informes = peticiones("/api/v1/llamada/realtime/uso");
        EXPECT_EQ(informes.size(), c.informes);
        if (!informes.isEmpty()) {
            EXPECT_EQ(QJsonDocument::fromJson(informes[0].toObject().value("cuerpo").toString().toUtf8()).object(),
                      (QJsonObject{{"llamadaId", "llamada-1"}, {"segundos", 0}, {"uso", QJsonObject{}}}));
        }
        if (!c.conCuenta) {
            EXPECT_TRUE(servicio.peticiones().isEmpty());
        }
        const auto token = peticiones("/api/v1/llamada/realtime/token");
        if (!token.isEmpty()) {
            EXPECT_EQ(token[0].toObject().value("consulta").toString(), "");
        }
    }
}

TEST_F(Probe, NoMandaNadaYCierraNormal) {
    ASSERT_EQ(correr(cuenta), 0);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !realtime.conexiones()[0].toObject().value("abierta").toBool(); }));
    const QJsonObject cx = realtime.conexiones()[0].toObject();
    EXPECT_EQ(cx.value("codigo").toInt(), 1000);
    EXPECT_EQ(cx.value("url").toString(), "/v1/realtime?model=gpt-realtime");
    EXPECT_EQ(cx.value("autorizacion").toString(), "Bearer token-realtime");
    EXPECT_TRUE(realtime.recibidos().isEmpty());
}
