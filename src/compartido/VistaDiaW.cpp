#include "compartido/VistaDiaW.h"

#include "compartido/Renglon.h"

#include <QLinearGradient>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

using Renglon::conOpacidad;

QColor VistaDiaW::salvia(const PaletaW& p) { return p.oscuro ? QColor(168, 214, 92) : QColor(104, 150, 40); }

std::optional<VistaDiaW::Comparacion> VistaDiaW::comparacion(qint64 hoy, qint64 ayer) {
    if (ayer <= 0 && hoy <= 0) return std::nullopt;
    if (hoy == ayer) return VistaDiaW::Comparacion{QStringLiteral("igual que ayer"), false};
    // The difference of two counts from the file can pass the range of a signed number: take its
    // sign by comparison and its size in unsigned arithmetic, which is exact for any two values.
    const bool mas = hoy > ayer;
    const quint64 magnitud = mas ? quint64(hoy) - quint64(ayer) : quint64(ayer) - quint64(hoy);
    const QString signo = mas ? QStringLiteral("+") : QStringLiteral("\u2212");
    return VistaDiaW::Comparacion{signo + QString::number(magnitud) + QStringLiteral(" que ayer"), mas};
}

QString VistaDiaW::textoSolas(std::optional<qint64> solas) {
    return solas ? QString::number(*solas) + QStringLiteral("%") : QStringLiteral("\u2014");
}

double VistaDiaW::fraccionSolas(std::optional<qint64> solas) { return solas ? double(*solas) / 100.0 : 0.0; }

qint64 VistaDiaW::tope(const std::vector<Instantanea::Dia::Barra>& semana) {
    qint64 mayor = 0;
    for (const auto& b : semana) mayor = std::max(mayor, b.n);
    return mayor >= 2 ? mayor : 1;
}

double VistaDiaW::altoZona(FamiliaW familia) { return familia == FamiliaW::grande ? 48 : 30; }
double VistaDiaW::anchoBarra(FamiliaW familia) { return familia == FamiliaW::grande ? 14 : 10; }

std::vector<double> VistaDiaW::alturas(const std::vector<Instantanea::Dia::Barra>& semana, FamiliaW familia) {
    const double alto = altoZona(familia);
    const double t = double(tope(semana));
    std::vector<double> h;
    for (const auto& b : semana) h.push_back(std::max(alto * double(b.n) / t, 4.0));
    return h;
}

QString VistaDiaW::nombreVisible(const QString& nombre) {
    QString n = nombre;
    n.replace(QLatin1Char('_'), QLatin1Char(' '));
    if (n.isEmpty()) return n;
    // First character (a whole code point, not half of a surrogate pair) upper-cased.
    const int largo = n.at(0).isHighSurrogate() && n.size() > 1 ? 2 : 1;
    return n.left(largo).toUpper() + n.mid(largo);
}

std::vector<VistaDiaW::Linea> VistaDiaW::actividad(const Instantanea::Dia& dia) {
    std::vector<Linea> lineas;
    const size_t n = std::min<size_t>(3, dia.actividad.size());
    for (size_t i = 0; i < n; ++i) {
        const auto& h = dia.actividad[i];
        const auto [principal, etiqueta] = partir(h.texto);
        QStringList partes{nombreVisible(h.agente)};
        if (etiqueta) partes << *etiqueta;
        partes << hace(h.cuando);
        lineas.push_back({h.agente, principal, partes.join(QStringLiteral(" \u00B7 "))});
    }
    return lineas;
}

using V = VistaDiaW;

