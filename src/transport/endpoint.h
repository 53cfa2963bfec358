#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct sockaddr_in;

namespace tavoro::transport {

// An IPv4 socket address; address in host byte order. Two endpoints are equal when address and port are.
struct Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;

    std::string addressText() const; // dotted quad, no port
    friend bool operator==(const Endpoint&, const Endpoint&) = default;
};

// "a.b.c.d:port".
std::string ipString(const Endpoint& endpoint);

// The address of strict dotted-quad text ("10.0.0.1"), else nothing. Never resolves names.
std::optional<std::uint32_t> parseDottedQuad(std::string_view text);

sockaddr_in toSockaddr(const Endpoint& endpoint);
Endpoint fromSockaddr(const sockaddr_in& address);

} // namespace tavoro::transport
