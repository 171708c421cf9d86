#pragma once

#include "zentu/escritorio/Pendientes.h"
#include "zentu/isla/TarjetasFlotantes.h"

class QLineEdit;
class QPushButton;

// Where the notification server has no reply field: a small card with the field focused. Return
// or the send button hands the typed text to the same flow as a reply typed in the bubble.
class VentanaRespuesta : public Tarjeta {
    Q_OBJECT
public:
    static constexpr double kAncho = 360;
    static constexpr double kAlto = 116;

    VentanaRespuesta(Pendientes::PedidoRespuesta pedido, std::function<void()> cerrar,
                     Esquema esquema = EsquemaColor::sistema().actual(), QWidget* padre = nullptr);

    QLineEdit* campo() const { return campo_; }
    QPushButton* boton() const { return boton_; }

    // Sends what is written (nothing when it is blank) and closes.
    void enviar();

    // Shows the card in its own floating window next to the pointer, the field focused; the window
    // goes away when sent or closed.
    static PanelFlotante* abrir(Pendientes::PedidoRespuesta pedido);

private:
    std::function<void(QString)> enviar_;
    std::function<void()> cerrar_;
    QLineEdit* campo_ = nullptr;
    QPushButton* boton_ = nullptr;
};
