#pragma once

#include "plataforma/EsquemaColor.h"
#include "plataforma/Reloj.h"
#include "zentu/ajustes/ModeloAjustes.h"

#include <QWidget>
#include <array>
#include <functional>

class EstadoVoz;
class QLabel;
class QAbstractButton;

// The settings window's sidebar, 214 wide: the orb at 15 frames a second, "Zentu AI", the linked
// business (or "Sin enlazar"), the five sections and the version at the bottom.
class BarraAjustes : public QWidget {
    Q_OBJECT
public:
    static constexpr int ancho = 214;

    // The section titles as the sidebar and the pane headers show them.
    static QString titulo(SeccionAjustes seccion);
    // "Versión " and the program's version, or "—" without one.
    static QString version();

    BarraAjustes(ModeloAjustes& modelo, EstadoVoz& orbe, Esquema esquema, Reloj& reloj, QWidget* padre = nullptr);

    void setSeccion(SeccionAjustes seccion);
    // Asks the model for the account again.
    void actualizarCuenta();

    QString lineaCuenta() const;
    QAbstractButton* fila(SeccionAjustes seccion) const;
    QWidget* lienzoOrbe() const { return lienzo_; }

    std::function<void(SeccionAjustes)> alElegir;
    std::function<void()> alEntrarOrbe;
    std::function<void()> alSalirOrbe;

protected:
    void paintEvent(QPaintEvent*) override;
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    ModeloAjustes& modelo_;
    Esquema esquema_;
    QWidget* lienzo_;
    QWidget* puntoCuenta_;
    QLabel* cuenta_;
    std::array<QAbstractButton*, 5> filas_{};
};
