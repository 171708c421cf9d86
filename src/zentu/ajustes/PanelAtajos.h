#pragma once

#include "plataforma/EsquemaColor.h"
#include "zentu/isla/Atajo.h"

#include <QString>
#include <QWidget>
#include <array>

class ModeloAjustes;
class QAbstractButton;
class QLabel;
namespace Piezas { class FilaInterruptor; }

// The shortcuts pane: one row per hot key with a button that records a new combination, the
// Ctrl+Super hold-to-talk switch, the error line and "Restablecer atajos". Where global keys do
// not reach the program nothing offers to record (the subtitle says why); a hot key the desktop
// refused says so in its row.
class PanelAtajos : public QWidget {
    Q_OBJECT
public:
    struct Fila {
        Atajos::Cual cual;
        QString titulo;
        QString descripcion;
    };
    static const std::array<Fila, 5>& filas();
    static inline const QString descripcionFn =
        QStringLiteral("Mantén Ctrl+Super mientras hablas y suelta, como las notas de voz.");
    // Why nothing in this pane can work where global keys do not reach the program: the pane's
    // subtitle there.
    static QString avisoSinTeclas(bool wayland);

    PanelAtajos(ModeloAjustes& modelo, Esquema esquema, QWidget* padre = nullptr);

    QAbstractButton* boton(Atajos::Cual cual) const;
    QLabel* descripcion(Atajos::Cual cual) const;
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
    std::array<QLabel*, 5> descripciones_{};
    Piezas::FilaInterruptor* fn_;
    QLabel* error_;
    QAbstractButton* restablecer_;
};
