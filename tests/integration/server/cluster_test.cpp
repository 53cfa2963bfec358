// Two rendezvous servers sharing one redis-server: one live connection per device ID across both, and
// messages between devices connected to different servers.
#include "core/log.h"
#include "server/file_sms_gateway.h"
#include "server/rendezvous_server.h"
#include "support/child_process.h"
#include "support/redis_process.h"
#include "support/rendezvous_fixture.h"
#include "support/rendezvous_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "support/wss_test_client.h"
#include "tls/certificate.h"

#include <gtest/gtest.h>

#include <regex>

namespace tavoro::server {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

const std::string kAlice = "100000001";
const std::string kBob = "100000002";
const std::string kCarol = "100000003";
const std::string kNobody = "100000009";
const std::string kPhone = "13800000000:1";
const std::string kDroppedLine = "Tavoro rendezvous: dropped a malformed message from another node";

class ClusterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(redis.running());
        for (auto& node : nodes) {
            ServerConfig config;
            config.listenAddress = "127.0.0.1";
            config.listenPort = 0;
            config.relayPort = 0;
            config.stunPort = 0;
            config.identity = *tls::makeSelfSigned("cluster-test");
            config.redis = redis::parseRedisUrl(redis.url()).value();
            config.clusterRenewal = 100ms;
            node = std::make_unique<RendezvousServer>(config, sms);
            const auto started = node->start();
            ASSERT_TRUE(started) << started.error();
            ASSERT_FALSE(node->nodeId().empty());
        }
        ASSERT_NE(nodes[0]->nodeId(), nodes[1]->nodeId());
    }

    std::unique_ptr<test::WssTestClient> connect(int node)
    {
        return test::WssTestClient::connect(clients, nodes[node]->wssPort());
    }

    std::unique_ptr<test::WssTestClient> online(int node, const std::string& deviceId)
    {
        auto client = connect(node);
        EXPECT_TRUE(client && client->hello(deviceId)) << "hello " << deviceId << " on node " << node;
        return client;
    }

    // The first line of redis-cli's answer.
    std::string redisCommand(const std::vector<std::string>& command)
    {
        std::vector<std::string> args = {"-p", std::to_string(redis.port())};
        args.insert(args.end(), command.begin(), command.end());
        test::ChildProcess cli("/usr/bin/redis-cli", args);
        EXPECT_EQ(cli.waitExit(), 0) << command.front();
        const auto lines = cli.stdoutLines();
        return lines.empty() ? std::string() : lines.front();
    }
    void publish(const std::string& channel, const std::string& payload) { redisCommand({"PUBLISH", channel, payload}); }

    test::RedisProcess redis;
    test::TempDir state;
    FileSmsGateway sms{state.path() / "sms.txt"};
    core::EventLoopThread clients{"test.clients"};
    std::unique_ptr<RendezvousServer> nodes[2];
};

TEST_F(ClusterTest, MessagesBinaryMessagesAndCallsReachADeviceOnTheOtherNodeInOrderAndOfflineMeansOnNoNode)
{
    auto alice = online(0, kAlice);
    auto bob = online(1, kBob);
    for (int seq = 0; seq < 50; ++seq) {
        alice->sendJson({{"type", "push_msg"}, {"to", kBob}, {"from", "999999999"}, {"seq", seq}});
    }
    for (int seq = 0; seq < 50; ++seq) {
        auto received = bob->nextOfType("push_msg");
        ASSERT_TRUE(received) << seq;
        EXPECT_EQ(*received, (json{{"type", "push_msg"}, {"to", kBob}, {"from", kAlice}, {"seq", seq}}));
    }

    // A binary relay message names its destination, and arrives naming its sender there.
    const std::vector<std::uint8_t> body = {0x00, 0xFE, 0x20, 0x0A};
    std::vector<std::uint8_t> frame = {0xFE};
    frame.insert(frame.end(), kBob.begin(), kBob.end());
    frame.insert(frame.end(), body.begin(), body.end());
    alice->sendBinary(frame);
    std::copy(kAlice.begin(), kAlice.end(), frame.begin() + 1);
    EXPECT_EQ(bob->nextBinary(), frame);

    // The caller's node makes the relay; the answer crossing back gets the same one there.
    alice->sendJson({{"type", "call"}, {"to", kBob}, {"call_id", "7"}, {"sms_verified", true}});
    auto call = bob->nextOfType("call");
    ASSERT_TRUE(call);
    EXPECT_EQ((*call)["from"], kAlice);
    EXPECT_FALSE(call->contains("sms_verified"));
    EXPECT_EQ((*call)["relay"]["port"], nodes[0]->relayPort());
    bob->sendJson({{"type", "call_response"}, {"to", kAlice}, {"call_id", "7"}, {"accepted", true},
        {"relay", {{"host", "203.0.113.9"}, {"port", 9}, {"token", "forged"}}}});
    auto answer = alice->nextOfType("call_response");
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["from"], kBob);
    EXPECT_EQ((*answer)["relay"], (*call)["relay"]);

    alice->sendJson({{"type", "call"}, {"to", kNobody}, {"call_id", "8"}});
    auto offline = alice->nextOfType("call_ack");
    ASSERT_TRUE(offline);
    EXPECT_EQ((*offline)["reason"], "对方不在线");
    EXPECT_EQ((*offline)["call_id"], "8");
}

