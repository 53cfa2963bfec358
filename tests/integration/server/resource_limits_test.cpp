// tavoro-rendezvous under attacks on its memory, its descriptors and its senders: each attack is
// played against the program itself on loopback, and the clients that behave must not notice.
#include "core/unique_fd.h"
#include "support/rendezvous_process.h"
#include "support/wait.h"
#include "support/wss_test_client.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

namespace tavoro::test {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

// The sanitizers' runtimes keep freed memory in quarantine, open descriptors of their own and slow
// the server down several times: its resident memory, its last few descriptors and how long 30 MB of
// messages take are not its own to measure then.
#ifdef TAVORO_SANITIZED
#define SKIP_UNDER_SANITIZERS() GTEST_SKIP() << "measures the process's own memory, descriptors or speed"
#else
#define SKIP_UNDER_SANITIZERS() (void)0
#endif

const std::string kAlice = "100000001";
const std::string kBob = "100000002";
const std::string kCarol = "100000003";
const std::string kNobody = "199999999";

std::unique_ptr<WssTestClient> online(core::EventLoopThread& loop, const RendezvousProcess& server, const std::string& id)
{
    auto client = WssTestClient::connect(loop, static_cast<std::uint16_t>(server.wss));
    EXPECT_TRUE(client && client->hello(id)) << id;
    return client;
}

// A message to itself comes back: the server still reads this client and still writes to it.
bool answers(WssTestClient& client, const std::string& id, std::chrono::milliseconds limit = 5s)
{
    client.sendJson({{"type", "probe"}, {"to", id}});
    return client.nextOfType("probe", limit).has_value();
}

std::size_t countLines(const ChildProcess& process, const std::string& fragment)
{
    std::size_t count = 0;
    for (const auto& line : process.stderrLines()) {
        count += line.find(fragment) != std::string::npos ? 1 : 0;
    }
    return count;
}

TEST(ResourceLimits, ClientsThatNeverReadTheirRepliesAreClosedAndTheirMemoryIsGivenBack)
{
    SKIP_UNDER_SANITIZERS();
    TempDir state;
    core::EventLoopThread loop("test.clients");
    auto server = startRendezvous(TAVORO_RENDEZVOUS_PATH, rendezvousArgs(state));
    ASSERT_GT(server.wss, 0);
    const pid_t pid = server.process->pid();
    auto alice = online(loop, server, kAlice);
    ASSERT_TRUE(alice && answers(*alice, kAlice));
    const long idle = residentKiB(pid);

    // Each call to an ID that is offline is answered with its own call ID: 20 MB of answers each,
    // more than the queue and the kernel's socket buffers together hold.
    constexpr int kAttackers = 10;
    const std::string callId(8 * 1024, 'c');
    std::vector<std::unique_ptr<WssTestClient>> attackers;
    for (int i = 0; i < kAttackers; ++i) {
        attackers.push_back(online(loop, server, std::to_string(200000000 + i)));
        ASSERT_TRUE(attackers.back());
        attackers.back()->pauseReading();
    }
    for (int round = 0; round < 2500; ++round) {
        for (auto& attacker : attackers) {
            attacker->sendJson({{"type", "call"}, {"to", kNobody}, {"call_id", callId}});
        }
    }
    long peak = idle;
    EXPECT_TRUE(waitFor(
        [&] {
            peak = std::max(peak, residentKiB(pid));
            return countLines(*server.process, "cannot keep up") == kAttackers;
        },
        60s))
        << countLines(*server.process, "cannot keep up") << " of the attackers closed";
    EXPECT_TRUE(answers(*alice, kAlice)) << "a client that reads is served throughout";
    for (auto& attacker : attackers) {
        attacker->resumeReading();
        EXPECT_TRUE(attacker->waitClosed(10s));
    }
    attackers.clear();

    EXPECT_LT(peak - idle, kAttackers * 20 * 1024) << "KiB above idle at the peak (idle " << idle << " KiB)";
    long after = 0;
    EXPECT_TRUE(waitFor(
        [&] {
            after = residentKiB(pid);
            return after <= idle + std::max(idle / 10, 4 * 1024L);
        },
        5s))
        << after << " KiB held after the attackers left, " << idle << " KiB idle, " << peak << " KiB at the peak";
    EXPECT_TRUE(answers(*alice, kAlice));
}

// A TCP connection from a chosen loopback address that never starts TLS.
class RawConnection {
public:
    RawConnection(const std::string& from, int port) : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        ::inet_pton(AF_INET, from.c_str(), &local.sin_addr);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(static_cast<std::uint16_t>(port));
        ::inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
        connected_ = ::bind(fd_.get(), reinterpret_cast<sockaddr*>(&local), sizeof local) == 0
            && ::connect(fd_.get(), reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0;
    }

