#include "zentu/captura/Captura.h"

#include "compartido/Instantanea.h"
#include "compartido/VistaAgentesW.h"
#include "compartido/VistaDiaW.h"
#include "plataforma/Miniaturas.h"
#include "zentu/ajustes/ModeloAjustes.h"
#include "zentu/ajustes/VistaAjustes.h"
#include "zentu/chat/Burbujas.h"
#include "zentu/chat/TipoArchivo.h"
#include "zentu/conexion/ModeloEnlace.h"
#include "zentu/escritorio/ModeloDudas.h"
#include "zentu/escritorio/VistaDudasFlotante.h"
#include "zentu/isla/Atajo.h"
#include "zentu/isla/Pildora.h"
#include "zentu/isla/VistaCreditosFlotante.h"
#include "zentu/isla/VistaDiaFlotante.h"
#include "zentu/isla/VistaEnlace.h"

#include <QBoxLayout>
#include <QScrollArea>
#include <QCoreApplication>
#include <QResizeEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLayout>
#include <QLinearGradient>
#include <QMutex>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QSemaphore>
#include <QThreadPool>
#include <QUrl>
#include <cmath>
#include <memory>

namespace {

constexpr qreal kEscala = 2;

QString sufijo(Esquema e) { return e == Esquema::oscuro ? QString() : QStringLiteral("-claro"); }

// A plain surface behind a picture: one colour, or the island's diagonal backdrop.
class Lamina : public QWidget {
public:
    explicit Lamina(QColor color) : color_(color) {}
    Lamina(QColor desde, QColor hasta) : color_(desde), hasta_(hasta) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRectF r = rect();
        if (hasta_) {
            QLinearGradient g(r.topLeft(), r.bottomRight());
            g.setColorAt(0, color_);
            g.setColorAt(1, *hasta_);
            p.fillRect(r, g);
        } else {
            p.fillRect(r, color_);
        }
    }

private:
    QColor color_;
    std::optional<QColor> hasta_;
};

// The widget palette of a colour scheme, for the views that take their colours from it.
QPalette paleta(Esquema e) {
    QPalette pal;
    const bool oscuro = e == Esquema::oscuro;
    const QColor ventana = oscuro ? QColor(30, 30, 32) : QColor(236, 236, 238);
    const QColor texto = oscuro ? QColor(255, 255, 255) : QColor(20, 20, 22);
    const QColor base = oscuro ? QColor(44, 44, 48) : QColor(255, 255, 255);
    for (auto grupo : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(grupo, QPalette::Window, ventana);
        pal.setColor(grupo, QPalette::WindowText, texto);
        pal.setColor(grupo, QPalette::Text, texto);
        pal.setColor(grupo, QPalette::ButtonText, texto);
        pal.setColor(grupo, QPalette::Base, base);
        pal.setColor(grupo, QPalette::Button, base);
    }
    return pal;
}

// Lays out a view that is never shown (showing would start what the view does on screen, such
// as asking the service): layouts run top-down and each widget gets the resize event it would
// get on showing, which is when scroll areas decide whether they need a bar.
void asentarUnaVez(QWidget& w) {
    w.ensurePolished();
    if (w.testAttribute(Qt::WA_PendingResizeEvent)) {
        w.setAttribute(Qt::WA_PendingResizeEvent, false);
        QResizeEvent evento(w.size(), QSize());
        QCoreApplication::sendEvent(&w, &evento);
    }
    if (QLayout* l = w.layout()) l->activate();
    for (QObject* o : w.children())
        if (auto* hijo = qobject_cast<QWidget*>(o); hijo && !hijo->isWindow()) asentarUnaVez(*hijo);
}

