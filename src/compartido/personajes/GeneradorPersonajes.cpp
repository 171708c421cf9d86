// Draws the agent avatars at build time: one friendly character per category in four shades,
// the coordinator, and a paused variant of each: 74 PNG files that the build compiles into the
// program. Usage: generar_personajes <output folder>
#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QStringList>
#include <cstdio>

namespace {

constexpr int lado = 160;  // pixels; drawn on a 100-unit grid

struct Familia {
    const char* categoria;
    int tonoBase;  // hue, degrees
    int saturacion;
};

// One hue per category; the four shades turn it a little and change its lightness.
const Familia familias[] = {
    {"atencion", 178, 150}, {"ventas", 24, 190},     {"soporte", 212, 150},
    {"finanzas", 140, 130}, {"cobros", 44, 200},     {"operacion", 200, 40},
    {"creativo", 282, 120}, {"asistente", 84, 170},  {"general", 226, 70},
};

QColor color(int tono, int saturacion, int luz, bool pausa) {
    QColor c = QColor::fromHsl((tono + 360) % 360, saturacion, luz);
    if (!pausa) return c;
    // Paused characters fade towards grey.
    const int gris = qGray(c.rgb());
    return QColor((c.red() + 2 * gris) / 3, (c.green() + 2 * gris) / 3, (c.blue() + 2 * gris) / 3);
}

void ojos(QPainter& p, bool pausa) {
    const QColor tinta(38, 40, 48);
    if (pausa) {
        p.setPen(QPen(tinta, 2.6, Qt::SolidLine, Qt::RoundCap));
        p.setBrush(Qt::NoBrush);
        QPainterPath a, b;
        a.moveTo(36, 50);
        a.quadTo(41, 54, 46, 50);
        b.moveTo(54, 50);
        b.quadTo(59, 54, 64, 50);
        p.drawPath(a);
        p.drawPath(b);
        return;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(33, 41, 15, 17));
    p.drawEllipse(QRectF(52, 41, 15, 17));
    p.setBrush(tinta);
    p.drawEllipse(QRectF(38, 46, 8, 9));
    p.drawEllipse(QRectF(57, 46, 8, 9));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(41, 47, 3, 3));
    p.drawEllipse(QRectF(60, 47, 3, 3));
}

void boca(QPainter& p, bool pausa) {
    p.setPen(QPen(QColor(38, 40, 48), 2.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath b;
    if (pausa) {
        b.moveTo(45, 67);
        b.lineTo(55, 67);
    } else {
        b.moveTo(42, 64);
        b.quadTo(50, 72, 58, 64);
    }
    p.drawPath(b);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 120, 140, pausa ? 40 : 90));
    p.drawEllipse(QRectF(27, 58, 10, 6));
    p.drawEllipse(QRectF(63, 58, 10, 6));
}

