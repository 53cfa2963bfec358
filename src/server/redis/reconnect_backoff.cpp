#include "server/redis/reconnect_backoff.h"

#include <algorithm>

namespace tavoro::server::redis {

std::chrono::milliseconds ReconnectBackoff::nextDelay()
{
    const auto delay = std::min(next_, ceiling_);
    next_ = std::min(delay * 2, ceiling_);
    return delay;
}

} // namespace tavoro::server::redis
