#include "server/hub.h"

#include "core/json_fields.h"
#include "core/log.h"
#include "protocol/media_frame.h"
#include "server/cluster_message.h"
#include "server/device_key_digest.h"
#include "server/identifiers.h"

#include <array>

namespace tavoro::server {
namespace {

// Texts shown to the user of the installation concerned (the client prefixes "服务器: ").
constexpr const char* kBadToken = "访问令牌无效";
constexpr const char* kBadDeviceId = "设备 ID 必须是 9 位数字";
constexpr const char* kBadDeviceKey = "设备密钥格式不正确";
constexpr const char* kIdOwned = "设备 ID 已被另一台设备占用";
constexpr const char* kIdTaken = "该设备 ID 已在其他连接上在线";
constexpr const char* kOtherId = "此连接已绑定其他设备 ID";
constexpr const char* kOffline = "对方不在线";
constexpr const char* kBadPhone = "手机号格式不正确";
constexpr const char* kPhoneUnbound = "该手机号未绑定设备";
constexpr const char* kSmsTooSoon = "验证码请求过于频繁，请 60 秒后再试";

// What a connection may send while a cluster step of its own is pending (a Redis round trip, well
// under a millisecond, unless Redis is being lost). Rather than drop what comes beyond, the
// connection is closed: its installation reconnects and nothing is silently lost in between.
constexpr std::size_t kMaxWaiting = 1024;

// Deeper nesting is never sent by an installation, and re-serialising it would recurse that deep.
constexpr std::size_t kMaxNesting = 64;

// Types only the server may send: a peer must not be able to pose as the server.
bool isServerOnlyType(const std::string& type)
{
    static constexpr std::array<const char*, 3> kTypes{"error", "err", "sms_code_resp"};
    for (const char* t : kTypes) {
        if (type == t) {
            return true;
        }
    }
    return false;
}

void logLine(ConnectionId id, const std::string& what)
{
    log::info("Tavoro rendezvous: #" + std::to_string(id) + " " + what);
}

} // namespace

Hub::Hub(ConnectionSink& sink, RelayAllocator& relays, SmsGateway& sms, DeviceKeyStore& deviceKeys,
    platform::SecureRandom& random, const core::Clock& clock, HubConfig config, ClusterLink* cluster)
    : sink_(sink)
    , relays_(relays)
    , sms_(sms)
    , deviceKeys_(deviceKeys)
    , random_(random)
    , clock_(clock)
    , config_(std::move(config))
    , cluster_(cluster)
    , smsCodes_(clock, random, SmsCodes::Limits{})
    , callRelays_(clock, CallRelays::Limits{})
    , callsByConnection_(config_.callRate, config_.maxTrackedAddresses)
    , callsByAddress_(config_.callRate, config_.maxTrackedAddresses)
    , smsRequestsByAddress_(config_.smsRequestRate, config_.maxTrackedAddresses)
{
}

void Hub::opened(ConnectionId id, const ConnectionInfo& info)
{
    const auto now = clock_.now();
    connections_[id] = Connection{info, now, {}, false, false, {}};
    awaitingHello_.emplace_back(now, id);
    logLine(id, "opened from " + info.peer);
}

void Hub::closed(ConnectionId id)
{
    auto it = connections_.find(id);
    if (it == connections_.end()) {
        return;
    }
    const std::string deviceId = directory_.release(id);
    if (cluster_ && !deviceId.empty()) {
        cluster_->release(deviceId);
    }
    connections_.erase(it);
    callsByConnection_.forget(id);
    logLine(id, deviceId.empty() ? "closed" : "closed (device " + deviceId + ")");
}

void Hub::text(ConnectionId id, std::string_view text)
{
    auto it = connections_.find(id);
    if (it == connections_.end() || it->second.refused || jsonNestingDepth(text) > kMaxNesting) {
        return;
    }
    auto msg = json::parse(text);
    if (!msg || !msg->is_object()) {
        return;
    }
    Connection& connection = it->second;
    if (connection.pending) {
        if (connection.waiting.size() < kMaxWaiting) {
            connection.waiting.emplace_back(text);
        } else {
            connection.refused = true;
            logLine(id, "closed: too many messages while waiting for the cluster");
            sink_.close(id);
        }
        return;
    }
    handle(id, connection, *msg);
}

void Hub::handle(ConnectionId id, Connection& connection, Json& msg)
{
    const std::string type = json::stringField(msg, "type");
    if (type == "hello") {
        hello(id, connection, msg);
        return;
    }
    if (connection.deviceId.empty()) {
        return;
    }
    if (type == "register") {
        registerAlias(id, connection.deviceId, msg);
        return;
    }
    if (type == "sms_code_req") {
        smsCodeRequest(id, connection, msg);
        return;
    }
    const std::string to = json::stringField(msg, "to");
    if (to.empty() || isServerOnlyType(type)) {
        return;
    }
    if (type == "call") {
        call(id, connection, msg, to);
        return;
    }
    if (type == "call_response" || type == "call_ack") {
        answer(connection.deviceId, msg, to);
    }
    deliver(to, msg, connection.deviceId);
}

template <typename Then>
auto Hub::inOrder(ConnectionId id, Then then)
{
    connections_.at(id).pending = true;
    return [this, id, then = std::move(then)](const auto&... answer) mutable {
        auto it = connections_.find(id);
        if (it == connections_.end()) {
            return;
        }
        it->second.pending = false;
        if (it->second.refused) {
            return;
        }
        then(answer...);
        resume(id);
    };
}

void Hub::resume(ConnectionId id)
{
    for (auto it = connections_.find(id); it != connections_.end(); it = connections_.find(id)) {
        Connection& connection = it->second;
        if (connection.refused || connection.pending || connection.waiting.empty()) {
            return;
        }
        const std::string next = std::move(connection.waiting.front());
        connection.waiting.pop_front();
        text(id, next);
    }
}

void Hub::binary(ConnectionId id, const SharedBytes& bytes)
{
    auto it = connections_.find(id);
    if (it == connections_.end() || it->second.deviceId.empty() || it->second.refused) {
        return;
    }
    const auto relay = bytes ? protocol::parseRelayMessage(*bytes) : std::nullopt;
    if (!relay || !isDeviceId(relay->peer)) {
        return;
    }
    const std::string to(relay->peer);
    const auto connection = localConnectionOf(to);
    if (!connection && !cluster_) {
        return;
    }
    // The receiver learns who sent the frame: the ID bytes name the sender on delivery.
    auto stamped = std::make_shared<std::vector<std::uint8_t>>(*bytes);
    std::copy_n(it->second.deviceId.begin(), protocol::relayIdSize, stamped->begin() + 1);
    if (connection) {
        sink_.sendBinary(*connection, std::move(stamped));
    } else {
        const std::string_view body(reinterpret_cast<const char*>(stamped->data()), stamped->size());
        sendElsewhere(ClusterMessage::Kind::binary, to, body);
    }
}

void Hub::tick()
{
    const auto now = clock_.now();
    while (!awaitingHello_.empty() && now - awaitingHello_.front().first >= config_.helloTimeout) {
        const ConnectionId id = awaitingHello_.front().second;
        awaitingHello_.pop_front();
        auto it = connections_.find(id);
        if (it != connections_.end() && it->second.deviceId.empty() && !it->second.refused) {
            it->second.refused = true;
            logLine(id, "closed: no \"hello\" in time");
            sink_.close(id);
        }
    }
    callRelays_.prune();
    smsCodes_.prune();
}

void Hub::hello(ConnectionId id, Connection& connection, const Json& msg)
{
    if (json::stringField(msg, "token") != config_.accessToken) {
        refuse(id, kBadToken, "wrong access token");
        return;
    }
    const std::string deviceId = json::stringField(msg, "device_id");
    if (!isDeviceId(deviceId)) {
        refuse(id, kBadDeviceId, "malformed device ID");
        return;
    }
    const auto key = msg.find("device_key");
    if (key != msg.end() && !(key->is_string() && isDeviceKey(key->get_ref<const std::string&>()))) {
        refuse(id, kBadDeviceKey, "malformed device key");
        return;
    }
    const std::string deviceKey = key == msg.end() ? std::string() : key->get<std::string>();
    std::string newKey;
    if (!cluster_) {
        const Ownership ownership = ownershipOf(deviceId, deviceKey);
        if (ownership == Ownership::stranger) {
            refuse(id, kIdOwned, "device " + deviceId + " belongs to another key");
            return;
        }
        newKey = ownership == Ownership::unclaimed ? deviceKey : std::string();
    }
    switch (directory_.claim(id, deviceId)) {
    case Directory::Claim::bound:
        if (!cluster_) {
            bind(id, connection, deviceId, newKey);
            return;
        }
        cluster_->claim(deviceId, deviceKey.empty() ? std::string() : deviceKeyDigest(deviceKey),
            inOrder(id, [this, id, deviceId, deviceKey](ClusterLink::Claim result) {
                claimed(id, deviceId, deviceKey, result);
            }));
        return;
    case Directory::Claim::alreadyHeld:
        return;
    case Directory::Claim::takenElsewhere:
        // In a cluster a wrong key for a device online here is told as such, like on a single server.
        if (ownershipOf(deviceId, deviceKey) == Ownership::stranger) {
            refuse(id, kIdOwned, "device " + deviceId + " belongs to another key");
            return;
        }
        refuse(id, kIdTaken, "device " + deviceId + " is already online");
        return;
    case Directory::Claim::connectionHasAnotherId:
        refuse(id, kOtherId, "already bound to device " + connection.deviceId);
        return;
    }
}

// The cluster decides on the key when it can; this server's own store keeps a copy of the keys it
// sees, and decides when the cluster cannot be reached.
void Hub::claimed(ConnectionId id, const std::string& deviceId, const std::string& key, ClusterLink::Claim result)
{
    using Claim = ClusterLink::Claim;
    if (result == Claim::takenElsewhere) {
        refuse(id, kIdTaken, "device " + deviceId + " is already online");
        return;
    }
    const Ownership local = ownershipOf(deviceId, key);
    if (result == Claim::ownedByAnotherKey || (result == Claim::unchecked && local == Ownership::stranger)) {
        refuse(id, kIdOwned, "device " + deviceId + " belongs to another key");
        return;
    }
    bind(id, connections_.at(id), deviceId, local == Ownership::unclaimed ? key : std::string());
}

void Hub::bind(ConnectionId id, Connection& connection, const std::string& deviceId, const std::string& newKey)
{
    connection.deviceId = deviceId;
    if (!newKey.empty()) {
        rememberKey(deviceId, newKey);
    }
    logLine(id, "is device " + deviceId);
}

Hub::Ownership Hub::ownershipOf(const std::string& deviceId, const std::string& key)
{
    const auto stored = deviceKeys_.find(deviceId);
    if (!stored) {
        return Ownership::unclaimed;
    }
    return !key.empty() && sameDigest(*stored, deviceKeyDigest(key)) ? Ownership::owner : Ownership::stranger;
}

void Hub::rememberKey(const std::string& deviceId, const std::string& key)
{
    // The device is let in all the same: refusing every new device while the store fails would
    // lock out more than an attacker could.
    if (!deviceKeys_.add(deviceId, deviceKeyDigest(key))) {
        log::warn("Tavoro rendezvous: could not store the key of device " + deviceId);
    }
}

void Hub::registerAlias(ConnectionId id, const std::string& deviceId, const Json& msg)
{
    const std::string phone = json::stringField(msg, "phone");
    if (phone.empty()) {
        directory_.unbindAlias(deviceId);
        if (cluster_) {
            cluster_->unbindAlias(deviceId);
        }
        return;
    }
    if (!isPhoneAlias(phone)) {
        replyError(id, kBadPhone);
        return;
    }
    const bool smsAuth = json::boolField(msg, "sms_auth");
    if (!cluster_) {
        replyAlias(id, phone, directory_.bindAlias(deviceId, phone, smsAuth) == Directory::AliasResult::bound);
        return;
    }
    cluster_->bindAlias(deviceId, phone, smsAuth,
        inOrder(id, [this, id, deviceId, phone, smsAuth](ClusterLink::AliasBinding result) {
            using Binding = ClusterLink::AliasBinding;
            // This server's directory keeps the binding too, for when the cluster cannot be reached.
            const bool bound = result != Binding::duplicate
                && directory_.bindAlias(deviceId, phone, smsAuth) == Directory::AliasResult::bound;
            if (result == Binding::bound && !bound) {
                cluster_->unbindAlias(deviceId);
            }
            replyAlias(id, phone, bound);
        }));
}

void Hub::replyAlias(ConnectionId id, const std::string& alias, bool bound)
{
    reply(id, Json{{"type", "register"}, {bound ? "phone_id" : "phone_dup", alias}});
}

void Hub::smsCodeRequest(ConnectionId id, const Connection& requester, const Json& msg)
{
    using SmsIssue = ClusterLink::SmsIssue;
    if (!smsRequestsByAddress_.allow(requester.info.peerAddress, clock_.now())) {
        replyError(id, kSmsTooSoon);
        return;
    }
    const std::string alias = json::stringField(msg, "to");
    if (!cluster_) {
        if (!directory_.deviceForAlias(alias)) {
            smsCodeIssued(id, alias, {}, SmsIssue::unbound);
            return;
        }
        const auto issued = smsCodes_.issue(requester.deviceId, alias);
        smsCodeIssued(id, alias, issued.code.value_or(""), issued.code ? SmsIssue::issued : SmsIssue::tooSoon);
        return;
    }
    if (!isPhoneAlias(alias)) {
        smsCodeIssued(id, alias, {}, SmsIssue::unbound);
        return;
    }
    const std::string code = makeSmsCode(random_);
    cluster_->issueSmsCode(requester.deviceId, alias, code,
        inOrder(id, [this, id, alias, code](SmsIssue result) { smsCodeIssued(id, alias, code, result); }));
}

void Hub::smsCodeIssued(ConnectionId id, const std::string& alias, const std::string& code, ClusterLink::SmsIssue result)
{
    switch (result) {
    case ClusterLink::SmsIssue::unbound:
        replyError(id, kPhoneUnbound);
        return;
    case ClusterLink::SmsIssue::tooSoon:
        replyError(id, kSmsTooSoon);
        return;
    case ClusterLink::SmsIssue::issued:
        sms_.sendCode(phoneNumberOf(alias), code);
        reply(id, Json{{"type", "sms_code_resp"}, {"phone", alias}});
        return;
    }
}

void Hub::call(ConnectionId id, const Connection& caller, Json& msg, const std::string& to)
{
    if (!withinCallRate(id, caller)) {
        replyOffline(id, caller.deviceId, to, json::stringField(msg, "call_id"));
        return;
    }
    if (!cluster_) {
        callLocally(id, msg, to, true);
        return;
    }
    if (!isDeviceId(to) && !isPhoneAlias(to)) {
        replyOffline(id, caller.deviceId, to, json::stringField(msg, "call_id"));
        return;
    }
    using Found = ClusterLink::Found;
    cluster_->findCallee(to, json::stringField(msg, "password"),
        inOrder(id, [this, id, msg, to](Found found, const ClusterLink::Callee& callee) mutable {
            if (found == Found::unchecked) {
                callLocally(id, msg, to, false);
            } else if (found == Found::offline) {
                replyOffline(id, connections_.at(id).deviceId, to, json::stringField(msg, "call_id"));
            } else {
                placeCall(id, msg, callee.deviceId, callee.node, callee.smsVerified);
            }
        }));
}

void Hub::callLocally(ConnectionId id, Json& msg, const std::string& to, bool withSmsCodes)
{
    const auto callee = directory_.resolve(to);
    if (!callee || !localConnectionOf(*callee)) {
        replyOffline(id, connections_.at(id).deviceId, to, json::stringField(msg, "call_id"));
        return;
    }
    placeCall(id, msg, *callee, {}, withSmsCodes && redeemLocally(*callee, msg));
}

// The relay is made only once the callee is known to be online, so that calls to absent devices do
// not use up the caller's relay sessions.
void Hub::placeCall(ConnectionId id, Json& msg, const std::string& callee, const std::string& node, bool smsVerified)
{
    const Connection& caller = connections_.at(id);
    if (node.empty() && !localConnectionOf(callee)) {
        replyOffline(id, caller.deviceId, json::stringField(msg, "to"), json::stringField(msg, "call_id"));
        return;
    }
    prepareCall(caller, msg, callee, smsVerified);
    if (node.empty()) {
        deliver(callee, msg, caller.deviceId);
        return;
    }
    msg["from"] = caller.deviceId;
    if (auto text = json::dump(msg)) {
        cluster_->send(node, encodeClusterMessage(ClusterMessage::Kind::text, callee, *text));
    }
}

bool Hub::redeemLocally(const std::string& callee, const Json& msg)
{
    const auto alias = directory_.aliasOf(callee);
    return alias && alias->smsAuth && smsCodes_.redeem(alias->alias, json::stringField(msg, "password"));
}

void Hub::replyOffline(ConnectionId id, const std::string& callerId, const std::string& to, const std::string& callId)
{
    reply(id, Json{{"type", "call_ack"}, {"from", to}, {"to", callerId}, {"call_id", callId}, {"accepted", false},
                  {"reason", kOffline}});
}

void Hub::prepareCall(const Connection& caller, Json& msg, const std::string& callee, bool smsVerified)
{
    const std::string callId = json::stringField(msg, "call_id");
    // Only the server vouches for these: a caller's own "sms_verified" would skip the password check.
    msg.erase("sms_verified");
    msg.erase("relay");
    // A call to oneself would join two addresses of the caller's choosing: it gets no relay.
    if (auto relay = callee == caller.deviceId ? std::nullopt : allocateRelay(caller)) {
        msg["relay"] = *relay;
        callRelays_.remember(callId, caller.deviceId, callee, std::move(*relay));
    }
    if (smsVerified) {
        msg["sms_verified"] = true;
    }
}

bool Hub::withinCallRate(ConnectionId id, const Connection& caller)
{
    const auto now = clock_.now();
    return callsByConnection_.allow(id, now) && callsByAddress_.allow(caller.info.peerAddress, now);
}

void Hub::answer(const std::string& calleeId, Json& msg, const std::string& to)
{
    // Only the server hands out relays: a relay written by anyone else would point the caller's
    // transport at a UDP target of that sender's choosing.
    msg.erase("relay");
    if (auto relay = callRelays_.take(json::stringField(msg, "call_id"), to, calleeId)) {
        msg["relay"] = std::move(*relay);
    }
}

std::optional<nlohmann::json> Hub::allocateRelay(const Connection& caller)
{
    const std::string host = config_.publicHost.empty() ? caller.info.localAddress : config_.publicHost;
    if (host.empty()) {
        return std::nullopt;
    }
    std::string token = makeRelayToken(random_);
    if (!relays_.allocate(token, caller.deviceId, caller.info.peerAddress)) {
        return std::nullopt;
    }
    return Json{{"host", host}, {"port", relays_.port()}, {"token", std::move(token)}};
}

void Hub::deliver(const std::string& deviceId, Json& msg, const std::string& fromId)
{
    const auto connection = localConnectionOf(deviceId);
    if (!connection && !(cluster_ && isDeviceId(deviceId))) {
        return;
    }
    msg["from"] = fromId;
    auto text = json::dump(msg);
    if (!text) {
        return;
    }
    if (connection) {
        sink_.sendText(*connection, std::move(*text));
    } else {
        sendElsewhere(ClusterMessage::Kind::text, deviceId, *text);
    }
}

void Hub::sendElsewhere(ClusterMessage::Kind kind, const std::string& deviceId, std::string_view body)
{
    cluster_->forward(deviceId, encodeClusterMessage(kind, deviceId, body));
}

void Hub::fromCluster(std::string_view payload)
{
    const auto message = decodeClusterMessage(payload);
    const bool delivered = message
        && (message->kind == ClusterMessage::Kind::text ? textFromCluster(*message) : binaryFromCluster(*message));
    if (!delivered) {
        log::warn("Tavoro rendezvous: dropped a malformed message from another node");
    }
}

void Hub::lostToCluster(const std::string& deviceId)
{
    if (const auto connection = localConnectionOf(deviceId); connection && !connections_[*connection].refused) {
        refuse(*connection, kIdTaken, "device " + deviceId + " is online on another node");
    }
}

bool Hub::textFromCluster(const ClusterMessage& message)
{
    auto msg = jsonNestingDepth(message.body) <= kMaxNesting ? json::parse(message.body) : std::nullopt;
    if (!msg || !msg->is_object() || !isDeviceId(json::stringField(*msg, "from"))) {
        return false;
    }
    const auto connection = localConnectionOf(message.deviceId);
    if (!connection) {
        return true;
    }
    const std::string type = json::stringField(*msg, "type");
    if (type != "call_response" && type != "call_ack") {
        sink_.sendText(*connection, message.body);
        return true;
    }
    answer(json::stringField(*msg, "from"), *msg, message.deviceId);
    if (auto text = json::dump(*msg)) {
        sink_.sendText(*connection, std::move(*text));
    }
    return true;
}

bool Hub::binaryFromCluster(const ClusterMessage& message)
{
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(message.body.begin(), message.body.end());
    const auto relay = protocol::parseRelayMessage(*bytes);
    if (!relay || !isDeviceId(relay->peer)) {
        return false;
    }
    if (const auto connection = localConnectionOf(message.deviceId)) {
        sink_.sendBinary(*connection, std::move(bytes));
    }
    return true;
}

std::optional<ConnectionId> Hub::localConnectionOf(const std::string& deviceId) const
{
    const auto connection = directory_.connectionOf(deviceId);
    if (!connection) {
        return std::nullopt;
    }
    const auto it = connections_.find(*connection);
    return it != connections_.end() && it->second.deviceId == deviceId ? connection : std::nullopt;
}

void Hub::reply(ConnectionId id, const Json& msg)
{
    if (auto text = json::dump(msg)) {
        sink_.sendText(id, std::move(*text));
    }
}

void Hub::replyError(ConnectionId id, const std::string& message)
{
    reply(id, Json{{"type", "error"}, {"err", {{"message", message}}}});
}

void Hub::refuse(ConnectionId id, const std::string& message, const std::string& logReason)
{
    connections_[id].refused = true;
    logLine(id, "refused: " + logReason);
    replyError(id, message);
    sink_.close(id);
}

} // namespace tavoro::server
