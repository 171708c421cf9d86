#include "zentu/chat/Burbujas.h"

#include "plataforma/Escritorio.h"
#include "zentu/chat/Adjuntos.h"
#include "zentu/chat/TipoArchivo.h"
#include "zentu/isla/Vidrio.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLayout>
#include <QLocale>
#include <QSaveFile>
#include <QFontMetricsF>
#include <QHash>
#include <QHelpEvent>
#include <QImageReader>
#include <QScrollBar>
#include <QWheelEvent>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QAbstractTextDocumentLayout>
#include <QContextMenuEvent>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QThreadPool>
#include <QToolTip>
#include <QBuffer>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

QColor conAlfa(QColor c, double a) {
    c.setAlphaF(float(a));
    return c;
}

QColor primario(Esquema e) { return e == Esquema::oscuro ? QColor(Qt::white) : QColor(Qt::black); }

// The middle of `imagen` cropped to the proportions of `destino` (scaled to fill).
QRectF recorteParaLlenar(const QSize& imagen, const QSizeF& destino) {
    const double f = std::max(destino.width() / imagen.width(), destino.height() / imagen.height());
    const QSizeF vista(destino.width() / f, destino.height() / f);
    return QRectF((imagen.width() - vista.width()) / 2, (imagen.height() - vista.height()) / 2, vista.width(),
                  vista.height());
}

void pintarLlenando(QPainter& p, const QRectF& destino, const QImage& imagen) {
    p.drawImage(destino, imagen, recorteParaLlenar(imagen.size(), destino.size()));
}

// Lines of `texto` wrapped at `ancho`, at most `maximo`, the last one cut with an ellipsis.
QStringList lineas(const QString& texto, const QFont& fuente, qreal ancho, int maximo) {
    QStringList salida;
    QTextLayout layout(texto, fuente);
    QTextOption opcion;
    opcion.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(opcion);
    layout.beginLayout();
    int desde = -1;
    for (;;) {
        QTextLine l = layout.createLine();
        if (!l.isValid()) break;
        l.setLineWidth(ancho);
        if (salida.size() == maximo - 1) {
            desde = l.textStart();
            break;
        }
        salida << texto.mid(l.textStart(), l.textLength()).trimmed();
    }
    layout.endLayout();
    if (desde >= 0) salida << QFontMetricsF(fuente).elidedText(texto.mid(desde).simplified(), Qt::ElideRight, ancho);
    return salida;
}

const QFont& fuenteNombre() {
    static const QFont f = TipoArchivo::fuente(12.5, QFont::Medium);
    return f;
}

// One manager for every image the bubbles fetch, on the main thread.
QNetworkAccessManager& red() {
    static auto* nam = new QNetworkAccessManager(QCoreApplication::instance());
    return *nam;
}

constexpr qint64 kMaximoImagen = 64 * 1024 * 1024;

}  // namespace

// ---------------------------------------------------------------------------------------------

namespace GeometriaAlbum {

std::vector<Celda> celdas(int n) {
    const double cuadrado = mitad;
    switch (n) {
        case 0:
            return {};
        case 1:
            return {{QRectF(0, 0, ancho, 180), 0, 0}};
        case 2:
            return {{QRectF(0, 0, mitad, mitad * 1.25), 0, 0}, {QRectF(mitad + hueco, 0, mitad, mitad * 1.25), 1, 0}};
        case 3: {
            const double alto1 = ancho * 0.56;
            return {{QRectF(0, 0, ancho, alto1), 0, 0},
                    {QRectF(0, alto1 + hueco, mitad, mitad * 0.8), 1, 0},
                    {QRectF(mitad + hueco, alto1 + hueco, mitad, mitad * 0.8), 2, 0}};
        }
        default:
            return {{QRectF(0, 0, cuadrado, cuadrado), 0, 0},
                    {QRectF(mitad + hueco, 0, cuadrado, cuadrado), 1, 0},
                    {QRectF(0, cuadrado + hueco, cuadrado, cuadrado), 2, 0},
                    {QRectF(mitad + hueco, cuadrado + hueco, cuadrado, cuadrado), 3, n - 4}};
    }
}

QSizeF tamano(int n) {
    QRectF todo;
    for (const Celda& c : celdas(n)) todo = todo.united(c.marco);
    return todo.size();
}

}  // namespace GeometriaAlbum

// ---------------------------------------------------------------------------------------------

void cargarImagen(const QUrl& url, QSize cubrir, QObject* dueno, std::function<void(QImage)> listo) {
    QPointer<QObject> vivo(dueno);
    auto entregar = [vivo, listo](QImage img) {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [vivo, listo, img = std::move(img)] {
                if (vivo) listo(img);
            },
            Qt::QueuedConnection);
    };
    auto decodificar = [cubrir, entregar](QByteArray datos, QString ruta) {
        QThreadPool::globalInstance()->start([cubrir, entregar, datos = std::move(datos), ruta] {
            QBuffer buffer;
            QImageReader lector;
            if (ruta.isEmpty()) {
                buffer.setData(datos);
                buffer.open(QIODevice::ReadOnly);
                lector.setDevice(&buffer);
            } else {
                lector.setFileName(ruta);
            }
            lector.setAutoTransform(true);
            const QSize tam = lector.size();
            if (tam.isValid() && !tam.isEmpty() && !cubrir.isEmpty()) {
                const double f = std::max(double(cubrir.width()) / tam.width(), double(cubrir.height()) / tam.height());
                if (f < 1) lector.setScaledSize(QSize(std::max(1, int(std::ceil(tam.width() * f))),
                                                      std::max(1, int(std::ceil(tam.height() * f)))));
            }
            entregar(lector.read());
        });
    };
    if (url.isLocalFile()) {
        decodificar({}, url.toLocalFile());
        return;
    }
    if (!url.isValid() || (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https"))) {
        entregar({});
        return;
    }
    QNetworkReply* r = red().get(QNetworkRequest(url));
    QObject::connect(r, &QNetworkReply::downloadProgress, r, [r](qint64 recibidos, qint64) {
        if (recibidos > kMaximoImagen) r->abort();
    });
    QObject::connect(r, &QNetworkReply::finished, r, [r, decodificar, entregar] {
        r->deleteLater();
        const int estado = r->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        if (r->error() != QNetworkReply::NoError || estado != 200) {
            entregar({});
            return;
        }
        decodificar(r->readAll(), {});
    });
    // A bubble that goes away takes its downloads with it.
    if (dueno) QObject::connect(dueno, &QObject::destroyed, r, &QNetworkReply::abort);
}

