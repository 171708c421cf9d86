#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

// One program per desktop session: the first start owns a name on the session bus; a later
// start hands its arguments (switches, links) to it over D-Bus and ends. Without a session bus
// every start runs alone.
class InstanciaUnica : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "ai.zentu.voz.Instancia")
public:
    static inline const QString kRuta = QStringLiteral("/ai/zentu/voz");
    static inline const QString kInterfaz = QStringLiteral("ai.zentu.voz.Instancia");

    explicit InstanciaUnica(QString nombre, QDBusConnection bus = QDBusConnection::sessionBus(),
                            QObject* padre = nullptr);
    ~InstanciaUnica() override;

    // True when this process now owns the name (or there is no bus to ask).
    bool reclamar();
    // Hands the arguments to the owner; true once it has taken them.
    bool entregar(const QStringList& argumentos);

    // The arguments another start handed over, on the main thread.
    std::function<void(const QStringList&)> alRecibir;

public Q_SLOTS:
    Q_SCRIPTABLE void Argumentos(const QStringList& argumentos);

private:
    QString nombre_;
    QDBusConnection bus_;
    bool duena_ = false;
};
