#pragma once

#include "core/unique_fd.h"
#include "transport/endpoint.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tavoro::test {

// A plain UDP socket on a loopback address (127.0.0.1 unless given, host byte order), port 0, with 8 MiB
// buffers, room for a whole burst of chunks: a test or benchmark plays a peer, a relay or a client of a
// UDP service with it.
class UdpTestSocket {
public:
    explicit UdpTestSocket(std::uint32_t address = 0x7F000001);

    std::uint16_t port() const { return port_; }
    transport::Endpoint endpoint() const { return {address_, port_}; }
    int fd() const { return fd_.get(); }

    void sendTo(const transport::Endpoint& to, std::span<const std::uint8_t> bytes) const;
    void sendTo(std::uint16_t loopbackPort, std::span<const std::uint8_t> bytes) const
    {
        sendTo({0x7F000001, loopbackPort}, bytes);
    }

    struct Datagram {
        std::vector<std::uint8_t> bytes;
        transport::Endpoint from;
        std::chrono::steady_clock::time_point at;
    };
    std::optional<Datagram> receive(std::chrono::milliseconds limit = std::chrono::seconds(5)) const;
    // Reads until nothing arrives within `quiet`.
    void drain(std::chrono::milliseconds quiet) const
    {
        while (receive(quiet)) {
        }
    }

private:
    core::UniqueFd fd_;
    std::uint32_t address_;
    std::uint16_t port_ = 0;
};

// A UDP port on 127.0.0.1 that was free a moment ago, for programs that must be told their port.
std::uint16_t freeUdpPort();

} // namespace tavoro::test
