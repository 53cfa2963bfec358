#pragma once

#include "server/redis/redis_connection.h"

#include <map>

namespace tavoro::server::redis {

// A connection of its own in subscribe mode: messages published on a subscribed channel reach that
// channel's callback. After a lost connection comes back, every channel is subscribed again; messages
// published while it was away are not delivered (Redis keeps none).
//
// Threading: as RedisConnection, everything on the io_context's thread; callbacks never run during or
// after destruction.
class RedisSubscriber {
public:
    using MessageCallback = std::function<void(const std::string& payload)>;

    RedisSubscriber(boost::asio::io_context& io, core::Scheduler& scheduler, RedisUrl url,
        RedisConnectionOptions options = {.name = "redis subscriber"});

    // Set before start(); called after the channels have been asked for again on connecting.
    void onStateChange(RedisConnection::StateCallback callback) { onState_ = std::move(callback); }
    void start() { connection_.start(); }
    bool connected() const { return connection_.connected(); }

    // Subscribes now when connected, else on connecting; a second call for a channel replaces its callback.
    void subscribe(const std::string& channel, MessageCallback onMessage);

private:
    void subscribeNow(const std::string& channel);
    void stateChanged(RedisState state);

    RedisConnection connection_;
    RedisConnection::StateCallback onState_;
    std::map<std::string, MessageCallback> channels_;
};

} // namespace tavoro::server::redis
