#include "transport/peer_path.h"

#include <algorithm>

namespace tavoro::transport {

int PeerPath::addCandidates(const std::vector<Endpoint>& addresses)
{
    int added = 0;
    for (const auto& address : addresses) {
        if (std::find(remoteCands.begin(), remoteCands.end(), address) == remoteCands.end()) {
            remoteCands.push_back(address);
            ++added;
        }
    }
    return added;
}

std::uint32_t PeerPath::takePingId(std::uint64_t nowMs)
{
    const std::uint32_t id = nextPing++;
    sentPings.record(id, nowMs);
    return id;
}

PeerPath::Arrival PeerPath::pingFrom(const Endpoint& from, std::uint64_t nowMs)
{
    addCandidates({from});
    const Arrival arrival{connected, isRelay(from)};
    if (!connected) {
        selected = from;
        connected = true;
    }
    heardFrom(from, nowMs);
    return arrival;
}

PeerPath::Arrival PeerPath::pongFrom(const Endpoint& from, std::optional<std::uint32_t> answeredId, std::uint64_t nowMs)
{
    const Arrival arrival{connected, isRelay(from)};
    selected = from;
    connected = true;
    heardFrom(from, nowMs);
    if (const auto sentMs = answeredId ? sentPings.take(*answeredId) : std::nullopt; sentMs && *sentMs <= nowMs) {
        rttMs = static_cast<int>(std::min<std::uint64_t>(nowMs - *sentMs, INT32_MAX));
    }
    return arrival;
}

void PeerPath::heardFrom(const Endpoint& from, std::uint64_t nowMs)
{
    if (selected && *selected == from) {
        lastHeardMs = nowMs;
    }
}

bool PeerPath::expireIfSilent(std::uint64_t nowMs)
{
    if (!connected || nowMs < lastHeardMs + kSilenceLimitMs) {
        return false;
    }
    connected = false;
    return true;
}

namespace schedule {

bool stunDue(bool haveReflexive, std::uint64_t elapsed, std::uint64_t nowMs, std::uint64_t lastStunMs)
{
    return !haveReflexive && elapsed < kStunWindowMs && nowMs - lastStunMs >= kStunRepeatMs;
}

bool pingRoundDue(std::uint64_t elapsed, std::uint64_t nowMs, std::uint64_t lastRoundMs)
{
    const std::uint64_t period = elapsed < kFastPhaseMs ? kFastRoundMs : kSlowRoundMs;
    return nowMs - lastRoundMs >= period;
}

std::vector<RoundStep> planRound(const PeerPath& snapshot, std::uint64_t elapsed, std::uint64_t nowMs,
    std::uint64_t lastRelayBindMs)
{
    std::vector<RoundStep> steps;
    const auto& relay = snapshot.relayEp;
    if (!snapshot.connected) {
        for (const auto& candidate : snapshot.remoteCands) {
            steps.push_back({RoundStep::Action::ping, candidate});
        }
        if (snapshot.relayEnabled && elapsed >= kRelayStartMs && relay) {
            steps.push_back({RoundStep::Action::relayBind, *relay});
            steps.push_back({RoundStep::Action::ping, *relay});
        }
        return steps;
    }
    if (snapshot.selected) {
        steps.push_back({RoundStep::Action::ping, *snapshot.selected});
        if (snapshot.relayEnabled && snapshot.isRelay(*snapshot.selected) && nowMs - lastRelayBindMs >= kRelayRefreshMs) {
            steps.push_back({RoundStep::Action::relayBind, *relay});
        }
    }
    return steps;
}

} // namespace schedule
} // namespace tavoro::transport