void asentar(QWidget& w) {
    // A second pass settles what the layout requests of the first one changed.
    for (int i = 0; i < 2; ++i) {
        asentarUnaVez(w);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
    // A scroll area sized its content when it was first resized, before the panes it holds were
    // laid out: it measures again, and a second time once it knows whether a bar takes room.
    for (QScrollArea* area : w.findChildren<QScrollArea*>()) {
        QWidget* contenido = area->widget();
        if (!contenido || !area->widgetResizable()) continue;
        for (const QSize vista : {area->maximumViewportSize(), QSize()}) {
            const QSize v = vista.isValid() ? vista : area->viewport()->size();
            int alto = contenido->heightForWidth(v.width());
            if (alto < 0) alto = contenido->sizeHint().height();
            contenido->resize(v.width(), std::max(alto, v.height()));
            QResizeEvent evento(area->size(), area->size());
            QCoreApplication::sendEvent(area, &evento);
        }
    }
    asentarUnaVez(w);
}

// Writes the picture as "<nombre>.png" into an existing folder, replacing a file of that name
// whole (a reader never sees half a picture). Any failure skips the picture.
void escribir(const QImage& imagen, const QString& carpeta, const QString& nombre) {
    if (imagen.isNull() || !QFileInfo(carpeta).isDir()) return;
    QSaveFile archivo(QDir(carpeta).filePath(nombre + QStringLiteral(".png")));
    if (!archivo.open(QIODevice::WriteOnly)) return;
    if (!imagen.save(&archivo, "PNG") || !archivo.commit()) return;
    if (Captura::alEscribir) Captura::alEscribir(nombre);
}

QImage lienzo(QSizeF puntos) {
    const QSize px(int(std::ceil(puntos.width() * kEscala)), int(std::ceil(puntos.height() * kEscala)));
    if (px.isEmpty()) return {};
    QImage imagen(px, QImage::Format_ARGB32_Premultiplied);
    if (imagen.isNull()) return {};
    imagen.setDevicePixelRatio(kEscala);
    imagen.fill(Qt::transparent);
    return imagen;
}

// Draws the view at the size it has (or asks for) and writes it.
void guardar(QWidget& vista, const QString& carpeta, const QString& nombre) {
    asentar(vista);
    QImage imagen = lienzo(vista.size());
    if (imagen.isNull()) return;
    vista.render(&imagen, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    escribir(imagen, carpeta, nombre);
}

// A view whose height follows from its width.
void ajustarAncho(QWidget& w, int ancho) {
    w.setFixedWidth(ancho);
    asentar(w);
    const int alto = w.layout() ? w.layout()->totalHeightForWidth(ancho) : w.heightForWidth(ancho);
    w.setFixedHeight(std::max(1, alto > 0 ? alto : w.sizeHint().height()));
}

// A picture has nothing to scroll: the view grows by what its scroll areas cannot show.
void crecerSinDesplazar(QWidget& w) {
    for (int intento = 0; intento < 3; ++intento) {
        asentar(w);
        int falta = 0;
        for (QScrollArea* area : w.findChildren<QScrollArea*>())
            if (area->widget()) falta = std::max(falta, area->widget()->height() - area->viewport()->height());
        if (falta <= 0) return;
        w.resize(w.width(), w.height() + falta);
    }
}

void ajustarASuTamano(QWidget& w) {
    asentar(w);
    w.resize(w.sizeHint().expandedTo(w.minimumSize()).expandedTo(QSize(1, 1)));
}

// ------------------------------------------------------------------ pictures of `hacer`

void isla(const Captura::EstadoIsla& fila, Esquema esquema, const QString& carpeta) {
    EstadoVoz voz;
    voz.setVisible(true);
    voz.setModoChat(fila.modoChat);
    voz.setVozEnChat(fila.vozEnChat);
    voz.setFase(fila.fase);
    voz.setSilencio(fila.silencio);
    voz.setAviso(fila.aviso);
    voz.nivelBruto = fila.nivelBruto;
    for (int i = 0; i < 90; ++i) voz.avanzar(i / 30.0);

    const bool oscuro = esquema == Esquema::oscuro;
    Lamina fondo(oscuro ? QColor::fromRgbF(0.11f, 0.17f, 0.27f) : QColor::fromRgbF(0.93f, 0.95f, 0.98f),
                 oscuro ? QColor::fromRgbF(0.06f, 0.07f, 0.10f) : QColor::fromRgbF(0.85f, 0.88f, 0.93f));
    auto* pildora = new Pildora(voz, &fondo);
    pildora->setEsquema(esquema);
    for (auto* accion : {&pildora->alSilenciar, &pildora->alTerminar, &pildora->alVerEnChat, &pildora->alContestar,
                         &pildora->alRechazar, &pildora->alNotaDeVoz, &pildora->alConversar})
        *accion = [] {};
    const QSize tam = pildora->sizeHint();
    pildora->setGeometry(QRect(QPoint(), tam));
    fondo.resize(tam);
    guardar(fondo, carpeta, fila.nombre + sufijo(esquema));
}

void enlace(const QString& carpeta) {
    ModeloEnlace modelo;
    Lamina fondo(QColor::fromRgbF(0.12f, 0.12f, 0.12f));
    fondo.setPalette(paleta(Esquema::claro));
    auto* capa = new QVBoxLayout(&fondo);
    capa->setContentsMargins(0, 0, 0, 0);
    capa->addWidget(new VistaEnlace(modelo));
    ajustarASuTamano(fondo);
    guardar(fondo, carpeta, QStringLiteral("enlace"));
}

void burbujas(Esquema esquema, const QString& carpeta) {
    const bool oscuro = esquema == Esquema::oscuro;
    Lamina fondo(oscuro ? QColor::fromRgbF(0.12f, 0.12f, 0.12f) : QColor::fromRgbF(0.95f, 0.95f, 0.95f));
    fondo.setPalette(paleta(esquema));
    auto* capa = new QVBoxLayout(&fondo);
    capa->setContentsMargins(16, 16, 16, 16);
    capa->setSpacing(8);
    for (const ChatZentu::Mensaje& m : Captura::mensajesDemo(QDateTime::currentDateTime()))
        capa->addWidget(new BurbujaParaCaptura(m, esquema));
    ajustarAncho(fondo, 420);
    guardar(fondo, carpeta, QStringLiteral("burbujas") + sufijo(esquema));
}

// The thumbnail of a file, made on a worker thread; the caller waits at most `espera` ms. A
// late result lands in a box nobody reads any more.
QImage miniatura(const QString& ruta, QSize pixeles, int espera) {
    struct Caja {
        QMutex cerrojo;
        QImage imagen;
        QSemaphore listo;
    };
    auto caja = std::make_shared<Caja>();
    QThreadPool::globalInstance()->start([caja, ruta, pixeles] {
        QImage img = Miniaturas::generar(ruta, pixeles);
        {
            QMutexLocker cierre(&caja->cerrojo);
            caja->imagen = std::move(img);
        }
        caja->listo.release();
    });
    caja->listo.tryAcquire(1, espera);
    QMutexLocker cierre(&caja->cerrojo);
    return caja->imagen;
}

// The thumbnail in a 56-point square with rounded corners, scaled to fill.
class CuadroMiniatura : public QWidget {
public:
    explicit CuadroMiniatura(QImage imagen) : imagen_(std::move(imagen)) { setFixedSize(56, 56); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF cuadro(0, 0, 56, 56);
        QPainterPath forma;
        forma.addRoundedRect(cuadro, 10, 10);
        p.setClipPath(forma);
        const QSizeF img = imagen_.size();
        const double f = std::max(cuadro.width() / img.width(), cuadro.height() / img.height());
        const QSizeF vista(cuadro.width() / f, cuadro.height() / f);
        p.drawImage(cuadro, imagen_,
                    QRectF((img.width() - vista.width()) / 2, (img.height() - vista.height()) / 2, vista.width(),
                           vista.height()));
    }

private:
    QImage imagen_;
};

// The thumbnail row's rounded wash of white at 0.06.
class FilaArchivoCaptura : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath forma;
        forma.addRoundedRect(QRectF(rect()), 14, 14);
        p.fillPath(forma, QColor::fromRgbF(1, 1, 1, 0.06f));
    }
};

