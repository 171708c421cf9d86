// The keychain against the desktop's real Secret Service (the keyring the test command
// starts), against a session bus that has none, and against a stand-in service whose keyring is
// locked, so that its prompts are answered, dismissed or left behind.
#include "plataforma/AlmacenSecreto.h"

#include "comun/Ayudas.h"
#include "comun/PortalSimulado.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <cstdio>

namespace {

// Apart from the program's own item, which other test programs use at the same time.
const QString kServicio = QStringLiteral("ai.zentu.prueba.almacen");

bool hayBus() { return qEnvironmentVariableIsSet("DBUS_SESSION_BUS_ADDRESS"); }

QByteArray secretTool(const QStringList& argumentos, const QByteArray& entrada = {}) {
    QProcess herramienta;
    herramienta.start(QStringLiteral("secret-tool"), argumentos);
    if (!herramienta.waitForStarted()) return {};
    herramienta.write(entrada);
    herramienta.closeWriteChannel();
    herramienta.waitForFinished(10000);
    return herramienta.readAllStandardOutput() + herramienta.readAllStandardError();
}

QByteArray buscarTodo(const QString& cuenta) {
    return secretTool({"search", "--all", "service", kServicio, "account", cuenta});
}

int cuantos(const QString& cuenta) { return static_cast<int>(buscarTodo(cuenta).count("secret = ")); }

// Bytes a person's account may hold: plain ASCII, and UTF-8 JSON with accents and an emoji.
const QList<QByteArray> kValores = {
    QByteArrayLiteral("token-simple"),
    QStringLiteral(R"({"url":"https://zentu.ai","token":"t","correo":"peña@niño.mx","nombre":"José Ñúñez 😀"})")
        .toUtf8(),
};

TEST(AlmacenSecreto, LeeLoQueGuardoSecretTool) {
    if (!hayBus()) GTEST_SKIP() << "sin bus de sesión (el comando de pruebas lo arranca)";
    const QString cuenta = QStringLiteral("de-secret-tool");
    for (const QByteArray& valor : kValores) {
        AlmacenSecreto::borrar(kServicio, cuenta);
        secretTool({"store", "--label=Prueba", "service", kServicio, "account", cuenta}, valor);
        ASSERT_EQ(cuantos(cuenta), 1);
        EXPECT_EQ(AlmacenSecreto::leer(kServicio, cuenta), valor);
    }
    AlmacenSecreto::borrar(kServicio, cuenta);
}

TEST(AlmacenSecreto, SecretToolEncuentraLoGuardadoYReemplazarDejaUno) {
    if (!hayBus()) GTEST_SKIP() << "sin bus de sesión";
    const QString cuenta = QStringLiteral("guardada");
    AlmacenSecreto::borrar(kServicio, cuenta);
    // An older copy written by another program (no schema) is replaced too.
    secretTool({"store", "--label=Vieja", "service", kServicio, "account", cuenta}, "vieja");
    ASSERT_EQ(cuantos(cuenta), 1);
    for (const QByteArray& valor : kValores) {
        const auto r = AlmacenSecreto::guardar(kServicio, cuenta, valor, QStringLiteral("Etiqueta"));
        EXPECT_EQ(r.estado, 0) << r.mensaje.toStdString();
        EXPECT_EQ(secretTool({"lookup", "service", kServicio, "account", cuenta}), valor);
        EXPECT_EQ(AlmacenSecreto::leer(kServicio, cuenta), valor);
        // Saved again over the first: still one item.
        const QByteArray todo = buscarTodo(cuenta);
        EXPECT_EQ(todo.count("secret = "), 1) << todo.toStdString();
        EXPECT_TRUE(todo.contains("label = Etiqueta"));
        EXPECT_TRUE(todo.contains("schema = ai.zentu.voz")) << todo.toStdString();
    }
    AlmacenSecreto::borrar(kServicio, cuenta);
}

TEST(AlmacenSecreto, BorrarQuitaCadaCopiaYSoloLaSuya) {
    if (!hayBus()) GTEST_SKIP() << "sin bus de sesión";
    const QString cuenta = QStringLiteral("borrada"), otra = QStringLiteral("vecina");
    // One copy of ours and one written afterwards by another program, with a name of its own
    // beside ours (so the keyring keeps both): two items.
    ASSERT_EQ(AlmacenSecreto::guardar(kServicio, cuenta, "nueva", "Nueva").estado, 0);
    secretTool({"store", "--label=Vieja", "service", kServicio, "account", cuenta, "origen", "otro"}, "vieja");
    ASSERT_EQ(AlmacenSecreto::guardar(kServicio, otra, "de-la-vecina", "Vecina").estado, 0);
    ASSERT_EQ(cuantos(cuenta), 2);

    AlmacenSecreto::borrar(kServicio, cuenta);
    EXPECT_EQ(cuantos(cuenta), 0);
    EXPECT_FALSE(AlmacenSecreto::leer(kServicio, cuenta).has_value());
    EXPECT_EQ(AlmacenSecreto::leer(kServicio, otra), QByteArray("de-la-vecina"));
    AlmacenSecreto::borrar(kServicio, cuenta);  // nothing left to delete: no harm
    AlmacenSecreto::borrar(kServicio, otra);
    EXPECT_EQ(cuantos(otra), 0);
}

// ---------------------------------------------------------------- a private bus

// A session bus of our own, with no service that D-Bus could start on demand: on it the
// Secret Service is only there if a test puts one there.
class BusPrivado : public pruebas::BusPrivado {
public:
    ~BusPrivado() { QDBusConnection::disconnectFromBus(QStringLiteral("privado")); }
    QDBusConnection conexion() const { return QDBusConnection::connectToBus(direccion(), QStringLiteral("privado")); }

    // Runs one operation of the keychain in a child process whose session bus is this one,
    // turning the event loop meanwhile so that a stand-in service here can answer it.
    std::string operarEnHijo(const QString& operacion) const {
        QProcess hijo;
        QProcessEnvironment entorno = QProcessEnvironment::systemEnvironment();
        entorno.insert("ZENTU_ALMACEN_OPERACION", operacion);
        entorno.insert("DBUS_SESSION_BUS_ADDRESS", direccion());
        hijo.setProcessEnvironment(entorno);
        hijo.start(QCoreApplication::applicationFilePath(), {"--gtest_filter=AlmacenSecretoHijo.Operar"});
        pruebas::esperarHasta([&] { return hijo.state() == QProcess::NotRunning; }, 60000);
        if (hijo.state() != QProcess::NotRunning) {
            hijo.kill();
            hijo.waitForFinished();
            return "el hijo no terminó";
        }
        const QByteArray salida = hijo.readAllStandardOutput();
        const qsizetype i = salida.indexOf("resultado: ");
        return (i < 0 ? salida : salida.mid(i + 11, salida.indexOf('\n', i) - i - 11)).toStdString();
    }
};

// The child's side: one call, its outcome printed on one line for the parent to compare.
TEST(AlmacenSecretoHijo, Operar) {
    const QString operacion = qEnvironmentVariable("ZENTU_ALMACEN_OPERACION");
    if (operacion.isEmpty()) GTEST_SKIP() << "solo en el proceso hijo";
    QByteArray resultado;
    if (operacion == "leer") {
        const auto valor = AlmacenSecreto::leer(kServicio, "cuenta");
        resultado = valor ? "valor " + *valor : QByteArray("nada");
    } else if (operacion == "guardar") {
        const auto r = AlmacenSecreto::guardar(kServicio, "cuenta", "secreto-ñ", "Etiqueta");
        resultado = r.estado == 0 ? QByteArray("guardado")
                                  : "error " + QByteArray(r.mensaje.isEmpty() ? "sin mensaje" : "con mensaje");
    } else {
        AlmacenSecreto::borrar(kServicio, "cuenta");
        resultado = "borrado";
    }
    std::printf("resultado: %s\n", resultado.constData());
}

TEST(AlmacenSecreto, SinServicioSecretoLeerDaNadaYGuardarFalla) {
    BusPrivado bus;
    ASSERT_FALSE(bus.direccion().isEmpty()) << "dbus-daemon no arrancó";
    EXPECT_EQ(bus.operarEnHijo("leer"), "nada");
    EXPECT_EQ(bus.operarEnHijo("guardar"), "error con mensaje");
    EXPECT_EQ(bus.operarEnHijo("borrar"), "borrado");
}

// ---------------------------------------------------------------- a locked stand-in

struct Secreto {
    QDBusObjectPath sesion;
    QByteArray parametros, valor;
    QString tipo;
};
QDBusArgument& operator<<(QDBusArgument& a, const Secreto& s) {
    a.beginStructure();
    a << s.sesion << s.parametros << s.valor << s.tipo;
    a.endStructure();
    return a;
}
const QDBusArgument& operator>>(const QDBusArgument& a, Secreto& s) {
    a.beginStructure();
    a >> s.sesion >> s.parametros >> s.valor >> s.tipo;
    a.endStructure();
    return a;
}

}  // namespace

Q_DECLARE_METATYPE(Secreto)

namespace {

using Rutas = QList<QDBusObjectPath>;
using Atributos = QMap<QString, QString>;
using Secretos = QMap<QDBusObjectPath, Secreto>;

// A Secret Service whose one collection and item are locked: every unlock, the deletion and a
// missing default collection go through a prompt, which it answers as the test says.
class ServicioBloqueado : public QDBusVirtualObject {
public:
    enum class Aviso { Aceptar, Descartar, Desaparecer };

