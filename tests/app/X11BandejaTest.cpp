#include "comun/Ayudas.h"
#include "zentu/app/Bandeja.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMenu>
#include <QMutex>
#include <QThread>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

// The panel's side of the tray protocol, just enough for Qt to register its item and for the
// test to read the exported menu as a panel would.
class VigiaBandeja : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ anfitrion)
    Q_PROPERTY(int ProtocolVersion READ version)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    bool anfitrion() const { return true; }
    int version() const { return 0; }
    QStringList items() const {
        QMutexLocker cerrojo(&mutex_);
        return items_;
    }
public slots:
    void RegisterStatusNotifierItem(const QString& servicio) {
        // Qt registers with its unique connection name or a well-known one.
        const QString nombre = servicio.startsWith('/') ? message().service() : servicio;
        {
            QMutexLocker cerrojo(&mutex_);
            items_ << nombre;
        }
    }
    void RegisterStatusNotifierHost(const QString&) {}
signals:
    void StatusNotifierItemRegistered(const QString& servicio);
    void StatusNotifierHostRegistered();

private:
    mutable QMutex mutex_;
    QStringList items_;
};

namespace {

// One node of a dbusmenu layout: its label, whether enabled, and its children.
struct Nodo {
    int id = 0;
    QString etiqueta;
    bool habilitado = true;
    QString tipo;
    std::vector<Nodo> hijos;
};

Nodo leerNodo(const QDBusArgument& arg) {
    Nodo n;
    arg.beginStructure();
    arg >> n.id;
    QVariantMap props;
    arg >> props;
    n.etiqueta = props.value("label").toString();
    n.habilitado = props.value("enabled", true).toBool();
    n.tipo = props.value("type").toString();
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant v;
        arg >> v;
        n.hijos.push_back(leerNodo(v.variant().value<QDBusArgument>()));
    }
    arg.endArray();
    arg.endStructure();
    return n;
}

QStringList etiquetas(const Nodo& n) {
    QStringList l;
    for (const Nodo& h : n.hijos) l << (h.tipo == "separator" ? QStringLiteral("---") : QString(h.etiqueta).remove('&'));
    return l;
}

