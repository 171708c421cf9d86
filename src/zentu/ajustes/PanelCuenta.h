#pragma once

#include "plataforma/EsquemaColor.h"
#include "zentu/conexion/Cuenta.h"

#include <QString>
#include <QWidget>

class ModeloAjustes;
class QAbstractButton;
class QLabel;

// The account pane: the linked business with its avatar, e-mail and server, and "Desenlazar"
// (one click, no confirmation); without an account, one line saying so.
class PanelCuenta : public QWidget {
    Q_OBJECT
public:
    // The name shown ("Tu negocio" when empty), the avatar's letter and the server's host (the
    // whole address when it has none).
    static QString nombre(const Cuenta& cuenta);
    static QString inicial(const Cuenta& cuenta);
    static QString servidor(const QString& url);

    PanelCuenta(ModeloAjustes& modelo, Esquema esquema, QWidget* padre = nullptr);

    // Asks the model for the account again and rebuilds.
    void actualizar();
    QAbstractButton* desenlazar() const { return desenlazar_; }

protected:
    void showEvent(QShowEvent* e) override;

private:
    ModeloAjustes& modelo_;
    Esquema esquema_;
    QWidget* contenido_ = nullptr;
    QAbstractButton* desenlazar_ = nullptr;
    std::optional<Cuenta> mostrada_;
    bool construido_ = false;
};
