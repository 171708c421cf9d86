#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QString>
#include <QThread>
#include <QCoroTask>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>

namespace pruebas {

// Runs the event loop until `condicion` holds or `ms` pass; returns whether it held.
inline bool esperarHasta(const std::function<bool()>& condicion, int ms = 5000) {
    QDeadlineTimer limite(ms);
    while (!condicion()) {
        if (limite.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(1);
    }
    return true;
}

// Runs the event loop for `ms` milliseconds (to show that something does NOT happen).
inline void girar(int ms) {
    esperarHasta([] { return false; }, ms);
}

namespace detalle {
template <typename T>
QCoro::Task<void> completar(QCoro::Task<T> tarea, std::optional<T>* valor, std::exception_ptr* error, bool* hecho) {
    try {
        valor->emplace(co_await std::move(tarea));
    } catch (...) {
        *error = std::current_exception();
    }
    *hecho = true;
}
}  // namespace detalle

// Runs a coroutine to completion on the event loop and returns its value; its exception is
// rethrown here. (QCoro::waitFor of this QCoro version never returns when the task throws.)
template <typename T>
T esperar(QCoro::Task<T>&& tarea, int ms = 600000) {
    std::optional<T> valor;
    std::exception_ptr error;
    bool hecho = false;
    auto envoltura = detalle::completar<T>(std::move(tarea), &valor, &error, &hecho);
    if (!esperarHasta([&] { return hecho; }, ms)) throw std::runtime_error("la tarea no terminó a tiempo");
    if (error) std::rethrow_exception(error);
    return std::move(*valor);
}

// Folder where tests leave pictures and other artefacts for people to look at.
inline QString carpetaArtefactos(const QString& sub = {}) {
    const QString ruta = QStringLiteral(ZENTU_DIR_ARTEFACTOS) + (sub.isEmpty() ? QString() : "/" + sub);
    QDir().mkpath(ruta);
    return ruta;
}

// Whether a shared object whose file name contains `nombre` is mapped into this process.
inline bool bibliotecaCargada(const char* nombre) {
    QFile f(QStringLiteral("/proc/self/maps"));
    return f.open(QIODevice::ReadOnly) && f.readAll().contains(nombre);
}

}  // namespace pruebas
