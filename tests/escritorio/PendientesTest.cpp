#include "zentu/escritorio/Pendientes.h"

#include "comun/Ayudas.h"
#include "comun/Demo.h"
#include "comun/ServicioSimulado.h"
#include "comun/ServidorAvisos.h"
#include "plataforma/Escritorio.h"
#include "plataforma/Preferencias.h"
#include "plataforma/Registro.h"
#include "plataforma/Reloj.h"
#include "zentu/conexion/Enlazar.h"
#include "zentu/escritorio/ModeloDudas.h"
#include "zentu/isla/Sonidos.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <limits>
#include <memory>

using pruebas::esperar;
using pruebas::esperarHasta;
using pruebas::girar;

namespace {

QJsonObject obj(const char* json) { return QJsonDocument::fromJson(json).object(); }
QJsonArray arr(const char* json) { return QJsonDocument::fromJson(json).array(); }

class EscritorioFalso : public Escritorio {
public:
    bool abrirUrl(const QUrl& url) override {
        abiertas << url;
        return true;
    }
    QList<QUrl> abiertas;
};

// The store on a live channel to the stand-in service, posting to our own notification server.
class Mesa : public ::testing::Test {
protected:
    void SetUp() override {
        Preferencias::almacen().remove("zentu.avisados");
        Registro::observar([this](const QString& l) { lineas << l; });
        Escritorio::usar(&escritorio);
        ASSERT_TRUE(servicio.arrancar());
        ASSERT_TRUE(servidor->enMarcha());
        avisos = std::make_unique<Notificaciones>(servidor->servicio());
        canal = std::make_unique<CanalEnVivo>(cuenta(), reloj);
    }
    void TearDown() override {
        Registro::observar({});
        Escritorio::usar(nullptr);
    }
    Cuenta cuenta() const { return Cuenta{servicio.url(), "token-bueno", "d@n.mx", "N"}; }

    // Creates the store, connects and waits for the first full load.
    void crear(const char* dudas = R"({"dudas":[]})", const char* permisos = "[]") {
        servicio.responder("GET", "/api/dudas", 200, QJsonDocument::fromJson(dudas).object());
        servicio.responder("GET", "/api/pendientes/permisos", QJsonObject{{"estado", 200}, {"texto", permisos}});
        store = std::make_unique<Pendientes>(cuenta(), *canal, *avisos);
        store->alCambiar = [this](int total, const QList<QJsonObject>& lista, int nPermisos) {
            publicados.push_back({total, static_cast<int>(lista.size()), nPermisos});
        };
        store->alCambiarTotal = [this](int t) { totales << t; };
        store->alSonar = [this](Sonidos::Cual c) { sonidos.push_back(c); };
        store->alAbrirChat = [this] { ++chatsAbiertos; };
        store->alAbrirPermiso = [this](qint64 id) { permisosAbiertos << id; };
        canal->conectar();
        ASSERT_TRUE(esperarHasta([&] { return !store->primeraCarga(); }, 10000));
    }
    void guionPermisos(int estado, const QString& texto) {
        servicio.control("DELETE", "respuestas");
        servicio.responder("GET", "/api/pendientes/permisos", QJsonObject{{"estado", estado}, {"texto", texto}});
    }
    // REST requests to one path, oldest first.
    QList<QJsonObject> peticionesA(const QString& metodo, const QString& ruta) {
        QList<QJsonObject> r;
        for (const auto& p : servicio.peticiones())
            if (p.toObject().value("metodo") == metodo && p.toObject().value("ruta") == ruta) r << p.toObject();
        return r;
    }
    QList<QJsonObject> eventosDe(const QString& nombre) {
        QList<QJsonObject> r;
        for (const auto& e : servicio.eventos())
            if (e.toObject().value("evento").toString() == nombre) r << e.toObject();
        return r;
    }
    // The confirmation texts the owner has been shown, in order.
    QStringList confirmaciones() const {
        QStringList r;
        for (const auto& n : servidor->recibidas())
            if (n.titulo == "Zentu") r << n.cuerpo;
        return r;
    }
    bool esperarConfirmacion(const QString& texto) {
        return esperarHasta([&] { return confirmaciones().contains(texto); }, 10000);
    }
    // Posts one of the desk's notifications and returns the server's id of it.
    uint mostrar(const Notificaciones::Aviso& aviso) {
        const size_t antes = servidor->recibidas().size();
        EXPECT_TRUE(esperar(avisos->publicar(aviso)));
        EXPECT_GT(servidor->recibidas().size(), antes);
        return servidor->recibidas().back().id;
    }

    struct Publicado {
        int total, lista, permisos;
        bool operator==(const Publicado&) const = default;
    };

    QStringList lineas;
    EscritorioFalso escritorio;
    RelojVirtual reloj;
    ServicioSimulado servicio;
    std::unique_ptr<ServidorAvisos> servidor = std::make_unique<ServidorAvisos>();
    std::unique_ptr<Notificaciones> avisos;
    std::unique_ptr<CanalEnVivo> canal;
    std::unique_ptr<Pendientes> store;
    std::vector<Publicado> publicados;
    QList<int> totales;
    std::vector<Sonidos::Cual> sonidos;
    int chatsAbiertos = 0;
    QList<qint64> permisosAbiertos;
};

}  // namespace

// ------------------------------------------------------------------ loads

