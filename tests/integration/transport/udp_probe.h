#pragma once

#include "core/unique_fd.h"
#include "transport/endpoint.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <thread>
#include <vector>

namespace tavoro::test {

using Bytes = std::vector<std::uint8_t>;

// A plain UDP socket on 127.0.0.1 (port 0) that a test uses to play a peer, a relay or a STUN server.
class UdpProbe {
public:
    UdpProbe();
    std::uint16_t port() const { return port_; }
    transport::Endpoint endpoint() const { return {0x7F000001, port_}; }

    void send(std::span<const std::uint8_t> bytes, const transport::Endpoint& to) const;
    struct Datagram {
        Bytes bytes;
        transport::Endpoint from;
        std::chrono::steady_clock::time_point at;
    };
    std::optional<Datagram> receive(std::chrono::milliseconds timeout) const;
    // Reads until nothing arrives within `quiet`.
    void drain(std::chrono::milliseconds quiet) const
    {
        while (receive(quiet)) {
        }
    }

private:
    core::UniqueFd fd_;
    std::uint16_t port_ = 0;
};

// Answers STUN Binding requests on 127.0.0.1 with the source address, on its own thread.
class LoopbackStunResponder {
public:
    LoopbackStunResponder();
    ~LoopbackStunResponder();
    std::uint16_t port() const { return probe_.port(); }

private:
    UdpProbe probe_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// A free UDP port on 127.0.0.1 at the moment of asking, for programs that must be told their port.
std::uint16_t freeUdpPort();

} // namespace tavoro::test
