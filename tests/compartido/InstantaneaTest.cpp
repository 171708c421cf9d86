#include "compartido/Instantanea.h"
#include "plataforma/Registro.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Every test gets its own shared folder through XDG_DATA_HOME, restored afterwards.
class ContenedorTemporal : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        datosPrevios_ = qgetenv("XDG_DATA_HOME");
        casaPrevia_ = qgetenv("HOME");
        qputenv("XDG_DATA_HOME", dir_.path().toUtf8());
    }
    void TearDown() override {
        qputenv("XDG_DATA_HOME", datosPrevios_);
        qputenv("HOME", casaPrevia_);
        Registro::observar({});
    }
    QString carpeta() const { return dir_.path() + QStringLiteral("/ai.zentu.voz"); }
    void escribir(const QString& nombre, const QByteArray& bytes) {
        QDir().mkpath(carpeta());
        QFile f(carpeta() + QLatin1Char('/') + nombre);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray contenido(const QString& nombre) {
        QFile f(carpeta() + QLatin1Char('/') + nombre);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void sinContenedor() {
        qunsetenv("XDG_DATA_HOME");
        qunsetenv("HOME");
    }

    QTemporaryDir dir_;
    QByteArray datosPrevios_, casaPrevia_;
};

QDateTime utc(const char* texto) {
    return *Instantanea::textoAFecha(QString::fromLatin1(texto));
}

// A complete, valid file as JSON, with every optional key present.
QJsonObject completo() {
    return QJsonDocument::fromJson(R"({
      "enlazada": true, "negocio": "Café Tolmira", "totalPendientes": 5, "permisos": 2,
      "dudas": [{"id": 7, "agente": "ventas_mayor", "pregunta": "¿Sí?", "fecha": "2026-10-05T14:03:27Z"}],
      "creditos": {"usados": 10, "cupo": 100, "restantes": 90, "porDia": [{"dia": "2026-10-05", "creditos": 10}]},
      "dia": {"conversacionesHoy": 1, "conversacionesAyer": 2, "mensajesHoy": 3, "solas": 50,
              "semana": [{"dia": "L", "n": 4}],
              "actividad": [{"texto": "Hizo algo", "agente": "Contador", "cuando": "2026-10-05T13:00:00Z"}]},
      "agentes": [{"id": 1, "nombre": "Zentu", "categoria": "asistente", "activo": true,
                   "conversaciones": 0, "coordinador": true}],
      "actualizado": "2026-10-05T14:05:00Z"})")
        .object();
}

// Sets the value at a dotted path ("dia.semana.0.n"); an undefined value removes the key.
QJsonValue cambiar(QJsonValue raiz, QStringList ruta, const QJsonValue& nuevo) {
    const QString clave = ruta.takeFirst();
    if (raiz.isArray()) {
        QJsonArray a = raiz.toArray();
        const int i = clave.toInt();
        a[i] = ruta.isEmpty() ? nuevo : cambiar(a.at(i), ruta, nuevo);
        return a;
    }
    QJsonObject o = raiz.toObject();
    if (ruta.isEmpty()) {
        if (nuevo.isUndefined())
            o.remove(clave);
        else
            o.insert(clave, nuevo);
    } else {
        o.insert(clave, cambiar(o.value(clave), ruta, nuevo));
    }
    return o;
}

std::optional<Instantanea> decodificarCon(const QString& ruta, const QJsonValue& nuevo) {
    const QJsonValue v = cambiar(completo(), ruta.split(QLatin1Char('.')), nuevo);
    return Instantanea::decodificar(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
}

}  // namespace

TEST(Instantanea, DecodificaElArchivoCompleto) {
    QString error;
    const auto i = Instantanea::decodificar(QJsonDocument(completo()).toJson(), &error);
    ASSERT_TRUE(i) << error.toStdString();
    EXPECT_TRUE(i->enlazada);
    EXPECT_EQ(i->negocio, QStringLiteral("Café Tolmira"));
    ASSERT_EQ(i->dudas.size(), 1u);
    EXPECT_EQ(i->dudas[0].id, 7);
    EXPECT_EQ(i->dudas[0].fecha, QDateTime(QDate(2026, 10, 5), QTime(14, 3, 27), Qt::UTC));
    ASSERT_TRUE(i->creditos && i->creditos->porDia);
    EXPECT_EQ(*i->creditos->cupo, 100);
    EXPECT_EQ(i->creditos->porDia->at(0).dia, QStringLiteral("2026-10-05"));
    ASSERT_TRUE(i->dia);
    EXPECT_EQ(*i->dia->solas, 50);
    EXPECT_EQ(i->dia->actividad.at(0).agente, QStringLiteral("Contador"));
    ASSERT_TRUE(i->agentes);
    EXPECT_TRUE(i->agentes->at(0).coordinador);
}

