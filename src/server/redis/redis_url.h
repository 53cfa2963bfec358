#pragma once

#include "core/result.h"

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

// A failure, saying why (never quoting the password), when the text is not such a URL.
Result<RedisUrl> parseRedisUrl(std::string_view text);

} // namespace tavoro::server::redis