QLabel* etiqueta(const QString& texto, const QFont& fuente, QColor color) {
    auto* l = new QLabel(texto);
    l->setFont(fuente);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, color);
    l->setPalette(pal);
    return l;
}

void adjuntos(const QString& carpeta) {
    const QString ruta = Captura::pdfMuestra();
    const QImage img = QFileInfo(ruta).isFile()
                           ? miniatura(ruta, QSize(int(56 * kEscala), int(56 * kEscala)), Captura::esperaMiniatura)
                           : QImage();

    Lamina fondo(QColor::fromRgbF(0.13f, 0.13f, 0.13f));
    fondo.setPalette(paleta(Esquema::oscuro));
    auto* columna = new QVBoxLayout(&fondo);
    columna->setContentsMargins(20, 20, 20, 20);
    columna->setSpacing(16);

    auto* fichas = new QHBoxLayout;
    fichas->setSpacing(10);
    for (const QString& n : Captura::nombresAdjuntos()) fichas->addWidget(new FichaTipo(n, 44), 0, Qt::AlignVCenter);
    fichas->addStretch(1);
    columna->addLayout(fichas);

    auto* fila = new FilaArchivoCaptura;
    auto* h = new QHBoxLayout(fila);
    h->setContentsMargins(10, 10, 10, 10);
    h->setSpacing(12);
    if (!img.isNull() && img.width() > 0 && img.height() > 0)
        h->addWidget(new CuadroMiniatura(img), 0, Qt::AlignVCenter);
    else
        h->addWidget(new FichaTipo(Captura::nombreSinMiniatura, 56), 0, Qt::AlignVCenter);
    auto* textos = new QVBoxLayout;
    textos->setSpacing(3);
    textos->addWidget(etiqueta(QFileInfo(ruta).fileName(), TipoArchivo::fuente(12.5, QFont::DemiBold), Qt::white));
    textos->addWidget(etiqueta(TipoArchivo::detalle(QUrl::fromLocalFile(ruta)), TipoArchivo::fuente(11, QFont::Normal),
                               QColor::fromRgbF(1, 1, 1, 0.55f)));
    h->addLayout(textos);
    h->setAlignment(textos, Qt::AlignVCenter);
    h->addStretch(1);
    columna->addWidget(fila);

    ajustarAncho(fondo, 460);
    guardar(fondo, carpeta, QStringLiteral("adjuntos"));
}

