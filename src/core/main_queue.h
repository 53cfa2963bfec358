#pragma once

#include <functional>

namespace tavoro::core {

// The application's main thread, where every observable field is written and announced.
// Any thread may call both operations.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual bool isMainThread() const = 0;
    // Runs the task later on the main thread, in posting order.
    virtual void post(std::function<void()> task) = 0;

    // Runs the task at once when already on the main thread, else posts it.
    void runOrPost(std::function<void()> task)
    {
        if (isMainThread()) {
            task();
        } else {
            post(std::move(task));
        }
    }
};

} // namespace tavoro::core
