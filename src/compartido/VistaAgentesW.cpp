#include "compartido/VistaAgentesW.h"

#include "compartido/Renglon.h"
#include "compartido/VistaDiaW.h"

#include "compartido/Personajes.h"

#include <QCollator>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>

using Renglon::conOpacidad;

namespace {

// Names compare with Spanish rules (ñ after n, accents and case aside). Without a working
// collation (a Qt built without ICU compares code points) fall back to comparing the names with
// their accents removed and case folded, which gives the same order for ordinary names.
QString sinAcentos(const QString& s) {
    QString d = s.normalized(QString::NormalizationForm_D);
    QString r;
    r.reserve(d.size());
    for (int i = 0; i < d.size(); ++i) {
        const QChar c = d.at(i);
        if (c.category() == QChar::Mark_NonSpacing) {
            // Keep the tilde of ñ: it makes a letter of its own in Spanish.
            if (c.unicode() == 0x0303 && i > 0 && d.at(i - 1).toLower() == QLatin1Char('n')) r.append(QChar(0x00F1));
            continue;
        }
        if (c.toLower() == QLatin1Char('n') && i + 1 < d.size() && d.at(i + 1).unicode() == 0x0303) continue;
        r.append(c);
    }
    return r.toCaseFolded();
}

int compararSinCotejo(const QString& a, const QString& b) {
    // ñ sorts between n and o: map it to a key just after n.
    auto clave = [](const QString& s) {
        QString k = sinAcentos(s);
        QString r;
        for (QChar c : k) {
            if (c.unicode() == 0x00F1) r += QStringLiteral("n\uFFFF");
            else r += c;
        }
        return r;
    };
    return QString::compare(clave(a), clave(b), Qt::CaseSensitive);
}

const QCollator* cotejo() {
    static const QCollator* c = [] () -> const QCollator* {
        auto* col = new QCollator(QLocale(QLocale::Spanish, QLocale::Spain));
        col->setCaseSensitivity(Qt::CaseInsensitive);
        col->setNumericMode(false);
        // Trust it only when it knows Spanish: ñ between n and o, case and accents aside.
        const bool sirve = col->compare(QStringLiteral("ñu"), QStringLiteral("nz")) > 0 &&
                           col->compare(QStringLiteral("ñu"), QStringLiteral("oa")) < 0 &&
                           col->compare(QStringLiteral("ana"), QStringLiteral("Bruno")) < 0 &&
                           col->compare(QStringLiteral("Álvaro"), QStringLiteral("Andrés")) < 0 &&
                           col->compare(QStringLiteral("ANA"), QStringLiteral("ana")) == 0;
        if (sirve) return col;
        delete col;
        return nullptr;
    }();
    return c;
}

int compararNombres(const QString& a, const QString& b) {
    if (const QCollator* c = cotejo()) return c->compare(a, b);
    return compararSinCotejo(a, b);
}

}  // namespace

bool VistaAgentesW::antes(const Instantanea::Agente& a, const Instantanea::Agente& b) {
    if (a.coordinador != b.coordinador) return a.coordinador;
    if (a.activo != b.activo) return a.activo;
    if (a.conversaciones != b.conversaciones) return a.conversaciones > b.conversaciones;
    return compararNombres(a.nombre, b.nombre) < 0;
}

std::vector<Instantanea::Agente> VistaAgentesW::ordenados(const std::vector<Instantanea::Agente>& agentes) {
    std::vector<Instantanea::Agente> lista = agentes;
    std::stable_sort(lista.begin(), lista.end(), VistaAgentesW::antes);
    return lista;
}

QString VistaAgentesW::categoria(const QString& clave) {
    static const std::vector<std::pair<QString, QString>> tabla = {
        {QStringLiteral("atencion"), QStringLiteral("Atención al cliente")},
        {QStringLiteral("ventas"), QStringLiteral("Ventas")},
        {QStringLiteral("soporte"), QStringLiteral("Soporte")},
        {QStringLiteral("finanzas"), QStringLiteral("Finanzas")},
        {QStringLiteral("cobros"), QStringLiteral("Cobros")},
        {QStringLiteral("operacion"), QStringLiteral("Operaciones")},
        {QStringLiteral("creativo"), QStringLiteral("Creativo")},
        {QStringLiteral("asistente"), QStringLiteral("Asistente")},
    };
    for (const auto& [k, v] : tabla)
        if (k == clave) return v;
    return QStringLiteral("Agente");
}

