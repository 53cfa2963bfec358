#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavoro::signaling {

// A parsed "wss://HOST[:PORT]/PATH" endpoint. IPv6 hosts are written in brackets.
struct WsUrl {
    std::string host;      // without brackets
    std::uint16_t port = 443;
    std::string target;    // path, starting with "/"

    std::string hostHeader() const; // host[:port] as the Host header wants it
};

std::optional<WsUrl> parseWsUrl(std::string_view url);

} // namespace tavoro::signaling
