#include "zentu/isla/TarjetasFlotantes.h"

#include "compartido/VistasWidgets.h"
#include "compartido/Iconos.h"
#include "plataforma/VentanaFlotante.h"
#include "plataforma/VentanasEscritorio.h"
#include "zentu/isla/Vidrio.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCursor>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
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
    contenido_ = contenido;
    setFixedSize(fijo);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &PanelFlotante::cancelar);
    // A compositor that comes or goes changes what the margin shows: cut or whole, shadow or none.
    VentanaFlotante::seguirCompositor(this, [this] {
        formaDada_.reset();
        darForma();
        update();
    });
    // Presses reach the card's own widgets, not the window: watched on the way to them.
    if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

QRegion PanelFlotante::forma() const {
    QRegion region;
    for (const QWidget* s : findChildren<QWidget*>(QString::fromLatin1(kNombreSuperficie))) {
        if (s->isHidden()) continue;
        QPainterPath camino;
        camino.addRoundedRect(QRectF(s->mapTo(this, QPoint(0, 0)), QSizeF(s->size())), kRadioTarjeta, kRadioTarjeta);
        region += VentanaFlotante::region(camino);
    }
    return region;
}

void PanelFlotante::darForma() {
    if (!isVisible()) return;
    const QRegion r = forma();
    if (formaDada_ && *formaDada_ == r) return;
    formaDada_ = r;
    VentanaFlotante::darForma(this, r.isEmpty() ? std::nullopt : std::optional<QRegion>(r));
    // The margin around the cards is their own shadow: a compositor adds none, and places the
    // window by the cards.
    const QRect dentro = r.boundingRect();
    VentanaFlotante::marcarSombra(this, r.isEmpty() ? QMargins()
                                                    : QMargins(dentro.left(), dentro.top(), width() - 1 - dentro.right(),
                                                               height() - 1 - dentro.bottom()));
}

void PanelFlotante::showEvent(QShowEvent* evento) {
    QWidget::showEvent(evento);
    // Looked at afresh on every showing: a compositor may have come or gone meanwhile.
    formaDada_.reset();
    darForma();
    if (QWindow* w = windowHandle()) {
        w->removeEventFilter(this);
        w->installEventFilter(this);
    }
    pedido_ = pos();
    devuelto_ = false;
}

void PanelFlotante::moveEvent(QMoveEvent* evento) {
    QWidget::moveEvent(evento);
    if (!pedido_ || devuelto_ || !isVisible() || pos() == *pedido_) return;
    devuelto_ = true;
    move(*pedido_);
}

bool PanelFlotante::eventFilter(QObject* objeto, QEvent* evento) {
    // The owner's press on the card (its title row drags the window): from then on the window
    // goes where it is taken.
    if (evento->type() == QEvent::MouseButtonPress && objeto->isWidgetType() &&
        (objeto == this || isAncestorOf(static_cast<QWidget*>(objeto))))
        pedido_.reset();
    // Given again once the window is on screen: a window manager that frames the window takes
    // the shape for its frame only from changes made after it took the window in.
    if (objeto == windowHandle() && evento->type() == QEvent::Expose && windowHandle()->isExposed()) {
        formaDada_.reset();
        darForma();
    }
    return QWidget::eventFilter(objeto, evento);
}

void PanelFlotante::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    darForma();
}

void PanelFlotante::paintEvent(QPaintEvent*) {
    // A card that rebuilds or grows repaints the window: its surfaces may stand elsewhere now.
    // The shape changes after the painting, not during it.
    QMetaObject::invokeMethod(this, &PanelFlotante::darForma, Qt::QueuedConnection);
}

