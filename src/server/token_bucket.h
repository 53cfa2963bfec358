#pragma once

#include "core/clock.h"

#include <algorithm>
#include <cstdint>

namespace tavoro::server {

// A byte-rate cap: the bucket fills at `bytesPerSecond` up to `capacity`, and a send of n bytes
// passes only when n bytes are in it. Pure logic; the caller passes the time.
class TokenBucket {
public:
    TokenBucket(double bytesPerSecond, double capacity, core::SteadyTime now)
        : rate_(bytesPerSecond), capacity_(capacity), level_(capacity), last_(now)
    {
    }

    bool take(std::size_t bytes, core::SteadyTime now)
    {
        if (now > last_) {
            const double seconds = std::chrono::duration<double>(now - last_).count();
            level_ = std::min(capacity_, level_ + seconds * rate_);
            last_ = now;
        }
        if (level_ < static_cast<double>(bytes)) {
            return false;
        }
        level_ -= static_cast<double>(bytes);
        return true;
    }

private:
    double rate_;
    double capacity_;
    double level_;
    core::SteadyTime last_;
};

} // namespace tavoro::server
