#include "plataforma/Notificaciones.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QPointer>
#include <QVariantMap>
#include <QCoroDBus>
#include <QCoroSignal>

namespace {

const QString kRuta = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterfaz = QStringLiteral("org.freedesktop.Notifications");
const QString kEnLinea = QStringLiteral("inline-reply");

QString escapar(const QString& texto) { return texto.toHtmlEscaped(); }

}  // namespace

Notificaciones::Notificaciones(QString servicio, QObject* padre) : QObject(padre), servicio_(std::move(servicio)) {
    auto bus = QDBusConnection::sessionBus();
    bus.connect(servicio_, kRuta, kInterfaz, QStringLiteral("ActionInvoked"), this,
                SLOT(accionInvocada(uint, QString)));
    bus.connect(servicio_, kRuta, kInterfaz, QStringLiteral("NotificationReplied"), this,
                SLOT(respondida(uint, QString)));
    bus.connect(servicio_, kRuta, kInterfaz, QStringLiteral("NotificationClosed"), this,
                SLOT(cerrada(uint, uint)));
}

Notificaciones::~Notificaciones() = default;

Notificaciones& Notificaciones::centro() {
    static Notificaciones* unica = new Notificaciones();  // lives as long as the process
    return *unica;
}

void Notificaciones::registrarCategorias(std::vector<Categoria> categorias) { categorias_ = std::move(categorias); }

const Notificaciones::Categoria* Notificaciones::categoria(const QString& id) const {
    for (const Categoria& c : categorias_)
        if (c.id == id) return &c;
    return nullptr;
}

QCoro::Task<QStringList> Notificaciones::capacidades() {
    if (capacidades_) {
        // Returned as a copy: the task's result is moved out of whatever is returned.
        QStringList guardadas = *capacidades_;
        co_return guardadas;
    }
    QPointer<Notificaciones> yo(this);
    const auto llamada = QDBusMessage::createMethodCall(servicio_, kRuta, kInterfaz, QStringLiteral("GetCapabilities"));
    QDBusPendingReply<QStringList> respuesta = co_await QDBusConnection::sessionBus().asyncCall(llamada);
    if (!yo) co_return {};
    // A server that does not answer offers nothing; asked again at the next post.
    if (respuesta.isError()) co_return {};
    const QStringList ofrecidas = respuesta.value();
    capacidades_ = ofrecidas;
    co_return ofrecidas;
}

QCoro::Task<std::optional<QString>> Notificaciones::autorizar() {
    const auto llamada =
        QDBusMessage::createMethodCall(servicio_, kRuta, kInterfaz, QStringLiteral("GetServerInformation"));
    const QDBusMessage respuesta = co_await QDBusConnection::sessionBus().asyncCall(llamada);
    if (respuesta.type() == QDBusMessage::ErrorMessage) co_return respuesta.errorMessage();
    co_return std::nullopt;
}

QCoro::Task<bool> Notificaciones::respuestaEnLinea() {
    const QStringList lista = co_await capacidades();
    const bool hay = lista.contains(kEnLinea);
    co_return hay;
}

