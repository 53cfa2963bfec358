#pragma once

#include "core/scheduler.h"

#include <memory>

namespace tavoro::platform::qt {

class GuiGate;
class TimerHost;

// Timers on Qt's GUI thread: every task runs there. Construct and destroy the scheduler on the GUI
// thread; timers still pending then never fire. after() and the handles' cancel() are safe from any
// thread, also after the timer fired and after the scheduler is gone; a cancelled task is destroyed on
// the GUI thread (or at once when the scheduler is gone).
class QtScheduler final : public core::Scheduler {
public:
    QtScheduler();
    ~QtScheduler() override;
    QtScheduler(const QtScheduler&) = delete;
    QtScheduler& operator=(const QtScheduler&) = delete;

    std::shared_ptr<core::TimerHandle> after(std::chrono::milliseconds delay, std::function<void()> task) override;

private:
    std::unique_ptr<TimerHost> host_;
    std::shared_ptr<GuiGate> gate_;
};

} // namespace tavoro::platform::qt
