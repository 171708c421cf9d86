#include "zentu/ajustes/VistaAjustes.h"

#include "plataforma/Privacidad.h"
#include "zentu/ajustes/BarraAjustes.h"
#include "zentu/ajustes/EquipoAgentes.h"
#include "zentu/ajustes/PanelAtajos.h"
#include "zentu/ajustes/PanelCuenta.h"
#include "zentu/ajustes/PanelEstado.h"
#include "zentu/ajustes/PanelLaIsla.h"
#include "zentu/ajustes/PanelLlamadas.h"
#include "zentu/ajustes/PiezasAjustes.h"
#include "zentu/isla/Permisos.h"
#include "zentu/isla/Pildora.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

using namespace Piezas;

namespace {

// The window's two small orbs start already in their listening pose.
void preparar(EstadoVoz& e, bool visible, bool quieto) {
    e.setVisible(visible);
    e.setQuieto(quieto);
    e.setFase(Fase::escuchando);
    e.nivelBruto = 0.45;
    for (int i = 0; i < 45; ++i) e.avanzar(i / 30.0);
}

class Divisor : public QWidget {
public:
    Divisor(Esquema esquema, QWidget* padre) : QWidget(padre), esquema_(esquema) { setFixedWidth(1); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), conAlfa(primario(esquema_), 0.2 * 0.4));
    }

private:
    Esquema esquema_;
};

}  // namespace

VistaAjustes::Disposicion VistaAjustes::disposicion(double ancho, double alto) {
    Disposicion d;
    d.grande = alto > 640;
    if (d.grande) {
        d.altoPrevia = std::min(std::max(0.26 * alto, 112.0), 300.0);
        d.margenSuperior = std::max(0.1 * alto, 40.0);
        d.tamTitulo = 32;
        d.tamSubtitulo = 14.5;
        d.espacioCabecera = 26;
        d.ancho = std::max(0.0, std::min(ancho - 80, 880.0));
        d.x = (ancho - d.ancho) / 2;
    } else {
        d.ancho = std::max(0.0, ancho - 68);
        d.x = 34;
    }
    return d;
}

QString VistaAjustes::subtitulo(SeccionAjustes s) {
    switch (s) {
    case SeccionAjustes::estado: return {};
    case SeccionAjustes::atajos: return QStringLiteral("Llama a Zentu desde cualquier sitio, sin tocar el ratón.");
    case SeccionAjustes::isla: return QStringLiteral("Cómo se ve y se oye Zentu en tu escritorio.");
    case SeccionAjustes::llamadas: return QStringLiteral("Cuándo pueden sonar tus agentes en este equipo.");
    case SeccionAjustes::cuenta: return QStringLiteral("El negocio con el que trabaja este equipo.");
    }
    return {};
}

QStringList VistaAjustes::teclas(const Combinacion& comb) { return Piezas::teclas(comb); }

VistaAjustes::VistaAjustes(ModeloAjustes& modelo, SeccionAjustes seccion, Esquema esquema, Reloj& reloj, QWidget* padre)
    : QWidget(padre), m_(modelo), voz_(modelo.voz()), reloj_(reloj), esquema_(esquema), seccion_(seccion) {
    probarPantalla = [] { return Permiso::probarPantalla(); };
    foto_ = leerFoto();
    preparar(orbeBarra_, false, false);
    preparar(muestra_, true, true);
    setMinimumSize(760, 520);
    construir();

    connect(&m_, &ModeloAjustes::ventanaVisibleCambio, this, [this] {
        if (m_.ventanaVisible()) {
            releerFoto();
            despertarOrbe(4);
        } else {
            orbeBarra_.setVisible(false);
            muestra_.setQuieto(true);
        }
    });
    connect(&voz_, &EstadoVoz::escalaCambio, this, [this] { despertarMuestra(2); });
    programarRefresco();
}

VistaAjustes::~VistaAjustes() = default;

