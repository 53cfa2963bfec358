// The rendezvous server with real TLS WebSocket clients and UDP sockets on loopback: what its hub
// decides (tested on its own in unit/server) as it reaches the wire.
#include "support/relay_datagrams.h"
#include "support/rendezvous_fixture.h"
#include "support/udp_test_socket.h"
#include "transport/datagram.h"
#include "transport/stun.h"

#include <netinet/ip.h>
#include <netinet/udp.h>
#include <regex>
#include <sys/socket.h>

namespace tavoro::server {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

const std::string kAlice = "100000001";
const std::string kBob = "100000002";
const std::string kPhone = "13800000000";

using RendezvousServerTest = RendezvousFixture;

TEST_F(RendezvousServerTest, ForwardsWithFromStampedForgedFromReplacedAndOtherKeysUnchanged)
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

TEST_F(RendezvousServerTest, CallAndAnswerCarryTheSameRelayWhichThenForwardsBetweenThePeers)
{
    auto alice = online(kAlice);
    auto bob = online(kBob);
    alice->sendJson({{"type", "call"}, {"to", kBob}, {"mode", "control"}, {"password", "abcd"}, {"call_id", "42"},
        {"sms_verified", true}, {"relay", {{"host", "203.0.113.9"}, {"port", 9}, {"token", "mine"}}}});
    auto call = bob->nextOfType("call");
    ASSERT_TRUE(call);
    EXPECT_FALSE(call->contains("sms_verified")) << "only the server may vouch for a caller";
    const json relay = (*call)["relay"];
    EXPECT_EQ(relay["host"], "127.0.0.1");
    EXPECT_EQ(relay["port"], server->relayPort());
    const std::string token = relay.value("token", "");
    EXPECT_TRUE(std::regex_match(token, std::regex("[A-Za-z0-9_-]{16,32}"))) << token;

    bob->sendJson({{"type", "call_response"}, {"to", kAlice}, {"call_id", "42"}, {"accepted", true}});
    auto answer = alice->nextOfType("call_response");
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)["relay"], relay);

    alice->sendJson({{"type", "call"}, {"to", kBob}, {"call_id", "43"}});
    auto second = bob->nextOfType("call");
    ASSERT_TRUE(second);
    EXPECT_NE((*second)["relay"]["token"], token) << "each call its own token";
    bob->sendJson({{"type", "call_ack"}, {"to", kAlice}, {"call_id", "43"}, {"accepted", false}, {"reason", "密码错误"}});
    auto ack = alice->nextOfType("call_ack");
    ASSERT_TRUE(ack);
    EXPECT_EQ((*ack)["relay"], (*second)["relay"]) << "a refusal carries the relay too";

    // Both peers bind with the token they were given; the relay then joins them, as their source.
    test::UdpTestSocket alicePeer;
    test::UdpTestSocket bobPeer;
    ASSERT_TRUE(test::joinRelay(alicePeer, server->relayPort(), token));
    ASSERT_TRUE(test::joinRelay(bobPeer, server->relayPort(), token));
    const std::vector<std::uint8_t> chunk(transport::kMaxDatagram, 0x5A);
    alicePeer.sendTo(server->relayPort(), chunk);
    auto atBob = bobPeer.receive();
    ASSERT_TRUE(atBob);
    EXPECT_EQ(atBob->from, (transport::Endpoint{0x7F000001, server->relayPort()}));
    EXPECT_EQ(atBob->bytes, chunk);
}

// Sends payload to 127.0.0.1:toPort as a UDP datagram whose source claims to be `from`, through a raw
// socket. False without the privilege for one.
bool sendForged(const transport::Endpoint& from, std::uint16_t toPort, std::span<const std::uint8_t> payload)
{
    const core::UniqueFd raw(::socket(AF_INET, SOCK_RAW, IPPROTO_RAW));
    if (!raw.valid()) {
        return false;
    }
    std::vector<std::uint8_t> packet(sizeof(iphdr) + sizeof(udphdr) + payload.size());
    auto* ip = reinterpret_cast<iphdr*>(packet.data());
    ip->version = 4;
    ip->ihl = 5;
    ip->ttl = 64;
    ip->protocol = IPPROTO_UDP;
    ip->tot_len = htons(static_cast<std::uint16_t>(packet.size()));
    ip->saddr = htonl(from.address);
    ip->daddr = htonl(INADDR_LOOPBACK); // the kernel fills in the id and the header checksum
    auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
    udp->source = htons(from.port);
    udp->dest = htons(toPort);
    udp->len = htons(static_cast<std::uint16_t>(sizeof(udphdr) + payload.size())); // checksum 0: none
    std::copy(payload.begin(), payload.end(), packet.begin() + sizeof(iphdr) + sizeof(udphdr));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::sendto(raw.get(), packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to)
        == static_cast<ssize_t>(packet.size());
}

