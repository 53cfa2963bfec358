// tavoro-host, the installation program, against tavoro-rendezvous: both as users run them.
#include "support/rendezvous_process.h"
#include "support/wait.h"
#include "support/wss_test_client.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <regex>

namespace tavoro::test {
namespace {

using namespace std::chrono_literals;

ChildProcess startHost(const RendezvousProcess& server, const TempDir& config, const std::vector<std::string>& extra = {})
{
    std::vector<std::string> args{"--server", "127.0.0.1:" + std::to_string(server.wss), "--config-dir",
        config.path().string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return ChildProcess(TAVORO_HOST_BIN, args);
}

TEST(HostWithRendezvous, ComesOnlineHoldsItsIdAndReturnsAfterTheServerRestarts)
{
    TempDir state;
    TempDir config;
    core::EventLoopThread clients("test.clients");
    auto server = startRendezvous(TAVORO_RENDEZVOUS_PATH, rendezvousArgs(state));
    ASSERT_GT(server.wss, 0);
    ChildProcess host = startHost(server, config, {"--server-cert-sha256", server.fingerprint});

    const std::string online = host.waitForStdout("在线 · ID ", 20s);
    std::smatch parts;
    ASSERT_TRUE(std::regex_match(online, parts, std::regex("在线 · ID ([1-9][0-9]{8}) · 密码 (.+)"))) << online;
    const std::string hostId = parts[1];
    EXPECT_EQ(host.stdoutLines().front(), "连接中…");
    const auto stored = nlohmann::json::parse(std::ifstream(config.path() / "settings.json"));
    EXPECT_EQ(stored["device_id"], hostId);
    EXPECT_EQ(stored["temp_pw"], parts[2]);

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
    EXPECT_NE(host.waitForStdout("连接断开，正在重连…"), "");
    auto restarted = startRendezvous(TAVORO_RENDEZVOUS_PATH, rendezvousArgs(state, "127.0.0.1:" + std::to_string(server.wss)));
    ASSERT_EQ(restarted.fingerprint, server.fingerprint);
    EXPECT_TRUE(waitFor([&] { return host.countStdout("在线 · ID " + hostId) == 2; }, 20s));
    EXPECT_EQ(host.stop(SIGTERM), 0);

    // A restarted host keeps its ID.
    ChildProcess again = startHost(restarted, config, {"--server-cert-sha256", server.fingerprint});
    EXPECT_NE(again.waitForStdout("在线 · ID " + hostId, 20s), "");
    EXPECT_EQ(again.stop(SIGINT), 0);
}

TEST(HostWithRendezvous, IsAdmittedOnlyWithTheServersCertificateAndToken)
{
    TempDir state;
    auto args = rendezvousArgs(state);
    args.insert(args.end(), {"--token", "custom"});
    auto server = startRendezvous(TAVORO_RENDEZVOUS_PATH, args);
    {
        TempDir config;
        ChildProcess host = startHost(server, config, {"--token", "custom", "--server-cert-sha256", std::string(64, 'f')});
        EXPECT_NE(host.waitForStdout("连接断开，正在重连…"), "");
        EXPECT_EQ(host.countStdout("在线"), 0u) << "a refused certificate never opens the connection";
    }
    {
        TempDir config;
        ChildProcess host = startHost(server, config, {"--server-cert-sha256", server.fingerprint});
        EXPECT_NE(host.waitForStdout("连接断开，正在重连…"), "") << "the server closes a hello with another token";
    }
    TempDir config;
    ChildProcess host = startHost(server, config, {"--token", "custom"});
    const std::string online = host.waitForStdout("在线 · ID ", 20s);
    ASSERT_NE(online, "");
    core::EventLoopThread clients("test.clients");
    auto intruder = WssTestClient::connect(clients, static_cast<std::uint16_t>(server.wss));
    ASSERT_TRUE(intruder);
    EXPECT_FALSE(intruder->hello(online.substr(std::string("在线 · ID ").size(), 9), "custom")) << "the server holds the host's ID";
}

TEST(HostProgram, MalformedOptionsGiveOneLineAndStatusTwo)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--server", "bad host"}, {"--server", "127.0.0.1:0"}, {"--bogus"}, {"--server-cert-sha256", "xyz"},
             {"--server"}}) {
        ChildProcess host(TAVORO_HOST_BIN, args);
        EXPECT_EQ(host.waitExit(), 2) << args[0];
        EXPECT_EQ(host.stderrLines().size(), 1u) << args[0];
        EXPECT_TRUE(host.stdoutLines().empty()) << args[0];
    }
    ChildProcess version(TAVORO_HOST_BIN, {"--version"});
    EXPECT_EQ(version.waitExit(), 0);
    EXPECT_EQ(version.stdoutLines(), std::vector<std::string>{"tavoro-host " TAVORO_VERSION});
}

} // namespace
} // namespace tavoro::test
