#include "server/relay_table.h"

#include <algorithm>

namespace tavoro::server {
namespace {

using transport::Kind;

// The burst a session may send at once: a tenth of a second at its rate, at least 256 KiB, so that a
// keyframe sent twice in a row passes at any sensible rate.
double burstFor(double bytesPerSecond) { return std::max(bytesPerSecond / 10, 256.0 * 1024); }

bool isKind(const transport::Datagram& datagram, Kind kind)
{
    return datagram.header.kind == static_cast<std::uint8_t>(kind);
}

bool validToken(const std::string& token) { return !token.empty() && token.size() <= transport::kMaxRelayTokenBytes; }

std::span<const std::uint8_t> bytesOf(const std::string& text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Compares in time independent of where the nonces differ.
bool sameNonce(const transport::RelayNonce& a, const transport::RelayNonce& b)
{
    std::uint8_t difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    }
    return difference == 0;
}

} // namespace

RelayTable::RelayTable(const core::Clock& clock, platform::SecureRandom& random, Limits limits)
    : clock_(clock), random_(random), limits_(limits)
{
}

RelayTable::~RelayTable() = default;

bool RelayTable::allocate(const std::string& token, const std::string& owner, const std::string& ownerAddress)
{
    if (owner.empty() || !validToken(token) || byToken_.contains(token)) {
        return false;
    }
    if (!makeRoom(byOwner_, owner, limits_.maxSessionsPerOwner)
        || !makeRoom(byOwnerAddress_, ownerAddress, limits_.maxSessionsPerAddress)) {
        return false;
    }
    return insert(token, owner, ownerAddress);
}

bool RelayTable::allocateStanding(const std::string& token) { return insert(token, {}, {}); }

bool RelayTable::insert(const std::string& token, const std::string& owner, const std::string& ownerAddress)
{
    if (!validToken(token) || byToken_.contains(token) || byToken_.size() >= limits_.maxSessions) {
        return false;
    }
    const auto now = clock_.now();
    auto session = std::make_unique<Session>(token, owner, ownerAddress,
        TokenBucket(limits_.bytesPerSecond, burstFor(limits_.bytesPerSecond), now), now);
    if (!owner.empty()) {
        byOwner_[owner].push_back(session.get());
    }
    if (!ownerAddress.empty()) {
        byOwnerAddress_[ownerAddress].push_back(session.get());
    }
    byToken_.emplace(token, std::move(session));
    return true;
}

bool RelayTable::makeRoom(const Group& group, const std::string& key, std::size_t limit)
{
    auto it = group.find(key);
    if (it == group.end() || it->second.size() < limit) {
        return true;
    }
    const Session* idlest = nullptr;
    for (const Session* session : it->second) {
        if (!session->relaying() && (!idlest || session->lastActive < idlest->lastActive)) {
            idlest = session;
        }
    }
    if (!idlest) {
        return false;
    }
    remove(idlest->token);
    return true;
}

std::optional<RelayTable::Route> RelayTable::route(const Ipv4Endpoint& from, std::span<const std::uint8_t> datagram)
{
    const auto now = clock_.now();
    const auto parsed = transport::parseDatagram(datagram);
    if (parsed && isKind(*parsed, Kind::relayBind)) {
        const std::string token(parsed->payload.begin(), parsed->payload.end());
        auto it = validToken(token) ? byToken_.find(token) : byToken_.end();
        return it == byToken_.end() ? std::nullopt : challenge(*it->second, from, datagram.size(), now);
    }
    if (parsed && isKind(*parsed, Kind::relayProof)) {
        if (const auto proof = transport::parseRelayChallenge(*parsed)) {
            prove(from, *proof, now);
        }
        return std::nullopt;
    }
    auto bound = byAddress_.find(from);
    if (bound == byAddress_.end()) {
        return std::nullopt;
    }
    return forward(*bound->second, from, datagram.size(), now);
}

std::optional<RelayTable::Route> RelayTable::challenge(Session& session, const Ipv4Endpoint& from,
    std::size_t bindSize, core::SteadyTime now)
{
    for (std::size_t i = 0; i < 2; ++i) {
        if (session.ends[i] == from) {
            session.lastActive = now;
            session.heard[i] = now;
            return std::nullopt;
        }
    }
    const std::size_t size = transport::kHeaderSize + transport::kRelayNonceBytes + session.token.size();
    if (bindSize < size) {
        return std::nullopt; // a challenge larger than its bind would amplify a forged bind
    }
    dropStaleChallenges(session, now);
    auto pending = std::find_if(session.challenges.begin(), session.challenges.end(),
        [&](const Challenge& c) { return c.to == from; });
    if (pending == session.challenges.end()) {
        while (!session.challenges.empty() && session.challenges.size() >= limits_.maxChallengesPerSession) {
            session.challenges.pop_front();
        }
        Challenge issued{from, {}, now};
        random_.fill(issued.nonce);
        session.challenges.push_back(issued);
        pending = std::prev(session.challenges.end());
    }
    Route route{from, std::vector<std::uint8_t>(size)};
    transport::writeRelayChallenge(route.reply, Kind::relayChallenge, pending->nonce, bytesOf(session.token));
    return route;
}

void RelayTable::prove(const Ipv4Endpoint& from, const transport::RelayChallenge& proof, core::SteadyTime now)
{
    auto it = byToken_.find(std::string(proof.token.begin(), proof.token.end()));
    if (it == byToken_.end()) {
        return;
    }
    Session& session = *it->second;
    dropStaleChallenges(session, now);
    auto answered = std::find_if(session.challenges.begin(), session.challenges.end(),
        [&](const Challenge& c) { return c.to == from && sameNonce(c.nonce, proof.nonce); });
    if (answered == session.challenges.end()) {
        return;
    }
    session.challenges.erase(answered);
    bind(session, from, now);
}

void RelayTable::dropStaleChallenges(Session& session, core::SteadyTime now)
{
    std::erase_if(session.challenges,
        [&](const Challenge& c) { return now - c.issuedAt >= limits_.challengeLifetime; });
}

void RelayTable::bind(Session& session, const Ipv4Endpoint& from, core::SteadyTime now)
{
    session.lastActive = now;
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

std::optional<RelayTable::Route> RelayTable::forward(Session& session, const Ipv4Endpoint& from, std::size_t bytes,
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
    return Route{*other, {}};
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
    const auto leave = [&session](Group& group, const std::string& key) {
        auto held = group.find(key);
        if (held == group.end()) {
            return;
        }
        std::erase(held->second, &session);
        if (held->second.empty()) {
            group.erase(held);
        }
    };
    leave(byOwner_, session.owner);
    leave(byOwnerAddress_, session.ownerAddress);
    byToken_.erase(it);
}

std::size_t RelayTable::expire()
{
    const auto now = clock_.now();
    std::vector<std::string> idle;
    for (auto& [token, session] : byToken_) {
        dropStaleChallenges(*session, now);
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
