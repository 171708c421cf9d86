#include "zentu/ajustes/PanelCuenta.h"

#include "zentu/ajustes/ModeloAjustes.h"
#include "zentu/ajustes/PiezasAjustes.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QUrl>
#include <QVBoxLayout>

using namespace Piezas;

namespace {

class Avatar : public QWidget {
public:
    Avatar(const QString& letra, Esquema esquema, QWidget* padre) : QWidget(padre), letra_(letra), esquema_(esquema) {
        setFixedSize(44, 44);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Paleta(esquema_).lima);
        p.drawEllipse(QRectF(rect()));
        p.setFont(fuente(18, QFont::DemiBold, true));
        p.setPen(esquema_ == Esquema::oscuro ? Qt::black : Qt::white);
        p.drawText(rect(), Qt::AlignCenter, letra_);
    }

private:
    QString letra_;
    Esquema esquema_;
};

// The unlink block: outlined in red.
class BloqueRojo : public QWidget {
public:
    BloqueRojo(Esquema esquema, QWidget* padre) : QWidget(padre), esquema_(esquema) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(conAlfa(Paleta(esquema_).rojo, 0.35), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 13.5, 13.5);
    }

private:
    Esquema esquema_;
};

}  // namespace

QString PanelCuenta::nombre(const Cuenta& c) { return c.nombre.isEmpty() ? QStringLiteral("Tu negocio") : c.nombre; }

QString PanelCuenta::inicial(const Cuenta& c) {
    const QString fuenteLetra = c.nombre.isEmpty() ? c.correo : c.nombre;
    if (fuenteLetra.isEmpty()) return {};
    // One whole character, even outside the basic plane.
    const int largo = fuenteLetra.at(0).isHighSurrogate() && fuenteLetra.size() > 1 ? 2 : 1;
    return fuenteLetra.left(largo).toUpper();
}

QString PanelCuenta::servidor(const QString& url) {
    const QUrl u(url, QUrl::StrictMode);
    if (!u.isValid() || u.host().isEmpty()) return url;
    return u.host();
}

PanelCuenta::PanelCuenta(ModeloAjustes& modelo, Esquema esquema, QWidget* padre)
    : QWidget(padre), modelo_(modelo), esquema_(esquema) {
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);
    col->addStretch(1);
    actualizar();
}

void PanelCuenta::showEvent(QShowEvent* e) {
    actualizar();
    QWidget::showEvent(e);
}

void PanelCuenta::actualizar() {
    const std::optional<Cuenta> c = modelo_.cuenta ? modelo_.cuenta() : std::nullopt;
    if (construido_ && c == mostrada_) return;
    construido_ = true;
    mostrada_ = c;
    auto* col = static_cast<QVBoxLayout*>(layout());
    if (contenido_) {
        col->removeWidget(contenido_);
        contenido_->hide();
        contenido_->deleteLater();
    }
    desenlazar_ = nullptr;
    contenido_ = new QWidget(this);
    auto* v = new QVBoxLayout(contenido_);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(14);
    if (!c) {
        auto* tarjeta = new Tarjeta(esquema_, contenido_);
        auto* l = etiqueta(QStringLiteral("Este equipo no está enlazado."), fuente(13), secundario(esquema_), true);
        l->setContentsMargins(0, 8, 0, 8);
        tarjeta->columna()->addWidget(l);
        v->addWidget(tarjeta);
    } else {
        auto* tarjeta = new Tarjeta(esquema_, contenido_);
        auto* fila = new QWidget(tarjeta);
        auto* h = new QHBoxLayout(fila);
        h->setContentsMargins(0, 8, 0, 8);
        h->setSpacing(14);
        h->addWidget(new Avatar(inicial(*c), esquema_, fila), 0, Qt::AlignVCenter);
        auto* textos = new QVBoxLayout;
        textos->setSpacing(3);
        textos->addWidget(recortada(nombre(*c), fuente(15, QFont::DemiBold), primario(esquema_)));
        textos->addWidget(recortada(c->correo, fuente(12.5), secundario(esquema_)));
        textos->addWidget(recortada(servidor(c->url), fuente(11.5), terciario(esquema_)));
        h->addLayout(textos, 1);
        tarjeta->columna()->addWidget(fila);
        v->addWidget(tarjeta);

        auto* bloque = new BloqueRojo(esquema_, contenido_);
        auto* hb = new QHBoxLayout(bloque);
        hb->setContentsMargins(14, 14, 14, 14);
        auto* tb = new QVBoxLayout;
        tb->setSpacing(2);
        tb->addWidget(etiqueta(QStringLiteral("Desenlazar este equipo"), fuente(13, QFont::Medium), primario(esquema_)));
        tb->addWidget(etiqueta(QStringLiteral("La cuenta no se borra: solo deja de estar en este equipo."), fuente(11.5),
                               secundario(esquema_), true));
        hb->addLayout(tb, 1);
        auto* boton = new BotonBordeado(QStringLiteral("Desenlazar"), Paleta(esquema_).rojo, 13, esquema_, bloque);
        connect(boton, &QPushButton::clicked, this, [this] {
            if (modelo_.alDesenlazar) modelo_.alDesenlazar();
        });
        desenlazar_ = boton;
        hb->addWidget(boton, 0, Qt::AlignVCenter);
        v->addWidget(bloque);
    }
    col->insertWidget(0, contenido_);
    contenido_->setVisible(true);
}
