#include "server/redis_cluster.h"

#include <utility>

namespace tavoro::server {
namespace {

using redis::RedisReply;

// KEYS the devices' keys, ARGV[1] this node, ARGV[2] the lease in ms. Returns the positions (from 1)
// of the keys another node holds; this node holds all others now.
constexpr const char* kClaimScript = R"(local taken = {}
for i, key in ipairs(KEYS) do
  local holder = redis.call('GET', key)
  if holder == false or holder == ARGV[1] then
    redis.call('SET', key, ARGV[1], 'PX', ARGV[2])
  else
    taken[#taken + 1] = i
  end
end
return taken)";

// Renewals go in commands of this many IDs, so that many devices do not mean many commands in flight.
constexpr std::size_t kRenewalBatch = 500;

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
        [done = std::move(done)](const RedisReply& reply) { done(reply.isError() || reply.elements.empty()); });
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
    for (auto next = held_.begin(); next != held_.end();) {
        std::vector<std::string> batch;
        for (; next != held_.end() && batch.size() < kRenewalBatch; ++next) {
            batch.push_back(*next);
        }
        renewBatch(std::move(batch));
    }
}

void RedisCluster::renewBatch(std::vector<std::string> deviceIds)
{
    std::vector<std::string> args{"EVAL", kClaimScript, std::to_string(deviceIds.size())};
    for (const auto& deviceId : deviceIds) {
        args.push_back(deviceKey(deviceId));
    }
    args.push_back(nodeId_);
    args.push_back(std::to_string(options_.lease.count()));
    commands_.command(args, [this, deviceIds = std::move(deviceIds)](const RedisReply& reply) {
        for (const auto& taken : reply.elements) {
            if (taken.integer < 1 || static_cast<std::size_t>(taken.integer) > deviceIds.size()) {
                continue;
            }
            const auto& deviceId = deviceIds[static_cast<std::size_t>(taken.integer) - 1];
            if (held_.contains(deviceId) && onLost_) {
                onLost_(deviceId);
            }
        }
    });
}

} // namespace tavoro::server
