#include "zentu/isla/TarjetasFlotantes.h"

#include "compartido/VistasWidgets.h"
#include "plataforma/VentanasEscritorio.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

// ---------------------------------------------------------------------------------------------
// PanelFlotante

PanelFlotante::PanelFlotante(QSizeF tam, QWidget* contenido)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::NoDropShadowWindowHint) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating, false);
    const QSizeF ventana = tamanoVentana(tam, [contenido](double ancho) {
        // A separate measurement of the content at that width: the layout's height for it.
        const int w = static_cast<int>(std::ceil(ancho));
        if (contenido->hasHeightForWidth()) return double(contenido->heightForWidth(w));
        if (contenido->layout() && contenido->layout()->hasHeightForWidth())
            return double(contenido->layout()->totalHeightForWidth(w));
        return double(contenido->sizeHint().height());
    });
    const QSize fijo(static_cast<int>(std::ceil(ventana.width())), static_cast<int>(std::ceil(ventana.height())));
    contenido->setParent(this);
    contenido->setGeometry(QRect(QPoint(0, 0), fijo));
    setFixedSize(fijo);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &PanelFlotante::cancelar);
}

void PanelFlotante::cancelar() {
    hide();
    if (alCerrar) alCerrar();
}

void PanelFlotante::keyPressEvent(QKeyEvent* evento) {
    if (evento->key() == Qt::Key_Escape) {
        cancelar();
        return;
    }
    QWidget::keyPressEvent(evento);
}

QSizeF PanelFlotante::tamanoVentana(QSizeF tam, const std::function<double(double)>& altoAjustado) {
    if (tam.height() == 0) {
        const double ancho = tam.width() + 8;
        return {ancho, std::min(altoAjustado ? altoAjustado(ancho) : 0.0, 760.0)};
    }
    return {tam.width() + 2 * kMargenTarjeta, tam.height() + 2 * kMargenTarjeta};
}

std::optional<PanelFlotante::Pantalla> PanelFlotante::pantallaDe(QPointF raton, const std::vector<Pantalla>& pantallas,
                                                                int principal) {
    for (const Pantalla& p : pantallas) {
        // A closed rectangle, as the pointer may rest on the last pixel row or column.
        const QRectF& m = p.marco;
        if (raton.x() >= m.left() && raton.x() <= m.right() && raton.y() >= m.top() && raton.y() <= m.bottom())
            return p;
    }
    if (principal >= 0 && principal < int(pantallas.size())) return pantallas[size_t(principal)];
    return std::nullopt;
}

QPointF PanelFlotante::origenCentrado(QRectF visible, QSizeF ventana) {
    // Raised by 5 % of the visible height: with y growing downwards that is a subtraction.
    return {visible.center().x() - ventana.width() / 2,
            visible.center().y() - ventana.height() / 2 - 0.05 * visible.height()};
}

QPointF PanelFlotante::origenJuntoAlRaton(QPointF raton, QRectF visible, QSizeF ventana) {
    double x = raton.x() - ventana.width() / 2;
    double y = raton.y() - ventana.height() / 2;
    x = std::max(x, visible.left());
    x = std::min(x, visible.right() - ventana.width());
    // The top edge wins over the bottom one, so that the title row (the drag handle) stays reachable.
    y = std::min(y, visible.bottom() - ventana.height());
    y = std::max(y, visible.top());
    return {x, y};
}

std::vector<PanelFlotante::Pantalla> PanelFlotante::pantallasDelSistema(int* principal) {
    std::vector<Pantalla> lista;
    *principal = -1;
    const auto pantallas = QGuiApplication::screens();
    for (int i = 0; i < pantallas.size(); ++i) {
        lista.push_back({QRectF(pantallas[i]->geometry()), QRectF(pantallas[i]->availableGeometry())});
        if (pantallas[i] == QGuiApplication::primaryScreen()) *principal = i;
    }
    return lista;
}

void PanelFlotante::mostrarCentrado() {
    int principal = -1;
    const auto pantalla = pantallaDe(QCursor::pos(), pantallasDelSistema(&principal), principal);
    if (!pantalla) return;
    presentar(origenCentrado(pantalla->visible, size()));
}

void PanelFlotante::mostrarJuntoAlRaton() {
    const QPointF raton = QCursor::pos();
    int principal = -1;
    const auto pantalla = pantallaDe(raton, pantallasDelSistema(&principal), principal);
    if (!pantalla) return;
    presentar(origenJuntoAlRaton(raton, pantalla->visible, size()));
}

void PanelFlotante::presentar(QPointF origen) {
    move(origen.toPoint());
    show();
    VentanasEscritorio::comoTarjetaFlotante(this);
    raise();
    activateWindow();
    setFocus(Qt::ActiveWindowFocusReason);
}