    // True when the server ends the connection within the limit (refused); false while it keeps it.
    bool endedWithin(std::chrono::milliseconds limit)
    {
        if (!connected_) {
            return true;
        }
        pollfd watched{fd_.get(), POLLIN | POLLRDHUP, 0};
        if (::poll(&watched, 1, static_cast<int>(limit.count())) <= 0) {
            return false;
        }
        char byte = 0;
        return ::recv(fd_.get(), &byte, 1, MSG_DONTWAIT) <= 0;
    }

private:
    core::UniqueFd fd_;
    bool connected_ = false;
};

std::size_t openDescriptors(pid_t pid)
{
    const auto dir = std::filesystem::path("/proc") / std::to_string(pid) / "fd";
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
}

TEST(ResourceLimits, OneAddressCannotHoldEveryDescriptorAndRunningOutRefusesAtOnce)
{
    SKIP_UNDER_SANITIZERS();
    TempDir state;
    core::EventLoopThread loop("test.clients");
    auto args = rendezvousArgs(state);
    args.insert(args.end(), {"--max-per-address", "8"});
    auto server = startRendezvous(TAVORO_RENDEZVOUS_PATH, args);
    ASSERT_GT(server.wss, 0);
    const pid_t pid = server.process->pid();

    std::vector<std::unique_ptr<RawConnection>> held;
    for (int i = 0; i < 8; ++i) {
        held.push_back(std::make_unique<RawConnection>("127.0.0.2", server.wss));
    }
    RawConnection ninth("127.0.0.2", server.wss);
    EXPECT_TRUE(ninth.endedWithin(2s)) << "over the per-address limit";
    for (auto& connection : held) {
        EXPECT_FALSE(connection->endedWithin(0ms));
    }
    auto alice = online(loop, server, kAlice);
    ASSERT_TRUE(alice) << "another address still gets in";

    // Out of descriptors: only a few left, then many addresses each within their limit.
    const rlimit few{openDescriptors(pid) + 12, openDescriptors(pid) + 12};
    ASSERT_EQ(::prlimit(pid, RLIMIT_NOFILE, &few, nullptr), 0);
    int refused = 0;
    for (int address = 3; address < 10 && refused < 5; ++address) {
        for (int i = 0; i < 8 && refused < 5; ++i) {
            held.push_back(std::make_unique<RawConnection>("127.0.0." + std::to_string(address), server.wss));
            refused += held.back()->endedWithin(300ms) ? 1 : 0;
        }
    }
    EXPECT_EQ(refused, 5) << "connections beyond the descriptors are refused, not left waiting";
    EXPECT_EQ(countLines(*server.process, "out of file descriptors"), 1u) << "logged once, not for each";
    EXPECT_TRUE(answers(*alice, kAlice));

    held.clear();
    auto bob = WssTestClient::connect(loop, static_cast<std::uint16_t>(server.wss));
    EXPECT_TRUE(bob && bob->hello(kBob)) << "once they are gone, clients get in again";
}

TEST(ResourceLimits, AReceiverThatNeverReadsIsClosedWhileItsSenderGoesOnServingOthers)
{
    SKIP_UNDER_SANITIZERS();
    TempDir state;
    core::EventLoopThread loop("test.clients");
    auto server = startRendezvous(TAVORO_RENDEZVOUS_PATH, rendezvousArgs(state));
    ASSERT_GT(server.wss, 0);
    auto alice = online(loop, server, kAlice);
    auto bob = online(loop, server, kBob);
    auto carol = online(loop, server, kCarol);
    ASSERT_TRUE(alice && bob && carol);
    bob->pauseReading();

    constexpr int kMessages = 60;
    const std::string pad(500 * 1024, 'x');
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kMessages; ++i) {
        alice->sendJson({{"type", "file_xfer_chunk"}, {"to", kBob}, {"offset", i}, {"data_b64", pad}});
        alice->sendJson({{"type", "input"}, {"to", kCarol}, {"seq", i}});
    }
    for (int i = 0; i < kMessages; ++i) {
        auto input = carol->nextOfType("input", 10s);
        ASSERT_TRUE(input) << i;
        EXPECT_EQ((*input)["seq"], i);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 10s) << "Carol's messages waited for Bob";

    bob->resumeReading();
    EXPECT_TRUE(bob->waitClosed(10s)) << "the receiver that fell behind is closed";
    EXPECT_TRUE(answers(*alice, kAlice)) << "its sender is served on";
    EXPECT_TRUE(answers(*carol, kCarol));
}

} // namespace
} // namespace tavoro::test