// Each row changes one place of a valid file; `valida` says whether the file must still decode.
struct CasoDecodificacion {
    const char* nombre;
    const char* ruta;
    QJsonValue valor;  // undefined: remove the key
    bool valida;
};

TEST(Instantanea, DecodificaConLasReglasDelFormato) {
    const QJsonValue quitar(QJsonValue::Undefined);
    const QJsonValue nulo(QJsonValue::Null);
    const std::vector<CasoDecodificacion> casos = {
        {"creditos ausente", "creditos", quitar, true},
        {"creditos null", "creditos", nulo, true},
        {"dia ausente", "dia", quitar, true},
        {"dia null", "dia", nulo, true},
        {"agentes ausente", "agentes", quitar, true},
        {"agentes null", "agentes", nulo, true},
        {"cupo ausente", "creditos.cupo", quitar, true},
        {"restantes null", "creditos.restantes", nulo, true},
        {"porDia ausente", "creditos.porDia", quitar, true},
        {"solas null", "dia.solas", nulo, true},
        {"clave desconocida arriba", "extra", QJsonValue(1), true},
        {"clave desconocida en una duda", "dudas.0.extra", QJsonValue("x"), true},
        {"clave desconocida en un hecho", "dia.actividad.0.otra", QJsonArray{1, 2}, true},
        {"entero escrito como 3.0", "permisos", QJsonValue(3.0), true},
        {"fecha con desfase", "actualizado", QJsonValue("2026-10-05T16:05:00+02:00"), true},
        {"falta enlazada", "enlazada", quitar, false},
        {"falta negocio", "negocio", quitar, false},
        {"falta actualizado", "actualizado", quitar, false},
        {"falta dudas", "dudas", quitar, false},
        {"dudas null", "dudas", nulo, false},
        {"falta id de una duda", "dudas.0.id", quitar, false},
        {"falta usados", "creditos.usados", quitar, false},
        {"falta creditos de un dia", "creditos.porDia.0.creditos", quitar, false},
        {"falta semana", "dia.semana", quitar, false},
        {"falta n de una barra", "dia.semana.0.n", quitar, false},
        {"falta cuando de un hecho", "dia.actividad.0.cuando", quitar, false},
        {"falta coordinador", "agentes.0.coordinador", quitar, false},
        {"fecha con fraccion", "actualizado", QJsonValue("2026-10-05T14:03:27.512Z"), false},
        {"fecha con fraccion en una duda", "dudas.0.fecha", QJsonValue("2026-10-05T14:03:27.5Z"), false},
        {"fecha sin zona", "actualizado", QJsonValue("2026-10-05T14:03:27"), false},
        {"fecha con espacio", "actualizado", QJsonValue("2026-10-05 14:03:27Z"), false},
        {"fecha imposible", "actualizado", QJsonValue("2026-02-30T14:03:27Z"), false},
        {"fecha que el desfase lleva antes del año 1", "actualizado", QJsonValue("0001-01-01T00:00:00+01:00"), false},
        {"fecha que el desfase lleva después del año 9999", "actualizado", QJsonValue("9999-12-31T23:59:59-00:01"), false},
        {"primer instante posible", "actualizado", QJsonValue("0001-01-01T00:00:00Z"), true},
        {"último instante posible con desfase", "dudas.0.fecha", QJsonValue("9999-12-31T23:59:59+00:01"), true},
        {"fecha como numero", "actualizado", QJsonValue(1759673007), false},
        {"entero con fraccion", "totalPendientes", QJsonValue(2.5), false},
        {"entero con fraccion en lo hondo", "dia.semana.0.n", QJsonValue(0.5), false},
        {"entero como texto", "permisos", QJsonValue("2"), false},
        {"entero fuera de rango", "permisos", QJsonValue(1e20), false},
        {"numero en lugar de logico", "enlazada", QJsonValue(1), false},
        {"logico en lugar de numero", "agentes.0.conversaciones", QJsonValue(true), false},
        {"texto como numero", "negocio", QJsonValue(3), false},
        {"objeto en lugar de lista", "dudas", QJsonObject{}, false},
        {"elemento que no es objeto", "dudas.0", QJsonValue(1), false},
    };
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nombre);
        const auto i = decodificarCon(QString::fromLatin1(c.ruta), c.valor);
        EXPECT_EQ(i.has_value(), c.valida);
    }
}

