#pragma once

#include "core/main_queue.h"

#include <boost/asio/io_context.hpp>

#include <thread>

namespace tavoro::core {

// The main queue of the headless programs: an io_context that the main thread runs. The thread
// that constructs the queue is the main thread.
class AsioMainQueue final : public MainQueue {
public:
    explicit AsioMainQueue(boost::asio::io_context& context)
        : context_(context), mainThread_(std::this_thread::get_id())
    {
    }

    bool isMainThread() const override { return std::this_thread::get_id() == mainThread_; }
    void post(std::function<void()> task) override;

private:
    boost::asio::io_context& context_;
    std::thread::id mainThread_;
};

} // namespace tavoro::core