TEST_F(Mesa, LaPrimeraCargaSoloRecuerdaYLaSiguienteAvisaLoNuevo) {
    crear(R"({"dudas":[{"id":1,"question":"a"},{"id":2,"question":"b"}]})",
          R"([{"id":9,"agent_name":"ventas_norte","destinatario":"Ana","motivo":"Seguimiento","texto":"Hola"}])");
    EXPECT_TRUE(servidor->recibidas().empty());
    ASSERT_FALSE(publicados.empty());
    EXPECT_EQ(publicados.back(), (Publicado{3, 2, 1}));
    EXPECT_EQ(totales.back(), 3);
    EXPECT_TRUE(lineas.contains("[pendientes] 2 dudas + 1 permisos"));
    EXPECT_EQ(store->avisados(), (QStringList{"duda-1", "duda-2", "permiso-9"}));

    // The permission request carries the bearer token and nothing of the REST client's own.
    const auto pedidas = peticionesA("GET", "/api/pendientes/permisos");
    ASSERT_EQ(pedidas.size(), 1);
    const QJsonObject cab = pedidas.at(0).value("cabeceras").toObject();
    EXPECT_EQ(cab.value("authorization").toString(), "Bearer token-bueno");
    EXPECT_FALSE(cab.contains("x-zentu-cliente"));
    EXPECT_FALSE(cab.contains("content-type"));

    // "inbox" present, even null, reloads: the new request is announced once, the old one not.
    guionPermisos(200, R"([{"id":9},{"id":10,"agent_name":"cobros","telefono":"5215512345678","texto":""}])");
    servicio.emitir("dashboard:patch", arr(R"([{"inbox":null}])"));
    ASSERT_TRUE(esperarHasta([&] { return servidor->recibidas().size() == 1; }));
    const auto& n = servidor->recibidas().front();
    EXPECT_EQ(n.titulo, "¿Escribirle a 5215512345678?");
    EXPECT_EQ(n.cuerpo, "cobros pide permiso");
    EXPECT_EQ(n.claves(), (QStringList{"default", "aprobar", "rechazar"}));
    EXPECT_EQ(n.etiqueta("aprobar"), "Aprobar");
    EXPECT_EQ(n.etiqueta("rechazar"), "Rechazar");
    EXPECT_TRUE(lineas.contains("[avisos] permiso 10 notificado"));
    EXPECT_EQ(publicados.back(), (Publicado{4, 2, 2}));

    // Without "inbox" nothing loads.
    const int cargas = static_cast<int>(peticionesA("GET", "/api/pendientes/permisos").size());
    servicio.emitir("dashboard:patch", arr(R"([{"creditos":{"usados":1}}])"));
    girar(300);
    EXPECT_EQ(peticionesA("GET", "/api/pendientes/permisos").size(), cargas);
    EXPECT_EQ(servidor->recibidas().size(), 1u);
}

TEST_F(Mesa, UnaRespuestaDePermisosQueNoSirveNoVaciaLaLista) {
    crear(R"({"dudas":[]})", R"([{"id":1},{"id":2}])");
    ASSERT_EQ(store->permisos.size(), 2);
    struct Caso {
        int estado;
        const char* cuerpo;
    };
    for (const Caso& c : {Caso{201, "[]"}, Caso{204, ""}, Caso{500, "[]"}, Caso{200, "no es json"},
                          Caso{200, R"({"permisos":[]})"}, Caso{200, R"([{"id":3}, 4])"}}) {
        SCOPED_TRACE(std::string(c.cuerpo) + " " + std::to_string(c.estado));
        guionPermisos(c.estado, c.cuerpo);
        const size_t antes = publicados.size();
        const int cargas = static_cast<int>(peticionesA("GET", "/api/pendientes/permisos").size());
        servicio.emitir("dashboard:patch", arr(R"([{"inbox":1}])"));
        ASSERT_TRUE(esperarHasta([&] { return peticionesA("GET", "/api/pendientes/permisos").size() > cargas; }));
        girar(200);
        EXPECT_EQ(store->permisos.size(), 2);
        EXPECT_EQ(publicados.size(), antes);
    }
    // An empty list is a real answer: the requests were settled.
    guionPermisos(200, "[]");
    servicio.emitir("dashboard:patch", arr(R"([{"inbox":1}])"));
    ASSERT_TRUE(esperarHasta([&] { return store->permisos.isEmpty(); }));
    EXPECT_EQ(publicados.back(), (Publicado{0, 0, 0}));
}

TEST_F(Mesa, UnaCargaDeDudasFallidaSigueConLosPermisos) {
    servicio.responder("GET", "/api/dudas", 500, obj(R"({"error":"caído"})"));
    servicio.responder("GET", "/api/pendientes/permisos", QJsonObject{{"estado", 200}, {"texto", R"([{"id":5}])"}});
    store = std::make_unique<Pendientes>(cuenta(), *canal, *avisos);
    store->alCambiar = [this](int t, const QList<QJsonObject>& l, int p) {
        publicados.push_back({t, static_cast<int>(l.size()), p});
    };
    canal->conectar();
    ASSERT_TRUE(esperarHasta([&] { return !store->primeraCarga(); }, 10000));
    EXPECT_EQ(publicados.back(), (Publicado{1, 0, 1}));
    EXPECT_TRUE(store->avisados().contains("permiso-5"));
}

TEST_F(Mesa, DudasCambiaronFijaLaCuentaYLaLista) {
    crear(R"({"dudas":[]})", R"([{"id":1}])");
    struct Caso {
        const char* payload;
        Publicado esperado;
    };
    for (const Caso& c : {
             Caso{R"({"total":5,"dudas":[{"id":1},{"id":2},{"id":3}]})", {6, 3, 1}},
             Caso{R"({"dudas":[{"id":1},{"id":2}]})", {3, 2, 1}},
             Caso{R"({})", {1, 0, 1}},
             Caso{R"({"total":"7","dudas":[{"id":1},"x"]})", {3, 0, 1}},  // a list with a foreign entry
             // A total that is no count is read as a missing one: the list's length counts.
             Caso{R"({"total":-3,"dudas":[{"id":1},{"id":2}]})", {3, 2, 1}},
             Caso{R"({"total":4294967298,"dudas":[{"id":1}]})", {2, 1, 1}},
             Caso{R"({"total":1e300,"dudas":[{"id":1}]})", {2, 1, 1}},
             Caso{R"({"total":2.5})", {1, 0, 1}},
             // The largest count plus one permission stays the largest count.
             Caso{R"({"total":2147483647})", {2147483647, 0, 1}},
         }) {
        SCOPED_TRACE(c.payload);
        const size_t antes = publicados.size();
        servicio.emitir("dudas:cambiaron", QJsonArray{obj(c.payload)});
        ASSERT_TRUE(esperarHasta([&] { return publicados.size() > antes; }));
        EXPECT_EQ(publicados.back(), c.esperado);
    }
    const size_t antes = publicados.size();
    servicio.emitir("dudas:cambiaron", arr(R"([[1,2]])"));  // not an object: ignored
    girar(300);
    EXPECT_EQ(publicados.size(), antes);
    EXPECT_TRUE(servidor->recibidas().empty());  // counts never announce questions
}

