#include "ui/logic/move_coalescer.h"

#include <utility>

namespace tavoro::ui {

MoveCoalescer::MoveCoalescer(core::Scheduler& timers, Send send) : timers_(timers), send_(std::move(send)) {}

void MoveCoalescer::move(PointF normalised)
{
    pending_ = normalised;
    if (!clock_) {
        clock_.emplace(timers_, tickPeriod, [this] { tick(); });
    }
}

void MoveCoalescer::flush()
{
    if (const auto position = std::exchange(pending_, std::nullopt)) {
        send_(*position);
    }
}

void MoveCoalescer::sendNow(PointF normalised)
{
    pending_.reset();
    send_(normalised);
}

void MoveCoalescer::drop()
{
    pending_.reset();
    clock_.reset();
}

void MoveCoalescer::tick()
{
    if (!pending_) {
        clock_.reset();
        return;
    }
    flush();
}

} // namespace tavoro::ui
