#pragma once

#include "core/clock.h"
#include "server/ipv4_endpoint.h"
#include "server/token_bucket.h"

#include <array>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace tavoro::server {

// The UDP relay's sessions, without sockets. A session is made for a token (when a call is
// forwarded); a relay-bind datagram carrying that token binds its sender's address to the session;
// once two different addresses are bound, every other datagram from one of them is forwarded to the
// other. Sessions idle for `idleExpiry` are removed by expire(); each session's forwarded bytes are
// capped by a token bucket so that one session cannot starve the others.
//
// Not thread-safe: the owner serialises all calls (RelayService holds its lock around each one).
class RelayTable {
public:
    struct Limits {
        double bytesPerSecond = 100e6 / 8;
        core::Millis idleExpiry{60'000};
        std::size_t maxSessionsPerOwner = 32;
        std::size_t maxSessions = 200'000;
    };

    RelayTable(const core::Clock& clock, Limits limits);
    ~RelayTable();
    RelayTable(const RelayTable&) = delete;
    RelayTable& operator=(const RelayTable&) = delete;

    // Makes a session for token on behalf of owner (a device ID). When the owner already holds the
    // most sessions allowed, its least recently active one makes room. False when the token is empty,
    // longer than a bind can carry, already in use, or the table is full.
    bool allocate(const std::string& token, const std::string& owner);
    // A session that is never removed; only its bindings are forgotten when idle.
    bool allocateStanding(const std::string& token);

    // Where a datagram received from `from` goes: forwarded unchanged to the returned address, or
    // nowhere (a bind, no partner yet, unknown sender, over the rate cap).
    std::optional<Ipv4Endpoint> route(const Ipv4Endpoint& from, std::span<const std::uint8_t> datagram);

    // Removes idle sessions (and unbinds idle standing ones). Returns how many were removed.
    std::size_t expire();

    std::size_t sessionCount() const { return byToken_.size(); }
    std::size_t boundAddressCount() const { return byAddress_.size(); }

private:
    struct Session {
        Session(std::string t, std::string o, const TokenBucket& b, core::SteadyTime now)
            : token(std::move(t)), owner(std::move(o)), bucket(b), lastActive(now)
        {
        }
        std::string token;
        std::string owner; // empty for a standing session
        TokenBucket bucket;
        core::SteadyTime lastActive;
        std::array<std::optional<Ipv4Endpoint>, 2> ends;
        std::array<core::SteadyTime, 2> heard{};
    };

    bool insert(const std::string& token, const std::string& owner);
    void bind(Session& session, const Ipv4Endpoint& from, core::SteadyTime now);
    std::optional<Ipv4Endpoint> forward(Session& session, const Ipv4Endpoint& from, std::size_t bytes,
        core::SteadyTime now);
    void unbindAddress(const Ipv4Endpoint& address);
    void unbindAll(Session& session);
    void remove(const std::string& token);
    void makeRoomFor(const std::string& owner);

    const core::Clock& clock_;
    Limits limits_;
    std::unordered_map<std::string, std::unique_ptr<Session>> byToken_;
    std::unordered_map<Ipv4Endpoint, Session*, Ipv4EndpointHash> byAddress_;
    std::unordered_map<std::string, std::vector<Session*>> byOwner_;
};

} // namespace tavoro::server
