#include "zentu/escritorio/VistaAgentesFlotante.h"

#include "zentu/escritorio/PiezasTarjeta.h"

#include "compartido/Personajes.h"
#include "compartido/VistaAgentesW.h"
#include "zentu/isla/TarjetasFlotantes.h"
#include "zentu/isla/Vidrio.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>

// ------------------------------------------------------------------ model

ModeloAgentes::ModeloAgentes(std::vector<Instantanea::Agente> lista, Cambiar cambiar, QObject* padre)
    : QObject(padre), lista_(VistaAgentesW::ordenados(lista)), cambiar_(std::move(cambiar)) {}

void ModeloAgentes::setLista(std::vector<Instantanea::Agente> lista) {
    lista_ = VistaAgentesW::ordenados(lista);
    emit cambio();
}

QString ModeloAgentes::estado(const Instantanea::Agente& a) {
    if (!a.activo) return QStringLiteral("En pausa");
    if (a.conversaciones < 1) return QStringLiteral("Disponible");
    return QString::number(a.conversaciones) +
           (a.conversaciones == 1 ? QStringLiteral(" conversación") : QStringLiteral(" conversaciones")) +
           QStringLiteral(" ahora");
}

QCoro::Task<void> ModeloAgentes::alternar(Instantanea::Agente agente) {
    QPointer<ModeloAgentes> yo(this);
    cambiando_ = agente.id;
    aviso_.reset();
    emit cambio();
    std::optional<QString> error;
    if (cambiar_) {
        auto cambiar = cambiar_;
        error = co_await cambiar(agente.id, !agente.activo);
        if (!yo) co_return;
    }
    if (error)
        aviso_ = QStringLiteral("No se pudo ") + (agente.activo ? QStringLiteral("pausar") : QStringLiteral("reanudar")) +
                 QStringLiteral(" a ") + agente.nombre + QStringLiteral(": ") + *error;
    cambiando_.reset();
    emit cambio();
}

// ------------------------------------------------------------------ view

namespace {

using PiezasTarjeta::con;
using PiezasTarjeta::fuente;
using PiezasTarjeta::Girador;

QString nombreVisible(const QString& nombre) {
    QString t = nombre;
    t.replace(QLatin1Char('_'), QLatin1Char(' '));
    if (t.isEmpty()) return t;
    const int largo = t.at(0).isHighSurrogate() && t.size() > 1 ? 2 : 1;
    return t.left(largo).toUpper() + t.mid(largo);
}

class Avatar : public QWidget {
public:
    Avatar(QWidget* padre, Instantanea::Agente a, Esquema e) : QWidget(padre), a_(std::move(a)), pal_(e) {
        setFixedSize(36, 36);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF r(0, 0, 36, 36);
        const QColor c = a_.activo ? pal_.lima : pal_.tinta;
        p.setPen(Qt::NoPen);
        p.setBrush(con(c, 0.1));
        p.drawEllipse(r);
        QPainterPath circulo;
        circulo.addEllipse(r);
        p.save();
        p.setClipPath(circulo);
        if (const auto im = Personajes::imagen(a_)) {
            QImage img = im->convertToFormat(QImage::Format_ARGB32);
            if (!a_.activo) {
                // Saturation 0.35: each pixel 65 % of the way to its grey.
                for (int y = 0; y < img.height(); ++y) {
                    auto* fila = reinterpret_cast<QRgb*>(img.scanLine(y));
                    for (int x = 0; x < img.width(); ++x) {
                        const QRgb px = fila[x];
                        const double gris = 0.2126 * qRed(px) + 0.7152 * qGreen(px) + 0.0722 * qBlue(px);
                        auto mezcla = [gris](int v) { return int(std::lround(gris + 0.35 * (v - gris))); };
                        fila[x] = qRgba(mezcla(qRed(px)), mezcla(qGreen(px)), mezcla(qBlue(px)), qAlpha(px));
                    }
                }
                p.setOpacity(0.8);
            }
            // Fill the square, cropping the longer side.
            const QSizeF s = QSizeF(img.size()).scaled(r.size(), Qt::KeepAspectRatioByExpanding);
            p.drawImage(QRectF(r.center().x() - s.width() / 2, r.center().y() - s.height() / 2, s.width(), s.height()), img);
            p.setOpacity(1);
        } else {
            p.setFont(fuente(this, 15, QFont::Bold, true));
            p.setPen(a_.activo ? pal_.lima : con(pal_.tinta, 0.45));
            p.drawText(r, Qt::AlignCenter, a_.nombre.left(1).toUpper());
        }
        p.restore();
        p.setPen(QPen(con(c, 0.35), 0.8));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(r.adjusted(0.4, 0.4, -0.4, -0.4));
    }

private:
    Instantanea::Agente a_;
    Paleta pal_;
};

// An on/off switch tinted with the accent.
class Interruptor : public QAbstractButton {
public:
    Interruptor(QWidget* padre, bool encendido, QColor tinte, QColor apagado) : QAbstractButton(padre), tinte_(tinte), apagado_(apagado) {
        setCheckable(true);
        setChecked(encendido);
        setFixedSize(38, 22);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(Qt::NoPen);
        p.setBrush(isChecked() ? tinte_ : apagado_);
        p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
        const double d = r.height() - 4;
        const double x = isChecked() ? r.right() - 2 - d : r.left() + 2;
        p.setBrush(Qt::white);
        p.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
        p.drawEllipse(QRectF(x, r.top() + 2, d, d));
    }

private:
    QColor tinte_, apagado_;
};

QLabel* etiqueta(QWidget* padre, const QString& t, double puntos, QFont::Weight peso, const QColor& color) {
    auto* l = new QLabel(t, padre);
    l->setTextFormat(Qt::PlainText);
    l->setFont(fuente(padre, puntos, peso));
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    return l;
}

}  // namespace

