#include "server/redis_cluster.h"

#include <utility>

namespace tavoro::server {
namespace {

using redis::RedisReply;

// KEYS[1] the device's key, ARGV[1] this node, ARGV[2] the lease in ms. 1 when this node holds it now.
constexpr const char* kClaimScript = R"(local holder = redis.call('GET', KEYS[1])
if holder == false or holder == ARGV[1] then
  redis.call('SET', KEYS[1], ARGV[1], 'PX', ARGV[2])
  return 1
end
return 0)";

// KEYS[1] the device's key, ARGV[1] this node.
constexpr const char* kReleaseScript = R"(if redis.call('GET', KEYS[1]) == ARGV[1] then
  return redis.call('DEL', KEYS[1])
end
return 0)";

std::string deviceKey(const std::string& deviceId) { return "tavoro:device:" + deviceId; }

} // namespace

std::string nodeChannel(const std::string& nodeId) { return "tavoro:node:" + nodeId; }

RedisCluster::RedisCluster(boost::asio::io_context& io, core::Scheduler& scheduler, const redis::RedisUrl& url,
    std::string nodeId, RedisClusterOptions options)
    : nodeId_(std::move(nodeId)), options_(options), commands_(io, scheduler, url, {.name = "redis"}),
      subscriber_(io, scheduler, url, {.name = "redis subscriber"}), scheduler_(scheduler)
{
}

void RedisCluster::start(PayloadCallback onPayload)
{
    commands_.onStateChange([this](redis::RedisState) { settle(commandsSettled_); });
    subscriber_.onStateChange([this](redis::RedisState) { settle(subscriberSettled_); });
    subscriber_.subscribe(nodeChannel(nodeId_), std::move(onPayload));
    commands_.start();
    subscriber_.start();
    renewal_ = std::make_unique<core::RepeatingTimer>(scheduler_, options_.renewal, [this] { renew(); });
}

void RedisCluster::settle(bool& which)
{
    which = true;
    if (commandsSettled_ && subscriberSettled_ && onSettled_) {
        std::exchange(onSettled_, {})();
    }
}

void RedisCluster::flush(std::function<void()> done)
{
    commands_.command({"PING"}, [done = std::move(done)](const RedisReply&) { done(); });
}

void RedisCluster::claim(const std::string& deviceId, std::function<void(bool granted)> done)
{
    held_.insert(deviceId);
    commands_.command({"EVAL", kClaimScript, "1", deviceKey(deviceId), nodeId_, std::to_string(options_.lease.count())},
        [done = std::move(done)](const RedisReply& reply) { done(reply.isError() || reply.integer == 1); });
}

void RedisCluster::release(const std::string& deviceId)
{
    held_.erase(deviceId);
    commands_.command({"EVAL", kReleaseScript, "1", deviceKey(deviceId), nodeId_}, [](const RedisReply&) {});
}

void RedisCluster::locate(const std::string& deviceId, std::function<void(std::optional<std::string> node)> done)
{
    commands_.command({"GET", deviceKey(deviceId)}, [this, done = std::move(done)](const RedisReply& reply) {
        const bool elsewhere = reply.kind == RedisReply::Kind::string && reply.text != nodeId_;
        done(elsewhere ? std::optional(reply.text) : std::nullopt);
    });
}

void RedisCluster::send(const std::string& node, std::string payload)
{
    commands_.command({"PUBLISH", nodeChannel(node), std::move(payload)}, [](const RedisReply&) {});
}

void RedisCluster::renew()
{
    const auto lease = std::to_string(options_.lease.count());
    for (const auto& deviceId : held_) {
        commands_.command({"EVAL", kClaimScript, "1", deviceKey(deviceId), nodeId_, lease},
            [this, deviceId](const RedisReply& reply) {
                if (!reply.isError() && reply.integer == 0 && held_.contains(deviceId) && onLost_) {
                    onLost_(deviceId);
                }
            });
    }
}

} // namespace tavoro::server
