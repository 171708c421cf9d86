#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QCoroTask>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

// Still pictures of the desktop. On X11 the window list, the active window's owner, the pointer
// and the pictures themselves come straight from the X server (one private connection per
// instance, so an instance may be used on a worker thread). On Wayland only the desktop portal's
// Screenshot interface exists: it hands over the whole screen, or a refusal.
class CapturaPantalla {
public:
    struct Ventana {
        uint32_t id = 0;
        QRect marco;        // on the root window, in pixels
        int64_t pid = 0;    // owner process (0: unknown)
        bool operator==(const Ventana&) const = default;
    };

    virtual ~CapturaPantalla() = default;

    // Whether the display could be reached; the reason otherwise.
    virtual std::optional<QString> fallo() const = 0;
    // The process that owns the active window, when known.
    virtual std::optional<int64_t> pidDelFrente() = 0;
    // Mapped top-level windows of the ordinary layer (no docks, desktops, menus or pop-ups),
    // front to back; none when the list cannot be read.
    virtual std::optional<std::vector<Ventana>> ventanas() = 0;
    virtual QPoint puntero() = 0;
    // One window's own picture; null on failure.
    virtual QImage ventana(uint32_t id) = 0;
    // The picture of a region of the screen with every window of process `sinPid` left out;
    // null on failure.
    virtual QImage zona(const QRect& zona, int64_t sinPid) = 0;

    // A new connection to the X server named by DISPLAY.
    static std::unique_ptr<CapturaPantalla> x11();

    // The portal's answer: the picture, or whether the owner (or the desktop) refused.
    struct DelPortal {
        QImage imagen;
        bool negado = false;
        bool sinPortal = false;  // no Screenshot portal took the request
        QString error;  // non-empty when the portal could not be asked or gave nothing usable
    };
    // Must be called on the main thread (it waits for the portal's signal on the session bus).
    static QCoro::Task<DelPortal> portal();
};
