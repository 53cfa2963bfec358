// Two tavoro-rendezvous processes sharing one redis-server, through what operators meet: Redis going
// away and coming back, a node dying without a word, heavy traffic between nodes, calls across nodes.
#include "support/redis_process.h"
#include "support/relay_datagrams.h"
#include "support/rendezvous_process.h"
#include "support/temp_dir.h"
#include "support/udp_test_socket.h"
#include "support/wait.h"
#include "support/wss_test_client.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>

namespace tavoro::test {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

const std::string kAlice = "200000001";
const std::string kBob = "200000002";
const std::string kCarol = "200000003";
const std::string kDave = "200000004";
const std::string kErin = "200000005";

class ClusterProcessTest : public ::testing::Test {
protected:
    // Both nodes on the shared Redis, with extra options for each.
    void startNodes(const std::vector<std::string>& extra = {})
    {
        for (int node = 0; node < 2; ++node) {
            auto args = rendezvousArgs(states[node]);
            args.insert(args.end(), {"--redis", redis.url()});
            args.insert(args.end(), extra.begin(), extra.end());
            nodes[node] = startRendezvous(TAVORO_RENDEZVOUS_PATH, args);
            ASSERT_GT(nodes[node].wss, 0) << "node " << node;
        }
    }

    std::unique_ptr<WssTestClient> connect(int node)
    {
        return WssTestClient::connect(clients, static_cast<std::uint16_t>(nodes[node].wss));
    }

    std::unique_ptr<WssTestClient> online(int node, const std::string& deviceId)
    {
        auto client = connect(node);
        EXPECT_TRUE(client && client->hello(deviceId)) << "hello " << deviceId << " on node " << node;
        return client;
    }

    // Sends numbered messages until one gets through; how long that took, or nothing after the limit.
    static std::optional<std::chrono::milliseconds> timeUntilDelivered(WssTestClient& from, WssTestClient& to,
        const std::string& toId, std::chrono::milliseconds limit)
    {
        const auto start = std::chrono::steady_clock::now();
        for (int probe = 0; std::chrono::steady_clock::now() - start < limit; ++probe) {
            from.sendJson({{"type", "push_msg"}, {"to", toId}, {"probe", probe}});
            if (to.nextOfType("push_msg", 50ms)) {
                return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            }
        }
        return std::nullopt;
    }

    std::size_t stderrCount(int node, const std::string& fragment) const
    {
        return nodes[node].process->stderrCount(fragment);
    }

    RedisProcess redis;
    TempDir states[2];
    RendezvousProcess nodes[2];
    core::EventLoopThread clients{"test.clients"};
};

// Numbered messages from one client to another until stop(); what arrived is checked at the end.
class NumberedStream {
public:
    NumberedStream(WssTestClient& from, std::string toId)
        : thread_([this, &from, toId = std::move(toId)] {
              for (; !stopping_; ++sent_) {
                  from.sendJson({{"type", "push_msg"}, {"to", toId}, {"seq", sent_.load()}});
                  std::this_thread::sleep_for(2ms);
              }
          })
    {
    }
    ~NumberedStream() { stop(); }

    int sent() const { return sent_; }

