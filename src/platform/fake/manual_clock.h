#pragma once

#include "core/clock.h"
#include "core/scheduler.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace tavoro::platform::fake {

// A monotonic clock that moves only when a test advances it. Thread-safe.
class ManualClock final : public core::Clock {
public:
    core::SteadyTime now() const override
    {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void advance(std::chrono::milliseconds by)
    {
        std::lock_guard lock(mutex_);
        now_ += by;
    }

private:
    mutable std::mutex mutex_; // guards now_
    core::SteadyTime now_{std::chrono::hours(1)};
};

// A wall clock fixed by the test.
class ManualWallClock final : public core::WallClock {
public:
    explicit ManualWallClock(std::chrono::system_clock::time_point at) : at_(at) {}
    std::chrono::system_clock::time_point now() const override { return at_; }
    void set(std::chrono::system_clock::time_point at) { at_ = at; }

private:
    std::chrono::system_clock::time_point at_;
};

// Timers on a ManualClock: due tasks run on the thread that calls advance() (or runDue()), in order
// of their due time, then of scheduling. after() may be called from any thread.
class ManualScheduler final : public core::Scheduler {
public:
    explicit ManualScheduler(ManualClock& clock) : clock_(clock) {}

    std::shared_ptr<core::TimerHandle> after(std::chrono::milliseconds delay, std::function<void()> task) override;

    // Moves the clock forward step by step, running every task that falls due on the way.
    void advance(std::chrono::milliseconds by);
    void runDue();
    std::size_t pendingCount() const;
    // The delays asked for by every after() so far, in order.
    std::vector<std::chrono::milliseconds> requestedDelays() const;

private:
    struct Entry;
    class Handle;

    ManualClock& clock_;
    mutable std::mutex mutex_; // guards entries_, nextOrder_, requested_
    std::multimap<std::pair<core::SteadyTime, std::uint64_t>, std::shared_ptr<Entry>> entries_;
    std::uint64_t nextOrder_ = 0;
    std::vector<std::chrono::milliseconds> requested_;
};

} // namespace tavoro::platform::fake
