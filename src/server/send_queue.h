#pragma once

#include "server/connection.h"

#include <deque>
#include <optional>
#include <string>
#include <variant>

namespace tavoro::server {

struct SendQueueLimits {
    std::size_t maxTextBytes = 16 * 1024 * 1024;
    std::size_t maxBinaryBytes = 8 * 1024 * 1024;
};

// The messages waiting to be written to one connection. Text goes out before binary. Binary
// messages (relayed media) are dropped when their share of the queue is full; text is never dropped:
// when even text no longer fits, the connection cannot keep up and must be closed. Pure logic.
class SendQueue {
public:
    using Limits = SendQueueLimits;
    enum class Push { queued, dropped, overflow };
    using Item = std::variant<std::string, SharedBytes>;

    explicit SendQueue(Limits limits = {}) : limits_(limits) {}

    Push pushText(std::string text);
    // A binary message is queued when no binary is waiting (whatever its size) or when it fits.
    Push pushBinary(SharedBytes bytes);
    std::optional<Item> pop();

    bool empty() const { return text_.empty() && binary_.empty(); }
    std::size_t textBytes() const { return textBytes_; }
    std::size_t binaryBytes() const { return binaryBytes_; }
    std::size_t droppedBinary() const { return droppedBinary_; }

private:
    Limits limits_;
    std::deque<std::string> text_;
    std::deque<SharedBytes> binary_;
    std::size_t textBytes_ = 0;
    std::size_t binaryBytes_ = 0;
    std::size_t droppedBinary_ = 0;
};

} // namespace tavoro::server
