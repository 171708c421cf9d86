#include "zentu/ajustes/PanelEstado.h"

#include "plataforma/Privacidad.h"
#include "zentu/ajustes/EquipoAgentes.h"
#include "zentu/ajustes/ModeloAjustes.h"
#include "zentu/ajustes/PiezasAjustes.h"
#include "zentu/isla/Vidrio.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>

using namespace Piezas;

namespace {

// One day tile on glass: value, title and an optional note.
class VistaCifra : public QWidget {
public:
    VistaCifra(Esquema esquema, QLabel*& valor, QLabel*& nota, const QString& titulo, QWidget* padre) : QWidget(padre) {
        auto* col = new QVBoxLayout(this);
        col->setContentsMargins(16, 12, 16, 12);
        col->setSpacing(2);
        valor = etiqueta(QString(), fuente(28, QFont::DemiBold, true), primario(esquema));
        col->addWidget(valor);
        // The three tiles share the row equally; a title or note longer than its share wraps
        // (and the row grows to the tallest tile) instead of widening its tile.
        col->addWidget(etiqueta(titulo, fuente(12.5, QFont::Medium), primario(esquema), true));
        nota = etiqueta(QString(), fuente(11), secundario(esquema), true);
        col->addWidget(nota);
        col->addStretch(1);
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        Vidrio(FormaVidrio::redondeada(14), esquema).aplicar(this);
    }
};

// A quick-action card: the icon in a circle at the top, the title and its key caps at the bottom.
class TarjetaAccion : public QAbstractButton {
public:
    TarjetaAccion(const PanelEstado::Accion& accion, Esquema esquema, QWidget* padre)
        : QAbstractButton(padre), accion_(accion), esquema_(esquema), presion_(this) {
        setCursor(Qt::PointingHandCursor);
        setFixedHeight(118);
        setMinimumWidth(60);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setAccessibleName(accion.titulo);
        connect(&presion_, &Presionable::escalaCambio, this, [this] { update(); });
    }
    void setTeclas(const QStringList& teclas, const std::optional<QString>& texto) {
        teclas_ = teclas;
        setToolTip(texto ? accion_.titulo + QStringLiteral(" (") + *texto + QStringLiteral(")") : accion_.titulo);
        update();
    }
    const QStringList& teclas() const { return teclas_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF marco = rect();
        const Vidrio vidrio(FormaVidrio::redondeada(14), esquema_);
        presion_.transformar(p, marco);
        vidrio.pintarFondo(p, marco);
        const Paleta pal(esquema_);
        const QRectF circulo(12, 12, 32, 32);
        p.setPen(Qt::NoPen);
        p.setBrush(accion_.principal ? pal.lima : conAlfa(pal.lima, 0.13));
        p.drawEllipse(circulo);
        const QColor trazo = accion_.principal ? (esquema_ == Esquema::oscuro ? Qt::black : Qt::white) : pal.lima;
        Iconos::trazar(p, accion_.icono, QRectF(circulo.center() - QPointF(8, 8), QSizeF(16, 16)), trazo, 1.7);
        // One cap along the bottom with the whole combination, as every card writes it (cut at
        // the end on a narrow card); the title above it (at most two lines).
        const qreal ancho = width() - 24;
        const qreal yTeclas = height() - 12 - 17;
        if (!teclas_.isEmpty()) {
            const QString todo = QFontMetricsF(fuente(9.5, QFont::DemiBold, true))
                                     .elidedText(teclas_.join(QLatin1Char('+')), Qt::ElideRight, ancho - 10);
            Tecla::pintar(p, QRectF(QPointF(12, yTeclas), QSizeF(std::min(ancho, Tecla::medida(todo, true).width()), 17)),
                          todo, true, esquema_);
        }
        const QFont f = fuente(12.5, QFont::DemiBold);
        const QFontMetricsF fm(f);
        QStringList lineas;
        QTextLayout capa(accion_.titulo, f);
        capa.beginLayout();
        for (int i = 0; i < 2; ++i) {
            QTextLine l = capa.createLine();
            if (!l.isValid()) break;
            l.setLineWidth(ancho);
            lineas << accion_.titulo.mid(l.textStart(), l.textLength()).trimmed();
        }
        capa.endLayout();
        p.setFont(f);
        p.setPen(primario(esquema_));
        // Where the cap would be stays empty on a card without one, so that every title of the row
        // stands on the same line.
        qreal y = yTeclas - 10 - fm.height() * lineas.size();
        for (const QString& l : lineas) {
            p.drawText(QRectF(12, y, ancho, fm.height()), Qt::AlignLeft | Qt::AlignVCenter,
                       fm.elidedText(l, Qt::ElideRight, ancho));
            y += fm.height();
        }
        vidrio.pintarBorde(p, marco);
    }

private:
    PanelEstado::Accion accion_;
    Esquema esquema_;
    Presionable presion_;
    QStringList teclas_;
};

// A dot and a short text.
QWidget* estadoMac(bool ok, const QString& texto, Esquema esquema, QWidget* padre) {
    auto* w = new QWidget(padre);
    auto* fila = new QHBoxLayout(w);
    fila->setContentsMargins(0, 0, 0, 0);
    fila->setSpacing(5);
    auto* punto = new QLabel(w);
    punto->setFixedSize(6, 6);
    punto->setStyleSheet(QStringLiteral("background: %1; border-radius: 3px;")
                             .arg((ok ? Paleta(esquema).lima : naranja(esquema)).name(QColor::HexArgb)));
    fila->addWidget(punto, 0, Qt::AlignVCenter);
    auto* l = recortada(texto, fuente(11), secundario(esquema));
    l->setObjectName(ok ? QStringLiteral("ok") : QStringLiteral("falta"));
    fila->addWidget(l);
    return w;
}

// The rounded block behind the missing permissions.
class BloquePermisos : public QWidget {
public:
    BloquePermisos(Esquema esquema, QWidget* padre) : QWidget(padre), esquema_(esquema) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QColor o = naranja(esquema_);
        p.setPen(Qt::NoPen);
        p.setBrush(conAlfa(o, 0.08));
        p.drawRoundedRect(QRectF(rect()), 12, 12);
        p.setPen(QPen(conAlfa(o, 0.35), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 11.5, 11.5);
    }

private:
    Esquema esquema_;
};

}  // namespace

