#include "zentu/escritorio/AlimentaWidgets.h"

#include "comun/Ayudas.h"
#include "comun/ServicioSimulado.h"
#include "plataforma/RecargaWidgets.h"
#include "plataforma/Registro.h"
#include "plataforma/Reloj.h"

#include <QFile>
#include <QJsonDocument>
#include <gtest/gtest.h>
#include <memory>

using pruebas::esperar;
using pruebas::esperarHasta;
using pruebas::girar;

namespace {

QJsonObject obj(const char* json) { return QJsonDocument::fromJson(json).object(); }
QJsonArray arr(const char* json) { return QJsonDocument::fromJson(json).array(); }

QByteArray leerArchivo() {
    QFile f(*Instantanea::archivo());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The feeder on a live channel to the stand-in service, in virtual time; the widget host's
// redraw requests are counted as they arrive on the session bus.
class Alimentador : public ::testing::Test {
protected:
    void SetUp() override {
        QFile::remove(*Instantanea::archivo());
        Registro::observar([this](const QString& l) {
            if (l.startsWith("[widgets]")) lineas << l;
        });
        ASSERT_TRUE(RecargaWidgets::escuchar(&oyente, [this] { ++recargas; }));
        ASSERT_TRUE(servicio.arrancar());
        canal = std::make_unique<CanalEnVivo>(cuenta(), reloj);
    }
    void TearDown() override { Registro::observar({}); }
    Cuenta cuenta() const { return Cuenta{servicio.url(), "token-bueno", "d@n.mx", "N"}; }
    void crear() { feeder = std::make_unique<AlimentaWidgets>(cuenta(), *canal, reloj); }

    QStringList rutasPedidas() {
        QStringList r;
        for (const auto& p : servicio.peticiones()) {
            const QString ruta = p.toObject().value("ruta").toString();
            if (ruta != "/api/dudas/canal") r << p.toObject().value("metodo").toString() + " " + ruta;
        }
        return r;
    }
    int guardados() const { return static_cast<int>(lineas.filter("[widgets] foto: ").size()); }
    // The reloads requested so far, once the bus has delivered what was sent.
    int recargasTras() {
        girar(250);
        return recargas;
    }
    void pulso(const char* json) { servicio.responder("GET", "/api/pulso", 200, obj(json)); }

    QStringList lineas;
    QObject oyente;
    int recargas = 0;
    RelojVirtual reloj;
    ServicioSimulado servicio;
    std::unique_ptr<CanalEnVivo> canal;
    std::unique_ptr<AlimentaWidgets> feeder;
};

}  // namespace

TEST_F(Alimentador, AlCrearseGuardaLaFotoEnlazadaSinPedirNada) {
    Instantanea previa = Instantanea::vacia();
    previa.negocio = "Café Tolmira";
    previa.permisos = 4;
    previa.actualizado = QDateTime::fromSecsSinceEpoch(1'700'000'000, Qt::UTC);
    previa.guardar();
    crear();
    EXPECT_TRUE(feeder->foto().enlazada);
    EXPECT_EQ(feeder->foto().negocio, "Café Tolmira");
    EXPECT_EQ(lineas, QStringList{"[widgets] foto: 0 pendientes · 0 dudas · créditos - · día -"});
    const auto escrita = Instantanea::decodificar(leerArchivo());
    ASSERT_TRUE(escrita);
    EXPECT_TRUE(escrita->enlazada);
    EXPECT_EQ(escrita->permisos, 4);
    EXPECT_EQ(escrita->actualizado, reloj.ahora());
    girar(300);
    EXPECT_TRUE(rutasPedidas().isEmpty());
}

TEST_F(Alimentador, RelojesYConexionPidenPulsoYAgentes) {
    crear();
    reloj.avanzar(299);
    girar(200);
    EXPECT_TRUE(rutasPedidas().isEmpty());
    reloj.avanzar(1);
    ASSERT_TRUE(esperarHasta([&] { return rutasPedidas() == QStringList{"GET /api/agentes"}; }));
    reloj.avanzar(600);  // 900 s: the third agents tick and the first pulse
    ASSERT_TRUE(esperarHasta([&] { return rutasPedidas().size() == 4; }));
    EXPECT_EQ(rutasPedidas().count("GET /api/agentes"), 3);
    EXPECT_EQ(rutasPedidas().count("GET /api/pulso"), 1);

    // Every connection asks for the pulse, and only when it has answered, for the agents.
    servicio.olvidarPeticiones();
    servicio.responder("GET", "/api/pulso", QJsonObject{{"estado", 200}, {"cuerpo", obj("{}")}, {"retraso", 300}});
    canal->conectar();
    ASSERT_TRUE(esperarHasta([&] { return !rutasPedidas().isEmpty(); }));
    EXPECT_EQ(rutasPedidas(), QStringList{"GET /api/pulso"});  // the agents wait for the pulse's reply
    ASSERT_TRUE(esperarHasta([&] { return rutasPedidas().size() == 2; }));
    EXPECT_EQ(rutasPedidas(), (QStringList{"GET /api/pulso", "GET /api/agentes"}));
}

TEST_F(Alimentador, LasDudasDelStoreYCuandoPideElPulso) {
    crear();
    QList<QJsonObject> dudas;
    for (int i = 1; i <= 25; ++i) {
        QJsonObject d{{"id", i}, {"agent_name", "ventas_del_norte"}, {"question", QString("¿%1?").arg(i)},
                      {"created_at", "2026-03-01T10:00:00.250Z"}};
        if (i == 3) d.remove("id");
        if (i == 4) d["created_at"] = "2026-03-01T08:30:15-05:00";
        if (i == 5) d.remove("created_at");
        if (i == 6) d.remove("agent_name");
        dudas << d;
    }
    // Before any pulse was applied every update asks for it (here it keeps failing).
    feeder->pendientes(31, dudas, 6);
    const auto& f = feeder->foto();
    ASSERT_EQ(f.dudas.size(), 19u);
    EXPECT_EQ(f.totalPendientes, 31);
    EXPECT_EQ(f.permisos, 6);
    EXPECT_EQ(f.dudas[0].agente, "ventas del norte");
    EXPECT_EQ(f.dudas[0].fecha, QDateTime(QDate(2026, 3, 1), QTime(10, 0, 0, 250), Qt::UTC));
    EXPECT_EQ(f.dudas[2].id, 4);
    EXPECT_EQ(f.dudas[2].fecha, QDateTime(QDate(2026, 3, 1), QTime(13, 30, 15), Qt::UTC));
    EXPECT_EQ(f.dudas[3].fecha, reloj.ahora());
    EXPECT_EQ(f.dudas[4].agente, "Agente");
    EXPECT_EQ(f.dudas.back().id, 20);
    EXPECT_TRUE(lineas.contains("[widgets] foto: 31 pendientes · 19 dudas · créditos - · día -"));
    ASSERT_TRUE(esperarHasta([&] { return rutasPedidas().count("GET /api/pulso") == 1; }));
    feeder->pendientes(1, {}, 0);
    ASSERT_TRUE(esperarHasta([&] { return rutasPedidas().count("GET /api/pulso") == 2; }));

    // Once a pulse is applied, only an update more than 60 s later asks again.
    pulso(R"({"hoy":{"conversaciones":7}})");
    esperar([](AlimentaWidgets* a) -> QCoro::Task<bool> {
        co_await a->pedirPulso();
        co_return true;
    }(feeder.get()));
    ASSERT_EQ(feeder->ultimoPulso(), reloj.ahora());
    servicio.olvidarPeticiones();
    reloj.avanzar(60);
    feeder->pendientes(1, {}, 0);
    girar(300);
    EXPECT_TRUE(rutasPedidas().isEmpty());
    reloj.avanzar(1);
    feeder->pendientes(1, {}, 0);
    ASSERT_TRUE(esperarHasta([&] { return rutasPedidas() == QStringList{"GET /api/pulso"}; }));
}

// A date whose offset carries it out of the years the snapshot holds counts as unreadable: the
// question keeps the current time and the snapshot is still written, with every other question.
TEST_F(Alimentador, UnaFechaFueraDeLosAniosNoDejaLaFotoSinEscribir) {
    crear();
    const char* fechas[] = {"0001-01-01T00:00:00+00:01", "9999-12-31T23:59:59.900-00:01", "2026-03-01T10:00:00Z"};
    QList<QJsonObject> dudas;
    for (int i = 0; i < 3; ++i) dudas << QJsonObject{{"id", i + 1}, {"question", "¿Sí?"}, {"created_at", fechas[i]}};
    for (const char* f : fechas) EXPECT_EQ(AlimentaWidgets::leerFecha(f).has_value(), f == fechas[2]) << f;

    reloj.avanzar(5);
    feeder->pendientes(3, dudas, 0);
    EXPECT_TRUE(lineas.filter("sin contenedor").isEmpty()) << lineas.join('\n').toStdString();
    const auto escrita = Instantanea::decodificar(leerArchivo());
    ASSERT_TRUE(escrita);
    ASSERT_EQ(escrita->dudas.size(), 3u);
    EXPECT_EQ(escrita->dudas[0].fecha, QDateTime::fromSecsSinceEpoch(reloj.ahora().toSecsSinceEpoch(), Qt::UTC));
    EXPECT_EQ(escrita->dudas[1].fecha, escrita->dudas[0].fecha);
    EXPECT_EQ(escrita->dudas[2].fecha, QDateTime(QDate(2026, 3, 1), QTime(10, 0), Qt::UTC));
    EXPECT_EQ(escrita->totalPendientes, 3);
}

TEST_F(Alimentador, LosCreditosLleganPorElCanal) {
    crear();
    canal->conectar();
    ASSERT_TRUE(esperarHasta([&] { return canal->listo(); }, 10000));
    girar(300);
    lineas.clear();
    servicio.emitir("dashboard:patch", arr(R"([{"inbox":1}])"));
    servicio.emitir("dashboard:patch", arr(R"([{"creditos":5}])"));
    girar(300);
    EXPECT_TRUE(lineas.isEmpty());

    servicio.emitir("dashboard:patch", arr(R"([{"creditos":{"usados":10}}])"));
    ASSERT_TRUE(esperarHasta([&] { return !lineas.isEmpty(); }));
    EXPECT_EQ(lineas.back(), "[widgets] foto: 0 pendientes · 0 dudas · créditos - · día -");
    ASSERT_TRUE(feeder->foto().creditos);
    EXPECT_EQ(feeder->foto().creditos->usados, 10);
    EXPECT_FALSE(feeder->foto().creditos->cupo);
    EXPECT_EQ(feeder->foto().creditos->porDia, std::vector<Instantanea::Creditos::Dia>{});
    const QJsonObject escrito = QJsonDocument::fromJson(leerArchivo()).object().value("creditos").toObject();
    EXPECT_EQ(escrito, obj(R"({"usados":10,"porDia":[]})"));

    // New figures replace the old ones whole.
    servicio.emitir("dashboard:patch",
                    arr(R"([{"creditos":{"usados":3,"cupo":50,"restantes":47,"porDia":[{"dia":"2026-03-01"},{"creditos":2}]}}])"));
    ASSERT_TRUE(esperarHasta([&] { return feeder->foto().creditos->usados == 3; }));
    EXPECT_EQ(lineas.back(), "[widgets] foto: 0 pendientes · 0 dudas · créditos 47 · día -");
    EXPECT_EQ(*feeder->foto().creditos->porDia,
              (std::vector<Instantanea::Creditos::Dia>{{"2026-03-01", 0}, {"", 2}}));
}

TEST_F(Alimentador, ElPulsoLlenaElDia) {
    crear();
    QJsonArray actividad;
    for (int i = 0; i < 12; ++i)
        actividad.append(QJsonObject{{"texto", QString("hecho %1").arg(i)}, {"cuando", "2026-03-01T10:00:00Z"}});
    actividad[1] = QJsonObject{{"texto", "sin quien"}, {"agente", 5}};
    QJsonObject r{{"ayer", QJsonObject{{"conversaciones", 9}}},
                  {"semana", arr(R"([{"dia":"L","n":3},{"n":4},{"dia":"X"}])")},
                  {"actividad", actividad}};
    servicio.responder("GET", "/api/pulso", 200, r);
    esperar([](AlimentaWidgets* a) -> QCoro::Task<bool> {
        co_await a->pedirPulso();
        co_return true;
    }(feeder.get()));
    ASSERT_TRUE(feeder->foto().dia);
    const auto& d = *feeder->foto().dia;
    EXPECT_EQ(d.conversacionesHoy, 0);
    EXPECT_EQ(d.mensajesHoy, 0);
    EXPECT_EQ(d.conversacionesAyer, 9);
    EXPECT_FALSE(d.solas);
    EXPECT_EQ(d.semana, (std::vector<Instantanea::Dia::Barra>{{"L", 3}, {"", 4}, {"X", 0}}));
    ASSERT_EQ(d.actividad.size(), 8u);
    EXPECT_EQ(d.actividad[1].agente, "Zentu");
    EXPECT_EQ(d.actividad[1].cuando, reloj.ahora());
    EXPECT_EQ(lineas.back(), "[widgets] foto: 0 pendientes · 0 dudas · créditos - · día 0 conv");

    // A failed pulse changes nothing.
    servicio.responder("GET", "/api/pulso", 500, obj("{}"));
    const int antes = guardados();
    reloj.avanzar(5);
    esperar([](AlimentaWidgets* a) -> QCoro::Task<bool> {
        co_await a->pedirPulso();
        co_return true;
    }(feeder.get()));
    EXPECT_EQ(guardados(), antes);
    EXPECT_EQ(feeder->ultimoPulso(), reloj.ahora().addSecs(-5));
}

// A 200 reply that holds no readable pulse keeps the figures the owner had, as a failed request
// does; a reply that does carry the day, even with zeros, is taken.
TEST_F(Alimentador, UnPulsoIlegibleConservaLasCifras) {
    crear();
    pulso(R"({"hoy":{"conversaciones":7,"mensajes":40},"solas":80})");
    const auto pedir = [&] {
        esperar([](AlimentaWidgets* a) -> QCoro::Task<bool> {
            co_await a->pedirPulso();
            co_return true;
        }(feeder.get()));
    };
    pedir();
    ASSERT_EQ(feeder->foto().dia->conversacionesHoy, 7);
    const QDateTime aplicado = feeder->ultimoPulso();

    const struct {
        const char* caso;
        QJsonObject respuesta;
    } hostiles[] = {
        {"no es JSON", {{"estado", 200}, {"texto", "<html>502 Bad Gateway</html>"}}},
        {"JSON cortado", {{"estado", 200}, {"texto", R"({"hoy":{"conversaciones":)"}}},
        {"cuerpo vacío", {{"estado", 200}, {"texto", ""}}},
        {"una lista", {{"estado", 200}, {"cuerpo", arr("[1,2]")}}},
        {"objeto vacío", {{"estado", 200}, {"cuerpo", obj("{}")}}},
        {"otras claves", {{"estado", 200}, {"cuerpo", obj(R"({"ok":true,"error":null})")}}},
        {"campos de otro tipo", {{"estado", 200}, {"cuerpo", obj(R"({"hoy":"7","semana":{},"solas":"80"})")}}},
    };
    for (const auto& h : hostiles) {
        SCOPED_TRACE(h.caso);
        servicio.responder("GET", "/api/pulso", h.respuesta);
        const int antes = guardados();
        reloj.avanzar(1);
        pedir();
        EXPECT_EQ(guardados(), antes);
        EXPECT_EQ(feeder->ultimoPulso(), aplicado);
        ASSERT_TRUE(feeder->foto().dia);
        EXPECT_EQ(feeder->foto().dia->conversacionesHoy, 7);
        EXPECT_EQ(feeder->foto().dia->mensajesHoy, 40);
        EXPECT_EQ(feeder->foto().dia->solas, 80);
    }
    // The file the widgets read still shows the day.
    EXPECT_EQ(Instantanea::leer().dia->conversacionesHoy, 7);

    pulso(R"({"hoy":{"conversaciones":0}})");
    pedir();
    EXPECT_EQ(feeder->foto().dia->conversacionesHoy, 0);
    EXPECT_EQ(feeder->ultimoPulso(), reloj.ahora());
}

// Whatever spoils the file while the account is paired (cut short, overwritten, deleted), the
// feeder writes its snapshot again at once: the widgets never read "not linked" for long.
TEST_F(Alimentador, UnArchivoIlegibleSeEscribeDeNuevoEnSeguida) {
    crear();
    pulso(R"({"hoy":{"conversaciones":7}})");
    esperar([](AlimentaWidgets* a) -> QCoro::Task<bool> {
        co_await a->pedirPulso();
        co_return true;
    }(feeder.get()));
    const QString ruta = *Instantanea::archivo();
    const struct {
        const char* caso;
        std::optional<QByteArray> bytes;  // none: deleted
    } casos[] = {
        {"vacío", QByteArray()},
        {"cortado", QByteArray(R"({"enlazada":true,"negocio":"N","totalPend)")},
        {"otra cosa", QByteArray("<html></html>")},
        {"le falta todo", QByteArray(R"({"enlazada":true})")},
        {"borrado", std::nullopt},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.caso);
        lineas.clear();
        if (c.bytes) {
            QFile f(ruta);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(*c.bytes);
        } else {
            ASSERT_TRUE(QFile::remove(ruta));
        }
        ASSERT_TRUE(esperarHasta([&] {
            const auto leida = Instantanea::decodificar(leerArchivo());
            return leida && leida->enlazada && leida->dia && leida->dia->conversacionesHoy == 7;
        }));
        EXPECT_TRUE(lineas.contains("[widgets] la foto del archivo no se podía leer: se escribe de nuevo"));
    }
    // Its own writes are not taken for damage.
    lineas.clear();
    feeder->pendientes(2, {}, 0);
    girar(300);
    EXPECT_FALSE(lineas.join("\n").contains("no se podía leer"));
}

TEST_F(Alimentador, LosAgentes) {
    crear();
    std::vector<std::vector<Instantanea::Agente>> avisados;
    feeder->alCambiarAgentes = [&](const std::vector<Instantanea::Agente>& a) { avisados.push_back(a); };
    auto pedir = [&] {
        esperar([](AlimentaWidgets* a) -> QCoro::Task<bool> {
            co_await a->pedirAgentes();
            co_return true;
        }(feeder.get()));
    };
    servicio.responder("GET", "/api/agentes", 200,
                       obj(R"({"agentes":[{"id":2,"name":"Ventas","categoria":"ventas","is_active":true,"conversaciones":4},
                                          {"name":"sin id"},
                                          {"id":1,"is_coordinator":true,"is_active":1}]})"));
    pedir();
    ASSERT_EQ(avisados.size(), 1u);
    EXPECT_EQ(avisados[0], (std::vector<Instantanea::Agente>{{2, "Ventas", "ventas", true, 4, false},
                                                             {1, "Agente", "", false, 0, true}}));
    EXPECT_EQ(*feeder->foto().agentes, avisados[0]);

    servicio.responder("GET", "/api/agentes", 200, obj(R"({"lista":[]})"));
    pedir();
    EXPECT_EQ(avisados.size(), 1u);
    EXPECT_EQ(feeder->foto().agentes->size(), 2u);

    servicio.responder("GET", "/api/agentes", 200, obj(R"({"agentes":[]})"));
    pedir();
    ASSERT_EQ(avisados.size(), 2u);
    EXPECT_TRUE(avisados[1].empty());
    EXPECT_TRUE(feeder->foto().agentes->empty());
}

TEST_F(Alimentador, CambiarUnAgente) {
    crear();
    struct Caso {
        bool activo;
        int estado;
        const char* respuesta;
        std::optional<QString> esperado;
        bool refresca;
    };
    const std::vector<Caso> casos{
        {false, 200, R"({"agente":{"is_active":false}})", std::nullopt, true},
        {true, 200, R"({"agente":{"is_active":false}})", "No quedó como se pidió.", true},
        {true, 200, R"({"ok":true})", "No quedó como se pidió.", true},
        {true, 403, "{}", "Solo el dueño de la cuenta puede hablar con Zentu.", false},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.respuesta);
        servicio.olvidarPeticiones();
        servicio.responder("PATCH", "/api/agentes/12", c.estado, obj(c.respuesta));
        servicio.responder("GET", "/api/agentes", 200, obj(R"({"agentes":[]})"));
        EXPECT_EQ(esperar(feeder->cambiarAgente(12, c.activo)), c.esperado);
        const QStringList rutas = rutasPedidas();
        EXPECT_EQ(rutas.contains("GET /api/agentes"), c.refresca);
        const auto pedidas = servicio.peticiones();
        EXPECT_EQ(pedidas.at(0).toObject().value("cuerpo").toString(),
                  c.activo ? R"({"activo":true})" : R"({"activo":false})");
        servicio.control("DELETE", "respuestas");
    }
}

