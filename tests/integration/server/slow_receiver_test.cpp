// What the server does for a receiver that does not read: relayed media is dropped first, text is
// never dropped, and a receiver swamped even with text is closed (resource_limits_test: its sender is
// never held back meanwhile).
#include "support/rendezvous_fixture.h"

namespace tavoro::server {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

const std::string kAlice = "100000001";
const std::string kBob = "100000002";

// Once a client's message to itself comes back, the server has handled everything it sent before.
// The default limit is generous: under ThreadSanitizer on a loaded machine, 48 MiB of TLS takes many seconds.
bool serverHasHandledAllFrom(test::WssTestClient& client, const std::string& id, std::chrono::milliseconds limit = 60s)
{
    client.sendJson({{"type", "probe"}, {"to", id}});
    return client.nextOfType("probe", limit).has_value();
}

using SlowReceiverTest = RendezvousFixture;

TEST_F(SlowReceiverTest, MediaIsDroppedFirstAndEveryTextArrivesInOrder)
{
    auto alice = online(kAlice);
    auto bob = online(kBob);
    bob->pauseReading();
    constexpr int kFrames = 48;
    for (int i = 0; i < kFrames; ++i) {
        alice->sendBinary(relayMessage(kBob, std::vector<std::uint8_t>(1024 * 1024, static_cast<std::uint8_t>(i))));
        if (i % 4 == 0) {
            alice->sendJson({{"type", "push_msg"}, {"to", kBob}, {"text", std::to_string(i)}});
        }
    }
    ASSERT_TRUE(serverHasHandledAllFrom(*alice, kAlice)) << "media never holds a sender back";
    bob->resumeReading();

    for (int i = 0; i < kFrames; i += 4) {
        auto text = bob->nextOfType("push_msg");
        ASSERT_TRUE(text);
        EXPECT_EQ((*text)["text"], std::to_string(i));
    }
    int frames = 0;
    int lastFill = -1;
    while (auto frame = bob->nextBinary(1s)) {
        ASSERT_EQ(frame->size(), 10u + 1024 * 1024);
        const int fill = frame->back();
        EXPECT_TRUE(std::all_of(frame->begin() + 10, frame->end(), [&](std::uint8_t b) { return b == fill; }));
        EXPECT_GT(fill, lastFill) << "what arrives arrives in order";
        lastFill = fill;
        ++frames;
    }
    EXPECT_GT(frames, 0);
    EXPECT_LT(frames, kFrames) << "a receiver that does not read must lose media";
    EXPECT_TRUE(bob->isOpen());
}

TEST_F(SlowReceiverTest, AReceiverSwampedEvenWithTextIsClosedAndOthersCarryOn)
{
    auto bob = online(kBob);
    bob->pauseReading();
    std::vector<std::unique_ptr<test::WssTestClient>> senders;
    const std::string pad(900 * 1024, 'y');
    for (int i = 0; i < 40; ++i) {
        senders.push_back(online(std::to_string(200000000 + i)));
        senders.back()->sendJson({{"type", "push_msg"}, {"to", kBob}, {"text", pad}});
    }
    bob->resumeReading();
    EXPECT_TRUE(bob->waitClosed(30s).has_value());

    senders[0]->sendJson({{"type", "push_msg"}, {"to", "200000001"}, {"text", "fine"}});
    auto received = senders[1]->nextOfType("push_msg");
    ASSERT_TRUE(received);
    EXPECT_EQ((*received)["text"], "fine");
}

} // namespace
} // namespace tavoro::server
