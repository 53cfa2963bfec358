// The tavoro-rendezvous program itself: its options, start-up lines and clean exit on SIGTERM.
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/udp_test_socket.h"
#include "support/wss_test_client.h"
#include "tls/certificate.h"
#include "transport/stun.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

namespace tavoro::test {
namespace {

const std::string kProgram = TAVORO_RENDEZVOUS_PATH;

std::vector<std::string> localArgs(const TempDir& state)
{
    return {"--listen", "127.0.0.1:0", "--relay-port", "0", "--stun-port", "0", "--state-dir", state.path().string()};
}

int portFrom(const std::optional<std::string>& text) { return text ? std::stoi(*text) : 0; }

// The start-up lines, in the order scripts read them.
struct StartupLines {
    int wss = 0;
    int relay = 0;
    int stun = 0;
    std::string fingerprint;
};

StartupLines readStartup(ChildProcess& server)
{
    StartupLines lines;
    lines.wss = portFrom(server.readUntilPrefix("listening wss "));
    lines.relay = portFrom(server.readUntilPrefix("listening relay "));
    lines.stun = portFrom(server.readUntilPrefix("listening stun "));
    lines.fingerprint = server.readUntilPrefix("cert sha256 ").value_or("");
    return lines;
}

TEST(RendezvousProgram, PrintsPortsAndFingerprintServesAndClosesEverythingOnSigterm)
{
    TempDir state;
    core::EventLoopThread clients("test.clients");
    ChildProcess server(kProgram, localArgs(state));
    ASSERT_TRUE(server.started());
    const auto lines = readStartup(server);
    ASSERT_GT(lines.wss, 0);
    ASSERT_GT(lines.relay, 0);
    ASSERT_GT(lines.stun, 0);
    ASSERT_EQ(lines.fingerprint.size(), 64u);

    auto client = WssTestClient::connect(clients, static_cast<std::uint16_t>(lines.wss));
    ASSERT_TRUE(client);
    EXPECT_EQ(client->serverFingerprint(), lines.fingerprint);
    ASSERT_TRUE(client->hello("123456789"));

    UdpTestSocket udp;
    transport::stun::TransactionId txn{};
    txn.fill(7);
    udp.sendTo(static_cast<std::uint16_t>(lines.stun), transport::stun::makeBindingRequest(txn));
    auto answer = udp.receive();
    ASSERT_TRUE(answer);
    EXPECT_TRUE(transport::stun::parseBindingResponse(answer->bytes, txn));

    EXPECT_EQ(server.stop(SIGTERM), 0);
    EXPECT_EQ(client->waitClosed(), 1001) << "going away";
}

TEST(RendezvousProgram, KeepsItsCertificateInTheStateFolderOrUsesTheGivenOne)
{
    TempDir state;
    std::string first;
    {
        ChildProcess server(kProgram, localArgs(state));
        first = readStartup(server).fingerprint;
    }
    ChildProcess again(kProgram, localArgs(state));
    EXPECT_EQ(readStartup(again).fingerprint, first);
    EXPECT_TRUE(std::filesystem::exists(state.path() / "key.pem"));
    EXPECT_EQ(std::filesystem::status(state.path() / "key.pem").permissions() & std::filesystem::perms::others_read,
        std::filesystem::perms::none);

    TempDir other;
    auto identity = tls::makeSelfSigned("given");
    ASSERT_TRUE(identity);
    std::ofstream(other.path() / "c.pem") << identity->certificatePem;
    std::ofstream(other.path() / "k.pem") << identity->privateKeyPem;
    auto args = localArgs(other);
    args.insert(args.end(), {"--cert", (other.path() / "c.pem").string(), "--key", (other.path() / "k.pem").string()});
    ChildProcess given(kProgram, args);
    EXPECT_EQ(readStartup(given).fingerprint, tls::fingerprintOfPem(identity->certificatePem));

    auto onlyCert = localArgs(other);
    onlyCert.insert(onlyCert.end(), {"--cert", (other.path() / "c.pem").string()});
    ChildProcess refused(kProgram, onlyCert);
    EXPECT_NE(refused.waitExit(std::chrono::seconds(10)).value_or(0), 0);
}

TEST(RendezvousProgram, HelpAndVersionPrintAndExitWithoutServing)
{
    ChildProcess help(kProgram, {"--help"});
    std::string text;
    while (auto line = help.readLine()) {
        text += *line + "\n";
    }
    for (const char* option : {"--listen", "--relay-port", "--stun-port", "--public-host", "--state-dir", "--token",
             "--cert", "--key", "--relay-rate-mbit"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(help.waitExit(std::chrono::seconds(10)), 0);

    ChildProcess version(kProgram, {"--version"});
    auto line = version.readLine();
    ASSERT_TRUE(line);
    EXPECT_EQ(*line, "tavoro-rendezvous " TAVORO_VERSION);
    EXPECT_EQ(version.waitExit(std::chrono::seconds(10)), 0);
}

TEST(RendezvousProgram, BadOptionsFailWithAUsageError)
{
    ChildProcess badListen(kProgram, {"--listen", "localhost"});
    EXPECT_NE(badListen.waitExit(std::chrono::seconds(10)).value_or(0), 0);
    ChildProcess unknown(kProgram, {"--no-such-option"});
    EXPECT_NE(unknown.waitExit(std::chrono::seconds(10)).value_or(0), 0);
}

} // namespace
} // namespace tavoro::test
