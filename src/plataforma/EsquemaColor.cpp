#include "plataforma/EsquemaColor.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QPointer>

namespace {

const QString kRuta = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterfaz = QStringLiteral("org.freedesktop.portal.Settings");
const QString kEspacio = QStringLiteral("org.freedesktop.appearance");
const QString kClave = QStringLiteral("color-scheme");

// The portal wraps the value in one or two variants depending on its version.
QVariant desenvolver(QVariant v) {
    for (int i = 0; i < 3 && v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>(); ++i)
        v = qvariant_cast<QDBusVariant>(v).variant();
    return v;
}

}  // namespace

EsquemaColor::EsquemaColor(QObject* padre, const QString& servicio) : QObject(padre), servicio_(servicio) {
    actual_ = segunPaleta();
    if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    // The slot is looked up by its signature: its argument types must be known by name first.
    qRegisterMetaType<QDBusVariant>();
    bus.connect(servicio_, kRuta, kInterfaz, QStringLiteral("SettingChanged"), this,
                SLOT(ajusteCambiado(QString, QString, QDBusVariant)));
    preguntarAlPortal();
}

EsquemaColor& EsquemaColor::sistema() {
    static EsquemaColor* unico = new EsquemaColor(QCoreApplication::instance());
    return *unico;
}

Esquema EsquemaColor::segunPaleta() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return Esquema::claro;
    const QColor ventana = QGuiApplication::palette().color(QPalette::Window);
    return ventana.lightnessF() < 0.5 ? Esquema::oscuro : Esquema::claro;
}

void EsquemaColor::preguntarAlPortal() {
    QDBusMessage pregunta = QDBusMessage::createMethodCall(servicio_, kRuta, kInterfaz, QStringLiteral("Read"));
    pregunta << kEspacio << kClave;
    // Not auto-started: a desktop without a portal just keeps the palette's answer.
    pregunta.setAutoStartService(false);
    auto* vigia = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(pregunta, 2000), this);
    connect(vigia, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* v) {
        v->deleteLater();
        QDBusPendingReply<QDBusVariant> respuesta = *v;
        if (respuesta.isError()) return;
        aplicarValorPortal(respuesta.argumentAt(0));
    });
}

void EsquemaColor::ajusteCambiado(const QString& espacio, const QString& clave, const QDBusVariant& valor) {
    if (espacio != kEspacio || clave != kClave) return;
    aplicarValorPortal(valor.variant());
}

void EsquemaColor::aplicarValorPortal(const QVariant& valor) {
    const QVariant v = desenvolver(valor);
    bool ok = false;
    const uint n = v.toUInt(&ok);
    // Only 1 (prefer dark) and 2 (prefer light) state a preference; anything else defers.
    preferenciaPortal_ = ok && (n == 1 || n == 2) ? n : 0;
    recalcular();
}

bool EsquemaColor::eventFilter(QObject* objeto, QEvent* evento) {
    if (objeto == QCoreApplication::instance() && evento->type() == QEvent::ApplicationPaletteChange) recalcular();
    return QObject::eventFilter(objeto, evento);
}

void EsquemaColor::recalcular() {
    const Esquema nuevo = preferenciaPortal_ == 1   ? Esquema::oscuro
                          : preferenciaPortal_ == 2 ? Esquema::claro
                                                    : segunPaleta();
    if (nuevo == actual_) return;
    actual_ = nuevo;
    Q_EMIT cambio(actual_);
}
