#pragma once

#include "core/unique_fd.h"
#include "transport/endpoint.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The few POSIX socket and address operations the peer transport needs. Safe from any thread.
namespace tavoro::transport::net {

// An IPv4 UDP socket bound to any address, port 0, with the given receive buffer size (raised past
// the system's default maximum when the process may do so). Invalid when opening or binding fails.
core::UniqueFd openUdpSocket(int receiveBufferBytes);

std::uint16_t boundPort(int fd);

// Non-blocking send; errors (a full buffer included) are ignored.
void sendTo(int fd, std::span<const std::uint8_t> bytes, const Endpoint& to);

// Non-blocking receive into buffer: the datagram's length (cut to the buffer) and its source, or
// nothing when no datagram is waiting.
struct Received {
    std::size_t length = 0;
    Endpoint from;
};
std::optional<Received> receiveFrom(int fd, std::span<std::uint8_t> buffer);

// Waits until fd is readable or the timeout has passed; true when readable.
bool waitReadable(int fd, std::chrono::milliseconds timeout);

// Every IPv4 address of an interface that is up and not loopback, as dotted-quad text, without
// "127." and "169.254." addresses and without duplicates, in interface order.
std::vector<std::string> localIPv4();

// Dotted-quad text directly, else the system resolver's first IPv4 datagram address; with port.
std::optional<Endpoint> resolveIPv4(std::string_view host, std::uint16_t port);

} // namespace tavoro::transport::net
