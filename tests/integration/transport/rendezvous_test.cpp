#include "integration/transport/transport_fixture.h"
#include "integration/transport/udp_probe.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "transport/stun.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace tavoro::test {
namespace {

using namespace std::chrono_literals;

const std::string kRelayToken = "relay-test-token-0123456789";

std::uint16_t portAfter(const ChildProcess& process, const std::string& prefix)
{
    const std::string line = process.waitForStdout(prefix);
    return line.empty() ? 0 : static_cast<std::uint16_t>(std::stoi(line.substr(line.find(prefix) + prefix.size())));
}

// tavoro-rendezvous on 127.0.0.1 with a standing relay session for kRelayToken.
class Rendezvous {
public:
    Rendezvous()
        : process(TAVORO_RENDEZVOUS_BIN,
              {"--listen", "127.0.0.1:0", "--relay-port", "0", "--stun-port", "0", "--state-dir",
                  (stateDir.path() / "state").string(), "--relay-token", kRelayToken, "--relay-rate-mbit", "1000"})
        , relayPort(portAfter(process, "listening relay "))
        , stunPort(portAfter(process, "listening stun "))
    {
    }

    TempDir stateDir;
    ChildProcess process;
    std::uint16_t relayPort;
    std::uint16_t stunPort;
};

Bytes patterned(std::size_t size, std::uint8_t seed)
{
    Bytes out(size);
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = static_cast<std::uint8_t>(seed ^ (i * 7 + i / 1100));
    }
    return out;
}

bool sendAndAwait(TestTransport& from, TestTransport& to, const Bytes& frame)
{
    const auto before = to.frameCount();
    if (!from.transport->sendFrame(frame)) {
        return false;
    }
    return waitFor([&] { return to.frameCount() > before; }, 3s)
        && to.received->read([&](Received& r) { return r.frames.back() == frame; });
}

TEST(RendezvousRelay, WithCandidatesWithheldBothSidesConnectThroughTheUdpRelay)
{
    Rendezvous server;
    ASSERT_NE(server.relayPort, 0);
    log::Capture logs;
    // The host's datagrams pass a forwarder, which counts its relay binds.
    UdpForwarder hostSide({0x7F000001, server.relayPort});
    TestTransport host({});
    TestTransport viewer({});
    host.linkTo(nullptr);
    viewer.linkTo(nullptr);
    host.transport->setRelay("127.0.0.1", hostSide.port(), kRelayToken);
    viewer.transport->setRelay("127.0.0.1", server.relayPort, kRelayToken);
    const auto started = std::chrono::steady_clock::now();
    host.transport->start();
    viewer.transport->start();

    ASSERT_TRUE(waitFor([&] {
        return host.transport->linkState().connected && viewer.transport->linkState().connected;
    }, 4s));
    const auto connectedAt = std::chrono::steady_clock::now();
    EXPECT_TRUE(host.transport->linkState().relayed());
    EXPECT_TRUE(viewer.transport->linkState().relayed());
    EXPECT_TRUE(waitFor([&] { return logs.count(" (UDP 中继)") == 2; }, 1s));
    EXPECT_FALSE(logs.contains(" (直连)"));

    EXPECT_TRUE(sendAndAwait(host, viewer, patterned(100'000, 1)));
    EXPECT_TRUE(sendAndAwait(host, viewer, patterned(300'000, 2)));
    EXPECT_TRUE(sendAndAwait(viewer, host, patterned(1101, 3)));

    // Binds start after one second and, once the relay is the selected path, repeat every 2 s.
    std::this_thread::sleep_for(4500ms);
    std::vector<std::chrono::steady_clock::time_point> binds;
    for (const auto& sent : hostSide.sent()) {
        if (sent.kind == 8) {
            binds.push_back(sent.at);
        }
    }
    ASSERT_FALSE(binds.empty());
    EXPECT_GE(binds.front() - started, 950ms);
    std::vector<std::chrono::steady_clock::time_point> refreshes;
    for (auto at : binds) {
        if (at > connectedAt) {
            refreshes.push_back(at);
        }
    }
    ASSERT_GE(refreshes.size(), 2u);
    for (std::size_t i = 1; i < refreshes.size(); ++i) {
        EXPECT_GE(refreshes[i] - refreshes[i - 1], 1900ms);
        EXPECT_LE(refreshes[i] - refreshes[i - 1], 2500ms);
    }
    EXPECT_TRUE(sendAndAwait(host, viewer, patterned(5000, 4)));
}

TEST(RendezvousStun, OurResponderGivesTheReflexiveAddress)
{
    Rendezvous server;
    ASSERT_NE(server.stunPort, 0);
    log::Capture logs;
    TestTransport lone({{"127.0.0.1", server.stunPort}});
    lone.linkTo(nullptr);
    lone.transport->start();
    const auto expected = "127.0.0.1:" + std::to_string(lone.transport->localPort());
    ASSERT_TRUE(waitFor([&] { return logs.contains("Tavoro p2p: STUN 反射地址 " + expected); }, 2s));
    ASSERT_TRUE(waitFor([&] { return lone.received->read([](Received& r) { return !r.signals.empty(); }); }, 2s));
    const auto first = lone.received->read([](Received& r) { return r.signals.front(); });
    EXPECT_EQ(first["candidates"].back()["type"], "srflx");
}

// coturn as a plain STUN server on loopback, run as an unprivileged user.
class Coturn {
public:
    Coturn() : port(freeUdpPort()), process(program(), arguments()) {}

    static std::string program() { return ::geteuid() == 0 ? "/usr/bin/setpriv" : "/usr/bin/turnserver"; }

    std::vector<std::string> arguments()
    {
        ::chmod(dir.path().c_str(), 0777);
        std::vector<std::string> args;
        if (::geteuid() == 0) {
            args = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "/usr/bin/turnserver"};
        }
        const std::vector<std::string> own{"-n", "--stun-only", "--listening-ip=127.0.0.1",
            "--listening-port=" + std::to_string(port), "--no-tls", "--no-dtls", "--no-cli",
            "--pidfile=" + (dir.path() / "turnserver.pid").string(),
            "--userdb=" + (dir.path() / "turndb").string(), "--log-file=stdout"};
        args.insert(args.end(), own.begin(), own.end());
        return args;
    }

    // Asks until the server answers a Binding request.
    bool ready()
    {
        UdpProbe probe;
        const transport::stun::TransactionId txn{9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
        for (int attempt = 0; attempt < 50; ++attempt) {
            probe.send(transport::stun::makeBindingRequest(txn), {0x7F000001, port});
            if (auto answer = probe.receive(100ms); answer && transport::stun::parseBindingResponse(answer->bytes, txn)) {
                return true;
            }
        }
        return false;
    }

    TempDir dir;
    std::uint16_t port;
    ChildProcess process;
};

TEST(CoturnStun, AStunServerWeDidNotWriteGivesTheReflexiveAddress)
{
    Coturn coturn;
    ASSERT_TRUE(coturn.ready()) << "turnserver did not answer on port " << coturn.port;
    log::Capture logs;
    TestTransport lone({{"127.0.0.1", coturn.port}});
    lone.linkTo(nullptr);
    lone.transport->start();
    const auto expected = "127.0.0.1:" + std::to_string(lone.transport->localPort());
    ASSERT_TRUE(waitFor([&] { return logs.contains("Tavoro p2p: STUN 反射地址 " + expected); }, 2s));
    EXPECT_EQ(logs.count("Tavoro p2p: STUN 反射地址 "), 1u);
}

} // namespace
} // namespace tavoro::test
