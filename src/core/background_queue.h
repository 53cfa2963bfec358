#pragma once

#include "core/asio_scheduler.h"
#include "core/thread_serial_queue.h"

namespace tavoro::core {

// The shared background queue, "tavoro.bg": one thread whose timers serve every host session and
// statistics timer of a program. A program makes one and hands scheduler() to the application model
// (app::Services::backgroundScheduler); it must outlive everything that holds timers on it. Any
// thread may use both.
class BackgroundQueue {
public:
    BackgroundQueue() : queue_("tavoro.bg"), scheduler_(queue_.executor()) {}

    SerialQueue& queue() { return queue_; }
    Scheduler& scheduler() { return scheduler_; }

private:
    ThreadSerialQueue queue_;
    AsioScheduler scheduler_;
};

} // namespace tavoro::core
