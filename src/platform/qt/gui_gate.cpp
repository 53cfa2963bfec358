#include "platform/qt/gui_gate.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>

namespace tavoro::platform::qt {

bool GuiGate::post(std::function<void()> task) const
{
    std::lock_guard lock(mutex_);
    if (!context_) {
        return false;
    }
    waiting_.push_back(std::move(task));
    // Posting only appends an event to the context thread's queue; holding the lock keeps the context
    // from being deleted meanwhile.
    if (!QMetaObject::invokeMethod(context_, [this] { runOldest(); }, Qt::QueuedConnection)) {
        waiting_.pop_back();
        return false;
    }
    return true;
}

void GuiGate::runOldest() const
{
    std::function<void()> task;
    {
        std::lock_guard lock(mutex_);
        if (waiting_.empty()) {
            return;
        }
        task = std::move(waiting_.front());
        waiting_.pop_front();
    }
    task();
}

void GuiGate::close()
{
    std::deque<std::function<void()>> dropped; // destroyed outside the lock: a task may hold a poster
    std::lock_guard lock(mutex_);
    context_ = nullptr;
    dropped.swap(waiting_);
}

bool GuiGate::onGuiThread() const
{
    std::lock_guard lock(mutex_);
    return context_ && context_->thread() == QThread::currentThread();
}

} // namespace tavoro::platform::qt
