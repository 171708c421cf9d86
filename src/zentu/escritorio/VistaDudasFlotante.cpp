#include "zentu/escritorio/VistaDudasFlotante.h"

#include "zentu/escritorio/PiezasTarjeta.h"

#include "compartido/Iconos.h"
#include "zentu/isla/TarjetasFlotantes.h"
#include "zentu/isla/Vidrio.h"

#include <QAbstractButton>
#include <QAbstractTextDocumentLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace {

using PiezasTarjeta::con;
using PiezasTarjeta::fuente;
using PiezasTarjeta::Girador;

// Characters as the owner sees them: an accented letter or an emoji counts once.
qsizetype caracteres(const QString& texto) {
    QTextBoundaryFinder f(QTextBoundaryFinder::Grapheme, texto);
    qsizetype n = 0;
    while (f.toNextBoundary() != -1) ++n;
    return n;
}

QLabel* etiqueta(QWidget* padre, const QString& texto, double puntos, QFont::Weight peso, const QColor& color,
                 bool envolver = false, bool seleccionable = false) {
    auto* l = new QLabel(texto, padre);
    l->setTextFormat(Qt::PlainText);
    l->setFont(fuente(padre, puntos, peso));
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    l->setWordWrap(envolver);
    if (envolver) {
        // Its height follows its width: the card measures itself from that.
        QSizePolicy politica(QSizePolicy::Preferred, QSizePolicy::Minimum);
        politica.setHeightForWidth(true);
        l->setSizePolicy(politica);
    }
    if (seleccionable) l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

std::optional<QString> texto(const QJsonObject& r, const char* clave) {
    const QJsonValue v = r.value(QLatin1String(clave));
    if (!v.isString()) return std::nullopt;
    return v.toString();
}

// A button drawn by a function; its hit shape is its whole rectangle unless told.
class BotonPintado : public QAbstractButton {
public:
    using Pintor = std::function<void(QPainter&, const QRectF&, bool habilitado, bool encima)>;
    BotonPintado(QWidget* padre, QSize tam, Pintor pintor) : QAbstractButton(padre), tam_(tam), pintor_(std::move(pintor)) {
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setAttribute(Qt::WA_Hover);
        setFixedSize(tam);
    }
    bool circular = false;
    QSize sizeHint() const override { return tam_; }

protected:
    bool hitButton(const QPoint& p) const override {
        if (!circular) return rect().contains(p);
        const QPointF d = QPointF(p) - QRectF(rect()).center();
        const double r = std::min(width(), height()) / 2.0;
        return d.x() * d.x() + d.y() * d.y() <= r * r;
    }
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        pintor_(p, QRectF(rect()), isEnabled(), underMouse());
    }

private:
    QSize tam_;
    Pintor pintor_;
};

// A text field that grows with its lines between a minimum and a maximum, drawn on its own
// rounded fill; past the maximum it scrolls.
class Campo : public QPlainTextEdit {
public:
    Campo(QWidget* padre, int minimo, int maximo) : QPlainTextEdit(padre), minimo_(minimo), maximo_(maximo) {
        setFrameStyle(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setTabChangesFocus(true);
        viewport()->setAutoFillBackground(false);
        setAttribute(Qt::WA_TranslucentBackground);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        document()->setDocumentMargin(0);
        QObject::connect(this, &QPlainTextEdit::textChanged, this, [this] { ajustar(); });
    }
    std::function<void()> alIntro;
    std::function<void()> alCrecer;

    int lineas() const {
        // The plain-text layout measures its document in lines, wrapped ones included.
        const int n = int(std::ceil(document()->documentLayout()->documentSize().height()));
        return std::clamp(n, minimo_, maximo_);
    }
    void ajustar() {
        const int alto = int(std::ceil(lineas() * QFontMetricsF(font()).lineSpacing())) + 2;
        const bool desborda = document()->documentLayout()->documentSize().height() > maximo_;
        setVerticalScrollBarPolicy(desborda ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
        if (alto != height() || minimumHeight() != alto) {
            setFixedHeight(alto);
            if (alCrecer) alCrecer();
        }
    }

protected:
    void keyPressEvent(QKeyEvent* e) override {
        const bool intro = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
        if (intro && alIntro && !(e->modifiers() & Qt::ShiftModifier)) {
            alIntro();
            return;
        }
        QPlainTextEdit::keyPressEvent(e);
    }
    void resizeEvent(QResizeEvent* e) override {
        QPlainTextEdit::resizeEvent(e);
        ajustar();
    }

private:
    int minimo_, maximo_;
};

// The rounded fill (and optional hairline) behind a field.
class FondoCampo : public QWidget {
public:
    FondoCampo(QWidget* padre, double radio, QColor relleno) : QWidget(padre), radio_(radio), relleno_(relleno) {}
    std::optional<QColor> borde;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(borde ? QPen(*borde, 1) : Qt::NoPen);
        p.setBrush(relleno_);
        p.drawRoundedRect(r, radio_, radio_);
    }

private:
    double radio_;
    QColor relleno_;
};

// A card surface: glass behind, optionally a colour bar down its left edge, clipped round.
class Superficie : public QWidget {
public:
    Superficie(QWidget* padre, Esquema esquema, double radio, bool sombra) : QWidget(padre) {
        setObjectName(QString::fromLatin1(kNombreSuperficie));
        const FormaVidrio forma = FormaVidrio::redondeada(radio);
        Vidrio(forma, esquema).aplicar(this);
        if (sombra) SombraVidrio(esquema, radio).aplicar(this, forma);
    }
};

class Barra : public QWidget {
public:
    Barra(QWidget* padre, double ancho, QColor color, double radio) : QWidget(padre), color_(color), radio_(radio) {
        setFixedWidth(int(std::ceil(ancho)));
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        // Only the bar's part of the card's rounded outline.
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath forma;
        forma.addRoundedRect(QRectF(0, 0, width() + 2 * radio_, height()), radio_, radio_);
        p.setClipPath(forma);
        p.fillRect(rect(), color_);
    }

private:
    QColor color_;
    double radio_;
};

QColor ambar(Esquema e) {
    return e == Esquema::oscuro ? QColor(245, 158, 11) : QColor(133, 77, 14);
}

}  // namespace

