#include "signaling/signaling.h"

#include "files/signaling_transfer_channel.h"

#include "platform/fake/manual_clock.h"
#include "support/fake_websocket.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

namespace tavoro::signaling {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using test::FakeWebSocketConnector;

class SignalingTest : public ::testing::Test {
protected:
    platform::fake::ManualClock clock;
    platform::fake::ManualScheduler scheduler{clock};
    std::shared_ptr<FakeWebSocketConnector> connector = std::make_shared<FakeWebSocketConnector>();
    Signaling sig{connector, scheduler};
    std::vector<std::pair<std::string, json>> received;
    std::vector<std::string> closes;
    int opens = 0;

    void SetUp() override
    {
        sig.onText = [this](const std::string& type, const json& message) { received.emplace_back(type, message); };
        sig.onOpen = [this] { ++opens; };
        sig.onClose = [this](const std::string& reason) { closes.push_back(reason); };
    }

    static std::vector<json> parsed(const std::vector<std::string>& texts)
    {
        std::vector<json> out;
        for (const auto& t : texts) {
            out.push_back(json::parse(t));
        }
        return out;
    }
};

TEST_F(SignalingTest, ReconnectWaitsGrowToFifteenSecondsAndResetAfterAnOpen)
{
    sig.start("wss://example.test:8443/ws", "123456789", "qxm", "");
    ASSERT_EQ(connector->count(), 1u);
    std::vector<std::chrono::milliseconds> expected{1s, 2s, 4s, 8s, 15s, 15s, 15s};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        connector->last()->fireError("Connection refused");
        EXPECT_EQ(scheduler.requestedDelays().back(), expected[i]) << "attempt " << i;
        scheduler.advance(expected[i] - 1ms);
        EXPECT_EQ(connector->count(), i + 1) << "no attempt before the wait is over";
        scheduler.advance(1ms);
        ASSERT_EQ(connector->count(), i + 2);
    }
    EXPECT_EQ(closes.size(), expected.size());
    EXPECT_EQ(closes.front(), "Connection refused");

    connector->last()->fireOpen();
    EXPECT_TRUE(sig.connected());
    connector->last()->fireClose(1006);
    EXPECT_EQ(closes.back(), "closed 1006");
    EXPECT_EQ(scheduler.requestedDelays().back(), 1s);
}

TEST_F(SignalingTest, EventsOfAStaleTaskChangeNothing)
{
    sig.start("wss://example.test:8443/ws", "123456789", "", "");
    auto old = connector->last();
    old->fireOpen();
    sig.forceReconnect();
    EXPECT_EQ(old->cancelCode(), 1001);
    ASSERT_EQ(connector->count(), 2u);
    EXPECT_FALSE(sig.connected());

    old->fireText(R"({"type":"register","phone_id":"x"})");
    old->fireClose(1000);
    old->fireError("gone");
    old->fireOpen();
    EXPECT_TRUE(received.empty());
    EXPECT_TRUE(closes.empty());
    EXPECT_EQ(opens, 1);
    EXPECT_FALSE(sig.connected());
    EXPECT_EQ(scheduler.pendingCount(), 0u) << "a stale loss arms no reconnect";

    connector->last()->fireOpen();
    EXPECT_TRUE(sig.connected());
    EXPECT_EQ(opens, 2);
}

TEST_F(SignalingTest, ForcedReconnectResetsTheBackoffAndAnEarlierTimerOpensNothing)
{
    sig.forceReconnect();
    EXPECT_EQ(connector->count(), 0u) << "no connection is wanted yet";

    sig.start("wss://example.test:8443/ws", "123456789", "", "");
    connector->last()->fireError("refused");
    scheduler.advance(1s);
    connector->last()->fireError("refused");
    EXPECT_EQ(sig.nextBackoff(), 4s);
    sig.forceReconnect();
    EXPECT_EQ(sig.nextBackoff(), 1s);
    connector->last()->fireOpen();
    scheduler.advance(2s);
    EXPECT_EQ(connector->count(), 3u) << "the timer armed before the forced reconnect fires while connected";
    connector->last()->fireError("refused");
    EXPECT_EQ(scheduler.requestedDelays().back(), 1s);
}

TEST_F(SignalingTest, AnUnparseableUrlOpensNothingAndArmsNoRetry)
{
    for (const auto* url : {"", "https://example.test/ws", "wss://", "wss://host:0/ws", "wss://host:70000/ws", "wss://a b/ws"}) {
        sig.start(url, "123456789", "", "");
    }
    EXPECT_EQ(connector->count(), 0u);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
    EXPECT_TRUE(sig.wantConnected());
}

