#include "zentu/isla/Ventana.h"

#include "plataforma/Preferencias.h"
#include "plataforma/VentanaFlotante.h"
#include "zentu/isla/EstadoVoz.h"
#include "zentu/isla/Pildora.h"
#include "zentu/isla/Vidrio.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>
#include <QApplication>
#include <QTimer>
#include <QToolTip>
#include <QWindow>

#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <cmath>

namespace GeometriaIsla {
namespace {
double arriba(const QRectF& r) { return r.y() + r.height(); }
double centroX(const QRectF& r) { return r.x() + r.width() / 2; }
// Half-open, like the desktop's own test for a point in a screen.
bool contiene(const QRectF& r, const QPointF& p) {
    return p.x() >= r.x() && p.x() < r.x() + r.width() && p.y() >= r.y() && p.y() < arriba(r);
}
bool seTocan(const QRectF& a, const QRectF& b) {
    return a.width() > 0 && a.height() > 0 && b.width() > 0 && b.height() > 0 && a.x() < b.x() + b.width() &&
           b.x() < a.x() + a.width() && a.y() < arriba(b) && b.y() < arriba(a);
}
}  // namespace

double limitarEscala(double x) {
    if (std::isnan(x)) return 0.9;
    return std::min(std::max(x, 0.9), 2.2);
}

QRectF marcoConEscala(const QRectF& actual, double e) {
    const double mx = centroX(actual);
    const double top = arriba(actual);
    return QRectF(mx - 160 * e, top - 176 * e, ancho * e, alto * e);
}

QRectF dentro(const QRectF& r, const QRectF& f, double e) {
    double x = std::max(r.x(), f.x() - 40 * e);
    x = std::min(x, f.x() + f.width() - r.width() + 40 * e);
    double y = std::max(r.y(), f.y() - 80 * e);
    y = std::min(y, arriba(f) - r.height() + 22 * e);
    return QRectF(x, y, r.width(), r.height());
}

std::optional<CambioDeEscala> cambiarEscala(const QRectF& actual, double escala, double x,
                                            const std::optional<QRectF>& pantalla) {
    const double e = limitarEscala(x);
    if (std::abs(e - escala) <= 0.001) return std::nullopt;
    QRectF marco = marcoConEscala(actual, e);
    if (pantalla) marco = dentro(marco, *pantalla, e);
    return CambioDeEscala{e, marco};
}

std::optional<QRectF> colocar(const std::optional<QPointF>& sitio, const std::vector<Pantalla>& pantallas,
                              const QPointF& puntero, int principal, double e) {
    if (sitio) {
        const QRectF candidato(sitio->x() - 160 * e, sitio->y() - 176 * e, ancho * e, alto * e);
        for (const Pantalla& p : pantallas)
            if (seTocan(p.marco, candidato)) return dentro(candidato, p.marco, e);
    }
    const Pantalla* elegida = nullptr;
    for (const Pantalla& p : pantallas)
        if (contiene(p.marco, puntero)) {
            elegida = &p;
            break;
        }
    if (!elegida && principal >= 0 && principal < int(pantallas.size())) elegida = &pantallas[size_t(principal)];
    if (!elegida) return std::nullopt;
    return QRectF(centroX(elegida->marco) - 160 * e, arriba(elegida->visible) - 176 * e + 22 * e, ancho * e,
                  alto * e);
}

QRectF enVisible(const QRectF& r, const QRectF& v) {
    // The bounds from the top and the left are applied last, so they win.
    const double x = std::max(std::min(r.x(), v.x() + v.width() - r.width()), v.x());
    const double y = std::min(std::max(r.y(), v.y()), arriba(v) - r.height());
    return QRectF(x, y, r.width(), r.height());
}

std::optional<QRectF> visibleDe(const QRectF& r, const std::vector<Pantalla>& pantallas) {
    std::optional<QRectF> mejor;
    double mayor = 0;
    for (const Pantalla& p : pantallas) {
        const QRectF comun = r.intersected(p.marco);
        const double area = comun.width() * comun.height();
        if (area > mayor) {
            mayor = area;
            mejor = p.visible;
        }
    }
    return mejor;
}

QRectF marcoPildora(const QRectF& marco, double e) {
    return QRectF(centroX(marco) - anchoPildora / 2 * e, arriba(marco) - margenPildora * e - altoPildora * e,
                  anchoPildora * e, altoPildora * e);
}

QString textoDePunto(const QPointF& p) {
    const auto numero = [](double v) { return QString::number(v, 'g', QLocale::FloatingPointShortest); };
    return QStringLiteral("{%1, %2}").arg(numero(p.x()), numero(p.y()));
}

std::optional<QPointF> puntoDeTexto(const QString& texto) {
    static const QRegularExpression forma(
        QStringLiteral(R"(^\s*\{\s*([-+0-9.eE]+)\s*,\s*([-+0-9.eE]+)\s*\}\s*$)"));
    const auto m = forma.match(texto);
    if (!m.hasMatch()) return std::nullopt;
    bool okX = false, okY = false;
    const double x = m.captured(1).toDouble(&okX);
    const double y = m.captured(2).toDouble(&okY);
    if (!okX || !okY || !std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
    return QPointF(x, y);
}

QRectF deQt(const QRectF& r, const QRectF& principal) {
    const double base = principal.y() + principal.height();
    return QRectF(r.x() - principal.x(), base - (r.y() + r.height()), r.width(), r.height());
}

QRectF aQt(const QRectF& r, const QRectF& principal) {
    const double base = principal.y() + principal.height();
    return QRectF(r.x() + principal.x(), base - (r.y() + r.height()), r.width(), r.height());
}

QPointF deQt(const QPointF& p, const QRectF& principal) {
    return QPointF(p.x() - principal.x(), principal.y() + principal.height() - p.y());
}

}  // namespace GeometriaIsla

namespace {
const QString claveSitio = QStringLiteral("zentu.isla.sitio");
}

PanelIsla::PanelIsla(QWidget* contenido)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::NoDropShadowWindowHint),
      contenido_(contenido) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // The island rarely has the keyboard (a ringing call leaves it with the window the owner types
    // in), yet its buttons' tips must show on hover.
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setAutoFillBackground(false);
    setWindowTitle(QStringLiteral("Zentu"));
    if (contenido_) contenido_->setParent(this);
    moviendoYo_ = true;
    recorte_ = recorte(QSize(int(GeometriaIsla::ancho), int(GeometriaIsla::alto)));
    setGeometry(QRect(recorte_.topLeft(), recorte_.size()));
    moviendoYo_ = false;
    if (contenido_) contenido_->setGeometry(QRect(-recorte_.topLeft(), tamanoMarco()));
    if (auto* raiz = qobject_cast<RaizIsla*>(contenido_.data())) {
        connect(raiz, &RaizIsla::formaCambio, this, [this] {
            ajustarRecorte();
            darForma();
        });
        // A notice is read above whatever the program showed since the island came up.
        connect(raiz, &RaizIsla::avisoCambio, this, &PanelIsla::alFrente);
    }
    // A compositor that comes or goes: cut to the pill or whole, shadow or none, painted again.
    VentanaFlotante::seguirCompositor(this, [this] {
        darForma();
        update();
    });
    // Presses reach the pill and its buttons, not the window: watched on the way to them.
    if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

