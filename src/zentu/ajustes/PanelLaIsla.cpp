#include "zentu/ajustes/PanelLaIsla.h"

#include "zentu/ajustes/ModeloAjustes.h"
#include "zentu/ajustes/PiezasAjustes.h"
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/Pildora.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

using namespace Piezas;

// ---------------------------------------------------------------------------------------------

PreviaIsla::PreviaIsla(EstadoVoz& muestra, EstadoVoz& voz, Esquema esquema, QWidget* padre)
    : QWidget(padre), muestra_(muestra), voz_(voz), esquema_(esquema), mostrada_(escala(112, voz.escala())) {
    // The pill is drawn into this view, scaled; it never takes clicks here.
    pildora_ = new Pildora(muestra_, nullptr);
    pildora_->setParent(this);
    pildora_->hide();
    pildora_->setEsquema(esquema);
    pildora_->setPuntoQuieto(true);
    pildora_->resize(pildora_->sizeHint());
    pildora_->alSilenciar = pildora_->alTerminar = pildora_->alVerEnChat = pildora_->alContestar =
        pildora_->alRechazar = pildora_->alNotaDeVoz = pildora_->alConversar = [] {};
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFixedHeight(112);
    resorte_.setDuration(350);
    resorte_.setEasingCurve(QEasingCurve::OutBack);
    connect(&resorte_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        mostrada_ = v.toDouble();
        update();
    });
    connect(&voz_, &EstadoVoz::escalaCambio, this, [this] {
        resorte_.stop();
        resorte_.setStartValue(mostrada_);
        resorte_.setEndValue(escala(alto_, voz_.escala()));
        resorte_.start();
    });
    // The orb inside the hidden pill asks no one to redraw; this view does while it may move.
    cuadros_ = new QTimer(this);
    cuadros_->setInterval(33);
    connect(cuadros_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    auto seguir = [this] {
        if (muestra_.visible() && !muestra_.quieto())
            cuadros_->start();
        else
            cuadros_->stop();
        update();
    };
    connect(&muestra_, &EstadoVoz::quietoCambio, this, seguir);
    connect(&muestra_, &EstadoVoz::visibleCambio, this, seguir);
    seguir();
}

double PreviaIsla::escala(double alto, double escalaIsla) { return alto * (escalaIsla * 0.62) / 112.0; }

QPointF PreviaIsla::origenPildora() const {
    return QRectF(rect()).center() - Pildora::marcoCapsula(muestra_).center() * mostrada_;
}

QRectF PreviaIsla::marcoCapsula() const {
    const QRectF c = Pildora::marcoCapsula(muestra_);
    return QRectF(origenPildora() + c.topLeft() * mostrada_, c.size() * mostrada_);
}

void PreviaIsla::setAlto(double alto) {
    alto_ = alto;
    setFixedHeight(int(std::round(alto)));
    resorte_.stop();
    mostrada_ = escala(alto_, voz_.escala());
    update();
}

