#include "zentu/ajustes/PanelLlamadas.h"

#include "zentu/ajustes/ModeloAjustes.h"
#include "zentu/ajustes/PiezasAjustes.h"

#include <QVBoxLayout>

using namespace Piezas;

PanelLlamadas::PanelLlamadas(ModeloAjustes& modelo, Esquema esquema, QWidget* padre)
    : QWidget(padre), modelo_(modelo) {
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(14);
    auto* tarjeta = new Tarjeta(esquema, this);
    fila_ = new FilaInterruptor(QStringLiteral("Recibir llamadas de tus agentes"),
                                QStringLiteral("Solo este equipo. El teléfono tiene su propio interruptor; el del panel los cambia todos."),
                                esquema, tarjeta);
    fila_->alCambiar = [this](bool v) { modelo_.cambiarLlamadas(v); };
    tarjeta->columna()->addWidget(fila_);
    sinCuenta_ = etiqueta(QStringLiteral("Enlaza este equipo para recibir llamadas."), fuente(13), secundario(esquema), true);
    sinCuenta_->setContentsMargins(0, 8, 0, 8);
    tarjeta->columna()->addWidget(sinCuenta_);
    col->addWidget(tarjeta);
    col->addStretch(1);
    connect(&modelo_, &ModeloAjustes::cambio, this, &PanelLlamadas::actualizar);
    actualizar();
}

void PanelLlamadas::showEvent(QShowEvent* e) {
    actualizar();
    QWidget::showEvent(e);
}

void PanelLlamadas::actualizar() {
    const bool conCuenta = modelo_.cuenta && modelo_.cuenta().has_value();
    fila_->setVisible(conCuenta);
    sinCuenta_->setVisible(!conCuenta);
    fila_->setValor(modelo_.llamadas().value_or(false));
    // Unknown preference: off and not usable.
    fila_->setEnabled(modelo_.llamadas().has_value());
}
