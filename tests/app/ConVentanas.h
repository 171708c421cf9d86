#pragma once
// The fake desktop of the app tests with the island's and the chat panel's real windows in it,
// for tests on the X server; and a way to find those windows among the program's.

#include "Falsos.h"

#include "zentu/app/EntornoEscritorio.h"

#include <QApplication>
#include <QWidget>

namespace falsos {

// Fakes everywhere except the two windows, which are the desktop's own.
class ConVentanas : public Entorno {
public:
    std::unique_ptr<PuertoIsla> crearIsla(EstadoVoz& voz, AccionesIsla a) override {
        return escritorio.crearIsla(voz, std::move(a));
    }
    std::unique_ptr<PuertoPanelChat> crearPanelChat(PuertoChat& c, std::function<void()> cerrar) override {
        return escritorio.crearPanelChat(c, std::move(cerrar));
    }
    EntornoEscritorio escritorio;
};

// The program's top-level window of type T, if there is one.
template <typename T> T* ventana() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* v = qobject_cast<T*>(w)) return v;
    return nullptr;
}

}  // namespace falsos
