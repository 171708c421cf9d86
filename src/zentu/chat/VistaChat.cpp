#include "zentu/chat/VistaChat.h"

#include "compartido/Iconos.h"
#include "zentu/chat/Adjuntos.h"
#include "zentu/chat/Burbujas.h"
#include "zentu/chat/TipoArchivo.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QEasingCurve>
#include <QFile>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTextBlock>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWindow>
#include <QTimer>
#include <cmath>
#include <utility>

const QString VistaChat::kErrorEnvio = QStringLiteral("No se pudo enviar. Revisa la conexión.");
const QString VistaChat::kErrorAgente = QStringLiteral("No se pudo cambiar de agente. Revisa la conexión.");

namespace {

QColor conAlfa(QColor c, qreal a) {
    c.setAlphaF(a);
    return c;
}

QFont fuente(qreal puntos, QFont::Weight peso = QFont::Normal) { return TipoArchivo::fuente(puntos, peso); }

QString plegar(const QString& s) {
    // Case and accents ignored: decompose, drop the combining marks, fold the case.
    const QString d = s.normalized(QString::NormalizationForm_D);
    QString r;
    r.reserve(d.size());
    for (const QChar c : d)
        if (c.category() != QChar::Mark_NonSpacing && c.category() != QChar::Mark_Enclosing &&
            c.category() != QChar::Mark_SpacingCombining)
            r += c;
    return r.toCaseFolded();
}

QString primeraMayuscula(const QString& s) {
    if (s.isEmpty()) return s;
    // The first character may be a surrogate pair.
    const int largo = s.at(0).isHighSurrogate() && s.size() > 1 ? 2 : 1;
    return s.left(largo).toUpper() + s.mid(largo);
}

QString etiquetaDe(const QString& nombre) {
    QString t = nombre;
    t.replace(u'_', u' ').replace(u'-', u' ');
    return primeraMayuscula(t);
}

// Takes a widget out of the tree at once (a button may be running its own click) and frees it
// once its event is over.
void retirar(QWidget* w) {
    if (!w) return;
    w->hide();
    w->setParent(nullptr);
    w->deleteLater();
}

// A plain button drawn by a function: circles with icons, text links, picker rows.
class Boton : public QPushButton {
public:
    using Pintura = std::function<void(QPainter&, const QRectF&, const Boton&)>;
    Boton(QSize tam, Pintura pintura, QWidget* padre) : QPushButton(padre), tam_(tam), pintura_(std::move(pintura)) {
        setFlat(true);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(tam);
    }
    bool encima = false;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        pintura_(p, QRectF(rect()), *this);
    }
    void enterEvent(QEnterEvent*) override { encima = true; update(); }
    void leaveEvent(QEvent*) override { encima = false; update(); }

private:
    QSize tam_;
    Pintura pintura_;
};

// A small spinning ring, turned by the clock while it is on screen.
class Ruedita : public QWidget {
public:
    Ruedita(Paleta p, Reloj& reloj, qreal lado, QWidget* padre) : QWidget(padre), p_(p), reloj_(reloj) {
        setFixedSize(QSize(int(lado), int(lado)));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter q(this);
        q.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(2, 2, -2, -2);
        q.setPen(QPen(conAlfa(p_.tinta, 0.15), 2));
        q.drawEllipse(r);
        q.setPen(QPen(conAlfa(p_.tinta, 0.6), 2, Qt::SolidLine, Qt::RoundCap));
        q.drawArc(r, int(-angulo_ * 16), 100 * 16);
    }
    void showEvent(QShowEvent*) override { paso(); }
    void hideEvent(QHideEvent*) override { t_.cancelar(); }

private:
    void paso() {
        angulo_ = std::fmod(reloj_.segundos() * 360.0, 360.0);
        update();
        t_ = reloj_.programar(1.0 / 30, this, [this] { paso(); });
    }
    Paleta p_;
    Reloj& reloj_;
    double angulo_ = 0;
    Temporizador t_;
};

// The card's rounded outline: glass hairline, and the accent border while files hover.
class Borde : public QWidget {
public:
    Borde(Esquema e, const bool& soltando, QWidget* padre) : QWidget(padre), e_(e), soltando_(soltando) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent* evento) override {
        QPainter q(this);
        const QRectF r(rect());
        // The outline lies over the whole card, so every repaint of the list below repaints it too:
        // away from the rounded corners it is four straight hairlines, drawn as such.
        const int esquina = int(std::ceil(GeometriaChat::radio)) + 1;
        const QRect cruz1 = rect().adjusted(esquina, 0, -esquina, 0), cruz2 = rect().adjusted(0, esquina, 0, -esquina);
        const QRect zona = evento->rect();
        if (!soltando_ && (cruz1.contains(zona) || cruz2.contains(zona))) {
            const QColor c = Vidrio::colorBorde(e_);
            for (const QRect& linea : {QRect(0, 0, width(), 1), QRect(0, height() - 1, width(), 1),
                                       QRect(0, 0, 1, height()), QRect(width() - 1, 0, 1, height())}) {
                const QRect parte = linea.intersected(zona);
                // In stretches of 64 rows: a taller translucent fill is split among threads, which
                // costs far more than drawing a hairline.
                for (int y = parte.top(); y <= parte.bottom(); y += 64)
                    q.fillRect(QRect(parte.left(), y, parte.width(), std::min(64, parte.bottom() - y + 1)), c);
            }
            return;
        }
        q.setRenderHint(QPainter::Antialiasing);
        Vidrio(FormaVidrio::redondeada(GeometriaChat::radio), e_).pintarBorde(q, r);
        if (soltando_) {
            q.setPen(QPen(conAlfa(Paleta(e_).lima, 0.9), 2));
            q.setBrush(Qt::NoBrush);
            q.drawPath(FormaVidrio::redondeada(GeometriaChat::radio).caminoInterior(r, 1));
        }
    }

private:
    Esquema e_;
    const bool& soltando_;
};

// A box with a faint fill and optional hairline, rounded.
class Caja : public QWidget {
public:
    Caja(qreal radio, QColor relleno, QColor trazo, QWidget* padre)
        : QWidget(padre), radio_(radio), relleno_(relleno), trazo_(trazo) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter q(this);
        q.setRenderHint(QPainter::Antialiasing);
        QPainterPath c;
        c.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radio_, radio_);
        q.fillPath(c, relleno_);
        if (trazo_.alpha() > 0) {
            q.setPen(QPen(trazo_, 1));
            q.drawPath(c);
        }
    }

private:
    qreal radio_;
    QColor relleno_, trazo_;
};

// The conversation's content: as tall as its bubbles are at the width it has (they wrap), so
// the list scrolls exactly to the last one.
class ContenidoLista : public QWidget {
public:
    using QWidget::QWidget;
    QSize minimumSizeHint() const override {
        const int h = layout() ? layout()->heightForWidth(std::max(1, width())) : 0;
        return QSize(0, std::max(0, h));
    }
    QSize sizeHint() const override { return minimumSizeHint(); }
    bool hasHeightForWidth() const override { return false; }

protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        if (e->oldSize().width() != e->size().width()) updateGeometry();
    }
};

// The header drags the panel from its empty parts.
class Cabecera : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void mousePressEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && window()->windowHandle()) window()->windowHandle()->startSystemMove();
    }
};

// A label whose text is shortened in the middle to its width.
class NombreCorto : public QLabel {
public:
    NombreCorto(QString texto, QWidget* padre, Qt::TextElideMode modo = Qt::ElideMiddle)
        : QLabel(padre), completo_(std::move(texto)), modo_(modo) {
        setMinimumWidth(10);
        setToolTip(completo_);
    }
    QSize sizeHint() const override {
        return QSize(int(std::ceil(QFontMetricsF(font()).horizontalAdvance(completo_))) + 1, QLabel::sizeHint().height());
    }
    QSize minimumSizeHint() const override { return QSize(10, QLabel::sizeHint().height()); }

protected:
    void resizeEvent(QResizeEvent* e) override {
        setText(QFontMetricsF(font()).elidedText(completo_, modo_, width()));
        QLabel::resizeEvent(e);
    }

private:
    QString completo_;
    Qt::TextElideMode modo_;
};

