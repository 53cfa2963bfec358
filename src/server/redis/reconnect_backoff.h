#pragma once

#include <chrono>

namespace tavoro::server::redis {

// When to try again after a failed or lost connection: the first retry after `initial`, each later one
// after twice the previous delay, never more than `ceiling`; a connection that became usable starts the
// series again. Pure logic, owned by one thread.
class ReconnectBackoff {
public:
    ReconnectBackoff(std::chrono::milliseconds initial, std::chrono::milliseconds ceiling)
        : initial_(initial), ceiling_(ceiling), next_(initial)
    {
    }

    // The delay before the next attempt; the one after it grows.
    std::chrono::milliseconds nextDelay();
    void connected() { next_ = initial_; }

private:
    std::chrono::milliseconds initial_;
    std::chrono::milliseconds ceiling_;
    std::chrono::milliseconds next_;
};

} // namespace tavoro::server::redis
