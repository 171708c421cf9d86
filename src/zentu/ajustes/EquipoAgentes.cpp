#include "zentu/ajustes/EquipoAgentes.h"

#include "plataforma/Compositor.h"
#include "plataforma/VentanaFlotante.h"

#include "compartido/Personajes.h"
#include "zentu/ajustes/ModeloAjustes.h"
#include "zentu/ajustes/PiezasAjustes.h"
#include "zentu/isla/Vidrio.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

using Agente = Instantanea::Agente;
using namespace Piezas;

namespace {

QString capitalizar(const QString& texto) {
    QString r;
    bool inicio = true;
    for (const QChar c : texto) {
        r += inicio ? c.toUpper() : c.toLower();
        inicio = !c.isLetterOrNumber();
    }
    return r;
}

// A round face: the agent's picture, or a faint circle; dimmed while paused.
void pintarCara(QPainter& p, const QRectF& r, const Agente& a, Esquema esquema) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setOpacity(a.activo ? 1.0 : 0.55);
    QPainterPath circulo;
    circulo.addEllipse(r);
    p.setClipPath(circulo);
    if (const auto img = Personajes::imagen(a)) {
        // Scaled to fill the square, centred.
        const QSizeF s = QSizeF(img->size()).scaled(r.size(), Qt::KeepAspectRatioByExpanding);
        p.drawImage(QRectF(r.center().x() - s.width() / 2, r.center().y() - s.height() / 2, s.width(), s.height()), *img);
    } else {
        p.fillRect(r, conAlfa(primario(esquema), 0.08));
    }
    p.restore();
}

class Cara : public QWidget {
public:
    Cara(const Agente& a, qreal tam, Esquema esquema, QWidget* padre) : QWidget(padre), a_(a), tam_(tam), esquema_(esquema) {
        setFixedSize(int(tam), int(tam));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        pintarCara(p, QRectF(0, 0, tam_, tam_), a_, esquema_);
    }

private:
    Agente a_;
    qreal tam_;
    Esquema esquema_;
};

// One cell: the face with its badge, the first name under it; the whole cell takes the click.
class Celda : public QWidget {
public:
    Celda(const Agente& a, Esquema esquema, std::function<void()> alClic, QWidget* padre)
        : QWidget(padre), a_(a), esquema_(esquema), alClic_(std::move(alClic)) {
        setCursor(Qt::PointingHandCursor);
        setMinimumWidth(10);
        setToolTip(EquipoAgentes::nombreLargo(a.nombre));
        setAccessibleName(EquipoAgentes::nombreCorto(a.nombre));
    }
    QSize sizeHint() const override { return {48, 3 + 38 + 4 + altoNombre()}; }
    QSize minimumSizeHint() const override { return {10, 3 + 38 + 4 + altoNombre()}; }

protected:
    static int altoNombre() { return int(std::ceil(QFontMetricsF(fuente(10)).height())); }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint()) && alClic_) alClic_();
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        // 3 above the face leave room for the badge, which sits 4 right and 3 up of its corner.
        const QRectF cara(width() / 2.0 - 19, 3, 38, 38);
        pintarCara(p, cara, a_, esquema_);
        if (a_.conversaciones >= 1) {
            const QFont f = fuente(9, QFont::Bold, true);
            const QString n = QString::number(a_.conversaciones);
            const qreal w = std::max<qreal>(15, QFontMetricsF(f).horizontalAdvance(n) + 8);
            QRectF i(cara.right() + 4 - w, cara.top() - 3, w, 15);
            if (i.right() > width()) i.moveRight(width());
            p.setPen(Qt::NoPen);
            p.setBrush(Paleta(esquema_).lima);
            p.drawRoundedRect(i, 7.5, 7.5);
            p.setFont(f);
            p.setPen(esquema_ == Esquema::oscuro ? Qt::black : Qt::white);
            p.drawText(i, Qt::AlignCenter, n);
        }
        const QFont f = fuente(10);
        p.setFont(f);
        p.setPen(a_.activo ? secundario(esquema_) : conAlfa(secundario(esquema_), 0.5));
        const QRectF zona(0, 45, width(), height() - 45);
        p.drawText(zona, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                   QFontMetricsF(f).elidedText(EquipoAgentes::nombreCorto(a_.nombre), Qt::ElideRight, zona.width()));
    }