void PanelIsla::darForma() {
    auto* raiz = qobject_cast<RaizIsla*>(contenido_.data());
    if (!raiz || !isVisible()) return;
    const QRegion forma = raiz->forma().translated(raiz->pos());
    VentanaFlotante::darForma(this, forma);
    // Around the pill is its own shadow: a compositor adds none and places the window by the pill.
    // Measured on the size the island asked for, not the one the window has: a window manager
    // that keeps the visible part and grows the window by a larger margin (mutter does) would
    // otherwise grow it again on every answer.
    const QRect dentro = forma.boundingRect();
    VentanaFlotante::marcarSombra(this, forma.isEmpty() ? QMargins()
                                                        : QMargins(dentro.left(), dentro.top(),
                                                                   recorte_.width() - 1 - dentro.right(),
                                                                   recorte_.height() - 1 - dentro.bottom()));
}

QSize PanelIsla::tamanoMarco() const {
    return QSize(int(std::lround(GeometriaIsla::ancho * escala_)), altoConContenido(GeometriaIsla::alto * escala_));
}

QRect PanelIsla::recorte(QSize marco) const {
    const QRect todo(QPoint(0, 0), marco);
    auto* raiz = qobject_cast<RaizIsla*>(contenido_.data());
    if (!raiz) return todo;
    const QRect r = raiz->dibujo().intersected(todo);
    return r.isEmpty() ? todo : r;
}

