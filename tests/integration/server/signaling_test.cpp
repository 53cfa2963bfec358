// The rendezvous server's signaling side with real TLS WebSocket clients on loopback.
#include "rendezvous_fixture.h"

#include "support/udp_test_socket.h"
#include "transport/datagram.h"

#include <regex>

namespace tavoro::server {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

const std::string kAlice = "100000001";
const std::string kBob = "100000002";
const std::string kCarol = "100000003";
const std::string kPhone = "13800000000";

using SignalingTest = RendezvousFixture;

TEST_F(SignalingTest, ForwardsWithFromStampedForgedFromReplacedAndOtherKeysUnchanged)
{
    auto alice = online(kAlice);
    auto bob = online(kBob);
    const json sent = {{"type", "push_msg"}, {"seq", 7}, {"to", kBob}, {"from", "999999999"}, {"text", "你好"},
        {"nested", {{"list", {1, 2.5, "x", nullptr}}, {"flag", true}}}};
    alice->sendJson(sent);
    auto received = bob->nextOfType("push_msg");
    ASSERT_TRUE(received);
    json expected = sent;
    expected["from"] = kAlice;
    EXPECT_EQ(*received, expected);
}

TEST_F(SignalingTest, CallAndAnswerCarryTheSameRelayWhichThenForwardsBetweenThePeers)
{
    auto alice = online(kAlice);
    auto bob = online(kBob);
    alice->sendJson({{"type", "call"}, {"to", kBob}, {"mode", "control"}, {"password", "abcd"}, {"from_name", "Mac"},
        {"call_id", "42"}, {"sms_verified", true}, {"relay", {{"host", "203.0.113.9"}, {"port", 9}, {"token", "mine"}}}});
    auto call = bob->nextOfType("call");
    ASSERT_TRUE(call);
    EXPECT_EQ((*call)["from"], kAlice);
    EXPECT_EQ((*call)["password"], "abcd");
    EXPECT_FALSE(call->contains("sms_verified")) << "only the server may vouch for a caller";
    const json relay = (*call)["relay"];
    EXPECT_EQ(relay["host"], "127.0.0.1");
    EXPECT_EQ(relay["port"], server->relayPort());
    const std::string token = relay.value("token", "");
    EXPECT_TRUE(std::regex_match(token, std::regex("[A-Za-z0-9_-]{16,32}"))) << token;

    bob->sendJson({{"type", "call_response"}, {"to", kAlice}, {"call_id", "42"}, {"accepted", true}, {"from_name", "Mac"}});
    auto answer = alice->nextOfType("call_response");
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["from"], kBob);
    EXPECT_EQ((*answer)["relay"], relay);

    alice->sendJson({{"type", "call"}, {"to", kBob}, {"call_id", "43"}});
    auto second = bob->nextOfType("call");
    ASSERT_TRUE(second);
    EXPECT_NE((*second)["relay"]["token"], token) << "each call its own token";
    bob->sendJson({{"type", "call_ack"}, {"to", kAlice}, {"call_id", "43"}, {"accepted", false}, {"reason", "密码错误"}});
    auto ack = alice->nextOfType("call_ack");
    ASSERT_TRUE(ack);
    EXPECT_EQ((*ack)["relay"], (*second)["relay"]) << "a refusal carries the relay too";

    // Both peers bind with the token they were given; the relay then joins them.
    test::UdpTestSocket alicePeer;
    test::UdpTestSocket bobPeer;
    std::vector<std::uint8_t> bind(transport::kHeaderSize + transport::kMaxRelayTokenBytes);
    bind.resize(transport::writeRelayBind(bind, std::span(reinterpret_cast<const std::uint8_t*>(token.data()), token.size())));
    alicePeer.sendTo(server->relayPort(), bind);
    bobPeer.sendTo(server->relayPort(), bind);
    const auto ping = transport::makePingOrPong(transport::Kind::ping, 77);
    alicePeer.sendTo(server->relayPort(), ping);
    auto atBob = bobPeer.receive();
    ASSERT_TRUE(atBob);
    EXPECT_EQ(atBob->from.port, server->relayPort());
    EXPECT_TRUE(std::equal(ping.begin(), ping.end(), atBob->bytes.begin(), atBob->bytes.end()));
}

