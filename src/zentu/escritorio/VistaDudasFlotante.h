#pragma once

#include "plataforma/EsquemaColor.h"
#include "zentu/escritorio/ModeloDudas.h"

#include <QDateTime>
#include <QJsonObject>
#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>
#include <optional>

class QAbstractButton;
class QLabel;
class QPlainTextEdit;
class QVBoxLayout;

// The floating decision card: one decision at a time on a glass card the owner can drag — the
// permission request the model has open, else the open question, else a short notice that it is
// already settled. Without `sola` it lists every open question, the open one expanded.
class VistaDudasFlotante : public QWidget {
    Q_OBJECT
public:
    VistaDudasFlotante(ModeloDudas& m, std::function<void()> cerrar, std::function<void()> abrirChat, bool sola,
                       double ancho, Esquema esquema = EsquemaColor::sistema().actual(), QWidget* padre = nullptr);

    // The scale of every length marked to grow with the card: ancho / 600 within 1 … 1.45 for
    // a card alone, else 1.
    static double escala(bool sola, double ancho);
    // "hace 5 min", "hace 3 h", "hace 2 d"; empty when the time is missing or unreadable.
    static QString hace(const std::optional<QString>& creado, const QDateTime& ahora = QDateTime::currentDateTimeUtc());
    // The agent's name as the card shows it ("_" as spaces, first character upper-cased) and its
    // initial (the stored name's first character, upper-cased).
    static QString nombreAgente(const QJsonObject& registro);
    static QString inicial(const QJsonObject& registro);

    // What the card shows now.
    enum class Muestra { permiso, duda, resuelta, lista };
    Muestra muestra() const { return muestra_; }

    // The view's own state.
    QString respuesta() const;
    const std::optional<QString>& textoPermiso() const { return textoPermiso_; }
    bool enfocado() const;

    // Controls by role, for the keyboard and for tests (none when not on the card).
    QPlainTextEdit* campoRespuesta() const { return campo_; }
    QPlainTextEdit* campoPermiso() const { return campoPermiso_; }
    QAbstractButton* botonEnviar() const { return enviar_; }
    QAbstractButton* botonDescartar() const { return descartar_; }
    QAbstractButton* botonAprobar() const { return aprobar_; }
    QAbstractButton* botonRechazar() const { return rechazar_; }
    QAbstractButton* botonCerrar() const { return cerrarBoton_; }
    QList<QAbstractButton*> chips() const;
    QList<QAbstractButton*> filasColapsadas() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int ancho) const override;
    QSize sizeHint() const override;

protected:
    void showEvent(QShowEvent* evento) override;
    void mousePressEvent(QMouseEvent* evento) override;
    void mouseMoveEvent(QMouseEvent* evento) override;
    void mouseReleaseEvent(QMouseEvent* evento) override;

private:
    void alCambiarModelo();
    void reconstruir();
    void actualizarEstados();
    void ajustarVentana();
    int altoContenido() const;
    QWidget* tarjetaDuda(const QJsonObject& registro, qint64 id, bool conCerrar, QWidget* padre);
    QWidget* tarjetaPermiso(const QJsonObject& registro, qint64 id, QWidget* padre);
    QWidget* filaColapsada(const QJsonObject& registro, qint64 id, QWidget* padre);
    QWidget* resuelta(QWidget* padre);
    QString mensajePermiso() const;
    bool permisoEditado() const;
    void enviar(qint64 id, QString texto);
    QCoro::Task<void> enviarTarea(qint64 id, QString texto);
    QCoro::Task<void> descartarTarea(qint64 id);
    QCoro::Task<void> decidirTarea(qint64 id, bool aprobar, std::optional<QString> texto);
    QString clave() const;

    QPointer<ModeloDudas> m_;
    std::function<void()> cerrar_;
    std::function<void()> abrirChat_;
    bool sola_;
    double ancho_;
    double s_;
    Esquema esquema_;
    Muestra muestra_ = Muestra::resuelta;

    QString respuesta_;
    std::optional<QString> textoPermiso_;
    std::optional<qint64> idMostrado_;
    QString claveMostrada_;

    QWidget* contenido_ = nullptr;
    QVBoxLayout* raiz_ = nullptr;
    QPlainTextEdit* campo_ = nullptr;
    QPlainTextEdit* campoPermiso_ = nullptr;
    QAbstractButton* enviar_ = nullptr;
    QAbstractButton* descartar_ = nullptr;
    QAbstractButton* aprobar_ = nullptr;
    QAbstractButton* rechazar_ = nullptr;
    QAbstractButton* cerrarBoton_ = nullptr;
    QWidget* girador_ = nullptr;
    QLabel* error_ = nullptr;
    QWidget* marcoMensaje_ = nullptr;
    QList<QAbstractButton*> chips_;
    QList<QAbstractButton*> colapsadas_;

    QPoint agarre_;
    bool arrastrando_ = false;
};
