#include "server/redis/redis_url.h"

#include <charconv>

namespace tavoro::server::redis {
namespace {

constexpr std::string_view scheme = "redis://";

template <typename Number>
std::optional<Number> parseDecimal(std::string_view digits, Number low, Number high)
{
    Number value{};
    const auto* end = digits.data() + digits.size();
    const auto [stop, ec] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || ec != std::errc() || stop != end || digits.front() == '+' || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        unsigned value = 0;
        const auto* first = text.data() + i + 1;
        const auto [stop, ec] = std::from_chars(first, first + 2, value, 16);
        if (ec != std::errc() || stop != first + 2) {
            return std::nullopt;
        }
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

bool validHostName(std::string_view host)
{
    for (const char c : host) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
            || c == '-' || c == '_' || c == ':';
        if (!allowed) {
            return false;
        }
    }
    return !host.empty();
}

// Splits "host[:port]" or "[v6][:port]" into url.host and url.port.
Result<> parseHostPort(std::string_view hostPort, RedisUrl& url)
{
    std::string_view portText;
    if (hostPort.starts_with('[')) {
        const auto close = hostPort.find(']');
        if (close == std::string_view::npos || close == 1) {
            return Failure{"bad IPv6 host"};
        }
        url.host = std::string(hostPort.substr(1, close - 1));
        const auto rest = hostPort.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':')) {
            return Failure{"bad IPv6 host"};
        }
        portText = rest.empty() ? std::string_view{} : rest.substr(1);
        if (rest == ":") {
            return Failure{"bad port"};
        }
    } else {
        const auto colon = hostPort.find(':');
        url.host = std::string(hostPort.substr(0, colon));
        if (colon != std::string_view::npos) {
            portText = hostPort.substr(colon + 1);
            if (portText.empty()) {
                return Failure{"bad port"};
            }
        }
        if (url.host.find(':') != std::string::npos) {
            return Failure{"bad host"};
        }
    }
    if (!validHostName(url.host)) {
        return Failure{"bad host"};
    }
    if (!portText.empty()) {
        const auto port = parseDecimal<int>(portText, 1, 65535);
        if (!port) {
            return Failure{"bad port"};
        }
        url.port = static_cast<std::uint16_t>(*port);
    }
    return {};
}

} // namespace

std::string RedisUrl::redacted() const
{
    std::string text(scheme);
    if (!password.empty()) {
        text += user + ":***@";
    }
    text += host.find(':') != std::string::npos ? "[" + host + "]" : host;
    text += ":" + std::to_string(port) + "/" + std::to_string(db);
    return text;
}

Result<RedisUrl> parseRedisUrl(std::string_view text)
{
    if (!text.starts_with(scheme)) {
        return Failure{"not a redis:// URL"};
    }
    text.remove_prefix(scheme.size());
    const auto slash = text.find('/');
    auto authority = text.substr(0, slash);
    RedisUrl url;
    if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
        const auto userInfo = authority.substr(0, at);
        const auto colon = userInfo.find(':');
        if (colon == std::string_view::npos) {
            return Failure{"credentials must be written user:password@ or :password@"};
        }
        url.user = std::string(userInfo.substr(0, colon));
        auto password = percentDecoded(userInfo.substr(colon + 1));
        if (!password || password->empty()) {
            return Failure{"bad password"};
        }
        url.password = std::move(*password);
        authority.remove_prefix(at + 1);
    }
    if (auto hostPort = parseHostPort(authority, url); !hostPort) {
        return Failure{hostPort.error()};
    }
    if (slash != std::string_view::npos) {
        const auto dbText = text.substr(slash + 1);
        const auto db = parseDecimal<int>(dbText, 0, 1 << 20);
        if (!dbText.empty() && !db) {
            return Failure{"bad database number"};
        }
        url.db = db.value_or(0);
    }
    return url;
}

} // namespace tavoro::server::redis
