#pragma once

#include "core/clock.h"
#include "server/token_bucket.h"

#include <chrono>
#include <cstddef>
#include <list>
#include <unordered_map>

namespace tavoro::server {

// How often something may happen: `burst` times at once, then `perSecond` times a second.
struct RateLimit {
    double burst = 10;
    double perSecond = 1;
};

// One token bucket per key (a connection, a source address). A key whose bucket has filled up
// again is forgotten, which changes nothing; at most `maxKeys` are kept, and a new key beyond that
// pushes out the one used least recently. Pure logic; the caller passes the time.
template <typename Key>
class RateLimiter {
public:
    RateLimiter(RateLimit limit, std::size_t maxKeys) : limit_(limit), maxKeys_(maxKeys) {}

    // True when key may act now (and that counts against it).
    bool allow(const Key& key, core::SteadyTime now)
    {
        forgetRefilled(now);
        auto it = entries_.find(key);
        if (it == entries_.end()) {
            if (entries_.size() >= maxKeys_ && !order_.empty()) {
                entries_.erase(order_.front());
                order_.pop_front();
            }
            order_.push_back(key);
            it = entries_.emplace(key, Entry{TokenBucket(limit_.perSecond, limit_.burst, now), now, std::prev(order_.end())}).first;
        } else {
            order_.splice(order_.end(), order_, it->second.place);
            it->second.lastUse = now;
        }
        return it->second.bucket.take(1, now);
    }

    void forget(const Key& key)
    {
        if (auto it = entries_.find(key); it != entries_.end()) {
            order_.erase(it->second.place);
            entries_.erase(it);
        }
    }

    std::size_t size() const { return entries_.size(); }

private:
    struct Entry {
        TokenBucket bucket;
        core::SteadyTime lastUse;
        typename std::list<Key>::iterator place; // in order_
    };

    void forgetRefilled(core::SteadyTime now)
    {
        const auto refill = limit_.perSecond > 0 ? std::chrono::duration<double>(limit_.burst / limit_.perSecond)
                                                 : std::chrono::duration<double>::max();
        while (!order_.empty()) {
            auto oldest = entries_.find(order_.front());
            if (std::chrono::duration<double>(now - oldest->second.lastUse) < refill) {
                return;
            }
            entries_.erase(oldest);
            order_.pop_front();
        }
    }

    RateLimit limit_;
    std::size_t maxKeys_;
    std::unordered_map<Key, Entry> entries_;
    std::list<Key> order_; // least recently used first
};

} // namespace tavoro::server
