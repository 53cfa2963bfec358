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
    // Posting only appends an event to the context thread's queue; holding the lock keeps the context
    // from being deleted meanwhile.
    return QMetaObject::invokeMethod(context_, std::move(task), Qt::QueuedConnection);
}

void GuiGate::close()
{
    std::lock_guard lock(mutex_);
    context_ = nullptr;
}

bool GuiGate::onGuiThread() const
{
    std::lock_guard lock(mutex_);
    return context_ && context_->thread() == QThread::currentThread();
}

} // namespace tavoro::platform::qt
