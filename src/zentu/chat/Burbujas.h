#pragma once

#include "plataforma/EsquemaColor.h"
#include "plataforma/Reloj.h"
#include "zentu/chat/ChatZentu.h"

#include <QAbstractButton>
#include <QImage>
#include <QList>
#include <QPointer>
#include <QRectF>
#include <QTextBrowser>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>


// The image grid of an album: 240 wide, gaps of 3, cells by the number of images.
namespace GeometriaAlbum {

inline constexpr double ancho = 240;
inline constexpr double hueco = 3;
inline constexpr double mitad = (ancho - hueco) / 2;  // 118.5

struct Celda {
    QRectF marco;  // within the grid, origin at its top-left
    int indice;    // which image
    int mas;       // images beyond the fourth, shown on the fourth cell (0: none)
};

// The cells for n images (at most four are shown).
std::vector<Celda> celdas(int n);
// The grid's size for n images; empty for none.
QSizeF tamano(int n);

}  // namespace GeometriaAlbum

// Fetches an image (a web or a local address) and decodes it away from the main thread, scaled
// down so that it still covers `cubrir`. `listo` runs on the main thread with the image (null
// when it could not be loaded), unless `dueno` is gone by then.
void cargarImagen(const QUrl& url, QSize cubrir, QObject* dueno, std::function<void(QImage)> listo);

// The row of a non-image attachment: its badge, its name in up to two lines, on a faint wash;
// a click opens it.
class FilaArchivo : public QAbstractButton {
    Q_OBJECT
public:
    FilaArchivo(ChatZentu::Adjunto a, Esquema esquema, QWidget* padre = nullptr);
    const ChatZentu::Adjunto& adjunto() const { return a_; }
    // Its size when it may be at most `anchoMax` wide.
    QSize tamanoPara(int anchoMax) const;
    QSize sizeHint() const override { return tamanoPara(400); }

protected:
    void paintEvent(QPaintEvent* evento) override;

private:
    ChatZentu::Adjunto a_;
    Esquema esquema_;
};

// A single image attachment, 240 × 180: a placeholder with a spinner while it loads, the
// picture once loaded; `alFallar` runs when it cannot be loaded.
class ImagenAdjunta : public QWidget {
    Q_OBJECT
public:
    enum class Estado { cargando, cargada, fallida };
    ImagenAdjunta(ChatZentu::Adjunto a, Esquema esquema, std::function<void()> alPulsar, QWidget* padre = nullptr);
    Estado estado() const { return estado_; }
    std::function<void()> alFallar;

protected:
    void paintEvent(QPaintEvent* evento) override;
    void mouseReleaseEvent(QMouseEvent* evento) override;

private:
    ChatZentu::Adjunto a_;
    Esquema esquema_;
    std::function<void()> alPulsar_;
    Estado estado_ = Estado::cargando;
    QImage imagen_;
};

// The attachments of an album: the image grid, then one file row per other attachment.
class Mosaico : public QWidget {
    Q_OBJECT
public:
    Mosaico(const QList<ChatZentu::Adjunto>& adjuntos, Esquema esquema,
            std::function<void(const ChatZentu::Adjunto&)> abrir, QWidget* padre = nullptr);
    QSize tamanoPara(int anchoMax) const;
    void disponer(int anchoMax);
    const QList<ChatZentu::Adjunto>& imagenes() const { return imagenes_; }
    const QList<FilaArchivo*>& filas() const { return filas_; }
    // Whether every image has finished loading (or failed).
    bool listo() const;

protected:
    void paintEvent(QPaintEvent* evento) override;
    void mouseReleaseEvent(QMouseEvent* evento) override;
    bool event(QEvent* evento) override;

private:
    const GeometriaAlbum::Celda* celdaEn(QPointF p) const;

    QList<ChatZentu::Adjunto> imagenes_;
    QList<FilaArchivo*> filas_;
    Esquema esquema_;
    std::function<void(const ChatZentu::Adjunto&)> abrir_;
    std::vector<GeometriaAlbum::Celda> celdas_;
    QList<QImage> cargadas_;
    QList<bool> terminadas_;
};