// ------------------------------------------------------------------ pure helpers

double VistaDudasFlotante::escala(bool sola, double ancho) {
    if (!sola) return 1;
    return std::clamp(ancho / 600.0, 1.0, 1.45);
}

QString VistaDudasFlotante::hace(const std::optional<QString>& creado, const QDateTime& ahora) {
    if (!creado) return {};
    QDateTime t = QDateTime::fromString(*creado, Qt::ISODateWithMs);
    if (!t.isValid()) t = QDateTime::fromString(*creado, Qt::ISODate);
    // An internet date-time always carries its offset: a bare local time is not one.
    if (!t.isValid() || !(creado->endsWith(QLatin1Char('Z')) || creado->endsWith(QLatin1Char('z')) ||
                          creado->contains(QLatin1Char('+')) || creado->lastIndexOf(QLatin1Char('-')) > 9))
        return {};
    const qint64 s = t.msecsTo(ahora) / 1000;  // truncated toward zero
    qint64 n = 1;
    QString unidad = QStringLiteral(" min");
    if (s >= 86400) {
        n = s / 86400;
        unidad = QStringLiteral(" d");
    } else if (s >= 3600) {
        n = s / 3600;
        unidad = QStringLiteral(" h");
    } else if (s >= 60) {
        n = s / 60;
    }
    return QStringLiteral("hace ") + QString::number(n) + unidad;
}

QString VistaDudasFlotante::nombreAgente(const QJsonObject& registro) {
    const auto n = texto(registro, "agent_name");
    if (!n) return QStringLiteral("Agente");
    QString t = *n;
    t.replace(QLatin1Char('_'), QLatin1Char(' '));
    if (t.isEmpty()) return t;
    const int largo = t.at(0).isHighSurrogate() && t.size() > 1 ? 2 : 1;
    return t.left(largo).toUpper() + t.mid(largo);
}

QString VistaDudasFlotante::inicial(const QJsonObject& registro) {
    const auto n = texto(registro, "agent_name");
    if (!n || n->isEmpty()) return QStringLiteral("?");
    const int largo = n->at(0).isHighSurrogate() && n->size() > 1 ? 2 : 1;
    return n->left(largo).toUpper();
}

// ------------------------------------------------------------------ the view

VistaDudasFlotante::VistaDudasFlotante(ModeloDudas& m, std::function<void()> cerrar, std::function<void()> abrirChat,
                                       bool sola, double ancho, Esquema esquema, QWidget* padre)
    : QWidget(padre),
      m_(&m),
      cerrar_(std::move(cerrar)),
      abrirChat_(std::move(abrirChat)),
      sola_(sola),
      ancho_(ancho),
      s_(escala(sola, ancho)),
      esquema_(esquema) {
    setAttribute(Qt::WA_TranslucentBackground);
    raiz_ = new QVBoxLayout(this);
    raiz_->setContentsMargins(int(kMargenTarjeta), int(kMargenTarjeta), int(kMargenTarjeta), int(kMargenTarjeta));
    raiz_->setSpacing(0);
    connect(&m, &ModeloDudas::cambio, this, &VistaDudasFlotante::alCambiarModelo);
    reconstruir();
}

QString VistaDudasFlotante::respuesta() const { return campo_ ? campo_->toPlainText() : respuesta_; }

bool VistaDudasFlotante::enfocado() const { return campo_ && campo_->hasFocus(); }

QList<QAbstractButton*> VistaDudasFlotante::chips() const { return chips_; }
QList<QAbstractButton*> VistaDudasFlotante::filasColapsadas() const { return colapsadas_; }

int VistaDudasFlotante::heightForWidth(int) const {
    // The card has a fixed width: its height is the content's at that width plus the margins.
    if (!contenido_) return 0;
    const QMargins m = raiz_->contentsMargins();
    return altoContenido() + m.top() + m.bottom();
}

int VistaDudasFlotante::altoContenido() const {
    const int w = int(std::round(ancho_));
    int h = -1;
    if (QLayout* l = contenido_->layout())
        h = l->hasHeightForWidth() ? l->totalHeightForWidth(w) : l->totalSizeHint().height();
    if (h < 0) h = contenido_->sizeHint().height();
    return h;
}

QSize VistaDudasFlotante::sizeHint() const {
    const int ancho = int(std::ceil(ancho_ + 2 * kMargenTarjeta));
    return {ancho, heightForWidth(ancho)};
}