TEST_F(ClusterTest, AnIdOnlineOnOneNodeIsRefusedOnTheOtherUntilItsConnectionOrItsNodeCloses)
{
    auto alice = online(0, kAlice);
    auto thief = connect(1);
    ASSERT_TRUE(thief);
    EXPECT_FALSE(thief->hello(kAlice));
    EXPECT_TRUE(thief->waitClosed().has_value());
    auto bob = online(1, kBob);
    alice->sendJson({{"type", "push_msg"}, {"to", kBob}});
    EXPECT_TRUE(bob->nextOfType("push_msg")) << "the holder keeps its ID";

    // Freed at the close, long before the lease (15 s) would run out.
    alice->close();
    std::unique_ptr<test::WssTestClient> again;
    EXPECT_TRUE(test::waitFor([&] {
        again = connect(1);
        return again && again->hello(kAlice);
    }, 3s));

    nodes[1]->stop();
    EXPECT_TRUE(online(0, kBob)) << "a node that stops frees its IDs before it goes";
}

TEST_F(ClusterTest, LeasesAreTakenAgainAfterARedisRestartAndAnIdFoundTakenElsewhereIsGivenUp)
{
    auto alice = online(0, kAlice);
    redis.stop();
    ASSERT_TRUE(redis.restart());
    // The restarted server holds nothing until the renewal puts alice's lease back.
    ASSERT_TRUE(test::waitFor([&] { return redisCommand({"GET", "tavoro:device:" + kAlice}) == nodes[0]->nodeId(); }, 5s));
    auto thief = connect(1);
    ASSERT_TRUE(thief);
    EXPECT_FALSE(thief->hello(kAlice));

    redisCommand({"SET", "tavoro:device:" + kAlice, "another-node"});
    auto refusal = alice->nextOfType("error");
    ASSERT_TRUE(refusal);
    EXPECT_EQ((*refusal)["err"]["message"], "该设备 ID 已在其他连接上在线");
    EXPECT_TRUE(alice->waitClosed().has_value());
}

TEST_F(ClusterTest, AnAliasBindsOnceAcrossNodesAndItsSmsCodesVerifyOneCallThroughAnyNode)
{
    auto host = online(0, kAlice);
    auto caller = online(1, kBob);
    auto rival = online(1, kCarol);
    const auto registerPhone = [](test::WssTestClient& client) {
        client.sendJson({{"type", "register"}, {"phone", kPhone}, {"sms_auth", true}});
        return client.nextOfType("register").value_or(json());
    };
    EXPECT_EQ(registerPhone(*host), (json{{"type", "register"}, {"phone_id", kPhone}}));
    EXPECT_EQ(registerPhone(*rival), (json{{"type", "register"}, {"phone_dup", kPhone}}));

    caller->sendJson({{"type", "call"}, {"to", kPhone}, {"call_id", "1"}});
    auto call = host->nextOfType("call");
    ASSERT_TRUE(call);
    EXPECT_EQ((*call)["from"], kBob);
    EXPECT_FALSE(call->contains("sms_verified"));

    caller->sendJson({{"type", "sms_code_req"}, {"to", kPhone}});
    ASSERT_TRUE(caller->nextOfType("sms_code_resp"));
    const std::string code = lastSmsCode(state.path() / "sms.txt");
    ASSERT_TRUE(std::regex_match(code, std::regex("[0-9]{6}"))) << code;
    const auto verifies = [&](const std::string& password) {
        caller->sendJson({{"type", "call"}, {"to", kPhone}, {"call_id", "2"}, {"password", password}});
        auto call = host->nextOfType("call");
        return call && call->value("sms_verified", false);
    };
    EXPECT_TRUE(verifies(code));
    EXPECT_FALSE(verifies(code)) << "used up";

    rival->sendJson({{"type", "sms_code_req"}, {"to", kPhone}});
    ASSERT_TRUE(rival->nextOfType("sms_code_resp"));
    const std::string next = lastSmsCode(state.path() / "sms.txt");
    for (int guess = 0; guess < 5; ++guess) {
        EXPECT_FALSE(verifies(next == "000000" ? "000001" : "000000"));
    }
    EXPECT_FALSE(verifies(next)) << "void after five wrong guesses";

    redisCommand({"DEL", "tavoro:alias:" + kPhone}); // as a restarted Redis has lost it
    EXPECT_TRUE(test::waitFor([&] { return redisCommand({"GET", "tavoro:alias:" + kPhone}) == kAlice; }, 3s))
        << "the renewal puts it back";
    host->close();
    EXPECT_TRUE(test::waitFor([&] { return registerPhone(*rival).contains("phone_id"); }, 3s))
        << "the alias left with its device";
}