void accesorio(QPainter& p, const QString& categoria, const QColor& oscuro, bool pausa) {
    const QColor tinta(38, 40, 48);
    auto c = [&](int r, int g, int b) { return color(QColor(r, g, b).hslHue(), QColor(r, g, b).hslSaturation(), QColor(r, g, b).lightness(), pausa); };
    p.setBrush(Qt::NoBrush);
    if (categoria == QLatin1String("atencion")) {  // headset
        p.setPen(QPen(tinta, 3.2, Qt::SolidLine, Qt::RoundCap));
        p.drawArc(QRectF(18, 16, 64, 56), 20 * 16, 140 * 16);
        p.setPen(Qt::NoPen);
        p.setBrush(tinta);
        p.drawRoundedRect(QRectF(14, 40, 9, 16), 4, 4);
        p.drawRoundedRect(QRectF(77, 40, 9, 16), 4, 4);
        p.setPen(QPen(tinta, 2.4, Qt::SolidLine, Qt::RoundCap));
        QPainterPath mic;
        mic.moveTo(81, 54);
        mic.quadTo(80, 70, 64, 72);
        p.drawPath(mic);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QRectF(60, 69, 6, 6));
    } else if (categoria == QLatin1String("ventas")) {  // bow tie
        p.setPen(Qt::NoPen);
        p.setBrush(c(220, 50, 70));
        QPainterPath lazo;
        lazo.moveTo(50, 80);
        lazo.lineTo(39, 74);
        lazo.lineTo(39, 86);
        lazo.closeSubpath();
        lazo.moveTo(50, 80);
        lazo.lineTo(61, 74);
        lazo.lineTo(61, 86);
        lazo.closeSubpath();
        p.drawPath(lazo);
        p.drawEllipse(QRectF(46.5, 76.5, 7, 7));
    } else if (categoria == QLatin1String("soporte")) {  // cap with a visor
        p.setPen(Qt::NoPen);
        p.setBrush(oscuro);
        QPainterPath gorra;
        gorra.moveTo(24, 34);
        gorra.cubicTo(26, 10, 74, 10, 76, 34);
        gorra.closeSubpath();
        p.drawPath(gorra);
        p.drawRoundedRect(QRectF(56, 30, 30, 6), 3, 3);
        p.setBrush(Qt::white);
        p.drawEllipse(QRectF(46, 20, 8, 8));
    } else if (categoria == QLatin1String("finanzas")) {  // round glasses
        p.setPen(QPen(tinta, 2.2));
        p.drawEllipse(QRectF(31, 40, 19, 19));
        p.drawEllipse(QRectF(50, 40, 19, 19));
        p.drawLine(QPointF(50, 48), QPointF(50, 48));
        p.drawLine(QPointF(22, 46), QPointF(31, 48));
        p.drawLine(QPointF(69, 48), QPointF(78, 46));
    } else if (categoria == QLatin1String("cobros")) {  // a coin in hand
        p.setPen(QPen(c(170, 120, 10), 1.8));
        p.setBrush(c(250, 200, 40));
        p.drawEllipse(QRectF(64, 66, 22, 22));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(68, 70, 14, 14));
        p.setPen(QPen(c(170, 120, 10), 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(75, 72.5), QPointF(75, 81.5));
    } else if (categoria == QLatin1String("operacion")) {  // hard hat
        p.setPen(Qt::NoPen);
        p.setBrush(c(250, 190, 30));
        QPainterPath casco;
        casco.moveTo(26, 32);
        casco.cubicTo(28, 8, 72, 8, 74, 32);
        casco.closeSubpath();
        p.drawPath(casco);
        p.drawRoundedRect(QRectF(20, 29, 60, 7), 3.5, 3.5);
        p.setBrush(c(225, 160, 10));
        p.drawRoundedRect(QRectF(46, 12, 8, 18), 3, 3);
    } else if (categoria == QLatin1String("creativo")) {  // beret
        p.setPen(Qt::NoPen);
        p.setBrush(c(200, 40, 60));
        p.save();
        p.translate(44, 22);
        p.rotate(-14);
        p.drawEllipse(QRectF(-24, -9, 48, 18));
        p.restore();
        p.drawEllipse(QRectF(40, 8, 6, 6));
    } else if (categoria == QLatin1String("asistente")) {  // antenna
        p.setPen(QPen(tinta, 2.4, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(50, 22), QPointF(50, 9));
        p.setPen(Qt::NoPen);
        p.setBrush(pausa ? QColor(170, 170, 170) : QColor(183, 255, 39));
        p.drawEllipse(QRectF(45, 3, 10, 10));
    } else if (categoria == QLatin1String("general")) {  // a sprout
        p.setPen(QPen(c(60, 150, 60), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(50, 22), QPointF(50, 12));
        p.setPen(Qt::NoPen);
        p.setBrush(c(90, 190, 80));
        QPainterPath hojas;
        hojas.moveTo(50, 13);
        hojas.cubicTo(44, 4, 36, 8, 38, 12);
        hojas.cubicTo(42, 16, 48, 15, 50, 13);
        hojas.moveTo(50, 13);
        hojas.cubicTo(56, 4, 64, 8, 62, 12);
        hojas.cubicTo(58, 16, 52, 15, 50, 13);
        p.drawPath(hojas);
    } else if (categoria == QLatin1String("direccion")) {  // crown
        p.setPen(Qt::NoPen);
        p.setBrush(c(255, 200, 40));
        QPainterPath corona;
        corona.moveTo(33, 26);
        corona.lineTo(31, 8);
        corona.lineTo(41, 17);
        corona.lineTo(50, 4);
        corona.lineTo(59, 17);
        corona.lineTo(69, 8);
        corona.lineTo(67, 26);
        corona.closeSubpath();
        p.drawPath(corona);
        p.setBrush(c(230, 60, 90));
        p.drawEllipse(QRectF(47, 15, 6, 6));
    }
}

void zetas(QPainter& p) {
    p.setPen(QPen(QColor(110, 116, 130), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    auto z = [&](qreal x, qreal y, qreal s) {
        QPainterPath t;
        t.moveTo(x, y);
        t.lineTo(x + s, y);
        t.lineTo(x, y + s);
        t.lineTo(x + s, y + s);
        p.drawPath(t);
    };
    z(78, 14, 8);
    z(88, 4, 6);
}

QImage dibujar(const QString& categoria, int tono, int saturacion, int sombra, bool pausa) {
    // The shade turns the hue a little and changes lightness, so four agents of one category differ.
    static const int giro[4] = {0, -10, 10, 20};
    static const int luz[4] = {140, 168, 116, 152};
    const int h = tono + giro[sombra];
    const QColor base = color(h, saturacion, luz[sombra], pausa);
    const QColor claro = color(h, saturacion, std::min(230, luz[sombra] + 45), pausa);
    const QColor oscuro = color(h, saturacion, std::max(40, luz[sombra] - 45), pausa);

    QImage img(lado, lado, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(lado / 100.0, lado / 100.0);

    // Soft shadow on the ground.
    QRadialGradient suelo(QPointF(50, 93), 30);
    suelo.setColorAt(0, QColor(0, 0, 0, 50));
    suelo.setColorAt(1, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(suelo);
    p.drawEllipse(QRectF(20, 87, 60, 12));

    // Body: a soft rounded blob with a lighter belly.
    QLinearGradient cuerpo(QPointF(50, 20), QPointF(50, 92));
    cuerpo.setColorAt(0, claro);
    cuerpo.setColorAt(1, base);
    p.setBrush(cuerpo);
    p.setPen(QPen(oscuro, 1.6));
    p.drawRoundedRect(QRectF(20, 22, 60, 70), 30, 28);
    p.setPen(Qt::NoPen);
    QColor panza = claro;
    panza.setAlpha(150);
    p.setBrush(panza);
    p.drawEllipse(QRectF(34, 66, 32, 22));
    // Little arms.
    p.setBrush(base);
    p.drawEllipse(QRectF(13, 60, 12, 16));
    p.drawEllipse(QRectF(75, 60, 12, 16));

    ojos(p, pausa);
    boca(p, pausa);
    accesorio(p, categoria, oscuro, pausa);
    if (pausa) zetas(p);
    p.end();
    return img;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "uso: %s <carpeta de salida>\n", argv[0]);
        return 2;
    }
    const QString salida = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(salida);
    auto guardar = [&](const QString& nombre, const QImage& img) {
        const QString ruta = salida + QLatin1Char('/') + nombre + QStringLiteral(".png");
        if (!img.save(ruta, "PNG")) {
            std::fprintf(stderr, "no se pudo escribir %s\n", qPrintable(ruta));
            std::exit(1);
        }
    };
    for (const Familia& f : familias)
        for (int sombra = 0; sombra < 4; ++sombra)
            for (const bool pausa : {false, true})
                guardar(QStringLiteral("pj-%1-%2%3").arg(QLatin1String(f.categoria)).arg(sombra).arg(pausa ? QStringLiteral("-pausa") : QString()),
                        dibujar(QLatin1String(f.categoria), f.tonoBase, f.saturacion, sombra, pausa));
    // The coordinator wears the product's lime.
    for (const bool pausa : {false, true})
        guardar(QStringLiteral("pj-direccion-0%1").arg(pausa ? QStringLiteral("-pausa") : QString()),
                dibujar(QStringLiteral("direccion"), 84, 200, 0, pausa));

    return 0;
}
