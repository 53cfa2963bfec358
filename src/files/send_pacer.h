#pragma once

#include "core/clock.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

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

// How far a transfer may run ahead of what its receiver confirmed ("file_xfer_ack"). Until the first
// confirmation a first window may go; a receiver that has not confirmed anything a while after that
// window was sent does not know confirmations (an older peer), and the window no longer applies.
class AckWindow {
public:
    AckWindow(std::int64_t windowBytes, core::Millis firstAckWait) : window_(windowBytes), firstAckWait_(firstAckWait) {}

    // The receiver has `received` bytes; older or smaller confirmations change nothing.
    void confirmed(std::int64_t received);
    // Whether bytes up to `sentEnd` may be sent at `now`.
    bool allows(std::int64_t sentEnd, core::SteadyTime now);
    bool heardFromReceiver() const { return heard_; }

private:
    std::int64_t window_;
    core::Millis firstAckWait_;
    std::int64_t confirmed_ = 0;
    bool heard_ = false;
    bool unsupported_ = false;
    std::optional<core::SteadyTime> blockedSince_; // the first window full, nothing heard yet
};

} // namespace tavoro::files