void VistaAjustes::construir() {
    delete raiz_;
    raiz_ = new QWidget(this);
    raiz_->setGeometry(rect());
    auto* fila = new QHBoxLayout(raiz_);
    fila->setContentsMargins(0, 0, 0, 0);
    fila->setSpacing(0);

    barra_ = new BarraAjustes(m_, orbeBarra_, esquema_, reloj_, raiz_);
    barra_->setSeccion(seccion_);
    barra_->alElegir = [this](SeccionAjustes s) { setSeccion(s); };
    barra_->alEntrarOrbe = [this] { orbeBarra_.setVisible(true); };
    barra_->alSalirOrbe = [this] { despertarOrbe(1.5); };
    fila->addWidget(barra_);
    divisor_ = new Divisor(esquema_, raiz_);
    fila->addWidget(divisor_);

    auto* desplazable = new QScrollArea(raiz_);
    desplazable->setFrameShape(QFrame::NoFrame);
    desplazable->setWidgetResizable(true);
    desplazable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    desplazable->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // A thin bar over the window's background, only when the pane is taller than the window.
    const QColor asa = conAlfa(primario(esquema_), 0.28);
    desplazable->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { width: 10px; background: transparent; margin: 4px 2px 4px 0px; }"
                       "QScrollBar::handle:vertical { background: %1; border-radius: 4px; min-height: 30px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0px; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }")
            .arg(asa.name(QColor::HexArgb)));
    desplazable->setAutoFillBackground(false);
    desplazable->viewport()->setAutoFillBackground(false);
    area_ = desplazable;
    auto* lienzo = new QWidget;
    lienzo->setAutoFillBackground(false);
    auto* exterior = new QVBoxLayout(lienzo);
    columna_ = new QWidget(lienzo);
    exterior->addWidget(columna_, 0, Qt::AlignTop);
    exterior->addStretch(1);
    auto* col = new QVBoxLayout(columna_);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(0);
    titulo_ = etiqueta(QString(), fuente(26, QFont::DemiBold, true), primario(esquema_));
    col->addWidget(titulo_);
    col->addSpacing(4);
    subtitulo_ = etiqueta(QString(), fuente(13), secundario(esquema_), true);
    col->addWidget(subtitulo_);
    col->addSpacing(18);
    capas_ = new QVBoxLayout;
    capas_->setSpacing(0);
    col->addLayout(capas_);

    estado_ = new PanelEstado(m_, esquema_, columna_);
    atajos_ = new PanelAtajos(m_, esquema_, columna_);
    isla_ = new PanelLaIsla(m_, muestra_, esquema_, columna_);
    llamadas_ = new PanelLlamadas(m_, esquema_, columna_);
    cuenta_ = new PanelCuenta(m_, esquema_, columna_);
    for (QWidget* p : std::initializer_list<QWidget*>{estado_, atajos_, isla_, llamadas_, cuenta_}) capas_->addWidget(p);
    estado_->setFoto(foto_);
    estado_->setAviso(aviso_);
    estado_->equipo()->alAviso = [this](const QString& t) { mostrarAviso(t); };
    estado_->equipo()->alReleer = [this] { releerFoto(); };
    desplazable->setWidget(lienzo);
    lienzo->setAutoFillBackground(false);  // the window's own background shows through
    fila->addWidget(desplazable, 1);
    raiz_->show();
    mostrarSeccion();
    colocar();
}

void VistaAjustes::setEsquema(Esquema esquema) {
    if (esquema == esquema_) return;
    esquema_ = esquema;
    construir();
    update();
}

void VistaAjustes::setSeccion(SeccionAjustes seccion) {
    if (seccion == seccion_) return;
    seccion_ = seccion;
    barra_->setSeccion(seccion);
    mostrarSeccion();
    if (seccion == SeccionAjustes::isla)
        despertarMuestra(4);
    else
        muestra_.setQuieto(true);
}