QRect PanelIsla::marco() const { return QRect(pos() - recorte_.topLeft(), tamanoMarco()); }

void PanelIsla::ajustarRecorte() {
    const QPoint origen = marco().topLeft();
    const QSize tam = tamanoMarco();
    const QRect nuevo = recorte(tam);
    if (nuevo == recorte_ && size() == nuevo.size()) return;
    recorte_ = nuevo;
    moviendoYo_ = true;
    esperado_ = origen + recorte_.topLeft();
    setGeometry(QRect(*esperado_, recorte_.size()));
    moviendoYo_ = false;
    if (contenido_) contenido_->setGeometry(QRect(-recorte_.topLeft(), tam));
}

QRectF PanelIsla::principal() {
    QScreen* p = QGuiApplication::primaryScreen();
    return p ? QRectF(p->geometry()) : QRectF(0, 0, 0, 0);
}

void PanelIsla::aplicar(const QRectF& marcoQt) {
    const QRect r(QPoint(int(std::lround(marcoQt.x())), int(std::lround(marcoQt.y()))),
                  QSize(int(std::lround(marcoQt.width())), altoConContenido(marcoQt.height())));
    recorte_ = recorte(r.size());
    esperado_ = r.topLeft() + recorte_.topLeft();
    setGeometry(QRect(*esperado_, recorte_.size()));
    if (contenido_) contenido_->setGeometry(QRect(-recorte_.topLeft(), r.size()));
}

int PanelIsla::altoConContenido(double altoEscalado) const {
    const int alto = int(std::lround(altoEscalado));
    if (!contenido_) return alto;
    return std::max(alto, contenido_->sizeHint().height());
}

void PanelIsla::ajustarAlto() {
    // The frame's top-left corner stays, and so its top centre and the stored place.
    ajustarRecorte();
}

bool PanelIsla::event(QEvent* evento) {
    if (evento->type() == QEvent::LayoutRequest) ajustarAlto();
    return QWidget::event(evento);
}

std::vector<GeometriaIsla::Pantalla> PanelIsla::pantallas(const QRectF& base, int* indicePrincipal) {
    std::vector<GeometriaIsla::Pantalla> lista;
    if (indicePrincipal) *indicePrincipal = -1;
    for (QScreen* s : QGuiApplication::screens()) {
        if (indicePrincipal && s == QGuiApplication::primaryScreen()) *indicePrincipal = int(lista.size());
        lista.push_back({GeometriaIsla::deQt(QRectF(s->geometry()), base),
                         GeometriaIsla::deQt(QRectF(s->availableGeometry()), base)});
    }
    return lista;
}

void PanelIsla::cambiarEscala(double x) {
    const QRectF base = principal();
    const QRectF actual = GeometriaIsla::deQt(QRectF(marco()), base);
    std::optional<QRectF> pantalla;
    if (QScreen* s = screen(); s && s->geometry().intersects(marco()))
        pantalla = GeometriaIsla::deQt(QRectF(s->geometry()), base);
    const auto cambio = GeometriaIsla::cambiarEscala(actual, escala_, x, pantalla);
    if (!cambio) return;
    escala_ = cambio->escala;
    QRectF marco = cambio->marco;
    // Whole on screen: a window manager moves a window that asks to stand past the edges by its
    // own rules, and whatever stands there (the caption above the pill) cannot be seen.
    if (const auto visible = GeometriaIsla::visibleDe(marco, pantallas(base)))
        marco = GeometriaIsla::enVisible(marco, *visible);
    moviendoYo_ = true;
    devuelto_ = false;
    pulsada_ = false;
    aplicar(GeometriaIsla::aQt(marco, base));
    moviendoYo_ = false;
}