TEST(X11Bandeja, ElPanelVeElIconoYElMenu) {
    // The panel is another process: its own connection and thread, so that the program's
    // blocking calls to it are answered; its calls keep this thread's loop turning.
    auto panel = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "panel");
    auto llamar = [&](QDBusMessage m) { return panel.call(m, QDBus::BlockWithGui, 5000); };
    QThread hilo;
    auto* vigiaPtr = new VigiaBandeja;
    VigiaBandeja& vigia = *vigiaPtr;
    vigia.moveToThread(&hilo);
    QObject::connect(&hilo, &QThread::finished, vigiaPtr, &QObject::deleteLater);
    hilo.start();
    bool registrado = false;
    QMetaObject::invokeMethod(
        vigiaPtr, [&] { registrado = panel.registerObject("/StatusNotifierWatcher", vigiaPtr, QDBusConnection::ExportAllContents); },
        Qt::BlockingQueuedConnection);
    ASSERT_TRUE(registrado);
    ASSERT_TRUE(panel.registerService("org.kde.StatusNotifierWatcher"));
    struct Parar {
        QThread& h;
        QDBusConnection& p;
        ~Parar() {
            p.unregisterService("org.kde.StatusNotifierWatcher");
            p.unregisterObject("/StatusNotifierWatcher");
            h.quit();
            h.wait();
        }
    } parar{hilo, panel};

    Bandeja bandeja;
    std::vector<std::pair<MenuBandeja::Accion, qint64>> elegidos;
    bandeja.alElegir = [&](MenuBandeja::Accion a, qint64 e) { elegidos.emplace_back(a, e); };
    MenuBandeja::Datos datos;
    datos.llamada = Atajos::porDefecto(Atajos::Cual::llamada);
    datos.conversacion = Atajos::porDefecto(Atajos::Cual::conversacion);
    datos.chat = Atajos::porDefecto(Atajos::Cual::chat);
    datos.pantalla = Atajos::porDefecto(Atajos::Cual::pantalla);
    datos.zona = Atajos::porDefecto(Atajos::Cual::zona);
    datos.agentes = std::vector<Instantanea::Agente>{{1, "zentu", "coordinador", true, 0, true},
                                                     {4, "ventas", "ventas", false, 0, false}};
    bandeja.montar(datos);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return !vigia.items().isEmpty(); }));
    const QString servicio = vigia.items().first();

    QDBusMessage pedirMenu = QDBusMessage::createMethodCall(servicio, "/StatusNotifierItem",
                                                            "org.freedesktop.DBus.Properties", "Get");
    pedirMenu << QString("org.kde.StatusNotifierItem") << QString("Menu");
    const QDBusMessage respuestaMenu = llamar(pedirMenu);
    ASSERT_EQ(respuestaMenu.type(), QDBusMessage::ReplyMessage) << respuestaMenu.errorMessage().toStdString();
    const auto menuCamino = respuestaMenu.arguments().value(0).value<QDBusVariant>().variant().value<QDBusObjectPath>();
    ASSERT_FALSE(menuCamino.path().isEmpty());

    auto disposicion = [&] {
        QDBusMessage m = QDBusMessage::createMethodCall(servicio, menuCamino.path(), "com.canonical.dbusmenu", "GetLayout");
        m << 0 << -1 << QStringList();
        const QDBusMessage r = llamar(m);
        EXPECT_EQ(r.type(), QDBusMessage::ReplyMessage) << r.errorMessage().toStdString();
        return leerNodo(r.arguments().value(1).value<QDBusArgument>());
    };
    Nodo raiz = disposicion();
    QStringList l = etiquetas(raiz);
    ASSERT_GE(l.size(), 12);
    EXPECT_TRUE(l[0].startsWith("Llamar a Zentu")) << l[0].toStdString();
    EXPECT_EQ(l[4], "---");
    EXPECT_EQ(l[5], "Tus agentes — 1 trabajando · 1 en pausa");
    EXPECT_EQ(l.mid(l.size() - 2), (QStringList{"Enlazar con el panel…", "Salir de Zentu AI"}));
    // The submenu's header is shown as a disabled item.
    Nodo agentes = raiz.hijos[5];
    if (agentes.hijos.empty()) {
        // Submenus are sent when the panel opens them.
        QDBusMessage m = QDBusMessage::createMethodCall(servicio, menuCamino.path(), "com.canonical.dbusmenu", "AboutToShow");
        m << agentes.id;
        llamar(m);
        raiz = disposicion();
        agentes = raiz.hijos[5];
    }
    ASSERT_FALSE(agentes.hijos.empty());
    EXPECT_EQ(agentes.hijos[0].etiqueta, "Trabajando");
    EXPECT_FALSE(agentes.hijos[0].habilitado);

    // A click from the panel reaches the program: "Ver el equipo…" and the paused agent.
    auto clic = [&](int id) {
        QDBusMessage m = QDBusMessage::createMethodCall(servicio, menuCamino.path(), "com.canonical.dbusmenu", "Event");
        m << id << QString("clicked") << QVariant::fromValue(QDBusVariant(QVariant(0))) << uint(0);
        llamar(m);
    };
    clic(agentes.hijos.back().id);
    for (const Nodo& h : agentes.hijos)
        if (h.etiqueta == "Ventas") clic(h.id);
    ASSERT_TRUE(pruebas::esperarHasta([&] { return elegidos.size() == 2; }));
    EXPECT_EQ(elegidos[0], std::make_pair(MenuBandeja::Accion::agentes, qint64(0)));
    EXPECT_EQ(elegidos[1], std::make_pair(MenuBandeja::Accion::alternarAgente, qint64(4)));

    // The tooltip belongs to whichever ran last.
    const QString ayudaMenu = MenuBandeja::ayudaIcono(datos.llamada, datos.conversacion);
    EXPECT_EQ(bandeja.item()->toolTip(), ayudaMenu);
    bandeja.pintarContador(3);
    EXPECT_EQ(bandeja.item()->toolTip(), "3 decisiones esperan por ti");
    bandeja.pintarContador(0);
    EXPECT_EQ(bandeja.item()->toolTip(), "3 decisiones esperan por ti");
    bandeja.montar(datos);
    EXPECT_EQ(bandeja.item()->toolTip(), ayudaMenu);

    // Rebuilding after unpairing and with no agents changes the exported menu.
    datos.agentes.reset();
    datos.cuenta = Cuenta{"https://z.example", "t", "lupe@tacos.mx", "Tacos Lupe"};
    bandeja.montar(datos);
    ASSERT_TRUE(pruebas::esperarHasta([&] {
        const QStringList ahora = etiquetas(disposicion());
        return ahora.size() >= 2 && ahora[ahora.size() - 2] == "Tacos Lupe — lupe@tacos.mx";
    }));
}

}  // namespace

#include "X11BandejaTest.moc"
