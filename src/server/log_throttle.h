#pragma once

#include "core/clock.h"

#include <cstddef>
#include <optional>

namespace tavoro::server {

// Lets a recurring condition be logged once per interval rather than every time it happens. Pure
// logic, one thread; the caller passes the time.
class LogThrottle {
public:
    explicit LogThrottle(core::Millis interval = std::chrono::minutes(1)) : interval_(interval) {}

    // Counts one occurrence. When a line is due, the number of occurrences it stands for (this one
    // and those held back since the last line); otherwise none.
    std::optional<std::size_t> occurred(core::SteadyTime now)
    {
        ++held_;
        if (logged_ && now - *logged_ < interval_) {
            return std::nullopt;
        }
        logged_ = now;
        const std::size_t count = held_;
        held_ = 0;
        return count;
    }

private:
    core::Millis interval_;
    std::optional<core::SteadyTime> logged_;
    std::size_t held_ = 0;
};

} // namespace tavoro::server