TEST_F(Mesa, UnaDudaNuevaSeAnunciaUnaSolaVezTambienTrasReiniciar) {
    crear();
    struct Caso {
        const char* payload;
        bool avisa;
    };
    for (const Caso& c : {
             Caso{R"({"id":1,"agente":"a","pregunta":"p","mostrarVentana":false})", false},
             Caso{R"({"id":2,"agente":"a","pregunta":"p","mostrarVentana":true})", true},
             Caso{R"({"id":3,"agente":"a","pregunta":"p","mostrarVentana":"no"})", true},
             Caso{R"({"id":4,"agente":"a","pregunta":"p"})", true},
             Caso{R"({"agente":"sin id"})", false},
             Caso{R"({"id":2,"agente":"otra vez"})", false},
         }) {
        SCOPED_TRACE(c.payload);
        servidor->olvidar();
        servicio.emitir("consultas:nueva", QJsonArray{obj(c.payload)});
        if (c.avisa) {
            EXPECT_TRUE(esperarHasta([&] { return servidor->recibidas().size() == 1; }));
        } else {
            girar(300);
            EXPECT_TRUE(servidor->recibidas().empty());
        }
    }
    EXPECT_TRUE(lineas.contains("[avisos] duda 2 notificada"));

    // A new store (the next launch) remembers what was announced.
    store.reset();
    servidor->olvidar();
    store = std::make_unique<Pendientes>(cuenta(), *canal, *avisos);
    servicio.emitir("consultas:nueva", arr(R"([{"id":2,"agente":"a"},{"id":9}])"));
    servicio.emitir("consultas:nueva", arr(R"([{"id":5,"agente":"b"}])"));
    ASSERT_TRUE(esperarHasta([&] { return servidor->recibidas().size() == 1; }));
    girar(200);
    EXPECT_EQ(servidor->recibidas().size(), 1u);
    EXPECT_EQ(servidor->recibidas().front().titulo, "b necesita tu decisión");
}

TEST_F(Mesa, LosAvisadosGuardanLosQuinientosMasRecientesEnOrden) {
    QJsonArray muchas;
    for (int i = 1; i <= 600; ++i) muchas.append(QJsonObject{{"id", i}});
    crear(QJsonDocument(QJsonObject{{"dudas", muchas}}).toJson().constData());
    EXPECT_TRUE(servidor->recibidas().empty());
    EXPECT_EQ(store->avisados().size(), 600);
    const QStringList guardados = Preferencias::almacen().value("zentu.avisados").toStringList();
    ASSERT_EQ(guardados.size(), 500);
    EXPECT_EQ(guardados.front(), "duda-101");
    EXPECT_EQ(guardados.back(), "duda-600");
    // The running store still knows the oldest ones.
    servicio.emitir("consultas:nueva", arr(R"([{"id":1}])"));
    girar(300);
    EXPECT_TRUE(servidor->recibidas().empty());
}

TEST_F(Mesa, UnClienteQueQuierePersonaSuenaCadaVezYSeRetiraAlDespejarse) {
    crear();
    servicio.emitir("chats:needs-human", arr(R"([{"phone":"15551234567","reason":"Quiere un reembolso"}])"));
    servicio.emitir("chats:needs-human", arr(R"([{"phone":"15551234567"}])"));
    ASSERT_TRUE(esperarHasta([&] { return servidor->recibidas().size() == 2; }));
    EXPECT_EQ(servidor->visibles().size(), 1u);  // the second replaced the first
    const auto& n = servidor->recibidas().front();
    EXPECT_EQ(n.titulo, "Un cliente quiere hablar con una persona");
    EXPECT_EQ(n.cuerpo, "+1 555 123 4567\nQuiere un reembolso");
    EXPECT_EQ(servidor->recibidas().back().cuerpo,
              "+1 555 123 4567\nEl agente le dijo que alguien del equipo le atiende.");
    EXPECT_EQ(sonidos, (std::vector<Sonidos::Cual>{Sonidos::Cual::timbre, Sonidos::Cual::timbre}));
    EXPECT_EQ(lineas.count("[avisos] cliente esperando a una persona"), 2);

    servicio.emitir("chats:needs-human", arr(R"([{"phone":15551234567}])"));  // no text phone
    servicio.emitir("chats:needs-human", arr(R"([{"phone":"15551234567","cleared":true}])"));
    ASSERT_TRUE(esperarHasta([&] { return servidor->visibles().empty(); }));
    girar(200);
    EXPECT_EQ(servidor->recibidas().size(), 2u);
    EXPECT_EQ(sonidos.size(), 2u);
}

// ------------------------------------------------------------------ texts