QString VistaDudasFlotante::clave() const {
    // What decides the card's structure: the item on show and its record.
    if (!m_) return {};
    if (m_->permisoAbierto())
        for (const QJsonObject& p : m_->permisos())
            if (ModeloDudas::idDe(p) == m_->permisoAbierto())
                return QStringLiteral("p") + QString::number(*m_->permisoAbierto()) + QJsonDocument(p).toJson(QJsonDocument::Compact);
    QString c = sola_ ? QStringLiteral("d") : QStringLiteral("l");
    if (m_->abierta()) c += QString::number(*m_->abierta());
    if (sola_) {
        for (const QJsonObject& d : m_->lista())
            if (ModeloDudas::idDe(d) == m_->abierta()) return c + QJsonDocument(d).toJson(QJsonDocument::Compact);
        return QStringLiteral("r");
    }
    for (const QJsonObject& d : m_->lista()) c += QJsonDocument(d).toJson(QJsonDocument::Compact);
    return c;
}

void VistaDudasFlotante::alCambiarModelo() {
    if (clave() != claveMostrada_) reconstruir();
    else actualizarEstados();
}

void VistaDudasFlotante::reconstruir() {
    if (campo_) respuesta_ = campo_->toPlainText();
    const bool teniaFoco = campo_ && campo_->hasFocus();
    if (contenido_) {
        contenido_->hide();
        contenido_->deleteLater();
    }
    campo_ = nullptr;
    campoPermiso_ = nullptr;
    enviar_ = descartar_ = aprobar_ = rechazar_ = cerrarBoton_ = nullptr;
    girador_ = nullptr;
    error_ = nullptr;
    marcoMensaje_ = nullptr;
    chips_.clear();
    colapsadas_.clear();
    claveMostrada_ = clave();

    std::optional<QJsonObject> permiso, duda;
    std::optional<qint64> idPermiso, idDuda;
    if (m_ && m_->permisoAbierto()) {
        for (const QJsonObject& p : m_->permisos())
            if (ModeloDudas::idDe(p) == m_->permisoAbierto()) {
                permiso = p;
                idPermiso = m_->permisoAbierto();
                break;
            }
    }
    if (m_ && !permiso && m_->abierta()) {
        for (const QJsonObject& d : m_->lista())
            if (ModeloDudas::idDe(d) == m_->abierta()) {
                duda = d;
                idDuda = m_->abierta();
                break;
            }
    }

    idMostrado_ = idPermiso ? idPermiso : idDuda;
    if (permiso) {
        muestra_ = Muestra::permiso;
        contenido_ = new Superficie(this, esquema_, 22, true);
        auto* capa = new QVBoxLayout(contenido_);
        capa->setContentsMargins(0, 0, 0, 0);
        capa->addWidget(tarjetaPermiso(*permiso, *idPermiso, contenido_));
    } else if (sola_ && duda) {
        muestra_ = Muestra::duda;
        contenido_ = new Superficie(this, esquema_, 22, true);
        auto* capa = new QVBoxLayout(contenido_);
        capa->setContentsMargins(0, 0, 0, 0);
        capa->addWidget(tarjetaDuda(*duda, *idDuda, true, contenido_));
    } else if (!sola_ && m_ && !m_->lista().isEmpty()) {
        muestra_ = Muestra::lista;
        contenido_ = new Superficie(this, esquema_, 22, true);
        auto* capa = new QVBoxLayout(contenido_);
        capa->setContentsMargins(0, 0, 0, 0);
        capa->setSpacing(0);
        for (const QJsonObject& d : m_->lista()) {
            const auto id = ModeloDudas::idDe(d);
            if (id && id == m_->abierta())
                capa->addWidget(tarjetaDuda(d, *id, false, contenido_));
            else if (id)
                capa->addWidget(filaColapsada(d, *id, contenido_));
        }
    } else {
        muestra_ = Muestra::resuelta;
        contenido_ = resuelta(this);
    }
    // Room for the card's shadow all round, as for every card.
    const int m = int(kMargenTarjeta);
    raiz_->setContentsMargins(m, m, m, m);
    contenido_->setFixedWidth(int(std::round(ancho_)));
    raiz_->addWidget(contenido_);
    contenido_->show();
    actualizarEstados();
    if (campo_ && (teniaFoco || isVisible())) campo_->setFocus();
    ajustarVentana();
}

void VistaDudasFlotante::actualizarEstados() {
    const bool enviando = m_ && m_->enviando();
    if (enviar_) {
        const QString t = campo_ ? campo_->toPlainText().trimmed() : QString();
        enviar_->setEnabled(!enviando && caracteres(t) >= 2);
        enviar_->update();
    }
    for (QAbstractButton* c : chips_) c->setEnabled(!enviando);
    if (descartar_) descartar_->setEnabled(!enviando);
    if (aprobar_) {
        aprobar_->setEnabled(!enviando && !mensajePermiso().trimmed().isEmpty());
        // The capsule fits its label, which changes with the edit.
        const QFontMetricsF fm(fuente(this, 13.5 * s_, QFont::DemiBold));
        const QString t = permisoEditado() ? QStringLiteral("Aprobar con mi texto") : QStringLiteral("Aprobar");
        aprobar_->setFixedWidth(int(std::ceil(fm.horizontalAdvance(t) + 36 * s_)));
        aprobar_->update();
    }
    if (rechazar_) rechazar_->setEnabled(!enviando);
    if (girador_) girador_->setVisible(enviando);
    if (marcoMensaje_) {
        static_cast<FondoCampo*>(marcoMensaje_)->borde =
            permisoEditado() ? std::optional<QColor>(con(Paleta(esquema_).lima, 0.5)) : std::nullopt;
        marcoMensaje_->update();
    }
    if (error_) {
        const bool hay = m_ && m_->error();
        error_->setText(hay ? *m_->error() : QString());
        error_->setVisible(hay);
    }
    ajustarVentana();
}

