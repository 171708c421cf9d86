#include "zentu/escritorio/VentanaRespuesta.h"

#include "zentu/escritorio/PiezasTarjeta.h"
#include "zentu/isla/Vidrio.h"

#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QTextLayout>
#include <QVBoxLayout>
#include <cmath>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace {

QString rgba(QColor c, double opacidad) {
    return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(opacidad);
}


constexpr double kMargen = 16;   // on either side of the content
constexpr double kEntre = 4;     // between the title of what is answered and its text
constexpr double kBajoTexto = 10;  // between that text and the field

// The cards' face, sized in points of the card (pixels).
QFont fuenteAsunto() {
    QFont f = PiezasTarjeta::fuente(nullptr, 13, QFont::DemiBold);
    f.setPixelSize(13);
    return f;
}
QFont fuenteTexto() {
    QFont f = PiezasTarjeta::fuente(nullptr, 12, QFont::Normal);
    f.setPixelSize(12);
    return f;
}

// `texto` broken into the lines it takes at `ancho` (at words, as a label wraps it), at most
// `maximo` of them, the last one ending in "…" when the text goes on.
QStringList lineas(const QString& texto, const QFont& fuente, double ancho, int maximo) {
    QStringList fuera;
    const QFontMetricsF fm(fuente);
    for (const QString& parrafo : texto.split(QLatin1Char('\n'))) {
        QTextLayout capa(parrafo, fuente);
        QTextOption opcion;
        opcion.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        capa.setTextOption(opcion);
        capa.beginLayout();
        for (QTextLine l = capa.createLine(); l.isValid(); l = capa.createLine()) {
            l.setLineWidth(ancho);
            if (fuera.size() == maximo) {
                fuera.last() = fm.elidedText(fuera.last() + QStringLiteral(" …"), Qt::ElideRight, ancho);
                if (!fuera.last().endsWith(QChar(0x2026))) fuera.last() += QChar(0x2026);
                capa.endLayout();
                return fuera;
            }
            fuera << parrafo.mid(l.textStart(), l.textLength()).trimmed();
        }
        capa.endLayout();
    }
    return fuera;
}

double anchoTexto() { return VentanaRespuesta::kAncho - 2 * kMargen; }

// What is answered above the field, then the field and the send button in one row.
QWidget* construirContenido(const Pendientes::PedidoRespuesta& pedido, Esquema esquema) {
    auto* contenido = new QWidget;
    auto* columna = new QVBoxLayout(contenido);
    columna->setContentsMargins(0, 0, 0, 0);
    columna->setSpacing(0);

    const Paleta pal(esquema);
    const QColor tinta = pal.tinta;
    auto etiqueta = [&](const QString& nombre, const QStringList& texto, const QFont& f, double opacidad) {
        auto* l = new QLabel(texto.join(QLatin1Char('\n')), contenido);
        l->setObjectName(nombre);
        l->setFont(f);
        l->setTextFormat(Qt::PlainText);
        l->setContentsMargins(int(kMargen), 0, int(kMargen), 0);
        QPalette p = l->palette();
        p.setColor(QPalette::WindowText, QColor(tinta.red(), tinta.green(), tinta.blue(), int(255 * opacidad)));
        l->setPalette(p);
        columna->addWidget(l);
        return l;
    };
    if (!pedido.asunto.isEmpty()) etiqueta(QStringLiteral("asunto"), lineas(pedido.asunto, fuenteAsunto(), anchoTexto(), 2), fuenteAsunto(), 1.0);
    if (!pedido.texto.isEmpty()) {
        if (!pedido.asunto.isEmpty()) columna->addSpacing(int(kEntre));
        etiqueta(QStringLiteral("texto"), lineas(pedido.texto, fuenteTexto(), anchoTexto(), VentanaRespuesta::kLineasTexto),
                 fuenteTexto(), 0.7);
    }
    if (!pedido.asunto.isEmpty() || !pedido.texto.isEmpty()) columna->addSpacing(int(kBajoTexto));

    auto* filaCampo = new QWidget(contenido);
    auto* fila = new QHBoxLayout(filaCampo);
    fila->setContentsMargins(16, 4, 16, 18);
    fila->setSpacing(8);
    columna->addWidget(filaCampo);
    columna->addStretch(1);

    auto* campo = new QLineEdit(filaCampo);
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

    auto* boton = new QPushButton(pedido.boton, filaCampo);
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
    : Tarjeta(pedido.titulo, QSizeF(kAncho, alto(pedido)), cerrar, construirContenido(pedido, esquema), esquema, padre),
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

double VentanaRespuesta::alto(const Pendientes::PedidoRespuesta& pedido) {
    double arriba = 0;
    if (!pedido.asunto.isEmpty())
        arriba += lineas(pedido.asunto, fuenteAsunto(), anchoTexto(), 2).size() * QFontMetricsF(fuenteAsunto()).lineSpacing();
    if (!pedido.texto.isEmpty()) {
        if (arriba > 0) arriba += kEntre;
        arriba += lineas(pedido.texto, fuenteTexto(), anchoTexto(), kLineasTexto).size() *
                  QFontMetricsF(fuenteTexto()).lineSpacing();
    }
    // A few points to spare: a label's lines may stand a little taller than the face's spacing.
    if (arriba > 0) arriba += kBajoTexto + 4;
    return kAlto + std::ceil(arriba);
}

PanelFlotante* VentanaRespuesta::abrir(Pendientes::PedidoRespuesta pedido, const QRectF& ancla) {
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
    (*panel)->mostrarJunto(ancla);
    tarjeta->campo()->setFocus(Qt::OtherFocusReason);
    return *panel;
}
