#pragma once

#include "zentu/app/MenuBandeja.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

// The program's one permanent presence: its icon in the panel's tray (a StatusNotifierItem over
// D-Bus where the desktop offers one, the older XEmbed tray elsewhere) with the menu of every
// action. The icon is drawn in the ink of the desktop's colour scheme and carries the pending
// count; the menu is rebuilt from scratch whenever something it shows may have changed.
class Bandeja : public QObject {
    Q_OBJECT
public:
    explicit Bandeja(QObject* padre = nullptr);
    ~Bandeja() override;

    // Creates the tray item on first use, sets its tooltip from the hot keys and builds a new menu.
    void montar(const MenuBandeja::Datos& datos);
    // Shows or clears the pending count; with 1 or more it also takes the tooltip.
    void pintarContador(int total);

    std::function<void(MenuBandeja::Accion accion, qint64 etiqueta)> alElegir;

    // Whether the desktop has a panel that shows tray icons right now.
    static bool disponible();
    // The menu on its own, where the owner asked for it (global coordinates).
    void mostrarMenu(QPoint donde);

    QSystemTrayIcon* item() const { return item_; }
    QMenu* menu() const { return menu_.get(); }
    QString ayuda() const { return ayuda_; }
    int total() const { return total_; }

private:
    void repintar();

    QSystemTrayIcon* item_ = nullptr;
    std::unique_ptr<QMenu> menu_;
    QString ayuda_;
    int total_ = 0;
};