// ---------------------------------------------------------------------------------------------
// Tarjeta

namespace {

// The close button: the "cerrar" cross in a 10-point frame on a 24-point circle.
class BotonCerrar : public QAbstractButton {
public:
    BotonCerrar(std::function<bool()> oscuro, QWidget* padre) : QAbstractButton(padre), oscuro_(std::move(oscuro)) {
        setFixedSize(24, 24);
        setToolTip(QStringLiteral("Cerrar (Esc)"));
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    bool hitButton(const QPoint& p) const override {
        const QPointF d = QPointF(p) - QPointF(12, 12);
        return d.x() * d.x() + d.y() * d.y() <= 144;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor tinta = colorTinta(oscuro_());
        QColor fondo = tinta;
        fondo.setAlphaF(0.08);
        p.setPen(Qt::NoPen);
        p.setBrush(fondo);
        p.drawEllipse(QRectF(0, 0, 24, 24));
        QColor trazo = tinta;
        trazo.setAlphaF(0.7);
        QPen pluma(trazo, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
        pluma.setMiterLimit(10);
        p.setPen(pluma);
        p.drawLine(QPointF(7, 7), QPointF(17, 17));
        p.drawLine(QPointF(17, 7), QPointF(7, 17));
    }

public:
    static QColor colorTinta(bool oscuro) { return oscuro ? QColor::fromRgbF(0.96f, 0.96f, 0.96f) : QColor::fromRgbF(0.08f, 0.08f, 0.08f); }

private:
    std::function<bool()> oscuro_;
};

// Glass surface of a card (provisional until the shared glass lands).
void pintarVidrioTarjeta(QPainter& p, const QRectF& cara, bool oscuro) {
    QPainterPath forma;
    forma.addRoundedRect(cara, 22, 22);
    for (int i = 6; i >= 1; --i) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, oscuro ? 10 : 6));
        QPainterPath s;
        s.addRoundedRect(cara.adjusted(-i, -i + 4, i, i + 4), 22 + i, 22 + i);
        p.drawPath(s);
    }
    p.setBrush(oscuro ? QColor(28, 30, 29, 240) : QColor(246, 247, 245, 240));
    p.drawPath(forma);
}

QFont fuenteTitulo() {
    QFont f(QStringLiteral("Inter"));
    f.setPixelSize(14);
    f.setWeight(QFont::DemiBold);
    return f;
}

}  // namespace

Tarjeta::Tarjeta(QString titulo, QSizeF tam, std::function<void()> cerrar, QWidget* contenido, QWidget* padre)
    : QWidget(padre), titulo_(std::move(titulo)), tam_(tam), cerrar_(std::move(cerrar)) {
    setAttribute(Qt::WA_TranslucentBackground);
    auto* exterior = new QVBoxLayout(this);
    const int m = int(kMargenTarjeta);
    exterior->setContentsMargins(m, m, m, m);
    exterior->setSpacing(0);

    auto* superficie = new QWidget(this);
    superficie->setFixedSize(tam.toSize());
    exterior->addWidget(superficie);

    auto* pila = new QVBoxLayout(superficie);
    pila->setContentsMargins(0, 0, 0, 0);
    pila->setSpacing(0);

    fila_ = new QWidget(superficie);
    fila_->setCursor(Qt::OpenHandCursor);
    auto* filaLayout = new QHBoxLayout(fila_);
    filaLayout->setContentsMargins(16, 14, 16, 8);
    auto* etiqueta = new QLabel(titulo_, fila_);
    etiqueta->setFont(fuenteTitulo());
    etiqueta->setObjectName(QStringLiteral("titulo"));
    etiqueta->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette pal = etiqueta->palette();
    pal.setColor(QPalette::WindowText, BotonCerrar::colorTinta(oscuro()));
    etiqueta->setPalette(pal);
    filaLayout->addWidget(etiqueta);
    filaLayout->addStretch(1);
    auto* boton = new BotonCerrar([this] { return oscuro(); }, fila_);
    connect(boton, &QAbstractButton::clicked, this, [this] {
        if (cerrar_) cerrar_();
    });
    boton_ = boton;
    filaLayout->addWidget(boton);
    fila_->installEventFilter(this);
    pila->addWidget(fila_);
    if (contenido) {
        contenido->setParent(superficie);
        pila->addWidget(contenido, 1);
    }
    pila->addStretch(0);
    setFixedSize(sizeHint());
}

QSize Tarjeta::sizeHint() const {
    return QSize(int(tam_.width() + 2 * kMargenTarjeta), int(tam_.height() + 2 * kMargenTarjeta));
}