QCoro::Task<bool> Notificaciones::publicar(Aviso aviso) {
    QPointer<Notificaciones> yo(this);
    const quint64 turno = ++turnos_;
    while (terminados_ + 1 != turno) {
        co_await qCoro(this, &Notificaciones::turnoTerminado);
        if (!yo) co_return false;
    }
    // Whatever happens below, the next post may go.
    struct Fin {
        QPointer<Notificaciones> yo;
        ~Fin() {
            if (!yo) return;
            ++yo->terminados_;
            emit yo->turnoTerminado();
        }
    } fin{yo};

    const QStringList caps = co_await capacidades();
    if (!yo) co_return false;
    const bool marcado = caps.contains(QStringLiteral("body-markup"));
    const bool enLinea = caps.contains(kEnLinea);

    QString cuerpo;
    if (!aviso.subtitulo.isEmpty())
        cuerpo = marcado ? QStringLiteral("<b>") + escapar(aviso.subtitulo) + QStringLiteral("</b>") : aviso.subtitulo;
    if (!aviso.cuerpo.isEmpty()) {
        if (!cuerpo.isEmpty()) cuerpo += QLatin1Char('\n');
        cuerpo += marcado ? escapar(aviso.cuerpo) : aviso.cuerpo;
    }

    QStringList acciones{QString::fromLatin1(kTocar), QStringLiteral("Abrir")};
    QVariantMap pistas;
    if (const Categoria* c = categoria(aviso.categoria)) {
        bool textoPuesto = false;
        for (const Accion& a : c->acciones) {
            if (a.conTexto && enLinea && !textoPuesto) {
                acciones << kEnLinea << a.titulo;
                pistas.insert(QStringLiteral("x-kde-reply-placeholder-text"), a.marcador);
                pistas.insert(QStringLiteral("x-kde-reply-submit-button-text"), a.boton);
                textoPuesto = true;
            } else {
                acciones << a.id << a.titulo;
            }
        }
    }
    if (!aviso.sonido) {
        pistas.insert(QStringLiteral("suppress-sound"), true);
    } else if (aviso.sonido->isEmpty()) {
        pistas.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    } else {
        pistas.insert(QStringLiteral("sound-file"), *aviso.sonido);
    }
    pistas.insert(QStringLiteral("desktop-entry"), QStringLiteral("ai.zentu.voz"));

    uint reemplaza = 0;
    if (auto it = porIdentificador_.find(aviso.identificador); it != porIdentificador_.end()) reemplaza = it->second;

    auto llamada = QDBusMessage::createMethodCall(servicio_, kRuta, kInterfaz, QStringLiteral("Notify"));
    // The icon by its name in the desktop's icon theme, where the install puts it.
    llamada << QStringLiteral("Zentu") << reemplaza << QStringLiteral("ai.zentu.voz") << aviso.titulo << cuerpo << acciones << pistas
            << qint32(-1);
    QDBusPendingReply<uint> respuesta = co_await QDBusConnection::sessionBus().asyncCall(llamada);
    if (!yo) co_return false;
    if (respuesta.isError()) co_return false;
    const uint id = respuesta.value();
    if (reemplaza != 0 && reemplaza != id) entregas_.erase(reemplaza);
    porIdentificador_[aviso.identificador] = id;
    QString mostrado = aviso.subtitulo;
    if (!aviso.cuerpo.isEmpty()) mostrado += (mostrado.isEmpty() ? QString() : QStringLiteral("\n")) + aviso.cuerpo;
    entregas_[id] = Entrega{aviso.identificador, aviso.categoria, aviso.datos, aviso.titulo, mostrado};
    co_return true;
}

void Notificaciones::retirar(const QString& identificador) {
    const auto it = porIdentificador_.find(identificador);
    if (it == porIdentificador_.end()) return;
    const uint id = it->second;
    porIdentificador_.erase(it);
    entregas_.erase(id);
    auto llamada = QDBusMessage::createMethodCall(servicio_, kRuta, kInterfaz, QStringLiteral("CloseNotification"));
    llamada << id;
    QDBusConnection::sessionBus().asyncCall(llamada);
}

void Notificaciones::accionInvocada(uint id, const QString& clave) {
    const auto it = entregas_.find(id);
    if (it == entregas_.end() || !alResponder) return;
    // Servers without inline replies hand the text action back as a plain button.
    alResponder(Respuesta{it->second.identificador, it->second.datos, clave, std::nullopt, it->second.titulo,
                          it->second.mostrado});
}

void Notificaciones::respondida(uint id, const QString& texto) {
    const auto it = entregas_.find(id);
    if (it == entregas_.end() || !alResponder) return;
    QString accion = kEnLinea;
    if (const Categoria* c = categoria(it->second.categoria))
        for (const Accion& a : c->acciones)
            if (a.conTexto) {
                accion = a.id;
                break;
            }
    alResponder(Respuesta{it->second.identificador, it->second.datos, accion, texto, it->second.titulo,
                          it->second.mostrado});
}

void Notificaciones::cerrada(uint id, uint) {
    const auto it = entregas_.find(id);
    if (it == entregas_.end()) return;
    // A later answer to a closed bubble cannot come; its identifier is free for a new one.
    const auto porId = porIdentificador_.find(it->second.identificador);
    if (porId != porIdentificador_.end() && porId->second == id) porIdentificador_.erase(porId);
    entregas_.erase(it);
}
