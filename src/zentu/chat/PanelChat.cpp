#include "zentu/chat/PanelChat.h"

#include "plataforma/Compositor.h"

#include "plataforma/Preferencias.h"
#include "plataforma/VentanaFlotante.h"
#include "zentu/isla/Ventana.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLocale>
#include <QMouseEvent>
#include <QRegularExpression>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cmath>

namespace {
const QString claveTamano = QStringLiteral("zentu.chat.tam");
}

namespace GeometriaChat {
namespace {
double arriba(const QRectF& r) { return r.y() + r.height(); }
bool seTocan(const QRectF& a, const QRectF& b) {
    return a.x() < b.x() + b.width() && b.x() < a.x() + a.width() && a.y() < arriba(b) && b.y() < arriba(a);
}
bool izquierda(Esquina c) { return c == Esquina::arribaIzquierda || c == Esquina::abajoIzquierda; }
bool deArriba(Esquina c) { return c == Esquina::arribaIzquierda || c == Esquina::arribaDerecha; }
}  // namespace

QString textoDeTamano(QSizeF tam) {
    const auto numero = [](double v) { return QString::number(v, 'g', QLocale::FloatingPointShortest); };
    return QStringLiteral("{%1, %2}").arg(numero(tam.width()), numero(tam.height()));
}

std::optional<QSizeF> tamanoDeTexto(const QString& texto) {
    static const QRegularExpression forma(
        QStringLiteral(R"(^\s*\{\s*([-+0-9.eE]+)\s*,\s*([-+0-9.eE]+)\s*\}\s*$)"));
    const auto m = forma.match(texto);
    if (!m.hasMatch()) return std::nullopt;
    bool okW = false, okH = false;
    const double w = m.captured(1).toDouble(&okW);
    const double h = m.captured(2).toDouble(&okH);
    if (!okW || !okH || !std::isfinite(w) || !std::isfinite(h)) return std::nullopt;
    return QSizeF(w, h);
}

QSizeF tamanoGuardado(const std::optional<QString>& texto) {
    const std::optional<QSizeF> t = texto ? tamanoDeTexto(*texto) : std::nullopt;
    if (!t || t->width() < minimoGuardadoAncho || t->height() < minimoGuardadoAlto)
        return QSizeF(anchoContenido, altoContenido);
    return QSizeF(std::min(t->width(), tamanoMaximoX), std::min(t->height(), tamanoMaximoX));
}

std::optional<QRectF> colocar(QSizeF panel, const QRectF& a, const std::vector<Pantalla>& pantallas, int principal) {
    const Pantalla* elegida = nullptr;
    for (const Pantalla& p : pantallas)
        if (seTocan(p.marco, a)) {
            elegida = &p;
            break;
        }
    if (!elegida && principal >= 0 && principal < int(pantallas.size())) elegida = &pantallas[size_t(principal)];
    if (!elegida) return std::nullopt;
    const QRectF& v = elegida->visible;
    const double w = panel.width(), h = panel.height();
    double x = a.x() + a.width() / 2 - w / 2;
    x = std::max(x, v.x());
    x = std::min(x, v.x() + v.width() - w);
    // The window, margin and all, stays off the anchor (the island's pill): its see-through
    // margin would lie over the pill, darkened by the card's shadow and taking its clicks.
    double y = arriba(a);
    if (y + h > arriba(v)) y = a.y() - h;
    y = std::max(y, v.y());
    return QRectF(x, y, w, h);
}

QRectF redimensionar(const QRectF& b, Esquina c, QSizeF d) {
    double w = izquierda(c) ? b.width() - d.width() : b.width() + d.width();
    double h = deArriba(c) ? b.height() - d.height() : b.height() + d.height();
    w = std::clamp(w, anchoMin, anchoMax);
    h = std::clamp(h, altoMin, altoMax);
    const double x = izquierda(c) ? b.x() + b.width() - w : b.x();
    const double y = deArriba(c) ? b.y() : arriba(b) - h;
    return QRectF(x, y, w, h);
}

}  // namespace GeometriaChat

