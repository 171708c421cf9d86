#include "plataforma/AlmacenSecreto.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QMap>
#include <QTimer>
#include <utility>

// Spoken straight to the desktop's Secret Service over the session bus (the freedesktop.org
// Secret Service API), so the program does not carry a keyring client library of its own.

namespace {

// One secret as the service sends and takes it: the session that encodes it, the encoding's
// parameters, the value and its content type.
struct SecretoDBus {
    QDBusObjectPath sesion;
    QByteArray parametros;
    QByteArray valor;
    QString tipo;
};

QDBusArgument& operator<<(QDBusArgument& a, const SecretoDBus& s) {
    a.beginStructure();
    a << s.sesion << s.parametros << s.valor << s.tipo;
    a.endStructure();
    return a;
}

const QDBusArgument& operator>>(const QDBusArgument& a, SecretoDBus& s) {
    a.beginStructure();
    a >> s.sesion >> s.parametros >> s.valor >> s.tipo;
    a.endStructure();
    return a;
}

using Atributos = QMap<QString, QString>;
using Secretos = QMap<QDBusObjectPath, SecretoDBus>;
using Rutas = QList<QDBusObjectPath>;

}  // namespace

Q_DECLARE_METATYPE(SecretoDBus)

namespace AlmacenSecreto {
namespace {

const QString kServicio = QStringLiteral("org.freedesktop.secrets");
const QString kRaiz = QStringLiteral("/org/freedesktop/secrets");
const QString kIServicio = QStringLiteral("org.freedesktop.Secret.Service");
const QString kIColeccion = QStringLiteral("org.freedesktop.Secret.Collection");
const QString kIItem = QStringLiteral("org.freedesktop.Secret.Item");
const QString kISesion = QStringLiteral("org.freedesktop.Secret.Session");
const QString kIAviso = QStringLiteral("org.freedesktop.Secret.Prompt");
// Items carry the schema name libsecret gave them, so older items and ours look the same.
const QString kEsquema = QStringLiteral("ai.zentu.voz");
// A call the service does not answer gives up; a prompt waits for a person, so longer.
constexpr int kEsperaLlamada = 25000;
constexpr int kEsperaAviso = 180000;

// A failed step: the service's error, carried up to the public call that reports it.
struct Fallo {
    int estado;
    QString mensaje;
};

void registrarTipos() {
    static const bool hecho = [] {
        qDBusRegisterMetaType<SecretoDBus>();
        qDBusRegisterMetaType<Atributos>();
        qDBusRegisterMetaType<Secretos>();
        return true;
    }();
    (void)hecho;
}

bool esRutaVacia(const QDBusObjectPath& ruta) { return ruta.path().isEmpty() || ruta.path() == QLatin1String("/"); }

QDBusMessage llamarSinFallar(const QString& ruta, const QString& interfaz, const QString& metodo,
                             const QVariantList& argumentos) {
    auto mensaje = QDBusMessage::createMethodCall(kServicio, ruta, interfaz, metodo);
    mensaje.setArguments(argumentos);
    return QDBusConnection::sessionBus().call(mensaje, QDBus::Block, kEsperaLlamada);
}

QVariantList llamar(const QString& ruta, const QString& interfaz, const QString& metodo,
                    const QVariantList& argumentos = {}) {
    const QDBusMessage respuesta = llamarSinFallar(ruta, interfaz, metodo, argumentos);
    if (respuesta.type() != QDBusMessage::ReplyMessage) {
        const QDBusError error(respuesta);
        const int tipo = static_cast<int>(error.type());
        throw Fallo{tipo != 0 ? tipo : -1, error.message().isEmpty() ? error.name() : error.message()};
    }
    return respuesta.arguments();
}

template <typename T>
T argumento(const QVariantList& argumentos, int i) {
    return i < argumentos.size() ? qdbus_cast<T>(argumentos.at(i)) : T{};
}

// Waits for the answer to one of the service's prompts (a password to unlock a keyring, a
// confirmation), listening for it from construction to destruction.
class EsperaAviso : public QObject {
    Q_OBJECT
public:
    EsperaAviso(const QDBusConnection& bus, const QString& ruta) : bus_(bus), ruta_(ruta) {
        bus_.connect(kServicio, ruta_, kIAviso, QStringLiteral("Completed"), this, SLOT(completado(bool, QDBusVariant)));
    }
    ~EsperaAviso() override {
        bus_.disconnect(kServicio, ruta_, kIAviso, QStringLiteral("Completed"), this,
                        SLOT(completado(bool, QDBusVariant)));
    }