void ajustes(Atajos& atajos, EstadoVoz& voz, SeccionAjustes seccion, Esquema esquema, const QString& carpeta) {
    ModeloAjustes modelo(
        atajos, voz, true, [] { return std::optional<Cuenta>(Captura::cuentaDemo()); }, [] {}, [](bool) {}, [] {});
    modelo.setLlamadas(true);
    // Never shown: showing would ask the service for the calls preference.
    VistaAjustes vista(modelo, seccion, esquema);
    vista.setPalette(paleta(esquema));
    ajustarASuTamano(vista);
    crecerSinDesplazar(vista);
    guardar(vista, carpeta, QStringLiteral("ajustes-") + Secciones::valor(seccion) + sufijo(esquema));
}

// ------------------------------------------------------------------ pictures of `widgets`

QColor colorLamina(bool oscuro) {
    return oscuro ? QColor::fromRgbF(0.16f, 0.2f, 0.3f) : QColor::fromRgbF(0.62f, 0.72f, 0.85f);
}

// The decision card alone on the first demo question, over a model with no pending store; the
// model lives as long as the card.
QWidget* tarjetaDudas(const QJsonArray& preguntas, Esquema esquema) {
    QList<QJsonObject> lista;
    for (const QJsonValue& v : preguntas) lista.append(v.toObject());
    auto* modelo = new ModeloDudas(std::nullopt, 1, lista);
    auto* vista = new VistaDudasFlotante(*modelo, [] {}, [] {}, true, 864, esquema);
    modelo->setParent(vista);
    return vista;
}

