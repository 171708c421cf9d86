#include "zentu/app/MenuBandeja.h"

#include "compartido/VistaAgentesW.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <cmath>

namespace MenuBandeja {

namespace {

Elemento separador() {
    Elemento e;
    e.tipo = Elemento::Tipo::separador;
    return e;
}

Elemento encabezado(const QString& titulo) {
    Elemento e;
    e.tipo = Elemento::Tipo::encabezado;
    e.titulo = titulo;
    e.habilitado = false;
    return e;
}

// A hot-key item: its combination after two spaces, written as every other view writes it. A
// key equivalent would be named by the tray (or Qt) in words of its own ("Shift", "Meta"), and it
// acts nowhere: the hot key itself is global. A hot key that does not work is not offered.
Elemento conAtajo(const QString& titulo, const std::optional<Combinacion>& combinacion, Accion accion) {
    Elemento e;
    e.titulo = combinacion ? titulo + QStringLiteral("  ") + combinacion->texto() : titulo;
    e.accion = accion;
    return e;
}

Elemento simple(const QString& titulo, Accion accion, std::optional<Combinacion::TeclaMenu> tecla = {}) {
    Elemento e;
    e.titulo = titulo;
    e.accion = accion;
    e.tecla = std::move(tecla);
    return e;
}

Elemento agente(const Instantanea::Agente& a) {
    Elemento e;
    e.titulo = nombreAgente(a.nombre);
    e.marcado = a.activo;
    e.etiqueta = a.id;
    if (a.coordinador) {
        e.subtitulo = QStringLiteral("Coordina el equipo");
        e.ayuda = QStringLiteral("Zentu coordina el equipo");
        return e;  // the coordinator cannot be paused: no action
    }
    e.accion = Accion::alternarAgente;
    if (a.activo) {
        e.ayuda = QStringLiteral("Clic para pausarlo");
        if (a.conversaciones == 1)
            e.subtitulo = QStringLiteral("1 conversación");
        else if (a.conversaciones > 1)
            e.subtitulo = QString::number(a.conversaciones) + QStringLiteral(" conversaciones");
    } else {
        e.ayuda = QStringLiteral("Clic para reanudarlo");
    }
    return e;
}

Elemento submenuAgentes(const std::vector<Instantanea::Agente>& agentes) {
    std::vector<Instantanea::Agente> activos, pausados;
    for (const auto& a : agentes) (a.activo ? activos : pausados).push_back(a);

    Elemento e;
    e.tipo = Elemento::Tipo::submenu;
    e.titulo = QStringLiteral("Tus agentes");
    e.subtitulo = subtituloAgentes(agentes);
    e.hijos.push_back(encabezado(QStringLiteral("Trabajando")));
    for (const auto& a : VistaAgentesW::ordenados(activos)) e.hijos.push_back(agente(a));
    if (!pausados.empty()) {
        e.hijos.push_back(separador());
        e.hijos.push_back(encabezado(QStringLiteral("En pausa")));
        for (const auto& a : VistaAgentesW::ordenados(pausados)) e.hijos.push_back(agente(a));
    }
    e.hijos.push_back(separador());
    e.hijos.push_back(simple(QStringLiteral("Ver el equipo…"), Accion::agentes));
    return e;
}

QKeySequence secuencia(const Combinacion::TeclaMenu& tecla) {
    const QKeySequence base(tecla.tecla);
    if (base.isEmpty()) return {};
    return QKeySequence(base[0].key() | tecla.mods);
}

}  // namespace

QString Elemento::texto() const {
    return subtitulo.isEmpty() ? titulo : titulo + QStringLiteral(" — ") + subtitulo;
}

QString nombreAgente(const QString& nombre) {
    QString texto = nombre;
    texto.replace(QLatin1Char('_'), QLatin1Char(' '));
    if (!texto.isEmpty()) {
        // The first user-perceived character, which may be two UTF-16 units.
        const int largo = texto.at(0).isHighSurrogate() && texto.size() > 1 ? 2 : 1;
        texto = texto.left(largo).toUpper() + texto.mid(largo);
    }
    return texto;
}

QString subtituloAgentes(const std::vector<Instantanea::Agente>& agentes) {
    qsizetype activos = 0;
    for (const auto& a : agentes) activos += a.activo ? 1 : 0;
    const qsizetype pausados = qsizetype(agentes.size()) - activos;
    QString texto = QString::number(activos) + QStringLiteral(" trabajando");
    if (pausados > 0) texto += QStringLiteral(" · ") + QString::number(pausados) + QStringLiteral(" en pausa");
    return texto;
}

QString ayudaIcono(const std::optional<Combinacion>& llamada, const std::optional<Combinacion>& conversacion) {
    QString texto = QStringLiteral("Zentu AI");
    if (llamada) texto += QStringLiteral(" · llamada ") + llamada->texto();
    if (conversacion) texto += QStringLiteral(" · conversación ") + conversacion->texto();
    return texto;
}

std::optional<QString> ayudaContador(int total) {
    if (total < 1) return std::nullopt;
    return QString::number(total) + (total == 1 ? QStringLiteral(" decisión espera") : QStringLiteral(" decisiones esperan")) +
           QStringLiteral(" por ti");
}

std::vector<Elemento> construir(const Datos& datos) {
    std::vector<Elemento> m;
    Elemento llamar = conAtajo(QStringLiteral("Llamar a Zentu"), datos.llamada, Accion::llamada);
    if (datos.conversacion)
        llamar.subtitulo = QStringLiteral("O mantén ") + datos.conversacion->texto() + QStringLiteral(" para una nota de voz");
    m.push_back(std::move(llamar));
    m.push_back(conAtajo(QStringLiteral("Abrir el chat"), datos.chat, Accion::chat));
    m.push_back(conAtajo(QStringLiteral("Ver mi pantalla"), datos.pantalla, Accion::pantalla));
    m.push_back(conAtajo(QStringLiteral("Capturar una zona"), datos.zona, Accion::zona));
    if (datos.agentes && !datos.agentes->empty()) {
        m.push_back(separador());
        m.push_back(submenuAgentes(*datos.agentes));
    }
    m.push_back(separador());
    // No key beside "Abrir Zentu AI" and "Salir de Zentu AI": the program has no window of its own
    // always at hand whose keys could reach them, and a tray menu takes no keys of its items.
    m.push_back(simple(QStringLiteral("Abrir Zentu AI"), Accion::ajustes));
    m.push_back(simple(QStringLiteral("Buscar actualizaciones…"), Accion::actualizaciones));
    m.push_back(separador());
    if (datos.cuenta) {
        Elemento cuenta;
        const bool sinNombre = datos.cuenta->nombre.isEmpty();
        cuenta.titulo = sinNombre ? datos.cuenta->correo : datos.cuenta->nombre;
        if (!sinNombre) cuenta.subtitulo = datos.cuenta->correo;
        cuenta.habilitado = false;
        m.push_back(std::move(cuenta));
    } else {
        m.push_back(simple(QStringLiteral("Enlazar con el panel…"), Accion::enlazar));
    }
    m.push_back(simple(QStringLiteral("Salir de Zentu AI"), Accion::salir));
    return m;
}

void vaciar(QMenu& menu) {
    for (QMenu* sub : menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) vaciar(*sub);
    menu.clear();
}

void llenar(QMenu& menu, const std::vector<Elemento>& elementos, const std::function<void(Accion, qint64)>& alElegir) {
    // Submenus of an earlier build are children of the menu, not its actions: clear() keeps them.
    for (QMenu* sub : menu.findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
        vaciar(*sub);
        sub->deleteLater();
    }
    menu.clear();
    for (const Elemento& e : elementos) {
        switch (e.tipo) {
        case Elemento::Tipo::separador:
            menu.addSeparator();
            break;
        case Elemento::Tipo::encabezado: {
            QAction* a = menu.addAction(e.titulo);
            a->setEnabled(false);
            break;
        }
        case Elemento::Tipo::submenu: {
            QMenu* sub = menu.addMenu(e.texto());
            llenar(*sub, e.hijos, alElegir);
            break;
        }
        case Elemento::Tipo::accion: {
            QAction* a = menu.addAction(e.texto());
            a->setEnabled(e.habilitado);
            if (!e.ayuda.isEmpty()) a->setToolTip(e.ayuda);
            if (e.tecla) a->setShortcut(secuencia(*e.tecla));
            if (e.marcado) {
                a->setCheckable(true);
                a->setChecked(*e.marcado);
            }
            if (e.accion != Accion::ninguna) {
                const Accion accion = e.accion;
                const qint64 etiqueta = e.etiqueta;
                QObject::connect(a, &QAction::triggered, &menu, [alElegir, accion, etiqueta] {
                    if (alElegir) alElegir(accion, etiqueta);
                });
            } else if (e.marcado) {
                // The coordinator shows its state but cannot be switched.
                QObject::connect(a, &QAction::triggered, a, [a, estado = *e.marcado] { a->setChecked(estado); });
            }
            break;
        }
        }
    }
}

QColor contorno(const QColor& tinta) {
    return tinta.lightnessF() < 0.5 ? QColor(255, 255, 255, 235) : QColor(0, 0, 0, 215);
}

namespace {

// The badge's figures are drawn as strokes of our own rather than as text: text would bring up
// the font machinery (fontconfig, FreeType, HarfBuzz, the font files), some 3 MB that a tray
// program idling with one pending question would carry only for one digit.
constexpr double kAltoCifra = 6;  // a figure's box is 4 wide and 6 tall, y down
constexpr double kPasoCifra = 5.4;

QPainterPath cifra(QChar c) {
    QPainterPath t;
    switch (c.unicode()) {
        case '0': t.addRoundedRect(QRectF(0, 0, 4, 6), 2, 2); break;
        case '1': t.moveTo(0.9, 1.1); t.lineTo(2.4, 0); t.lineTo(2.4, 6); break;
        case '2':
            t.arcMoveTo(QRectF(0, 0, 4, 3.6), 160);
            t.arcTo(QRectF(0, 0, 4, 3.6), 160, -200);
            t.lineTo(0, 6);
            t.lineTo(4, 6);
            break;
        case '3':
            t.arcMoveTo(QRectF(0.2, 0, 3.6, 3), 150);
            t.arcTo(QRectF(0.2, 0, 3.6, 3), 150, -240);
            t.arcTo(QRectF(0, 3, 4, 3), 90, -240);
            break;
        case '4': t.moveTo(3, 6); t.lineTo(3, 0); t.lineTo(0, 4.2); t.lineTo(4, 4.2); break;
        case '5':
            t.moveTo(3.8, 0);
            t.lineTo(0.5, 0);
            t.lineTo(0.3, 2.8);
            t.arcTo(QRectF(0, 2.2, 4, 3.8), 140, -280);
            break;
        case '6':
            t.addEllipse(QRectF(0, 2.4, 4, 3.6));
            t.moveTo(3.3, 0.2);
            t.quadTo(0, 0.6, 0, 4.2);
            break;
        case '7': t.moveTo(0, 0); t.lineTo(4, 0); t.lineTo(1.5, 6); break;
        case '8':
            t.addEllipse(QRectF(0.3, 0, 3.4, 2.8));
            t.addEllipse(QRectF(0, 2.8, 4, 3.2));
            break;
        case '9':
            t.addEllipse(QRectF(0, 0, 4, 3.6));
            t.moveTo(4, 1.8);
            t.quadTo(4, 5.4, 0.7, 6);
            break;
        case '+': t.moveTo(2, 1.2); t.lineTo(2, 4.8); t.moveTo(0.2, 3); t.lineTo(3.8, 3); break;
        default: break;
    }
    return t;
}

}  // namespace

QPainterPath cifras(const QString& texto) {
    QPainterPath todo;
    for (qsizetype i = 0; i < texto.size(); ++i) todo.addPath(cifra(texto[i]).translated(i * kPasoCifra, 0));
    return todo;
}

QImage dibujarIcono(int lado, const QColor& tinta, int total) {
    QImage imagen(lado, lado, QImage::Format_ARGB32_Premultiplied);
    imagen.fill(Qt::transparent);
    QPainter p(&imagen);
    p.setRenderHint(QPainter::Antialiasing);
    const double escala = lado / 18.0;
    p.scale(escala, escala);
    const QPointF c(9, 9);
    p.setBrush(Qt::NoBrush);
    auto trazar = [&](const QPen& lapiz) {
        p.setPen(lapiz);
        p.drawEllipse(c, 7.5, 7.5);
        for (double grados : {60.0, 120.0}) {
            p.save();
            p.translate(c);
            p.rotate(grados);
            p.drawEllipse(QPointF(0, 0), 7.5, 3.2);
            p.restore();
        }
    };
    // The panel's own colour is unknown (a dark panel under a light desktop, or the reverse): an
    // outline in the opposite shade under every stroke lets the mark read on either.
    trazar(QPen(contorno(tinta), 1.3 + 2 * kContorno));
    trazar(QPen(tinta, 1.3));
    if (total >= 1) {
        // A panel item has no room for a title beside it: the count sits on the icon.
        const QString texto = total > 99 ? QStringLiteral("99+") : QString::number(total);
        const double alto = texto.size() > 2 ? 4.4 : 5.6;  // the figures' height, in the icon's 18
        const QPainterPath trazos = cifras(texto);
        const double k = alto / kAltoCifra;
        const double ancho = std::max(10.0, trazos.boundingRect().width() * k + 4);
        const QRectF marco(18 - ancho, 8, ancho, 10);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(214, 48, 49));
        p.drawRoundedRect(marco, 5, 5);
        p.save();
        p.translate(marco.center() - QPointF(trazos.boundingRect().center().x() * k, alto / 2));
        p.scale(k, k);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(Qt::white, 1.25, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(trazos);
        p.restore();
    }
    return imagen;
}

QIcon icono(const QColor& tinta, int total) {
    QIcon resultado;
    for (int lado : {18, 22, 24, 32, 36, 44, 48, 64}) resultado.addPixmap(QPixmap::fromImage(dibujarIcono(lado, tinta, total)));
    return resultado;
}

}  // namespace MenuBandeja