// ---------------------------------------------------------------------------------------------

QString PanelEstado::comparacion(qint64 hoy, qint64 ayer) {
    const qint64 d = hoy - ayer;
    if (d == 0) return QStringLiteral("igual que ayer");
    if (d > 0) return QString::number(d) + QStringLiteral(" más que ayer");
    return QString::number(-d) + QStringLiteral(" menos que ayer");
}

std::array<PanelEstado::Cifra, 3> PanelEstado::cifras(const Instantanea& foto) {
    std::array<Cifra, 3> c;
    const QString raya = QStringLiteral("—");
    c[0].titulo = QStringLiteral("conversaciones hoy");
    c[1].titulo = QStringLiteral("atendidas sin ti");
    c[2].titulo = QStringLiteral("esperan por ti");
    if (foto.dia) {
        c[0].valor = QString::number(foto.dia->conversacionesHoy);
        c[0].nota = comparacion(foto.dia->conversacionesHoy, foto.dia->conversacionesAyer);
        c[1].valor = foto.dia->solas ? QString::number(*foto.dia->solas) + QStringLiteral(" %") : raya;
    } else {
        c[0].valor = raya;
        c[1].valor = raya;
    }
    c[2].valor = QString::number(foto.totalPendientes);
    c[2].resaltar = foto.totalPendientes >= 1;
    return c;
}

const std::array<PanelEstado::Accion, 4>& PanelEstado::acciones() {
    static const std::array<Accion, 4> a = {{
        {QStringLiteral("llamada"), QStringLiteral("Hablar"), Icono::microfono, true},
        {QStringLiteral("chat"), QStringLiteral("Escribir"), Icono::chat, false},
        {QStringLiteral("pantalla"), QStringLiteral("Mi pantalla"), Icono::monitor, false},
        {QStringLiteral("zona"), QStringLiteral("Una zona"), Icono::zona, false},
    }};
    return a;
}

namespace {

// "A", "A y B", "A, B y C".
QString enumerar(const QStringList& partes) {
    if (partes.size() <= 1) return partes.value(0);
    return partes.mid(0, partes.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" y ") + partes.last();
}

}  // namespace

QString PanelEstado::motivoSinTeclas(bool wayland) {
    return wayland ? QStringLiteral("no funcionan en una sesión Wayland") : QStringLiteral("no funcionan sin una sesión X11");
}