void tarjetas(const QJsonArray& preguntas, bool oscuro, const QString& carpeta) {
    const Esquema esquema = oscuro ? Esquema::oscuro : Esquema::claro;
    Lamina fondo(colorLamina(oscuro));
    fondo.setPalette(paleta(esquema));
    auto* fila = new QHBoxLayout(&fondo);
    fila->setContentsMargins(0, 0, 0, 0);
    fila->setSpacing(0);
    fila->setSizeConstraint(QLayout::SetFixedSize);
    fila->addWidget(tarjetaDudas(preguntas, esquema), 0, Qt::AlignTop);
    auto* columna = new QVBoxLayout;
    columna->setSpacing(0);
    columna->addWidget(new VistaCreditosFlotante(Instantanea::ejemplo(), [] {}, esquema), 0, Qt::AlignHCenter);
    columna->addWidget(new VistaDiaFlotante(Instantanea::ejemplo(), [] {}, esquema), 0, Qt::AlignHCenter);
    fila->addLayout(columna);
    fila->setAlignment(columna, Qt::AlignTop);
    ajustarASuTamano(fondo);
    guardar(fondo, carpeta, QStringLiteral("tarjetas-") + (oscuro ? "oscuro" : "claro"));
}

struct Pieza {
    FamiliaW tamano;  // the frame's size
    QPointF brillo;
    std::function<void(QPainter&, const QRectF&, const PaletaW&)> contenido;
};

const QPointF kArribaIzquierda(0, 0), kCentro(0.5, 0.5), kAbajoDerecha(1, 1);

// The widget sheet's rows, top to bottom, each left to right.
std::vector<std::vector<Pieza>> filasHoja(const Instantanea& foto) {
    const auto pendientes = [foto](FamiliaW f) {
        return [foto, f](QPainter& q, const QRectF& r, const PaletaW& p) { VistaPendientesW{foto, f, p}.pintar(q, r); };
    };
    const auto dia = [foto](FamiliaW f) {
        return [foto, f](QPainter& q, const QRectF& r, const PaletaW& p) { VistaDiaW{foto, f, p}.pintar(q, r); };
    };
    const auto agentes = [foto](FamiliaW f, qint64 i) {
        return [foto, f, i](QPainter& q, const QRectF& r, const PaletaW& p) { VistaAgentesW{foto, f, p, i}.pintar(q, r); };
    };
    using F = FamiliaW;
    return {
        {{F::pequena, kArribaIzquierda, pendientes(F::pequena)},
         {F::pequena, kCentro, [](QPainter& q, const QRectF& r, const PaletaW& p) { VistaHablarW{p}.pintar(q, r); }},
         {F::pequena, kCentro,
          [foto](QPainter& q, const QRectF& r, const PaletaW& p) { VistaCreditosW{foto, p}.pintar(q, r); }}},
        {{F::mediana, kArribaIzquierda, pendientes(F::mediana)}, {F::mediana, kAbajoDerecha, dia(F::mediana)}},
        {{F::grande, kArribaIzquierda, pendientes(F::grande)}, {F::grande, kAbajoDerecha, dia(F::grande)}},
        {{F::pequena, kCentro, agentes(F::pequena, 0)},
         {F::pequena, kCentro, agentes(F::pequena, 1)},
         {F::mediana, kArribaIzquierda, agentes(F::mediana, 0)}},
        {{F::grande, kArribaIzquierda, agentes(F::grande, 0)}},
    };
}

