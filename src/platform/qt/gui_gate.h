#pragma once

#include <functional>
#include <mutex>

class QObject;

namespace tavoro::platform::qt {

// A way into the GUI thread that stays safe to use after its owner is gone. Tasks are queued as events
// of `context`, a QObject living on the GUI thread, so they run there in posting order; events still
// queued when the context is deleted are dropped with it. The owner closes the gate before deleting the
// context. Any thread may call every member; mutex_ guards context_.
class GuiGate {
public:
    explicit GuiGate(QObject& context) : context_(&context) {}
    GuiGate(const GuiGate&) = delete;
    GuiGate& operator=(const GuiGate&) = delete;

    // Queues the task; false (the task is dropped on the calling thread) once the gate is closed.
    bool post(std::function<void()> task) const;
    // After it returns, post() queues nothing more.
    void close();
    // True on the thread the context lives on; false once closed.
    bool onGuiThread() const;

private:
    mutable std::mutex mutex_;
    QObject* context_;
};

} // namespace tavoro::platform::qt
