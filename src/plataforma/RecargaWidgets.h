#pragma once

#include <QObject>
#include <functional>

// The app's request to the widget host to redraw every widget from the snapshot file now: one
// signal on the session bus, so the host does not depend on seeing the file change. The signal
// names the shared folder it is about; a host reading another folder ignores it.
namespace RecargaWidgets {

inline constexpr const char* kRuta = "/ai/zentu/widgets";
inline constexpr const char* kInterfaz = "ai.zentu.widgets";
inline constexpr const char* kSenal = "Recargar";

// Sent by the app for the current shared folder; nothing happens when no host listens.
void pedir();

// The host's side: `accion` runs on the main thread for every request while `dueno` lives.
// False when the session bus is not available.
bool escuchar(QObject* dueno, std::function<void()> accion);

// Receives the bus signal for escuchar(); lives as a child of the owner.
class Oyente : public QObject {
    Q_OBJECT
public:
    Oyente(QObject* dueno, std::function<void()> accion) : QObject(dueno), accion_(std::move(accion)) {}
public slots:
    void recibir(const QString& carpeta);

private:
    std::function<void()> accion_;
};

}  // namespace RecargaWidgets
