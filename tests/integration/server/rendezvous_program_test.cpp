// The tavoro-rendezvous program itself: its options, start-up lines and clean exit on SIGTERM.
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/udp_test_socket.h"
#include "transport/stun.h"

#include <gtest/gtest.h>

#include <csignal>

namespace tavoro::test {
namespace {

const std::string kProgram = TAVORO_RENDEZVOUS_PATH;

std::vector<std::string> localArgs(const TempDir& state)
{
    return {"--listen", "127.0.0.1:0", "--relay-port", "0", "--stun-port", "0", "--state-dir", state.path().string()};
}

int portFrom(const std::optional<std::string>& text) { return text ? std::stoi(*text) : 0; }

TEST(RendezvousProgram, PrintsTheChosenPortsServesAndExitsCleanlyOnSigterm)
{
    TempDir state;
    ChildProcess server(kProgram, localArgs(state));
    ASSERT_TRUE(server.started());
    const int relay = portFrom(server.readUntilPrefix("listening relay "));
    const int stun = portFrom(server.readUntilPrefix("listening stun "));
    ASSERT_GT(relay, 0);
    ASSERT_GT(stun, 0);

    UdpTestSocket client;
    transport::stun::TransactionId txn{};
    txn.fill(7);
    client.sendTo(static_cast<std::uint16_t>(stun), transport::stun::makeBindingRequest(txn));
    auto answer = client.receive();
    ASSERT_TRUE(answer);
    EXPECT_TRUE(transport::stun::parseBindingResponse(answer->bytes, txn));

    EXPECT_EQ(server.stop(SIGTERM), 0);
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