private:
    Agente a_;
    Esquema esquema_;
    std::function<void()> alClic_;
};

// The last cell when not everyone fits: "+N" in a faint circle.
class CeldaResto : public QPushButton {
public:
    CeldaResto(int n, Esquema esquema, QWidget* padre) : QPushButton(padre), n_(n), esquema_(esquema) {
        setCursor(Qt::PointingHandCursor);
        setToolTip(QStringLiteral("Ver los otros ") + QString::number(n));
        setAccessibleName(QStringLiteral("+") + QString::number(n));
        setMinimumWidth(10);
        setFlat(true);
    }
    QSize sizeHint() const override { return {48, 38}; }
    QSize minimumSizeHint() const override { return {10, 38}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF c(width() / 2.0 - 19, 0, 38, 38);
        if (isDown()) {
            p.translate(c.center());
            p.scale(0.92, 0.92);
            p.translate(-c.center());
        }
        p.setPen(Qt::NoPen);
        p.setBrush(conAlfa(primario(esquema_), 0.09));
        p.drawEllipse(c);
        p.setFont(fuente(12, QFont::DemiBold, true));
        p.setPen(primario(esquema_));
        p.drawText(c, Qt::AlignCenter, QStringLiteral("+") + QString::number(n_));
    }

private:
    int n_;
    Esquema esquema_;
};

// A bubble: a window of its own that closes when clicking elsewhere.
class Burbuja : public QWidget {
public:
    Burbuja(Esquema esquema, QWidget* padre, std::function<void()> alCerrar)
        : QWidget(padre, Qt::Popup | Qt::FramelessWindowHint), esquema_(esquema), alCerrar_(std::move(alCerrar)) {
        setAttribute(Qt::WA_DeleteOnClose);
        setAttribute(Qt::WA_TranslucentBackground);  // only the rounded card shows
        // Without a compositor the corners would show black: the window is cut to the card, and
        // cut or given back whenever a compositor comes or goes.
        VentanaFlotante::seguirCompositor(this, [this] {
            darForma();
            update();
        });
    }
    void cerrarSinAviso() {
        alCerrar_ = nullptr;
        close();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        const QColor fondo = esquema_ == Esquema::oscuro ? QColor(36, 38, 42) : QColor(250, 250, 252);
        if (!Compositor::activo()) {
            // Cut to shape, the edge pixels the cut keeps are covered whole by the card's colour,
            // never blended with the black of nothing.
            p.setPen(QPen(fondo, 2));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(rect()), 12, 12);
        }
        p.setPen(QPen(conAlfa(primario(esquema_), 0.14), 1));
        p.setBrush(fondo);
        p.drawRoundedRect(r, 12, 12);
    }
    void showEvent(QShowEvent* e) override {
        QWidget::showEvent(e);
        darForma();
    }
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        darForma();
    }
    void darForma() {
        if (!isVisible()) return;
        QPainterPath forma;
        forma.addRoundedRect(QRectF(rect()), 12, 12);
        VentanaFlotante::darForma(this, VentanaFlotante::region(forma));
    }
    void closeEvent(QCloseEvent* e) override {
        if (alCerrar_) {
            auto f = std::move(alCerrar_);
            alCerrar_ = nullptr;
            f();
        }
        QWidget::closeEvent(e);
    }

private:
    Esquema esquema_;
    std::function<void()> alCerrar_;
};

