#include "server/hub.h"

#include "core/log.h"
#include "platform/fake/manual_clock.h"
#include "platform/fake/sequence_random.h"
#include "server/device_key_digest.h"
#include "server/relay_table.h"
#include "support/relay_datagrams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

namespace tavoro::server {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

struct RecordingSink final : ConnectionSink {
    void sendText(ConnectionId id, std::string text) override { texts.emplace_back(id, json::parse(text)); }
    void sendBinary(ConnectionId id, SharedBytes bytes) override { binaries.emplace_back(id, std::move(bytes)); }
    void close(ConnectionId id) override { closed.push_back(id); }

    // Messages sent to one connection, oldest first.
    std::vector<json> to(ConnectionId id) const
    {
        std::vector<json> out;
        for (const auto& [target, msg] : texts) {
            if (target == id) {
                out.push_back(msg);
            }
        }
        return out;
    }
    bool wasClosed(ConnectionId id) const { return std::find(closed.begin(), closed.end(), id) != closed.end(); }

    std::vector<std::pair<ConnectionId, json>> texts;
    std::vector<std::pair<ConnectionId, SharedBytes>> binaries;
    std::vector<ConnectionId> closed;
};

struct FakeRelays final : RelayAllocator {
    struct Allocation {
        std::string token;
        std::string owner;
        std::string ownerAddress;
    };
    bool allocate(const std::string& token, const std::string& owner, const std::string& ownerAddress) override
    {
        allocations.push_back({token, owner, ownerAddress});
        return !full;
    }
    std::uint16_t port() const override { return 3479; }
    std::vector<Allocation> allocations;
    bool full = false;
};

// The relay's own session table behind the hub, for the limits it keeps.
struct TableRelays final : RelayAllocator {
    TableRelays(const core::Clock& clock, RelayTable::Limits limits) : table(clock, random, limits) {}
    bool allocate(const std::string& token, const std::string& owner, const std::string& ownerAddress) override
    {
        return table.allocate(token, owner, ownerAddress);
    }
    std::uint16_t port() const override { return 3479; }

    // Two new addresses bind to token and answer their challenges, as two transports do: it relays.
    void relay(const std::string& token)
    {
        for (int end = 0; end < 2; ++end) {
            const Ipv4Endpoint from{0x0A000000, ++nextPort};
            auto challenge = table.route(from, test::relayBindDatagram(token));
            ASSERT_TRUE(challenge);
            table.route(from, test::relayProofFor(challenge->reply));
        }
    }

    platform::fake::SequenceRandom random{{0x5E, 0x17, 0xC2}};
    RelayTable table;
    std::uint16_t nextPort = 0;
};

// The other nodes of a cluster, answering when the test says so (as Redis answers later).
struct FakeCluster final : ClusterLink {
    void claim(const std::string& deviceId, const std::string& keyDigest, std::function<void(Claim)> done) override
    {
        claims.emplace_back(deviceId, std::move(done));
        digests.push_back(keyDigest);
    }
    void release(const std::string& deviceId) override { released.push_back(deviceId); }
    void forward(const std::string& deviceId, std::string payload) override
    {
        if (auto holder = nodes.find(deviceId); holder != nodes.end()) {
            sent.emplace_back(holder->second, std::move(payload));
        }
    }
    void send(const std::string& node, std::string payload) override { sent.emplace_back(node, std::move(payload)); }
    void bindAlias(const std::string& deviceId, const std::string& alias, bool, std::function<void(AliasBinding)> done) override
    {
        answers.push_back([=, this] { done(aliasAnswer ? *aliasAnswer : aliasAnswerFor(deviceId, alias)); });
    }
    void unbindAlias(const std::string& deviceId) override { unbound.push_back(deviceId); }
    void findCallee(const std::string& to, const std::string& password, std::function<void(Found, const Callee&)> done) override
    {
        answers.push_back([=, this] {
            const auto callee = callees.find(to);
            if (callee == callees.end()) {
                done(calleeAnswer, {});
                return;
            }
            done(Found::online, Callee{callee->second.deviceId, callee->second.node, password == "good"});
        });
    }
    void issueSmsCode(const std::string&, const std::string&, const std::string& code, std::function<void(SmsIssue)> done) override
    {
        answers.push_back([this, done] { done(smsAnswer); });
        codes.push_back(code);
    }

    void answerClaim(const std::string& deviceId, bool granted)
    {
        answerClaim(deviceId, granted ? Claim::granted : Claim::takenElsewhere);
    }
    void answerClaim(const std::string& deviceId, Claim result)
    {
        auto it = std::find_if(claims.begin(), claims.end(), [&](const auto& c) { return c.first == deviceId; });
        ASSERT_NE(it, claims.end()) << deviceId;
        auto done = std::move(it->second);
        claims.erase(it);
        done(result);
    }
    // Answers alias bindings, callee lookups and SMS code requests, in the order asked, until none is left.
    void answer()
    {
        while (!answers.empty()) {
            for (auto& done : std::exchange(answers, {})) {
                done();
            }
        }
    }
    AliasBinding aliasAnswerFor(const std::string& deviceId, const std::string& alias)
    {
        return aliases.emplace(alias, deviceId).first->second == deviceId ? AliasBinding::bound : AliasBinding::duplicate;
    }
    // The message a payload sent to another node carries.
    static json messageOf(const std::string& payload) { return json::parse(payload.substr(10)); }

