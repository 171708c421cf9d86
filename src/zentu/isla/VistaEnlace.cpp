#include "zentu/isla/VistaEnlace.h"

#include "zentu/conexion/ModeloEnlace.h"
#include "zentu/isla/Pildora.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QVideoSink>
#include <algorithm>

// Keys as Linux keyboards label them: Ctrl+V pastes, and Print Screen ("Impr Pant" on Spanish
// keyboards) opens the desktop's screenshot tool, from which the chosen area reaches the
// clipboard (GNOME's puts it there by itself).
const QString VistaEnlace::kTextoPegar = QStringLiteral("Copia el código con Impr Pant y pégalo aquí.");
const QString VistaEnlace::kTituloBoton = QStringLiteral("Pegar el código  Ctrl+V");

namespace {

constexpr int kAncho = 400;
constexpr QSize kCaja(340, 240);
constexpr qreal kRadioCaja = 16;
constexpr qreal kMira = 170;
constexpr qreal kRadioMira = 14;

// Text face and size in the window's units (a size of 13 is 13 units tall, whatever the dpi).
QFont fuente(const QWidget& w, qreal tamano, QFont::Weight peso = QFont::Normal) {
    QFont f;
    f.setFamilies({QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setWeight(peso);
    const int dpi = w.logicalDpiY() > 0 ? w.logicalDpiY() : 96;
    f.setPointSizeF(tamano * 72.0 / dpi);
    return f;
}

QColor secundario(const QWidget& w) {
    QColor c = w.palette().color(QPalette::WindowText);
    c.setAlphaF(0.55);
    return c;
}

QPainterPath redondeado(const QRectF& r, qreal radio) {
    QPainterPath p;
    p.addRoundedRect(r, radio, radio);
    return p;
}

// The aiming square and, while a code is redeemed, the spinner: drawn over the camera picture,
// never in the way of clicks or drops.
class Superposicion : public QWidget {
public:
    Superposicion(ModeloEnlace& modelo, QWidget* padre) : QWidget(padre), modelo_(&modelo), giro_(new QTimer(this)) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        giro_->setInterval(1000 / 12);  // one turn a second, one spoke at a time
        connect(giro_, &QTimer::timeout, this, [this] {
            paso_ = (paso_ + 1) % 12;
            update();
        });
        connect(&modelo, &ModeloEnlace::ocupadoCambio, this, &Superposicion::seguir);
        seguir();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QColor lima = Pildora::lima;
        lima.setAlphaF(0.8);
        QPen pluma(lima, 2);
        pluma.setDashPattern({10.0 / 2, 8.0 / 2});  // in units of the pen width
        pluma.setCapStyle(Qt::FlatCap);
        p.setPen(pluma);
        p.setBrush(Qt::NoBrush);
        const QRectF mira(QPointF(width() / 2.0 - kMira / 2, height() / 2.0 - kMira / 2), QSizeF(kMira, kMira));
        // Stroked inside the square: the line's centre runs half its width in.
        p.drawPath(redondeado(mira.adjusted(1, 1, -1, -1), kRadioMira - 1));

        if (modelo_ && modelo_->ocupado()) {
            // The large circular activity indicator: twelve spokes fading behind the lit one.
            p.translate(width() / 2.0, height() / 2.0);
            for (int i = 0; i < 12; ++i) {
                QColor c = Pildora::lima;
                c.setAlphaF(0.25 + 0.75 * ((12 + i - paso_) % 12) / 11.0);
                p.setPen(QPen(c, 3.2, Qt::SolidLine, Qt::RoundCap));
                p.save();
                p.rotate(30.0 * i);
                p.drawLine(QPointF(0, -8.5), QPointF(0, -15));
                p.restore();
            }
        }
    }

private:
    void seguir() {
        if (modelo_ && modelo_->ocupado()) {
            if (!giro_->isActive()) giro_->start();
        } else {
            giro_->stop();
        }
        update();
    }

    QPointer<ModeloEnlace> modelo_;
    QTimer* giro_;
    int paso_ = 0;
};

}  // namespace

// ------------------------------------------------------------------------------- VistaCamara

VistaCamara::VistaCamara(ModeloEnlace& modelo, QWidget* padre) : QWidget(padre) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    // Frames may come from the camera's own thread; the connection queues them to this one.
    connect(&modelo.sumidero(), &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& cuadro) {
        cuadro_ = cuadro;
        if (isVisible()) update();
    });
}

