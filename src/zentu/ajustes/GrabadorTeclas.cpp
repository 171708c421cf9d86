#include "zentu/ajustes/GrabadorTeclas.h"

#include <QCoreApplication>
#include <QKeyEvent>

GrabadorTeclas::GrabadorTeclas(std::function<bool(const Combinacion&)> alTeclear, QObject* padre)
    : QObject(padre), alTeclear_(std::move(alTeclear)) {
    if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

GrabadorTeclas::~GrabadorTeclas() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
}

bool GrabadorTeclas::esModificador(const QKeyEvent& evento) {
    switch (evento.key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
        return true;
    default:
        return false;
    }
}

bool GrabadorTeclas::eventFilter(QObject* objeto, QEvent* evento) {
    const QEvent::Type tipo = evento->type();
    if (tipo != QEvent::KeyPress && tipo != QEvent::ShortcutOverride && tipo != QEvent::KeyRelease)
        return QObject::eventFilter(objeto, evento);
    auto* tecla = static_cast<QKeyEvent*>(evento);
    if (tipo == QEvent::ShortcutOverride) {
        // Claiming the key keeps menu and window shortcuts from firing; the press comes next.
        tecla->accept();
        return true;
    }
    if (tipo == QEvent::KeyRelease || tecla->isAutoRepeat() || esModificador(*tecla)) return true;
    // A press without a physical key (synthesised, or from a platform that gives none) cannot
    // become a hot key; only its meaning as Esc counts.
    if (tecla->nativeScanCode() == 0) {
        if (tecla->key() != Qt::Key_Escape) return true;
        Combinacion esc = Combinacion::desde(*tecla);
        esc.tecla = 53;
        return alTeclear_ ? alTeclear_(esc) : false;
    }
    // A press that is not swallowed goes on from the window to the focused widget and is judged
    // there again; judging only has effects when it swallows, so that is harmless.
    return alTeclear_ ? alTeclear_(Combinacion::desde(*tecla)) : false;
}
