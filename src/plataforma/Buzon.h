#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <vector>

// Work handed to this object's thread from any thread, run there in order. The hand-over goes
// through a standard mutex, which race detectors understand (Qt's own queue lock they cannot see).
class Buzon : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Thread-safe. The task runs on the thread the mailbox lives in, or never if it is destroyed first.
    void enviar(std::function<void()> tarea);

private:
    Q_INVOKABLE void vaciar();

    std::mutex cerrojo_;
    std::vector<std::function<void()>> cola_;
    bool avisado_ = false;
};