TEST(TextosDeAvisos, CadaClaseDiceLoSuyo) {
    const QString largo = QString(200, QChar(u'é'));
    const auto duda = Pendientes::avisoDuda(
        obj(R"({"id":42,"agente":"ventas_norte","pregunta":"¿Le hago descuento?","contexto":"Cliente frecuente"})"));
    ASSERT_TRUE(duda);
    EXPECT_EQ(duda->identificador, "duda-42");
    EXPECT_EQ(duda->titulo, "ventas norte necesita tu decisión");
    EXPECT_EQ(duda->subtitulo, "Cliente frecuente");
    EXPECT_EQ(duda->cuerpo, "¿Le hago descuento?");
    EXPECT_EQ(duda->categoria, "duda");
    EXPECT_EQ(duda->datos, (QMap<QString, QString>{{"tipo", "duda"}, {"id", "42"}}));
    EXPECT_TRUE(duda->sonido.has_value());

    QJsonObject conLargo{{"id", 1}, {"contexto", largo}, {"agente", 3}};
    const auto d2 = Pendientes::avisoDuda(conLargo);
    EXPECT_EQ(d2->subtitulo, QString(80, QChar(u'é')));
    EXPECT_EQ(d2->titulo, "Un agente necesita tu decisión");
    EXPECT_EQ(d2->cuerpo, "");
    EXPECT_EQ(Pendientes::avisoDuda(obj(R"({"id":1,"contexto":""})"))->subtitulo, "");
    EXPECT_FALSE(Pendientes::avisoDuda(obj(R"({"agente":"x"})")));

    struct CasoPermiso {
        const char* json;
        const char* titulo;
        const char* subtitulo;
        const char* cuerpo;
    };
    for (const CasoPermiso& c : {
             CasoPermiso{R"({"id":7,"agent_name":"cobros_mx","destinatario":"Ana","telefono":"55","motivo":"Pago","texto":"Hola"})",
                         "¿Escribirle a Ana?", "cobros mx · Pago", "«Hola»"},
             CasoPermiso{R"({"id":7,"telefono":"5512","motivo":"Seguimiento","texto":""})", "¿Escribirle a 5512?",
                         "Un agente · Seguimiento", "Seguimiento"},
             CasoPermiso{R"({"id":7})", "¿Escribirle a alguien?", "Un agente pide permiso", ""},
         }) {
        SCOPED_TRACE(c.json);
        const auto p = Pendientes::avisoPermiso(obj(c.json));
        ASSERT_TRUE(p);
        EXPECT_EQ(p->identificador, "permiso-7");
        EXPECT_EQ(p->titulo, QString::fromUtf8(c.titulo));
        EXPECT_EQ(p->subtitulo, QString::fromUtf8(c.subtitulo));
        EXPECT_EQ(p->cuerpo, QString::fromUtf8(c.cuerpo));
        EXPECT_EQ(p->datos.value("tipo"), "permiso");
    }

    struct CasoHoras {
        double horas;
        const char* titulo;
    };
    for (const CasoHoras& c : {CasoHoras{23.5, "Esta consulta tiene 24 horas"}, CasoHoras{23.4, "Esta consulta tiene 23 horas"},
                               CasoHoras{30, "Esta consulta tiene 30 horas"}}) {
        const auto a = Pendientes::avisoDecidir("5", c.horas, std::nullopt, "mi respuesta");
        EXPECT_EQ(a.titulo, QString::fromUtf8(c.titulo));
        EXPECT_EQ(a.cuerpo, "¿Le escribimos ahora al cliente con tu respuesta, o solo la guardamos?");
        EXPECT_FALSE(a.sonido.has_value());
        EXPECT_EQ(a.datos, (QMap<QString, QString>{{"tipo", "decidirDuda"}, {"id", "5"}, {"texto", "mi respuesta"}}));
    }
    EXPECT_EQ(Pendientes::avisoDecidir("5", 2, QString(), "x").cuerpo, "");  // an empty hint is still the hint

    const auto c = Pendientes::avisoConfirmacion("Listo");
    EXPECT_EQ(c.titulo, "Zentu");
    EXPECT_TRUE(c.categoria.isEmpty());
    EXPECT_TRUE(c.datos.isEmpty());
    EXPECT_NE(c.identificador, Pendientes::avisoConfirmacion("Listo").identificador);
}

