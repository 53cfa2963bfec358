#include "rendezvous_fixture.h"

#include "support/udp_test_socket.h"
#include "transport/datagram.h"
#include "transport/stun.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

namespace tavoro::server {
namespace {

using test::UdpTestSocket;

std::vector<std::uint8_t> bindDatagram(const std::string& token)
{
    std::vector<std::uint8_t> out(transport::kHeaderSize + transport::kMaxRelayTokenBytes);
    out.resize(transport::writeRelayBind(out, std::span(reinterpret_cast<const std::uint8_t*>(token.data()), token.size())));
    return out;
}

std::vector<std::uint8_t> ping(std::uint32_t id)
{
    auto bytes = transport::makePingOrPong(transport::Kind::ping, id);
    return {bytes.begin(), bytes.end()};
}

std::uint32_t pingId(const std::vector<std::uint8_t>& bytes)
{
    auto parsed = transport::parseDatagram(bytes);
    return parsed ? parsed->header.frameId : 0;
}

class UdpServicesTest : public RendezvousFixture {
protected:
    void configure(ServerConfig& config) override { config.standingRelayTokens = {"standing-token-1"}; }
};

TEST_F(UdpServicesTest, RelayForwardsOnlyAfterBothBindsBothWaysWithTheRelayAsSource)
{
    UdpTestSocket alice;
    UdpTestSocket bob;
    const auto relay = server->relayPort();

    alice.sendTo(relay, ping(1)); // not bound yet: dropped
    alice.sendTo(relay, bindDatagram("standing-token-1"));
    alice.sendTo(relay, ping(2)); // Bob has not bound: dropped
    bob.sendTo(relay, bindDatagram("standing-token-1"));
    bob.sendTo(relay, ping(3));   // Bob's bind arrived first: forwarded
    auto atAlice = alice.receive();
    ASSERT_TRUE(atAlice);
    EXPECT_EQ(pingId(atAlice->bytes), 3u);
    EXPECT_EQ(atAlice->from.port, relay);
    EXPECT_EQ(atAlice->from.address, INADDR_LOOPBACK);

    alice.sendTo(relay, ping(4));
    auto atBob = bob.receive();
    ASSERT_TRUE(atBob);
    EXPECT_EQ(pingId(atBob->bytes), 4u) << "pings 1 and 2 must have been dropped";
    EXPECT_EQ(atBob->from.port, relay);

    const std::vector<std::uint8_t> media(transport::kMaxDatagram, 0x5A);
    bob.sendTo(relay, media);
    atAlice = alice.receive();
    ASSERT_TRUE(atAlice);
    EXPECT_EQ(atAlice->bytes, media);
}

TEST_F(UdpServicesTest, StunAnswersWithTheCallersAddressAndIgnoresJunk)
{
    UdpTestSocket client;
    const std::vector<std::uint8_t> junk{1, 2, 3, 4, 5};
    client.sendTo(server->stunPort(), junk);
    transport::stun::TransactionId otherTxn{};
    otherTxn.fill(0x11);
    auto response = transport::stun::makeBindingSuccess(otherTxn, {});
    client.sendTo(server->stunPort(), response); // a response, not a request: ignored

    transport::stun::TransactionId txn{};
    for (std::size_t i = 0; i < txn.size(); ++i) {
        txn[i] = static_cast<std::uint8_t>(0xA0 + i);
    }
    client.sendTo(server->stunPort(), transport::stun::makeBindingRequest(txn));
    auto answer = client.receive();
    ASSERT_TRUE(answer);
    auto mapped = transport::stun::parseBindingResponse(answer->bytes, txn);
    ASSERT_TRUE(mapped) << "the first answer is for the only valid request";
    EXPECT_EQ(mapped->addressText(), "127.0.0.1");
    EXPECT_EQ(mapped->port, client.port());
}

TEST_F(UdpServicesTest, APortInUseIsReported)
{
    ServerConfig config;
    config.listenAddress = "127.0.0.1";
    config.listenPort = 0;
    config.relayPort = 0;
    config.stunPort = server->stunPort();
    config.identity = *tls::makeSelfSigned("second");
    RendezvousServer second(config, *sms);
    std::string error;
    EXPECT_FALSE(second.start(error));
    EXPECT_NE(error.find("stun port"), std::string::npos) << error;

    config.stunPort = 0;
    config.listenPort = server->wssPort();
    RendezvousServer third(config, *sms);
    EXPECT_FALSE(third.start(error));
    EXPECT_NE(error.find("listen"), std::string::npos) << error;
}

} // namespace
} // namespace tavoro::server
