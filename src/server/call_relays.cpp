#include "server/call_relays.h"

#include <algorithm>
#include <vector>

namespace tavoro::server {

void CallRelays::remember(const std::string& callId, const std::string& caller, const std::string& callee,
    nlohmann::json relay)
{
    Key key{callId, caller, callee};
    erase(key);
    auto& owned = byCaller_[caller];
    if (owned.size() >= limits_.maxPerCaller) {
        erase(Key(owned.front())); // a copy: erase() pops it from the very deque it lives in
    }
    byCaller_[caller].push_back(key);
    entries_.emplace(std::move(key), Entry{std::move(relay), clock_.now()});
}

std::optional<nlohmann::json> CallRelays::take(const std::string& callId, const std::string& caller,
    const std::string& callee)
{
    const Key key{callId, caller, callee};
    auto it = entries_.find(key);
    if (it == entries_.end()) {
        return std::nullopt;
    }
    auto relay = std::move(it->second.relay);
    erase(key);
    return relay;
}

void CallRelays::prune()
{
    const auto now = clock_.now();
    std::vector<Key> stale;
    for (const auto& [key, entry] : entries_) {
        if (now - entry.createdAt >= limits_.lifetime) {
            stale.push_back(key);
        }
    }
    for (const auto& key : stale) {
        erase(key);
    }
}

void CallRelays::erase(const Key& key)
{
    if (entries_.erase(key) == 0) {
        return;
    }
    auto owned = byCaller_.find(std::get<1>(key));
    if (owned == byCaller_.end()) {
        return;
    }
    owned->second.erase(std::find(owned->second.begin(), owned->second.end(), key));
    if (owned->second.empty()) {
        byCaller_.erase(owned);
    }
}

} // namespace tavoro::server
