#include "zentu/ajustes/PanelAtajos.h"

#include "plataforma/Privacidad.h"
#include "zentu/ajustes/ModeloAjustes.h"
#include "zentu/ajustes/PiezasAjustes.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

using namespace Piezas;

namespace {

// The key button of a shortcut row: its caps, or the recording prompt in a capsule.
class BotonAtajo : public QAbstractButton {
public:
    BotonAtajo(Esquema esquema, QWidget* padre) : QAbstractButton(padre), esquema_(esquema) {
        setCursor(Qt::PointingHandCursor);
        setToolTip(QStringLiteral("Clic y pulsa la combinación nueva. Esc cancela."));
        setFocusPolicy(Qt::NoFocus);
    }
    void mostrar(const QStringList& teclas, bool grabando) {
        teclas_ = teclas;
        grabando_ = grabando;
        setAccessibleName(grabando ? QStringLiteral("Pulsa la combinación…") : teclas.join(u' '));
        setFixedSize(sizeHint());
        update();
    }
    bool grabando() const { return grabando_; }
    const QStringList& teclas() const { return teclas_; }
    QSize sizeHint() const override {
        if (grabando_) {
            const QFontMetricsF m(fuente(12, QFont::Medium));
            return QSize(int(std::ceil(m.horizontalAdvance(QStringLiteral("Pulsa la combinación…")) + 24)), 28);
        }
        qreal ancho = 0;
        for (const QString& t : teclas_) ancho += Tecla::medida(t, false).width();
        ancho += 4 * std::max<qsizetype>(teclas_.size() - 1, 0);
        return QSize(int(std::ceil(ancho)), 28);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor lima = Paleta(esquema_).lima;
        if (grabando_) {
            const QRectF r = QRectF(rect()).adjusted(0.6, 0.6, -0.6, -0.6);
            p.setPen(QPen(conAlfa(lima, 0.7), 1.2));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
            p.setFont(fuente(12, QFont::Medium));
            p.setPen(lima);
            p.drawText(rect(), Qt::AlignCenter, QStringLiteral("Pulsa la combinación…"));
            return;
        }
        // Keys that cannot work here are shown faded, as a switch that cannot be used.
        if (!isEnabled()) p.setOpacity(0.45);
        qreal x = 0;
        for (const QString& t : teclas_) {
            const QSizeF m = Tecla::medida(t, false);
            Tecla::pintar(p, QRectF(QPointF(x, 0), m), t, false, esquema_);
            x += m.width() + 4;
        }
    }

private:
    Esquema esquema_;
    QStringList teclas_;
    bool grabando_ = false;
};

}  // namespace

const std::array<PanelAtajos::Fila, 5>& PanelAtajos::filas() {
    using C = Atajos::Cual;
    static const std::array<Fila, 5> f = {{
        {C::llamada, QStringLiteral("Llamada en tiempo real"), QStringLiteral("Hablas de corrido y lo puedes interrumpir.")},
        {C::conversacion, QStringLiteral("Notas de voz"), QStringLiteral("Mantén pulsado mientras hablas y suelta.")},
        {C::pantalla, QStringLiteral("Ver mi pantalla"), QStringLiteral("Le enseña a Zentu la ventana que tienes delante.")},
        {C::zona, QStringLiteral("Capturar una zona"), QStringLiteral("Eliges una parte de la pantalla con el cursor.")},
        {C::chat, QStringLiteral("Abrir el chat"), QStringLiteral("Lo abre y lo cierra desde cualquier app.")},
    }};
    return f;
}

QString PanelAtajos::avisoSinTeclas(bool wayland) {
    return wayland ? QStringLiteral("Aquí no funcionan: una sesión Wayland no entrega teclas globales a las apps.")
                   : QStringLiteral("Aquí no funcionan: sin una sesión X11 no hay teclas globales.");
}

