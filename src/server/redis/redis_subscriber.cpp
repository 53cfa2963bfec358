#include "server/redis/redis_subscriber.h"

namespace tavoro::server::redis {

RedisSubscriber::RedisSubscriber(boost::asio::io_context& io, core::Scheduler& scheduler, RedisUrl url,
    RedisConnectionOptions options)
    : connection_(io, scheduler, std::move(url), std::move(options))
{
    connection_.onStateChange([this](RedisState state) { stateChanged(state); });
}

void RedisSubscriber::subscribe(const std::string& channel, MessageCallback onMessage)
{
    const bool known = channels_.contains(channel);
    channels_[channel] = std::move(onMessage);
    if (!known && connection_.connected()) {
        subscribeNow(channel);
    }
}

void RedisSubscriber::stateChanged(RedisState state)
{
    if (state == RedisState::connected) {
        for (const auto& [channel, onMessage] : channels_) {
            subscribeNow(channel);
        }
    }
    if (onState_) {
        onState_(state);
    }
}

// Replies on the channel are ["subscribe", channel, count] once, then ["message", channel, payload].
void RedisSubscriber::subscribeNow(const std::string& channel)
{
    connection_.stream({"SUBSCRIBE", channel}, [this, channel](const RedisReply& reply) {
        if (reply.kind != RedisReply::Kind::array || reply.elements.size() != 3 || !reply.elements[0].isString("message")) {
            return;
        }
        const auto found = channels_.find(channel);
        if (found != channels_.end()) {
            found->second(reply.elements[2].text);
        }
    });
}

} // namespace tavoro::server::redis