void PanelIsla::colocar() {
    moviendoYo_ = true;
    devuelto_ = false;
    pulsada_ = false;
    const QRectF base = principal();
    int indicePrincipal = -1;
    const auto lista = pantallas(base, &indicePrincipal);
    std::optional<QPointF> sitio;
    const QVariant guardado = Preferencias::almacen().value(claveSitio);
    if (guardado.typeId() == QMetaType::QString) sitio = GeometriaIsla::puntoDeTexto(guardado.toString());
    const QPointF puntero = GeometriaIsla::deQt(QPointF(QCursor::pos()), base);
    if (auto marco = GeometriaIsla::colocar(sitio, lista, puntero, indicePrincipal, escala_)) {
        if (const auto visible = GeometriaIsla::visibleDe(*marco, lista))
            marco = GeometriaIsla::enVisible(*marco, *visible);
        aplicar(GeometriaIsla::aQt(*marco, base));
    }
    moviendoYo_ = false;
}

QRectF PanelIsla::marcoPildora() const {
    const QRectF base = principal();
    return GeometriaIsla::aQt(GeometriaIsla::marcoPildora(GeometriaIsla::deQt(QRectF(marco()), base), escala_),
                              base);
}

void PanelIsla::seMovio() {
    if (moviendoYo_ || !isVisible()) return;
    // The owner moves the island by dragging its pill, which starts with a press on it (the
    // window manager may carry the window from there). A move with no press since the window was
    // last placed is the window system's own (a window manager placing the window by its rules
    // when it maps it, or answering a resize with another place): it is not the owner's place, and
    // the island goes back to its place, once, so that it never fights a window manager that
    // insists.
    if (!pulsada_) {
        if (!devuelto_) {
            colocar();
            devuelto_ = true;
        }
        return;
    }
    const QRectF marco = GeometriaIsla::deQt(QRectF(this->marco()), principal());
    const QPointF arribaCentro(marco.x() + marco.width() / 2, marco.y() + marco.height());
    Preferencias::almacen().setValue(claveSitio, GeometriaIsla::textoDePunto(arribaCentro));
}

void PanelIsla::moveEvent(QMoveEvent* evento) {
    QWidget::moveEvent(evento);
    // The window system reports our own moves later, one by one; only other moves are the owner's.
    if (esperado_ && pos() == *esperado_) {
        esperado_.reset();
        return;
    }
    seMovio();
}

void PanelIsla::keyPressEvent(QKeyEvent* evento) {
    if (alTeclear && alTeclear(evento)) {
        evento->accept();
        return;
    }
    QWidget::keyPressEvent(evento);
}

void PanelIsla::showEvent(QShowEvent* evento) {
    ajustarAlto();
    QWidget::showEvent(evento);
    if (QWindow* w = windowHandle()) {
        VentanaFlotante::fijar(w);
        w->removeEventFilter(this);
        w->installEventFilter(this);
    }
    darForma();
}

void PanelIsla::alFrente() {
    if (isVisible() && windowHandle()) VentanaFlotante::alFrente(windowHandle());
}

void PanelIsla::hideEvent(QHideEvent* evento) {
    QWidget::hideEvent(evento);
    // A tip shown on hover would otherwise stay on screen, over nothing, until it times out.
    if (!QToolTip::isVisible()) return;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("QTipLabel") && w->isVisible()) w->close();
}

bool PanelIsla::eventFilter(QObject* objeto, QEvent* evento) {
    // Tips show whether or not the island has the keyboard: not once it has gone, though, when a
    // hover that began before still comes due.
    if (evento->type() == QEvent::ToolTip && !isVisible() && objeto->isWidgetType() &&
        (objeto == this || isAncestorOf(static_cast<QWidget*>(objeto))))
        return true;
    if (evento->type() == QEvent::MouseButtonPress && objeto->isWidgetType() &&
        (objeto == this || isAncestorOf(static_cast<QWidget*>(objeto))))
        pulsada_ = true;
    // The island stands above every other window of the program (the chat panel beside it, a
    // card): one shown later would otherwise cover the pill and its notices. Menus and tooltips
    // are the desktop's to stack.
    if (evento->type() == QEvent::Show && objeto != this && objeto->isWidgetType() && isVisible()) {
        auto* otra = static_cast<QWidget*>(objeto);
        const Qt::WindowType tipo = otra->windowType();
        if (otra->isWindow() && tipo != Qt::Popup && tipo != Qt::ToolTip && tipo != Qt::Desktop)
            QTimer::singleShot(0, this, &PanelIsla::alFrente);
    }
    // Given again once the window is on screen: a window manager that frames the window takes
    // the shape for its frame only from changes made after it took the window in.
    if (objeto == windowHandle() && evento->type() == QEvent::Expose && windowHandle()->isExposed()) darForma();
    return QWidget::eventFilter(objeto, evento);
}

