#include "integration/transport/transport_fixture.h"
#include "platform/fake/manual_clock.h"
#include "support/relay_datagrams.h"
#include "support/udp_test_socket.h"
#include "support/wait.h"
#include "transport/datagram.h"
#include "transport/name_resolver.h"
#include "transport/stun.h"

#include <gtest/gtest.h>

namespace tavoro::test {
namespace {

using namespace std::chrono_literals;
using transport::Kind;

// Answers STUN Binding requests on 127.0.0.1 with the source address, on its own thread.
class LoopbackStunResponder {
public:
    LoopbackStunResponder()
        : thread_([this] {
              while (!stop_) {
                  if (const auto request = socket_.receive(20ms)) {
                      if (const auto txn = transport::stun::parseBindingRequest(request->bytes)) {
                          socket_.sendTo(request->from, transport::stun::makeBindingSuccess(*txn, request->from));
                      }
                  }
              }
          })
    {
    }
    ~LoopbackStunResponder()
    {
        stop_ = true;
        thread_.join();
    }
    std::uint16_t port() const { return socket_.port(); }

private:
    UdpTestSocket socket_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

Bytes transportDatagram(std::uint8_t kindByte, const Bytes& payload, std::uint8_t version = 1)
{
    Bytes out(transport::kHeaderSize + payload.size());
    transport::writeHeader(out, {0, 1, 0, 1, static_cast<std::uint16_t>(payload.size())});
    out[4] = version;
    out[5] = kindByte;
    std::copy(payload.begin(), payload.end(), out.begin() + transport::kHeaderSize);
    return out;
}

TEST(LoopbackPair, ConnectsDirectlyMeasuresTheRoundTripAndCarriesFramesIntact)
{
    log::Capture logs;
    LoopbackStunResponder stun;
    TestTransport host({{"stun.invalid", 3478}, {"localhost", stun.port()}});
    TestTransport viewer({{"127.0.0.1", stun.port()}});
    host.linkTo(viewer.transport);
    viewer.linkTo(host.transport);
    EXPECT_EQ(host.transport->linkState().rttMs, -1);
    host.transport->start();
    viewer.transport->start();
    ASSERT_TRUE(waitFor([&] { return host.transport->linkState().connected && viewer.transport->linkState().connected; }, 2s));
    EXPECT_TRUE(waitFor([&] { return logs.count("Tavoro p2p: 对端可达 ") + logs.count("Tavoro p2p: 打洞成功 selected=") == 2; }, 1s));
    EXPECT_TRUE(logs.contains(" (直连)"));
    EXPECT_FALSE(logs.contains("中继"));
    ASSERT_TRUE(waitFor([&] { return host.transport->linkState().rttMs >= 0; }, 2s));
    EXPECT_LT(host.transport->linkState().rttMs, 1000);
    EXPECT_FALSE(host.transport->linkState().relayed());

    // STUN answered at once (the server given by name too), so the first advertisement ends with the
    // reflexive address.
    const auto port = host.transport->localPort();
    const auto list = host.signals().front()["candidates"];
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list.back(), (json::Json{{"ip", "127.0.0.1"}, {"port", port}, {"type", "srflx"}}));
    for (std::size_t i = 0; i + 1 < list.size(); ++i) {
        EXPECT_EQ(list[i], (json::Json{{"ip", list[i]["ip"]}, {"port", port}, {"type", "host"}}));
    }
    EXPECT_TRUE(logs.contains("Tavoro p2p: UDP socket 已就绪 本地端口 " + std::to_string(port)));
    EXPECT_TRUE(logs.contains("Tavoro p2p: STUN 反射地址 127.0.0.1:" + std::to_string(port)));

    // One frame at a time, so that a loaded machine's socket buffer never has to hold two.
    const std::vector<Bytes> frames{
        patterned(1, 1), patterned(1100, 2), patterned(1101, 3), patterned(1 << 20, 4), patterned(1, 5)};
    ASSERT_TRUE(host.transport->sendFrame(Bytes{})); // a lone chunk without payload, never completed
    for (const auto& frame : frames) {
        ASSERT_TRUE(sendAndAwait(host, viewer, frame)) << frame.size();
    }
    EXPECT_EQ(viewer.received->read([](Received& r) { return r.frames; }), frames);
    EXPECT_TRUE(sendAndAwait(viewer, host, patterned(3000, 9)));
}

// One transport without STUN servers, and a plain socket playing its peer or its relay.
class LoneTransport : public ::testing::Test {
protected:
    transport::Endpoint target() { return {0x7F000001, lone.transport->localPort()}; }

