#include "server/redis_cluster.h"

#include "server/cluster_scripts.h"

#include <iterator>
#include <utility>

namespace tavoro::server {
namespace {

using redis::RedisReply;
using redis::RedisScript;

// Renewals go in commands of this many IDs, so that many devices do not mean many commands in flight.
constexpr std::size_t kRenewalBatch = 500;

std::string deviceKey(const std::string& deviceId) { return "tavoro:device:" + deviceId; }
std::string ownerKey(const std::string& deviceId) { return "tavoro:device_key:" + deviceId; }
std::string aliasKey(const std::string& alias) { return "tavoro:alias:" + alias; }
std::string aliasRecordKey(const std::string& deviceId) { return "tavoro:alias_of:" + deviceId; }

std::string millis(std::chrono::milliseconds duration) { return std::to_string(duration.count()); }

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
    commands_.onStateChange([this](redis::RedisState state) {
        // Back after an outage: the leases may have run out or Redis may have restarted empty, so the
        // IDs held here are put back at once rather than at the next renewal (after the scripts, which
        // the renewal runs).
        if (state == redis::RedisState::connected) {
            loadScripts();
            renew();
        }
        settle(commandsSettled_);
    });
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

// Sent first on each connection, so every EVALSHA after it finds its script.
void RedisCluster::loadScripts()
{
    for (const auto* script : clusterScripts().all()) {
        commands_.command({"SCRIPT", "LOAD", script->text}, [](const RedisReply&) {});
    }
}

void RedisCluster::run(const RedisScript& script, const std::vector<std::string>& keys,
    std::vector<std::string> args, redis::RedisConnection::ReplyCallback done)
{
    // Shared with the callback rather than copied: the words may carry a large message.
    auto words = std::make_shared<std::vector<std::string>>();
    words->reserve(3 + keys.size() + args.size());
    *words = {"EVALSHA", script.sha1, std::to_string(keys.size())};
    words->insert(words->end(), keys.begin(), keys.end());
    words->insert(words->end(), std::make_move_iterator(args.begin()), std::make_move_iterator(args.end()));
    commands_.command(*words, [this, &script, words, done = std::move(done)](const RedisReply& reply) mutable {
        if (!reply.isError() || !reply.text.starts_with("NOSCRIPT")) {
            done(reply);
            return;
        }
        (*words)[0] = "EVAL";
        (*words)[1] = script.text;
        commands_.command(*words, std::move(done));
    });
}

void RedisCluster::flush(std::function<void()> done)
{
    commands_.command({"PING"}, [done = std::move(done)](const RedisReply&) { done(); });
}

void RedisCluster::claim(const std::string& deviceId, const std::string& keyDigest, std::function<void(Claim)> done)
{
    held_.insert(deviceId);
    run(clusterScripts().claim, {deviceKey(deviceId), ownerKey(deviceId)}, {nodeId_, millis(options_.lease), keyDigest},
        [done = std::move(done)](const RedisReply& reply) {
            if (reply.kind != RedisReply::Kind::integer) {
                done(Claim::unchecked);
                return;
            }
            done(reply.integer == 0 ? Claim::granted
                    : reply.integer == 1 ? Claim::takenElsewhere
                                         : Claim::ownedByAnotherKey);
        });
}

void RedisCluster::release(const std::string& deviceId)
{
    held_.erase(deviceId);
    aliases_.erase(deviceId);
    run(clusterScripts().release, {deviceKey(deviceId), aliasRecordKey(deviceId)}, {nodeId_, deviceId, "1"},
        [](const RedisReply&) {});
}

void RedisCluster::forward(const std::string& deviceId, std::string payload)
{
    std::vector<std::string> args;
    args.reserve(2);
    args.push_back(nodeId_);
    args.push_back(std::move(payload)); // a braced list would copy it
    run(clusterScripts().forward, {deviceKey(deviceId)}, std::move(args), [](const RedisReply&) {});
}

void RedisCluster::send(const std::string& node, std::string payload)
{
    commands_.command({"PUBLISH", nodeChannel(node), std::move(payload)}, [](const RedisReply&) {});
}

void RedisCluster::bindAlias(const std::string& deviceId, const std::string& alias, bool smsAuth,
    std::function<void(AliasBinding)> done)
{
    std::string record = (smsAuth ? "1" : "0") + alias;
    run(clusterScripts().bindAlias, {aliasKey(alias), aliasRecordKey(deviceId)}, {deviceId, record, millis(options_.lease)},
        [this, deviceId, record, done = std::move(done)](const RedisReply& reply) {
            if (reply.kind != RedisReply::Kind::integer) {
                done(AliasBinding::unchecked);
                return;
            }
            if (reply.integer == 1 && held_.contains(deviceId)) {
                aliases_[deviceId] = record;
            }
            done(reply.integer == 1 ? AliasBinding::bound : AliasBinding::duplicate);
        });
}

void RedisCluster::unbindAlias(const std::string& deviceId)
{
    aliases_.erase(deviceId);
    run(clusterScripts().release, {deviceKey(deviceId), aliasRecordKey(deviceId)}, {nodeId_, deviceId, "0"},
        [](const RedisReply&) {});
}

void RedisCluster::findCallee(const std::string& to, const std::string& password,
    std::function<void(Found, const Callee&)> done)
{
    run(clusterScripts().findCallee, {},
        {to, password, std::to_string(smsLimits_.lifetime.count()), std::to_string(smsLimits_.maxWrongGuesses)},
        [this, done = std::move(done)](const RedisReply& reply) {
            if (reply.kind != RedisReply::Kind::array) {
                done(Found::unchecked, {});
                return;
            }
            const auto& found = reply.elements;
            if (found.size() != 3) {
                done(Found::offline, {});
                return;
            }
            const std::string& node = found[1].text;
            done(Found::online, Callee{found[0].text, node == nodeId_ ? std::string() : node, found[2].integer == 1});
        });
}

void RedisCluster::issueSmsCode(const std::string& requester, const std::string& alias, const std::string& code,
    std::function<void(SmsIssue)> done)
{
    const auto& limits = smsLimits_;
    run(clusterScripts().issueSmsCode, {},
        {requester, alias, code, std::to_string(limits.lifetime.count()), std::to_string(limits.requestInterval.count()),
            std::to_string(limits.maxCodesPerAlias)},
        [done = std::move(done)](const RedisReply& reply) {
            const bool answered = reply.kind == RedisReply::Kind::integer;
            done(answered && reply.integer == 0 ? SmsIssue::issued
                    : answered && reply.integer == 2 ? SmsIssue::tooSoon
                                                     : SmsIssue::unbound);
        });
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
    for (auto next = aliases_.begin(); next != aliases_.end();) {
        std::vector<std::string> args{nodeId_, millis(options_.lease)};
        for (; next != aliases_.end() && args.size() < 2 * kRenewalBatch + 2; ++next) {
            args.push_back(next->first);
            args.push_back(next->second);
        }
        run(clusterScripts().renewAliases, {}, args, [](const RedisReply&) {});
    }
}

void RedisCluster::renewBatch(std::vector<std::string> deviceIds)
{
    std::vector<std::string> keys;
    for (const auto& deviceId : deviceIds) {
        keys.push_back(deviceKey(deviceId));
    }
    run(clusterScripts().renew, keys, {nodeId_, millis(options_.lease)},
        [this, deviceIds = std::move(deviceIds)](const RedisReply& reply) {
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