TEST_F(SignalingTest, SmsCodeFlowVerifiesTheRightCodeOnceAndNeverAWrongOne)
{
    auto host = online(kAlice);
    auto caller = online(kBob);
    host->sendJson({{"type", "register"}, {"phone", kPhone + ":1"}, {"sms_auth", true}});
    ASSERT_TRUE(host->nextOfType("register"));

    caller->sendJson({{"type", "sms_code_req"}, {"to", kPhone + ":1"}});
    ASSERT_TRUE(caller->nextOfType("sms_code_resp"));
    const std::string code = lastSmsCode();
    ASSERT_TRUE(std::regex_match(code, std::regex("[0-9]{6}"))) << code;

    const std::string wrong = code == "000000" ? "000001" : "000000";
    caller->sendJson({{"type", "call"}, {"to", kPhone + ":1"}, {"password", wrong}, {"call_id", "1"}});
    auto call = host->nextOfType("call");
    ASSERT_TRUE(call);
    EXPECT_FALSE(call->contains("sms_verified"));

    caller->sendJson({{"type", "call"}, {"to", kPhone + ":1"}, {"password", code}, {"call_id", "2"}});
    call = host->nextOfType("call");
    ASSERT_TRUE(call);
    EXPECT_EQ((*call)["sms_verified"], true);

    caller->sendJson({{"type", "call"}, {"to", kPhone + ":1"}, {"password", code}, {"call_id", "3"}});
    call = host->nextOfType("call");
    ASSERT_TRUE(call);
    EXPECT_FALSE(call->contains("sms_verified")) << "a code is good for one call";
}

TEST_F(SignalingTest, AWrongTokenAndAnIdTakeOverAreRefusedAndTheHolderKeepsIt)
{
    auto wrongToken = connect();
    ASSERT_TRUE(wrongToken);
    EXPECT_FALSE(wrongToken->hello(kAlice, "abc"));
    EXPECT_EQ(wrongToken->waitClosed(), 1008);

    auto holder = online(kAlice);
    auto intruder = connect();
    ASSERT_TRUE(intruder);
    EXPECT_FALSE(intruder->hello(kAlice));
    EXPECT_EQ(intruder->waitClosed(), 1008);

    auto bob = online(kBob);
    bob->sendJson({{"type", "call"}, {"to", kAlice}, {"password", "x"}, {"call_id", "9"}});
    ASSERT_TRUE(holder->nextOfType("call")) << "the holder still gets its calls";

    holder->close();
    holder.reset();
    auto next = connect();
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->hello(kAlice)) << "closing the holder frees the ID at once";
}

TEST_F(SignalingTest, BinaryRelayDeliversMarkedMessagesUnchangedAndDropsTheRest)
{
    auto alice = online(kAlice);
    auto bob = online(kBob);
    alice->sendBinary(relayMessage(kBob, {0x02, 1, 2, 3}, 0xFD));
    std::vector<std::uint8_t> large(4 * 1024 * 1024);
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<std::uint8_t>(i * 31);
    }
    const auto frame = relayMessage(kBob, large);
    alice->sendBinary(frame);
    auto received = bob->nextBinary();
    ASSERT_TRUE(received);
    EXPECT_EQ(*received, frame);
}

TEST_F(SignalingTest, OtherPathsGetNotFound)
{
    test::WssTestClient::Options options;
    options.port = server->wssPort();
    options.path = "/other";
    auto result = test::WssTestClient::connect(clients, options);
    EXPECT_FALSE(result.client);
    EXPECT_EQ(result.httpStatus, 404);
    options.path = "/ws?client=1";
    EXPECT_TRUE(test::WssTestClient::connect(clients, options).client);
}

TEST_F(SignalingTest, BadInputAndServerTypesNeverReachOthersAndOversizedMessagesCloseOnlyTheirSender)
{
    auto alice = online(kAlice);
    auto bob = online(kBob);
    auto mallory = online(kCarol);
    for (const std::string& junk : {std::string("{"), std::string("[1,2]"), std::string("\"to\""), std::string("null"),
             std::string(R"({"type":"push_msg","to":")") + kBob + R"(","deep":)" + std::string(100, '[') + std::string(100, ']') + "}",
             std::string(R"({"type":"push_msg","to":100000002})")}) {
        mallory->sendText(junk);
    }
    for (const char* type : {"error", "err", "sms_code_resp"}) {
        mallory->sendJson({{"type", type}, {"to", kBob}, {"err", {{"message", "peers cannot pose as the server"}}}});
    }
    mallory->sendJson({{"type", "push_msg"}, {"to", "100000099"}, {"text", "to nobody"}});
    mallory->sendJson({{"type", "no_such_type"}, {"to", kBob}});
    auto unknown = bob->nextJson();
    ASSERT_TRUE(unknown) << "unknown types are forwarded like any other";
    EXPECT_EQ((*unknown)["type"], "no_such_type");
    EXPECT_EQ((*unknown)["from"], kCarol);

    mallory->sendText(R"({"type":"push_msg","to":")" + kBob + R"(","pad":")" + std::string(1024 * 1024, 'x') + "\"}");
    EXPECT_EQ(mallory->waitClosed(), 1009);
    auto big = online("100000004");
    big->sendBinary(std::vector<std::uint8_t>(8 * 1024 * 1024 + 1, 0xFE));
    EXPECT_EQ(big->waitClosed(), 1009);

    alice->sendJson({{"type", "push_msg"}, {"to", kBob}, {"text", "still here"}});
    auto received = bob->nextJson();
    ASSERT_TRUE(received);
    EXPECT_EQ((*received)["text"], "still here");
    EXPECT_TRUE(bob->silentFor(50ms));
}

} // namespace
} // namespace tavoro::server