    ServicioBloqueado(QDBusConnection bus, Aviso aviso, bool conColeccion)
        : bus_(std::move(bus)), aviso_(aviso), conColeccion_(conColeccion) {
        qDBusRegisterMetaType<Secreto>();
        qDBusRegisterMetaType<Secretos>();
        qDBusRegisterMetaType<Atributos>();
        bus_.registerVirtualObject(kRaiz, this, QDBusConnection::SubPath);
        bus_.registerService(QStringLiteral("org.freedesktop.secrets"));
    }
    ~ServicioBloqueado() override {
        bus_.unregisterService(QStringLiteral("org.freedesktop.secrets"));
        bus_.unregisterObject(kRaiz, QDBusConnection::UnregisterTree);
    }

    QStringList llamadas;  // "Interface.Method", in order
    QVariantMap propiedadesItem;
    Secreto secretoItem;
    bool reemplazar = false;
    QString etiquetaColeccion, aliasColeccion;

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& m, const QDBusConnection& conexion) override {
        if (m.type() != QDBusMessage::MethodCallMessage) return false;
        const QString metodo = m.member();
        llamadas << m.interface().section('.', -1) + "." + metodo;
        const QVariantList a = m.arguments();
        QVariantList respuesta;
        if (metodo == "SearchItems") {
            respuesta = {QVariant::fromValue(Rutas{}), QVariant::fromValue(Rutas{ruta(kItem)})};
        } else if (metodo == "Unlock") {
            respuesta = {QVariant::fromValue(Rutas{}), QVariant::fromValue(ruta(kAviso))};
            avisoDa_ = QVariant::fromValue(qdbus_cast<Rutas>(a.value(0)));
        } else if (metodo == "Prompt") {
            conexion.send(m.createReply());
            if (aviso_ == Aviso::Desaparecer) {
                bus_.unregisterService(QStringLiteral("org.freedesktop.secrets"));
                return true;
            }
            auto senal = QDBusMessage::createSignal(kAviso, "org.freedesktop.Secret.Prompt", "Completed");
            senal << (aviso_ == Aviso::Descartar) << QVariant::fromValue(QDBusVariant(avisoDa_));
            conexion.send(senal);
            return true;
        } else if (metodo == "Dismiss") {
        } else if (metodo == "OpenSession") {
            respuesta = {QVariant::fromValue(QDBusVariant(QString())), QVariant::fromValue(ruta(kSesion))};
        } else if (metodo == "Close") {
        } else if (metodo == "GetSecrets") {
            Secretos s;
            for (const auto& item : qdbus_cast<Rutas>(a.value(0)))
                s.insert(item, Secreto{ruta(kSesion), {}, QByteArray("guardado-ñ"), "text/plain"});
            respuesta = {QVariant::fromValue(s)};
        } else if (metodo == "ReadAlias") {
            respuesta = {QVariant::fromValue(ruta(conColeccion_ ? kColeccion : "/"))};
        } else if (metodo == "CreateCollection") {
            const auto propiedades = qdbus_cast<QVariantMap>(a.value(0));
            etiquetaColeccion = propiedades.value("org.freedesktop.Secret.Collection.Label").toString();
            aliasColeccion = a.value(1).toString();
            respuesta = {QVariant::fromValue(ruta("/")), QVariant::fromValue(ruta(kAviso))};
            avisoDa_ = QVariant::fromValue(ruta(kColeccion));
        } else if (metodo == "CreateItem") {
            propiedadesItem = qdbus_cast<QVariantMap>(a.value(0));
            secretoItem = qdbus_cast<Secreto>(a.value(1));
            reemplazar = a.value(2).toBool();
            respuesta = {QVariant::fromValue(ruta(kItem)), QVariant::fromValue(ruta("/"))};
        } else if (metodo == "Delete") {
            respuesta = {QVariant::fromValue(ruta(kAviso))};
            avisoDa_ = QVariant::fromValue(QString());
        } else {
            conexion.send(m.createErrorReply(QDBusError::UnknownMethod, metodo));
            return true;
        }
        conexion.send(m.createReply(respuesta));
        return true;
    }