// ---------------------------------------------------------------------------------------------

PanelChat::PanelChat(QWidget* contenido)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint),
      contenido_(contenido) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setWindowTitle(QStringLiteral("Zentu"));
    std::optional<QString> guardado;
    const QVariant v = Preferencias::almacen().value(claveTamano);
    if (v.typeId() == QMetaType::QString) guardado = v.toString();
    const QSizeF tam = GeometriaChat::tamanoGuardado(guardado);
    resize(int(std::lround(tam.width() + 2 * GeometriaChat::margen)),
           int(std::lround(tam.height() + 2 * GeometriaChat::margen)));
    if (contenido_) {
        contenido_->setParent(this);
        contenido_->setGeometry(rect());
    }
    // A compositor that comes or goes: cut to the card or whole, shadow or none, painted again.
    VentanaFlotante::seguirCompositor(this, [this] {
        darForma();
        update();
    });
}

void PanelChat::darForma() {
    if (!isVisible()) return;
    const double m = GeometriaChat::margen;
    QPainterPath carta;
    carta.addRoundedRect(QRectF(rect()).adjusted(m, m, -m, -m), GeometriaChat::radio, GeometriaChat::radio);
    // Without a compositor the margin would be painted opaque over whatever lies beneath it; with
    // one it shows the card's shadow and lets the clicks through.
    VentanaFlotante::darForma(this, VentanaFlotante::region(carta));
    const int mi = int(m);
    VentanaFlotante::marcarSombra(this, QMargins(mi, mi, mi, mi));
}

void PanelChat::cambiarContenido(QWidget* nuevo) {
    if (!nuevo) return;
    QWidget* viejo = contenido_;
    const bool teclado = viejo && viejo->isAncestorOf(focusWidget());
    nuevo->setParent(this);
    nuevo->setGeometry(rect());
    nuevo->show();
    contenido_ = nuevo;
    if (viejo) {
        viejo->hide();
        viejo->deleteLater();
    }
    if (!teclado) return;
    // The keyboard goes to the new composer (the view's one editable text field), else the view.
    for (QPlainTextEdit* campo : nuevo->findChildren<QPlainTextEdit*>())
        if (!campo->isReadOnly()) return campo->setFocus(Qt::OtherFocusReason);
    nuevo->setFocus(Qt::OtherFocusReason);
}

Qt::CursorShape PanelChat::cursor(Esquina c) {
    return c == Esquina::arribaIzquierda || c == Esquina::abajoDerecha ? Qt::SizeFDiagCursor : Qt::SizeBDiagCursor;
}

QRectF PanelChat::principal() {
    QScreen* p = QGuiApplication::primaryScreen();
    return p ? QRectF(p->geometry()) : QRectF(0, 0, 0, 0);
}

QRectF PanelChat::marco() const { return GeometriaIsla::deQt(QRectF(geometry()), principal()); }

void PanelChat::aplicar(const QRectF& m) {
    const QRectF q = GeometriaIsla::aQt(m, principal());
    setGeometry(QRect(QPoint(int(std::lround(q.x())), int(std::lround(q.y()))),
                      QSize(int(std::lround(q.width())), int(std::lround(q.height())))));
    repaint();
}

void PanelChat::colocar(const QRectF& ancla) {
    const QRectF base = principal();
    std::vector<GeometriaChat::Pantalla> pantallas;
    int indicePrincipal = -1;
    for (QScreen* s : QGuiApplication::screens()) {
        if (s == QGuiApplication::primaryScreen()) indicePrincipal = int(pantallas.size());
        pantallas.push_back({GeometriaIsla::deQt(QRectF(s->geometry()), base),
                             GeometriaIsla::deQt(QRectF(s->availableGeometry()), base)});
    }
    if (const auto m = GeometriaChat::colocar(QSizeF(size()), GeometriaIsla::deQt(ancla, base), pantallas,
                                              indicePrincipal))
        aplicar(*m);
}

