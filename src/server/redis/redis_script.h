#pragma once

#include <string>

namespace tavoro::server::redis {

// A Lua script as Redis runs it by EVALSHA: its text and the SHA-1 that names it in the server's script
// cache. Plain data; any thread.
struct RedisScript {
    std::string text;
    std::string sha1; // lower-case hex

    static RedisScript of(std::string text);
};

} // namespace tavoro::server::redis
