#include "host_controller_fixture.h"

#include "core/log.h"

namespace tavoro::app {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;

using test::HostingTest;
using test::kCaller;

TEST_F(HostingTest, RefusalsComeInTheirOrder)
{
    struct Row {
        int permission;
        int pwMode;
        json fields;
        std::string answer;
    };
    const std::vector<Row> rows{
        {0, 0, {{"sms_verified", true}}, "对方已拒绝所有连接"},
        {2, 2, json::object(), "对方使用短信验证码连接，请用手机号 + 验证码"},
        {2, 2, {{"sms_verified", true}, {"password", ""}}, "accepted"},
        {2, 0, {{"password", "AB12"}}, "accepted"},
        {2, 0, {{"password", "ab12 "}}, "密码错误"},
        {2, 0, {{"password", "wrong"}, {"sms_verified", true}}, "accepted"},
        {1, 0, json::object(), "对方仅允许查看"},
        {1, 0, {{"mode", "file"}}, "对方仅允许查看"},
        {1, 0, {{"mode", "view"}}, "accepted"},
    };
    startOnline();
    for (const auto& row : rows) {
        controller->setPermission(row.permission);
        controller->setPwMode(row.pwMode);
        deliver(call(kCaller, row.fields));
        EXPECT_EQ(answersTo(kCaller).back(), row.answer) << row.fields.dump();
        controller->endHost();
        mainQueue.drain();
    }
    deliver(call("12345678"));
    EXPECT_TRUE(answersTo("12345678").empty()) << "a malformed caller gets no answer";
}

TEST_F(HostingTest, RepeatedWrongPasswordsLockPasswordCallsOut)
{
    log::Capture logged;
    startOnline();
    for (int i = 0; i < 5; ++i) {
        deliver(call(kCaller, {{"password", "guess" + std::to_string(i)}}));
    }
    EXPECT_EQ(logged.count("Tavoro: 密码连续错误 5 次"), 1u);
    deliver(call(kCaller));
    EXPECT_EQ(answersTo(kCaller).back(), "密码错误") << "even the right password, while locked out";
    deliver(call("333333333", {{"sms_verified", true}}));
    EXPECT_EQ(answersTo("333333333").back(), "accepted");
    controller->endHost();

    clock->advance(5min);
    deliver(call(kCaller));
    EXPECT_EQ(answersTo(kCaller).back(), "accepted");
}

TEST_F(HostingTest, CallersShareTheSessionUntilTheLastOneLeaves)
{
    startOnline();
    deliver(call(kCaller));
    ASSERT_TRUE(controller->host.get());
    EXPECT_EQ(controller->status.get(), "被 name-222222222 控制中");
    EXPECT_EQ(controller->hostPeerName.get(), "name-222222222");

    for (const std::string viewer : {"333333333", "444444444", "555555555"}) {
        deliver(call(viewer, {{"mode", "view"}}));
    }
    EXPECT_EQ(controller->status.get(), "被 4 个控制端连接中");
    deliver(call("666666666"));
    EXPECT_EQ(answersTo("666666666").back(), "too_many_controllers");

    // Only controllers may set the clipboard.
    deliver({{"type", "clipboard_text"}, {"text", "from a viewer"}, {"from", "333333333"}});
    deliver({{"type", "clipboard_text"}, {"text", "from a stranger"}, {"from", "999999999"}});
    EXPECT_EQ(pasteboard.text(), "from a viewer");

    deliver({{"type", "bye"}, {"from", "444444444"}, {"reason", "user_close"}});
    deliver({{"type", "bye"}, {"from", kCaller}, {"reason", "user_close"}});
    EXPECT_EQ(controller->status.get(), "被 333333333 控制中");
    deliver({{"type", "bye"}, {"from", "333333333"}, {"reason", "user_close"}});
    deliver({{"type", "bye"}, {"from", "555555555"}, {"reason", "user_close"}});
    EXPECT_FALSE(controller->host.get());
    EXPECT_EQ(controller->status.get(), "在线 · ID 123456789 · 密码 ab12");
}

TEST_F(HostingTest, SecondCallFromThePrimaryReplacesTheSession)
{
    startOnline();
    deliver(call(kCaller));
    const auto first = controller->host.get();
    deliver(call("333333333", {{"mode", "view"}}));
    deliver(call(kCaller, {{"call_id", "again"}}));
    EXPECT_TRUE(first->closed());
    EXPECT_NE(controller->host.get(), first);
    const auto byes = sentOfType("bye");
    ASSERT_EQ(byes.size(), 1u) << "the old session's viewer is told, the primary is not";
    EXPECT_EQ(byes[0]["to"], "333333333");
    EXPECT_EQ(byes[0]["reason"], "host_close");
}

TEST_F(HostingTest, QuickCallsLeaveNoSessionRunningUnseen)
{
    startOnline();
    // Both calls are admitted before the main thread publishes anything.
    std::thread([&] {
        connector->last()->fireText(call(kCaller).dump());
        connector->last()->fireText(call(kCaller, {{"call_id", "again"}}).dump());
    }).join();
    mainQueue.drain();
    const auto shown = controller->host.get();
    ASSERT_TRUE(shown);
    EXPECT_FALSE(shown->closed());
    EXPECT_EQ(source.liveStreams(), 1) << "the replaced session stopped capturing";
    controller->endHost();
    EXPECT_TRUE(shown->closed());
    EXPECT_EQ(source.liveStreams(), 0);
}

TEST_F(HostingTest, LosingTheServerEndsTheSessionAndRenewsAOneTimePassword)
{
    startOnline();
    controller->setPwMode(1);
    const auto password = controller->tempPassword.get();
    deliver(call(kCaller, {{"password", password}}));
    ASSERT_TRUE(controller->host.get());
    std::thread([&] { connector->last()->fireClose(1006); }).join();
    mainQueue.drain();
    EXPECT_FALSE(controller->host.get());
    EXPECT_NE(controller->tempPassword.get(), password);
    EXPECT_EQ(controller->status.get(), "连接断开，正在重连…");
}

} // namespace
} // namespace tavoro::app
