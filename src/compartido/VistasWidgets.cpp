#include "compartido/VistasWidgets.h"

#include "compartido/Instantanea.h"
#include "compartido/Ruido.h"

#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPainter>
#include <QRadialGradient>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <algorithm>
#include <charconv>
#include <cmath>

QString nombreFamilia(FamiliaW familia) {
    switch (familia) {
    case FamiliaW::pequena: return QStringLiteral("systemSmall");
    case FamiliaW::mediana: return QStringLiteral("systemMedium");
    case FamiliaW::grande: return QStringLiteral("systemLarge");
    }
    return {};
}

namespace {
QColor gris(qreal blanco, qreal opacidad = 1) {
    return QColor::fromRgbF(float(blanco), float(blanco), float(blanco), float(opacidad));
}
QColor rgb255(int r, int g, int b, qreal opacidad = 1) {
    QColor c(r, g, b);
    c.setAlphaF(float(opacidad));
    return c;
}
QColor conOpacidad(QColor c, qreal opacidad) {
    c.setAlphaF(float(c.alphaF() * opacidad));
    return c;
}
}  // namespace

QColor PaletaW::tinta() const { return oscuro ? gris(0.96) : gris(0.08); }
QColor PaletaW::tenue() const { return conOpacidad(tinta(), oscuro ? 0.52 : 0.55); }
QColor PaletaW::lima() const { return oscuro ? rgb255(183, 255, 39) : rgb255(70, 132, 0); }
QColor PaletaW::ambar() const {
    return oscuro ? QColor::fromRgbF(1.0f, 0.74f, 0.30f) : QColor::fromRgbF(0.75f, 0.45f, 0.0f);
}

// ---------------------------------------------------------------------------------------------
// Text