void VistaCamara::paintEvent(QPaintEvent*) {
    if (!cuadro_.isValid()) return;
    const QImage imagen = cuadro_.toImage();
    if (imagen.isNull()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setClipPath(redondeado(rect(), kRadioCaja));
    // Fill the rectangle keeping the picture's proportions; the overflow is cut off.
    const qreal escala = std::max(width() / qreal(imagen.width()), height() / qreal(imagen.height()));
    const QSizeF tamano(imagen.width() * escala, imagen.height() * escala);
    // A mirror: the owner's left hand shows on the left.
    p.translate(width(), 0);
    p.scale(-1, 1);
    p.drawImage(QRectF(QPointF((width() - tamano.width()) / 2, (height() - tamano.height()) / 2), tamano), imagen);
}

// ------------------------------------------------------------------------------- camera box

class VistaEnlace::Caja : public QWidget {
public:
    Caja(ModeloEnlace& modelo, QWidget* padre)
        : QWidget(padre), modelo_(&modelo), camara_(new VistaCamara(modelo, this)), encima_(new Superposicion(modelo, this)) {
        setFixedSize(kCaja);
        setAcceptDrops(true);
        camara_->setGeometry(rect());
        encima_->setGeometry(rect());
        camara_->setVisible(modelo.camaraLista());
        connect(&modelo, &ModeloEnlace::camaraListaCambio, this, [this] {
            if (modelo_) camara_->setVisible(modelo_->camaraLista());
        });
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(redondeado(rect(), kRadioCaja), Qt::black);
    }

    // Pictures and files are taken; a web link is not something the box can read.
    static bool aceptable(const QMimeData& datos) {
        if (datos.hasImage()) return true;
        const QList<QUrl> urls = datos.urls();
        return std::any_of(urls.begin(), urls.end(), [](const QUrl& u) { return u.isLocalFile(); });
    }

    void dragEnterEvent(QDragEnterEvent* e) override {
        if (aceptable(*e->mimeData())) e->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* e) override {
        if (aceptable(*e->mimeData())) e->acceptProposedAction();
    }
    void dropEvent(QDropEvent* e) override {
        const QMimeData* datos = e->mimeData();
        if (!aceptable(*datos)) return;
        // Only the first item counts; something that is not an image is quietly ignored.
        const QImage imagen = ModeloEnlace::imagenDe(*datos);
        e->acceptProposedAction();
        if (imagen.isNull()) return;
        // Read it after the drop has finished, so the dragging application is not kept waiting.
        QMetaObject::invokeMethod(
            this, [m = modelo_, imagen] { if (m) m->leerImagen(imagen); }, Qt::QueuedConnection);
    }

private:
    QPointer<ModeloEnlace> modelo_;
    VistaCamara* camara_;
    Superposicion* encima_;
};

// ------------------------------------------------------------------------------- VistaEnlace

VistaEnlace::VistaEnlace(ModeloEnlace& modelo, QWidget* padre) : QWidget(padre), modelo_(&modelo) {
    setFixedWidth(kAncho);
    setAutoFillBackground(true);

    auto* columna = new QVBoxLayout(this);
    columna->setContentsMargins(28, 28, 28, 28);
    columna->setSpacing(18);

    auto etiqueta = [this](const QString& texto, const QFont& f, bool envolver) {
        auto* l = new QLabel(texto, this);
        l->setFont(f);
        l->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        l->setWordWrap(envolver);
        l->setTextFormat(Qt::PlainText);
        return l;
    };
    auto conColor = [](QLabel* l, const QColor& c) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, c);
        l->setPalette(pal);
    };

    auto* encabezado = new QVBoxLayout;
    encabezado->setSpacing(6);
    encabezado->addWidget(etiqueta(QStringLiteral("Enlaza Zentu AI con tu cuenta"), fuente(*this, 20, QFont::DemiBold), false));
    auto* explicacion = etiqueta(QStringLiteral("En el panel, abre Configuración → Conexiones → «Vincular tu "
                                                "teléfono» y enseña el código a la cámara."),
                                 fuente(*this, 13), true);
    secundarios_ << explicacion;
    encabezado->addWidget(explicacion);
    columna->addLayout(encabezado);

    caja_ = new Caja(modelo, this);
    columna->addWidget(caja_, 0, Qt::AlignHCenter);

    auto* pegado = new QVBoxLayout;
    pegado->setSpacing(8);
    pegado->addWidget(etiqueta(QStringLiteral("¿El panel está abierto en este equipo?"), fuente(*this, 13, QFont::Medium), true));
    auto* pista = etiqueta(kTextoPegar, fuente(*this, 12.5), true);
    secundarios_ << pista;
    pegado->addWidget(pista);
    boton_ = new QPushButton(kTituloBoton, this);
    boton_->setFont(fuente(*this, 13));
    // The large control size: taller and with more room around the title than the default.
    boton_->setMinimumHeight(30);
    boton_->setMinimumWidth(boton_->sizeHint().width() + 24);
    boton_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    connect(boton_, &QPushButton::clicked, this, [this] {
        if (modelo_) modelo_->pegar();
    });
    pegado->addWidget(boton_, 0, Qt::AlignHCenter);
    columna->addLayout(pegado);

    mensaje_ = etiqueta(QStringLiteral(" "), fuente(*this, 12.5), true);
    mensaje_->setMinimumHeight(18);
    conColor(mensaje_, Pildora::rojo);
    columna->addWidget(mensaje_);

    connect(&modelo, &ModeloEnlace::mensajeCambio, this, &VistaEnlace::actualizar);
    actualizar();
    colorearSecundarios();
}

void VistaEnlace::colorearSecundarios() {
    for (QLabel* l : secundarios_) {
        QPalette pal = l->palette();
        pal.setColor(QPalette::WindowText, secundario(*this));
        l->setPalette(pal);
    }
}

void VistaEnlace::changeEvent(QEvent* evento) {
    QWidget::changeEvent(evento);
    // A change of the desktop's colour scheme arrives as a new palette.
    if (evento->type() == QEvent::PaletteChange) colorearSecundarios();
}

void VistaEnlace::actualizar() {
    // A single space keeps the line's height when there is nothing to say.
    mensaje_->setText(modelo_ && modelo_->mensaje() ? *modelo_->mensaje() : QStringLiteral(" "));
}

void VistaEnlace::showEvent(QShowEvent* evento) {
    QWidget::showEvent(evento);
    if (modelo_) modelo_->encenderCamara();
}

void VistaEnlace::hideEvent(QHideEvent* evento) {
    QWidget::hideEvent(evento);
    if (modelo_) modelo_->apagarCamara();
}
