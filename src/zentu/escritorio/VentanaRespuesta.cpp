#include "zentu/escritorio/VentanaRespuesta.h"

#include "zentu/isla/Vidrio.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

QString rgba(QColor c, double opacidad) {
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(opacidad);
}


// The field and the send button in one row.
QWidget* construirContenido(const Pendientes::PedidoRespuesta& pedido, Esquema esquema) {
    auto* contenido = new QWidget;
    auto* fila = new QHBoxLayout(contenido);
    fila->setContentsMargins(16, 4, 16, 18);
    fila->setSpacing(8);

    const Paleta pal(esquema);
    const QColor tinta = pal.tinta;
    auto* campo = new QLineEdit(contenido);
    campo->setObjectName(QStringLiteral("campo"));
    campo->setPlaceholderText(pedido.marcador);
    campo->setMinimumHeight(34);
    campo->setStyleSheet(QStringLiteral("QLineEdit { background: %1; color: %2; border: 1px solid %3;"
                                        " border-radius: 10px; padding: 0 10px; }")
                             .arg(rgba(tinta, 0.07), rgba(tinta, 1.0), rgba(tinta, 0.16)));
    QPalette p = campo->palette();
    p.setColor(QPalette::PlaceholderText, QColor(tinta.red(), tinta.green(), tinta.blue(), 130));
    campo->setPalette(p);
    fila->addWidget(campo, 1);

    auto* boton = new QPushButton(pedido.boton, contenido);
    boton->setObjectName(QStringLiteral("enviar"));
    boton->setMinimumHeight(34);
    boton->setCursor(Qt::PointingHandCursor);
    // Dark text on the light accent of the dark scheme, white on the deeper one of the light scheme.
    const QColor textoBoton = esquema == Esquema::oscuro ? QColor(20, 24, 16) : QColor(Qt::white);
    boton->setStyleSheet(QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 10px;"
                                        " padding: 0 14px; font-weight: 600; }"
                                        " QPushButton:disabled { background: %3; color: %4; }")
                             .arg(rgba(pal.lima, 1.0), rgba(textoBoton, 1.0), rgba(tinta, 0.12), rgba(tinta, 0.45)));
    boton->setEnabled(false);
    fila->addWidget(boton);
    return contenido;
}

}  // namespace

VentanaRespuesta::VentanaRespuesta(Pendientes::PedidoRespuesta pedido, std::function<void()> cerrar, Esquema esquema,
                                   QWidget* padre)
    : Tarjeta(pedido.titulo, QSizeF(kAncho, kAlto), cerrar, construirContenido(pedido, esquema), esquema, padre),
      enviar_(std::move(pedido.enviar)),
      cerrar_(std::move(cerrar)) {
    campo_ = findChild<QLineEdit*>(QStringLiteral("campo"));
    boton_ = findChild<QPushButton*>(QStringLiteral("enviar"));
    connect(campo_, &QLineEdit::textChanged, this,
            [this](const QString& t) { boton_->setEnabled(!t.trimmed().isEmpty()); });
    connect(campo_, &QLineEdit::returnPressed, this, &VentanaRespuesta::enviar);
    connect(boton_, &QPushButton::clicked, this, &VentanaRespuesta::enviar);
    setFocusProxy(campo_);
}

void VentanaRespuesta::enviar() {
    const QString texto = campo_->text();
    if (texto.trimmed().isEmpty()) return;
    if (enviar_) enviar_(texto);
    if (cerrar_) cerrar_();
}

PanelFlotante* VentanaRespuesta::abrir(Pendientes::PedidoRespuesta pedido) {
    auto panel = std::make_shared<QPointer<PanelFlotante>>();
    auto cerrar = [panel] {
        if (*panel) {
            (*panel)->hide();
            (*panel)->deleteLater();
        }
    };
    auto* tarjeta = new VentanaRespuesta(std::move(pedido), cerrar);
    *panel = new PanelFlotante(QSizeF(tarjeta->sizeHint()), tarjeta);
    (*panel)->alCerrar = cerrar;
    (*panel)->mostrarJuntoAlRaton();
    tarjeta->campo()->setFocus(Qt::OtherFocusReason);
    return *panel;
}