namespace TextoW {

QFont fuente(const QPainter& pintor, qreal puntos, QFont::Weight peso, bool redondeada) {
    QFont f;
    f.setFamilies(redondeada ? QStringList{QStringLiteral("Comfortaa"), QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")}
                             : QStringList{QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")});
    f.setStyleHint(QFont::SansSerif);
    f.setWeight(peso);
    // Logical units are points: undo the device's dots-per-inch so that 12 means 12 units.
    const int dpi = pintor.device() ? pintor.device()->logicalDpiY() : 72;
    f.setPointSizeF(puntos * 72.0 / (dpi > 0 ? dpi : 72));
    return f;
}

static QFontMetricsF metricas(const QPainter& pintor, const QFont& f) {
    return pintor.device() ? QFontMetricsF(f, pintor.device()) : QFontMetricsF(f);
}

qreal ancho(const QPainter& pintor, const QFont& f, const QString& texto) {
    return metricas(pintor, f).horizontalAdvance(texto);
}

qreal alto(const QPainter& pintor, const QFont& f) { return metricas(pintor, f).height(); }

void linea(QPainter& pintor, const QRectF& zona, const QString& texto, const QFont& f, const QColor& color,
           Qt::Alignment alineacion) {
    const QString cortado = metricas(pintor, f).elidedText(texto, Qt::ElideRight, zona.width() + 0.5);
    pintor.save();
    pintor.setFont(f);
    pintor.setPen(color);
    pintor.drawText(zona, int((alineacion & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter | Qt::TextSingleLine),
                    cortado);
    pintor.restore();
}

QFont encoger(const QPainter& pintor, const QFont& f, const QString& texto, qreal anchoMax, qreal minimo) {
    QFont g = f;
    const qreal base = f.pointSizeF();
    for (qreal factor = 1.0; factor >= minimo - 1e-9; factor -= 0.02) {
        g.setPointSizeF(base * std::max(factor, minimo));
        if (ancho(pintor, g, texto) <= anchoMax) return g;
    }
    g.setPointSizeF(base * minimo);
    return g;
}

qreal parrafo(QPainter& pintor, const QRectF& zona, const QString& texto, const QFont& f, const QColor& color,
              int maxLineas, Qt::Alignment alineacion, bool pintar, qreal interlineado) {
    QString contenido = texto;
    contenido.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout diseno(contenido, f, pintor.device());
    QTextOption opcion;
    opcion.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    opcion.setAlignment(alineacion & Qt::AlignHorizontal_Mask);
    diseno.setTextOption(opcion);
    const QFontMetricsF fm = metricas(pintor, f);

    diseno.beginLayout();
    qreal y = 0;
    int cuenta = 0;
    int inicioUltima = -1;
    std::vector<QTextLine> lineas;
    for (;;) {
        QTextLine l = diseno.createLine();
        if (!l.isValid()) break;
        if (maxLineas > 0 && cuenta == maxLineas) {
            // More text than lines: the last line shows the rest, cut with an ellipsis.
            inicioUltima = lineas.back().textStart();
            break;
        }
        l.setLineWidth(zona.width());
        if (cuenta > 0) y += interlineado;
        l.setPosition(QPointF(0, y));
        y += l.height();
        lineas.push_back(l);
        ++cuenta;
    }
    diseno.endLayout();

    if (pintar) {
        pintor.save();
        pintor.setPen(color);
        pintor.setFont(f);
        for (size_t i = 0; i < lineas.size(); ++i) {
            if (inicioUltima >= 0 && i + 1 == lineas.size()) {
                QString resto = contenido.mid(inicioUltima);
                resto.replace(QChar::LineSeparator, QLatin1Char(' '));
                const QString cortado = fm.elidedText(resto.simplified(), Qt::ElideRight, zona.width());
                const QRectF r(zona.left(), zona.top() + lineas[i].y(), zona.width(), lineas[i].height());
                pintor.drawText(r, int((alineacion & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter | Qt::TextSingleLine),
                                cortado);
            } else {
                lineas[i].draw(&pintor, zona.topLeft());
            }
        }
        pintor.restore();
    }
    return y;
}

}  // namespace TextoW

// ---------------------------------------------------------------------------------------------
// Blur: three box passes per axis approximate a Gaussian.

namespace {
void cajaHorizontal(const QImage& desde, QImage& hacia, int r) {
    const int w = desde.width(), h = desde.height();
    const double escala = 1.0 / (2 * r + 1);
    for (int y = 0; y < h; ++y) {
        const QRgb* fila = reinterpret_cast<const QRgb*>(desde.constScanLine(y));
        QRgb* destino = reinterpret_cast<QRgb*>(hacia.scanLine(y));
        double suma[4] = {0, 0, 0, 0};
        auto tomar = [&](int x, double signo) {
            if (x < 0 || x >= w) return;
            const QRgb c = fila[x];
            suma[0] += signo * qAlpha(c);
            suma[1] += signo * qRed(c);
            suma[2] += signo * qGreen(c);
            suma[3] += signo * qBlue(c);
        };
        for (int x = -r; x <= r; ++x) tomar(x, 1);
        for (int x = 0; x < w; ++x) {
            auto canal = [&](int i) { return std::clamp(int(std::lround(suma[i] * escala)), 0, 255); };
            const int a = canal(0);
            destino[x] = qRgba(std::min(canal(1), a), std::min(canal(2), a), std::min(canal(3), a), a);
            tomar(x + r + 1, 1);
            tomar(x - r, -1);
        }
    }
}
}  // namespace

void desenfocar(QImage& imagen, qreal sigma) {
    if (sigma <= 0.1 || imagen.isNull()) return;
    if (imagen.format() != QImage::Format_ARGB32_Premultiplied)
        imagen = imagen.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // Box sizes whose three passes have the Gaussian's variance.
    const int n = 3;
    const double ideal = std::sqrt(12.0 * sigma * sigma / n + 1);
    int wl = int(std::floor(ideal));
    if (wl % 2 == 0) --wl;
    const int wu = wl + 2;
    const double mIdeal = (12 * sigma * sigma - n * wl * wl - 4 * n * wl - 3 * n) / (-4 * wl - 4);
    const int m = int(std::lround(mIdeal));
    QImage tmp(imagen.size(), QImage::Format_ARGB32_Premultiplied);
    for (int i = 0; i < n; ++i) {
        const int r = ((i < m ? wl : wu) - 1) / 2;
        cajaHorizontal(imagen, tmp, r);
        QImage t = tmp.transformed(QTransform(0, 1, 1, 0, 0, 0));
        QImage t2(t.size(), QImage::Format_ARGB32_Premultiplied);
        cajaHorizontal(t, t2, r);
        imagen = t2.transformed(QTransform(0, 1, 1, 0, 0, 0));
    }
}

namespace {
// Scale from the painter's logical units to device pixels (ignoring rotation).
qreal escalaDispositivo(const QPainter& pintor) {
    const QTransform t = pintor.deviceTransform();
    const qreal k = std::sqrt(std::abs(t.determinant()));
    return k > 0 ? k : 1;
}

// Paints `dibujo` (in logical units, origin at `zona`'s top-left) into an offscreen layer,
// blurs it and composes it with `opacidad`.
void capaDesenfocada(QPainter& pintor, const QRectF& zona, qreal radio, qreal opacidad,
                     const std::function<void(QPainter&)>& dibujo) {
    const qreal k = escalaDispositivo(pintor);
    const qreal margen = std::ceil(radio * 3 + 2);
    const QRectF caja = zona.adjusted(-margen, -margen, margen, margen);
    QImage capa(int(std::ceil(caja.width() * k)), int(std::ceil(caja.height() * k)), QImage::Format_ARGB32_Premultiplied);
    if (capa.isNull()) return;
    capa.fill(Qt::transparent);
    {
        QPainter q(&capa);
        q.setRenderHint(QPainter::Antialiasing);
        q.scale(k, k);
        q.translate(margen, margen);
        dibujo(q);
    }
    desenfocar(capa, radio * k);
    pintor.save();
    pintor.setOpacity(pintor.opacity() * opacidad);
    pintor.drawImage(caja, capa);
    pintor.restore();
}
}  // namespace

// ---------------------------------------------------------------------------------------------
// Ages and prefixes

namespace {
qint64 segundosDesde(const QDateTime& fecha, const QDateTime& ahora) {
    return (ahora.toMSecsSinceEpoch() - fecha.toMSecsSinceEpoch()) / 1000;  // truncates towards zero
}
}  // namespace

QString hace(const QDateTime& fecha, const QDateTime& ahora) {
    const qint64 s = segundosDesde(fecha, ahora);
    if (s < 60) return QStringLiteral("ahora");
    if (s < 3600) return QString::number(s / 60) + QStringLiteral(" min");
    if (s < 86400) return QString::number(s / 3600) + QStringLiteral(" h");
    return QString::number(s / 86400) + QStringLiteral(" d");
}

QString MarcoW::hace(const QDateTime& fecha, const QDateTime& ahora) {
    const qint64 s = segundosDesde(fecha, ahora);
    if (s >= 86400) return QStringLiteral("hace ") + QString::number(s / 86400) + QStringLiteral(" d");
    if (s >= 3600) return QStringLiteral("hace ") + QString::number(s / 3600) + QStringLiteral(" h");
    return QStringLiteral("hace ") + QString::number(s / 60) + QStringLiteral(" min");
}

std::optional<QString> MarcoW::sello(const std::optional<QDateTime>& actualizado, const QDateTime& ahora) {
    if (!actualizado || !actualizado->isValid()) return std::nullopt;
    if (*actualizado <= Instantanea::pasadoLejano()) return std::nullopt;
    if (ahora.toMSecsSinceEpoch() - actualizado->toMSecsSinceEpoch() <= 1'800'000) return std::nullopt;
    return QStringLiteral("actualizado ") + hace(*actualizado, ahora);
}

std::pair<QString, std::optional<QString>> partir(const QString& texto) {
    static const std::pair<QString, QString> prefijos[] = {
        {QStringLiteral("Consulta resuelta:"), QStringLiteral("resuelta")},
        {QStringLiteral("Consulta descartada:"), QStringLiteral("descartada")},
    };
    for (const auto& [prefijo, etiqueta] : prefijos) {
        if (!texto.startsWith(prefijo, Qt::CaseSensitive)) continue;
        QString resto = texto.mid(prefijo.size());
        // Spaces and tabs only: a line break is content.
        auto blanco = [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); };
        qsizetype a = 0, b = resto.size();
        while (a < b && blanco(resto.at(a))) ++a;
        while (b > a && blanco(resto.at(b - 1))) --b;
        return {resto.mid(a, b - a), etiqueta};
    }
    return {texto, std::nullopt};
}

// ---------------------------------------------------------------------------------------------
// Background and frame

void FondoWidget::pintar(QPainter& pintor, const QRectF& rect) const {
    pintor.save();
    QLinearGradient lineal(rect.topLeft(), rect.bottomLeft());
    if (oscuro) {
        lineal.setColorAt(0, QColor::fromRgbF(0.055f, 0.07f, 0.065f));
        lineal.setColorAt(1, QColor::fromRgbF(0.018f, 0.022f, 0.02f));
    } else {
        lineal.setColorAt(0, gris(0.985));
        lineal.setColorAt(1, QColor::fromRgbF(0.93f, 0.95f, 0.93f));
    }
    pintor.fillRect(rect, lineal);
    const QPointF centro(rect.left() + brillo.x() * rect.width(), rect.top() + brillo.y() * rect.height());
    QRadialGradient radial(centro, 190);
    const QColor resplandor = oscuro ? rgb255(120, 255, 120, 0.16) : rgb255(140, 220, 60, 0.18);
    radial.setColorAt(0, resplandor);
    radial.setColorAt(1, conOpacidad(resplandor, 0));
    pintor.fillRect(rect, radial);
    pintor.restore();
}

void MarcoW::pintar(QPainter& pintor, const QRectF& rect, ZonasEnlace* enlaces, const QDateTime& ahora) const {
    pintor.save();
    pintor.setClipRect(rect, Qt::IntersectClip);
    pintor.setRenderHint(QPainter::Antialiasing);
    pintor.setRenderHint(QPainter::TextAntialiasing);
    FondoWidget{oscuro, brillo}.pintar(pintor, rect);
    const PaletaW p{oscuro};
    if (contenido) {
        pintor.save();
        contenido(pintor, rect.adjusted(relleno, relleno, -relleno, -relleno), p, enlaces);
        pintor.restore();
    }
    if (const auto texto = sello(actualizado, ahora)) {
        const QFont f = TextoW::fuente(pintor, 9.5, QFont::DemiBold);
        const qreal w = TextoW::ancho(pintor, f, *texto) + 14;
        const qreal h = TextoW::alto(pintor, f) + 6;
        const QRectF capsula(rect.right() - 8 - w, rect.bottom() - 8 - h, w, h);
        pintor.setPen(Qt::NoPen);
        pintor.setBrush(oscuro ? QColor::fromRgbF(0, 0, 0, 0.55f) : QColor::fromRgbF(1, 1, 1, 0.7f));
        pintor.drawRoundedRect(capsula, h / 2, h / 2);
        TextoW::linea(pintor, capsula, *texto, f, p.tenue(), Qt::AlignHCenter);
    }
    pintor.restore();
}

// ---------------------------------------------------------------------------------------------
// Orb

QLinearGradient OrboW::sombreado(QSizeF tamano, bool oscuro) {
    const qreal w = tamano.width(), h = tamano.height();
    QLinearGradient g(QPointF(w / 2, h / 2 + 0.4 * w), QPointF(w / 2, h / 2 - 0.4 * w));
    if (oscuro) {
        g.setColorAt(0.0, rgb255(183, 255, 39, 0.62));
        g.setColorAt(0.5, rgb255(96, 240, 140, 0.5));
        g.setColorAt(1.0, rgb255(45, 226, 200, 0.6));
    } else {
        g.setColorAt(0.0, rgb255(70, 132, 0, 0.55));
        g.setColorAt(0.5, rgb255(20, 140, 80, 0.45));
        g.setColorAt(1.0, rgb255(0, 120, 110, 0.55));
    }
    return g;
}

std::vector<QPainterPath> OrboW::caminos(QSizeF tamano, int lineas) {
    std::vector<QPainterPath> fuera;
    if (lineas < 1) return fuera;
    const double w = tamano.width(), h = tamano.height();
    const double R = 0.36 * std::min(w, h);
    const double cx = w / 2, cy = h / 2;
    const double cosGiro = std::cos(0.477), sinGiro = std::sin(0.477);
    const double cosInc = std::cos(0.32), sinInc = std::sin(0.32);
    // One line per ring would divide by zero; it is drawn at the ring's own tilt instead.
    const double divisor = lineas > 1 ? double(lineas - 1) : 1.0;
    fuera.reserve(size_t(3 * lineas));
    for (int k = 0; k < 3; ++k) {
        const double A = 2.1 * k + 0.954 * (0.35 * k + 0.6);
        const double B = 0.75 * k + 0.9 + 0.35 * std::sin(k + 0.901);
        const double sinA = std::sin(A), cosA = std::cos(A);
        for (int j = 0; j < lineas; ++j) {
            const double phi = B + (lineas > 1 ? (j / divisor - 0.5) : 0.0) * 0.435;
            const double sinPhi = std::sin(phi), cosPhi = std::cos(phi);
            const double z = 0.015 * j;
            QPainterPath camino;
            for (int i = 0; i <= 72; ++i) {
                const double t = 2 * M_PI * i / 72;
                const double ct = std::cos(t), st = std::sin(t);
                double X = cosA * ct - sinA * sinPhi * st;
                double Y = cosPhi * st;
                double Z = sinA * ct + cosA * sinPhi * st;
                const double u = Ruido::valor(1.2 * X + 1.325, 1.2 * Y - 0.954, 3.1 * k + 1.2 * Z + z);
                const double v = Ruido::valor(2.5 * X + 3.18, 2.5 * Z, k + 2.12);
                const double m = 1 + 0.1636 * u + std::max(v, 0.0) * std::max(Y - 0.55, 0.0) * 2.2 * 0.706;
                X *= m;
                Y *= m;
                Z *= m;
                const double X1 = X * cosGiro - Z * sinGiro;
                const double Z1 = X * sinGiro + Z * cosGiro;
                const double Y2 = Y * cosInc - Z1 * sinInc;
                const double Z2 = Y * sinInc + Z1 * cosInc;
                const double q = 2.8 / (Z2 + 2.8);
                const QPointF punto(cx + R * X1 * q, cy - R * Y2 * q);
                if (i == 0)
                    camino.moveTo(punto);
                else
                    camino.lineTo(punto);
            }
            fuera.push_back(camino);
        }
    }
    return fuera;
}

void OrboW::pintar(QPainter& pintor, const QRectF& rect) const {
    const auto lista = caminos(rect.size(), lineas);
    if (lista.empty()) return;
    const QLinearGradient tono = sombreado(rect.size(), oscuro);
    pintor.save();
    pintor.setRenderHint(QPainter::Antialiasing);
    pintor.translate(rect.topLeft());
    pintor.setCompositionMode(oscuro ? QPainter::CompositionMode_Plus : QPainter::CompositionMode_SourceOver);
    auto trazar = [&](QPainter& q, qreal ancho) {
        QPen pluma(QBrush(tono), ancho, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
        q.setPen(pluma);
        q.setBrush(Qt::NoBrush);
        for (const auto& c : lista) q.drawPath(c);
    };
    // The glow: the same lines, wider, blurred and fainter.
    capaDesenfocada(pintor, QRectF(QPointF(0, 0), rect.size()), 0.05 * rect.width(), oscuro ? 0.9 : 0.5,
                    [&](QPainter& q) { trazar(q, grosor * 2.5); });
    trazar(pintor, grosor);
    pintor.restore();
}

// ---------------------------------------------------------------------------------------------
// Link, badge, button, ring, not-linked content

void Enlace::pintar(const QRectF& zona, ZonasEnlace* enlaces, const std::function<void()>& contenido) const {
    if (contenido) contenido();
    if (!CapturaW::activa && enlaces) enlaces->push_back({zona, url});
}

QString Inicial::letra(const QString& nombre) {
    if (nombre.isEmpty()) return {};
    QTextBoundaryFinder grafemas(QTextBoundaryFinder::Grapheme, nombre);
    const qsizetype fin = grafemas.toNextBoundary();
    return nombre.left(fin > 0 ? fin : 1).toUpper();
}

void Inicial::pintar(QPainter& pintor, const QRectF& rect) const {
    const QRectF caja(rect.center().x() - lado / 2, rect.center().y() - lado / 2, lado, lado);
    pintor.save();
    pintor.setRenderHint(QPainter::Antialiasing);
    pintor.setPen(Qt::NoPen);
    pintor.setBrush(conOpacidad(p.lima(), 0.14));
    pintor.drawEllipse(caja);
    pintor.setBrush(Qt::NoBrush);
    pintor.setPen(QPen(conOpacidad(p.lima(), 0.25), 0.5));
    pintor.drawEllipse(caja.adjusted(0.25, 0.25, -0.25, -0.25));  // border inside the badge
    const QString l = letra(nombre);
    if (!l.isEmpty()) {
        const QFont f = TextoW::fuente(pintor, lado * 0.46, QFont::Bold, true);
        pintor.setFont(f);
        pintor.setPen(p.lima());
        pintor.drawText(caja, Qt::AlignCenter | Qt::TextSingleLine, l);
    }
    pintor.restore();
}

void BotonIsla::pintar(QPainter& pintor, const QRectF& rect) const {
    const QRectF circulo(rect.center().x() - lado / 2, rect.center().y() - lado / 2, lado, lado);
    pintor.save();
    pintor.setRenderHint(QPainter::Antialiasing);
    pintor.setPen(Qt::NoPen);
    pintor.setBrush(principal ? p.lima() : conOpacidad(p.tinta(), p.oscuro ? 0.07 : 0.05));
    pintor.drawEllipse(circulo);
    if (!principal) {
        pintor.setBrush(Qt::NoBrush);
        pintor.setPen(QPen(conOpacidad(p.tinta(), p.oscuro ? 0.09 : 0.08), 0.5));
        pintor.drawEllipse(circulo);
    }
    const qreal i = lado * 0.4;
    const QRectF icono(circulo.center().x() - i / 2, circulo.center().y() - i / 2, i, i);
    const QColor color = principal ? (p.oscuro ? QColor(Qt::black) : QColor(Qt::white)) : p.tinta();
    Iconos::trazar(pintor, this->icono, icono, color, 1.7);
    pintor.restore();
}

double Anillo::arco(double fraccion) {
    if (std::isnan(fraccion)) return 1.0;
    return std::max(std::min(fraccion, 1.0), 0.02);
}

void Anillo::pintar(QPainter& pintor, const QRectF& rect) const {
    const qreal d = std::min(rect.width(), rect.height());
    const QRectF circulo(rect.center().x() - d / 2, rect.center().y() - d / 2, d, d);
    const double parte = arco(fraccion);
    pintor.save();
    pintor.setRenderHint(QPainter::Antialiasing);
    pintor.setBrush(Qt::NoBrush);
    pintor.setPen(QPen(conOpacidad(p.tinta(), 0.08), grosor, Qt::SolidLine, Qt::FlatCap));
    pintor.drawEllipse(circulo);

    // From 12 o'clock, clockwise (Qt's angles run counter-clockwise, in sixteenths of a degree).
    auto trazarArco = [&](QPainter& q, const QRectF& c, const QColor& color) {
        q.setBrush(Qt::NoBrush);
        q.setPen(QPen(color, grosor, Qt::SolidLine, Qt::RoundCap));
        if (parte >= 1.0)
            q.drawEllipse(c);
        else
            q.drawArc(c, 90 * 16, -int(std::lround(parte * 360 * 16)));
    };
    if (p.oscuro) {
        const QRectF local(QPointF(0, 0), circulo.size());
        capaDesenfocada(pintor, circulo, 4.0 / 2, 1.0,
                        [&](QPainter& q) { trazarArco(q, local, conOpacidad(color, 0.25)); });
    }
    trazarArco(pintor, circulo, color);
    pintor.restore();
}

void SinEnlazarW::pintar(QPainter& pintor, const QRectF& rect) const {
    OrboW{p.oscuro, 8, 0.7}.pintar(pintor, QRectF(rect.left() - 6, rect.top() - 6, 46, 46));
    const QFont titulo = TextoW::fuente(pintor, 14, QFont::DemiBold);
    const QFont detalle = TextoW::fuente(pintor, 11, QFont::Normal);
    const QString texto = QStringLiteral("Abre la app y escanea el código de tu panel");
    const qreal altoDetalle = TextoW::parrafo(pintor, rect, texto, detalle, p.tenue(), 0, Qt::AlignLeft, false);
    const QRectF zonaDetalle(rect.left(), rect.bottom() - altoDetalle, rect.width(), altoDetalle);
    TextoW::parrafo(pintor, zonaDetalle, texto, detalle, p.tenue());
    const qreal altoTitulo = TextoW::alto(pintor, titulo);
    TextoW::linea(pintor, QRectF(rect.left(), zonaDetalle.top() - 4 - altoTitulo, rect.width(), altoTitulo),
                  QStringLiteral("Enlaza Zentu AI"), titulo, p.tinta());
}

// ---------------------------------------------------------------------------------------------
// Pending decisions

QString VistaPendientesW::etiqueta(qint64 total, bool grande) {
    if (total < 1) return grande ? QStringLiteral("Nada espera por ti") : QStringLiteral("nada espera\npor ti");
    if (total == 1) return grande ? QStringLiteral("decisión espera por ti") : QStringLiteral("decisión espera\npor ti");
    return grande ? QStringLiteral("decisiones esperan por ti") : QStringLiteral("decisiones esperan\npor ti");
}

QString VistaPendientesW::lineaPermisos(qint64 permisos) {
    if (permisos < 1) return {};
    return QStringLiteral("Y %1 %2 para escribirle a alguien")
        .arg(permisos)
        .arg(permisos == 1 ? QStringLiteral("permiso") : QStringLiteral("permisos"));
}

QString VistaPendientesW::nombreVisible(const QString& agente) {
    QString n = agente;
    n.replace(QLatin1Char('_'), QLatin1Char(' '));
    const QString primera = Inicial::letra(n);
    if (primera.isEmpty()) return n;
    QTextBoundaryFinder grafemas(QTextBoundaryFinder::Grapheme, n);
    const qsizetype fin = grafemas.toNextBoundary();
    return primera + n.mid(fin > 0 ? fin : 1);
}

namespace {

// One question card; returns its height. With `pintar` false it only measures.
qreal tarjeta(QPainter& pintor, const QRectF& zona, const Instantanea::Duda& duda, int lineas, const PaletaW& p,
              const QDateTime& ahora, bool pintar) {
    const QFont nombre = TextoW::fuente(pintor, 11.5, QFont::DemiBold);
    const QFont edad = TextoW::fuente(pintor, 10.5, QFont::Medium);
    const QFont pregunta = TextoW::fuente(pintor, 11.5, QFont::Normal);
    const qreal izquierda = zona.left() + 10 + 24 + 9;
    const QRectF columna(izquierda, zona.top() + 8, zona.right() - 10 - izquierda, 0);
    const qreal altoCabecera = std::max(TextoW::alto(pintor, nombre), TextoW::alto(pintor, edad));
    const qreal altoPregunta = TextoW::parrafo(pintor, columna, duda.pregunta, pregunta, QColor(), lineas, Qt::AlignLeft, false);
    const qreal alto = 8 + std::max<qreal>(24, altoCabecera + 2 + altoPregunta) + 8;
    if (!pintar) return alto;

    const QRectF caja(zona.left(), zona.top(), zona.width(), alto);
    pintor.save();
    pintor.setRenderHint(QPainter::Antialiasing);
    pintor.setPen(Qt::NoPen);
    pintor.setBrush(conOpacidad(p.tinta(), p.oscuro ? 0.07 : 0.05));
    pintor.drawRoundedRect(caja, 14, 14);
    pintor.setBrush(Qt::NoBrush);
    pintor.setPen(QPen(conOpacidad(p.tinta(), p.oscuro ? 0.09 : 0.08), 0.5));
    pintor.drawRoundedRect(caja.adjusted(0.25, 0.25, -0.25, -0.25), 13.75, 13.75);
    pintor.restore();

    Inicial{duda.agente, p, 24}.pintar(pintor, QRectF(zona.left() + 10, zona.top() + 8, 24, 24));
    const QString cuando = hace(duda.fecha, ahora);
    const qreal anchoEdad = TextoW::ancho(pintor, edad, cuando);
    const QRectF cabecera(columna.left(), columna.top(), columna.width(), altoCabecera);
    TextoW::linea(pintor, QRectF(cabecera.right() - anchoEdad, cabecera.top(), anchoEdad, altoCabecera), cuando, edad,
                  p.tenue(), Qt::AlignRight);
    TextoW::linea(pintor, QRectF(cabecera.left(), cabecera.top(), std::max<qreal>(0, cabecera.width() - anchoEdad - 4), altoCabecera),
                  VistaPendientesW::nombreVisible(duda.agente), nombre, p.tinta());
    TextoW::parrafo(pintor, QRectF(columna.left(), cabecera.bottom() + 2, columna.width(), altoPregunta), duda.pregunta,
                    pregunta, conOpacidad(p.tinta(), 0.78), lineas);
    return alto;
}

// Cards of the first `n` questions from `zona`'s top, 8 points apart; returns the height used.
qreal listaDudas(QPainter& pintor, const QRectF& zona, const Instantanea& foto, size_t n, const PaletaW& p,
                 const QDateTime& ahora, ZonasEnlace* enlaces, bool pintar) {
    qreal y = zona.top();
    const size_t cuantas = std::min(n, foto.dudas.size());
    for (size_t i = 0; i < cuantas; ++i) {
        if (i > 0) y += 8;
        const auto& duda = foto.dudas[i];
        const qreal alto = tarjeta(pintor, QRectF(zona.left(), y, zona.width(), 0), duda, 2, p, ahora, false);
        if (pintar) {
            const QRectF caja(zona.left(), y, zona.width(), alto);
            Enlace{EnlaceZentu::duda(duda.id)}.pintar(caja, enlaces, [&] {
                tarjeta(pintor, caja, duda, 2, p, ahora, true);
            });
        }
        y += alto;
    }
    return y - zona.top();
}

// The big number and its label, bottom-left in `zona`, over the partly cut orb.
void bloqueOrbo(QPainter& pintor, const QRectF& zona, const QRectF& orbo, const Instantanea& foto, const PaletaW& p) {
    OrboW{p.oscuro, 12, 0.65}.pintar(pintor, orbo);
    const QFont fEtiqueta = TextoW::fuente(pintor, 12, QFont::Medium);
    const QString etiqueta = VistaPendientesW::etiqueta(foto.totalPendientes, false);
    const qreal altoEtiqueta = TextoW::parrafo(pintor, zona, etiqueta, fEtiqueta, QColor(), 0, Qt::AlignLeft, false, 1);
    const QRectF zonaEtiqueta(zona.left(), zona.bottom() - altoEtiqueta, zona.width(), altoEtiqueta);
    TextoW::parrafo(pintor, zonaEtiqueta, etiqueta, fEtiqueta, p.tenue(), 0, Qt::AlignLeft, true, 1);

    const QString numero = QString::number(foto.totalPendientes);
    QFont fNumero = TextoW::encoger(pintor, TextoW::fuente(pintor, 46, QFont::Bold, true), numero, zona.width(), 0.6);
    // A count cut short reads as another number: past the smallest size it shrinks on until it fits.
    if (const qreal ancho = TextoW::ancho(pintor, fNumero, numero); ancho > zona.width() && ancho > 0)
        fNumero.setPointSizeF(fNumero.pointSizeF() * zona.width() / ancho * 0.98);
    const qreal altoNumero = TextoW::alto(pintor, fNumero);
    TextoW::linea(pintor, QRectF(zona.left(), zonaEtiqueta.top() - altoNumero, zona.width(), altoNumero), numero, fNumero,
                  foto.totalPendientes < 1 ? p.tenue() : p.tinta());
}

void textoCentrado(QPainter& pintor, const QRectF& zona, const QString& texto, qreal puntos, const QColor& color,
                   Qt::Alignment alineacion) {
    const QFont f = TextoW::fuente(pintor, puntos, QFont::Medium);
    const qreal alto = TextoW::parrafo(pintor, zona, texto, f, color, 0, alineacion, false);
    TextoW::parrafo(pintor, QRectF(zona.left(), zona.center().y() - alto / 2, zona.width(), alto), texto, f, color, 0,
                    alineacion);
}

}  // namespace

void VistaPendientesW::pintar(QPainter& pintor, const QRectF& r, ZonasEnlace* enlaces) const {
    pintor.save();
    pintor.setRenderHint(QPainter::Antialiasing);
    if (!foto.enlazada) {
        SinEnlazarW{p}.pintar(pintor, r);
    } else if (familia == FamiliaW::pequena) {
        const qreal s = 128;
        bloqueOrbo(pintor, r, QRectF(r.right() - s + 52, r.top() - 50, s, s), foto, p);
    } else if (familia == FamiliaW::mediana) {
        const QRectF bloque(r.left(), r.top(), 112, r.height());
        bloqueOrbo(pintor, bloque, QRectF(bloque.left() - 24, bloque.top() - 50, 104, 104), foto, p);
        const QRectF columna(bloque.right() + 14, r.top(), r.right() - bloque.right() - 14, r.height());
        if (foto.dudas.empty())
            textoCentrado(pintor, columna, QStringLiteral("Tus agentes van solos."), 13, p.tenue(), Qt::AlignLeft);
        else
            listaDudas(pintor, columna, foto, 2, p, ahora, enlaces, true);
    } else {
        // Header: orb, total and its one-line label.
        const QFont fTotal = TextoW::fuente(pintor, 30, QFont::Bold, true);
        const QFont fEtiqueta = TextoW::fuente(pintor, 12, QFont::Medium);
        const qreal altoTextos = TextoW::alto(pintor, fTotal) + TextoW::alto(pintor, fEtiqueta);
        const qreal altoCabecera = std::max<qreal>(40, altoTextos);
        OrboW{p.oscuro, 11, 0.7}.pintar(pintor, QRectF(r.left(), r.top() + altoCabecera / 2 - 26, 52, 52));
        const qreal x = r.left() + 52 + 10;
        const qreal y = r.top() + (altoCabecera - altoTextos) / 2;
        const QString total = QString::number(foto.totalPendientes);
        TextoW::linea(pintor, QRectF(x, y, r.right() - x, TextoW::alto(pintor, fTotal)), total, fTotal,
                      foto.totalPendientes < 1 ? p.tenue() : p.tinta());
        TextoW::linea(pintor, QRectF(x, y + TextoW::alto(pintor, fTotal), r.right() - x, TextoW::alto(pintor, fEtiqueta)),
                      etiqueta(foto.totalPendientes, true), fEtiqueta, p.tenue());

        const QRectF resto(r.left(), r.top() + altoCabecera + 10, r.width(), r.bottom() - (r.top() + altoCabecera + 10));
        if (foto.dudas.empty()) {
            textoCentrado(pintor, resto, QStringLiteral("Tus agentes van solos."), 14, p.tenue(), Qt::AlignHCenter);
        } else {
            // The column's 10 points of spacing also separate the list from the flexible space
            // under it, and that space from the permissions line.
            qreal disponible = resto.height() - 10;
            const QString permisos = lineaPermisos(foto.permisos);
            const QFont fPermisos = TextoW::fuente(pintor, 11, QFont::Medium);
            if (!permisos.isEmpty()) {
                const qreal altoPermisos = TextoW::alto(pintor, fPermisos);
                TextoW::linea(pintor, QRectF(r.left(), r.bottom() - altoPermisos, r.width(), altoPermisos), permisos,
                              fPermisos, p.tenue());
                disponible -= altoPermisos + 10;
            }
            // The longest list that fits: four cards, else three, else two.
            size_t n = 2;
            for (size_t intento : {4u, 3u, 2u}) {
                if (listaDudas(pintor, resto, foto, intento, p, ahora, nullptr, false) <= disponible) {
                    n = intento;
                    break;
                }
            }
            listaDudas(pintor, resto, foto, n, p, ahora, enlaces, true);
        }
    }
    pintor.restore();
}

// ---------------------------------------------------------------------------------------------
// Talk and credits

void VistaHablarW::pintar(QPainter& pintor, const QRectF& r, ZonasEnlace* enlaces) const {
    // Orb (104, overlapping 2 above and 8 below), 6 points, then the two 42-point buttons.
    const qreal alto = (104 - 2 - 8) + 6 + 42;
    const qreal arriba = r.center().y() - alto / 2;
    OrboW{p.oscuro, 13, 0.65}.pintar(pintor, QRectF(r.center().x() - 52, arriba - 2, 104, 104));
    const qreal yBotones = arriba + 94 + 6;
    const QRectF llamada(r.center().x() - 7 - 42, yBotones, 42, 42);
    const QRectF chat(r.center().x() + 7, yBotones, 42, 42);
    Enlace{EnlaceZentu::llamada()}.pintar(llamada, enlaces, [&] {
        BotonIsla{Icono::telefono, p, true, 42}.pintar(pintor, llamada);
    });
    Enlace{EnlaceZentu::chat()}.pintar(chat, enlaces, [&] {
        BotonIsla{Icono::chat, p, false, 42}.pintar(pintor, chat);
    });
}

QString VistaCreditosW::cantidad(qint64 n) {
    auto formato = [](double x, int decimales) {
        char texto[64];
        const auto r = std::to_chars(texto, texto + sizeof texto, x, std::chars_format::fixed, decimales);
        return QString::fromLatin1(texto, r.ptr - texto);
    };
    if (n >= 10000) return formato(double(n) / 1000.0, 0) + QLatin1Char('k');
    if (n < 1000) return QString::number(n);
    QString t = formato(double(n) / 1000.0, 1) + QLatin1Char('k');
    t.replace(QStringLiteral(".0k"), QStringLiteral("k"));
    return t;
}

std::optional<double> VistaCreditosW::fraccion(const Instantanea& foto) {
    if (!foto.creditos || !foto.creditos->cupo || !foto.creditos->restantes || *foto.creditos->cupo <= 0)
        return std::nullopt;
    const double f = double(*foto.creditos->restantes) / double(*foto.creditos->cupo);
    return std::clamp(f, 0.0, 1.0);
}

void VistaCreditosW::pintar(QPainter& pintor, const QRectF& r, ZonasEnlace*) const {
    if (!foto.enlazada) {
        SinEnlazarW{p}.pintar(pintor, r);
        return;
    }
    const auto f = fraccion(foto);
    const QFont fPie = TextoW::fuente(pintor, 11, QFont::Medium);
    const qreal altoPie = TextoW::alto(pintor, fPie);
    if (!f) {
        const qreal alto = 98 + 6 + altoPie;
        const qreal arriba = r.center().y() - alto / 2;
        Anillo{0, p.lima(), p, 9}.pintar(pintor, QRectF(r.center().x() - 49, arriba, 98, 98));
        TextoW::linea(pintor, QRectF(r.left(), arriba + 98 + 6, r.width(), altoPie), QStringLiteral("Sin datos todavía"), fPie,
                      p.tenue(), Qt::AlignHCenter);
        return;
    }
    const bool esBajo = bajo(*f);
    const QColor color = esBajo ? p.ambar() : p.lima();
    const qreal alto = 98 + 8 + altoPie;
    const qreal arriba = r.center().y() - alto / 2;
    const QRectF anillo(r.center().x() - 49, arriba, 98, 98);
    Anillo{*f, color, p, 9}.pintar(pintor, anillo);

    // Amount and "créditos" centred inside the ring, 14 points in from its sides.
    const QString resto = cantidad(*foto.creditos->restantes);
    const qreal anchoDentro = 98 - 28;
    const QFont fCantidad = TextoW::encoger(pintor, TextoW::fuente(pintor, 26, QFont::Bold, true), resto, anchoDentro, 0.6);
    const QFont fCreditos = TextoW::fuente(pintor, 10.5, QFont::Medium);
    const qreal aC = TextoW::alto(pintor, fCantidad), aT = TextoW::alto(pintor, fCreditos);
    const qreal yDentro = anillo.center().y() - (aC - 1 + aT) / 2;
    TextoW::linea(pintor, QRectF(anillo.left() + 14, yDentro, anchoDentro, aC), resto, fCantidad,
                  esBajo ? p.ambar() : p.tinta(), Qt::AlignHCenter);
    TextoW::linea(pintor, QRectF(anillo.left() + 14, yDentro + aC - 1, anchoDentro, aT), QStringLiteral("créditos"), fCreditos,
                  p.tenue(), Qt::AlignHCenter);

    const QString pie = esBajo ? QStringLiteral("Quedan pocos")
                               : QStringLiteral("de ") + cantidad(*foto.creditos->cupo) + QStringLiteral(" este mes");
    const QFont fPieAjustada = TextoW::encoger(pintor, fPie, pie, r.width(), 0.8);
    TextoW::linea(pintor, QRectF(r.left(), anillo.bottom() + 8, r.width(), altoPie), pie, fPieAjustada,
                  esBajo ? p.ambar() : p.tenue(), Qt::AlignHCenter);
}
