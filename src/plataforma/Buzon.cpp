#include "plataforma/Buzon.h"

void Buzon::enviar(std::function<void()> tarea) {
    {
        std::lock_guard<std::mutex> l(cerrojo_);
        cola_.push_back(std::move(tarea));
        if (avisado_) return;  // one wake-up carries every task queued before it runs
        avisado_ = true;
    }
    QMetaObject::invokeMethod(this, "vaciar", Qt::QueuedConnection);
}

void Buzon::vaciar() {
    std::vector<std::function<void()>> lote;
    {
        std::lock_guard<std::mutex> l(cerrojo_);
        lote.swap(cola_);
        avisado_ = false;
    }
    for (auto& tarea : lote) tarea();
}