void VistaDudasFlotante::ajustarVentana() {
    // The card keeps its natural height: the window follows it as fields grow or lines come and go.
    // Wrapped lines ask for more height as a minimum than they take at the card's width, so the
    // content is held at its measured height.
    if (contenido_) {
        // Measured afresh: a field that just grew has not told its layouts yet.
        for (QLayout* l : contenido_->findChildren<QLayout*>()) l->invalidate();
        for (QWidget* w : contenido_->findChildren<QWidget*>()) w->updateGeometry();
        contenido_->setFixedHeight(altoContenido());
    }
    QWidget* ventana = window();
    if (ventana == this || !ventana) {
        if (layout()) layout()->activate();
        return;
    }
    const int ancho = ventana->width();
    const int alto = std::min(760, heightForWidth(ancho));
    if (alto > 0 && alto != ventana->height()) {
        ventana->setFixedSize(ancho, alto);
        setGeometry(0, 0, ancho, alto);
    }
}

void VistaDudasFlotante::showEvent(QShowEvent* evento) {
    QWidget::showEvent(evento);
    // The answer field takes the keyboard whenever the open question comes on screen.
    if (campo_) QTimer::singleShot(0, campo_, [c = QPointer<QPlainTextEdit>(campo_)] {
            if (c) c->setFocus();
        });
    ajustarVentana();
}

// Dragging the card anywhere outside its controls moves its window.
void VistaDudasFlotante::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton && muestra_ != Muestra::resuelta && window() != this) {
        arrastrando_ = true;
        agarre_ = e->globalPosition().toPoint() - window()->pos();
    }
}
void VistaDudasFlotante::mouseMoveEvent(QMouseEvent* e) {
    if (arrastrando_) window()->move(e->globalPosition().toPoint() - agarre_);
}
void VistaDudasFlotante::mouseReleaseEvent(QMouseEvent*) { arrastrando_ = false; }

QString VistaDudasFlotante::mensajePermiso() const {
    if (textoPermiso_) return *textoPermiso_;
    if (!m_) return {};
    for (const QJsonObject& p : m_->permisos())
        if (ModeloDudas::idDe(p) == idMostrado_) return texto(p, "texto").value_or(QString());
    return {};
}

bool VistaDudasFlotante::permisoEditado() const {
    if (!textoPermiso_ || !m_) return false;
    QString propuesto;
    for (const QJsonObject& p : m_->permisos())
        if (ModeloDudas::idDe(p) == idMostrado_) propuesto = texto(p, "texto").value_or(QString());
    return textoPermiso_->trimmed() != propuesto.trimmed();
}

// ------------------------------------------------------------------ pieces

namespace {

QAbstractButton* crearBotonCerrar(QWidget* padre, double s, Esquema esquema, std::function<void()> accion) {
    const Paleta pal(esquema);
    const int lado = int(std::ceil(22 * s));
    auto* b = new BotonPintado(padre, QSize(lado, lado), [pal, s](QPainter& p, const QRectF& r, bool, bool) {
        p.setPen(Qt::NoPen);
        p.setBrush(con(pal.tinta, 0.08));
        p.drawEllipse(r);
        QPen pluma(con(pal.tinta, 0.7), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
        p.setPen(pluma);
        p.setBrush(Qt::NoBrush);
        const double l = 9 * s;
        p.drawPath(Iconos::forma(Icono::cerrar, QRectF(r.center().x() - l / 2, r.center().y() - l / 2, l, l)));
    });
    b->circular = true;
    b->setToolTip(QStringLiteral("Cerrar (Esc)"));
    QObject::connect(b, &QAbstractButton::clicked, b, [accion] {
        if (accion) accion();
    });
    return b;
}

QWidget* circuloInicial(QWidget* padre, const QString& letra, double s, const Paleta& pal) {
    const int lado = int(std::ceil(26 * s));
    auto* w = new BotonPintado(padre, QSize(lado, lado), [letra, s, pal, padre](QPainter& p, const QRectF& r, bool, bool) {
        p.setPen(Qt::NoPen);
        p.setBrush(con(pal.lima, 0.14));
        p.drawEllipse(r);
        p.setFont(fuente(padre, 12 * s, QFont::Bold, true));
        p.setPen(pal.lima);
        p.drawText(r, Qt::AlignCenter, letra);
    });
    w->setAttribute(Qt::WA_TransparentForMouseEvents);
    w->setCursor(Qt::ArrowCursor);
    return w;
}

// A text button in the plain style: only its text, dimmed while disabled.
QAbstractButton* botonTexto(QWidget* padre, const QString& texto, double puntos, QFont::Weight peso, QColor color) {
    const QFont f = fuente(padre, puntos, peso);
    const QFontMetricsF fm(f);
    const QSize tam(int(std::ceil(fm.horizontalAdvance(texto))) + 2, int(std::ceil(fm.height())) + 2);
    auto* b = new BotonPintado(padre, tam, [texto, f, color](QPainter& p, const QRectF& r, bool habilitado, bool encima) {
        p.setFont(f);
        p.setPen(con(color, habilitado ? (encima ? 1.0 : 0.92) : 0.45));
        p.drawText(r, Qt::AlignCenter, texto);
    });
    return b;
}

// A capsule button with text: filled or outlined.
QAbstractButton* capsula(QWidget* padre, const QString& texto, const QFont& f, double mx, double my,
                         std::optional<QColor> relleno, std::optional<QColor> borde, QColor colorTexto) {
    const QFontMetricsF fm(f);
    const QSize tam(int(std::ceil(fm.horizontalAdvance(texto) + 2 * mx)), int(std::ceil(fm.height() + 2 * my)));
    auto* b = new BotonPintado(padre, tam, [texto, f, relleno, borde, colorTexto](QPainter& p, const QRectF& r, bool habilitado,
                                                                                 bool) {
        p.setOpacity(habilitado ? 1.0 : 0.45);
        const QRectF c = r.adjusted(0.5, 0.5, -0.5, -0.5);
        p.setPen(borde ? QPen(*borde, 1) : Qt::NoPen);
        p.setBrush(relleno ? QBrush(*relleno) : Qt::NoBrush);
        p.drawRoundedRect(c, c.height() / 2, c.height() / 2);
        p.setFont(f);
        p.setPen(colorTexto);
        p.drawText(r, Qt::AlignCenter, texto);
    });
    return b;
}

// The field with its rounded fill, margins mx × my inside.
std::pair<FondoCampo*, Campo*> campoConFondo(QWidget* padre, double radio, QColor relleno, double mx, double my,
                                             int minimo, int maximo, const QFont& f, QColor tinta) {
    auto* fondo = new FondoCampo(padre, radio, relleno);
    auto* capa = new QVBoxLayout(fondo);
    capa->setContentsMargins(int(std::round(mx)), int(std::round(my)), int(std::round(mx)), int(std::round(my)));
    auto* campo = new Campo(fondo, minimo, maximo);
    campo->setFont(f);
    QPalette p = campo->palette();
    p.setColor(QPalette::Text, tinta);
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::PlaceholderText, con(tinta, 0.45));
    campo->setPalette(p);
    campo->ajustar();
    capa->addWidget(campo);
    return {fondo, campo};
}

}  // namespace