// ---------------------------------------------------------------------------------------------

FilaArchivo::FilaArchivo(ChatZentu::Adjunto a, Esquema esquema, QWidget* padre)
    : QAbstractButton(padre), a_(std::move(a)), esquema_(esquema) {
    setToolTip(QStringLiteral("Abrir ") + a_.nombre);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

QSize FilaArchivo::tamanoPara(int anchoMax) const {
    const QFontMetricsF fm(fuenteNombre());
    const qreal fijo = 6 + 36 + 10 + 12;
    const qreal libre = std::max<qreal>(20, anchoMax - fijo);
    const QStringList ls = lineas(a_.nombre, fuenteNombre(), libre, 2);
    qreal anchoTexto = 0;
    for (const QString& l : ls) anchoTexto = std::max(anchoTexto, fm.horizontalAdvance(l));
    const qreal altoTexto = std::max<qreal>(1, ls.size()) * fm.height();
    return QSize(int(std::ceil(fijo + std::min(anchoTexto, libre))), int(std::ceil(std::max<qreal>(36, altoTexto) + 12)));
}

void FilaArchivo::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor tinta = Paleta(esquema_).tinta;
    QPainterPath fondo;
    fondo.addRoundedRect(QRectF(rect()), 10, 10);
    p.fillPath(fondo, conAlfa(tinta, isDown() ? 0.14 : 0.08));
    FichaTipo::pintar(p, QRectF(6, (height() - 36) / 2.0, 36, 36), a_.nombre);
    const QFontMetricsF fm(fuenteNombre());
    const qreal x = 6 + 36 + 10;
    const qreal libre = width() - x - 12;
    const QStringList ls = lineas(a_.nombre, fuenteNombre(), libre, 2);
    qreal y = (height() - ls.size() * fm.height()) / 2;
    p.setFont(fuenteNombre());
    p.setPen(tinta);
    for (const QString& l : ls) {
        p.drawText(QRectF(x, y, libre + 1, fm.height()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, l);
        y += fm.height();
    }
}

// ---------------------------------------------------------------------------------------------

ImagenAdjunta::ImagenAdjunta(ChatZentu::Adjunto a, Esquema esquema, std::function<void()> alPulsar, QWidget* padre)
    : QWidget(padre), a_(std::move(a)), esquema_(esquema), alPulsar_(std::move(alPulsar)) {
    setFixedSize(240, 180);
    setToolTip(QStringLiteral("Abrir la imagen"));
    setCursor(Qt::PointingHandCursor);
    cargarImagen(a_.url, QSize(480, 360), this, [this](QImage img) {
        if (img.isNull()) {
            estado_ = Estado::fallida;
            if (alFallar) alFallar();
            return;
        }
        imagen_ = std::move(img);
        estado_ = Estado::cargada;
        update();
    });
}

void ImagenAdjunta::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF r(rect());
    QPainterPath forma;
    forma.addRoundedRect(r, 10, 10);
    if (estado_ == Estado::cargada) {
        p.setClipPath(forma);
        pintarLlenando(p, r, imagen_);
        return;
    }
    const QColor tinta = Paleta(esquema_).tinta;
    p.fillPath(forma, conAlfa(tinta, 0.08));
    // A small spinner-like ring in the middle while the picture loads.
    const QRectF aro(r.center() - QPointF(8, 8), QSizeF(16, 16));
    p.setPen(QPen(conAlfa(tinta, 0.2), 2));
    p.drawEllipse(aro);
    p.setPen(QPen(conAlfa(tinta, 0.6), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(aro, 90 * 16, -100 * 16);
}

void ImagenAdjunta::mouseReleaseEvent(QMouseEvent* evento) {
    if (evento->button() == Qt::LeftButton && rect().contains(evento->position().toPoint()) && alPulsar_) alPulsar_();
}

// ---------------------------------------------------------------------------------------------

Mosaico::Mosaico(const QList<ChatZentu::Adjunto>& adjuntos, Esquema esquema,
                 std::function<void(const ChatZentu::Adjunto&)> abrir, QWidget* padre)
    : QWidget(padre), esquema_(esquema), abrir_(std::move(abrir)) {
    for (const ChatZentu::Adjunto& a : adjuntos) {
        if (a.esImagen) {
            imagenes_ << a;
            continue;
        }
        auto* fila = new FilaArchivo(a, esquema_, this);
        connect(fila, &QAbstractButton::clicked, this, [this, a] {
            if (abrir_) abrir_(a);
        });
        filas_ << fila;
    }
    celdas_ = GeometriaAlbum::celdas(int(imagenes_.size()));
    for (const GeometriaAlbum::Celda& c : celdas_) {
        cargadas_ << QImage();
        terminadas_ << false;
        const int i = c.indice;
        const QSize cubrir(int(std::ceil(c.marco.width() * 2)), int(std::ceil(c.marco.height() * 2)));
        cargarImagen(imagenes_[i].url, cubrir, this, [this, i](QImage img) {
            cargadas_[i] = std::move(img);
            terminadas_[i] = true;
            update();
        });
    }
    if (!celdas_.empty()) setCursor(Qt::PointingHandCursor);
}

bool Mosaico::listo() const { return std::all_of(terminadas_.begin(), terminadas_.end(), [](bool b) { return b; }); }

QSize Mosaico::tamanoPara(int anchoMax) const {
    const QSizeF rejilla = GeometriaAlbum::tamano(int(imagenes_.size()));
    qreal ancho = rejilla.width(), alto = rejilla.height();
    for (const FilaArchivo* f : filas_) {
        const QSize t = f->tamanoPara(anchoMax);
        ancho = std::max<qreal>(ancho, t.width());
        alto += (alto > 0 ? 6 : 0) + t.height();
    }
    return QSize(int(std::ceil(ancho)), int(std::ceil(alto)));
}

void Mosaico::disponer(int anchoMax) {
    qreal y = std::ceil(GeometriaAlbum::tamano(int(imagenes_.size())).height());
    for (FilaArchivo* f : filas_) {
        if (y > 0) y += 6;
        const QSize t = f->tamanoPara(anchoMax);
        f->setGeometry(0, int(y), t.width(), t.height());
        y += t.height();
    }
}

void Mosaico::paintEvent(QPaintEvent*) {
    if (celdas_.empty()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath forma;
    forma.addRoundedRect(QRectF(QPointF(0, 0), GeometriaAlbum::tamano(int(imagenes_.size()))), 10, 10);
    p.setClipPath(forma);
    for (const GeometriaAlbum::Celda& c : celdas_) {
        p.save();
        p.setClipRect(c.marco, Qt::IntersectClip);
        const QImage& img = cargadas_[c.indice];
        if (img.isNull())
            p.fillRect(c.marco, conAlfa(primario(esquema_), 0.08));
        else
            pintarLlenando(p, c.marco, img);
        if (c.mas >= 1) {
            p.fillRect(c.marco, QColor(0, 0, 0, 128));
            p.setFont(TipoArchivo::fuente(22, QFont::DemiBold));
            p.setPen(Qt::white);
            p.drawText(c.marco, Qt::AlignCenter, QStringLiteral("+") + QString::number(c.mas));
        }
        p.restore();
    }
}

const GeometriaAlbum::Celda* Mosaico::celdaEn(QPointF punto) const {
    for (const GeometriaAlbum::Celda& c : celdas_)
        if (c.marco.contains(punto)) return &c;
    return nullptr;
}

void Mosaico::mouseReleaseEvent(QMouseEvent* evento) {
    if (evento->button() != Qt::LeftButton) return;
    if (const auto* c = celdaEn(evento->position()); c && abrir_) abrir_(imagenes_[c->indice]);
}

bool Mosaico::event(QEvent* evento) {
    if (evento->type() == QEvent::ToolTip) {
        auto* ayuda = static_cast<QHelpEvent*>(evento);
        if (const auto* c = celdaEn(ayuda->pos()))
            QToolTip::showText(ayuda->globalPos(), QStringLiteral("Abrir ") + imagenes_[c->indice].nombre, this,
                               c->marco.toRect());
        else
            QToolTip::hideText();
        return true;
    }
    return QWidget::event(evento);
}

// ---------------------------------------------------------------------------------------------

bool Burbuja::seUne(const ChatZentu::Mensaje& u, const ChatZentu::Mensaje& m) {
    return !u.deZentu && !m.deZentu && m.adjunto && !m.adjunto->esAudio && u.adjunto && m.texto.trimmed().isEmpty() &&
           std::abs(u.fecha.msecsTo(m.fecha)) < 10'000;
}

QList<QList<ChatZentu::Mensaje>> Burbuja::agrupar(const QList<ChatZentu::Mensaje>& mensajes) {
    QList<QList<ChatZentu::Mensaje>> grupos;
    for (const ChatZentu::Mensaje& m : mensajes) {
        if (!grupos.isEmpty() && seUne(grupos.last().last(), m)) {
            grupos.last() << m;
            continue;
        }
        grupos << QList<ChatZentu::Mensaje>{m};
    }
    return grupos;
}

QString Burbuja::textoVisible(const ChatZentu::Mensaje& m) {
    if (m.deZentu) return m.texto;
    static const QRegularExpression mencion(QStringLiteral(R"(^\s*@[\w.\-áéíóúñ]+\s+)"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    QString t = m.texto;
    return t.replace(mencion, QString());
}

namespace {

QString escapar(QStringView s) { return s.toString().toHtmlEscaped(); }

bool esPuntuacion(QChar c) { return c.isPunct() || c.isSymbol(); }

// A small inline-only reader: what it does not recognise stays as typed.
QString enLinea(const QString& s, qsizetype desde, qsizetype hasta, const QColor& tinta) {
    QString out;
    qsizetype i = desde;
    const auto abreEn = [&](qsizetype pos, qsizetype largo) {
        return pos + largo < hasta && !s[pos + largo].isSpace();
    };
    // A search that found nothing from one place finds nothing from any later one, and one that
    // found something finds the same from any place up to it: remembered, so a text full of
    // unmatched marks is read in one pass instead of one pass per mark.
    struct Busqueda {
        qsizetype desde = -1, hallado = -1;
    };
    const auto recordada = [](Busqueda& b, qsizetype inicio, const auto& buscar) -> qsizetype {
        if (b.desde >= 0 && inicio >= b.desde && (b.hallado < 0 || inicio <= b.hallado)) return b.hallado;
        b = {inicio, buscar(inicio)};
        return b.hallado;
    };
    QHash<QString, Busqueda> cierres;
    QHash<qsizetype, Busqueda> comillas;
    Busqueda corchete, parentesis;
    // The closing run of `delim` after `inicio`, not preceded by a space; -1 when none.
    const auto cierre = [&](qsizetype inicio, const QString& delim) -> qsizetype {
        return recordada(cierres[delim], inicio, [&](qsizetype desdeAqui) -> qsizetype {
            for (qsizetype j = desdeAqui; j + delim.size() <= hasta; ++j) {
                if (s[j] == QLatin1Char('\\')) {
                    ++j;
                    continue;
                }
                if (QStringView(s).mid(j, delim.size()) != delim || s[j - 1].isSpace()) continue;
                // A single mark must not be half of a double one.
                if (delim.size() == 1 && ((j + 1 < hasta && s[j + 1] == delim[0]) || s[j - 1] == delim[0])) continue;
                // Underscores inside words are not emphasis.
                if (delim[0] == QLatin1Char('_') && j + delim.size() < hasta && s[j + delim.size()].isLetterOrNumber())
                    continue;
                return j;
            }
            return -1;
        });
    };
    while (i < hasta) {
        const QChar c = s[i];
        if (c == QLatin1Char('\\') && i + 1 < hasta && esPuntuacion(s[i + 1])) {
            out += escapar(QStringView(s).mid(i + 1, 1));
            i += 2;
            continue;
        }
        if (c == QLatin1Char('`')) {
            qsizetype n = 0;
            while (i + n < hasta && s[i + n] == QLatin1Char('`')) ++n;
            const QString marca(n, QLatin1Char('`'));
            const qsizetype fin = recordada(comillas[n], i + n, [&](qsizetype d) { return s.indexOf(marca, d); });
            if (fin >= 0 && fin + n <= hasta && fin > i + n) {
                out += QStringLiteral("<code style=\"font-family:'DejaVu Sans Mono',monospace\">") +
                       escapar(QStringView(s).mid(i + n, fin - i - n)) + QStringLiteral("</code>");
                i = fin + n;
                continue;
            }
            out += marca;
            i += n;
            continue;
        }
        if (c == QLatin1Char('[')) {
            const qsizetype cierra = recordada(corchete, i + 1, [&](qsizetype d) { return s.indexOf(QLatin1Char(']'), d); });
            if (cierra > i + 1 && cierra + 1 < hasta && s[cierra + 1] == QLatin1Char('(')) {
                const qsizetype finUrl =
                    recordada(parentesis, cierra + 2, [&](qsizetype d) { return s.indexOf(QLatin1Char(')'), d); });
                if (finUrl > cierra + 2 && finUrl < hasta) {
                    const QUrl url(s.mid(cierra + 2, finUrl - cierra - 2).trimmed(), QUrl::StrictMode);
                    const QString etiqueta = enLinea(s, i + 1, cierra, tinta);
                    const QString esquema = url.scheme().toLower();
                    if (url.isValid() && (esquema == QLatin1String("http") || esquema == QLatin1String("https") ||
                                          esquema == QLatin1String("mailto")))
                        out += QStringLiteral("<a href=\"%1\" style=\"color:%2;text-decoration:underline\">%3</a>")
                                   .arg(url.toString(QUrl::FullyEncoded).toHtmlEscaped(), tinta.name(), etiqueta);
                    else
                        out += etiqueta;
                    i = finUrl + 1;
                    continue;
                }
            }
        }
        struct Marca {
            const char* delim;
            const char* abre;
            const char* cierra;
        };
        static const Marca marcas[] = {{"**", "<b>", "</b>"}, {"__", "<b>", "</b>"}, {"~~", "<s>", "</s>"},
                                       {"*", "<i>", "</i>"},  {"_", "<i>", "</i>"}};
        bool hecho = false;
        for (const Marca& m : marcas) {
            const QString d = QString::fromLatin1(m.delim);
            if (QStringView(s).mid(i, d.size()) != d || !abreEn(i, d.size())) continue;
            if (d[0] == QLatin1Char('_') && i > desde && s[i - 1].isLetterOrNumber()) continue;
            if (d.size() == 1 && i + 1 < hasta && s[i + 1] == d[0]) continue;
            const qsizetype fin = cierre(i + d.size() + 1, d);
            if (fin < 0) continue;
            out += QString::fromLatin1(m.abre) + enLinea(s, i + d.size(), fin, tinta) + QString::fromLatin1(m.cierra);
            i = fin + d.size();
            hecho = true;
            break;
        }
        if (hecho) continue;
        if (c == QLatin1Char('\n'))
            out += QStringLiteral("<br>");
        else
            out += escapar(QStringView(s).mid(i, 1));
        ++i;
    }
    return out;
}

}  // namespace

namespace {

const QFont& fuenteTexto() {
    static const QFont f = TipoArchivo::fuente(13, QFont::Normal);
    return f;
}

// The browser over a bubble's text: the wheel goes on to the list.
class NavegadorBurbuja : public QTextBrowser {
public:
    using QTextBrowser::QTextBrowser;

protected:
    void wheelEvent(QWheelEvent* evento) override { evento->ignore(); }
};

}  // namespace

TextoBurbuja::TextoBurbuja(const QString& html, const QColor& tinta, const QColor& seleccion, QWidget* padre)
    : QWidget(padre), doc_(new QTextDocument(this)), tinta_(tinta), seleccion_(seleccion) {
    setFont(fuenteTexto());
    doc_->setUndoRedoEnabled(false);
    doc_->setDocumentMargin(0);
    doc_->setDefaultFont(fuenteTexto());
    QTextOption opcion = doc_->defaultTextOption();
    // A long address or token breaks anywhere rather than running out of the bubble.
    opcion.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    doc_->setDefaultTextOption(opcion);
    doc_->setHtml(html);
    // The text's shaped glyphs are kept: otherwise every paint and every measure at another width
    // shapes the whole text again.
    for (QTextBlock b = doc_->begin(); b.isValid(); b = b.next()) b.layout()->setCacheEnabled(true);
    // What a screen reader reads of it before the browser exists.
    setAccessibleName(doc_->toPlainText());
}

TextoBurbuja::~TextoBurbuja() {
    // The browser shows the document: it goes first.
    delete navegador_;
}

QString TextoBurbuja::toPlainText() const { return doc_->toPlainText(); }

QTextBrowser* TextoBurbuja::activar() {
    if (navegador_) return navegador_;
    auto* b = new NavegadorBurbuja(this);
    b->setFrameShape(QFrame::NoFrame);
    b->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    b->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    b->setOpenLinks(false);
    b->setOpenExternalLinks(false);
    b->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    b->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse);
    b->setContextMenuPolicy(Qt::DefaultContextMenu);
    b->setFont(fuenteTexto());
    b->viewport()->setAutoFillBackground(false);
    b->setAttribute(Qt::WA_TranslucentBackground);
    QPalette p = b->palette();
    p.setColor(QPalette::Base, Qt::transparent);
    p.setColor(QPalette::Window, Qt::transparent);
    p.setColor(QPalette::Text, tinta_);
    p.setColor(QPalette::WindowText, tinta_);
    p.setColor(QPalette::Highlight, seleccion_);
    p.setColor(QPalette::HighlightedText, tinta_);
    b->setPalette(p);
    b->setGeometry(rect());
    b->setDocument(doc_);
    connect(b, &QTextBrowser::anchorClicked, this, &TextoBurbuja::anchorClicked);
    navegador_ = b;
    b->show();
    return b;
}

void TextoBurbuja::pasar(QEvent* evento) {
    // What the browser leaves comes back up to this widget, its parent: it goes on up from here.
    if (pasando_) {
        evento->ignore();
        return;
    }
    pasando_ = true;
    QWidget* destino = activar()->viewport();
    bool aceptado = false;
    if (evento->type() == QEvent::ContextMenu) {
        auto* e = static_cast<QContextMenuEvent*>(evento);
        QContextMenuEvent copia(e->reason(), e->pos(), e->globalPos(), e->modifiers());
        QCoreApplication::sendEvent(destino, &copia);
        aceptado = copia.isAccepted();
    } else {
        auto* e = static_cast<QMouseEvent*>(evento);
        QMouseEvent copia(e->type(), e->position(), e->scenePosition(), e->globalPosition(), e->button(), e->buttons(),
                          e->modifiers(), e->pointingDevice());
        QCoreApplication::sendEvent(destino, &copia);
        aceptado = copia.isAccepted();
    }
    pasando_ = false;
    evento->setAccepted(aceptado);
}

void TextoBurbuja::enterEvent(QEnterEvent* evento) {
    QWidget::enterEvent(evento);
    activar();
}

// Once the browser is there it gets the pointer itself; what reaches this widget then is what the
// browser left, and it goes on up. Only a press that came before the browser is handed on, with
// the moves and the release that follow it.
void TextoBurbuja::mousePressEvent(QMouseEvent* evento) {
    if (navegador_ && !reenviando_) return evento->ignore();
    reenviando_ = true;
    pasar(evento);
}

void TextoBurbuja::mouseMoveEvent(QMouseEvent* evento) {
    if (!reenviando_) return evento->ignore();
    pasar(evento);
}

void TextoBurbuja::mouseReleaseEvent(QMouseEvent* evento) {
    if (!reenviando_) return evento->ignore();
    pasar(evento);
    if (evento->buttons() == Qt::NoButton) reenviando_ = false;
}

void TextoBurbuja::mouseDoubleClickEvent(QMouseEvent* evento) {
    if (!reenviando_) return evento->ignore();
    pasar(evento);
}

void TextoBurbuja::contextMenuEvent(QContextMenuEvent* evento) {
    if (navegador_) return evento->ignore();
    pasar(evento);
}

void TextoBurbuja::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    if (navegador_) navegador_->setGeometry(rect());
}

bool TextoBurbuja::yaCabe(int ancho) const {
    // Laid out wider, left-to-right text that is no wider than `ancho` breaks into the same lines
    // and draws the same: laying it out again would only shape it again.
    if (doc_->textWidth() < ancho || doc_->idealWidth() > ancho) return false;
    for (QTextBlock b = doc_->begin(); b.isValid(); b = b.next()) {
        const Qt::Alignment lado = b.blockFormat().alignment() & Qt::AlignHorizontal_Mask;
        if (b.textDirection() != Qt::LeftToRight || (lado & ~Qt::AlignLeft)) return false;
    }
    return true;
}

void TextoBurbuja::paintEvent(QPaintEvent* evento) {
    if (navegador_) return;
    if (doc_->textWidth() != width() && !yaCabe(width())) doc_->setTextWidth(width());
    QPainter p(this);
    QAbstractTextDocumentLayout::PaintContext contexto;
    contexto.palette.setColor(QPalette::Text, tinta_);
    contexto.clip = QRectF(evento->rect());
    p.setClipRect(evento->rect());
    doc_->documentLayout()->draw(&p, contexto);
}

void TextoBurbuja::devolverAncho() const {
    if (navegador_ && doc_->textWidth() != navegador_->viewport()->width())
        doc_->setTextWidth(navegador_->viewport()->width());
}

int TextoBurbuja::anchoIdeal(int anchoMax) const {
    if (ideal_ && ideal_->first == anchoMax) return ideal_->second;
    doc_->setTextWidth(anchoMax);
    ideal_.emplace(anchoMax, std::min(anchoMax, int(std::ceil(doc_->idealWidth())) + 1));
    // At its ideal width the text breaks into the same lines: its height is known already.
    alto_.emplace(ideal_->second, int(std::ceil(doc_->size().height())));
    devolverAncho();
    return ideal_->second;
}

int TextoBurbuja::altoPara(int ancho) const {
    if (alto_ && alto_->first == ancho) return alto_->second;
    doc_->setTextWidth(ancho);
    alto_.emplace(ancho, int(std::ceil(doc_->size().height())));
    devolverAncho();
    return alto_->second;
}

QString Burbuja::principio(const QString& texto) {
    if (texto.size() <= kMaximoTexto) return texto;
    qsizetype corte = kMaximoTexto;
    // A line break or a space in the last stretch makes a cleaner end than the middle of a word.
    const QStringView cola = QStringView(texto).left(kMaximoTexto);
    for (qsizetype i = kMaximoTexto - 1; i >= kMaximoTexto - 300; --i)
        if (cola[i] == QLatin1Char('\n')) {
            corte = i;
            break;
        }
    if (corte == kMaximoTexto)
        for (qsizetype i = kMaximoTexto - 1; i >= kMaximoTexto - 80; --i)
            if (cola[i].isSpace()) {
                corte = i;
                break;
            }
    if (corte == kMaximoTexto && texto[corte - 1].isHighSurrogate()) --corte;
    QString r = texto.left(corte);
    while (!r.isEmpty() && r.back().isSpace()) r.chop(1);
    return r + QStringLiteral("…");
}

QString Burbuja::html(const QString& texto, const QColor& tinta) {
    return QStringLiteral("<span style=\"white-space:pre-wrap\">") + enLinea(texto, 0, texto.size(), tinta) +
           QStringLiteral("</span>");
}

Burbuja::Burbuja(ChatZentu::Mensaje m, QList<ChatZentu::Mensaje> album, Abrir abrir, Esquema esquema, QWidget* padre)
    : QWidget(padre), m_(std::move(m)), album_(std::move(album)), abrir_(std::move(abrir)), esquema_(esquema) {
    setAttribute(Qt::WA_TranslucentBackground);
    const Paleta pal(esquema_);
    if (m_.deZentu && !m_.autor.isEmpty() && m_.autor.toLower() != QLatin1String("zentu")) autor_ = m_.autor;

    const auto abrirUno = [this](const ChatZentu::Adjunto& a) {
        if (abrir_) abrir_(a);
    };
    if (album_.size() >= 2) {
        QList<ChatZentu::Adjunto> adjuntos;
        for (const ChatZentu::Mensaje& x : album_)
            if (x.adjunto) adjuntos << *x.adjunto;
        area_ = new Mosaico(adjuntos, esquema_, abrirUno, this);
        textoAcotado_ = true;
    } else if (m_.adjunto) {
        const ChatZentu::Adjunto a = *m_.adjunto;
        if (a.esImagen) {
            auto* img = new ImagenAdjunta(a, esquema_, [abrirUno, a] { abrirUno(a); }, this);
            img->alFallar = [this, a] { ponerFila(a); };
            area_ = img;
        } else {
            ponerFila(a);
        }
    }

    const QString visible = textoVisible(m_);
    if (!visible.isEmpty()) {
        const QString muestra = principio(visible);
        texto_ = new TextoBurbuja(html(muestra, pal.tinta), pal.tinta, conAlfa(pal.lima, 0.45), this);
        if (visible.size() > kMaximoTexto)
            pliegue_ = new PliegueTexto(visible, m_.id, muestra.size() - 1, esquema_, this);
        connect(texto_, &TextoBurbuja::anchorClicked, this, [](const QUrl& url) {
            const QString tipo = url.scheme().toLower();
            if (tipo == QLatin1String("http") || tipo == QLatin1String("https") || tipo == QLatin1String("mailto"))
                Escritorio::actual().abrirUrl(url);
        });
    }
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void Burbuja::ponerFila(const ChatZentu::Adjunto& a) {
    auto* fila = new FilaArchivo(a, esquema_, this);
    connect(fila, &QAbstractButton::clicked, this, [this, a] {
        if (abrir_) abrir_(a);
    });
    if (area_) area_->deleteLater();
    area_ = fila;
    cache_.reset();
    if (isVisible()) fila->show();
    aplicar();
    updateGeometry();
}

bool Burbuja::imagenesListas() const {
    if (auto* img = qobject_cast<ImagenAdjunta*>(area_)) return img->estado() != ImagenAdjunta::Estado::cargando;
    if (auto* mos = qobject_cast<Mosaico*>(area_)) return mos->listo();
    return true;
}

Burbuja::Disposicion Burbuja::calcular(int ancho) const {
    if (cache_ && cache_->first == ancho) return cache_->second;
    Disposicion d;
    const int maxBurbuja = std::max(60, ancho - 48);
    const int maxInterior = maxBurbuja - 24;
    int anchoInterior = 0;
    QList<QSize> partes;
    QSize tamAutor, tamArea, tamTexto;
    QFont fAutor = TipoArchivo::fuente(11, QFont::DemiBold);
    if (!autor_.isEmpty()) {
        const QFontMetricsF fm(fAutor);
        tamAutor = QSize(std::min(maxInterior, int(std::ceil(fm.horizontalAdvance(autor_)))), int(std::ceil(fm.height())));
    }
    if (area_) {
        if (auto* mos = qobject_cast<Mosaico*>(area_))
            tamArea = mos->tamanoPara(maxInterior);
        else if (auto* fila = qobject_cast<FilaArchivo*>(area_))
            tamArea = fila->tamanoPara(maxInterior);
        else
            tamArea = area_->size();
    }
    QSize tamPliegue;
    if (texto_) {
        const int maxTexto = textoAcotado_ ? std::min(240, maxInterior) : maxInterior;
        int anchoTexto = texto_->anchoIdeal(maxTexto);
        if (pliegue_) {
            tamPliegue = pliegue_->tamanoPara(maxTexto);
            anchoTexto = std::max(anchoTexto, tamPliegue.width());
        }
        tamTexto = QSize(anchoTexto, texto_->altoPara(anchoTexto));
    }
    for (const QSize& t : {tamAutor, tamArea, tamTexto, tamPliegue}) anchoInterior = std::max(anchoInterior, t.width());
    const int anchoBurbuja = anchoInterior + 24;
    const int x0 = m_.deZentu ? 0 : ancho - anchoBurbuja;
    int y = 8;
    const auto poner = [&](const QSize& t, QRect& destino) {
        if (t.isEmpty()) return;
        if (y > 8) y += 6;
        destino = QRect(x0 + 12, y, t.width(), t.height());
        y += t.height();
    };
    poner(tamAutor, d.autor);
    poner(tamArea, d.area);
    poner(tamTexto, d.texto);
    poner(tamPliegue, d.pliegue);
    d.alto = y + 8;
    d.burbuja = QRectF(x0, 0, anchoBurbuja, d.alto);
    cache_.emplace(ancho, d);
    return d;
}

int Burbuja::heightForWidth(int ancho) const { return calcular(ancho).alto; }

QSize Burbuja::sizeHint() const {
    // Before it has a width of its own, the width its list will give it: measured there, the
    // layout that follows finds the text already laid out at that width.
    int ancho = width();
    if (ancho <= 0 && parentWidget()) {
        const QMargins m = parentWidget()->layout() ? parentWidget()->layout()->contentsMargins() : QMargins();
        ancho = parentWidget()->width() - m.left() - m.right();
    }
    if (ancho <= 0) ancho = 380;
    return QSize(ancho, calcular(ancho).alto);
}

void Burbuja::aplicar() {
    const Disposicion d = calcular(width());
    burbuja_ = d.burbuja;
    if (area_) {
        area_->setGeometry(d.area);
        if (auto* mos = qobject_cast<Mosaico*>(area_)) mos->disponer(d.area.width());
    }
    if (texto_) texto_->setGeometry(d.texto);
    if (pliegue_) pliegue_->setGeometry(d.pliegue);
    if (height() != d.alto) setFixedHeight(d.alto);
    update();
}

void Burbuja::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    aplicar();
}

namespace {

// The bubble's shape: a rounded rectangle of radius 16 filled with `relleno` and, for the owner's
// bubbles, a hairline `trazo` inside its edge.
void pintarForma(QPainter& p, const QRectF& r, const QColor& relleno, std::optional<QColor> trazo) {
    QPainterPath forma;
    forma.addRoundedRect(r, 16, 16);
    p.fillPath(forma, relleno);
    if (!trazo) return;
    p.setPen(QPen(*trazo, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), 15.5, 15.5);
}

// The four rounded corners of that shape, drawn once per look as one 32 × 32 circle; a bubble is
// then its corners and straight bands, copied and filled at every repaint of the list instead of
// rasterising its whole outline each time.
const QImage& esquinas(const QColor& relleno, std::optional<QColor> trazo, qreal dpr) {
    static QHash<QString, QImage> hechas;
    const QString clave = relleno.name(QColor::HexArgb) + (trazo ? trazo->name(QColor::HexArgb) : QString()) +
                          QString::number(dpr);
    auto i = hechas.find(clave);
    if (i != hechas.end()) return *i;
    QImage img(QSize(32, 32) * dpr, QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(dpr);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    pintarForma(p, QRectF(0, 0, 32, 32), relleno, trazo);
    p.end();
    return *hechas.insert(clave, img);
}

}  // namespace

void Burbuja::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const Paleta pal(esquema_);
    const Disposicion& d = calcular(width());
    const bool oscuro = esquema_ == Esquema::oscuro;
    const QColor relleno = m_.deZentu ? conAlfa(pal.tinta, 0.09) : conAlfa(pal.lima, oscuro ? 0.16 : 0.24);
    const std::optional<QColor> trazo =
        m_.deZentu ? std::nullopt : std::optional<QColor>(conAlfa(pal.lima, oscuro ? 0.35 : 0.6));
    const QRect r = d.burbuja.toRect();
    if (QRectF(r) != d.burbuja || r.width() < 32 || r.height() < 32) {
        p.setRenderHint(QPainter::Antialiasing);
        pintarForma(p, d.burbuja, relleno, trazo);
    } else {
        const qreal dpr = devicePixelRatioF();
        const QImage& e = esquinas(relleno, trazo, dpr);
        const int x = r.x(), y = r.y(), w = r.width(), h = r.height();
        for (const QPoint esquina : {QPoint(0, 0), QPoint(16, 0), QPoint(0, 16), QPoint(16, 16)})
            p.drawImage(QRectF(x + (esquina.x() ? w - 16 : 0), y + (esquina.y() ? h - 16 : 0), 16, 16), e,
                        QRectF(QPointF(esquina) * dpr, QSizeF(16, 16) * dpr));
        p.fillRect(QRect(x + 16, y, w - 32, h), relleno);
        p.fillRect(QRect(x, y + 16, 16, h - 32), relleno);
        p.fillRect(QRect(x + w - 16, y + 16, 16, h - 32), relleno);
        if (trazo) {
            p.fillRect(QRect(x + 16, y, w - 32, 1), *trazo);
            p.fillRect(QRect(x + 16, y + h - 1, w - 32, 1), *trazo);
            p.fillRect(QRect(x, y + 16, 1, h - 32), *trazo);
            p.fillRect(QRect(x + w - 1, y + 16, 1, h - 32), *trazo);
        }
    }
    p.setRenderHint(QPainter::Antialiasing);
    if (!autor_.isEmpty()) {
        const QFont f = TipoArchivo::fuente(11, QFont::DemiBold);
        p.setFont(f);
        p.setPen(conAlfa(pal.tinta, 0.55));
        p.drawText(QRectF(d.autor).adjusted(0, 0, 1, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                   QFontMetricsF(f).elidedText(autor_, Qt::ElideRight, d.autor.width() + 1));
    }
}

// ---------------------------------------------------------------------------------------------

namespace {

const QFont& fuenteAviso() {
    static const QFont f = TipoArchivo::fuente(11, QFont::Normal);
    return f;
}

const QFont& fuenteEnlace() {
    static const QFont f = [] {
        QFont g = TipoArchivo::fuente(11.5, QFont::DemiBold);
        g.setUnderline(true);
        return g;
    }();
    return f;
}

// A link-like button: underlined text in the ink colour.
class Enlace : public QAbstractButton {
public:
    Enlace(const QString& texto, QColor tinta, QWidget* padre) : QAbstractButton(padre), tinta_(tinta) {
        setText(texto);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus);
        setFixedSize(sizeHint());
    }
    QSize sizeHint() const override {
        const QFontMetricsF fm(fuenteEnlace());
        return QSize(int(std::ceil(fm.horizontalAdvance(text()))) + 2, int(std::ceil(fm.height())) + 2);
    }
    void cambiar(const QString& texto) {
        setText(texto);
        setFixedSize(sizeHint());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setFont(fuenteEnlace());
        p.setPen(isDown() ? conAlfa(tinta_, 0.6) : tinta_);
        p.drawText(QRectF(rect()), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    }

private:
    QColor tinta_;
};

constexpr int kEntreLineas = 4;
constexpr int kEntreEnlaces = 14;

}  // namespace

PliegueTexto::PliegueTexto(QString entero, QString id, qsizetype mostrados, Esquema esquema, QWidget* padre)
    : QWidget(padre), entero_(std::move(entero)), id_(std::move(id)), aviso_(aviso(mostrados, entero_.size())),
      esquema_(esquema) {
    const QColor tinta = Paleta(esquema_).tinta;
    abrir_ = new Enlace(QStringLiteral("Abrir entero"), tinta, this);
    abrir_->setToolTip(QStringLiteral("Abrir el mensaje entero en el editor de textos"));
    copiar_ = new Enlace(QStringLiteral("Copiar entero"), tinta, this);
    copiar_->setToolTip(QStringLiteral("Copiar el mensaje entero al portapapeles"));
    connect(abrir_, &QAbstractButton::clicked, this, &PliegueTexto::abrir);
    connect(copiar_, &QAbstractButton::clicked, this, &PliegueTexto::copiar);
    colocar();
}

QString PliegueTexto::aviso(qsizetype mostrados, qsizetype total) {
    const QLocale es(QLocale::Spanish, QLocale::Spain);
    return QStringLiteral("Mensaje largo: aquí ves %1 de %2 caracteres.").arg(es.toString(mostrados), es.toString(total));
}

QSize PliegueTexto::tamanoPara(int anchoMax) const {
    const QFontMetrics fm(fuenteAviso());
    const QRect r = fm.boundingRect(QRect(0, 0, std::max(40, anchoMax), 10000), Qt::TextWordWrap, aviso_);
    const int enlaces = abrir_->width() + kEntreEnlaces + copiar_->width();
    const int ancho = std::min(std::max(40, anchoMax), std::max(r.width(), enlaces));
    return QSize(ancho, r.height() + kEntreLineas + std::max(abrir_->height(), copiar_->height()));
}

void PliegueTexto::colocar() {
    const QFontMetrics fm(fuenteAviso());
    const int altoAviso = fm.boundingRect(QRect(0, 0, std::max(40, width()), 10000), Qt::TextWordWrap, aviso_).height();
    abrir_->move(0, altoAviso + kEntreLineas);
    copiar_->move(abrir_->width() + kEntreEnlaces, altoAviso + kEntreLineas);
}

void PliegueTexto::resizeEvent(QResizeEvent* evento) {
    QWidget::resizeEvent(evento);
    colocar();
}

void PliegueTexto::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(fuenteAviso());
    p.setPen(conAlfa(Paleta(esquema_).tinta, 0.6));
    p.drawText(QRect(0, 0, width(), abrir_->y()), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, aviso_);
}

void PliegueTexto::copiar() {
    QGuiApplication::clipboard()->setText(entero_);
    static_cast<Enlace*>(copiar_)->cambiar(QStringLiteral("Copiado"));
}

void PliegueTexto::abrir() {
    const QString carpeta = Adjuntos::carpeta();
    auto fallo = [this] {
        aviso_ = QStringLiteral("No se pudo abrir el mensaje entero: cópialo.");
        update();
    };
    if (carpeta.isEmpty()) return fallo();
    const QString ruta = carpeta + QLatin1Char('/') + Adjuntos::nombreSeguro(QStringLiteral("mensaje-") + id_) +
                         QStringLiteral(".txt");
    // Megabytes of text are written away from the main thread; the file opens once it is whole.
    QPointer<PliegueTexto> yo(this);
    QThreadPool::globalInstance()->start([yo, ruta, texto = entero_, fallo] {
        QSaveFile f(ruta);
        const bool ok = f.open(QIODevice::WriteOnly) && f.write(texto.toUtf8()) >= 0 && f.commit();
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [yo, ruta, ok, fallo] {
                if (!yo) return;
                if (!ok || !Escritorio::actual().abrirArchivo(ruta)) fallo();
            },
            Qt::QueuedConnection);
    });
}

// ---------------------------------------------------------------------------------------------

BurbujaParaCaptura::BurbujaParaCaptura(ChatZentu::Mensaje m, Esquema esquema, QWidget* padre)
    : Burbuja(std::move(m), {}, [](const ChatZentu::Adjunto&) {}, esquema, padre) {}

// ---------------------------------------------------------------------------------------------

Escribiendo::Escribiendo(Esquema esquema, Reloj& reloj, QWidget* padre)
    : QWidget(padre), esquema_(esquema), reloj_(reloj) {
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(sizeHint());
}

double Escribiendo::opacidad(int i, double fase) { return std::max(0.0, std::sin(fase - 0.7 * i)) * 0.65 + 0.35; }

void Escribiendo::showEvent(QShowEvent* evento) {
    QWidget::showEvent(evento);
    inicio_ = reloj_.segundos();
    fase_ = 0;
    cuadro();
}

void Escribiendo::hideEvent(QHideEvent* evento) {
    QWidget::hideEvent(evento);
    siguiente_.cancelar();
}

void Escribiendo::cuadro() {
    const double t = std::fmod(reloj_.segundos() - inicio_, periodo);
    fase_ = t / periodo * 2 * std::numbers::pi;
    update();
    siguiente_ = reloj_.programar(1.0 / 30, this, [this] { cuadro(); });
}

void Escribiendo::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor tinta = Paleta(esquema_).tinta;
    QPainterPath fondo;
    fondo.addRoundedRect(QRectF(rect()), 16, 16);
    p.fillPath(fondo, conAlfa(tinta, 0.09));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 3; ++i) {
        p.setBrush(conAlfa(tinta, 0.5 * opacidad(i, fase_)));
        p.drawEllipse(QRectF(12 + i * 10, 10, 6, 6));
    }
}
