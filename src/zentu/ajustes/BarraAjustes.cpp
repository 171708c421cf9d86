#include "zentu/ajustes/BarraAjustes.h"

#include "compartido/Iconos.h"
#include "zentu/ajustes/PiezasAjustes.h"
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/Orbe.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

using namespace Piezas;

namespace {

Icono icono(SeccionAjustes s) {
    switch (s) {
    case SeccionAjustes::estado: return Icono::pulso;
    case SeccionAjustes::atajos: return Icono::teclado;
    case SeccionAjustes::isla: return Icono::isla;
    case SeccionAjustes::llamadas: return Icono::telefono;
    case SeccionAjustes::cuenta: return Icono::persona;
    }
    return Icono::pulso;
}

class LienzoOrbeBarra : public QWidget {
public:
    LienzoOrbeBarra(EstadoVoz& voz, Esquema esquema, Reloj& reloj, QWidget* padre)
        : QWidget(padre), esquema_(esquema), orbe_(voz, 15, this, reloj) {
        setFixedSize(42, 42);
        setAttribute(Qt::WA_Hover);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        orbe_.dibujar(p, QRectF(rect()), esquema_ == Esquema::oscuro);
    }

private:
    Esquema esquema_;
    Orbe orbe_;
};

class FilaSeccion : public QAbstractButton {
public:
    FilaSeccion(SeccionAjustes s, Esquema esquema, QWidget* padre) : QAbstractButton(padre), s_(s), esquema_(esquema) {
        setCheckable(true);
        setCursor(Qt::PointingHandCursor);
        setFixedHeight(34);
        setText(BarraAjustes::titulo(s));
        setAccessibleName(text());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const Paleta pal(esquema_);
        const bool sel = isChecked();
        if (sel) {
            const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
            p.setPen(QPen(conAlfa(pal.lima, 0.25), 1));
            p.setBrush(conAlfa(pal.lima, esquema_ == Esquema::oscuro ? 0.13 : 0.16));
            p.drawRoundedRect(r, 10, 10);
        }
        const QRectF ic(12, (height() - 16) / 2.0, 16, 16);
        Iconos::trazar(p, icono(s_), ic, sel ? pal.lima : secundario(esquema_), 1.6);
        p.setFont(fuente(13.5, sel ? QFont::DemiBold : QFont::Normal));
        p.setPen(sel ? primario(esquema_) : secundario(esquema_));
        p.drawText(QRectF(12 + 16 + 11, 0, width() - 12 - 16 - 11 - 12, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    }

private:
    SeccionAjustes s_;
    Esquema esquema_;
};

}  // namespace

QString BarraAjustes::titulo(SeccionAjustes s) {
    switch (s) {
    case SeccionAjustes::estado: return QStringLiteral("Estado");
    case SeccionAjustes::atajos: return QStringLiteral("Atajos");
    case SeccionAjustes::isla: return QStringLiteral("La isla");
    case SeccionAjustes::llamadas: return QStringLiteral("Llamadas");
    case SeccionAjustes::cuenta: return QStringLiteral("Cuenta");
    }
    return {};
}

QString BarraAjustes::version() {
    QString v = QCoreApplication::applicationVersion();
#ifdef ZENTU_VERSION
    if (v.isEmpty()) v = QStringLiteral(ZENTU_VERSION);
#endif
    return QStringLiteral("Versión ") + (v.isEmpty() ? QStringLiteral("—") : v);
}

BarraAjustes::BarraAjustes(ModeloAjustes& modelo, EstadoVoz& orbe, Esquema esquema, Reloj& reloj, QWidget* padre)
    : QWidget(padre), modelo_(modelo), esquema_(esquema) {
    setFixedWidth(ancho);
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(12, 0, 12, 0);
    col->setSpacing(0);

    auto* cabecera = new QHBoxLayout;
    cabecera->setContentsMargins(6, 44, 6, 26);
    cabecera->setSpacing(12);
    lienzo_ = new LienzoOrbeBarra(orbe, esquema, reloj, this);
    lienzo_->installEventFilter(this);
    cabecera->addWidget(lienzo_, 0, Qt::AlignVCenter);
    auto* textos = new QVBoxLayout;
    textos->setSpacing(2);
    textos->addWidget(etiqueta(QStringLiteral("Zentu AI"), fuente(15, QFont::DemiBold, true), primario(esquema)));
    auto* filaCuenta = new QHBoxLayout;
    filaCuenta->setSpacing(5);
    puntoCuenta_ = new QWidget(this);
    puntoCuenta_->setFixedSize(6, 6);
    puntoCuenta_->setStyleSheet(QStringLiteral("background: %1; border-radius: 3px;").arg(Paleta(esquema).lima.name()));
    filaCuenta->addWidget(puntoCuenta_, 0, Qt::AlignVCenter);
    cuenta_ = etiqueta(QString(), fuente(11.5), secundario(esquema));
    cuenta_->setMinimumWidth(10);
    filaCuenta->addWidget(cuenta_, 1);
    textos->addLayout(filaCuenta);
    cabecera->addLayout(textos, 1);
    col->addLayout(cabecera);

    auto* lista = new QVBoxLayout;
    lista->setSpacing(3);
    for (size_t i = 0; i < Secciones::todas.size(); ++i) {
        const SeccionAjustes s = Secciones::todas[i];
        auto* f = new FilaSeccion(s, esquema, this);
        connect(f, &QAbstractButton::clicked, this, [this, s] {
            setSeccion(s);
            if (alElegir) alElegir(s);
        });
        filas_[i] = f;
        lista->addWidget(f);
    }
    col->addLayout(lista);
    col->addStretch(1);
    auto* v = etiqueta(version(), fuente(11), terciario(esquema));
    v->setContentsMargins(8, 0, 8, 16);
    col->addWidget(v);
    actualizarCuenta();
}

void BarraAjustes::setSeccion(SeccionAjustes seccion) {
    for (size_t i = 0; i < filas_.size(); ++i) filas_[i]->setChecked(Secciones::todas[i] == seccion);
}

void BarraAjustes::actualizarCuenta() {
    const std::optional<Cuenta> c = modelo_.cuenta ? modelo_.cuenta() : std::nullopt;
    puntoCuenta_->setVisible(c.has_value());
    const QString texto = !c ? QStringLiteral("Sin enlazar") : (c->nombre.isEmpty() ? c->correo : c->nombre);
    cuenta_->setToolTip(texto);
    cuenta_->setText(QFontMetricsF(cuenta_->font()).elidedText(texto, Qt::ElideRight, ancho - 24 - 12 - 42 - 12 - 11));
}

QString BarraAjustes::lineaCuenta() const { return cuenta_->toolTip(); }

QAbstractButton* BarraAjustes::fila(SeccionAjustes seccion) const {
    for (size_t i = 0; i < filas_.size(); ++i)
        if (Secciones::todas[i] == seccion) return filas_[i];
    return nullptr;
}

void BarraAjustes::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor::fromRgbF(1, 1, 1, esquema_ == Esquema::oscuro ? 0.025f : 0.45f));
}

bool BarraAjustes::eventFilter(QObject* objeto, QEvent* evento) {
    if (objeto == lienzo_) {
        if (evento->type() == QEvent::Enter && alEntrarOrbe) alEntrarOrbe();
        if (evento->type() == QEvent::Leave && alSalirOrbe) alSalirOrbe();
    }
    return QWidget::eventFilter(objeto, evento);
}
