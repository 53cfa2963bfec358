#pragma once

#include <functional>

namespace tavoro::core {

// A serial queue: posted tasks run one at a time, in posting order, never two at once. Real queues
// run them on a thread of their own (ThreadSerialQueue); tests use a manual one they drain by hand.
// Both operations may be called from any thread.
class SerialQueue {
public:
    virtual ~SerialQueue() = default;
    virtual void post(std::function<void()> task) = 0;
    // True when called from a task this queue is running.
    virtual bool isCurrent() const = 0;
};

} // namespace tavoro::core
