#pragma once

#include <chrono>
#include <cstdint>

namespace tavoro::core {

using SteadyTime = std::chrono::steady_clock::time_point;
using Millis = std::chrono::milliseconds;

// Monotonic time, injected into every piece of logic that measures intervals.
class Clock {
public:
    virtual ~Clock() = default;
    virtual SteadyTime now() const = 0;

    std::uint64_t uptimeMs() const
    {
        return static_cast<std::uint64_t>(
            std::chrono::duration_cast<Millis>(now().time_since_epoch()).count());
    }
};

class SteadyClock final : public Clock {
public:
    SteadyTime now() const override { return std::chrono::steady_clock::now(); }
};

// Calendar time, for call IDs and file names.
class WallClock {
public:
    virtual ~WallClock() = default;
    virtual std::chrono::system_clock::time_point now() const = 0;

    std::int64_t millisSinceEpoch() const
    {
        return std::chrono::duration_cast<Millis>(now().time_since_epoch()).count();
    }
};

class SystemWallClock final : public WallClock {
public:
    std::chrono::system_clock::time_point now() const override { return std::chrono::system_clock::now(); }
};

} // namespace tavoro::core
