#include "server/relay_table.h"

#include "transport/datagram.h"

#include <algorithm>

namespace tavoro::server {
namespace {

// The burst a session may send at once: a tenth of a second at its rate, at least 256 KiB, so that a
// keyframe sent twice in a row passes at any sensible rate.
double burstFor(double bytesPerSecond) { return std::max(bytesPerSecond / 10, 256.0 * 1024); }

// The token of a relay-bind datagram, or nothing for any other datagram.
std::optional<std::string> bindToken(std::span<const std::uint8_t> datagram)
{
    auto parsed = transport::parseDatagram(datagram);
    if (!parsed || parsed->header.kind != static_cast<std::uint8_t>(transport::Kind::relayBind)
        || parsed->payload.empty() || parsed->payload.size() > transport::kMaxRelayTokenBytes) {
        return std::nullopt;
    }
    return std::string(parsed->payload.begin(), parsed->payload.end());
}

} // namespace

RelayTable::RelayTable(const core::Clock& clock, Limits limits) : clock_(clock), limits_(limits) {}

RelayTable::~RelayTable() = default;

bool RelayTable::allocate(const std::string& token, const std::string& owner)
{
    if (owner.empty()) {
        return false;
    }
    if (byToken_.contains(token)) {
        return false;
    }
    makeRoomFor(owner);
    return insert(token, owner);
}

bool RelayTable::allocateStanding(const std::string& token) { return insert(token, {}); }

bool RelayTable::insert(const std::string& token, const std::string& owner)
{
    if (token.empty() || token.size() > transport::kMaxRelayTokenBytes || byToken_.contains(token)
        || byToken_.size() >= limits_.maxSessions) {
        return false;
    }
    const auto now = clock_.now();
    auto session = std::make_unique<Session>(token, owner,
        TokenBucket(limits_.bytesPerSecond, burstFor(limits_.bytesPerSecond), now), now);
    if (!owner.empty()) {
        byOwner_[owner].push_back(session.get());
    }
    byToken_.emplace(token, std::move(session));
    return true;
}

void RelayTable::makeRoomFor(const std::string& owner)
{
    auto it = byOwner_.find(owner);
    if (it == byOwner_.end() || it->second.size() < limits_.maxSessionsPerOwner) {
        return;
    }
    auto oldest = std::min_element(it->second.begin(), it->second.end(),
        [](const Session* a, const Session* b) { return a->lastActive < b->lastActive; });
    remove((*oldest)->token);
}

std::optional<Ipv4Endpoint> RelayTable::route(const Ipv4Endpoint& from, std::span<const std::uint8_t> datagram)
{
    const auto now = clock_.now();
    if (auto token = bindToken(datagram)) {
        auto it = byToken_.find(*token);
        if (it != byToken_.end()) {
            bind(*it->second, from, now);
        }
        return std::nullopt;
    }
    auto bound = byAddress_.find(from);
    if (bound == byAddress_.end()) {
        return std::nullopt;
    }
    return forward(*bound->second, from, datagram.size(), now);
}

void RelayTable::bind(Session& session, const Ipv4Endpoint& from, core::SteadyTime now)
{
    session.lastActive = now;
    for (std::size_t i = 0; i < 2; ++i) {
        if (session.ends[i] == from) {
            session.heard[i] = now;
            return;
        }
    }
    // The address may have belonged to an earlier session (a new call from the same socket).
    unbindAddress(from);
    std::size_t slot = 0;
    if (!session.ends[0]) {
        slot = 0;
    } else if (!session.ends[1]) {
        slot = 1;
    } else {
        // Both ends are bound and a third address binds: a peer whose address changed (a new NAT
        // mapping). It replaces the end that has been silent the longest.
        slot = session.heard[0] <= session.heard[1] ? 0 : 1;
        byAddress_.erase(*session.ends[slot]);
    }
    session.ends[slot] = from;
    session.heard[slot] = now;
    byAddress_[from] = &session;
}

std::optional<Ipv4Endpoint> RelayTable::forward(Session& session, const Ipv4Endpoint& from, std::size_t bytes,
    core::SteadyTime now)
{
    const std::size_t self = session.ends[0] == from ? 0 : 1;
    const auto& other = session.ends[1 - self];
    if (!other) {
        return std::nullopt;
    }
    session.lastActive = now;
    session.heard[self] = now;
    if (!session.bucket.take(bytes, now)) {
        return std::nullopt;
    }
    return other;
}

void RelayTable::unbindAddress(const Ipv4Endpoint& address)
{
    auto it = byAddress_.find(address);
    if (it == byAddress_.end()) {
        return;
    }
    for (auto& end : it->second->ends) {
        if (end == address) {
            end.reset();
        }
    }
    byAddress_.erase(it);
}

void RelayTable::unbindAll(Session& session)
{
    for (auto& end : session.ends) {
        if (end) {
            byAddress_.erase(*end);
            end.reset();
        }
    }
}

void RelayTable::remove(const std::string& token)
{
    auto it = byToken_.find(token);
    if (it == byToken_.end()) {
        return;
    }
    Session& session = *it->second;
    unbindAll(session);
    if (!session.owner.empty()) {
        auto owned = byOwner_.find(session.owner);
        std::erase(owned->second, &session);
        if (owned->second.empty()) {
            byOwner_.erase(owned);
        }
    }
    byToken_.erase(it);
}

std::size_t RelayTable::expire()
{
    const auto now = clock_.now();
    std::vector<std::string> idle;
    for (auto& [token, session] : byToken_) {
        if (now - session->lastActive < limits_.idleExpiry) {
            continue;
        }
        if (session->owner.empty()) {
            unbindAll(*session);
        } else {
            idle.push_back(token);
        }
    }
    for (const auto& token : idle) {
        remove(token);
    }
    return idle.size();
}

} // namespace tavoro::server
