#include "signaling/signaling.h"
#include "signaling/tls_websocket_connector.h"

#include "core/log.h"
#include "platform/fake/manual_clock.h"
#include "support/wait.h"
#include "support/ws_test_server.h"

#include <gtest/gtest.h>

#include <mutex>

namespace tavoro::signaling {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::waitFor;

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
    std::size_t textCount() const { return locked([&] { return texts.size(); }); }
};

class SignalingServerTest : public ::testing::Test {
protected:
    test::WsTestServer server;
    platform::fake::ManualClock clock;
    platform::fake::ManualScheduler scheduler{clock};
    Events events;

    std::unique_ptr<Signaling> makeSignaling(std::string pin = {})
    {
        auto sig = std::make_unique<Signaling>(std::make_shared<TlsWebSocketConnector>(std::move(pin)), scheduler);
        events.attach(*sig);
        return sig;
    }
};

TEST_F(SignalingServerTest, IntroductionAndNumberingContinueAcrossAReconnect)
{
    auto sig = makeSignaling();
    sig->setRegistration("13800000000", false);
    sig->start(server.url(), "123456789", "qxm");
    ASSERT_TRUE(server.waitForTexts(0, 2));
    ASSERT_TRUE(waitFor([&] { return events.openCount() == 1; }));
    EXPECT_TRUE(sig->connected());
    auto first = server.messages(0);
    EXPECT_EQ(first[0]["type"], "hello");
    EXPECT_EQ(first[1]["phone"], "13800000000");

    sig->send("push_msg", {{"to", "987654321"}, {"text", "你好"}, {"type", "overwritten"}});
    ASSERT_TRUE(server.waitForTexts(0, 3));
    EXPECT_EQ(server.messages(0)[2], json({{"type", "push_msg"}, {"seq", 3}, {"to", "987654321"}, {"text", "你好"}}));

    server.close(0, 4000);
    ASSERT_TRUE(waitFor([&] { return events.closeCount() == 1; }));
    EXPECT_EQ(events.locked([&] { return events.closes[0]; }), "closed 4000");
    EXPECT_FALSE(sig->connected());
    EXPECT_EQ(scheduler.requestedDelays(), (std::vector<std::chrono::milliseconds>{1s}));

    scheduler.advance(1s);
    ASSERT_TRUE(server.waitForTexts(1, 2));
    auto second = server.messages(1);
    EXPECT_EQ(second[0]["type"], "hello");
    EXPECT_EQ(second[0]["seq"], 4);
    EXPECT_EQ(second[1]["seq"], 5);
}

TEST_F(SignalingServerTest, MalformedTextIsDroppedAndTheNextMessageStillArrives)
{
    auto sig = makeSignaling();
    sig->start(server.url(), "123456789", "");
    ASSERT_TRUE(server.waitForTexts(0, 1));
    for (const auto* text : {"{broken", "[1,2]", R"({"kind":"ice"})", R"({"type":false})", R"({"type":"register","phone_id":"13800000000"})"}) {
        server.sendText(0, text);
    }
    server.sendBinary(0, {0xFE, '1', '2'});
    ASSERT_TRUE(waitFor([&] { return events.textCount() == 3 && events.locked([&] { return events.binaries.size(); }) == 1; }));
    events.locked([&] {
        EXPECT_EQ(events.texts[0].first, "");
        EXPECT_EQ(events.texts[1].first, "");
        EXPECT_EQ(events.texts[2].first, "register");
        EXPECT_EQ(events.texts[2].second["phone_id"], "13800000000");
        EXPECT_EQ(events.binaries[0], (std::vector<std::uint8_t>{0xFE, '1', '2'}));
    });

    sig->sendBinary({0xFE, '9'});
    ASSERT_TRUE(waitFor([&] { return server.binaries(0).size() == 1; }));
    EXPECT_EQ(server.binaries(0)[0], (std::vector<std::uint8_t>{0xFE, '9'}));
}

TEST_F(SignalingServerTest, ServerGoneThenBackOffThenBackAgain)
{
    auto sig = makeSignaling();
    sig->start(server.url(), "123456789", "");
    ASSERT_TRUE(waitFor([&] { return events.openCount() == 1; }));

    server.stopListening();
    ASSERT_TRUE(waitFor([&] { return events.closeCount() == 1; }));
    for (auto wait : {1s, 2s, 4s}) {
        const auto losses = events.closeCount();
        EXPECT_EQ(scheduler.requestedDelays().back(), wait);
        scheduler.advance(wait);
        ASSERT_TRUE(waitFor([&] { return events.closeCount() == losses + 1; })) << "the attempt fails: nobody listens";
    }
    EXPECT_EQ(scheduler.requestedDelays().back(), 8s);

    server.listen();
    scheduler.advance(8s);
    ASSERT_TRUE(waitFor([&] { return events.openCount() == 2; }));
    ASSERT_TRUE(server.waitForTexts(1, 1));
    server.close(1, 1000);
    ASSERT_TRUE(waitFor([&] { return events.closeCount() == 5; }));
    EXPECT_EQ(scheduler.requestedDelays().back(), 1s) << "an open resets the backoff";
}

TEST_F(SignalingServerTest, APinnedFingerprintAdmitsOnlyThatCertificate)
{
    {
        log::Capture capture;
        auto wrong = makeSignaling(std::string(64, '0'));
        wrong->start(server.url(), "123456789", "");
        ASSERT_TRUE(waitFor([&] { return events.closeCount() == 1; }));
        EXPECT_EQ(events.openCount(), 0);
        EXPECT_FALSE(wrong->connected());
        EXPECT_TRUE(capture.contains("Tavoro: 服务器证书指纹不符，已拒绝连接 (sha256 " + server.fingerprint() + ")"));
        EXPECT_EQ(scheduler.requestedDelays().back(), 1s) << "a refused certificate counts as a lost connection";
        EXPECT_EQ(server.connectionCount(), 1);
        EXPECT_TRUE(server.texts(0).empty()) << "nothing is sent to a refused server";
    }
    auto right = makeSignaling(server.fingerprint());
    right->start(server.url(), "123456789", "");
    ASSERT_TRUE(waitFor([&] { return events.openCount() == 1; }));
}

TEST_F(SignalingServerTest, ForcedReconnectClosesTheOldSocketWith1001)
{
    auto sig = makeSignaling();
    sig->start(server.url(), "123456789", "");
    ASSERT_TRUE(waitFor([&] { return events.openCount() == 1; }));
    sig->forceReconnect();
    ASSERT_TRUE(waitFor([&] { return events.openCount() == 2; }));
    EXPECT_EQ(events.closeCount(), 0u) << "the old socket's end is not reported";
    EXPECT_EQ(server.connectionCount(), 2);
}

} // namespace
} // namespace tavoro::signaling