namespace {

QRectF pintarHoy(QPainter& p, QPointF o, const Instantanea::Dia& d, const PaletaW& pal) {
    double y = o.y();
    const QFont fHoy = TextoW::fuente(p, 11, QFont::DemiBold);
    Renglon::linea(p, fHoy, pal.tenue(), o.x(), y, QStringLiteral("Hoy"));
    y += Renglon::alto(p, fHoy) + 1;

    const QFont fNum = TextoW::fuente(p, 34, QFont::Bold, true);
    const QFont fConv = TextoW::fuente(p, 12, QFont::Medium);
    const QFontMetricsF mNum(fNum), mConv(fConv);
    const double ascenso = std::max(mNum.ascent(), mConv.ascent());
    const double base = y + ascenso;
    const QString numero = QString::number(d.conversacionesHoy);
    p.setFont(fNum);
    p.setPen(pal.tinta());
    p.drawText(QPointF(o.x(), base), numero);
    const double xConv = o.x() + mNum.horizontalAdvance(numero) + 6;
    p.setFont(fConv);
    p.setPen(pal.tenue());
    p.drawText(QPointF(xConv, base), QStringLiteral("conversaciones"));
    double derecha = xConv + mConv.horizontalAdvance(QStringLiteral("conversaciones"));
    y += ascenso + std::max(mNum.descent(), mConv.descent()) + 1;

    if (const auto c = V::comparacion(d.conversacionesHoy, d.conversacionesAyer)) {
        const QFont f = TextoW::fuente(p, 10.5, QFont::DemiBold);
        const QRectF chip(o.x(), y, Renglon::ancho(p, f, c->texto) + 14, Renglon::alto(p, f) + 5);
        p.setPen(Qt::NoPen);
        p.setBrush(c->mas ? conOpacidad(pal.lima(), 0.12) : conOpacidad(pal.tinta(), 0.12));
        p.drawRoundedRect(chip, chip.height() / 2, chip.height() / 2);
        Renglon::linea(p, f, c->mas ? pal.lima() : pal.tenue(), chip.x() + 7, chip.y() + 2.5, c->texto);
        y = chip.bottom();
        derecha = std::max(derecha, chip.right());
    }
    return QRectF(o, QPointF(derecha, y));
}

double anchoSolas(QPainter& p) { return std::max(54.0, Renglon::ancho(p, TextoW::fuente(p, 10.5, QFont::Medium), QStringLiteral("sin ti"))); }

double pintarSolas(QPainter& p, double xDerecha, double y, const Instantanea::Dia& d, const PaletaW& pal) {
    const double ancho = anchoSolas(p);
    const double cx = xDerecha - ancho / 2;
    const QRectF aro(cx - 27, y, 54, 54);
    Anillo{V::fraccionSolas(d.solas), V::salvia(pal), pal, 6}.pintar(p, aro);
    const QFont f = TextoW::fuente(p, 14, QFont::Bold, true);
    const QString t = V::textoSolas(d.solas);
    Renglon::centrada(p, f, pal.tinta(), cx, aro.center().y() - Renglon::alto(p, f) / 2, t, 54);
    const QFont fSin = TextoW::fuente(p, 10.5, QFont::Medium);
    Renglon::centrada(p, fSin, pal.tenue(), cx, aro.bottom() + 4, QStringLiteral("sin ti"), ancho);
    return aro.bottom() + 4 + Renglon::alto(p, fSin);
}

void pintarBarras(QPainter& p, const QRectF& zona, const Instantanea::Dia& d, FamiliaW familia, const PaletaW& pal) {
    const auto& semana = d.semana;
    if (semana.empty()) return;
    const auto h = V::alturas(semana, familia);
    const double n = double(semana.size());
    const double columna = (zona.width() - 7 * (n - 1)) / n;
    const double barra = V::anchoBarra(familia);
    const QFont fHoy = TextoW::fuente(p, 9.5, QFont::Bold), fOtro = TextoW::fuente(p, 9.5, QFont::Medium);
    const double altoLetra = Renglon::alto(p, fOtro);
    for (size_t i = 0; i < semana.size(); ++i) {
        const bool hoy = i + 1 == semana.size();
        const double cx = zona.left() + double(i) * (columna + 7) + columna / 2;
        const double yLetra = zona.bottom() - altoLetra;
        Renglon::centrada(p, hoy ? fHoy : fOtro, hoy ? pal.tinta() : pal.tenue(), cx, yLetra, semana[i].dia, columna);
        const QRectF r(cx - barra / 2, yLetra - 4 - h[i], barra, h[i]);
        QPainterPath forma;
        forma.addRoundedRect(r, 3, 3);
        p.setPen(Qt::NoPen);
        if (hoy) {
            if (pal.oscuro) {
                // The glow of today's bar: a soft halo of lima under it.
                for (int k = 5; k >= 1; --k) {
                    QPainterPath halo;
                    halo.addRoundedRect(r.adjusted(-k, -k, k, k), 3 + k, 3 + k);
                    p.setBrush(conOpacidad(pal.lima(), 0.45 / 9));
                    p.drawPath(halo);
                }
            }
            QLinearGradient g(r.bottomLeft(), r.topLeft());
            g.setColorAt(0, pal.lima());
            g.setColorAt(1, V::salvia(pal));
            p.setBrush(g);
        } else {
            p.setBrush(conOpacidad(pal.tinta(), 0.14));
        }
        p.drawPath(forma);
    }
}

void pintarActividad(QPainter& p, const QRectF& zona, const Instantanea::Dia& d, const PaletaW& pal) {
    double y = zona.top();
    const QFont fTitulo = TextoW::fuente(p, 11, QFont::DemiBold);
    Renglon::linea(p, fTitulo, pal.tenue(), zona.left(), y, QStringLiteral("Lo último que hicieron"));
    y += Renglon::alto(p, fTitulo) + 9;
    const QFont f1 = TextoW::fuente(p, 11.5, QFont::Normal), f2 = TextoW::fuente(p, 10, QFont::Normal);
    const double xTexto = zona.left() + 22 + 9;
    const double ancho = zona.right() - xTexto;
    for (const V::Linea& l : V::actividad(d)) {
        Inicial{l.inicialDe, pal, 22}.pintar(p, QRectF(zona.left(), y, 22, 22));
        Renglon::linea(p, f1, conOpacidad(pal.tinta(), 0.85), xTexto, y, l.principal, ancho);
        const double y2 = y + Renglon::alto(p, f1) + 1;
        p.setFont(f2);
        p.setPen(pal.tenue());
        const QRectF caja(xTexto, y2, ancho, 1000);
        const QRectF usado = p.boundingRect(caja, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, l.detalle);
        p.drawText(caja, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, l.detalle);
        y = std::max(y + 22, usado.bottom()) + 9;
        if (y > zona.bottom()) break;
    }
}

}  // namespace

void VistaDiaW::pintar(QPainter& p, const QRectF& r) const {
    const PaletaW& pal = this->p;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    if (!foto.enlazada) {
        SinEnlazarW{pal}.pintar(p, r);
    } else if (!foto.dia) {
        p.setFont(TextoW::fuente(p, 12, QFont::Medium));
        p.setPen(pal.tenue());
        p.drawText(r, Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("Todavía sin datos del día"));
    } else {
        const Instantanea::Dia& d = *foto.dia;
        const bool grande = familia == FamiliaW::grande;
        const double espacio = grande ? 12 : 8;
        const QRectF hoy = pintarHoy(p, r.topLeft(), d, pal);
        const double finSolas = pintarSolas(p, r.right(), r.top(), d, pal);
        double y = std::max(hoy.bottom(), finSolas) + espacio;
        const double altoFila = altoZona(familia) + 16;
        pintarBarras(p, QRectF(r.left(), y, r.width(), altoFila), d, familia, pal);
        y += altoFila + espacio;
        if (grande) pintarActividad(p, QRectF(r.left(), y, r.width(), r.bottom() - y), d, pal);
    }
    p.restore();
}
