#include "controller_fixture.h"

#include "core/log.h"

namespace tavoro::app {
namespace {

using namespace std::chrono_literals;
using test::ControllerTest;

TEST_F(ControllerTest, OpeningAndLosingTheConnectionShowTheStandardTexts)
{
    settings.set("device_id", "123456789");
    settings.set("temp_pw", "ab12");
    controller = makeController();
    controller->start();
    controller->start(); // only once
    EXPECT_EQ(connector->count(), 1u);
    EXPECT_FALSE(controller->online.get());

    std::thread([&] { connector->last()->fireOpen(); }).join();
    EXPECT_FALSE(controller->online.get()) << "published on the main thread only";
    mainQueue.drain();
    EXPECT_TRUE(controller->online.get());
    EXPECT_EQ(controller->status.get(), "在线 · ID 123456789 · 密码 ab12");
    EXPECT_EQ(sentOfType("hello")[0]["device_id"], "123456789");
    EXPECT_EQ(sentOfType("register").size(), 1u);

    std::thread([&] { connector->last()->fireClose(1006); }).join();
    mainQueue.drain();
    EXPECT_FALSE(controller->online.get());
    EXPECT_EQ(controller->status.get(), "连接断开，正在重连…");

    scheduler.advance(1s);
    connector->last()->fireOpen();
    mainQueue.drain();
    EXPECT_EQ(controller->status.get(), "在线 · ID 123456789 · 密码 ab12");
}

TEST_F(ControllerTest, OneSmsRequestPerMinute)
{
    startOnline();
    controller->requestSmsCode("13800000000");
    controller->requestSmsCode("13800000000");
    auto requests = sentOfType("sms_code_req");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0], nlohmann::json({{"type", "sms_code_req"}, {"seq", 3}, {"to", "13800000000"}}));
    EXPECT_EQ(controller->status.get(), "📲 已向 13800000000 请求短信验证码…");
    EXPECT_EQ(controller->smsCooldown.get(), 60);

    scheduler.advance(59s);
    EXPECT_EQ(controller->smsCooldown.get(), 1);
    controller->requestSmsCode("13800000000");
    EXPECT_EQ(sentOfType("sms_code_req").size(), 1u);
    scheduler.advance(1s);
    EXPECT_EQ(controller->smsCooldown.get(), 0);
    EXPECT_EQ(scheduler.pendingCount(), 0u) << "the countdown stops at zero";

    deliver({{"type", "sms_code_resp"}});
    EXPECT_EQ(controller->status.get(), "✅ 验证码已发到对方手机，请向对方索取后填入「密码 / 验证码」再连接");

    controller->requestSmsCode("13800000000:3");
    EXPECT_EQ(sentOfType("sms_code_req").size(), 2u);
}

TEST_F(ControllerTest, SmsRequestNeedsAPhoneTargetAndAConnection)
{
    controller = makeController();
    controller->start();
    controller->requestSmsCode("123456789");
    EXPECT_EQ(controller->status.get(), "「发送验证码」仅用于手机号连接，请填 11 位手机号");

    auto before = connector->last();
    controller->requestSmsCode("13800000000");
    EXPECT_EQ(controller->status.get(), "信令未连接");
    EXPECT_EQ(before->cancelCode(), 1001);
    EXPECT_EQ(connector->count(), 2u) << "a forced reconnect opens a new socket at once";
    EXPECT_EQ(controller->smsCooldown.get(), 0);
    EXPECT_TRUE(sentOfType("sms_code_req").empty());
}

TEST_F(ControllerTest, AServerErrorEndsAPendingSmsRequest)
{
    startOnline();
    auto online = controller->status.get();
    controller->requestSmsCode("13800000000");
    deliver({{"type", "error"}});
    EXPECT_EQ(controller->smsCooldown.get(), 0);
    EXPECT_EQ(scheduler.pendingCount(), 0u);
    EXPECT_EQ(controller->status.get(), "📲 已向 13800000000 请求短信验证码…") << "no text: status unchanged";

    controller->requestSmsCode("13800000000");
    EXPECT_EQ(sentOfType("sms_code_req").size(), 2u);
    deliver({{"type", "err"}, {"err", {{"message", "号码未注册"}}}, {"message", "outer"}});
    EXPECT_EQ(controller->status.get(), "服务器: 号码未注册");
    EXPECT_EQ(controller->smsCooldown.get(), 0);

    controller->requestSmsCode("13800000000");
    scheduler.advance(10s);
    deliver({{"type", "sms_code_resp"}});
    deliver({{"type", "error"}, {"msg", "later"}});
    EXPECT_EQ(controller->smsCooldown.get(), 50) << "an error after the reply leaves the countdown running";
    EXPECT_EQ(controller->status.get(), "服务器: later");
}

TEST_F(ControllerTest, MessagesWithoutTheirOwnerAreDroppedQuietly)
{
    startOnline();
    log::Capture capture;
    auto status = controller->status.get();
    pasteboard.setText("mine");
    deliver({{"type", "clipboard_text"}, {"text", "replaced"}, {"from", "987654321"}});
    deliver({{"type", "clipboard_text"}, {"text", "replaced"}});
    EXPECT_EQ(pasteboard.text(), "mine") << "clipboard text from a stranger";
    deliver({{"type", "Call"}, {"from", "987654321"}});
    deliver({{"type", "input"}, {"kind", "mouse_move"}});
    deliver({{"type", "signal"}, {"kind", "ice"}});
    deliver({{"type", "fs_list_resp"}, {"entries", {{{"name", "a"}}, {{"name", "b"}}}}});
    deliver({{"type", "bye"}, {"from", "987654321"}, {"reason", "user_close"}});
    EXPECT_EQ(controller->status.get(), status);
    EXPECT_TRUE(capture.contains("Tavoro fs: ⚠ 收到 fs_list_resp 但文件窗未打开 (2 项)"));
    EXPECT_TRUE(capture.contains("Tavoro: 收到 bye from=987654321 reason=user_close (control=- host=-)"));
}

TEST_F(ControllerTest, PushMsgReachesTheChatWithTheSenderAndText)
{
    startOnline();
    deliver({{"type", "push_msg"}, {"from", "987654321"}, {"text", "你好 😀"}, {"display", "banner"}});
    deliver({{"type", "push_msg"}, {"from", "987654321"}});
    deliver({{"type", "push_msg"}, {"from", "987654321"}, {"text", 7}});
    const auto stored = controller->chat().conversations.get();
    ASSERT_EQ(stored.count("987654321"), 1u);
    ASSERT_EQ(stored.at("987654321").size(), 1u);
    EXPECT_EQ(stored.at("987654321")[0].text, "你好 😀");
    EXPECT_EQ(stored.at("987654321")[0].id.size(), 36u);
    EXPECT_TRUE(controller->chat().unread.get());
}

TEST_F(ControllerTest, TheControllerOutlivesNoneOfItsCallbacks)
{
    startOnline();
    auto task = connector->last();
    std::thread([&] { task->fireText(R"({"type":"error","message":"late"})"); }).join();
    controller.reset();
    EXPECT_GT(mainQueue.drain(), 0) << "the posted status write finds the controller gone and does nothing";
}

} // namespace
} // namespace tavoro::app