QLabel* etiqueta(const QString& texto, const QFont& f, const QColor& color, QWidget* padre) {
    auto* l = new QLabel(texto, padre);
    l->setFont(f);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    return l;
}

}  // namespace

// ---------------------------------------------------------------- pure parts

QString VistaChat::nombreVisible(const std::optional<QString>& agente) {
    if (!agente) return QStringLiteral("Zentu");
    return etiquetaDe(*agente);
}

QString VistaChat::categoria(const QString& clave) {
    static const QHash<QString, QString> tabla{
        {"atencion", "atención"}, {"ventas", "ventas"},       {"soporte", "soporte"},     {"finanzas", "finanzas"},
        {"cobros", "cobros"},     {"operacion", "operación"}, {"creativo", "creativo"},   {"asistente", "asistente"},
    };
    return tabla.value(clave);
}

QList<VistaChat::Opcion> VistaChat::sugerencias(const QString& borrador, const Instantanea& instantanea) {
    if (!borrador.startsWith(u'/') || borrador.contains(u' ') || borrador.contains(u'\n')) return {};
    const QString q = plegar(borrador.mid(1)).replace(u'_', u' ');
    QList<Opcion> candidatos{{QStringLiteral("zentu"), std::nullopt, QStringLiteral("Zentu"), QStringLiteral("tu asistente")}};
    if (instantanea.agentes)
        for (const auto& a : *instantanea.agentes)
            if (a.activo) candidatos.append({QString::number(a.id), a.nombre, etiquetaDe(a.nombre), categoria(a.categoria)});
    QList<Opcion> r;
    for (const Opcion& o : candidatos) {
        if (r.size() >= kMaximoSugerencias) break;
        if (q.isEmpty() || plegar(o.etiqueta).replace(u'_', u' ').contains(q) ||
            plegar(o.nombre.value_or(QString())).replace(u'_', u' ').contains(q))
            r.append(o);
    }
    return r;
}

QList<VistaChat::Opcion> VistaChat::sugerencias() const {
    if (!chat_ || !chat_->borrador().startsWith(u'/')) return {};
    return sugerencias(chat_->borrador(), Instantanea::leer());
}

QPointF VistaChat::colocarSobre(QSizeF d, const QRectF& f, const QRectF& v) {
    const qreal x = std::min(v.right() - d.width(), std::max(v.left(), f.center().x() - d.width() / 2));
    const qreal y = std::min(v.bottom() - d.height(), std::max(v.top(), f.center().y() - d.height() / 2));
    return {x, y};
}

// ---------------------------------------------------------------- building

VistaChat::VistaChat(ChatZentu& chat, std::function<void()> cerrar, Esquinas::Accion redimensionar, Esquema esquema,
                     Reloj& reloj, QWidget* padre)
    : QWidget(padre), chat_(&chat), cerrar_(std::move(cerrar)), redimensionar_(std::move(redimensionar)),
      esquema_(esquema), p_(esquema), reloj_(reloj) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    abrirArchivo = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    elegirEnEscritorio = [this](const SelectorArchivos::Pedido& p) { return SelectorArchivos::elegir(p, this); };
    correrDialogo = [](QFileDialog& d) -> std::optional<QList<QUrl>> {
        if (d.exec() != QDialog::Accepted) return std::nullopt;
        return d.selectedUrls();
    };
    construir();
    tanda_ = new QTimer(this);
    tanda_->setSingleShot(true);
    tanda_->setTimerType(Qt::PreciseTimer);
    connect(tanda_, &QTimer::timeout, this, &VistaChat::ponerAlDia);
    recorte_ = new QTimer(this);
    recorte_->setSingleShot(true);
    recorte_->setInterval(0);
    connect(recorte_, &QTimer::timeout, this, &VistaChat::recortar);

    connect(&chat, &ChatZentu::mensajesCambio, this, &VistaChat::alCambiarMensajes);
    connect(&chat, &ChatZentu::cargadoCambio, this, &VistaChat::alCambiarMensajes);
    connect(&chat, &ChatZentu::escribiendoCambio, this, &VistaChat::alCambiarEscribiendo);
    connect(&chat, &ChatZentu::borradorCambio, this, &VistaChat::alCambiarBorrador);
    connect(&chat, &ChatZentu::conAgenteCambio, this, &VistaChat::alCambiarAgente);
    connect(&chat, &ChatZentu::pendientesCambio, this, &VistaChat::alCambiarPendientes);
    connect(&chat, &ChatZentu::grabandoNotaCambio, this, [this] {
        alCambiarNota();
        bajar(true);
    });
    connect(&chat, &ChatZentu::transcribiendoCambio, this, [this] {
        alCambiarNota();
        bajar(true);
    });
    connect(&chat, &ChatZentu::vecesAbiertoCambio, this, [this] { bajar(false); });

    alCambiarMensajes();
    if (!chat.mensajes().isEmpty()) ultimoId_ = chat.mensajes().last().id;
    alCambiarEscribiendo();
    alCambiarAgente();
    alCambiarPendientes();
    alCambiarNota();
    alCambiarBorrador();
}

VistaChat::~VistaChat() = default;

QSize VistaChat::sizeHint() const {
    return QSize(int(GeometriaChat::anchoContenido + 2 * kMargen), int(GeometriaChat::altoContenido + 2 * kMargen));
}

void VistaChat::construir() {
    auto* exterior = new QVBoxLayout(this);
    exterior->setContentsMargins(int(kMargen), int(kMargen), int(kMargen), int(kMargen));
    tarjeta_ = new QWidget(this);
    exterior->addWidget(tarjeta_);

    auto* capa = new QVBoxLayout(tarjeta_);
    capa->setContentsMargins(0, 0, 0, 0);
    capa->setSpacing(0);
    capa->addWidget(cabecera());

    // The conversation.
    lista_ = new QScrollArea(tarjeta_);
    lista_->setFrameShape(QFrame::NoFrame);
    lista_->setWidgetResizable(true);
    lista_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lista_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    lista_->viewport()->setAutoFillBackground(false);
    contenidoLista_ = new ContenidoLista;
    contenidoLista_->setAutoFillBackground(false);
    capaLista_ = new QVBoxLayout(contenidoLista_);
    capaLista_->setContentsMargins(12, 6, 12, 6);
    capaLista_->setSpacing(8);
    // The content's height is worked out for the list's width (bubbles wrap); the layout must not
    // also impose the sum of the bubbles' unwrapped heights as a minimum.
    capaLista_->setSizeConstraint(QLayout::SetNoConstraint);
    {
        auto* fila = new QWidget(contenidoLista_);
        auto* c = new QHBoxLayout(fila);
        c->setContentsMargins(0, 40, 0, 0);
        c->addStretch();
        c->addWidget(new Ruedita(p_, reloj_, 18, fila));
        c->addStretch();
        cargando_ = fila;
    }
    capaLista_->addWidget(cargando_);
    filaEscribiendo_ = new QWidget(contenidoLista_);
    {
        auto* c = new QHBoxLayout(filaEscribiendo_);
        c->setContentsMargins(0, 0, 0, 0);
        escribiendo_ = new Escribiendo(esquema_, reloj_, filaEscribiendo_);
        c->addWidget(escribiendo_);
        c->addStretch();
    }
    capaLista_->addWidget(filaEscribiendo_);
    auto* fondo = new QWidget(contenidoLista_);
    fondo->setFixedHeight(1);
    capaLista_->addWidget(fondo);
    capaLista_->addStretch(1);
    lista_->setWidget(contenidoLista_);
    contenidoLista_->setAutoFillBackground(false);  // the scroll area turns it on
    // A thin bar over the glass, only the handle.
    lista_->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical{background:transparent;width:8px;margin:2px 2px 2px 0;}"
                       "QScrollBar::handle:vertical{background:%1;border-radius:3px;min-height:24px;}"
                       "QScrollBar::add-line:vertical,QScrollBar::sub-line:vertical{height:0;}"
                       "QScrollBar::add-page:vertical,QScrollBar::sub-page:vertical{background:transparent;}")
            .arg(conAlfa(p_.tinta, 0.25).name(QColor::HexArgb)));
    QPalette pl = lista_->palette();
    pl.setColor(QPalette::Window, Qt::transparent);
    lista_->setPalette(pl);
    contenidoLista_->setPalette(pl);
    capa->addWidget(lista_, 1);
    connect(lista_->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int v) {
        const int vista = lista_->viewport()->height();
        if (v < vista) masAntiguas();
        else if (v > lista_->verticalScrollBar()->maximum() - vista) masNuevas();
    });

    // The error line.
    lineaError_ = etiqueta(QString(), fuente(12), p_.rojo, tarjeta_);
    lineaError_->setWordWrap(true);
    lineaError_->setContentsMargins(16, 4, 16, 0);
    lineaError_->hide();  // it exists only while there is an error to tell
    capa->addWidget(lineaError_);

    // Staged files, the picker and the voice-note line are rebuilt as their sources change.
    fichas_ = new QWidget(tarjeta_);
    new QVBoxLayout(fichas_);
    fichas_->layout()->setContentsMargins(12, 8, 12, 0);
    capa->addWidget(fichas_);
    selector_ = new QWidget(tarjeta_);
    new QVBoxLayout(selector_);
    selector_->layout()->setContentsMargins(12, 0, 12, 0);
    capa->addWidget(selector_);
    nota_ = new QWidget(tarjeta_);
    new QHBoxLayout(nota_);
    nota_->layout()->setContentsMargins(16, 6, 16, 0);
    static_cast<QHBoxLayout*>(nota_->layout())->setSpacing(8);
    capa->addWidget(nota_);

    capa->addWidget(redactor());

    borde_ = new Borde(esquema_, soltandoEncima_, tarjeta_);
    borde_->raise();
    tarjeta_->installEventFilter(this);
    new Esquinas(tarjeta_, redimensionar_);
}

