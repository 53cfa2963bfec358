// tavoro-host as a user runs it, against a real TLS WebSocket server on loopback.
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "support/ws_test_server.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <regex>

namespace tavoro {
namespace {

using nlohmann::json;
using test::ChildProcess;

ChildProcess startHost(const test::WsTestServer& server, const test::TempDir& config, std::vector<std::string> extra = {})
{
    std::vector<std::string> args{"--server", server.address(), "--config-dir", config.path().string(),
        "--server-cert-sha256", server.fingerprint()};
    args.insert(args.end(), extra.begin(), extra.end());
    return ChildProcess(TAVORO_HOST_BIN, args);
}

json storedSettings(const test::TempDir& config)
{
    std::ifstream in(config.path() / "settings.json");
    return json::parse(in);
}

TEST(HostProgram, RegistersShowsItsOnlineTextAndReconnectsAfterTheServerGoes)
{
    test::WsTestServer server;
    test::TempDir config;
    auto host = startHost(server, config);

    ASSERT_TRUE(server.waitForTexts(0, 2));
    auto intro = server.messages(0);
    const std::string id = intro[0]["device_id"];
    EXPECT_TRUE(std::regex_match(id, std::regex("[1-9][0-9]{8}"))) << id;
    EXPECT_EQ(intro[0]["token"], "qxm");
    EXPECT_FALSE(intro[1].contains("phone"));

    auto online = host.waitForStdout("在线 · ID ");
    const std::string password = storedSettings(config)["temp_pw"];
    EXPECT_EQ(online, "在线 · ID " + id + " · 密码 " + password);
    EXPECT_EQ(host.stdoutLines().front(), "连接中…");
    EXPECT_EQ(storedSettings(config)["device_id"], id);

    server.stopListening();
    EXPECT_NE(host.waitForStdout("连接断开，正在重连…"), "");
    server.listen();
    ASSERT_TRUE(server.waitForTexts(1, 2, std::chrono::seconds(20))) << "reconnects after its backoff";
    EXPECT_EQ(server.messages(1)[0]["device_id"], id);
    EXPECT_GE(server.messages(1)[0]["seq"], 3) << "numbering continues";
    ASSERT_TRUE(test::waitFor([&] { return host.countStdout("在线 · ID ") == 2; }));

    host.signal(SIGTERM);
    EXPECT_EQ(host.waitExit(), 0);
}

TEST(HostProgram, KeepsItsIdentityAcrossRestarts)
{
    test::WsTestServer server;
    test::TempDir config;
    std::string firstId;
    for (int run = 0; run < 2; ++run) {
        auto host = startHost(server, config, {"--token", "custom"});
        ASSERT_TRUE(server.waitForTexts(run, 2));
        auto hello = server.messages(run)[0];
        EXPECT_EQ(hello["token"], "custom");
        if (run == 0) {
            firstId = hello["device_id"];
        } else {
            EXPECT_EQ(hello["device_id"], firstId);
        }
        host.signal(SIGINT);
        EXPECT_EQ(host.waitExit(), 0);
    }
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
    EXPECT_EQ(version.stdoutLines(), std::vector<std::string>{"tavoro-host 0.58.20"});
}

TEST(HostProgram, ARefusedCertificateKeepsItOffline)
{
    test::WsTestServer server;
    test::TempDir config;
    ChildProcess host(TAVORO_HOST_BIN, {"--server", server.address(), "--config-dir", config.path().string(),
        "--server-cert-sha256", std::string(64, 'f')});
    EXPECT_NE(host.waitForStdout("连接断开，正在重连…"), "");
    EXPECT_EQ(host.countStdout("在线"), 0u);
    EXPECT_TRUE(server.texts(0).empty());
}

} // namespace
} // namespace tavoro