    QEventLoop bucle;
    bool terminado = false;
    bool descartado = false;
    QDBusVariant resultado;

public Q_SLOTS:
    void completado(bool fueDescartado, const QDBusVariant& valor) {
        terminado = true;
        descartado = fueDescartado;
        resultado = valor;
        bucle.quit();
    }

private:
    QDBusConnection bus_;
    QString ruta_;
};

// Shows the prompt and returns what it hands back. Dismissed, unanswered, or the service gone
// meanwhile: a failure.
QVariant atenderAviso(const QDBusObjectPath& aviso) {
    if (esRutaVacia(aviso)) return {};
    const QDBusConnection bus = QDBusConnection::sessionBus();
    EsperaAviso espera(bus, aviso.path());
    QDBusServiceWatcher vigia(kServicio, bus, QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&vigia, &QDBusServiceWatcher::serviceUnregistered, &espera.bucle, &QEventLoop::quit);
    QTimer plazo;
    plazo.setSingleShot(true);
    QObject::connect(&plazo, &QTimer::timeout, &espera.bucle, &QEventLoop::quit);
    llamar(aviso.path(), kIAviso, QStringLiteral("Prompt"), {QString()});
    plazo.start(kEsperaAviso);
    espera.bucle.exec();
    if (!espera.terminado) {
        // Nobody answered: take the prompt off the screen rather than leave it behind.
        llamarSinFallar(aviso.path(), kIAviso, QStringLiteral("Dismiss"), {});
        throw Fallo{static_cast<int>(QDBusError::NoReply), QStringLiteral("el llavero no respondió a tiempo")};
    }
    if (espera.descartado) {
        throw Fallo{static_cast<int>(QDBusError::AccessDenied), QStringLiteral("petición descartada en el llavero")};
    }
    return espera.resultado.variant();
}

// The given items or collections unlocked, asking the person if the service needs to; returns
// those that are open now.
Rutas desbloquear(const Rutas& objetos) {
    if (objetos.isEmpty()) return {};
    const QVariantList r = llamar(kRaiz, kIServicio, QStringLiteral("Unlock"), {QVariant::fromValue(objetos)});
    Rutas abiertos = argumento<Rutas>(r, 0);
    const auto aviso = argumento<QDBusObjectPath>(r, 1);
    if (!esRutaVacia(aviso)) abiertos += qdbus_cast<Rutas>(atenderAviso(aviso));
    return abiertos;
}

std::pair<Rutas, Rutas> buscar(const QString& servicio, const QString& cuenta) {
    const Atributos atributos{{QStringLiteral("service"), servicio}, {QStringLiteral("account"), cuenta}};
    const QVariantList r = llamar(kRaiz, kIServicio, QStringLiteral("SearchItems"), {QVariant::fromValue(atributos)});
    return {argumento<Rutas>(r, 0), argumento<Rutas>(r, 1)};
}

// A transfer session. Secrets go in plain form: the session bus between two processes of the
// same user is as private as the encoding would make it.
class Sesion {
public:
    Sesion() {
        const QVariantList r = llamar(kRaiz, kIServicio, QStringLiteral("OpenSession"),
                                      {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))});
        ruta_ = argumento<QDBusObjectPath>(r, 1);
        if (esRutaVacia(ruta_)) throw Fallo{static_cast<int>(QDBusError::Failed), QStringLiteral("sin sesión")};
    }
    ~Sesion() { llamarSinFallar(ruta_.path(), kISesion, QStringLiteral("Close"), {}); }
    Sesion(const Sesion&) = delete;
    Sesion& operator=(const Sesion&) = delete;

    const QDBusObjectPath& ruta() const { return ruta_; }

private:
    QDBusObjectPath ruta_;
};