void hoja(const Instantanea& foto, const Captura::Tamanos& tamanos, bool oscuro, const QString& nombre,
          const QString& carpeta) {
    constexpr qreal margen = 28, espacio = 18;
    const auto filas = filasHoja(foto);
    qreal ancho = 0, alto = 0;
    for (const auto& fila : filas) {
        qreal w = 0, h = 0;
        for (const Pieza& p : fila) {
            const QSizeF t = tamanos.at(p.tamano);
            w += t.width() + (w > 0 ? espacio : 0);
            h = std::max(h, t.height());
        }
        ancho = std::max(ancho, w);
        alto += h + (alto > 0 ? espacio : 0);
    }
    QImage imagen = lienzo(QSizeF(ancho + 2 * margen, alto + 2 * margen));
    if (imagen.isNull()) return;
    QPainter pintor(&imagen);
    pintor.setRenderHint(QPainter::Antialiasing);
    pintor.fillRect(QRectF(0, 0, ancho + 2 * margen, alto + 2 * margen), colorLamina(oscuro));
    qreal y = margen;
    for (const auto& fila : filas) {
        qreal x = margen, h = 0;
        for (const Pieza& p : fila) {
            const QRectF marco(QPointF(x, y), tamanos.at(p.tamano));
            pintor.save();
            QPainterPath forma;
            forma.addRoundedRect(marco, 22, 22);
            pintor.setClipPath(forma);
            MarcoW m;
            m.oscuro = oscuro;
            m.brillo = p.brillo;
            m.actualizado = std::nullopt;
            m.contenido = [&p](QPainter& q, const QRectF& r, const PaletaW& pal, ZonasEnlace*) { p.contenido(q, r, pal); };
            m.pintar(pintor, marco);
            pintor.restore();
            x += marco.width() + espacio;
            h = std::max(h, marco.height());
        }
        y += h + espacio;
    }
    pintor.end();
    escribir(imagen, carpeta, nombre);
}

}  // namespace

// ------------------------------------------------------------------ data

const std::vector<Captura::EstadoIsla>& Captura::estadosIsla() {
    static const std::vector<EstadoIsla> filas = {
        {QStringLiteral("isla-escuchando"), Fase::escuchando, false, std::nullopt, false, false, 0.6},
        {QStringLiteral("isla-hablando"), Fase::hablando, false, std::nullopt, false, false, 0.6},
        {QStringLiteral("isla-pensando"), Fase::pensando, false, std::nullopt, false, false, 0.6},
        {QStringLiteral("isla-silencio"), Fase::escuchando, true, std::nullopt, false, false, 0.6},
        {QStringLiteral("isla-error"), Fase::reposo, false, QStringLiteral("No te quedan créditos para hablar con Zentu."),
         false, false, 0.6},
        {QStringLiteral("isla-chat"), Fase::reposo, false, std::nullopt, true, false, 0},
        {QStringLiteral("isla-chat-nota"), Fase::escuchando, false, std::nullopt, true, true, 0.6},
    };
    return filas;
}

QList<ChatZentu::Mensaje> Captura::mensajesDemo(const QDateTime& ahora) {
    return {
        {QStringLiteral("1"), false,
         QStringLiteral("@arquitecto Mira estas tres fotos y dime qué ves en cada una, por favor."), ahora, std::nullopt,
         QString()},
        {QStringLiteral("2"), true, QStringLiteral("Veo una cascada, unas flores y la isla de Zentu."), ahora, std::nullopt,
         QStringLiteral("arquitecto")},
    };
}

const QStringList& Captura::nombresAdjuntos() {
    static const QStringList nombres = {QStringLiteral("a.pdf"),  QStringLiteral("b.xlsx"), QStringLiteral("c.docx"),
                                        QStringLiteral("d.pptx"), QStringLiteral("e.zip"),  QStringLiteral("f.m4a"),
                                        QStringLiteral("g.mov")};
    return nombres;
}

Cuenta Captura::cuentaDemo() {
    return Cuenta{QStringLiteral("https://app.zentu.ai"), QString(), QStringLiteral("dueno@example.com"),
                  QStringLiteral("Mi Negocio")};
}

QJsonArray Captura::preguntasDemo(const QDateTime& ahora) {
    const auto fecha = [&](int segundos) {
        return ahora.toUTC().addSecs(-segundos).toString(Qt::ISODate);
    };
    QJsonObject uno{
        {"id", 1},
        {"agent_name", "reservas"},
        {"question", QStringLiteral("¿Le confirmo la reserva del sábado a la familia Tolmira aunque todavía no ha pagado "
                                    "el depósito?")},
        {"context", QStringLiteral("Pidieron 2 habitaciones del 18 al 20. Dicen que transfieren el lunes.")},
        {"cliente", QStringLiteral("Familia Tolmira")},
        {"options", QJsonArray{QStringLiteral("Sí, confírmala"), QStringLiteral("No, espera el pago"),
                               QStringLiteral("Dale hasta el lunes")}},
        {"created_at", fecha(600)},
    };
    QJsonObject dos{
        {"id", 2},
        {"agent_name", "ventas"},
        {"question", QStringLiteral("Un cliente pide 10 % de descuento por pagar al contado. ¿Se lo doy?")},
        {"context", QString()},
        {"options", QJsonArray{}},
        {"created_at", fecha(3600)},
    };
    QJsonObject tres{
        {"id", 3},
        {"agent_name", "contador"},
        {"question", QStringLiteral("¿La factura de ayer va con comprobante B01 o B02?")},
        {"context", QString()},
        {"options", QJsonArray{"B01", "B02"}},
        {"created_at", fecha(7200)},
    };
    return {uno, dos, tres};
}

