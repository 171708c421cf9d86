#include "zentu/chat/TipoArchivo.h"

#include "plataforma/Miniaturas.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLocale>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QThreadPool>
#include <algorithm>
#include <cmath>

namespace TipoArchivo {
namespace {

QColor rgb(double r, double g, double b) { return QColor::fromRgbF(float(r), float(g), float(b)); }

QString tamanoEnBytes(qint64 bytes) {
    // Decimal units, with more digits as the unit grows, the way file sizes are usually shown.
    const int decimales = bytes < 1'000'000 ? 0 : bytes < 1'000'000'000 ? 1 : 2;
    return QLocale().formattedDataSize(bytes, decimales, QLocale::DataSizeSIFormat);
}

}  // namespace

QString extension(const QString& nombre) {
    QString ultimo = nombre;
    while (ultimo.endsWith(QLatin1Char('/'))) ultimo.chop(1);
    ultimo = ultimo.mid(ultimo.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype punto = ultimo.lastIndexOf(QLatin1Char('.'));
    // A hidden file's leading dot (".bashrc") does not start an extension.
    if (punto <= 0) return {};
    return ultimo.mid(punto + 1);
}

Insignia de(const QString& nombre) {
    const QString e = extension(nombre).toLower();
    struct Fila {
        QStringList extensiones;
        QColor color;
    };
    static const Fila filas[] = {
        {{"pdf"}, rgb(0.91, 0.30, 0.27)},
        {{"xls", "xlsx", "csv", "numbers"}, rgb(0.13, 0.62, 0.38)},
        {{"doc", "docx", "pages", "rtf", "txt", "md"}, rgb(0.24, 0.48, 0.93)},
        {{"ppt", "pptx", "key"}, rgb(0.95, 0.55, 0.18)},
        {{"zip", "rar", "7z"}, rgb(0.5, 0.5, 0.5)},
        {{"mp3", "m4a", "wav", "ogg", "opus"}, rgb(0.60, 0.40, 0.90)},
        {{"mp4", "mov", "webm"}, rgb(0.85, 0.30, 0.60)},
    };
    for (const Fila& f : filas)
        if (f.extensiones.contains(e)) return {e.toUpper(), f.color};
    const QColor gris = rgb(0.5, 0.5, 0.5);
    if (e.isEmpty()) return {QStringLiteral("ARCHIVO"), gris};
    return {e.left(5).toUpper(), gris};
}

QString detalle(const QUrl& archivo) {
    const QString ruta = archivo.toLocalFile();
    const QFileInfo info(ruta);
    QStringList piezas{de(info.fileName().isEmpty() ? archivo.fileName() : info.fileName()).etiqueta};
    std::optional<int> paginas;
    if (extension(ruta).toLower() == QLatin1String("pdf")) paginas = Miniaturas::paginasPdf(ruta);
    if (paginas) {
        piezas << (*paginas == 1 ? QStringLiteral("1 página") : QString::number(*paginas) + QStringLiteral(" páginas"));
    } else if (const auto tam = Miniaturas::tamanoImagen(ruta)) {
        piezas << QStringLiteral("%1 × %2").arg(tam->width()).arg(tam->height());
    }
    if (info.isFile()) piezas << tamanoEnBytes(info.size());
    return piezas.join(QStringLiteral(" · "));
}

QFont fuente(qreal puntos, QFont::Weight peso, bool redondeada) {
    QFont f;
    f.setFamilies(redondeada ? QStringList{QStringLiteral("Comfortaa"), QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")}
                             : QStringList{QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setWeight(peso);
    // Sizes are logical pixels: undo the screen's dots per inch.
    const QScreen* s = QGuiApplication::primaryScreen();
    const qreal dpi = s ? s->logicalDotsPerInchY() : 96;
    f.setPointSizeF(puntos * 72.0 / (dpi > 0 ? dpi : 96));
    return f;
}

}  // namespace TipoArchivo

// ---------------------------------------------------------------------------------------------

FichaTipo::FichaTipo(QString nombre, qreal lado, QWidget* padre) : QWidget(padre), nombre_(std::move(nombre)), lado_(lado) {
    setAttribute(Qt::WA_TranslucentBackground);
    const int l = int(std::ceil(lado_));
    setFixedSize(l, l);
}

QSize FichaTipo::sizeHint() const { return QSize(int(std::ceil(lado_)), int(std::ceil(lado_))); }

void FichaTipo::pintar(QPainter& p, const QRectF& cuadro, const QString& nombre) {
    const auto [etiqueta, color] = TipoArchivo::de(nombre);
    const qreal lado = cuadro.width();
    const qreal r = 0.22 * lado;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QColor relleno = color;
    relleno.setAlphaF(0.16f);
    QPainterPath forma;
    forma.addRoundedRect(cuadro, r, r);
    p.fillPath(forma, relleno);
    QColor borde = color;
    borde.setAlphaF(0.35f);
    p.setPen(QPen(borde, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(cuadro.adjusted(0.5, 0.5, -0.5, -0.5), r - 0.5, r - 0.5);

    // One line, shrinking to 0.6 of its size before it is cut.
    const QRectF zona = cuadro.adjusted(4, 0, -4, 0);
    QFont f = TipoArchivo::fuente(0.24 * lado, QFont::Bold, true);
    const auto medida = [&](const QFont& fu) { return p.device() ? QFontMetricsF(fu, p.device()) : QFontMetricsF(fu); };
    const qreal base = f.pointSizeF();
    const qreal ancho = medida(f).horizontalAdvance(etiqueta);
    if (ancho > zona.width() && ancho > 0) f.setPointSizeF(std::max(base * 0.6, base * zona.width() / ancho * 0.98));
    // Cut only what still does not fit at 0.6; a hair over the edge is rounding, not length.
    const QString texto = medida(f).horizontalAdvance(etiqueta) <= zona.width() + 1
                              ? etiqueta
                              : medida(f).elidedText(etiqueta, Qt::ElideRight, zona.width());
    p.setFont(f);
    p.setPen(color);
    p.drawText(zona, Qt::AlignCenter | Qt::TextSingleLine, texto);
    p.restore();
}

void FichaTipo::paintEvent(QPaintEvent*) {
    QPainter p(this);
    pintar(p, QRectF(0, 0, lado_, lado_), nombre_);
}

// ---------------------------------------------------------------------------------------------

Miniatura::Miniatura(QUrl url, qreal lado, Esquema esquema, QWidget* padre)
    : QWidget(padre), url_(std::move(url)), lado_(lado), esquema_(esquema) {
    setAttribute(Qt::WA_TranslucentBackground);
    const int l = int(std::ceil(lado_));
    setFixedSize(l, l);
}

QSize Miniatura::sizeHint() const { return QSize(int(std::ceil(lado_)), int(std::ceil(lado_))); }

void Miniatura::setUrl(const QUrl& url) {
    if (url == url_) return;
    url_ = url;
    imagen_ = QImage();
    update();
    if (isVisible()) pedir();
}

void Miniatura::showEvent(QShowEvent* evento) {
    QWidget::showEvent(evento);
    pedir();
}

void Miniatura::pedir() {
    const quint64 numero = ++peticion_;
    const QScreen* s = QGuiApplication::primaryScreen();
    const qreal escala = s ? s->devicePixelRatio() : 2;
    const int px = std::max(1, int(std::ceil(lado_ * escala)));
    const QString ruta = url_.isLocalFile() ? url_.toLocalFile() : QString();
    QPointer<Miniatura> yo(this);
    QThreadPool::globalInstance()->start([yo, numero, ruta, px] {
        QImage img = ruta.isEmpty() ? QImage() : Miniaturas::generar(ruta, QSize(px, px));
        // The application object outlives the view; the view itself may be gone by now.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [yo, numero, img = std::move(img)] {
                if (!yo || yo->peticion_ != numero) return;
                yo->imagen_ = img;
                yo->update();
                Q_EMIT yo->intentada();
            },
            Qt::QueuedConnection);
    });
}

void Miniatura::pintarImagen(QPainter& p, const QRectF& cuadro, const QImage& imagen, Esquema esquema) {
    const qreal r = 0.18 * cuadro.width();
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath forma;
    forma.addRoundedRect(cuadro, r, r);
    p.setClipPath(forma);
    // Scaled to fill: the middle of the picture, cropped to the square's proportions.
    const QSizeF img = imagen.size();
    const double f = std::max(cuadro.width() / img.width(), cuadro.height() / img.height());
    const QSizeF vista(cuadro.width() / f, cuadro.height() / f);
    const QRectF origen((img.width() - vista.width()) / 2, (img.height() - vista.height()) / 2, vista.width(), vista.height());
    p.drawImage(cuadro, imagen, origen);
    p.setClipping(false);
    QColor borde = esquema == Esquema::oscuro ? QColor(Qt::white) : QColor(Qt::black);
    borde.setAlphaF(0.12f);
    p.setPen(QPen(borde, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(cuadro.adjusted(0.5, 0.5, -0.5, -0.5), r - 0.5, r - 0.5);
    p.restore();
}

void Miniatura::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRectF cuadro(0, 0, lado_, lado_);
    if (imagen_.isNull() || imagen_.width() < 1 || imagen_.height() < 1)
        FichaTipo::pintar(p, cuadro, url_.fileName());
    else
        pintarImagen(p, cuadro, imagen_, esquema_);
}
