#pragma once

#include "core/event_loop.h"
#include "core/serial_queue.h"

#include <string>

namespace tavoro::core {

// A serial queue on a thread of its own (an EventLoopThread); its executor serves Asio timers and
// sockets that belong to the queue. The thread starts at construction and is joined by the
// destructor, which finishes the task in flight and drops the queued ones. Any thread may post.
class ThreadSerialQueue final : public SerialQueue {
public:
    explicit ThreadSerialQueue(std::string threadName) : loop_(std::move(threadName)) {}

    void post(std::function<void()> task) override { loop_.post(std::move(task)); }
    bool isCurrent() const override { return loop_.isCurrentThread(); }
    boost::asio::any_io_executor executor() { return loop_.executor(); }

private:
    EventLoopThread loop_;
};

} // namespace tavoro::core
