#include "programs/tavoro-host/host_options.h"

#include <gtest/gtest.h>

namespace tavoro::app {
namespace {

TEST(ServerAddress, DefaultsToPort8443AndRejectsJunk)
{
    EXPECT_EQ(serverUrlFor("rendezvous.example"), "wss://rendezvous.example:8443/ws");
    EXPECT_EQ(serverUrlFor("127.0.0.1:9443"), "wss://127.0.0.1:9443/ws");
    EXPECT_EQ(serverUrlFor("[::1]"), "wss://[::1]:8443/ws");
    EXPECT_EQ(serverUrlFor("[::1]:9443"), "wss://[::1]:9443/ws");
    for (const auto* bad : {"", "a b", "host:", "host:0", "host:99999", "::1", "[::1", "host/x", "wss://host"}) {
        EXPECT_EQ(serverUrlFor(bad), "") << bad;
    }
}

TEST(InstallationOptions, ChecksTheServerAndNormalisesThePin)
{
    InstallationOptions options;
    options.server = "example.test:1";
    options.serverCertSha256 = std::string(32, 'A') + ":" + std::string(32, 'b');
    const auto installation = resolveInstallation(options, nullptr);
    ASSERT_TRUE(installation) << installation.error();
    EXPECT_EQ(installation->deployment.serverUrl, "wss://example.test:1/ws");
    EXPECT_EQ(installation->deployment.token, "qxm");
    EXPECT_EQ(installation->pin, std::string(32, 'a') + std::string(32, 'b'));

    options.serverCertSha256 = "abc";
    EXPECT_FALSE(resolveInstallation(options, nullptr));
    options.serverCertSha256.clear();
    options.server = "bad host";
    EXPECT_FALSE(resolveInstallation(options, nullptr));
}

TEST(InstallationOptions, StunServersFromOptionsThenEnvironmentThenTheServersOwn)
{
    InstallationOptions options;
    options.server = "rendezvous.example:9443";
    auto installation = resolveInstallation(options, nullptr);
    ASSERT_TRUE(installation) << installation.error();
    ASSERT_EQ(installation->deployment.stunServers.size(), 5u);
    EXPECT_EQ(installation->deployment.stunServers[0], (transport::StunServer{"rendezvous.example", 3478}));

    installation = resolveInstallation(options, "10.0.0.1:3478, stun.example:19302");
    ASSERT_TRUE(installation) << installation.error();
    EXPECT_EQ(installation->deployment.stunServers,
        (std::vector<transport::StunServer>{{"10.0.0.1", 3478}, {"stun.example", 19302}}));

    options.stun = {"127.0.0.1:5000"};
    installation = resolveInstallation(options, "10.0.0.1:3478");
    ASSERT_TRUE(installation) << installation.error();
    EXPECT_EQ(installation->deployment.stunServers, (std::vector<transport::StunServer>{{"127.0.0.1", 5000}}));

    options.stun = {"127.0.0.1"};
    EXPECT_FALSE(resolveInstallation(options, nullptr));
}

} // namespace
} // namespace tavoro::app
