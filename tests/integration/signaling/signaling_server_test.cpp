// The signaling client over real TLS WebSockets, against the rendezvous server running in this
// process. Backoff, numbering and parsing are pinned on a fake connection in unit/signaling.
#include "signaling/signaling.h"
#include "signaling/tls_websocket_connector.h"

#include "core/log.h"
#include "platform/fake/manual_clock.h"
#include "support/rendezvous_fixture.h"
#include "support/wait.h"

#include <mutex>

namespace tavoro::signaling {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::waitFor;

const std::string kSelf = "123456789";
const std::string kPeer = "987654321";

// Collects the callbacks, which arrive on the signaling thread.
struct Events {
    mutable std::mutex mutex;
    std::vector<std::pair<std::string, json>> texts;
    std::vector<std::vector<std::uint8_t>> binaries;
    std::vector<std::string> closes;
    int opens = 0;

    template <typename Fn>
    auto locked(Fn fn) const
    {
        std::lock_guard lock(mutex);
        return fn();
    }
    void attach(Signaling& sig)
    {
        sig.onText = [this](const std::string& type, const json& m) { locked([&] { texts.emplace_back(type, m); }); };
        sig.onBinary = [this](const std::vector<std::uint8_t>& b) { locked([&] { binaries.push_back(b); }); };
        sig.onOpen = [this] { locked([&] { ++opens; }); };
        sig.onClose = [this](const std::string& r) { locked([&] { closes.push_back(r); }); };
    }
    int openCount() const { return locked([&] { return opens; }); }
    std::size_t closeCount() const { return locked([&] { return closes.size(); }); }
};

class SignalingServerTest : public server::RendezvousFixture {
protected:
    std::unique_ptr<Signaling> start(const std::string& pin, const std::string& phone = "")
    {
        auto sig = std::make_unique<Signaling>(std::make_shared<TlsWebSocketConnector>(pin), scheduler);
        events.attach(*sig);
        sig->setRegistration(phone, false);
        sig->start("wss://127.0.0.1:" + std::to_string(server->wssPort()) + "/ws", kSelf, "qxm", std::string(43, 'k'));
        return sig;
    }

    platform::fake::ManualClock clock;
    platform::fake::ManualScheduler scheduler{clock};
    Events events;
};

TEST_F(SignalingServerTest, IntroducesItselfAndCarriesTextAndBinaryBothWays)
{
    auto peer = online(kPeer);
    auto sig = start(server->fingerprint(), "13800000000");
    ASSERT_TRUE(waitFor([&] { return events.locked([&] { return !events.texts.empty(); }); }));
    EXPECT_EQ(events.locked([&] { return events.texts[0]; }),
        (std::pair<std::string, json>("register", {{"type", "register"}, {"phone_id", "13800000000"}})))
        << "the server bound the ID and the phone";
    EXPECT_EQ(events.openCount(), 1);
    EXPECT_TRUE(sig->connected());

    sig->send("push_msg", {{"to", kPeer}, {"text", "你好"}, {"type", "overwritten"}});
    EXPECT_EQ(peer->nextOfType("push_msg").value_or(json()), json({{"type", "push_msg"}, {"seq", 3}, {"to", kPeer}, {"text", "你好"}, {"from", kSelf}}));
    sig->sendBinary(server::relayMessage(kPeer, {0x02, 9}));
    EXPECT_EQ(peer->nextBinary(), server::relayMessage(kSelf, {0x02, 9})) << "delivered naming its sender";
    peer->sendBinary(server::relayMessage(kSelf, {0x02, 1, 2}));
    ASSERT_TRUE(waitFor([&] { return events.locked([&] { return events.binaries.size() == 1; }); }));
    EXPECT_EQ(events.locked([&] { return events.binaries[0]; }), server::relayMessage(kPeer, {0x02, 1, 2}));

    const auto written = sig->writtenBytes();
    EXPECT_TRUE(sig->trySend("push_msg", {{"to", kPeer}, {"text", std::string(300'000, 'x')}}));
    ASSERT_TRUE(waitFor([&] { return sig->unsentBytes() == 0 && sig->writtenBytes() > written + 300'000; }))
        << "the socket counts what it has written";
}

TEST_F(SignalingServerTest, ServerGoneThenBackOffThenBackOnTheSamePort)
{
    auto sig = start("");
    ASSERT_TRUE(waitFor([&] { return events.openCount() == 1; }));

    config.listenPort = server->wssPort();
    server->stop();
    ASSERT_TRUE(waitFor([&] { return events.closeCount() == 1; }));
    EXPECT_EQ(events.locked([&] { return events.closes[0]; }), "closed 1001") << "going away";
    EXPECT_FALSE(sig->connected());
    for (auto wait : {1s, 2s}) {
        const auto losses = events.closeCount();
        // The retry is scheduled on the signaling thread just after the loss is reported.
        ASSERT_TRUE(waitFor([&] { return scheduler.requestedDelays().size() >= losses; }));
        EXPECT_EQ(scheduler.requestedDelays().back(), wait);
        scheduler.advance(wait);
        ASSERT_TRUE(waitFor([&] { return events.closeCount() == losses + 1; })) << "the attempt fails: nobody listens";
    }

    ASSERT_TRUE(startServer());
    scheduler.advance(4s);
    ASSERT_TRUE(waitFor([&] { return events.openCount() == 2; }));
    server->stop();
    ASSERT_TRUE(waitFor([&] { return events.closeCount() == 4; }));
    ASSERT_TRUE(waitFor([&] { return scheduler.requestedDelays().size() >= 4; }));
    EXPECT_EQ(scheduler.requestedDelays().back(), 1s) << "an open resets the backoff";
}

TEST_F(SignalingServerTest, APinnedFingerprintOtherThanTheServersIsRefused)
{
    log::Capture capture;
    auto sig = start(std::string(64, '0'));
    ASSERT_TRUE(waitFor([&] { return events.closeCount() == 1; }));
    EXPECT_EQ(events.openCount(), 0);
    EXPECT_FALSE(sig->connected());
    EXPECT_TRUE(capture.contains("Tavoro: 服务器证书指纹不符，已拒绝连接 (sha256 " + server->fingerprint() + ")"));
    ASSERT_TRUE(waitFor([&] { return !scheduler.requestedDelays().empty(); }));
    EXPECT_EQ(scheduler.requestedDelays().back(), 1s) << "a refused certificate counts as a lost connection";
}

} // namespace
} // namespace tavoro::signaling