PanelAtajos::PanelAtajos(ModeloAjustes& modelo, Esquema esquema, QWidget* padre)
    : QWidget(padre), modelo_(modelo), esquema_(esquema) {
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(14);

    auto* tarjeta = new Tarjeta(esquema, this);
    for (size_t i = 0; i < filas().size(); ++i) {
        const Fila& f = filas()[i];
        if (i > 0) tarjeta->columna()->addWidget(new Separador(esquema, tarjeta));
        auto* fila = new QWidget(tarjeta);
        auto* h = new QHBoxLayout(fila);
        h->setContentsMargins(0, 9, 0, 9);
        h->setSpacing(14);
        auto* textos = new QVBoxLayout;
        textos->setSpacing(2);
        textos->addWidget(etiqueta(f.titulo, fuente(13.5, QFont::Medium), primario(esquema)));
        // Wraps rather than losing its end when the recording prompt takes the row's room.
        descripciones_[i] = etiqueta(f.descripcion, fuente(11.5), secundario(esquema), true);
        textos->addWidget(descripciones_[i]);
        h->addLayout(textos, 1);
        auto* boton = new BotonAtajo(esquema, fila);
        const Atajos::Cual cual = f.cual;
        connect(boton, &QAbstractButton::clicked, this, [this, cual] {
            if (modelo_.grabando() == cual)
                modelo_.parar();
            else
                modelo_.grabar(cual);
        });
        botones_[i] = boton;
        h->addWidget(boton, 0, Qt::AlignVCenter);
        tarjeta->columna()->addWidget(fila);
    }
    col->addWidget(tarjeta);

    auto* tarjetaFn = new Tarjeta(esquema, this);
    fn_ = new FilaInterruptor(QStringLiteral("También con Ctrl+Super"), descripcionFn, esquema, tarjetaFn);
    fn_->alCambiar = [this](bool v) { modelo_.cambiarFnControl(v); };
    tarjetaFn->columna()->addWidget(fn_);
    col->addWidget(tarjetaFn);

    auto* pie = new QHBoxLayout;
    pie->setSpacing(8);
    error_ = etiqueta(QString(), fuente(12), Paleta(esquema).rojo, true);
    pie->addWidget(error_, 1);
    auto* enlace = new BotonEnlace(QStringLiteral("Restablecer atajos"), Paleta(esquema).lima, 12, this);
    connect(enlace, &QPushButton::clicked, this, [this] { modelo_.restablecerAtajos(); });
    restablecer_ = enlace;
    pie->addWidget(enlace, 0, Qt::AlignVCenter | Qt::AlignRight);
    col->addLayout(pie);
    col->addStretch(1);

    connect(&modelo_, &ModeloAjustes::cambio, this, &PanelAtajos::actualizar);
    actualizar();
}

QAbstractButton* PanelAtajos::boton(Atajos::Cual cual) const {
    for (size_t i = 0; i < filas().size(); ++i)
        if (filas()[i].cual == cual) return botones_[i];
    return nullptr;
}

QLabel* PanelAtajos::descripcion(Atajos::Cual cual) const {
    for (size_t i = 0; i < filas().size(); ++i)
        if (filas()[i].cual == cual) return descripciones_[i];
    return nullptr;
}

void PanelAtajos::showEvent(QShowEvent* e) {
    actualizar();
    QWidget::showEvent(e);
}

void PanelAtajos::actualizar() {
    // Where global keys do not reach the program the window's subtitle says why (VistaAjustes).
    const bool teclasAqui = Privacidad::actual().accesibilidadPermitida();
    for (size_t i = 0; i < filas().size(); ++i) {
        const Atajos::Cual cual = filas()[i].cual;
        const Combinacion comb = modelo_.combinacion(cual);
        static_cast<BotonAtajo*>(botones_[i])->mostrar(teclas(comb), modelo_.grabando() == cual);
        botones_[i]->setEnabled(teclasAqui);
        // While a row records every hot key is given back on purpose; otherwise a key the desktop
        // kept for itself or another program is not one this program answers to.
        const bool rechazada = teclasAqui && !modelo_.grabando() && !modelo_.atajos().registrada(cual);
        QLabel* d = descripciones_[i];
        d->setText(rechazada ? QStringLiteral("El escritorio u otra app ya usa ") + comb.texto() + QLatin1Char('.')
                             : filas()[i].descripcion);
        QPalette pal = d->palette();
        pal.setColor(QPalette::WindowText, rechazada ? naranja(esquema_) : secundario(esquema_));
        d->setPalette(pal);
    }
    fn_->setValor(modelo_.fnControl());
    fn_->setEnabled(teclasAqui);
    error_->setText(modelo_.error().value_or(QString()));
    error_->setVisible(modelo_.error().has_value());
}
