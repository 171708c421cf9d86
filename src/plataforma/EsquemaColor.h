#pragma once

#include <QDBusVariant>
#include <QObject>
#include <QString>

// The desktop's colour scheme, as the views choose their palette, tint and shadow by it.
enum class Esquema { claro, oscuro };

// Follows the desktop's colour scheme: the XDG desktop portal's "color-scheme" setting
// (namespace "org.freedesktop.appearance") where a portal answers and states a preference,
// otherwise the lightness of Qt's application palette. Asks the portal without blocking: until
// it answers, `actual()` is the palette's guess. Main thread only.
class EsquemaColor : public QObject {
    Q_OBJECT
public:
    // `servicio` is the portal's bus name; tests pass a private one.
    explicit EsquemaColor(QObject* padre = nullptr,
                          const QString& servicio = QStringLiteral("org.freedesktop.portal.Desktop"));

    // The process-wide probe (created on first use, on the main thread).
    static EsquemaColor& sistema();

    Esquema actual() const { return actual_; }
    bool oscuro() const { return actual_ == Esquema::oscuro; }

    // The scheme Qt's palette suggests: dark when the window colour is darker than mid-grey.
    static Esquema segunPaleta();

signals:
    void cambio(Esquema esquema);

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private slots:
    void ajusteCambiado(const QString& espacio, const QString& clave, const QDBusVariant& valor);

private:
    void preguntarAlPortal();
    void aplicarValorPortal(const QVariant& valor);
    void recalcular();

    QString servicio_;
    // The portal's stated preference: 1 dark, 2 light, 0 or absent: none (use the palette).
    uint preferenciaPortal_ = 0;
    Esquema actual_ = Esquema::claro;
};