    std::map<std::string, std::string> nodes; // device ID -> the other node holding it
    std::vector<std::pair<std::string, std::function<void(Claim)>>> claims;
    std::vector<std::string> digests; // of the claims, in order
    std::vector<std::function<void()>> answers;
    std::map<std::string, std::string> aliases; // alias -> device ID, across the cluster
    std::optional<AliasBinding> aliasAnswer;    // instead of the binding, when set
    std::map<std::string, Callee> callees;      // "to" -> the device found ("good" is every code)
    Found calleeAnswer = Found::offline;        // for any other "to"
    SmsIssue smsAnswer = SmsIssue::issued;
    std::vector<std::string> codes; // issued, in order
    std::vector<std::string> released;
    std::vector<std::string> unbound;
    std::vector<std::pair<std::string, std::string>> sent;
};

struct RecordingSms final : SmsGateway {
    void sendCode(const std::string& phone, const std::string& code) override { sent.emplace_back(phone, code); }
    std::vector<std::pair<std::string, std::string>> sent;
};

constexpr ConnectionId kA = 1;
constexpr ConnectionId kB = 2;
constexpr ConnectionId kC = 3;
const std::string kIdA = "100000001";
const std::string kIdB = "100000002";
const std::string kIdC = "100000003";

class HubTest : public ::testing::Test {
protected:
    HubTest() { config.publicHost = ""; }

    Hub& hub()
    {
        if (!hub_) {
            hub_ = std::make_unique<Hub>(sink, *allocator, sms, deviceKeys, random, clock, config, cluster);
        }
        return *hub_;
    }
    void open(ConnectionId id, const std::string& address = "198.51.100.7")
    {
        hub().opened(id, ConnectionInfo{address + ":50000", "192.0.2.10", address});
    }
    void send(ConnectionId id, const json& msg) { hub().text(id, msg.dump()); }
    void online(ConnectionId id, const std::string& deviceId, const std::string& address = "198.51.100.7")
    {
        open(id, address);
        send(id, {{"type", "hello"}, {"device_id", deviceId}, {"token", "qxm"}});
    }
    void bindPhone(ConnectionId id, const std::string& phone, bool smsAuth)
    {
        send(id, {{"type", "register"}, {"phone", phone}, {"sms_auth", smsAuth}});
    }
    std::string requestCode(ConnectionId id, const std::string& phone)
    {
        send(id, {{"type", "sms_code_req"}, {"to", phone}});
        return sms.sent.empty() ? std::string() : sms.sent.back().second;
    }
    json lastTo(ConnectionId id) const
    {
        auto all = sink.to(id);
        return all.empty() ? json() : all.back();
    }

