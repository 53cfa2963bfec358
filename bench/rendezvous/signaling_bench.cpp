// Idle connections held and routed messages per second, against a tavoro-rendezvous process.
#include "bench_support.h"
#include "light_client.h"
#include "support/wss_test_client.h"

#include <atomic>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <thread>

namespace tavoro::bench {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string deviceId(int index) { return std::to_string(100000000 + index); }

} // namespace

int benchConnections(int count)
{
    const long files = raiseFileLimit();
    std::cout << "open-file limit " << files << " (each side needs one descriptor per connection)\n";
    test::TempDir state;
    // Every client comes from 127.0.0.1.
    const auto server = startRendezvous(state, {"--max-per-address", std::to_string(count)});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long before = residentKiB(server.process->pid());

    core::EventLoopThread loop("bench.clients");
    std::vector<std::unique_ptr<test::WssTestClient>> clients(static_cast<std::size_t>(count));
    std::atomic<int> failed{0};
    const auto start = Clock::now();
    std::vector<std::thread> connectors;
    constexpr int kConnectors = 8;
    for (int t = 0; t < kConnectors; ++t) {
        connectors.emplace_back([&, t] {
            for (int i = t; i < count; i += kConnectors) {
                auto client = test::WssTestClient::connect(loop, static_cast<std::uint16_t>(server.wss));
                if (!client || !client->hello(deviceId(i))) {
                    ++failed;
                    continue;
                }
                clients[static_cast<std::size_t>(i)] = std::move(client);
            }
        });
    }
    for (auto& connector : connectors) {
        connector.join();
    }
    const double took = secondsSince(start);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long after = residentKiB(server.process->pid());

    int open = 0;
    for (const auto& client : clients) {
        open += client && client->isOpen() ? 1 : 0;
    }
    const int held = count - failed;
    std::cout << "connections: " << held << " bound (" << failed << " failed) in " << took << " s, " << open
              << " still open after 2 s\n"
              << "server resident memory: " << before / 1024.0 << " MiB idle, " << after / 1024.0 << " MiB with "
              << held << " connections\n"
              << "per connection: " << (held > 0 ? static_cast<double>(after - before) / held : 0) << " KiB; "
              << "10,000 connections would take " << (held > 0 ? (after - before) * 10000.0 / held / 1024.0 + before / 1024.0 : 0)
              << " MiB\n";
    if (const char* hold = std::getenv("TAVORO_BENCH_HOLD_SECONDS")) { // time to look at the server by hand
        std::cout << "holding server pid " << server.process->pid() << std::endl;
        std::this_thread::sleep_for(std::chrono::seconds(std::atoi(hold)));
    }
    return failed == 0 ? 0 : 1;
}