// The text of a bubble: rich text that wraps long words too, with no frame, no background and
// no scrolling of its own. It is drawn from one document, laid out once per width. What lets the
// owner select it, follow its links and copy from its menu (a text browser over the same
// document) is made only when the pointer first comes over it: a burst of messages builds no
// editors, and a bubble nobody points at costs one small widget.
class TextoBurbuja : public QWidget {
    Q_OBJECT
public:
    TextoBurbuja(const QString& html, const QColor& tinta, const QColor& seleccion, QWidget* padre = nullptr);
    ~TextoBurbuja() override;
    // The width the text takes when it may use `anchoMax`, and its height at a width.
    int anchoIdeal(int anchoMax) const;
    int altoPara(int ancho) const;
    QTextDocument* document() const { return doc_; }
    QString toPlainText() const;
    // The browser over the text; none until the pointer has been over it.
    QTextBrowser* navegador() const { return navegador_; }

Q_SIGNALS:
    void anchorClicked(const QUrl& url);

protected:
    void paintEvent(QPaintEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;
    void enterEvent(QEnterEvent* evento) override;
    // A press that comes before the browser (the list scrolled under a still pointer) makes it
    // and hands it the press, and what follows while the button is held.
    void mousePressEvent(QMouseEvent* evento) override;
    void mouseMoveEvent(QMouseEvent* evento) override;
    void mouseReleaseEvent(QMouseEvent* evento) override;
    void mouseDoubleClickEvent(QMouseEvent* evento) override;
    void contextMenuEvent(QContextMenuEvent* evento) override;

private:
    QTextBrowser* activar();
    void pasar(QEvent* evento);
    bool yaCabe(int ancho) const;
    // Measuring lays the document out at other widths; the browser's is put back after.
    void devolverAncho() const;

    QTextDocument* doc_ = nullptr;
    QColor tinta_, seleccion_;
    QTextBrowser* navegador_ = nullptr;
    bool pasando_ = false;    // a copy is on its way to the browser
    bool reenviando_ = false; // a press made before the browser is held
    mutable std::optional<std::pair<int, int>> ideal_;  // anchoMax -> width
    mutable std::optional<std::pair<int, int>> alto_;   // width -> height
};

// Under the beginning of a text too long for a bubble: how much of it shows, and two links,
// one that opens the whole text in the desktop's text editor and one that copies it.
class PliegueTexto : public QWidget {
    Q_OBJECT
public:
    PliegueTexto(QString entero, QString id, qsizetype mostrados, Esquema esquema, QWidget* padre = nullptr);
    // "Mensaje largo: aquí ves N de M caracteres."
    static QString aviso(qsizetype mostrados, qsizetype total);
    QString textoAviso() const { return aviso_; }
    QAbstractButton* botonAbrir() const { return abrir_; }
    QAbstractButton* botonCopiar() const { return copiar_; }
    QSize tamanoPara(int anchoMax) const;
    QSize sizeHint() const override { return tamanoPara(300); }

    // Writes the whole text to a file of the private attachments folder (away from the main
    // thread) and opens it; says so in the notice when it cannot.
    void abrir();
    void copiar();

protected:
    void paintEvent(QPaintEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;

private:
    void colocar();
    QString entero_, id_, aviso_;
    Esquema esquema_;
    QAbstractButton* abrir_ = nullptr;
    QAbstractButton* copiar_ = nullptr;
};

// One bubble of the chat list, as wide as the list: the owner's on the trailing side in the
// accent colour, the agents' on the leading side in a faint wash of ink, with the agent's
// name, the attachment area and the text (inline styling only).
class Burbuja : public QWidget {
    Q_OBJECT
public:
    using Abrir = std::function<void(const ChatZentu::Adjunto&)>;

    // `album` is the group the bubble stands for (`m` first); a single message may come as a
    // group of one or as an empty group.
    Burbuja(ChatZentu::Mensaje m, QList<ChatZentu::Mensaje> album, Abrir abrir,
            Esquema esquema = EsquemaColor::sistema().actual(), QWidget* padre = nullptr);

