#pragma once

#include "compartido/Instantanea.h"
#include "plataforma/EsquemaColor.h"
#include "plataforma/SelectorArchivos.h"
#include "plataforma/Reloj.h"
#include "zentu/chat/ChatZentu.h"
#include "zentu/chat/PanelChat.h"
#include "zentu/isla/Vidrio.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QRectF>
#include <QSizeF>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

class Burbuja;
class Escribiendo;
class QFileDialog;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class QVariantAnimation;

// The whole content of the chat panel: a glass card with the header, the conversation, the
// error line, the staged files, the "/" agent picker, the voice-note line and the composer.
// Everything it shows comes from the chat model; every action goes to the model or to the
// closures it was given. A transparent margin of 24 around the card is part of the drop target.
class VistaChat : public QWidget {
    Q_OBJECT
public:
    // One row of the agent picker.
    struct Opcion {
        QString id;                     // the agent's id in decimal, "zentu" for the coordinator
        std::optional<QString> nombre;  // the name the switch sends; none for the coordinator
        QString etiqueta;
        QString detalle;
        bool operator==(const Opcion&) const = default;
    };

    static constexpr qreal kMargen = 24;
    static constexpr int kMaximoSugerencias = 7;
    static constexpr int kTanda = 40;  // bubbles built at a time, from the newest
    // The most bubbles built at once: the list keeps views only for a stretch of the conversation
    // around what is on screen; farther ones are released and built again when scrolled to.
    static constexpr int kMaximo = 3 * kTanda;
    // A pushed message after a quiet spell shows at once; those that follow it closely are
    // gathered and shown together twenty times a second (one layout, one jump to the end, one
    // paint) rather than one at a time: a burst of a hundred a second costs twenty frames, not
    // sixty, no glide runs through it, and no batch holds the program up for long.
    static constexpr int kRafagaMs = 50;
    static const QString kErrorEnvio;   // "No se pudo enviar. Revisa la conexión."
    static const QString kErrorAgente;  // "No se pudo cambiar de agente. Revisa la conexión."

    VistaChat(ChatZentu& chat, std::function<void()> cerrar, Esquinas::Accion redimensionar,
              Esquema esquema = EsquemaColor::sistema().actual(), Reloj& reloj = Reloj::sistema(),
              QWidget* padre = nullptr);
    ~VistaChat() override;

    // "Zentu" for none; otherwise "_" and "-" become spaces and the first character is upper-cased.
    static QString nombreVisible(const std::optional<QString>& agente);
    static QString categoria(const QString& clave);
    // The picker's rows for a composer text and a snapshot: empty unless the text starts with "/"
    // and holds no space or line feed; at most 7, the coordinator first.
    static QList<Opcion> sugerencias(const QString& borrador, const Instantanea& instantanea);
    // The rows now, from the snapshot file as it stands.
    QList<Opcion> sugerencias() const;
    // Where the file chooser goes: centred over the chat panel `panel`, inside `visible`.
    static QPointF colocarSobre(QSizeF dialogo, const QRectF& panel, const QRectF& visible);

    // Actions of the composer and the picker.
    bool listo() const;
    void enviar();
    void elegirArchivo();
    void elegir(const Opcion& opcion);

    // State of the moment.
    bool enviando() const { return enviando_; }
    const std::optional<QString>& error() const { return error_; }
    bool soltandoEncima() const { return soltandoEncima_; }
    int marcada() const { return marcada_; }

    // Parts, for the owner and the tests.
    QWidget* tarjeta() const { return tarjeta_; }
    QPlainTextEdit* campo() const { return campo_; }
    QScrollArea* lista() const { return lista_; }
    QPushButton* botonEnviar() const { return botonEnviar_; }
    QPushButton* botonAdjuntar() const { return botonAdjuntar_; }
    QPushButton* botonVolver() const { return botonVolver_; }
    QPushButton* botonCerrar() const { return botonCerrar_; }
    QLabel* titulo() const { return titulo_; }
    QLabel* lineaError() const { return lineaError_; }
    QWidget* selector() const { return selector_; }
    QWidget* fichas() const { return fichas_; }
    QWidget* nota() const { return nota_; }
    // The bubbles built now, in list order (the newest, or the stretch the owner scrolled to),
    // and the typing row.
    QList<Burbuja*> burbujas() const;
    QWidget* filaEscribiendo() const;
    // How many bubble views were built so far (a bubble is built once while it stays near the
    // screen, not at every change).
    int burbujasCreadas() const;