TEST(Instantanea, LosOpcionalesAusentesQuedanSinValor) {
    auto i = decodificarCon(QStringLiteral("creditos.cupo"), QJsonValue(QJsonValue::Undefined));
    ASSERT_TRUE(i && i->creditos);
    EXPECT_FALSE(i->creditos->cupo);
    EXPECT_EQ(i->creditos->restantes, 90);
    i = decodificarCon(QStringLiteral("dia"), QJsonValue(QJsonValue::Null));
    ASSERT_TRUE(i);
    EXPECT_FALSE(i->dia);
    EXPECT_TRUE(i->creditos);
    i = decodificarCon(QStringLiteral("actualizado"), QJsonValue("2026-10-05T16:05:00+02:00"));
    ASSERT_TRUE(i);
    EXPECT_EQ(i->actualizado, utc("2026-10-05T14:05:00Z"));
}

TEST(Instantanea, RechazaLoQueNoEsUnObjeto) {
    for (const char* texto : {"", "[]", "null", "3", "{", "{\"enlazada\": true"}) {
        SCOPED_TRACE(texto);
        QString error;
        EXPECT_FALSE(Instantanea::decodificar(QByteArray(texto), &error));
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST_F(ContenedorTemporal, LoEscritoSeLeeIgualSalvoLaFraccionDelSegundo) {
    Instantanea i = Instantanea::ejemplo();
    i.negocio = QStringLiteral("Café \"Tolmira\"\n");
    i.actualizado = QDateTime::fromMSecsSinceEpoch(1'759'673'007'512, Qt::UTC);
    i.guardar();
    const QByteArray bytes = contenido(QStringLiteral("instantanea.json"));
    EXPECT_TRUE(bytes.contains("\"actualizado\":\"2025-10-05T14:03:27Z\"")) << bytes.constData();
    EXPECT_FALSE(bytes.contains('\n')) << "compacto";

    const Instantanea leida = Instantanea::leer();
    EXPECT_EQ(leida.actualizado, QDateTime::fromSecsSinceEpoch(1'759'673'007, Qt::UTC));
    // Apart from the dates' fractions, what was written comes back.
    Instantanea esperada = i;
    auto sinFraccion = [](QDateTime& f) { f = QDateTime::fromSecsSinceEpoch(f.toSecsSinceEpoch(), Qt::UTC); };
    sinFraccion(esperada.actualizado);
    for (auto& d : esperada.dudas) sinFraccion(d.fecha);
    for (auto& h : esperada.dia->actividad) sinFraccion(h.cuando);
    EXPECT_TRUE(leida == esperada);

    // The empty snapshot, with its distant-past date, survives the trip too.
    Instantanea::vacia().guardar();
    EXPECT_TRUE(contenido(QStringLiteral("instantanea.json")).contains("\"actualizado\":\"0001-01-01T00:00:00Z\""));
    EXPECT_TRUE(Instantanea::leer() == Instantanea::vacia());
}

TEST_F(ContenedorTemporal, UnaFechaFueraDeLosAniosDelArchivoNoImpideGuardar) {
    Instantanea i = Instantanea::ejemplo();
    i.actualizado = QDateTime::fromSecsSinceEpoch(1'759'673'007, Qt::UTC);
    i.dudas[0].fecha = Instantanea::pasadoLejano().addSecs(-60);
    i.dudas[1].fecha = QDateTime(QDate(10000, 1, 1), QTime(0, 0, 30), Qt::UTC);
    i.dia->actividad[0].cuando = QDateTime(QDate(-40, 3, 15), QTime(12, 0), Qt::UTC);
    QStringList lineas;
    Registro::observar([&](const QString& l) { lineas << l; });
    i.guardar();
    EXPECT_TRUE(lineas.isEmpty()) << lineas.join('\n').toStdString();
    const Instantanea leida = Instantanea::leer();
    ASSERT_EQ(leida.dudas.size(), i.dudas.size());
    EXPECT_EQ(leida.dudas[0].fecha, Instantanea::pasadoLejano());
    EXPECT_EQ(leida.dudas[1].fecha, utc("9999-12-31T23:59:59Z"));
    EXPECT_EQ(leida.dia->actividad[0].cuando, Instantanea::pasadoLejano());
    // The rest is kept as it was.
    EXPECT_EQ(leida.dudas[2].fecha, QDateTime::fromSecsSinceEpoch(i.dudas[2].fecha.toSecsSinceEpoch(), Qt::UTC));
    EXPECT_EQ(leida.dudas[1].pregunta, i.dudas[1].pregunta);
    EXPECT_EQ(leida.actualizado, i.actualizado);
    EXPECT_TRUE(leida.agentes == i.agentes);
}

TEST_F(ContenedorTemporal, ElEscritorOmiteLosOpcionalesSinValor) {
    Instantanea i = Instantanea::ejemplo();
    i.creditos->cupo.reset();
    i.dia->solas.reset();
    i.agentes.reset();
    const QJsonObject o = QJsonDocument::fromJson(*i.codificar()).object();
    EXPECT_FALSE(o.value(QStringLiteral("creditos")).toObject().contains(QStringLiteral("cupo")));
    EXPECT_TRUE(o.value(QStringLiteral("creditos")).toObject().contains(QStringLiteral("restantes")));
    EXPECT_FALSE(o.value(QStringLiteral("dia")).toObject().contains(QStringLiteral("solas")));
    EXPECT_FALSE(o.contains(QStringLiteral("agentes")));
    i.creditos.reset();
    EXPECT_FALSE(QJsonDocument::fromJson(*i.codificar()).object().contains(QStringLiteral("creditos")));
}

TEST_F(ContenedorTemporal, LecturaSinArchivoOArchivoMaloDaLaVacia) {
    EXPECT_TRUE(Instantanea::leer() == Instantanea::vacia());
    const Instantanea& v = Instantanea::vacia();
    EXPECT_FALSE(v.enlazada);
    EXPECT_EQ(v.totalPendientes, 0);
    EXPECT_FALSE(v.creditos || v.dia || v.agentes);
    EXPECT_LT(v.actualizado, QDateTime(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC));

    escribir(QStringLiteral("instantanea.json"), "{\"enlazada\": true}");
    EXPECT_TRUE(Instantanea::leer() == Instantanea::vacia());
    // A directory where the file should be cannot be read either.
    QFile::remove(carpeta() + QStringLiteral("/instantanea.json"));
    QDir().mkpath(carpeta() + QStringLiteral("/instantanea.json"));
    EXPECT_TRUE(Instantanea::leer() == Instantanea::vacia());
}

TEST_F(ContenedorTemporal, UnFalloAlGuardarConservaElArchivoAnterior) {
    Instantanea::ejemplo().guardar();
    const QByteArray antes = contenido(QStringLiteral("instantanea.json"));
    ASSERT_FALSE(antes.isEmpty());
    QStringList lineas;
    Registro::observar([&](const QString& l) { lineas << l; });

    // A date with no text in the file's form cannot be encoded: nothing is written.
    Instantanea mala = Instantanea::ejemplo();
    mala.actualizado = QDateTime();
    mala.guardar();
    EXPECT_EQ(lineas, QStringList{QStringLiteral("[widgets] sin contenedor compartido: K7Q2M9XW4D.ai.zentu.voz")});
    EXPECT_EQ(contenido(QStringLiteral("instantanea.json")), antes);

    // A folder that cannot be written: the failure is logged, the old file stays. (Root writes
    // anywhere, so there the check is skipped.)
    const QString prefijo = QStringLiteral("[widgets] no se pudo guardar la foto: ");
    if (geteuid() != 0) {
        lineas.clear();
        QFile::setPermissions(carpeta(), QFile::ReadOwner | QFile::ExeOwner);
        Instantanea::vacia().guardar();
        QFile::setPermissions(carpeta(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ASSERT_EQ(lineas.size(), 1);
        EXPECT_TRUE(lineas[0].startsWith(prefijo)) << lineas[0].toStdString();
        EXPECT_EQ(contenido(QStringLiteral("instantanea.json")), antes);
    }

    // A plain file where the shared folder should be: the write fails with a reason.
    lineas.clear();
    QDir(carpeta()).removeRecursively();
    {
        QFile tapon(carpeta());
        ASSERT_TRUE(tapon.open(QIODevice::WriteOnly));
    }
    Instantanea::vacia().guardar();
    ASSERT_EQ(lineas.size(), 1);
    EXPECT_TRUE(lineas[0].startsWith(prefijo)) << lineas[0].toStdString();
    EXPECT_GT(lineas[0].size(), prefijo.size());
}

TEST_F(ContenedorTemporal, SinContenedorNoHayArchivos) {
    sinContenedor();
    EXPECT_FALSE(Instantanea::archivo());
    EXPECT_FALSE(Tamanos::archivo());
    EXPECT_TRUE(Instantanea::leer() == Instantanea::vacia());
    QStringList lineas;
    Registro::observar([&](const QString& l) { lineas << l; });
    Instantanea::ejemplo().guardar();
    EXPECT_EQ(lineas, QStringList{QStringLiteral("[widgets] sin contenedor compartido: K7Q2M9XW4D.ai.zentu.voz")});
    Tamanos::anotar(QStringLiteral("systemSmall"), {170, 170});  // silently nothing
}

TEST_F(ContenedorTemporal, TamanosMezclaPorFamilia) {
    auto leer = [&] { return QJsonDocument::fromJson(contenido(QStringLiteral("tamanos.json"))).object(); };
    Tamanos::anotar(QStringLiteral("systemSmall"), {170, 170});
    EXPECT_EQ(contenido(QStringLiteral("tamanos.json")), QByteArray("{\"systemSmall\":[170,170]}"));
    Tamanos::anotar(QStringLiteral("systemMedium"), {364, 170.5});
    EXPECT_EQ(leer(), (QJsonObject{{QStringLiteral("systemSmall"), QJsonArray{170, 170}},
                                   {QStringLiteral("systemMedium"), QJsonArray{364, 170.5}}}));
    Tamanos::anotar(QStringLiteral("systemSmall"), {158, 158});
    EXPECT_EQ(leer().value(QStringLiteral("systemSmall")).toArray(), (QJsonArray{158, 158}));
    EXPECT_EQ(leer().size(), 2);

    // Any value that is not a list of numbers drops every earlier entry.
    for (const QByteArray& malo : {QByteArray("{\"systemSmall\":[170,170],\"x\":\"y\"}"),
                                  QByteArray("{\"systemSmall\":[170,\"170\"]}"), QByteArray("[1,2]"),
                                  QByteArray("no es json")}) {
        SCOPED_TRACE(malo.constData());
        escribir(QStringLiteral("tamanos.json"), malo);
        Tamanos::anotar(QStringLiteral("systemLarge"), {364, 382});
        EXPECT_EQ(leer(), (QJsonObject{{QStringLiteral("systemLarge"), QJsonArray{364, 382}}}));
    }
}

TEST(Instantanea, ElEjemplo) {
    const Instantanea& e = Instantanea::ejemplo();
    EXPECT_EQ(&e, &Instantanea::ejemplo());
    EXPECT_TRUE(e.enlazada);
    EXPECT_EQ(e.totalPendientes, 3);
    ASSERT_EQ(e.dudas.size(), 3u);
    EXPECT_EQ(e.actualizado.secsTo(e.dudas[0].fecha), -600);
    EXPECT_EQ(e.actualizado.secsTo(e.dudas[2].fecha), -7200);
    EXPECT_EQ(e.agentes->at(0).nombre, QStringLiteral("Zentu"));
    EXPECT_TRUE(e.agentes->at(0).coordinador);
    EXPECT_EQ(e.dia->actividad.at(0).texto, QStringLiteral("Confirmó la reserva de la familia Tolmira"));
    EXPECT_EQ(e.creditos->porDia->size(), 7u);
    EXPECT_EQ(e.creditos->restantes, 769);
    EXPECT_EQ(e.dia->semana.at(4).n, 21);
}

TEST(EnlaceZentu, Enlaces) {
    EXPECT_EQ(EnlaceZentu::duda(7).toString(), QStringLiteral("zuzadari://duda/7"));
    EXPECT_EQ(EnlaceZentu::duda(305).toString(), QStringLiteral("zuzadari://duda/305"));
    EXPECT_EQ(EnlaceZentu::duda(42).path(), QStringLiteral("/42"));
    EXPECT_EQ(EnlaceZentu::duda(-3).toString(), QStringLiteral("zuzadari://duda/-3"));
    const std::vector<std::pair<QUrl, const char*>> fijos = {
        {EnlaceZentu::llamada(), "llamada"},   {EnlaceZentu::chat(), "chat"},
        {EnlaceZentu::pendientes(), "pendientes"}, {EnlaceZentu::creditos(), "creditos"},
        {EnlaceZentu::dia(), "dia"},           {EnlaceZentu::agentes(), "agentes"}};
    for (const auto& [url, host] : fijos) {
        SCOPED_TRACE(host);
        EXPECT_EQ(url.toString(), QStringLiteral("zuzadari://") + QLatin1String(host));
        EXPECT_EQ(url.scheme(), QStringLiteral("zuzadari"));
        EXPECT_EQ(url.host(), QLatin1String(host));
        EXPECT_TRUE(url.path().isEmpty());
        EXPECT_FALSE(url.hasQuery());
    }
}
