#pragma once

#include "plataforma/EsquemaColor.h"

#include <QWidget>

class ModeloAjustes;
class QLabel;
namespace Piezas { class FilaInterruptor; }

// The calls pane: the switch of the service's preference for calls from agents on this
// computer, usable only once the preference has been read; without an account, a hint.
class PanelLlamadas : public QWidget {
    Q_OBJECT
public:
    PanelLlamadas(ModeloAjustes& modelo, Esquema esquema, QWidget* padre = nullptr);

    Piezas::FilaInterruptor* fila() const { return fila_; }
    QLabel* sinCuenta() const { return sinCuenta_; }
    void actualizar();

protected:
    void showEvent(QShowEvent* e) override;

private:
    ModeloAjustes& modelo_;
    Piezas::FilaInterruptor* fila_;
    QLabel* sinCuenta_;
};
