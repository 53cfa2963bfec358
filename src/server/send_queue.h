#pragma once

#include "server/connection.h"

#include <deque>
#include <optional>
#include <string>
#include <variant>

namespace tavoro::server {

struct SendQueueLimits {
    // Both count what the messages cost in memory (see SendQueue::costOf), not only their bytes.
    std::size_t maxTextBytes = 8 * 1024 * 1024;
    std::size_t maxBinaryBytes = 8 * 1024 * 1024;
};

// The messages waiting to be written to one connection: the server's own replies and forwarded
// text share it. Text goes out before binary. Binary messages (relayed media) are dropped when their
// share of the queue is full; text is never dropped: when even text no longer fits, the connection
// cannot keep up and must be closed. Pure logic.
class SendQueue {
public:
    using Limits = SendQueueLimits;
    enum class Push { queued, dropped, overflow };
    using Item = std::variant<std::string, SharedBytes>;

    // What one queued message holds in memory: a short reply costs several times its length in
    // string, allocator and deque bookkeeping, and a text built by appending may have room for twice
    // its length; counting bare bytes would let a flood of small replies hold far more than the limit.
    static constexpr std::size_t costOf(std::size_t allocated) { return allocated + kPerMessageCost; }
    static std::size_t costOf(const std::string& text) { return costOf(text.capacity()); }
    static std::size_t costOf(const Item& item);

    explicit SendQueue(Limits limits = {}) : limits_(limits) {}

    Push pushText(std::string text);
    // A binary message is queued when no binary is waiting (whatever its size) or when it fits.
    Push pushBinary(SharedBytes bytes);
    std::optional<Item> pop();
    void clear();

    bool empty() const { return text_.empty() && binary_.empty(); }
    std::size_t textBytes() const { return textBytes_; }
    std::size_t binaryBytes() const { return binaryBytes_; }
    std::size_t queuedBytes() const { return textBytes_ + binaryBytes_; }
    std::size_t droppedBinary() const { return droppedBinary_; }

private:
    static constexpr std::size_t kPerMessageCost = 64;

    Limits limits_;
    std::deque<std::string> text_;
    std::deque<SharedBytes> binary_;
    std::size_t textBytes_ = 0;
    std::size_t binaryBytes_ = 0;
    std::size_t droppedBinary_ = 0;
};

} // namespace tavoro::server
