// Two tavoro-rendezvous nodes sharing a redis-server: what the hop from one node to the other through
// Redis adds to a message's latency, and how many messages a second cross between the nodes.
#include "bench_support.h"
#include "support/redis_process.h"
#include "support/wss_test_client.h"

#include <algorithm>
#include <atomic>
#include <iostream>
#include <mutex>
#include <thread>

namespace tavoro::bench {
namespace {

using Clock = std::chrono::steady_clock;

std::string deviceId(int index) { return std::to_string(300000000 + index); }

std::string messageTo(int index)
{
    return R"({"type":"input","to":")" + deviceId(index) + R"(","call_id":"1700000000000","kind":"move","x":0.4711,"y":0.2718})";
}

struct Cluster {
    test::RedisProcess redis;
    test::TempDir states[2];
    test::RendezvousProcess nodes[2];
};

bool startCluster(Cluster& cluster)
{
    for (int node = 0; node < 2; ++node) {
        cluster.nodes[node] = startRendezvous(cluster.states[node], {"--redis", cluster.redis.url()});
        if (cluster.nodes[node].wss == 0) {
            std::cerr << "node " << node << " did not start\n";
            return false;
        }
    }
    return true;
}

// A client bound to its device ID whose text messages go to onText (the probe that confirms the
// binding excepted); nothing when it could not connect.
std::unique_ptr<test::WssTestClient> bound(core::EventLoopThread& loop, int wssPort, int index,
    std::function<void(std::string_view)> onText)
{
    auto probed = std::make_shared<std::atomic<bool>>(false);
    test::WssTestClient::Options options;
    options.port = static_cast<std::uint16_t>(wssPort);
    options.onText = [probed, onText = std::move(onText)](std::string_view text) {
        if (text.find("hello_probe") != std::string_view::npos) {
            *probed = true;
        } else {
            onText(text);
        }
    };
    auto client = test::WssTestClient::connect(loop, options).client;
    if (!client) {
        return nullptr;
    }
    client->sendJson({{"type", "hello"}, {"device_id", deviceId(index)}, {"token", "qxm"}});
    client->sendJson({{"type", "hello_probe"}, {"to", deviceId(index)}});
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!*probed && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return *probed ? std::move(client) : nullptr;
}

struct RoundTrips {
    double p50 = 0; // microseconds
    double p99 = 0;
    std::size_t count = 0;
};

double percentile(std::vector<double>& sorted, double fraction)
{
    return sorted.empty() ? 0 : sorted[static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1))];
}

// One message in flight between a client on node `first` and one on node `second`: A sends, B answers
// at once, A sends the next when the answer is back. Round trips A->B->A for `seconds`.
RoundTrips pingPong(const Cluster& cluster, int first, int second, int pairIndex, double seconds)
{
    core::EventLoopThread loop("bench.pingpong");
    const int a = 2 * pairIndex;
    const int b = a + 1;
    std::mutex mutex;
    std::vector<double> micros;
    std::atomic<bool> running{true};
    Clock::time_point sentAt;
    std::unique_ptr<test::WssTestClient> clientA;
    std::unique_ptr<test::WssTestClient> clientB;
    // Both callbacks run on the loop's thread, as does every send from them.
    clientB = bound(loop, cluster.nodes[second].wss, b, [&](std::string_view) { clientB->sendText(messageTo(a)); });
    clientA = bound(loop, cluster.nodes[first].wss, a, [&](std::string_view) {
        const auto now = Clock::now();
        {
            std::lock_guard lock(mutex);
            micros.push_back(std::chrono::duration<double, std::micro>(now - sentAt).count());
        }
        if (running) {
            sentAt = Clock::now();
            clientA->sendText(messageTo(b));
        }
    });
    if (!clientA || !clientB) {
        std::cerr << "ping-pong clients did not come online\n";
        return {};
    }
    loop.post([&] {
        sentAt = Clock::now();
        clientA->sendText(messageTo(b));
    });
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    running = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::lock_guard lock(mutex);
    // The first round trips warm up connections and caches.
    std::vector<double> sorted(micros.begin() + static_cast<long>(std::min<std::size_t>(micros.size(), 100)), micros.end());
    std::sort(sorted.begin(), sorted.end());
    return {percentile(sorted, 0.5), percentile(sorted, 0.99), sorted.size()};
}