TEST_F(Alimentador, UnaRafagaDeGuardadosRecargaUnaVezTresSegundosDespues) {
    crear();
    reloj.avanzar(3);
    ASSERT_EQ(recargasTras(), 1);  // the save at creation
    const int antes = guardados();
    for (int i = 0; i < 5; ++i) {
        feeder->pendientes(i, {}, 0);
        reloj.avanzar(0.5);
    }
    EXPECT_EQ(guardados(), antes + 5);
    reloj.avanzar(2.4);  // 2.9 s after the fifth
    EXPECT_EQ(recargasTras(), 1);
    reloj.avanzar(0.2);
    ASSERT_TRUE(esperarHasta([&] { return recargas == 2; }));
    EXPECT_EQ(recargasTras(), 2);
    const auto escrita = Instantanea::decodificar(leerArchivo());
    ASSERT_TRUE(escrita);
    EXPECT_EQ(escrita->totalPendientes, 4);
}

TEST_F(Alimentador, BorrarEscribeLaFotoVaciaYRecargaEnSeguida) {
    crear();
    feeder->pendientes(3, {}, 1);
    feeder.reset();  // a pending reload dies with the feeder
    lineas.clear();
    AlimentaWidgets::borrar();
    ASSERT_TRUE(esperarHasta([&] { return recargas == 1; }));
    EXPECT_EQ(recargasTras(), 1);
    const auto escrita = Instantanea::decodificar(leerArchivo());
    ASSERT_TRUE(escrita);
    EXPECT_EQ(*escrita, Instantanea::vacia());
    EXPECT_TRUE(lineas.isEmpty());
}

