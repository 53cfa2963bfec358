#pragma once

#include "transport/candidates.h"
#include "transport/endpoint.h"
#include "transport/ping_times.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace tavoro::transport {

// The connectivity state shared between a transport's callers and its worker, with the rules that
// change it: which peer addresses are known, which one is selected, whether the path is up, the
// round-trip time, and the relay settings. Pure logic; the transport keeps one under its `lock`.
//
// The path comes up with the first ping or pong from the peer and goes down again after 3 s without a
// datagram from the selected address; the next ping or pong then selects its source and brings it up.
struct PeerPath {
    static constexpr std::uint64_t kSilenceLimitMs = 3000;

    std::vector<Endpoint> remoteCands;   // every peer address known, in order of learning
    std::optional<Endpoint> selected;    // the peer address in use (kept while the path is down)
    bool connected = false;              // `_connected`: the peer answered and has not fallen silent
    std::optional<Reflexive> reflexive;  // this side as a STUN server saw it
    std::uint32_t nextPing = 1;
    PingTimes sentPings;                 // the last pings, for timing the pongs that answer them
    int rttMs = -1;                      // `_rttMs`; -1 until the first timed pong
    std::uint64_t lastHeardMs = 0;       // last datagram from `selected`, or when the path came up
    bool relayEnabled = false;
    std::optional<Endpoint> relayEp;
    std::vector<std::uint8_t> relayToken;

    // Appends the addresses not yet known; returns how many were new.
    int addCandidates(const std::vector<Endpoint>& addresses);

    // The id of a ping about to be sent at nowMs; a pong answering it can be timed while it is among
    // the last 16 pings.
    std::uint32_t takePingId(std::uint64_t nowMs);

    struct Arrival {
        bool wasConnected = false;
        bool viaRelay = false; // the sender is the relay
    };
    // A ping from `from`: learn it as a candidate, select it unless the path is up, connect.
    Arrival pingFrom(const Endpoint& from, std::uint64_t nowMs);
    // A pong from `from` answering `answeredId` (absent when its payload is shorter than 4 bytes):
    // always select its source and connect; time it when it answers one of the last 16 pings.
    Arrival pongFrom(const Endpoint& from, std::optional<std::uint32_t> answeredId, std::uint64_t nowMs);
    // Any valid datagram from `from` at nowMs: the peer is still there when it is the selected address.
    void heardFrom(const Endpoint& from, std::uint64_t nowMs);
    // Input is taken from the selected address only.
    bool acceptsInputFrom(const Endpoint& from) const { return selected && *selected == from; }
    // Takes the path down once the selected address has been silent for 3 s; true on that change only.
    bool expireIfSilent(std::uint64_t nowMs);

    bool isRelay(const Endpoint& address) const { return relayEp && *relayEp == address; }
};

// When the worker loop does its timed work, measured from the loop's start (elapsed) and in uptime ms.
namespace schedule {

inline constexpr std::uint64_t kStunRepeatMs = 250;
inline constexpr std::uint64_t kStunWindowMs = 2500;
inline constexpr std::uint64_t kFastPhaseMs = 2000;
inline constexpr std::uint64_t kFastRoundMs = 100;
inline constexpr std::uint64_t kSlowRoundMs = 300;
inline constexpr std::uint64_t kRelayStartMs = 1000;
inline constexpr std::uint64_t kRelayRefreshMs = 2000;

bool stunDue(bool haveReflexive, std::uint64_t elapsed, std::uint64_t nowMs, std::uint64_t lastStunMs);
bool pingRoundDue(std::uint64_t elapsed, std::uint64_t nowMs, std::uint64_t lastRoundMs);

// One send of a ping round, in order.
struct RoundStep {
    enum class Action { ping, relayBind };
    Action action = Action::ping;
    Endpoint to;
    friend bool operator==(const RoundStep&, const RoundStep&) = default;
};

// The sends of one ping round. Not connected (not yet, or no longer): ping every candidate, then from
// 1 s on bind and ping the relay. Connected: ping the selected address, and refresh the bind at most
// every 2 s while it is the relay.
std::vector<RoundStep> planRound(const PeerPath& snapshot, std::uint64_t elapsed, std::uint64_t nowMs,
    std::uint64_t lastRelayBindMs);

} // namespace schedule
} // namespace tavoro::transport