QString VistaAgentesW::estado(const Instantanea::Agente& a) {
    if (!a.activo) return QStringLiteral("En pausa");
    if (a.conversaciones == 1) return QStringLiteral("1 conversación");
    if (a.conversaciones < 1) return QStringLiteral("Disponible");
    return QString::number(a.conversaciones) + QStringLiteral(" conversaciones");
}

QString VistaAgentesW::estadoCorto(const Instantanea::Agente& a) {
    if (!a.activo) return QStringLiteral("En pausa");
    if (a.conversaciones < 1) return QStringLiteral("Disponible");
    return QString::number(a.conversaciones) + QStringLiteral(" conv.");
}

QString VistaAgentesW::resumen(const std::vector<Instantanea::Agente>& lista) {
    const qint64 t = qint64(lista.size());
    const qint64 activos = std::count_if(lista.begin(), lista.end(), [](const auto& a) { return a.activo; });
    if (activos < t)
        return QString::number(activos) + QStringLiteral(" activos \u00B7 ") + QString::number(t - activos) +
               QStringLiteral(" en pausa");
    return QString::number(activos) + QStringLiteral(" activos");
}

bool VistaAgentesW::verde(const Instantanea::Agente& a) { return a.activo && a.conversaciones >= 1; }

int VistaAgentesW::posicion(qint64 indice, int n) {
    if (n <= 0) return 0;
    const qint64 k = indice % n;
    return int(k < 0 ? k + n : k);
}

QString VistaAgentesW::textoPosicion(int k, int n) { return n >= 2 ? QStringLiteral("%1/%2").arg(k + 1).arg(n) : QString(); }

double VistaAgentesW::relleno(int n) {
    if (n < 4) return 20;
    if (n == 4) return 17;
    if (n == 5) return 11;
    return 7.5;
}

VistaAgentesW::MedidasAvatar VistaAgentesW::medidasAvatar(double lado) {
    return {lado * 0.22, std::max(lado * 0.035, 1.2), lado > 40 ? 1.2 : 0.8, lado * 0.42};
}

namespace {

const QColor kNegro(0, 0, 0);
const QColor kBlanco(255, 255, 255);

QImage desaturar(const QImage& origen, double saturacion) {
    QImage img = origen.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto* fila = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = fila[x];
            const double gris = 0.2126 * qRed(c) + 0.7152 * qGreen(c) + 0.0722 * qBlue(c);
            auto mezcla = [&](int v) { return int(std::clamp(gris + (v - gris) * saturacion, 0.0, 255.0)); };
            fila[x] = qRgba(mezcla(qRed(c)), mezcla(qGreen(c)), mezcla(qBlue(c)), qAlpha(c));
        }
    }
    return img;
}

