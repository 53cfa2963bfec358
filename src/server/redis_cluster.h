#pragma once

#include "core/scheduler.h"
#include "server/cluster_link.h"
#include "server/redis/redis_connection.h"
#include "server/redis/redis_script.h"
#include "server/redis/redis_subscriber.h"
#include "server/sms_codes.h"

#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tavoro::server {

struct RedisClusterOptions {
    std::chrono::milliseconds lease{10'000};   // how long a device ID stays held without renewal
    std::chrono::milliseconds renewal{3'000};  // how often the IDs held here are renewed
};

// This node's part of a cluster of rendezvous servers sharing one Redis server:
// - presence: key "tavoro:device:<device ID>" holds the ID of the node the device is connected to, as a
//   lease (PX) that the node renews; a claim or renewal sets it only when absent or already this node's,
//   a release deletes it only when still this node's;
// - device keys: "tavoro:device_key:<device ID>" holds the digest of the key that first claimed the ID,
//   for good (no expiry); a claim checks it and sets it in the same step as the presence;
// - aliases: "tavoro:alias:<alias>" holds the device ID bound to it and "tavoro:alias_of:<device ID>"
//   the alias ("1" or "0" for SMS mode, then the alias), both leases renewed and released with the
//   device's presence, so that a dead node's aliases expire with its devices;
// - SMS codes: "tavoro:sms:<alias>" (codes by issue time), "tavoro:sms_wrong:<alias>" (wrong guesses),
//   "tavoro:sms_request:<requester>" (the requester's interval), with SmsCodes' limits, on Redis's clock;
// - routing: each node listens on channel "tavoro:node:<node ID>"; messages for its devices are
//   published there (ClusterMessage payloads), from one connection, so in the order sent.
// Every change is a Lua script (ClusterScripts), run by EVALSHA: the scripts are loaded at each connect,
// and one that Redis lost all the same is sent again by EVAL.
// While Redis cannot be reached the answers are "unchecked" (ClusterLink): the hub grants claims
// (checking keys against this server's own store) and binds aliases on this node only (once the command
// connection is back every lease held here is put back at once, aliases excepted:
// such a binding stays local until the device registers again); no SMS codes are issued and messages
// for other nodes are lost. Bindings made through Redis come back with the leases after a restart of
// Redis (unless another device bound the alias meanwhile); SMS codes and device keys do not, unless
// Redis keeps its data (persistence).
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

    void claim(const std::string& deviceId, const std::string& keyDigest, std::function<void(Claim)> done) override;
    void release(const std::string& deviceId) override;
    void forward(const std::string& deviceId, std::string payload) override;
    void send(const std::string& node, std::string payload) override;
    void bindAlias(const std::string& deviceId, const std::string& alias, bool smsAuth,
        std::function<void(AliasBinding)> done) override;
    void unbindAlias(const std::string& deviceId) override;
    void findCallee(const std::string& to, const std::string& password,
        std::function<void(Found, const Callee&)> done) override;
    void issueSmsCode(const std::string& requester, const std::string& alias, const std::string& code,
        std::function<void(SmsIssue)> done) override;

private:
    void renew();
    void renewBatch(std::vector<std::string> deviceIds);
    void settle(bool& which);
    void loadScripts();
    // Runs script with these KEYS and ARGV by EVALSHA (by EVAL when Redis has lost it).
    void run(const redis::RedisScript& script, const std::vector<std::string>& keys, std::vector<std::string> args,
        redis::RedisConnection::ReplyCallback done);

    std::string nodeId_;
    RedisClusterOptions options_;
    SmsCodes::Limits smsLimits_; // the same as a server alone keeps
    redis::RedisConnection commands_;
    redis::RedisSubscriber subscriber_;
    std::function<void()> onSettled_;
    std::function<void(const std::string&)> onLost_;
    bool commandsSettled_ = false;
    bool subscriberSettled_ = false;
    std::set<std::string> held_; // claimed here and not released: what renew() keeps alive
    std::map<std::string, std::string> aliases_; // of those, the alias records bound through this node
    core::Scheduler& scheduler_;
    std::unique_ptr<core::RepeatingTimer> renewal_;
};

// The name of a node's channel.
std::string nodeChannel(const std::string& nodeId);

} // namespace tavoro::server