void VistaAjustes::mostrarSeccion() {
    titulo_->setText(BarraAjustes::titulo(seccion_));
    QString sub = subtitulo(seccion_);
    // Hot keys the session never delivers: the shortcuts pane's promise gives way to the reason.
    Privacidad& sistema = Privacidad::actual();
    const bool sinTeclas = seccion_ == SeccionAjustes::atajos && !sistema.accesibilidadPermitida();
    if (sinTeclas) sub = PanelAtajos::avisoSinTeclas(sistema.sesion() == Privacidad::Sesion::wayland);
    QPalette pal = subtitulo_->palette();
    pal.setColor(QPalette::WindowText, sinTeclas ? naranja(esquema_) : secundario(esquema_));
    subtitulo_->setPalette(pal);
    subtitulo_->setText(sub);
    subtitulo_->setVisible(!sub.isEmpty());
    estado_->setVisible(seccion_ == SeccionAjustes::estado);
    atajos_->setVisible(seccion_ == SeccionAjustes::atajos);
    isla_->setVisible(seccion_ == SeccionAjustes::isla);
    llamadas_->setVisible(seccion_ == SeccionAjustes::llamadas);
    cuenta_->setVisible(seccion_ == SeccionAjustes::cuenta);
    // Spacing between a pane's items differs by pane; the panes carry their own.
    colocar();
}

void VistaAjustes::colocar() {
    if (raiz_) raiz_->setGeometry(rect());
    if (!area_) return;
    const double w = std::max(0, width() - BarraAjustes::ancho - 1);
    const double h = height();
    disp_ = disposicion(w, h);
    auto* exterior = static_cast<QVBoxLayout*>(columna_->parentWidget()->layout());
    const int izquierda = int(std::floor(disp_.x));
    exterior->setContentsMargins(izquierda, int(std::round(disp_.margenSuperior)), int(w) - izquierda - int(disp_.ancho), 24);
    columna_->setFixedWidth(int(disp_.ancho));
    titulo_->setFont(fuente(disp_.tamTitulo, QFont::DemiBold, true));
    subtitulo_->setFont(fuente(disp_.tamSubtitulo));
    auto* col = static_cast<QVBoxLayout*>(columna_->layout());
    if (auto* espacio = col->itemAt(3)->spacerItem()) {
        espacio->changeSize(0, int(disp_.espacioCabecera), QSizePolicy::Minimum, QSizePolicy::Fixed);
        col->invalidate();
    }
    estado_->setGrande(disp_.altoPrevia > 112);
    isla_->setAltoPrevia(disp_.grande ? disp_.altoPrevia : 112);
}

void VistaAjustes::resizeEvent(QResizeEvent*) { colocar(); }

QImage VistaAjustes::fondo(QSize logico, qreal dpr, Esquema esquema) {
    const QSize px = (QSizeF(logico) * dpr).toSize();
    QImage img(px, QImage::Format_RGB32);
    img.setDevicePixelRatio(dpr);
    if (px.isEmpty()) return img;
    const bool oscuro = esquema == Esquema::oscuro;
    struct Brillo {
        float r, g, b, alfa;
        float cx, cy, radio;  // in the view's units
    };
    const auto brillo = [&](QColor c, float alfa, QPointF unidad, float radio) {
        return Brillo{float(c.redF()), float(c.greenF()), float(c.blueF()), alfa,
                      float(unidad.x() * logico.width()), float(unidad.y() * logico.height()), radio};
    };
    const Brillo brillos[] = {brillo(Pildora::lima, oscuro ? 0.10f : 0.16f, {0.08, 0.05}, 420),
                              brillo(Pildora::turquesa, oscuro ? 0.09f : 0.12f, {0.95, 1.0}, 460)};
    const float base[3] = {oscuro ? 0.055f : 0.95f, oscuro ? 0.06f : 0.955f, oscuro ? 0.075f : 0.965f};
    // The glows are worked out in floating point and rounded with a little noise of their own
    // (two uniform draws: a triangle of ±1 step), so that the slow slopes of a light glow show no
    // rings where 8-bit colour steps would fall. The noise is a fixed tile, made once from a
    // hash: the same picture every time, and too faint for its repetition to show.
    constexpr int lado = 64;
    static const std::vector<float> ruido = [] {
        std::vector<float> r(size_t(lado) * lado * 3);
        for (size_t i = 0; i < r.size(); ++i) {
            uint32_t h = uint32_t(i) * 0x8da6b343u + 0x2545f491u;
            h ^= h >> 15;
            h *= 0x2c1b3c6du;
            h ^= h >> 12;
            h *= 0x297a2d39u;
            h ^= h >> 15;
            r[i] = float(h & 0xffff) / 65536.0f + float(h >> 16) / 65536.0f - 1.0f + 0.5f;  // + 0.5: rounding
        }
        return r;
    }();
    const float paso = 1.0f / float(dpr);
    for (int y = 0; y < px.height(); ++y) {
        auto* fila = reinterpret_cast<QRgb*>(img.scanLine(y));
        const float ly = (float(y) + 0.5f) * paso;
        const float* ruidoFila = ruido.data() + size_t(y % lado) * lado * 3;
        float dy2[2];
        for (int k = 0; k < 2; ++k) dy2[k] = (ly - brillos[k].cy) * (ly - brillos[k].cy);
        for (int x = 0; x < px.width(); ++x) {
            const float lx = (float(x) + 0.5f) * paso;
            float c[3] = {base[0], base[1], base[2]};
            for (int k = 0; k < 2; ++k) {
                const Brillo& b = brillos[k];
                const float d2 = (lx - b.cx) * (lx - b.cx) + dy2[k];
                if (d2 >= b.radio * b.radio) continue;
                const float a = b.alfa * (1.0f - std::sqrt(d2) / b.radio);
                c[0] += (b.r - c[0]) * a;
                c[1] += (b.g - c[1]) * a;
                c[2] += (b.b - c[2]) * a;
            }
            const float* n = ruidoFila + (x % lado) * 3;
            int v[3];
            for (int k = 0; k < 3; ++k) v[k] = std::clamp(int(c[k] * 255.0f + n[k] + 1.0f) - 1, 0, 255);
            fila[x] = qRgb(v[0], v[1], v[2]);
        }
    }
    return img;
}

