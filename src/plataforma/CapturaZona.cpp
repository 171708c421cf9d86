#include "plataforma/CapturaZona.h"

#include "plataforma/Privacidad.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QUrl>
#include <QVariantMap>

namespace {

// Receives the portal's one answer to a screenshot request.
class RespuestaPortal : public QObject {
    Q_OBJECT
public:
    RespuestaPortal(QString archivo, std::function<void(bool)> fin, QObject* padre)
        : QObject(padre), archivo_(std::move(archivo)), fin_(std::move(fin)) {}

public Q_SLOTS:
    void Response(uint codigo, const QVariantMap& resultados) {
        bool escrita = false;
        if (codigo == 0) {
            const QString origen = QUrl(resultados.value(QStringLiteral("uri")).toString()).toLocalFile();
            if (!origen.isEmpty()) {
                QFile::remove(archivo_);
                escrita = QFile::copy(origen, archivo_);
                QFile::remove(origen);
            }
        }
        auto fin = std::move(fin_);
        deleteLater();
        if (fin) fin(escrita);
    }

private:
    QString archivo_;
    std::function<void(bool)> fin_;
};

bool porPortal(const QString& archivo, QObject* dueno, std::function<void(bool)>& alTerminar) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    const QString ficha = QStringLiteral("zentu%1").arg(QRandomGenerator::global()->generate());
    QString remitente = bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString ruta = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(remitente, ficha);
    auto* respuesta = new RespuestaPortal(archivo, alTerminar, dueno);
    // Listen before asking, so that a quick answer is not missed.
    bus.connect(QStringLiteral("org.freedesktop.portal.Desktop"), ruta, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), respuesta, SLOT(Response(uint, QVariantMap)));
    QDBusMessage pedido = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Screenshot"), QStringLiteral("Screenshot"));
    QVariantMap opciones{{QStringLiteral("interactive"), true}, {QStringLiteral("handle_token"), ficha}};
    pedido << QString() << opciones;
    const QDBusMessage r = bus.call(pedido, QDBus::Block, 5000);
    if (r.type() != QDBusMessage::ReplyMessage) {
        delete respuesta;
        return false;
    }
    return true;
}

}  // namespace

std::optional<CapturaZona::Herramienta> CapturaZona::herramienta(const QString& archivo) {
    const struct {
        const char* nombre;
        QStringList argumentos;
    } orden[] = {
        {"gnome-screenshot", {QStringLiteral("-a"), QStringLiteral("-f"), archivo}},
        {"spectacle", {QStringLiteral("-r"), QStringLiteral("-b"), QStringLiteral("-n"), QStringLiteral("-o"), archivo}},
        {"maim", {QStringLiteral("-s"), archivo}},
        {"scrot", {QStringLiteral("-s"), archivo}},
    };
    for (const auto& h : orden) {
        const QString ruta = QStandardPaths::findExecutable(QString::fromLatin1(h.nombre));
        if (!ruta.isEmpty()) return Herramienta{ruta, h.argumentos};
    }
    return std::nullopt;
}

bool CapturaZona::capturar(const QString& archivo, QObject* dueno, std::function<void(bool)> alTerminar) {
    // A Wayland desktop lets only its portal read the screen: the X11 tools would see XWayland's
    // windows alone.
    if (Privacidad::actual().sesion() == Privacidad::Sesion::wayland) return porPortal(archivo, dueno, alTerminar);
    const auto h = herramienta(archivo);
    if (!h) return false;
    auto* proceso = new QProcess(dueno);
    proceso->setProgram(h->programa);
    proceso->setArguments(h->argumentos);
    proceso->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QObject::connect(proceso, &QProcess::finished, proceso, [proceso, archivo, alTerminar] {
        proceso->deleteLater();
        if (alTerminar) alTerminar(QFileInfo(archivo).size() > 0);
    });
    proceso->start();
    if (!proceso->waitForStarted(5000)) {
        proceso->deleteLater();
        return false;
    }
    return true;
}

#include "CapturaZona.moc"