QWidget* VistaChat::cabecera() {
    auto* fila = new Cabecera(tarjeta_);
    auto* c = new QHBoxLayout(fila);
    c->setContentsMargins(16, 12, 16, 8);
    c->setSpacing(8);
    titulo_ = etiqueta(QString(), fuente(14, QFont::DemiBold), p_.tinta, fila);
    c->addWidget(titulo_);

    const QFont f11 = fuente(11);
    const QString textoVolver = QStringLiteral("volver a Zentu");
    const QSize tamVolver(int(std::ceil(QFontMetricsF(f11).horizontalAdvance(textoVolver))) + 4,
                          int(std::ceil(QFontMetricsF(f11).height())) + 2);
    botonVolver_ = new Boton(tamVolver,
                             [this, f11, textoVolver](QPainter& q, const QRectF& r, const Boton&) {
                                 q.setFont(f11);
                                 q.setPen(p_.lima);
                                 q.drawText(r, Qt::AlignCenter, textoVolver);
                             },
                             fila);
    botonVolver_->setToolTip(QStringLiteral("Seguir hablando con Zentu"));
    connect(botonVolver_, &QPushButton::clicked, this, [this] { [[maybe_unused]] auto t = volverTarea(); });
    c->addWidget(botonVolver_);
    c->addStretch(1);

    botonCerrar_ = new Boton(QSize(26, 26),
                             [this](QPainter& q, const QRectF& r, const Boton&) {
                                 q.setPen(Qt::NoPen);
                                 q.setBrush(conAlfa(p_.tinta, 0.08));
                                 q.drawEllipse(r);
                                 const QRectF icono(r.center() - QPointF(5.5, 5.5), QSizeF(11, 11));
                                 QPen pen(conAlfa(p_.tinta, 0.7), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::MiterJoin);
                                 q.setPen(pen);
                                 q.setBrush(Qt::NoBrush);
                                 q.drawPath(Iconos::forma(Icono::cerrar, icono));
                             },
                             fila);
    botonCerrar_->setToolTip(QStringLiteral("Cerrar el chat (Esc)"));
    connect(botonCerrar_, &QPushButton::clicked, this, [this] {
        if (cerrar_) cerrar_();
    });
    c->addWidget(botonCerrar_);
    return fila;
}

// The composer's text field: plain, growing from one line to six.
namespace {
class Campo : public QPlainTextEdit {
public:
    Campo(Paleta p, QWidget* padre) : QPlainTextEdit(padre), p_(p) {
        setFrameShape(QFrame::NoFrame);
        setFont(fuente(13));
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setTabChangesFocus(true);
        document()->setDocumentMargin(0);
        viewport()->setAutoFillBackground(false);
        setAutoFillBackground(false);
        setBackgroundVisible(false);
        QPalette pal = palette();
        pal.setColor(QPalette::Base, Qt::transparent);
        pal.setColor(QPalette::Text, p.tinta);
        pal.setColor(QPalette::PlaceholderText, conAlfa(p.tinta, 0.45));
        setPalette(pal);
    }

    // Told when the width changes: the lines the text (or the placeholder) takes change with it.
    std::function<void()> alCambiarAncho;

    // How many lines the placeholder takes at the field's width, wrapped at words as it is drawn.
    int lineasMarcador() const {
        const double ancho = viewport()->width() - 2 * document()->documentMargin();
        if (placeholderText().isEmpty() || ancho < 40) return 1;
        const QFontMetricsF fm(font());
        const QRectF r = fm.boundingRect(QRectF(0, 0, ancho, 1e6), Qt::TextWordWrap, placeholderText());
        return std::max(1, int(std::ceil(r.height() / fm.lineSpacing() - 0.01)));
    }

protected:
    void resizeEvent(QResizeEvent* e) override {
        QPlainTextEdit::resizeEvent(e);
        // Told on the next turn, once: adjusting the height from inside a resize would feed the
        // layout back into itself.
        if (e->oldSize().width() == e->size().width() || !alCambiarAncho || avisoPendiente_) return;
        avisoPendiente_ = true;
        QTimer::singleShot(0, this, [this] {
            avisoPendiente_ = false;
            if (alCambiarAncho && document()->isEmpty()) alCambiarAncho();
        });
    }

private:
    Paleta p_;
    bool avisoPendiente_ = false;
};
}  // namespace

