#pragma once

#include "zentu/isla/Atajo.h"

#include <QObject>
#include <functional>

class QKeyEvent;

// Listens to every key press the program receives (an event filter on the application) while a
// hot key is being recorded. Each press of a real key goes to `alTeclear` as a combination; what
// it answers decides whether the press is swallowed. Modifier keys pressed alone and repeats of a
// held key are swallowed without being judged: the combination is complete only when its last,
// non-modifier key goes down. Destroying the recorder removes the filter.
class GrabadorTeclas : public QObject {
    Q_OBJECT
public:
    explicit GrabadorTeclas(std::function<bool(const Combinacion&)> alTeclear, QObject* padre = nullptr);
    ~GrabadorTeclas() override;

    // Whether the key of this event is a modifier on its own (shift, control, Alt, Super...).
    static bool esModificador(const QKeyEvent& evento);

protected:
    bool eventFilter(QObject* objeto, QEvent* evento) override;

private:
    std::function<bool(const Combinacion&)> alTeclear_;
};
