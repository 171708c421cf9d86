#pragma once

#include "zentu/escritorio/Pendientes.h"
#include "zentu/isla/TarjetasFlotantes.h"

class QLineEdit;
class QPushButton;

// Where the notification server has no reply field: a small card that shows what is answered (the
// notification's title and text) above the field, focused. Return or the send button hands the
// typed text to the same flow as a reply typed in the bubble.
class VentanaRespuesta : public Tarjeta {
    Q_OBJECT
public:
    static constexpr double kAncho = 360;
    static constexpr double kAlto = 116;  // without what is answered: the title row and the field
    static constexpr int kLineasTexto = 6;  // of the notification's text; a longer one ends in "…"

    // The card's height for this request: the field's and what is answered above it.
    static double alto(const Pendientes::PedidoRespuesta& pedido);

    VentanaRespuesta(Pendientes::PedidoRespuesta pedido, std::function<void()> cerrar,
                     Esquema esquema = EsquemaColor::sistema().actual(), QWidget* padre = nullptr);

    QLineEdit* campo() const { return campo_; }
    QPushButton* boton() const { return boton_; }

    // Sends what is written (nothing when it is blank) and closes.
    void enviar();

    // Shows the card in its own floating window beside `ancla` (the island), the field focused; the
    // window goes away when sent or closed.
    static PanelFlotante* abrir(Pendientes::PedidoRespuesta pedido, const QRectF& ancla);

private:
    std::function<void(QString)> enviar_;
    std::function<void()> cerrar_;
    QLineEdit* campo_ = nullptr;
    QPushButton* boton_ = nullptr;
};
