#include "core/asio_scheduler.h"

#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include <atomic>

namespace tavoro::core {
namespace {

class AsioTimer final : public TimerHandle, public std::enable_shared_from_this<AsioTimer> {
public:
    explicit AsioTimer(const boost::asio::any_io_executor& executor) : timer_(executor) {}

    void start(std::chrono::milliseconds delay, std::function<void()> task)
    {
        timer_.expires_after(delay);
        timer_.async_wait([self = shared_from_this(), task = std::move(task)](const boost::system::error_code& ec) {
            if (!ec && !self->cancelled_.load()) {
                task();
            }
        });
    }

    // The flag makes cancel() safe from any thread; the timer itself is only touched on its executor.
    void cancel() override
    {
        cancelled_.store(true);
        boost::asio::post(timer_.get_executor(), [self = shared_from_this()] { self->timer_.cancel(); });
    }

private:
    boost::asio::steady_timer timer_;
    std::atomic<bool> cancelled_{false};
};

} // namespace

std::shared_ptr<TimerHandle> AsioScheduler::after(std::chrono::milliseconds delay, std::function<void()> task)
{
    auto timer = std::make_shared<AsioTimer>(executor_);
    // Arm on the executor's own thread: steady_timer is not safe to use from two threads at once.
    boost::asio::post(executor_, [timer, delay, task = std::move(task)]() mutable { timer->start(delay, std::move(task)); });
    return timer;
}

} // namespace tavoro::core
