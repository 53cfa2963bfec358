#include "server/redis/redis_reply.h"

#include <hiredis/hiredis.h>

namespace tavoro::server::redis {

RedisReply RedisReply::from(const redisReply& reply)
{
    RedisReply out;
    switch (reply.type) {
    case REDIS_REPLY_STRING:
    case REDIS_REPLY_STATUS:
        out.kind = Kind::string;
        out.text.assign(reply.str, reply.len);
        break;
    case REDIS_REPLY_ERROR:
        out.kind = Kind::error;
        out.text.assign(reply.str, reply.len);
        break;
    case REDIS_REPLY_INTEGER:
        out.kind = Kind::integer;
        out.integer = reply.integer;
        break;
    case REDIS_REPLY_ARRAY:
        out.kind = Kind::array;
        out.elements.reserve(reply.elements);
        for (std::size_t i = 0; i < reply.elements; ++i) {
            out.elements.push_back(from(*reply.element[i]));
        }
        break;
    default:
        break;
    }
    return out;
}

} // namespace tavoro::server::redis
