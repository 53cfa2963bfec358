#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct redisReply;

namespace tavoro::server::redis {

// One reply of the server, copied out of hiredis's reply tree. `error` is also how the connection
// reports a command that could not be sent or whose connection was lost. Plain data.
struct RedisReply {
    enum class Kind { nil, string, integer, array, error };

    Kind kind = Kind::nil;
    std::string text; // string, status ("OK") or error text
    std::int64_t integer = 0;
    std::vector<RedisReply> elements;

    bool isError() const { return kind == Kind::error; }
    bool isString(std::string_view expected) const { return kind == Kind::string && text == expected; }

    static RedisReply failure(std::string why) { return {Kind::error, std::move(why), 0, {}}; }
    static RedisReply from(const redisReply& reply);
};

} // namespace tavoro::server::redis