    // The next datagram from the transport; a ping is answered, as a live peer would, so that the
    // path never falls silent.
    std::optional<UdpTestSocket::Datagram> receiveAsPeer(std::chrono::milliseconds timeout)
    {
        auto datagram = peer.receive(timeout);
        if (datagram && datagram->bytes[5] == 0) {
            peer.sendTo(datagram->from, transport::makePingOrPong(Kind::pong, transport::u32(datagram->bytes, 16)));
        }
        return datagram;
    }

    log::Capture logs;
    UdpTestSocket peer;
    TestTransport lone;
};

// When STUN is retried is the schedule's (unit/transport Schedule cases); here the worker does retry.
TEST_F(LoneTransport, WithoutStunAnswerAdvertisesHostCandidatesAfterAbout300MsAndAsksAgain)
{
    TestTransport asking({{"127.0.0.1", peer.port()}});
    const auto started = std::chrono::steady_clock::now();
    asking.transport->start();
    ASSERT_TRUE(asking.advertised());
    EXPECT_GE(std::chrono::steady_clock::now() - started, 280ms);
    ASSERT_TRUE(peer.receive(1s));
    EXPECT_TRUE(peer.receive(1s)) << "a second request";
    const auto signals = asking.signals();
    ASSERT_EQ(signals.size(), 1u);
    for (const auto& candidate : signals[0]["candidates"]) {
        EXPECT_EQ(candidate["type"], "host");
    }
}

TEST_F(LoneTransport, AnswersPingsAndTakesInputOnlyFromTheSelectedAddress)
{
    lone.transport->start();
    // A ping with a short payload is still answered, with the id from the header.
    auto shortPing = transportDatagram(0, Bytes{});
    transport::putU32(shortPing, 6, 77);
    peer.sendTo(target(), shortPing);
    const auto pong = peer.receive(2s);
    ASSERT_TRUE(pong);
    ASSERT_EQ(pong->bytes.size(), 20u);
    EXPECT_EQ(pong->bytes[5], 1);
    EXPECT_EQ(transport::u32(pong->bytes, 16), 77u);
    EXPECT_TRUE(waitFor([&] { return logs.contains("Tavoro p2p: 对端可达 127.0.0.1:" + std::to_string(peer.port()) + " (直连)"); }, 1s));
    EXPECT_EQ(lone.transport->linkState().selected, peer.endpoint());

    UdpTestSocket stranger;
    stranger.sendTo(target(), transportDatagram(3, Bytes{'{', '}'}));
    peer.sendTo(target(), transportDatagram(3, Bytes{}));
    peer.sendTo(target(), transportDatagram(3, Bytes{'{', '}'}, 2));
    peer.sendTo(target(), transportDatagram(8, Bytes{'t', 'o', 'k'}));
    peer.sendTo(target(), Bytes(15, 'A'));
    peer.sendTo(target(), transportDatagram(0x83, Bytes{'{', '"', 'k', '"', '}'}));
    ASSERT_TRUE(waitFor([&] { return !lone.inputs().empty(); }, 2s));
    EXPECT_EQ(lone.inputs(), (std::vector<Bytes>{Bytes{'{', '"', 'k', '"', '}'}}));
}

// Which records are well formed is parseCandidates' (unit/transport); here only new ones are logged.
TEST_F(LoneTransport, LogsOnlyNewCandidatesAndPingsThem)
{
    const auto port = std::to_string(peer.port());
    const auto payload = json::Json::parse(R"({"candidates": [{"ip": "127.0.0.1", "port": )" + port + R"(},
        {"ip": "10.9.9.2", "port": 0}]})");
    lone.transport->ingestSignal("ice", payload);
    lone.transport->ingestSignal("ice", payload);
    lone.transport->ingestSignal("ice", json::Json::parse(R"({"candidates": [{"ip": "10.9.9.9", "port": 0}]})"));
    EXPECT_EQ(logs.count("Tavoro p2p: 收到 "), 1u);
    EXPECT_TRUE(logs.contains("Tavoro p2p: 收到 1 个对端候选"));

    lone.transport->start();
    const auto ping = peer.receive(2s);
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->bytes.size(), 20u);
    EXPECT_EQ(ping->bytes[5], 0);
}

TEST_F(LoneTransport, ARelayTokenOf81BytesIsNeverSent)
{
    lone.transport->setRelay("127.0.0.1", peer.port(), std::string(81, 'k'));
    lone.transport->start();
    int pings = 0;
    for (const auto until = std::chrono::steady_clock::now() + 1800ms; std::chrono::steady_clock::now() < until;) {
        if (auto datagram = peer.receive(100ms)) {
            EXPECT_NE(datagram->bytes[5], 8);
            pings += datagram->bytes[5] == 0 ? 1 : 0;
        }
    }
    EXPECT_GE(pings, 3); // the relay is still pinged every round
}

