#include "zentu/isla/VistaCreditosFlotante.h"

#include "compartido/VistasWidgets.h"
#include "zentu/isla/Vidrio.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace {

QColor conOpacidad(QColor c, double o) {
    c.setAlphaF(float(c.alphaF() * o));
    return c;
}

// The card's body: painted, as it has nothing to interact with.
class ContenidoCreditos : public QWidget {
public:
    ContenidoCreditos(Instantanea foto, Esquema esquema) : foto_(std::move(foto)), esquema_(esquema) {
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::TextAntialiasing);
        const Paleta pal(esquema_);
        const QColor primario = esquema_ == Esquema::oscuro ? QColor(Qt::white) : QColor(Qt::black);
        if (!foto_.creditos) {
            TextoW::parrafo(p, QRectF(rect()).adjusted(16, 16, -16, -16), QStringLiteral("Todavía sin datos de créditos."),
                            TextoW::fuente(p, 13, QFont::Normal), conOpacidad(pal.tinta, 0.6));
            return;
        }
        const auto& c = *foto_.creditos;
        const QRectF zona = QRectF(rect()).adjusted(16, 0, -16, -14);
        double y = zona.top();

        // The big number and the text beside it, on one baseline.
        const QFont fNum = TextoW::fuente(p, 34, QFont::Bold, true);
        const QFont fQuedan = TextoW::fuente(p, 13, QFont::Normal);
        const QFontMetricsF mNum(fNum, this), mQuedan(fQuedan, this);
        const double base = y + std::max(mNum.ascent(), mQuedan.ascent());
        const QString numero = QString::number(c.restantes.value_or(0));
        p.setFont(fNum);
        p.setPen(primario);
        p.drawText(QPointF(zona.left(), base), numero);
        p.setFont(fQuedan);
        p.setPen(conOpacidad(pal.tinta, 0.6));
        p.drawText(QPointF(zona.left() + mNum.horizontalAdvance(numero) + 6, base), VistaCreditosFlotante::quedan(c));
        y = base + std::max(mNum.descent(), mQuedan.descent()) + 14;

        if (!c.porDia || c.porDia->empty()) return;
        const auto& dias = *c.porDia;
        const QFont fTitulo = TextoW::fuente(p, 11.5, QFont::DemiBold);
        TextoW::linea(p, QRectF(zona.left(), y, zona.width(), TextoW::alto(p, fTitulo)),
                      QStringLiteral("Últimos %1 días").arg(dias.size()), fTitulo, conOpacidad(pal.tinta, 0.55));
        y += TextoW::alto(p, fTitulo) + 14;

        const auto h = VistaCreditosFlotante::alturas(dias);
        const QFont fValor = TextoW::fuente(p, 9.5, QFont::Medium), fDia = TextoW::fuente(p, 9.5, QFont::Normal);
        const double altoValor = TextoW::alto(p, fValor), altoDia = TextoW::alto(p, fDia);
        const double n = double(dias.size());
        const double columna = (zona.width() - 8 * (n - 1)) / n;
        const double fondo = y + altoValor + 4 + 80 + 4 + altoDia;  // the row's bottom edge
        for (size_t i = 0; i < dias.size(); ++i) {
            const double x = zona.left() + double(i) * (columna + 8);
            const double yDia = fondo - altoDia;
            const double yBarra = yDia - 4 - h[i];
            TextoW::linea(p, QRectF(x, yDia, columna, altoDia), VistaCreditosFlotante::diaCorto(dias[i].dia), fDia,
                          conOpacidad(pal.tinta, 0.55), Qt::AlignHCenter);
            QPainterPath barra;
            barra.addRoundedRect(QRectF(x + columna / 2 - 7, yBarra, 14, h[i]), 3, 3);
            p.fillPath(barra, i + 1 == dias.size() ? pal.lima : conOpacidad(pal.tinta, 0.16));
            TextoW::linea(p, QRectF(x - 4, yBarra - 4 - altoValor, columna + 8, altoValor), QString::number(dias[i].creditos),
                          fValor, conOpacidad(pal.tinta, 0.55), Qt::AlignHCenter);
        }
    }

private:
    Instantanea foto_;
    Esquema esquema_;
};

}  // namespace

VistaCreditosFlotante::VistaCreditosFlotante(Instantanea foto, std::function<void()> cerrar, Esquema esquema,
                                             QWidget* padre)
    : Tarjeta(QStringLiteral("Créditos de este mes"), tam, std::move(cerrar), new ContenidoCreditos(std::move(foto), esquema),
              esquema, padre) {}

QString VistaCreditosFlotante::diaCorto(const QString& dia) {
    // The last non-empty piece between "-" (the whole text when there is none), one leading 0 off.
    const QStringList piezas = dia.split(QLatin1Char('-'), Qt::SkipEmptyParts);
    QString d = piezas.isEmpty() ? dia : piezas.last();
    if (d.startsWith(QLatin1Char('0'))) d.remove(0, 1);
    return d;
}

QString VistaCreditosFlotante::quedan(const Instantanea::Creditos& c) {
    return c.cupo ? QStringLiteral("de %1 te quedan").arg(*c.cupo) : QStringLiteral("te quedan");
}

std::vector<double> VistaCreditosFlotante::alturas(const std::vector<Instantanea::Creditos::Dia>& dias) {
    qint64 m = 1;
    for (const auto& d : dias) m = std::max(m, d.creditos);
    std::vector<double> h;
    for (const auto& d : dias) h.push_back(std::max(double(d.creditos) / double(m) * 80.0, 3.0));
    return h;
}
