// tavoro-host, the installation program, against tavoro-rendezvous: both as users run them.
#include "support/rendezvous_process.h"
#include "support/wait.h"
#include "support/wss_test_client.h"

#include <gtest/gtest.h>

#include <csignal>
#include <regex>

namespace tavoro::test {
namespace {

using namespace std::chrono_literals;

TEST(HostWithRendezvous, ComesOnlineHoldsItsIdAndReturnsAfterTheServerRestarts)
{
    TempDir state;
    TempDir config;
    core::EventLoopThread clients("test.clients");
    auto server = startRendezvous(TAVORO_RENDEZVOUS_PATH, rendezvousArgs(state));
    const std::string address = "127.0.0.1:" + std::to_string(server.wss);
    ASSERT_GT(server.wss, 0);
    ChildProcess host(TAVORO_HOST_BIN, {"--server", address, "--config-dir", config.path().string(),
                                           "--server-cert-sha256", server.fingerprint});

    const std::string online = host.waitForStdout("在线 · ID ", 20s);
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(online, parts, std::regex("在线 · ID ([0-9]{9}) · 密码 (.+)"))) << online;
    const std::string hostId = parts[1];

    // The server holds the ID for the host: another connection claiming it is refused, and a call to
    // it is forwarded rather than answered "offline".
    auto intruder = WssTestClient::connect(clients, static_cast<std::uint16_t>(server.wss));
    ASSERT_TRUE(intruder);
    EXPECT_FALSE(intruder->hello(hostId));
    auto caller = WssTestClient::connect(clients, static_cast<std::uint16_t>(server.wss));
    ASSERT_TRUE(caller && caller->hello("100000001"));
    caller->sendJson({{"type", "call"}, {"to", hostId}, {"mode", "view"}, {"password", parts[2]}, {"call_id", "1"}});
    EXPECT_FALSE(caller->nextOfType("call_ack", 300ms));

    // The same state folder keeps the certificate, so the pinned host accepts the restarted server.
    EXPECT_EQ(server.process->stop(SIGTERM), 0);
    EXPECT_NE(host.waitForStdout("连接断开"), "");
    auto restarted = startRendezvous(TAVORO_RENDEZVOUS_PATH, rendezvousArgs(state, address));
    ASSERT_EQ(restarted.fingerprint, server.fingerprint);
    EXPECT_TRUE(waitFor([&] { return host.countStdout("在线 · ID " + hostId) == 2; }, 20s));

    EXPECT_EQ(host.stop(SIGTERM), 0);
}

} // namespace
} // namespace tavoro::test
