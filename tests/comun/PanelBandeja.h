#pragma once

// The panel's side of the tray protocol, as a desktop with a tray offers it: a
// StatusNotifierWatcher on the session bus, so that Qt registers a tray item and exports its
// menu. It lives on a bus connection and a thread of its own, as another process would, so that
// the blocking calls a program in this process makes to it are answered while that program
// waits. Through it a test sees which items registered, and reads and clicks an item's menu as
// the panel does.

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <optional>
#include <vector>

namespace pruebas {

// The watcher itself: it notes who registered.
class VigiaBandeja : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ anfitrion)
    Q_PROPERTY(int ProtocolVersion READ version)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
public:
    bool anfitrion() const { return true; }
    int version() const { return 0; }
    QStringList items() const;
    void olvidar();

public slots:
    void RegisterStatusNotifierItem(const QString& servicio);
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& servicio);
    void StatusNotifierHostRegistered();

private:
    mutable QMutex mutex_;
    QStringList items_;
};

// One entry of an exported menu, as the panel receives it.
struct NodoMenu {
    int id = 0;
    QString etiqueta;  // as sent, mnemonic marks and all
    bool habilitado = true;
    QString tipo;  // "separator" for a separator, else empty
    std::vector<NodoMenu> hijos;
};

class PanelBandeja {
public:
    // `msLlamada`: how long the panel waits for an item to answer.
    explicit PanelBandeja(int msLlamada = 5000);
    ~PanelBandeja();
    PanelBandeja(const PanelBandeja&) = delete;
    PanelBandeja& operator=(const PanelBandeja&) = delete;

    // Whether the watcher is on the bus under its well-known name.
    bool listo() const { return listo_; }
    // The bus names of the items registered so far, oldest first.
    QStringList items() const { return vigia_->items(); }
    void olvidarItems() { vigia_->olvidar(); }

    // The path of `item`'s menu; empty when the item did not give one, with the bus's error, if
    // any, in `error`.
    QString menu(const QString& item, QString* error = nullptr);
    // The layout of that menu, whole; none when the item did not answer (its error in `error`).
    std::optional<NodoMenu> disposicion(const QString& item, const QString& menu, QString* error = nullptr);
    // The panel is about to show the submenu `id` (items fill their submenus then).
    void abrir(const QString& item, const QString& menu, int id);
    // A click on the entry `id`.
    void clic(const QString& item, const QString& menu, int id);

private:
    QDBusMessage llamar(const QDBusMessage& m);

    QString nombre_;
    QDBusConnection conexion_;
    QThread hilo_;
    VigiaBandeja* vigia_;
    int msLlamada_;
    bool listo_ = false;
};

}  // namespace pruebas
