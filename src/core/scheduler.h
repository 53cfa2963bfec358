#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace tavoro::core {

// A pending timer. Dropping the handle does not cancel it; cancel() does, and is safe from any
// thread and after the timer fired.
class TimerHandle {
public:
    virtual ~TimerHandle() = default;
    virtual void cancel() = 0;
};

// Runs tasks after a delay on the queue the scheduler belongs to (the main queue, or a worker's).
// Real schedulers sit on an Asio executor; tests use a manual one driven by a manual clock.
class Scheduler {
public:
    virtual ~Scheduler() = default;
    virtual std::shared_ptr<TimerHandle> after(std::chrono::milliseconds delay, std::function<void()> task) = 0;
};

// Calls a task every period until cancelled or destroyed. Lives on the scheduler's queue.
class RepeatingTimer {
public:
    RepeatingTimer(Scheduler& scheduler, std::chrono::milliseconds period, std::function<void()> tick);
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    void cancel();

private:
    struct State;
    static void arm(const std::shared_ptr<State>& state);
    std::shared_ptr<State> state_;
};

} // namespace tavoro::core
