#include "transport/ping_times.h"

namespace tavoro::transport {

void PingTimes::record(std::uint32_t id, std::uint64_t sentMs)
{
    ring_[next_] = Sent{id, sentMs, true};
    next_ = (next_ + 1) % kCapacity;
}

std::optional<std::uint64_t> PingTimes::take(std::uint32_t id)
{
    for (auto& sent : ring_) {
        if (sent.held && sent.id == id) {
            sent.held = false;
            return sent.sentMs;
        }
    }
    return std::nullopt;
}

} // namespace tavoro::transport
