#pragma once

#include "core/clock.h"

#include <nlohmann/json.hpp>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>

namespace tavoro::server {

// The "relay" object given with each forwarded call, kept by (call ID, caller, callee) until the
// callee's answer takes it, so that both peers get the same token. Entries older than `lifetime`
// are forgotten; a caller holds at most `maxPerCaller` (its oldest goes first). Pure logic.
class CallRelays {
public:
    struct Limits {
        core::Millis lifetime{120'000};
        std::size_t maxPerCaller = 64;
    };

    CallRelays(const core::Clock& clock, Limits limits) : clock_(clock), limits_(limits) {}

    void remember(const std::string& callId, const std::string& caller, const std::string& callee, nlohmann::json relay);
    std::optional<nlohmann::json> take(const std::string& callId, const std::string& caller, const std::string& callee);
    void prune();

    std::size_t size() const { return entries_.size(); }

private:
    using Key = std::tuple<std::string, std::string, std::string>; // call ID, caller, callee
    struct Entry {
        nlohmann::json relay;
        core::SteadyTime createdAt;
    };
    void erase(const Key& key);

    const core::Clock& clock_;
    Limits limits_;
    std::map<Key, Entry> entries_;
    std::unordered_map<std::string, std::deque<Key>> byCaller_; // oldest first
};

} // namespace tavoro::server