    static inline const QString kRaiz = QStringLiteral("/org/freedesktop/secrets");
    static inline const QString kColeccion = kRaiz + "/collection/login";
    static inline const QString kItem = kColeccion + "/1";
    static inline const QString kAviso = kRaiz + "/prompt/1";
    static inline const QString kSesion = kRaiz + "/session/1";

private:
    static QDBusObjectPath ruta(const QString& r) { return QDBusObjectPath(r); }

    QDBusConnection bus_;
    Aviso aviso_;
    bool conColeccion_;
    QVariant avisoDa_;  // what the pending prompt hands back when answered
};

using Aviso = ServicioBloqueado::Aviso;

TEST(AlmacenSecreto, LeerDesbloqueaConAvisoYDescartarloDaNada) {
    struct Caso {
        Aviso aviso;
        QByteArray esperado;
        QStringList llamadas;
    };
    const QList<Caso> casos = {
        {Aviso::Aceptar, QStringLiteral("valor guardado-ñ").toUtf8(),
         {"Service.SearchItems", "Service.Unlock", "Prompt.Prompt", "Service.OpenSession", "Service.GetSecrets",
          "Session.Close"}},
        {Aviso::Descartar, "nada", {"Service.SearchItems", "Service.Unlock", "Prompt.Prompt"}},
        // The service leaves the bus while its prompt is up: no answer will ever come.
        {Aviso::Desaparecer, "nada", {"Service.SearchItems", "Service.Unlock", "Prompt.Prompt"}},
    };
    for (const Caso& caso : casos) {
        BusPrivado bus;
        ASSERT_FALSE(bus.direccion().isEmpty());
        ServicioBloqueado servicio(bus.conexion(), caso.aviso, true);
        EXPECT_EQ(bus.operarEnHijo("leer"), caso.esperado.toStdString()) << static_cast<int>(caso.aviso);
        EXPECT_EQ(servicio.llamadas.join(' ').toStdString(), caso.llamadas.join(' ').toStdString());
    }
}

TEST(AlmacenSecreto, GuardarCreaElLlaveroOLoDesbloqueaYDescartarEsError) {
    {
        BusPrivado bus;
        ServicioBloqueado servicio(bus.conexion(), Aviso::Aceptar, false);
        EXPECT_EQ(bus.operarEnHijo("guardar"), "guardado");
        EXPECT_EQ(servicio.etiquetaColeccion, "Default keyring");
        EXPECT_EQ(servicio.aliasColeccion, "default");
        EXPECT_EQ(servicio.propiedadesItem.value("org.freedesktop.Secret.Item.Label").toString(), "Etiqueta");
        const auto atributos =
            qdbus_cast<Atributos>(servicio.propiedadesItem.value("org.freedesktop.Secret.Item.Attributes"));
        EXPECT_EQ(atributos, (Atributos{{"service", kServicio}, {"account", "cuenta"}, {"xdg:schema", "ai.zentu.voz"}}));
        EXPECT_EQ(servicio.secretoItem.valor, QStringLiteral("secreto-ñ").toUtf8());
        EXPECT_EQ(servicio.secretoItem.tipo, "text/plain");
        EXPECT_EQ(servicio.secretoItem.sesion.path(), ServicioBloqueado::kSesion);
        EXPECT_TRUE(servicio.reemplazar);
        EXPECT_EQ(servicio.llamadas.last(), "Session.Close");
    }
    for (const Aviso aviso : {Aviso::Descartar, Aviso::Desaparecer}) {
        BusPrivado bus;
        ServicioBloqueado servicio(bus.conexion(), aviso, true);
        EXPECT_EQ(bus.operarEnHijo("guardar"), "error con mensaje");
        EXPECT_FALSE(servicio.llamadas.contains("Collection.CreateItem")) << servicio.llamadas.join(' ').toStdString();
    }
}

TEST(AlmacenSecreto, BorrarAtiendeElAvisoDelServicio) {
    BusPrivado bus;
    ServicioBloqueado servicio(bus.conexion(), Aviso::Aceptar, true);
    EXPECT_EQ(bus.operarEnHijo("borrar"), "borrado");
    EXPECT_EQ(servicio.llamadas.join(' ').toStdString(), "Service.SearchItems Item.Delete Prompt.Prompt");
}

}  // namespace