std::vector<PanelEstado::Falta> PanelEstado::faltan(const Sistema& s) {
    using B = Falta::Boton;
    std::vector<Falta> r;
    if (!s.microfono)
        r.push_back({QStringLiteral("Micrófono"), QStringLiteral("para que Zentu te oiga"), B::darPermiso, Permiso::microfono});
    const QString pantalla = QStringLiteral("Grabación de pantalla");
    if (!s.pantallaOfrecida)
        r.push_back({pantalla, QStringLiteral("este escritorio no ofrece capturas"), B::ninguno, std::nullopt});
    else if (!s.pantallaFunciona && s.pantallaPermitida)
        r.push_back({pantalla, QStringLiteral("dado: falta volver a abrir la app"), B::reabrir, std::nullopt});
    else if (!s.pantallaFunciona)
        r.push_back({pantalla, QStringLiteral("para ver tu pantalla"), B::darPermiso, Permiso::pantalla});
    // Global keys are the session's to give, not the owner's: where they cannot reach the program
    // neither the hot keys nor the chord are offered as a permission (whatever the chord's switch
    // says; nothing would be asked for it either).
    const QString atajos = QStringLiteral("Atajos de teclado");
    if (!s.accesibilidad)
        r.push_back({atajos, motivoSinTeclas(s.wayland), B::ninguno, std::nullopt});
    else if (!s.atajosOcupados.isEmpty())
        r.push_back({atajos, QStringLiteral("el escritorio u otra app ya usa ") + enumerar(s.atajosOcupados), B::ninguno,
                     std::nullopt});
    return r;
}

PanelEstado::Sistema PanelEstado::sistemaActual(const ModeloAjustes& modelo) {
    Privacidad& p = Privacidad::actual();
    Sistema s;
    s.microfono = p.microfono() == Privacidad::Estado::concedido;
    s.pantallaFunciona = Permiso::pantallaFunciona();
    s.pantallaPermitida = p.pantallaPermitida();
    s.pantallaOfrecida = Permiso::pantallaOfrecida();
    s.accesibilidad = p.accesibilidadPermitida();
    s.wayland = p.sesion() == Privacidad::Sesion::wayland;
    // While a key records, every hot key is given back on purpose.
    if (s.accesibilidad && !modelo.grabando())
        for (Atajos::Cual c : Atajos::todas)
            if (!modelo.atajos().registrada(c)) s.atajosOcupados << modelo.combinacion(c).texto();
    return s;
}

bool PanelEstado::atajoFunciona(const ModeloAjustes& modelo, Atajos::Cual cual, bool teclasAqui) {
    return teclasAqui && (modelo.grabando() || modelo.atajos().registrada(cual));
}

PanelEstado::PanelEstado(ModeloAjustes& modelo, Esquema esquema, QWidget* padre)
    : QWidget(padre), modelo_(modelo), esquema_(esquema) {
    auto* col = new QVBoxLayout(this);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(12);

    auto* filaCifras = new QHBoxLayout;
    filaCifras->setSpacing(12);
    const auto c = cifras(Instantanea::vacia());
    for (int i = 0; i < 3; ++i) {
        tiles_[i] = new VistaCifra(esquema, valores_[i], notas_[i], c[i].titulo, this);
        filaCifras->addWidget(tiles_[i], 1);
    }
    col->addLayout(filaCifras);

    bloqueMac_ = new QVBoxLayout;
    bloqueMac_->setSpacing(10);
    auto* filaAcciones = new QHBoxLayout;
    filaAcciones->setSpacing(10);
    for (const Accion& a : acciones()) {
        auto* t = new TarjetaAccion(a, esquema, this);
        const QString nombre = a.nombre;
        connect(t, &QAbstractButton::clicked, this, [this, nombre] {
            if (modelo_.accion) modelo_.accion(nombre);
        });
        tarjetas_.push_back(t);
        filaAcciones->addWidget(t, 1);
    }
    bloqueMac_->addLayout(filaAcciones);
    col->addLayout(bloqueMac_);

    equipo_ = new EquipoAgentes(modelo, esquema, this);
    col->addWidget(equipo_);
    aviso_ = etiqueta(QString(), fuente(11.5), secundario(esquema), true);
    aviso_->hide();
    col->addWidget(aviso_);
    col->addStretch(1);

    setFoto(Instantanea::vacia());
    actualizarTeclas();
    actualizarPermisos();
    connect(&modelo_, &ModeloAjustes::combinacionesCambio, this, &PanelEstado::actualizarTeclas);
    connect(&modelo_, &ModeloAjustes::cambio, this, &PanelEstado::actualizarPermisos);
}

