#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tavoro::test {

// Polls a condition that another thread makes true (a message arriving over a real socket).
// Returns false when it is still false after the limit. Only for real-time integration tests.
inline bool waitFor(const std::function<bool()>& condition,
    std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

} // namespace tavoro::test
