#pragma once

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace tavoro::core {

// One Asio io_context run by one named thread: a serial queue. The thread starts at construction
// and is stopped and joined by stop() or the destructor. post() may be called from any thread.
class EventLoopThread {
public:
    explicit EventLoopThread(std::string threadName);
    ~EventLoopThread();
    EventLoopThread(const EventLoopThread&) = delete;
    EventLoopThread& operator=(const EventLoopThread&) = delete;

    boost::asio::io_context& context() { return context_; }
    boost::asio::any_io_executor executor() { return context_.get_executor(); }
    bool isCurrentThread() const { return std::this_thread::get_id() == thread_.get_id(); }
    void post(std::function<void()> task);
    // Finishes the task in flight, drops queued ones and joins. Not from the loop's own thread.
    void stop();

private:
    boost::asio::io_context context_;
    std::optional<boost::asio::executor_work_guard<boost::asio::io_context::executor_type>> work_;
    std::thread thread_;
};

// Names the calling thread as the system shows it (at most 15 characters are kept).
void setCurrentThreadName(const std::string& name);

} // namespace tavoro::core