QWidget* VistaDudasFlotante::tarjetaDuda(const QJsonObject& r, qint64 id, bool conCerrar, QWidget* padre) {
    const Paleta pal(esquema_);
    const double s = s_;
    auto* w = new QWidget(padre);
    auto* col = new QVBoxLayout(w);
    const int margen = int(std::round(18 * s));
    col->setContentsMargins(margen, margen, margen, margen);
    col->setSpacing(int(std::round(10 * s)));

    // 1. Header.
    auto* cab = new QHBoxLayout;
    cab->setSpacing(int(std::round(10 * s)));
    cab->addWidget(circuloInicial(w, inicial(r), s, pal), 0, Qt::AlignTop);
    auto* nombres = new QVBoxLayout;
    nombres->setSpacing(2);
    auto* lineaNombre = new QHBoxLayout;
    lineaNombre->addWidget(etiqueta(w, nombreAgente(r), 12.5 * s, QFont::DemiBold, pal.tinta));
    lineaNombre->addStretch(1);
    lineaNombre->addWidget(etiqueta(w, hace(texto(r, "created_at")), 11 * s, QFont::Normal, con(pal.tinta, 0.5)));
    nombres->addLayout(lineaNombre);
    if (const auto cliente = texto(r, "cliente"); cliente && !cliente->isEmpty())
        nombres->addWidget(etiqueta(w, QStringLiteral("Sobre ") + *cliente, 11 * s, QFont::Normal, con(pal.tinta, 0.55)));
    cab->addLayout(nombres, 1);
    if (conCerrar) {
        cerrarBoton_ = crearBotonCerrar(w, s, esquema_, cerrar_);
        cab->addWidget(cerrarBoton_, 0, Qt::AlignTop);
    }
    col->addLayout(cab);

    // 2. The question.
    col->addWidget(etiqueta(w, texto(r, "question").value_or(QString()), 16 * s, QFont::DemiBold, pal.tinta, true, true));

    // 3. Context.
    const QString contexto = texto(r, "context").value_or(QString()).trimmed();
    if (!contexto.isEmpty()) {
        auto* caja = new FondoCampo(w, 10, con(pal.tinta, 0.05));
        auto* capa = new QVBoxLayout(caja);
        capa->setContentsMargins(10, 10, 10, 10);
        capa->addWidget(etiqueta(caja, contexto, 13.5 * s, QFont::Normal, con(pal.tinta, 0.65), true, true));
        col->addWidget(caja);
    }

    // 4. Options.
    const QJsonValue opciones = r.value(QStringLiteral("options"));
    if (opciones.isArray() && !opciones.toArray().isEmpty()) {
        QStringList textos;
        bool todas = true;
        for (const QJsonValue& o : opciones.toArray()) {
            if (!o.isString()) todas = false;
            else textos << o.toString();
        }
        if (todas) {
            auto* fila = new QWidget(w);
            auto* flujo = new FlowLayout(6, fila);
            flujo->setContentsMargins(0, 0, 0, 0);
            for (const QString& t : textos) {
                auto* chip = capsula(fila, t, fuente(fila, 13.5 * s, QFont::Medium), 14 * s, 8 * s,
                                     con(pal.lima, 0.18), std::nullopt, pal.tinta);
                connect(chip, &QAbstractButton::clicked, this, [this, id, t] { enviar(id, t); });
                flujo->addWidget(chip);
                chips_ << chip;
            }
            col->addWidget(fila);
        }
    }

    // 5. Answer row.
    auto* filaRespuesta = new QHBoxLayout;
    filaRespuesta->setSpacing(8);
    auto [fondo, campo] = campoConFondo(w, 14, con(pal.tinta, 0.07), 12 * s, 9 * s, 1, 4, fuente(w, 14 * s, QFont::Normal),
                                        pal.tinta);
    campo->setPlaceholderText(QStringLiteral("Tu respuesta para el agente"));
    campo->setPlainText(respuesta_);
    campo->moveCursor(QTextCursor::End);
    campo->alIntro = [this, id] {
        // One answer at a time: Return while one is under way sends nothing.
        if (m_ && m_->enviando()) return;
        enviar(id, campo_ ? campo_->toPlainText() : QString());
    };
    campo->alCrecer = [this] { ajustarVentana(); };
    connect(campo, &QPlainTextEdit::textChanged, this, [this] {
        if (campo_) respuesta_ = campo_->toPlainText();
        actualizarEstados();
    });
    campo_ = campo;
    filaRespuesta->addWidget(fondo, 1, Qt::AlignBottom);
    const int lado = int(std::ceil(34 * s));
    const Esquema esquema = esquema_;
    auto* enviarBoton = new BotonPintado(w, QSize(lado, lado), [pal, s, esquema, this](QPainter& p, const QRectF& rr, bool habilitado, bool) {
        const bool ocupado = m_ && m_->enviando();
        p.setPen(Qt::NoPen);
        p.setBrush(habilitado ? pal.lima : con(pal.tinta, 0.08));
        p.drawEllipse(rr);
        if (ocupado) return;  // the spinner shows
        const QColor trazo = habilitado ? (esquema == Esquema::oscuro ? QColor(Qt::black) : QColor(Qt::white))
                                        : con(pal.tinta, 0.4);
        p.setPen(QPen(trazo, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        const double l = 13 * s;
        p.drawPath(Iconos::forma(Icono::enviar, QRectF(rr.center().x() - l / 2, rr.center().y() - l / 2, l, l)));
    });
    enviarBoton->circular = true;
    enviarBoton->setToolTip(QStringLiteral("Responder (↵)"));
    connect(enviarBoton, &QAbstractButton::clicked, this, [this, id] { enviar(id, campo_ ? campo_->toPlainText() : QString()); });
    enviar_ = enviarBoton;
    auto* girador = new Girador(enviarBoton, lado * 0.5, pal.tinta);
    girador->move((lado - girador->width()) / 2, (lado - girador->height()) / 2);
    girador_ = girador;
    filaRespuesta->addWidget(enviarBoton, 0, Qt::AlignBottom);
    col->addLayout(filaRespuesta);

    // 6. Error line.
    error_ = etiqueta(w, QString(), 11.5 * s, QFont::Normal, pal.rojo, true);
    col->addWidget(error_);

    // 7. Actions.
    auto* acciones = new QHBoxLayout;
    auto* verChat = botonTexto(w, QStringLiteral("Ver en el chat"), 11.5 * s, QFont::Medium, con(pal.tinta, 0.6));
    connect(verChat, &QAbstractButton::clicked, this, [this] {
        if (abrirChat_) abrirChat_();
    });
    acciones->addWidget(verChat);
    acciones->addStretch(1);
    auto* descartarBoton = botonTexto(w, QStringLiteral("Descartar sin responder"), 11.5 * s, QFont::Medium, con(pal.rojo, 0.85));
    connect(descartarBoton, &QAbstractButton::clicked, this, [this, id] { descartarTarea(id); });
    descartar_ = descartarBoton;
    acciones->addWidget(descartarBoton);
    col->addLayout(acciones);
    return w;
}

QWidget* VistaDudasFlotante::tarjetaPermiso(const QJsonObject& r, qint64 id, QWidget* padre) {
    const Paleta pal(esquema_);
    const QColor amb = ambar(esquema_);
    const double s = s_;
    auto* w = new QWidget(padre);
    auto* fila = new QHBoxLayout(w);
    fila->setContentsMargins(0, 0, 0, 0);
    fila->setSpacing(0);
    // Rounded as the glass it lies on, so that it stays inside the card's corners.
    fila->addWidget(new Barra(w, 4 * s, amb, kRadioTarjeta));
    auto* col = new QVBoxLayout;
    const int margen = int(std::round(18 * s));
    col->setContentsMargins(margen, margen, margen, margen);
    col->setSpacing(int(std::round(10 * s)));
    fila->addLayout(col, 1);

    // 1. Header.
    auto* cab = new QHBoxLayout;
    cab->setSpacing(int(std::round(10 * s)));
    {
        const QFont f = fuente(w, 11 * s, QFont::DemiBold);
        const QFontMetricsF fm(f);
        const QString t = QStringLiteral("Pide permiso");
        const double icono = 10 * s, mx = 8 * s, my = 3 * s, sep = 5 * s;
        const QSize tam(int(std::ceil(icono + sep + fm.horizontalAdvance(t) + 2 * mx)), int(std::ceil(std::max(icono, fm.height()) + 2 * my)));
        auto* insignia = new BotonPintado(w, tam, [=](QPainter& p, const QRectF& rr, bool, bool) {
            p.setPen(Qt::NoPen);
            p.setBrush(con(amb, 0.14));
            p.drawRoundedRect(rr, rr.height() / 2, rr.height() / 2);
            p.setPen(QPen(amb, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            p.setBrush(Qt::NoBrush);
            p.drawPath(Iconos::forma(Icono::enviar, QRectF(rr.left() + mx, rr.center().y() - icono / 2, icono, icono)));
            p.setFont(f);
            p.setPen(amb);
            p.drawText(QRectF(rr.left() + mx + icono + sep, rr.top(), rr.width(), rr.height()), Qt::AlignVCenter | Qt::AlignLeft, t);
        });
        insignia->setAttribute(Qt::WA_TransparentForMouseEvents);
        insignia->setCursor(Qt::ArrowCursor);
        cab->addWidget(insignia);
    }
    cab->addWidget(etiqueta(w, nombreAgente(r), 12.5 * s, QFont::DemiBold, pal.tinta));
    cab->addStretch(1);
    cab->addWidget(etiqueta(w, hace(texto(r, "created_at")), 11 * s, QFont::Normal, con(pal.tinta, 0.5)));
    cerrarBoton_ = crearBotonCerrar(w, s, esquema_, cerrar_);
    cab->addWidget(cerrarBoton_);
    col->addLayout(cab);

    // 2. Recipient.
    const QString telefono = texto(r, "telefono").value_or(QString());
    QString destinatario = texto(r, "destinatario").value_or(QString());
    if (destinatario.isEmpty()) destinatario = texto(r, "telefono").value_or(QString());
    if (destinatario.isEmpty()) destinatario = QStringLiteral("alguien");
    auto* quien = new QVBoxLayout;
    quien->setSpacing(2);
    quien->addWidget(etiqueta(w, QStringLiteral("Quiere escribirle a ") + destinatario, 16 * s, QFont::DemiBold, pal.tinta, true));
    if (!telefono.isEmpty()) {
        auto* tel = etiqueta(w, telefono, 11.5 * s, QFont::Normal, con(pal.tinta, 0.5));
        tel->setFont(fuente(w, 11.5 * s, QFont::Normal, false, true));
        quien->addWidget(tel);
    }
    col->addLayout(quien);

    // 3. The three rows.
    auto* rejilla = new QGridLayout;
    rejilla->setHorizontalSpacing(int(std::round(8 * s)));
    rejilla->setVerticalSpacing(int(std::round(5 * s)));
    rejilla->setColumnMinimumWidth(0, int(std::round(92 * s)));
    rejilla->setColumnStretch(1, 1);
    QString limites = texto(r, "limites").value_or(QString());
    if (limites.isEmpty()) limites = QStringLiteral("nada: no ofrecerá descuentos ni plazos");
    const std::array<std::tuple<QString, QString, QColor>, 3> filas = {
        std::tuple{QStringLiteral("Por qué"), texto(r, "motivo").value_or(QString()), pal.tinta},
        std::tuple{QStringLiteral("Conseguir"), texto(r, "proposito").value_or(QString()), pal.tinta},
        std::tuple{QStringLiteral("Hasta dónde"), limites, amb},
    };
    for (int i = 0; i < 3; ++i) {
        const auto& [rotulo, valor, color] = filas[i];
        auto* l = etiqueta(w, rotulo, 11 * s, QFont::Medium, con(color, 0.75));
        l->setFixedWidth(int(std::round(92 * s)));
        rejilla->addWidget(l, i, 0, Qt::AlignTop);
        rejilla->addWidget(etiqueta(w, valor, 13 * s, QFont::Normal, con(pal.tinta, 0.8), true), i, 1, Qt::AlignTop);
    }
    col->addLayout(rejilla);

    // 4. Hint and 5. the message.
    col->addWidget(etiqueta(w, QStringLiteral("Piensa abrir así; puedes cambiarlo"), 11 * s, QFont::Medium, con(pal.tinta, 0.5)));
    auto [fondo, campo] = campoConFondo(w, 12, con(pal.tinta, 0.06), 12 * s, 10 * s, 2, 8, fuente(w, 13.5 * s, QFont::Normal),
                                        pal.tinta);
    campo->setPlainText(mensajePermiso());
    connect(campo, &QPlainTextEdit::textChanged, this, [this] {
        if (!campoPermiso_) return;
        textoPermiso_ = campoPermiso_->toPlainText();
        if (aprobar_) aprobar_->update();
        actualizarEstados();
    });
    campo->alCrecer = [this] { ajustarVentana(); };
    campoPermiso_ = campo;
    marcoMensaje_ = fondo;
    col->addWidget(fondo);

    // 6. Error line.
    error_ = etiqueta(w, QString(), 11.5 * s, QFont::Normal, pal.rojo, true);
    col->addWidget(error_);

    // 7. Buttons.
    auto* botones = new QHBoxLayout;
    botones->setSpacing(int(std::round(8 * s)));
    const QFont fAprobar = fuente(w, 13.5 * s, QFont::DemiBold);
    const QColor textoAprobar = esquema_ == Esquema::oscuro ? QColor(Qt::black) : QColor(Qt::white);
    {
        const QFontMetricsF fm(fAprobar);
        const QSize tam(int(std::ceil(fm.horizontalAdvance(QStringLiteral("Aprobar")) + 36 * s)), int(std::ceil(fm.height() + 16 * s)));
        auto* b = new BotonPintado(w, tam, [this, pal, fAprobar, textoAprobar](QPainter& p, const QRectF& rr, bool habilitado, bool) {
            const QString t = permisoEditado() ? QStringLiteral("Aprobar con mi texto") : QStringLiteral("Aprobar");
            p.setOpacity(habilitado ? 1.0 : 0.45);
            p.setPen(Qt::NoPen);
            p.setBrush(pal.lima);
            p.drawRoundedRect(rr, rr.height() / 2, rr.height() / 2);
            p.setFont(fAprobar);
            p.setPen(textoAprobar);
            p.drawText(rr, Qt::AlignCenter, t);
        });
        connect(b, &QAbstractButton::clicked, this, [this, id] {
            const bool editado = permisoEditado();
            decidirTarea(id, true, editado ? std::optional<QString>(mensajePermiso().trimmed()) : std::nullopt);
        });
        aprobar_ = b;
        botones->addWidget(b);
    }
    auto* rechazarBoton = capsula(w, QStringLiteral("Rechazar"), fuente(w, 13.5 * s, QFont::Medium), 16 * s, 8 * s, std::nullopt,
                                  con(pal.tinta, 0.2), con(pal.tinta, 0.75));
    connect(rechazarBoton, &QAbstractButton::clicked, this, [this, id] { decidirTarea(id, false, std::nullopt); });
    rechazar_ = rechazarBoton;
    botones->addWidget(rechazarBoton);
    auto* girador = new Girador(w, 16 * s, pal.tinta);
    girador_ = girador;
    botones->addWidget(girador);
    botones->addStretch(1);
    col->addLayout(botones);
    return w;
}

QWidget* VistaDudasFlotante::filaColapsada(const QJsonObject& r, qint64 id, QWidget* padre) {
    const Paleta pal(esquema_);
    const double s = s_;
    const QString nombre = nombreAgente(r);
    const QString edad = hace(texto(r, "created_at"));
    const QString pregunta = texto(r, "question").value_or(QString());
    const QString letra = inicial(r);
    const int alto = int(std::ceil(52 * s));
    auto* b = new BotonPintado(padre, QSize(int(std::round(ancho_)), alto), [=](QPainter& p, const QRectF& rr, bool, bool encima) {
        if (encima) {
            p.setPen(Qt::NoPen);
            p.setBrush(con(pal.tinta, 0.04));
            p.drawRect(rr);
        }
        const double m = 18 * s, l = 26 * s;
        const QRectF disco(rr.left() + m, rr.center().y() - l / 2, l, l);
        p.setPen(Qt::NoPen);
        p.setBrush(con(pal.lima, 0.14));
        p.drawEllipse(disco);
        p.setFont(fuente(padre, 12 * s, QFont::Bold, true));
        p.setPen(pal.lima);
        p.drawText(disco, Qt::AlignCenter, letra);
        const double x = disco.right() + 10 * s;
        const QFont fn = fuente(padre, 12.5 * s, QFont::DemiBold);
        const QFont fe = fuente(padre, 11 * s, QFont::Normal);
        const QFont fp = fuente(padre, 13 * s, QFont::Normal);
        const QFontMetricsF mn(fn), me(fe), mp(fp);
        const double ancho = rr.right() - m - x;
        const double y0 = rr.center().y() - (mn.height() + mp.height() + 2) / 2;
        p.setFont(fe);
        p.setPen(con(pal.tinta, 0.5));
        const double ae = me.horizontalAdvance(edad);
        p.drawText(QRectF(rr.right() - m - ae, y0, ae, mn.height()), Qt::AlignRight | Qt::AlignVCenter, edad);
        p.setFont(fn);
        p.setPen(pal.tinta);
        p.drawText(QRectF(x, y0, ancho - ae - 8, mn.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   mn.elidedText(nombre, Qt::ElideRight, ancho - ae - 8));
        p.setFont(fp);
        p.setPen(con(pal.tinta, 0.7));
        p.drawText(QRectF(x, y0 + mn.height() + 2, ancho, mp.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   mp.elidedText(pregunta.simplified(), Qt::ElideRight, ancho));
        p.setPen(QPen(con(pal.tinta, 0.08), 1));
        p.drawLine(QPointF(rr.left() + m, rr.bottom() - 0.5), QPointF(rr.right() - m, rr.bottom() - 0.5));
    });
    connect(b, &QAbstractButton::clicked, this, [this, id] {
        if (!m_) return;
        // Opening another question drops what was typed for the previous one.
        respuesta_.clear();
        if (campo_) campo_->clear();
        m_->setError(std::nullopt);
        m_->setAbierta(id);
    });
    colapsadas_ << b;
    return b;
}

QWidget* VistaDudasFlotante::resuelta(QWidget* padre) {
    const Paleta pal(esquema_);
    auto* sup = new Superficie(padre, esquema_, 22, false);
    auto* capa = new QVBoxLayout(sup);
    capa->setContentsMargins(20, 20, 20, 20);
    capa->addWidget(etiqueta(sup, QStringLiteral("Esa duda ya está resuelta."), 13, QFont::Medium, con(pal.tinta, 0.7), true));
    return sup;
}

// ------------------------------------------------------------------ tasks

void VistaDudasFlotante::enviar(qint64 id, QString texto) { enviarTarea(id, std::move(texto)); }

QCoro::Task<void> VistaDudasFlotante::enviarTarea(qint64 id, QString texto) {
    QPointer<VistaDudasFlotante> yo(this);
    QPointer<ModeloDudas> m(m_);
    if (!m) co_return;
    const bool ok = co_await m->contestar(id, std::move(texto));
    if (!yo || !ok) co_return;
    respuesta_.clear();
    if (campo_) campo_->clear();
    if (sola_ && cerrar_) cerrar_();
}

QCoro::Task<void> VistaDudasFlotante::descartarTarea(qint64 id) {
    QPointer<VistaDudasFlotante> yo(this);
    QPointer<ModeloDudas> m(m_);
    if (!m) co_return;
    co_await m->descartar(id);
    if (!yo || !m) co_return;
    if (sola_ && !m->error() && cerrar_) cerrar_();
}

QCoro::Task<void> VistaDudasFlotante::decidirTarea(qint64 id, bool aprobar, std::optional<QString> texto) {
    QPointer<VistaDudasFlotante> yo(this);
    QPointer<ModeloDudas> m(m_);
    if (!m) co_return;
    const bool ok = co_await m->decidirPermiso(id, aprobar, std::move(texto));
    if (!yo || !ok) co_return;
    textoPermiso_.reset();
    if (cerrar_) cerrar_();
}