VistaAgentesFlotante::VistaAgentesFlotante(ModeloAgentes& m, std::function<void()> cerrar, Esquema esquema, QWidget* padre)
    : QWidget(padre), m_(&m), esquema_(esquema) {
    setAttribute(Qt::WA_TranslucentBackground);
    auto* cuerpo = new QWidget;
    cuerpo->setAttribute(Qt::WA_TranslucentBackground);
    auto* capa = new QVBoxLayout(cuerpo);
    capa->setContentsMargins(0, 0, 0, 0);
    capa->setSpacing(0);
    filas_ = new QWidget;
    filas_->setAttribute(Qt::WA_TranslucentBackground);
    capaFilas_ = new QVBoxLayout(filas_);
    capaFilas_->setContentsMargins(16, 0, 16, 0);
    capaFilas_->setSpacing(0);
    capa->addWidget(new Desplazable(filas_, cuerpo), 1);
    aviso_ = etiqueta(cuerpo, QString(), 11.5, QFont::Normal, Paleta(esquema).rojo);
    aviso_->setWordWrap(true);
    aviso_->setContentsMargins(16, 0, 16, 10);
    aviso_->hide();
    capa->addWidget(aviso_);
    auto* tarjeta = new Tarjeta(QStringLiteral("Tus agentes"), QSizeF(ancho, alto), std::move(cerrar), cuerpo, esquema, this);
    auto* raiz = new QVBoxLayout(this);
    raiz->setContentsMargins(0, 0, 0, 0);
    raiz->addWidget(tarjeta);
    setFixedSize(tarjeta->sizeHint());
    connect(&m, &ModeloAgentes::cambio, this, &VistaAgentesFlotante::reconstruir);
    reconstruir();
}

QAbstractButton* VistaAgentesFlotante::interruptor(qint64 id) const {
    for (const auto& [i, b] : interruptores_)
        if (i == id) return b;
    return nullptr;
}

void VistaAgentesFlotante::reconstruir() {
    if (!m_) return;
    const Paleta pal(esquema_);
    interruptores_.clear();
    while (QLayoutItem* item = capaFilas_->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    for (const Instantanea::Agente& a : m_->lista()) {
        auto* fila = new QWidget(filas_);
        auto* h = new QHBoxLayout(fila);
        h->setContentsMargins(0, 9, 0, 9);
        h->setSpacing(12);
        h->addWidget(new Avatar(fila, a, esquema_), 0, Qt::AlignVCenter);
        auto* textos = new QVBoxLayout;
        textos->setSpacing(2);
        textos->addWidget(etiqueta(fila, nombreVisible(a.nombre), 13.5, QFont::DemiBold, pal.tinta));
        textos->addWidget(etiqueta(fila, ModeloAgentes::estado(a), 11.5, QFont::Normal, con(pal.tinta, 0.55)));
        h->addLayout(textos);
        h->addStretch(1);
        if (a.coordinador) {
            h->addWidget(etiqueta(fila, QStringLiteral("Coordina"), 11, QFont::Normal, con(pal.tinta, 0.45)));
        } else if (m_->cambiando() == a.id) {
            h->addWidget(new Girador(fila, 18, pal.tinta));
        } else {
            auto* sw = new Interruptor(fila, a.activo, pal.lima, con(pal.tinta, 0.2));
            sw->setToolTip((a.activo ? QStringLiteral("Pausar a ") : QStringLiteral("Reanudar a ")) + a.nombre);
            QPointer<ModeloAgentes> m = m_;
            connect(sw, &QAbstractButton::clicked, this, [m, a, sw] {
                // The switch shows the list's state; the change arrives with the next list.
                sw->setChecked(a.activo);
                if (m) m->alternar(a);
            });
            interruptores_.emplace_back(a.id, sw);
            h->addWidget(sw);
        }
        capaFilas_->addWidget(fila);
        auto* linea = new QWidget(filas_);
        linea->setFixedHeight(1);
        linea->setAutoFillBackground(true);
        QPalette lp = linea->palette();
        lp.setColor(QPalette::Window, con(pal.tinta, 0.12 * 0.5 / 0.5));
        linea->setPalette(lp);
        capaFilas_->addWidget(linea);
    }
    capaFilas_->addStretch(1);
    aviso_->setText(m_->aviso().value_or(QString()));
    aviso_->setVisible(m_->aviso().has_value());
}
