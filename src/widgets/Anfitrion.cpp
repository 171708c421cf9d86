#include "widgets/Anfitrion.h"

#include "compartido/Instantanea.h"
#include "plataforma/Contenedor.h"
#include "plataforma/EsquemaColor.h"
#include "plataforma/RecargaWidgets.h"
#include "plataforma/Registro.h"
#include "widgets/Catalogo.h"
#include "widgets/Proveedores.h"
#include "widgets/VentanaWidget.h"

#include <QApplication>
#include <algorithm>
#include <QContextMenuEvent>
#include <QDir>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QActionGroup>
#include <QLabel>
#include <QMenu>
#include <QWidgetAction>
#include <QPainter>
#include <QPointer>
#include <QProxyStyle>
#include <QSaveFile>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>

namespace {

constexpr int kLadoVistaPrevia = 170;  // the small family's side

QPixmap vistaPrevia(const QString& tipo, FamiliaW familia, bool oscuro) {
    // What the gallery shows: the quick entry of a preview, the demo when not linked.
    const QDateTime ahora = Reloj::sistema().ahora();
    const DefinicionWidget* def = Catalogo::buscar(tipo);
    const Instantanea foto = def && def->deAgentes ? ProveedorAgentes::snapshot(ahora).foto : Proveedor::snapshot(ahora, true).foto;
    const QSizeF tam = Catalogo::tamano(familia);
    QImage img(tam.toSize(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    {
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath forma;
        forma.addRoundedRect(QRectF(QPointF(), tam), 20, 20);
        p.setClipPath(forma);
        Catalogo::pintar(p, QRectF(QPointF(), tam), tipo, familia, foto, 0, oscuro, nullptr, ahora);
    }
    return QPixmap::fromImage(img.scaled(kLadoVistaPrevia, kLadoVistaPrevia, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

// The gallery's submenus show their previews large enough to read: the small family at its real size.
class EstiloGaleria : public QProxyStyle {
public:
    int pixelMetric(PixelMetric metrica, const QStyleOption* opcion, const QWidget* widget) const override {
        if (metrica == PM_SmallIconSize) return kLadoVistaPrevia;
        return QProxyStyle::pixelMetric(metrica, opcion, widget);
    }

};

QStyle* estiloGaleria() {
    static QPointer<QStyle> estilo;
    if (!estilo) {
        estilo = new EstiloGaleria;
        estilo->setParent(qApp);
    }
    return estilo;
}

QIcon iconoBandeja() {
    QIcon icono;
    for (int lado : {16, 22, 24, 32, 48, 64}) icono.addPixmap(QPixmap::fromImage(Anfitrion::dibujarIcono(lado)));
    return icono;
}

}  // namespace

QImage Anfitrion::dibujarIcono(int lado) {
    QImage img(lado, lado, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(lado / 64.0, lado / 64.0);
    // The host's own mark, four tiles, as in its icon file: the program's mark sits in the same
    // panel, and the two must not be taken for one another.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(26, 26, 26));
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
    p.setBrush(QColor(183, 255, 39));
    for (const double x : {12.0, 34.0})
        for (const double y : {12.0, 34.0}) p.drawRoundedRect(QRectF(x, y, 18, 18), 5, 5);
    return img;
}

Anfitrion::Anfitrion(Reloj& reloj, QObject* padre) : QObject(padre), reloj_(reloj) {
    // Several change notices of one atomic replacement come close together: take them as one.
    pausa_.setSingleShot(true);
    pausa_.setInterval(100);
    connect(&pausa_, &QTimer::timeout, this, &Anfitrion::carpetaCambiada);
    connect(&vigia_, &QFileSystemWatcher::directoryChanged, this, [this] { pausa_.start(); });
    connect(&vigia_, &QFileSystemWatcher::fileChanged, this, [this] { pausa_.start(); });
}

Anfitrion::~Anfitrion() {
    for (auto& v : ventanas_) delete v.data();
    delete menuBandeja_;
}

QString Anfitrion::archivoDisposicion() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/zentu/widgets.json");
}

QByteArray Anfitrion::codificar(const std::vector<Colocado>& lista) {
    QJsonArray widgets;
    for (const Colocado& c : lista)
        widgets.append(QJsonObject{{QStringLiteral("tipo"), c.tipo},
                                   {QStringLiteral("familia"), nombreFamilia(c.familia)},
                                   {QStringLiteral("x"), c.posicion.x()},
                                   {QStringLiteral("y"), c.posicion.y()}});
    return QJsonDocument(QJsonObject{{QStringLiteral("widgets"), widgets}}).toJson(QJsonDocument::Indented);
}

std::optional<std::vector<Anfitrion::Colocado>> Anfitrion::decodificar(const QByteArray& bytes, QString* error) {
    QJsonParseError e;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &e);
    if (e.error != QJsonParseError::NoError || !doc.isObject() || !doc.object().value(QStringLiteral("widgets")).isArray()) {
        if (error) *error = e.error != QJsonParseError::NoError ? e.errorString() : QStringLiteral("no es una lista de widgets");
        return std::nullopt;
    }
    std::vector<Colocado> lista;
    for (const QJsonValue& v : doc.object().value(QStringLiteral("widgets")).toArray()) {
        const QJsonObject o = v.toObject();
        const QString tipo = o.value(QStringLiteral("tipo")).toString();
        const auto familia = Catalogo::familiaDeNombre(o.value(QStringLiteral("familia")).toString());
        if (!familia || !Catalogo::ofrece(tipo, *familia)) continue;
        const QJsonValue x = o.value(QStringLiteral("x")), y = o.value(QStringLiteral("y"));
        lista.push_back({tipo, *familia, x.isDouble() && y.isDouble() ? QPoint(x.toInt(), y.toInt()) : QPoint(-1, -1)});
    }
    return lista;
}

std::vector<Anfitrion::Colocado> Anfitrion::disposicion() const {
    std::vector<Colocado> lista;
    for (const auto& v : ventanas_)
        if (v) lista.push_back({v->tipo(), v->familia(), v->pos()});
    return lista;
}

void Anfitrion::guardar() const {
    const QString ruta = archivoDisposicion();
    QDir().mkpath(QFileInfo(ruta).absolutePath());
    QSaveFile f(ruta);
    if (!f.open(QIODevice::WriteOnly) || f.write(codificar(disposicion())) < 0 || !f.commit())
        Registro::escribir(QStringLiteral("[widgets] no se pudo guardar la disposición: ") + f.errorString());
}

void Anfitrion::iniciar() {
    std::vector<Colocado> lista;
    QFile f(archivoDisposicion());
    if (f.exists()) {
        QString error;
        std::optional<std::vector<Colocado>> leida;
        if (f.open(QIODevice::ReadOnly)) leida = decodificar(f.readAll(), &error);
        else error = f.errorString();
        f.close();
        if (leida) {
            lista = *leida;
        } else {
            // Keep the owner's file aside instead of overwriting it with the next save.
            const QString aparte = archivoDisposicion() + QStringLiteral(".roto");
            QFile::remove(aparte);
            QFile::copy(archivoDisposicion(), aparte);
            Registro::escribir(QStringLiteral("[widgets] disposición ilegible (") + error + QStringLiteral("), guardada en ") + aparte);
        }
    } else {
        // The very first start: one widget, so that its menu shows the others.
        lista.push_back({QStringLiteral("pendientes"), FamiliaW::pequena, QPoint(-1, -1)});
    }
    for (const Colocado& c : lista)
        anadir(c.tipo, c.familia, c.posicion.x() < 0 ? std::nullopt : std::optional<QPoint>(c.posicion));
    guardar();

    connect(&EsquemaColor::sistema(), &EsquemaColor::cambio, this, [this] { ponerEsquema(); });
    ponerEsquema();
    vigilar();
    firma_ = firmaFoto();
    // The app's explicit request: redraw at once, even where the file's change was not seen.
    RecargaWidgets::escuchar(this, [this] {
        vigilar();
        firma_ = firmaFoto();
        recargarTodo();
    });

    if (QSystemTrayIcon::isSystemTrayAvailable()) bandejaTrasElPrograma();
}

void Anfitrion::mostrarBandeja() {
    esperaPrograma_.stop();
    plazoPrograma_.stop();
    if (bandeja_) return;
    bandeja_ = new QSystemTrayIcon(iconoBandeja(), this);
    bandeja_->setToolTip(QStringLiteral("Widgets de Zentu"));
    menuBandeja_ = menu();
    bandeja_->setContextMenu(menuBandeja_);
    bandeja_->show();
}

void Anfitrion::bandejaTrasElPrograma() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    QDBusConnectionInterface* nombres = bus.isConnected() ? bus.interface() : nullptr;
    const QDBusReply<uint> programa =
        nombres ? nombres->servicePid(QString::fromLatin1(Contenedor::nombre)) : QDBusReply<uint>();
    // The program is not running, or the panel lists no items (an older tray): no one to follow.
    if (!programa.isValid()) return mostrarBandeja();
    const uint pid = programa.value();
    // Not for long: the program may run without an icon of its own.
    plazoPrograma_.setSingleShot(true);
    plazoPrograma_.setInterval(10000);
    connect(&plazoPrograma_, &QTimer::timeout, this, &Anfitrion::mostrarBandeja);
    plazoPrograma_.start();
    // The panel's list of items, asked again until one of them is the program's.
    esperaPrograma_.setInterval(200);
    connect(&esperaPrograma_, &QTimer::timeout, this, [this, pid] {
        QDBusMessage m = QDBusMessage::createMethodCall(
            QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        m << QStringLiteral("org.kde.StatusNotifierWatcher") << QStringLiteral("RegisteredStatusNotifierItems");
        m.setAutoStartService(false);
        auto* vigia = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(m, 2000), this);
        connect(vigia, &QDBusPendingCallWatcher::finished, this, [this, pid](QDBusPendingCallWatcher* v) {
            v->deleteLater();
            const QDBusPendingReply<QDBusVariant> r = *v;
            if (r.isError() || bandeja_) {
                if (r.isError()) mostrarBandeja();
                return;
            }
            QDBusConnectionInterface* delBus = QDBusConnection::sessionBus().interface();
            // An item is "service" or "service/path"; Qt's items may also give the path alone.
            for (const QString& item : r.value().variant().toStringList()) {
                const QString servicio = item.section(QLatin1Char('/'), 0, 0);
                if (servicio.isEmpty() || !delBus) continue;
                const QDBusReply<uint> suyo = delBus->servicePid(servicio);
                if (suyo.isValid() && suyo.value() == pid) return mostrarBandeja();
            }
        });
    });
    esperaPrograma_.start();
}

void Anfitrion::ponerEsquema() {
    const bool oscuro = EsquemaColor::sistema().oscuro();
    for (auto& v : ventanas_)
        if (v) v->ponerOscuro(oscuro);
}

QPoint Anfitrion::sitioLibre(QSize tam) const {
    const QScreen* pantalla = QGuiApplication::primaryScreen();
    const QRect zona = pantalla ? pantalla->availableGeometry() : QRect(0, 0, 1280, 800);
    // Down the right-hand side of the screen, the first place no other widget covers.
    for (int columna = 0; columna < 4; ++columna) {
        const int x = zona.right() - 24 - tam.width() - columna * (364 + 16);
        for (int y = zona.top() + 24; y + tam.height() <= zona.bottom(); y += 16) {
            const QRect r(QPoint(x, y), tam);
            bool libre = true;
            for (const auto& v : ventanas_)
                if (v && v->geometry().adjusted(-8, -8, 8, 8).intersects(r)) {
                    libre = false;
                    y = v->geometry().bottom();
                    break;
                }
            if (libre) return r.topLeft();
        }
    }
    return zona.topLeft() + QPoint(24, 24);
}

QRect Anfitrion::enZona(const QRect& r, const QRect& zona) {
    // Past the right or bottom edge it moves back by what sticks out; the left and top edges win
    // when the window is larger than the zone.
    const int x = std::max(std::min(r.x(), zona.x() + zona.width() - r.width()), zona.x());
    const int y = std::max(std::min(r.y(), zona.y() + zona.height() - r.height()), zona.y());
    return QRect(QPoint(x, y), r.size());
}

QRect Anfitrion::enPantalla(const QRect& r) {
    // The screen that shows most of it; none shows any (a screen since unplugged): the primary.
    const QScreen* elegida = nullptr;
    qint64 mayor = 0;
    for (const QScreen* s : QGuiApplication::screens()) {
        const QRect comun = s->geometry().intersected(r);
        const qint64 area = qint64(comun.width()) * comun.height();
        if (area > mayor) {
            mayor = area;
            elegida = s;
        }
    }
    if (!elegida) elegida = QGuiApplication::primaryScreen();
    return elegida ? enZona(r, elegida->availableGeometry()) : r;
}

VentanaWidget* Anfitrion::anadir(const QString& tipo, FamiliaW familia, std::optional<QPoint> posicion) {
    if (!Catalogo::ofrece(tipo, familia)) return nullptr;
    auto* v = new VentanaWidget(tipo, familia, reloj_);
    v->ponerOscuro(EsquemaColor::sistema().oscuro());
    // A stored place is brought back whole onto a screen (the screens may have changed since).
    v->move(posicion ? enPantalla(QRect(*posicion, v->size())).topLeft() : sitioLibre(v->size()));
    v->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(v, &QWidget::customContextMenuRequested, this, [this, v](const QPoint& donde) {
        QMenu* m = menu(v);
        m->setAttribute(Qt::WA_DeleteOnClose);
        m->popup(v->mapToGlobal(donde));
    });
    connect(v, &VentanaWidget::movido, this, [this] { guardar(); });
    ventanas_.emplace_back(v);
    v->show();
    if (!posicion) guardar();
    return v;
}

void Anfitrion::quitar(VentanaWidget* ventana) {
    std::erase_if(ventanas_, [ventana](const QPointer<VentanaWidget>& v) { return !v || v == ventana; });
    if (ventana) ventana->deleteLater();
    guardar();
}

void Anfitrion::cambiarFamilia(VentanaWidget* ventana, FamiliaW familia) {
    if (!ventana || !Catalogo::ofrece(ventana->tipo(), familia)) return;
    const QRect antes = ventana->geometry();
    ventana->cambiarFamilia(familia);
    // A bigger widget grows from its top-left corner as far as the screen lets it, and towards
    // the left and up from there: never past the edge.
    const QRect despues = enPantalla(QRect(antes.topLeft(), ventana->size()));
    if (despues.topLeft() != antes.topLeft()) ventana->move(despues.topLeft());
    guardar();
}

QMenu* Anfitrion::menu(VentanaWidget* sobre) {
    auto* m = new QMenu;
    m->setToolTipsVisible(true);
    QPointer<VentanaWidget> ventana(sobre);
    if (sobre) {
        const DefinicionWidget* def = Catalogo::buscar(sobre->tipo());
        // The widget's name as a header with room around it, not a bare section line.
        auto* cabecera = new QWidgetAction(m);
        auto* titulo = new QLabel(def ? def->nombre : sobre->tipo());
        titulo->setObjectName(QStringLiteral("cabecera"));
        titulo->setContentsMargins(14, 8, 14, 6);
        QFont negrita = titulo->font();
        negrita.setWeight(QFont::DemiBold);
        titulo->setFont(negrita);
        cabecera->setDefaultWidget(titulo);
        m->addAction(cabecera);
        m->addSeparator();
        if (def && def->familias.size() > 1) {
            QMenu* tamanos = m->addMenu(QStringLiteral("Tamaño"));
            // One size among several: radio items.
            auto* grupo = new QActionGroup(tamanos);
            grupo->setExclusive(true);
            for (FamiliaW f : def->familias) {
                QAction* a = tamanos->addAction(Catalogo::nombreTamano(f));
                grupo->addAction(a);
                a->setCheckable(true);
                a->setChecked(f == sobre->familia());
                connect(a, &QAction::triggered, this, [this, ventana, f] { cambiarFamilia(ventana, f); });
            }
        }
        connect(m->addAction(QStringLiteral("Quitar widget")), &QAction::triggered, this, [this, ventana] {
            if (ventana) quitar(ventana);
        });
        m->addSeparator();
    }
    QMenu* galeria = m->addMenu(QStringLiteral("Añadir widget"));
    const bool oscuro = EsquemaColor::sistema().oscuro();
    for (const DefinicionWidget& def : Catalogo::widgets()) {
        QMenu* sub = galeria->addMenu(def.nombre);
        sub->setStyle(estiloGaleria());
        sub->setToolTipsVisible(true);
        sub->setToolTip(def.descripcion);
        sub->menuAction()->setToolTip(def.descripcion);
        // The description on its own line, not in the text column beside the wide previews.
        auto* descripcion = new QWidgetAction(sub);
        auto* texto = new QLabel(def.descripcion);
        texto->setContentsMargins(12, 6, 12, 4);
        descripcion->setDefaultWidget(texto);
        descripcion->setText(def.descripcion);
        descripcion->setEnabled(false);
        sub->addAction(descripcion);
        for (FamiliaW f : def.familias) {
            // Previews are drawn when the submenu opens, from the snapshot of that moment.
            QAction* a = sub->addAction(Catalogo::nombreTamano(f));
            a->setToolTip(def.descripcion);
            const QString tipo = def.tipo;
            connect(sub, &QMenu::aboutToShow, a, [a, tipo, f, oscuro] { a->setIcon(QIcon(vistaPrevia(tipo, f, oscuro))); });
            connect(a, &QAction::triggered, this, [this, tipo, f] { anadir(tipo, f); });
        }
    }
    m->addSeparator();
    connect(m->addAction(QStringLiteral("Salir")), &QAction::triggered, qApp, &QCoreApplication::quit);
    return m;
}

void Anfitrion::vigilar() {
    const auto carpeta = Contenedor::carpeta();
    if (!carpeta) return;
    QDir().mkpath(*carpeta);
    if (!vigia_.directories().contains(*carpeta)) vigia_.addPath(*carpeta);
    if (const auto archivo = Instantanea::archivo(); archivo && QFile::exists(*archivo) && !vigia_.files().contains(*archivo))
        vigia_.addPath(*archivo);
}

QByteArray Anfitrion::firmaFoto() const {
    const auto archivo = Instantanea::archivo();
    if (!archivo) return {};
    const QFileInfo i(*archivo);
    if (!i.exists()) return QByteArrayLiteral("-");
    return QByteArray::number(i.size()) + '/' + QByteArray::number(i.lastModified().toMSecsSinceEpoch()) + '/' +
           QByteArray::number(i.metadataChangeTime().toMSecsSinceEpoch());
}

void Anfitrion::carpetaCambiada() {
    // The folder also changes when a widget records its size: only a new snapshot file counts,
    // or every reload would cause another.
    vigilar();
    const QByteArray firma = firmaFoto();
    if (firma == firma_) return;
    firma_ = firma;
    recargarTodo();
}

void Anfitrion::recargarTodo() {
    for (auto& v : ventanas_)
        if (v) v->recargar();
}