TEST_F(Alimentador, LaFotoEscritaSeLeeIgualConElLectorEstricto) {
    crear();
    servicio.responder("GET", "/api/pulso", 200,
                       obj(R"({"hoy":{"conversaciones":18,"mensajes":142},"solas":83,
                               "actividad":[{"texto":"Confirmó","agente":"Reservas","cuando":"2026-03-01T10:00:00.999+01:00"}]})"));
    canal->conectar();
    ASSERT_TRUE(esperarHasta([&] { return feeder->foto().dia.has_value(); }, 10000));
    servicio.emitir("dashboard:patch", arr(R"([{"creditos":{"usados":1}}])"));
    ASSERT_TRUE(esperarHasta([&] { return feeder->foto().creditos.has_value(); }));
    feeder->pendientes(2, {obj(R"({"id":1,"question":"¿Sí?","created_at":"2026-03-01T10:00:00.5Z"})")}, 1);
    const QByteArray bytes = leerArchivo();
    EXPECT_FALSE(bytes.contains('\n'));
    EXPECT_TRUE(bytes.contains(R"("cuando":"2026-03-01T09:00:00Z")"));
    EXPECT_TRUE(bytes.contains(R"("fecha":"2026-03-01T10:00:00Z")"));
    EXPECT_FALSE(bytes.contains("\"agentes\""));
    EXPECT_FALSE(bytes.contains("null"));
    QString error;
    const auto leida = Instantanea::decodificar(bytes, &error);
    ASSERT_TRUE(leida) << error.toStdString();
    Instantanea esperada = feeder->foto();
    esperada.dudas[0].fecha = esperada.dudas[0].fecha.addMSecs(-500);
    esperada.dia->actividad[0].cuando = esperada.dia->actividad[0].cuando.addMSecs(-999);
    EXPECT_EQ(*leida, esperada);
}
