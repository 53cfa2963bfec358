#pragma once

#include <QCoreApplication>

#include <chrono>
#include <functional>

namespace tavoro::test {

// Runs the GUI thread's events until the condition holds; false when it still does not after the limit.
inline bool runEventsUntil(const std::function<bool()>& condition,
    std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Runs the GUI thread's events for a while: long enough for a short timer that should not fire.
inline void runEventsFor(std::chrono::milliseconds span)
{
    const auto deadline = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

} // namespace tavoro::test
