// tavoro-rendezvous as users run it, against clients that misuse it.
#include "support/rendezvous_process.h"
#include "support/udp_test_socket.h"
#include "support/wss_test_client.h"
#include "transport/stun.h"

#include <gtest/gtest.h>

namespace tavoro::test {
namespace {

using nlohmann::json;

const std::string kAlice = "100000001";
const std::string kBob = "100000002";
const std::string kMallory = "100000003";

class AbuseTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_GT(server.wss, 0); }

    std::unique_ptr<WssTestClient> online(const std::string& deviceId)
    {
        auto client = WssTestClient::connect(clients, static_cast<std::uint16_t>(server.wss));
        EXPECT_TRUE(client && client->hello(deviceId)) << deviceId;
        return client;
    }

    TempDir state;
    core::EventLoopThread clients{"test.clients"};
    RendezvousProcess server = startRendezvous(TAVORO_RENDEZVOUS_PATH, rendezvousArgs(state));
};

TEST_F(AbuseTest, AnAnswerCannotPointTheCallerAtARelayOfItsOwn)
{
    auto alice = online(kAlice);
    auto bob = online(kBob);
    auto mallory = online(kMallory);
    ASSERT_TRUE(alice && bob && mallory);
    alice->sendJson({{"type", "call"}, {"to", kBob}, {"call_id", "42"}});
    auto call = bob->nextOfType("call");
    ASSERT_TRUE(call);
    const json forged = {{"host", "203.0.113.9"}, {"port", 53}, {"token", "forged"}};

    mallory->sendJson({{"type", "call_response"}, {"to", kAlice}, {"call_id", "42"}, {"accepted", true}, {"relay", forged}});
    auto fromMallory = alice->nextOfType("call_response");
    ASSERT_TRUE(fromMallory);
    EXPECT_EQ((*fromMallory)["from"], kMallory);
    EXPECT_FALSE(fromMallory->contains("relay"));

    bob->sendJson({{"type", "call_response"}, {"to", kAlice}, {"call_id", "42"}, {"accepted", true}, {"relay", forged}});
    auto fromBob = alice->nextOfType("call_response");
    ASSERT_TRUE(fromBob);
    EXPECT_EQ((*fromBob)["relay"], (*call)["relay"]) << "the callee's answer carries the call's own relay";
}

TEST(AbuseOfCalls, ProbesBeyondTheCallRateGetTheOfflineAnswerWhetherTheIdIsOnlineOrNot)
{
    TempDir state;
    core::EventLoopThread clients("test.clients");
    auto args = rendezvousArgs(state);
    args.insert(args.end(), {"--call-burst", "3", "--call-rate", "0.001"});
    auto server = startRendezvous(TAVORO_RENDEZVOUS_PATH, args);
    ASSERT_GT(server.wss, 0);
    const auto online = [&](const std::string& deviceId) {
        auto client = WssTestClient::connect(clients, static_cast<std::uint16_t>(server.wss));
        EXPECT_TRUE(client && client->hello(deviceId)) << deviceId;
        return client;
    };
    auto bob = online(kBob);
    auto mallory = online(kMallory);
    ASSERT_TRUE(bob && mallory);

    const auto offlineAnswer = [](const std::string& to, const std::string& callId) {
        return json{{"type", "call_ack"}, {"from", to}, {"to", kMallory}, {"call_id", callId}, {"accepted", false},
            {"reason", "对方不在线"}};
    };
    for (int i = 0; i < 3; ++i) {
        mallory->sendJson({{"type", "call"}, {"to", kBob}, {"call_id", std::to_string(i)}});
        EXPECT_TRUE(bob->nextOfType("call")) << i;
    }
    for (const std::string& target : {kBob, kAlice}) {
        mallory->sendJson({{"type", "call"}, {"to", target}, {"call_id", "probe"}});
        auto answer = mallory->nextOfType("call_ack");
        ASSERT_TRUE(answer) << target;
        EXPECT_EQ(*answer, offlineAnswer(target, "probe")) << target;
    }
    EXPECT_FALSE(bob->nextJson(std::chrono::milliseconds(200))) << "the probe never reached Bob";

    auto sibling = online(kAlice);
    ASSERT_TRUE(sibling);
    sibling->sendJson({{"type", "call"}, {"to", kBob}, {"call_id", "s"}});
    EXPECT_TRUE(sibling->nextOfType("call_ack")) << "a new connection from the same address is over the limit too";
}

TEST_F(AbuseTest, AFloodOfStunRequestsFromOneAddressGetsNoMoreThanTheBurstInAnswers)
{
    const auto stunPort = static_cast<std::uint16_t>(server.stun);
    transport::stun::TransactionId txn{};
    txn.fill(3);
    const auto request = transport::stun::makeBindingRequest(txn);
    UdpTestSocket flooder;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i) {
        flooder.sendTo(stunPort, request);
    }
    int answers = 0;
    auto lastAnswer = start;
    while (flooder.receive(std::chrono::milliseconds(300))) {
        ++answers;
        lastAnswer = std::chrono::steady_clock::now();
    }
    // 20 at once, then 10 a second for as long as the flood took to answer.
    const double seconds = std::chrono::duration<double>(lastAnswer - start).count();
    EXPECT_GE(answers, 20);
    EXPECT_LE(answers, 21 + static_cast<int>(10 * seconds)) << seconds << " s";

    UdpTestSocket other(0x7F000002); // 127.0.0.2
    other.sendTo(stunPort, request);
    auto answer = other.receive();
    ASSERT_TRUE(answer) << "another address is answered";
    auto mapped = transport::stun::parseBindingResponse(answer->bytes, txn);
    ASSERT_TRUE(mapped);
    EXPECT_EQ(mapped->addressText(), "127.0.0.2");
}

} // namespace
} // namespace tavoro::test
