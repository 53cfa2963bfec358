#include "controlling_fixture.h"

namespace tavoro::app {
namespace {

using nlohmann::json;

using CallPlacingTest = test::ControllingTest;

TEST_F(CallPlacingTest, AnInvalidTargetSendsNothing)
{
    startOnline();
    controller->connectToPeer("12345678", "pw", "control");
    mainQueue.drain();
    EXPECT_EQ(controller->status.get(), "请输入 9 位 ID 或 11 位手机号");
    EXPECT_TRUE(controller->recentPeers.get().empty());
    EXPECT_TRUE(sentOfType("call").empty());
}

TEST_F(CallPlacingTest, TheCallCarriesTheFormAndOnlyItsOwnAnswerCounts)
{
    startOnline();
    const auto callId = call("view");
    EXPECT_EQ(sentOfType("call").back(), (json{{"type", "call"}, {"seq", sentOfType("call").back()["seq"]},
                                            {"to", kHost}, {"mode", "view"}, {"password", "pw12"},
                                            {"from_name", "Linux"}, {"call_id", callId}}));
    EXPECT_EQ(controller->status.get(), "正在连接 222222222 …");
    EXPECT_EQ(controller->recentPeers.get(), std::vector<std::string>{kHost});

    deliver(answer("forged"));
    deliver(answer(callId, {{"from", ""}}));
    EXPECT_FALSE(controller->controlSession()) << "another call ID or no sender: not this call's answer";
    deliver(answer(callId, {{"relay", {{"host", "192.0.2.1"}, {"port", 3479.0}, {"token", "t"}}}}));
    run();
    auto session = controller->controlSession();
    ASSERT_TRUE(session);
    EXPECT_EQ(controller->control.get(), session);
    EXPECT_EQ(session->peerName(), "Studio");
    EXPECT_EQ(session->callId(), callId);
    EXPECT_EQ(controller->status.get(), "控制中 · 222222222");

    deliver(answer(callId, {{"from", "333333333"}}));
    EXPECT_EQ(controller->controlSession(), session) << "an answer is taken once";
}

TEST_F(CallPlacingTest, RefusalsShowTheReason)
{
    startOnline();
    deliver({{"type", "call_ack"}, {"from", kHost}, {"call_id", call()}, {"accepted", false}, {"reason", "密码错误"}});
    EXPECT_EQ(controller->status.get(), "对方拒绝: 密码错误");
    EXPECT_FALSE(controller->controlSession());
}

TEST_F(CallPlacingTest, AnAnswerWithoutNameUsesTheTargetAndANewSessionEndsTheOldOne)
{
    startOnline();
    deliver(answer(call(), {{"from_name", nullptr}}));
    auto first = controller->controlSession();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->peerName(), kHost);