namespace {

// The text fields of a card, in the order its layout made them.
template <typename T> QList<T*> campos(QWidget* raiz) { return raiz ? raiz->findChildren<T*>() : QList<T*>(); }

template <typename T, typename Leer, typename Poner>
void pasarCampos(QWidget* viejo, QWidget* nuevo, QWidget* conTeclado, Leer leer, Poner poner) {
    const QList<T*> antes = campos<T>(viejo), despues = campos<T>(nuevo);
    if (antes.size() != despues.size()) return;
    for (qsizetype i = 0; i < antes.size(); ++i) {
        if (leer(antes[i]) != leer(despues[i])) poner(despues[i], leer(antes[i]));
        if (conTeclado && (conTeclado == antes[i] || antes[i]->isAncestorOf(conTeclado)))
            despues[i]->setFocus(Qt::OtherFocusReason);
    }
}

}  // namespace

void PanelFlotante::cambiarContenido(QWidget* nuevo) {
    if (!nuevo) return;
    QWidget* viejo = contenido_;
    QWidget* conTeclado = viejo && viejo->isAncestorOf(focusWidget()) ? focusWidget() : nullptr;
    nuevo->setParent(this);
    nuevo->setGeometry(rect());
    nuevo->show();
    if (viejo) {
        pasarCampos<QLineEdit>(viejo, nuevo, conTeclado, [](QLineEdit* c) { return c->text(); },
                               [](QLineEdit* c, const QString& t) { c->setText(t); });
        pasarCampos<QPlainTextEdit>(viejo, nuevo, conTeclado, [](QPlainTextEdit* c) { return c->toPlainText(); },
                                    [](QPlainTextEdit* c, const QString& t) { c->setPlainText(t); });
        pasarCampos<QTextEdit>(viejo, nuevo, conTeclado, [](QTextEdit* c) { return c->toPlainText(); },
                               [](QTextEdit* c, const QString& t) { c->setPlainText(t); });
        viejo->hide();
        viejo->deleteLater();
    }
    contenido_ = nuevo;
    formaDada_.reset();
    darForma();
    update();
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
        // The card's shadow needs the same room as any card's, or the window's edge cuts it.
        const double ancho = tam.width() + 2 * kMargenTarjeta;
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

QPointF PanelFlotante::origenJunto(QRectF ancla, QRectF visible, QSizeF ventana) {
    constexpr double separacion = 8;
    double x = ancla.right() + separacion;
    double y = ancla.top();
    if (x + ventana.width() > visible.right()) {
        x = ancla.left() - separacion - ventana.width();
        if (x < visible.left()) {
            // No room on either side: under it, centred.
            x = ancla.center().x() - ventana.width() / 2;
            y = ancla.bottom() + separacion;
        }
    }
    x = std::min(std::max(x, visible.left()), visible.right() - ventana.width());
    y = std::min(y, visible.bottom() - ventana.height());
    y = std::max(y, visible.top());
    return {x, y};
}

void PanelFlotante::mostrarJunto(const QRectF& ancla) {
    int principal = -1;
    const auto pantalla = pantallaDe(ancla.center(), pantallasDelSistema(&principal), principal);
    if (!pantalla) return;
    presentar(origenJunto(ancla, pantalla->visible, size()));
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
    // Where the pointer's place is not known (it is over a window the desktop keeps from us), a
    // card beside a stale place would open far from the owner: the screen's middle is nearer.
    const auto donde = VentanasEscritorio::puntero();
    if (!donde) {
        mostrarCentrado();
        return;
    }
    const QPointF raton = *donde;
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
    BotonCerrar(Esquema esquema, QWidget* padre) : QAbstractButton(padre), esquema_(esquema) {
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
        const QColor tinta = Paleta(esquema_).tinta;
        QColor fondo = tinta;
        fondo.setAlphaF(0.08f);
        p.setPen(Qt::NoPen);
        p.setBrush(fondo);
        p.drawEllipse(QRectF(0, 0, 24, 24));
        QColor trazo = tinta;
        trazo.setAlphaF(0.7f);
        QPen pluma(trazo, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
        pluma.setMiterLimit(10);
        p.setPen(pluma);
        p.setBrush(Qt::NoBrush);
        p.drawPath(Iconos::forma(Icono::cerrar, QRectF(7, 7, 10, 10)));
    }

private:
    Esquema esquema_;
};

QFont fuenteTitulo(const QWidget* w) {
    QFont f;
    f.setFamilies({QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")});
    f.setWeight(QFont::DemiBold);
    // 14 logical units whatever the screen's dots per inch.
    f.setPointSizeF(14 * 72.0 / std::max(1, w->logicalDpiY()));
    return f;
}

}  // namespace

Tarjeta::Tarjeta(QString titulo, QSizeF tam, std::function<void()> cerrar, QWidget* contenido, Esquema esquema,
                 QWidget* padre)
    : QWidget(padre), titulo_(std::move(titulo)), tam_(tam), cerrar_(std::move(cerrar)), esquema_(esquema) {
    setAttribute(Qt::WA_TranslucentBackground);
    auto* exterior = new QVBoxLayout(this);
    const int m = int(kMargenTarjeta);
    exterior->setContentsMargins(m, m, m, m);
    exterior->setSpacing(0);

    superficie_ = new QWidget(this);
    superficie_->setObjectName(QString::fromLatin1(kNombreSuperficie));
    superficie_->setFixedSize(tam.toSize());
    exterior->addWidget(superficie_);
    const FormaVidrio forma = FormaVidrio::redondeada(kRadioTarjeta);
    Vidrio(forma, esquema).aplicar(superficie_);
    SombraVidrio(esquema, kRadioTarjeta).aplicar(superficie_, forma);

    auto* pila = new QVBoxLayout(superficie_);
    pila->setContentsMargins(0, 0, 0, 0);
    pila->setSpacing(0);

    fila_ = new QWidget(superficie_);
    fila_->setObjectName(QStringLiteral("filaTitulo"));
    auto* filaLayout = new QHBoxLayout(fila_);
    filaLayout->setContentsMargins(16, 14, 16, 8);
    auto* etiqueta = new QLabel(titulo_, fila_);
    etiqueta->setFont(fuenteTitulo(this));
    etiqueta->setObjectName(QStringLiteral("titulo"));
    etiqueta->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette pal = etiqueta->palette();
    pal.setColor(QPalette::WindowText, esquema == Esquema::oscuro ? Qt::white : Qt::black);
    etiqueta->setPalette(pal);
    filaLayout->addWidget(etiqueta);
    filaLayout->addStretch(1);
    auto* boton = new BotonCerrar(esquema, fila_);
    connect(boton, &QAbstractButton::clicked, this, [this] {
        if (cerrar_) cerrar_();
    });
    boton_ = boton;
    filaLayout->addWidget(boton);
    fila_->installEventFilter(this);
    pila->addWidget(fila_);
    if (contenido) {
        contenido->setParent(superficie_);
        pila->addWidget(contenido, 1);
    } else {
        pila->addStretch(1);
    }
    setFixedSize(sizeHint());
}

QSize Tarjeta::sizeHint() const {
    return QSize(int(tam_.width() + 2 * kMargenTarjeta), int(tam_.height() + 2 * kMargenTarjeta));
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
    // Shown only while the content overflows: the policy follows the range, so the bar goes even
    // where the area was never laid out on screen (a picture of the card).
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(area->verticalScrollBar(), &QScrollBar::rangeChanged, area, [area](int minimo, int maximo) {
        const auto politica = maximo > minimo ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
        if (area->verticalScrollBarPolicy() != politica) area->setVerticalScrollBarPolicy(politica);
    });
    area->setAttribute(Qt::WA_TranslucentBackground);
    area->viewport()->setAutoFillBackground(false);
    // A thin indicator over the glass instead of the style's full scroll bar; its foot stays clear
    // of the card's rounded bottom corner.
    area->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 9px; margin: 2px 3px 18px 0; }"
        "QScrollBar::handle:vertical { background: rgba(128, 128, 128, 120); border-radius: 3px; min-height: 24px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }"));
    area->setWidget(contenido);
    // setWidget turns the content's own fill on; in a translucent window that fill would wipe the
    // card's glass beneath it, leaving the list over nothing.
    contenido->setAutoFillBackground(false);
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
