#pragma once

#include "server/connection.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace tavoro::server {

// What every connection's send queue holds, added up, against one limit for the whole server; and
// when the memory of a burst is worth giving back to the system. Pure logic, not thread-safe: its
// user serialises the calls (the WebSocket server's serving threads hold a mutex around each).
class QueueBudget {
public:
    // `returnAfter`: a peak at least this high, once the total has fallen to a quarter of it, is a
    // burst whose memory should be given back.
    explicit QueueBudget(std::size_t limit, std::size_t returnAfter = 4 * 1024 * 1024)
        : limit_(limit), returnAfter_(returnAfter)
    {
    }

    void add(std::size_t bytes)
    {
        total_ += bytes;
        peak_ = std::max(peak_, total_);
    }
    void remove(std::size_t bytes) { total_ -= std::min(bytes, total_); }

    std::size_t total() const { return total_; }
    bool over() const { return total_ > limit_; }

    // The connections to close, those holding the most first, so that the rest fits the limit.
    // `held`: each connection's queued bytes.
    std::vector<ConnectionId> toClose(std::vector<std::pair<ConnectionId, std::size_t>> held) const;

    // True once after each burst; the caller then gives freed memory back to the system.
    bool burstIsOver();

private:
    std::size_t limit_;
    std::size_t returnAfter_;
    std::size_t total_ = 0;
    std::size_t peak_ = 0; // since memory was last given back
};

} // namespace tavoro::server
