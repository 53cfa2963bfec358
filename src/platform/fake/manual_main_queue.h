#pragma once

#include "core/main_queue.h"

#include <deque>
#include <mutex>
#include <thread>

namespace tavoro::platform::fake {

// A main queue for tests: the constructing thread is the main thread, and posted tasks run when
// the test calls drain() on it.
class ManualMainQueue final : public core::MainQueue {
public:
    ManualMainQueue() : mainThread_(std::this_thread::get_id()) {}

    bool isMainThread() const override { return std::this_thread::get_id() == mainThread_; }

    void post(std::function<void()> task) override
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }

    // Runs posted tasks, including those they post, until none is left. Returns how many ran.
    int drain()
    {
        int ran = 0;
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex_);
                if (tasks_.empty()) {
                    return ran;
                }
                task = std::move(tasks_.front());
                tasks_.pop_front();
            }
            task();
            ++ran;
        }
    }

private:
    std::thread::id mainThread_;
    std::mutex mutex_; // guards tasks_
    std::deque<std::function<void()>> tasks_;
};

} // namespace tavoro::platform::fake