void VistaAjustes::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // The pixels really painted: the screen's, or those of a picture the view is rendered into.
    const qreal escala = std::abs(p.deviceTransform().m11());
    const qreal dpr = escala > 0 ? escala : devicePixelRatioF();
    if (fondo_.isNull() || fondo_.deviceIndependentSize() != QSizeF(size()) || fondo_.devicePixelRatio() != dpr ||
        fondoEsquema_ != esquema_) {
        fondo_ = fondo(size(), dpr, esquema_);
        fondoEsquema_ = esquema_;
    }
    p.drawImage(QPointF(0, 0), fondo_);
}

void VistaAjustes::showEvent(QShowEvent*) {
    m_.cargarLlamadas();
    releerFoto();
    barra_->actualizarCuenta();
    despertarOrbe(4);
    probarYContar();
}

void VistaAjustes::hideEvent(QHideEvent*) { m_.parar(); }

void VistaAjustes::releerFoto() {
    foto_ = leerFoto ? leerFoto() : Instantanea::vacia();
    if (estado_) estado_->setFoto(foto_);
}

void VistaAjustes::mostrarAviso(const QString& texto) {
    aviso_ = texto;
    estado_->setAviso(aviso_);
    borrarAviso_ = reloj_.programar(segundosAviso, this, [this, texto] {
        if (aviso_ != texto) return;
        aviso_.reset();
        estado_->setAviso(aviso_);
    });
}

void VistaAjustes::despertarOrbe(double segundos) {
    orbeBarra_.setVisible(true);
    dormirOrbe_ = reloj_.programar(segundos, this, [this] { orbeBarra_.setVisible(false); });
}

void VistaAjustes::despertarMuestra(double segundos) {
    muestra_.setQuieto(false);
    dormirMuestra_ = reloj_.programar(segundos, this, [this] { muestra_.setQuieto(true); });
}

void VistaAjustes::programarRefresco() {
    refresco_ = reloj_.programar(segundosRefresco, this, [this] {
        programarRefresco();
        refrescar();
    });
}

void VistaAjustes::refrescar() {
    if (seccion_ != SeccionAjustes::estado || !m_.ventanaVisible() || !isVisible()) return;
    releerFoto();
    probarYContar();
}

QCoro::Task<void> VistaAjustes::probarYContar() {
    QPointer<VistaAjustes> vivo(this);
    if (probarPantalla) co_await probarPantalla();
    if (!vivo) co_return;
    ++permisosVistos_;
    estado_->actualizarPermisos();
}
