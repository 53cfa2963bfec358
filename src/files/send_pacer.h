#pragma once

#include "core/clock.h"

#include <cstddef>
#include <cstdint>
#include <deque>

// How fast an outgoing transfer may hand chunks to the connection. Pure logic; one thread at a time.
namespace tavoro::files {

// A token bucket (kept as the time the next token is due): on average one chunk per interval, with
// bursts of up to `burst` chunks after a pause. Time spent between chunks counts toward the interval.
class ChunkRateLimiter {
public:
    ChunkRateLimiter(core::Millis interval, int burst) : interval_(interval), burst_(burst) {}

    // How long to wait at `now` before the next chunk may go; zero when it may go at once.
    core::Millis waitBefore(core::SteadyTime now) const;
    // Records a chunk sent at `now`.
    void take(core::SteadyTime now);

private:
    core::Millis interval_;
    int burst_;
    core::SteadyTime due_{}; // when the bucket would be empty again
};

// Chunks handed to the connection and not yet written to its socket. Each chunk is known by its mark:
// the connection's count of written bytes at which the chunk itself will have been written.
class SendWindow {
public:
    explicit SendWindow(std::size_t maxChunks) : maxChunks_(maxChunks) {}

    void record(std::uint64_t mark) { marks_.push_back(mark); }
    // Forgets the chunks written once the connection has written `written` bytes.
    void retire(std::uint64_t written);
    bool full() const { return marks_.size() >= maxChunks_; }
    bool empty() const { return marks_.empty(); }

private:
    std::size_t maxChunks_;
    std::deque<std::uint64_t> marks_;
};

} // namespace tavoro::files