Captura::Tamanos Captura::tamanosPorDefecto() {
    return {{FamiliaW::pequena, {164, 164}}, {FamiliaW::mediana, {344, 164}}, {FamiliaW::grande, {344, 344}}};
}

Captura::Tamanos Captura::tamanosDesde(const std::optional<QByteArray>& json) {
    Tamanos tamanos = tamanosPorDefecto();
    if (!json) return tamanos;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(*json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) return tamanos;
    const QJsonObject objeto = doc.object();
    // One value that is not a list of numbers spoils the whole file.
    for (auto it = objeto.begin(); it != objeto.end(); ++it) {
        if (!it->isArray()) return tamanos;
        for (const QJsonValue& v : it->toArray())
            if (!v.isDouble()) return tamanos;
    }
    for (auto& [familia, tam] : tamanos) {
        const QJsonArray lista = objeto.value(nombreFamilia(familia)).toArray();
        if (lista.size() < 2) continue;
        const double w = lista.at(0).toDouble(), h = lista.at(1).toDouble();
        if (!(w > 0 && w <= ladoMaximo && h > 0 && h <= ladoMaximo)) continue;
        tam = QSizeF(w, h);
    }
    return tamanos;
}

Captura::Tamanos Captura::tamanosDelArchivo() {
    const std::optional<QString> ruta = ::Tamanos::archivo();
    if (!ruta) return tamanosPorDefecto();
    QFile archivo(*ruta);
    if (!archivo.open(QIODevice::ReadOnly)) return tamanosPorDefecto();
    return tamanosDesde(archivo.readAll());
}

QString& Captura::pdfMuestra() {
    static QString ruta = QStringLiteral(ZENTU_PDF_MUESTRA);
    return ruta;
}

// ------------------------------------------------------------------ the two runs

void Captura::hacer(const QString& carpeta) {
    for (Esquema esquema : {Esquema::oscuro, Esquema::claro})
        for (const EstadoIsla& fila : estadosIsla()) isla(fila, esquema, carpeta);

    enlace(carpeta);

    for (Esquema esquema : {Esquema::oscuro, Esquema::claro}) burbujas(esquema, carpeta);

    adjuntos(carpeta);

    Atajos atajos;
    EstadoVoz voz;
    for (Esquema esquema : {Esquema::oscuro, Esquema::claro})
        for (SeccionAjustes seccion : Secciones::todas) ajustes(atajos, voz, seccion, esquema, carpeta);
}

void Captura::widgets(const QString& carpeta) {
    CapturaW::activa = true;
    const Tamanos tamanos = tamanosDelArchivo();
    const QJsonArray preguntas = preguntasDemo(QDateTime::currentDateTimeUtc());

    for (bool oscuro : {true, false}) tarjetas(preguntas, oscuro, carpeta);

    const Instantanea real = Instantanea::leer();
    const std::pair<QString, const Instantanea*> fotos[] = {{QStringLiteral("ejemplo"), &Instantanea::ejemplo()},
                                                            {QStringLiteral("real"), &real}};
    for (const auto& [nombre, foto] : fotos)
        for (bool oscuro : {true, false})
            hoja(*foto, tamanos, oscuro, QStringLiteral("widgets-") + nombre + (oscuro ? "-oscuro" : "-claro"), carpeta);
}