void avatar(QPainter& p, const QRectF& r, const Instantanea::Agente& a, const PaletaW& pal) {
    const double lado = r.width();
    const VistaAgentesW::MedidasAvatar m = VistaAgentesW::medidasAvatar(lado);
    const QColor c = a.activo ? pal.lima() : conOpacidad(pal.tinta(), 0.35);
    p.save();
    p.setPen(Qt::NoPen);
    if (a.activo && pal.oscuro) {
        // The glow of an active agent in the dark scheme.
        const double radio = lado / 2 + lado * 0.12;
        QRadialGradient g(r.center(), radio);
        g.setColorAt(lado / 2 / radio, conOpacidad(pal.lima(), 0.25));
        g.setColorAt(1, conOpacidad(pal.lima(), 0));
        p.setBrush(g);
        p.drawEllipse(r.center(), radio, radio);
    }
    p.setBrush(conOpacidad(c, a.activo ? 0.13 : 0.08));
    p.drawEllipse(r);

    QPainterPath circulo;
    circulo.addEllipse(r);
    p.save();
    p.setClipPath(circulo);
    if (const auto imagen = Personajes::imagen(a)) {
        const QRectF dentro = r.adjusted(lado * 0.04, lado * 0.04, -lado * 0.04, -lado * 0.04);
        QImage img = a.activo ? *imagen : desaturar(*imagen, 0.35);
        // Scaled to fill the padded square, centred.
        const QSizeF t = QSizeF(img.size()).scaled(dentro.size(), Qt::KeepAspectRatioByExpanding);
        const QRectF destino(dentro.center().x() - t.width() / 2, dentro.center().y() - t.height() / 2, t.width(), t.height());
        p.setOpacity(a.activo ? 1.0 : 0.8);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(destino, img);
        p.setOpacity(1.0);
    } else {
        const QFont f = TextoW::fuente(p, m.inicial, QFont::Bold, true);
        p.setFont(f);
        p.setPen(a.activo ? pal.lima() : pal.tenue());
        const QString inicial = a.nombre.isEmpty() ? QString() : a.nombre.left(a.nombre.at(0).isHighSurrogate() ? 2 : 1).toUpper();
        p.drawText(r, Qt::AlignCenter, inicial);
    }
    p.restore();

    // Ring stroked inside the edge.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(conOpacidad(c, a.activo ? 0.55 : 0.3), m.anillo));
    p.drawEllipse(r.adjusted(m.anillo / 2, m.anillo / 2, -m.anillo / 2, -m.anillo / 2));

    // State dot at the bottom-trailing corner.
    const double d = m.punto;
    const QRectF punto(r.right() - d + lado * 0.02, r.bottom() - d + lado * 0.02, d, d);
    p.setPen(Qt::NoPen);
    p.setBrush(a.activo ? pal.lima() : conOpacidad(pal.tinta(), 0.3));
    p.drawEllipse(punto);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(pal.oscuro ? conOpacidad(kNegro, 0.6) : kBlanco, m.borde));
    p.drawEllipse(punto.adjusted(m.borde / 2, m.borde / 2, -m.borde / 2, -m.borde / 2));
    p.restore();
}

// The header line: still orb, "Tus agentes" and an optional right-hand text. Returns its height.
double cabecera(QPainter& p, const QRectF& r, const PaletaW& pal, const QString& derecha) {
    const QFont f = TextoW::fuente(p, 11.5, QFont::DemiBold);
    const double alto = std::max(15.0, Renglon::alto(p, f));
    OrboW{pal.oscuro, 6, 0.5}.pintar(p, QRectF(r.left(), r.top() + (alto - 15) / 2, 15, 15));
    const double x = r.left() + 15 + 6;
    const double anchoTitulo =
        Renglon::linea(p, f, pal.tenue(), x, r.top() + (alto - Renglon::alto(p, f)) / 2, QStringLiteral("Tus agentes"));
    if (!derecha.isEmpty()) {
        const double disponible = r.right() - (x + anchoTitulo + 4);
        const QFont fd = TextoW::encoger(p, TextoW::fuente(p, 10.5, QFont::Medium), derecha, disponible, 0.8);
        const QFontMetricsF md = Renglon::metricas(p, fd);  // the device's metrics, as it was shrunk with
        const QString visible = md.elidedText(derecha, Qt::ElideRight, disponible);
        Renglon::linea(p, fd, pal.tenue(), r.right() - md.horizontalAdvance(visible), r.top() + (alto - md.height()) / 2, visible);
    }
    return alto;
}

QColor colorEstado(const Instantanea::Agente& a, const PaletaW& pal) { return VistaAgentesW::verde(a) ? pal.lima() : pal.tenue(); }

