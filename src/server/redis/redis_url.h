#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavoro::server::redis {

// A parsed "redis://[[user]:password@]host[:port][/db]" endpoint. IPv6 hosts are written in brackets;
// the password may hold %XX escapes. Plain data, safe to copy between threads.
struct RedisUrl {
    std::string host;     // without brackets
    std::uint16_t port = 6379;
    std::string user;     // empty: AUTH with the password alone
    std::string password; // empty: no AUTH
    int db = 0;

    // The URL for log lines: the password, when there is one, is shown as "***".
    std::string redacted() const;
};

// Nothing when the text is not such a URL; `error` then says why (never quoting the password).
std::optional<RedisUrl> parseRedisUrl(std::string_view text, std::string* error = nullptr);

} // namespace tavoro::server::redis
