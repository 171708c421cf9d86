#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <optional>

// What the voice side is doing, as the island shows it.
enum class Fase { reposo, conectando, escuchando, pensando, hablando, timbrando };

// The one observable state of the voice interface. The shell writes it; the pill, the island
// window and the orb read it. Published fields have a getter, a setter and a change signal (and
// every change also emits `cambio()`); the smoothed animation values are plain fields that only
// the orb's drawing reads, so stepping them redraws nothing else.
class EstadoVoz : public QObject {
    Q_OBJECT
public:
    struct Medidas {
        double energia = 0;  // how agitated the orb's rings are
        double giro = 0;     // how fast the orb turns
        double escala = 0;   // the orb's size factor
        double brillo = 0;   // the orb's brightness
        bool operator==(const Medidas&) const = default;
    };

    static constexpr double escalaMinima = 0.9;
    static constexpr double escalaMaxima = 2.2;
    static constexpr double escalaInicial = 1.4;

    // Reads the island's scale from "zentu.isla.escala" (the key is not rewritten here).
    explicit EstadoVoz(QObject* padre = nullptr);

    // Where the orb heads in each phase.
    static Medidas objetivo(Fase fase);

    Fase fase() const { return fase_; }
    bool silencio() const { return silencio_; }
    bool visible() const { return visible_; }
    bool modoChat() const { return modoChat_; }
    const QString& agenteDelChat() const { return agenteDelChat_; }
    bool vozEnChat() const { return vozEnChat_; }
    bool quieto() const { return quieto_; }
    const std::optional<QString>& aviso() const { return aviso_; }
    const std::optional<QString>& timbre() const { return timbre_; }
    double escala() const { return escala_; }

    void setFase(Fase valor);
    void setSilencio(bool valor);
    void setVisible(bool valor);
    void setModoChat(bool valor);
    void setAgenteDelChat(const QString& valor);
    void setVozEnChat(bool valor);
    void setQuieto(bool valor);
    void setAviso(const std::optional<QString>& valor);
    void setTimbre(const std::optional<QString>& valor);
    // Kept within 0.9 to 2.2 and stored. An out-of-range value is seen by observers first as
    // given, then clamped; only the clamped value reaches the preferences.
    void setEscala(double valor);

    // Plain fields: changing them announces nothing.
    double nivelBruto = 0;                       // raw audio level, nominally 0 to 1
    Medidas animado = objetivo(Fase::reposo);    // smoothed orb values
    double nivel = 0;                            // smoothed audio level
    double tiempo = 0;                           // animation clock: the sum of all steps

    // Steps the animation to the moment `hasta` (seconds on any fixed origin: callers may step
    // a fresh state through synthetic times before it is first drawn). No signal, no allocation.
    void avanzar(double hasta);
    // The same, for a wall-clock date (to the millisecond).
    void avanzar(const QDateTime& hasta);
    std::optional<double> ultimo() const { return ultimo_; }

signals:
    void faseCambio();
    void silencioCambio();
    void visibleCambio();
    void modoChatCambio();
    void agenteDelChatCambio();
    void vozEnChatCambio();
    void quietoCambio();
    void avisoCambio();
    void timbreCambio();
    void escalaCambio();
    // Any published field changed.
    void cambio();

private:
    Fase fase_ = Fase::reposo;
    bool silencio_ = false;
    bool visible_ = false;
    bool modoChat_ = false;
    QString agenteDelChat_ = QStringLiteral("Zentu");
    bool vozEnChat_ = false;
    bool quieto_ = false;
    std::optional<QString> aviso_;
    std::optional<QString> timbre_;
    double escala_ = escalaInicial;
    std::optional<double> ultimo_;
};