// `pairs` pairs, A on node `first` and B on node `second`, each keeping a window of messages in flight
// both ways (every message received makes its receiver send one back). Messages a second.
double throughput(const Cluster& cluster, int first, int second, int pairs, double seconds, int indexBase)
{
    constexpr int kWindow = 16;
    core::EventLoopThread loops[2] = {core::EventLoopThread("bench.clients1"), core::EventLoopThread("bench.clients2")};
    std::atomic<long> received{0};
    std::atomic<bool> running{true};
    std::vector<std::unique_ptr<test::WssTestClient>> clients(static_cast<std::size_t>(2 * pairs));
    for (int i = 0; i < 2 * pairs; ++i) {
        const int index = indexBase + i;
        const std::string reply = messageTo(indexBase + (i ^ 1));
        auto* slot = &clients[static_cast<std::size_t>(i)];
        *slot = bound(loops[(i / 2) % 2], cluster.nodes[i % 2 == 0 ? first : second].wss, index,
            [slot, reply, &received, &running](std::string_view) {
                received.fetch_add(1, std::memory_order_relaxed);
                if (running) {
                    (*slot)->sendText(reply);
                }
            });
        if (!*slot) {
            std::cerr << "throughput clients did not come online\n";
            return 0;
        }
    }
    for (int i = 0; i < 2 * pairs; i += 2) {
        for (int w = 0; w < kWindow; ++w) {
            clients[static_cast<std::size_t>(i)]->sendText(messageTo(indexBase + i + 1));
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // warm-up
    const long startCount = received;
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const long routed = received - startCount;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    running = false;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return static_cast<double>(routed) / elapsed;
}

} // namespace

int benchCluster(int seconds)
{
    raiseFileLimit();
    Cluster cluster;
    if (!startCluster(cluster)) {
        return 1;
    }
    const double half = std::max(1.0, seconds / 2.0);
    const auto local = pingPong(cluster, 0, 0, 0, half);
    const auto crossing = pingPong(cluster, 0, 1, 1, half);
    std::cout << "cluster: two nodes on one redis-server, one message in flight, round trips A->B->A\n"
              << "  same node:   p50 " << local.p50 / 1000 << " ms, p99 " << local.p99 / 1000 << " ms (" << local.count
              << " round trips)\n"
              << "  across nodes: p50 " << crossing.p50 / 1000 << " ms, p99 " << crossing.p99 / 1000 << " ms ("
              << crossing.count << " round trips, both legs crossing)\n"
              << "  added by crossing: p50 " << (crossing.p50 - local.p50) / 1000 << " ms, p99 "
              << (crossing.p99 - local.p99) / 1000 << " ms per round trip\n";

    constexpr int kPairs = 50;
    const pid_t pids[2] = {cluster.nodes[0].process->pid(), cluster.nodes[1].process->pid()};
    const double cpuBefore = processCpuSeconds(pids[0]) + processCpuSeconds(pids[1]);
    const auto start = Clock::now();
    const double acrossRate = throughput(cluster, 0, 1, kPairs, seconds, 1000);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = processCpuSeconds(pids[0]) + processCpuSeconds(pids[1]) - cpuBefore;
    const double localRate = throughput(cluster, 0, 0, kPairs, seconds, 2000);
    std::cout << "  " << kPairs << " pairs, window 16 each: " << static_cast<long>(acrossRate)
              << " messages/s across nodes (both nodes' CPU " << 100.0 * cpu / elapsed << " % of one core), "
              << static_cast<long>(localRate) << " messages/s within one node\n";
    return 0;
}

} // namespace tavoro::bench
