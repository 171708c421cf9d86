#include "zentu/isla/VistaDiaFlotante.h"

#include "zentu/isla/Vidrio.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>

namespace {

QColor conOpacidad(QColor c, double o) {
    c.setAlphaF(float(c.alphaF() * o));
    return c;
}

// A font of `puntos` logical units whatever the screen's dots per inch.
QFont fuente(double puntos, QFont::Weight peso, bool redondeada = false) {
    QFont f;
    f.setFamilies(redondeada ? QStringList{QStringLiteral("Comfortaa"), QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")}
                             : QStringList{QStringLiteral("Inter"), QStringLiteral("DejaVu Sans")});
    f.setWeight(peso);
    const QScreen* s = QGuiApplication::primaryScreen();
    const double dpi = s ? s->logicalDotsPerInchY() : 96;
    f.setPointSizeF(puntos * 72.0 / (dpi > 0 ? dpi : 96));
    return f;
}

QLabel* etiqueta(const QString& texto, const QFont& f, const QColor& color, QWidget* padre) {
    auto* l = new QLabel(texto, padre);
    l->setFont(f);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    pal.setColor(QPalette::Text, color);
    l->setPalette(pal);
    l->setAttribute(Qt::WA_TranslucentBackground);
    return l;
}

// One action: a rounded tile with the text (selectable, wrapping) and the agent and time.
class Hecho : public QWidget {
public:
    Hecho(const Instantanea::Dia::Hecho& h, const Paleta& pal, bool oscuro, QWidget* padre)
        : QWidget(padre), fondo_(conOpacidad(pal.tinta, 0.05)) {
        auto* l = new QVBoxLayout(this);
        l->setContentsMargins(10, 10, 10, 10);
        l->setSpacing(2);
        auto* texto = etiqueta(h.texto, fuente(12.5, QFont::Normal), pal.tinta, this);
        texto->setObjectName(QStringLiteral("texto"));
        texto->setWordWrap(true);
        texto->setTextInteractionFlags(Qt::TextSelectableByMouse);
        texto->setTextFormat(Qt::PlainText);
        l->addWidget(texto);
        auto* pie = etiqueta(VistaDiaFlotante::pie(h), fuente(11, QFont::Normal), conOpacidad(pal.tinta, 0.5), this);
        pie->setTextFormat(Qt::PlainText);
        l->addWidget(pie);
        Q_UNUSED(oscuro);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath forma;
        forma.addRoundedRect(QRectF(rect()), 12, 12);
        p.fillPath(forma, fondo_);
    }

private:
    QColor fondo_;
};

QWidget* dato(const QString& valor, const QString& rotulo, const Paleta& pal, const QColor& primario, QWidget* padre) {
    auto* w = new QWidget(padre);
    auto* l = new QVBoxLayout(w);
    l->setContentsMargins(0, 0, 0, 0);
    l->setSpacing(1);
    l->addWidget(etiqueta(valor, fuente(24, QFont::Bold, true), primario, w));
    l->addWidget(etiqueta(rotulo, fuente(11, QFont::Normal), conOpacidad(pal.tinta, 0.55), w));
    return w;
}

QWidget* contenido(const Instantanea& foto, Esquema esquema) {
    const Paleta pal(esquema);
    const QColor primario = esquema == Esquema::oscuro ? QColor(Qt::white) : QColor(Qt::black);
    if (!foto.dia) {
        auto* vacio = new QWidget;
        auto* l = new QVBoxLayout(vacio);
        l->setContentsMargins(16, 16, 16, 16);
        auto* t = etiqueta(QStringLiteral("Todavía sin datos del día."), fuente(13, QFont::Normal), conOpacidad(pal.tinta, 0.6), vacio);
        t->setWordWrap(true);
        l->addWidget(t);
        l->addStretch(1);
        return vacio;
    }
    const Instantanea::Dia& d = *foto.dia;
    auto* cuerpo = new QWidget;
    cuerpo->setObjectName(QStringLiteral("cuerpo"));
    cuerpo->setAttribute(Qt::WA_TranslucentBackground);
    auto* pila = new QVBoxLayout(cuerpo);
    pila->setContentsMargins(16, 0, 16, 14);
    pila->setSpacing(14);

    auto* fila = new QHBoxLayout;
    fila->setSpacing(18);
    fila->addWidget(dato(QString::number(d.conversacionesHoy), QStringLiteral("conversaciones hoy"), pal, primario, cuerpo));
    fila->addWidget(dato(QString::number(d.conversacionesAyer), QStringLiteral("ayer"), pal, primario, cuerpo));
    fila->addWidget(dato(VistaDiaFlotante::textoSolas(d.solas), QStringLiteral("atendidas sin ti"), pal, primario, cuerpo));
    fila->addStretch(1);
    pila->addLayout(fila);

    pila->addWidget(etiqueta(QStringLiteral("Lo que hicieron tus agentes"), fuente(11.5, QFont::DemiBold),
                             conOpacidad(pal.tinta, 0.55), cuerpo));
    if (d.actividad.empty())
        pila->addWidget(etiqueta(QStringLiteral("Todavía nada hoy."), fuente(12.5, QFont::Normal), conOpacidad(pal.tinta, 0.6), cuerpo));
    for (const auto& h : d.actividad) pila->addWidget(new Hecho(h, pal, esquema == Esquema::oscuro, cuerpo));
    pila->addStretch(1);
    return new Desplazable(cuerpo);
}

}  // namespace

VistaDiaFlotante::VistaDiaFlotante(Instantanea foto, std::function<void()> cerrar, Esquema esquema, QWidget* padre)
    : Tarjeta(QStringLiteral("El día de tu negocio"), tam, std::move(cerrar), contenido(foto, esquema), esquema, padre) {}

QString VistaDiaFlotante::textoSolas(std::optional<qint64> solas) {
    return solas ? QString::number(*solas) + QStringLiteral(" %") : QStringLiteral("\u2014");
}

QString VistaDiaFlotante::pie(const Instantanea::Dia::Hecho& hecho) {
    QString agente = hecho.agente;
    if (!agente.isEmpty()) {
        const int largo = agente.at(0).isHighSurrogate() && agente.size() > 1 ? 2 : 1;
        agente = agente.left(largo).toUpper() + agente.mid(largo);
    }
    // The owner's locale; a bare "C" locale (no language set up) would show seconds, so Spanish then.
    QLocale local;
    if (local.language() == QLocale::C) local = QLocale(QLocale::Spanish, QLocale::Spain);
    const QString hora = local.toString(hecho.cuando.toLocalTime().time(), QLocale::ShortFormat);
    return agente + QStringLiteral(" \u00B7 ") + hora;
}