TEST(TextosDeAvisos, LeerEnteroSoloTomaDecimalesLlanos) {
    const std::pair<const char*, std::optional<qint64>> casos[] = {
        {"42", 42},
        {"-7", -7},
        {"+3", 3},
        {"9223372036854775807", std::numeric_limits<qint64>::max()},
        {"42\n", std::nullopt},
        {" 42", std::nullopt},
        {"42 ", std::nullopt},
        {"4 2", std::nullopt},
        {"0x2A", std::nullopt},
        {"4.0", std::nullopt},
        {"\u0664\u0662", std::nullopt},  // Arabic-Indic digits
        {"9223372036854775808", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [texto, esperado] : casos) EXPECT_EQ(Pendientes::leerEntero(QString::fromUtf8(texto)), esperado) << texto;
}

TEST(TextosDeAvisos, TelefonoBonito) {
    const std::vector<std::pair<QString, QString>> casos{
        {"5215512345678@s.whatsapp.net", "5215512345678"},
        {"15551234567", "+1 555 123 4567"},
        {"+15551234567", "+15551234567"},
        {"25551234567", "25551234567"},
        {"", ""},
        {"@@", "@@"},
        {"@15551234567@x", "+1 555 123 4567"},
        {"521 55", "521 55"},
    };
    for (const auto& [entrada, salida] : casos) EXPECT_EQ(Pendientes::telefonoBonito(entrada), salida) << entrada.toStdString();
}

TEST(TextosDeAvisos, CategoriasYSusAcciones) {
    const auto cs = Pendientes::categorias();
    ASSERT_EQ(cs.size(), 4u);
    QStringList resumen;
    for (const auto& c : cs)
        for (const auto& a : c.acciones)
            resumen << c.id + "/" + a.id + "/" + a.titulo + (a.conTexto ? "/" + a.boton + "/" + a.marcador : QString()) +
                           (a.destructiva ? "/!" : "");
    EXPECT_EQ(resumen, (QStringList{"duda/responder/Responder/Enviar/Tu respuesta para el agente",
                                    "humano/responder/Responder/Enviar/Tu mensaje para el cliente",
                                    "humano/tomar/Lo atiendo yo", "decidirDuda/avisar/Responder al cliente",
                                    "decidirDuda/guardar/Solo guardar", "permiso/aprobar/Aprobar",
                                    "permiso/rechazar/Rechazar/!"}));
}

// ------------------------------------------------------------------ operations

TEST_F(Mesa, ResponderUnaDuda) {
    crear(R"({"dudas":[{"id":3},{"id":"7"},{"id":7.0}]})");
    struct Caso {
        const char* texto;
        std::optional<bool> avisar;
        int estado;
        const char* respuesta;
        const char* cuerpoEnviado;  // null: nothing sent
        Pendientes::ResultadoDuda esperado;
    };
    using R = Pendientes::Respondida;
    using V = Pendientes::Vieja;
    using F = Pendientes::Fallo;
    const std::vector<Caso> casos{
        {" a ", std::nullopt, 200, "{}", nullptr, F{"Escribe una respuesta."}},
        {" sí ", std::nullopt, 200, R"({"sinPlantilla":true})", R"({"respuesta":" sí "})", R{false, true}},
        {"ok", false, 200, R"({"porPlantilla":true,"sinPlantilla":"x"})", R"({"avisarCliente":false,"respuesta":"ok"})",
         R{true, false}},
        {"ok", true, 409, R"({"necesitaDecision":true,"horas":30})", R"({"avisarCliente":true,"respuesta":"ok"})",
         V{30, std::nullopt, false}},
        {"ok", std::nullopt, 409, R"({"error":"Ya respondida"})", R"({"respuesta":"ok"})", F{"Ya respondida"}},
        {"ok", std::nullopt, 402, "{}", R"({"respuesta":"ok"})", F{"No te quedan créditos para hablar con Zentu."}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.texto);
        servicio.olvidarPeticiones();
        servicio.control("DELETE", "respuestas");
        servicio.responder("POST", "/api/dudas/7/responder", c.estado, obj(c.respuesta));
        const auto r = esperar(store->responderDuda(7, QString::fromUtf8(c.texto), c.avisar));
        ASSERT_EQ(r.index(), c.esperado.index());
        if (const auto* f = std::get_if<F>(&r)) {
            EXPECT_EQ(f->mensaje, std::get<F>(c.esperado).mensaje);
        }
        if (const auto* x = std::get_if<R>(&r)) {
            EXPECT_EQ(x->porPlantilla, std::get<R>(c.esperado).porPlantilla);
            EXPECT_EQ(x->sinPlantilla, std::get<R>(c.esperado).sinPlantilla);
        }
        if (const auto* v = std::get_if<V>(&r)) {
            EXPECT_EQ(v->horas, 30);
            EXPECT_FALSE(v->pista);
            EXPECT_FALSE(v->fueraDeVentana);
        }
        const auto enviadas = peticionesA("POST", "/api/dudas/7/responder");
        if (!c.cuerpoEnviado) {
            EXPECT_TRUE(enviadas.isEmpty());
        } else {
            ASSERT_EQ(enviadas.size(), 1);
            EXPECT_EQ(QJsonDocument::fromJson(enviadas.at(0).value("cuerpo").toString().toUtf8()).object(),
                      obj(c.cuerpoEnviado));
        }
    }
    // The two answers that went through removed the numeric 7 only, and lowered the count twice.
    EXPECT_EQ(store->dudas(), 1);
    ASSERT_EQ(store->listaDudas.size(), 2);
    EXPECT_EQ(store->listaDudas.at(1).value("id").toString(), "7");
}

TEST_F(Mesa, DescartarYDecidirPermiso) {
    crear(R"({"dudas":[]})", R"([{"id":4}])");
    servicio.responder("POST", "/api/dudas/9/descartar", 200, obj("{}"));
    EXPECT_EQ(esperar(store->descartar(9)), std::nullopt);  // not in the list: still counted down
    EXPECT_EQ(store->dudas(), 0);
    EXPECT_EQ(publicados.back(), (Publicado{1, 0, 1}));
    servicio.responder("POST", "/api/dudas/8/descartar", 401, obj("{}"));
    EXPECT_EQ(esperar(store->descartar(8)), "Tu enlace con Zentu venció. Vuelve a escanear el código del panel.");

    guionPermisos(200, "[]");
    servicio.responder("POST", "/api/pendientes/permisos/4", QJsonObject{{"estado", 200}, {"cuerpo", obj("{}")}, {"veces", 2}});
    EXPECT_EQ(esperar(store->decidirPermiso(4, true, QString())), std::nullopt);
    EXPECT_TRUE(store->permisos.isEmpty());  // reloaded after the decision
    EXPECT_EQ(esperar(store->decidirPermiso(4, false, std::nullopt)), std::nullopt);
    const auto enviadas = peticionesA("POST", "/api/pendientes/permisos/4");
    ASSERT_EQ(enviadas.size(), 2);
    EXPECT_EQ(enviadas.at(0).value("cuerpo").toString(), R"({"aprobar":true,"texto":""})");
    EXPECT_EQ(enviadas.at(1).value("cuerpo").toString(), R"({"aprobar":false})");
}

// ------------------------------------------------------------------ answers from the notifications

TEST_F(Mesa, ResponderUnaDudaDesdeElAviso) {
    crear(R"({"dudas":[{"id":42}]})");
    servicio.responder("POST", "/api/dudas/42/responder", 200, obj("{}"));
    const uint id = mostrar(*Pendientes::avisoDuda(obj(R"({"id":42,"agente":"a","pregunta":"¿?"})")));
    const auto& n = servidor->recibidas().back();
    EXPECT_EQ(n.claves(), (QStringList{"default", "inline-reply"}));
    EXPECT_EQ(n.pistas.value("x-kde-reply-placeholder-text").toString(), "Tu respuesta para el agente");
    EXPECT_EQ(n.pistas.value("x-kde-reply-submit-button-text").toString(), "Enviar");

    servidor->responder(id, "  de acuerdo \n");
    ASSERT_TRUE(esperarConfirmacion("Listo: el agente ya tiene tu respuesta."));
    const auto enviadas = peticionesA("POST", "/api/dudas/42/responder");
    ASSERT_EQ(enviadas.size(), 1);
    EXPECT_EQ(enviadas.at(0).value("cuerpo").toString(), R"({"respuesta":"de acuerdo"})");
    EXPECT_EQ(sonidos, std::vector<Sonidos::Cual>{Sonidos::Cual::hecho});
    EXPECT_TRUE(store->listaDudas.isEmpty());

    // Too short: nothing is sent.
    const uint otra = mostrar(*Pendientes::avisoDuda(obj(R"({"id":43})")));
    servidor->responder(otra, " y ");
    ASSERT_TRUE(esperarConfirmacion("La respuesta es muy corta. Ábrela en el chat."));
    EXPECT_TRUE(peticionesA("POST", "/api/dudas/43/responder").isEmpty());
}

TEST_F(Mesa, UnaRespuestaTardiaPideDecidirYLaDecisionLaReenvia) {
    crear();
    servicio.responder("POST", "/api/dudas/5/responder",
                       QJsonObject{{"estado", 409}, {"cuerpo", obj(R"({"necesitaDecision":true,"horas":23.5})")}, {"veces", 2}});
    servicio.responder("POST", "/api/dudas/5/responder", 200, obj(R"({"porPlantilla":true})"));
    const uint id = mostrar(*Pendientes::avisoDuda(obj(R"({"id":5})")));
    servidor->responder(id, "mándalo");
    ASSERT_TRUE(esperarHasta([&] { return servidor->visible("Esta consulta tiene 24 horas"); }));
    const auto decision = *servidor->visible("Esta consulta tiene 24 horas");
    EXPECT_EQ(decision.cuerpo, "¿Le escribimos ahora al cliente con tu respuesta, o solo la guardamos?");
    EXPECT_EQ(decision.claves(), (QStringList{"default", "avisar", "guardar"}));
    EXPECT_TRUE(decision.pistas.value("suppress-sound").toBool());
    EXPECT_TRUE(confirmaciones().isEmpty());
    EXPECT_TRUE(sonidos.empty());

    // "Solo guardar" is refused again as too old: the same identifier replaces the decision.
    servidor->invocar(decision.id, "guardar");
    ASSERT_TRUE(esperarHasta([&] { return peticionesA("POST", "/api/dudas/5/responder").size() == 2; }));
    ASSERT_TRUE(esperarHasta([&] { return servidor->recibidas().back().titulo == "Esta consulta tiene 24 horas" &&
                                          servidor->recibidas().size() == 3; }));
    const auto nueva = *servidor->visible("Esta consulta tiene 24 horas");
    servidor->invocar(nueva.id, "avisar");
    ASSERT_TRUE(esperarConfirmacion("Listo: se le avisó al cliente con una plantilla."));
    const auto enviadas = peticionesA("POST", "/api/dudas/5/responder");
    ASSERT_EQ(enviadas.size(), 3);
    EXPECT_EQ(enviadas.at(1).value("cuerpo").toString(), R"({"avisarCliente":false,"respuesta":"mándalo"})");
    EXPECT_EQ(enviadas.at(2).value("cuerpo").toString(), R"({"avisarCliente":true,"respuesta":"mándalo"})");
}

TEST_F(Mesa, LosFallosDeLasAccionesSeConfirmanConSuMotivo) {
    crear();
    servicio.responder("POST", "/api/dudas/6/responder", 500, obj(R"({"error":"no existe"})"));
    servidor->responder(mostrar(*Pendientes::avisoDuda(obj(R"({"id":6})"))), "hola");
    ASSERT_TRUE(esperarConfirmacion("No se pudo enviar la respuesta: no existe"));

    servicio.responder("POST", "/api/pendientes/permisos/3", 403, obj("{}"));
    servidor->invocar(mostrar(*Pendientes::avisoPermiso(obj(R"({"id":3})"))), "aprobar");
    ASSERT_TRUE(esperarConfirmacion("No se pudo decidir: Solo el dueño de la cuenta puede hablar con Zentu."));
    EXPECT_TRUE(sonidos.empty());

    // Ids that are not decimal integers are never sent anywhere.
    Notificaciones::Aviso rara = Pendientes::avisoDecidir("5 OR 1", 30, std::nullopt, "hola");
    servidor->invocar(mostrar(rara), "avisar");
    ASSERT_TRUE(esperarConfirmacion("No se pudo enviar la respuesta: la consulta no tiene un número válido."));
    Notificaciones::Aviso permiso = *Pendientes::avisoPermiso(obj(R"({"id":"../dudas/1"})"));
    servidor->invocar(mostrar(permiso), "rechazar");
    ASSERT_TRUE(esperarConfirmacion("No se pudo decidir: el permiso no tiene un número válido."));
    for (const auto& p : servicio.peticiones())
        EXPECT_FALSE(p.toObject().value("ruta").toString().contains("/dudas/0/")) << p.toObject().value("ruta").toString().toStdString();
    EXPECT_TRUE(peticionesA("POST", "/api/pendientes/permisos/../dudas/1").isEmpty());
}

TEST_F(Mesa, DecidirUnPermisoDesdeElAviso) {
    crear(R"({"dudas":[]})", R"([{"id":7},{"id":8}])");
    struct Caso {
        const char* accion;
        const char* confirmacion;
        Sonidos::Cual sonido;
        const char* cuerpo;
    };
    for (const Caso& c : {Caso{"aprobar", "Aprobado: el agente ya puede escribir.", Sonidos::Cual::hecho, R"({"aprobar":true})"},
                          Caso{"rechazar", "Rechazado: el agente no escribirá.", Sonidos::Cual::descartado,
                               R"({"aprobar":false})"}}) {
        SCOPED_TRACE(c.accion);
        sonidos.clear();
        servicio.olvidarPeticiones();
        servicio.responder("POST", "/api/pendientes/permisos/7", 200, obj("{}"));
        servidor->invocar(mostrar(*Pendientes::avisoPermiso(obj(R"({"id":7})"))), c.accion);
        ASSERT_TRUE(esperarConfirmacion(QString::fromUtf8(c.confirmacion)));
        ASSERT_TRUE(esperarHasta([&] { return peticionesA("GET", "/api/pendientes/permisos").size() == 1; }));
        EXPECT_EQ(peticionesA("POST", "/api/pendientes/permisos/7").at(0).value("cuerpo").toString(), c.cuerpo);
        EXPECT_EQ(sonidos, std::vector<Sonidos::Cual>{c.sonido});
    }
}

TEST_F(Mesa, EscribirleAlClienteYTomarLaConversacion) {
    crear();
    struct Caso {
        const char* accion;  // "responder" types the text into the bubble
        const char* evento;
        QJsonArray acuse;    // empty: the service never acknowledges
        const char* confirmacion;
        std::vector<Sonidos::Cual> sonidos;
    };
    const std::vector<Caso> casos{
        {"responder", "chats:reply", arr(R"([{"ok":true}])"), "Enviado. Tú llevas ahora esa conversación.",
         {Sonidos::Cual::enviado}},
        {"responder", "chats:reply", arr(R"([{"ok":false,"error":"Fuera de ventana"}])"), "No se pudo enviar: Fuera de ventana.", {}},
        {"responder", "chats:reply", {}, "No se pudo enviar: sin respuesta del servidor.", {}},
        {"tomar", "chats:takeover", arr(R"([{"ok":true}])"),
         "Listo: esa conversación es tuya. El agente no contestará hasta que se la devuelvas.", {Sonidos::Cual::hecho}},
        {"tomar", "chats:takeover", arr(R"([{"ok":1}])"), "No se pudo tomar: sin respuesta del servidor.", {}},
    };
    for (const Caso& c : casos) {
        SCOPED_TRACE(std::string(c.accion) + " " + QJsonDocument(c.acuse).toJson().toStdString());
        sonidos.clear();
        servicio.olvidarEventos();
        if (c.acuse.isEmpty()) {
            servicio.callarAck(c.evento);
        } else {
            servicio.guionAck(c.evento, c.acuse);
        }
        const uint id = mostrar(Pendientes::avisoHumano("5215512345678", std::nullopt));
        if (QString(c.accion) == "responder") {
            servidor->responder(id, " Ya le atiendo ");
        } else {
            servidor->invocar(id, c.accion);
        }
        ASSERT_TRUE(esperarHasta([&] { return !eventosDe(c.evento).isEmpty(); }));
        if (c.acuse.isEmpty()) reloj.avanzar(QString(c.evento) == "chats:reply" ? 30.5 : 20.5);
        ASSERT_TRUE(esperarConfirmacion(QString::fromUtf8(c.confirmacion)));
        const QJsonObject payload = eventosDe(c.evento).at(0).value("args").toArray().at(0).toObject();
        if (QString(c.evento) == "chats:reply") {
            EXPECT_EQ(payload, obj(R"({"phone":"5215512345678","text":"Ya le atiendo","tomar":true})"));
        } else {
            EXPECT_EQ(payload, obj(R"({"phone":"5215512345678","on":true})"));
        }
        EXPECT_EQ(sonidos, c.sonidos);
    }
}

TEST_F(Mesa, UnaRespuestaVaciaAlClienteNoHaceNada) {
    crear();
    const uint id = mostrar(Pendientes::avisoHumano("55", std::nullopt));
    const size_t antes = servidor->recibidas().size();
    servidor->responder(id, "   ");
    girar(400);
    EXPECT_TRUE(eventosDe("chats:reply").isEmpty());
    EXPECT_EQ(servidor->recibidas().size(), antes);
}

TEST_F(Mesa, LosToquesAbrenLoQueCorresponde) {
    crear();
    servidor->invocar(mostrar(*Pendientes::avisoPermiso(obj(R"({"id":12})"))), "default");
    ASSERT_TRUE(esperarHasta([&] { return permisosAbiertos == QList<qint64>{12}; }));
    servidor->invocar(mostrar(*Pendientes::avisoPermiso(obj(R"({"id":"doce"})"))), "default");
    servidor->invocar(mostrar(Pendientes::avisoConfirmacion("Listo")), "default");
    ASSERT_TRUE(esperarHasta([&] { return chatsAbiertos == 1; }));
    servidor->invocar(mostrar(*Pendientes::avisoDuda(obj(R"({"id":1})"))), "default");
    ASSERT_TRUE(esperarHasta([&] { return chatsAbiertos == 2; }));
    EXPECT_EQ(permisosAbiertos, QList<qint64>{12});

    servidor->invocar(mostrar(Pendientes::avisoHumano("+521 55&x=1", std::nullopt)), "default");
    ASSERT_TRUE(esperarHasta([&] { return escritorio.abiertas.size() == 1; }));
    EXPECT_EQ(escritorio.abiertas.at(0).toString(QUrl::FullyEncoded),
              servicio.url() + "/conversations?chat=%2B521%2055%26x%3D1");
    EXPECT_EQ(escritorio.abiertas.at(0).query(QUrl::FullyDecoded), "chat=+521 55&x=1");
}

TEST_F(Mesa, SinRespuestaEnLineaSeEscribeEnUnaVentana) {
    servidor = std::make_unique<ServidorAvisos>(false);
    avisos = std::make_unique<Notificaciones>(servidor->servicio());
    crear();
    std::optional<Pendientes::PedidoRespuesta> pedido;
    store->alPedirRespuesta = [&](Pendientes::PedidoRespuesta p) { pedido = std::move(p); };
    servicio.responder("POST", "/api/dudas/3/responder", 200, obj("{}"));
    const uint id = mostrar(*Pendientes::avisoDuda(
        obj(R"({"id":3,"agente":"ventas","pregunta":"¿Le hago el 10 %?","contexto":"Pedido de 40 conchas"})")));
    EXPECT_EQ(servidor->recibidas().back().claves(), (QStringList{"default", "responder"}));
    EXPECT_EQ(servidor->recibidas().back().etiqueta("responder"), "Responder");
    servidor->invocar(id, "responder");
    ASSERT_TRUE(esperarHasta([&] { return pedido.has_value(); }));
    EXPECT_EQ(pedido->marcador, "Tu respuesta para el agente");
    // What the owner answers, as the notification showed it.
    EXPECT_EQ(pedido->asunto, "ventas necesita tu decisión");
    EXPECT_EQ(pedido->texto, "Pedido de 40 conchas\n¿Le hago el 10 %?");
    EXPECT_EQ(pedido->boton, "Enviar");
    EXPECT_TRUE(confirmaciones().isEmpty());  // no "too short" for a reply not yet written
    pedido->enviar(" vale ");
    ASSERT_TRUE(esperarConfirmacion("Listo: el agente ya tiene tu respuesta."));
    EXPECT_EQ(peticionesA("POST", "/api/dudas/3/responder").at(0).value("cuerpo").toString(), R"({"respuesta":"vale"})");
}

TEST_F(Mesa, ElSonidoDeAvisoVaComoArchivoCuandoExiste) {
    crear();
    const QString archivo = Sonidos::archivoDeAviso();
    QFile::remove(archivo);
    EXPECT_EQ(Pendientes::sonidoAviso(), "");
    mostrar(*Pendientes::avisoDuda(obj(R"({"id":1})")));
    EXPECT_EQ(servidor->recibidas().back().pistas.value("sound-name").toString(), "message-new-instant");
    Sonidos().escribirSonidoDeAviso();
    ASSERT_TRUE(QFile::exists(archivo));
    mostrar(*Pendientes::avisoDuda(obj(R"({"id":2})")));
    EXPECT_EQ(servidor->recibidas().back().pistas.value("sound-file").toString(), archivo);
    EXPECT_FALSE(servidor->recibidas().back().pistas.contains("suppress-sound"));
}

// ------------------------------------------------------------------ against the demo

// The demo's business as a paired program sees it: its service sends the new figures of the
// questions on the live channel before it answers the REST request that changed them.
class EnLaDemo : public ::testing::Test {
protected:
    void SetUp() override {
        Preferencias::almacen().remove("zentu.avisados");
        Registro::observar([this](const QString& l) { lineas << l; });
        ASSERT_TRUE(demo.arrancar(carpeta.path()));
        const auto codigo = API::leerCodigo(demo.codigo);
        cuenta = esperar(API::canjear(codigo.url, codigo.codigo));
        ASSERT_TRUE(servidor.enMarcha());
        avisos = std::make_unique<Notificaciones>(servidor.servicio());
        canal = std::make_unique<CanalEnVivo>(cuenta);
        store = std::make_unique<Pendientes>(cuenta, *canal, *avisos);
        canal->conectar();
        ASSERT_TRUE(esperarHasta([&] { return !store->primeraCarga(); }, 15000));
    }
    void TearDown() override { Registro::observar({}); }

    // A new question the demo is told to ask: its notification is up and its figures are in. Its id.
    qint64 nuevaDuda() {
        const size_t antes = servidor.recibidas().size();
        const int dudas = store->dudas();
        demo.orden("duda");
        EXPECT_TRUE(esperarHasta([&] { return servidor.recibidas().size() > antes && store->dudas() == dudas + 1; }, 15000));
        return store->listaDudas.isEmpty() ? -1 : ModeloDudas::idDe(store->listaDudas.back()).value_or(-1);
    }
    bool cerrada(uint id) {
        const auto c = servidor.cerradas();
        return std::find(c.begin(), c.end(), id) != c.end();
    }

    QTemporaryDir carpeta;
    Demo demo;
    Cuenta cuenta;
    QStringList lineas;
    ServidorAvisos servidor;
    std::unique_ptr<Notificaciones> avisos;
    std::unique_ptr<CanalEnVivo> canal;
    std::unique_ptr<Pendientes> store;
};

TEST_F(EnLaDemo, UnaRespuestaBajaLaCuentaDeDudasEnUnaSola) {
    const int alEmpezar = store->dudas();
    const qint64 primera = nuevaDuda();
    const qint64 segunda = nuevaDuda();
    ASSERT_NE(primera, segunda);
    ASSERT_EQ(store->dudas(), alEmpezar + 2);

    ModeloDudas tarjeta(ModeloDudas::Almacen::de(*store), segunda, {});
    ASSERT_TRUE(esperar(tarjeta.contestar(segunda, "Sí, con el 10 %")));
    // The demo's event with its figures and the reply have both arrived; later turns change nothing.
    ASSERT_TRUE(demo.esperarLinea("Respondiste la duda " + QString::number(segunda)));
    girar(300);
    EXPECT_EQ(store->dudas(), alEmpezar + 1);
    EXPECT_EQ(lineas.filter("[pendientes]").last(), QString("[pendientes] %1 dudas + 0 permisos").arg(alEmpezar + 1));
    ASSERT_EQ(store->listaDudas.size(), alEmpezar + 1);
    EXPECT_EQ(ModeloDudas::idDe(store->listaDudas.back()), primera);

    // Discarding does the same.
    ASSERT_TRUE(esperar(store->descartar(primera)) == std::nullopt);
    girar(300);
    EXPECT_EQ(store->dudas(), alEmpezar);
}

TEST_F(EnLaDemo, LoResueltoEnLaTarjetaRetiraSuNotificacion) {
    // A question answered on its card.
    const qint64 duda = nuevaDuda();
    const auto& avisoDuda = servidor.recibidas().back();
    const uint idDuda = avisoDuda.id;
    ASSERT_TRUE(avisoDuda.titulo.endsWith("necesita tu decisión"));
    ModeloDudas tarjeta(ModeloDudas::Almacen::de(*store), duda, {});
    ASSERT_TRUE(esperar(tarjeta.contestar(duda, "Que sí")));
    ASSERT_TRUE(esperarHasta([&] { return cerrada(idDuda); }));
    EXPECT_EQ(servidor.visibles().count(idDuda), 0u);

    // A permission decided on its card, approved and rejected.
    for (const bool aprobar : {true, false}) {
        SCOPED_TRACE(aprobar);
        const size_t antes = servidor.recibidas().size();
        demo.orden("permiso");
        ASSERT_TRUE(esperarHasta([&] { return servidor.recibidas().size() > antes; }, 15000));
        const auto aviso = servidor.recibidas().back();
        ASSERT_TRUE(aviso.titulo.startsWith("¿Escribirle a ")) << aviso.titulo.toStdString();
        ASSERT_FALSE(store->permisos.isEmpty());
        const qint64 permiso = ModeloDudas::idDe(store->permisos.back()).value_or(-1);
        tarjeta.refrescar();
        ASSERT_TRUE(esperar(tarjeta.decidirPermiso(permiso, aprobar, std::nullopt)));
        ASSERT_TRUE(esperarHasta([&] { return cerrada(aviso.id); }));
        EXPECT_EQ(servidor.visibles().count(aviso.id), 0u);
    }
    // Nothing else was closed: the other notifications stay where they are.
    EXPECT_EQ(servidor.cerradas().size(), 3u);
}
