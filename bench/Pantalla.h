#pragma once

// An X server of the benchmark's own (Xvfb), for the programs it starts: what they draw costs
// the X server too, and on a display nobody else uses that cost is theirs alone, read from the
// server's process in /proc. Optionally with a compositing manager (xcompmgr), whose own
// processor time is read as well.

#include "Proceso.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>
#include <QThread>
#include <memory>
#include <optional>
#include <xcb/xcb.h>

class PantallaPropia {
public:
    ~PantallaPropia() {
        quitarCompositor();
        if (x_.state() != QProcess::NotRunning) {
            x_.terminate();
            if (!x_.waitForFinished(5000)) x_.kill();
        }
    }

    // Starts the server; else what failed.
    std::optional<QString> arrancar() {
        const QString archivo = dir_.filePath(QStringLiteral("pantalla"));
        x_.start(QStringLiteral("bash"),
                 {QStringLiteral("-c"), QStringLiteral("exec Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>\"$1\""),
                  QStringLiteral("xvfb"), archivo});
        if (!x_.waitForStarted(10000)) return QStringLiteral("Xvfb no arrancó");
        QByteArray numero;
        for (int i = 0; i < 400 && numero.isEmpty() && x_.state() == QProcess::Running; ++i) {
            QThread::msleep(50);
            QFile f(archivo);
            if (f.open(QIODevice::ReadOnly)) numero = f.readAll().trimmed();
        }
        if (numero.isEmpty()) return QStringLiteral("Xvfb no dio pantalla");
        nombre_ = QStringLiteral(":") + QString::fromLatin1(numero);
        return std::nullopt;
    }

    const QString& nombre() const { return nombre_; }
    qint64 pid() const { return x_.processId(); }
    // The X server's processor seconds so far.
    double cpu() const { return cpuSegundosFino(pid()); }
    // The compositor's, 0 without one.
    double cpuCompositor() const { return compositor_ ? std::max(0.0, cpuSegundosFino(compositor_->processId())) : 0; }

    // The environment of a program shown on this display (X11 only).
    QProcessEnvironment entorno(QProcessEnvironment e = QProcessEnvironment::systemEnvironment()) const {
        e.insert(QStringLiteral("DISPLAY"), nombre_);
        e.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        e.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return e;
    }

    // Starts xcompmgr and waits until it owns the display's compositing selection. False when
    // it is not installed or did not take the display.
    bool ponerCompositor() {
        const QString xcompmgr = QStandardPaths::findExecutable(QStringLiteral("xcompmgr"));
        if (xcompmgr.isEmpty()) return false;
        compositor_ = std::make_unique<QProcess>();
        compositor_->setProcessEnvironment(entorno());
        compositor_->start(xcompmgr, {});
        for (int i = 0; i < 200; ++i) {
            if (hayCompositor()) return true;
            QThread::msleep(50);
        }
        quitarCompositor();
        return false;
    }
    void quitarCompositor() {
        if (!compositor_) return;
        compositor_->terminate();
        if (!compositor_->waitForFinished(5000)) compositor_->kill();
        compositor_.reset();
    }

    // Someone owns _NET_WM_CM_S0 on the display.
    bool hayCompositor() const {
        xcb_connection_t* c = xcb_connect(nombre_.toLatin1().constData(), nullptr);
        if (!c || xcb_connection_has_error(c)) {
            if (c) xcb_disconnect(c);
            return false;
        }
        bool hay = false;
        xcb_intern_atom_reply_t* atomo = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 13, "_NET_WM_CM_S0"), nullptr);
        if (atomo) {
            xcb_get_selection_owner_reply_t* dueno =
                xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atomo->atom), nullptr);
            hay = dueno && dueno->owner != XCB_NONE;
            free(dueno);
            free(atomo);
        }
        xcb_disconnect(c);
        return hay;
    }

private:
    QTemporaryDir dir_;
    QProcess x_;
    QString nombre_;
    std::unique_ptr<QProcess> compositor_;
};
