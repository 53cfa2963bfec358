#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace tavoro::server {

// An IPv4 address and UDP port as the relay keeps them; address in host byte order.
struct Ipv4Endpoint {
    std::uint32_t address = 0;
    std::uint16_t port = 0;

    friend bool operator==(const Ipv4Endpoint&, const Ipv4Endpoint&) = default;
};

struct Ipv4EndpointHash {
    std::size_t operator()(const Ipv4Endpoint& e) const noexcept
    {
        return std::hash<std::uint64_t>()((std::uint64_t{e.address} << 16) | e.port);
    }
};

} // namespace tavoro::server
