#include "app/host_controller_fixture.h"
#include "ui/main_window.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

#include <functional>

#include <gmock/gmock.h>

namespace tavoro::app::test {
namespace {

using namespace std::chrono_literals;

class MainWindowTest : public HostingTest {
protected:
    template <typename Widget>
    Widget& child(const char* name)
    {
        auto* widget = window->findChild<Widget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return *widget;
    }

    // What the named widget shows: its text, and whether it is hidden, disabled or marked unread.
    std::string shown(const char* name)
    {
        auto* widget = window->findChild<QWidget*>(name);
        if (!widget) {
            return "<missing>";
        }
        QString text;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            text = label->text();
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            text = button->text();
        } else if (auto* field = qobject_cast<QLineEdit*>(widget)) {
            text = field->text();
        } else if (auto* choice = qobject_cast<QComboBox*>(widget)) {
            text = choice->currentText();
        }
        std::string out = text.toStdString();
        out += widget->isVisibleTo(window.get()) ? "" : " [hidden]";
        out += widget->isEnabled() ? "" : " [disabled]";
        out += widget->property("unread").toBool() ? " [marked]" : "";
        return out;
    }

    void showWindow()
    {
        controller = makeController();
        window = std::make_unique<ui::MainWindow>(*controller, &permissions);
        window->show(); // the first appearance starts the controller
    }
    void goOnline()
    {
        connector->last()->fireOpen();
        mainQueue.drain();
    }

    std::unique_ptr<ui::MainWindow> window;
};

TEST_F(MainWindowTest, ShowsTheIdentityAndPlacesTheCallTypedIn)
{
    showWindow();
    goOnline();

    EXPECT_EQ(shown("deviceId"), "123 456 789");
    EXPECT_EQ(shown("tempPassword"), "ab12");

    child<QLineEdit>("peer").setText("123456789");
    child<QLineEdit>("password").setText("secret");
    auto& mode = child<QComboBox>("mode");
    mode.setCurrentIndex(mode.findData("view"));
    child<QAbstractButton>("connect").click();

    auto calls = sentOfType("call");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]["to"], "123456789");
    EXPECT_EQ(calls[0]["password"], "secret");
    EXPECT_EQ(calls[0]["mode"], "view");
    EXPECT_EQ(shown("status"), controller->status.get());
}

TEST_F(MainWindowTest, FollowsTheControllersFields)
{
    struct Row {
        std::function<void()> change;
        const char* widget;
        std::string shows;
    };
    const std::vector<Row> rows{
        {[] {}, "badge", "连接中"},
        {[] {}, "hostBanner", " [hidden]"},
        {[] {}, "permissionBanner", " [hidden]"},
        {[] {}, "phoneBound", "已绑定： [hidden]"},
        {[this] { goOnline(); }, "badge", "在线"},
        {[] {}, "signalingStatus", "信令在线"},
        {[this] { controller->idMode.set(1); }, "deviceId", "123 456 789 [hidden]"},
        {[this] { controller->phoneAlias.set("13800138000"); }, "phone", "13800138000"},
        {[this] { controller->phoneId.set("13800138000"); }, "phoneBound", "已绑定：13800138000"},
        {[this] { controller->pwMode.set(2); }, "newPassword", " [disabled]"},
        {[this] { controller->pwMode.set(1); }, "refreshPassword", "刷新"},
        {[] {}, "newPassword", " [disabled]"},
        {[this] { controller->permission.set(1); }, "permission", "仅允许查看"},
        {[this] { controller->chat().receive(kCaller, "hi"); }, "chat", "💬 消息 [marked]"},
        {[this] { controller->chat().clearUnread(); }, "chat", "💬 消息"},
        {[this] {
             child<QLineEdit>("peer").setText("13800138000");
             child<QAbstractButton>("sendSms").click();
             mainQueue.drain();
         },
            "sendSms", "重发验证码（60） [disabled]"},
        {[this] { scheduler.advance(1s); }, "sendSms", "重发验证码（59） [disabled]"},
        {[this] { scheduler.advance(59s); }, "sendSms", "发送验证码"},
        {[this] { deliver(call(kCaller, {{"mode", "view"}})); }, "hostBanner", ""},
        {[] {}, "hostPeer", "name-222222222"},
        {[] {}, "hostStatus", "被控中 · name-222222222"},
        {[this] { controller->endHost(); }, "hostBanner", " [hidden]"},
        {[this] {
             permissions.input = false;
             window->hide();
             window->show(); // every appearance reads the permissions again
         },
            "permissionWarnings",
            "⚠ X 服务器缺少 XTEST 扩展，鼠标键盘将无法控制本机：\n请在 X 服务器上启用 XTEST 扩展（Xorg 与 Xvfb 默认开启）"},
        {[this] {
             permissions.input = true;
             child<QAbstractButton>("inputHelp").click(); // explains and checks again
         },
            "permissionBanner", " [hidden]"},
    };
    showWindow();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].change();
        mainQueue.drain();
        EXPECT_EQ(shown(rows[i].widget), rows[i].shows) << "row " << i << ": " << rows[i].widget;
    }
}

TEST_F(MainWindowTest, ActionsReachTheController)
{
    int chatsOpened = 0;
    struct Row {
        std::function<void()> act;
        std::function<std::string()> result;
        std::string expected;
    };
    const std::vector<Row> rows{
        {[this] { child<QAbstractButton>("idMode1").click(); },
            [this] { return std::to_string(controller->idMode.get()); }, "1"},
        {[this] {
             child<QLineEdit>("phone").setText("138 0013 8000");
             child<QAbstractButton>("bindPhone").click();
         },
            [this] { return controller->phoneAlias.get(); }, "13800138000"},
        {[this] { child<QAbstractButton>("pwMode2").click(); }, [this] { return settings.get("pw_mode")->dump(); },
            "2"},
        {[this] { child<QAbstractButton>("pwMode0").click(); }, [this] { return settings.get("pw_mode")->dump(); },
            "0"},
        {[this] {
             child<QLineEdit>("newPassword").setText("s3cret");
             child<QAbstractButton>("setPassword").click();
         },
            [this] { return controller->tempPassword.get() + "|" + shown("newPassword"); }, "s3cret|"},
        {[this] { child<QComboBox>("permission").setCurrentIndex(0); },
            [this] { return settings.get("perm")->dump(); }, "0"},
        {[this] {
             controller->pushPeerHistory("987654321");
             controller->pushPeerHistory("13800138000");
             mainQueue.drain();
             child<QMenu>("historyMenu").actions().at(1)->trigger();
         },
            [this] { return shown("peer"); }, "987654321"},
        {[this] { child<QAbstractButton>("chat").click(); }, [&] { return std::to_string(chatsOpened); }, "1"},
        {[this] { child<QAbstractButton>("about").click(); }, [this] { return shown("aboutVersion"); },
            "Tavoro v" + std::string(signaling::Signaling::kVersion)},
        {[this] {
             controller->setPermission(2);
             deliver(call(kCaller, {{"password", "s3cret"}}));
             child<QAbstractButton>("endHost").click();
             mainQueue.drain();
         },
            [this] {
                auto byes = sentOfType("bye");
                return byes.empty() ? "none" : byes.back()["to"].get<std::string>() + " " + shown("hostBanner");
            },
            kCaller + "  [hidden]"},
    };
    showWindow();
    goOnline();
    window->setOpenChat([&] { ++chatsOpened; });
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].act();
        mainQueue.drain();
        EXPECT_EQ(rows[i].result(), rows[i].expected) << "row " << i;
    }
}

} // namespace
} // namespace tavoro::app::test