namespace {

struct RoutingFigures {
    double messagesPerSecond = 0;
    double serverCpu = 0; // in cores
    double clientCpu = 0; // this process, the load generator, in cores
};

// Each client sends its partner a window of messages at once, then reads the window its partner sent:
// the server routes in both directions all the time. Two threads (like the server's two cores) share the
// pairs; each runs its pairs in rounds.
std::optional<RoutingFigures> routeThrough(int threads, int pairs, int seconds)
{
    test::TempDir state;
    const auto server = startRendezvous(state, {"--threads", std::to_string(threads)});
    const auto context = LightClient::makeContext();
    constexpr int kWindow = 16;
    constexpr int kClientThreads = 2;
    std::vector<std::unique_ptr<LightClient>> clients;
    std::vector<std::string> messages; // what each client sends its partner
    for (int i = 0; i < 2 * pairs; ++i) {
        messages.push_back(R"({"type":"input","to":")" + deviceId(i ^ 1)
            + R"(","call_id":"1700000000000","kind":"move","x":0.4711,"y":0.2718})");
        clients.push_back(LightClient::connect(context.get(), static_cast<std::uint16_t>(server.wss), deviceId(i)));
        if (!clients.back()) {
            std::cerr << "connect failed\n";
            return std::nullopt;
        }
    }
    std::atomic<long> received{0};
    std::atomic<bool> running{true};
    std::atomic<bool> failed{false};
    std::vector<std::thread> loops;
    for (int t = 0; t < kClientThreads; ++t) {
        loops.emplace_back([&, t] {
            core::setCurrentThreadName("bench.clients" + std::to_string(t + 1));
            std::vector<std::size_t> mine; // whole pairs, so that every window sent is also read here
            for (int i = 2 * t; i < 2 * pairs; i += 2 * kClientThreads) {
                mine.push_back(static_cast<std::size_t>(i));
                mine.push_back(static_cast<std::size_t>(i + 1));
            }
            while (running && !failed) {
                for (std::size_t i : mine) {
                    failed = failed || !clients[i]->sendRepeated(messages[i], kWindow);
                }
                for (std::size_t i : mine) {
                    failed = failed || !clients[i]->receive(kWindow);
                }
                received.fetch_add(static_cast<long>(mine.size()) * kWindow, std::memory_order_relaxed);
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::seconds(1)); // warm-up
    const long startCount = received;
    const double startCpu = processCpuSeconds(server.process->pid());
    const double startClientCpu = processCpuSeconds(::getpid());
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const long routed = received - startCount;
    const double elapsed = secondsSince(start);
    RoutingFigures figures;
    figures.messagesPerSecond = static_cast<double>(routed) / elapsed;
    figures.serverCpu = (processCpuSeconds(server.process->pid()) - startCpu) / elapsed;
    figures.clientCpu = (processCpuSeconds(::getpid()) - startClientCpu) / elapsed;
    running = false;
    for (auto& loop : loops) {
        loop.join();
    }
    if (failed) {
        std::cerr << "a client failed\n";
        return std::nullopt;
    }
    std::cout << "routing with --threads " << threads << ": " << pairs << " pairs, window " << kWindow << " per client, "
              << messages[0].size() << "-byte messages\n"
              << "  routed " << routed << " messages in " << elapsed << " s: "
              << static_cast<long>(figures.messagesPerSecond) << " messages/s; server CPU "
              << 100.0 * figures.serverCpu << " % of one core, load generator CPU " << 100.0 * figures.clientCpu
              << " % of one core" << std::endl;
    return figures;
}

} // namespace

// The same load against one serving thread and against two, one after the other.
int benchRouting(int pairs, int seconds)
{
    raiseFileLimit();
    printLoad();
    const auto one = routeThrough(1, pairs, seconds);
    const auto two = one ? routeThrough(2, pairs, seconds) : std::nullopt;
    if (!two) {
        return 1;
    }
    std::cout << "2 threads / 1 thread: " << two->messagesPerSecond / one->messagesPerSecond << " x the messages/s ("
              << static_cast<long>(one->messagesPerSecond) << " -> " << static_cast<long>(two->messagesPerSecond)
              << ")\n";
    return 0;
}

// Clients that never read while each of their calls to an offline ID draws an answer: the server's
// memory at the peak, and what it still holds after they have been closed and are gone.
int benchFlood(int count)
{
    raiseFileLimit();
    test::TempDir state;
    const auto server = startRendezvous(state);
    const pid_t pid = server.process->pid();
    core::EventLoopThread loop("bench.clients");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long idle = residentKiB(pid);

    std::vector<std::unique_ptr<test::WssTestClient>> clients;
    for (int i = 0; i < count; ++i) {
        auto client = test::WssTestClient::connect(loop, static_cast<std::uint16_t>(server.wss));
        if (!client || !client->hello(deviceId(i))) {
            std::cerr << "connect failed\n";
            return 1;
        }
        client->pauseReading();
        clients.push_back(std::move(client));
    }
    const std::string call = nlohmann::json{{"type", "call"}, {"to", "199999999"}, {"call_id", std::string(1024, 'c')}}.dump();
    const auto closedCount = [&] {
        std::size_t closed = 0;
        for (const auto& line : server.process->stderrLines()) {
            closed += line.find("cannot keep up") != std::string::npos ? 1 : 0;
        }
        return closed;
    };
    long peak = idle;
    const auto start = Clock::now();
    for (int round = 0; closedCount() < clients.size() && secondsSince(start) < 120; ++round) {
        for (auto& client : clients) {
            for (int i = 0; i < 500; ++i) {
                client->sendText(call);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        peak = std::max(peak, residentKiB(pid));
    }
    const double took = secondsSince(start);
    const std::size_t closed = closedCount();
    clients.clear();
    std::this_thread::sleep_for(std::chrono::seconds(3)); // gone, and a housekeeping tick after that
    const long after = residentKiB(pid);
    std::cout << "flood: " << count << " clients that never read, 1 KiB answers: " << closed << " closed by the server in "
              << took << " s\n"
              << "server resident memory: " << idle / 1024.0 << " MiB idle, " << peak / 1024.0 << " MiB at the peak, "
              << after / 1024.0 << " MiB 3 s after they left (" << 100.0 * (after - idle) / idle << " % above idle)\n";
    return 0;
}

} // namespace tavoro::bench
