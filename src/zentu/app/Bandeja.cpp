#include "zentu/app/Bandeja.h"

#include "plataforma/EsquemaColor.h"
#include "zentu/isla/Vidrio.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

Bandeja::Bandeja(QObject* padre) : QObject(padre), menu_(std::make_unique<QMenu>()) {}

Bandeja::~Bandeja() {
    if (item_) item_->setContextMenu(nullptr);
    delete item_;
    MenuBandeja::vaciar(*menu_);
}

void Bandeja::montar(const MenuBandeja::Datos& datos) {
    if (!item_) {
        item_ = new QSystemTrayIcon(this);
        item_->setContextMenu(menu_.get());
        // A left click opens the menu too, as the panel's other items do.
        connect(item_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason razon) {
            if (razon == QSystemTrayIcon::Trigger) menu_->popup(QCursor::pos());
        });
        connect(&EsquemaColor::sistema(), &EsquemaColor::cambio, this, [this] { repintar(); });
        repintar();
        item_->show();
    }
    ayuda_ = MenuBandeja::ayudaIcono(datos.llamada, datos.conversacion);
    item_->setToolTip(ayuda_);
    // The same QMenu object stays attached: the tray exports it once and follows its changes.
    MenuBandeja::llenar(*menu_, MenuBandeja::construir(datos), [this](MenuBandeja::Accion a, qint64 etiqueta) {
        if (alElegir) alElegir(a, etiqueta);
    });
}

bool Bandeja::disponible() { return QSystemTrayIcon::isSystemTrayAvailable(); }

void Bandeja::mostrarMenu(QPoint donde) { menu_->popup(donde); }

void Bandeja::pintarContador(int total) {
    if (!item_) return;
    total_ = total;
    if (const auto ayuda = MenuBandeja::ayudaContador(total)) {
        ayuda_ = *ayuda;
        item_->setToolTip(ayuda_);
    }
    repintar();
}

void Bandeja::repintar() {
    if (!item_) return;
    item_->setIcon(MenuBandeja::icono(Paleta(EsquemaColor::sistema().actual()).tinta, total_));
}