// The relay binds this side only once it has echoed the relay's challenge for its own token.
TEST_F(LoneTransport, AnswersOnlyItsRelaysChallengeForItsOwnToken)
{
    UdpTestSocket& relay = peer;
    lone.transport->setRelay("127.0.0.1", relay.port(), "call-token");
    lone.transport->start();
    std::optional<UdpTestSocket::Datagram> bind;
    while ((bind = relay.receive(2s)) && bind->bytes[5] != 8) {
    }
    ASSERT_TRUE(bind) << "no relay bind";
    EXPECT_EQ(bind->bytes.size(), relayBindDatagram("call-token").size()) << "padded to the challenge's size";

    transport::RelayNonce nonce;
    nonce.fill(0x42);
    const auto challengeFor = [&](const std::string& token) {
        std::vector<std::uint8_t> out(transport::kMaxRelayChallengeSize);
        out.resize(transport::writeRelayChallenge(out, Kind::relayChallenge, nonce,
            std::span(reinterpret_cast<const std::uint8_t*>(token.data()), token.size())));
        return out;
    };
    UdpTestSocket stranger;
    stranger.sendTo(target(), challengeFor("call-token"));
    relay.sendTo(target(), challengeFor("other-token"));
    relay.sendTo(target(), challengeFor("call-token"));
    std::optional<UdpTestSocket::Datagram> proof;
    while ((proof = relay.receive(2s)) && proof->bytes[5] != 10) {
    }
    ASSERT_TRUE(proof);
    EXPECT_EQ(proof->bytes, relayProofFor(challengeFor("call-token")));
    for (const auto until = std::chrono::steady_clock::now() + 300ms; std::chrono::steady_clock::now() < until;) {
        if (auto more = relay.receive(50ms)) {
            EXPECT_NE(more->bytes[5], 10) << "one proof only: for the relay's challenge of this call";
        }
    }
    EXPECT_FALSE(stranger.receive(100ms));
}

TEST_F(LoneTransport, IgnoresIncompleteRelaySettingsAndReportsAnUnresolvableHost)
{
    lone.transport->setRelay("", 3478, "token");
    lone.transport->setRelay("127.0.0.1", 0, "token");
    lone.transport->setRelay("127.0.0.1", 65536, "token");
    lone.transport->setRelay("127.0.0.1", 3478, "");
    lone.transport->setRelay("relay.invalid", 3478, "token");
    EXPECT_EQ(logs.lines(), std::vector<std::string>{"Tavoro p2p: 中继地址解析失败 relay.invalid"});
    EXPECT_FALSE(lone.transport->linkState().relayEp);
}

TEST_F(LoneTransport, SendsFramesOnlyWhileConnectedAndWithinTheChunkBoundThenStaysStopped)
{
    EXPECT_FALSE(lone.transport->sendFrame(Bytes{1}));
    lone.transport->start();
    const auto address = target();
    EXPECT_FALSE(lone.transport->sendFrame(Bytes{1}));
    peer.sendTo(address, transport::makePingOrPong(Kind::ping, 1));
    ASSERT_TRUE(waitFor([&] { return lone.transport->linkState().connected; }, 2s));
    ASSERT_TRUE(peer.receive(1s)); // the pong
    while (receiveAsPeer(150ms)) {
    }
    EXPECT_FALSE(lone.transport->sendFrame(Bytes(72'088'501)));
    // Nothing but pings may follow a refused frame.
    while (auto datagram = receiveAsPeer(150ms)) {
        EXPECT_EQ(datagram->bytes[5], 0);
    }
    EXPECT_TRUE(lone.transport->sendFrame(Bytes(2200, 7)));
    int chunks = 0;
    while (auto datagram = receiveAsPeer(150ms)) {
        chunks += datagram->bytes[5] == 2 ? 1 : 0;
    }
    EXPECT_EQ(chunks, 4); // two chunks, sent twice

    lone.transport->stop();
    EXPECT_FALSE(lone.transport->linkState().connected);
    EXPECT_FALSE(lone.transport->sendFrame(Bytes{1, 2, 3}));
    // A ping that reaches the worker's last pass does not connect it again.
    peer.sendTo(address, transport::makePingOrPong(Kind::ping, 3));
    ASSERT_TRUE(waitFor([&] { return logs.contains("Tavoro p2p: 已停止"); }, 1s));
    EXPECT_FALSE(lone.transport->linkState().connected);
    EXPECT_EQ(logs.count("Tavoro p2p: 对端可达"), 1u);
    peer.drain(50ms);
    lone.transport->start();
    EXPECT_EQ(logs.count("UDP socket 已就绪"), 1u);
    peer.sendTo(address, transport::makePingOrPong(Kind::ping, 2));
    EXPECT_FALSE(peer.receive(300ms)); // the socket is closed: no pong
}

