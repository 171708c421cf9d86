#include "zentu/ajustes/PiezasAjustes.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

namespace Piezas {

QFont fuente(qreal puntos, QFont::Weight peso, bool redondeada) {
    QFont f;
    f.setFamilies(redondeada ? QStringList{QStringLiteral("Comfortaa"), QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")}
                             : QStringList{QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setWeight(peso);
    // One unit of the window is one logical pixel.
    qreal dpi = 96;
    if (auto* p = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        if (p->primaryScreen() && p->primaryScreen()->logicalDotsPerInchY() > 0)
            dpi = p->primaryScreen()->logicalDotsPerInchY();
    f.setPointSizeF(puntos * 72.0 / dpi);
    return f;
}

QColor primario(Esquema e) { return e == Esquema::oscuro ? QColor(242, 242, 244) : QColor(26, 26, 28); }
QColor secundario(Esquema e) { return conAlfa(primario(e), e == Esquema::oscuro ? 0.62 : 0.62); }
QColor terciario(Esquema e) { return conAlfa(primario(e), e == Esquema::oscuro ? 0.40 : 0.44); }
QColor naranja(Esquema e) { return e == Esquema::oscuro ? QColor(255, 159, 10) : QColor(230, 120, 0); }

QColor conAlfa(QColor color, qreal alfa) {
    color.setAlphaF(color.alphaF() * alfa);
    return color;
}

QLabel* etiqueta(const QString& texto, const QFont& f, const QColor& color, bool envolver, QWidget* padre) {
    auto* l = new QLabel(texto, padre);
    l->setFont(f);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    l->setWordWrap(envolver);
    l->setTextFormat(Qt::PlainText);
    return l;
}

QSize Recortada::minimumSizeHint() const {
    const QSize s = QLabel::minimumSizeHint();
    return {std::min(s.width(), 24), s.height()};
}

void Recortada::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = contentsRect();
    p.setPen(palette().color(QPalette::WindowText));
    p.setFont(font());
    p.drawText(r, int(alignment()) | Qt::TextSingleLine,
               QFontMetricsF(font()).elidedText(text(), Qt::ElideRight, r.width()));
}

QLabel* recortada(const QString& texto, const QFont& f, const QColor& color, QWidget* padre) {
    auto* l = new Recortada(texto, padre);
    l->setFont(f);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    l->setTextFormat(Qt::PlainText);
    l->setToolTip(texto);
    l->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return l;
}

QStringList teclas(const Combinacion& comb) { return comb.piezas(); }

// ---------------------------------------------------------------------------------------------

Tarjeta::Tarjeta(Esquema esquema, QWidget* padre) : QWidget(padre), columna_(new QVBoxLayout(this)) {
    columna_->setContentsMargins(16, 6, 16, 6);
    columna_->setSpacing(0);
    Vidrio(FormaVidrio::redondeada(14), esquema).aplicar(this);
}

Separador::Separador(Esquema esquema, QWidget* padre) : QWidget(padre), esquema_(esquema) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void Separador::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), conAlfa(primario(esquema_), 0.1 * 0.5 * 2));
}

Interruptor::Interruptor(Esquema esquema, QWidget* padre) : QAbstractButton(padre), esquema_(esquema) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFixedSize(sizeHint());
}

void Interruptor::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const bool oscuro = esquema_ == Esquema::oscuro;
    QColor fondo = isChecked() ? Paleta(esquema_).lima : conAlfa(primario(esquema_), oscuro ? 0.22 : 0.16);
    if (!isEnabled()) fondo = conAlfa(fondo, 0.45);
    p.setPen(Qt::NoPen);
    p.setBrush(fondo);
    p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
    const qreal d = r.height() - 3;
    const qreal x = isChecked() ? r.right() - 1.5 - d : r.left() + 1.5;
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawEllipse(QRectF(x, r.top() + 2.0, d, d));
    p.setBrush(isEnabled() ? QColor(255, 255, 255) : QColor(235, 235, 235));
    p.drawEllipse(QRectF(x, r.top() + 1.5, d, d));
}

FilaInterruptor::FilaInterruptor(const QString& titulo, const QString& descripcion, Esquema esquema, QWidget* padre)
    : QWidget(padre), esquema_(esquema) {
    auto* fila = new QHBoxLayout(this);
    fila->setContentsMargins(0, 8, 0, 8);
    fila->setSpacing(14);
    auto* textos = new QVBoxLayout;
    textos->setSpacing(2);
    textos->addWidget(etiqueta(titulo, fuente(13.5, QFont::Medium), primario(esquema)));
    descripcion_ = etiqueta(descripcion, fuente(11.5), secundario(esquema), true);
    textos->addWidget(descripcion_);
    fila->addLayout(textos, 1);
    interruptor_ = new Interruptor(esquema, this);
    interruptor_->setAccessibleName(titulo);
    fila->addWidget(interruptor_, 0, Qt::AlignVCenter);
    // The switch asks; the row shows only what it is told afterwards.
    QObject::connect(interruptor_, &QAbstractButton::clicked, this, [this](bool nuevo) {
        interruptor_->setChecked(!nuevo);
        if (alCambiar) alCambiar(nuevo);
    });
}