    // Splits the chat's messages into bubbles: the owner's photos and files sent together
    // (captionless, within 10 s of one another) share one.
    static QList<QList<ChatZentu::Mensaje>> agrupar(const QList<ChatZentu::Mensaje>& mensajes);
    // Whether `m` joins the bubble whose last message is `u` (the rule `agrupar` applies).
    static bool seUne(const ChatZentu::Mensaje& u, const ChatZentu::Mensaje& m);
    // The text the bubble shows: for the owner, without a leading mention of an agent.
    static QString textoVisible(const ChatZentu::Mensaje& m);
    // Inline Markdown (strong, emphasis, strikethrough, code, links) as rich text; block
    // syntax stays as typed. Only web and mail links become links.
    static QString html(const QString& texto, const QColor& tinta);
    // The longest text a bubble lays out, in UTF-16 units. A longer one (the channel takes
    // messages of up to 32 MiB) shows its beginning and a fold that opens or copies it whole:
    // laying out megabytes of text would hold the program for seconds to minutes.
    static constexpr qsizetype kMaximoTexto = 4000;
    // What a bubble shows of `texto`: all of it up to kMaximoTexto; else its beginning, cut at
    // the last line break or space of the final stretch before the limit (never inside a
    // character), followed by "…".
    static QString principio(const QString& texto);

    const ChatZentu::Mensaje& mensaje() const { return m_; }
    // The bubble's rectangle within the widget, for the current width.
    QRectF marcoBurbuja() const { return burbuja_; }
    TextoBurbuja* etiquetaTexto() const { return texto_; }
    // The fold under a text cut at kMaximoTexto; none for a text shown whole.
    PliegueTexto* pliegue() const { return pliegue_; }
    QWidget* areaAdjunto() const { return area_; }
    bool muestraAutor() const { return !autor_.isEmpty(); }
    // Whether every image in it has finished loading (or failed).
    bool imagenesListas() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int ancho) const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* evento) override;
    void resizeEvent(QResizeEvent* evento) override;

private:
    struct Disposicion {
        QRectF burbuja;
        QRect autor, area, texto, pliegue;
        int alto = 0;
    };
    Disposicion calcular(int ancho) const;
    void aplicar();
    void ponerFila(const ChatZentu::Adjunto& a);

    ChatZentu::Mensaje m_;
    QList<ChatZentu::Mensaje> album_;
    Abrir abrir_;
    Esquema esquema_;
    QString autor_;
    QWidget* area_ = nullptr;
    TextoBurbuja* texto_ = nullptr;
    PliegueTexto* pliegue_ = nullptr;
    bool textoAcotado_ = false;  // an album's caption wraps at 240
    QRectF burbuja_;
    // The last layout worked out, by width; measuring text is not free and layouts ask often.
    mutable std::optional<std::pair<int, Disposicion>> cache_;
};

// The bubble the screenshot renderer draws: `m` alone, opening nothing.
class BurbujaParaCaptura : public Burbuja {
    Q_OBJECT
public:
    explicit BurbujaParaCaptura(ChatZentu::Mensaje m, Esquema esquema = EsquemaColor::sistema().actual(),
                                QWidget* padre = nullptr);
};

// The agent-side bubble of three dots that rise in turn while an agent is working; one
// cycle takes 1.2 s.
class Escribiendo : public QWidget {
    Q_OBJECT
public:
    explicit Escribiendo(Esquema esquema = EsquemaColor::sistema().actual(), Reloj& reloj = Reloj::sistema(),
                         QWidget* padre = nullptr);

    static constexpr double periodo = 1.2;
    // The opacity of dot i (0, 1, 2) at phase `fase` (radians).
    static double opacidad(int i, double fase);
    double fase() const { return fase_; }
    QSize sizeHint() const override { return QSize(50, 26); }

protected:
    void paintEvent(QPaintEvent* evento) override;
    void showEvent(QShowEvent* evento) override;
    void hideEvent(QHideEvent* evento) override;

private:
    void cuadro();

    Esquema esquema_;
    Reloj& reloj_;
    double fase_ = 0;
    double inicio_ = 0;
    Temporizador siguiente_;
};
