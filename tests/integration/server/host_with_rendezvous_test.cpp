// tavoro-host, the installation program, against tavoro-rendezvous: both as users run them.
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "support/wss_test_client.h"

#include <gtest/gtest.h>

#include <csignal>
#include <regex>

namespace tavoro::test {
namespace {

using namespace std::chrono_literals;

struct Rendezvous {
    std::unique_ptr<ChildProcess> process;
    std::string wssPort;
    std::string fingerprint;
};

Rendezvous startRendezvous(const TempDir& state, const std::string& listen = "127.0.0.1:0")
{
    Rendezvous server;
    server.process = std::make_unique<ChildProcess>(TAVORO_RENDEZVOUS_PATH,
        std::vector<std::string>{"--listen", listen, "--relay-port", "0", "--stun-port", "0", "--state-dir",
            state.path().string()});
    server.wssPort = server.process->readUntilPrefix("listening wss ").value_or("");
    server.fingerprint = server.process->readUntilPrefix("cert sha256 ").value_or("");
    return server;
}

TEST(HostWithRendezvous, ComesOnlineHoldsItsIdAndReturnsAfterTheServerRestarts)
{
    TempDir state;
    TempDir config;
    core::EventLoopThread clients("test.clients");
    auto server = startRendezvous(state);
    ASSERT_FALSE(server.wssPort.empty());
    ChildProcess host(TAVORO_HOST_BIN, {"--server", "127.0.0.1:" + server.wssPort, "--config-dir", config.path().string(),
                                           "--server-cert-sha256", server.fingerprint});

    const std::string online = host.waitForStdout("在线 · ID ", 20s);
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(online, parts, std::regex("在线 · ID ([0-9]{9}) · 密码 (.+)"))) << online;
    const std::string hostId = parts[1];

    // The server holds the ID for the host: another connection claiming it is refused, and a call to
    // it is forwarded rather than answered "offline".
    auto intruder = WssTestClient::connect(clients, static_cast<std::uint16_t>(std::stoi(server.wssPort)));
    ASSERT_TRUE(intruder);
    EXPECT_FALSE(intruder->hello(hostId));
    auto caller = WssTestClient::connect(clients, static_cast<std::uint16_t>(std::stoi(server.wssPort)));
    ASSERT_TRUE(caller && caller->hello("100000001"));
    caller->sendJson({{"type", "call"}, {"to", hostId}, {"mode", "view"}, {"password", parts[2]}, {"call_id", "1"}});
    EXPECT_FALSE(caller->nextOfType("call_ack", 300ms));

    // The same state folder keeps the certificate, so the pinned host accepts the restarted server.
    EXPECT_EQ(server.process->stop(SIGTERM), 0);
    EXPECT_NE(host.waitForStdout("连接断开"), "");
    auto restarted = startRendezvous(state, "127.0.0.1:" + server.wssPort);
    ASSERT_EQ(restarted.fingerprint, server.fingerprint);
    EXPECT_TRUE(waitFor([&] { return host.countStdout("在线 · ID " + hostId) == 2; }, 20s));

    EXPECT_EQ(host.stop(SIGTERM), 0);
}

} // namespace
} // namespace tavoro::test
