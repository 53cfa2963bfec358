#pragma once

#include "core/clock.h"
#include "core/json_fields.h"
#include "platform/secure_random.h"
#include "transport/endpoint.h"
#include "transport/peer_link.h"
#include "transport/stun_servers.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace tavoro::transport {

// The UDP path between one host session and one control session: finds this side's addresses (local
// interfaces and STUN), advertises them through `onSignal`, pings the peer's addresses to punch holes,
// selects the address that answers (directly or through the call's UDP relay), measures the round-trip
// time, carries media frames (each chunked and sent twice) and reassembles the peer's. Input datagrams
// are taken from the selected address only. After 3 s without a datagram from the selected address the
// path counts as down (`connected` false) and every address is pinged again until the peer answers.
// The relay binds this side's address only after the transport has echoed the relay's challenge
// (a nonce and this call's token) as a relay proof.
//
// Threads: `start`, `setRelay`, `ingestSignal`, `sendFrame`, `stop` and `linkState` may be called from
// any thread. One worker thread "tavoro.p2p" does all receiving, STUN, pinging, relay binding and
// reassembly, and calls `onSignal`, `onFrame` and `onInput`, never under `lock`. The callbacks must be
// set before `start`. The object may be destroyed on any thread, its own worker's included.
//
// Locks: `lock` guards the socket handle, `localPort`, `stopFlag`, `nextFrameId` and the connectivity
// state (candidates, selected address, connected flag, reflexive address, ping ids and times, rtt,
// when the peer was last heard, relay settings). `sendFrame` holds it for all datagrams of one frame;
// the worker holds it briefly for every datagram it receives from the peer, so a frame being sent
// delays receiving. Owners that hold a lock of their own (a session's `mcLock`) take it before calling
// `linkState` or `stop`.
class P2PTransport final : public PeerLink {
public:
    struct Settings {
        std::vector<StunServer> stunServers = defaultStunServers();
    };

    // The clock gives uptime in ms; random makes the STUN transaction id (once, here).
    P2PTransport(Settings settings, std::shared_ptr<const core::Clock> clock, platform::SecureRandom& random);
    ~P2PTransport() override; // stops, and waits for the worker unless called on it
    P2PTransport(const P2PTransport&) = delete;
    P2PTransport& operator=(const P2PTransport&) = delete;

    // Opens the socket and starts the worker; nothing when already started or stopped.
    void start() override;
    // Configures the call's UDP relay; ignored unless host is set, port is 1 to 65535 and token is set.
    void setRelay(const std::string& host, std::int64_t port, const std::string& token) override;
    // Takes the peer's candidates from its "ice" advertisement.
    void ingestSignal(std::string_view kind, const json::Json& payload) override;
    // Chunks the frame and sends it twice to the selected address. False when nothing was sent: stopped,
    // not connected, no socket, nothing selected, or more than 65535 chunks needed.
    bool sendFrame(std::span<const std::uint8_t> data) override;
    // Sets `stopFlag` and clears `_connected`; the worker closes the socket within about 100 ms.
    void stop() override;

    LinkState linkState() const override;
    std::uint16_t localPort() const;

private:
    class Core;

    std::shared_ptr<Core> core_;
    std::thread thread_; // started by start(), only on the calling thread
};

} // namespace tavoro::transport
