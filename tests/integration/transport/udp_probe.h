#pragma once

#include "core/unique_fd.h"
#include "transport/endpoint.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
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

// Stands between one client and a server like a NAT would: what the client sends to port() goes on to
// the server from the forwarder's own socket, and the server's answers come back to the client. Notes
// the time and kind byte of every datagram the client sent.
class UdpForwarder {
public:
    explicit UdpForwarder(transport::Endpoint server);
    ~UdpForwarder();
    std::uint16_t port() const { return front_.port(); }

    struct Sent {
        std::chrono::steady_clock::time_point at;
        std::uint8_t kind = 0xFF; // byte 5, or 0xFF for a datagram shorter than 6 bytes
    };
    std::vector<Sent> sent() const;

private:
    void run();

    transport::Endpoint server_;
    UdpProbe front_;
    UdpProbe back_;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_; // guards client_ and sent_
    std::optional<transport::Endpoint> client_;
    std::vector<Sent> sent_;
    std::thread thread_;
};

// A free UDP port on 127.0.0.1 at the moment of asking, for programs that must be told their port.
std::uint16_t freeUdpPort();

} // namespace tavoro::test
