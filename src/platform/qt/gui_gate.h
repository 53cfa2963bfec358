#pragma once

#include <deque>
#include <functional>
#include <mutex>

class QObject;

namespace tavoro::platform::qt {

// A way into the GUI thread that stays safe to use after its owner is gone. Each task posted queues one
// event of `context`, a QObject living on the GUI thread, and that event runs the oldest task waiting,
// so tasks run there in posting order; events still queued when the context is deleted are dropped
// with it. The tasks themselves pass through the gate's own queue, so that a thread checker sees the
// hand-over (Qt's event queue locks are invisible to it). The owner closes the gate before deleting the
// context and keeps the gate until then. Any thread may call every member; mutex_ guards context_ and
// waiting_.
class GuiGate {
public:
    explicit GuiGate(QObject& context) : context_(&context) {}
    GuiGate(const GuiGate&) = delete;
    GuiGate& operator=(const GuiGate&) = delete;

    // Queues the task; false (the task is dropped on the calling thread) once the gate is closed.
    bool post(std::function<void()> task) const;
    // After it returns, post() queues nothing more and the tasks still waiting are dropped.
    void close();
    // True on the thread the context lives on; false once closed.
    bool onGuiThread() const;

private:
    void runOldest() const; // GUI thread

    mutable std::mutex mutex_;
    QObject* context_;
    mutable std::deque<std::function<void()>> waiting_;
};

} // namespace tavoro::platform::qt