QWidget* VistaChat::redactor() {
    auto* fila = new QWidget(tarjeta_);
    auto* c = new QHBoxLayout(fila);
    c->setContentsMargins(12, 12, 12, 12);
    c->setSpacing(8);
    c->setAlignment(Qt::AlignBottom);

    botonAdjuntar_ = new Boton(QSize(34, 34),
                               [this](QPainter& q, const QRectF& r, const Boton&) {
                                   q.setPen(Qt::NoPen);
                                   q.setBrush(conAlfa(p_.tinta, 0.07));
                                   q.drawEllipse(r);
                                   const QRectF icono(r.center() - QPointF(7.5, 7.5), QSizeF(15, 15));
                                   q.setPen(QPen(conAlfa(p_.tinta, 0.75), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                                   q.setBrush(Qt::NoBrush);
                                   q.drawPath(Iconos::forma(Icono::clip, icono));
                               },
                               fila);
    botonAdjuntar_->setToolTip(QStringLiteral("Adjuntar un archivo (también puedes arrastrarlo aquí)"));
    connect(botonAdjuntar_, &QPushButton::clicked, this, &VistaChat::elegirArchivo);
    c->addWidget(botonAdjuntar_, 0, Qt::AlignBottom);

    auto* fondo = new Caja(16, conAlfa(p_.tinta, 0.07), Qt::transparent, fila);
    auto* cf = new QHBoxLayout(fondo);
    cf->setContentsMargins(12, 9, 12, 9);
    campo_ = new Campo(p_, fondo);
    static_cast<Campo*>(campo_)->alCambiarAncho = [this] { ajustarAltoCampo(); };
    campo_->installEventFilter(this);
    cf->addWidget(campo_);
    c->addWidget(fondo, 1, Qt::AlignBottom);
    ajustarAltoCampo();
    connect(campo_, &QPlainTextEdit::textChanged, this, [this] {
        if (chat_ && chat_->borrador() != campo_->toPlainText()) chat_->setBorrador(campo_->toPlainText());
        ajustarAltoCampo();
    });

    botonEnviar_ = new Boton(QSize(34, 34),
                             [this](QPainter& q, const QRectF& r, const Boton&) {
                                 const bool ok = listo();
                                 q.setPen(Qt::NoPen);
                                 q.setBrush(ok ? p_.lima : conAlfa(p_.tinta, 0.08));
                                 q.drawEllipse(r);
                                 if (enviando_) return;  // the spinner child shows instead
                                 const QColor color = ok ? (esquema_ == Esquema::oscuro ? QColor(Qt::black) : QColor(Qt::white))
                                                         : conAlfa(p_.tinta, 0.4);
                                 const QRectF icono(r.center() - QPointF(7, 7), QSizeF(14, 14));
                                 q.setPen(QPen(color, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                                 q.setBrush(Qt::NoBrush);
                                 q.drawPath(Iconos::forma(Icono::enviar, icono));
                             },
                             fila);
    botonEnviar_->setToolTip(QStringLiteral("Enviar (↵)"));
    auto* ruedita = new Ruedita(p_, reloj_, 16, botonEnviar_);
    ruedita->move(9, 9);
    ruedita->setAttribute(Qt::WA_TransparentForMouseEvents);
    ruedita->hide();
    ruedita->setObjectName(QStringLiteral("enviando"));
    connect(botonEnviar_, &QPushButton::clicked, this, &VistaChat::enviar);
    c->addWidget(botonEnviar_, 0, Qt::AlignBottom);
    return fila;
}

void VistaChat::ajustarAltoCampo() {
    // From one line to six; beyond that the field scrolls.
    const QFontMetricsF fm(campo_->font());
    int lineas = 0;
    for (QTextBlock b = campo_->document()->begin(); b.isValid(); b = b.next())
        lineas += std::max(1, b.layout() ? b.layout()->lineCount() : 1);
    // Empty, it shows the whole placeholder: the owner reads which agent they write to and how to
    // pick another.
    if (campo_->document()->isEmpty()) lineas = std::max(lineas, static_cast<Campo*>(campo_)->lineasMarcador());
    lineas = std::clamp(lineas, 1, 6);
    const int alto = int(std::ceil(fm.lineSpacing() * lineas)) + 2;
    if (campo_->height() != alto) campo_->setFixedHeight(alto);
    campo_->setVerticalScrollBarPolicy(lineas >= 6 ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

// ---------------------------------------------------------------- following the model

void VistaChat::alCambiarMensajes() {
    if (!chat_) return;
    const bool anadidos = chat_->generacion() == generacion_ && chat_->mensajes().size() > agrupados_ &&
                          cargando_->isHidden() == chat_->cargado();
    if (anadidos) {
        if (tanda_->isActive()) return prepararNuevas();
        // While the list glides to its end, the glide's next step takes them (see alFondo).
        const bool deslizando = animacion_ && animacion_->state() == QAbstractAnimation::Running;
        const qint64 pasado = deslizando ? 0 : desdeTanda_.isValid() ? desdeTanda_.elapsed() : kRafagaMs;
        if (pasado < kRafagaMs) {
            rafaga_ = true;
            tanda_->start(int(kRafagaMs - pasado));
            prepararNuevas();
            return;
        }
    }
    ponerAlDia();
}

namespace {
// How far above the list's content a bubble built ahead waits for its batch.
constexpr int kFuera = 100000;
}

void VistaChat::prepararNuevas() {
    // Only while the built stretch reaches the end (else the batch builds nothing) and the list
    // is the one grouped; a message that joins the one before it (an album) is built with it, by
    // the batch.
    const QList<ChatZentu::Mensaje>& lista = chat_->mensajes();
    const bool hastaElFinal = inicio_ + int(filas_.size()) >= int(grupos_.size());
    if (!hastaElFinal || chat_->generacion() != generacion_) {
        preparados_ = lista.size();
        return;
    }
    for (qsizetype i = std::max(preparados_, agrupados_); i < lista.size(); ++i) {
        const ChatZentu::Mensaje& m = lista[i];
        if (i > 0 && Burbuja::seUne(lista[i - 1], m)) continue;
        if (hechas_.contains(m.id)) continue;
        const QList<ChatZentu::Mensaje> g{m};
        Burbuja* b = nuevaBurbuja(g);
        // Shown now, far above the list's content where nothing shows it, so that the batch only
        // has to place it: showing a widget asks the display where the pointer is, a question
        // better asked once per message than five times in one turn. Showing a child also lays
        // its parent out: the list's layout rests until the batch, which lays it out once.
        b->move(0, -kFuera);
        b->setUpdatesEnabled(false);  // nothing of it shows there: no repaint until it is placed
        capaLista_->setEnabled(false);
        b->show();
        hechas_.insert(m.id, Fila{b, g});
    }
    preparados_ = lista.size();
}

Burbuja* VistaChat::nuevaBurbuja(const QList<ChatZentu::Mensaje>& g) {
    auto* b = new Burbuja(g.first(), g, [](const ChatZentu::Adjunto& a) { Adjuntos::abrir(a); }, esquema_,
                          contenidoLista_);
    // Sized for the list before it is shown: its text is then laid out once, at that width.
    const QMargins margenes = capaLista_->contentsMargins();
    const int anchoLista = contenidoLista_->width() - margenes.left() - margenes.right();
    if (anchoLista > 0) b->resize(anchoLista, b->heightForWidth(anchoLista));
    ++burbujasCreadas_;
    return b;
}

void VistaChat::ponerAlDia() {
    if (!chat_) return;
    tanda_->stop();
    desdeTanda_.start();
    const bool rafaga = std::exchange(rafaga_, false);
    cargando_->setVisible(!chat_->cargado());
    const QList<ChatZentu::Mensaje>& lista = chat_->mensajes();
    const int totalAntes = int(grupos_.size());
    const bool hastaElFinal = inicio_ + int(filas_.size()) >= totalAntes;

    if (chat_->generacion() != generacion_ || lista.size() < agrupados_) {
        // A new list: group it afresh, keep the stretch the owner was looking at if it is still
        // there (bubbles whose group did not change are kept), else show the newest.
        const QString primera = filas_.empty() ? QString() : filas_.front().grupo.first().id;
        const int construidas = int(filas_.size());
        agrupar(true);
        const int total = int(grupos_.size());
        int desde = -1;
        if (!hastaElFinal && !primera.isEmpty())
            for (int j = 0; j < total; ++j)
                if (lista[grupos_[size_t(j)].desde].id == primera) {
                    desde = j;
                    break;
                }
        if (desde >= 0) {
            ventana(desde, std::min(total, desde + std::max(kTanda, construidas)));
        } else {
            const int n = std::clamp(construidas, kTanda, kMaximo);
            ventana(std::max(0, total - n), total);
        }
    } else if (lista.size() > agrupados_) {
        // Appended: only the new messages are grouped. While the built stretch reaches the end it
        // takes the new bubbles; past the most it may hold it lets go of its oldest ones, a batch
        // at a time (every bubble below moves up when one goes), in a turn of its own: building
        // the new ones and releasing the old in one go would hold the program up twice as long.
        agrupar(false);
        if (hastaElFinal) {
            const int total = int(grupos_.size());
            ventana(inicio_, total);
            if (total - inicio_ > kMaximo) recorte_->start();
        }
    }

    // What was built ahead and not taken is for groups that changed or are not shown.
    for (Fila& f : hechas_) soltar(f.vista);
    hechas_.clear();
    preparados_ = lista.size();

    const QString ultimo = lista.isEmpty() ? QString() : lista.last().id;
    if (ultimo != ultimoId_) {
        ultimoId_ = ultimo;
        // One message glides into view; a burst jumps to its end, batch after batch, laid out and
        // at the end in the batch's own turn, so that one paint shows it.
        if (rafaga) {
            asentarLista();
            alFondo(false);
        }
        bajar(!rafaga);
    }
}

void VistaChat::agrupar(bool desdeCero) {
    const QList<ChatZentu::Mensaje>& lista = chat_->mensajes();
    if (desdeCero) {
        grupos_.clear();
        agrupados_ = 0;
        generacion_ = chat_->generacion();
    }
    for (qsizetype i = agrupados_; i < lista.size(); ++i) {
        if (!grupos_.empty()) {
            Grupo& u = grupos_.back();
            if (Burbuja::seUne(lista[u.desde + u.cuantos - 1], lista[i])) {
                ++u.cuantos;
                continue;
            }
        }
        grupos_.push_back({i, 1});
    }
    agrupados_ = lista.size();
}

QList<ChatZentu::Mensaje> VistaChat::grupo(int indice) const {
    const Grupo& g = grupos_[size_t(indice)];
    return chat_->mensajes().mid(g.desde, g.cuantos);
}

// A bubble let go leaves the layout and the screen at once and goes with the next round of
// deferred deletions: taking it out of the widget tree first would resolve the fonts and palettes
// of everything in it again, for nothing.
void VistaChat::soltar(QWidget* w) {
    if (!w) return;
    w->hide();
    capaLista_->removeWidget(w);
    w->deleteLater();
}

void VistaChat::ventana(int desde, int hasta) {
    // The views of the new stretch: kept where their group is the same, built where it is new or
    // changed (an album that grew is built again).
    QHash<QString, Fila> viejas;
    for (Fila& f : filas_)
        if (f.vista) {
            const QString clave = f.grupo.first().id;
            if (viejas.contains(clave)) soltar(f.vista);
            else viejas.insert(clave, std::move(f));
        }
    std::vector<Fila> nuevas;
    nuevas.reserve(size_t(std::max(0, hasta - desde)));
    for (int j = desde; j < hasta; ++j) {
        QList<ChatZentu::Mensaje> g = grupo(j);
        Fila f = viejas.take(g.first().id);
        if (!f.vista) {
            f = hechas_.take(g.first().id);
            if (f.vista) f.vista->setUpdatesEnabled(true);
        }
        if (!f.vista || f.grupo != g) {
            if (f.vista) soltar(f.vista);
            f.vista = nuevaBurbuja(g);
            f.grupo = std::move(g);
        }
        nuevas.push_back(std::move(f));
    }
    for (Fila& f : viejas) soltar(f.vista);

    // The layout holds the loading row, the bubbles, the typing row, the end anchor and a
    // stretch. Kept bubbles stay where they are when they are still in order; new ones go in
    // between. Anything else lays the bubbles out afresh.
    QList<QWidget*> enCapa;
    for (int i = 1; i < capaLista_->count() - 3; ++i) enCapa << capaLista_->itemAt(i)->widget();
    QList<QWidget*> quedan;
    for (const Fila& f : nuevas)
        if (enCapa.contains(f.vista.data())) quedan << f.vista.data();
    if (quedan != enCapa) {
        for (QWidget* w : std::as_const(enCapa)) capaLista_->removeWidget(w);
        enCapa.clear();
    }
    // Showing a child lays its parent out at once; with the layout held, the list is laid out
    // once for all the bubbles that came (its own request follows).
    capaLista_->setEnabled(false);
    for (size_t i = 0; i < nuevas.size(); ++i) {
        QWidget* w = nuevas[i].vista.data();
        if (capaLista_->itemAt(int(1 + i))->widget() != w) capaLista_->insertWidget(int(1 + i), w);
        w->show();
    }
    capaLista_->setEnabled(true);
    // The layout was asked for while it rested, and only asks once until it is laid out: asked
    // again, it lays the list out in a turn of its own.
    QCoreApplication::postEvent(contenidoLista_, new QEvent(QEvent::LayoutRequest));
    filas_ = std::move(nuevas);
    inicio_ = desde;
}

void VistaChat::recortar() {
    recorte_->stop();
    const int fin = inicio_ + int(filas_.size());
    if (!chat_ || ampliando_ || int(filas_.size()) <= kMaximo || fin < int(grupos_.size())) return;
    conservandoVista([&] { ventana(fin - (kMaximo - kTanda), fin); });
}

void VistaChat::asentarLista() {
    capaLista_->activate();
    const int alto = std::max(lista_->viewport()->height(), contenidoLista_->minimumSizeHint().height());
    contenidoLista_->resize(contenidoLista_->width(), alto);
}

void VistaChat::conservandoVista(const std::function<void()>& cambio) {
    // What the owner sees stays where it is: the first bubble at the top of the view keeps its
    // place on screen while bubbles come and go above it.
    QScrollBar* barra = lista_->verticalScrollBar();
    const int arriba = barra->value();
    QPointer<QWidget> ancla;
    int desfase = 0;
    for (const Fila& f : filas_)
        if (f.vista && f.vista->geometry().bottom() >= arriba) {
            ancla = f.vista.data();
            desfase = f.vista->y() - arriba;
            break;
        }
    const bool antes = ampliando_;
    ampliando_ = true;
    cambio();
    asentarLista();
    if (ancla && ancla->parentWidget() == contenidoLista_) barra->setValue(ancla->y() - desfase);
    ampliando_ = antes;
}

void VistaChat::masAntiguas() {
    if (!chat_ || ampliando_ || inicio_ == 0) return;
    const int desde = std::max(0, inicio_ - kTanda);
    const int hasta = std::min(inicio_ + int(filas_.size()), desde + kMaximo);
    conservandoVista([&] { ventana(desde, hasta); });
}

void VistaChat::masNuevas() {
    const int fin = inicio_ + int(filas_.size());
    if (!chat_ || ampliando_ || fin >= int(grupos_.size())) return;
    const int hasta = std::min(int(grupos_.size()), fin + kTanda);
    const int desde = std::max(inicio_, hasta - kMaximo);
    conservandoVista([&] { ventana(desde, hasta); });
}

void VistaChat::irAlFinal() {
    const int total = int(grupos_.size());
    if (!chat_ || inicio_ + int(filas_.size()) >= total) return;
    const bool antes = ampliando_;
    ampliando_ = true;
    ventana(std::max(0, total - kTanda), total);
    asentarLista();
    QScrollBar* barra = lista_->verticalScrollBar();
    barra->setValue(barra->maximum());
    ampliando_ = antes;
}

void VistaChat::alCambiarEscribiendo() {
    if (!chat_) return;
    const bool antes = filaEscribiendo_->isVisibleTo(contenidoLista_);
    filaEscribiendo_->setVisible(chat_->escribiendo());
    if (antes != chat_->escribiendo()) bajar(true);
}

void VistaChat::alCambiarBorrador() {
    if (!chat_) return;
    if (campo_->toPlainText() != chat_->borrador()) {
        const QSignalBlocker bloqueo(campo_);
        campo_->setPlainText(chat_->borrador());
        QTextCursor cursor = campo_->textCursor();
        cursor.movePosition(QTextCursor::End);
        campo_->setTextCursor(cursor);
        ajustarAltoCampo();
    }
    marcada_ = 0;
    rehacerSelector();
    pintarBotones();
}

void VistaChat::alCambiarAgente() {
    if (!chat_) return;
    titulo_->setText(nombreVisible(chat_->conAgente()));
    botonVolver_->setVisible(chat_->conAgente().has_value());
    campo_->setPlaceholderText(QStringLiteral("Escríbele a ") + nombreVisible(chat_->conAgente()) +
                               QStringLiteral("  ·  / para elegir agente"));
    // The field repaints its placeholder only when it appears or goes, not when its text changes.
    campo_->viewport()->update();
    ajustarAltoCampo();
    alCambiarNota();
    rehacerSelector();
}

void VistaChat::alCambiarPendientes() {
    if (!chat_) return;
    auto* capa = static_cast<QVBoxLayout*>(fichas_->layout());
    while (QLayoutItem* item = capa->takeAt(0)) {
        retirar(item->widget());
        delete item;
    }
    const QList<QUrl> pendientes = chat_->pendientes();
    fichas_->setVisible(!pendientes.isEmpty());
    pintarBotones();
    if (pendientes.isEmpty()) return;

    auto* caja = new Caja(14, conAlfa(p_.tinta, 0.06), conAlfa(p_.tinta, 0.1), fichas_);
    capa->addWidget(caja);
    auto* dentro = new QVBoxLayout(caja);
    dentro->setContentsMargins(10, 10, 10, 10);
    dentro->setSpacing(6);

    // The thumbnail with its remove button over the top-trailing corner.
    auto miniatura = [this](const QUrl& url, QWidget* padre) {
        auto* marco = new QWidget(padre);
        marco->setFixedSize(56 + 7, 56 + 7);
        auto* m = new Miniatura(url, 56, esquema_, marco);
        m->move(0, 7);
        m->setCursor(Qt::PointingHandCursor);
        m->setToolTip(QStringLiteral("Abrir ") + url.fileName());
        m->installEventFilter(this);
        m->setProperty("zentuAbrir", url);
        auto* x = new Boton(QSize(20, 20),
                            [](QPainter& q, const QRectF& r, const Boton&) {
                                q.setPen(QPen(conAlfa(Qt::white, 0.5), 1));
                                q.setBrush(conAlfa(Qt::black, 0.72));
                                q.drawEllipse(r.adjusted(0.5, 0.5, -0.5, -0.5));
                                const QRectF icono(r.center() - QPointF(3.5, 3.5), QSizeF(7, 7));
                                q.setPen(QPen(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap));
                                q.setBrush(Qt::NoBrush);
                                q.drawPath(Iconos::forma(Icono::cerrar, icono));
                            },
                            marco);
        // 7 right and 7 up of the corner: the square reaches 7 beyond the thumbnail.
        x->move(56 + 7 - 20 + 0, 0);
        x->setToolTip(QStringLiteral("Quitar el archivo"));
        x->setObjectName(QStringLiteral("quitar"));
        QPointer<ChatZentu> chat = chat_;
        connect(x, &QPushButton::clicked, this, [this, chat, url] {
            if (!chat) return;
            QList<QUrl> l = chat->pendientes();
            l.removeAll(url);
            chat->setPendientes(l);
            // The error line spoke of the files as they were: a refusal leaves with its file.
            ponerError(std::nullopt);
        });
        return marco;
    };

    if (pendientes.size() == 1) {
        const QUrl url = pendientes.first();
        auto* fila = new QWidget(caja);
        auto* c = new QHBoxLayout(fila);
        c->setContentsMargins(0, 0, 0, 0);
        c->setSpacing(12);
        c->addWidget(miniatura(url, fila));
        auto* col = new QVBoxLayout;
        col->setSpacing(3);
        auto* nombre = new NombreCorto(url.fileName(), fila);
        nombre->setFont(fuente(12.5, QFont::DemiBold));
        QPalette pal = nombre->palette();
        pal.setColor(QPalette::WindowText, p_.tinta);
        nombre->setPalette(pal);
        col->addStretch();
        col->addWidget(nombre);
        col->addWidget(etiqueta(TipoArchivo::detalle(url), fuente(11), conAlfa(p_.tinta, 0.55), fila));
        col->addStretch();
        c->addLayout(col, 1);
        dentro->addWidget(fila);
        return;
    }

    dentro->addWidget(etiqueta(QString::number(pendientes.size()) + QStringLiteral(" archivos · van juntos en un solo mensaje"),
                               fuente(11), conAlfa(p_.tinta, 0.55), caja));
    auto* desplazable = new QScrollArea(caja);
    desplazable->setFrameShape(QFrame::NoFrame);
    desplazable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    desplazable->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    desplazable->setWidgetResizable(false);
    desplazable->viewport()->setAutoFillBackground(false);
    auto* fila = new QWidget;
    fila->setAutoFillBackground(false);
    auto* c = new QHBoxLayout(fila);
    c->setContentsMargins(0, 8 - 7, 8, 0);
    c->setSpacing(12);
    for (const QUrl& url : pendientes) {
        auto* col = new QWidget(fila);
        col->setFixedWidth(64);
        auto* v = new QVBoxLayout(col);
        v->setContentsMargins(0, 0, 0, 0);
        v->setSpacing(4);
        v->addWidget(miniatura(url, col), 0, Qt::AlignHCenter);
        auto* nombre = new NombreCorto(url.fileName(), col);
        nombre->setFont(fuente(10.5));
        nombre->setAlignment(Qt::AlignHCenter);
        QPalette pal = nombre->palette();
        pal.setColor(QPalette::WindowText, p_.tinta);
        nombre->setPalette(pal);
        v->addWidget(nombre);
        c->addWidget(col);
    }
    fila->adjustSize();
    desplazable->setWidget(fila);
    fila->setAutoFillBackground(false);  // the scroll area turns it on
    desplazable->setFixedHeight(fila->sizeHint().height());
    dentro->addWidget(desplazable);
}

void VistaChat::alCambiarNota() {
    if (!chat_) return;
    auto* capa = static_cast<QHBoxLayout*>(nota_->layout());
    while (QLayoutItem* item = capa->takeAt(0)) {
        retirar(item->widget());
        delete item;
    }
    const bool ver = chat_->grabandoNota() || chat_->transcribiendo();
    nota_->setVisible(ver);
    if (!ver) return;
    const QFont f = fuente(12);
    if (chat_->transcribiendo()) {
        capa->addWidget(new Ruedita(p_, reloj_, 14, nota_));
        capa->addWidget(etiqueta(QStringLiteral("Transcribiendo tu nota…"), f, p_.tinta, nota_));
    } else {
        auto* punto = new Caja(4, p_.rojo, Qt::transparent, nota_);
        punto->setFixedSize(8, 8);
        // The dot sits on the first line's middle.
        auto* columna = new QWidget(nota_);
        auto* cc = new QVBoxLayout(columna);
        cc->setContentsMargins(0, int(std::round((QFontMetricsF(f).lineSpacing() - 8) / 2)), 0, 0);
        cc->addWidget(punto);
        cc->addStretch(1);
        capa->addWidget(columna, 0);
        // Wrapped onto a second line rather than cut: how to send the note must be readable.
        auto color = [](const QColor& c) {
            return QStringLiteral("rgba(%1,%2,%3,%4)").arg(c.red()).arg(c.green()).arg(c.blue()).arg(c.alpha());
        };
        auto* linea = new QLabel(nota_);
        linea->setObjectName(QStringLiteral("lineaNota"));
        linea->setFont(f);
        linea->setWordWrap(true);
        linea->setTextFormat(Qt::RichText);
        linea->setText(QStringLiteral("<span style=\"color:%1\">%2</span> <span style=\"color:%3\">%4</span>")
                           .arg(color(p_.tinta),
                                (QStringLiteral("Grabando una nota para ") + nombreVisible(chat_->conAgente())).toHtmlEscaped(),
                                color(conAlfa(p_.tinta, 0.55)),
                                QStringLiteral("· haz una pausa o toca el micrófono para enviarla").toHtmlEscaped()));
        capa->addWidget(linea, 1);
        return;
    }
    capa->addStretch(1);
}

void VistaChat::rehacerSelector() {
    auto* capa = static_cast<QVBoxLayout*>(selector_->layout());
    while (QLayoutItem* item = capa->takeAt(0)) {
        retirar(item->widget());
        delete item;
    }
    const QList<Opcion> lista = sugerencias();
    selector_->setVisible(!lista.isEmpty());
    if (lista.isEmpty()) return;

    auto* caja = new Caja(12, conAlfa(p_.tinta, 0.06), Qt::transparent, selector_);
    capa->addWidget(caja);
    auto* col = new QVBoxLayout(caja);
    col->setContentsMargins(8, 8, 8, 8);
    col->setSpacing(2);
    auto* titulo = etiqueta(QStringLiteral("Hablar con…"), fuente(11, QFont::DemiBold), conAlfa(p_.tinta, 0.55), caja);
    titulo->setContentsMargins(10, 0, 10, 2);
    col->addWidget(titulo);
    const std::optional<QString> ahora = chat_ ? chat_->conAgente() : std::nullopt;
    for (int i = 0; i < lista.size(); ++i) {
        const Opcion o = lista[i];
        const bool marcada = i == marcada_;
        const bool actual = o.nombre == ahora;
        auto* fila = new Boton(QSize(10, 28),
                               [this, o, marcada, actual](QPainter& q, const QRectF& r, const Boton&) {
                                   if (marcada) {
                                       QPainterPath c;
                                       c.addRoundedRect(r, 8, 8);
                                       q.fillPath(c, conAlfa(p_.lima, 0.16));
                                   }
                                   const QFont fe = fuente(13, QFont::Medium), fd = fuente(11.5), fa = fuente(10.5);
                                   qreal x = r.left() + 10;
                                   q.setFont(fe);
                                   q.setPen(p_.tinta);
                                   const qreal ae = QFontMetricsF(fe).horizontalAdvance(o.etiqueta);
                                   q.drawText(QRectF(x, r.top(), ae + 1, r.height()), Qt::AlignVCenter | Qt::AlignLeft, o.etiqueta);
                                   x += ae + 8;
                                   qreal derecha = r.right() - 10;
                                   if (actual) {
                                       const qreal aa = QFontMetricsF(fa).horizontalAdvance(QStringLiteral("ahora"));
                                       q.setFont(fa);
                                       q.setPen(p_.lima);
                                       q.drawText(QRectF(derecha - aa - 1, r.top(), aa + 1, r.height()),
                                                  Qt::AlignVCenter | Qt::AlignRight, QStringLiteral("ahora"));
                                       derecha -= aa + 8;
                                   }
                                   q.setFont(fd);
                                   q.setPen(conAlfa(p_.tinta, 0.55));
                                   q.drawText(QRectF(x, r.top(), std::max<qreal>(0, derecha - x), r.height()),
                                              Qt::AlignVCenter | Qt::AlignLeft,
                                              QFontMetricsF(fd).elidedText(o.detalle, Qt::ElideRight, std::max<qreal>(0, derecha - x)));
                               },
                               caja);
        fila->setMinimumWidth(10);
        fila->setMaximumWidth(QWIDGETSIZE_MAX);
        fila->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        fila->setObjectName(QStringLiteral("opcion-") + o.id);
        connect(fila, &QPushButton::clicked, this, [this, o] { elegir(o); });
        col->addWidget(fila);
    }
    auto* pista = etiqueta(QStringLiteral("↑↓ para moverte · ↵ para elegir"), fuente(10.5), conAlfa(p_.tinta, 0.4), caja);
    pista->setContentsMargins(10, 2, 10, 0);
    col->addWidget(pista);
}

void VistaChat::ponerError(const std::optional<QString>& texto) {
    error_ = texto;
    lineaError_->setText(texto.value_or(QString()));
    lineaError_->setVisible(texto.has_value());
}

void VistaChat::ponerEnviando(bool valor) {
    enviando_ = valor;
    if (auto* r = botonEnviar_->findChild<QWidget*>(QStringLiteral("enviando"))) r->setVisible(valor);
    pintarBotones();
}

void VistaChat::ponerMarcada(int valor) {
    if (marcada_ == valor) return;
    marcada_ = valor;
    rehacerSelector();
}

void VistaChat::ponerSoltando(bool valor) {
    if (soltandoEncima_ == valor) return;
    soltandoEncima_ = valor;
    borde_->update();
}

void VistaChat::pintarBotones() {
    botonEnviar_->setEnabled(listo());
    botonEnviar_->update();
}

void VistaChat::enfocar() {
    campo_->setFocus(Qt::OtherFocusReason);
}

// ---------------------------------------------------------------- scrolling

void VistaChat::alFondo(bool animado) {
    irAlFinal();
    QScrollBar* barra = lista_->verticalScrollBar();
    if (!animado) {
        if (animacion_) animacion_->stop();
        barra->setValue(barra->maximum());
        return;
    }
    // Already gliding down: it glides on to the new end rather than starting over.
    if (animacion_ && animacion_->state() == QAbstractAnimation::Running) {
        animacion_->setEndValue(barra->maximum());
        return;
    }
    auto* a = new QVariantAnimation(this);
    a->setStartValue(barra->value());
    a->setEndValue(barra->maximum());
    a->setDuration(200);
    a->setEasingCurve(QEasingCurve::OutCubic);
    connect(a, &QVariantAnimation::valueChanged, barra, [this, barra](const QVariant& v) {
        // Messages waiting for their frame join this step of the glide: one repaint for both.
        if (tanda_->isActive()) ponerAlDia();
        barra->setValue(v.toInt());
    });
    animacion_ = a;
    a->start(QAbstractAnimation::DeleteWhenStopped);
}

void VistaChat::bajar(bool animado) {
    // Once on the next turn (layouts have settled by then) and once more 0.35 s later.
    std::erase_if(bajadas_, [](const Temporizador& t) { return !t.activo(); });
    bajadas_.push_back(reloj_.programar(0, this, [this, animado] { alFondo(animado); }));
    bajadas_.push_back(reloj_.programar(0.35, this, [this] { alFondo(false); }));
}

// ---------------------------------------------------------------- composer

bool VistaChat::listo() const {
    if (enviando_ || !chat_) return false;
    return !chat_->pendientes().isEmpty() || !chat_->borrador().trimmed().isEmpty();
}

void VistaChat::enviar() {
    if (!listo()) return;
    const QString texto = chat_->borrador();
    const QList<QUrl> archivos = chat_->pendientes();
    ponerEnviando(true);
    ponerError(std::nullopt);
    [[maybe_unused]] auto t = enviarTarea(texto, archivos);
}

QCoro::Task<void> VistaChat::enviarTarea(QString texto, QList<QUrl> archivos) {
    QPointer<VistaChat> yo(this);
    QPointer<ChatZentu> chat = chat_;
    bool enviado = false;
    if (!archivos.isEmpty()) {
        auto tarea = chat->enviarArchivos(archivos, texto);
        std::optional<QString> fallo = co_await std::move(tarea);
        if (!yo) co_return;
        if (fallo) ponerError(fallo);
        else enviado = true;
    } else {
        auto tarea = chat->enviar(texto);
        const bool ok = co_await std::move(tarea);
        if (!yo) co_return;
        if (ok) enviado = true;
        else ponerError(kErrorEnvio);
    }
    if (enviado && chat) {
        // Only what went out leaves the composer: text typed and files staged meanwhile stay.
        const QString ahora = chat->borrador();
        if (ahora.startsWith(texto)) chat->setBorrador(ahora.mid(texto.size()));
        QList<QUrl> quedan = chat->pendientes();
        for (const QUrl& u : archivos) quedan.removeAll(u);
        chat->setPendientes(quedan);
    }
    ponerEnviando(false);
}

void VistaChat::elegirArchivo() {
    const QString mensaje = QStringLiteral("Elige los archivos que quieres mandar (hasta %1)").arg(ChatZentu::kMaximoPendientes);
    // The desktop's own chooser where its portal offers one; Qt's dialog otherwise.
    if (elegirEnEscritorio) {
        if (const auto elegidos = elegirEnEscritorio({mensaje, QStringLiteral("Adjuntar"), true, QDir::homePath()})) {
            if (!elegidos->isEmpty() && chat_) ponerError(chat_->agregar(*elegidos));
            enfocar();
            return;
        }
    }
    QFileDialog d(window());
    d.setOption(QFileDialog::DontUseNativeDialog);
    d.setFileMode(QFileDialog::ExistingFiles);
    d.setDirectory(QDir::homePath());
    d.setLabelText(QFileDialog::Accept, QStringLiteral("Adjuntar"));
    d.setWindowTitle(mensaje);
    d.setLabelText(QFileDialog::LookIn, mensaje);
    d.setWindowFlag(Qt::WindowStaysOnTopHint);
    // Room for the detail columns: each as wide as its heading and its contents, the name taking
    // what is left.
    if (auto* lista = d.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* cabecera = lista->header();
        cabecera->setStretchLastSection(false);
        for (int i = 1; i < cabecera->count(); ++i) cabecera->setSectionResizeMode(i, QHeaderView::ResizeToContents);
        cabecera->setSectionResizeMode(0, QHeaderView::Stretch);
    }
    d.resize(d.sizeHint().expandedTo(QSize(780, 460)));
    // Over the chat panel, inside its screen.
    for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* panel = qobject_cast<PanelChat*>(w);
        if (!panel || !panel->isVisible() || !panel->screen()) continue;
        const QPointF o = colocarSobre(QSizeF(d.size()), QRectF(panel->frameGeometry()),
                                       QRectF(panel->screen()->availableGeometry()));
        d.move(o.toPoint());
        break;
    }
    QApplication::setActiveWindow(&d);
    std::optional<QList<QUrl>> elegidos = correrDialogo ? correrDialogo(d) : std::nullopt;
    if (elegidos && !elegidos->isEmpty() && chat_) ponerError(chat_->agregar(*elegidos));
    enfocar();
}

// ---------------------------------------------------------------- picker

void VistaChat::elegir(const Opcion& opcion) {
    if (!chat_) return;
    chat_->setBorrador(QString());
    [[maybe_unused]] auto t = elegirTarea(opcion.nombre);
}

QCoro::Task<void> VistaChat::elegirTarea(std::optional<QString> nombre) {
    QPointer<VistaChat> yo(this);
    auto tarea = chat_->hablarCon(nombre);
    const bool ok = co_await std::move(tarea);
    if (!yo) co_return;
    if (!ok) ponerError(kErrorAgente);
    enfocar();
}

QCoro::Task<void> VistaChat::volverTarea() {
    if (!chat_) co_return;
    auto tarea = chat_->hablarCon(std::nullopt);
    co_await std::move(tarea);
}

// ---------------------------------------------------------------- events

bool VistaChat::eventFilter(QObject* objeto, QEvent* evento) {
    if (objeto == campo_ && evento->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(evento);
        const bool retorno = k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter;
        if (retorno && (k->modifiers() & Qt::ShiftModifier)) return false;  // a line break
        if (retorno || k->key() == Qt::Key_Down || k->key() == Qt::Key_Up) {
            const QList<Opcion> lista = sugerencias();
            if (lista.isEmpty()) {
                if (!retorno) return false;
                enviar();
                return true;
            }
            const int n = int(lista.size());
            if (retorno) elegir(lista[std::min(marcada_, n - 1)]);
            else if (k->key() == Qt::Key_Down) ponerMarcada(std::min(n - 1, marcada_ + 1));
            else ponerMarcada(std::max(0, marcada_ - 1));
            return true;
        }
    }
    if (objeto == tarjeta_ && evento->type() == QEvent::Resize) {
        borde_->setGeometry(tarjeta_->rect());
        borde_->raise();
    }
    if (evento->type() == QEvent::MouseButtonRelease && objeto->property("zentuAbrir").isValid()) {
        if (abrirArchivo) abrirArchivo(objeto->property("zentuAbrir").toUrl());
        return true;
    }
    return QWidget::eventFilter(objeto, evento);
}

void VistaChat::paintEvent(QPaintEvent* evento) {
    QPainter q(this);
    const QRectF carta = QRectF(rect()).adjusted(kMargen, kMargen, -kMargen, -kMargen);
    // A repaint of the list inside the card, away from its rounded corners, is a flat fill of the
    // glass where the glass is opaque (no shadow under it).
    const int esquina = int(std::ceil(GeometriaChat::radio)) + 1;
    const QRect interior = carta.toRect();
    if (!Vidrio::translucido() && (interior.adjusted(esquina, 0, -esquina, 0).contains(evento->rect()) ||
                                   interior.adjusted(0, esquina, 0, -esquina).contains(evento->rect()))) {
        q.fillRect(evento->rect(), Vidrio::colorMaterial(esquema_, false));
        return;
    }
    q.setRenderHint(QPainter::Antialiasing);
    const FormaVidrio forma = FormaVidrio::redondeada(GeometriaChat::radio);
    SombraVidrio(esquema_, GeometriaChat::radio).pintar(q, forma, carta);
    Vidrio(forma, esquema_).pintarFondo(q, carta);
}

void VistaChat::keyPressEvent(QKeyEvent* evento) {
    if (evento->key() == Qt::Key_Escape) {
        if (cerrar_) cerrar_();
        evento->accept();
        return;
    }
    QWidget::keyPressEvent(evento);
}

void VistaChat::showEvent(QShowEvent* evento) {
    QWidget::showEvent(evento);
    enfocar();
    if (!mostradaAntes_) {
        mostradaAntes_ = true;
        // The first time on screen: straight to the end, once the layout has settled.
        QPointer<VistaChat> yo(this);
        QMetaObject::invokeMethod(this, [yo] {
            if (yo) yo->alFondo(false);
        }, Qt::QueuedConnection);
    }
}

namespace {
bool conArchivos(const QMimeData* datos) {
    if (!datos || !datos->hasUrls()) return false;
    for (const QUrl& u : datos->urls())
        if (u.isLocalFile()) return true;
    return false;
}
}  // namespace

void VistaChat::dragEnterEvent(QDragEnterEvent* evento) {
    if (!conArchivos(evento->mimeData())) return evento->ignore();
    evento->acceptProposedAction();
    ponerSoltando(true);
}

void VistaChat::dragMoveEvent(QDragMoveEvent* evento) {
    if (!conArchivos(evento->mimeData())) return evento->ignore();
    evento->acceptProposedAction();
}

void VistaChat::dragLeaveEvent(QDragLeaveEvent*) { ponerSoltando(false); }

void VistaChat::dropEvent(QDropEvent* evento) {
    ponerSoltando(false);
    if (!conArchivos(evento->mimeData()) || !chat_) return evento->ignore();
    evento->acceptProposedAction();
    // Each file is staged on its own; the error line shows how the last one went.
    for (const QUrl& u : evento->mimeData()->urls()) {
        if (!u.isLocalFile()) continue;
        ponerError(chat_->agregar({u}));
        enfocar();
    }
}

void VistaChat::alDia() const {
    // Messages waiting for the next frame are shown first, and the stretch let go of what it
    // would: the answer is about what the model holds.
    auto* yo = const_cast<VistaChat*>(this);
    if (tanda_->isActive()) yo->ponerAlDia();
    if (recorte_->isActive()) yo->recortar();
}

int VistaChat::burbujasCreadas() const {
    alDia();
    return burbujasCreadas_;
}

QList<Burbuja*> VistaChat::burbujas() const {
    alDia();
    QList<Burbuja*> r;
    for (const Fila& f : filas_)
        if (f.vista) r << f.vista.data();
    return r;
}

QWidget* VistaChat::filaEscribiendo() const { return filaEscribiendo_; }