    int stop()
    {
        stopping_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return sent_;
    }

private:
    std::atomic<bool> stopping_{false};
    std::atomic<int> sent_{0};
    std::thread thread_;
};

void expectNumberedInOrder(WssTestClient& to, int count)
{
    for (int seq = 0; seq < count; ++seq) {
        const auto received = to.nextOfType("push_msg");
        ASSERT_TRUE(received) << "message " << seq << " of " << count << " missing";
        ASSERT_EQ((*received)["seq"], seq);
    }
}

TEST_F(ClusterProcessTest, WhileRedisRestartsLocalTrafficFlowsAndCrossNodeRoutingIsBackWithinFiveSeconds)
{
    // A renewal far away: only the republishing on reconnecting can bring the leases back in time.
    startNodes({"--cluster-lease-ms", "120000", "--cluster-renewal-ms", "60000"});
    auto alice = online(0, kAlice);
    auto carol = online(1, kCarol);
    auto dave = online(0, kDave);
    auto erin = online(0, kErin);
    ASSERT_TRUE(timeUntilDelivered(*alice, *carol, kCarol, 2s));
    NumberedStream local(*dave, kErin);

    redis.stop();
    ASSERT_TRUE(waitFor([&] { return stderrCount(0, "Tavoro redis: no connection to") == 1; }, 5s));
    alice->sendJson({{"type", "call"}, {"to", kCarol}, {"call_id", "1"}});
    const auto ack = alice->nextOfType("call_ack");
    ASSERT_TRUE(ack);
    EXPECT_EQ((*ack)["reason"], "对方不在线") << "a device on another node counts as offline";
    auto bob = online(0, kBob); // claimed while Redis is away: granted, and published once it is back
    const int sentBeforeOutageEnds = local.sent();
    ASSERT_TRUE(waitFor([&] { return local.sent() >= sentBeforeOutageEnds + 50; }, 2s));

    ASSERT_TRUE(redis.restart());
    const auto toCarol = timeUntilDelivered(*alice, *carol, kCarol, 5s);
    ASSERT_TRUE(toCarol) << "node 0 to node 1";
    EXPECT_LT(*toCarol, 5s);
    EXPECT_TRUE(timeUntilDelivered(*carol, *bob, kBob, 5s - *toCarol)) << "node 1 to an ID claimed during the outage";

    const int sent = local.stop();
    expectNumberedInOrder(*erin, sent);
    for (int node = 0; node < 2; ++node) {
        for (const std::string connection : {"redis", "redis subscriber"}) {
            const auto prefix = "Tavoro " + connection + ": ";
            EXPECT_EQ(stderrCount(node, prefix + "connected to"), 2U) << node << connection;
            EXPECT_EQ(stderrCount(node, prefix + "no connection to"), 1U) << node << connection;
        }
        EXPECT_EQ(stderrCount(node, " again"), 2U) << "node " << node;
    }
}

TEST_F(ClusterProcessTest, TheIdsOfANodeKilledOutrightCanBeTakenOnTheOtherWithinTheLease)
{
    constexpr auto lease = 1500ms;
    startNodes({"--cluster-lease-ms", std::to_string(lease.count()), "--cluster-renewal-ms", "300"});
    auto alice = online(0, kAlice);
    auto bob = online(1, kBob);
    auto thief = connect(1);
    ASSERT_TRUE(thief);
    EXPECT_FALSE(thief->hello(kAlice)) << "held by the live node 0";

    ASSERT_EQ(nodes[0].process->stop(SIGKILL), 128 + SIGKILL);
    const auto killed = std::chrono::steady_clock::now();
    std::unique_ptr<WssTestClient> again;
    ASSERT_TRUE(waitFor([&] {
        again = connect(1);
        return again && again->hello(kAlice);
    }, lease + 1s));
    EXPECT_LT(std::chrono::steady_clock::now() - killed, lease + 1s);
    bob->sendJson({{"type", "push_msg"}, {"to", kAlice}});
    EXPECT_TRUE(again->nextOfType("push_msg"));

    ChildProcess renewalTooLong(TAVORO_RENDEZVOUS_PATH, {"--cluster-lease-ms", "100", "--cluster-renewal-ms", "100"});
    EXPECT_EQ(renewalTooLong.waitExit(), 2);
}

TEST_F(ClusterProcessTest, ThousandsOfMessagesBetweenTwoNodesArriveInOrderOneWayAndBothWaysAtOnce)
{
    startNodes();
    auto alice = online(0, kAlice);
    auto bob = online(1, kBob);
    constexpr int kCount = 5000;
    const auto burst = [](WssTestClient& from, const std::string& to, int count) {
        for (int seq = 0; seq < count; ++seq) {
            from.sendJson({{"type", "push_msg"}, {"to", to}, {"seq", seq}});
        }
    };
    burst(*alice, kBob, kCount);
    expectNumberedInOrder(*bob, kCount);

    std::thread back([&] { burst(*bob, kAlice, kCount); });
    burst(*alice, kBob, kCount);
    back.join();
    expectNumberedInOrder(*bob, kCount);
    expectNumberedInOrder(*alice, kCount);
}

TEST_F(ClusterProcessTest, ACallAcrossNodesGetsOneRelayOnTheCallersNodeThatCarriesDatagramsBothWays)
{
    startNodes();
    auto alice = online(0, kAlice);
    auto bob = online(1, kBob);
    alice->sendJson({{"type", "call"}, {"to", kBob}, {"call_id", "9"}});
    const auto call = bob->nextOfType("call");
    ASSERT_TRUE(call);
    bob->sendJson({{"type", "call_response"}, {"to", kAlice}, {"call_id", "9"}, {"accepted", true}});
    const auto answer = alice->nextOfType("call_response");
    ASSERT_TRUE(answer);
    const json relay = (*call)["relay"];
    ASSERT_EQ((*answer)["relay"], relay);
    ASSERT_EQ(relay["port"], nodes[0].relay);

    const auto port = static_cast<std::uint16_t>(nodes[0].relay);
    const std::string token = relay["token"];
    UdpTestSocket alicePeer;
    UdpTestSocket bobPeer;
    ASSERT_TRUE(joinRelay(alicePeer, port, token));
    ASSERT_TRUE(joinRelay(bobPeer, port, token));
    const std::vector<std::uint8_t> there(600, 0xA1);
    const std::vector<std::uint8_t> back(900, 0xB2);
    alicePeer.sendTo(port, there);
    bobPeer.sendTo(port, back);
    const auto atBob = bobPeer.receive();
    const auto atAlice = alicePeer.receive();
    ASSERT_TRUE(atBob && atAlice);
    EXPECT_EQ(atBob->bytes, there);
    EXPECT_EQ(atAlice->bytes, back);
}

} // namespace
} // namespace tavoro::test