TEST_F(ClusterTest, AnIdClaimedWithAKeyOnOneNodeBelongsToThatKeyOnEveryNode)
{
    const std::string ownerKey = "owner-key_0123456789abcdefghijklmnopqrstuvw";
    auto owner = connect(0);
    ASSERT_TRUE(owner && owner->hello(kAlice, "qxm", ownerKey));
    owner->close();
    redisCommand({"SCRIPT", "FLUSH"}); // what Redis has lost is sent again in full
    for (const json& key : {json("attacker-key_0123456789abcdefghijklmnopqrst"), json()}) {
        auto stranger = connect(1);
        ASSERT_TRUE(stranger);
        json hello = {{"type", "hello"}, {"device_id", kAlice}, {"token", "qxm"}};
        if (!key.is_null()) {
            hello["device_key"] = key;
        }
        stranger->sendJson(hello);
        const auto refusal = stranger->nextOfType("error");
        ASSERT_TRUE(refusal) << key;
        EXPECT_EQ((*refusal)["err"]["message"], "设备 ID 已被另一台设备占用") << key;
    }
    std::unique_ptr<test::WssTestClient> again;
    EXPECT_TRUE(test::waitFor([&] {
        again = connect(1);
        return again && again->hello(kAlice, "qxm", ownerKey);
    }, 3s));
}

TEST_F(ClusterTest, MalformedPayloadsOnANodesChannelAreDroppedWithOneLineEach)
{
    auto alice = online(0, kAlice);
    auto bob = online(1, kBob);
    log::Capture log;
    const std::string channel = "tavoro:node:" + nodes[1]->nodeId();
    const std::vector<std::string> junk = {"", "junk", kBob + "{}", "12345678 {}", kBob + " {not json",
        kBob + " [1]", kBob + R"( {"type":"push_msg"})", kBob + R"( {"from":"x"})", kBob + ":" + kAlice + "x",
        kBob + ":\xFE" + kAlice};
    for (const auto& payload : junk) {
        publish(channel, payload);
    }
    publish(channel, kNobody + R"( {"type":"push_msg","from":")" + kAlice + R"("})"); // no such device: silence
    alice->sendJson({{"type", "push_msg"}, {"to", kBob}, {"n", 1}});
    auto received = bob->nextOfType("push_msg");
    ASSERT_TRUE(received);
    EXPECT_EQ((*received)["n"], 1);
    EXPECT_EQ(log.count(kDroppedLine), junk.size());
}

TEST(ClusterProgram, TakesRedisFromTheOptionOrTheEnvironmentAndNeverShowsItsPassword)
{
    const std::string password = "pw-7d1e0b";
    test::RedisProcess redis({"--requirepass", password});
    test::TempDir state;
    const std::string url = redis.url(password);

    test::ChildProcess help(TAVORO_RENDEZVOUS_PATH, {"--help"}, {"TAVORO_REDIS=" + url});
    ASSERT_EQ(help.waitExit(), 0);
    EXPECT_EQ(help.countStdout("--redis"), 1U);
    EXPECT_EQ(help.countStdout(password), 0U);

    for (const bool fromEnvironment : {false, true}) {
        auto args = test::rendezvousArgs(state);
        if (!fromEnvironment) {
            args.insert(args.end(), {"--redis", url});
        }
        const std::vector<std::string> env = {"TAVORO_REDIS=" + (fromEnvironment ? url : "redis://[::1]:1")};
        auto server = test::startRendezvous(TAVORO_RENDEZVOUS_PATH, args, env);
        ASSERT_GT(server.wss, 0);
        const auto& process = *server.process;
        EXPECT_TRUE(test::waitFor([&] { return process.stderrCount("Tavoro redis subscriber: connected to") == 1; }))
            << "the option wins over the environment";
        EXPECT_EQ(process.stderrCount("of the cluster on redis://:***@127.0.0.1:" + std::to_string(redis.port()) + "/0"), 1U);
        EXPECT_EQ(process.stderrCount(password), 0U);
    }

    test::ChildProcess bad(TAVORO_RENDEZVOUS_PATH, {"--redis", "http://" + password + "@host"});
    EXPECT_EQ(bad.waitExit(), 2);
    EXPECT_EQ(bad.stderrCount(password), 0U);
}

} // namespace
} // namespace tavoro::server