void carrusel(QPainter& p, const QRectF& r, const std::vector<Instantanea::Agente>& lista, const PaletaW& pal, qint64 indice) {
    const int n = int(lista.size());
    const int k = VistaAgentesW::posicion(indice, n);
    const auto& a = lista[size_t(k)];
    const double hCab = cabecera(p, r, pal, VistaAgentesW::textoPosicion(k, n));
    const QFont fNombre = TextoW::encoger(p, TextoW::fuente(p, 15, QFont::DemiBold), VistaDiaW::nombreVisible(a.nombre), r.width(), 0.75);
    const QFont fEstado = TextoW::fuente(p, 11, QFont::Medium);
    const double hPuntos = n >= 2 ? 4 : 0;
    const double contenido = 58 + 9 + Renglon::alto(p, fNombre) + 1 + Renglon::alto(p, fEstado);
    // The two flexible spacers (at least 4 each) share what is left equally.
    const double libre = std::max(8.0, r.height() - hCab - contenido - hPuntos);
    double y = r.top() + hCab + libre / 2;
    avatar(p, QRectF(r.center().x() - 29, y, 58, 58), a, pal);
    y += 58 + 9;
    Renglon::centrada(p, fNombre, pal.tinta(), r.center().x(), y, VistaDiaW::nombreVisible(a.nombre), r.width());
    y += Renglon::alto(p, fNombre) + 1;
    Renglon::centrada(p, fEstado, colorEstado(a, pal), r.center().x(), y, VistaAgentesW::estado(a), r.width());
    y += Renglon::alto(p, fEstado) + libre / 2;
    if (n >= 2) {
        const int puntos = std::min(n, 7);
        const bool hayMarcado = k < 7;
        const double total = 4 * (puntos - 1) + 4 * puntos + (hayMarcado ? 8 : 0);
        double x = r.center().x() - total / 2;
        p.setPen(Qt::NoPen);
        for (int i = 0; i < puntos; ++i) {
            const bool marcado = i == k;
            const double w = marcado ? 12 : 4;
            p.setBrush(conOpacidad(pal.tinta(), marcado ? 0.75 : 0.18));
            p.drawRoundedRect(QRectF(x, y, w, 4), 2, 2);
            x += w + 4;
        }
    }
}

void fila(QPainter& p, const QRectF& r, const std::vector<Instantanea::Agente>& lista, const PaletaW& pal) {
    double y = r.top() + cabecera(p, r, pal, VistaAgentesW::resumen(lista));
    const size_t n = std::min<size_t>(4, lista.size());
    const double ancho = r.width() / double(n);
    const QFont fNombre = TextoW::fuente(p, 11.5, QFont::DemiBold), fEstado = TextoW::fuente(p, 10, QFont::Medium);
    // Two flexible spacers, above (at least 6) and below the cells, share what is left equally.
    const double alto = 46 + 6 + Renglon::alto(p, fNombre) + 6 + Renglon::alto(p, fEstado);
    const double libre = r.bottom() - y - alto;
    y += std::max(6.0, libre / 2);
    for (size_t i = 0; i < n; ++i) {
        const auto& a = lista[i];
        const double cx = r.left() + ancho * (double(i) + 0.5);
        avatar(p, QRectF(cx - 23, y, 46, 46), a, pal);
        const double yNombre = y + 46 + 6;
        Renglon::centrada(p, fNombre, pal.tinta(), cx, yNombre, VistaDiaW::nombreVisible(a.nombre), ancho - 4, 0.7);
        Renglon::centrada(p, fEstado, colorEstado(a, pal), cx, yNombre + Renglon::alto(p, fNombre) + 6, VistaAgentesW::estadoCorto(a), ancho - 4);
    }
}