void PanelChat::redimensionar(Esquina c, QSizeF d, bool terminado) {
    if (!alEmpezar_) alEmpezar_ = marco();
    const QRectF nuevo = GeometriaChat::redimensionar(*alEmpezar_, c, d);
    aplicar(nuevo);
    if (terminado) {
        alEmpezar_.reset();
        const QSizeF contenido(nuevo.width() - 2 * GeometriaChat::margen, nuevo.height() - 2 * GeometriaChat::margen);
        Preferencias::almacen().setValue(claveTamano, GeometriaChat::textoDeTamano(contenido));
    }
}

void PanelChat::mostrar() {
    show();
    raise();
    activateWindow();
}

void PanelChat::showEvent(QShowEvent* evento) {
    QWidget::showEvent(evento);
    if (QWindow* w = windowHandle()) {
        VentanaFlotante::fijar(w);
        w->removeEventFilter(this);
        w->installEventFilter(this);
    }
    // Looked at afresh on every showing.
    darForma();
}

bool PanelChat::eventFilter(QObject* objeto, QEvent* evento) {
    // Given again once the window is on screen: a window manager that frames the window takes
    // the shape for its frame only from changes made after it took the window in.
    if (objeto == windowHandle() && evento->type() == QEvent::Expose && windowHandle()->isExposed()) darForma();
    return QWidget::eventFilter(objeto, evento);
}

void PanelChat::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    if (contenido_) contenido_->setGeometry(rect());
    darForma();
}

// ---------------------------------------------------------------------------------------------

namespace {

class Agarre : public QWidget {
public:
    Agarre(PanelChat::Esquina c, Esquinas::Accion accion, QWidget* padre)
        : QWidget(padre), esquina_(c), accion_(std::move(accion)) {
        setFixedSize(18, 18);
        setCursor(PanelChat::cursor(c));
        setAttribute(Qt::WA_NoSystemBackground);
    }

protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() != Qt::LeftButton) return;
        inicio_ = e->globalPosition();
        moviendo_ = false;
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!inicio_) return;
        const QPointF d = e->globalPosition() - *inicio_;
        if (!moviendo_ && std::hypot(d.x(), d.y()) < 1) return;
        moviendo_ = true;
        if (accion_) accion_(esquina_, QSizeF(d.x(), d.y()), false);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (!inicio_ || e->button() != Qt::LeftButton) return;
        const QPointF d = e->globalPosition() - *inicio_;
        inicio_.reset();
        if (moviendo_ && accion_) accion_(esquina_, QSizeF(d.x(), d.y()), true);
        moviendo_ = false;
    }

private:
    PanelChat::Esquina esquina_;
    Esquinas::Accion accion_;
    std::optional<QPointF> inicio_;
    bool moviendo_ = false;
};

}  // namespace

Esquinas::Esquinas(QWidget* tarjeta, Accion redimensionar) : QObject(tarjeta), tarjeta_(tarjeta) {
    using E = PanelChat::Esquina;
    for (E c : {E::arribaIzquierda, E::arribaDerecha, E::abajoIzquierda, E::abajoDerecha})
        agarres_.push_back(new Agarre(c, redimensionar, tarjeta));
    tarjeta->installEventFilter(this);
    ajustar();
}

QWidget* Esquinas::agarre(PanelChat::Esquina c) const { return agarres_[size_t(c)]; }

bool Esquinas::eventFilter(QObject* objeto, QEvent* evento) {
    if (objeto == tarjeta_ && (evento->type() == QEvent::Resize || evento->type() == QEvent::ChildAdded))
        ajustar();
    return QObject::eventFilter(objeto, evento);
}

void Esquinas::ajustar() {
    if (!tarjeta_) return;
    const int w = tarjeta_->width(), h = tarjeta_->height();
    const QPoint sitios[] = {{0, 0}, {w - 18, 0}, {0, h - 18}, {w - 18, h - 18}};
    for (size_t i = 0; i < agarres_.size(); ++i) {
        agarres_[i]->move(sitios[i]);
        agarres_[i]->raise();
    }
}
