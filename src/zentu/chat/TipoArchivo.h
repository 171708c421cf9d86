#pragma once

#include "plataforma/EsquemaColor.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QString>
#include <QUrl>
#include <QWidget>

class QPainter;

// The kind of a file as the chat shows it: a coloured badge named after the extension, and a
// one-line detail (kind, page count or pixel size, byte size) for staged files.
namespace TipoArchivo {

struct Insignia {
    QString etiqueta;
    QColor color;
};

// Badge of a file name, by its last extension, lower-cased.
Insignia de(const QString& nombre);

// "PDF · 3 páginas · 120 kB" and the like, for a local file. Opens the file on every call.
QString detalle(const QUrl& archivo);

// The extension the badge is chosen by: after the last dot of the last path component, empty
// when there is none.
QString extension(const QString& nombre);

// The chat's text face (Inter; rounded: Comfortaa) at `puntos` logical pixels.
QFont fuente(qreal puntos, QFont::Weight peso, bool redondeada = false);

}  // namespace TipoArchivo

// The square badge of a file: the label in the kind's colour over a faint wash of it.
class FichaTipo : public QWidget {
    Q_OBJECT
public:
    FichaTipo(QString nombre, qreal lado, QWidget* padre = nullptr);

    const QString& nombre() const { return nombre_; }
    QSize sizeHint() const override;

    // Draws the badge of `nombre` into the square `cuadro`.
    static void pintar(QPainter& pintor, const QRectF& cuadro, const QString& nombre);

protected:
    void paintEvent(QPaintEvent* evento) override;

private:
    QString nombre_;
    qreal lado_;
};

// A file's thumbnail (images and PDFs) in a rounded square, with the file's badge in its place
// until the thumbnail is made, or for good when none can be. Thumbnails are made off the main
// thread each time the view is shown or its file changes; nothing is cached.
class Miniatura : public QWidget {
    Q_OBJECT
public:
    Miniatura(QUrl url, qreal lado, Esquema esquema = EsquemaColor::sistema().actual(), QWidget* padre = nullptr);

    const QUrl& url() const { return url_; }
    void setUrl(const QUrl& url);
    const QImage& imagen() const { return imagen_; }
    QSize sizeHint() const override;

    // Draws a finished thumbnail, scaled to fill the square and clipped to its rounded shape.
    static void pintarImagen(QPainter& pintor, const QRectF& cuadro, const QImage& imagen, Esquema esquema);

signals:
    // The attempt for the current file is over (with or without a picture).
    void intentada();

protected:
    void paintEvent(QPaintEvent* evento) override;
    void showEvent(QShowEvent* evento) override;

private:
    void pedir();

    QUrl url_;
    qreal lado_;
    Esquema esquema_;
    QImage imagen_;
    quint64 peticion_ = 0;  // a result for an older request is dropped
};
