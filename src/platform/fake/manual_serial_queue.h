#pragma once

#include "core/serial_queue.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace tavoro::platform::fake {

// A serial queue for tests: posted tasks run when the test calls drain(), on the draining thread,
// which counts as the queue's own while they run. Any thread may post; one thread drains at a time.
class ManualSerialQueue final : public core::SerialQueue {
public:
    void post(std::function<void()> task) override
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }

    bool isCurrent() const override { return drainingThread_.load() == std::this_thread::get_id(); }

    // Runs posted tasks, including those they post, until none is left. Returns how many ran.
    int drain()
    {
        drainingThread_.store(std::this_thread::get_id());
        int ran = 0;
        while (auto task = next()) {
            task();
            ++ran;
        }
        drainingThread_.store(std::thread::id());
        return ran;
    }

private:
    std::function<void()> next()
    {
        std::lock_guard lock(mutex_);
        if (tasks_.empty()) {
            return {};
        }
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        return task;
    }

    std::mutex mutex_; // guards tasks_
    std::deque<std::function<void()>> tasks_;
    std::atomic<std::thread::id> drainingThread_; // the thread inside drain(), else no thread
};

} // namespace tavoro::platform::fake