    // The file chooser runs through this (it returns the chosen files, none when cancelled);
    // by default the dialog runs modally.
    std::function<std::optional<QList<QUrl>>(QFileDialog&)> correrDialogo;
    // The desktop's own chooser (none: it offers none, and Qt's dialog shows instead).
    std::function<std::optional<QList<QUrl>>(const SelectorArchivos::Pedido&)> elegirEnEscritorio;
    // Opens a staged file with the desktop's default application.
    std::function<void(const QUrl&)> abrirArchivo;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* evento) override;
    void keyPressEvent(QKeyEvent* evento) override;
    void showEvent(QShowEvent* evento) override;
    void dragEnterEvent(QDragEnterEvent* evento) override;
    void dragMoveEvent(QDragMoveEvent* evento) override;
    void dragLeaveEvent(QDragLeaveEvent* evento) override;
    void dropEvent(QDropEvent* evento) override;
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    void construir();
    QWidget* cabecera();
    QWidget* redactor();
    void alCambiarMensajes();
    void ponerAlDia();
    void agrupar(bool desdeCero);
    QList<ChatZentu::Mensaje> grupo(int indice) const;
    void ventana(int desde, int hasta);
    void soltar(QWidget* burbuja);
    void prepararNuevas();
    Burbuja* nuevaBurbuja(const QList<ChatZentu::Mensaje>& g);
    void conservandoVista(const std::function<void()>& cambio);
    void recortar();
    void alDia() const;
    void asentarLista();
    void masAntiguas();
    void masNuevas();
    void irAlFinal();
    void alCambiarEscribiendo();
    void alCambiarBorrador();
    void alCambiarAgente();
    void alCambiarPendientes();
    void alCambiarNota();
    void rehacerSelector();
    void ponerError(const std::optional<QString>& texto);
    void ponerEnviando(bool valor);
    void ponerMarcada(int valor);
    void ponerSoltando(bool valor);
    void pintarBotones();
    void ajustarAltoCampo();
    void bajar(bool animado);
    void alFondo(bool animado);
    void enfocar();
    QCoro::Task<void> enviarTarea(QString texto, QList<QUrl> archivos);
    QCoro::Task<void> elegirTarea(std::optional<QString> nombre);
    QCoro::Task<void> volverTarea();

    QPointer<ChatZentu> chat_;
    std::function<void()> cerrar_;
    Esquinas::Accion redimensionar_;
    Esquema esquema_;
    Paleta p_;
    Reloj& reloj_;

    bool enviando_ = false;
    std::optional<QString> error_;
    bool soltandoEncima_ = false;
    int marcada_ = 0;

    QWidget* tarjeta_ = nullptr;
    QWidget* borde_ = nullptr;
    QLabel* titulo_ = nullptr;
    QPushButton* botonVolver_ = nullptr;
    QPushButton* botonCerrar_ = nullptr;
    QScrollArea* lista_ = nullptr;
    QWidget* contenidoLista_ = nullptr;
    QVBoxLayout* capaLista_ = nullptr;
    QWidget* cargando_ = nullptr;
    QWidget* filaEscribiendo_ = nullptr;
    Escribiendo* escribiendo_ = nullptr;
    QLabel* lineaError_ = nullptr;
    QWidget* fichas_ = nullptr;
    QWidget* selector_ = nullptr;
    QWidget* nota_ = nullptr;
    QPlainTextEdit* campo_ = nullptr;
    QPushButton* botonAdjuntar_ = nullptr;
    QPushButton* botonEnviar_ = nullptr;

    // The conversation's bubbles as spans of the model's list, kept up to date as messages are
    // appended; regrouped from scratch only when the model replaces its list.
    struct Grupo {
        qsizetype desde = 0;
        qsizetype cuantos = 0;
    };
    std::vector<Grupo> grupos_;
    quint64 generacion_ = std::numeric_limits<quint64>::max();  // the model's, when grouped
    qsizetype agrupados_ = 0;                                   // messages the groups cover
    // The built bubbles: those of groups [inicio_, inicio_ + filas_.size()), in order, each with
    // the group it shows.
    struct Fila {
        QPointer<Burbuja> vista;
        QList<ChatZentu::Mensaje> grupo;
    };
    std::vector<Fila> filas_;
    // Bubbles built as their message came, by the id of its first message, for the batch that
    // shows them: a burst's bubbles are built one per push rather than all in the batch's turn.
    QHash<QString, Fila> hechas_;
    qsizetype preparados_ = 0;  // messages of the model's list looked at for that
    int inicio_ = 0;
    int burbujasCreadas_ = 0;
    bool ampliando_ = false;
    QString ultimoId_;
    QTimer* tanda_ = nullptr;
    QTimer* recorte_ = nullptr;  // lets go of the oldest bubbles, in a turn after the batch
    QElapsedTimer desdeTanda_;
    bool rafaga_ = false;  // what is shown next came in a burst
    bool mostradaAntes_ = false;
    QPointer<QVariantAnimation> animacion_;
    std::vector<Temporizador> bajadas_;
};
