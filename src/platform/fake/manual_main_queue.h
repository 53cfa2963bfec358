#pragma once

#include "core/main_queue.h"
#include "platform/fake/manual_serial_queue.h"

#include <thread>

namespace tavoro::platform::fake {

// A main queue for tests: the constructing thread is the main thread, and posted tasks run when
// the test calls drain() on it.
class ManualMainQueue final : public core::MainQueue {
public:
    ManualMainQueue() : mainThread_(std::this_thread::get_id()) {}

    bool isMainThread() const override { return std::this_thread::get_id() == mainThread_; }
    void post(std::function<void()> task) override { tasks_.post(std::move(task)); }

    // Runs posted tasks, including those they post, until none is left. Returns how many ran.
    int drain() { return tasks_.drain(); }

private:
    std::thread::id mainThread_;
    ManualSerialQueue tasks_;
};

} // namespace tavoro::platform::fake
