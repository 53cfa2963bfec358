#pragma once

#include "core/clock.h"
#include "platform/secure_random.h"
#include "server/call_relays.h"
#include "server/cluster_link.h"
#include "server/cluster_message.h"
#include "server/connection.h"
#include "server/device_key_store.h"
#include "server/directory.h"
#include "server/rate_limiter.h"
#include "server/relay_allocator.h"
#include "server/sms_codes.h"
#include "server/sms_gateway.h"

#include <nlohmann/json.hpp>

#include <deque>
#include <string>
#include <unordered_map>

namespace tavoro::server {

struct HubConfig {
    std::string accessToken = "qxm";
    std::string publicHost; // empty: the address the caller's connection came in on
    core::Millis helloTimeout{30'000};
    // Each connection and each source address; over the limit a call gets the offline answer, so
    // that probing IDs at volume cannot tell online from offline.
    RateLimit callRate;
    // Each source address (each device may ask only once a minute anyway).
    RateLimit smsRequestRate;
    std::size_t maxTrackedAddresses = 16'384;
};

// The signaling server's rules, without sockets: "hello" binds a connection to its device ID (one
// live connection per ID; an ID first claimed with a "device_key" belongs to that key for good, online
// or not, and a "hello" for it with another key or none is refused), "register" binds phone aliases,
// "sms_code_req" issues codes, "call" gets
// a relay allocation unless it calls its own device (and "sms_verified" when it carries a code), the callee's answer to that call
// gets the same relay (and any other answer loses the "relay" it carries), every other message with "to" is forwarded with "from" set to the sender, and binary relay
// messages go to the device their marker names. Calls and SMS code requests are rate-limited per
// connection and per source address (memory for at most `maxTrackedAddresses` addresses).
//
// In a cluster (given a ClusterLink) the ID is bound only once the cluster grants it, checking the key
// that owns it there, aliases bind once across the cluster, SMS codes are issued and redeemed there, and
// calls find their callee (by ID or alias) on any node: each of these steps waits for the cluster's
// answer, and what the connection sends meanwhile waits behind it, in order (up to a limit). A claim
// the cluster refuses is refused like a second connection on this server (or a stranger's key), and a
// message for a device connected to another node goes to that node, whose hub delivers it
// (fromCluster); answers to a call get their relay on the caller's node, which made it. When the cluster
// cannot be reached, claims are checked against this server's own device key store, aliases bind on
// this server only, calls reach this server's devices without SMS verification, and SMS codes are not
// issued.
//
// Runs on the signaling thread only: every method, and every call it makes into the sink, the SMS
// gateway, the device key store, the relay allocator and the cluster link, happens there.
class Hub final : public ConnectionEvents {
public:
    Hub(ConnectionSink& sink, RelayAllocator& relays, SmsGateway& sms, DeviceKeyStore& deviceKeys,
        platform::SecureRandom& random, const core::Clock& clock, HubConfig config, ClusterLink* cluster = nullptr);

    void opened(ConnectionId id, const ConnectionInfo& info) override;
    void text(ConnectionId id, std::string_view text) override;
    void binary(ConnectionId id, const SharedBytes& bytes) override;
    void closed(ConnectionId id) override;

    // A payload another node sent this one (a ClusterMessage): delivered to the local device it names,
    // if still here; a malformed one is dropped with a log line.
    void fromCluster(std::string_view payload);

    // The cluster found deviceId, bound here, held by another node: its connection here is closed
    // like a second connection for an ID.
    void lostToCluster(const std::string& deviceId);

    // Housekeeping, about once a second: closes connections that never said "hello" and forgets
    // stale call relays and SMS codes.
    void tick();

    std::size_t connectionCount() const { return connections_.size(); }
    std::size_t onlineCount() const { return directory_.onlineCount(); }

private:
    using Json = nlohmann::json;
    struct Connection {
        ConnectionInfo info;
        core::SteadyTime openedAt;
        std::string deviceId; // empty until "hello"
        bool refused = false; // being closed: nothing more from it counts
        bool pending = false; // awaits the cluster's answer to one of its messages
        std::deque<std::string> waiting; // texts received while pending, in order
    };

    // The cluster's callback for a step of connection id: until it has run, later texts of the
    // connection wait; then `then` runs (unless the connection is gone or refused) and they follow.
    template <typename Then>
    auto inOrder(ConnectionId id, Then then);
    void resume(ConnectionId id);
    void handle(ConnectionId id, Connection& connection, Json& msg);

    void hello(ConnectionId id, Connection& connection, const Json& msg);
    void claimed(ConnectionId id, const std::string& deviceId, const std::string& key, ClusterLink::Claim result);
    void bind(ConnectionId id, Connection& connection, const std::string& deviceId, const std::string& newKey);
    enum class Ownership { unclaimed, owner, stranger };
    Ownership ownershipOf(const std::string& deviceId, const std::string& key);
    void rememberKey(const std::string& deviceId, const std::string& key);
    void registerAlias(ConnectionId id, const std::string& deviceId, const Json& msg);
    void replyAlias(ConnectionId id, const std::string& alias, bool bound);
    void smsCodeRequest(ConnectionId id, const Connection& requester, const Json& msg);
    void smsCodeIssued(ConnectionId id, const std::string& alias, const std::string& code, ClusterLink::SmsIssue result);
    void call(ConnectionId id, const Connection& caller, Json& msg, const std::string& to);
    void callLocally(ConnectionId id, Json& msg, const std::string& to, bool redeemLocally);
    // Hands the call to callee, here (node empty) or on another node.
    void placeCall(ConnectionId id, Json& msg, const std::string& callee, const std::string& node, bool smsVerified);
    bool redeemLocally(const std::string& callee, const Json& msg);
    void prepareCall(const Connection& caller, Json& msg, const std::string& callee, bool smsVerified);
    void replyOffline(ConnectionId id, const std::string& callerId, const std::string& to, const std::string& callId);
    bool withinCallRate(ConnectionId id, const Connection& caller);
    void answer(const std::string& calleeId, Json& msg, const std::string& to);
    std::optional<Json> allocateRelay(const Connection& caller);
    void deliver(const std::string& deviceId, Json& msg, const std::string& fromId);
    void sendElsewhere(ClusterMessage::Kind kind, const std::string& deviceId, std::string_view body);
    // False when the message is malformed.
    bool textFromCluster(const ClusterMessage& message);
    bool binaryFromCluster(const ClusterMessage& message);
    // The connection of a device bound here (not one still awaiting the cluster's grant).
    std::optional<ConnectionId> localConnectionOf(const std::string& deviceId) const;
    void reply(ConnectionId id, const Json& msg);
    void replyError(ConnectionId id, const std::string& message);
    void refuse(ConnectionId id, const std::string& message, const std::string& logReason);

    ConnectionSink& sink_;
    RelayAllocator& relays_;
    SmsGateway& sms_;
    DeviceKeyStore& deviceKeys_;
    platform::SecureRandom& random_;
    const core::Clock& clock_;
    HubConfig config_;
    ClusterLink* cluster_; // null: this server alone
    Directory directory_;
    SmsCodes smsCodes_;
    CallRelays callRelays_;
    RateLimiter<ConnectionId> callsByConnection_;
    RateLimiter<std::string> callsByAddress_;
    RateLimiter<std::string> smsRequestsByAddress_;
    std::unordered_map<ConnectionId, Connection> connections_;
    std::deque<std::pair<core::SteadyTime, ConnectionId>> awaitingHello_; // in opening order
};

} // namespace tavoro::server
