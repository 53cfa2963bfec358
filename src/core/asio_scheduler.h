#pragma once

#include "core/scheduler.h"

#include <boost/asio/any_io_executor.hpp>

namespace tavoro::core {

// Timers on an Asio executor: tasks run on whatever thread runs that executor.
class AsioScheduler final : public Scheduler {
public:
    explicit AsioScheduler(boost::asio::any_io_executor executor) : executor_(std::move(executor)) {}
    std::shared_ptr<TimerHandle> after(std::chrono::milliseconds delay, std::function<void()> task) override;

private:
    boost::asio::any_io_executor executor_;
};

} // namespace tavoro::core
