#include "plataforma/Senales.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int tubo[2] = {-1, -1};
std::function<void()>* accionActual = nullptr;

void alRecibir(int) {
    const char c = 1;
    // Only async-signal-safe work here: one byte to the main loop.
    [[maybe_unused]] const ssize_t n = ::write(tubo[0], &c, 1);
}

}  // namespace

void Senales::alTerminar(std::function<void()> accion) {
    if (!accionActual) accionActual = new std::function<void()>;
    *accionActual = std::move(accion);
    if (tubo[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, tubo) != 0) return;
    ::fcntl(tubo[0], F_SETFL, O_NONBLOCK);
    auto* aviso = new QSocketNotifier(tubo[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(aviso, &QSocketNotifier::activated, aviso, [] {
        char basura[64];
        [[maybe_unused]] const ssize_t n = ::read(tubo[1], basura, sizeof basura);
        if (accionActual && *accionActual) (*accionActual)();
    });
    struct sigaction sa = {};
    sa.sa_handler = alRecibir;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}