void listaGrande(QPainter& p, const QRectF& r, const std::vector<Instantanea::Agente>& lista, const PaletaW& pal) {
    double y = r.top() + cabecera(p, r, pal, VistaAgentesW::resumen(lista)) + 8;
    const int total = int(lista.size());
    const int filas = std::min(6, total);
    const double pad = VistaAgentesW::relleno(total);
    const QFont fNombre = TextoW::fuente(p, 13, QFont::DemiBold), fSegunda = TextoW::fuente(p, 10.5, QFont::Normal);
    const QFont fChip = TextoW::fuente(p, 10.5, QFont::DemiBold);
    const QColor linea = conOpacidad(pal.tinta(), pal.oscuro ? 0.09 : 0.08);
    for (int i = 0; i < filas; ++i) {
        const auto& a = lista[size_t(i)];
        const double textos = Renglon::alto(p, fNombre) + 1 + Renglon::alto(p, fSegunda);
        const double alto = std::max(34.0, textos);
        const double top = y + pad;
        const double cy = top + alto / 2;
        avatar(p, QRectF(r.left(), cy - 17, 34, 34), a, pal);

        // The chip at the trailing edge.
        const QString e = VistaAgentesW::estado(a);
        const double anchoChip = Renglon::ancho(p, fChip, e) + 16;
        const double altoChip = Renglon::alto(p, fChip) + 7;
        const QRectF chip(r.right() - anchoChip, cy - altoChip / 2, anchoChip, altoChip);
        const double radio = altoChip / 2;
        if (VistaAgentesW::verde(a)) {
            p.setPen(Qt::NoPen);
            p.setBrush(pal.lima());
            p.drawRoundedRect(chip, radio, radio);
            Renglon::linea(p, fChip, pal.oscuro ? kNegro : kBlanco, chip.left() + 8, chip.top() + 3.5, e);
        } else {
            p.setPen(Qt::NoPen);
            p.setBrush(conOpacidad(pal.tinta(), pal.oscuro ? 0.07 : 0.05));
            p.drawRoundedRect(chip, radio, radio);
            p.setBrush(Qt::NoBrush);
            p.setPen(QPen(conOpacidad(pal.tinta(), pal.oscuro ? 0.09 : 0.08), 0.5));
            p.drawRoundedRect(chip.adjusted(0.25, 0.25, -0.25, -0.25), radio - 0.25, radio - 0.25);
            Renglon::linea(p, fChip, a.activo ? conOpacidad(pal.tinta(), 0.8) : pal.tenue(), chip.left() + 8,
                          chip.top() + 3.5, e);
        }

        const double xTexto = r.left() + 34 + 11;
        const double anchoTexto = chip.left() - 6 - xTexto;
        const double yTexto = cy - textos / 2;
        Renglon::linea(p, fNombre, pal.tinta(), xTexto, yTexto, VistaDiaW::nombreVisible(a.nombre), anchoTexto);
        Renglon::linea(p, fSegunda, pal.tenue(), xTexto, yTexto + Renglon::alto(p, fNombre) + 1,
                      a.coordinador ? QStringLiteral("Coordina el equipo") : VistaAgentesW::categoria(a.categoria), anchoTexto);
        y = top + alto + pad;
        if (i < filas - 1) {
            p.fillRect(QRectF(r.left() + 45, y, r.width() - 45, 0.5), linea);
            y += 0.5;
        }
    }
    if (total > 6) {
        const QFont f = TextoW::fuente(p, 10.5, QFont::Medium);
        // A flexible spacer lies between the rows and this line: it stands at the bottom.
        const double yMas = std::max(y, r.bottom() - Renglon::alto(p, f));
        Renglon::linea(p, f, pal.tenue(), r.left(), yMas, QStringLiteral("y %1 más").arg(total - 6));
    }
}

}  // namespace

void VistaAgentesW::pintar(QPainter& p, const QRectF& r) const {
    const PaletaW& pal = this->p;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const auto lista = foto.agentes ? ordenados(*foto.agentes) : std::vector<Instantanea::Agente>{};
    if (!foto.enlazada) {
        SinEnlazarW{pal}.pintar(p, r);
    } else if (lista.empty()) {
        cabecera(p, r, pal, {});
        const QFont f1 = TextoW::fuente(p, 13, QFont::DemiBold), f2 = TextoW::fuente(p, 11, QFont::Normal);
        p.setFont(f2);
        const QRectF caja2 = p.boundingRect(QRectF(r.left(), 0, r.width(), 1000), Qt::TextWordWrap, QStringLiteral("Crea uno desde el chat con Zentu"));
        const double y2 = r.bottom() - caja2.height();
        const double y1 = y2 - 4 - Renglon::alto(p, f1);
        Renglon::linea(p, f1, pal.tinta(), r.left(), y1, QStringLiteral("Todavía sin agentes"), r.width());
        p.setFont(f2);
        p.setPen(pal.tenue());
        p.drawText(QRectF(r.left(), y2, r.width(), caja2.height()), Qt::TextWordWrap, QStringLiteral("Crea uno desde el chat con Zentu"));
    } else if (familia == FamiliaW::pequena) {
        carrusel(p, r, lista, pal, indice);
    } else if (familia == FamiliaW::grande) {
        listaGrande(p, r, lista, pal);
    } else {
        fila(p, r, lista, pal);
    }
    p.restore();
}
