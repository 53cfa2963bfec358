#include "files/send_pacer.h"

#include <algorithm>

namespace tavoro::files {

core::Millis ChunkRateLimiter::waitBefore(core::SteadyTime now) const
{
    const auto allowedFrom = due_ - interval_ * (burst_ - 1);
    if (now >= allowedFrom) {
        return core::Millis(0);
    }
    return std::chrono::ceil<core::Millis>(allowedFrom - now);
}

void ChunkRateLimiter::take(core::SteadyTime now) { due_ = std::max(due_, now) + interval_; }

void SendWindow::retire(std::uint64_t written)
{
    while (!marks_.empty() && marks_.front() <= written) {
        marks_.pop_front();
    }
}

void AckWindow::confirmed(std::int64_t received)
{
    heard_ = true;
    confirmed_ = std::max(confirmed_, received);
}

bool AckWindow::allows(std::int64_t sentEnd, core::SteadyTime now)
{
    if (unsupported_ || sentEnd - confirmed_ <= window_) {
        return true;
    }
    if (heard_) {
        return false;
    }
    if (!blockedSince_) {
        blockedSince_ = now;
    }
    unsupported_ = now - *blockedSince_ >= firstAckWait_;
    return unsupported_;
}

} // namespace tavoro::files