void PanelIsla::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    if (contenido_) contenido_->setGeometry(QRect(-recorte_.topLeft(), tamanoMarco()));
    darForma();
}

RaizIsla::RaizIsla(EstadoVoz& voz, QWidget* contenido, QWidget* padre)
    : QWidget(padre), voz_(voz), contenido_(contenido) {
    setAttribute(Qt::WA_TranslucentBackground);
    if (contenido_) contenido_->setParent(this);
    connect(&voz_, &EstadoVoz::escalaCambio, this, &RaizIsla::ajustar);
    // What changes the pill's outline: its row of buttons, its bubble and its scale.
    for (auto senal : {&EstadoVoz::timbreCambio, &EstadoVoz::avisoCambio, &EstadoVoz::modoChatCambio,
                       &EstadoVoz::escalaCambio, &EstadoVoz::visibleCambio})
        connect(&voz_, senal, this, &RaizIsla::formaCambio);
    connect(&voz_, &EstadoVoz::avisoCambio, this, [this] {
        if (voz_.aviso()) emit avisoCambio();
    });
    ajustar();
}

QRegion RaizIsla::forma() const {
    if (!voz_.visible()) return {};
    const double e = voz_.escala();
    QPainterPath camino = FormaVidrio::capsula().camino(Pildora::marcoCapsula(voz_));
    if (const auto burbuja = Pildora::marcoBurbuja(voz_)) camino.addRoundedRect(*burbuja, 14, 14);
    camino.setFillRule(Qt::WindingFill);
    QRegion region;
    for (const QPolygonF& trozo : QTransform::fromScale(e, e).map(camino).toFillPolygons())
        region += QRegion(trozo.toPolygon(), Qt::WindingFill);
    return region;
}

QRect RaizIsla::dibujo() const {
    const double e = voz_.escala();
    const QRectF capsula = Pildora::marcoCapsula(voz_);
    // The capsule's shadow, and the orb's canvas (22 points round the orb, 6 inside the capsule).
    const QMarginsF sombra = SombraVidrio(Esquema::oscuro, Pildora::radioSombra).margenes();
    QRectF r = capsula.marginsAdded(sombra);
    r |= QRectF(capsula.left() + 6 - 22, capsula.top() + 6 - 22, 44 + 44, 44 + 44);
    if (const auto burbuja = Pildora::marcoBurbuja(voz_)) r |= burbuja->adjusted(-1, -1, 1, 1);
    // A pixel more all round for antialiasing and the pill's spring.
    return QTransform::fromScale(e, e).mapRect(r).toAlignedRect().adjusted(-2, -2, 2, 2);
}

QSize RaizIsla::tamanoContenido() const {
    const double e = voz_.escala();
    double alto = GeometriaIsla::alto;
    if (contenido_) alto = std::max(alto, double(contenido_->sizeHint().height()));
    return QSize(int(std::lround(GeometriaIsla::ancho * e)), int(std::lround(alto * e)));
}

QSize RaizIsla::sizeHint() const { return tamanoContenido(); }

bool RaizIsla::event(QEvent* evento) {
    // The content's size hint changed (a notice came or went).
    if (evento->type() == QEvent::LayoutRequest) {
        ajustar();
        updateGeometry();
    }
    return QWidget::event(evento);
}

void RaizIsla::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    ajustar();
}

void RaizIsla::ajustar() {
    if (!contenido_) return;
    contenido_->setGeometry(QRect(QPoint(0, 0), tamanoContenido()));
    updateGeometry();
}
