#pragma once

#include "compartido/Iconos.h"
#include "compartido/Instantanea.h"
#include "plataforma/Reloj.h"

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

class QPainter;

// Shared pieces of the widget views. Every view is a pure paint function of its fields: it draws
// with a QPainter into the rectangle it is given (logical units = points) and, where it carries
// links, reports their clickable zones. The same code draws the desktop widgets, the floating
// cards and the PNG renderer.

// Widget sizes; `nombreFamilia` is the family's name as "tamanos.json" stores it.
enum class FamiliaW { pequena, mediana, grande };
QString nombreFamilia(FamiliaW familia);  // "systemSmall", "systemMedium", "systemLarge"

// Light or dark palette of the widgets (sRGB).
struct PaletaW {
    bool oscuro = false;

    QColor tinta() const;  // primary ink
    QColor tenue() const;  // secondary ink
    QColor lima() const;   // accent
    QColor ambar() const;  // warning
};

// A clickable zone of a view and the link it opens.
struct ZonaEnlace {
    QRectF zona;
    QUrl url;
};
using ZonasEnlace = std::vector<ZonaEnlace>;

// Capture mode: the PNG renderer sets it before drawing widget views, so links are drawn as plain
// content and report no zones. Main thread only; the widget host never sets it.
struct CapturaW {
    static inline bool activa = false;
};

// Text helpers shared by the views. Sizes are in points; the font face is Inter (rounded design:
// Comfortaa), falling back to the system's sans face when they are not installed.
namespace TextoW {

QFont fuente(const QPainter& pintor, qreal puntos, QFont::Weight peso, bool redondeada = false);
qreal ancho(const QPainter& pintor, const QFont& fuente, const QString& texto);
qreal alto(const QPainter& pintor, const QFont& fuente);  // one line
// One line in `zona`, vertically centred; cut with an ellipsis when it does not fit.
void linea(QPainter& pintor, const QRectF& zona, const QString& texto, const QFont& fuente, const QColor& color,
           Qt::Alignment alineacion = Qt::AlignLeft);
// The font scaled down (to at most `minimo` of its size) so that `texto` fits in `ancho`.
QFont encoger(const QPainter& pintor, const QFont& fuente, const QString& texto, qreal ancho, qreal minimo);
// Text wrapped to the width of `zona` in at most `maxLineas` lines (0: no limit), the last one
// cut with an ellipsis; explicit line breaks are kept. Returns the height used. With
// `pintar` false it only measures.
// `interlineado` adds that many points between lines.
qreal parrafo(QPainter& pintor, const QRectF& zona, const QString& texto, const QFont& fuente, const QColor& color,
              int maxLineas = 0, Qt::Alignment alineacion = Qt::AlignLeft, bool pintar = true,
              qreal interlineado = 0);

}  // namespace TextoW

// Gaussian blur of a premultiplied ARGB image (in place), `sigma` in pixels: the glow of the orbs
// and the soft shadows.
void desenfocar(QImage& imagen, qreal sigma);

// Age of a date as the widgets show it: "ahora" below a minute (and for dates in the future),
// then "N min", "N h", "N d", counting whole seconds and truncating.
QString hace(const QDateTime& fecha, const QDateTime& ahora = Reloj::sistema().ahora());

// Splits the done-activity prefixes "Consulta resuelta:" / "Consulta descartada:" off a text:
// (rest trimmed of spaces and tabs, "resuelta"/"descartada"), or (text, none).
std::pair<QString, std::optional<QString>> partir(const QString& texto);

// Widget background: a vertical gradient and a green glow centred at `brillo`, a unit point of
// the rectangle ((0, 0) top-left, (1, 1) bottom-right).
struct FondoWidget {
    bool oscuro = false;
    QPointF brillo{0.5, 0.5};

    void pintar(QPainter& pintor, const QRectF& rect) const;
};

// The frame of every widget: background, 16 points of padding around the content and, when the
// data is older than half an hour, an "actualizado hace …" stamp in the bottom-right corner.
struct MarcoW {
    using Contenido = std::function<void(QPainter&, const QRectF&, const PaletaW&, ZonasEnlace*)>;

    bool oscuro = false;
    QPointF brillo{0.5, 0.5};
    std::optional<QDateTime> actualizado;  // none: no stamp
    Contenido contenido;

    // Paints the whole widget into `rect` (clipped to it); link zones of the content go to `enlaces`.
    void pintar(QPainter& pintor, const QRectF& rect, ZonasEnlace* enlaces = nullptr,
                const QDateTime& ahora = Reloj::sistema().ahora()) const;