    platform::fake::ManualClock clock;
    // 23 bytes: each 24-byte relay token starts one byte further on, so 23 calls get distinct tokens.
    platform::fake::SequenceRandom random{{0x12, 0x9C, 0x47, 0xE1, 0x05, 0xB3, 0x6A, 0xF0, 0x3D, 0x88, 0x21, 0x5F,
        0xC7, 0x0E, 0x94, 0x3A, 0xD1, 0x66, 0x2C, 0xB9, 0x70, 0x4B, 0xEE}};
    RecordingSink sink;
    FakeRelays relays;
    RelayAllocator* allocator = &relays; // the one the hub is made with
    RecordingSms sms;
    MemoryDeviceKeyStore deviceKeys;
    HubConfig config;
    ClusterLink* cluster = nullptr; // the one the hub is made with

private:
    std::unique_ptr<Hub> hub_;
};

TEST_F(HubTest, HelloNeedsTheTokenAndANineDigitIdAndNothingCountsBeforeIt)
{
    open(kA);
    send(kA, {{"type", "register"}, {"phone", "13800000000"}});
    send(kA, {{"type", "push_msg"}, {"to", kIdB}});
    EXPECT_TRUE(sink.texts.empty());

    send(kA, {{"type", "hello"}, {"device_id", kIdA}, {"token", "QXM"}});
    EXPECT_EQ(lastTo(kA)["type"], "error");
    EXPECT_TRUE(sink.wasClosed(kA));
    send(kA, {{"type", "hello"}, {"device_id", kIdA}, {"token", "qxm"}});
    EXPECT_EQ(hub().onlineCount(), 0u) << "a refused connection stays refused";

    for (const json& id : {json("12345678"), json("1234567890"), json("12345678x"), json(123456789)}) {
        open(kB);
        send(kB, {{"type", "hello"}, {"device_id", id}, {"token", "qxm"}});
        EXPECT_TRUE(sink.wasClosed(kB)) << id;
        hub().closed(kB);
        sink.closed.clear();
    }
    EXPECT_EQ(hub().onlineCount(), 0u);
}

TEST_F(HubTest, OneLiveConnectionPerIdAndTheHolderKeepsIt)
{
    online(kA, kIdA);
    online(kB, kIdA);
    EXPECT_EQ(lastTo(kB)["err"]["message"], "该设备 ID 已在其他连接上在线");
    EXPECT_TRUE(sink.wasClosed(kB));
    EXPECT_FALSE(sink.wasClosed(kA));
    hub().closed(kB);
    online(kC, kIdC);
    send(kC, {{"type", "call"}, {"to", kIdA}, {"call_id", "1"}});
    EXPECT_EQ(lastTo(kA)["type"], "call") << "the holder still gets its calls";
    hub().closed(kC);

    send(kA, {{"type", "hello"}, {"device_id", kIdA}, {"token", "qxm"}});
    EXPECT_FALSE(sink.wasClosed(kA)) << "saying hello again is harmless";
    send(kA, {{"type", "hello"}, {"device_id", kIdB}, {"token", "qxm"}});
    EXPECT_TRUE(sink.wasClosed(kA)) << "a connection cannot change its ID";

    hub().closed(kA);
    online(kC, kIdA);
    EXPECT_FALSE(sink.wasClosed(kC));
    EXPECT_EQ(hub().onlineCount(), 1u);
}

TEST_F(HubTest, AnIdFirstClaimedWithAKeyBelongsToThatKeyOnlineOrNot)
{
    const std::string k1(43, 'a');
    const std::string k2 = std::string(42, 'a') + "_";
    const json none = nullptr;
    constexpr const char* kBound = nullptr;
    constexpr const char* kOwned = "设备 ID 已被另一台设备占用";
    constexpr const char* kMalformed = "设备密钥格式不正确";
    constexpr const char* kOnline = "该设备 ID 已在其他连接上在线";
    struct Step {
        ConnectionId connection;
        std::string deviceId;
        json key;            // null: no "device_key"
        const char* refusal; // null: bound
        bool leaves;         // a bound connection closes after the step
    };
    const Step steps[] = {
        {kA, kIdA, none, kBound, true}, // without a key an ID stays free for anyone
        {kB, kIdB, none, kBound, false},
        {kC, kIdB, k1, kOnline, true}, // refused: k1 is not stored for kIdB
        {kA, kIdA, k2, kBound, true},  // k2 owns kIdA from now on, offline too
        {kA, kIdA, k1, kOwned, true},
        {kA, kIdA, none, kOwned, true},
        {kA, kIdA, std::string(42, 'a'), kMalformed, true},
        {kA, kIdA, k1 + "=", kMalformed, true},
        {kA, kIdA, std::string(42, 'a') + "+", kMalformed, true},
        {kA, kIdA, 12345, kMalformed, true},
        {kA, kIdA, "", kMalformed, true},
        {kA, kIdA, k2, kBound, false},
        {kC, kIdA, k1, kOwned, true}, // and while the owner is online
    };
    for (const auto& step : steps) {
        sink.closed.clear();
        open(step.connection);
        json hello = {{"type", "hello"}, {"device_id", step.deviceId}, {"token", "qxm"}};
        if (!step.key.is_null()) {
            hello["device_key"] = step.key;
        }
        send(step.connection, hello);
        const auto where = step.deviceId + " with key " + step.key.dump();
        EXPECT_EQ(sink.wasClosed(step.connection), step.refusal != nullptr) << where;
        if (step.refusal) {
            EXPECT_EQ(lastTo(step.connection)["err"]["message"], step.refusal) << where;
        }
        if (step.leaves) {
            hub().closed(step.connection);
        }
    }
    EXPECT_EQ(deviceKeys.find(kIdA), deviceKeyDigest(k2)) << "only a digest is kept";
    EXPECT_EQ(deviceKeys.find(kIdB), std::nullopt);
}

TEST_F(HubTest, ConnectionsThatNeverSayHelloAreClosedAfterThirtySeconds)
{
    open(kA);
    clock.advance(10s);
    online(kB, kIdB);
    open(kC);
    clock.advance(19s);
    hub().tick();
    EXPECT_TRUE(sink.closed.empty());
    clock.advance(1s);
    hub().tick();
    EXPECT_EQ(sink.closed, std::vector<ConnectionId>{kA});
    clock.advance(10s);
    hub().tick();
    EXPECT_EQ(sink.closed, (std::vector<ConnectionId>{kA, kC})) << "the bound connection stays";
}

TEST_F(HubTest, MessagesNestedDeeperThanSixtyFourLevelsAreDropped)
{
    online(kA, kIdA);
    online(kB, kIdB);
    const std::string prefix = R"({"type":"push_msg","to":")" + kIdB + R"(","deep":)";
    hub().text(kA, prefix + std::string(63, '[') + std::string(63, ']') + "}");
    EXPECT_EQ(sink.to(kB).size(), 1u) << "64 levels including the envelope";
    hub().text(kA, prefix + std::string(64, '[') + std::string(64, ']') + "}");
    hub().text(kA, prefix + std::string(200000, '[') + std::string(200000, ']') + "}");
    EXPECT_EQ(sink.to(kB).size(), 1u);
}

TEST_F(HubTest, JunkAndServerTypesFromAPeerReachNobodyWhileUnknownTypesAreForwarded)
{
    online(kA, kIdA);
    online(kB, kIdB);
    for (const char* junk : {"{", "[1,2]", "\"to\"", "null", R"({"type":"push_msg","to":100000002})"}) {
        hub().text(kA, junk);
    }
    for (const char* type : {"error", "err", "sms_code_resp"}) {
        send(kA, {{"type", type}, {"to", kIdB}, {"err", {{"message", "peers cannot pose as the server"}}}});
    }
    send(kA, {{"type", "push_msg"}, {"to", "100000099"}, {"text", "to nobody"}});
    EXPECT_TRUE(sink.to(kB).empty());
    send(kA, {{"type", "no_such_type"}, {"to", kIdB}});
    EXPECT_EQ(sink.to(kB), std::vector<json>{(json{{"type", "no_such_type"}, {"to", kIdB}, {"from", kIdA}})});
}

TEST_F(HubTest, CallsGetARelayThatTheMatchingAnswerRepeats)
{
    online(kA, kIdA);
    online(kB, kIdB);
    online(kC, kIdC);
    send(kA, {{"type", "call"}, {"to", kIdB}, {"call_id", "7"}, {"password", "p"}});
    const json call = lastTo(kB);
    ASSERT_EQ(relays.allocations.size(), 1u);
    EXPECT_EQ(relays.allocations[0].owner, kIdA) << "allocated on behalf of the caller";
    EXPECT_EQ(relays.allocations[0].ownerAddress, "198.51.100.7") << "from the caller's address";
    EXPECT_EQ(call["relay"], (json{{"host", "192.0.2.10"}, {"port", 3479}, {"token", relays.allocations[0].token}}));
    EXPECT_EQ(relays.allocations[0].token.size(), 24u);

    // Another device answering with the same call ID gets nothing; the callee's answer gets it once.
    send(kC, {{"type", "call_response"}, {"to", kIdA}, {"call_id", "7"}, {"accepted", true}});
    EXPECT_FALSE(lastTo(kA).contains("relay"));
    send(kB, {{"type", "call_response"}, {"to", kIdA}, {"call_id", "7"}, {"accepted", true}});
    EXPECT_EQ(lastTo(kA)["relay"], call["relay"]);
    send(kB, {{"type", "call_response"}, {"to", kIdA}, {"call_id", "7"}, {"accepted", true}});
    EXPECT_FALSE(lastTo(kA).contains("relay"));

    // No relay to hand out: a relay the caller wrote itself is not passed on either.
    relays.full = true;
    send(kA, {{"type", "call"}, {"to", kIdB}, {"call_id", "2"}, {"relay", {{"host", "evil"}, {"port", 1}, {"token", "t"}}}});
    EXPECT_FALSE(lastTo(kB).contains("relay"));
    send(kB, {{"type", "call_response"}, {"to", kIdA}, {"call_id", "2"}, {"accepted", true}});
    EXPECT_FALSE(lastTo(kA).contains("relay"));
}

TEST_F(HubTest, ACallToOnesOwnDeviceGetsNoRelay)
{
    online(kA, kIdA);
    send(kA, {{"type", "call"}, {"to", kIdA}, {"call_id", "1"}, {"relay", {{"host", "203.0.113.9"}, {"port", 53}, {"token", "t"}}}});
    EXPECT_EQ(lastTo(kA)["type"], "call");
    EXPECT_FALSE(lastTo(kA).contains("relay"));
    EXPECT_TRUE(relays.allocations.empty());
    send(kA, {{"type", "call_response"}, {"to", kIdA}, {"call_id", "1"}, {"accepted", true}});
    EXPECT_FALSE(lastTo(kA).contains("relay"));
}

// A device holds at most 4 live relays, a source address 6 here: beyond that, while all of them relay,
// a call goes through without one.
TEST_F(HubTest, RelaysAreLimitedPerCallingDeviceAndPerSourceAddress)
{
    TableRelays table(clock, {.maxSessionsPerAddress = 6});
    allocator = &table;
    online(kA, kIdA, "198.51.100.7");
    online(kB, kIdB, "198.51.100.7");
    online(kC, kIdC, "203.0.113.5");
    int callId = 0;
    const auto relayedCall = [&](ConnectionId from, ConnectionId target, const std::string& targetId) {
        send(from, {{"type", "call"}, {"to", targetId}, {"call_id", std::to_string(++callId)}});
        const json call = lastTo(target);
        EXPECT_EQ(call["type"], "call");
        if (!call.contains("relay")) {
            return false;
        }
        table.relay(call["relay"]["token"]);
        return true;
    };
    struct Step {
        ConnectionId from, target;
        const std::string& targetId;
        int calls;
        int relayed;
    };
    const Step steps[] = {
        {kA, kC, kIdC, 5, 4}, // the device's limit
        {kB, kC, kIdC, 3, 2}, // the address's limit: 4 + 2
        {kC, kA, kIdA, 1, 1}, // another device at another address
    };
    for (const auto& step : steps) {
        int relayed = 0;
        for (int i = 0; i < step.calls; ++i) {
            relayed += relayedCall(step.from, step.target, step.targetId) ? 1 : 0;
        }
        EXPECT_EQ(relayed, step.relayed) << "calls from #" << step.from;
    }
}

TEST_F(HubTest, AnswersLoseTheRelayTheyCarryUnlessItIsTheCallsOwn)
{
    online(kA, kIdA);
    online(kB, kIdB);
    online(kC, kIdC);
    send(kA, {{"type", "call"}, {"to", kIdB}, {"call_id", "7"}});
    const json issued = lastTo(kB)["relay"];
    const json forged = {{"host", "203.0.113.9"}, {"port", 53}, {"token", "t"}};
    struct Case {
        ConnectionId from;
        const char* type;
        const char* callId;
        json expectedRelay; // null: none
    };
    const Case cases[] = {
        {kC, "call_response", "7", nullptr}, // a third party, same call ID
        {kC, "call_ack", "7", nullptr},
        {kB, "call_response", "8", nullptr}, // the callee, another call ID
        {kB, "call_ack", "7", issued},       // the callee of the routed call: the server's relay
        {kB, "call_response", "7", nullptr}, // that relay was handed out once
    };
    for (const auto& c : cases) {
        send(c.from, {{"type", c.type}, {"to", kIdA}, {"call_id", c.callId}, {"accepted", true}, {"relay", forged}});
        const json got = lastTo(kA);
        EXPECT_EQ(got["type"], c.type);
        EXPECT_EQ(got.value("relay", json()), c.expectedRelay) << c.from << " " << c.type << " " << c.callId;
    }
}

TEST_F(HubTest, TheRelayHostIsThePublicHostWhenOneIsSet)
{
    config.publicHost = "relay.example.org";
    online(kA, kIdA);
    online(kB, kIdB);
    send(kA, {{"type", "call"}, {"to", kIdB}, {"call_id", "1"}});
    EXPECT_EQ(lastTo(kB)["relay"]["host"], "relay.example.org");
}

TEST_F(HubTest, CallsReachAliasesAndAnOfflineTargetGetsAServerAnswer)
{
    online(kA, kIdA);
    online(kB, kIdB);
    bindPhone(kB, "13800000000:3", false);
    EXPECT_EQ(lastTo(kB), (json{{"type", "register"}, {"phone_id", "13800000000:3"}}));
    bindPhone(kA, "13800000000:2:x", false);
    EXPECT_EQ(lastTo(kA)["type"], "error");
    EXPECT_FALSE(sink.wasClosed(kA)) << "a malformed alias is refused without closing";
    send(kA, {{"type", "call"}, {"to", "13800000000:3"}, {"call_id", "1"}});
    EXPECT_EQ(lastTo(kB)["type"], "call");
    send(kA, {{"type", "call"}, {"to", "13800000000"}, {"call_id", "2"}});
    EXPECT_EQ(lastTo(kA), (json{{"type", "call_ack"}, {"from", "13800000000"}, {"to", kIdA}, {"call_id", "2"},
                              {"accepted", false}, {"reason", "对方不在线"}}));
    EXPECT_EQ(relays.allocations.size(), 1u) << "no relay for a call that goes nowhere";
    send(kA, {{"type", "push_msg"}, {"to", "13800000000:3"}});
    EXPECT_EQ(lastTo(kB)["type"], "call") << "aliases are for calls only";
}

TEST_F(HubTest, PhoneAliasesRefuseDuplicatesAndAreFreedByUnbindingOrDisconnect)
{
    online(kA, kIdA);
    online(kB, kIdB);
    online(kC, kIdC);
    bindPhone(kA, "13800000000", false);
    bindPhone(kB, "13800000000", false);
    EXPECT_EQ(lastTo(kB)["phone_dup"], "13800000000");
    const auto toA = sink.to(kA).size();
    hub().closed(kA);
    bindPhone(kB, "13800000000", false);
    EXPECT_EQ(lastTo(kB)["phone_id"], "13800000000") << "the alias left with its device";
    send(kB, {{"type", "register"}, {"visible", true}}); // no phone: unbinds
    send(kC, {{"type", "call"}, {"to", "13800000000"}, {"call_id", "3"}});
    EXPECT_EQ(lastTo(kC)["reason"], "对方不在线");
    send(kC, {{"type", "push_msg"}, {"to", kIdA}});
    EXPECT_EQ(sink.to(kA).size(), toA) << "the ID left with its device too";
}

TEST_F(HubTest, SmsCodesGoToThePhoneNumberAndVerifyOneCallWithinFiveMinutes)
{
    online(kA, kIdA);
    online(kB, kIdB);
    bindPhone(kA, "13800000000:2", true);
    const std::string code = requestCode(kB, "13800000000:2");
    ASSERT_EQ(sms.sent.size(), 1u);
    EXPECT_EQ(sms.sent[0].first, "13800000000") << "the text goes to the number, not the alias";
    EXPECT_EQ(lastTo(kB), (json{{"type", "sms_code_resp"}, {"phone", "13800000000:2"}}));

    clock.advance(5min - 1s);
    send(kB, {{"type", "call"}, {"to", kIdA}, {"call_id", "1"}, {"password", code}});
    EXPECT_EQ(lastTo(kA)["sms_verified"], true) << "a call by device ID to an SMS-mode device counts too";

    clock.advance(1min);
    const std::string late = requestCode(kB, "13800000000:2");
    clock.advance(5min);
    send(kB, {{"type", "call"}, {"to", "13800000000:2"}, {"call_id", "2"}, {"password", late}});
    EXPECT_FALSE(lastTo(kA).contains("sms_verified")) << "expired";
}

TEST_F(HubTest, SmsCodesNeedSmsModeAndABoundPhoneAndComeOncePerMinute)
{
    online(kA, kIdA);
    online(kB, kIdB);
    requestCode(kB, "13800000000");
    EXPECT_EQ(lastTo(kB)["err"]["message"], "该手机号未绑定设备");
    bindPhone(kA, "13800000000", false);
    const std::string code = requestCode(kB, "13800000000");
    EXPECT_EQ(sms.sent.size(), 1u) << "the unbound request did not count against the minute";
    requestCode(kB, "13800000000");
    EXPECT_EQ(lastTo(kB)["err"]["message"], "验证码请求过于频繁，请 60 秒后再试");
    EXPECT_EQ(sms.sent.size(), 1u);
    send(kB, {{"type", "call"}, {"to", "13800000000"}, {"call_id", "1"}, {"password", code}});
    EXPECT_FALSE(lastTo(kA).contains("sms_verified")) << "the host is not in SMS mode";
    clock.advance(60s);
    requestCode(kB, "13800000000");
    EXPECT_EQ(sms.sent.size(), 2u);
}

TEST_F(HubTest, CallsOverTheRateGetTheOfflineAnswerPerConnectionAndPerAddress)
{
    online(kA, kIdA, "198.51.100.7");
    online(kB, kIdB, "198.51.100.8");
    online(kC, kIdC, "198.51.100.7");
    const auto callFrom = [&](ConnectionId id, const std::string& callId) {
        const auto before = sink.to(kB).size();
        send(id, {{"type", "call"}, {"to", kIdB}, {"call_id", callId}});
        return sink.to(kB).size() > before;
    };
    for (int i = 0; i < 10; ++i) {
        EXPECT_TRUE(callFrom(kA, std::to_string(i))) << i;
    }
    EXPECT_FALSE(callFrom(kA, "10"));
    EXPECT_EQ(lastTo(kA), (json{{"type", "call_ack"}, {"from", kIdB}, {"to", kIdA}, {"call_id", "10"},
                              {"accepted", false}, {"reason", "对方不在线"}}))
        << "the very answer an offline ID gets";
    EXPECT_FALSE(callFrom(kC, "c")) << "another connection from the same address shares its allowance";
    EXPECT_EQ(relays.allocations.size(), 10u);

    hub().closed(kA);
    online(kA, kIdA, "198.51.100.9");
    EXPECT_TRUE(callFrom(kA, "elsewhere"));
    clock.advance(1s);
    EXPECT_TRUE(callFrom(kC, "c1"));
    EXPECT_FALSE(callFrom(kC, "c2")) << "one call a second after the burst";
}

TEST_F(HubTest, SmsRequestsFromManyDevicesOfOneAddressAreLimitedTogether)
{
    online(kA, kIdA, "198.51.100.8");
    bindPhone(kA, "13800000000", true);
    for (int i = 0; i < 11; ++i) {
        const ConnectionId id = 100 + static_cast<ConnectionId>(i);
        online(id, "2000000" + std::to_string(10 + i));
        requestCode(id, "13800000000");
    }
    EXPECT_EQ(sms.sent.size(), 10u);
    EXPECT_EQ(lastTo(110)["err"]["message"], "验证码请求过于频繁，请 60 秒后再试");
    requestCode(kA, "13800000000");
    EXPECT_EQ(sms.sent.size(), 11u) << "another address asks on its own allowance";
}

TEST_F(HubTest, FiveWrongGuessesVoidTheOutstandingCodes)
{
    online(kA, kIdA);
    online(kB, kIdB);
    bindPhone(kA, "13800000000", true);
    const std::string code = requestCode(kB, "13800000000");
    const std::string wrong = code == "999999" ? "999998" : "999999";
    for (int i = 0; i < 4; ++i) {
        send(kB, {{"type", "call"}, {"to", "13800000000"}, {"call_id", std::to_string(i)}, {"password", wrong}});
    }
    send(kB, {{"type", "call"}, {"to", "13800000000"}, {"call_id", "a"}, {"password", code}});
    EXPECT_EQ(lastTo(kA)["sms_verified"], true) << "four wrong guesses are forgiven";

    clock.advance(60s);
    const std::string next = requestCode(kB, "13800000000");
    for (int i = 0; i < 5; ++i) {
        send(kB, {{"type", "call"}, {"to", "13800000000"}, {"call_id", std::to_string(i)}, {"password", wrong}});
    }
    send(kB, {{"type", "call"}, {"to", "13800000000"}, {"call_id", "b"}, {"password", next}});
    EXPECT_FALSE(lastTo(kA).contains("sms_verified"));
}

TEST_F(HubTest, BinaryRelayNeedsTheMarkerAnOnlineTargetAndABoundSender)
{
    online(kA, kIdA);
    online(kB, kIdB);
    open(kC);
    auto message = [](std::uint8_t marker, const std::string& id, std::size_t size = 11) {
        auto bytes = std::make_shared<std::vector<std::uint8_t>>(size, 0x02);
        (*bytes)[0] = marker;
        std::copy(id.begin(), id.end(), bytes->begin() + 1);
        return SharedBytes(bytes);
    };
    hub().binary(kC, message(0xFE, kIdB));
    hub().binary(kA, message(0xFD, kIdB));
    hub().binary(kA, message(0xFE, "100000009"));
    hub().binary(kA, message(0xFE, "10000000x"));
    hub().binary(kA, message(0xFE, kIdB, 10));
    EXPECT_TRUE(sink.binaries.empty());
    const auto good = message(0xFE, kIdB);
    hub().binary(kA, good);
    ASSERT_EQ(sink.binaries.size(), 1u);
    EXPECT_EQ(sink.binaries[0].first, kB);
    auto delivered = *sink.binaries[0].second;
    EXPECT_EQ(std::string(delivered.begin() + 1, delivered.begin() + 10), kIdA) << "names the sender";
    std::copy(kIdB.begin(), kIdB.end(), delivered.begin() + 1);
    EXPECT_EQ(delivered, *good) << "the frame itself unchanged";
}

TEST_F(HubTest, InAClusterAnIdCountsOnceGrantedAndWhatCameMeanwhileFollowsInOrderToOtherNodes)
{
    FakeCluster nodes;
    nodes.nodes[kIdB] = "node-b";
    cluster = &nodes;
    online(kA, kIdA);
    send(kA, {{"type", "push_msg"}, {"to", kIdB}, {"seq", 1}});
    send(kA, {{"type", "push_msg"}, {"to", kIdB}, {"seq", 2}});
    online(kC, kIdC);
    EXPECT_TRUE(nodes.sent.empty()) << "nothing counts before the grant";

    nodes.answerClaim(kIdA, true);
    send(kA, {{"type", "push_msg"}, {"to", kIdC}});
    EXPECT_TRUE(sink.to(kC).empty()) << "a device awaiting its grant gets nothing";
    ASSERT_EQ(nodes.sent.size(), 2u);
    for (int seq : {1, 2}) {
        EXPECT_EQ(nodes.sent[seq - 1].first, "node-b");
        EXPECT_EQ(nodes.sent[seq - 1].second.substr(0, 10), kIdB + " ");
        EXPECT_EQ(FakeCluster::messageOf(nodes.sent[seq - 1].second),
            (json{{"type", "push_msg"}, {"to", kIdB}, {"seq", seq}, {"from", kIdA}}));
    }

    nodes.answerClaim(kIdC, false);
    EXPECT_EQ(lastTo(kC)["err"]["message"], "该设备 ID 已在其他连接上在线");
    EXPECT_TRUE(sink.wasClosed(kC));
    hub().closed(kC);
    EXPECT_EQ(nodes.released, std::vector<std::string>{kIdC}) << "a refused claim is released too (if ours)";

    sink.closed.clear();
    online(kC, kIdC);
    for (int seq = 0; seq < 1024; ++seq) {
        send(kC, {{"type", "push_msg"}, {"to", kIdA}, {"seq", seq}});
    }
    EXPECT_FALSE(sink.wasClosed(kC)) << "1024 messages wait for the grant";
    send(kC, {{"type", "push_msg"}, {"to", kIdA}});
    EXPECT_TRUE(sink.wasClosed(kC)) << "rather than losing the 1025th, the connection is closed";
}

TEST_F(HubTest, InAClusterTheCallersNodeMakesTheRelayAndGivesItToTheAnswerComingBack)
{
    FakeCluster nodes;
    nodes.callees[kIdB] = {kIdB, "node-b"};
    cluster = &nodes;
    online(kA, kIdA);
    nodes.answerClaim(kIdA, true);
    send(kA, {{"type", "call"}, {"to", kIdC}, {"call_id", "1"}});
    nodes.answer();
    EXPECT_EQ(lastTo(kA)["reason"], "对方不在线");
    EXPECT_TRUE(relays.allocations.empty()) << "no relay for a device on no node";

    send(kA, {{"type", "call"}, {"to", kIdB}, {"call_id", "2"}});
    nodes.answer();
    ASSERT_EQ(nodes.sent.size(), 1u);
    const json relay = FakeCluster::messageOf(nodes.sent[0].second)["relay"];
    ASSERT_TRUE(relay.is_object());

    log::Capture log;
    const json answer = {{"type", "call_response"}, {"to", kIdA}, {"from", kIdB}, {"call_id", "2"}, {"accepted", true},
        {"relay", {{"host", "203.0.113.9"}, {"port", 9}, {"token", "forged"}}}};
    for (const std::string& payload : {kIdA + "{}", kIdA + " [1]", kIdA + " {\"type\":\"x\"}"}) {
        hub().fromCluster(payload);
    }
    EXPECT_EQ(log.count("Tavoro rendezvous: dropped a malformed message from another node"), 3u);
    hub().fromCluster(kIdA + " " + answer.dump());
    EXPECT_EQ(lastTo(kA)["relay"], relay);
}

TEST_F(HubTest, InAClusterItDecidesOnKeysAndThisServersStoreOnlyWhenItCannotBeReached)
{
    using Claim = ClusterLink::Claim;
    FakeCluster nodes;
    cluster = &nodes;
    const std::string key(43, 'k');
    deviceKeys.add(kIdC, deviceKeyDigest(std::string(43, 'x')));
    struct Case {
        std::string deviceId;
        Claim answer;
        const char* refusal; // null: bound
    };
    const Case cases[] = {
        {kIdA, Claim::granted, nullptr},
        {kIdB, Claim::ownedByAnotherKey, "设备 ID 已被另一台设备占用"},
        {"100000004", Claim::takenElsewhere, "该设备 ID 已在其他连接上在线"},
        {kIdC, Claim::unchecked, "设备 ID 已被另一台设备占用"}, // this server knows another key
        {"100000005", Claim::unchecked, nullptr},
    };
    ConnectionId id = 10;
    for (const auto& c : cases) {
        open(++id);
        send(id, {{"type", "hello"}, {"device_id", c.deviceId}, {"token", "qxm"}, {"device_key", key}});
        EXPECT_EQ(nodes.digests.back(), deviceKeyDigest(key));
        nodes.answerClaim(c.deviceId, c.answer);
        EXPECT_EQ(sink.wasClosed(id), c.refusal != nullptr) << c.deviceId;
        if (c.refusal) {
            EXPECT_EQ(lastTo(id)["err"]["message"], c.refusal) << c.deviceId;
        }
    }
    EXPECT_EQ(deviceKeys.find(kIdA), deviceKeyDigest(key)) << "a copy for when the cluster cannot be reached";

    open(++id);
    send(id, {{"type", "hello"}, {"device_id", kIdA}, {"token", "qxm"}, {"device_key", std::string(43, 'y')}});
    EXPECT_EQ(lastTo(id)["err"]["message"], "设备 ID 已被另一台设备占用") << "a stranger to a device online here";
}

TEST_F(HubTest, InAClusterAliasesSmsCodesAndCallsAwaitItsAnswerAndWhatTheConnectionSendsMeanwhileFollows)
{
    FakeCluster nodes;
    cluster = &nodes;
    nodes.callees["13800000000"] = {kIdA, ""};
    nodes.callees[kIdB] = {kIdB, "node-b"};
    for (const auto& [id, deviceId] : {std::pair(kA, kIdA), std::pair(kC, kIdC)}) {
        online(id, deviceId);
        nodes.answerClaim(deviceId, true);
    }
    bindPhone(kA, "13800000000", true);
    send(kA, {{"type", "push_msg"}, {"to", kIdC}});
    EXPECT_TRUE(sink.to(kC).empty()) << "behind the binding";
    nodes.answer();
    EXPECT_EQ(sink.to(kA).back(), (json{{"type", "register"}, {"phone_id", "13800000000"}}));
    EXPECT_EQ(lastTo(kC)["type"], "push_msg");
    nodes.aliasAnswer = ClusterLink::AliasBinding::duplicate;
    bindPhone(kC, "13900000000", false);
    nodes.answer();
    EXPECT_EQ(lastTo(kC)["phone_dup"], "13900000000");
    nodes.aliasAnswer = ClusterLink::AliasBinding::unchecked; // bound here alone
    bindPhone(kC, "13900000000", false);
    nodes.answer();
    EXPECT_EQ(lastTo(kC)["phone_id"], "13900000000");

    requestCode(kC, "13800000000");
    nodes.answer();
    ASSERT_EQ(sms.sent.size(), 1u);
    EXPECT_EQ(sms.sent[0], std::pair(std::string("13800000000"), nodes.codes[0]));
    EXPECT_EQ(lastTo(kC), (json{{"type", "sms_code_resp"}, {"phone", "13800000000"}}));
    nodes.smsAnswer = ClusterLink::SmsIssue::tooSoon;
    requestCode(kC, "13800000000");
    nodes.answer();
    EXPECT_EQ(sms.sent.size(), 1u);
    EXPECT_EQ(lastTo(kC)["err"]["message"], "验证码请求过于频繁，请 60 秒后再试");

    send(kC, {{"type", "call"}, {"to", "13800000000"}, {"call_id", "1"}, {"password", "good"}});
    send(kC, {{"type", "call"}, {"to", kIdB}, {"call_id", "2"}});
    send(kC, {{"type", "call"}, {"to", "100000009"}, {"call_id", "3"}});
    nodes.answer();
    const json call = lastTo(kA);
    EXPECT_EQ(call["sms_verified"], true);
    EXPECT_EQ(call["from"], kIdC);
    ASSERT_EQ(nodes.sent.size(), 1u);
    EXPECT_EQ(nodes.sent[0].first, "node-b");
    EXPECT_TRUE(FakeCluster::messageOf(nodes.sent[0].second)["relay"].is_object());
    EXPECT_EQ(lastTo(kC)["call_id"], "3");
    EXPECT_EQ(lastTo(kC)["reason"], "对方不在线");
    EXPECT_EQ(relays.allocations.size(), 2u) << "no relay for a device on no node";

    nodes.calleeAnswer = ClusterLink::Found::unchecked;
    send(kC, {{"type", "call"}, {"to", kIdA}, {"call_id", "4"}, {"password", "good"}});
    nodes.answer();
    EXPECT_EQ(lastTo(kA)["call_id"], "4") << "this server's own devices are still reached";
    EXPECT_FALSE(lastTo(kA).contains("sms_verified"));
}

} // namespace
} // namespace tavoro::server