bool Tarjeta::oscuro() const {
    return palette().color(QPalette::Window).lightness() < 128;
}

bool Tarjeta::eventFilter(QObject* objeto, QEvent* evento) {
    if (objeto != fila_) return QWidget::eventFilter(objeto, evento);
    switch (evento->type()) {
    case QEvent::MouseButtonPress: {
        auto* e = static_cast<QMouseEvent*>(evento);
        if (e->button() != Qt::LeftButton) break;
        // The window manager moves the window when it can; otherwise follow the pointer ourselves.
        if (QWindow* w = window()->windowHandle(); w && w->startSystemMove()) return true;
        arrastrando_ = true;
        agarre_ = e->globalPosition().toPoint() - window()->pos();
        return true;
    }
    case QEvent::MouseMove:
        if (arrastrando_) {
            window()->move(static_cast<QMouseEvent*>(evento)->globalPosition().toPoint() - agarre_);
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        arrastrando_ = false;
        break;
    default:
        break;
    }
    return QWidget::eventFilter(objeto, evento);
}

void Tarjeta::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF cara(kMargenTarjeta, kMargenTarjeta, tam_.width(), tam_.height());
    pintarVidrioTarjeta(p, cara, oscuro());
}

// ---------------------------------------------------------------------------------------------
// Desplazable

Desplazable::Desplazable(QWidget* contenido, QWidget* padre) : QWidget(padre) {
    auto* l = new QVBoxLayout(this);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(0);
    desplaza_ = !CapturaW::activa;
    if (!desplaza_) {
        contenido->setParent(this);
        l->addWidget(contenido);
        return;
    }
    auto* area = new QScrollArea(this);
    area->setObjectName(QStringLiteral("desplazamiento"));
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->setAttribute(Qt::WA_TranslucentBackground);
    area->viewport()->setAutoFillBackground(false);
    contenido->setAutoFillBackground(false);
    area->setWidget(contenido);
    l->addWidget(area);
}

// ---------------------------------------------------------------------------------------------
// FlowLayout

FlowLayout::FlowLayout(double espacio_, QWidget* padre) : QLayout(padre), espacio(espacio_) {
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout() {
    for (QLayoutItem* i : items_) delete i;
}

QSizeF FlowLayout::medir(const std::vector<QSizeF>& ideales, std::optional<double> ancho, double espacio) {
    const double W = ancho.value_or(300);
    double x = 0, y = 0, r = 0;
    for (const QSizeF& t : ideales) {
        if (x + t.width() > W && x > 0) {
            y += r + espacio;
            r = 0;
            x = 0;
        }
        r = std::max(r, t.height());
        x += t.width() + espacio;
    }
    return {W, y + r};
}

std::vector<QPointF> FlowLayout::colocar(const std::vector<QSizeF>& ideales, QRectF b, double espacio) {
    std::vector<QPointF> sitios;
    sitios.reserve(ideales.size());
    // QRectF::right() is left + width, the far edge of the bounds.
    double x = b.left(), y = b.top(), r = 0;
    for (const QSizeF& t : ideales) {
        if (x + t.width() > b.right() && x > b.left()) {
            y += r + espacio;
            r = 0;
            x = b.left();
        }
        sitios.emplace_back(x, y);
        r = std::max(r, t.height());
        x += t.width() + espacio;
    }
    return sitios;
}

void FlowLayout::addItem(QLayoutItem* item) { items_.push_back(item); }
int FlowLayout::count() const { return int(items_.size()); }
QLayoutItem* FlowLayout::itemAt(int i) const { return i >= 0 && i < count() ? items_[size_t(i)] : nullptr; }
QLayoutItem* FlowLayout::takeAt(int i) {
    if (i < 0 || i >= count()) return nullptr;
    QLayoutItem* item = items_[size_t(i)];
    items_.erase(items_.begin() + i);
    return item;
}

std::vector<QSizeF> FlowLayout::ideales() const {
    std::vector<QSizeF> t;
    for (QLayoutItem* i : items_) t.emplace_back(i->sizeHint());
    return t;
}

QSize FlowLayout::sizeHint() const { return medir(ideales(), std::nullopt, espacio).toSize(); }
QSize FlowLayout::minimumSize() const { return QSize(0, 0); }
int FlowLayout::heightForWidth(int ancho) const {
    return int(std::ceil(medir(ideales(), double(ancho), espacio).height()));
}

void FlowLayout::setGeometry(const QRect& r) {
    QLayout::setGeometry(r);
    const auto t = ideales();
    const auto sitios = colocar(t, QRectF(r), espacio);
    for (size_t i = 0; i < items_.size(); ++i)
        items_[i]->setGeometry(QRect(sitios[i].toPoint(), t[i].toSize()));
}