// A call's party binds one end itself and forges a bind from a bystander's address for the other (as
// root with a forged source; otherwise the bystander's own socket sends that bind and never answers
// its challenge). The relay challenges the bystander and sends it nothing else.
TEST_F(RendezvousServerTest, ABindFromAnAddressThatDoesNotAnswerTheChallengeNeverReceivesRelayedDatagrams)
{
    auto alice = online(kAlice);
    auto bob = online(kBob);
    alice->sendJson({{"type", "call"}, {"to", kBob}, {"call_id", "1"}});
    auto call = bob->nextOfType("call");
    ASSERT_TRUE(call);
    const std::string token = (*call)["relay"].value("token", "");
    const auto relayPort = server->relayPort();

    test::UdpTestSocket attacker;
    test::UdpTestSocket bystander;
    ASSERT_TRUE(test::joinRelay(attacker, relayPort, token));
    const auto bind = test::relayBindDatagram(token);
    const bool forged = sendForged(bystander.endpoint(), relayPort, bind);
    if (!forged) {
        bystander.sendTo(relayPort, bind);
    }
    RecordProperty("forged_source", forged ? "yes" : "no");
    const auto challenge = bystander.receive(2s);
    ASSERT_TRUE(challenge);
    EXPECT_EQ(challenge->bytes[5], static_cast<std::uint8_t>(transport::Kind::relayChallenge));
    EXPECT_LE(challenge->bytes.size(), bind.size()) << "no amplification";

    const std::vector<std::uint8_t> chunk(transport::kMaxDatagram, 0x5A);
    for (int i = 0; i < 20; ++i) {
        attacker.sendTo(relayPort, chunk);
    }
    EXPECT_FALSE(bystander.receive(500ms)) << "the bystander got a relayed datagram";

    // A peer that does answer is joined with the attacker's end as before.
    test::UdpTestSocket peer;
    ASSERT_TRUE(test::joinRelay(peer, relayPort, token));
    attacker.sendTo(relayPort, chunk);
    const auto atPeer = peer.receive(2s);
    ASSERT_TRUE(atPeer);
    EXPECT_EQ(atPeer->bytes, chunk);
    EXPECT_FALSE(bystander.receive(200ms));
}

// The codes themselves are the hub's (unit/server); here one travels through the SMS file.
TEST_F(RendezvousServerTest, AnSmsCodeFromTheSmsFileVerifiesACall)
{
    auto host = online(kAlice);
    auto caller = online(kBob);
    host->sendJson({{"type", "register"}, {"phone", kPhone + ":1"}, {"sms_auth", true}});
    ASSERT_TRUE(host->nextOfType("register"));
    caller->sendJson({{"type", "sms_code_req"}, {"to", kPhone + ":1"}});
    ASSERT_TRUE(caller->nextOfType("sms_code_resp"));
    const std::string code = lastSmsCode();
    ASSERT_TRUE(std::regex_match(code, std::regex("[0-9]{6}"))) << code;
    caller->sendJson({{"type", "call"}, {"to", kPhone + ":1"}, {"password", code}, {"call_id", "2"}});
    auto call = host->nextOfType("call");
    ASSERT_TRUE(call);
    EXPECT_EQ((*call)["sms_verified"], true);
}

TEST_F(RendezvousServerTest, RefusedHellosAreClosedWithPolicyAndClosingFreesTheIdAtOnce)
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

    holder->close();
    holder.reset();
    auto next = connect();
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->hello(kAlice));
}

TEST_F(RendezvousServerTest, OtherPathsGetNotFound)
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

