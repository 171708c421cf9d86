#pragma once

#include "plataforma/EsquemaColor.h"
#include "zentu/isla/Atajo.h"

#include <QString>
#include <QWidget>
#include <array>
#include <utility>

class ModeloAjustes;
class QAbstractButton;
class QLabel;
namespace Piezas { class FilaInterruptor; }

// The shortcuts pane: one row per hot key with a button that records a new combination, the
// control + Super hold-to-talk switch, the error line and "Restablecer atajos".
class PanelAtajos : public QWidget {
    Q_OBJECT
public:
    struct Fila {
        Atajos::Cual cual;
        QString titulo;
        QString descripcion;
    };
    static const std::array<Fila, 5>& filas();
    // The hold-to-talk switch's description and whether it is a warning.
    static std::pair<QString, bool> descripcionFn(bool teclasPermitidas, bool fnControl);

    PanelAtajos(ModeloAjustes& modelo, Esquema esquema, QWidget* padre = nullptr);

    QAbstractButton* boton(Atajos::Cual cual) const;
    Piezas::FilaInterruptor* filaFn() const { return fn_; }
    QLabel* error() const { return error_; }
    QAbstractButton* restablecer() const { return restablecer_; }

    // Reads the model (and the system's answer for global keys) again.
    void actualizar();

protected:
    void showEvent(QShowEvent* e) override;

private:
    ModeloAjustes& modelo_;
    Esquema esquema_;
    std::array<QAbstractButton*, 5> botones_{};
    Piezas::FilaInterruptor* fn_;
    QLabel* error_;
    QAbstractButton* restablecer_;
};
