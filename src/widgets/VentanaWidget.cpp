#include "widgets/VentanaWidget.h"

#include "plataforma/Compositor.h"
#include "plataforma/VentanaFlotante.h"
#include "plataforma/VentanasEscritorio.h"
#include "widgets/Catalogo.h"
#include "widgets/Proveedores.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>

VentanaWidget::VentanaWidget(QString tipo, FamiliaW familia, Reloj& reloj, QWidget* padre)
    : QWidget(padre, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnBottomHint | Qt::NoDropShadowWindowHint),
      tipo_(std::move(tipo)), familia_(familia), reloj_(reloj) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setWindowTitle(Catalogo::buscar(tipo_) ? Catalogo::buscar(tipo_)->nombre : tipo_);
    setFixedSize(Catalogo::tamano(familia_).toSize());
    alAbrir = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    // A compositor that comes or goes: the corners cut or see-through, painted again.
    VentanaFlotante::seguirCompositor(this, [this] {
        darForma();
        update();
    });
    recargar();
}

void VentanaWidget::darForma() {
    if (!isVisible()) return;
    QPainterPath forma;
    forma.addRoundedRect(QRectF(rect()), kRadio, kRadio);
    VentanaFlotante::darForma(this, VentanaFlotante::region(forma));
}

void VentanaWidget::cambiarFamilia(FamiliaW familia) {
    if (familia == familia_) return;
    familia_ = familia;
    setFixedSize(Catalogo::tamano(familia_).toSize());
    darForma();
    recargar();
}

void VentanaWidget::ponerOscuro(bool oscuro) {
    if (oscuro == oscuro_) return;
    oscuro_ = oscuro;
    update();
}

void VentanaWidget::recargar() {
    const QDateTime ahora = reloj_.ahora();
    const DefinicionWidget* def = Catalogo::buscar(tipo_);
    pasos_.clear();
    Recarga recarga;
    if (def && def->deAgentes) {
        auto linea = ProveedorAgentes::timeline(ahora);
        for (auto& e : linea.entradas) pasos_.push_back({e.date, std::move(e.foto), e.indice});
        recarga = linea.recarga;
    } else {
        auto linea = Proveedor::timeline(nombreFamilia(familia_), Catalogo::tamano(familia_), ahora);
        for (auto& e : linea.entradas) pasos_.push_back({e.date, std::move(e.foto), 0});
        recarga = linea.recarga;
    }
    ++recargas_;
    proximaRecarga_ = ::proximaRecarga(recarga, pasos_.empty() ? ahora : pasos_.back().date, ahora);
    siguienteRecarga_ = reloj_.programar(double(ahora.msecsTo(proximaRecarga_)) / 1000.0, this, [this] { recargar(); });
    seguir();
}

void VentanaWidget::seguir() {
    const QDateTime ahora = reloj_.ahora();
    actual_ = 0;
    for (size_t i = 0; i < pasos_.size(); ++i)
        if (pasos_[i].date <= ahora) actual_ = i;
    siguientePaso_.cancelar();
    if (actual_ + 1 < pasos_.size()) {
        const double espera = double(ahora.msecsTo(pasos_[actual_ + 1].date)) / 1000.0;
        siguientePaso_ = reloj_.programar(espera, this, [this] { seguir(); });
    }
    update();
}

const Instantanea& VentanaWidget::foto() const {
    return pasos_.empty() ? Instantanea::vacia() : pasos_[actual_].foto;
}

qint64 VentanaWidget::indice() const { return pasos_.empty() ? 0 : pasos_[actual_].indice; }

void VentanaWidget::showEvent(QShowEvent*) {
    // Without a compositor there is no transparency: the rounded corners are cut out of the
    // window; with one they show what lies beneath and let its clicks through. Looked at afresh
    // on every showing.
    darForma();
    VentanasEscritorio::comoWidgetDeEscritorio(this);
}

void VentanaWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QPainterPath forma;
    forma.addRoundedRect(QRectF(rect()), kRadio, kRadio);
    // Cut to shape, the window keeps exactly the pixels whose centres lie inside the outline: an
    // antialiased edge would blend them with nothing and leave a dark fringe, so the edge is then
    // drawn as the window's shape cuts it.
    p.setRenderHint(QPainter::Antialiasing, Compositor::visto());
    p.setClipPath(forma);
    p.setRenderHint(QPainter::Antialiasing);
    zonas_.clear();
    Catalogo::pintar(p, QRectF(rect()), tipo_, familia_, foto(), indice(), oscuro_, &zonas_, reloj_.ahora());
}

void VentanaWidget::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) return QWidget::mousePressEvent(e);
    pulsado_ = true;
    arrastrando_ = false;
    inicioPulsacion_ = e->globalPosition().toPoint();
    agarre_ = inicioPulsacion_ - pos();
}

void VentanaWidget::mouseMoveEvent(QMouseEvent* e) {
    if (!pulsado_) return;
    const QPoint aqui = e->globalPosition().toPoint();
    if (!arrastrando_ && (aqui - inicioPulsacion_).manhattanLength() >= QApplication::startDragDistance())
        arrastrando_ = true;
    if (arrastrando_) move(aqui - agarre_);
}

void VentanaWidget::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !pulsado_) return QWidget::mouseReleaseEvent(e);
    pulsado_ = false;
    if (arrastrando_) {
        arrastrando_ = false;
        Q_EMIT movido();
        return;
    }
    if (const auto url = Catalogo::enlaceEn(zonas_, e->position()); url && alAbrir) alAbrir(*url);
}