TEST_F(RendezvousServerTest, LargeRelayedMessagesArriveWholeAndOversizedOnesCloseOnlyTheirSender)
{
    auto alice = online(kAlice);
    auto bob = online(kBob);
    std::vector<std::uint8_t> large(4 * 1024 * 1024);
    for (std::size_t i = 0; i < large.size(); ++i) {
        large[i] = static_cast<std::uint8_t>(i * 31);
    }
    alice->sendBinary(relayMessage(kBob, large));
    EXPECT_EQ(bob->nextBinary(), relayMessage(kAlice, large)) << "whole, naming its sender";

    auto mallory = online("100000003");
    mallory->sendText(R"({"type":"push_msg","to":")" + kBob + R"(","pad":")" + std::string(1024 * 1024, 'x') + "\"}");
    EXPECT_EQ(mallory->waitClosed(), 1009);
    auto big = online("100000004");
    big->sendBinary(std::vector<std::uint8_t>(8 * 1024 * 1024 + 1, 0xFE));
    EXPECT_EQ(big->waitClosed(), 1009);

    alice->sendJson({{"type", "push_msg"}, {"to", kBob}, {"text", "still here"}});
    auto received = bob->nextJson();
    ASSERT_TRUE(received);
    EXPECT_EQ((*received)["text"], "still here") << "nothing of the oversized messages reached Bob";
}

TEST_F(RendezvousServerTest, StunAnswersWithTheCallersAddressAndIgnoresJunk)
{
    test::UdpTestSocket client;
    client.sendTo(server->stunPort(), std::vector<std::uint8_t>{1, 2, 3, 4, 5});
    transport::stun::TransactionId otherTxn{};
    otherTxn.fill(0x11);
    client.sendTo(server->stunPort(), transport::stun::makeBindingSuccess(otherTxn, {})); // a response, not a request

    transport::stun::TransactionId txn{};
    txn.fill(0xA0);
    client.sendTo(server->stunPort(), transport::stun::makeBindingRequest(txn));
    auto answer = client.receive();
    ASSERT_TRUE(answer);
    auto mapped = transport::stun::parseBindingResponse(answer->bytes, txn);
    ASSERT_TRUE(mapped) << "the first answer is for the only valid request";
    EXPECT_EQ(*mapped, client.endpoint());
}

TEST_F(RendezvousServerTest, APortInUseIsReported)
{
    ServerConfig second = config;
    second.stunPort = server->stunPort();
    const auto stunTaken = RendezvousServer(second, sms).start();
    ASSERT_FALSE(stunTaken);
    EXPECT_NE(stunTaken.error().find("stun port"), std::string::npos) << stunTaken.error();

    second.stunPort = 0;
    second.listenPort = server->wssPort();
    const auto listenTaken = RendezvousServer(second, sms).start();
    ASSERT_FALSE(listenTaken);
    EXPECT_NE(listenTaken.error().find("listen"), std::string::npos) << listenTaken.error();
}

// Connections are spread over three serving threads, the hub runs on one of them: what each client
// sends its partner arrives complete and in order, and stopping with all of them still sending closes
// every one with "going away".
TEST_F(RendezvousServerTest, PairsOnSeveralServingThreadsKeepTheirOrderAndAllGoAwayOnStop)
{
    config.threads = 3;
    ASSERT_TRUE(startServer());
    constexpr int kClients = 12;
    constexpr int kMessages = 200;
    std::vector<std::unique_ptr<test::WssTestClient>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(online(std::to_string(100000100 + i)));
        ASSERT_TRUE(clients.back());
    }
    const auto partnerOf = [](int i) { return std::to_string(100000100 + (i ^ 1)); };
    for (int seq = 0; seq < kMessages; ++seq) {
        for (int i = 0; i < kClients; ++i) {
            clients[i]->sendJson({{"type", "push_msg"}, {"to", partnerOf(i)}, {"seq", seq}});
        }
    }
    for (int i = 0; i < kClients; ++i) {
        for (int seq = 0; seq < kMessages; ++seq) {
            auto msg = clients[i]->nextOfType("push_msg");
            ASSERT_TRUE(msg) << "client " << i << " seq " << seq;
            ASSERT_EQ((*msg)["seq"], seq) << "client " << i;
            ASSERT_EQ((*msg)["from"], partnerOf(i));
        }
    }

    for (int i = 0; i < kClients; ++i) {
        clients[i]->sendJson({{"type", "push_msg"}, {"to", partnerOf(i)}, {"seq", kMessages}});
    }
    server->stop();
    for (auto& client : clients) {
        EXPECT_EQ(client->waitClosed(), 1001) << "going away";
    }
}

} // namespace
} // namespace tavoro::server