void PreviaIsla::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF r = rect();
    QPainterPath forma;
    forma.addRoundedRect(r, 16, 16);
    p.setClipPath(forma);
    QLinearGradient g(r.topLeft(), r.bottomRight());
    if (esquema_ == Esquema::oscuro) {
        g.setColorAt(0, QColor::fromRgbF(0.11f, 0.17f, 0.27f));
        g.setColorAt(1, QColor::fromRgbF(0.05f, 0.06f, 0.09f));
    } else {
        g.setColorAt(0, QColor::fromRgbF(0.86f, 0.90f, 0.96f));
        g.setColorAt(1, QColor::fromRgbF(0.78f, 0.83f, 0.90f));
    }
    p.fillRect(r, g);
    // The pill, rendered at the device's resolution for its scale, with its capsule centred in
    // the frame (the pill's root frame keeps room above and below it for its bubbles).
    // The pixels really painted: the screen's, or those of a picture the view is rendered into.
    const qreal escalaPintada = std::abs(p.deviceTransform().m11());
    const qreal dpr = escalaPintada > 0 ? escalaPintada : devicePixelRatioF();
    const QSize tam = pildora_->size();
    QImage img(QSize(int(std::ceil(tam.width() * mostrada_ * dpr)), int(std::ceil(tam.height() * mostrada_ * dpr))),
               QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(dpr);
    img.fill(Qt::transparent);
    {
        QPainter q(&img);
        q.setRenderHint(QPainter::Antialiasing);
        q.scale(mostrada_, mostrada_);
        pildora_->render(&q, QPoint(), QRegion(), QWidget::DrawChildren);
    }
    const QSizeF logico(tam.width() * mostrada_, tam.height() * mostrada_);
    p.drawImage(QRectF(origenPildora(), logico), img);
    p.setClipping(false);
    p.setPen(QPen(conAlfa(primario(esquema_), 0.08), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 15.5, 15.5);
}

// ---------------------------------------------------------------------------------------------

QString PanelLaIsla::porcentaje(double escala) {
    return QString::number(static_cast<long long>(std::round(escala * 100))) + QStringLiteral(" %");
}

PanelLaIsla::PanelLaIsla(ModeloAjustes& modelo, EstadoVoz& muestra, Esquema esquema, QWidget* padre)
    : QWidget(padre), modelo_(modelo) {
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(12);
    previa_ = new PreviaIsla(muestra, modelo.voz(), esquema, this);
    col->addWidget(previa_);

    auto* tarjeta = new Tarjeta(esquema, this);
    auto* filaTam = new QWidget(tarjeta);
    auto* h = new QHBoxLayout(filaTam);
    h->setContentsMargins(0, 6, 0, 6);
    h->setSpacing(14);
    h->addWidget(etiqueta(QStringLiteral("Tamaño"), fuente(13.5, QFont::Medium), primario(esquema)));
    deslizador_ = new QSlider(Qt::Horizontal, filaTam);
    deslizador_->setRange(0, pasos);
    deslizador_->setAccessibleName(QStringLiteral("Tamaño"));
    const bool oscuro = esquema == Esquema::oscuro;
    deslizador_->setStyleSheet(
        QStringLiteral("QSlider::groove:horizontal { height: 4px; border-radius: 2px; background: %1; }"
                       "QSlider::sub-page:horizontal { height: 4px; border-radius: 2px; background: %2; }"
                       "QSlider::handle:horizontal { width: 16px; height: 16px; margin: -6px 0; border-radius: 8px;"
                       " background: #ffffff; border: 1px solid %3; }")
            .arg(conAlfa(primario(esquema), oscuro ? 0.22 : 0.14).name(QColor::HexArgb),
                 Paleta(esquema).lima.name(QColor::HexArgb), QColor(0, 0, 0, oscuro ? 120 : 50).name(QColor::HexArgb)));
    h->addWidget(deslizador_, 1);
    porcentaje_ = etiqueta(QString(), fuente(12.5, QFont::Normal, true), secundario(esquema));
    porcentaje_->setFixedWidth(44);
    porcentaje_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    h->addWidget(porcentaje_);
    tarjeta->columna()->addWidget(filaTam);
    connect(deslizador_, &QSlider::valueChanged, this, [this](int v) {
        const double e = EstadoVoz::escalaMinima + (EstadoVoz::escalaMaxima - EstadoVoz::escalaMinima) * v / pasos;
        if (std::abs(e - modelo_.voz().escala()) > 0.5 / pasos) modelo_.voz().setEscala(e);
    });
    connect(&modelo_.voz(), &EstadoVoz::escalaCambio, this, &PanelLaIsla::actualizar);

    auto fila = [&](const QString& t, const QString& d) {
        tarjeta->columna()->addWidget(new Separador(esquema, tarjeta));
        auto* f = new FilaInterruptor(t, d, esquema, tarjeta);
        tarjeta->columna()->addWidget(f);
        return f;
    };
    sonidos_ = fila(QStringLiteral("Sonidos"), QStringLiteral("Al abrir, escuchar, enviar y terminar."));
    resumen_ = fila(QStringLiteral("Resumen de la mañana"),
                    QStringLiteral("Al abrir el equipo por la mañana, Zentu te cuenta cómo amaneció el negocio."));
    inicio_ = fila(QStringLiteral("Abrir al iniciar sesión"), QStringLiteral("Si está cerrada, no te llegan las dudas."));
    sonidos_->alCambiar = [this](bool v) { modelo_.cambiarSonidos(v); };
    resumen_->alCambiar = [this](bool v) { modelo_.cambiarResumen(v); };
    inicio_->alCambiar = [this](bool v) { modelo_.cambiarAlIniciar(v); };
    col->addWidget(tarjeta);

    auto* pie = new QHBoxLayout;
    pie->addStretch(1);
    auto* enlace = new BotonEnlace(QStringLiteral("Volver la isla arriba al centro"), Paleta(esquema).lima, 12, this);
    connect(enlace, &QPushButton::clicked, this, [this] {
        if (modelo_.alVolverArriba) modelo_.alVolverArriba();
    });
    volver_ = enlace;
    pie->addWidget(enlace);
    col->addLayout(pie);
    col->addStretch(1);

    connect(&modelo_, &ModeloAjustes::cambio, this, &PanelLaIsla::actualizar);
    actualizar();
}

void PanelLaIsla::setAltoPrevia(double alto) { previa_->setAlto(alto); }

void PanelLaIsla::actualizar() {
    const double e = modelo_.voz().escala();
    const int v = int(std::round((e - EstadoVoz::escalaMinima) / (EstadoVoz::escalaMaxima - EstadoVoz::escalaMinima) * pasos));
    if (!deslizador_->isSliderDown() && deslizador_->value() != v) {
        const QSignalBlocker b(deslizador_);
        deslizador_->setValue(v);
    }
    porcentaje_->setText(porcentaje(e));
    sonidos_->setValor(modelo_.sonidos());
    resumen_->setValor(modelo_.resumen());
    inicio_->setValor(modelo_.alIniciar());
}
