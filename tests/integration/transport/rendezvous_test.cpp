#include "integration/transport/transport_fixture.h"
#include "support/rendezvous_process.h"
#include "support/udp_test_socket.h"
#include "support/wait.h"
#include "transport/stun.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace tavoro::test {
namespace {

using namespace std::chrono_literals;

const std::string kRelayToken = "relay-test-token-0123456789";

// tavoro-rendezvous on 127.0.0.1 with a standing relay session for kRelayToken.
RendezvousProcess startWithStandingRelay(const TempDir& state)
{
    auto args = rendezvousArgs(state);
    args.insert(args.end(), {"--relay-token", kRelayToken, "--relay-rate-mbit", "1000"});
    return startRendezvous(TAVORO_RENDEZVOUS_BIN, args);
}

// Starts a transport asking only `stunPort` and checks it learns and advertises its reflexive address.
void expectReflexiveAddressFrom(std::uint16_t stunPort)
{
    log::Capture logs;
    TestTransport lone({{"127.0.0.1", stunPort}});
    lone.transport->start();
    const auto expected = "Tavoro p2p: STUN 反射地址 127.0.0.1:" + std::to_string(lone.transport->localPort());
    ASSERT_TRUE(waitFor([&] { return logs.contains(expected); }, 2s));
    ASSERT_TRUE(lone.advertised());
    EXPECT_EQ(lone.signals().front()["candidates"].back()["type"], "srflx");
    EXPECT_EQ(logs.count("Tavoro p2p: STUN 反射地址 "), 1u);
}

TEST(Rendezvous, ItsStunResponderGivesTheReflexiveAddressAndItsRelayJoinsTwoTransports)
{
    TempDir state;
    const auto server = startWithStandingRelay(state);
    ASSERT_NE(server.stun, 0);
    expectReflexiveAddressFrom(static_cast<std::uint16_t>(server.stun));

    // With candidates withheld, both sides connect through the UDP relay.
    ASSERT_NE(server.relay, 0);
    log::Capture logs;
    TestTransport host;
    TestTransport viewer;
    host.transport->setRelay("127.0.0.1", server.relay, kRelayToken);
    viewer.transport->setRelay("127.0.0.1", server.relay, kRelayToken);
    EXPECT_EQ(logs.count("Tavoro p2p: UDP 中继候选 127.0.0.1:" + std::to_string(server.relay)), 2u);
    host.transport->start();
    viewer.transport->start();
    ASSERT_TRUE(waitFor([&] {
        return host.transport->linkState().connected && viewer.transport->linkState().connected;
    }, 4s));
    EXPECT_TRUE(host.transport->linkState().relayed());
    EXPECT_TRUE(viewer.transport->linkState().relayed());
    EXPECT_TRUE(waitFor([&] { return logs.count(" (UDP 中继)") == 2; }, 1s));
    EXPECT_FALSE(logs.contains(" (直连)"));

    EXPECT_TRUE(sendAndAwait(host, viewer, patterned(100'000, 1)));
    EXPECT_TRUE(sendAndAwait(host, viewer, patterned(300'000, 2)));
    EXPECT_TRUE(sendAndAwait(viewer, host, patterned(1101, 3)));
}

// coturn as a plain STUN server on loopback, run as an unprivileged user.
class Coturn {
public:
    Coturn() : port(freeUdpPort()), process(::geteuid() == 0 ? "/usr/bin/setpriv" : "/usr/bin/turnserver", arguments())
    {
    }

    std::vector<std::string> arguments()
    {
        ::chmod(dir.path().c_str(), 0777);
        std::vector<std::string> args;
        if (::geteuid() == 0) {
            args = {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "/usr/bin/turnserver"};
        }
        args.insert(args.end(), {"-n", "--stun-only", "--listening-ip=127.0.0.1",
            "--listening-port=" + std::to_string(port), "--no-tls", "--no-dtls", "--no-cli",
            "--pidfile=" + (dir.path() / "turnserver.pid").string(),
            "--userdb=" + (dir.path() / "turndb").string(), "--log-file=stdout"});
        return args;
    }

    // Asks until the server answers a Binding request.
    bool ready()
    {
        UdpTestSocket probe;
        const transport::stun::TransactionId txn{9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9};
        for (int attempt = 0; attempt < 50; ++attempt) {
            probe.sendTo(port, transport::stun::makeBindingRequest(txn));
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
    expectReflexiveAddressFrom(coturn.port);
}

} // namespace
} // namespace tavoro::test
