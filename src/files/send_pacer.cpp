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

} // namespace tavoro::files
