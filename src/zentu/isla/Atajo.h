#pragma once

#include "plataforma/MonitorTeclado.h"
#include "plataforma/Reloj.h"
#include "plataforma/TeclasGlobales.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <map>
#include <optional>

class QKeyEvent;

// A key with its modifiers, as stored: `tecla` is the key's code on an Apple keyboard and
// `modificadores` the mask of Teclado.h (command 0x0100, shift 0x0200, option 0x0800, control
// 0x1000). Command is the Super key, option is Alt.
struct Combinacion {
    quint32 tecla = 0;
    quint32 modificadores = 0;

    bool operator==(const Combinacion&) const = default;

    // The names a PC keyboard prints: "Ctrl", "Alt", "Mayús", "Super" for the modifiers present,
    // in this order, then the key's name ("Alt", "Mayús", "Espacio").
    QStringList piezas() const;
    // The pieces joined by "+" ("Alt+Mayús+Espacio"): how every view writes a combination.
    QString texto() const;

    // What a menu item shows as its key: the character and the modifier flags.
    struct TeclaMenu {
        QString tecla;
        Qt::KeyboardModifiers mods;
        bool operator==(const TeclaMenu&) const = default;
    };
    // None when the key has no one-character form (function keys, for example).
    std::optional<TeclaMenu> paraMenu() const;

    // The combination of a key press as the settings window records it: the physical key of the
    // event (its native X keycode) and its control, Alt, shift and Super modifiers.
    static Combinacion desde(const QKeyEvent& evento);

    // The key's name as the keyboard prints it: fixed for the keys that type nothing ("Intro",
    // "Tab", "Supr", "F5"), otherwise what it types in the current layout, in upper case; "?"
    // when no layout can be read.
    static QString nombre(quint32 tecla);

    // Stored form: a JSON object with exactly "tecla" and "modificadores".
    QByteArray json() const;
    static std::optional<Combinacion> desdeJson(const QByteArray& datos);
};

// The five global hot keys of the program's actions. The shell creates one at start and installs
// `alPulsar` and `alSoltar`; the settings window changes, resets and pauses them.
class Atajos : public QObject {
    Q_OBJECT
public:
    enum class Cual : quint32 { llamada = 1, conversacion = 2, pantalla = 3, zona = 4, chat = 5 };
    static constexpr std::array<Cual, 5> todas = {Cual::llamada, Cual::conversacion, Cual::pantalla,
                                                  Cual::zona, Cual::chat};

    // Registers the five actions (a refusal is only logged) and becomes the instance that gets
    // every hot-key event.
    explicit Atajos(TeclasGlobales& teclas = TeclasGlobales::sistema(), QObject* padre = nullptr);

    static Combinacion porDefecto(Cual cual);
    // How the conflict message names the action ("la llamada").
    static QString nombreDe(Cual cual);
    // The stored combination of the action, or its default when none is stored or it does not decode.
    static Combinacion combinacion(Cual cual);

    // None on success; otherwise the message to show, and the action keeps its old keys.
    std::optional<QString> cambiar(Cual cual, const Combinacion& nueva);
    // Forgets the stored combinations and registers the defaults.
    void restablecer();
    // true gives every hot key back (while the settings window records a new one); false takes
    // them again.
    void pausar(bool si);

    // Whether the action currently holds its hot key (false while paused, or when the desktop
    // refused its combination).
    bool registrada(Cual cual) const { return refs_.count(cual) > 0; }
    static Atajos* actual() { return actual_; }

    // Called on the main thread when an action's hot key goes down and when it comes up.
    std::function<void(Cual)> alPulsar;
    std::function<void(Cual)> alSoltar;

signals:
    // Some action took or lost its hot key.
    void registroCambio();

private:
    std::optional<QString> registrar(Cual cual);
    static void recibir(quint32 id, bool soltada);

    TeclasGlobales& teclas_;
    std::map<Cual, bool> refs_;
    static inline QPointer<Atajos> actual_;
};

// The hold-to-talk chord: control and Super held together, with no other modifier, for 0.2 s
// calls `alPulsar`; letting go calls `alSoltar`; typing a key while it is held calls
// `alCancelar`. The program uses the one instance `shared()`; tests build their own over a fake
// keyboard and virtual time.
class TeclasModificadoras : public QObject {
    Q_OBJECT
public:
    static constexpr double espera = 0.2;

    explicit TeclasModificadoras(MonitorTeclado& monitor, Reloj& reloj = Reloj::sistema(),
                                 QObject* padre = nullptr);
    ~TeclasModificadoras() override;

    static TeclasModificadoras& shared();

    // The stored wish ("zentu.fnControl"); true when absent or not a Boolean.
    static bool encendido();
    // Stores the wish and starts or stops listening.
    void encender(bool si);

    std::function<void()> alPulsar;
    std::function<void()> alSoltar;
    std::function<void()> alCancelar;

    bool sostenido() const { return sostenido_; }
    bool armado() const { return pendiente_.activo(); }

    // What the keyboard reports (the monitor calls these).
    void modificadores(quint32 mascara);
    void teclaPulsada();

private:
    MonitorTeclado& monitor_;
    Reloj& reloj_;
    bool sostenido_ = false;
    Temporizador pendiente_;
};