TEST_F(SignalingTest, OpenIntroducesTheInstallationWithExactlyTheseKeys)
{
    sig.setRegistration("13800000000:2", true);
    sig.start("wss://example.test:8443/ws", "123456789", "qxm", "the-device-key");
    connector->last()->fireOpen();
    auto sent = parsed(connector->last()->texts());
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], json({{"type", "hello"}, {"seq", 1}, {"device_id", "123456789"}, {"token", "qxm"},
                           {"role", "client"}, {"version", "0.58.20"}, {"os", "linux"}, {"device_key", "the-device-key"}}));
    EXPECT_EQ(sent[1], json({{"type", "register"}, {"seq", 2}, {"visible", true}, {"password_hash", ""}, {"salt", ""},
                           {"phone", "13800000000:2"}, {"sms_auth", true}}));
    EXPECT_EQ(opens, 1);

    sig.setRegistration("", true);
    sig.sendRegister();
    EXPECT_EQ(parsed(connector->last()->texts())[2],
        json({{"type", "register"}, {"seq", 3}, {"visible", true}, {"password_hash", ""}, {"salt", ""}}));
}

TEST_F(SignalingTest, SequenceNumbersContinueAcrossReconnectsAndTypeWins)
{
    sig.start("wss://example.test:8443/ws", "123456789", "qxm", "");
    connector->last()->fireOpen();
    sig.send("sms_code_req", {{"to", "13800000000"}, {"type", "forged"}, {"seq", 99}});
    connector->last()->fireClose(1001);
    scheduler.advance(1s);
    connector->last()->fireOpen();
    sig.send("signal", json::array()); // not an object: dropped without a number

    auto first = parsed(connector->task(0)->texts());
    auto second = parsed(connector->task(1)->texts());
    ASSERT_EQ(first.size(), 3u);
    EXPECT_EQ(first[2], json({{"type", "sms_code_req"}, {"seq", 3}, {"to", "13800000000"}}));
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0]["seq"], 4);
    EXPECT_EQ(second[1]["seq"], 5);
}

TEST_F(SignalingTest, ConcurrentSendersKeepNumberAndSendingOrderTogether)
{
    sig.start("wss://example.test:8443/ws", "123456789", "", "");
    std::vector<std::thread> senders;
    for (int t = 0; t < 4; ++t) {
        senders.emplace_back([this, t] {
            for (int i = 0; i < 500; ++i) {
                sig.send("push_msg", {{"to", "987654321"}, {"text", std::to_string(t)}});
            }
        });
    }
    for (auto& sender : senders) {
        sender.join();
    }
    auto sent = parsed(connector->last()->texts());
    ASSERT_EQ(sent.size(), 2000u);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        ASSERT_EQ(sent[i]["seq"], static_cast<std::int64_t>(i + 1));
    }
}

TEST_F(SignalingTest, IncomingTextIsParsedLenientlyAndBadTextIsDropped)
{
    sig.start("wss://example.test:8443/ws", "123456789", "", "");
    auto task = connector->last();
    task->fireOpen();
    auto sent = parsed(task->texts());
    ASSERT_EQ(sent.size(), 1u) << "without a token only hello is sent";
    EXPECT_EQ(sent[0]["token"], "");
    EXPECT_FALSE(sent[0].contains("device_key")) << "no key, no field";
    task->fireText(R"({"from":"1"})");
    task->fireText(R"({"type":7})");
    task->fireText("{not json");
    task->fireText("[1,2,3]");
    task->fireText("\"text\"");
    task->fireText(R"({"type":"Call","seq":3})");
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].first, "");
    EXPECT_EQ(received[0].second, json({{"from", "1"}}));
    EXPECT_EQ(received[1].first, "");
    EXPECT_EQ(received[2].first, "Call");
    EXPECT_EQ(received[2].second["seq"], 3) << "the whole message is passed on";
}

TEST_F(SignalingTest, TrySendTellsWhetherAConnectionIsOpenAndTheConnectionNumberMarksEveryChange)
{
    EXPECT_FALSE(sig.trySend("x", json::object())) << "no socket yet";
    sig.start("wss://example.test:8443/ws", "123456789", "", "");
    EXPECT_FALSE(sig.trySend("x", json::object())) << "socket not open yet";
    const auto before = sig.connectionNumber();
    connector->last()->fireOpen();
    const auto open = sig.connectionNumber();
    EXPECT_NE(open, before);
    files::SignalingTransferChannel channel(sig);
    EXPECT_TRUE(channel.send("x", json::object()));
    EXPECT_FALSE(sig.trySend("x", json::array())) << "not an object";

    connector->last()->setProgress(700, 4096);
    EXPECT_EQ(channel.unsentBytes(), 700u);
    EXPECT_EQ(channel.writtenBytes(), 4096u);
    EXPECT_EQ(channel.connectionNumber(), open);

    connector->last()->fireError("reset");
    EXPECT_NE(sig.connectionNumber(), open);
    const auto lost = sig.connectionNumber();
    scheduler.advance(1s);
    connector->last()->fireOpen();
    EXPECT_NE(sig.connectionNumber(), lost);
    const auto reopened = sig.connectionNumber();
    sig.forceReconnect();
    EXPECT_NE(sig.connectionNumber(), reopened);
}

} // namespace
} // namespace tavoro::signaling
