#pragma once

#include "core/json_fields.h"
#include "transport/endpoint.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tavoro::transport {

// The UDP path of one session as its owner sees it: what `P2PTransport` offers, so that sessions can
// be driven by a fake in tests. The callbacks are set before `start` and run on the link's own thread.
class PeerLink {
public:
    // What the owner reads under the link's `lock`: `_connected`, `_rttMs`, `selected` and `relayEp`.
    struct LinkState {
        bool connected = false; // the peer answered and its address has not been silent for 3 s
        int rttMs = -1;         // latest round-trip time in ms, kept while the path is down; -1 until one
        std::optional<Endpoint> selected; // kept while the path is down
        std::optional<Endpoint> relayEp;
        // Media go through the relay: the selected address is the relay's.
        bool relayed() const { return selected && relayEp && *selected == *relayEp; }
    };

    using SignalCallback = std::function<void(const std::string& kind, const json::Json& payload)>;
    using FrameCallback = std::function<void(std::vector<std::uint8_t> frame)>;
    using InputCallback = std::function<void(std::vector<std::uint8_t> payload)>;

    virtual ~PeerLink() = default;

    SignalCallback onSignal; // kind "ice", payload {"candidates": [...]}: for the peer's ingestSignal
    FrameCallback onFrame;   // one whole reassembled frame
    InputCallback onInput;   // the payload of one input datagram

    virtual void start() = 0;
    virtual void setRelay(const std::string& host, std::int64_t port, const std::string& token) = 0;
    virtual void ingestSignal(std::string_view kind, const json::Json& payload) = 0;
    // False when nothing was sent (stopped, not connected, nothing selected, frame too large).
    virtual bool sendFrame(std::span<const std::uint8_t> data) = 0;
    // Sets `stopFlag` and clears `_connected`; the link is not started again.
    virtual void stop() = 0;
    virtual LinkState linkState() const = 0;
};

} // namespace tavoro::transport