// The collection behind the "default" alias, created if there is none, and unlocked.
QDBusObjectPath coleccionPredeterminada() {
    const QString alias = QStringLiteral("default");
    auto coleccion = argumento<QDBusObjectPath>(llamar(kRaiz, kIServicio, QStringLiteral("ReadAlias"), {alias}), 0);
    if (esRutaVacia(coleccion)) {
        const QVariantMap propiedades{
            {QStringLiteral("org.freedesktop.Secret.Collection.Label"), QStringLiteral("Default keyring")}};
        const QVariantList r = llamar(kRaiz, kIServicio, QStringLiteral("CreateCollection"), {propiedades, alias});
        coleccion = argumento<QDBusObjectPath>(r, 0);
        if (esRutaVacia(coleccion)) coleccion = qdbus_cast<QDBusObjectPath>(atenderAviso(argumento<QDBusObjectPath>(r, 1)));
        if (esRutaVacia(coleccion)) {
            throw Fallo{static_cast<int>(QDBusError::Failed), QStringLiteral("no se creó el llavero")};
        }
    }
    if (!desbloquear({coleccion}).contains(coleccion)) {
        throw Fallo{static_cast<int>(QDBusError::AccessDenied), QStringLiteral("el llavero sigue bloqueado")};
    }
    return coleccion;
}

// Every item under these names removed, but `salvo`.
void borrarSalvo(const QString& servicio, const QString& cuenta, const QDBusObjectPath& salvo) {
    try {
        const auto [abiertos, bloqueados] = buscar(servicio, cuenta);
        for (const QDBusObjectPath& item : abiertos + bloqueados) {
            if (item == salvo) continue;
            try {
                atenderAviso(argumento<QDBusObjectPath>(llamar(item.path(), kIItem, QStringLiteral("Delete")), 0));
            } catch (const Fallo&) {
                // One item that will not go (locked, refused) does not keep the others.
            }
        }
    } catch (const Fallo&) {
        // No service: nothing stored there to remove.
    }
}

}  // namespace

std::optional<QByteArray> leer(const QString& servicio, const QString& cuenta) {
    registrarTipos();
    try {
        auto [abiertos, bloqueados] = buscar(servicio, cuenta);
        // Ask to unlock only when nothing matching is open already.
        if (abiertos.isEmpty()) abiertos = desbloquear(bloqueados);
        if (abiertos.isEmpty()) return std::nullopt;
        const QDBusObjectPath item = abiertos.first();
        Sesion sesion;
        const QVariantList r = llamar(kRaiz, kIServicio, QStringLiteral("GetSecrets"),
                                      {QVariant::fromValue(Rutas{item}), QVariant::fromValue(sesion.ruta())});
        const auto secretos = argumento<Secretos>(r, 0);
        const auto it = secretos.constFind(item);
        if (it == secretos.cend()) return std::nullopt;
        return it->valor;
    } catch (const Fallo&) {
        return std::nullopt;
    }
}

Resultado guardar(const QString& servicio, const QString& cuenta, const QByteArray& datos,
                  const QString& etiqueta) {
    registrarTipos();
    try {
        const QDBusObjectPath coleccion = coleccionPredeterminada();
        Sesion sesion;
        const Atributos atributos{{QStringLiteral("service"), servicio},
                                  {QStringLiteral("account"), cuenta},
                                  {QStringLiteral("xdg:schema"), kEsquema}};
        const QVariantMap propiedades{
            {QStringLiteral("org.freedesktop.Secret.Item.Label"), etiqueta},
            {QStringLiteral("org.freedesktop.Secret.Item.Attributes"), QVariant::fromValue(atributos)}};
        const SecretoDBus secreto{sesion.ruta(), {}, datos, QStringLiteral("text/plain")};
        const QVariantList r = llamar(coleccion.path(), kIColeccion, QStringLiteral("CreateItem"),
                                      {propiedades, QVariant::fromValue(secreto), true});
        QDBusObjectPath hecho = argumento<QDBusObjectPath>(r, 0);
        const QVariant tras = atenderAviso(argumento<QDBusObjectPath>(r, 1));
        if (esRutaVacia(hecho)) hecho = qdbus_cast<QDBusObjectPath>(tras);
        // Older copies under the same names (another program's, or one without our schema) go
        // only once the new one is in: a reader never finds none, and a program stopped half way
        // keeps an account. Where the service does not say which item is the new one, the older
        // ones stay rather than risk removing it.
        if (!esRutaVacia(hecho)) borrarSalvo(servicio, cuenta, hecho);
        return {};
    } catch (const Fallo& f) {
        return {f.estado, f.mensaje};
    }
}

void borrar(const QString& servicio, const QString& cuenta) {
    registrarTipos();
    borrarSalvo(servicio, cuenta, {});
}

}  // namespace AlmacenSecreto

#include "AlmacenSecreto.moc"
