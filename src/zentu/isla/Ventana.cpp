#include "zentu/isla/Ventana.h"

#include "plataforma/Preferencias.h"
#include "plataforma/VentanaFlotante.h"
#include "zentu/isla/EstadoVoz.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
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
    setAutoFillBackground(false);
    setWindowTitle(QStringLiteral("Zentu"));
    moviendoYo_ = true;
    resize(int(GeometriaIsla::ancho), int(GeometriaIsla::alto));
    moviendoYo_ = false;
    if (contenido_) {
        contenido_->setParent(this);
        contenido_->setGeometry(rect());
    }
}

QRectF PanelIsla::principal() {
    QScreen* p = QGuiApplication::primaryScreen();
    return p ? QRectF(p->geometry()) : QRectF(0, 0, 0, 0);
}

void PanelIsla::aplicar(const QRectF& marcoQt) {
    const QRect r(QPoint(int(std::lround(marcoQt.x())), int(std::lround(marcoQt.y()))),
                  QSize(int(std::lround(marcoQt.width())), altoConContenido(marcoQt.height())));
    esperado_ = r.topLeft();
    setGeometry(r);
}

int PanelIsla::altoConContenido(double altoEscalado) const {
    const int alto = int(std::lround(altoEscalado));
    if (!contenido_) return alto;
    return std::max(alto, contenido_->sizeHint().height());
}

void PanelIsla::ajustarAlto() {
    const int alto = altoConContenido(GeometriaIsla::alto * escala_);
    if (alto == height()) return;
    moviendoYo_ = true;
    resize(width(), alto);  // keeps the top-left corner, and so the top centre and the stored place
    moviendoYo_ = false;
}

bool PanelIsla::event(QEvent* evento) {
    if (evento->type() == QEvent::LayoutRequest) ajustarAlto();
    return QWidget::event(evento);
}

void PanelIsla::cambiarEscala(double x) {
    const QRectF base = principal();
    const QRectF actual = GeometriaIsla::deQt(QRectF(geometry()), base);
    std::optional<QRectF> pantalla;
    if (QScreen* s = screen(); s && s->geometry().intersects(geometry()))
        pantalla = GeometriaIsla::deQt(QRectF(s->geometry()), base);
    const auto cambio = GeometriaIsla::cambiarEscala(actual, escala_, x, pantalla);
    if (!cambio) return;
    escala_ = cambio->escala;
    moviendoYo_ = true;
    aplicar(GeometriaIsla::aQt(cambio->marco, base));
    moviendoYo_ = false;
}

void PanelIsla::colocar() {
    moviendoYo_ = true;
    const QRectF base = principal();
    std::vector<GeometriaIsla::Pantalla> pantallas;
    int indicePrincipal = -1;
    const auto lista = QGuiApplication::screens();
    for (QScreen* s : lista) {
        if (s == QGuiApplication::primaryScreen()) indicePrincipal = int(pantallas.size());
        pantallas.push_back({GeometriaIsla::deQt(QRectF(s->geometry()), base),
                             GeometriaIsla::deQt(QRectF(s->availableGeometry()), base)});
    }
    std::optional<QPointF> sitio;
    const QVariant guardado = Preferencias::almacen().value(claveSitio);
    if (guardado.typeId() == QMetaType::QString) sitio = GeometriaIsla::puntoDeTexto(guardado.toString());
    const QPointF puntero = GeometriaIsla::deQt(QPointF(QCursor::pos()), base);
    if (const auto marco = GeometriaIsla::colocar(sitio, pantallas, puntero, indicePrincipal, escala_))
        aplicar(GeometriaIsla::aQt(*marco, base));
    moviendoYo_ = false;
}

QRectF PanelIsla::marcoPildora() const {
    const QRectF base = principal();
    return GeometriaIsla::aQt(GeometriaIsla::marcoPildora(GeometriaIsla::deQt(QRectF(geometry()), base), escala_),
                              base);
}

void PanelIsla::seMovio() {
    if (moviendoYo_ || !isVisible()) return;
    const QRectF marco = GeometriaIsla::deQt(QRectF(geometry()), principal());
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
    if (QWindow* w = windowHandle()) VentanaFlotante::fijar(w);
}

void PanelIsla::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    if (contenido_) contenido_->setGeometry(rect());
}

RaizIsla::RaizIsla(EstadoVoz& voz, QWidget* contenido, QWidget* padre)
    : QWidget(padre), voz_(voz), contenido_(contenido) {
    setAttribute(Qt::WA_TranslucentBackground);
    if (contenido_) contenido_->setParent(this);
    connect(&voz_, &EstadoVoz::escalaCambio, this, &RaizIsla::ajustar);
    ajustar();
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
