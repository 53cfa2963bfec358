#include "core/event_loop.h"

#include <boost/asio/post.hpp>

#include <pthread.h>

namespace tavoro::core {

void setCurrentThreadName(const std::string& name)
{
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
}

EventLoopThread::EventLoopThread(std::string threadName)
    : work_(boost::asio::make_work_guard(context_))
{
    thread_ = std::thread([this, name = std::move(threadName)] {
        setCurrentThreadName(name);
        context_.run();
    });
}

EventLoopThread::~EventLoopThread() { stop(); }

void EventLoopThread::post(std::function<void()> task) { boost::asio::post(context_, std::move(task)); }

void EventLoopThread::stop()
{
    if (!thread_.joinable()) {
        return;
    }
    work_.reset();
    context_.stop();
    thread_.join();
}

} // namespace tavoro::core
