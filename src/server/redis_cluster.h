#pragma once

#include "core/scheduler.h"
#include "server/cluster_link.h"
#include "server/redis/redis_connection.h"
#include "server/redis/redis_subscriber.h"

#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tavoro::server {

struct RedisClusterOptions {
    std::chrono::milliseconds lease{15'000};   // how long a device ID stays held without renewal
    std::chrono::milliseconds renewal{5'000};  // how often the IDs held here are renewed
};

// This node's part of a cluster of rendezvous servers sharing one Redis server:
// - presence: key "tavoro:device:<device ID>" holds the ID of the node the device is connected to, as a
//   lease (PX) that the node renews; a claim or renewal sets it only when absent or already this node's,
//   a release deletes it only when still this node's (both atomic, as Lua scripts);
// - routing: each node listens on channel "tavoro:node:<node ID>"; messages for its devices are
//   published there (ClusterMessage payloads), from one connection, so in the order sent.
// While Redis cannot be reached a claim is granted (this node keeps serving its own devices; the
// renewal takes the lease once Redis is back) and messages for other nodes are lost.
//
// Threading: everything, callbacks included, on the io_context's thread; the scheduler runs its tasks
// there too. Callbacks never run during or after destruction.
class RedisCluster final : public ClusterLink {
public:
    using PayloadCallback = std::function<void(const std::string& payload)>;

    RedisCluster(boost::asio::io_context& io, core::Scheduler& scheduler, const redis::RedisUrl& url,
        std::string nodeId, RedisClusterOptions options = {});

    // Called when a renewal finds a device ID held here taken by another node (possible after Redis was
    // out of reach, when claims are granted without it). Set before start().
    void onLost(std::function<void(const std::string& deviceId)> callback) { onLost_ = std::move(callback); }
    // Runs once, when both connections (commands, and the channel's) have connected or failed once.
    // Set before start().
    void onSettled(std::function<void()> callback) { onSettled_ = std::move(callback); }
    // Connects, listens on this node's channel (its payloads go to onPayload) and starts renewing.
    void start(PayloadCallback onPayload);
    // done runs once every command sent before has been answered (or has failed).
    void flush(std::function<void()> done);

    const std::string& nodeId() const { return nodeId_; }

    void claim(const std::string& deviceId, std::function<void(bool granted)> done) override;
    void release(const std::string& deviceId) override;
    void locate(const std::string& deviceId, std::function<void(std::optional<std::string> node)> done) override;
    void send(const std::string& node, std::string payload) override;

private:
    void renew();
    void renewBatch(std::vector<std::string> deviceIds);
    void settle(bool& which);

    std::string nodeId_;
    RedisClusterOptions options_;
    redis::RedisConnection commands_;
    redis::RedisSubscriber subscriber_;
    std::function<void()> onSettled_;
    std::function<void(const std::string&)> onLost_;
    bool commandsSettled_ = false;
    bool subscriberSettled_ = false;
    std::set<std::string> held_; // claimed here and not released: what renew() keeps alive
    core::Scheduler& scheduler_;
    std::unique_ptr<core::RepeatingTimer> renewal_;
};

// The name of a node's channel.
std::string nodeChannel(const std::string& nodeId);

} // namespace tavoro::server
