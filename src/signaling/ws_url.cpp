#include "signaling/ws_url.h"

#include <charconv>

namespace tavoro::signaling {
namespace {

bool isHostChar(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_';
}

bool isIpv6Char(char c)
{
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' || c == '.';
}

std::optional<std::uint16_t> parsePort(std::string_view text)
{
    unsigned value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value == 0 || value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

} // namespace

std::string WsUrl::hostHeader() const
{
    std::string name = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return port == 443 ? name : name + ":" + std::to_string(port);
}

std::optional<WsUrl> parseWsUrl(std::string_view url)
{
    constexpr std::string_view scheme = "wss://";
    if (!url.starts_with(scheme)) {
        return std::nullopt;
    }
    url.remove_prefix(scheme.size());
    const auto slash = url.find('/');
    std::string_view authority = url.substr(0, slash);
    WsUrl result;
    result.target = slash == std::string_view::npos ? "/" : std::string(url.substr(slash));

    std::string_view portText;
    if (authority.starts_with('[')) {
        const auto close = authority.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        result.host = authority.substr(1, close - 1);
        std::string_view rest = authority.substr(close + 1);
        if (!rest.empty() && (!rest.starts_with(':') || (portText = rest.substr(1)).empty())) {
            return std::nullopt;
        }
        for (char c : result.host) {
            if (!isIpv6Char(c)) {
                return std::nullopt;
            }
        }
    } else {
        const auto colon = authority.find(':');
        result.host = authority.substr(0, colon);
        if (colon != std::string_view::npos) {
            portText = authority.substr(colon + 1);
            if (portText.empty()) {
                return std::nullopt;
            }
        }
        for (char c : result.host) {
            if (!isHostChar(c)) {
                return std::nullopt;
            }
        }
    }
    if (result.host.empty()) {
        return std::nullopt;
    }
    if (!portText.empty()) {
        auto port = parsePort(portText);
        if (!port) {
            return std::nullopt;
        }
        result.port = *port;
    }
    return result;
}

} // namespace tavoro::signaling
