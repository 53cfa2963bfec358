// The tavoro-rendezvous program itself: its options, start-up lines and clean exit on SIGTERM.
#include "support/rendezvous_process.h"
#include "support/wss_test_client.h"
#include "tls/certificate.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace tavoro::test {
namespace {

const std::string kProgram = TAVORO_RENDEZVOUS_PATH;

TEST(RendezvousProgram, PrintsPortsAndFingerprintServesAndClosesEverythingOnSigterm)
{
    TempDir state;
    core::EventLoopThread clients("test.clients");
    auto lines = startRendezvous(TAVORO_RENDEZVOUS_PATH, rendezvousArgs(state));
    ASSERT_GT(lines.wss, 0);
    ASSERT_GT(lines.relay, 0);
    ASSERT_GT(lines.stun, 0);
    ASSERT_EQ(lines.fingerprint.size(), 64u);

    auto client = WssTestClient::connect(clients, static_cast<std::uint16_t>(lines.wss));
    ASSERT_TRUE(client);
    // That it serves the certificate it printed is HostWithRendezvous's (the host pins the printed
    // fingerprint), that its STUN port answers transport/rendezvous_test's.
    ASSERT_TRUE(client->hello("123456789"));

    EXPECT_EQ(lines.process->stop(SIGTERM), 0);
    EXPECT_EQ(client->waitClosed(), 1001) << "going away";
}

// That a restart on the same state folder keeps the certificate is HostWithRendezvous.ComesOnline...'s.
TEST(RendezvousProgram, KeepsItsKeyPrivateInTheStateFolderOrUsesTheGivenOne)
{
    TempDir state;
    ASSERT_EQ(startRendezvous(TAVORO_RENDEZVOUS_PATH, rendezvousArgs(state)).fingerprint.size(), 64u);
    EXPECT_TRUE(std::filesystem::exists(state.path() / "key.pem"));
    EXPECT_EQ(std::filesystem::status(state.path() / "key.pem").permissions() & std::filesystem::perms::others_read,
        std::filesystem::perms::none);

    TempDir other;
    auto identity = tls::makeSelfSigned("given");
    ASSERT_TRUE(identity);
    std::ofstream(other.path() / "c.pem") << identity->certificatePem;
    std::ofstream(other.path() / "k.pem") << identity->privateKeyPem;
    auto args = rendezvousArgs(other);
    args.insert(args.end(), {"--cert", (other.path() / "c.pem").string()});
    ChildProcess refused(kProgram, args);
    EXPECT_NE(refused.waitExit().value_or(0), 0) << "a certificate without its key";
    args.insert(args.end(), {"--key", (other.path() / "k.pem").string()});
    EXPECT_EQ(startRendezvous(TAVORO_RENDEZVOUS_PATH, args).fingerprint, tls::fingerprintOfPem(identity->certificatePem));
}

TEST(RendezvousProgram, HelpAndVersionExitWithoutServingAndBadOptionsFail)
{
    ChildProcess help(kProgram, {"--help"});
    std::string text;
    while (auto line = help.readLine()) {
        text += *line + "\n";
    }
    EXPECT_NE(text.find("--relay-rate-mbit"), std::string::npos) << text;
    EXPECT_EQ(help.waitExit(), 0);

    ChildProcess version(kProgram, {"--version"});
    EXPECT_EQ(version.readLine().value_or(""), "tavoro-rendezvous " TAVORO_VERSION);
    EXPECT_EQ(version.waitExit(), 0);

    for (const std::vector<std::string>& args : {std::vector<std::string>{"--listen", "localhost"}, {"--no-such-option"}}) {
        ChildProcess bad(kProgram, args);
        EXPECT_NE(bad.waitExit().value_or(0), 0) << args[0];
    }
}

} // namespace
} // namespace tavoro::test
