#pragma once

#include "core/unique_fd.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tavoro::test {

// A UDP socket on a loopback address (127.0.0.1 unless given, host byte order) with a free port,
// for talking to UDP services on 127.0.0.1 in tests.
class UdpTestSocket {
public:
    explicit UdpTestSocket(std::uint32_t address = 0x7F000001);

    std::uint16_t port() const { return port_; }
    void sendTo(std::uint16_t port, std::span<const std::uint8_t> bytes) const;

    struct Received {
        std::vector<std::uint8_t> bytes;
        std::uint32_t fromAddress = 0; // host byte order
        std::uint16_t fromPort = 0;
    };
    std::optional<Received> receive(std::chrono::milliseconds limit = std::chrono::seconds(5)) const;

private:
    core::UniqueFd fd_;
    std::uint16_t port_ = 0;
};

} // namespace tavoro::test