void FilaInterruptor::setValor(bool valor) { interruptor_->setChecked(valor); }
bool FilaInterruptor::valor() const { return interruptor_->isChecked(); }
QString FilaInterruptor::descripcion() const { return descripcion_->text(); }

void FilaInterruptor::setDescripcion(const QString& texto, bool aviso) {
    aviso_ = aviso;
    descripcion_->setText(texto);
    QPalette pal = descripcion_->palette();
    pal.setColor(QPalette::WindowText, aviso ? naranja(esquema_) : secundario(esquema_));
    descripcion_->setPalette(pal);
}

Tecla::Tecla(const QString& texto, bool mini, Esquema esquema, QWidget* padre)
    : QWidget(padre), texto_(texto), mini_(mini), esquema_(esquema) {
    setFixedSize(sizeHint());
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSizeF Tecla::medida(const QString& texto, bool mini) {
    const QFont f = mini ? fuente(9.5, QFont::DemiBold, true) : fuente(12, QFont::DemiBold, true);
    const bool largo = texto.toUcs4().size() > 1;
    const qreal margen = largo ? (mini ? 5 : 9) : 0;
    const qreal minimo = mini ? 17 : 26;
    return {std::max(minimo, std::ceil(QFontMetricsF(f).horizontalAdvance(texto)) + 2 * margen), minimo};
}

QSize Tecla::sizeHint() const {
    const QSizeF m = medida(texto_, mini_);
    // The raised cap's shadow falls 1.5 below it.
    return QSize(int(std::ceil(m.width())), int(m.height()) + (mini_ ? 0 : 2));
}

void Tecla::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QSizeF m = medida(texto_, mini_);
    pintar(p, QRectF(QPointF(0, 0), QSizeF(width(), m.height())), texto_, mini_, esquema_);
}

void Tecla::pintar(QPainter& p, const QRectF& r, const QString& texto, bool mini, Esquema esquema) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    const bool oscuro = esquema == Esquema::oscuro;
    const qreal radio = mini ? 4 : 6;
    if (mini) {
        p.setPen(Qt::NoPen);
        p.setBrush(conAlfa(primario(esquema), 0.07));
        p.drawRoundedRect(r, radio, radio);
        p.setPen(QPen(conAlfa(primario(esquema), 0.10), 0.6));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(0.3, 0.3, -0.3, -0.3), radio, radio);
        p.setFont(fuente(9.5, QFont::DemiBold, true));
        p.setPen(secundario(esquema));
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor::fromRgbF(0, 0, 0, oscuro ? 0.5 : 0.12));
        p.drawRoundedRect(r.translated(0, 1.5), radio, radio);
        p.setBrush(oscuro ? QColor(52, 54, 58) : QColor(255, 255, 255));
        p.drawRoundedRect(r, radio, radio);
        p.setPen(QPen(conAlfa(primario(esquema), 0.12), 0.8));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(0.4, 0.4, -0.4, -0.4), radio, radio);
        p.setFont(fuente(12, QFont::DemiBold, true));
        p.setPen(primario(esquema));
    }
    p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine, texto);
    p.restore();
}

BotonEnlace::BotonEnlace(const QString& texto, const QColor& color, qreal puntos, QWidget* padre)
    : QPushButton(texto, padre) {
    setFlat(true);
    setCursor(Qt::PointingHandCursor);
    setFont(fuente(puntos));
    setStyleSheet(QStringLiteral("QPushButton { border: none; background: transparent; padding: 2px 0px; color: %1; }"
                                 "QPushButton:pressed { color: %2; }")
                      .arg(color.name(QColor::HexArgb), conAlfa(color, 0.6).name(QColor::HexArgb)));
}

BotonBordeado::BotonBordeado(const QString& texto, const QColor& tinte, qreal puntos, Esquema esquema, QWidget* padre)
    : QPushButton(texto, padre) {
    setCursor(Qt::PointingHandCursor);
    setFont(fuente(puntos, QFont::Medium));
    const bool oscuro = esquema == Esquema::oscuro;
    setStyleSheet(QStringLiteral("QPushButton { color: %1; background: %2; border: 1px solid %3; border-radius: 6px;"
                                 " padding: 3px 10px; }"
                                 "QPushButton:pressed { background: %4; }"
                                 "QPushButton:disabled { color: %5; border-color: %6; }")
                      .arg(tinte.name(QColor::HexArgb), conAlfa(tinte, oscuro ? 0.16 : 0.10).name(QColor::HexArgb),
                           conAlfa(tinte, 0.45).name(QColor::HexArgb), conAlfa(tinte, 0.28).name(QColor::HexArgb),
                           conAlfa(tinte, 0.45).name(QColor::HexArgb), conAlfa(tinte, 0.2).name(QColor::HexArgb)));
}

}  // namespace Piezas
