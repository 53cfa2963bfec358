#include "core/scheduler.h"

#include <mutex>

namespace tavoro::core {

struct RepeatingTimer::State {
    State(Scheduler& s, std::chrono::milliseconds p, std::function<void()> t)
        : scheduler(s), period(p), tick(std::move(t))
    {
    }
    Scheduler& scheduler;
    std::chrono::milliseconds period;
    std::function<void()> tick;
    std::mutex mutex; // guards cancelled and pending
    bool cancelled = false;
    std::shared_ptr<TimerHandle> pending;
};

RepeatingTimer::RepeatingTimer(Scheduler& scheduler, std::chrono::milliseconds period, std::function<void()> tick)
    : state_(std::make_shared<State>(scheduler, period, std::move(tick)))
{
    arm(state_);
}

RepeatingTimer::~RepeatingTimer() { cancel(); }

void RepeatingTimer::cancel()
{
    std::shared_ptr<TimerHandle> pending;
    {
        std::lock_guard lock(state_->mutex);
        state_->cancelled = true;
        pending = std::move(state_->pending);
    }
    if (pending) {
        pending->cancel();
    }
}

void RepeatingTimer::arm(const std::shared_ptr<State>& state)
{
    std::weak_ptr<State> weak = state;
    auto handle = state->scheduler.after(state->period, [weak] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        {
            std::lock_guard lock(self->mutex);
            if (self->cancelled) {
                return;
            }
        }
        arm(self);
        self->tick();
    });
    std::lock_guard lock(state->mutex);
    if (state->cancelled) {
        handle->cancel();
    } else {
        state->pending = std::move(handle);
    }
}

} // namespace tavoro::core
