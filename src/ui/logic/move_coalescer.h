#pragma once

#include "core/scheduler.h"
#include "ui/logic/geometry.h"

#include <chrono>
#include <functional>
#include <optional>

namespace tavoro::ui {

// Limits pointer moves to at most 60 a second, the newest position winning. A move only records the
// position and starts the send clock if it is idle; each tick sends the position recorded since the
// last one, and a tick with nothing recorded stops the clock. Button and wheel events call flush or
// sendNow first, so that they never overtake a move or land at a stale spot.
//
// Threads: one thread only, the one the scheduler runs its tasks on (the main thread).
class MoveCoalescer {
public:
    // 1/60 s rounded up to whole milliseconds, so that the rate never exceeds 60.
    static constexpr std::chrono::milliseconds tickPeriod{17};
    using Send = std::function<void(PointF normalised)>;

    MoveCoalescer(core::Scheduler& timers, Send send);
    MoveCoalescer(const MoveCoalescer&) = delete;
    MoveCoalescer& operator=(const MoveCoalescer&) = delete;

    void move(PointF normalised);
    // Sends the recorded position now, if there is one.
    void flush();
    // Sends this position now, dropping the recorded one.
    void sendNow(PointF normalised);
    // Forgets the recorded position and stops the clock.
    void drop();
    bool clockRunning() const { return clock_.has_value(); }

private:
    void tick();

    core::Scheduler& timers_;
    Send send_;
    std::optional<PointF> pending_;
    std::optional<core::RepeatingTimer> clock_;
};

} // namespace tavoro::ui