    wallClock.set(wallClock.now() + std::chrono::milliseconds(5));
    deliver(answer(call()));
    EXPECT_TRUE(first->closed());
    EXPECT_EQ(sentOfType("bye").size(), 1u) << "the first session said goodbye before the second began";
    EXPECT_NE(controller->controlSession(), first);
}

TEST_F(CallPlacingTest, SignalsAndFramesReachTheSessionOnlyFromItsHost)
{
    startOnline();
    deliver(answer(call()));
    auto session = controller->controlSession();
    deliver({{"type", "signal"}, {"from", "333333333"}, {"kind", "monitors"}, {"payload", {{"count", 3}}}});
    run();
    EXPECT_EQ(session->monitorCount.get(), 1);
    deliver({{"type", "signal"}, {"from", kHost}, {"kind", "monitors"}, {"payload", {{"count", 3}}}});
    run();
    EXPECT_EQ(session->monitorCount.get(), 3);

    std::vector<std::uint8_t> relayed{0xFE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02, 0x80, 0x07, 0, 0, 0x38, 0x04, 0, 0, 0x65};
    std::copy(kHost.begin(), kHost.end(), relayed.begin() + 1);
    std::thread([&] { connector->last()->fireBinary(relayed); }).join();
    run();
    EXPECT_EQ(session->framesReceived(), 1u);
}

TEST_F(CallPlacingTest, ByeEndsTheSessionWithItsText)
{
    startOnline();
    deliver(answer(call()));
    deliver({{"type", "bye"}, {"from", "333333333"}, {"reason", "user_close"}});
    EXPECT_TRUE(controller->controlSession()) << "a stranger's bye changes nothing";
    deliver({{"type", "bye"}, {"from", kHost}, {"reason", "taken_over"}});
    EXPECT_FALSE(controller->control.get());
    EXPECT_EQ(controller->status.get(), "🔀 已被接管：另一台设备连接了该目标");

    wallClock.set(wallClock.now() + std::chrono::milliseconds(5));
    deliver(answer(call()));
    deliver({{"type", "bye"}, {"reason", "host_close"}});
    EXPECT_EQ(controller->status.get(), "会话结束");
    EXPECT_TRUE(sentOfType("bye").empty());
}

TEST_F(CallPlacingTest, ALostConnectionRedialsTheSameCall)
{
    controller = makeController();
    controller->start();
    controller->connectToPeer(kHost, "pw12", "control");
    mainQueue.drain();
    EXPECT_EQ(controller->status.get(), "重连中，连上后自动呼叫 222222222 …");
    connector->last()->fireOpen();
    mainQueue.drain();
    ASSERT_EQ(sentOfType("call").size(), 1u) << "sent as soon as the socket opened";
    deliver(answer(sentOfType("call").back()["call_id"]));
    ASSERT_TRUE(controller->controlSession());

    connector->last()->fireClose(1006);
    mainQueue.drain();
    EXPECT_FALSE(controller->controlSession());
    EXPECT_EQ(controller->status.get(), "连接断开，正在重连…");
    EXPECT_TRUE(sentOfType("bye").empty());
    wallClock.set(wallClock.now() + std::chrono::milliseconds(5));
    scheduler.advance(std::chrono::seconds(2));
    connector->last()->fireOpen();
    mainQueue.drain();
    ASSERT_EQ(sentOfType("call").size(), 2u);
    EXPECT_NE(sentOfType("call")[1]["call_id"], sentOfType("call")[0]["call_id"]);

    controller->endControl();
    connector->last()->fireClose(1006);
    scheduler.advance(std::chrono::seconds(2));
    connector->last()->fireOpen();
    mainQueue.drain();
    EXPECT_EQ(sentOfType("call").size(), 2u) << "ending the session gives up the redial";
}

TEST_F(CallPlacingTest, ARedialTriesAgainWhileTheHostIsNotBackButAFirstCallDoesNot)
{
    startOnline();
    const auto refuseOffline = [&] {
        deliver(json{{"type", "call_response"}, {"from", kHost}, {"call_id", sentOfType("call").back()["call_id"]},
            {"accepted", false}, {"reason", "对方不在线"}});
        mainQueue.drain();
    };
    deliver(answer(call()));
    connector->last()->fireClose(1006);
    scheduler.advance(std::chrono::seconds(2));
    connector->last()->fireOpen();
    mainQueue.drain();
    ASSERT_EQ(sentOfType("call").size(), 2u);
    refuseOffline();
    EXPECT_EQ(controller->status.get(), "正在连接 222222222 …") << "the host may register a moment later";
    scheduler.advance(std::chrono::milliseconds(500));
    ASSERT_EQ(sentOfType("call").size(), 3u);
    for (int i = 0; i < 19; ++i) {
        refuseOffline();
        scheduler.advance(std::chrono::milliseconds(500));
    }
    ASSERT_EQ(sentOfType("call").size(), 22u);
    refuseOffline();
    EXPECT_EQ(controller->status.get(), "对方拒绝: 对方不在线") << "given up after ten seconds";
    scheduler.advance(std::chrono::seconds(1));
    EXPECT_EQ(sentOfType("call").size(), 22u);

    call();
    refuseOffline();
    EXPECT_EQ(controller->status.get(), "对方拒绝: 对方不在线") << "the user's own call is answered at once";
    scheduler.advance(std::chrono::seconds(1));
    EXPECT_EQ(sentOfType("call").size(), 23u);
}

TEST_F(CallPlacingTest, AHostLeftStreamingHearsByeOnceTheConnectionIsBack)
{
    startOnline();
    const auto callId = call();
    deliver(answer(callId));
    connector->last()->fireClose(1006);
    mainQueue.drain();
    controller->endControl(); // the user gives up while offline
    scheduler.advance(std::chrono::seconds(2));
    connector->last()->fireOpen();
    mainQueue.drain();
    EXPECT_EQ(sentOfType("call").size(), 1u);
    ASSERT_EQ(sentOfType("bye").size(), 1u);
    EXPECT_EQ(sentOfType("bye")[0]["to"], kHost);
    EXPECT_EQ(sentOfType("bye")[0]["call_id"], callId);

    connector->last()->fireClose(1006);
    scheduler.advance(std::chrono::seconds(2));
    connector->last()->fireOpen();
    mainQueue.drain();
    EXPECT_EQ(sentOfType("bye").size(), 1u) << "told once";
}

} // namespace
} // namespace tavoro::app
