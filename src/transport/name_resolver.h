#pragma once

#include "transport/endpoint.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

namespace tavoro::transport {

// Looks up STUN host names away from the calling thread, so that a resolver that never answers (no
// DNS server reachable) cannot stall the transport's worker. Dotted-quad text needs no lookup. A name
// whose lookup failed is tried again at the next call; one that succeeded is remembered.
//
// Threads: one caller (the worker). Each lookup runs on a thread of its own that shares only the
// result table with this object, so it may safely outlive it.
class NameResolver {
public:
    NameResolver();

    // The address of host at port: at once when known, else after starting a lookup (unless one is
    // running) and waiting for it until `until`; nothing when it has not succeeded by then.
    std::optional<Endpoint> resolve(const std::string& host, std::uint16_t port,
        std::chrono::steady_clock::time_point until = {});

private:
    struct Table {
        std::mutex mutex; // guards every field below
        std::condition_variable changed;
        std::map<std::string, Endpoint> found;
        std::set<std::string> running;
    };
    std::shared_ptr<Table> table_;
};

} // namespace tavoro::transport