// A bubble hangs from the bottom edge of the cell that opened it, centred on it; it goes above
// the cell when the screen has no room below, and is kept inside the screen sideways.
void colocarJunto(QWidget* burbuja, const QWidget* ancla) {
    const QRect celda(ancla->mapToGlobal(QPoint(0, 0)), ancla->size());
    QPoint p(celda.center().x() + 1 - burbuja->width() / 2, celda.bottom() + 1);
    if (const QScreen* pantalla = ancla->screen()) {
        const QRect zona = pantalla->availableGeometry();
        if (p.y() + burbuja->height() - 1 > zona.bottom() && celda.top() - burbuja->height() >= zona.top())
            p.setY(celda.top() - burbuja->height());
        p.setX(std::clamp(p.x(), zona.left(), std::max(zona.left(), zona.right() + 1 - burbuja->width())));
    }
    burbuja->move(p);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

std::vector<Agente> EquipoAgentes::ordenados(const std::vector<Agente>& agentes) {
    std::vector<Agente> r = agentes;
    std::stable_sort(r.begin(), r.end(), [](const Agente& a, const Agente& b) {
        if (a.conversaciones != b.conversaciones) return a.conversaciones > b.conversaciones;
        return a.activo && !b.activo;
    });
    return r;
}

EquipoAgentes::Reparto EquipoAgentes::repartir(const std::vector<Agente>& agentes, int filas) {
    const std::vector<Agente> orden = ordenados(agentes);
    const size_t cabe = size_t(columnas) * size_t(std::max(filas, 1));
    Reparto r;
    if (orden.size() <= cabe) {
        r.caras = orden;
    } else {
        r.caras.assign(orden.begin(), orden.begin() + long(cabe - 1));
        r.resto.assign(orden.begin() + long(cabe - 1), orden.end());
    }
    return r;
}

QString EquipoAgentes::nombreCorto(const QString& nombre) {
    static const QRegularExpression cortes(QStringLiteral("[_ \\-]"));
    const QStringList piezas = nombre.split(cortes, Qt::SkipEmptyParts);
    return capitalizar(piezas.isEmpty() ? nombre : piezas.first());
}

QString EquipoAgentes::nombreLargo(const QString& nombre) {
    QString n = nombre;
    return capitalizar(n.replace(u'_', u' '));
}

QString EquipoAgentes::estado(const Agente& a) {
    if (!a.activo) return QStringLiteral("En pausa");
    if (a.conversaciones <= 0) return QStringLiteral("Activo");
    return QStringLiteral("Atendiendo ") + QString::number(a.conversaciones) + QStringLiteral(" chat") +
           (a.conversaciones == 1 ? QString() : QStringLiteral("s"));
}

QString EquipoAgentes::cuenta(const std::vector<Agente>& agentes) {
    const auto activos = std::count_if(agentes.begin(), agentes.end(), [](const Agente& a) { return a.activo; });
    return QString::number(activos) + QStringLiteral(" de ") + QString::number(agentes.size()) + QStringLiteral(" activos");
}

EquipoAgentes::EquipoAgentes(ModeloAjustes& modelo, Esquema esquema, QWidget* padre)
    : QWidget(padre), modelo_(modelo), esquema_(esquema) {
    auto* columna = new QVBoxLayout(this);
    columna->setContentsMargins(16, 12, 16, 12);
    columna->setSpacing(0);
    auto* cabecera = new QHBoxLayout;
    cabecera->setSpacing(8);
    cabecera->addWidget(etiqueta(QStringLiteral("Tus agentes"), fuente(12.5, QFont::DemiBold), primario(esquema)));
    cabecera->addStretch(1);
    cuenta_ = etiqueta(cuenta({}), fuente(11), terciario(esquema));
    cabecera->addWidget(cuenta_);
    columna->addLayout(cabecera);
    columna->addSpacing(6);
    contenedor_ = new QWidget(this);
    rejilla_ = new QGridLayout(contenedor_);
    rejilla_->setContentsMargins(0, 0, 0, 0);
    rejilla_->setHorizontalSpacing(4);
    rejilla_->setVerticalSpacing(10);
    for (int c = 0; c < columnas; ++c) {
        rejilla_->setColumnStretch(c, 1);
        rejilla_->setColumnMinimumWidth(c, 10);
    }
    columna->addWidget(contenedor_);
    Vidrio(FormaVidrio::redondeada(14), esquema).aplicar(this);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

EquipoAgentes::~EquipoAgentes() { cerrarBurbujas(); }

void EquipoAgentes::setFoto(const Instantanea& foto) {
    agentes_ = foto.agentes.value_or(std::vector<Agente>{});
    reconstruir();
}

void EquipoAgentes::setFilas(int filas) {
    if (filas == filas_) return;
    filas_ = filas;
    reconstruir();
}

void EquipoAgentes::reconstruir() {
    cuenta_->setText(cuenta(agentes_));
    while (QLayoutItem* item = rejilla_->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    const Reparto r = repartir(agentes_, filas_);
    int i = 0;
    for (const Agente& a : r.caras) {
        rejilla_->addWidget(celda(a, contenedor_), i / columnas, i % columnas, Qt::AlignHCenter | Qt::AlignTop);
        ++i;
    }
    if (!r.resto.empty()) {
        auto* resto = new CeldaResto(int(r.resto.size()), esquema_, contenedor_);
        connect(resto, &QPushButton::clicked, this, [this] { abrirResto(true); });
        rejilla_->addWidget(resto, i / columnas, i % columnas, Qt::AlignHCenter | Qt::AlignTop);
    }
    for (QWidget* w : contenedor_->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        if (!w->testAttribute(Qt::WA_WState_ExplicitShowHide)) w->setVisible(true);
    contenedor_->setVisible(i > 0 || !r.resto.empty());
    // A grid without faces takes no room; its bottom margin stays.
    updateGeometry();
}

QWidget* EquipoAgentes::celda(const Agente& a, QWidget* padre) {
    const qint64 id = a.id;
    auto* c = new Celda(a, esquema_, [this, id] { abrirAgente(id); }, padre);
    c->setProperty("agente", id);
    c->setMinimumWidth(38);
    c->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return c;
}

void EquipoAgentes::abrirResto(bool si) {
    if (si == restoAbierto_ && (!si || burbujaResto_)) return;
    restoAbierto_ = si;
    if (!si) {
        if (burbujaResto_) static_cast<Burbuja*>(burbujaResto_.data())->cerrarSinAviso();
        return;
    }
    const Reparto r = repartir(agentes_, filas_);
    auto* b = new Burbuja(esquema_, this, [this] { restoAbierto_ = false; });
    auto* col = new QVBoxLayout(b);
    col->setContentsMargins(16, 16, 16, 16);
    col->setSpacing(10);
    col->addWidget(etiqueta(QStringLiteral("El resto del equipo"), fuente(12.5, QFont::DemiBold), primario(esquema_)));
    auto* rej = new QGridLayout;
    rej->setHorizontalSpacing(6);
    rej->setVerticalSpacing(12);
    int i = 0;
    for (const Agente& a : r.resto) {
        auto* c = celda(a, b);
        c->setFixedWidth(58);
        rej->addWidget(c, i / 5, i % 5, Qt::AlignHCenter | Qt::AlignTop);
        ++i;
    }
    col->addLayout(rej);
    b->adjustSize();
    QWidget* ancla = this;
    for (auto* w : contenedor_->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) ancla = w;
    colocarJunto(b, ancla);
    burbujaResto_ = b;
    b->show();
}

void EquipoAgentes::abrirAgente(std::optional<qint64> id) {
    if (burbuja_) static_cast<Burbuja*>(burbuja_.data())->cerrarSinAviso();
    agenteAbierto_ = id;
    botones_.clear();
    if (!id) return;
    const auto it = std::find_if(agentes_.begin(), agentes_.end(), [&](const Agente& a) { return a.id == *id; });
    if (it == agentes_.end()) {
        agenteAbierto_.reset();
        return;
    }
    QWidget* b = crearBurbuja(*it);
    b->adjustSize();
    colocarJunto(b, celdaDe(*id));
    burbuja_ = b;
    b->show();
}

const QWidget* EquipoAgentes::celdaDe(qint64 id) const {
    for (const QWidget* donde : {static_cast<const QWidget*>(burbujaResto_.data()), static_cast<const QWidget*>(contenedor_)}) {
        if (!donde) continue;
        for (const QWidget* c : donde->findChildren<QWidget*>())
            if (!c->isHidden() && c->property("agente").isValid() && c->property("agente").toLongLong() == id) return c;
    }
    return this;
}

QWidget* EquipoAgentes::crearBurbuja(const Agente& a) {
    auto* b = new Burbuja(esquema_, this, [this] {
        agenteAbierto_.reset();
        botones_.clear();
    });
    b->setFixedWidth(230);
    auto* col = new QVBoxLayout(b);
    col->setContentsMargins(18, 18, 18, 18);
    col->setSpacing(10);
    col->addWidget(new Cara(a, 64, esquema_, b), 0, Qt::AlignHCenter);
    auto* textos = new QVBoxLayout;
    textos->setSpacing(3);
    auto* nombre = etiqueta(nombreLargo(a.nombre), fuente(14, QFont::DemiBold), primario(esquema_));
    nombre->setAlignment(Qt::AlignHCenter);
    textos->addWidget(nombre);
    auto* fila = new QHBoxLayout;
    fila->setSpacing(6);
    fila->addStretch(1);
    auto* punto = new QLabel(b);
    punto->setFixedSize(7, 7);
    const QColor colorPunto = a.activo ? Paleta(esquema_).lima : conAlfa(secundario(esquema_), 0.5);
    punto->setStyleSheet(QStringLiteral("background: %1; border-radius: 3px;").arg(colorPunto.name(QColor::HexArgb)));
    fila->addWidget(punto, 0, Qt::AlignVCenter);
    fila->addWidget(etiqueta(estado(a), fuente(12), secundario(esquema_)));
    fila->addStretch(1);
    textos->addLayout(fila);
    col->addLayout(textos);
    const Paleta pal(esquema_);
    auto* boton = new BotonBordeado(cambiandoAgente_ ? QStringLiteral("Un momento…")
                                                     : (a.activo ? QStringLiteral("Pausar") : QStringLiteral("Reanudar")),
                                    a.activo ? pal.rojo : pal.lima, 13, esquema_, b);
    boton->setMinimumWidth(120);
    boton->setEnabled(!cambiandoAgente_);
    connect(boton, &QPushButton::clicked, this, [this, a] { cambiar(a); });
    botones_.push_back(boton);
    col->addWidget(boton, 0, Qt::AlignHCenter);
    if (a.activo) {
        auto* nota = etiqueta(QStringLiteral("En pausa no contesta a nadie; sus chats te llegan a ti."), fuente(10.5),
                              terciario(esquema_), true);
        nota->setAlignment(Qt::AlignHCenter);
        col->addWidget(nota);
    }
    return b;
}

void EquipoAgentes::cerrarBurbujas() {
    if (burbuja_) static_cast<Burbuja*>(burbuja_.data())->cerrarSinAviso();
    if (burbujaResto_) static_cast<Burbuja*>(burbujaResto_.data())->cerrarSinAviso();
}

QCoro::Task<void> EquipoAgentes::cambiar(Agente agente) {
    if (cambiandoAgente_) co_return;
    cambiandoAgente_ = true;
    for (auto& b : botones_)
        if (b) {
            b->setText(QStringLiteral("Un momento…"));
            b->setEnabled(false);
        }
    QPointer<EquipoAgentes> vivo(this);
    std::optional<QString> fallo;
    if (modelo_.cambiarAgente) fallo = co_await modelo_.cambiarAgente(agente.id, !agente.activo);
    if (!vivo) co_return;
    if (fallo && alAviso) alAviso(*fallo);
    if (alReleer) alReleer();
    cambiandoAgente_ = false;
    abrirAgente(std::nullopt);
}