TEST(LoopbackTransport, CanBeDestroyedFromItsOwnCallback)
{
    log::Capture logs;
    UdpTestSocket peer;
    auto owner = std::make_shared<TestTransport>();
    std::weak_ptr<TestTransport> weakOwner = owner;
    std::atomic<bool> released{false};
    auto holder = std::make_shared<std::shared_ptr<TestTransport>>(owner);
    owner->transport->onInput = [holder, &released](Bytes) {
        holder->reset(); // the last owner lets go on the worker thread
        released = true;
    };
    owner->transport->start();
    const transport::Endpoint target{0x7F000001, owner->transport->localPort()};
    owner.reset();
    peer.sendTo(target, transport::makePingOrPong(Kind::ping, 1)); // input is taken only once selected
    peer.sendTo(target, transportDatagram(3, Bytes{'x'}));
    ASSERT_TRUE(waitFor([&] { return released.load(); }, 2s));
    EXPECT_TRUE(waitFor([&] { return weakOwner.expired(); }, 1s));
    // The detached worker finishes on its own; the test ends only after its last log line.
    EXPECT_TRUE(waitFor([&] { return logs.contains("Tavoro p2p: 已停止"); }, 1s));
}

// On a clock that moves only when told: STUN is answered so that gathering ends without it, and the
// peer is a candidate from the start, so every ping round reaches it and can be matched to the clock.
TEST(LoopbackTransport, TimesLatePongsAndGoesDownAfterThreeSilentSecondsUntilThePeerAnswersAgain)
{
    log::Capture logs;
    LoopbackStunResponder stun;
    UdpTestSocket peer;
    auto clock = std::make_shared<platform::fake::ManualClock>();
    TestTransport lone({{"127.0.0.1", stun.port()}}, clock);
    lone.transport->ingestSignal("ice",
        json::Json::parse(R"({"candidates": [{"ip": "127.0.0.1", "port": )" + std::to_string(peer.port()) + "}]}"));
    lone.transport->start();
    const transport::Endpoint target{0x7F000001, lone.transport->localPort()};
    const auto pingAfter = [&](std::chrono::milliseconds step) {
        clock->advance(step);
        const auto ping = peer.receive(2s);
        return ping && ping->bytes[5] == 0 ? std::optional(transport::u32(ping->bytes, 16)) : std::nullopt;
    };

    // The pong to the first ping comes 350 ms after it left, three rounds later.
    const auto first = pingAfter(0ms);
    ASSERT_TRUE(first);
    ASSERT_TRUE(pingAfter(100ms));
    ASSERT_TRUE(pingAfter(100ms));
    ASSERT_TRUE(pingAfter(150ms));
    peer.sendTo(target, transport::makePingOrPong(Kind::pong, *first));
    ASSERT_TRUE(waitFor([&] { return lone.transport->linkState().connected; }, 1s));
    EXPECT_TRUE(waitFor([&] { return lone.transport->linkState().rttMs == 350; }, 1s));

    const auto retry = pingAfter(3000ms); // the path went down, so the candidates are pinged again
    ASSERT_TRUE(retry);
    EXPECT_TRUE(logs.contains("Tavoro p2p: 对端 3 秒无响应，路径断开"));
    EXPECT_FALSE(lone.transport->linkState().connected);
    EXPECT_FALSE(lone.transport->sendFrame(Bytes{1}));
    peer.sendTo(target, transport::makePingOrPong(Kind::pong, *retry));
    ASSERT_TRUE(waitFor([&] { return lone.transport->linkState().connected; }, 1s));
    EXPECT_TRUE(waitFor([&] { return logs.count("Tavoro p2p: 打洞成功 selected=127.0.0.1:" + std::to_string(peer.port())) == 2; }, 1s));
    EXPECT_EQ(logs.count("Tavoro p2p: 对端 3 秒无响应"), 1u);
}

TEST(StunNames, ResolveAwayFromTheWorkerAndRetryAfterFailure)
{
    transport::NameResolver resolver;
    EXPECT_EQ(resolver.resolve("192.0.2.7", 3478), (transport::Endpoint{0xC0000207, 3478}));
    const auto deadline = [] { return std::chrono::steady_clock::now() + 5s; };
    EXPECT_EQ(resolver.resolve("localhost", 3478, deadline()), (transport::Endpoint{0x7F000001, 3478}));
    EXPECT_EQ(resolver.resolve("localhost", 19302), (transport::Endpoint{0x7F000001, 19302})); // remembered
    EXPECT_FALSE(resolver.resolve("stun.invalid", 3478, deadline()));
    EXPECT_FALSE(resolver.resolve("stun.invalid", 3478, deadline()));
}

} // namespace
} // namespace tavoro::test