void PanelEstado::actualizarTeclas() {
    const bool teclasAqui = Privacidad::actual().accesibilidadPermitida();
    for (size_t i = 0; i < tarjetas_.size(); ++i) {
        const QString& n = acciones()[i].nombre;
        const Atajos::Cual cual = n == QLatin1String("llamada") ? Atajos::Cual::llamada
                                  : n == QLatin1String("chat")  ? Atajos::Cual::chat
                                  : n == QLatin1String("pantalla") ? Atajos::Cual::pantalla
                                                                   : Atajos::Cual::zona;
        const Combinacion comb = modelo_.combinacion(cual);
        // A key that does nothing here is not offered: the card keeps only its title.
        auto* t = static_cast<TarjetaAccion*>(tarjetas_[i]);
        if (atajoFunciona(modelo_, cual, teclasAqui))
            t->setTeclas(teclas(comb), comb.texto());
        else
            t->setTeclas({}, std::nullopt);
    }
}

void PanelEstado::setFoto(const Instantanea& foto) {
    const auto c = cifras(foto);
    for (int i = 0; i < 3; ++i) {
        valores_[i]->setText(c[i].valor);
        QPalette pal = valores_[i]->palette();
        pal.setColor(QPalette::WindowText, c[i].resaltar ? Paleta(esquema_).lima : primario(esquema_));
        valores_[i]->setPalette(pal);
        notas_[i]->setText(c[i].nota.value_or(QString()));
        notas_[i]->setVisible(c[i].nota.has_value());
    }
    equipo_->setFoto(foto);
}

void PanelEstado::setAviso(const std::optional<QString>& aviso) {
    aviso_->setText(aviso.value_or(QString()));
    aviso_->setVisible(aviso.has_value());
}

void PanelEstado::setGrande(bool grande) { equipo_->setFilas(grande ? 3 : 1); }

void PanelEstado::actualizarPermisos() {
    if (permisos_) {
        bloqueMac_->removeWidget(permisos_);
        permisos_->hide();
        permisos_->deleteLater();
        permisos_ = nullptr;
    }
    const std::vector<Falta> f = faltan(sistemaActual(modelo_));
    if (f.empty()) {
        auto* linea = new QWidget(this);
        auto* fila = new QHBoxLayout(linea);
        fila->setContentsMargins(0, 0, 0, 0);
        fila->setSpacing(14);
        fila->addWidget(estadoMac(true, QStringLiteral("Todo listo en este equipo"), esquema_, linea));
        const bool llamadas = modelo_.llamadas().value_or(false);
        fila->addWidget(estadoMac(llamadas, llamadas ? QStringLiteral("Te pueden llamar aquí") : QStringLiteral("Llamadas apagadas"),
                                  esquema_, linea));
        fila->addStretch(1);
        permisos_ = linea;
    } else {
        auto* bloque = new BloquePermisos(esquema_, this);
        auto* col = new QVBoxLayout(bloque);
        col->setContentsMargins(14, 10, 14, 10);
        col->setSpacing(8);
        for (const Falta& falta : f) {
            auto* fila = new QHBoxLayout;
            fila->setSpacing(10);
            auto* punto = new QLabel(bloque);
            punto->setFixedSize(7, 7);
            punto->setStyleSheet(QStringLiteral("background: %1; border-radius: 3px;").arg(naranja(esquema_).name()));
            fila->addWidget(punto, 0, Qt::AlignVCenter);
            fila->addWidget(etiqueta(falta.titulo, fuente(12.5, QFont::DemiBold), primario(esquema_)));
            auto* nota = recortada(falta.nota, fuente(12), secundario(esquema_));
            nota->setMinimumWidth(20);
            fila->addWidget(nota, 1);
            if (falta.boton != Falta::Boton::ninguno) {
                fila->addSpacing(8);
                const bool reabrir = falta.boton == Falta::Boton::reabrir;
                auto* boton = new BotonBordeado(reabrir ? QStringLiteral("Volver a abrir Zentu AI") : QStringLiteral("Dar permiso"),
                                                naranja(esquema_), 11.5, esquema_, bloque);
                const std::optional<Permiso> permiso = falta.permiso;
                connect(boton, &QPushButton::clicked, bloque, [reabrir, permiso] {
                    if (reabrir)
                        Permiso::reabrirApp();
                    else if (permiso)
                        permiso->pedir();
                });
                fila->addWidget(boton);
            }
            col->addLayout(fila);
        }
        permisos_ = bloque;
    }
    bloqueMac_->addWidget(permisos_);
    permisos_->setVisible(true);
    actualizarTeclas();
}
