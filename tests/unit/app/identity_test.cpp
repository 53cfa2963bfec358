#include "app/identity.h"

#include "controller_fixture.h"
#include "platform/fake/sequence_random.h"

#include <gtest/gtest.h>

#include <set>

namespace tavoro::app {
namespace {

using test::ControllerTest;

TEST(IdentityRules, DeviceIdsAreNineDigitsWithoutLeadingZero)
{
    platform::fake::SequenceRandom zeros({0});
    EXPECT_EQ(makeDeviceId(zeros), "100000000");
    platform::SystemRandom random;
    for (int i = 0; i < 1000; ++i) {
        auto id = makeDeviceId(random);
        ASSERT_TRUE(isValidStoredDeviceId(id)) << id;
        ASSERT_NE(id[0], '0');
    }
    for (const auto* bad : {"12345678", "12345678a", "1234567890", "１２３４５６７８９"}) {
        EXPECT_FALSE(isValidStoredDeviceId(bad)) << bad;
    }
}

TEST(IdentityRules, DeviceKeysAreThirtyTwoBytesInUrlSafeBase64WithoutPadding)
{
    platform::fake::SequenceRandom bytes({0x00, 0x10, 0x83, 0xFB, 0xEF, 0xFF});
    EXPECT_EQ(makeDeviceKey(bytes), "ABCD--__ABCD--__ABCD--__ABCD--__ABCD--__ABA");
    for (const auto* bad : {"ABCD--__ABCD--__ABCD--__ABCD--__ABCD--__AB", "ABCD--__ABCD--__ABCD--__ABCD--__ABCD--__AB=",
             "ABCD++//ABCD--__ABCD--__ABCD--__ABCD--__ABA", ""}) {
        EXPECT_FALSE(isValidStoredDeviceKey(bad)) << bad;
    }
}

TEST(IdentityRules, FormattingAndTargets)
{
    EXPECT_EQ(formatId("12345678"), "12345678") << "only nine-digit IDs are grouped";
    for (const auto* good : {"123456789", "13800000000", "13800000000:2", ":"}) {
        EXPECT_TRUE(isValidTarget(good)) << good;
    }
    for (const auto* bad : {"12345678", "1234567890", "12345678a", ""}) {
        EXPECT_FALSE(isValidTarget(bad)) << bad;
    }
}

TEST(IdentityRules, PasswordsUseTheSixteenCharacterAlphabetEvenly)
{
    platform::SystemRandom random;
    std::map<char, int> seen;
    for (int i = 0; i < 4000; ++i) {
        auto password = makeTempPassword(random);
        ASSERT_EQ(password.size(), 4u);
        for (char c : password) {
            ASSERT_NE(std::string("0123456789abcdef").find(c), std::string::npos) << password;
            ++seen[c];
        }
    }
    ASSERT_EQ(seen.size(), 16u);
    for (auto [c, n] : seen) {
        EXPECT_GT(n, 700) << c; // 1000 expected per character
        EXPECT_LT(n, 1300) << c;
    }
}

TEST(IdentityRules, HistoryKeepsTwentyNewestWithoutDuplicates)
{
    std::vector<std::string> history;
    for (int i = 0; i < 25; ++i) {
        history = withPeerFirst(history, std::to_string(100000000 + i));
    }
    ASSERT_EQ(history.size(), 20u);
    EXPECT_EQ(history.front(), "100000024");
    EXPECT_EQ(history.back(), "100000005");
    history = withPeerFirst(history, "100000010");
    EXPECT_EQ(history.size(), 20u);
    EXPECT_EQ(history.front(), "100000010");
    EXPECT_EQ(std::set<std::string>(history.begin(), history.end()).size(), 20u);
}

TEST_F(ControllerTest, AnInvalidStoredIdIsReplacedAndStoredAfterACopyIsKeptAside)
{
    int copies = 0;
    for (const nlohmann::json& stored : {nlohmann::json("12345678"), nlohmann::json("12345678x"), nlohmann::json(123456789)}) {
        settings.set("device_id", stored);
        auto c = makeController();
        c->start();
        auto id = c->deviceId.get();
        EXPECT_TRUE(isValidStoredDeviceId(id)) << stored;
        EXPECT_EQ(settings.get("device_id"), nlohmann::json(id));
        EXPECT_EQ(settings.copiesAside(), ++copies) << stored;
    }
    settings.set("device_id", "987654321");
    auto c = makeController();
    c->start();
    EXPECT_EQ(c->deviceId.get(), "987654321");
    EXPECT_EQ(c->formattedId(), "987 654 321");
    c->copyId();
    EXPECT_EQ(pasteboard.text(), "987654321");
    EXPECT_EQ(c->status.get(), "已复制 ID 到剪贴板");
}

TEST_F(ControllerTest, TheDeviceKeyIsMadeOnceKeptAndSentInEveryHello)
{
    settings.set("device_key", std::string(42, 'k'));
    startOnline();
    const auto stored = settings.get("device_key");
    ASSERT_TRUE(stored && stored->is_string() && isValidStoredDeviceKey(stored->get<std::string>())) << "replaced";
    connector->last()->fireClose(1006);
    scheduler.advance(std::chrono::seconds(1));
    ASSERT_EQ(connector->count(), 2u);
    connector->last()->fireOpen();

    auto restarted = makeController();
    restarted->start();
    connector->last()->fireOpen();
    const auto hellos = sentOfType("hello");
    ASSERT_EQ(hellos.size(), 3u) << "start, reconnect, restart";
    for (const auto& hello : hellos) {
        EXPECT_EQ(hello["device_key"], *stored);
    }
    EXPECT_EQ(settings.get("device_key"), stored);
}

TEST_F(ControllerTest, SetPasswordTrimsAndIgnoresBlankOrUnchangedInput)
{
    controller = makeController();
    controller->start();
    controller->setPassword("  \tab12 \t");
    EXPECT_EQ(controller->tempPassword.get(), "ab12");
    EXPECT_EQ(settings.get("temp_pw"), nlohmann::json("ab12"));

    const int writes = settings.writes();
    controller->setPassword("   \t ");
    controller->setPassword("ab12");
    EXPECT_EQ(settings.writes(), writes);
    EXPECT_EQ(controller->tempPassword.get(), "ab12");

    controller->setPassword("x y\n");
    EXPECT_EQ(controller->tempPassword.get(), "x y\n") << "newlines are not trimmed";
}

TEST_F(ControllerTest, OneTimePasswordsAreNeverStoredNorReused)
{
    settings.set("temp_pw", "fixd");
    controller = makeController();
    controller->start();
    EXPECT_EQ(controller->tempPassword.get(), "fixd");

    controller->setPwMode(1);
    EXPECT_FALSE(settings.contains("temp_pw"));
    EXPECT_EQ(controller->status.get(), "🔐 密码方式：一次性密码（每次连接后自动更换）");
    auto oneTime = controller->tempPassword.get();
    controller->refreshPassword();
    EXPECT_FALSE(settings.contains("temp_pw"));

    std::set<std::string> shown;
    for (int run = 0; run < 5; ++run) {
        auto restarted = makeController();
        restarted->start();
        shown.insert(restarted->tempPassword.get());
        EXPECT_FALSE(settings.contains("temp_pw"));
    }
    EXPECT_GT(shown.size(), 1u) << "each run shows a fresh password";

    controller->setPwMode(0);
    EXPECT_EQ(settings.get("temp_pw"), nlohmann::json(controller->tempPassword.get()));
    EXPECT_EQ(controller->status.get(), "🔓 密码方式：固定密码");
}

TEST_F(ControllerTest, SmsModeNeedsABoundPhoneButIsStoredAnyway)
{
    controller = makeController();
    controller->start();
    controller->setPwMode(2);
    EXPECT_EQ(controller->status.get(), "短信验证码方式需先在「我的 ID」选「手机号」并绑定手机号");
    EXPECT_EQ(settings.get("pw_mode"), nlohmann::json(2));
    controller->bindPhone("13800000000");
    controller->setPwMode(2);
    EXPECT_EQ(controller->status.get(), "📲 密码方式：短信验证码（连接走 手机号 + 短信，无需密码）");
}

TEST_F(ControllerTest, PhoneInputIsCleanedCheckedAndRegistered)
{
    startOnline();
    controller->bindPhone("138-0000-0000");
    EXPECT_EQ(controller->phoneAlias.get(), "13800000000");
    EXPECT_EQ(controller->status.get(), "📱 正在绑定手机号 ID 13800000000 …");
    EXPECT_EQ(settings.get("phone_alias"), nlohmann::json("13800000000"));
    auto registers = sentOfType("register");
    ASSERT_EQ(registers.size(), 2u) << "the open's register and the refresh";
    EXPECT_EQ(registers[1]["phone"], "13800000000");
    EXPECT_EQ(registers[1]["sms_auth"], false);

    controller->bindPhone("13800000000");
    EXPECT_EQ(sentOfType("register").size(), 2u) << "the same alias again changes nothing";

    controller->bindPhone("1380000000");
    EXPECT_EQ(controller->status.get(), "请填 11 位手机号（同号多台可加 :数字 区分，如 13800000000:2）");
    EXPECT_EQ(controller->phoneAlias.get(), "13800000000");

    controller->bindPhone("13800000000:2");
    EXPECT_EQ(controller->phoneAlias.get(), "13800000000:2");
    controller->setPwMode(2);
    EXPECT_EQ(sentOfType("register").back()["sms_auth"], true);

    controller->bindPhone("");
    EXPECT_EQ(controller->phoneAlias.get(), "");
    EXPECT_EQ(controller->status.get(), "已取消手机号绑定");
    EXPECT_EQ(settings.get("phone_alias"), nlohmann::json(""));
    EXPECT_FALSE(sentOfType("register").back().contains("phone"));
}

TEST_F(ControllerTest, TheServersRegisterReplyConfirmsOrRefusesTheAlias)
{
    startOnline();
    controller->bindPhone("13800000000");
    deliver({{"type", "register"}, {"phone_dup", "13800000000"}, {"phone_id", "ignored"}});
    EXPECT_EQ(controller->phoneId.get(), "");
    EXPECT_EQ(controller->status.get(), "手机号 13800000000 已被占用，请加 :数字 区分（如 13800000000:2）");
    deliver({{"type", "register"}, {"phone_id", "13800000000"}});
    EXPECT_EQ(controller->phoneId.get(), "13800000000");
    EXPECT_EQ(controller->status.get(), "手机号已绑定：13800000000");
    deliver({{"type", "register"}});
    EXPECT_EQ(controller->status.get(), "手机号已绑定：13800000000");
}

TEST_F(ControllerTest, BackToTheNineDigitIdUnbindsThePhone)
{
    settings.set("phone_alias", "13800000000");
    controller = makeController();
    EXPECT_EQ(controller->idMode.get(), 1);
    controller->start();
    controller->setIdMode(0);
    EXPECT_EQ(controller->phoneAlias.get(), "");
    EXPECT_EQ(settings.get("phone_alias"), nlohmann::json(""));
    EXPECT_EQ(controller->status.get(), "已切回 9 位 ID");
    controller->setIdMode(1);
    EXPECT_EQ(controller->idMode.get(), 1);
    EXPECT_EQ(controller->status.get(), "已切回 9 位 ID");
}

TEST_F(ControllerTest, SettingsAreReadLenientlyAtConstruction)
{
    settings.set("perm", 1.9);
    settings.set("pw_mode", "2");
    settings.set("peer_history", nlohmann::json::array({"123456789", 5, "13800000000"}));
    controller = makeController();
    EXPECT_EQ(controller->permission.get(), 1);
    EXPECT_EQ(controller->pwMode.get(), 0);
    EXPECT_EQ(controller->recentPeers.get(), (std::vector<std::string>{"123456789", "13800000000"}));
    EXPECT_EQ(controller->status.get(), "连接中…");

    controller->setPermission(0);
    EXPECT_EQ(settings.get("perm"), nlohmann::json(0));
    controller->pushPeerHistory("13800000000");
    EXPECT_EQ(settings.get("peer_history"), nlohmann::json::array({"13800000000", "123456789"}));
}

TEST_F(ControllerTest, CallIdsAreWallClockMilliseconds)
{
    controller = makeController();
    EXPECT_EQ(controller->newCallId(), "1765000000123");
}

} // namespace
} // namespace tavoro::app