    // "hace N min" / "hace N h" / "hace N d".
    static QString hace(const QDateTime& fecha, const QDateTime& ahora = Reloj::sistema().ahora());
    // The stamp's text, or none when no stamp is due (no date, the distant past, 1800 s or less).
    static std::optional<QString> sello(const std::optional<QDateTime>& actualizado,
                                        const QDateTime& ahora = Reloj::sistema().ahora());
    static constexpr qreal relleno = 16;
};

// The small still orb: three tilted rings of `lineas` noisy lines each, glowing.
struct OrboW {
    bool oscuro = false;
    int lineas = 8;
    qreal grosor = 0.7;

    void pintar(QPainter& pintor, const QRectF& rect) const;

    static QLinearGradient sombreado(QSizeF tamano, bool oscuro);
    // 3 × lineas closed paths of 73 points, ring by ring; none for lineas < 1. Callers pass 6 or
    // more: a single line per ring is not supported.
    static std::vector<QPainterPath> caminos(QSizeF tamano, int lineas);
};

// A link around some content: the content is always painted; its zone is reported as clickable
// unless CapturaW::activa is set.
struct Enlace {
    QUrl url;

    void pintar(const QRectF& zona, ZonasEnlace* enlaces, const std::function<void()>& contenido) const;
};

// Round badge with the upper-cased first letter of `nombre`, centred in `rect` (side `lado`).
struct Inicial {
    QString nombre;
    PaletaW p;
    qreal lado = 24;

    void pintar(QPainter& pintor, const QRectF& rect) const;
    static QString letra(const QString& nombre);
};

// The round icon button of the talk widget: filled lime when `principal`, else outlined.
struct BotonIsla {
    Icono icono = Icono::telefono;
    PaletaW p;
    bool principal = false;
    qreal lado = 42;

    void pintar(QPainter& pintor, const QRectF& rect) const;  // centred in rect
};

// Progress ring: a faint track and an arc from the top, clockwise, of max(min(fraccion, 1), 0.02)
// of the circle (a fraction that is not a number shows the full ring).
struct Anillo {
    double fraccion = 0;
    QColor color;
    PaletaW p;
    qreal grosor = 9;

    void pintar(QPainter& pintor, const QRectF& rect) const;  // circle of the smaller side, centred
    static double arco(double fraccion);                      // the drawn share of the circle
};

// What every widget shows while the computer is not linked to an account.
struct SinEnlazarW {
    PaletaW p;

    void pintar(QPainter& pintor, const QRectF& rect) const;
};

// ---------------------------------------------------------------------------------------------
// Content views. Each paints into the frame's content rectangle (MarcoW::contenido) and reports
// the zones of its own links.

// The pending-decisions widget: how many decisions wait and, medium and large, the first open
// questions as cards that open that question.
struct VistaPendientesW {
    Instantanea foto;
    FamiliaW familia = FamiliaW::pequena;
    PaletaW p;
    QDateTime ahora = Reloj::sistema().ahora();

    void pintar(QPainter& pintor, const QRectF& rect, ZonasEnlace* enlaces = nullptr) const;

    // "nada espera\npor ti", ...; `grande` gives the one-line texts of the large family.
    static QString etiqueta(qint64 total, bool grande);
    // "Y 3 permisos para escribirle a alguien"; empty below 1.
    static QString lineaPermisos(qint64 permisos);
    // The agent key as shown: "_" as spaces, first character upper-cased.
    static QString nombreVisible(const QString& agente);
};

// The talk widget: the orb, a call button and a chat button.
struct VistaHablarW {
    PaletaW p;

    void pintar(QPainter& pintor, const QRectF& rect, ZonasEnlace* enlaces = nullptr) const;
};

// The credits widget: a ring of what is left of the month's allowance.
struct VistaCreditosW {
    Instantanea foto;
    PaletaW p;

    void pintar(QPainter& pintor, const QRectF& rect, ZonasEnlace* enlaces = nullptr) const;

    // "850", "2.5k", "10k": whole below 1000, one decimal below 10000, none above; always a point.
    static QString cantidad(qint64 n);
    // restantes / cupo clamped to 0...1, or none without usable credit data (cupo 0 included).
    static std::optional<double> fraccion(const Instantanea& foto);
    static bool bajo(double fraccion) { return fraccion < 0.15; }
};
