#pragma once

#include "core/clock.h"
#include "platform/secure_random.h"
#include "server/ipv4_endpoint.h"
#include "server/token_bucket.h"
#include "transport/datagram.h"

#include <array>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace tavoro::server {

// The UDP relay's sessions, without sockets. A session is made for a token (when a call is
// forwarded). A relay-bind datagram carrying that token asks to bind its sender's address; since a
// datagram's source can be forged, the address is bound only once it has echoed the random nonce of
// the relay challenge sent to it (a relay proof), so the relay never sends a session's datagrams to an
// address that did not ask for them. A bind smaller than its challenge is not answered. Once two
// different addresses are bound, every other datagram from one of them is forwarded to the other.
// Sessions idle for `idleExpiry` are removed by expire(); each session's forwarded bytes are capped by a
// token bucket so that one session cannot starve the others.
//
// A device (the caller) holds at most `maxSessionsPerOwner` sessions and a signaling source address at
// most `maxSessionsPerAddress`; at either limit the least recently active session that is not relaying
// (with fewer than two ends bound) makes room, and when all of them relay the allocation is refused.
//
// Not thread-safe: the owner serialises all calls (RelayService holds its lock around each one).
class RelayTable {
public:
    struct Limits {
        double bytesPerSecond = 100e6 / 8;
        core::Millis idleExpiry{60'000};
        std::size_t maxSessionsPerOwner = 4;
        std::size_t maxSessionsPerAddress = 16;
        std::size_t maxSessions = 200'000;
        // Challenges awaiting their proof, per session (the oldest goes first), and how long each lasts.
        std::size_t maxChallengesPerSession = 4;
        core::Millis challengeLifetime{10'000};
    };

    // What to send for a received datagram: to `to`, the datagram itself when `reply` is empty (a
    // forward), else `reply` (a challenge).
    struct Route {
        Ipv4Endpoint to;
        std::vector<std::uint8_t> reply;
    };

    RelayTable(const core::Clock& clock, platform::SecureRandom& random, Limits limits);
    ~RelayTable();
    RelayTable(const RelayTable&) = delete;
    RelayTable& operator=(const RelayTable&) = delete;

    // Makes a session for token on behalf of owner (a device ID) connected from ownerAddress. False when
    // the token is empty, longer than a bind can carry or already in use, the table is full, or the
    // owner or its address holds the most sessions allowed and all of them relay.
    bool allocate(const std::string& token, const std::string& owner, const std::string& ownerAddress);
    // A session that is never removed; only its bindings are forgotten when idle.
    bool allocateStanding(const std::string& token);

    std::optional<Route> route(const Ipv4Endpoint& from, std::span<const std::uint8_t> datagram);

    // Removes idle sessions (and unbinds idle standing ones) and stale challenges. Returns how many
    // sessions were removed.
    std::size_t expire();

    std::size_t sessionCount() const { return byToken_.size(); }
    std::size_t boundAddressCount() const { return byAddress_.size(); }

private:
    struct Challenge {
        Ipv4Endpoint to;
        transport::RelayNonce nonce;
        core::SteadyTime issuedAt;
    };
    struct Session {
        Session(std::string t, std::string o, std::string a, const TokenBucket& b, core::SteadyTime now)
            : token(std::move(t)), owner(std::move(o)), ownerAddress(std::move(a)), bucket(b), lastActive(now)
        {
        }
        bool relaying() const { return ends[0] && ends[1]; }
        std::string token;
        std::string owner; // empty for a standing session
        std::string ownerAddress;
        TokenBucket bucket;
        core::SteadyTime lastActive;
        std::array<std::optional<Ipv4Endpoint>, 2> ends;
        std::array<core::SteadyTime, 2> heard{};
        std::deque<Challenge> challenges; // oldest first
    };
    using Group = std::unordered_map<std::string, std::vector<Session*>>;

    bool insert(const std::string& token, const std::string& owner, const std::string& ownerAddress);
    bool makeRoom(const Group& group, const std::string& key, std::size_t limit);
    std::optional<Route> challenge(Session& session, const Ipv4Endpoint& from, std::size_t bindSize,
        core::SteadyTime now);
    void prove(const Ipv4Endpoint& from, const transport::RelayChallenge& proof, core::SteadyTime now);
    void bind(Session& session, const Ipv4Endpoint& from, core::SteadyTime now);
    std::optional<Route> forward(Session& session, const Ipv4Endpoint& from, std::size_t bytes,
        core::SteadyTime now);
    void unbindAddress(const Ipv4Endpoint& address);
    void unbindAll(Session& session);
    void remove(const std::string& token);
    void dropStaleChallenges(Session& session, core::SteadyTime now);

    const core::Clock& clock_;
    platform::SecureRandom& random_;
    Limits limits_;
    std::unordered_map<std::string, std::unique_ptr<Session>> byToken_;
    std::unordered_map<Ipv4Endpoint, Session*, Ipv4EndpointHash> byAddress_;
    Group byOwner_;
    Group byOwnerAddress_;
};

} // namespace tavoro::server
